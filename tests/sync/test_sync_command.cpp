// kestrel --sync as a timer or a script runs it: the real program, without a window, set up by
// the environment alone, against the suite's CardDAV/CalDAV server.
#include "tests/sync/SyncTest.h"

#include "data/Office.h"
#include "data/SyncStore.h"

#include <QDir>
#include <QHostAddress>
#include <QTcpServer>

namespace kestrel::test {
namespace {

class SyncCommand : public SyncTest {
protected:
    struct Run {
        int code = -1;
        QString out, err;
    };
    // The program copied into the test's program folder, so that its data is the test's own.
    Run kestrelSync(const QString& url)
    {
        const QString exe = dir.filePath(QStringLiteral("kestrel"));
        if (!QFile::exists(exe)) {
            EXPECT_TRUE(QFile::copy(QStringLiteral(KESTREL_EXE), exe));
        }
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), dir.path());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
        // No desktop session: no keyring to ask.
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("unix:path=/nonexistent"));
        env.insert(QStringLiteral("KESTREL_SYNC_URL"), url);
        env.insert(QStringLiteral("KESTREL_SYNC_USER"), user);
        env.insert(QStringLiteral("KESTREL_SYNC_PASSWORD"), QString());
        if (onServer())
            env.insert(QLatin1String(kOfficeVariable), testServer() + QStringLiteral(" dbname=") + serverDb);
        else
            env.remove(QLatin1String(kOfficeVariable));
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(exe, {QStringLiteral("--sync")});
        EXPECT_TRUE(p.waitForFinished(120000));
        return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromUtf8(p.readAllStandardOutput()),
                QString::fromUtf8(p.readAllStandardError())};
    }
};

TEST_F(SyncCommand, OneSyncFromATimerThenAPlainMessageWhenTheServerIsGone)
{
    // The first address book and calendar the server has are taken (the test's own).
    addContact(QStringLiteral("Lee"), QStringLiteral("Ann"));
    phone({"put", book.path() + "phone-1.vcf", "FILE", "*"}, true,
          "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:phone-1\r\nFN:Bo Ng\r\nN:Ng;Bo;;;\r\nEND:VCARD\r\n");
    Run r = kestrelSync(server);
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.startsWith(QStringLiteral("Synced with "))) << r.out.toStdString();
    EXPECT_EQ(rows(sConnContacts, "select lastname,uid from contacts where lastname='Ng'"),
              (std::vector<QStringList>{{"Ng", "phone-1"}}));
    EXPECT_EQ(listed(book).size(), 2);

    // Again from the timer: nothing had changed.
    r = kestrelSync(server);
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("nothing had changed"))) << r.out.toStdString();

    // A server that is not there: a plain message, not 0, nothing lost.
    QTcpServer closed;
    closed.listen(QHostAddress::LocalHost, 0);
    const QString gone = QStringLiteral("http://127.0.0.1:%1/").arg(closed.serverPort());
    closed.close();
    r = kestrelSync(gone);
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.startsWith(QStringLiteral("Not synced: Kestrel could not reach the sync server"))) << r.err.toStdString();
    EXPECT_FALSE(r.err.contains(QStringLiteral("report"), Qt::CaseInsensitive)) << r.err.toStdString();
    EXPECT_EQ(rows(sConnContacts, "select count(*) from contacts")[0][0], "2");
}

} // namespace
} // namespace kestrel::test
