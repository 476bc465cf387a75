// The calendar commands of the main window: start-up fill, F5, F6, F7 and the Schedule button.
#include "tests/app/Helpers.h"

class CalendarWiringTest : public MainWindowTest {
protected:
    void SetUp() override
    {
        MainWindowTest::SetUp();
        addAppt(QDate(2024, 12, 3), QTime(9, 0), "Too old");
        exec(sConnMain, "Insert into todo (todo)values('Call the bank')");
        w->Form_Load();
    }
    // Schedules through the editor the way a user fills it in.
    void scheduleOn(const QDate& d)
    {
        desk.onModal("frmAppt", [d](QDialog& dialog) {
            auto& editor = static_cast<frmAppt&>(dialog);
            editor.setApptText(0, "Site visit");
            editor.setApptText(3, "Ann Lee");
            editor.DTPicker1->setDate(d);
            editor.cmdSave_Click();
        });
    }
};

TEST_F(CalendarWiringTest, StartUpFillsMonthListToDoAndWeekAndPurges)
{
    EXPECT_EQ(w->cal->cboMonthYear->count(), 36);
    EXPECT_FALSE(w->cal->dCalDate.isValid()); // the grid waits for F6
    EXPECT_EQ(w->remind->lstToDo->item(2)->text(), "Call the bank");
    EXPECT_EQ(weekLine(0), "There are no appointments for the next 7 days.");
    EXPECT_TRUE(rows(sConnContacts, "select autoid from appointments").empty());
    EXPECT_TRUE(desk.messages().isEmpty());
}

TEST_F(CalendarWiringTest, F6ShowsTheCurrentMonthAndF5RefillsTheWeek)
{
    w->cal->LoadCal(QDate(2008, 3, 1));
    QTest::keyClick(w.get(), Qt::Key_F6);
    EXPECT_EQ(w->cal->labMonthYear->text(), "December - 2026");
    addAppt(QDate(2026, 12, 8), QTime(9, 0), "Added behind its back");
    QTest::keyClick(w.get(), Qt::Key_F5);
    EXPECT_EQ(weekLine(1), "9:00 AM - Added behind its back");
}

TEST_F(CalendarWiringTest, F7SaveShowsInTheWeekAndOnTheCalendarWhenItIsInFront)
{
    QTest::keyClick(w.get(), Qt::Key_F3);
    scheduleOn(QDate(2026, 12, 5));
    QTest::keyClick(w.get(), Qt::Key_F7);
    EXPECT_TRUE(w->isLeadInFront());
    EXPECT_EQ(weekLine(1), "12:00 PM - Site visit");
    w->mnuApptsCal_Click();
    scheduleOn(QDate(2027, 1, 14));
    w->mnuApptsSched_Click();
    EXPECT_EQ(w->cal->dCalDate, QDate(2027, 1, 1));
    EXPECT_EQ(w->cal->labDay[w->cal->cellOfDay(14)]->palette().color(QPalette::WindowText), QColor(0, 0, 255));
}

TEST_F(CalendarWiringTest, ScheduleButtonOpensTheEditorForTheChosenContactOnly)
{
    w->lead->cmdScheduleAppointment->click(); // no contact chosen: nothing opens
    lLeadID = addContact("O'Brien", "Dan");
    desk.onModal("frmAppt", [](QDialog& d) { EXPECT_EQ(static_cast<frmAppt&>(d).apptText(3), "Dan O'Brien"); });
    w->lead->cmdScheduleAppointment->click();
    exec(sConnContacts, "update contacts set lastname=null");
    desk.onModal("frmAppt", [](QDialog& d) { EXPECT_EQ(static_cast<frmAppt&>(d).apptText(3), ""); });
    w->lead->cmdScheduleAppointment->click();
    EXPECT_EQ(desk.prompts.size(), 2u);
}
