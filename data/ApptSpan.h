#pragma once
// When an appointment ends. The appointments keep the end as the last day (null when it is the
// day the appointment begins) and the clock time (null in rows written by programs that knew no
// end: they last the 30 minutes every appointment once had). Clock times, not moments: a meeting
// from 9:00 AM to 10:30 AM stays so on a day the clocks change.
#include <QDate>
#include <QString>
#include <QTime>
#include <QVariant>

#include <vector>

namespace kestrel {

inline constexpr int kDefaultApptMinutes = 30;

struct ApptEnd {
    QDate date;
    QTime time;
};

// The end 30 minutes after date and time, on the next day after 11:30 PM.
ApptEnd defaultEnd(const QDate& date, const QTime& time);
// The end the columns enddate and endtime hold for an appointment beginning at date and time;
// what they leave out is taken as defaultEnd gives it.
ApptEnd storedEnd(const QDate& date, const QTime& time, const QVariant& enddate, const QVariant& endtime);
// The value of enddate for an end: null (empty) when it falls on the day the appointment begins.
QDate endDateColumn(const QDate& date, const ApptEnd& end);

// Whether the appointment lasts other than its default 30 minutes (the lists then show its span).
bool hasOwnLength(const QDate& date, const QTime& time, const ApptEnd& end);
// "9:00 AM - 10:30 AM", or with the end on a later day "9:00 AM - 3/9/2027 5:00 PM".
QString SpanText(const QDate& date, const QTime& time, const ApptEnd& end);

// Why an end cannot be saved, in words for a message; empty when it can.
QString EndRefusal(const QDate& date, const QTime& time, const ApptEnd& end);

// The days kept in a series' exdates column ("2027-03-16,2027-03-18"), and back.
std::vector<QDate> exceptDays(const QString& column);
QString exceptColumn(const std::vector<QDate>& days);

} // namespace kestrel
