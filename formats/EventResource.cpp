#include "formats/EventResource.h"

#include "formats/ICalendar.h"

#include <libical/ical.h>

#include <memory>

namespace kestrel {

namespace {

struct ComponentDeleter {
    void operator()(icalcomponent* c) const { icalcomponent_free(c); }
};
using Component = std::unique_ptr<icalcomponent, ComponentDeleter>;

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

icaltimetype dateOf(const QDate& d)
{
    icaltimetype t = icaltime_null_date();
    t.year = d.year();
    t.month = d.month();
    t.day = d.day();
    t.is_date = 1;
    return t;
}

void setText(icalcomponent* ev, icalproperty_kind kind, const QString& value,
             icalproperty* (*make)(const char*))
{
    while (icalproperty* p = icalcomponent_get_first_property(ev, kind)) {
        icalcomponent_remove_property(ev, p);
        icalproperty_free(p);
    }
    if (!value.isEmpty())
        icalcomponent_add_property(ev, make(value.toUtf8().constData()));
}

void replace(icalcomponent* ev, icalproperty_kind kind, icalproperty* with)
{
    while (icalproperty* p = icalcomponent_get_first_property(ev, kind)) {
        icalcomponent_remove_property(ev, p);
        icalproperty_free(p);
    }
    if (with)
        icalcomponent_add_property(ev, with);
}

// The description as the export writes it: the notes, then the contact on a line of its own.
QString descriptionOf(const AppointmentRecord& a)
{
    QString d = a.notes;
    if (!a.name.isEmpty())
        d += (d.isEmpty() ? QString() : QStringLiteral("\n\n")) + QStringLiteral("Contact: ") + a.name;
    return d;
}

} // namespace

EventResource readEventResource(const QByteArray& ics, const QTimeZone& zone)
{
    EventResource r;
    // Far from any window: only a repeating event would care, and it is refused below.
    const ICalendarImport read = readICalendar(ics, zone, QDate(2000, 1, 1));
    if (read.events == 0) {
        r.why = QStringLiteral("holds no event (a to-do item or a note)");
        return r;
    }
    if (read.recurring > 0 || read.events > 1) {
        r.why = QStringLiteral("is a repeating event");
        return r;
    }
    if (read.appointments.size() != 1) {
        r.why = QStringLiteral("has no start");
        return r;
    }
    r.appt = read.appointments.front();
    r.appt.problems.clear();
    r.appt.line = 0;
    r.usable = true;
    return r;
}

QByteArray writeEventResource(const AppointmentRecord& appt, const QTimeZone& zone, const QDateTime& stamp)
{
    return writeICalendar({appt}, QString(), zone, stamp);
}

QByteArray patchEventResource(const QByteArray& ics, const AppointmentRecord& appt, const QSet<QByteArray>& fields,
                              const QTimeZone& zone, const QDateTime& stamp)
{
    Component root(icalparser_parse_string(ics.constData()));
    icalcomponent* ev = root ? (icalcomponent_isa(root.get()) == ICAL_VEVENT_COMPONENT
                                    ? root.get()
                                    : icalcomponent_get_first_component(root.get(), ICAL_VEVENT_COMPONENT))
                             : nullptr;
    if (!ev)
        return writeEventResource(appt, zone, stamp);
    if (fields.contains("apptbrief"))
        setText(ev, ICAL_SUMMARY_PROPERTY, appt.brief, icalproperty_new_summary);
    if (fields.contains("address"))
        setText(ev, ICAL_LOCATION_PROPERTY, appt.address, icalproperty_new_location);
    if (fields.contains("apptnotes") || fields.contains("name"))
        setText(ev, ICAL_DESCRIPTION_PROPERTY, descriptionOf(appt), icalproperty_new_description);
    if (fields.contains("apptdate") || fields.contains("appttime")) {
        const icaltimetype oldStart = icalcomponent_get_dtstart(ev);
        icalproperty* endProp = icalcomponent_get_first_property(ev, ICAL_DTEND_PROPERTY);
        const bool wasAllDay = icaltime_is_date(oldStart);
        const QTime time = appt.time.isValid() ? appt.time : QTime(0, 0);
        if (wasAllDay && time == QTime(0, 0)) {
            // Still a whole day (or days): moved, its length kept.
            int days = 1;
            if (endProp)
                days = std::max(1, int((icaltime_as_timet(icalproperty_get_dtend(endProp)) - icaltime_as_timet(oldStart)) / 86400));
            replace(ev, ICAL_DTSTART_PROPERTY, icalproperty_new_dtstart(dateOf(appt.date)));
            if (endProp)
                replace(ev, ICAL_DTEND_PROPERTY, icalproperty_new_dtend(dateOf(appt.date.addDays(days))));
        } else {
            const QDateTime start(appt.date, time, zone);
            qint64 length = 30 * 60;
            if (wasAllDay) {
                // A whole day given an hour in Kestrel becomes an ordinary half-hour appointment.
                replace(ev, ICAL_DTEND_PROPERTY, nullptr);
                replace(ev, ICAL_DURATION_PROPERTY, nullptr);
            } else if (endProp) {
                length = qint64(icaltime_as_timet_with_zone(icalcomponent_get_dtend(ev), icaltimezone_get_utc_timezone()) -
                                icaltime_as_timet_with_zone(oldStart, icaltimezone_get_utc_timezone()));
            }
            replace(ev, ICAL_DTSTART_PROPERTY, icalproperty_new_dtstart(utcOf(start)));
            if (endProp && !wasAllDay)
                replace(ev, ICAL_DTEND_PROPERTY, icalproperty_new_dtend(utcOf(start.addSecs(length))));
            if (wasAllDay) {
                icaldurationtype half = icaldurationtype_null_duration();
                half.minutes = 30;
                icalcomponent_add_property(ev, icalproperty_new_duration(half));
            }
        }
    }
    replace(ev, ICAL_DTSTAMP_PROPERTY, icalproperty_new_dtstamp(utcOf(stamp)));
    if (icalproperty* lm = icalcomponent_get_first_property(ev, ICAL_LASTMODIFIED_PROPERTY))
        icalproperty_set_lastmodified(lm, utcOf(stamp));
    if (icalproperty* seq = icalcomponent_get_first_property(ev, ICAL_SEQUENCE_PROPERTY))
        icalproperty_set_sequence(seq, icalproperty_get_sequence(seq) + 1);
    char* s = icalcomponent_as_ical_string_r(root.get());
    QByteArray out(s);
    icalmemory_free_buffer(s);
    return out;
}

AppointmentRecord asEventReadsBack(const AppointmentRecord& appt, const QTimeZone& zone)
{
    AppointmentRecord probe = appt;
    if (probe.uid.isEmpty())
        probe.uid = QStringLiteral("probe");
    const EventResource back = readEventResource(writeEventResource(probe, zone, QDateTime::currentDateTimeUtc()), zone);
    if (!back.usable)
        return appt;
    AppointmentRecord r = back.appt;
    r.uid = appt.uid;
    r.autoid = appt.autoid;
    return r;
}

} // namespace kestrel
