// The length of events in calendar files: DTEND and DURATION read into an appointment's end,
// the end written back (not a fixed half hour), and an independent reader agreeing on it.
#include "formats/ICalendar.h"
#include "tests/exchange_formats/Samples.h"

#include <gtest/gtest.h>

using namespace kestrel;

namespace {

const QTimeZone kNewYork(QByteArrayLiteral("America/New_York"));

QString span(const AppointmentRecord& a)
{
    return a.brief + u' ' + a.date.toString(Qt::ISODate) + u' ' + a.time.toString(QStringLiteral("HH:mm")) + u'-' +
           a.endDate.toString(Qt::ISODate) + u' ' + a.endTime.toString(QStringLiteral("HH:mm"));
}

QStringList spans(const std::vector<AppointmentRecord>& appts)
{
    QStringList out;
    for (const AppointmentRecord& a : appts)
        out << span(a);
    out.sort();
    return out;
}

} // namespace

// Python's icalendar reading the file: each event's start s and end e (DTEND, or DTSTART + DURATION)
// printed by printLine; nothing where the module is missing.
static std::optional<QStringList> readWithIcalendar(const QByteArray& file, const char* printLine)
{
    return kestrel::test::pythonReads("icalendar", QStringLiteral("cal = icalendar.Calendar.from_ical(open(sys.argv[1], 'rb').read())\n"
                                                                  "for ev in cal.walk('VEVENT'):\n"
                                                                  "    s = ev.decoded('dtstart')\n"
                                                                  "    e = ev.decoded('dtend') if 'DTEND' in ev else s + ev.decoded('duration')\n") +
                                                       QString::fromUtf8(printLine),
                                      file);
}

TEST(ICalendarLength, DtendAndDurationBecomeTheEndInTheUsersZoneAndNoneKeepsHalfAnHour)
{
    const QByteArray file = calendarFile(
        vevent("dtend", "DTSTART;TZID=America/New_York:20270308T090000\r\nDTEND;TZID=America/New_York:20270308T103000\r\n") +
        vevent("duration", "DTSTART:20270309T140000Z\r\nDURATION:PT1H15M\r\n") +
        vevent("days", "DTSTART;TZID=America/New_York:20270308T090000\r\nDTEND;TZID=America/New_York:20270310T171500\r\n") +
        // Across the spring change: two hours from 1:00 end at 4:00 on the clock.
        vevent("spring", "DTSTART;TZID=America/New_York:20270314T010000\r\nDURATION:PT2H\r\n") +
        vevent("none", "DTSTART;TZID=America/New_York:20270311T090000\r\n"));
    const ICalendarImport r = readICalendar(file, kNewYork, QDate(2027, 1, 1));
    EXPECT_EQ(spans(r.appointments),
              QStringList({"days 2027-03-08 09:00-2027-03-10 17:15", "dtend 2027-03-08 09:00-2027-03-08 10:30",
                           "duration 2027-03-09 09:00-2027-03-09 10:15", "none 2027-03-11 09:00- ",
                           "spring 2027-03-14 01:00-2027-03-14 04:00"}));
}

TEST(ICalendarLength, TheEndIsWrittenAndReadBackAndPythonsIcalendarReadsTheSameMoments)
{
    const std::vector<AppointmentRecord> appts = {
        appt("span", {2027, 3, 8}, {9, 0}, {2027, 3, 8}, {10, 30}),
        appt("days", {2027, 3, 8}, {9, 0}, {2027, 3, 10}, {17, 15}),
        appt("usual", {2027, 3, 11}, {9, 0}), // no end kept: its 30 minutes
        appt("spring", {2027, 3, 14}, {1, 0}, {2027, 3, 14}, {4, 0}),
    };
    std::vector<AppointmentRecord> keyed = appts;
    for (size_t i = 0; i < keyed.size(); ++i)
        keyed[i].autoid = int(i) + 1;
    const QByteArray file = writeICalendar(keyed, QStringLiteral("db"), kNewYork, QDateTime({2027, 1, 1}, {9, 0}, Qt::UTC));
    const ICalendarImport back = readICalendar(file, kNewYork, QDate(2027, 1, 1));
    EXPECT_EQ(spans(back.appointments),
              QStringList({"days 2027-03-08 09:00-2027-03-10 17:15", "span 2027-03-08 09:00-2027-03-08 10:30",
                           "spring 2027-03-14 01:00-2027-03-14 04:00", "usual 2027-03-11 09:00-2027-03-11 09:30"}));

    const auto out = readWithIcalendar(file, "    print(ev['summary'], int(s.timestamp()), int(e.timestamp()))\n");
    if (!out)
        return;
    const auto at = [](QDate d, QTime t) { return QString::number(QDateTime(d, t, kNewYork).toSecsSinceEpoch()); };
    QStringList got = *out;
    got.sort();
    EXPECT_EQ(got, QStringList({"days " + at({2027, 3, 8}, {9, 0}) + u' ' + at({2027, 3, 10}, {17, 15}),
                                "span " + at({2027, 3, 8}, {9, 0}) + u' ' + at({2027, 3, 8}, {10, 30}),
                                "spring " + at({2027, 3, 14}, {1, 0}) + u' ' + at({2027, 3, 14}, {4, 0}),
                                "usual " + at({2027, 3, 11}, {9, 0}) + u' ' + at({2027, 3, 11}, {9, 30})}));
    // 1:00 to 4:00 on the day the clocks spring forward is two hours.
    EXPECT_EQ(at({2027, 3, 14}, {4, 0}).toLongLong() - at({2027, 3, 14}, {1, 0}).toLongLong(), 7200);
}

TEST(ICalendarLength, AllDayEventsComeAndGoAsDatesAndCancelledOnesSaySo)
{
    const QByteArray file = calendarFile(vevent("show", "DTSTART;VALUE=DATE:20270308\r\nDTEND;VALUE=DATE:20270311\r\n") +
                            vevent("holiday", "DTSTART;VALUE=DATE:20270501\r\n") +
                            vevent("week", "DTSTART;VALUE=DATE:20270601\r\nDURATION:P7D\r\n"));
    const ICalendarImport r = readICalendar(file, kNewYork, QDate(2027, 1, 1));
    QStringList got;
    for (const AppointmentRecord& a : r.appointments)
        got << a.brief + u' ' + a.date.toString(Qt::ISODate) + u' ' + a.endDate.toString(Qt::ISODate) +
                   (a.allDay ? QStringLiteral(" all day") : QStringLiteral(" timed")) +
                   (a.problems.isEmpty() ? QString() : QStringLiteral(" problems"));
    EXPECT_EQ(got, QStringList({"show 2027-03-08 2027-03-10 all day", "holiday 2027-05-01 2027-05-01 all day",
                                "week 2027-06-01 2027-06-07 all day"}));

    AppointmentRecord show;
    show.brief = QStringLiteral("Trade show");
    show.date = QDate(2027, 3, 8);
    show.endDate = QDate(2027, 3, 10);
    show.allDay = true;
    show.autoid = 1;
    AppointmentRecord off = show;
    off.autoid = 2;
    off.brief = QStringLiteral("Called off");
    off.allDay = false;
    off.time = QTime(14, 0);
    off.endDate = {};
    off.cancelled = true;
    const QByteArray out = writeICalendar({show, off}, QStringLiteral("db"), kNewYork, QDateTime({2027, 1, 1}, {9, 0}, Qt::UTC));
    EXPECT_TRUE(out.contains("DTSTART;VALUE=DATE:20270308\r\n")) << out.constData();
    EXPECT_TRUE(out.contains("DTEND;VALUE=DATE:20270311\r\n")) << out.constData();
    const ICalendarImport back = readICalendar(out, kNewYork, QDate(2027, 1, 1));
    ASSERT_EQ(back.appointments.size(), 1u); // the cancelled one takes its stored appointment's mark, not a new one
    EXPECT_EQ(back.appointments[0].endDate, QDate(2027, 3, 10));
    EXPECT_TRUE(back.appointments[0].allDay);
    EXPECT_EQ(back.cancelled.size(), 1);

    const auto said = readWithIcalendar(out, "    print(ev['summary'] + '|' + str(s) + '|' + str(e) + '|' + str(ev.get('status', '')))\n");
    if (!said)
        return;
    EXPECT_EQ(*said, QStringList({"Trade show|2027-03-08|2027-03-11|",
                                              "Called off|2027-03-08 14:00:00-05:00|2027-03-08 14:30:00-05:00|CANCELLED"}));
}
