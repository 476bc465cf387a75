#pragma once
// The sync tests' world: the test's own data (a local file, or a database on the test server), a
// Radicale server the suite started (scripts/dav-server.sh) with a user and an address book and a
// calendar of the test's own, and a phone: an independent client (Python's requests and vobject)
// that changes the server between Kestrel's syncs.
#include "tests/support/Fixture.h"

#include "data/Globals.h"
#include "platform/Keyring.h"
#include "sync/DavClient.h"
#include "sync/Discovery.h"
#include "sync/SyncRunner.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryFile>

#include <unistd.h>

namespace kestrel::test {

// A keyring that is not there, or one that keeps what it is given.
class TestKeyring final : public Keyring {
public:
    bool runs = false;
    QHash<QString, QString> kept;
    KeyringAnswer read(const QString& name) override
    {
        if (!runs)
            return {KeyringStatus::NoKeyring, {}, {}};
        return kept.contains(name) ? KeyringAnswer{KeyringStatus::Done, kept[name], {}} : KeyringAnswer{KeyringStatus::NotFound, {}, {}};
    }
    KeyringAnswer write(const QString& name, const QString& secret) override
    {
        if (!runs)
            return {KeyringStatus::NoKeyring, {}, {}};
        kept[name] = secret;
        return {KeyringStatus::Done, {}, {}};
    }
    KeyringAnswer remove(const QString& name) override
    {
        kept.remove(name);
        return {runs ? KeyringStatus::Done : KeyringStatus::NoKeyring, {}, {}};
    }
};

inline QString davState(const char* file)
{
    const QString dir = qEnvironmentVariable("KESTREL_TEST_DAV_DIR", QStringLiteral(TEST_DAV_DIR));
    QFile f(dir + u'/' + QLatin1String(file));
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()).trimmed() : QString();
}

class SyncTest : public KestrelTest {
protected:
    void SetUp() override
    {
        KestrelTest::SetUp();
        if (HasFatalFailure() || IsSkipped())
            return;
        setKeyring(&keys);
        server = davState("url");
        if (server.isEmpty()) {
            const QString why = davState("unavailable");
            GTEST_SKIP() << "no CardDAV test server: "
                         << (why.isEmpty() ? std::string("scripts/dav-server.sh has not started one") : why.toStdString());
        }
        python = QFile::exists(QStringLiteral("/usr/bin/python3")) ? QStringLiteral("/usr/bin/python3") : QStringLiteral("python3");
        static int made = 0;
        user = QStringLiteral("u%1x%2").arg(::getpid()).arg(++made);
        dav::Client client(user, QString());
        const sync::Discovery d = sync::discover(client, QUrl(server));
        ASSERT_EQ(int(d.outcome), int(sync::Outcome::Synced)) << d.detail.toStdString();
        const sync::Made b = sync::makeCollection(client, d.addressBookHome, SyncKind::Contacts, QStringLiteral("Kestrel"));
        const sync::Made c = sync::makeCollection(client, d.calendarHome, SyncKind::Appointments, QStringLiteral("Kestrel"));
        ASSERT_EQ(int(b.outcome), int(sync::Outcome::Synced)) << b.detail.toStdString();
        ASSERT_EQ(int(c.outcome), int(sync::Outcome::Synced)) << c.detail.toStdString();
        book = b.found.url;
        calendar = c.found.url;
    }
    void TearDown() override
    {
        setKeyring(nullptr);
        KestrelTest::TearDown();
    }

    sync::Job job(const QString& connection = {}) const
    {
        sync::Job j;
        j.connectionText = connection.isEmpty() ? sConnContacts : connection;
        j.server = QUrl(server);
        j.user = user;
        j.addressBook = book;
        j.calendar = calendar;
        j.zone = QTimeZone("America/New_York");
        return j;
    }
    sync::Report sync(const std::vector<sync::Decision>& decisions = {}, const QString& connection = {})
    {
        sync::Job j = job(connection);
        j.decisions = decisions;
        return sync::SyncRunner::runToEnd(j);
    }

    // The phone: tests/sync/phone.py with the arguments; its standard output.
    QString phone(const QStringList& args, bool mustSucceed = true, const QByteArray& file = {})
    {
        QStringList all{QStringLiteral(PHONE_SCRIPT), server, user, QString()};
        QTemporaryFile body;
        QStringList rest = args;
        if (!file.isNull()) {
            body.open();
            body.write(file);
            body.flush();
            rest.replace(rest.indexOf(QStringLiteral("FILE")), body.fileName());
        }
        QProcess p;
        p.start(python, all + rest);
        p.waitForFinished(60000);
        const QString out = QString::fromUtf8(p.readAllStandardOutput());
        if (mustSucceed && p.exitCode() != 0)
            ADD_FAILURE() << "phone " << args.join(u' ').toStdString() << ": " << p.readAllStandardError().toStdString();
        return out;
    }
    // The hrefs and ETags of a collection, as the phone lists them.
    QMap<QString, QString> listed(const QUrl& collection)
    {
        QMap<QString, QString> out;
        for (const QString& line : phone({QStringLiteral("list"), collection.path()}).split(u'\n', Qt::SkipEmptyParts))
            out.insert(line.section(u'\t', 0, 0), line.section(u'\t', 1));
        return out;
    }
    QString field(const QString& href, const char* property)
    {
        return phone({QStringLiteral("field"), href, QLatin1String(property)});
    }

    TestKeyring keys;
    QString server, user, python;
    QUrl book, calendar;
};

} // namespace kestrel::test
