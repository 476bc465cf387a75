// The appointment editor: layout, both modes, the statements it writes, and its refusals.
#include "calendar/CalPanel.h"
#include "calendar/frmAppt.h"
#include "contacts/frmContactGrid.h"
#include "data/Globals.h"
#include "tests/calendar/Helpers.h"
#include "tests/support/Fixture.h"

#include <QComboBox>
#include <QDateEdit>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

using namespace kestrel;
using namespace kestrel::test;

class ApptTest : public KestrelTest {
protected:
    // Opens a fresh editor as the openers do and runs script while it is shown.
    void withEditor(bool edit, int id, const std::function<void(frmAppt&)>& script)
    {
        desk.onModal(QStringLiteral("frmAppt"), [&](QDialog& d) { script(static_cast<frmAppt&>(d)); });
        frmAppt editor;
        editor.bEditMode = edit;
        editor.lApptID = id;
        platform().runModal(editor);
    }
    static void fillExample(frmAppt& d)
    {
        d.setApptText(3, QStringLiteral("Ann Lee"));
        d.setApptText(1, QStringLiteral("Main office"));
        d.DTPicker1->setDate(QDate(2008, 3, 7));
        d.cboTime->setCurrentIndex(19);
        d.setApptText(0, QStringLiteral("Review"));
    }
    QStringList stored()
    {
        QStringList out;
        for (const QStringList& r : rows(sConnContacts, QStringLiteral("select name,address,apptdate,appttime,apptbrief,"
                                                                       "apptnotes from appointments order by autoid")))
            out << r.join(u'|');
        return out;
    }
};

TEST_F(ApptTest, ControlsStandWhereTheTableSaysInTabOrderWithTheHalfHours)
{
    frmAppt d;
    d.PopTimes();
    EXPECT_EQ(d.windowTitle(), QStringLiteral("Appointment"));
    EXPECT_EQ(d.size(), QSize(px(5655), px(5280)));
    EXPECT_EQ(d.txtBrief->geometry(), twipRect(240, 360, 5175, 285));
    EXPECT_EQ(d.txtWhere->geometry(), twipRect(240, 960, 5175, 285));
    EXPECT_EQ(d.DTPicker1->geometry(), twipRect(240, 1560, 1695, 315));
    EXPECT_EQ(d.cboTime->geometry(), twipRect(2520, 1560, 1455, 315));
    EXPECT_EQ(d.txtNotes->geometry(), twipRect(240, 2160, 5175, 885));
    EXPECT_EQ(d.txtName->geometry(), twipRect(240, 3960, 4455, 285));
    EXPECT_EQ(d.cmdSave->pos(), QPoint(px(840), px(4320)));
    EXPECT_EQ(d.cmdClose->pos(), QPoint(px(3000), px(4320)));
    EXPECT_EQ(d.cmdContact->pos(), QPoint(px(240), px(3240)));
    EXPECT_EQ(d.cmdDelete->pos(), QPoint(px(1440), px(4800)));
    EXPECT_EQ(d.controls[QStringLiteral("Label4")]->pos(), QPoint(px(2280), px(1320)));
    EXPECT_EQ(QList<int>({d.txtBrief->maxLength(), d.txtWhere->maxLength(), d.txtName->maxLength()}),
              QList<int>({50, 75, 50}));
    QStringList order;
    QWidget* w = d.txtBrief;
    do {
        if ((w->focusPolicy() & Qt::TabFocus) && !w->objectName().startsWith(QStringLiteral("qt_")))
            order << w->objectName();
        w = w->nextInFocusChain();
    } while (w != d.txtBrief && order.size() < 20);
    EXPECT_EQ(order.join(u' '), QStringLiteral("txtAppt0 txtAppt1 DTPicker1 cboTime txtAppt2 cmdSave cmdClose "
                                               "txtAppt3 cmdContact cmdDelete"));

    ASSERT_EQ(d.cboTime->count(), 48);
    EXPECT_EQ(d.cboTime->itemText(0), QStringLiteral("12:00 AM"));
    EXPECT_EQ(d.cboTime->itemText(2), QStringLiteral("1:00 AM"));
    EXPECT_EQ(d.cboTime->itemText(24), QStringLiteral("12:00 PM"));
    EXPECT_EQ(d.cboTime->itemText(47), QStringLiteral("11:30 PM"));
    EXPECT_EQ(d.SelectTime(QStringLiteral("9:30 AM")), 19);
    EXPECT_EQ(d.SelectTime(QStringLiteral("9:30 am")), 0);
    EXPECT_EQ(d.SelectTime(QStringLiteral("9:15 AM")), 0);
}

TEST_F(ApptTest, NewModeStartsTodayAtNoonAndInsertsAsWritten)
{
    withEditor(false, 0, [&](frmAppt& d) {
        EXPECT_FALSE(d.cmdDelete->isEnabled());
        EXPECT_EQ(d.DTPicker1->date(), QDate(2026, 12, 4));
        EXPECT_EQ(d.cboTime->currentText(), QStringLiteral("12:00 PM"));
        fillExample(d);
        EXPECT_EQ(d.SaveStatement(), QStringLiteral("INSERT into appointments(name,address,apptdate,appttime,apptbrief,"
                                                    "apptnotes)values('Ann Lee','Main office',#3/7/2008#,#9:30 AM#,"
                                                    "'Review','')"));
        QTest::mouseClick(d.cmdSave, Qt::LeftButton);
        EXPECT_FALSE(d.isVisible());
    });
    EXPECT_EQ(stored(), QStringList{QStringLiteral("Ann Lee|Main office|3/7/2008|9:30:00 AM|Review|")});

    withEditor(false, 0, [&](frmAppt& d) {
        d.setApptText(0, QStringLiteral("Pat's 'review'"));
        d.setApptText(1, QStringLiteral("O'Hare, gate 'B'"));
        d.setApptText(2, QStringLiteral("Bring Sam's file\nand the \"old\" notes"));
        d.setApptText(3, QStringLiteral("Dan O'Brien"));
        d.cmdSave_Click();
    });
    EXPECT_EQ(stored().value(1), QStringLiteral("Dan O'Brien|O'Hare, gate 'B'|12/4/2026|12:00:00 PM|Pat's 'review'|"
                                                "Bring Sam's file\nand the \"old\" notes"));
    EXPECT_TRUE(desk.messages().isEmpty());
}

TEST_F(ApptTest, EditModeShowsTheRowAndUpdatesAsWritten)
{
    const int id = addAppt(QDate(2009, 11, 20), QTime(16, 30), QStringLiteral("Old"), QStringLiteral("Bo"),
                           QStringLiteral("Here"));
    withEditor(true, id, [&](frmAppt& d) {
        EXPECT_TRUE(d.cmdDelete->isEnabled());
        EXPECT_EQ(QStringList({d.apptText(0), d.apptText(1), d.apptText(3)}), QStringList({"Old", "Here", "Bo"}));
        EXPECT_EQ(d.DTPicker1->date(), QDate(2009, 11, 20));
        EXPECT_EQ(d.cboTime->currentText(), QStringLiteral("4:30 PM"));
        fillExample(d);
        d.lApptID = 12;
        EXPECT_EQ(d.SaveStatement(), QStringLiteral("UPDATE appointments set name='Ann Lee',address='Main office',"
                                                    "apptdate=#3/7/2008#,appttime=#9:30 AM#,apptbrief='Review',"
                                                    "apptnotes='' where autoid=12"));
        d.lApptID = id;
        d.cmdSave_Click();
    });
    EXPECT_EQ(stored(), QStringList{QStringLiteral("Ann Lee|Main office|3/7/2008|9:30:00 AM|Review|")});

    // A time off the half hour opens as 12:00 AM and is saved so.
    exec(sConnContacts, QStringLiteral("update appointments set appttime=#9:15 AM#"));
    withEditor(true, id, [&](frmAppt& d) {
        EXPECT_EQ(d.cboTime->currentIndex(), 0);
        d.cmdSave_Click();
    });
    EXPECT_TRUE(stored()[0].contains(QStringLiteral("|12:00:00 AM|")));

    // A vanished row and a row of nulls open as empty fields.
    exec(sConnContacts, QStringLiteral("insert into appointments(name) values(null)"));
    for (int gone : {999, id + 1})
        withEditor(true, gone, [&](frmAppt& d) {
            for (int i = 0; i < 4; ++i)
                EXPECT_TRUE(d.apptText(i).isEmpty()) << gone << ' ' << i;
            EXPECT_EQ(d.cboTime->currentIndex(), 0);
        });
    EXPECT_TRUE(desk.messages().isEmpty());
}

TEST_F(ApptTest, EmptyDescriptionOrNameIsRefusedWithTheFocusOnTheEmptyField)
{
    withEditor(false, 0, [&](frmAppt& d) {
        d.activateWindow();
        d.setApptText(0, QStringLiteral("Review"));
        QTest::mouseClick(d.cmdSave, Qt::LeftButton);
        EXPECT_EQ(QApplication::focusWidget(), d.txtName);
        d.setApptText(0, QString());
        d.setApptText(3, QStringLiteral("Ann Lee"));
        QTest::mouseClick(d.cmdSave, Qt::LeftButton);
        EXPECT_EQ(QApplication::focusWidget(), d.txtBrief);
        EXPECT_TRUE(d.isVisible());
        // The box turned yellow with the focus.
        EXPECT_EQ(d.txtBrief->palette().color(QPalette::Base), QColor(255, 255, 192));
    });
    EXPECT_EQ(desk.messages(), QStringList(2, QStringLiteral("Description and name must contain entries.")));
    EXPECT_EQ(desk.prompts[1].caption, QStringLiteral("Kestrel"));
    EXPECT_TRUE(stored().isEmpty());
}

TEST_F(ApptTest, AFailedSaveKeepsTheEditorOpenWithTheInput)
{
    exec(sConnContacts, QStringLiteral("drop table appointments"));
    withEditor(false, 0, [&](frmAppt& d) {
        fillExample(d);
        d.setApptText(2, QStringLiteral("Notes typed with care"));
        QTest::mouseClick(d.cmdSave, Qt::LeftButton);
        EXPECT_TRUE(d.isVisible());
        EXPECT_EQ(d.apptText(2), QStringLiteral("Notes typed with care"));
    });
    ASSERT_EQ(desk.messages().size(), 1);
    EXPECT_TRUE(desk.messages()[0].contains(QStringLiteral(") in procedure ActionQuery of Module modData\r\n")));
}

TEST_F(ApptTest, DeleteAndSaveReloadTheCalendarOnlyWhileItShows)
{
    QWidget host;
    auto* fraCal = new QGroupBox(&host);
    fraCal->setGeometry(px(120), px(120), px(11100), px(6420));
    CalPanel cal(fraCal, &host);
    cal.LoadCal(QDate(2008, 3, 1));
    const int id = addAppt(QDate(2008, 3, 7), QTime(9, 30), QStringLiteral("Review"));

    withEditor(true, id, [&](frmAppt& d) {
        d.DTPicker1->setDate(QDate(2008, 5, 10));
        d.cmdSave_Click();
    });
    EXPECT_EQ(cal.dCalDate, QDate(2008, 5, 1));
    EXPECT_EQ(cal.labDay[cal.cellOfDay(10)]->palette().color(QPalette::WindowText), QColor(0, 0, 255));

    withEditor(true, id, [&](frmAppt& d) {
        desk.answerNo();
        d.DTPicker1->setDate(QDate(2009, 1, 10));
        QTest::mouseClick(d.cmdDelete, Qt::LeftButton);
        EXPECT_FALSE(d.isVisible());
    });
    EXPECT_EQ(desk.prompts[2].text, QStringLiteral("Are you sure you want to delete this appointment?"));
    EXPECT_EQ(desk.prompts[2].caption, QStringLiteral("You are about to delete an appointment"));
    EXPECT_EQ(stored().size(), 1);
    EXPECT_EQ(cal.dCalDate, QDate(2009, 1, 1));

    setLeftTwips(fraCal, -12000);
    withEditor(true, id, [&](frmAppt& d) {
        desk.answerYes();
        d.cmdDelete_Click();
    });
    EXPECT_TRUE(stored().isEmpty());
    EXPECT_EQ(cal.dCalDate, QDate(2009, 1, 1));
}

TEST_F(ApptTest, SelectContactOpensTheGridToPickForThatShowingOnly)
{
    withEditor(false, 0, [&](frmAppt& d) {
        d.setApptText(3, QStringLiteral("Typed name"));
        desk.onModal(QStringLiteral("frmContactGrid"), [&](QDialog& g) {
            auto& grid = static_cast<frmContactGrid&>(g);
            EXPECT_TRUE(grid.bViewMode);
            EXPECT_EQ(grid.picker, static_cast<ContactPicker*>(&d));
        });
        QTest::mouseClick(d.cmdContact, Qt::LeftButton);
        EXPECT_EQ(d.apptText(3), QStringLiteral("Typed name"));
        desk.onModal(QStringLiteral("frmContactGrid"),
                     [&](QDialog& g) { static_cast<frmContactGrid&>(g).picker->setPickedName(QStringLiteral("Pat Doe")); });
        d.cmdContact_Click();
        EXPECT_EQ(d.apptText(3), QStringLiteral("Pat Doe"));
    });
}
