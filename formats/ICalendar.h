#pragma once
// Appointments as iCalendar files: written for any calendar program, and read from them.
#include "data/ExchangeStore.h"

#include <QByteArray>
#include <QDateTime>
#include <QTimeZone>

#include <vector>

namespace kestrel {

// Every appointment as a half-hour event at its stored local date and time in zone, keyed by
// appointmentUid(identity, autoid) so that importing the file again updates the same events.
QByteArray writeICalendar(const std::vector<AppointmentRecord>& appts, const QString& identity, const QTimeZone& zone,
                          const QDateTime& stamp);

struct ICalendarImport {
    std::vector<AppointmentRecord> appointments; // uid set to the event's key (per occurrence)
    int events = 0;          // events found in the file
    int recurring = 0;       // of them, repeating events
    int occurrences = 0;     // appointments made from repeating events
    // Keys of the appointments that cancelled events take away: an event's uid stands for the
    // event and every occurrence of it, an occurrence's key for that one alone.
    QStringList cancelled;
    int cancelledEvents = 0; // events the file cancels (STATUS:CANCELLED, or the whole file METHOD:CANCEL)
    QStringList problems;    // about the file as a whole
};

// The events of the file as appointments in zone, on the half hour. Repeating events become one
// appointment per occurrence from today to a year later. A cancelled event becomes none, and is
// listed in cancelled instead.
ICalendarImport readICalendar(const QByteArray& bytes, const QTimeZone& zone, const QDate& today);

// Column sizes the editor accepts.
inline constexpr int kBriefSize = 50;
inline constexpr int kWhereSize = 75;
inline constexpr int kNameSize = 50;

} // namespace kestrel
