// The calendar commands of the main window: start-up fill, F5, F6, F7 and the Schedule button.
#include "app/frmKestrel.h"
#include "app/Ui.h"
#include "calendar/CalPanel.h"
#include "calendar/RemindPanel.h"
#include "calendar/frmAppt.h"
#include "contacts/LeadPanel.h"
#include "data/Globals.h"
#include "tests/support/Fixture.h"

#include <QComboBox>
#include <QDateEdit>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

using namespace kestrel;
using kestrel::test::KestrelTest;

namespace {

class CalendarWiringTest : public KestrelTest {
protected:
    void SetUp() override
    {
        KestrelTest::SetUp();
        w = std::make_unique<frmKestrel>();
        w->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(w.get()));
    }
    void TearDown() override
    {
        w.reset();
        KestrelTest::TearDown();
    }
    QStringList week() const
    {
        QStringList out;
        for (int i = 0; i < w->remind->lstWeek->count(); ++i)
            out << w->remind->lstWeek->item(i)->text();
        return out;
    }
    std::unique_ptr<frmKestrel> w;
};

TEST_F(CalendarWiringTest, StartUpFillsMonthListToDoAndWeekAndPurgesOnce)
{
    addAppt(QDate(2024, 12, 3), QTime(9, 0), QStringLiteral("Too old"));
    addAppt(QDate(2026, 12, 5), QTime(10, 0), QStringLiteral("Tomorrow"));
    exec(sConnMain, QStringLiteral("Insert into todo (todo)values('Call the bank')"));
    w->Form_Load();

    EXPECT_EQ(w->cal->cboMonthYear->count(), 36);
    EXPECT_FALSE(w->cal->dCalDate.isValid()); // the grid waits for F6
    EXPECT_EQ(w->remind->lstToDo->count(), 4);
    EXPECT_EQ(w->remind->lstToDo->item(2)->text(), QStringLiteral("Call the bank"));
    EXPECT_EQ(week().value(0), QStringLiteral("Saturday, 12/5/2026"));
    EXPECT_EQ(rows(sConnContacts, QStringLiteral("select count(*) from appointments"))[0][0], QStringLiteral("1"));
    EXPECT_TRUE(w->isRemindInFront());
    for (const char* name : {"lstWeek", "lstCal", "lstToDo"})
        EXPECT_TRUE(mainWindow()->findChild<QListWidget*>(QString::fromLatin1(name))) << name;
    EXPECT_EQ(w->cal->lstCal->parentWidget(), w->fraCal);
    EXPECT_EQ(w->remind->lstWeek->parentWidget(), w->fraRemind);
    EXPECT_TRUE(desk.messages().isEmpty());
}

TEST_F(CalendarWiringTest, F6AlwaysShowsTheCurrentMonth)
{
    w->Form_Load();
    w->cal->LoadCal(QDate(2008, 3, 1));
    QTest::keyClick(w.get(), Qt::Key_F6);
    EXPECT_TRUE(w->isCalInFront());
    EXPECT_EQ(w->cal->dCalDate, QDate(2026, 12, 1));
    EXPECT_EQ(w->cal->labMonthYear->text(), QStringLiteral("December - 2026"));
}

TEST_F(CalendarWiringTest, F7ThenSaveListsTheNewAppointmentWhateverPanelIsInFront)
{
    w->Form_Load();
    QTest::keyClick(w.get(), Qt::Key_F3);
    ASSERT_TRUE(w->isLeadInFront());
    desk.onModal(QStringLiteral("frmAppt"), [](QDialog& d) {
        auto& editor = static_cast<frmAppt&>(d);
        EXPECT_FALSE(editor.cmdDelete->isEnabled());
        editor.setApptText(0, QStringLiteral("Site visit"));
        editor.setApptText(3, QStringLiteral("Ann Lee"));
        editor.DTPicker1->setDate(QDate(2026, 12, 5));
        editor.cmdSave_Click();
    });
    QTest::keyClick(w.get(), Qt::Key_F7);
    EXPECT_EQ(week().mid(0, 2), (QStringList{QStringLiteral("Saturday, 12/5/2026"), QStringLiteral("12:00 PM - Site visit")}));
    EXPECT_TRUE(w->isLeadInFront());
}

TEST_F(CalendarWiringTest, SavingWithTheCalendarInFrontShowsTheMonthSaved)
{
    w->Form_Load();
    QTest::keyClick(w.get(), Qt::Key_F6);
    desk.onModal(QStringLiteral("frmAppt"), [](QDialog& d) {
        auto& editor = static_cast<frmAppt&>(d);
        editor.setApptText(0, QStringLiteral("New year"));
        editor.setApptText(3, QStringLiteral("Ann Lee"));
        editor.DTPicker1->setDate(QDate(2027, 1, 14));
        editor.cmdSave_Click();
    });
    w->mnuApptsSched_Click();
    EXPECT_EQ(w->cal->dCalDate, QDate(2027, 1, 1));
    const int cell = w->cal->cellOfDay(14);
    EXPECT_EQ(w->cal->labDay[cell]->palette().color(QPalette::WindowText), QColor(0, 0, 255));
}

TEST_F(CalendarWiringTest, F5RefillsTheWeekEachTime)
{
    w->Form_Load();
    EXPECT_EQ(week(), QStringList{QStringLiteral("There are no appointments for the next 7 days.")});
    QTest::keyClick(w.get(), Qt::Key_F6);
    addAppt(QDate(2026, 12, 8), QTime(9, 0), QStringLiteral("Added behind its back"));
    QTest::keyClick(w.get(), Qt::Key_F5);
    EXPECT_TRUE(w->isRemindInFront());
    EXPECT_EQ(week().value(1), QStringLiteral("9:00 AM - Added behind its back"));
    exec(sConnContacts, QStringLiteral("delete from appointments"));
    QTest::keyClick(w.get(), Qt::Key_F5);
    EXPECT_EQ(week().size(), 1);
}

TEST_F(CalendarWiringTest, ScheduleButtonOpensTheEditorForTheChosenContactOnly)
{
    w->Form_Load();
    lLeadID = 0;
    w->lead->cmdScheduleAppointment->click(); // nothing opens: the strict desktop would fail
    lLeadID = addContact(QStringLiteral("O'Brien"), QStringLiteral("Dan"));
    desk.onModal(QStringLiteral("frmAppt"), [](QDialog& d) {
        EXPECT_EQ(static_cast<frmAppt&>(d).apptText(3), QStringLiteral("Dan O'Brien"));
    });
    w->lead->cmdScheduleAppointment->click();
    EXPECT_EQ(desk.prompts.size(), 1u);
}

} // namespace
