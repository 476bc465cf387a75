// Starts of the built program: a second start on the same data folder hands over to the running
// Kestrel and leaves; --help and --version answer on a terminal without any display.
#include "app/SingleInstance.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using kestrel::SingleInstance;

TEST(SingleInstance, OneNamePerCanonicalDataFolder)
{
    QTemporaryDir tmp;
    ASSERT_TRUE(QDir(tmp.path()).mkpath(QStringLiteral("a/data")) && QDir(tmp.path()).mkpath(QStringLiteral("b/data")));
    ASSERT_TRUE(QFile::link(tmp.filePath(QStringLiteral("a")), tmp.filePath(QStringLiteral("link"))));
    const QString a = SingleInstance::serverName(tmp.filePath(QStringLiteral("a/data")));
    EXPECT_EQ(SingleInstance::serverName(tmp.filePath(QStringLiteral("b/../a/data/"))), a);
    EXPECT_EQ(SingleInstance::serverName(tmp.filePath(QStringLiteral("link/data"))), a);
    EXPECT_NE(SingleInstance::serverName(tmp.filePath(QStringLiteral("b/data"))), a);
}

// Real starts of the built program, beside a data folder this test already runs on.
TEST(SingleInstance, SecondStartHandsOverUnlessANewWindowIsAsked)
{
    QTemporaryDir tmp;
    const QString exe = tmp.filePath(QStringLiteral("kestrel"));
    ASSERT_TRUE(QFile::copy(QStringLiteral(KESTREL_EXE), exe));
    SingleInstance first(tmp.filePath(QStringLiteral("data")));
    ASSERT_EQ(first.claim(), SingleInstance::Outcome::First);
    QSignalSpy raised(&first, &SingleInstance::raiseRequested);

    struct Case { QStringList args; bool handsOver; };
    for (const Case& c : {Case{{}, true}, Case{{QStringLiteral("--new-window")}, false}}) {
        SCOPED_TRACE(c.args.join(u' ').toStdString());
        raised.clear();
        QProcess second;
        second.start(exe, c.args);
        ASSERT_TRUE(second.waitForStarted());
        if (c.handsOver) {
            EXPECT_TRUE(raised.wait(10000));
            EXPECT_TRUE(second.waitForFinished(10000));
            EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
            EXPECT_EQ(second.exitCode(), 0);
        } else {
            // A window of its own: still running while the first hears nothing.
            EXPECT_FALSE(second.waitForFinished(2000)) << second.readAllStandardError().toStdString();
            EXPECT_EQ(raised.count(), 0);
            second.kill();
            second.waitForFinished();
        }
    }
}

TEST(CommandLine, HelpAndVersionPrintAndEndWithoutADisplay)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QString::fromLatin1(name));
    const struct {
        const char* arg;
        const char* says;
    } cases[] = {{"--help", "--copy-to-office"}, {"-h", "--new-window"}, {"--version", "Kestrel 1.0.0"}, {"-v", "1.0.0"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arg);
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(KESTREL_EXE), {QString::fromLatin1(c.arg)});
        ASSERT_TRUE(p.waitForFinished(20000));
        const QString out = QString::fromLocal8Bit(p.readAllStandardOutput());
        EXPECT_EQ(p.exitStatus(), QProcess::NormalExit) << p.readAllStandardError().constData();
        EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().constData();
        EXPECT_TRUE(out.contains(QString::fromLatin1(c.says))) << out.toStdString();
    }
}
