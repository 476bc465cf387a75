// The reminder panel: the seven-day list with its purge, and the to-do list.
#include "calendar/CalPanel.h"
#include "calendar/RemindPanel.h"
#include "data/Globals.h"
#include "data/modData.h"
#include "tests/calendar/Helpers.h"
#include "tests/support/Fixture.h"

#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>

using namespace kestrel;
using namespace kestrel::test;

class RemindTest : public KestrelTest {
protected:
    void SetUp() override
    {
        KestrelTest::SetUp();
        host = std::make_unique<QWidget>();
        host->resize(px(11385), px(7095));
        auto* fra = new QGroupBox(host.get());
        fra->setGeometry(px(120), 0, px(11175), px(6495));
        remind = new RemindPanel(fra, host.get());
        host->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(host.get()));
        todo = remind->lstToDo;
    }
    void TearDown() override
    {
        host.reset();
        KestrelTest::TearDown();
    }
    QStringList column(const QString& connection, const QString& sql)
    {
        QStringList out;
        for (const QStringList& r : rows(connection, sql))
            out << r[0];
        return out;
    }
    QStringList apptDates() { return column(sConnContacts, QStringLiteral("select apptdate from appointments order by apptdate")); }
    QStringList items() { return column(sConnMain, QStringLiteral("select todo from todo order by id")); }
    void addItem(const QString& text) { exec(sConnMain, QStringLiteral("Insert into todo (todo)values('%1')").arg(Quoted(text))); }
    QPoint at(int row) const { return todo->visualItemRect(todo->item(row)).center(); }
    void click(int row)
    {
        QTest::mouseClick(todo->viewport(), Qt::LeftButton, {}, at(row));
        QCoreApplication::processEvents();
    }
    void doubleClick(int row)
    {
        // The second press of a double click arrives as the double-click event itself.
        QTest::mouseClick(todo->viewport(), Qt::LeftButton, {}, at(row));
        QTest::mouseDClick(todo->viewport(), Qt::LeftButton, {}, at(row));
        QTest::mouseRelease(todo->viewport(), Qt::LeftButton, {}, at(row));
        QCoreApplication::processEvents();
    }
    void expectToDoBox(size_t prompt, const QString& defaultText)
    {
        ASSERT_GT(desk.prompts.size(), prompt);
        EXPECT_EQ(desk.prompts[prompt].text, QStringLiteral("Enter a To Do item 25 characters or less"));
        EXPECT_EQ(desk.prompts[prompt].caption, QStringLiteral("Enter To Do Item"));
        EXPECT_EQ(desk.prompts[prompt].extra, defaultText);
    }

    std::unique_ptr<QWidget> host;
    RemindPanel* remind = nullptr;
    QListWidget* todo = nullptr;
    const QString sep = QStringLiteral(" * * * * * * * * * * * * * * * ");
};

TEST_F(RemindTest, ControlsStandWhereTheTableSays)
{
    EXPECT_EQ(remind->lstWeek->geometry(), twipRect(120, 360, 7455, 5820));
    EXPECT_EQ(todo->geometry(), twipRect(7920, 720, 3015, 5010));
    EXPECT_EQ(remind->cmdDeleteToDo->geometry(), twipRect(7920, 6000, 3015, 375));
    EXPECT_EQ(remind->Label6->geometry(), twipRect(8040, 240, 2730, 375));
    EXPECT_EQ(remind->Label6->text(), QStringLiteral("Double click item to edit            Click 'Add ToDo Item' to add"));
    EXPECT_TRUE(remind->lstWeek->font().bold());
    EXPECT_EQ(todo->font().pointSizeF(), 9.0);
    EXPECT_EQ(remind->lstWeek->palette().color(QPalette::Base), CalPanel::dayBackground());
}

TEST_F(RemindTest, WeekListsTodayThroughTheSeventhDayInFiveLineBlocks)
{
    remind->PopWeekList();
    EXPECT_EQ(lines(remind->lstWeek), QStringList{QStringLiteral("There are no appointments for the next 7 days.")});

    // Today is Friday 4 December 2026.
    addAppt(QDate(2026, 12, 3), QTime(9, 0), QStringLiteral("Yesterday"));
    addAppt(QDate(2026, 12, 4), QTime(14, 0), QStringLiteral("Afternoon"), QStringLiteral("Bo"), QStringLiteral("Dock"));
    addAppt(QDate(2026, 12, 4), QTime(9, 30), QStringLiteral("Quarterly review with the bank, all the figures"),
            QStringLiteral("Alexandra Featherstonehaugh-Smith"), QStringLiteral("O'Hare Building, 5th floor, room 12"));
    addAppt(QDate(2026, 12, 6), QTime(0, 0), QStringLiteral("Sunday"), QString(), QString());
    addAppt(QDate(2026, 12, 11), QTime(23, 30), QStringLiteral("Last day"));
    addAppt(QDate(2026, 12, 12), QTime(8, 0), QStringLiteral("Too late"));
    exec(sConnContacts, QStringLiteral("insert into appointments(apptdate) values(#12/5/2026#)"));
    remind->PopWeekList();
    remind->PopWeekList(); // a refill replaces, never adds
    EXPECT_EQ(lines(remind->lstWeek),
              (QStringList{"Friday, 12/4/2026", "9:30 AM - Quarterly review with the bank, all the figures",
                           "     Alexandra Featherstonehaugh-Smith", "     O'Hare Building, 5th floor, room 12", sep,
                           "Friday, 12/4/2026", "2:00 PM - Afternoon", "     Bo", "     Dock", sep,
                           "Saturday, 12/5/2026", " - ", "     ", "     ", sep,
                           "Sunday, 12/6/2026", "12:00 AM - Sunday", "     ", "     ", sep,
                           "Friday, 12/11/2026", "11:30 PM - Last day", "     Ann Lee", "     Main office", sep}));
    EXPECT_TRUE(desk.messages().isEmpty());
}

TEST_F(RemindTest, PurgeRemovesWhatIsOlderThanTwoYearsAndKeepsTheCutOffDay)
{
    for (const QDate& d : {QDate(2024, 12, 3), QDate(2024, 12, 4), QDate(2025, 6, 1)})
        addAppt(d, QTime(9, 0), QStringLiteral("x"));
    remind->PopWeekList();
    EXPECT_EQ(apptDates(), (QStringList{"12/4/2024", "6/1/2025"}));

    desk.todayValue = QDate(2028, 2, 29); // the cut-off falls back to 28 February
    addAppt(QDate(2026, 2, 27), QTime(9, 0), QStringLiteral("x"));
    addAppt(QDate(2026, 2, 28), QTime(9, 0), QStringLiteral("x"));
    remind->PopWeekList();
    EXPECT_EQ(apptDates(), QStringList{QStringLiteral("2/28/2026")});
}

TEST_F(RemindTest, UnreadableDatabasesAreReportedOnceEach)
{
    spoilDatabase(dir.path(), QStringLiteral("contacts.mdb"));
    spoilDatabase(dir.path(), QStringLiteral("kestrel.mdb"));
    remind->PopWeekList(); // and no purge is tried
    remind->PopToDo();
    ASSERT_EQ(desk.messages().size(), 2);
    EXPECT_TRUE(desk.messages()[0].endsWith(QStringLiteral(") in procedure PopWeekList of Form frmKestrel")));
    EXPECT_TRUE(desk.messages()[1].startsWith(QStringLiteral("Error ")));
    EXPECT_TRUE(desk.messages()[1].endsWith(QStringLiteral(") in procedure PopToDo of Form frmReminder")));
    EXPECT_EQ(lines(todo), (QStringList{kAddToDo, kToDoSeparator}));
}

TEST_F(RemindTest, ToDoAddsCutTo25BeforeApostrophesAreDoubled)
{
    remind->PopToDo();
    EXPECT_EQ(lines(todo), (QStringList{"Add To Do Item", "     * * * * * "}));
    for (const char* answer : {"123456789012345678901234567890", "Pat's birthday", "Remember to call O'Brien'", ""}) {
        desk.answerInput(QString::fromUtf8(answer));
        click(0);
    }
    expectToDoBox(0, QString());
    EXPECT_EQ(items(), (QStringList{"1234567890123456789012345", "Pat's birthday", "Remember to call O'Brien'"}));
    const QStringList ids = column(sConnMain, QStringLiteral("select id from todo order by id"));
    EXPECT_EQ(lines(todo).mid(2, 3), (QStringList{"1234567890123456789012345", "     * * * * * ", "Pat's birthday"}));
    EXPECT_EQ(values(todo).mid(0, 5), (QList<int>{0, 0, ids[0].toInt(), 0, ids[1].toInt()}));
    click(2); // an item or a separator asks nothing
    click(3);
    EXPECT_EQ(desk.prompts.size(), 4u);
    EXPECT_TRUE(desk.messages().isEmpty());

    // Choosing the command line with the keys opens the box as a click does.
    todo->setFocus();
    todo->setCurrentRow(1);
    desk.answerInput(QStringLiteral("From the keyboard"));
    QTest::keyClick(todo, Qt::Key_Up);
    QCoreApplication::processEvents();
    EXPECT_EQ(items().value(3), QStringLiteral("From the keyboard"));
}

TEST_F(RemindTest, ToDoDoubleClickEditsAnItemAndNothingElse)
{
    addItem(QStringLiteral("Call the bank"));
    remind->PopToDo();
    desk.answerInput(QStringLiteral("Call the bank's manager today"));
    doubleClick(2);
    expectToDoBox(0, QStringLiteral("Call the bank"));
    EXPECT_EQ(lines(todo).value(2), QStringLiteral("Call the bank's manager t"));
    desk.answerInput(QString()); // empty: unchanged
    doubleClick(2);
    doubleClick(3); // a separator: nothing
    desk.answerInput(QString());
    doubleClick(0); // the command line: the click's add box, once
    EXPECT_EQ(desk.prompts.size(), 3u);
    EXPECT_EQ(items(), QStringList{QStringLiteral("Call the bank's manager t")});
}

TEST_F(RemindTest, ToDoDeleteAsksOnlyForAnItem)
{
    addItem(QStringLiteral("Keep me"));
    addItem(QStringLiteral("Drop me"));
    remind->PopToDo();
    QTest::mouseClick(remind->cmdDeleteToDo, Qt::LeftButton); // nothing selected
    click(3);
    QTest::mouseClick(remind->cmdDeleteToDo, Qt::LeftButton); // a separator
    EXPECT_TRUE(desk.prompts.empty());

    click(4);
    desk.answerNo();
    QTest::mouseClick(remind->cmdDeleteToDo, Qt::LeftButton);
    EXPECT_EQ(desk.prompts[0].text, QStringLiteral("Are you sure you want to delete this To Do item?"));
    EXPECT_EQ(desk.prompts[0].caption, QStringLiteral("Delete warning"));
    EXPECT_EQ(items().size(), 2);
    EXPECT_TRUE(todo->selectedItems().isEmpty()); // rebuilt after No as well
    click(4);
    desk.answerYes();
    QTest::mouseClick(remind->cmdDeleteToDo, Qt::LeftButton);
    EXPECT_EQ(lines(todo), (QStringList{"Add To Do Item", "     * * * * * ", "Keep me", "     * * * * * "}));
}
