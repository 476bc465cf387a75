#include "formats/ICalendar.h"

#include "data/ApptSpan.h"
#include "data/WallClock.h"
#include "data/modData.h"
#include "formats/Recurrence.h"

#include <QElapsedTimer>

#include <libical/ical.h>

#include <QSet>

#include <algorithm>
#include <map>
#include <memory>
#include <set>
#include <tuple>

namespace kestrel {

namespace {

struct ComponentDeleter {
    void operator()(icalcomponent* c) const { icalcomponent_free(c); }
};
using Component = std::unique_ptr<icalcomponent, ComponentDeleter>;

QString text(const char* s) { return s ? QString::fromUtf8(s) : QString(); }

QString nameOf(icalproperty* p)
{
    if (!p)
        return {};
    QString cn = text(icalproperty_get_parameter_as_string(p, "CN")).trimmed();
    if (cn.isEmpty()) {
        cn = text(icalproperty_get_value_as_string(p)).trimmed();
        if (cn.startsWith(QStringLiteral("mailto:"), Qt::CaseInsensitive))
            cn = cn.mid(7);
    }
    return cn;
}

QString timeWords(const QTime& t) { return TimeText(t); }

// The occurrence at t (seconds since the epoch; for floating times, the wall clock read as UTC)
// as a date and a half hour in the user's zone.
void place(AppointmentRecord& a, qint64 t, bool floating, bool allDay, const QTimeZone& zone, qint64 length = -1)
{
    const QDateTime when = floating ? QDateTime::fromSecsSinceEpoch(t, Qt::UTC) : QDateTime::fromSecsSinceEpoch(t, zone);
    if (allDay) {
        // Whole days from the first to the day before the end (a date value's end is exclusive).
        a.date = when.date();
        a.time = QTime(0, 0);
        a.allDay = true;
        const qint64 days = length > 0 ? (length + 86399) / 86400 : 1;
        a.endDate = a.date.addDays(std::max<qint64>(days, 1) - 1);
        a.endTime = {};
        return;
    }
    const QTime exact = when.time();
    const int seconds = exact.msecsSinceStartOfDay() / 1000;
    const int halfHours = (seconds + 15 * 60) / (30 * 60); // nearest half hour, a quarter past rounding up
    // Rounded on the clock, never by adding seconds to midnight: a day on which the clocks change
    // has 23 or 25 hours.
    a.date = halfHours == 48 ? when.date().addDays(1) : when.date();
    a.time = QTime(0, 0).addSecs(halfHours % 48 * 30 * 60);
    if (seconds % (30 * 60) != 0)
        a.problems += QStringLiteral("time %1 rounded to %2").arg(exact.toString(QStringLiteral("h:mm:ss AP")),
                                                                   timeWords(a.time));
    if (length < 0)
        return;
    // The end as the clock in the zone shows it, to the minute; a start rounded past it keeps the length.
    const qint64 endAt = t + length;
    const QDateTime end =
        floating ? QDateTime::fromSecsSinceEpoch(endAt, Qt::UTC) : QDateTime::fromSecsSinceEpoch(endAt, zone);
    const QDateTime begins(a.date, a.time, Qt::UTC);
    QDateTime endClock(end.date(), QTime(end.time().hour(), end.time().minute()), Qt::UTC);
    if (endClock < begins)
        endClock = begins.addSecs(length / 60 * 60);
    a.endDate = endClock.date();
    a.endTime = endClock.time();
}

QString cut(const QString& value, int size, const QString& what, QStringList& problems)
{
    if (value.size() <= size)
        return value;
    const QString kept = LeftChars(value, size);
    problems += QStringLiteral("%1 cut to %2 characters, left out: %3").arg(what).arg(size).arg(value.mid(kept.size()));
    return kept;
}

QString instanceKey(const QString& uid, qint64 utcStart)
{
    return uid + QStringLiteral("/") +
           QDateTime::fromSecsSinceEpoch(utcStart, Qt::UTC).toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'"));
}

struct EventFacts {
    AppointmentRecord base;
    bool floating = false;
    bool allDay = false;
    qint64 length = -1; // seconds from start to end; -1 when the event gives none
};

qint64 momentOf(const icaltimetype& t);

EventFacts factsOf(icalcomponent* ev)
{
    EventFacts f;
    AppointmentRecord& a = f.base;
    a.uid = text(icalcomponent_get_uid(ev));
    a.brief = text(icalcomponent_get_summary(ev));
    a.address = text(icalcomponent_get_location(ev));
    a.notes = text(icalcomponent_get_description(ev));
    a.notes.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    a.name = nameOf(icalcomponent_get_first_property(ev, ICAL_ORGANIZER_PROPERTY));
    if (a.name.isEmpty())
        a.name = nameOf(icalcomponent_get_first_property(ev, ICAL_ATTENDEE_PROPERTY));
    // Our own exports carry the contact as the last line of the description.
    const qsizetype lastLine = a.notes.lastIndexOf(u'\n') + 1;
    if (a.notes.mid(lastLine).startsWith(QStringLiteral("Contact: "))) {
        const QString contact = a.notes.mid(lastLine + 9);
        if (a.name.isEmpty() || a.name == contact) {
            a.name = contact;
            a.notes.truncate(lastLine);
            if (a.notes.endsWith(QStringLiteral("\n\n")))
                a.notes.chop(2);
            else if (a.notes == QStringLiteral("\n"))
                a.notes.clear();
        }
    }
    if (a.name.isEmpty())
        a.problems += QStringLiteral("no organizer or attendee: name left empty");
    a.brief = cut(a.brief, kBriefSize, QStringLiteral("summary"), a.problems);
    a.address = cut(a.address, kWhereSize, QStringLiteral("location"), a.problems);
    a.name = cut(a.name, kNameSize, QStringLiteral("name"), a.problems);
    const icaltimetype start = icalcomponent_get_dtstart(ev);
    f.allDay = icaltime_is_date(start);
    f.floating = !start.zone && !icaltime_is_utc(start);
    if (icalcomponent_get_first_property(ev, ICAL_DTEND_PROPERTY)) {
        const icaltimetype end = icalcomponent_get_dtend(ev);
        if (!icaltime_is_null_time(end))
            f.length = std::max<qint64>(0, momentOf(end) - momentOf(start));
    } else if (icalproperty* p = icalcomponent_get_first_property(ev, ICAL_DURATION_PROPERTY)) {
        // Days and weeks are days of the calendar (a day the clocks change has 23 or 25 hours),
        // hours, minutes and seconds are exact.
        const icaldurationtype d = icalproperty_get_duration(p);
        icaldurationtype days = icaldurationtype_null_duration();
        days.days = d.days + 7 * d.weeks;
        const icaltimetype dayEnd = icaltime_add(start, days);
        const qint64 exact = qint64(d.hours) * 3600 + d.minutes * 60 + d.seconds;
        if (!d.is_neg)
            f.length = momentOf(dayEnd) - momentOf(start) + exact;
    }
    return f;
}

void collectEvents(icalcomponent* c, std::vector<icalcomponent*>& events)
{
    if (icalcomponent_isa(c) == ICAL_VEVENT_COMPONENT) {
        events.push_back(c);
        return;
    }
    for (icalcomponent* s = icalcomponent_get_first_component(c, ICAL_ANY_COMPONENT); s;
         s = icalcomponent_get_next_component(c, ICAL_ANY_COMPONENT))
        collectEvents(s, events);
}

// A time of property p of ev with the zone its TZID names. libical leaves the zone of
// RECURRENCE-ID and RDATE unresolved, so it is looked up as DTSTART's is: in the file's own
// VTIMEZONEs, then in the zone database.
icaltimetype withZone(icalcomponent* ev, icalproperty* p, icaltimetype t)
{
    const char* tzid = icalproperty_get_parameter_as_string(p, "TZID");
    if (!t.zone && !icaltime_is_utc(t) && tzid) {
        icaltimezone* zone = nullptr;
        for (icalcomponent* c = icalcomponent_get_parent(ev); c && !zone; c = icalcomponent_get_parent(c))
            zone = icalcomponent_get_timezone(c, tzid);
        if (!zone)
            zone = icaltimezone_get_builtin_timezone(tzid);
        if (zone)
            t = icaltime_set_timezone(&t, zone);
    }
    return t;
}

// The occurrence a changed event replaces.
icaltimetype recurrenceIdOf(icalcomponent* ev)
{
    icalproperty* p = icalcomponent_get_first_property(ev, ICAL_RECURRENCEID_PROPERTY);
    return p ? withZone(ev, p, icalproperty_get_recurrenceid(p)) : icaltime_null_time();
}

QDate dateOf(const icaltimetype& t) { return QDate(t.year, t.month, t.day); }

// The clock time's fields read as if in UTC (libical's own conversion gives up before 1902).
qint64 fieldSeconds(const icaltimetype& t)
{
    const qint64 clock = t.is_date ? 0 : qint64(t.hour) * 3600 + t.minute * 60 + t.second;
    return QDateTime(dateOf(t), QTime(0, 0), Qt::UTC).toSecsSinceEpoch() + clock;
}

// The moment a time of the file stands for. A time in a zone (described by the file or known to
// libical) is read by the rule of data/WallClock.h, as the alerts and the export read it, so a
// skipped or doubled clock time means the same moment everywhere; a floating time or a date gives
// its clock time read as if in UTC.
qint64 momentOf(const icaltimetype& t)
{
    const qint64 wall = fieldSeconds(t);
    if (t.is_date || !t.zone || icaltime_is_utc(t))
        return wall;
    auto* zone = const_cast<icaltimezone*>(t.zone);
    return wallClockToUtc(wall, [zone](qint64 utc) {
        icaltimetype u = icaltime_from_timet_with_zone(time_t(utc), 0, icaltimezone_get_utc_timezone());
        int daylight = 0;
        return icaltimezone_get_utc_offset_of_utc_time(zone, &u, &daylight);
    });
}

bool outsideYears(const QDate& d) { return !d.isValid() || d.year() < kFirstYear || d.year() > kLastYear; }

// Checking the rules of a file's series takes at most this long; the rest come in as single appointments.
constexpr qint64 kMaxRuleCheckMs = 3000;

bool hasAny(const short* list) { return list[0] != ICAL_RECURRENCE_ARRAY_MAX; }

// The day of the user's calendar a time of ev names (a date names its own day).
QDate localDay(icalcomponent* ev, icalproperty* p, icaltimetype t, const EventFacts& facts, const QTimeZone& zone)
{
    t = withZone(ev, p, t);
    if (!t.zone && !icaltime_is_utc(t) && !facts.floating && !t.is_date)
        t.zone = icalcomponent_get_dtstart(ev).zone;
    AppointmentRecord at;
    place(at, momentOf(t), facts.floating || t.is_date, t.is_date != 0, zone);
    return at.date;
}

// The rule of ev as Kestrel keeps it for the appointment a (its first day in the user's zone), in
// clock time: an until moment becomes the user's clock time then. Empty, with why set to a
// sentence, when Kestrel cannot follow it.
QString seriesRule(icalcomponent* ev, const AppointmentRecord& a, const EventFacts& facts, const QTimeZone& zone,
                   QString* why)
{
    icalproperty* p = icalcomponent_get_first_property(ev, ICAL_RRULE_PROPERTY);
    if (!p || icalcomponent_get_next_property(ev, ICAL_RRULE_PROPERTY) ||
        icalcomponent_get_first_property(ev, ICAL_RDATE_PROPERTY) ||
        icalcomponent_get_first_property(ev, ICAL_EXRULE_PROPERTY)) {
        *why = QStringLiteral("It names its days by a list or by more than one rule.");
        return {};
    }
    icalrecurrencetype r = icalproperty_get_rrule(p);
    if (r.freq == ICAL_SECONDLY_RECURRENCE || r.freq == ICAL_MINUTELY_RECURRENCE || r.freq == ICAL_HOURLY_RECURRENCE ||
        hasAny(r.by_hour) || hasAny(r.by_minute) || hasAny(r.by_second)) {
        *why = QStringLiteral("It repeats more than once a day.");
        return {};
    }
    const icaltimetype start = icalcomponent_get_dtstart(ev);
    // Its weekdays and days of the month are those of its own zone; another day here would move them.
    if (dateOf(start) != a.date &&
        (hasAny(r.by_day) || hasAny(r.by_month_day) || hasAny(r.by_year_day) || hasAny(r.by_week_no))) {
        *why = QStringLiteral("Its days are counted in a time zone where it falls on another day than here.");
        return {};
    }
    if (!icaltime_is_null_time(r.until) && !r.until.is_date) {
        icaltimetype until = r.until;
        if (!until.zone && !icaltime_is_utc(until) && !facts.floating)
            until.zone = start.zone;
        AppointmentRecord at;
        const qint64 moment = momentOf(until);
        const QDateTime clock =
            facts.floating ? QDateTime::fromSecsSinceEpoch(moment, Qt::UTC) : QDateTime::fromSecsSinceEpoch(moment, zone);
        r.until = icaltime_null_time();
        r.until.year = clock.date().year();
        r.until.month = clock.date().month();
        r.until.day = clock.date().day();
        r.until.hour = clock.time().hour();
        r.until.minute = clock.time().minute();
        r.until.second = clock.time().second();
    }
    char* text = icalrecurrencetype_as_string_r(&r);
    const QString rule = QString::fromUtf8(text ? text : "");
    icalmemory_free_buffer(text);
    *why = RuleRefusal(rule, a.date, a.time);
    return why->isEmpty() ? rule : QString();
}

} // namespace

ICalendarImport readICalendar(const QByteArray& bytes, const QTimeZone& zoneIn, const QDate&)
{
    const QTimeZone zone = zoneIn.isValid() ? zoneIn : QTimeZone::utc();
    ICalendarImport result;
    QByteArray input = bytes.startsWith("\xEF\xBB\xBF") ? bytes.mid(3) : bytes;
    Component root(icalparser_parse_string(input.constData()));
    if (!root) {
        result.problems += QStringLiteral("the file holds no calendar");
        return result;
    }
    std::vector<icalcomponent*> events;
    collectEvents(root.get(), events);
    result.events = int(events.size());
    QSet<QString> cancelledSeries;
    // The series of the file kept as such, by their key: their changed days become rows of theirs.
    QSet<QString> seriesKept;
    QElapsedTimer clock;
    clock.start();
    std::map<QString, AppointmentRecord> byKey;
    // Masters first, then the changed occurrences that replace one of theirs.
    std::stable_partition(events.begin(), events.end(), [](icalcomponent* ev) {
        return icaltime_is_null_time(icalcomponent_get_recurrenceid(ev));
    });
    // The masters in the file: a changed day of any other names a series stored before, if any.
    QSet<QString> masters;
    for (icalcomponent* ev : events)
        if (icaltime_is_null_time(icalcomponent_get_recurrenceid(ev)))
            masters.insert(text(icalcomponent_get_uid(ev)));
    int line = 0;
    for (icalcomponent* ev : events) {
        ++line;
        const icaltimetype rid = recurrenceIdOf(ev);
        const QString ownUid = text(icalcomponent_get_uid(ev));
        const bool dayOfSeries = !icaltime_is_null_time(rid) && !ownUid.isEmpty() &&
                                 (seriesKept.contains(ownUid) || !masters.contains(ownUid));
        // A calendar program sends a file with METHOD:CANCEL to take events back.
        icalcomponent* calendar = icalcomponent_get_parent(ev);
        icalproperty* method = calendar ? icalcomponent_get_first_property(calendar, ICAL_METHOD_PROPERTY) : nullptr;
        const bool cancelsAll = method && icalproperty_get_method(method) == ICAL_METHOD_CANCEL;
        const bool cancelled = cancelsAll || icalcomponent_get_status(ev) == ICAL_STATUS_CANCELLED;
        if (cancelled) {
            ++result.cancelledEvents;
            if (ownUid.isEmpty()) // nothing stored can be this event
                continue;
            if (icaltime_is_null_time(rid)) {
                cancelledSeries.insert(ownUid);
                result.cancelled += ownUid;
                continue;
            }
            const QString key = instanceKey(ownUid, momentOf(rid));
            byKey.erase(key); // the occurrence its series gave
            result.cancelled += key;
            // A cancelled day of a series stays in view as that day's row, marked cancelled.
            if (!dayOfSeries || cancelledSeries.contains(ownUid))
                continue;
        }
        if (!ownUid.isEmpty() && cancelledSeries.contains(ownUid))
            continue; // a changed occurrence of a series the file cancels
        const icaltimetype start = icalcomponent_get_dtstart(ev);
        if (icaltime_is_null_time(start)) {
            result.problems += QStringLiteral("event %1 (%2) has no start and was left out")
                                   .arg(line)
                                   .arg(text(icalcomponent_get_summary(ev)));
            continue;
        }
        // The database and every list of Kestrel keep to these years; an event outside them would
        // be counted as added and never be seen again.
        const auto refuse = [&](const QDate& d) {
            result.problems += QStringLiteral("event %1 (%2) on %3 lies outside the years %4 to %5 and was left out")
                                   .arg(line)
                                   .arg(text(icalcomponent_get_summary(ev)),
                                        d.isValid() ? DateText(d)
                                                    : QStringLiteral("%1/%2/%3").arg(start.month).arg(start.day).arg(start.year))
                                   .arg(kFirstYear)
                                   .arg(kLastYear);
        };
        if (outsideYears(dateOf(start))) {
            refuse(dateOf(start));
            continue;
        }
        EventFacts facts = factsOf(ev);
        facts.base.line = line;
        if (facts.base.uid.isEmpty()) // kept apart from every other event, and never remembered
            facts.base.uid = QStringLiteral("\x01%1").arg(line);
        AppointmentRecord a = facts.base;
        place(a, momentOf(start), facts.floating, facts.allDay, zone, facts.length);
        if (outsideYears(a.date)) {
            refuse(a.date);
            continue;
        }
        if (!icaltime_is_null_time(rid)) {
            // A changed day: a row of its series where the series came in as one, else on its own.
            a.uid = instanceKey(facts.base.uid, momentOf(rid));
            if (dayOfSeries) { // the series may also be one stored before
                a.seriesUid = ownUid;
                a.recurrenceDate =
                    localDay(ev, icalcomponent_get_first_property(ev, ICAL_RECURRENCEID_PROPERTY), rid, facts, zone);
                a.cancelled = cancelled;
            }
        } else if (icalcomponent_get_first_property(ev, ICAL_RRULE_PROPERTY) ||
                   icalcomponent_get_first_property(ev, ICAL_RDATE_PROPERTY)) {
            ++result.recurring;
            QString why = QStringLiteral("The file holds too many repeating events to check them all.");
            const QString rule = clock.elapsed() > kMaxRuleCheckMs ? QString() : seriesRule(ev, a, facts, zone, &why);
            if (rule.isEmpty()) {
                result.problems += QStringLiteral("\"%1\" repeats in a way Kestrel cannot follow. %2 It was kept as a "
                                                  "single appointment on %3.")
                                       .arg(a.brief, why, DateText(a.date));
            } else {
                ++result.series;
                a.rrule = rule;
                // Taken first: reading one with an unknown TZID walks the event's properties with the
                // same iterator and would start this loop over without end.
                std::vector<icalproperty*> exdates;
                for (icalproperty* p = icalcomponent_get_first_property(ev, ICAL_EXDATE_PROPERTY); p;
                     p = icalcomponent_get_next_property(ev, ICAL_EXDATE_PROPERTY))
                    exdates.push_back(p);
                for (icalproperty* p : exdates)
                    if (const QDate d = localDay(ev, p, icalproperty_get_exdate(p), facts, zone);
                        d.isValid() && std::find(a.exdates.begin(), a.exdates.end(), d) == a.exdates.end())
                        a.exdates.push_back(d);
                std::sort(a.exdates.begin(), a.exdates.end());
                if (!ownUid.isEmpty())
                    seriesKept.insert(ownUid);
            }
        }
        byKey[a.uid] = std::move(a);
    }
    for (auto& [key, a] : byKey) {
        if (key.startsWith(u'\x01'))
            a.uid.clear();
        result.appointments.push_back(std::move(a));
    }
    std::stable_sort(result.appointments.begin(), result.appointments.end(),
                     [](const AppointmentRecord& x, const AppointmentRecord& y) {
                         return std::tie(x.date, x.time) < std::tie(y.date, y.time);
                     });
    return result;
}

} // namespace kestrel
