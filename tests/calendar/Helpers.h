#pragma once
// Small helpers shared by the calendar tests.
#include "app/Ui.h"

#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QString>

#include <gtest/gtest.h>

#include <ostream>

QT_BEGIN_NAMESPACE
// Readable failure messages for texts.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }
QT_END_NAMESPACE

namespace kestrel::test {

inline QRect twipRect(int l, int t, int w, int h) { return QRect(px(l), px(t), px(w), px(h)); }

inline QStringList lines(const QListWidget* list)
{
    QStringList out;
    for (int i = 0; i < list->count(); ++i)
        out << list->item(i)->text();
    return out;
}

inline QList<int> values(const QListWidget* list)
{
    QList<int> out;
    for (int i = 0; i < list->count(); ++i)
        out << list->item(i)->data(Qt::UserRole).toInt();
    return out;
}

// Replaces a database file with bytes that are no database, so every opening of it fails.
inline void spoilDatabase(const QString& programDir, const QString& file)
{
    QDir().mkpath(programDir + QStringLiteral("/data"));
    QFile f(programDir + QStringLiteral("/data/") + file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(QByteArray(8192, '\x5a'));
}

} // namespace kestrel::test
