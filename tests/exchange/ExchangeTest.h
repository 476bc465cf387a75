#pragma once
// Helpers shared by the import and export tests: files written byte for byte, read back whole.
#include "tests/support/Fixture.h"

#include <QByteArray>
#include <QFile>

namespace kestrel::test {

inline QString writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size()) << path.toStdString();
    return path;
}

inline QByteArray readFile(const QString& path)
{
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << path.toStdString();
    return f.readAll();
}

} // namespace kestrel::test
