// Calendar files written for other calendar programs and read from them.
#include "data/Globals.h"
#include "data/WallClock.h"
#include "formats/ICalendar.h"
#include "tests/support/Fixture.h"
#include "tests/exchange_formats/Samples.h"

#include <QFile>
#include <QStringDecoder>

#include <libical/ical.h>

#include <gtest/gtest.h>

using namespace kestrel;

namespace {

const QDate kToday(2026, 12, 4);

std::vector<AppointmentRecord> sampleAppts()
{
    return {{.name = "Ann O'Lee", .address = "Room 5, 2nd floor", .brief = "Review; \"Q3\", O'Neil's \\ part",
             .notes = "Bring\nslides 😀", .date = {2026, 7, 1}, .time = {9, 30}, .autoid = 7},
            {.name = "Bob", .brief = QString(50, u'é'), .date = {2026, 12, 24}, .time = {23, 30}, .autoid = 8},
            // the night the clocks go back: 2:30 comes twice, the first (summer) one is meant
            {.name = "Cy", .address = "Dock", .brief = "Early", .notes = "Line one\nLine two", .date = {2026, 10, 25},
             .time = {2, 30}, .autoid = 9}};
}

QString str(const char* s) { return QString::fromUtf8(s ? s : ""); }

} // namespace

TEST(ICalendarWrite, EventsAreValidAndReadBackAtTheirTimes)
{
    const auto appts = sampleAppts();
    const QByteArray file = writeICalendar(appts, "db-1", kBerlin, QDateTime({2026, 12, 4}, {9, 0}, Qt::UTC));
    for (const QByteArray& line : file.split('\n')) {
        EXPECT_LE(line.size(), 76) << line.constData(); // 75 octets and the CR
        QStringDecoder utf8(QStringDecoder::Utf8);
        (void)utf8.decode(line);
        EXPECT_FALSE(utf8.hasError()) << "a fold split a character: " << line.constData();
    }

    icalcomponent* cal = icalparser_parse_string(file.constData());
    ASSERT_TRUE(cal);
    icalcomponent* tz = icalcomponent_get_first_component(cal, ICAL_VTIMEZONE_COMPONENT);
    ASSERT_TRUE(tz);
    EXPECT_EQ(str(icalproperty_get_tzid(icalcomponent_get_first_property(tz, ICAL_TZID_PROPERTY))), "Europe/Berlin");
    size_t i = 0;
    for (icalcomponent* ev = icalcomponent_get_first_component(cal, ICAL_VEVENT_COMPONENT); ev;
         ev = icalcomponent_get_next_component(cal, ICAL_VEVENT_COMPONENT), ++i) {
        ASSERT_LT(i, appts.size());
        const AppointmentRecord& a = appts[i];
        EXPECT_EQ(str(icalcomponent_get_uid(ev)), appointmentUid("db-1", a.autoid));
        const icaltimetype start = icalcomponent_get_dtstart(ev);
        ASSERT_TRUE(start.zone) << "the time zone of the file was not found";
        EXPECT_EQ(icaltime_is_utc(start), i == 2) << "event " << i;
        // The instant libical computes from our VTIMEZONE (or from UTC, for the doubled 2:30) is
        // the one the alerts keep to.
        EXPECT_EQ(qint64(icaltime_as_timet_with_zone(start, start.zone)),
                  wallClockMoment(a.date, a.time, kBerlin).toSecsSinceEpoch())
            << "event " << i;
        EXPECT_EQ(icaldurationtype_as_int(icalcomponent_get_duration(ev)), 30 * 60);
        EXPECT_EQ(str(icalcomponent_get_summary(ev)), a.brief);
    }
    EXPECT_EQ(i, appts.size());
    icalcomponent_free(cal);

    // And our own reader gives the appointments back, keyed so that a new import updates them.
    const ICalendarImport back = readICalendar(file, kBerlin, kToday);
    ASSERT_EQ(back.appointments.size(), appts.size());
    for (const AppointmentRecord& a : appts) {
        const auto it = std::find_if(back.appointments.begin(), back.appointments.end(),
                                     [&](const AppointmentRecord& b) { return b.uid == appointmentUid("db-1", a.autoid); });
        ASSERT_NE(it, back.appointments.end());
        EXPECT_EQ(QStringList({it->name, it->address, it->brief, it->notes}), QStringList({a.name, a.address, a.brief, a.notes}));
        EXPECT_EQ(QDateTime(it->date, it->time), QDateTime(a.date, a.time));
        EXPECT_TRUE(it->problems.isEmpty()) << it->problems.join(u'|').toStdString();
    }
}

TEST(ICalendarRead, EventsOfOtherCalendarsBecomeAppointmentsAndASeriesComesOnceWithItsChangedDay)
{
    const ICalendarImport r = readICalendar(sample("calendars.ics"), kBerlin, kToday);
    EXPECT_EQ(r.events, 7);
    EXPECT_EQ(std::pair(r.recurring, r.series), std::pair(1, 1));
    ASSERT_EQ(r.problems.size(), 1);
    EXPECT_TRUE(r.problems[0].contains("No start")) << r.problems[0].toStdString();

    // date time | brief | where | name | notes | problems | rule | days left out | series and day replaced
    QStringList got;
    for (const AppointmentRecord& a : r.appointments) {
        QStringList out;
        for (const QDate& d : a.exdates)
            out << d.toString(Qt::ISODate);
        got += QStringList{a.date.toString(Qt::ISODate) + ' ' + a.time.toString("HH:mm"), a.brief, a.address, a.name,
                           a.notes, a.problems.join(u'|'), a.rrule, out.join(u','),
                           a.seriesUid + ' ' + a.recurrenceDate.toString(Qt::ISODate)}
                   .join(" / ");
    }
    EXPECT_EQ(got, QStringList({"2026-12-07 16:00 / Weekly call /  / Ann Lee /  /  / FREQ=WEEKLY;COUNT=10 / 2026-12-21 /  ",
                                "2026-12-14 17:30 / Weekly call (moved) /  / Ann Lee /  /  /  /  / weekly-1@example.com 2026-12-14",
                                "2027-01-15 15:00 / Annual Employee Review / Conference Room - F123, Bldg. 002 / Dana Scully / "
                                "Bring the\nfigures /  /  /  /  ",
                                "2027-03-01 09:00 / A very long title that no appointment line could e /  / Walter Skinner /  / "
                                "summary cut to 50 characters, left out: ver hold whole|time 9:10:00 AM rounded to 9:00 AM /  /  /  ",
                                "2027-04-10 15:00 / Floating lunch /  /  /  / no organizer or attendee: name left empty|time 2:45:00 PM "
                                "rounded to 3:00 PM /  /  /  ",
                                "2027-05-01 00:00 / Holiday /  / boss@example.com /  /  /  /  /  "}));
}

TEST(ICalendarRead, GarbageGivesAProblemNotACrash)
{
    for (const QByteArray& bytes : {QByteArray(), QByteArray("not a calendar"), QByteArray("BEGIN:VCALENDAR\r\nBEGIN:VEVENT\r\n")}) {
        const ICalendarImport r = readICalendar(bytes, kBerlin, kToday);
        EXPECT_TRUE(r.appointments.empty());
    }
}

class ICalendarStoreTest : public kestrel::test::KestrelTest {};

TEST_F(ICalendarStoreTest, ImportingAgainUpdatesInsteadOfDuplicating)
{
    addAppt({2026, 12, 10}, {9, 30}, "Review", "Ann Lee", "Main office");
    addAppt({2026, 12, 11}, {14, 0}, "Demo", "Bob Roe", "");
    const QString id = databaseIdentity(sConnContacts);
    EXPECT_EQ(databaseIdentity(sConnContacts), id) << "the identity is made once";
    const QByteArray own = writeICalendar(readAppointments(sConnContacts, {2026, 12, 1}, {2026, 12, 31}), id, kBerlin,
                                          QDateTime::currentDateTimeUtc());
    ApptStoreResult s = storeAppointments(sConnContacts, readICalendar(own, kBerlin, kToday).appointments);
    EXPECT_EQ(std::pair(s.inserted, s.updated), std::pair(0, 2));

    QByteArray other = sample("calendars.ics");
    s = storeAppointments(sConnContacts, readICalendar(other, kBerlin, kToday).appointments);
    EXPECT_EQ(std::pair(s.inserted, s.updated), std::pair(6, 0));
    other.replace("SUMMARY:Annual Employee Review", "SUMMARY:Review moved");
    s = storeAppointments(sConnContacts, readICalendar(other, kBerlin, kToday).appointments);
    EXPECT_EQ(std::pair(s.inserted, s.updated), std::pair(0, 6));
    EXPECT_EQ(rows(sConnContacts, "select count(*) from appointments")[0][0], "8");
    // The weekly call is one series; its moved day a row of it, the day left out of the series.
    EXPECT_EQ(rows(sConnContacts, "select s.rrule,s.exdates,m.recurrence_date,m.appttime from appointments s "
                                  "join appointments m on m.series_id=s.autoid"),
              std::vector<QStringList>{QStringList({"FREQ=WEEKLY;COUNT=10", "2026-12-14,2026-12-21", "12/14/2026", "5:30:00 PM"})});
    EXPECT_EQ(rows(sConnContacts, "select apptbrief,name from appointments where apptdate=#1/15/2027#"),
              std::vector<QStringList>{QStringList({"Review moved", "Dana Scully"})});
}
