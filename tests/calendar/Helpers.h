#pragma once
// Small helpers shared by the calendar tests.
#include <QDir>
#include <QFile>
#include <QString>

#include <gtest/gtest.h>

#include <ostream>

QT_BEGIN_NAMESPACE
// Readable failure messages for texts.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }
QT_END_NAMESPACE

namespace kestrel::test {

// Replaces a database file with bytes that are no database, so every opening of it fails.
inline void spoilDatabase(const QString& programDir, const QString& file)
{
    QDir().mkpath(programDir + QStringLiteral("/data"));
    QFile f(programDir + QStringLiteral("/data/") + file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QByteArray junk(8192, '\0');
    for (int i = 0; i < junk.size(); ++i)
        junk[i] = char((i * 7919) % 251);
    f.write(junk);
}

} // namespace kestrel::test
