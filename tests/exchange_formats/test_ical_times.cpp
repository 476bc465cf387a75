// The moments in calendar files on the days the clocks change: the one rule for clock times that
// are skipped or come twice, kept alike by the alerts, the export and the import, and checked by
// independent readers; calendars whose repetitions or years would hold or fool the import; and the
// length of events: DTEND and DURATION read into an appointment's end and written back.
#include "calendar/AlertSchedule.h"
#include "data/WallClock.h"
#include "formats/ICalendar.h"
#include "formats/Recurrence.h"
#include "tests/exchange_formats/Samples.h"

#include <QTemporaryDir>

#include <libical/ical.h>

#include <ctime>

using namespace kestrel;

namespace {


// The process's own zone for the duration of a test: what once shifted imported times was
// arithmetic done in it.
class ProcessZone {
public:
    explicit ProcessZone(const char* tz) : had_(qEnvironmentVariableIsSet("TZ")), old_(qgetenv("TZ"))
    {
        qputenv("TZ", tz);
        ::tzset();
    }
    ~ProcessZone()
    {
        if (had_)
            qputenv("TZ", old_);
        else
            qunsetenv("TZ");
        ::tzset();
    }

private:
    bool had_;
    QByteArray old_;
};

QString utc(const QDateTime& t) { return t.toUTC().toString(Qt::ISODate); }

QByteArray event(const QByteArray& uid, const QByteArray& start, const QByteArray& extra = {})
{
    return vevent(uid, "DTSTART" + start + "\r\n" + extra);
}

QString when(const AppointmentRecord& a)
{
    return a.date.toString(Qt::ISODate) + u' ' + a.time.toString(QStringLiteral("HH:mm"));
}

// Each event's start as a moment, by icalendar and by vobject.
const char* const kIcalendarStarts = R"py(
cal = icalendar.Calendar.from_ical(open(sys.argv[1], 'rb').read())
for ev in cal.walk('VEVENT'):
    print(int(ev.decoded('dtstart').timestamp()))
)py";
const char* const kVobjectStarts = R"py(
cal = vobject.readOne(open(sys.argv[1], encoding='utf-8').read())
for ev in cal.vevent_list:
    print(int(ev.dtstart.value.timestamp()))
)py";
// The offset the file's own VTIMEZONE gives at each moment named on the command line's standard input.
const char* const kVobjectOffsets = R"py(
import datetime
cal = vobject.readOne(open(sys.argv[1], encoding='utf-8').read())
tz = cal.vtimezone.gettzinfo()
for line in sys.stdin.read().split():
    at = datetime.datetime.fromtimestamp(int(line), datetime.timezone.utc).astimezone(tz)
    print(int(at.utcoffset().total_seconds()))
)py";

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

TEST(WallClockRule, SkippedTimesComeAfterTheChangeAndDoubledTimesMeanTheirFirstComing)
{
    const struct {
        const QTimeZone& zone;
        QDate day;
        QTime time;
        const char* moment;
        WallClockCase kind;
    } rows[] = {
        {kNewYork, {2027, 3, 14}, {2, 30}, "2027-03-14T07:30:00Z", WallClockCase::Skipped}, // 3:30 EDT
        {kNewYork, {2027, 3, 14}, {10, 0}, "2027-03-14T14:00:00Z", WallClockCase::Plain},
        {kNewYork, {2027, 3, 14}, {1, 30}, "2027-03-14T06:30:00Z", WallClockCase::Plain},
        {kNewYork, {2027, 11, 7}, {1, 30}, "2027-11-07T05:30:00Z", WallClockCase::Doubled}, // 1:30 EDT
        {kNewYork, {2027, 11, 7}, {2, 0}, "2027-11-07T07:00:00Z", WallClockCase::Plain},
        {kBerlin, {2027, 3, 28}, {2, 30}, "2027-03-28T01:30:00Z", WallClockCase::Skipped}, // 3:30 CEST
        {kBerlin, {2027, 10, 31}, {2, 30}, "2027-10-31T00:30:00Z", WallClockCase::Doubled}, // 2:30 CEST
        {kBerlin, {2027, 10, 31}, {3, 0}, "2027-10-31T02:00:00Z", WallClockCase::Plain},
        {kBerlin, {2027, 10, 31}, {23, 30}, "2027-10-31T22:30:00Z", WallClockCase::Plain},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.zone.id().toStdString() + ' ' + r.day.toString(Qt::ISODate).toStdString() + ' ' +
                     r.time.toString().toStdString());
        EXPECT_EQ(utc(wallClockMoment(r.day, r.time, r.zone)), QString::fromLatin1(r.moment));
        EXPECT_EQ(wallClockCase(r.day, r.time, r.zone), r.kind);
        // The alerts keep to it.
        EXPECT_EQ(utc(AlertSchedule(r.zone).startOf(r.day, r.time)), QString::fromLatin1(r.moment));
    }
}

TEST(ICalendarTimes, ImportedEventsKeepTheirClockTimeOnTheDaysTheClocksChange)
{
    // A zone the file names without describing it (libical's own), one the file describes, a
    // moment in UTC and a floating time, on both days each zone changes its clocks; read in a
    // process whose own zone is the user's.
    const QByteArray sampleFile = sample("calendars.ics");
    const qsizetype from = sampleFile.indexOf("BEGIN:VTIMEZONE"), to = sampleFile.indexOf("END:VTIMEZONE");
    ASSERT_TRUE(from >= 0 && to > from);
    const QByteArray vtimezone = sampleFile.mid(from, to - from) + "END:VTIMEZONE\r\n";
    for (const auto& [zone, spring, fall] : {std::tuple{kNewYork, QByteArray("20270314"), QByteArray("20271107")},
                                             std::tuple{kBerlin, QByteArray("20270328"), QByteArray("20271031")}}) {
        SCOPED_TRACE(zone.id().toStdString());
        const ProcessZone process(zone.id().constData());
        const QByteArray tzid = zone.id();
        QByteArray events;
        for (const QByteArray& day : {spring, fall}) {
            events += event("named-" + day, ";TZID=" + tzid + ':' + day + "T100000");
            events += event("floating-" + day, ':' + day + "T093000");
            events += event("utc-" + day, ':' + day + "T120000Z");
        }
        // A zone described in the file under a name of its own (as Outlook writes them).
        QByteArray own = vtimezone;
        own.replace("TZID:America/New_York", "TZID:Eastern Standard Time");
        events += event("described-20270314", ";TZID=Eastern Standard Time:20270314T100000");
        const ICalendarImport r = readICalendar(calendarFile(own + events), zone, QDate(2027, 1, 1));
        QStringList got;
        for (const AppointmentRecord& a : r.appointments)
            got << a.uid + u' ' + when(a);
        got.sort();
        const QString s = QString::fromLatin1(spring.left(4) + '-' + spring.mid(4, 2) + '-' + spring.mid(6));
        const QString f = QString::fromLatin1(fall.left(4) + '-' + fall.mid(4, 2) + '-' + fall.mid(6));
        const bool ny = zone == kNewYork;
        EXPECT_EQ(got, QStringList({"described-20270314 2027-03-14 " + QString(ny ? "10:00" : "15:00"),
                                    "floating-" + spring + ' ' + s + " 09:30", "floating-" + fall + ' ' + f + " 09:30",
                                    "named-" + spring + ' ' + s + " 10:00", "named-" + fall + ' ' + f + " 10:00",
                                    "utc-" + spring + ' ' + s + (ny ? " 08:00" : " 14:00"),
                                    "utc-" + fall + ' ' + f + (ny ? " 07:00" : " 13:00")}));
        EXPECT_TRUE(r.problems.isEmpty()) << r.problems.join(u'|').toStdString();
    }
}

TEST(ICalendarTimes, ExportsNameOneMomentThatAlertsImportAndOtherReadersAgreeOn)
{
    for (const auto& [zone, spring, fall, doubled] :
         {std::tuple{kNewYork, QDate(2027, 3, 14), QDate(2027, 11, 7), QTime(1, 30)},
          std::tuple{kBerlin, QDate(2027, 3, 28), QDate(2027, 10, 31), QTime(2, 30)}}) {
        SCOPED_TRACE(zone.id().toStdString());
        const ProcessZone process(zone.id().constData());
        const std::vector<AppointmentRecord> appts = {appt("1", spring, {2, 30}, {}, {}, 1), appt("2", spring, {10, 0}, {}, {}, 2),
                                                      appt("3", fall, doubled, {}, {}, 3), appt("4", fall, {10, 0}, {}, {}, 4),
                                                      appt("5", fall, doubled.addSecs(3600), {}, {}, 5)};
        const QByteArray file = writeICalendar(appts, QStringLiteral("db"), zone, QDateTime({2027, 1, 1}, {9, 0}, Qt::UTC));
        QStringList expected, expectedBack;
        for (const AppointmentRecord& a : appts) {
            const QDateTime moment = AlertSchedule(zone).startOf(a.date, a.time);
            expected << QString::number(moment.toSecsSinceEpoch());
            expectedBack << when({.date = moment.date(), .time = moment.time()});
        }
        // No clock time that the zone skips is written: 2:30 on the spring day is 3:30.
        EXPECT_FALSE(file.contains(spring.toString("yyyyMMdd").toLatin1() + "T023000")) << file.constData();

        // libical, through the file's own VTIMEZONE.
        icalcomponent* cal = icalparser_parse_string(file.constData());
        ASSERT_TRUE(cal);
        QStringList libical;
        for (icalcomponent* ev = icalcomponent_get_first_component(cal, ICAL_VEVENT_COMPONENT); ev;
             ev = icalcomponent_get_next_component(cal, ICAL_VEVENT_COMPONENT)) {
            const icaltimetype t = icalcomponent_get_dtstart(ev);
            libical << QString::number(icaltime_as_timet_with_zone(t, t.zone ? t.zone : icaltimezone_get_utc_timezone()));
        }
        icalcomponent_free(cal);
        EXPECT_EQ(libical, expected);

        // Kestrel's own import gives the same moments back as clock times.
        const ICalendarImport back = readICalendar(file, zone, QDate(2027, 1, 1));
        QStringList got;
        for (const AppointmentRecord& a : back.appointments)
            got << when(a);
        expectedBack.sort();
        EXPECT_EQ(got, expectedBack);

        for (const auto& [module, script] : {std::pair{"icalendar", kIcalendarStarts}, std::pair{"vobject", kVobjectStarts}})
            if (const auto read = kestrel::test::pythonReads(module, QString::fromLatin1(script), file)) {
                EXPECT_EQ(*read, expected) << module;
            }
    }
}

TEST(ICalendarTimes, TheExportedTimeZoneGivesTheOldOffsetUpToEachChangeAndTheNewOneFromIt)
{
    for (const QTimeZone& zone : {kNewYork, kBerlin}) {
        SCOPED_TRACE(zone.id().toStdString());
        const QByteArray file = writeICalendar({appt("1", {2026, 6, 1}, {9, 0}, {}, {}, 1), appt("2", {2028, 6, 1}, {9, 0}, {}, {}, 2)}, "db", zone,
                                               QDateTime({2027, 1, 1}, {9, 0}, Qt::UTC));
        // Around every change of the years exported: an hour and a second before it, the moment
        // itself and an hour after it.
        QStringList moments, expected;
        for (const QTimeZone::OffsetData& t : zone.transitions(QDateTime({2026, 1, 1}, {0, 0}, Qt::UTC),
                                                               QDateTime({2028, 12, 31}, {0, 0}, Qt::UTC))) {
            const qint64 at = t.atUtc.toSecsSinceEpoch();
            const int before = zone.offsetFromUtc(t.atUtc.addSecs(-1));
            for (const auto& [delta, offset] : {std::pair{-3600, before}, std::pair{-1, before},
                                                std::pair{0, t.offsetFromUtc}, std::pair{3600, t.offsetFromUtc}}) {
                moments << QString::number(at + delta);
                expected << QString::number(offset);
            }
        }
        ASSERT_EQ(moments.size(), 6 * 4);

        icalcomponent* cal = icalparser_parse_string(file.constData());
        ASSERT_TRUE(cal);
        icaltimezone* own = icalcomponent_get_timezone(cal, zone.id().constData());
        ASSERT_TRUE(own);
        QStringList libical;
        for (const QString& m : moments) {
            icaltimetype t = icaltime_from_timet_with_zone(time_t(m.toLongLong()), 0, icaltimezone_get_utc_timezone());
            int daylight = 0;
            libical << QString::number(icaltimezone_get_utc_offset_of_utc_time(own, &t, &daylight));
        }
        icalcomponent_free(cal);
        EXPECT_EQ(libical, expected);

        // vobject builds its own zone from the VTIMEZONE.
        QTemporaryDir tmp;
        const QString path = kestrel::test::writeBytes(tmp.filePath("moments.txt"), moments.join(u'\n').toLatin1());
        if (const auto read = kestrel::test::pythonReads("vobject", QStringLiteral("sys.stdin = open('%1')\n").arg(path) + kVobjectOffsets, file)) {
            EXPECT_EQ(*read, expected);
        }
    }
}

TEST(ICalendarRead, ARuleKestrelCannotFollowIsKeptAsOneAppointmentAndNamed)
{
    const QByteArray file = calendarFile(
        event("seconds", ":20261204T090000Z", "RRULE:FREQ=SECONDLY\r\n") +
        event("minutes", ":19900101T090000Z", "RRULE:FREQ=MINUTELY;COUNT=1000000000\r\n") +
        event("thrice", ":20261204T090000Z", "RRULE:FREQ=DAILY;BYHOUR=9,12,15\r\n") +
        event("listed", ":20261204T090000Z", "RDATE:20261210T090000Z\r\n") +
        event("many", ":20261204T090000Z", "RRULE:FREQ=DAILY;COUNT=5000\r\n") +
        // daily since 1900 and still going: a series, never walked to today
        event("daily", ":19000101T090000Z", "RRULE:FREQ=DAILY\r\n") +
        // an until moment becomes the clock time here, so the day it falls on early counts no more
        event("until", ":20261207T090000Z", "RRULE:FREQ=DAILY;UNTIL=20261210T000000Z\r\n") +
        // Monday 11:00 PM in UTC is Tuesday in Berlin: its Mondays would become Tuesdays
        event("monday", ":20261207T230000Z", "RRULE:FREQ=WEEKLY;BYDAY=MO\r\n"));
    const ICalendarImport r = readICalendar(file, kBerlin, QDate(2026, 12, 4));
    QStringList got;
    for (const AppointmentRecord& a : r.appointments)
        got << a.uid + u' ' + when(a) + u' ' + a.rrule;
    EXPECT_EQ(got, QStringList({"daily 1900-01-01 10:00 FREQ=DAILY", "minutes 1990-01-01 10:00 ", "listed 2026-12-04 10:00 ",
                                "many 2026-12-04 10:00 ", "seconds 2026-12-04 10:00 ", "thrice 2026-12-04 10:00 ",
                                "until 2026-12-07 10:00 FREQ=DAILY;UNTIL=20261210T010000", "monday 2026-12-08 00:00 "}));
    const QString kept = QStringLiteral("\"%1\" repeats in a way Kestrel cannot follow. %2 It was kept as a single appointment on %3.");
    EXPECT_EQ(r.problems, QStringList({kept.arg("seconds", "It repeats more than once a day.", "12/4/2026"),
                                       kept.arg("minutes", "It repeats more than once a day.", "1/1/1990"),
                                       kept.arg("thrice", "It repeats more than once a day.", "12/4/2026"),
                                       kept.arg("listed", "It names its days by a list or by more than one rule.", "12/4/2026"),
                                       kept.arg("many", "An appointment may repeat at most 1000 times; this one says 5000.",
                                                "12/4/2026"),
                                       kept.arg("monday", "Its days are counted in a time zone where it falls on another "
                                                          "day than here.", "12/8/2026")}));
    EXPECT_EQ(std::pair(r.recurring, r.series), std::pair(8, 2));
    const AppointmentRecord& until = r.appointments[6];
    EXPECT_EQ(occurrenceDays(until.rrule, until.date, until.time, until.date, until.date.addDays(30)),
              (std::vector<QDate>{QDate(2026, 12, 7), QDate(2026, 12, 8), QDate(2026, 12, 9)}));
}

TEST(ICalendarRead, EventsOutsideTheYears1900To2200AreLeftOutAndNamed)
{
    const QByteArray file = calendarFile(event("year-1", ":00010101T100000Z") + event("year-9999", ":99991231T100000") +
                                     event("year-1899", ";VALUE=DATE:18991231") + event("year-2201", ":22010101T000000Z") +
                                     event("first", ":19000101T100000") + event("last", ":22001231T100000") +
                                     // the year 2200 in UTC is already 2201 in Berlin
                                     event("late", ":22001231T233000Z"));
    const ICalendarImport r = readICalendar(file, kBerlin, QDate(2026, 12, 4));
    QStringList got;
    for (const AppointmentRecord& a : r.appointments)
        got << a.uid + u' ' + when(a);
    EXPECT_EQ(got, QStringList({"first 1900-01-01 10:00", "last 2200-12-31 10:00"}));
    EXPECT_EQ(r.problems, QStringList({"event 1 (year-1) on 1/1/1 lies outside the years 1900 to 2200 and was left out",
                                       "event 2 (year-9999) on 12/31/9999 lies outside the years 1900 to 2200 and was left out",
                                       "event 3 (year-1899) on 12/31/1899 lies outside the years 1900 to 2200 and was left out",
                                       "event 4 (year-2201) on 1/1/2201 lies outside the years 1900 to 2200 and was left out",
                                       "event 7 (late) on 1/1/2201 lies outside the years 1900 to 2200 and was left out"}));
}

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

    const AppointmentRecord show{.brief = "Trade show", .date = {2027, 3, 8}, .endDate = {2027, 3, 10}, .allDay = true, .autoid = 1};
    const AppointmentRecord off{.brief = "Called off", .date = {2027, 3, 8}, .time = {14, 0}, .cancelled = true, .autoid = 2};
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
