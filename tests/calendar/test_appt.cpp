// The appointment editor: layout, both modes, the statements it writes, its refusals and failures.
#include "tests/calendar/Helpers.h"

class ApptTest : public CalendarTest {
protected:
    void SetUp() override
    {
        CalendarTest::SetUp();
        setLeftTwips(fraCal, -12000); // out of view unless a test brings it back
    }
    void withEditor(bool edit, int id, const std::function<void(frmAppt&)>& script)
    {
        showModal<frmAppt>(desk, [&](frmAppt& d) { d.bEditMode = edit; d.lApptID = id; }, script);
    }
    static void fillExample(frmAppt& d)
    {
        d.setApptText(3, "Ann Lee");
        d.setApptText(1, "Main office");
        d.DTPicker1->setDate(QDate(2008, 3, 7));
        d.cboTime->setCurrentIndex(19);
        d.setApptText(0, "Review");
    }
    QString stored() { return CalendarTest::stored("select name,address,apptdate,appttime,apptbrief,apptnotes from appointments"); }
};

TEST_F(ApptTest, ControlsStandWhereTheTableSaysInTabOrderWithTheHalfHours)
{
    frmAppt d;
    d.PopTimes();
    EXPECT_EQ(d.windowTitle(), "Appointment");
    EXPECT_EQ(d.size(), QSize(px(5655), px(5280)));
    expectPlaced(&d, {{"Label1", "Brief description:", 240, 120}, {"txtAppt0", "", 240, 360, 5175, -1, 50},
                      {"Label2", "Where:", 240, 720}, {"txtAppt1", "", 240, 960, 5175, -1, 75}, {"Label3", "Date:", 240, 1320},
                      {"DTPicker1", "", 240, 1560, 1695}, {"Label4", "Time:", 2280, 1320}, {"cboTime", "", 2520, 1560, 1455},
                      {"Label5", "Notes:", 240, 1920}, {"txtAppt2", "", 240, 2160, 5175, 885}, {"cmdSave", "Save", 840, 4320},
                      {"cmdClose", "Close", 3000, 4320}, {"Label6", "Contact or name:", 240, 3720},
                      {"txtAppt3", "", 240, 3960, 4455, -1, 50}, {"cmdContact", "Select Contact", 240, 3240},
                      {"cmdDelete", "Delete", 1440, 4800}});
    EXPECT_EQ(tabWalk(d.txtBrief, 10), "txtAppt0,txtAppt1,DTPicker1,cboTime,txtAppt2,cmdSave,cmdClose,txtAppt3,cmdContact,"
                                       "cmdDelete");
    ASSERT_EQ(d.cboTime->count(), 48);
    EXPECT_EQ(QStringList({d.cboTime->itemText(0), d.cboTime->itemText(3), d.cboTime->itemText(24), d.cboTime->itemText(47)}),
              QStringList({"12:00 AM", "1:30 AM", "12:00 PM", "11:30 PM"}));
    EXPECT_EQ(QList<int>({d.SelectTime("9:30 AM"), d.SelectTime("9:30 am"), d.SelectTime("9:15 AM")}), QList<int>({19, 0, 0}));
}

TEST_F(ApptTest, NewModeStartsTodayAtNoonAndInsertsAsWritten)
{
    withEditor(false, 0, [&](frmAppt& d) {
        EXPECT_FALSE(d.cmdDelete->isEnabled());
        EXPECT_EQ(d.DTPicker1->date(), QDate(2026, 12, 4));
        EXPECT_EQ(d.cboTime->currentText(), "12:00 PM");
        fillExample(d);
        EXPECT_EQ(d.SaveStatement(), "INSERT into appointments(name,address,apptdate,appttime,apptbrief,apptnotes)values("
                                     "'Ann Lee','Main office',#3/7/2008#,#9:30 AM#,'Review','')");
        d.setApptText(0, "Pat's 'review'");
        d.setApptText(1, "O'Hare, gate 'B'");
        d.setApptText(2, "Bring Sam's file\nand the \"old\" notes");
        d.setApptText(3, "Dan O'Brien");
        QTest::mouseClick(d.cmdSave, Qt::LeftButton);
        EXPECT_FALSE(d.isVisible());
    });
    EXPECT_EQ(stored(), "Dan O'Brien|O'Hare, gate 'B'|3/7/2008|9:30:00 AM|Pat's 'review'|Bring Sam's file\nand the \"old\" notes");
}

TEST_F(ApptTest, EditModeShowsTheRowAndUpdatesAsWritten)
{
    const int id = addAppt(QDate(2009, 11, 20), QTime(16, 30), "Old", "Bo", "Here");
    withEditor(true, id, [&](frmAppt& d) {
        EXPECT_TRUE(d.cmdDelete->isEnabled());
        EXPECT_EQ(QStringList({d.apptText(0), d.apptText(1), d.apptText(3), d.cboTime->currentText()}),
                  QStringList({"Old", "Here", "Bo", "4:30 PM"}));
        EXPECT_EQ(d.DTPicker1->date(), QDate(2009, 11, 20));
        fillExample(d);
        EXPECT_EQ(d.SaveStatement(), QStringLiteral("UPDATE appointments set name='Ann Lee',address='Main office',"
                                                    "apptdate=#3/7/2008#,appttime=#9:30 AM#,apptbrief='Review',"
                                                    "apptnotes='' where autoid=%1").arg(id));
        d.cmdSave_Click();
    });
    EXPECT_EQ(stored(), "Ann Lee|Main office|3/7/2008|9:30:00 AM|Review|");

    // A time off the half hour opens as 12:00 AM and is saved so.
    exec(sConnContacts, "update appointments set appttime=#9:15 AM#");
    withEditor(true, id, [&](frmAppt& d) { d.cmdSave_Click(); });
    EXPECT_TRUE(stored().contains("|12:00:00 AM|"));

    // A vanished row and a row of nulls open as empty fields.
    exec(sConnContacts, "insert into appointments(name) values(null)");
    for (int gone : {999, id + 1})
        withEditor(true, gone, [&](frmAppt& d) {
            EXPECT_EQ(d.apptText(0) + d.apptText(1) + d.apptText(2) + d.apptText(3), "") << gone;
            EXPECT_EQ(d.cboTime->currentIndex(), 0);
        });
    EXPECT_TRUE(desk.messages().isEmpty());
}

TEST_F(ApptTest, AnEmptyFieldIsRefusedAndAFailedSaveKeepsTheEditorOpenWithTheInput)
{
    withEditor(false, 0, [&](frmAppt& d) {
        d.activateWindow();
        d.setApptText(0, "Review");
        QTest::mouseClick(d.cmdSave, Qt::LeftButton);
        EXPECT_EQ(QApplication::focusWidget(), d.txtName);
        d.setApptText(0, "");
        d.setApptText(3, "Ann Lee");
        QTest::mouseClick(d.cmdSave, Qt::LeftButton);
        EXPECT_EQ(QApplication::focusWidget(), d.txtBrief);
        EXPECT_EQ(d.txtBrief->palette().color(QPalette::Base), kFocusYellow);

        fillExample(d);
        d.setApptText(2, "Notes typed with care");
        exec(sConnContacts, "drop table appointments");
        QTest::mouseClick(d.cmdSave, Qt::LeftButton);
        EXPECT_TRUE(d.isVisible() && d.apptText(2) == "Notes typed with care");
    });
    const QStringList m = desk.messages();
    ASSERT_EQ(m.size(), 3);
    EXPECT_EQ(m.mid(0, 2), QStringList(2, "Description and name must contain entries."));
    EXPECT_EQ(desk.prompts[1].caption, "Kestrel");
    EXPECT_TRUE(m[2].contains(") in procedure ActionQuery of Module modData\r\n"));
}

TEST_F(ApptTest, DeleteAsksAndReloadsTheCalendarOnlyWhileItShows)
{
    const int id = addAppt(QDate(2008, 3, 7), QTime(9, 30), "Review");
    for (bool yes : {false, true}) {
        setLeftTwips(fraCal, yes ? -12000 : 120);
        withEditor(true, id, [&](frmAppt& d) {
            yes ? desk.answerYes() : desk.answerNo();
            d.DTPicker1->setDate(QDate(2009 + yes, 1, 10));
            QTest::mouseClick(d.cmdDelete, Qt::LeftButton);
            EXPECT_FALSE(d.isVisible());
        });
        EXPECT_EQ(stored().isEmpty(), yes);
    }
    EXPECT_EQ(desk.prompts[1].text + u'|' + desk.prompts[1].caption,
              "Are you sure you want to delete this appointment?|You are about to delete an appointment");
    EXPECT_EQ(cal->dCalDate, QDate(2009, 1, 1)); // reloaded after No; out of view after Yes
}

TEST_F(ApptTest, SelectContactOpensTheGridToPickAndTakesThePickedName)
{
    withEditor(false, 0, [&](frmAppt& d) {
        desk.onModal("frmContactGrid", [&](QDialog& g) {
            auto& grid = static_cast<frmContactGrid&>(g);
            EXPECT_TRUE(grid.bViewMode && grid.cmdSelect->isEnabled());
            grid.picker->setPickedName("Pat Doe");
        });
        QTest::mouseClick(d.cmdContact, Qt::LeftButton);
        EXPECT_EQ(d.apptText(3), "Pat Doe");
    });
}
