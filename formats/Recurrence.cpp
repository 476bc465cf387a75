#include "formats/Recurrence.h"

#include <libical/ical.h>

#include <algorithm>
#include <memory>

namespace kestrel {

namespace {

icaltimetype clockTime(const QDate& d, const QTime& t)
{
    icaltimetype at = icaltime_null_time();
    at.year = d.year();
    at.month = d.month();
    at.day = d.day();
    const QTime clock = t.isValid() ? t : QTime(0, 0);
    at.hour = clock.hour();
    at.minute = clock.minute();
    at.second = clock.second();
    at.is_date = 0;
    return at; // floating: no zone
}

QDate dayOf(const icaltimetype& t) { return QDate(t.year, t.month, t.day); }

struct Iterator {
    icalrecur_iterator* it = nullptr;
    ~Iterator()
    {
        if (it)
            icalrecur_iterator_free(it);
    }
};

// The rule read, or nullopt-like FREQ none when it cannot be.
bool readRule(const QString& rrule, icalrecurrencetype* rule)
{
    const QByteArray text = rrule.trimmed().toUtf8();
    if (text.isEmpty())
        return false;
    icalerror_clear_errno();
    *rule = icalrecurrencetype_from_string(text.constData());
    const bool ok = rule->freq != ICAL_NO_RECURRENCE && icalerrno == ICAL_NO_ERROR;
    // Until a day means through that day, whatever time the appointment begins.
    if (ok && !icaltime_is_null_time(rule->until) && rule->until.is_date) {
        rule->until.is_date = 0;
        rule->until.hour = 23;
        rule->until.minute = 59;
        rule->until.second = 59;
    }
    icalerror_clear_errno();
    return ok;
}

} // namespace

bool ruleReadable(const QString& rrule)
{
    icalrecurrencetype rule;
    return readRule(rrule, &rule);
}

std::vector<QDate> occurrenceDays(const QString& rrule, const QDate& start, const QTime& time, const QDate& from,
                                  const QDate& to, const std::vector<QDate>& except)
{
    std::vector<QDate> days;
    icalrecurrencetype rule;
    if (!start.isValid() || from > to || !readRule(rrule, &rule))
        return days;
    Iterator i;
    i.it = icalrecur_iterator_new(rule, clockTime(start, time));
    if (!i.it)
        return days;
    // Without a count the iterator may begin at the first day asked for instead of walking
    // every occurrence since the first; with one it must count them all (at most 1,000).
    if (rule.count == 0 && from > start)
        icalrecur_iterator_set_start(i.it, clockTime(from, QTime(0, 0)));
    for (icaltimetype t = icalrecur_iterator_next(i.it); !icaltime_is_null_time(t); t = icalrecur_iterator_next(i.it)) {
        const QDate d = dayOf(t);
        if (!d.isValid() || d > to)
            break;
        if (d >= from && d >= start && std::find(except.begin(), except.end(), d) == except.end())
            days.push_back(d);
    }
    return days;
}

QString RuleRefusal(const QString& rrule, const QDate& start, const QTime& time)
{
    icalrecurrencetype rule;
    if (!readRule(rrule, &rule))
        return QStringLiteral("Kestrel cannot read how this appointment repeats (%1).").arg(rrule.trimmed());
    if (rule.count > kMostOccurrences)
        return QStringLiteral("An appointment may repeat at most %1 times; this one says %2.").arg(kMostOccurrences).arg(rule.count);
    if (!icaltime_is_null_time(rule.until) && dayOf(rule.until) < start)
        return QStringLiteral("The last day it repeats (%1) is before the day it begins (%2).")
            .arg(dayOf(rule.until).toString(QStringLiteral("M/d/yyyy")), start.toString(QStringLiteral("M/d/yyyy")));
    // A rule must give the first day at least once in the next years (Feb 29 yearly waits four).
    if (occurrenceDays(rrule, start, time, start, start.addYears(8)).empty())
        return QStringLiteral("This way of repeating gives no day at all on or after %1.").arg(start.toString(QStringLiteral("M/d/yyyy")));
    return {};
}

} // namespace kestrel
