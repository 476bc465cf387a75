#include "data/ApptSpan.h"

#include "data/modData.h"

#include <QStringList>

#include <utility>

namespace kestrel {

ApptEnd defaultEnd(const QDate& date, const QTime& time)
{
    const int start = time.isValid() ? time.msecsSinceStartOfDay() / 1000 : 0;
    const int end = start + kDefaultApptMinutes * 60;
    return {end >= 86400 ? date.addDays(1) : date, QTime(0, 0).addSecs(end % 86400)};
}

ApptEnd storedEnd(const QDate& date, const QTime& time, const QVariant& enddate, const QVariant& endtime)
{
    const QTime t = endtime.typeId() == QMetaType::QTime ? endtime.toTime() : QTime();
    if (!t.isValid())
        return defaultEnd(date, time);
    const QDate d = enddate.typeId() == QMetaType::QDate ? enddate.toDate() : QDate();
    return {d.isValid() ? d : date, t};
}

QDate endDateColumn(const QDate& date, const ApptEnd& end) { return end.date == date ? QDate() : end.date; }

bool hasOwnLength(const QDate& date, const QTime& time, const ApptEnd& end)
{
    const ApptEnd usual = defaultEnd(date, time);
    return usual.date != end.date || usual.time != end.time;
}

QString SpanText(const QDate& date, const QTime& time, const ApptEnd& end)
{
    const QString from = time.isValid() ? TimeText(time) : QString();
    if (end.date == date || !end.date.isValid())
        return from + QStringLiteral(" - ") + TimeText(end.time);
    return from + QStringLiteral(" - ") + DateText(end.date) + u' ' + TimeText(end.time);
}

QString EndRefusal(const QDate& date, const QTime& time, const ApptEnd& end)
{
    if (!end.date.isValid() || !end.time.isValid())
        return QStringLiteral("The end must be a day of the calendar and a time of day, for example 3/7/2027 and 10:30 AM.");
    if (std::pair(end.date, end.time) < std::pair(date, time.isValid() ? time : QTime(0, 0)))
        return QStringLiteral("The appointment cannot end before it begins: it begins on %1 at %2, and Until says %3 at %4.")
            .arg(DateText(date), TimeText(time), DateText(end.date), TimeText(end.time));
    return {};
}

std::vector<QDate> exceptDays(const QString& column)
{
    std::vector<QDate> days;
    for (const QString& part : column.split(u',', Qt::SkipEmptyParts))
        if (const QDate d = QDate::fromString(part.trimmed(), Qt::ISODate); d.isValid())
            days.push_back(d);
    return days;
}

QString exceptColumn(const std::vector<QDate>& days)
{
    QStringList parts;
    for (const QDate& d : days)
        parts << d.toString(Qt::ISODate);
    return parts.join(u',');
}

} // namespace kestrel
