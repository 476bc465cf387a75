// The calendar commands of the main window: start-up fill, F5, F6, F7 and the Schedule button.
#include "tests/app/Helpers.h"

class CalendarWiringTest : public MainWindowTest {
protected:
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

TEST_F(CalendarWiringTest, StartUpFillsAndPurgesThenF6ShowsThisMonthAndF7AndScheduleOpenTheEditor)
{
    addAppt(QDate(2024, 12, 3), QTime(9, 0), "Too old");
    exec(sConnMain, "Insert into todo (todo)values('Call the bank')");
    w->Form_Load();
    EXPECT_EQ(w->remind->lstToDo->item(2)->text(), "Call the bank");
    EXPECT_EQ(weekLine(0), "There are no appointments for the next 7 days.");
    EXPECT_TRUE(rows(sConnContacts, "select autoid from appointments").empty());

    QTest::keyClick(w.get(), Qt::Key_F6);
    EXPECT_EQ(w->cal->labMonthYear->text(), "December - 2026");
    QTest::keyClick(w.get(), Qt::Key_F3);
    scheduleOn(QDate(2026, 12, 5));
    QTest::keyClick(w.get(), Qt::Key_F7);
    EXPECT_EQ(weekLine(1), "12:00 PM - Site visit");
    w->mnuApptsCal_Click();
    scheduleOn(QDate(2027, 1, 14));
    w->mnuApptsSched_Click();
    EXPECT_EQ(w->cal->labDay[w->cal->cellOfDay(14)]->palette().color(QPalette::WindowText), QColor(0, 0, 255));

    w->lead->cmdScheduleAppointment->click(); // no contact chosen: nothing opens
    lLeadID = addContact("O'Brien", "Dan");
    desk.onModal("frmAppt", [](QDialog& d) { EXPECT_EQ(static_cast<frmAppt&>(d).apptText(3), "Dan O'Brien"); });
    w->lead->cmdScheduleAppointment->click();
    EXPECT_EQ(desk.prompts.size(), 3u);
    EXPECT_TRUE(desk.messages().isEmpty());
}
