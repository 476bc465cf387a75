// The appointments written as an iCalendar file: a series once, with its rule, the days left out
// and the days changed on their own (RECURRENCE-ID under the series' key).
#include "formats/ICalendar.h"

#include "data/ApptSpan.h"
#include "data/WallClock.h"
#include "formats/Recurrence.h"

#include <libical/ical.h>

#include <algorithm>
#include <map>
#include <memory>
#include <set>

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

icaltimetype dateValue(const QDate& d)
{
    icaltimetype t = localTime(QDateTime(d, QTime(0, 0)));
    t.is_date = 1;
    return t;
}

// A series' rule as other calendars read it: an until day or clock time (kept in clock time)
// becomes the moment of the last start it allows, in UTC, as a rule of a zoned start must say it.
icalrecurrencetype ruleOut(const AppointmentRecord& a, const QTimeZone& zone)
{
    icalerror_clear_errno();
    icalrecurrencetype r = icalrecurrencetype_from_string(a.rrule.trimmed().toUtf8().constData());
    icalerror_clear_errno();
    if (icaltime_is_null_time(r.until))
        return r;
    const QDate day(r.until.year, r.until.month, r.until.day);
    if (a.allDay) {
        r.until = dateValue(day);
    } else {
        const QTime clock = r.until.is_date ? (a.time.isValid() ? a.time : QTime(0, 0))
                                            : QTime(r.until.hour, r.until.minute, r.until.second);
        r.until = utcTime(wallClockMoment(day, clock, zone));
    }
    return r;
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
    // The series written as such (a rule Kestrel cannot read goes as the one appointment it shows),
    // and the days of each that rows of their own replace.
    std::map<int, const AppointmentRecord*> series;
    std::map<int, std::set<QDate>> replaced;
    std::set<const AppointmentRecord*> rules;
    for (const AppointmentRecord& a : appts) {
        firstYear = std::min(firstYear, a.date.year());
        lastYear = std::max(lastYear, a.date.year());
        if (!a.rrule.isEmpty() && ruleReadable(a.rrule)) {
            series[a.autoid] = &a;
            rules.insert(&a);
            // Its zone's changes as far as it repeats, ten years when it has no last day.
            const icalrecurrencetype r = icalrecurrencetype_from_string(a.rrule.trimmed().toUtf8().constData());
            icalerror_clear_errno();
            lastYear = std::max(lastYear, icaltime_is_null_time(r.until) ? stamp.date().year() + 10
                                                                          : std::min(r.until.year, kLastYear));
        }
    }
    for (const AppointmentRecord& a : appts)
        if (a.seriesId && a.recurrenceDate.isValid() && series.count(a.seriesId))
            replaced[a.seriesId].insert(a.recurrenceDate);
    icalcomponent_add_component(cal.get(), timeZoneComponent(zone, tzid, firstYear, lastYear));
    const icaltimetype dtstamp = utcTime(stamp);
    icaldurationtype half = icaldurationtype_null_duration();
    half.minutes = 30;
    const auto uidOf = [&](const AppointmentRecord& a) {
        return a.uid.isEmpty() ? appointmentUid(identity, a.autoid) : a.uid;
    };
    // A skipped time does not exist and a doubled one means two moments to readers that differ
    // on which: the one moment the alerts keep to, in UTC, means it to all.
    const auto timeProperty = [&](icalproperty* (*make)(icaltimetype), const QDate& d, const QTime& t) {
        if (wallClockCase(d, t, zone) != WallClockCase::Plain)
            return make(utcTime(wallClockMoment(d, t, zone)));
        icalproperty* p = make(localTime(QDateTime(d, t)));
        icalproperty_add_parameter(p, icalparameter_new_tzid(tzid.constData()));
        return p;
    };
    // A day of a series as its DTSTART would name it: a date, or the series' clock time that day.
    const auto dayProperty = [&](icalproperty* (*make)(icaltimetype), const AppointmentRecord& s, const QDate& d) {
        return s.allDay ? make(dateValue(d)) : timeProperty(make, d, s.time.isValid() ? s.time : QTime(0, 0));
    };
    for (const AppointmentRecord& a : appts) {
        icalcomponent* ev = icalcomponent_new_vevent();
        const auto master = a.recurrenceDate.isValid() ? series.find(a.seriesId) : series.end();
        const QString uid = uidOf(master != series.end() ? *master->second : a);
        icalcomponent_add_property(ev, icalproperty_new_uid(uid.toUtf8().constData()));
        icalcomponent_add_property(ev, icalproperty_new_dtstamp(dtstamp));
        if (master != series.end())
            icalcomponent_add_property(ev, dayProperty(icalproperty_new_recurrenceid, *master->second, a.recurrenceDate));
        const QTime time = a.time.isValid() ? a.time : QTime(0, 0);
        if (a.allDay) {
            // Whole days as dates, the end being the day after the last.
            const QDate last = a.endDate.isValid() && a.endDate > a.date ? a.endDate : a.date;
            icalcomponent_add_property(ev, icalproperty_new_dtstart(dateValue(a.date)));
            icalcomponent_add_property(ev, icalproperty_new_dtend(dateValue(last.addDays(1))));
        } else {
            icalcomponent_add_property(ev, timeProperty(icalproperty_new_dtstart, a.date, time));
            const ApptEnd end = a.endTime.isValid() ? ApptEnd{a.endDate.isValid() ? a.endDate : a.date, a.endTime}
                                                    : defaultEnd(a.date, time);
            // The usual half hour as it always was written; any other length as its end.
            if (!hasOwnLength(a.date, time, end))
                icalcomponent_add_property(ev, icalproperty_new_duration(half));
            else
                icalcomponent_add_property(ev, timeProperty(icalproperty_new_dtend, end.date, end.time));
        }
        if (rules.count(&a)) {
            icalcomponent_add_property(ev, icalproperty_new_rrule(ruleOut(a, zone)));
            const std::set<QDate>& own = replaced[a.autoid];
            for (const QDate& d : a.exdates)
                if (!own.count(d))
                    icalcomponent_add_property(ev, dayProperty(icalproperty_new_exdate, a, d));
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

} // namespace kestrel
