#pragma once
// One appointment as one calendar resource of a sync server: an iCalendar object holding one
// event, read by the rules of the iCalendar import, written as the export writes it, and changed
// in place in the fields Kestrel changed only.
#include "data/ExchangeStore.h"

#include <QByteArray>
#include <QDateTime>
#include <QSet>
#include <QTimeZone>

namespace kestrel {

struct EventResource {
    AppointmentRecord appt; // uid: the event's UID
    // A series' days changed on their own (RECURRENCE-ID): recurrenceDate set, in the user's zone.
    std::vector<AppointmentRecord> days;
    bool usable = false;    // one event, or one series with its changed days, an appointment can stand for
    QString why;            // what it is instead, when not usable
};

// The resource's event (or series with its changed days) in zone, on the half hour as the import
// takes it; a cancelled one is kept, marked cancelled. A to-do item, several events, a series whose
// rule Kestrel cannot follow or changed days without their series are not usable.
EventResource readEventResource(const QByteArray& ics, const QTimeZone& zone);

// A new resource for the appointment (its uid set) and its changed days, as the export writes them.
QByteArray writeEventResource(const AppointmentRecord& appt, const std::vector<AppointmentRecord>& days,
                              const QTimeZone& zone, const QDateTime& stamp);

// ics with the properties for fields (the columns of data/SyncStore.h's syncColumns) set from appt
// and days as writeEventResource writes them; every other property, and the alarms, attendees and
// whatever else the event has, stay as they were. A resource that cannot be read is written anew.
QByteArray patchEventResource(const QByteArray& ics, const AppointmentRecord& appt,
                              const std::vector<AppointmentRecord>& days, const QSet<QByteArray>& fields,
                              const QTimeZone& zone, const QDateTime& stamp);

} // namespace kestrel
