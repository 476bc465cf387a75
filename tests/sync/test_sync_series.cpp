// A repeating appointment travels whole: one calendar resource with its length, its rule, the days
// it leaves out and its days changed on their own, read back so by another client (Python's
// icalendar), and a day another client changes on the server comes down into the series.
#include "tests/sync/SyncTest.h"
#include "tests/support/PrintQString.h"
#include "sync/SyncWords.h"

namespace kestrel::test {
namespace {

class SyncSeries : public SyncTest {};

TEST_F(SyncSeries, AWeeklySeriesWithAMovedAndADeletedDayTravelsWholeBothWays)
{
    // Tuesdays at 9:00 AM for an hour, six times from March 2, 2027 (New York's clocks change on the
    // 14th): the 9th moved to Wednesday 2:00 PM, the 16th deleted. Beside it a cancelled trade show
    // of three whole days.
    exec(sConnContacts, "INSERT into appointments(name,apptdate,appttime,endtime,apptbrief,rrule,exdates) values("
                        "'Ann Lee',#3/2/2027#,#9:00 AM#,#10:00 AM#,'Call','FREQ=WEEKLY;COUNT=6;BYDAY=TU','2027-03-09,2027-03-16')");
    const QString series = rows(sConnContacts, "select autoid from appointments")[0][0];
    exec(sConnContacts, QStringLiteral("INSERT into appointments(name,apptdate,appttime,endtime,apptbrief,series_id,"
                                       "recurrence_date) values('Ann Lee',#3/10/2027#,#2:00 PM#,#3:00 PM#,'Call (moved)',%1,"
                                       "#3/9/2027#)").arg(series));
    exec(sConnContacts, "INSERT into appointments(apptdate,appttime,enddate,allday,cancelled,apptbrief) values("
                        "#3/15/2027#,#12:00 AM#,#3/17/2027#,True,True,'Trade show')");
    sync::Report r = sync();
    ASSERT_EQ(int(r.outcome), int(sync::Outcome::Synced)) << r.detail.toStdString();
    EXPECT_EQ(r.sentOut, 2);
    const auto items = listed(calendar);
    ASSERT_EQ(items.size(), 2); // the moved day is in its series' resource
    QString href, show;
    for (const QString& h : items.keys()) {
        const QString events = phone({"events", h}, false);
        if (events == QLatin1String("icalendar is not installed"))
            GTEST_SKIP() << "Python's icalendar is not installed (Debian's python3-icalendar)";
        (events.contains(QLatin1String("Call")) ? href : show) = h;
    }
    EXPECT_EQ(phone({"events", href}), "series|2027-03-02 09:00|2027-03-02 10:00|FREQ=WEEKLY;COUNT=6;BYDAY=TU|2027-03-16||Call\n"
                                       "2027-03-09 09:00|2027-03-10 14:00|2027-03-10 15:00||||Call (moved)");
    EXPECT_EQ(phone({"events", show}), "series|2027-03-15|2027-03-18|||CANCELLED|Trade show");
    // What went up reads back as it is here: nothing to do either way.
    r = sync();
    EXPECT_EQ(r.sentOut + r.broughtIn + r.removedHere + r.removedThere, 0);

    // Another calendar program moves the 23rd to 4:00 PM: one more row of the series here.
    phone({"moveday", href, "2027-03-23", "16", "Call (late)"});
    r = sync();
    EXPECT_EQ(r.broughtIn, 1);
    EXPECT_TRUE(r.conflicts.empty());
    const auto own = QStringLiteral("select apptdate,appttime,endtime,apptbrief,recurrence_date from appointments where "
                                    "series_id=%1 order by recurrence_date").arg(series);
    EXPECT_EQ(rows(sConnContacts, own), (std::vector<QStringList>{
                                            {"3/10/2027", "2:00:00 PM", "3:00:00 PM", "Call (moved)", "3/9/2027"},
                                            {"3/23/2027", "4:00:00 PM", "5:00:00 PM", "Call (late)", "3/23/2027"}}));
    EXPECT_EQ(rows(sConnContacts, QStringLiteral("select rrule,exdates from appointments where autoid=%1").arg(series)),
              (std::vector<QStringList>{{"FREQ=WEEKLY;COUNT=6;BYDAY=TU", "2027-03-09,2027-03-16,2027-03-23"}}));
    EXPECT_EQ(sync().sentOut, 0);

    // Here the 30th is left out and the moved day taken back: the server's copy follows.
    exec(sConnContacts, QStringLiteral("update appointments set exdates='2027-03-16,2027-03-23,2027-03-30' where autoid=%1").arg(series));
    exec(sConnContacts, QStringLiteral("delete from appointments where series_id=%1 and recurrence_date=#3/9/2027#").arg(series));
    r = sync();
    EXPECT_EQ(r.sentOut, 1);
    EXPECT_EQ(phone({"events", href}), "series|2027-03-02 09:00|2027-03-02 10:00|FREQ=WEEKLY;COUNT=6;BYDAY=TU|2027-03-16,2027-03-30||Call\n"
                                       "2027-03-23 09:00|2027-03-23 16:00|2027-03-23 17:00||||Call (late)");
    EXPECT_EQ(sync().sentOut + sync().broughtIn, 0);
}

TEST_F(SyncSeries, DaysOfASeriesChangedOnBothSidesMergeDayByDayAndOnlyTheSameDayIsAsked)
{
    // Tuesdays at 9:00 AM, six times from March 2, 2027, the 9th and the 23rd with days of their own.
    exec(sConnContacts, "INSERT into appointments(name,apptdate,appttime,endtime,apptbrief,rrule,exdates) values("
                        "'Ann Lee',#3/2/2027#,#9:00 AM#,#10:00 AM#,'Call','FREQ=WEEKLY;COUNT=6;BYDAY=TU','2027-03-09,2027-03-23')");
    const QString series = rows(sConnContacts, "select autoid from appointments")[0][0];
    for (const char* day : {"3/9/2027", "3/23/2027"})
        exec(sConnContacts, QStringLiteral("INSERT into appointments(name,apptdate,appttime,endtime,apptbrief,series_id,"
                                           "recurrence_date) values('Ann Lee',#%1#,#2:00 PM#,#3:00 PM#,'Call (moved)',%2,#%1#)")
                                .arg(QLatin1String(day), series));
    ASSERT_EQ(int(sync().outcome), int(sync::Outcome::Synced));
    const QString href = listed(calendar).keys().value(0);
    if (phone({"events", href}, false) == QLatin1String("icalendar is not installed"))
        GTEST_SKIP() << "Python's icalendar is not installed (Debian's python3-icalendar)";

    // Here the 9th goes to 11:00 AM and the 30th is left out; there the 9th goes to 4:00 PM, the
    // 23rd to 1:00 PM and the 16th to 10:00 AM.
    exec(sConnContacts, QStringLiteral("update appointments set appttime=#11:00 AM#,endtime=#12:00 PM#,apptbrief='Call (here)' "
                                       "where series_id=%1 and recurrence_date=#3/9/2027#").arg(series));
    exec(sConnContacts, QStringLiteral("update appointments set exdates='2027-03-09,2027-03-23,2027-03-30' where autoid=%1")
                            .arg(series));
    phone({"moveday", href, "2027-03-09", "16", "Call (there)"});
    phone({"moveday", href, "2027-03-23", "13", "Call (late)"});
    phone({"moveday", href, "2027-03-16", "10", "Call (early)"});
    const QString there = phone({"events", href});
    sync::Report r = sync();
    ASSERT_EQ(int(r.outcome), int(sync::Outcome::Synced)) << r.detail.toStdString();
    ASSERT_EQ(r.conflicts.size(), 1u);
    const sync::Conflict c = r.conflicts[0];
    EXPECT_EQ(sync::conflictQuestion(c).toStdString(),
              "Someone else changed this appointment (3/2/2027 Call) on the sync server after the last sync.\n\n"
              "Days changed on their own here: \"3/9/2027: 3/9/2027 Call (here)\"\n"
              "Days changed on their own there: \"3/9/2027: 3/9/2027 Call (there)\"\n\n"
              "Save your changes over theirs? (No takes theirs.)");
    // Nothing written either way until it is answered.
    EXPECT_EQ(phone({"events", href}), there);
    const auto own = QStringLiteral("select apptdate,appttime,apptbrief,recurrence_date from appointments where "
                                    "series_id=%1 order by recurrence_date").arg(series);
    EXPECT_EQ(rows(sConnContacts, own), (std::vector<QStringList>{{"3/9/2027", "11:00:00 AM", "Call (here)", "3/9/2027"},
                                                                  {"3/23/2027", "2:00:00 PM", "Call (moved)", "3/23/2027"}}));

    // Kept here: the 9th goes up as it is here, the 16th and the 23rd come down, and the 30th
    // left out here stays out on both sides.
    r = sync({{c.href, c.etag, c.field, true}});
    ASSERT_EQ(int(r.outcome), int(sync::Outcome::Synced)) << r.detail.toStdString();
    EXPECT_TRUE(r.conflicts.empty());
    EXPECT_EQ(rows(sConnContacts, own), (std::vector<QStringList>{{"3/9/2027", "11:00:00 AM", "Call (here)", "3/9/2027"},
                                                                  {"3/16/2027", "10:00:00 AM", "Call (early)", "3/16/2027"},
                                                                  {"3/23/2027", "1:00:00 PM", "Call (late)", "3/23/2027"}}));
    EXPECT_EQ(rows(sConnContacts, QStringLiteral("select exdates from appointments where autoid=%1").arg(series)),
              (std::vector<QStringList>{{"2027-03-09,2027-03-16,2027-03-23,2027-03-30"}}));
    EXPECT_EQ(phone({"events", href}),
              "series|2027-03-02 09:00|2027-03-02 10:00|FREQ=WEEKLY;COUNT=6;BYDAY=TU|2027-03-30||Call\n"
              "2027-03-09 09:00|2027-03-09 11:00|2027-03-09 12:00||||Call (here)\n"
              "2027-03-16 09:00|2027-03-16 10:00|2027-03-16 11:00||||Call (early)\n"
              "2027-03-23 09:00|2027-03-23 13:00|2027-03-23 14:00||||Call (late)");
    r = sync();
    EXPECT_EQ(r.sentOut + r.broughtIn + int(r.conflicts.size()), 0);

    // Here the 9th is taken back into the series and the 23rd deleted; there both are changed
    // again. Each is asked about with what this side has for that day.
    exec(sConnContacts, QStringLiteral("delete from appointments where series_id=%1 and recurrence_date in "
                                       "(#3/9/2027#,#3/23/2027#)").arg(series));
    exec(sConnContacts, QStringLiteral("update appointments set exdates='2027-03-16,2027-03-23,2027-03-30' where autoid=%1")
                            .arg(series));
    phone({"moveday", href, "2027-03-09", "15", "Call (there again)"});
    phone({"moveday", href, "2027-03-23", "12", "Call (noon)"});
    r = sync();
    ASSERT_EQ(int(r.outcome), int(sync::Outcome::Synced)) << r.detail.toStdString();
    QStringList asked;
    for (const sync::Conflict& day : r.conflicts)
        asked << sync::conflictQuestion(day).section(u'\n', 2, 3);
    EXPECT_EQ(asked.join(u'\n').toStdString(),
              "Days changed on their own here: \"3/9/2027: 3/9/2027 Call (as the series)\"\n"
              "Days changed on their own there: \"3/9/2027: 3/9/2027 Call (there again)\"\n"
              "Days changed on their own here: \"3/23/2027: deleted\"\n"
              "Days changed on their own there: \"3/23/2027: 3/23/2027 Call (noon)\"");
}

} // namespace
} // namespace kestrel::test
