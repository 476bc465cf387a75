// The calendar commands of the main window: start-up fill, F5, F6, F7 and the Schedule button.
#include "app/frmKestrel.h"
#include "calendar/CalPanel.h"
#include "calendar/RemindPanel.h"
#include "calendar/frmAppt.h"
#include "contacts/LeadPanel.h"
#include "data/Globals.h"
#include "tests/support/Fixture.h"

#include <QComboBox>
#include <QDateEdit>
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
        addAppt(QDate(2024, 12, 3), QTime(9, 0), QStringLiteral("Too old"));
        exec(sConnMain, QStringLiteral("Insert into todo (todo)values('Call the bank')"));
        w = std::make_unique<frmKestrel>();
        w->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(w.get()));
        w->Form_Load();
    }
    void TearDown() override
    {
        w.reset();
        KestrelTest::TearDown();
    }
    QString weekLine(int i) const { return i < w->remind->lstWeek->count() ? w->remind->lstWeek->item(i)->text() : QString(); }
    // Schedules through the editor the way a user fills it in.
    void scheduleOn(const QDate& d)
    {
        desk.onModal(QStringLiteral("frmAppt"), [d](QDialog& dialog) {
            auto& editor = static_cast<frmAppt&>(dialog);
            editor.setApptText(0, QStringLiteral("Site visit"));
            editor.setApptText(3, QStringLiteral("Ann Lee"));
            editor.DTPicker1->setDate(d);
            editor.cmdSave_Click();
        });
    }
    std::unique_ptr<frmKestrel> w;
};

TEST_F(CalendarWiringTest, StartUpFillsMonthListToDoAndWeekAndPurges)
{
    EXPECT_EQ(w->cal->cboMonthYear->count(), 36);
    EXPECT_FALSE(w->cal->dCalDate.isValid()); // the grid waits for F6
    EXPECT_EQ(w->remind->lstToDo->item(2)->text(), QStringLiteral("Call the bank"));
    EXPECT_EQ(weekLine(0), QStringLiteral("There are no appointments for the next 7 days."));
    EXPECT_TRUE(rows(sConnContacts, QStringLiteral("select autoid from appointments")).empty());
    for (const char* name : {"lstWeek", "lstCal", "lstToDo"})
        EXPECT_TRUE(mainWindow()->findChild<QListWidget*>(QString::fromLatin1(name))) << name;
    EXPECT_TRUE(desk.messages().isEmpty());
}

TEST_F(CalendarWiringTest, F6ShowsTheCurrentMonthAndF5RefillsTheWeek)
{
    w->cal->LoadCal(QDate(2008, 3, 1));
    QTest::keyClick(w.get(), Qt::Key_F6);
    EXPECT_TRUE(w->isCalInFront());
    EXPECT_EQ(w->cal->labMonthYear->text(), QStringLiteral("December - 2026"));
    addAppt(QDate(2026, 12, 8), QTime(9, 0), QStringLiteral("Added behind its back"));
    QTest::keyClick(w.get(), Qt::Key_F5);
    EXPECT_TRUE(w->isRemindInFront());
    EXPECT_EQ(weekLine(1), QStringLiteral("9:00 AM - Added behind its back"));
}

TEST_F(CalendarWiringTest, F7SaveShowsInTheWeekAndOnTheCalendarWhenItIsInFront)
{
    QTest::keyClick(w.get(), Qt::Key_F3);
    scheduleOn(QDate(2026, 12, 5));
    QTest::keyClick(w.get(), Qt::Key_F7);
    EXPECT_TRUE(w->isLeadInFront());
    EXPECT_EQ(weekLine(1), QStringLiteral("12:00 PM - Site visit"));

    w->mnuApptsCal_Click();
    scheduleOn(QDate(2027, 1, 14));
    w->mnuApptsSched_Click();
    EXPECT_EQ(w->cal->dCalDate, QDate(2027, 1, 1));
    EXPECT_EQ(w->cal->labDay[w->cal->cellOfDay(14)]->palette().color(QPalette::WindowText), QColor(0, 0, 255));
}

TEST_F(CalendarWiringTest, ScheduleButtonOpensTheEditorForTheChosenContactOnly)
{
    lLeadID = 0;
    w->lead->cmdScheduleAppointment->click(); // nothing opens: the strict desktop would fail
    lLeadID = addContact(QStringLiteral("O'Brien"), QStringLiteral("Dan"));
    desk.onModal(QStringLiteral("frmAppt"),
                 [](QDialog& d) { EXPECT_EQ(static_cast<frmAppt&>(d).apptText(3), QStringLiteral("Dan O'Brien")); });
    w->lead->cmdScheduleAppointment->click();
    exec(sConnContacts, QStringLiteral("update contacts set lastname=null"));
    desk.onModal(QStringLiteral("frmAppt"), [](QDialog& d) { EXPECT_TRUE(static_cast<frmAppt&>(d).apptText(3).isEmpty()); });
    w->lead->cmdScheduleAppointment->click();
    EXPECT_EQ(desk.prompts.size(), 2u);
}

} // namespace
