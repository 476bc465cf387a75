#pragma once
// A failing comparison of texts and days shows them as such, not as bytes of an object.
#include <QDate>
#include <QDateTime>
#include <QString>

#include <ostream>

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }
inline void PrintTo(const QDate& d, std::ostream* os) { *os << d.toString(Qt::ISODate).toStdString(); }
inline void PrintTo(const QDateTime& t, std::ostream* os) { *os << t.toString(Qt::ISODateWithMs).toStdString(); }
QT_END_NAMESPACE
