#include "formats/RepeatRule.h"

#include "formats/Recurrence.h"

#include <QDateTime>
#include <QStringList>

#include <algorithm>

namespace kestrel {

namespace {

const char* const kDays[] = {"MO", "TU", "WE", "TH", "FR", "SA", "SU"};

QStringList partsOf(const QString& rrule) { return rrule.trimmed().toUpper().split(u';', Qt::SkipEmptyParts); }

QString valueOf(const QStringList& parts, const QString& name)
{
    for (const QString& p : parts)
        if (p.startsWith(name + u'='))
            return p.mid(name.size() + 1);
    return {};
}

QStringList without(const QStringList& parts, std::initializer_list<const char*> names)
{
    QStringList kept;
    for (const QString& p : parts) {
        bool drop = false;
        for (const char* n : names)
            drop = drop || p.startsWith(QString::fromLatin1(n) + u'=');
        if (!drop)
            kept << p;
    }
    return kept;
}

QString untilText(const QDate& d) { return d.toString(QStringLiteral("yyyyMMdd")); }

} // namespace

int WeekdayOrdinal(const QDate& d)
{
    // The fifth of a month is always its last.
    const int n = (d.day() - 1) / 7 + 1;
    return n >= 5 ? -1 : n;
}

QString RuleText(const RepeatChoice& c, const QDate& start)
{
    using K = RepeatChoice::Kind;
    if (c.kind == K::Never)
        return {};
    if (c.kind == K::AsStored)
        return c.stored;
    QStringList parts;
    switch (c.kind) {
    case K::Daily: parts << QStringLiteral("FREQ=DAILY"); break;
    case K::Weekly: {
        parts << QStringLiteral("FREQ=WEEKLY");
        QStringList days;
        for (int i = 0; i < 7; ++i)
            if (c.weekdays[size_t(i)])
                days << QString::fromLatin1(kDays[i]);
        if (!days.isEmpty())
            parts << QStringLiteral("BYDAY=") + days.join(u',');
        break;
    }
    case K::MonthlyDay: parts << QStringLiteral("FREQ=MONTHLY") << QStringLiteral("BYMONTHDAY=%1").arg(start.day()); break;
    case K::MonthlyWeekday:
        parts << QStringLiteral("FREQ=MONTHLY")
              << QStringLiteral("BYDAY=%1%2").arg(WeekdayOrdinal(start)).arg(QString::fromLatin1(kDays[start.dayOfWeek() - 1]));
        break;
    case K::Yearly: parts << QStringLiteral("FREQ=YEARLY"); break;
    default: break;
    }
    if (c.every > 1)
        parts << QStringLiteral("INTERVAL=%1").arg(c.every);
    if (c.end == RepeatChoice::End::Until)
        parts << QStringLiteral("UNTIL=") + untilText(c.until);
    else if (c.end == RepeatChoice::End::Count)
        parts << QStringLiteral("COUNT=%1").arg(c.count);
    return parts.join(u';');
}

RepeatChoice ReadRepeat(const QString& rrule, const QDate& start)
{
    RepeatChoice c;
    if (rrule.trimmed().isEmpty())
        return c;
    c.stored = rrule.trimmed();
    const QStringList parts = partsOf(rrule);
    const QString freq = valueOf(parts, QStringLiteral("FREQ"));
    const QString byday = valueOf(parts, QStringLiteral("BYDAY"));
    const QString bymonthday = valueOf(parts, QStringLiteral("BYMONTHDAY"));
    using K = RepeatChoice::Kind;
    c.kind = K::AsStored;
    if (freq == u"DAILY" && byday.isEmpty() && bymonthday.isEmpty())
        c.kind = K::Daily;
    else if (freq == u"WEEKLY" && bymonthday.isEmpty()) {
        c.kind = K::Weekly;
        const QStringList days = byday.isEmpty() ? QStringList{QString::fromLatin1(kDays[start.dayOfWeek() - 1])} : byday.split(u',');
        for (const QString& d : days) {
            const int i = int(std::find_if(std::begin(kDays), std::end(kDays), [&d](const char* k) { return d == QLatin1String(k); }) -
                              std::begin(kDays));
            if (i >= 7) {
                c.kind = K::AsStored;
                break;
            }
            c.weekdays[size_t(i)] = true;
        }
    } else if (freq == u"MONTHLY" && byday.isEmpty() && (bymonthday.isEmpty() || bymonthday.toInt() == start.day()))
        c.kind = K::MonthlyDay;
    else if (freq == u"MONTHLY" && bymonthday.isEmpty() &&
             byday == QStringLiteral("%1%2").arg(WeekdayOrdinal(start)).arg(QString::fromLatin1(kDays[start.dayOfWeek() - 1])))
        c.kind = K::MonthlyWeekday;
    else if (freq == u"YEARLY" && byday.isEmpty() && bymonthday.isEmpty() && valueOf(parts, QStringLiteral("BYMONTH")).isEmpty())
        c.kind = K::Yearly;
    // Parts the controls have no place for keep the rule as it was stored.
    for (const QString& p : without(parts, {"FREQ", "BYDAY", "BYMONTHDAY", "INTERVAL", "UNTIL", "COUNT", "WKST"}))
        if (!p.isEmpty())
            c.kind = K::AsStored;
    const QString every = valueOf(parts, QStringLiteral("INTERVAL"));
    c.every = every.isEmpty() ? 1 : std::max(1, every.toInt());
    if (const QString until = valueOf(parts, QStringLiteral("UNTIL")); !until.isEmpty()) {
        c.end = RepeatChoice::End::Until;
        c.until = QDate::fromString(until.left(8), QStringLiteral("yyyyMMdd"));
    } else if (const QString count = valueOf(parts, QStringLiteral("COUNT")); !count.isEmpty()) {
        c.end = RepeatChoice::End::Count;
        c.count = count.toInt();
    }
    return c;
}

QString RepeatRefusal(const RepeatChoice& c, const QDate& start, const QTime& time)
{
    using K = RepeatChoice::Kind;
    if (c.kind == K::Never)
        return {};
    if (c.kind == K::Weekly && std::none_of(c.weekdays.begin(), c.weekdays.end(), [](bool b) { return b; }))
        return QStringLiteral("Choose at least one day of the week it repeats on.");
    if (c.kind != K::AsStored && c.every < 1)
        return QStringLiteral("\"Every\" must be a whole number of 1 or more.");
    if (c.end == RepeatChoice::End::Until && !c.until.isValid())
        return QStringLiteral("The day it repeats until must be a day of the calendar, typed as month/day/year "
                              "(for example 3/7/2027).");
    if (c.end == RepeatChoice::End::Count && c.count < 1)
        return QStringLiteral("\"Times\" must be a whole number from 1 to %1.").arg(kMostOccurrences);
    return RuleRefusal(RuleText(c, start), start, time);
}

QString RuleEndedBefore(const QString& rrule, const QDate& day)
{
    return (without(partsOf(rrule), {"UNTIL", "COUNT"}) << QStringLiteral("UNTIL=") + untilText(day.addDays(-1))).join(u';');
}

QString RuleGoingOnFrom(const QString& rrule, const QDate& start, const QTime& time, const QDate& day)
{
    const QStringList parts = partsOf(rrule);
    const QString count = valueOf(parts, QStringLiteral("COUNT"));
    if (count.isEmpty())
        return parts.join(u';');
    const int used = int(occurrenceDays(rrule, start, time, start, day.addDays(-1)).size());
    return (without(parts, {"COUNT"}) << QStringLiteral("COUNT=%1").arg(std::max(1, count.toInt() - used))).join(u';');
}

namespace {

int dayIndex(QStringView code)
{
    const auto* it = std::find_if(std::begin(kDays), std::end(kDays), [&](const char* k) { return code == QLatin1String(k); });
    return it == std::end(kDays) ? -1 : int(it - std::begin(kDays));
}

QString weekdaysMoved(const QString& byday, int days)
{
    std::array<bool, 7> on{};
    for (const QString& d : byday.split(u',')) {
        const int i = dayIndex(d);
        if (i < 0)
            return byday; // a weekday with a number before it is not one the editor writes
        on[size_t((i + days % 7 + 7) % 7)] = true;
    }
    QStringList moved;
    for (int i = 0; i < 7; ++i)
        if (on[size_t(i)])
            moved << QString::fromLatin1(kDays[i]);
    return moved.join(u',');
}

// Which of its weekdays in its month d is, counted from the end when the rule counted so.
int ordinalOf(const QDate& d, bool fromEnd) { return fromEnd ? -((d.daysInMonth() - d.day()) / 7 + 1) : WeekdayOrdinal(d); }

QString untilMoved(const QString& until, int days, qint64 seconds)
{
    if (until.size() == 8) {
        const QDate d = QDate::fromString(until, QStringLiteral("yyyyMMdd"));
        return d.isValid() ? untilText(d.addDays(days)) : until;
    }
    // A clock time, compared as such with the series' own (a Z included): moved on the clock, never
    // through a zone, so a change of the clocks between cannot bend it.
    const bool utc = until.endsWith(u'Z');
    QDateTime at = QDateTime::fromString(until.left(15), QStringLiteral("yyyyMMdd'T'HHmmss"));
    if (!at.isValid())
        return until;
    at.setTimeSpec(Qt::UTC);
    return at.addSecs(seconds).toString(QStringLiteral("yyyyMMdd'T'HHmmss")) + (utc ? QStringLiteral("Z") : QString());
}

} // namespace

QString RuleMovedBy(const QString& rrule, const QDate& from, const QTime& time, int days, qint64 seconds)
{
    if (days == 0 && seconds == 0)
        return rrule;
    QStringList parts = partsOf(rrule);
    const QString freq = valueOf(parts, QStringLiteral("FREQ"));
    const QString byday = valueOf(parts, QStringLiteral("BYDAY"));
    const QString bymonthday = valueOf(parts, QStringLiteral("BYMONTHDAY"));
    const QString bymonth = valueOf(parts, QStringLiteral("BYMONTH"));
    const QString bysetpos = valueOf(parts, QStringLiteral("BYSETPOS"));
    const auto set = [&parts](const QString& name, const QString& value) {
        for (QString& p : parts)
            if (p.startsWith(name + u'='))
                p = name + u'=' + value;
    };
    // Plain weekdays (every Tuesday of the week, or of the month) move as the days do.
    const bool plainWeekdays = !byday.isEmpty() && bysetpos.isEmpty() && dayIndex(byday.left(2)) >= 0;
    if (plainWeekdays)
        set(QStringLiteral("BYDAY"), weekdaysMoved(byday, days));
    // A monthly or yearly rule names its day; where the first of its days goes, the rule follows.
    const bool byMonth = freq == u"MONTHLY" || (freq == u"YEARLY" && !bymonth.isEmpty());
    const std::vector<QDate> first = byMonth && days != 0 ? occurrenceDays(rrule, from, time, from, from.addYears(8)) : std::vector<QDate>{};
    if (!first.empty() && !bymonth.contains(u',') && !bymonthday.contains(u',') && !byday.contains(u',') &&
        !bysetpos.contains(u',')) {
        const QDate to = first.front().addDays(days);
        if (!bymonth.isEmpty())
            set(QStringLiteral("BYMONTH"), QString::number(to.month()));
        if (!bymonthday.isEmpty()) {
            // The last days of a month counted from its end stay so counted.
            const int d = bymonthday.toInt() < 0 ? to.day() - to.daysInMonth() - 1 : to.day();
            set(QStringLiteral("BYMONTHDAY"), QString::number(d));
        }
        const QString weekday = QString::fromLatin1(kDays[to.dayOfWeek() - 1]);
        if (!bysetpos.isEmpty() && dayIndex(byday) >= 0) {
            set(QStringLiteral("BYDAY"), weekday);
            set(QStringLiteral("BYSETPOS"), QString::number(ordinalOf(to, bysetpos.toInt() < 0)));
        } else if (byday.size() > 2 && dayIndex(byday.right(2)) >= 0) {
            set(QStringLiteral("BYDAY"), QString::number(ordinalOf(to, byday.startsWith(u'-'))) + weekday);
        }
    }
    const QString until = valueOf(parts, QStringLiteral("UNTIL"));
    if (!until.isEmpty())
        set(QStringLiteral("UNTIL"), untilMoved(until, days, seconds));
    return parts.join(u';');
}

} // namespace kestrel
