// The command line answers --help and --version on a terminal without any display.
#include <QProcess>
#include <QProcessEnvironment>

#include <gtest/gtest.h>

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
