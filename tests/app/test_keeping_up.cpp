// The main window keeping up with the user and the day: the tree as its filter box says through
// F3, an edit and a jump from Find; the neighbour chosen after a delete; F6 into the month from
// anywhere; the lists at midnight; the e-mail link without a mail program.
#include "calendar/frmReminder.h"
#include "tests/app/Helpers.h"

namespace {

class KeepingUpTest : public MainWindowTest {
protected:
    void press(int key, Qt::KeyboardModifiers mods = Qt::NoModifier)
    {
        QWidget* window = QApplication::activeWindow() ? QApplication::activeWindow() : w.get();
        QTest::keyClick(window->focusWidget() ? window->focusWidget() : window, Qt::Key(key), mods);
        QCoreApplication::processEvents();
    }
    // The display filter chosen with the keys, as a person does it.
    void chooseFilter(const QString& type)
    {
        w->lead->cmbDisplay->setFocus(Qt::TabFocusReason);
        press(Qt::Key_Home);
        while (w->lead->cmbDisplay->currentText() != type)
            press(Qt::Key_Down);
    }
    QString filterShown() const { return w->lead->cmbDisplay->currentText(); }
    QString chosen() const { return w->lead->tvLead->currentItem() ? w->lead->tvLead->currentItem()->text(0) : QString(); }
};

TEST_F(KeepingUpTest, TheTreeListsWhatItsFilterBoxSaysThroughF3AnEditAndAJumpFromFind)
{
    addContact("Adams", "Al", "Cust");
    addContact("Baker", "Bea", "Lead");
    const int cole = addContact("Cole", "Cat", "Cust");
    w->Form_Load();
    press(Qt::Key_F3);
    chooseFilter("Cust");
    EXPECT_EQ(listed(), QStringList({"Adams, Al - ", "Cole, Cat - "}));
    press(Qt::Key_F3); // every contact: the box says so
    EXPECT_EQ(filterShown() + u' ' + QString::number(listed().size()), "All 3");

    // An edit keeps the filter, and the contact edited stays chosen.
    chooseFilter("Cust");
    ASSERT_TRUE(chooseNode("Cole"));
    desk.onModal("frmLead", [&](QDialog& d) {
        auto& f = static_cast<frmLead&>(d);
        ASSERT_TRUE(activated(&f));
        f.txtLead[2]->setFocus(Qt::TabFocusReason);
        QTest::keyClicks(f.txtLead[2], "Cathy");
        QTest::keyClick(f.txtLead[2], Qt::Key_S, Qt::ControlModifier);
        EXPECT_FALSE(f.isVisible());
    });
    QTest::mouseClick(w->lead->cmdEditLead, Qt::LeftButton);
    backToMain();
    EXPECT_EQ(filterShown(), "Cust");
    EXPECT_EQ(listed(), QStringList({"Adams, Al - ", "Cole, Cathy - "}));
    EXPECT_EQ(chosen(), "Cole, Cathy - ");

    // An edit that takes the contact out of the filter shows it among all contacts.
    desk.onModal("frmLead", [&](QDialog& d) {
        auto& f = static_cast<frmLead&>(d);
        ASSERT_TRUE(activated(&f));
        f.cmbType->setFocus(Qt::TabFocusReason);
        QTest::keyClick(f.cmbType, Qt::Key_Home); // Lead
        QTest::keyClick(f.cmbType, Qt::Key_S, Qt::ControlModifier);
    });
    QTest::mouseClick(w->lead->cmdEditLead, Qt::LeftButton);
    backToMain();
    EXPECT_EQ(filterShown() + u' ' + QString::number(listed().size()), "All 3");
    EXPECT_EQ(w->lead->txtLead[0]->text().toInt(), cole);

    // Find: a contact the filter shows keeps it; one it leaves out lists all, and the box says so.
    chooseFilter("Cust");
    for (const auto& [typed, filter] : {std::pair{"adams", "Cust"}, {"baker", "All"}}) {
        desk.onModal("frmFind", [&](QDialog& d) {
            QTest::keyClicks(static_cast<frmFind&>(d).txtFind, typed);
            QTest::keyClick(static_cast<frmFind&>(d).txtFind, Qt::Key_Return);
        });
        QTest::keyClick(w.get(), Qt::Key_F8);
        backToMain();
        EXPECT_EQ(filterShown(), filter) << typed;
        EXPECT_EQ(chosen().left(5).toLower(), QString(typed).left(5)) << typed;
    }
}

TEST_F(KeepingUpTest, ADeletedContactLeavesItsNeighbourChosenWithTheLettersStillOpen)
{
    addContact("Adams", "Al");
    addContact("Baker", "Bea");
    addContact("Bell", "Bo");
    addContact("Cole", "Cat");
    w->Form_Load();
    press(Qt::Key_F3);
    ASSERT_TRUE(chooseNode("Adams"));
    ASSERT_TRUE(chooseNode("Baker"));
    for (const auto& [gone, neighbour] : {std::pair{"Baker, Bea - ", "Bell, Bo - "}, {"Bell, Bo - ", "Cole, Cat - "},
                                          {"Cole, Cat - ", "Adams, Al - "}}) {
        ASSERT_EQ(chosen(), gone);
        desk.onModal("frmLead", [&](QDialog& d) {
            desk.answerYes();
            QTest::mouseClick(static_cast<frmLead&>(d).cmdDelete, Qt::LeftButton);
        });
        QTest::mouseClick(w->lead->cmdEditLead, Qt::LeftButton);
        backToMain();
        EXPECT_EQ(chosen(), neighbour) << gone;
        EXPECT_EQ(w->lead->txtLead[1]->text(), QString(neighbour).section(u',', 0, 0)) << gone;
        EXPECT_TRUE(w->lead->tvLead->topLevelItem(0)->isExpanded()) << gone; // A, opened before, stays open
    }
}

TEST_F(KeepingUpTest, F6PutsTheKeysIntoTheMonthOnTodayFromAnywhereInTheCalendar)
{
    w->Form_Load();
    press(Qt::Key_F6);
    EXPECT_EQ(w->focusWidget(), w->cal->dayKeys);
    for (int i = 0; i < 5; ++i)
        press(Qt::Key_Down); // into January
    for (int tabs : {1, 2}) {
        for (int i = 0; i < tabs; ++i)
            press(Qt::Key_Tab);
        EXPECT_NE(w->focusWidget(), w->cal->dayKeys);
        press(Qt::Key_F6);
        EXPECT_EQ(w->focusWidget(), w->cal->dayKeys) << tabs;
        EXPECT_EQ(w->cal->chosenDay(), QDate(2026, 12, 4)) << tabs;
        EXPECT_EQ(w->cal->labMonthYear->text(), "December - 2026");
    }
}

TEST_F(KeepingUpTest, AtMidnightTheSevenDayListTheCalendarsTodayAndTheAlertsMoveOnADay)
{
    addAppt(QDate(2026, 12, 4), QTime(14, 0), "Today");
    addAppt(QDate(2026, 12, 12), QTime(9, 0), "Eight days on");
    addAppt(QDate(2026, 12, 6), QTime(0, 10), "Early call");
    ReminderAlerts alerts;
    w->Form_Load();
    alerts.Rearm();
    press(Qt::Key_F6);
    EXPECT_TRUE(w->cal->labDay[w->cal->cellOfDay(4)]->font().bold());
    press(Qt::Key_F5);
    EXPECT_EQ(weekLine(0), "Friday, 12/4/2026");

    desk.advanceClock(QDateTime(QDate(2026, 12, 5), QTime(0, 0, 30)));
    EXPECT_EQ(weekLine(0), "Sunday, 12/6/2026");
    EXPECT_EQ(weekLine(5), "Saturday, 12/12/2026");
    EXPECT_FALSE(w->cal->labDay[w->cal->cellOfDay(4)]->font().bold());
    EXPECT_TRUE(w->cal->labDay[w->cal->cellOfDay(5)]->font().bold());
    EXPECT_EQ(w->statusPanels[3]->text(), "12/5/2026");
    desk.advanceClock(QDateTime(QDate(2026, 12, 6), QTime(0, 5)));
    ASSERT_EQ(desk.notifications.size(), 2); // today's 2 PM, then the call ten past midnight
    EXPECT_TRUE(desk.notifications[1].endsWith("12:10 AM - Early call - Main office - Ann Lee"));
}

TEST_F(KeepingUpTest, EmailWithoutAMailProgramSaysSoPlainly)
{
    exec(sConnContacts, "INSERT into contacts(lastname,firstname,email,contype)values('Lee','Ann','ann@example.com','Lead')");
    w->Form_Load();
    press(Qt::Key_F3);
    ASSERT_TRUE(chooseNode("Lee"));
    desk.mailProgram = false;
    QTest::mouseClick(w->lead->cmdEmail, Qt::LeftButton);
    EXPECT_EQ(desk.messages(), QStringList{NoMailProgramText("ann@example.com")});
    EXPECT_TRUE(desk.messages()[0].startsWith("No e-mail program is set up on this computer"));
}

} // namespace
