// The seven-day list and the purge of old appointments.
#include "app/Ui.h"
#include "calendar/CalPanel.h"
#include "calendar/RemindPanel.h"
#include "calendar/modCal.h"
#include "data/Globals.h"
#include "tests/calendar/Helpers.h"
#include "tests/support/Fixture.h"

#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

using namespace kestrel;
using kestrel::test::KestrelTest;

class RemindTest : public KestrelTest {
protected:
    void SetUp() override
    {
        KestrelTest::SetUp();
        host = std::make_unique<QWidget>();
        fraRemind = new QGroupBox(QStringLiteral("Appointments for the next 7 days"), host.get());
        fraRemind->setGeometry(px(120), 0, px(11175), px(6495));
        remind = new RemindPanel(fraRemind, host.get());
    }
    void TearDown() override
    {
        host.reset();
        KestrelTest::TearDown();
    }
    QStringList week() const
    {
        QStringList out;
        for (int i = 0; i < remind->lstWeek->count(); ++i)
            out << remind->lstWeek->item(i)->text();
        return out;
    }
    QStringList dates() { 
        QStringList out;
        for (const QStringList& r : rows(sConnContacts, QStringLiteral("select apptdate from appointments order by apptdate")))
            out << r[0];
        return out;
    }

    std::unique_ptr<QWidget> host;
    QGroupBox* fraRemind = nullptr;
    RemindPanel* remind = nullptr;
};

TEST_F(RemindTest, ControlsStandWhereTheTableSays)
{
    auto rect = [](int l, int t, int w, int h) { return QRect(px(l), px(t), px(w), px(h)); };
    EXPECT_EQ(remind->lstWeek->geometry(), rect(120, 360, 7455, 5820));
    EXPECT_EQ(remind->lstToDo->geometry(), rect(7920, 720, 3015, 5010));
    EXPECT_EQ(remind->cmdDeleteToDo->geometry(), rect(7920, 6000, 3015, 375));
    EXPECT_EQ(remind->Label6->geometry(), rect(8040, 240, 2730, 375));
    EXPECT_EQ(remind->cmdDeleteToDo->text(), QStringLiteral("Delete Selected ToDo Item"));
    EXPECT_EQ(remind->Label6->text(),
              QStringLiteral("Double click item to edit            Click 'Add ToDo Item' to add"));
    EXPECT_EQ(remind->lstWeek->objectName(), QStringLiteral("lstWeek"));
    EXPECT_EQ(remind->lstToDo->objectName(), QStringLiteral("lstToDo"));
    EXPECT_TRUE(remind->lstWeek->font().bold());
    EXPECT_EQ(remind->lstWeek->font().pointSizeF(), 9.75);
    EXPECT_EQ(remind->lstToDo->font().pointSizeF(), 9.0);
    EXPECT_EQ(remind->lstWeek->palette().color(QPalette::Base), CalPanel::dayBackground());
    EXPECT_EQ(remind->lstToDo->palette().color(QPalette::Base), CalPanel::dayBackground());
}

TEST_F(RemindTest, ListsTodayThroughTheSeventhDayInFiveLineBlocks)
{
    // Today is Friday 4 December 2026.
    addAppt(QDate(2026, 12, 3), QTime(9, 0), QStringLiteral("Yesterday"));
    addAppt(QDate(2026, 12, 4), QTime(14, 0), QStringLiteral("Afternoon"), QStringLiteral("Bo"), QStringLiteral("Dock"));
    addAppt(QDate(2026, 12, 4), QTime(9, 30), QStringLiteral("Quarterly review with the bank, all the figures"),
            QStringLiteral("Alexandra Featherstonehaugh-Smith"), QStringLiteral("O'Hare Building, 5th floor, room 12"));
    addAppt(QDate(2026, 12, 11), QTime(0, 0), QStringLiteral("Last day"), QStringLiteral(""), QStringLiteral(""));
    addAppt(QDate(2026, 12, 12), QTime(8, 0), QStringLiteral("Too late"));

    remind->PopWeekList();
    EXPECT_EQ(week(), (QStringList{
                          QStringLiteral("Friday, 12/4/2026"),
                          QStringLiteral("9:30 AM - Quarterly review with the bank, all the figures"),
                          QStringLiteral("     Alexandra Featherstonehaugh-Smith"),
                          QStringLiteral("     O'Hare Building, 5th floor, room 12"),
                          kApptSeparator,
                          QStringLiteral("Friday, 12/4/2026"),
                          QStringLiteral("2:00 PM - Afternoon"),
                          QStringLiteral("     Bo"),
                          QStringLiteral("     Dock"),
                          kApptSeparator,
                          QStringLiteral("Friday, 12/11/2026"),
                          QStringLiteral("12:00 AM - Last day"),
                          QStringLiteral("     "),
                          QStringLiteral("     "),
                          kApptSeparator,
                      }));
    EXPECT_TRUE(desk.messages().isEmpty());

    // A refill replaces the list rather than adding to it.
    remind->PopWeekList();
    EXPECT_EQ(week().size(), 15);
}

TEST_F(RemindTest, WeekdayNamesFollowTheDates)
{
    for (int i = 0; i < 7; ++i)
        addAppt(QDate(2026, 12, 5 + i), QTime(10, 0), QStringLiteral("x"));
    remind->PopWeekList();
    QStringList heads;
    for (int i = 0; i < remind->lstWeek->count(); i += 5)
        heads << remind->lstWeek->item(i)->text();
    EXPECT_EQ(heads, (QStringList{"Saturday, 12/5/2026", "Sunday, 12/6/2026", "Monday, 12/7/2026", "Tuesday, 12/8/2026",
                                  "Wednesday, 12/9/2026", "Thursday, 12/10/2026", "Friday, 12/11/2026"}));
}

TEST_F(RemindTest, NullColumnsGiveEmptyPartsAndAnEmptyWeekSaysSo)
{
    remind->PopWeekList();
    EXPECT_EQ(week(), QStringList{QStringLiteral("There are no appointments for the next 7 days.")});

    exec(sConnContacts, QStringLiteral("insert into appointments(apptdate) values(#12/5/2026#)"));
    remind->PopWeekList();
    EXPECT_EQ(week(), (QStringList{QStringLiteral("Saturday, 12/5/2026"), QStringLiteral(" - "), QStringLiteral("     "),
                                   QStringLiteral("     "), kApptSeparator}));
}

TEST_F(RemindTest, PurgeRemovesWhatIsOlderThanTwoYearsAndKeepsTheCutOffDay)
{
    addAppt(QDate(2024, 12, 3), QTime(9, 0), QStringLiteral("Gone"));
    addAppt(QDate(2024, 12, 4), QTime(9, 0), QStringLiteral("Cut-off day"));
    addAppt(QDate(2025, 6, 1), QTime(9, 0), QStringLiteral("Recent"));
    remind->PopWeekList();
    EXPECT_EQ(dates(), (QStringList{QStringLiteral("12/4/2024"), QStringLiteral("6/1/2025")}));

    // On 29 February the cut-off is 28 February two years back.
    desk.todayValue = QDate(2028, 2, 29);
    addAppt(QDate(2026, 2, 27), QTime(9, 0), QStringLiteral("Gone"));
    addAppt(QDate(2026, 2, 28), QTime(9, 0), QStringLiteral("Kept"));
    remind->PopWeekList();
    EXPECT_EQ(dates(), (QStringList{QStringLiteral("2/28/2026")}));
    EXPECT_TRUE(desk.messages().isEmpty());
}

TEST_F(RemindTest, AnUnreadableDatabaseIsReportedOnceWithoutAPurge)
{
    test::spoilDatabase(dir.path(), QStringLiteral("contacts.mdb"));
    remind->lstWeek->addItem(QStringLiteral("stale"));
    remind->PopWeekList();
    ASSERT_EQ(desk.messages().size(), 1);
    EXPECT_TRUE(desk.messages()[0].endsWith(QStringLiteral(") in procedure PopWeekList of Form frmKestrel")));
    EXPECT_TRUE(week().isEmpty());
}
