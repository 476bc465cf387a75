#pragma once
// Every test runs in a program folder of its own, with the scripted desktop installed. When the
// environment names a test server (KESTREL_TEST_SERVER: a libpq connection string, or
// KESTREL_TEST_SERVER_FILE: a file holding one), contacts, appointments and the to-do list live
// in a database of the test's own on that server instead, made before and dropped after it.
#include "tests/support/ScriptedPlatform.h"

#include <QTemporaryDir>
#include <QVariant>

#include <gtest/gtest.h>

namespace kestrel::test {

class KestrelTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    QString dataPath(const QString& file) const { return dir.path() + QStringLiteral("/data/") + file; }
    // True when this run keeps contacts and the to-do list on the test server.
    bool onServer() const { return !serverDb.isEmpty(); }
    // The test server's connection string (without a database), or empty.
    static QString testServer();
    // The member of the office's group every server run works as.
    static constexpr char kMemberRole[] = "kestrel_tester";
    // The test's database as role (default: the member) and as the server's superuser.
    QString memberConninfo(const QString& role = QString()) const;
    QString adminConninfo() const;
    // A colleague in the office's group and a role outside it, both able to log in, named after tag
    // and the test's database; dropped when the test ends, whatever it asserted. The outsider may
    // connect to the test's database only when let in.
    void makeOfficeRoles(const QString& tag, bool letOutsiderIn);
    QString colleague, outsider;

    // What the server said when it refused sql, typed straight at it by role (or on the connection
    // conninfo) as psql sends it; empty when it took it.
    QString refusal(const QString& role, const QString& sql) const { return refusalAt(memberConninfo(role), sql); }
    static QString refusalAt(const QString& conninfo, const QString& sql);

    // Runs statements of the program's dialect; fails the test on error.
    void exec(const QString& connection, const QString& statement);
    // The contacts database with the rights of the tables' owner: the local file, or on the
    // server its administrator (a member may not drop or alter a table).
    QString ownerConnection() const;
    // Rows of a query, each cell as text ("<null>" for null).
    std::vector<QStringList> rows(const QString& connection, const QString& statement);
    // Adds a contact and returns its id.
    int addContact(const QString& last, const QString& first, const QString& type = QStringLiteral("Lead"),
                   const QString& address = {});
    // Adds an appointment and returns its autoid.
    int addAppt(const QDate& date, const QTime& time, const QString& brief, const QString& name = QStringLiteral("Ann Lee"),
                const QString& where = QStringLiteral("Main office"));

    QTemporaryDir dir;
    ScriptedPlatform desk;
    QString serverDb; // the test's own database on the test server
};

} // namespace kestrel::test
