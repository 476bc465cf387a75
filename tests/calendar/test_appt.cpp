// The appointment editor: layout, both modes, the statements it writes, and its refusals.
#include "app/Ui.h"
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
using kestrel::test::KestrelTest;

namespace {
QRect twipRect(int l, int t, int w, int h) { return QRect(px(l), px(t), px(w), px(h)); }
const char* const kApptColumns = "select name,address,apptdate,appttime,apptbrief,apptnotes from appointments";
} // namespace

class ApptTest : public KestrelTest {
protected:
    // Opens a fresh editor the way the openers do and runs script while it is shown.
    void withEditor(bool edit, int id, std::function<void(frmAppt&)> script)
    {
        desk.onModal(QStringLiteral("frmAppt"), [&](QDialog& d) { script(static_cast<frmAppt&>(d)); });
        frmAppt editor;
        editor.bEditMode = edit;
        editor.lApptID = id;
        platform().runModal(editor);
    }
    std::vector<QStringList> appts() { return rows(sConnContacts, QString::fromLatin1(kApptColumns)); }
};

TEST_F(ApptTest, ControlsStandWhereTheTableSaysInTabOrder)
{
    frmAppt d;
    EXPECT_EQ(d.objectName(), QStringLiteral("frmAppt"));
    EXPECT_EQ(d.windowTitle(), QStringLiteral("Appointment"));
    EXPECT_EQ(d.size(), QSize(px(5655), px(5280)));
    EXPECT_EQ(d.txtBrief->geometry(), twipRect(240, 360, 5175, 285));
    EXPECT_EQ(d.txtWhere->geometry(), twipRect(240, 960, 5175, 285));
    EXPECT_EQ(d.DTPicker1->geometry().topLeft(), QPoint(px(240), px(1560)));
    EXPECT_EQ(d.DTPicker1->width(), px(1695));
    EXPECT_EQ(d.cboTime->geometry().topLeft(), QPoint(px(2520), px(1560)));
    EXPECT_EQ(d.cboTime->width(), px(1455));
    EXPECT_FALSE(d.cboTime->isEditable());
    EXPECT_EQ(d.txtNotes->geometry(), twipRect(240, 2160, 5175, 885));
    EXPECT_EQ(d.txtNotes->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_EQ(d.txtName->geometry(), twipRect(240, 3960, 4455, 285));
    EXPECT_EQ(d.cmdSave->pos(), QPoint(px(840), px(4320)));
    EXPECT_EQ(d.cmdClose->pos(), QPoint(px(3000), px(4320)));
    EXPECT_EQ(d.cmdContact->pos(), QPoint(px(240), px(3240)));
    EXPECT_EQ(d.cmdDelete->pos(), QPoint(px(1440), px(4800)));
    EXPECT_EQ(d.cmdContact->text(), QStringLiteral("Select Contact"));
    EXPECT_EQ(d.txtBrief->maxLength(), 50);
    EXPECT_EQ(d.txtWhere->maxLength(), 75);
    EXPECT_EQ(d.txtName->maxLength(), 50);
    EXPECT_EQ(d.controls.get<QLabel>(QStringLiteral("Label4"))->text(), QStringLiteral("Time:"));
    EXPECT_EQ(d.controls[QStringLiteral("Label4")]->pos(), QPoint(px(2280), px(1320)));

    QStringList order;
    QWidget* w = d.txtBrief;
    do {
        if ((w->focusPolicy() & Qt::TabFocus) && !w->objectName().startsWith(QStringLiteral("qt_")))
            order << w->objectName();
        w = w->nextInFocusChain();
    } while (w != d.txtBrief && order.size() < 20);
    EXPECT_EQ(order.join(u' ').toStdString(),
              "txtAppt0 txtAppt1 DTPicker1 cboTime txtAppt2 cmdSave cmdClose txtAppt3 cmdContact cmdDelete");
}

TEST_F(ApptTest, TimeListHoldsTheFortyEightHalfHoursAndMatchesExactly)
{
    frmAppt d;
    d.PopTimes();
    ASSERT_EQ(d.cboTime->count(), 48);
    EXPECT_EQ(d.cboTime->itemText(0), QStringLiteral("12:00 AM"));
    EXPECT_EQ(d.cboTime->itemText(1), QStringLiteral("12:30 AM"));
    EXPECT_EQ(d.cboTime->itemText(2), QStringLiteral("1:00 AM"));
    EXPECT_EQ(d.cboTime->itemText(23), QStringLiteral("11:30 AM"));
    EXPECT_EQ(d.cboTime->itemText(24), QStringLiteral("12:00 PM"));
    EXPECT_EQ(d.cboTime->itemText(26), QStringLiteral("1:00 PM"));
    EXPECT_EQ(d.cboTime->itemText(47), QStringLiteral("11:30 PM"));
    EXPECT_EQ(d.SelectTime(QStringLiteral("9:30 AM")), 19);
    EXPECT_EQ(d.SelectTime(QStringLiteral("9:30 am")), 0);
    EXPECT_EQ(d.SelectTime(QStringLiteral("09:30 AM")), 0);
    EXPECT_EQ(d.SelectTime(QStringLiteral("9:15 AM")), 0);
    d.PopTimes();
    EXPECT_EQ(d.cboTime->count(), 48);
}

TEST_F(ApptTest, NewModeStartsTodayAtNoonAndWritesTheInsertAsQuoted)
{
    withEditor(false, 0, [&](frmAppt& d) {
        EXPECT_FALSE(d.cmdDelete->isEnabled());
        EXPECT_EQ(d.DTPicker1->date(), QDate(2026, 12, 4));
        EXPECT_EQ(d.cboTime->currentText(), QStringLiteral("12:00 PM"));
        for (int i = 0; i < 4; ++i)
            EXPECT_TRUE(d.apptText(i).isEmpty()) << i;

        d.setApptText(3, QStringLiteral("Ann Lee"));
        d.setApptText(1, QStringLiteral("Main office"));
        d.DTPicker1->setDate(QDate(2008, 3, 7));
        d.cboTime->setCurrentIndex(19);
        d.setApptText(0, QStringLiteral("Review"));
        EXPECT_EQ(d.SaveStatement(), QStringLiteral("INSERT into appointments(name,address,apptdate,appttime,apptbrief,"
                                                    "apptnotes)values('Ann Lee','Main office',#3/7/2008#,#9:30 AM#,"
                                                    "'Review','')"));
        QTest::mouseClick(d.cmdSave, Qt::LeftButton);
        EXPECT_FALSE(d.isVisible());
        EXPECT_EQ(d.result(), QDialog::Accepted);
    });
    ASSERT_EQ(appts().size(), 1u);
    EXPECT_EQ(appts()[0].join(u'|'), QStringLiteral("Ann Lee|Main office|3/7/2008|9:30:00 AM|Review|"));
    EXPECT_GE(desk.doEventsCalls, 1);
}

TEST_F(ApptTest, EditModeShowsTheRowAndWritesTheUpdateAsQuoted)
{
    const int id = addAppt(QDate(2009, 11, 20), QTime(16, 30), QStringLiteral("Old"), QStringLiteral("Bo Day"),
                           QStringLiteral("Here"));
    withEditor(true, id, [&](frmAppt& d) {
        EXPECT_TRUE(d.cmdDelete->isEnabled());
        EXPECT_EQ(d.apptText(0), QStringLiteral("Old"));
        EXPECT_EQ(d.apptText(1), QStringLiteral("Here"));
        EXPECT_EQ(d.apptText(3), QStringLiteral("Bo Day"));
        EXPECT_EQ(d.DTPicker1->date(), QDate(2009, 11, 20));
        EXPECT_EQ(d.cboTime->currentText(), QStringLiteral("4:30 PM"));

        d.setApptText(3, QStringLiteral("Ann Lee"));
        d.setApptText(1, QStringLiteral("Main office"));
        d.DTPicker1->setDate(QDate(2008, 3, 7));
        d.cboTime->setCurrentIndex(19);
        d.setApptText(0, QStringLiteral("Review"));
        d.lApptID = 12; // the statement's own example
        EXPECT_EQ(d.SaveStatement(), QStringLiteral("UPDATE appointments set name='Ann Lee',address='Main office',"
                                                    "apptdate=#3/7/2008#,appttime=#9:30 AM#,apptbrief='Review',"
                                                    "apptnotes='' where autoid=12"));
        d.lApptID = id;
        d.cmdSave_Click();
    });
    ASSERT_EQ(appts().size(), 1u);
    EXPECT_EQ(appts()[0].join(u'|'), QStringLiteral("Ann Lee|Main office|3/7/2008|9:30:00 AM|Review|"));
}

TEST_F(ApptTest, ApostrophesAndLineBreaksAreStoredIntact)
{
    withEditor(false, 0, [&](frmAppt& d) {
        d.setApptText(0, QStringLiteral("Pat's 'review'"));
        d.setApptText(1, QStringLiteral("O'Hare, gate 'B'"));
        d.setApptText(2, QStringLiteral("Bring Sam's file\nand the \"old\" notes"));
        d.setApptText(3, QStringLiteral("Dan O'Brien"));
        d.cmdSave_Click();
    });
    const auto r = appts();
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0][0], QStringLiteral("Dan O'Brien"));
    EXPECT_EQ(r[0][1], QStringLiteral("O'Hare, gate 'B'"));
    EXPECT_EQ(r[0][4], QStringLiteral("Pat's 'review'"));
    EXPECT_EQ(r[0][5], QStringLiteral("Bring Sam's file\nand the \"old\" notes"));
    EXPECT_TRUE(desk.messages().isEmpty());
}

TEST_F(ApptTest, EmptyDescriptionOrNameIsRefusedWithTheFocusOnTheEmptyField)
{
    withEditor(false, 0, [&](frmAppt& d) {
        d.activateWindow();
        d.setApptText(0, QStringLiteral("Review"));
        QTest::mouseClick(d.cmdSave, Qt::LeftButton);
        EXPECT_TRUE(d.isVisible());
        EXPECT_EQ(QApplication::focusWidget(), d.txtName);

        d.setApptText(0, QString());
        d.setApptText(3, QStringLiteral("Ann Lee"));
        QTest::mouseClick(d.cmdSave, Qt::LeftButton);
        EXPECT_TRUE(d.isVisible());
        EXPECT_EQ(QApplication::focusWidget(), d.txtBrief);

        // Both empty: the description comes first.
        d.setApptText(3, QString());
        d.txtName->setFocus();
        d.cmdSave_Click();
        EXPECT_EQ(QApplication::focusWidget(), d.txtBrief);
    });
    EXPECT_EQ(desk.messages(), QStringList(3, QStringLiteral("Description and name must contain entries.")));
    EXPECT_EQ(desk.prompts[1].caption, QStringLiteral("Kestrel"));
    EXPECT_TRUE(appts().empty());
}

TEST_F(ApptTest, TimeOffTheHalfHourOpensAsMidnightAndIsSavedSo)
{
    const int id = addAppt(QDate(2026, 12, 5), QTime(9, 15), QStringLiteral("Odd time"));
    withEditor(true, id, [&](frmAppt& d) {
        EXPECT_EQ(d.cboTime->currentIndex(), 0);
        EXPECT_EQ(d.cboTime->currentText(), QStringLiteral("12:00 AM"));
        d.cmdSave_Click();
    });
    EXPECT_EQ(appts()[0][3], QStringLiteral("12:00:00 AM"));
}

TEST_F(ApptTest, AGoneRowOrNullColumnsOpenAsEmptyFields)
{
    withEditor(true, 999, [&](frmAppt& d) {
        for (int i = 0; i < 4; ++i)
            EXPECT_TRUE(d.apptText(i).isEmpty()) << i;
        EXPECT_EQ(d.DTPicker1->date(), QDate(2026, 12, 4));
        EXPECT_EQ(d.cboTime->currentIndex(), 0);
    });
    exec(sConnContacts, QStringLiteral("insert into appointments(name) values(null)"));
    const int id = rows(sConnContacts, QStringLiteral("select max(autoid) from appointments"))[0][0].toInt();
    withEditor(true, id, [&](frmAppt& d) {
        for (int i = 0; i < 4; ++i)
            EXPECT_TRUE(d.apptText(i).isEmpty()) << i;
        EXPECT_EQ(d.cboTime->currentText(), QStringLiteral("12:00 AM"));
        EXPECT_TRUE(d.cmdDelete->isEnabled());
    });
    EXPECT_TRUE(desk.messages().isEmpty());
}

TEST_F(ApptTest, AFailedSaveKeepsTheEditorOpenWithTheInput)
{
    exec(sConnContacts, QStringLiteral("drop table appointments"));
    withEditor(false, 0, [&](frmAppt& d) {
        d.setApptText(0, QStringLiteral("Review"));
        d.setApptText(2, QStringLiteral("Long notes typed with care"));
        d.setApptText(3, QStringLiteral("Ann Lee"));
        QTest::mouseClick(d.cmdSave, Qt::LeftButton);
        EXPECT_TRUE(d.isVisible());
        EXPECT_EQ(d.apptText(2), QStringLiteral("Long notes typed with care"));
        QTest::mouseClick(d.cmdClose, Qt::LeftButton);
        EXPECT_FALSE(d.isVisible());
    });
    ASSERT_EQ(desk.messages().size(), 1);
    EXPECT_TRUE(desk.messages()[0].contains(QStringLiteral(") in procedure ActionQuery of Module modData\r\n")));
}

TEST_F(ApptTest, DeleteAsksFirstAndClosesWhateverTheAnswer)
{
    const int keep = addAppt(QDate(2026, 12, 5), QTime(9, 0), QStringLiteral("Keep"));
    const int drop = addAppt(QDate(2026, 12, 6), QTime(9, 0), QStringLiteral("Drop"));
    withEditor(true, keep, [&](frmAppt& d) {
        desk.answerNo();
        QTest::mouseClick(d.cmdDelete, Qt::LeftButton);
        EXPECT_FALSE(d.isVisible());
    });
    EXPECT_EQ(appts().size(), 2u);
    ASSERT_EQ(desk.prompts.size(), 2u);
    EXPECT_EQ(desk.prompts[1].kind, QStringLiteral("question"));
    EXPECT_EQ(desk.prompts[1].text, QStringLiteral("Are you sure you want to delete this appointment?"));
    EXPECT_EQ(desk.prompts[1].caption, QStringLiteral("You are about to delete an appointment"));

    withEditor(true, drop, [&](frmAppt& d) {
        desk.answerYes();
        d.cmdDelete_Click();
    });
    const auto left = rows(sConnContacts, QStringLiteral("select autoid from appointments"));
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0][0].toInt(), keep);
}

TEST_F(ApptTest, TheCalendarIsReloadedOnlyWhileItIsShowing)
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

    setLeftTwips(fraCal, -12000);
    withEditor(true, id, [&](frmAppt& d) {
        d.DTPicker1->setDate(QDate(2009, 1, 10));
        d.cmdSave_Click();
    });
    EXPECT_EQ(cal.dCalDate, QDate(2008, 5, 1));

    setLeftTwips(fraCal, 120);
    withEditor(true, id, [&](frmAppt& d) {
        desk.answerNo();
        d.cmdDelete_Click();
    });
    EXPECT_EQ(cal.dCalDate, QDate(2009, 1, 1));
}

TEST_F(ApptTest, SelectContactOpensTheGridToPickForThatShowingOnly)
{
    withEditor(false, 0, [&](frmAppt& d) {
        d.setApptText(3, QStringLiteral("Typed name"));
        desk.onModal(QStringLiteral("frmContactGrid"), [&](QDialog& g) {
            auto& grid = static_cast<frmContactGrid&>(g);
            EXPECT_TRUE(grid.bViewMode);
            ASSERT_EQ(grid.picker, static_cast<ContactPicker*>(&d));
        });
        QTest::mouseClick(d.cmdContact, Qt::LeftButton);
        EXPECT_EQ(d.apptText(3), QStringLiteral("Typed name")); // closed without a pick

        desk.onModal(QStringLiteral("frmContactGrid"),
                     [&](QDialog& g) { static_cast<frmContactGrid&>(g).picker->setPickedName(QStringLiteral("Pat Doe")); });
        d.cmdContact_Click();
        EXPECT_EQ(d.apptText(3), QStringLiteral("Pat Doe"));
    });
}

TEST_F(ApptTest, SchedulingForAContactFillsItsNameAndNothingWithoutOne)
{
    ScheduleAppointmentFor(0, nullptr); // the strict desktop fails the test if anything opens
    const int ann = addContact(QStringLiteral("Lee"), QStringLiteral("Ann"));
    desk.onModal(QStringLiteral("frmAppt"), [&](QDialog& g) {
        auto& d = static_cast<frmAppt&>(g);
        EXPECT_FALSE(d.bEditMode);
        EXPECT_FALSE(d.cmdDelete->isEnabled());
        EXPECT_EQ(d.cboTime->currentText(), QStringLiteral("12:00 PM"));
        EXPECT_EQ(d.apptText(3), QStringLiteral("Ann Lee"));
    });
    ScheduleAppointmentFor(ann, nullptr);

    exec(sConnContacts, QStringLiteral("update contacts set lastname=null where id=") + QString::number(ann));
    desk.onModal(QStringLiteral("frmAppt"),
                 [&](QDialog& g) { EXPECT_TRUE(static_cast<frmAppt&>(g).apptText(3).isEmpty()); });
    ScheduleAppointmentFor(ann, nullptr);
    EXPECT_TRUE(desk.messages().isEmpty());
}

TEST_F(ApptTest, TextBoxesTurnYellowWhileTheyHaveTheFocus)
{
    withEditor(false, 0, [&](frmAppt& d) {
        QApplication::setActiveWindow(&d);
        d.setApptText(0, QStringLiteral("Review"));
        d.txtBrief->setFocus();
        QCoreApplication::processEvents();
        EXPECT_EQ(d.txtBrief->palette().color(QPalette::Base), QColor(255, 255, 192));
        EXPECT_EQ(d.txtBrief->selectedText(), QStringLiteral("Review"));
        d.txtNotes->setFocus();
        QCoreApplication::processEvents();
        EXPECT_EQ(d.txtBrief->palette().color(QPalette::Base), QColor(Qt::white));
        EXPECT_EQ(d.txtNotes->palette().color(QPalette::Base), QColor(255, 255, 192));
    });
}
