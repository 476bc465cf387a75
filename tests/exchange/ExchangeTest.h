#pragma once
// Helpers shared by the import and export tests: files written byte for byte, read back whole.
#include "tests/support/Fixture.h"

#include <QByteArray>
#include <QFile>

namespace kestrel::test {

inline QString writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        ADD_FAILURE() << "cannot write " << path.toStdString();
    f.write(bytes);
    return path;
}

inline QByteArray readFile(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        ADD_FAILURE() << "cannot read " << path.toStdString();
    return f.readAll();
}

} // namespace kestrel::test
