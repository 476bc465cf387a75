#pragma once
// Appointment look-ups and the line formats shared by the calendar's day list and the reminders.
#include "data/ApptSpan.h"

#include <QDate>
#include <QString>

#include <array>
#include <bitset>
#include <vector>

class QListWidget;

namespace kestrel {

// Separator after each appointment in the day list and the seven-day list (31 characters).
inline const QString kApptSeparator = QStringLiteral(" * * * * * * * * * * * * * * * ");

// Bit d is set when day d of calDate's month has at least one appointment. One query serves the
// whole month; a failure is reported once, under the name ApptsForDay, and marks no day.
std::bitset<32> ApptDaysOfMonth(const QDate& calDate);
// As ApptDaysOfMonth, with the number of appointments of each day (element d for day d).
std::array<int, 32> ApptCountsOfMonth(const QDate& calDate);
// A day cell as assistive software reads it: "Sunday, March 7, 2027, 3 appointments".
QString DaySpoken(const QDate& d, int appointments);

// An appointment as listed under one of the days it reaches.
struct ShownAppt {
    QDate day;  // the day it is listed under
    QDate date; // the day it begins
    QTime time; // invalid when it has none
    QString timeText; // the stored time as text, for a time that does not read as one
    ApptEnd end;
    bool allDay = false, cancelled = false;
    int id = 0;
    QString brief, name, address, outcome;
};

// The appointments of the days from … to, each under every one of those days it reaches (a
// timed end at midnight does not reach into the day it opens), ordered by day, whole days first,
// then those begun on an earlier day, then by time. Throws what the database throws.
std::vector<ShownAppt> ApptsOfDays(const QDate& from, const QDate& to);

// Fills lstCal with the appointments of d: a heading, four lines per appointment ordered by
// time, or the two no-appointment lines. Item values (Qt::UserRole) carry the autoid, 0 else.
void ListDayAppts(QListWidget* lstCal, const QDate& d);

// The time part of an appointment's first line on day d: its time, or its span when it lasts other
// than 30 minutes; on the days after its first, "until 5:00 PM" on its last and "all day" between.
QString DayLineTime(const QDate& date, const QTime& time, const ApptEnd& end, const QDate& d);

// Lines from..to-1 of list shown struck through (a cancelled appointment's).
void strikeThrough(QListWidget* list, int from, int to);

// kind "time": "h:mm AM - " and the first 20 characters of text (time given as text in any of
// the forms "9:30 AM", "9:30:00 AM", "09:30", "09:30:00"); any other kind: five spaces and the
// first 25 characters of text.
QString BuildListString(const QString& kind, const QString& text, const QString& time);

// "Sunday" … "Saturday" for 1 … 7, empty text otherwise.
QString GetDayName(int n);

// Reads a time of day written as "9:30 AM", "9:30:15 PM", "14:30" or "14:30:00"; invalid else.
QTime parseTimeText(const QString& text);

} // namespace kestrel
