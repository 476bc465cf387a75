#pragma once
// How the appointment editor's "Repeats" controls read and write a stored rule (RFC 5545 RRULE
// text), and how a series is cut in two at one of its days.
#include <QDate>
#include <QString>
#include <QTime>

#include <array>

namespace kestrel {

struct RepeatChoice {
    enum class Kind { Never, Daily, Weekly, MonthlyDay, MonthlyWeekday, Yearly, AsStored };
    enum class End { Never, Until, Count };
    Kind kind = Kind::Never;
    int every = 1;                    // days, weeks, months or years between
    std::array<bool, 7> weekdays{};   // Monday … Sunday, for Weekly
    End end = End::Never;
    QDate until;
    int count = 0;
    // A rule the controls cannot show (read from another calendar): kept as it is.
    QString stored;
};

// The rule for an appointment beginning on start; empty for Never.
QString RuleText(const RepeatChoice& choice, const QDate& start);
// What the controls show for a stored rule; a rule they cannot show comes back as AsStored.
RepeatChoice ReadRepeat(const QString& rrule, const QDate& start);
// Why the choice cannot be saved for an appointment beginning on start at time, in words for a
// message; empty when it can.
QString RepeatRefusal(const RepeatChoice& choice, const QDate& start, const QTime& time);

// The rule of a series beginning on start ended the day before day.
QString RuleEndedBefore(const QString& rrule, const QDate& day);
// The rule for the rest of that series from day on: a count left is what was not yet used.
QString RuleGoingOnFrom(const QString& rrule, const QDate& start, const QTime& time, const QDate& day);

// The rule of a series, or of the part of one, that begins on from at time, as it reads once all
// its days move by days (seconds on the clock, which may carry them over midnight): the weekdays
// of a weekly rule, the day of the month or Nth weekday of a monthly one and the day of a yearly
// one go with its days, and its until moves as far, in the form it was written. Parts that name
// the first day only by following it (a rule with none of these) are left as they are.
QString RuleMovedBy(const QString& rrule, const QDate& from, const QTime& time, int days, qint64 seconds);

// Which weekday of its month d is: 1 to 4, or -1 for the fifth (the last).
int WeekdayOrdinal(const QDate& d);

} // namespace kestrel
