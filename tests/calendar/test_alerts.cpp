// Reminders before appointments, on a clock the tests drive: the minute each alert comes, how
// changes re-arm them, snooze, missed alerts after a sleep, and the days that are not like others.
#include "calendar/frmReminder.h"
#include "platform/Platform.h"
#include "tests/calendar/Helpers.h"

namespace {

QDateTime at(int y, int m, int d, int h, int min) { return QDateTime(QDate(y, m, d), QTime(h, min), kNewYork); }

class AlertsTest : public CalendarTest {
protected:
    void SetUp() override
    {
        CalendarTest::SetUp();
        desk.jumpClock(at(2026, 12, 4, 8, 0));
        alerts = std::make_unique<ReminderAlerts>(kNewYork);
    }
    void TearDown() override
    {
        alerts.reset();
        CalendarTest::TearDown();
    }
    // Every appointment gone, the alerts told so (a new row may take a gone one's key).
    void clearAppts()
    {
        exec(sConnContacts, "delete from appointments");
        alerts->Rearm();
    }
    void setMinutes(int m) { desk.settings["Kestrel/App/AlertMinutes"] = QString::number(m); }
    // The times (local ISO) of the alerts given so far, then forgets them.
    QStringList alertTimes()
    {
        QStringList out;
        for (const QString& n : std::exchange(desk.notifications, {}))
            out << n.section(u'|', 0, 0);
        return out;
    }
    QStringList takeNotifications() { return std::exchange(desk.notifications, {}); }

    std::unique_ptr<ReminderAlerts> alerts;
};

TEST_F(AlertsTest, EachChoiceAlertsOnceAtItsMinuteAndOffAlertsNever)
{
    for (const int m : {5, 10, 15, 30, 60, 0}) {
        clearAppts();
        desk.jumpClock(at(2026, 12, 4, 8, 0));
        setMinutes(m);
        addAppt(QDate(2026, 12, 4), QTime(7, 30), "Begun before the start"); // never alerted
        addAppt(QDate(2026, 12, 4), QTime(10, 0), "Review");
        alerts->Rearm();
        desk.advanceClock(at(2026, 12, 4, 12, 0));
        const QStringList expected =
            m ? QStringList{at(2026, 12, 4, 10, 0).addSecs(-60 * m).toString(Qt::ISODate)} : QStringList{};
        EXPECT_EQ(alertTimes(), expected) << m;
        EXPECT_EQ(desk.trayTip.isEmpty(), m == 0) << m;
    }
    // Inside its alert time at start and not yet begun: at once.
    setMinutes(15);
    addAppt(QDate(2026, 12, 4), QTime(12, 10), "Lunch", "Pat Doe", "Cafe");
    alerts->Rearm();
    EXPECT_EQ(takeNotifications(),
              QStringList{"2026-12-04T12:00:00-05:00|Appointment reminder|12:10 PM - Lunch - Cafe - Pat Doe"});
}

TEST_F(AlertsTest, SavingMovingAndDeletingInTheEditorReArmAtOnce)
{
    const int moved = addAppt(QDate(2026, 12, 4), QTime(10, 0), "Moved");
    const int gone = addAppt(QDate(2026, 12, 4), QTime(11, 0), "Deleted");
    alerts->Rearm();
    EXPECT_EQ(desk.nextWakeUp(), at(2026, 12, 4, 9, 45));
    withEditor(moved, {}, [](frmAppt& d) {
        d.cboTime->setFocus();
        QTest::keyClicks(d.cboTime, "2:00 P");
        QTest::mouseClick(d.cmdSave, Qt::LeftButton);
    });
    EXPECT_EQ(desk.nextWakeUp(), at(2026, 12, 4, 10, 45));
    withEditor(gone, {}, [this](frmAppt& d) {
        desk.answerYes();
        QTest::mouseClick(d.cmdDelete, Qt::LeftButton);
    });
    EXPECT_EQ(desk.nextWakeUp(), at(2026, 12, 4, 13, 45));
    withEditor(0, {}, [](frmAppt& d) {
        d.setApptText(0, "Saved new");
        d.setApptText(3, "Ann Lee");
        d.cboTime->setCurrentIndex(18); // 9:00 AM
        QTest::mouseClick(d.cmdSave, Qt::LeftButton);
    });
    desk.advanceClock(at(2026, 12, 4, 23, 0));
    EXPECT_EQ(alertTimes(), QStringList({"2026-12-04T08:45:00-05:00", "2026-12-04T13:45:00-05:00"}));
}

TEST_F(AlertsTest, SnoozeComesBackAfterFiveMinutesAndASleepGivesMissedAlertsOnce)
{
    addAppt(QDate(2026, 12, 4), QTime(10, 0), "Review");
    addAppt(QDate(2026, 12, 4), QTime(12, 0), "Lunch", "Pat Doe", "Cafe");
    addAppt(QDate(2026, 12, 4), QTime(13, 10), "Call");
    alerts->Rearm();
    desk.advanceClock(at(2026, 12, 4, 9, 45));
    frmReminder* w = alerts->window();
    ASSERT_TRUE(w->isVisible());
    QTest::mouseClick(w->cmdSnooze, Qt::LeftButton);
    EXPECT_FALSE(w->isVisible());
    desk.advanceClock(at(2026, 12, 4, 9, 55));
    EXPECT_EQ(alertTimes(), QStringList({"2026-12-04T09:45:00-05:00", "2026-12-04T09:50:00-05:00"}));
    EXPECT_EQ(lines(w->lstDue), QStringList{"10:00 AM - Review - Main office - Ann Lee"});

    // Asleep from 9:55 to 1:00 PM: lunch began meanwhile, the call is inside its alert time.
    desk.jumpClock(at(2026, 12, 4, 13, 0));
    EXPECT_EQ(takeNotifications(), QStringList({"2026-12-04T13:00:00-05:00|Missed appointment|12:00 PM - Lunch - Cafe - Pat Doe (missed)",
                                                "2026-12-04T13:00:00-05:00|Appointment reminder|1:10 PM - Call - Main office - Ann Lee"}));
    EXPECT_EQ(w->lstDue->count(), 3);
    alerts->Rearm();
    desk.advanceClock(at(2026, 12, 4, 23, 0));
    EXPECT_TRUE(desk.notifications.isEmpty());
}

TEST_F(AlertsTest, EachDayOfASeriesAlertsOnItsOwnAndADismissedOrSnoozedDayLeavesTheNextOnesAlone)
{
    // A Tuesday and Thursday call at 9:00 AM (the 11th cancelled as a row of its own, the 16th left
    // out; the clocks change on the 14th), a daily standup three times and a whole day each Friday.
    const int call = addAppt(QDate(2027, 3, 2), QTime(9, 0), "Call");
    exec(sConnContacts, QStringLiteral("update appointments set rrule='FREQ=WEEKLY;BYDAY=TU,TH',"
                                       "exdates='2027-03-11,2027-03-16' where autoid=%1").arg(call));
    exec(sConnContacts, QStringLiteral("update appointments set series_id=%1,recurrence_date=#3/11/2027#,cancelled=True "
                                       "where autoid=%2").arg(call).arg(addAppt(QDate(2027, 3, 11), QTime(9, 0), "Call")));
    exec(sConnContacts, QStringLiteral("update appointments set rrule='FREQ=DAILY;COUNT=3' where autoid=%1")
                            .arg(addAppt(QDate(2027, 3, 9), QTime(9, 30), "Standup")));
    exec(sConnContacts, QStringLiteral("update appointments set rrule='FREQ=WEEKLY',allday=True,enddate=#3/12/2027# "
                                       "where autoid=%1").arg(addAppt(QDate(2027, 3, 12), QTime(0, 0), "Office day")));
    desk.jumpClock(at(2027, 3, 8, 8, 0));
    alerts->Rearm();
    desk.advanceClock(at(2027, 3, 9, 9, 16));
    frmReminder* w = alerts->window();
    ASSERT_EQ(lines(w->lstDue), QStringList({"9:00 AM - Call - Main office - Ann Lee", "9:30 AM - Standup - Main office - Ann Lee"}));
    const auto click = [&](int row) {
        QTest::mouseClick(w->lstDue->viewport(), Qt::LeftButton, {}, w->lstDue->visualItemRect(w->lstDue->item(row)).center());
    };
    click(1);
    QTest::mouseClick(w->cmdSnooze, Qt::LeftButton); // today's standup, not tomorrow's
    click(0);
    QTest::mouseClick(w->cmdDismiss, Qt::LeftButton);
    desk.advanceClock(at(2027, 3, 9, 9, 25));
    QTest::mouseClick(w->cmdDismiss, Qt::LeftButton);
    // Started again, and the clock set back: what was dismissed stays dismissed.
    alerts = std::make_unique<ReminderAlerts>(kNewYork);
    alerts->Rearm();
    desk.jumpClock(at(2027, 3, 9, 8, 0));
    desk.advanceClock(at(2027, 3, 18, 9, 0));
    EXPECT_EQ(alertTimes(), QStringList({"2027-03-09T08:45:00-05:00", "2027-03-09T09:15:00-05:00", "2027-03-09T09:21:00-05:00",
                                         "2027-03-10T09:15:00-05:00", "2027-03-11T09:15:00-05:00", "2027-03-12T09:00:00-05:00",
                                         "2027-03-18T08:45:00-04:00"}));
    EXPECT_EQ(lines(alerts->window()->lstDue).value(2), "All day - Office day - Main office - Ann Lee");
}

TEST_F(AlertsTest, AppointmentsThatCannotBeReadAreToldOnceAndTheAlertsKnownStayArmed)
{
    addAppt(QDate(2026, 12, 4), QTime(10, 0), "Review");
    alerts->Rearm();
    exec(ownerConnection(), "drop table appointments");
    alerts->Rearm();
    desk.advanceClock(at(2026, 12, 4, 10, 30));
    ASSERT_EQ(desk.messages().size(), 1);
    EXPECT_TRUE(desk.messages()[0].startsWith("Kestrel cannot read the appointments to remind you of them ("));
    EXPECT_EQ(alertTimes(), QStringList{"2026-12-04T09:45:00-05:00"});
}

TEST_F(AlertsTest, LeapDayAndMidnightBringTheNextDayIntoView)
{
    setMinutes(60);
    desk.jumpClock(at(2028, 2, 28, 23, 0));
    addAppt(QDate(2028, 2, 29), QTime(0, 30), "x");
    addAppt(QDate(2028, 3, 1), QTime(0, 15), "x"); // the day after tomorrow until midnight
    addAppt(QDate(2028, 2, 29), QTime(9, 0), "x");
    alerts->Rearm();
    desk.advanceClock(at(2028, 3, 1, 1, 0));
    EXPECT_EQ(alertTimes(), QStringList({"2028-02-28T23:30:00-05:00", "2028-02-29T08:00:00-05:00", "2028-02-29T23:15:00-05:00"}));
}

TEST(AlertScheduleTest, AlertsKeepTheirRealMinutesAcrossBothChangesOfDaylightSavingTime)
{
    const struct {
        QDate day;
        int minutes;
        std::vector<QTime> times;
        QStringList expected;
    } rows[] = {
        // 2:00 AM EST becomes 3:00 AM EDT: a quarter of an hour before 3:00 AM is 1:45 AM; 2:30 AM,
        // which does not exist, is taken as 3:30 AM.
        {QDate(2026, 3, 8), 15, {QTime(2, 30), QTime(3, 0)}, {"2026-03-08T01:45:00-05:00", "2026-03-08T03:15:00-04:00"}},
        // 2:00 AM EDT becomes 1:00 AM EST: 1:30 AM is its first coming; 2:00 AM is an hour and a half
        // later.
        {QDate(2026, 11, 1), 30, {QTime(1, 30), QTime(2, 0)}, {"2026-11-01T01:00:00-04:00", "2026-11-01T01:30:00-05:00"}},
    };
    for (const auto& r : rows) {
        AlertSchedule schedule(kNewYork);
        schedule.setMinutes(r.minutes);
        std::vector<ApptAlert> appts;
        for (const QTime& t : r.times)
            appts.push_back({int(appts.size()) + 1, r.day, t, "x", "", ""});
        schedule.setAppointments(appts);
        QStringList given;
        const QDateTime end(r.day, QTime(6, 0), kNewYork);
        for (QDateTime now(r.day.addDays(-1), QTime(20, 0), kNewYork); now.isValid() && now < end;
             now = schedule.nextWakeUp(now))
            for (const ApptAlert& a : schedule.takeDue(now))
                given << now.toString(Qt::ISODate) + (a.missed ? " missed" : "");
        EXPECT_EQ(given, r.expected) << r.day.toString(Qt::ISODate).toStdString();
    }
}

TEST_F(AlertsTest, TheWindowTakesNoKeysUntilClickedThenEnterOpensAndEscDismisses)
{
    const int first = addAppt(QDate(2026, 12, 4), QTime(8, 10), "First");
    addAppt(QDate(2026, 12, 4), QTime(8, 15), "Second");
    alerts->Rearm();
    frmReminder* w = alerts->window();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w));
    EXPECT_EQ(w->windowTitle(), "Reminder");
    // Whether the desktop honours it is seen on a real display; here only that it is asked.
    EXPECT_TRUE(w->windowHandle()->flags().testFlag(Qt::WindowDoesNotAcceptFocus));

    QTest::mouseClick(w->windowHandle(), Qt::LeftButton, {}, w->lstDue->geometry().center());
    EXPECT_FALSE(w->windowHandle()->flags().testFlag(Qt::WindowDoesNotAcceptFocus));
    ASSERT_TRUE(QTest::qWaitForWindowActive(w));
    int opened = 0;
    desk.onModal("frmAppt", [&](QDialog& d) { opened = static_cast<frmAppt&>(d).lApptID; });
    QTest::keyClick(w->focusWidget(), Qt::Key_Return);
    EXPECT_EQ(opened, first);
    EXPECT_EQ(lines(w->lstDue), QStringList{"8:15 AM - Second - Main office - Ann Lee"});
    QTest::keyClick(w->focusWidget(), Qt::Key_Escape);
    EXPECT_FALSE(w->isVisible());
    EXPECT_EQ(w->lstDue->count(), 0);
}

TEST(SystemWakeUpTest, FiresFromTheEventLoopOnceAtItsWallClockTimeAndNotWhenCancelled)
{
    int fired = 0;
    const auto wake = systemWakeUp([&] { ++fired; });
    wake->arm(QDateTime::currentDateTime().addSecs(-3600));
    EXPECT_EQ(fired, 0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return fired == 1; }, 2000));
    wake->arm(QDateTime::currentDateTime().addMSecs(100));
    wake->cancel();
    QTest::qWait(300);
    EXPECT_EQ(fired, 1);
    wake->arm(QDateTime::currentDateTime().addMSecs(100));
    EXPECT_TRUE(QTest::qWaitFor([&] { return fired == 2; }, 2000));
}

} // namespace
