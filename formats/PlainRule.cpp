#include "formats/PlainRule.h"

#include <algorithm>
#include <utility>

namespace kestrel {

namespace {

constexpr char16_t kDayCodes[7][3] = {u"MO", u"TU", u"WE", u"TH", u"FR", u"SA", u"SU"};

// 1 (Monday) … 7, or 0.
int dayCode(QStringView s)
{
    for (int i = 0; i < 7; ++i)
        if (s == QStringView(kDayCodes[i]))
            return i + 1;
    return 0;
}

// Plain digits from 1 to most, nothing else.
bool number(QStringView s, int most, int* out)
{
    if (s.isEmpty() || s.size() > 7)
        return false;
    int n = 0;
    for (QChar c : s) {
        if (c < u'0' || c > u'9')
            return false;
        n = n * 10 + (c.unicode() - u'0');
    }
    if (n < 1 || n > most)
        return false;
    *out = n;
    return true;
}

int digits(QStringView s, qsizetype at, qsizetype n)
{
    int v = 0;
    for (qsizetype i = at; i < at + n; ++i) {
        if (s[i] < u'0' || s[i] > u'9')
            return -1;
        v = v * 10 + (s[i].unicode() - u'0');
    }
    return v;
}

// yyyyMMdd (through that day), or yyyyMMddThhmmss with or without a Z (read as clock time, as
// libical compares it with a series that has no zone).
bool untilValue(QStringView s, PlainRule& r)
{
    if (s.size() != 8 && s.size() != 15 && s.size() != 16)
        return false;
    r.untilDay = QDate(digits(s, 0, 4), digits(s, 4, 2), digits(s, 6, 2));
    if (s.size() == 8) {
        r.untilTime = QTime(23, 59, 59);
    } else {
        if (s[8] != u'T' || (s.size() == 16 && s[15] != u'Z'))
            return false;
        r.untilTime = QTime(digits(s, 9, 2), digits(s, 11, 2), digits(s, 13, 2));
    }
    return r.untilDay.isValid() && r.untilTime.isValid();
}

bool weekdaysValue(QStringView s, PlainRule& r)
{
    for (QStringView code : s.tokenize(u',')) {
        const int d = dayCode(code);
        if (d == 0 || r.weekdays[size_t(d - 1)])
            return false;
        r.weekdays[size_t(d - 1)] = true;
    }
    return true;
}

// One weekday of the month: "2TU", "-1FR", "+3MO".
bool nthWeekdayValue(QStringView s, PlainRule& r)
{
    const bool negative = s.startsWith(u'-');
    if (negative || s.startsWith(u'+'))
        s = s.mid(1);
    if (s.size() != 3 || s[0] < u'1' || s[0] > u'5')
        return false;
    r.nth = (s[0].unicode() - u'0') * (negative ? -1 : 1);
    r.nthWeekday = dayCode(s.mid(1));
    return r.nthWeekday != 0;
}

QDate dayOfMonth(const PlainRule& r, const QDate& first, const QDate& start)
{
    const int length = first.daysInMonth();
    int day = r.monthDay ? r.monthDay : start.day();
    if (r.nth > 0)
        day = 1 + (r.nthWeekday - first.dayOfWeek() + 7) % 7 + (r.nth - 1) * 7;
    else if (r.nth < 0)
        day = length - (first.addDays(length - 1).dayOfWeek() - r.nthWeekday + 7) % 7 + (r.nth + 1) * 7;
    return day >= 1 && day <= length ? QDate(first.year(), first.month(), day) : QDate();
}

} // namespace

std::optional<PlainRule> plainRule(QStringView text)
{
    PlainRule r;
    QStringView byday, bymonthday;
    bool freq = false, interval = false, count = false, until = false, wkst = false, hasByday = false, hasBymonthday = false;
    const auto once = [](bool& seen) { return !std::exchange(seen, true); };
    for (QStringView part : text.trimmed().tokenize(u';')) {
        const qsizetype eq = part.indexOf(u'=');
        if (eq <= 0)
            return std::nullopt;
        const QStringView name = part.left(eq), value = part.mid(eq + 1);
        bool ok = false;
        if (name == u"FREQ" && once(freq)) {
            static const std::pair<const char16_t*, PlainRule::Freq> kinds[] = {{u"DAILY", PlainRule::Freq::Daily},
                                                                                {u"WEEKLY", PlainRule::Freq::Weekly},
                                                                                {u"MONTHLY", PlainRule::Freq::Monthly},
                                                                                {u"YEARLY", PlainRule::Freq::Yearly}};
            for (const auto& [word, kind] : kinds)
                if (value == QStringView(word)) {
                    r.freq = kind;
                    ok = true;
                }
        } else if (name == u"INTERVAL" && once(interval))
            ok = number(value, 1000, &r.interval);
        else if (name == u"COUNT" && once(count))
            ok = number(value, 1000000, &r.count);
        else if (name == u"UNTIL" && once(until))
            ok = untilValue(value, r);
        else if (name == u"WKST" && once(wkst)) // libical counts weeks from other days its own way
            ok = (r.weekStart = dayCode(value)) == 1 || r.weekStart == 7;
        else if (name == u"BYDAY" && once(hasByday))
            ok = !(byday = value).isEmpty();
        else if (name == u"BYMONTHDAY" && once(hasBymonthday))
            ok = number(value, 31, &r.monthDay);
        if (!ok)
            return std::nullopt;
    }
    using F = PlainRule::Freq;
    if (!freq || (count && until) || (hasByday && hasBymonthday))
        return std::nullopt;
    if (hasBymonthday && r.freq != F::Monthly)
        return std::nullopt;
    if (hasByday && !(r.freq == F::Weekly ? weekdaysValue(byday, r) : r.freq == F::Monthly && nthWeekdayValue(byday, r)))
        return std::nullopt;
    return r;
}

std::vector<QDate> plainRuleDays(const PlainRule& r, const QDate& start, const QTime& time, const QDate& from,
                                 const QDate& to)
{
    std::vector<QDate> days;
    if (!start.isValid() || !from.isValid() || !to.isValid() || from > to)
        return days;
    // The last day the series reaches: an until at a clock time before the appointment's ends it
    // the day before.
    QDate last = to;
    if (r.untilDay.isValid())
        last = std::min(last, (time.isValid() ? time : QTime(0, 0)) > r.untilTime ? r.untilDay.addDays(-1) : r.untilDay);
    if (last < start || last < from)
        return days;
    // A count is of every day from the first, so those must be walked; without one the walk
    // begins at the stretch (day, week, month, year) that holds from.
    const bool counted = r.count > 0;
    const QDate walkFrom = counted ? start : std::max(start, from);
    int used = 0;
    const auto take = [&](const QDate& d) {
        if (d < start)
            return true;
        if (d > last || (counted && ++used > r.count))
            return false;
        if (d >= from)
            days.push_back(d);
        return true;
    };
    const qint64 every = r.interval;
    switch (r.freq) {
    case PlainRule::Freq::Daily:
        for (QDate d = start.addDays(start.daysTo(walkFrom) / every * every); take(d); d = d.addDays(every)) {
        }
        break;
    case PlainRule::Freq::Weekly: {
        std::array<bool, 7> on = r.weekdays;
        if (std::none_of(on.begin(), on.end(), [](bool b) { return b; }))
            on[size_t(start.dayOfWeek() - 1)] = true;
        const QDate firstWeek = start.addDays(-((start.dayOfWeek() - r.weekStart + 7) % 7));
        for (qint64 p = firstWeek.daysTo(walkFrom) / (7 * every);; ++p) {
            const QDate week = firstWeek.addDays(p * 7 * every);
            if (week > last)
                break;
            for (int i = 0; i < 7; ++i) {
                const QDate d = week.addDays(i);
                if (on[size_t(d.dayOfWeek() - 1)] && !take(d))
                    return days;
            }
        }
        break;
    }
    case PlainRule::Freq::Monthly: {
        const int firstMonth = start.year() * 12 + start.month() - 1;
        for (int p = (walkFrom.year() * 12 + walkFrom.month() - 1 - firstMonth) / r.interval;; ++p) {
            const int m = firstMonth + p * r.interval;
            const QDate first(m / 12, m % 12 + 1, 1);
            if (first > last)
                break;
            const QDate d = dayOfMonth(r, first, start);
            if (d.isValid() && !take(d))
                return days;
        }
        break;
    }
    case PlainRule::Freq::Yearly:
        for (int p = (walkFrom.year() - start.year()) / r.interval;; ++p) {
            const int y = start.year() + p * r.interval;
            if (QDate(y, 1, 1) > last)
                break;
            const QDate d(y, start.month(), start.day()); // February 29 only in leap years
            if (d.isValid() && !take(d))
                return days;
        }
        break;
    }
    return days;
}

} // namespace kestrel
