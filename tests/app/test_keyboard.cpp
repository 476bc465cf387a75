// The keyboard alone, on the shown main window and the windows it opens: keys reach only the
// panel in front, the tree shows what the keys choose, Enter presses the focused button, Tab
// leaves the grid, the month grid takes the arrows, and the seven-day list keeps up.
#include "tests/app/Helpers.h"

class KeyboardTest : public MainWindowTest {
protected:
    using MainWindowTest::press;
    void press(int key, Qt::KeyboardModifiers mods = Qt::NoModifier) { press(w.get(), key, mods); }
    void press(std::initializer_list<int> keys)
    {
        for (int key : keys)
            press(key);
    }
    QString focused(QWidget* window = nullptr) const
    {
        QWidget* f = (window ? window : w.get())->focusWidget();
        return f ? f->objectName() : QString();
    }
};

TEST_F(KeyboardTest, KeysAndTabStayInThePanelInFront)
{
    addContact("Adams", "Al");
    w->Form_Load();
    press(Qt::Key_F3);
    QTest::mouseClick(w->lead->tvLead->viewport(), Qt::LeftButton, {},
                      w->lead->tvLead->visualItemRect(w->lead->tvLead->topLevelItem(0)).center());
    press(Qt::Key_F5);
    QTest::mouseClick(w->remind->lstWeek->viewport(), Qt::LeftButton, {}, QPoint(5, 5));
    QStringList seen;
    for (int i = 0; i < 6; ++i) {
        press(Qt::Key_Tab);
        seen << focused();
        EXPECT_TRUE(w->fraRemind->isAncestorOf(w->focusWidget())) << focused().toStdString();
    }
    press(Qt::Key_Space); // on whatever Tab reached: never the contact editor of the panel out of view
    EXPECT_EQ(seen.join(u','), "lstToDo,cmdDeleteToDo,lstWeek,lstToDo,cmdDeleteToDo,lstWeek");
    EXPECT_TRUE(desk.prompts.empty());
    EXPECT_FALSE(w->fraLead->isVisible() || w->fraCal->isVisible());
    EXPECT_EQ(lefts(), "-12000,-12000,120"); // the left edge still tells which panel is in front
}

TEST_F(KeyboardTest, TheTreeShowsWhatTheKeysChooseEnterEditsAndThePlaceIsKept)
{
    addContact("Adams", "Al", "Cust");
    addContact("Baker", "Bea");
    const int id = addContact("Ångström", "Åsa", "Cust");
    w->Form_Load();
    press(Qt::Key_F3);
    EXPECT_EQ(focused(), "tvLead");
    press({Qt::Key_Home, Qt::Key_Right, Qt::Key_Down, Qt::Key_Down});
    EXPECT_EQ(w->lead->txtLead[1]->text(), "Ångström"); // filed under A, after Adams
    QStringList order;
    for (int i = 0; i < 9; ++i) {
        press(Qt::Key_Tab);
        order << focused();
    }
    // The web site's button, below the first controls, comes after them, then the history.
    EXPECT_EQ(order.join(u','),
              "cmdEditLead,cmdLog,cmdScheduleAppointment,cmdEmail,cmbDisplay,cmdWebSite,cmdHistory,lstHistory,tvLead");
    press(Qt::Key_Tab);
    desk.onModal("frmLead", [&](QDialog& d) {
        auto& f = static_cast<frmLead&>(d);
        EXPECT_TRUE(f.bEditMode && f.txtLead[0]->text() == QString::number(id));
        f.txtLead[1]->setFocus();
        press(&f, Qt::Key_Return); // Enter in a text box presses nothing
        EXPECT_TRUE(f.isVisible());
        f.cmdCloseLead->setFocus();
        press(&f, Qt::Key_Enter, Qt::KeypadModifier);
        EXPECT_FALSE(f.isVisible());
    });
    press(Qt::Key_Return); // on Edit
    ASSERT_TRUE(w->lead->tvLead->currentItem());
    EXPECT_EQ(w->lead->tvLead->currentItem()->text(0), "Ångström, Åsa - ");
    EXPECT_TRUE(w->lead->tvLead->currentItem()->parent()->isExpanded());
    EXPECT_EQ(w->lead->txtLead[0]->text().toInt(), id);
    // "Cust", then "All" lists everyone again.
    w->lead->cmbDisplay->setFocus();
    press(Qt::Key_Down);
    EXPECT_EQ(listed().size(), 2);
    press(Qt::Key_Up);
    EXPECT_EQ(listed().size(), 3);
}

TEST_F(KeyboardTest, TabLeavesTheGridAndEnterPicksARowForTheAppointment)
{
    addContact("Adams", "Al");
    addContact("Baker", "Bea");
    w->Form_Load();
    desk.onModal("frmContactGrid", [&](QDialog& g) {
        EXPECT_EQ(focused(&g), "grdDataGrid");
        QStringList order;
        const std::pair<int, Qt::KeyboardModifiers> keys[] = {
            {Qt::Key_Tab, Qt::ControlModifier}, {Qt::Key_Tab, Qt::ShiftModifier}, {Qt::Key_Tab, {}}, {Qt::Key_Tab, {}},
            {Qt::Key_Tab, {}}, {Qt::Key_Tab, {}}, {Qt::Key_Tab, {}}, {Qt::Key_Tab, Qt::ShiftModifier}};
        for (const auto& [key, mods] : keys) {
            press(&g, key, mods);
            order << focused(&g);
        }
        EXPECT_EQ(order.join(u','), "cboFilter,grdDataGrid,cboFilter,cboType,cmdEmail,cboCompanies,grdDataGrid,cboCompanies");
    });
    press(Qt::Key_F4);
    backToMain();
    desk.onModal("frmAppt", [&](QDialog& d) {
        auto& editor = static_cast<frmAppt&>(d);
        desk.onModal("frmContactGrid", [&](QDialog& g) {
            auto& grid = static_cast<frmContactGrid&>(g);
            press(&g, Qt::Key_Down);
            press(&g, Qt::Key_Right);
            EXPECT_EQ(grid.grdDataGrid->currentIndex().column(), 1);
            press(&g, Qt::Key_Return);
            EXPECT_FALSE(g.isVisible());
        });
        editor.cmdContact->setFocus();
        press(&d, Qt::Key_Return);
        EXPECT_EQ(editor.apptText(3), "Bea Baker");
        desk.answerYes(); // left with a name picked: the editor asks before it drops it
    });
    press(Qt::Key_F7);
    ASSERT_EQ(desk.prompts.size(), 4u);
    EXPECT_EQ(desk.prompts[3].text, "Discard the changes to this appointment?");
}

TEST_F(KeyboardTest, TheArrowsChooseACalendarDayAndTheListOpensItsAppointment)
{
    const int id = addAppt(QDate(2026, 12, 5), QTime(9, 0), "Site visit");
    w->Form_Load();
    press(Qt::Key_F6);
    EXPECT_EQ(focused(), "dayKeys");
    EXPECT_TRUE(w->cal->labDay[w->cal->cellOfDay(4)]->font().bold()); // today
    EXPECT_FALSE(w->cal->labDay[w->cal->cellOfDay(5)]->font().bold());
    press({Qt::Key_Down, Qt::Key_Down, Qt::Key_Down, Qt::Key_Down});
    EXPECT_EQ(w->cal->labMonthYear->text() + u' ' + w->cal->chosenDay().toString(Qt::ISODate), "January - 2027 2027-01-01");
    press({Qt::Key_Up, Qt::Key_Up, Qt::Key_Up, Qt::Key_Left, Qt::Key_Space});
    EXPECT_EQ(w->cal->lstCal->item(0)->text(), " - - - 12/10/2026 - - - ");
    press({Qt::Key_Right, Qt::Key_Left, Qt::Key_Left, Qt::Key_Left, Qt::Key_Left, Qt::Key_Left, Qt::Key_Left, Qt::Key_Return});
    EXPECT_EQ(w->cal->lstCal->item(1)->text(), "9:00 AM - Site visit");
    desk.onModal("frmAppt", [&](QDialog& d) {
        auto& editor = static_cast<frmAppt&>(d);
        EXPECT_EQ(editor.lApptID, id);
        editor.setApptText(0, "Moved visit");
        editor.cmdSave_Click();
    });
    press({Qt::Key_Tab, Qt::Key_Tab});
    EXPECT_EQ(focused(), "lstCal");
    press({Qt::Key_Down, Qt::Key_Down, Qt::Key_Return});
    EXPECT_EQ(weekLine(1), "9:00 AM - Moved visit"); // the seven-day list followed the change
    backToMain();
    press(Qt::Key_F5);
    desk.onModal("frmAppt", [&](QDialog& d) { EXPECT_EQ(static_cast<frmAppt&>(d).lApptID, id); });
    w->remind->lstWeek->setCurrentRow(2);
    press(Qt::Key_Return);
    EXPECT_EQ(desk.prompts.size(), 2u);
}
