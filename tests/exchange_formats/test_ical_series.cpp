// Series as other calendars read and write them: Kestrel's export read by Python's icalendar, and
// a file Python wrote brought in and written out again.
#include "data/Globals.h"
#include "data/Trash.h"
#include "formats/ICalendar.h"
#include "tests/exchange_formats/Samples.h"
#include "tests/support/Fixture.h"

#include <gtest/gtest.h>

using namespace kestrel;

namespace {


// Each event of the file as one line: summary, start, end, rule, days left out, the summary of
// the series it changes a day of and that day, status. Times as New York's clock shows them.
const char* const kEventLines = R"py(
import sys, icalendar, datetime
from zoneinfo import ZoneInfo
ny = ZoneInfo('America/New_York')
def t(v):
    v = getattr(v, 'dt', v)
    if isinstance(v, datetime.datetime) and v.tzinfo:
        v = v.astimezone(ny).replace(tzinfo=None)
    return v.isoformat()
def listed(ev, name):
    v = ev.get(name)
    return [] if v is None else v if isinstance(v, list) else [v]
cal = icalendar.Calendar.from_ical(open(sys.argv[1], 'rb').read())
events = list(cal.walk('VEVENT'))
masters = {str(e['uid']): str(e['summary']) for e in events if 'RECURRENCE-ID' not in e}
out = []
for ev in events:
    s = ev.decoded('dtstart')
    e = ev.decoded('dtend') if 'DTEND' in ev else s + ev.decoded('duration')
    rule = ''
    if 'RRULE' in ev:
        r = ev['rrule']
        rule = ';'.join(k + '=' + ','.join(t(x) if k == 'UNTIL' else str(x) for x in r[k]) for k in sorted(r))
    ex = sorted(t(d) for p in listed(ev, 'exdate') for d in p.dts)
    rid = masters.get(str(ev['uid']), '?') + '@' + t(ev.decoded('recurrence-id')) if 'RECURRENCE-ID' in ev else ''
    out.append(' | '.join([str(ev['summary']), t(s), t(e), rule, ','.join(ex), rid, str(ev.get('status', ''))]))
print('\n'.join(sorted(out)))
)py";

std::optional<QStringList> eventLines(const QByteArray& file)
{
    return kestrel::test::pythonReads("icalendar", QString::fromUtf8(kEventLines), file);
}

} // namespace

class ICalendarSeriesTest : public kestrel::test::KestrelTest {};

TEST_F(ICalendarSeriesTest, PythonsIcalendarReadsKestrelsSeriesWithTheirRulesDaysLeftOutAndChangedDays)
{
    // Tuesdays and Thursdays across the March clock change, the 16th left out, the 18th moved to
    // the 19th and the 25th cancelled; a trade show of three whole days; Feb 29 every leap year.
    AppointmentRecord call = appt("Call", {2027, 3, 2}, {9, 0}, {2027, 3, 2}, {10, 30}, 1);
    call.rrule = QStringLiteral("FREQ=WEEKLY;BYDAY=TU,TH;COUNT=10");
    call.exdates = {QDate(2027, 3, 16), QDate(2027, 3, 18), QDate(2027, 3, 25)};
    AppointmentRecord moved = appt("Call (moved)", {2027, 3, 19}, {15, 0}, {2027, 3, 19}, {15, 30}, 2);
    moved.seriesId = 1;
    moved.recurrenceDate = QDate(2027, 3, 18);
    AppointmentRecord off = appt("Call", {2027, 3, 25}, {9, 0}, {2027, 3, 25}, {10, 30}, 3);
    off.seriesId = 1;
    off.recurrenceDate = QDate(2027, 3, 25);
    off.cancelled = true;
    AppointmentRecord show = appt("Trade show", {2027, 3, 8}, {}, {2027, 3, 10}, {}, 4);
    show.allDay = true;
    AppointmentRecord leap = appt("Leap day", {2028, 2, 29}, {}, {2028, 2, 29}, {}, 5);
    leap.allDay = true;
    leap.rrule = QStringLiteral("FREQ=YEARLY;UNTIL=20360229");
    leap.exdates = {QDate(2032, 2, 29)};
    AppointmentRecord monthly = appt("Review", {2027, 1, 12}, {16, 0}, {2027, 1, 12}, {16, 45}, 6);
    monthly.rrule = QStringLiteral("FREQ=MONTHLY;BYDAY=2TU;UNTIL=20271231T235959");
    const QByteArray file =
        writeICalendar({call, moved, off, show, leap, monthly}, "db", kNewYork, QDateTime({2027, 1, 1}, {9, 0}, Qt::UTC));

    if (const auto lines = eventLines(file)) {
        EXPECT_EQ(*lines,
                  QStringList({"Call (moved) | 2027-03-19T15:00:00 | 2027-03-19T15:30:00 |  |  | Call@2027-03-18T09:00:00 | ",
                               "Call | 2027-03-02T09:00:00 | 2027-03-02T10:30:00 | BYDAY=TU,TH;COUNT=10;FREQ=WEEKLY | "
                               "2027-03-16T09:00:00 |  | ",
                               "Call | 2027-03-25T09:00:00 | 2027-03-25T10:30:00 |  |  | Call@2027-03-25T09:00:00 | CANCELLED",
                               "Leap day | 2028-02-29 | 2028-03-01 | FREQ=YEARLY;UNTIL=2036-02-29 | 2032-02-29 |  | ",
                               "Review | 2027-01-12T16:00:00 | 2027-01-12T16:45:00 | BYDAY=2TU;FREQ=MONTHLY;"
                               "UNTIL=2027-12-31T23:59:59 |  |  | ",
                               "Trade show | 2027-03-08 | 2027-03-11 |  |  |  |"}));
    }

    // Read back by Kestrel and stored: the same series, days left out and rows, on either engine.
    const ICalendarImport back = readICalendar(file, kNewYork, QDate(2027, 1, 1));
    EXPECT_EQ(std::pair(back.series, int(back.problems.size())), std::pair(3, 0)) << back.problems.join(u'\n').toStdString();
    storeAppointments(sConnContacts, back.appointments, back.cancelled);
    EXPECT_EQ(rows(sConnContacts, "select apptbrief,rrule,exdates,recurrence_date,cancelled from appointments "
                                  "where rrule is not null or series_id is not null order by apptbrief,apptdate"),
              (std::vector<QStringList>{
                  {"Call", "FREQ=WEEKLY;COUNT=10;BYDAY=TU,TH", "2027-03-16,2027-03-18,2027-03-25", "<null>", "False"},
                  {"Call", "<null>", "<null>", "3/25/2027", "True"},
                  {"Call (moved)", "<null>", "<null>", "3/18/2027", "False"},
                  {"Leap day", "FREQ=YEARLY;UNTIL=20360229", "2032-02-29", "<null>", "False"},
                  {"Review", "FREQ=MONTHLY;UNTIL=20271231T235959;BYDAY=2TU", "<null>", "<null>", "False"}}));
}

TEST_F(ICalendarSeriesTest, AFileWrittenByPythonComesBackFromKestrelWithTheSameEvents)
{
    const auto lines = kestrel::test::pythonReads("icalendar", R"py(
import datetime
D, T = datetime.date, datetime.datetime
cal = icalendar.Calendar()
cal.add('prodid', '-//Python//EN'); cal.add('version', '2.0')
def event(uid, summary, start, end=None, **more):
    ev = icalendar.Event()
    ev.add('uid', uid); ev.add('dtstamp', T(2027, 1, 1, 9, 0, tzinfo=datetime.timezone.utc))
    ev.add('summary', summary); ev.add('dtstart', start)
    if end: ev.add('dtend', end)
    for k, v in more.items(): ev.add(k.replace('_', '-'), v)
    cal.add_component(ev)
event('call', 'Call', T(2027, 3, 2, 9), T(2027, 3, 2, 10, 30), rrule={'FREQ': 'WEEKLY', 'BYDAY': ['TU', 'TH'], 'COUNT': 10},
      exdate=[T(2027, 3, 16, 9)])
event('call', 'Call (moved)', T(2027, 3, 19, 15), T(2027, 3, 19, 15, 30), recurrence_id=T(2027, 3, 18, 9))
event('call', 'Call', T(2027, 3, 25, 9), T(2027, 3, 25, 10, 30), recurrence_id=T(2027, 3, 25, 9), status='CANCELLED')
event('show', 'Trade show', D(2027, 3, 8), D(2027, 3, 11))
event('leap', 'Leap day', D(2028, 2, 29), D(2028, 3, 1), rrule={'FREQ': 'YEARLY', 'UNTIL': D(2036, 2, 29)}, exdate=[D(2032, 2, 29)])
event('review', 'Review', T(2027, 1, 12, 16), None, duration=datetime.timedelta(minutes=45),
      rrule={'FREQ': 'MONTHLY', 'BYDAY': '2TU', 'UNTIL': T(2027, 12, 31, 23, 59, 59)})
print(cal.to_ical().decode(), end='')
)py", QByteArray());
    if (!lines)
        return;
    const QByteArray written = lines->join(u'\n').toUtf8();
    const ICalendarImport read = readICalendar(written, kNewYork, QDate(2027, 1, 1));
    EXPECT_TRUE(read.problems.isEmpty()) << read.problems.join(u'\n').toStdString();
    storeAppointments(sConnContacts, read.appointments, read.cancelled);
    const QByteArray again = writeICalendar(readAppointments(sConnContacts, QDate(1900, 1, 1), QDate(2200, 12, 31)),
                                            databaseIdentity(sConnContacts), kNewYork, QDateTime({2027, 1, 1}, {9, 0}, Qt::UTC));
    const auto before = eventLines(written);
    ASSERT_TRUE(before);
    EXPECT_EQ(before->size(), 6);
    EXPECT_EQ(eventLines(again), before);
}

TEST_F(ICalendarSeriesTest, AnInvitationImportedBeforeSeriesWereKeptIsFoldedIntoOneSeriesWhenImportedAgain)
{
    // Four Tuesdays at 9:00 AM, the 16th moved to the 17th; an older Kestrel stored a row per day,
    // each under the event's key and its start in UTC (New York's clocks change on the 14th).
    AppointmentRecord call = appt("Call", {2027, 3, 2}, {9, 0}, {2027, 3, 2}, {10, 0}, 1);
    call.uid = QStringLiteral("call@example.com");
    call.rrule = QStringLiteral("FREQ=WEEKLY;COUNT=4");
    call.exdates = {QDate(2027, 3, 16)};
    AppointmentRecord moved = appt("Call (moved)", {2027, 3, 17}, {15, 0}, {2027, 3, 17}, {16, 0}, 2);
    moved.seriesId = 1;
    moved.recurrenceDate = QDate(2027, 3, 16);
    const QByteArray file = writeICalendar({call, moved}, "db", kNewYork, QDateTime({2027, 1, 1}, {9, 0}, Qt::UTC));
    databaseIdentity(sConnContacts);
    int id = 0;
    for (const auto& [day, time, brief, utc] :
         {std::tuple{"3/2/2027", "9:00 AM", "Call", "20270302T140000Z"}, {"3/9/2027", "9:00 AM", "Call", "20270309T140000Z"},
          {"3/17/2027", "3:00 PM", "Call (moved)", "20270316T130000Z"}, {"3/23/2027", "9:00 AM", "Call", "20270323T130000Z"}}) {
        exec(sConnContacts, QStringLiteral("insert into appointments(apptdate,appttime,apptbrief) values(#%1#,#%2#,'%3')")
                                .arg(QLatin1String(day), QLatin1String(time), QLatin1String(brief)));
        exec(sConnContacts, QStringLiteral("insert into ical_uids(uid,autoid) values('call@example.com/%1',%2)")
                                .arg(QLatin1String(utc))
                                .arg(++id));
    }
    // Imported again, twice: one series and the moved day's row, the other days' rows in the trash.
    for (int time = 0; time < 2; ++time) {
        const ICalendarImport read = readICalendar(file, kNewYork, QDate(2027, 1, 1));
        storeAppointments(sConnContacts, read.appointments, read.cancelled);
        EXPECT_EQ(rows(sConnContacts, "select autoid,apptdate,apptbrief,rrule,exdates,series_id,recurrence_date from "
                                      "appointments order by autoid"),
                  (std::vector<QStringList>{{"1", "3/2/2027", "Call", "FREQ=WEEKLY;COUNT=4", "2027-03-16", "<null>", "<null>"},
                                            {"3", "3/17/2027", "Call (moved)", "<null>", "<null>", "1", "3/16/2027"}}))
            << "import " << time + 1;
        EXPECT_EQ(listTrash(sConnContacts).size(), 2u);
    }
}
