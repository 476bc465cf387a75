#pragma once
// The days a repeating appointment falls on, from its rule as calendars write it (an RFC 5545
// RRULE value such as "FREQ=WEEKLY;INTERVAL=2;BYDAY=TU,TH;COUNT=10"). The rule is read in clock
// time, without a zone: a call at 9:00 AM each Tuesday stays at 9:00 AM when the clocks change.
#include "data/ApptSpan.h"

#include <QDate>
#include <QString>
#include <QTime>

#include <vector>

namespace kestrel {

// The most occurrences a rule's COUNT may ask for.
inline constexpr int kMostOccurrences = 1000;

// Why a rule cannot be kept for an appointment beginning on start, in words for a message; empty
// when it can: one that cannot be read, one with no end beyond kMostOccurrences, one that ends
// before it begins or one that yields no day at all.
QString RuleRefusal(const QString& rrule, const QDate& start, const QTime& time);

// Whether Kestrel can read the rule at all (one it cannot is kept as a single appointment).
bool ruleReadable(const QString& rrule);

// The days from … to (both included) that the rule of an appointment beginning on start at time
// falls on, leaving out the days of except. Empty for a rule that cannot be read.
std::vector<QDate> occurrenceDays(const QString& rrule, const QDate& start, const QTime& time, const QDate& from,
                                  const QDate& to, const std::vector<QDate>& except = {});

} // namespace kestrel
