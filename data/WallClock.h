#pragma once
// The moment an appointment's date and clock time stand for. Appointments are kept as a date and
// the time the clock on the wall shows; alerts, calendar exports and imports all turn them into
// moments by this one rule, so that an appointment means the same moment everywhere:
//
// - a clock time that the change to daylight saving time skips is read with the offset in force
//   before the change, so it lands as much after the change as it was meant after midnight
//   (2:30 AM on the spring-forward night in New York is 3:30 AM daylight time);
// - a clock time that the change back brings twice means its first coming, in daylight time
//   (better a reminder an hour early than an hour late).
//
// Both are how RFC 5545 reads such times in a calendar file.
#include <QDateTime>
#include <QTimeZone>

#include <functional>

namespace kestrel {

// The moment date and time stand for in zone.
QDateTime wallClockMoment(const QDate& date, const QTime& time, const QTimeZone& zone);

// The same rule for a zone given by its offset from UTC (seconds) at each moment: the seconds
// since the epoch that the clock time wallSeconds (the date and time read as if in UTC) stands for.
qint64 wallClockToUtc(qint64 wallSeconds, const std::function<int(qint64 utcSeconds)>& offsetAt);

// What the rule had to decide for this clock time: nothing, a skipped or a doubled time.
enum class WallClockCase { Plain, Skipped, Doubled };
WallClockCase wallClockCase(const QDate& date, const QTime& time, const QTimeZone& zone);

} // namespace kestrel
