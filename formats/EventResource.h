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

// The appointment fields a calendar resource carries, by the columns of appointments.
inline const QList<QByteArray> kEventFields = {"name", "address", "apptdate", "appttime", "apptbrief", "apptnotes"};

struct EventResource {
    AppointmentRecord appt; // uid: the event's UID
    bool usable = false;    // one plain event an appointment can stand for
    QString why;            // what it is instead, when not usable
};

// The resource's event in zone, on the half hour as the import takes it. A repeating event, a
// to-do item or anything else an appointment cannot hold is not usable.
EventResource readEventResource(const QByteArray& ics, const QTimeZone& zone);

// A new resource for the appointment (its uid set), as the export writes an event.
QByteArray writeEventResource(const AppointmentRecord& appt, const QTimeZone& zone, const QDateTime& stamp);

// ics with its event's properties for fields (kEventFields) set from appt; every other property,
// the event's length and its own time zone stay as they were. A resource that cannot be read is
// written anew.
QByteArray patchEventResource(const QByteArray& ics, const AppointmentRecord& appt, const QSet<QByteArray>& fields,
                              const QTimeZone& zone, const QDateTime& stamp);

// The appointment as a resource written for it reads back.
AppointmentRecord asEventReadsBack(const AppointmentRecord& appt, const QTimeZone& zone);

} // namespace kestrel
