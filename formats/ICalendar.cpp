#include "formats/ICalendar.h"

#include "data/ApptSpan.h"
#include "data/WallClock.h"
#include "data/modData.h"

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

icaltimetype localTime(const QDateTime& dt)
{
    icaltimetype t = icaltime_null_time();
    t.year = dt.date().year();
    t.month = dt.date().month();
    t.day = dt.date().day();
    t.hour = dt.time().hour();
    t.minute = dt.time().minute();
    t.second = dt.time().second();
    return t;
}

icaltimetype utcTime(const QDateTime& dt)
{
    icaltimetype t = localTime(dt.toUTC());
    t.zone = icaltimezone_get_utc_timezone();
    return t;
}

// The zone's rules over the years the events span, from its transitions: one observance for
// the offset in force at the start and one for every change after it.
icalcomponent* timeZoneComponent(const QTimeZone& zone, const QByteArray& tzid, int firstYear, int lastYear)
{
    icalcomponent* vtz = icalcomponent_new_vtimezone();
    icalcomponent_add_property(vtz, icalproperty_new_tzid(tzid.constData()));
    const QDateTime from(QDate(firstYear - 1, 1, 1), QTime(0, 0), Qt::UTC);
    const QDateTime to(QDate(lastYear + 1, 12, 31), QTime(23, 59), Qt::UTC);
    auto observance = [&](bool daylight, const QDateTime& localStart, int offsetFrom, int offsetTo,
                          const QString& name) {
        icalcomponent* o = daylight ? icalcomponent_new_xdaylight() : icalcomponent_new_xstandard();
        icalcomponent_add_property(o, icalproperty_new_dtstart(localTime(localStart)));
        icalcomponent_add_property(o, icalproperty_new_tzoffsetfrom(offsetFrom));
        icalcomponent_add_property(o, icalproperty_new_tzoffsetto(offsetTo));
        if (!name.isEmpty())
            icalcomponent_add_property(o, icalproperty_new_tzname(name.toUtf8().constData()));
        icalcomponent_add_component(vtz, o);
    };
    const QTimeZone::OffsetData first = zone.offsetData(from);
    const int startOffset = first.offsetFromUtc;
    observance(first.daylightTimeOffset != 0, from.addSecs(startOffset),
               startOffset, startOffset, first.abbreviation);
    int previous = startOffset;
    for (const QTimeZone::OffsetData& t : zone.transitions(from, to)) {
        // An observance starts at the local time the clock shows just before the change.
        observance(t.daylightTimeOffset != 0, t.atUtc.toUTC().addSecs(previous), previous, t.offsetFromUtc,
                   t.abbreviation);
        previous = t.offsetFromUtc;
    }
    return vtz;
}

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

// Bounds on a repeating event, so that no calendar can hold the import: at most kMaxOccurrences
// appointments from one event, kMaxSteps steps through its rules (a rule for every minute since
// 1990 is never walked to today), and kMaxExpansionMs for the repetitions of the whole file.
constexpr int kMaxOccurrences = 1000;
constexpr int kMaxSteps = 100000;
constexpr qint64 kMaxExpansionMs = 3000;

struct Expansion {
    int taken = 0;
    int outside = 0;        // occurrences outside the years an appointment may have
    bool full = false;      // the limit was reached with more to come
    bool exhausted = false; // the steps or the time ran out first
};

struct Window {
    qint64 from, to; // moments, as momentOf gives them
};

// The occurrences of a repeating event in the window, each once: DTSTART and those of its
// RRULEs and RDATEs, less its EXDATEs and EXRULEs. libical's own walk through them cannot be
// stopped, so a rule for every second went on for a whole year of them.
Expansion expand(icalcomponent* ev, const EventFacts& facts, const Window& w, int limit, const QElapsedTimer& clock,
                 const QTimeZone& zone, std::map<QString, AppointmentRecord>& out)
{
    Expansion e;
    icaltimetype dtstart = icalcomponent_get_dtstart(ev);
    std::set<qint64> seen;
    // False once the limit is reached.
    auto take = [&](icaltimetype t) {
        const qint64 at = momentOf(t);
        if (at < w.from || at >= w.to || seen.count(at) || icalproperty_recurrence_is_excluded(ev, &dtstart, &t))
            return true;
        if (e.taken == limit) {
            e.full = true;
            return false;
        }
        seen.insert(at);
        AppointmentRecord a = facts.base;
        a.uid = instanceKey(facts.base.uid, at);
        place(a, at, facts.floating, facts.allDay, zone, facts.length);
        if (outsideYears(a.date)) {
            ++e.outside;
            return true;
        }
        ++e.taken;
        out[a.uid] = std::move(a);
        return true;
    };
    take(dtstart);
    int steps = 0;
    for (icalproperty* p = icalcomponent_get_first_property(ev, ICAL_RRULE_PROPERTY); p && !e.full && !e.exhausted;
         p = icalcomponent_get_next_property(ev, ICAL_RRULE_PROPERTY)) {
        const icalrecurrencetype rule = icalproperty_get_rrule(p);
        icalrecur_iterator* it = icalrecur_iterator_new(rule, dtstart);
        if (!it)
            continue;
        // A rule without a count may start at the window instead of stepping there from DTSTART.
        if (rule.count == 0 && momentOf(dtstart) < w.from) {
            icaltimetype start = facts.floating ? icaltime_from_timet_with_zone(time_t(w.from), dtstart.is_date, nullptr)
                                                : icaltime_from_timet_with_zone(time_t(w.from), 0, dtstart.zone);
            start.zone = dtstart.zone;
            start.is_date = dtstart.is_date;
            icalrecur_iterator_set_start(it, start);
        }
        for (icaltimetype t = icalrecur_iterator_next(it); !icaltime_is_null_time(t); t = icalrecur_iterator_next(it)) {
            if (++steps > kMaxSteps || clock.elapsed() > kMaxExpansionMs) {
                e.exhausted = true;
                break;
            }
            if (!t.zone)
                t.zone = dtstart.zone;
            if (momentOf(t) >= w.to || !take(t))
                break;
        }
        icalrecur_iterator_free(it);
    }
    for (icalproperty* p = icalcomponent_get_first_property(ev, ICAL_RDATE_PROPERTY); p && !e.full;
         p = icalcomponent_get_next_property(ev, ICAL_RDATE_PROPERTY)) {
        const icaldatetimeperiodtype rdate = icalproperty_get_rdate(p);
        icaltimetype t = icaltime_is_null_time(rdate.time) ? rdate.period.start : rdate.time;
        if (icaltime_is_null_time(t) || outsideYears(dateOf(t)))
            continue;
        t = withZone(ev, p, t);
        if (!t.zone && !icaltime_is_utc(t) && !facts.floating)
            t.zone = dtstart.zone;
        take(t);
    }
    return e;
}

} // namespace

QByteArray writeICalendar(const std::vector<AppointmentRecord>& appts, const QString& identity, const QTimeZone& zoneIn,
                          const QDateTime& stamp)
{
    const QTimeZone zone = zoneIn.isValid() ? zoneIn : QTimeZone::utc();
    const QByteArray tzid = zone.id();
    Component cal(icalcomponent_new_vcalendar());
    icalcomponent_add_property(cal.get(), icalproperty_new_prodid("-//Kestrel//Kestrel Contacts//EN"));
    icalcomponent_add_property(cal.get(), icalproperty_new_version("2.0"));
    icalcomponent_add_property(cal.get(), icalproperty_new_calscale("GREGORIAN"));
    int firstYear = stamp.date().year(), lastYear = firstYear;
    for (const AppointmentRecord& a : appts) {
        firstYear = std::min(firstYear, a.date.year());
        lastYear = std::max(lastYear, a.date.year());
    }
    icalcomponent_add_component(cal.get(), timeZoneComponent(zone, tzid, firstYear, lastYear));
    const icaltimetype dtstamp = utcTime(stamp);
    icaldurationtype half = icaldurationtype_null_duration();
    half.minutes = 30;
    for (const AppointmentRecord& a : appts) {
        icalcomponent* ev = icalcomponent_new_vevent();
        const QString uid = a.uid.isEmpty() ? appointmentUid(identity, a.autoid) : a.uid;
        icalcomponent_add_property(ev, icalproperty_new_uid(uid.toUtf8().constData()));
        icalcomponent_add_property(ev, icalproperty_new_dtstamp(dtstamp));
        const QTime time = a.time.isValid() ? a.time : QTime(0, 0);
        if (a.allDay) {
            // Whole days as dates, the end being the day after the last.
            const QDate last = a.endDate.isValid() && a.endDate > a.date ? a.endDate : a.date;
            icaltimetype first = localTime(QDateTime(a.date, QTime(0, 0)));
            first.is_date = 1;
            icaltimetype after = localTime(QDateTime(last.addDays(1), QTime(0, 0)));
            after.is_date = 1;
            icalcomponent_add_property(ev, icalproperty_new_dtstart(first));
            icalcomponent_add_property(ev, icalproperty_new_dtend(after));
        } else {
            // A skipped time does not exist and a doubled one means two moments to readers that
            // differ on which: the one moment the alerts keep to, in UTC, means it to all.
            const auto timeProperty = [&](icalproperty* (*make)(icaltimetype), const QDate& d, const QTime& t) {
                if (wallClockCase(d, t, zone) != WallClockCase::Plain)
                    return make(utcTime(wallClockMoment(d, t, zone)));
                icalproperty* p = make(localTime(QDateTime(d, t)));
                icalproperty_add_parameter(p, icalparameter_new_tzid(tzid.constData()));
                return p;
            };
            icalcomponent_add_property(ev, timeProperty(icalproperty_new_dtstart, a.date, time));
            const ApptEnd end = a.endTime.isValid() ? ApptEnd{a.endDate.isValid() ? a.endDate : a.date, a.endTime}
                                                    : defaultEnd(a.date, time);
            // The usual half hour as it always was written; any other length as its end.
            if (!hasOwnLength(a.date, time, end))
                icalcomponent_add_property(ev, icalproperty_new_duration(half));
            else
                icalcomponent_add_property(ev, timeProperty(icalproperty_new_dtend, end.date, end.time));
        }
        if (a.cancelled)
            icalcomponent_add_property(ev, icalproperty_new_status(ICAL_STATUS_CANCELLED));
        icalcomponent_add_property(ev, icalproperty_new_summary(a.brief.toUtf8().constData()));
        if (!a.address.isEmpty())
            icalcomponent_add_property(ev, icalproperty_new_location(a.address.toUtf8().constData()));
        QString description = a.notes;
        if (!a.name.isEmpty())
            description += (description.isEmpty() ? QString() : QStringLiteral("\n\n")) + QStringLiteral("Contact: ") + a.name;
        if (!description.isEmpty())
            icalcomponent_add_property(ev, icalproperty_new_description(description.toUtf8().constData()));
        icalcomponent_add_component(cal.get(), ev);
    }
    char* s = icalcomponent_as_ical_string_r(cal.get());
    QByteArray out(s);
    icalmemory_free_buffer(s);
    return out;
}

ICalendarImport readICalendar(const QByteArray& bytes, const QTimeZone& zoneIn, const QDate& today)
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

    // The coming year: moments for events in a zone, clock times read as UTC for floating ones.
    const Window moments{wallClockMoment(today, QTime(0, 0), zone).toSecsSinceEpoch(),
                         wallClockMoment(today.addYears(1), QTime(0, 0), zone).toSecsSinceEpoch()};
    const Window clockTimes{QDateTime(today, QTime(0, 0), Qt::UTC).toSecsSinceEpoch(),
                            QDateTime(today.addYears(1), QTime(0, 0), Qt::UTC).toSecsSinceEpoch()};
    QElapsedTimer clock;
    clock.start();
    std::map<QString, AppointmentRecord> byKey;
    // Masters first, then the changed occurrences that replace one of theirs.
    std::stable_partition(events.begin(), events.end(), [](icalcomponent* ev) {
        return icaltime_is_null_time(icalcomponent_get_recurrenceid(ev));
    });
    int line = 0;
    for (icalcomponent* ev : events) {
        ++line;
        const icaltimetype rid = recurrenceIdOf(ev);
        const QString ownUid = text(icalcomponent_get_uid(ev));
        // A calendar program sends a file with METHOD:CANCEL to take events back.
        icalcomponent* calendar = icalcomponent_get_parent(ev);
        icalproperty* method = calendar ? icalcomponent_get_first_property(calendar, ICAL_METHOD_PROPERTY) : nullptr;
        const bool cancelsAll = method && icalproperty_get_method(method) == ICAL_METHOD_CANCEL;
        if (cancelsAll || icalcomponent_get_status(ev) == ICAL_STATUS_CANCELLED) {
            ++result.cancelledEvents;
            if (ownUid.isEmpty()) // nothing stored can be this event
                continue;
            if (icaltime_is_null_time(rid)) {
                cancelledSeries.insert(ownUid);
                result.cancelled += ownUid;
            } else {
                const QString key = instanceKey(ownUid, momentOf(rid));
                byKey.erase(key); // the occurrence its series gave
                result.cancelled += key;
            }
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
        icalproperty* rrule = icalcomponent_get_first_property(ev, ICAL_RRULE_PROPERTY);
        // A changed occurrence (RECURRENCE-ID) stands alone, even where it repeats its master's rule.
        if (icaltime_is_null_time(rid) && (rrule || icalcomponent_get_first_property(ev, ICAL_RDATE_PROPERTY))) {
            ++result.recurring;
            const icalrecurrencetype r = rrule ? icalproperty_get_rrule(rrule) : icalrecurrencetype{};
            const bool subDaily = rrule && (r.freq == ICAL_SECONDLY_RECURRENCE || r.freq == ICAL_MINUTELY_RECURRENCE ||
                                            r.freq == ICAL_HOURLY_RECURRENCE);
            const Expansion e = expand(ev, facts, facts.floating ? clockTimes : moments, subDaily ? 1 : kMaxOccurrences,
                                       clock, zone, byKey);
            result.occurrences += e.taken;
            const QString& brief = facts.base.brief;
            if (e.exhausted)
                result.problems += QStringLiteral("\"%1\" repeats too often to read through: %2 occurrences were taken, "
                                                  "the rest left out").arg(brief).arg(e.taken);
            else if (subDaily)
                result.problems += QStringLiteral("\"%1\" repeats more than once a day: only its first occurrence "
                                                  "was taken").arg(brief);
            else if (e.full)
                result.problems += QStringLiteral("\"%1\" repeats more than %2 times in the year: the rest left out")
                                       .arg(brief)
                                       .arg(kMaxOccurrences);
            if (e.outside)
                result.problems += QStringLiteral("\"%1\": %2 occurrences lie outside the years %3 to %4 and were left out")
                                       .arg(brief)
                                       .arg(e.outside)
                                       .arg(kFirstYear)
                                       .arg(kLastYear);
            continue;
        }
        AppointmentRecord a = facts.base;
        if (!icaltime_is_null_time(rid))
            a.uid = instanceKey(facts.base.uid, momentOf(rid));
        place(a, momentOf(start), facts.floating, facts.allDay, zone, facts.length);
        if (outsideYears(a.date)) {
            refuse(a.date);
            continue;
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
