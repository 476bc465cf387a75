#include "formats/ICalendar.h"

#include "data/modData.h"

#include <libical/ical.h>

#include <QSet>

#include <algorithm>
#include <map>
#include <tuple>
#include <memory>

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
void place(AppointmentRecord& a, qint64 t, bool floating, bool allDay, const QTimeZone& zone)
{
    QDateTime when = floating ? QDateTime::fromSecsSinceEpoch(t, Qt::UTC) : QDateTime::fromSecsSinceEpoch(t, zone);
    if (allDay) {
        a.date = when.date();
        a.time = QTime(0, 0);
        a.problems += QStringLiteral("all-day event: set to 12:00 AM");
        return;
    }
    const QTime exact = when.time();
    const int seconds = exact.msecsSinceStartOfDay() / 1000;
    const int halfHours = (seconds + 15 * 60) / (30 * 60); // nearest half hour, a quarter past rounding up
    QDateTime rounded(when.date(), QTime(0, 0));
    rounded = rounded.addSecs(qint64(halfHours) * 30 * 60);
    a.date = rounded.date();
    a.time = rounded.time();
    if (seconds % (30 * 60) != 0)
        a.problems += QStringLiteral("time %1 rounded to %2").arg(exact.toString(QStringLiteral("h:mm:ss AP")),
                                                                   timeWords(a.time));
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
};

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
    return f;
}

struct Expansion {
    const EventFacts* facts;
    const QTimeZone* zone;
    std::map<QString, AppointmentRecord>* out;
    int count = 0;
    int limit = 1000;
};

void onOccurrence(icalcomponent*, icaltime_span* span, void* data)
{
    auto* e = static_cast<Expansion*>(data);
    if (e->count >= e->limit)
        return;
    ++e->count;
    AppointmentRecord a = e->facts->base;
    a.uid = instanceKey(e->facts->base.uid, qint64(span->start));
    place(a, span->start, e->facts->floating, e->facts->allDay, *e->zone);
    (*e->out)[a.uid] = std::move(a);
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

// The occurrence a changed event replaces. libical leaves the zone of RECURRENCE-ID unresolved,
// so it is looked up as DTSTART's is: in the file's own VTIMEZONEs, then in the zone database.
icaltimetype recurrenceIdOf(icalcomponent* ev)
{
    icalproperty* p = icalcomponent_get_first_property(ev, ICAL_RECURRENCEID_PROPERTY);
    if (!p)
        return icaltime_null_time();
    icaltimetype t = icalproperty_get_recurrenceid(p);
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

qint64 secondsOf(const icaltimetype& t)
{
    return qint64(icaltime_as_timet_with_zone(t, t.zone ? t.zone : icaltimezone_get_utc_timezone()));
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
        icalcomponent_add_property(ev, icalproperty_new_uid(appointmentUid(identity, a.autoid).toUtf8().constData()));
        icalcomponent_add_property(ev, icalproperty_new_dtstamp(dtstamp));
        icalproperty* start = icalproperty_new_dtstart(localTime(QDateTime(a.date, a.time.isValid() ? a.time : QTime(0, 0))));
        icalproperty_add_parameter(start, icalparameter_new_tzid(tzid.constData()));
        icalcomponent_add_property(ev, start);
        icalcomponent_add_property(ev, icalproperty_new_duration(half));
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

    const QDateTime windowStart(today, QTime(0, 0), zone);
    const QDateTime windowEnd = windowStart.addYears(1);
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
                const QString key = instanceKey(ownUid, secondsOf(rid));
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
        EventFacts facts = factsOf(ev);
        facts.base.line = line;
        if (facts.base.uid.isEmpty()) // kept apart from every other event, and never remembered
            facts.base.uid = QStringLiteral("\x01%1").arg(line);
        icalproperty* rrule = icalcomponent_get_first_property(ev, ICAL_RRULE_PROPERTY);
        if (!icaltime_is_null_time(rid)) {
            AppointmentRecord a = facts.base;
            a.uid = instanceKey(facts.base.uid, secondsOf(rid));
            place(a, secondsOf(start), facts.floating, facts.allDay, zone);
            byKey[a.uid] = std::move(a);
            continue;
        }
        if (rrule || icalcomponent_get_first_property(ev, ICAL_RDATE_PROPERTY)) {
            ++result.recurring;
            Expansion e{&facts, &zone, &byKey};
            const icalrecurrencetype r = rrule ? icalproperty_get_rrule(rrule) : icalrecurrencetype{};
            if (rrule && (r.freq == ICAL_SECONDLY_RECURRENCE || r.freq == ICAL_MINUTELY_RECURRENCE ||
                          r.freq == ICAL_HOURLY_RECURRENCE))
                e.limit = 1;
            icalcomponent_foreach_recurrence(ev, utcTime(windowStart), utcTime(windowEnd), onOccurrence, &e);
            result.occurrences += e.count;
            if (e.limit == 1)
                result.problems += QStringLiteral("\"%1\" repeats more than once a day: only its first occurrence "
                                                  "was taken").arg(facts.base.brief);
            else if (e.count >= e.limit)
                result.problems += QStringLiteral("\"%1\" repeats more than %2 times in the year: the rest left out")
                                       .arg(facts.base.brief)
                                       .arg(e.limit);
            continue;
        }
        AppointmentRecord a = facts.base;
        place(a, facts.floating || facts.allDay ? qint64(icaltime_as_timet(start)) : secondsOf(start), facts.floating,
              facts.allDay, zone);
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
