// Lists that keep up with the user: every appointment of a listed day one arrow key away, the
// day still listed after its editor closes, a to-do item edited with Enter, the seven-day list
// after the Reminder window's Open, and dismissed alerts that stay dismissed in a second copy.
#include "calendar/frmReminder.h"
#include "tests/calendar/Helpers.h"

namespace {

QDateTime at(int h, int min) { return QDateTime(QDate(2026, 12, 4), QTime(h, min), kNewYork); }

class KeepUpTest : public CalendarTest {
protected:
    void press(int key)
    {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key(key));
        QCoreApplication::processEvents(); // what the key queued, as the main loop runs it
    }
};

TEST_F(KeepUpTest, EveryAppointmentOfTheDayIsReachedWithTheArrowsAndTheDayStaysListedAfterItsEditor)
{
    for (const auto& [h, brief] : {std::pair{9, "First"}, {11, "Second"}, {15, "Third"}})
        addAppt(QDate(2026, 12, 8), QTime(h, 0), brief);
    ASSERT_TRUE(activated(&host));
    cal->LoadCal(QDate(2026, 12, 1));
    QTest::mouseClick(cal->labDay[cal->cellOfDay(8)], Qt::LeftButton);
    clickLine(cal->lstCal, 0); // the heading: the keys are in the list, nothing opens
    ASSERT_EQ(QApplication::focusWidget(), cal->lstCal);
    // Down to the last line opens nothing on the way (the strict desktop fails if anything opens).
    for (int i = 1; i < cal->lstCal->count(); ++i)
        press(Qt::Key_Down);
    EXPECT_EQ(cal->lstCal->currentRow(), 12);
    for (int i = 0; i < 3; ++i)
        press(Qt::Key_Up);
    EXPECT_EQ(cal->lstCal->currentItem()->text(), "3:00 PM - Third");
    desk.onModal("frmAppt", [](QDialog& d) {
        auto& editor = static_cast<frmAppt&>(d);
        ASSERT_TRUE(activated(&editor));
        editor.txtBrief->setFocus(Qt::TabFocusReason);
        QTest::keyClicks(editor.txtBrief, "Last");
        QTest::keyClick(editor.txtBrief, Qt::Key_S, Qt::ControlModifier);
    });
    press(Qt::Key_Return);
    ASSERT_TRUE(activated(&host));
    // The day is still listed, its changed appointment chosen, and the keys go on from there.
    EXPECT_EQ(cal->lstCal->item(0)->text(), " - - - 12/8/2026 - - - ");
    EXPECT_EQ(cal->lstCal->currentItem()->text(), "3:00 PM - Last");
    cal->lstCal->setFocus();
    for (int i = 0; i < 4; ++i)
        press(Qt::Key_Up);
    EXPECT_EQ(cal->lstCal->currentItem()->text(), "11:00 AM - Second");
    EXPECT_EQ(desk.prompts.size(), 1u);
}

TEST_F(KeepUpTest, EnterEditsTheToDoItemChosenWithTheArrows)
{
    exec(sConnMain, "insert into todo(todo) values('Call the bank')");
    exec(sConnMain, "insert into todo(todo) values('Send the offer')");
    remind->PopToDo();
    ASSERT_TRUE(activated(&host));
    remind->lstToDo->setFocus();
    remind->lstToDo->setCurrentRow(2); // "Call the bank"
    press(Qt::Key_Down);
    press(Qt::Key_Down);
    ASSERT_EQ(remind->lstToDo->currentItem()->text(), "Send the offer");
    desk.answerInput("Send the new offer");
    press(Qt::Key_Return);
    EXPECT_EQ(desk.prompts.back().extra, "Send the offer"); // the box starts from the item
    EXPECT_EQ(joined(rows(sConnMain, "select todo from todo order by id")), "Call the bank/Send the new offer");
}

TEST_F(KeepUpTest, TheReminderWindowsOpenRefreshesTheSevenDayListAndTheListedDay)
{
    desk.jumpClock(at(8, 0));
    ReminderAlerts alerts(kNewYork);
    addAppt(QDate(2026, 12, 4), QTime(10, 0), "Review");
    remind->PopWeekList();
    cal->LoadCal(QDate(2026, 12, 1));
    cal->labDay_Click(cal->cellOfDay(4));
    alerts.Rearm();
    desk.advanceClock(at(9, 45));
    frmReminder* w = alerts.window();
    ASSERT_TRUE(w->isVisible());
    desk.onModal("frmAppt", [](QDialog& d) {
        auto& editor = static_cast<frmAppt&>(d);
        ASSERT_TRUE(activated(&editor));
        editor.txtBrief->setFocus(Qt::TabFocusReason);
        QTest::keyClicks(editor.txtBrief, "Budget review");
        QTest::mouseClick(editor.cmdSave, Qt::LeftButton);
    });
    QTest::mouseClick(w->cmdOpen, Qt::LeftButton);
    EXPECT_EQ(lines(remind->lstWeek).value(1), "10:00 AM - Budget review");
    EXPECT_EQ(lines(cal->lstCal).value(1), "10:00 AM - Budget review");
}

TEST_F(KeepUpTest, ADismissedAlertStaysDismissedInASecondRunningCopyAndTheCloseBoxDismissesForTheNextStart)
{
    desk.jumpClock(at(8, 0));
    addAppt(QDate(2026, 12, 4), QTime(10, 0), "Review");
    addAppt(QDate(2026, 12, 4), QTime(10, 10), "Call");
    auto first = std::make_unique<ReminderAlerts>(kNewYork);
    auto second = std::make_unique<ReminderAlerts>(kNewYork); // kestrel --new-window on the same data
    first->Rearm();
    second->Rearm();
    desk.advanceClock(at(9, 45));
    ASSERT_TRUE(first->window()->isVisible() && second->window()->isVisible());
    QTest::mouseClick(first->window()->cmdDismiss, Qt::LeftButton);
    EXPECT_FALSE(first->window()->isVisible());
    EXPECT_TRUE(QTest::qWaitFor([&] { return !second->window()->isVisible(); }, 2000));
    EXPECT_EQ(second->window()->lstDue->count(), 0);

    // Call comes, Review does not again; the close box dismisses what it lists, for the next start
    // too; a day gone by is forgotten.
    desk.advanceClock(at(10, 5));
    EXPECT_EQ(lines(first->window()->lstDue), QStringList{"10:10 AM - Call - Main office - Ann Lee"});
    first->window()->close();
    EXPECT_EQ(DismissedAlerts(QDate(2026, 12, 4)).size(), 2);
    EXPECT_TRUE(DismissedAlerts(QDate(2026, 12, 5)).isEmpty());
}

} // namespace
