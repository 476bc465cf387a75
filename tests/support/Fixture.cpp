#include "tests/support/Fixture.h"

#include "data/Database.h"
#include "data/Globals.h"
#include "data/Office.h"
#include "data/PgEngine.h"
#include "data/modData.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <unistd.h>

namespace kestrel::test {

QString KestrelTest::testServer()
{
    QString info = qEnvironmentVariable("KESTREL_TEST_SERVER");
    const QString file = qEnvironmentVariable("KESTREL_TEST_SERVER_FILE");
    if (info.isEmpty() && !file.isEmpty()) {
        QFile f(file);
        if (f.open(QIODevice::ReadOnly))
            info = QString::fromUtf8(f.readAll()).trimmed();
    }
    return info;
}

void KestrelTest::SetUp()
{
    ASSERT_TRUE(dir.isValid());
    setProgramDir(dir.path());
    buildConnectionTexts();
    setPlatform(&desk);
    lLeadID = 0;
    const bool serverRun = qEnvironmentVariableIsSet("KESTREL_TEST_SERVER") || qEnvironmentVariableIsSet("KESTREL_TEST_SERVER_FILE");
    if (!serverRun)
        return;
    const QString server = testServer();
    if (server.isEmpty()) {
        QFile why(QFileInfo(qEnvironmentVariable("KESTREL_TEST_SERVER_FILE")).dir().filePath(QStringLiteral("unavailable")));
        const QString reason = why.open(QIODevice::ReadOnly) ? QString::fromUtf8(why.readAll()).trimmed()
                                                             : QStringLiteral("the test server did not start");
        GTEST_SKIP() << "no PostgreSQL test server: " << reason.toStdString();
    }
    static int made = 0;
    const QString name = QStringLiteral("kestrel_test_%1_%2").arg(::getpid()).arg(++made);
    try {
        pg::runMaintenance(server + QStringLiteral(" dbname=postgres"), QStringLiteral("CREATE DATABASE ") + name);
    } catch (const DbError& e) {
        FAIL() << "could not make the test database: " << e.what();
    }
    serverDb = name;
    // Set up as the office's administrator would, then used as an ordinary salesperson: a member
    // of the office's group, nothing more.
    try {
        const OfficeSetUp done = setUpOfficeDatabase(server + QStringLiteral(" dbname=") + name);
        ASSERT_TRUE(done.refused.isEmpty()) << done.refused.toStdString();
        pg::runMaintenance(server + QStringLiteral(" dbname=postgres"),
                           QStringLiteral("DO $$BEGIN IF NOT EXISTS (SELECT 1 FROM pg_roles WHERE rolname = '%1') THEN "
                                          "CREATE ROLE %1 LOGIN IN ROLE kestrel_office; END IF; EXCEPTION WHEN "
                                          "duplicate_object OR unique_violation THEN NULL; END$$")
                               .arg(kMemberRole));
    } catch (const DbError& e) {
        FAIL() << "could not set up the test database: " << e.what();
    }
    sConnContacts = serverConnectionText(memberConninfo());
    sConnMain = sConnContacts;
}

QString KestrelTest::memberConninfo(const QString& role) const
{
    return testServer() + QStringLiteral(" dbname=%1 user=%2").arg(serverDb, role.isEmpty() ? QString::fromLatin1(kMemberRole) : role);
}

QString KestrelTest::ownerConnection() const
{
    return onServer() ? serverConnectionText(adminConninfo()) : sConnContacts;
}

QString KestrelTest::adminConninfo() const { return testServer() + QStringLiteral(" dbname=") + serverDb; }

void KestrelTest::makeOfficeRoles(const QString& tag, bool letOutsiderIn)
{
    colleague = QStringLiteral("kestrel_%1_%2").arg(tag, serverDb);
    outsider = QStringLiteral("kestrel_%1out_%2").arg(tag, serverDb);
    pg::runMaintenance(testServer() + QStringLiteral(" dbname=postgres"),
                       QStringLiteral("CREATE ROLE %1 LOGIN IN ROLE kestrel_office; CREATE ROLE %2 LOGIN").arg(colleague, outsider));
    if (letOutsiderIn)
        pg::runMaintenance(adminConninfo(), QStringLiteral("GRANT CONNECT ON DATABASE %1 TO %2").arg(serverDb, outsider));
}

QString KestrelTest::refusalAt(const QString& conninfo, const QString& sql)
{
    try {
        pg::runMaintenance(conninfo, sql);
        return {};
    } catch (const DbError& e) {
        return e.description().isEmpty() ? QStringLiteral("refused") : e.description();
    }
}

void KestrelTest::TearDown()
{
    desk.verifyAllUsed();
    setPlatform(nullptr);
    releaseAllDatabaseFiles();
    if (onServer()) {
        try {
            pg::runMaintenance(testServer() + QStringLiteral(" dbname=postgres"),
                               QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(serverDb));
            // Their rights went with the database.
            if (!colleague.isEmpty())
                pg::runMaintenance(testServer() + QStringLiteral(" dbname=postgres"),
                                   QStringLiteral("DROP ROLE IF EXISTS %1; DROP ROLE IF EXISTS %2").arg(colleague, outsider));
        } catch (const DbError& e) {
            ADD_FAILURE() << "could not drop the test database or its roles: " << e.what();
        }
        serverDb.clear();
        colleague.clear();
    }
}

void KestrelTest::exec(const QString& connection, const QString& statement)
{
    try {
        Connection c(connection);
        c.execute(statement);
    } catch (const DbError& e) {
        ADD_FAILURE() << "exec failed: " << e.what() << " in " << statement.toStdString();
    }
}

std::vector<QStringList> KestrelTest::rows(const QString& connection, const QString& statement)
{
    std::vector<QStringList> out;
    try {
        Connection c(connection);
        Snapshot s(c, statement);
        for (; !s.eof(); s.moveNext()) {
            QStringList row;
            for (int i = 0; i < s.fieldCount(); ++i) {
                const QVariant v = s.field(i);
                row << (v.isNull() ? QStringLiteral("<null>") : variantText(v));
            }
            out.push_back(row);
        }
    } catch (const DbError& e) {
        ADD_FAILURE() << "query failed: " << e.what() << " in " << statement.toStdString();
    }
    return out;
}

int KestrelTest::addContact(const QString& last, const QString& first, const QString& type, const QString& address)
{
    exec(sConnContacts, QStringLiteral("INSERT into contacts(lastname,firstname,company,address,city,st,zip,homeph,"
                                       "cellph,workph,ext,email,active,contype)values('%1','%2','','%3','','','','',"
                                       "'','','','',True,'%4')")
                            .arg(Quoted(last), Quoted(first), Quoted(address), Quoted(type)));
    const auto r = rows(sConnContacts, QStringLiteral("select max(id) from contacts"));
    return r.empty() ? 0 : r[0][0].toInt();
}

int KestrelTest::addAppt(const QDate& date, const QTime& time, const QString& brief, const QString& name,
                         const QString& where)
{
    exec(sConnContacts, QStringLiteral("INSERT into appointments(name,address,apptdate,appttime,apptbrief,apptnotes)"
                                       "values('%1','%2',#%3#,#%4#,'%5','')")
                            .arg(Quoted(name), Quoted(where), DateText(date), TimeText(time), Quoted(brief)));
    const auto r = rows(sConnContacts, QStringLiteral("select max(autoid) from appointments"));
    return r.empty() ? 0 : r[0][0].toInt();
}

} // namespace kestrel::test
