// The appointment editor: both modes, the statements it writes, its refusals and failures.
#include "tests/calendar/Helpers.h"

class ApptTest : public CalendarTest {
protected:
    void withEditor(bool edit, int id, const std::function<void(frmAppt&)>& script)
    {
        showModal<frmAppt>(desk, [&](frmAppt& d) { d.bEditMode = edit; d.lApptID = id; }, script);
    }
    QString stored() { return CalendarTest::stored("select name,address,apptdate,appttime,apptbrief,apptnotes from appointments"); }
};

TEST_F(ApptTest, NewStartsTodayAtNoonAndInsertsEditShowsTheRowAndUpdates)
{
    withEditor(false, 0, [&](frmAppt& d) {
        EXPECT_EQ(d.DTPicker1->date().toString(Qt::ISODate) + u' ' + d.cboTime->currentText(), "2026-12-04 12:00 PM");
        d.setApptText(3, "Ann Lee");
        d.setApptText(1, "O'Hare, gate 'B'");
        d.DTPicker1->setDate(QDate(2008, 3, 7));
        d.cboTime->setCurrentIndex(19);
        d.setApptText(0, "Pat's review");
        EXPECT_EQ(d.SaveStatement(), "INSERT into appointments(name,address,apptdate,appttime,apptbrief,apptnotes)values("
                                     "'Ann Lee','O''Hare, gate ''B''',#3/7/2008#,#9:30 AM#,'Pat''s review','')");
        QTest::mouseClick(d.cmdSave, Qt::LeftButton);
    });
    EXPECT_EQ(stored(), "Ann Lee|O'Hare, gate 'B'|3/7/2008|9:30:00 AM|Pat's review|");
    withEditor(true, 1, [&](frmAppt& d) {
        EXPECT_EQ(d.apptText(1) + u'|' + d.cboTime->currentText(), "O'Hare, gate 'B'|9:30 AM");
        d.setApptText(1, "Main office");
        EXPECT_EQ(d.SaveStatement(), "UPDATE appointments set name='Ann Lee',address='Main office',apptdate=#3/7/2008#,"
                                     "appttime=#9:30 AM#,apptbrief='Pat''s review',apptnotes='' where autoid=1");
        d.cmdSave_Click();
    });
    EXPECT_EQ(stored(), "Ann Lee|Main office|3/7/2008|9:30:00 AM|Pat's review|");
    exec(sConnContacts, "update appointments set appttime=#9:15 AM#"); // off the half hour: opens and saves as 12:00 AM
    withEditor(true, 1, [&](frmAppt& d) { d.cmdSave_Click(); });
    EXPECT_TRUE(stored().contains("|12:00:00 AM|"));
}

TEST_F(ApptTest, AnEmptyFieldIsRefusedAndAFailedSaveKeepsTheEditorOpenWithTheInput)
{
    withEditor(false, 0, [&](frmAppt& d) {
        d.activateWindow();
        d.setApptText(3, "Ann Lee");
        QTest::mouseClick(d.cmdSave, Qt::LeftButton);
        EXPECT_EQ(QApplication::focusWidget(), d.txtBrief);
        d.setApptText(0, "Review");
        d.setApptText(2, "Notes typed with care");
        exec(sConnContacts, "drop table appointments");
        QTest::mouseClick(d.cmdSave, Qt::LeftButton);
        EXPECT_TRUE(d.isVisible() && d.apptText(2) == "Notes typed with care");
    });
    const QStringList m = desk.messages();
    ASSERT_EQ(m.size(), 2);
    EXPECT_EQ(m[0] + u'|' + desk.prompts[1].caption, "Description and name must contain entries.|Kestrel");
    EXPECT_TRUE(m[1].contains(") in procedure ActionQuery of Module modData\r\n"));
}

TEST_F(ApptTest, DeleteAsksAndReloadsTheCalendarWhileItShowsAndSelectContactTakesThePickedName)
{
    const int id = addAppt(QDate(2008, 3, 7), QTime(9, 30), "Review");
    withEditor(true, id, [&](frmAppt& d) {
        desk.onModal("frmContactGrid", [&](QDialog& g) { static_cast<frmContactGrid&>(g).picker->setPickedName("Pat Doe"); });
        QTest::mouseClick(d.cmdContact, Qt::LeftButton);
        EXPECT_EQ(d.apptText(3), "Pat Doe");
        desk.answerNo();
        d.DTPicker1->setDate(QDate(2009, 1, 10));
        QTest::mouseClick(d.cmdDelete, Qt::LeftButton);
    });
    EXPECT_EQ(desk.prompts[2].text + u'|' + desk.prompts[2].caption,
              "Are you sure you want to delete this appointment?|You are about to delete an appointment");
    EXPECT_EQ(cal->dCalDate, QDate(2009, 1, 1));
    EXPECT_FALSE(stored().isEmpty());
}
