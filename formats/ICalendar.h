#pragma once
// Appointments as iCalendar files: written for any calendar program, and read from them.
#include "data/ExchangeStore.h"

#include <QByteArray>
#include <QDateTime>
#include <QTimeZone>

#include <vector>

namespace kestrel {

// Every appointment as an event at its stored local date and time in zone, keyed by its uid when
// it has one, else by appointmentUid(identity, autoid), so that importing the file again updates
// the same events. A series is one event with its rule (RRULE) and the days left out (EXDATE); a
// row that replaces one of its days is an event under the series' key with that day's
// RECURRENCE-ID. A clock time that the zone skips or brings twice is written as the
// moment data/WallClock.h gives it, in UTC, so that every reader takes the moment the alerts keep to.
QByteArray writeICalendar(const std::vector<AppointmentRecord>& appts, const QString& identity, const QTimeZone& zone,
                          const QDateTime& stamp);

struct ICalendarImport {
    std::vector<AppointmentRecord> appointments; // uid set to the event's key (per changed day)
    int events = 0;          // events found in the file
    int recurring = 0;       // of them, repeating events
    int series = 0;          // of those, the ones kept as series (the others as single appointments)
    // Keys of the appointments that cancelled events take away: an event's uid stands for the
    // event and every occurrence of it, an occurrence's key for that one alone.
    QStringList cancelled;
    int cancelledEvents = 0; // events the file cancels (STATUS:CANCELLED, or the whole file METHOD:CANCEL)
    QStringList problems;    // about the file as a whole
};

// The events of the file as appointments in zone, on the half hour. A repeating event becomes one
// series, its rule kept in the user's clock time, its EXDATEs as days left out and its changed days
// (RECURRENCE-ID) as rows of it; one Kestrel cannot follow (more than once a day, a list of days,
// several rules, a rule formats/Recurrence.h refuses) becomes the single appointment at its start,
// named in problems. Events outside the years kFirstYear to kLastYear are left out and named. A
// cancelled event becomes none, and is listed in cancelled instead; a cancelled day of a series
// kept here becomes that day's row, marked cancelled.
ICalendarImport readICalendar(const QByteArray& bytes, const QTimeZone& zone, const QDate& today);

// Column sizes the editor accepts.
inline constexpr int kBriefSize = 50;
inline constexpr int kWhereSize = 75;
inline constexpr int kNameSize = 50;

// The years an appointment may lie in.
inline constexpr int kFirstYear = 1900;
inline constexpr int kLastYear = 2200;

} // namespace kestrel
