#pragma once
// The days of the plain rules the appointment editor writes (daily, weekly on chosen days, monthly
// on a day or on the Nth weekday, yearly; every N; until a day or N times), counted here rather
// than by libical: its iterator goes through ICU's calendar for every step, about 20 µs to begin
// and 3 µs a day, so a month of 500 series took longer than the calendar may. Any other rule is
// libical's; the two are checked against each other day for day.
#include <QDate>
#include <QString>
#include <QTime>

#include <array>
#include <optional>
#include <vector>

namespace kestrel {

struct PlainRule {
    enum class Freq { Daily, Weekly, Monthly, Yearly };
    Freq freq = Freq::Daily;
    int interval = 1;
    std::array<bool, 7> weekdays{}; // Monday … Sunday; none: the first day's weekday (Weekly)
    int weekStart = 1;              // the day a week begins on, 1 (Monday) … 7
    int nth = 0, nthWeekday = 0;    // Monthly on the nth (negative: from the end) weekday 1 … 7
    int monthDay = 0;               // Monthly on that day; neither: the first day's
    int count = 0;                  // 0: no count
    QDate untilDay;                 // invalid: no until
    QTime untilTime;                // the until's clock time (through the whole day for a date)
};

// The rule when it is one of the plain ones, written as libical reads it; nullopt otherwise.
std::optional<PlainRule> plainRule(QStringView rrule);

// The days from … to (both included) of a series beginning on start at time, in order.
std::vector<QDate> plainRuleDays(const PlainRule& rule, const QDate& start, const QTime& time, const QDate& from,
                                 const QDate& to);

} // namespace kestrel
