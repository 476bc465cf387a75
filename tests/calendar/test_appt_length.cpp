// An appointment's length: typed into Until, kept by the day list and the month, refused when it
// ends before it begins, given to rows from before, and carried through the calendar exchange.
#include "tests/calendar/Helpers.h"
#include "data/ExchangeStore.h"
#include "data/Office.h"
#include "data/PgEngine.h"
#include "calendar/AlertSchedule.h"
#include "ui/TimeBox.h"
#include "ui/Undo.h"

namespace {

class ApptLengthTest : public CalendarTest {
protected:
    QString ends() { return stored("select apptdate,appttime,enddate,endtime from appointments order by autoid"); }
};

} // namespace

TEST_F(ApptLengthTest, UntilIsTypedMovesWithTheStartShowsAsASpanAndAnEndBeforeTheStartIsRefusedKeepingIt)
{
    withEditor(0, {}, [&](frmAppt& d) {
        // A new appointment lasts 30 minutes; a start typed later takes its end along.
        EXPECT_EQ(d.DTUntil->text() + u' ' + d.cboUntil->currentText(), "12/4/2026 12:30 PM");
        type("Review\t\t12/8/2026\t9\t");
        EXPECT_EQ(d.DTUntil->text() + u' ' + d.cboUntil->currentText(), "12/8/2026 9:30 AM");
        ASSERT_EQ(QApplication::focusWidget(), d.DTUntil);
        type("\t");
        type("10:45\t"); // any minute may end it
        EXPECT_EQ(d.cboUntil->currentText(), "10:45 AM");
        EXPECT_FALSE(d.cboUntil->isRefused());
        d.txtName->setFocus();
        type("Ann Lee");
        ctrlS();
        EXPECT_FALSE(d.isVisible());
    });
    EXPECT_EQ(ends(), "12/8/2026|9:00:00 AM|<null>|10:45:00 AM");
    const QDate day(2026, 12, 8);
    EXPECT_EQ(dayLines(day).value(1), "9:00 AM - 10:45 AM - Review");

    withEditor(stored("select autoid from appointments").toInt(), {}, [&](frmAppt& d) {
        d.cboUntil->setFocus(Qt::TabFocusReason);
        type("8\t");
        QTest::mouseClick(d.cmdSave, Qt::LeftButton);
        ASSERT_TRUE(d.isVisible()); // refused, nothing stored, the typed end still there
        EXPECT_EQ(d.cboUntil->currentText(), "8:00 AM");
        EXPECT_EQ(QApplication::focusWidget(), d.cboUntil);
        EXPECT_EQ(ends(), "12/8/2026|9:00:00 AM|<null>|10:45:00 AM");
        // An end on a later day is no end before the start.
        d.DTUntil->setFocus(Qt::TabFocusReason);
        type("12/10/2026\t");
        type("5 pm\t");
        QTest::mouseClick(d.cmdSave, Qt::LeftButton);
        EXPECT_FALSE(d.isVisible());
    });
    EXPECT_EQ(desk.messages(), QStringList({"The appointment cannot end before it begins: it begins on 12/8/2026 at "
                                            "9:00 AM, and Until says 12/8/2026 at 8:00 AM."}));
    EXPECT_EQ(ends(), "12/8/2026|9:00:00 AM|12/10/2026|5:00:00 PM");
    // Three days: each shows it, and the month counts it on each.
    EXPECT_EQ(dayLines(day).value(1), "9:00 AM - 12/10/2026 5:00 PM - Review");
    EXPECT_EQ(dayLines(day.addDays(1)).value(1), "all day - Review");
    EXPECT_EQ(dayLines(day.addDays(2)).value(1), "until 5:00 PM - Review");
    EXPECT_EQ(dayLines(day.addDays(3)).value(1), "There are no appointments");
    const auto counts = ApptCountsOfMonth(day);
    EXPECT_EQ((std::vector<int>{counts[7], counts[8], counts[9], counts[10], counts[11]}), (std::vector<int>{0, 1, 1, 1, 0}));
    // Overlapping appointments both show; one of the usual 30 minutes keeps the old line.
    addAppt(day.addDays(1), QTime(9, 30), "Call");
    EXPECT_EQ(dayLines(day.addDays(1)).mid(1, 5),
              QStringList({"all day - Review", "     Ann Lee", "     ", kSeparator, "9:30 AM - Call"}));
}

TEST_F(ApptLengthTest, AppointmentsFromBeforeTheEndLastThirtyMinutes)
{
    if (onServer()) {
        // An office database of an older Kestrel: the administrator's next set-up gives the ends.
        exec(sConnContacts, "INSERT into appointments(name,apptdate,appttime,apptbrief)values('Ann Lee',#3/7/2027#,"
                            "#9:00 AM#,'Early'),('Ann Lee',#3/7/2027#,#11:30 PM#,'Late')");
        for (const char* c : {"enddate", "endtime", "allday", "cancelled"})
            exec(ownerConnection(), QStringLiteral("ALTER TABLE appointments DROP COLUMN %1").arg(QLatin1String(c)));
        exec(ownerConnection(), QStringLiteral("DELETE FROM kestrel_schema WHERE version > 5"));
        releaseAllDatabaseFiles();
        const OfficeSetUp raised = setUpOfficeDatabase(adminConninfo());
        EXPECT_TRUE(raised.said.join(u'\n').contains(QStringLiteral("to %1.").arg(pg::kSchemaVersion)))
            << raised.said.join(u'\n').toStdString() << raised.refused.toStdString();
    } else {
        releaseAllDatabaseFiles();
        QFile::remove(dataPath(QStringLiteral("contacts.mdb")));
        createDatabaseFile(dataPath(QStringLiteral("contacts.mdb")),
                           "CREATE TABLE contacts(id INTEGER PRIMARY KEY AUTOINCREMENT, lastname TEXT, firstname TEXT, "
                           "company TEXT, address TEXT, city TEXT, st TEXT, zip TEXT, homeph TEXT, cellph TEXT, workph TEXT, "
                           "ext TEXT, email TEXT, active BOOLEAN DEFAULT 1, contype TEXT);"
                           "CREATE TABLE appointments(autoid INTEGER PRIMARY KEY AUTOINCREMENT, name TEXT, address TEXT, "
                           "apptdate DATE, appttime TIME, apptbrief TEXT, apptnotes TEXT);"
                           "INSERT INTO appointments(name,apptdate,appttime,apptbrief) VALUES"
                           "('Ann Lee','2027-03-07','09:00:00','Early'),('Ann Lee','2027-03-07','23:30:00','Late')",
                           true);
    }
    EXPECT_EQ(ends(), "3/7/2027|9:00:00 AM|<null>|9:30:00 AM/3/7/2027|11:30:00 PM|3/8/2027|12:00:00 AM");
    // Their lines are as they were; the one ending at midnight does not reach into the next day.
    EXPECT_EQ(dayLines(QDate(2027, 3, 7)).value(1), "9:00 AM - Early");
    EXPECT_EQ(dayLines(QDate(2027, 3, 8)).value(1), "There are no appointments");
    EXPECT_EQ(ApptCountsOfMonth(QDate(2027, 3, 1))[8], 0);
}

TEST_F(ApptLengthTest, TheExchangeStoresAndReadsTheEndOnBothEngines)
{
    AppointmentRecord a;
    a.name = "Ann Lee";
    a.brief = "Trade show";
    a.date = QDate(2027, 3, 8);
    a.time = QTime(9, 0);
    a.endDate = QDate(2027, 3, 10);
    a.endTime = QTime(17, 15);
    AppointmentRecord b = a;
    b.brief = "Call";
    b.endDate = {};
    b.endTime = {}; // none given: the usual 30 minutes
    storeAppointments(sConnContacts, {a, b});
    const std::vector<AppointmentRecord> back = readAppointments(sConnContacts, QDate(2027, 3, 1), QDate(2027, 3, 31));
    ASSERT_EQ(back.size(), 2u);
    QStringList got;
    for (const AppointmentRecord& r : back)
        got << r.brief + u' ' + r.endDate.toString(Qt::ISODate) + u' ' + r.endTime.toString();
    got.sort();
    EXPECT_EQ(got, QStringList({"Call 2027-03-08 09:30:00", "Trade show 2027-03-10 17:15:00"}));
}

TEST_F(ApptLengthTest, AnAllDayShowIsListedFirstOnEachOfItsDaysAndAlertsAtNineOnItsFirst)
{
    const QDate monday(2026, 12, 7);
    addAppt(monday.addDays(1), QTime(8, 0), "Breakfast");
    withEditor(0, {}, [&](frmAppt& d) {
        type("Trade show\t\t12/7/2026\t\t12/9/2026\t\t");
        ASSERT_EQ(QApplication::focusWidget(), d.chkAllDay);
        QTest::keyClick(d.chkAllDay, Qt::Key_Space);
        EXPECT_FALSE(d.cboTime->isEnabled()); // whole days have no clock times
        EXPECT_FALSE(d.cboUntil->isEnabled());
        d.txtName->setFocus();
        type("Ann Lee");
        ctrlS();
        EXPECT_FALSE(d.isVisible());
    });
    EXPECT_EQ(stored("select apptdate,appttime,enddate,endtime,allday from appointments where apptbrief='Trade show'"),
              "12/7/2026|12:00:00 AM|12/9/2026|<null>|True");
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(dayLines(monday.addDays(i)).value(1), "All day - Trade show") << i;
    EXPECT_EQ(dayLines(monday.addDays(1)).value(5), "8:00 AM - Breakfast");
    EXPECT_EQ(dayLines(monday.addDays(3)).value(1), "There are no appointments");
    const auto counts = ApptCountsOfMonth(monday);
    EXPECT_EQ((std::vector<int>{counts[6], counts[7], counts[8], counts[9], counts[10]}), (std::vector<int>{0, 1, 2, 1, 0}));

    // Opened again, it shows as saved; a last day before the first is refused, keeping the window.
    withEditor(stored("select autoid from appointments where apptbrief='Trade show'").toInt(), {}, [&](frmAppt& d) {
        EXPECT_TRUE(d.chkAllDay->isChecked());
        EXPECT_EQ(d.DTUntil->text(), "12/9/2026");
        d.DTUntil->setFocus(Qt::TabFocusReason);
        type("12/6/2026\t");
        QTest::mouseClick(d.cmdSave, Qt::LeftButton);
        EXPECT_TRUE(d.isVisible());
        EXPECT_EQ(d.DTUntil->text(), "12/6/2026");
        desk.answerYes();
    });
    EXPECT_EQ(desk.messages().value(0), "An all-day appointment cannot end before the day it begins: it begins on "
                                        "12/7/2026, and Until says 12/6/2026.");

    // The alert: 9:00 AM on the first day, whatever the lead time, and none while alerts are off.
    const QTimeZone& zone = kNewYork;
    AlertSchedule schedule(zone);
    schedule.setMinutes(60);
    schedule.setAppointments(ApptsToAlert(monday));
    const QDateTime early(monday, QTime(6, 0), zone);
    EXPECT_TRUE(schedule.takeDue(early).empty());
    EXPECT_EQ(schedule.nextWakeUp(early), QDateTime(monday, QTime(9, 0), zone));
    const auto due = schedule.takeDue(QDateTime(monday, QTime(9, 0), zone));
    ASSERT_EQ(due.size(), 1u);
    EXPECT_EQ(AlertLine(due[0], monday), "All day - Trade show - Ann Lee");
    EXPECT_FALSE(due[0].missed);
    schedule.setMinutes(0);
    EXPECT_FALSE(schedule.nextWakeUp(early).isValid());
}

TEST_F(ApptLengthTest, ACancelledAppointmentStaysStruckThroughAndRaisesNoAlert)
{
    const QDate day = desk.todayValue;
    const int id = addAppt(day, QTime(15, 0), "Demo");
    withEditor(id, {}, [&](frmAppt& d) {
        d.chkCancelled->setFocus(Qt::TabFocusReason);
        QTest::keyClick(d.chkCancelled, Qt::Key_Space);
        ctrlS();
        EXPECT_FALSE(d.isVisible());
    });
    EXPECT_EQ(stored("select cancelled from appointments"), "True");
    QListWidget list;
    ListDayAppts(&list, day);
    ASSERT_EQ(lines(&list).value(1), "3:00 PM - Demo");
    EXPECT_TRUE(list.item(1)->font().strikeOut());
    EXPECT_FALSE(list.item(4)->font().strikeOut()); // the separator
    EXPECT_TRUE(ApptsToAlert(day).empty());
    remind->PopWeekList();
    EXPECT_TRUE(remind->lstWeek->item(1)->font().strikeOut());
    EXPECT_EQ(remind->lstWeek->item(1)->text(), "3:00 PM - Demo");
}

TEST_F(ApptLengthTest, UndoingASaveBringsBackTheEndAllDayAndCancelledAsTheyWere)
{
    const QDate day = desk.todayValue;
    const int id = addAppt(day, QTime(9, 0), "Review");
    exec(sConnContacts, QStringLiteral("update appointments set endtime=#10:45 AM#, cancelled=True where autoid=%1").arg(id));
    const QString before = stored("select apptdate,appttime,enddate,endtime,allday,cancelled from appointments");
    withEditor(id, {}, [&](frmAppt& d) {
        d.chkAllDay->setFocus(Qt::TabFocusReason);
        QTest::keyClick(d.chkAllDay, Qt::Key_Space);
        d.chkCancelled->setFocus(Qt::TabFocusReason);
        QTest::keyClick(d.chkCancelled, Qt::Key_Space);
        ctrlS();
        EXPECT_FALSE(d.isVisible());
    });
    ASSERT_NE(stored("select apptdate,appttime,enddate,endtime,allday,cancelled from appointments"), before);
    ASSERT_TRUE(undoLastChange());
    EXPECT_EQ(stored("select apptdate,appttime,enddate,endtime,allday,cancelled from appointments"), before);
    forgetChanges();
}
