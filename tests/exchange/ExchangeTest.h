#pragma once
// Helpers shared by the import and export tests: an independent reader to read exports with.
#include "tests/support/Files.h"
#include "tests/support/Fixture.h"

#include <QByteArray>
#include <QProcess>

namespace kestrel::test {

// A Python interpreter that has the module, for reading exports back with an independent reader;
// empty when none has (the test then skips and says why). Debian's own comes first: another on
// the path may lack the distribution's packages.
inline QString pythonWith(const char* module)
{
    for (const QString& python : {QStringLiteral("/usr/bin/python3"), QStringLiteral("python3")}) {
        QProcess p;
        p.start(python, {QStringLiteral("-c"), QStringLiteral("import ") + QLatin1String(module)});
        if (p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0)
            return python;
    }
    return {};
}

// Runs a Python program with the arguments; its standard output, or the test fails.
inline QByteArray runPython(const QString& python, const char* program, const QStringList& args)
{
    QProcess p;
    p.start(python, QStringList{QStringLiteral("-c"), QString::fromUtf8(program)} + args);
    EXPECT_TRUE(p.waitForFinished(60000) && p.exitCode() == 0) << p.readAllStandardError().toStdString();
    return p.readAllStandardOutput();
}

} // namespace kestrel::test
