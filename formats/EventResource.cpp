#include "formats/EventResource.h"

#include "formats/ICalendar.h"

#include <libical/ical.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace kestrel {

namespace {

struct ComponentDeleter {
    void operator()(icalcomponent* c) const { icalcomponent_free(c); }
};
using Component = std::unique_ptr<icalcomponent, ComponentDeleter>;

void removeAll(icalcomponent* ev, icalproperty_kind kind)
{
    std::vector<icalproperty*> found;
    for (icalproperty* p = icalcomponent_get_first_property(ev, kind); p; p = icalcomponent_get_next_property(ev, kind))
        found.push_back(p);
    for (icalproperty* p : found) {
        icalcomponent_remove_property(ev, p);
        icalproperty_free(p);
    }
}

// The properties of kind in to made the same as those in from.
void copyAll(icalcomponent* to, icalcomponent* from, icalproperty_kind kind)
{
    removeAll(to, kind);
    for (icalproperty* p = icalcomponent_get_first_property(from, kind); p; p = icalcomponent_get_next_property(from, kind))
        icalcomponent_add_property(to, icalproperty_new_clone(p));
}

bool isDay(icalcomponent* ev) { return icalcomponent_get_first_property(ev, ICAL_RECURRENCEID_PROPERTY) != nullptr; }

std::vector<icalcomponent*> children(icalcomponent* root, icalcomponent_kind kind)
{
    std::vector<icalcomponent*> out;
    for (icalcomponent* c = icalcomponent_get_first_component(root, kind); c; c = icalcomponent_get_next_component(root, kind))
        out.push_back(c);
    return out;
}

icalcomponent* masterOf(icalcomponent* root)
{
    for (icalcomponent* ev : children(root, ICAL_VEVENT_COMPONENT))
        if (!isDay(ev))
            return ev;
    return nullptr;
}

QByteArray textOf(icalcomponent* c)
{
    char* s = icalcomponent_as_ical_string_r(c);
    QByteArray out(s);
    icalmemory_free_buffer(s);
    return out;
}

icaltimetype utcOf(const QDateTime& dt)
{
    const QDateTime u = dt.toUTC();
    icaltimetype t = icaltime_null_time();
    t.year = u.date().year();
    t.month = u.date().month();
    t.day = u.date().day();
    t.hour = u.time().hour();
    t.minute = u.time().minute();
    t.second = u.time().second();
    t.zone = icaltimezone_get_utc_timezone();
    return t;
}

} // namespace

EventResource readEventResource(const QByteArray& ics, const QTimeZone& zone)
{
    EventResource r;
    // A cancelled event is one the import takes away; here it is the appointment, marked so.
    QByteArray text = ics;
    bool cancelled = false;
    {
        Component root(icalparser_parse_string(ics.constData()));
        if (root && icalcomponent_isa(root.get()) == ICAL_VCALENDAR_COMPONENT) {
            icalcomponent* master = masterOf(root.get());
            if (master && icalcomponent_get_status(master) == ICAL_STATUS_CANCELLED) {
                removeAll(master, ICAL_STATUS_PROPERTY);
                cancelled = true;
                text = textOf(root.get());
            }
        }
    }
    // Far from any window: the date only bounds what a rule that cannot be followed yields.
    const ICalendarImport read = readICalendar(text, zone, QDate(2000, 1, 1));
    if (read.events == 0) {
        r.why = QStringLiteral("holds no event (a to-do item or a note)");
        return r;
    }
    if (read.recurring > read.series) {
        r.why = QStringLiteral("is a repeating event Kestrel cannot follow");
        return r;
    }
    const AppointmentRecord* master = nullptr;
    for (const AppointmentRecord& a : read.appointments) {
        if (a.recurrenceDate.isValid()) {
            r.days.push_back(a);
            continue;
        }
        if (master) {
            r.why = QStringLiteral("holds more than one event");
            return r;
        }
        master = &a;
    }
    if (!master) {
        r.why = read.appointments.empty() ? QStringLiteral("has no start")
                                          : QStringLiteral("holds only changed days of a repeating event");
        return r;
    }
    r.appt = *master;
    r.appt.cancelled = r.appt.cancelled || cancelled;
    r.appt.problems.clear();
    r.appt.line = 0;
    for (AppointmentRecord& d : r.days) {
        d.problems.clear();
        d.line = 0;
        d.uid.clear();
        d.seriesUid.clear();
    }
    std::sort(r.days.begin(), r.days.end(),
              [](const AppointmentRecord& x, const AppointmentRecord& y) { return x.recurrenceDate < y.recurrenceDate; });
    r.usable = true;
    return r;
}

QByteArray writeEventResource(const AppointmentRecord& appt, const std::vector<AppointmentRecord>& days,
                              const QTimeZone& zone, const QDateTime& stamp)
{
    // The writer knows a series' changed days by the series' row.
    std::vector<AppointmentRecord> all{appt};
    all.front().autoid = 1;
    if (!appt.rrule.isEmpty())
        for (AppointmentRecord d : days) {
            d.seriesId = 1;
            d.autoid = 0;
            d.rrule.clear(); // a day of a series is no series
            d.exdates.clear();
            all.push_back(std::move(d));
        }
    return writeICalendar(all, QString(), zone, stamp);
}

QByteArray patchEventResource(const QByteArray& ics, const AppointmentRecord& appt,
                              const std::vector<AppointmentRecord>& days, const QSet<QByteArray>& fields,
                              const QTimeZone& zone, const QDateTime& stamp)
{
    Component root(icalparser_parse_string(ics.constData()));
    icalcomponent* ev = root && icalcomponent_isa(root.get()) == ICAL_VCALENDAR_COMPONENT ? masterOf(root.get()) : nullptr;
    // Written under the resource's own key, so that its changed days name their series.
    AppointmentRecord keyed = appt;
    if (ev && icalcomponent_get_uid(ev) && *icalcomponent_get_uid(ev))
        keyed.uid = QString::fromUtf8(icalcomponent_get_uid(ev));
    const QByteArray written = writeEventResource(keyed, days, zone, stamp);
    Component fresh(icalparser_parse_string(written.constData()));
    icalcomponent* now = fresh ? masterOf(fresh.get()) : nullptr;
    if (!ev || !now)
        return written;
    const auto any = [&](std::initializer_list<const char*> names) {
        for (const char* n : names)
            if (fields.contains(n))
                return true;
        return false;
    };
    // A series' left-out and changed days are named in the form of its start: they go with it.
    const bool times = any({"apptdate", "appttime", "enddate", "endtime", "allday", "rrule"});
    const bool exdates = times || any({"exdates"});
    const bool overrides = times || any({"overrides"});
    if (any({"apptbrief"}))
        copyAll(ev, now, ICAL_SUMMARY_PROPERTY);
    if (any({"address"}))
        copyAll(ev, now, ICAL_LOCATION_PROPERTY);
    if (any({"apptnotes", "name"}))
        copyAll(ev, now, ICAL_DESCRIPTION_PROPERTY);
    if (any({"cancelled"}))
        copyAll(ev, now, ICAL_STATUS_PROPERTY);
    if (times)
        for (icalproperty_kind k : {ICAL_DTSTART_PROPERTY, ICAL_DTEND_PROPERTY, ICAL_DURATION_PROPERTY, ICAL_RRULE_PROPERTY})
            copyAll(ev, now, k);
    if (exdates)
        copyAll(ev, now, ICAL_EXDATE_PROPERTY);
    if (overrides) {
        for (icalcomponent* old : children(root.get(), ICAL_VEVENT_COMPONENT))
            if (isDay(old)) {
                icalcomponent_remove_component(root.get(), old);
                icalcomponent_free(old);
            }
        for (icalcomponent* day : children(fresh.get(), ICAL_VEVENT_COMPONENT))
            if (isDay(day))
                icalcomponent_add_component(root.get(), icalcomponent_new_clone(day));
    }
    if (times || exdates || overrides) {
        // The zone the times now name, unless the resource describes it already.
        QSet<QByteArray> known;
        for (icalcomponent* tz : children(root.get(), ICAL_VTIMEZONE_COMPONENT))
            if (icalproperty* id = icalcomponent_get_first_property(tz, ICAL_TZID_PROPERTY))
                known.insert(icalproperty_get_tzid(id));
        for (icalcomponent* tz : children(fresh.get(), ICAL_VTIMEZONE_COMPONENT))
            if (icalproperty* id = icalcomponent_get_first_property(tz, ICAL_TZID_PROPERTY);
                id && !known.contains(icalproperty_get_tzid(id)))
                icalcomponent_add_component(root.get(), icalcomponent_new_clone(tz));
    }
    copyAll(ev, now, ICAL_DTSTAMP_PROPERTY);
    if (icalproperty* lm = icalcomponent_get_first_property(ev, ICAL_LASTMODIFIED_PROPERTY))
        icalproperty_set_lastmodified(lm, utcOf(stamp));
    if (icalproperty* seq = icalcomponent_get_first_property(ev, ICAL_SEQUENCE_PROPERTY))
        icalproperty_set_sequence(seq, icalproperty_get_sequence(seq) + 1);
    return textOf(root.get());
}

} // namespace kestrel
