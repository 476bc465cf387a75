// The reminder panel: the seven-day list with its purge, and the to-do list.
#include "tests/calendar/Helpers.h"

class RemindTest : public CalendarTest {
protected:
    QString apptDates() { return stored("select apptdate from appointments order by apptdate"); }
    QString items() { return joined(rows(sConnMain, "select todo from todo order by id")); }
    void addItem(const char* text) { exec(sConnMain, QStringLiteral("Insert into todo (todo)values('%1')").arg(text)); }
    // The input box of the first prompt: "text|caption|default".
    QString firstBox() const
    {
        return desk.prompts.empty() ? QString() : desk.prompts[0].text + u'|' + desk.prompts[0].caption + u'|' + desk.prompts[0].extra;
    }
    QListWidget* todo = remind->lstToDo;
    const QString sep = QStringLiteral("     * * * * * ");
};

TEST_F(RemindTest, ControlsStandWhereTheTableSays)
{
    expectPlaced(fraRemind, {{"lstWeek", "", 120, 360, 7455, 5820}, {"lstToDo", "", 7920, 720, 3015, 5010},
                             {"cmdDeleteToDo", "Delete Selected ToDo Item", 7920, 6000, 3015, 375},
                             {"Label6", "Double click item to edit            Click 'Add ToDo Item' to add", 8040, 240, 2730, 375}});
}

TEST_F(RemindTest, WeekListsTodayThroughTheSeventhDayInFiveLineBlocks)
{
    remind->PopWeekList();
    EXPECT_EQ(lines(remind->lstWeek), QStringList{"There are no appointments for the next 7 days."});
    // Today is Friday 4 December 2026.
    addAppt(QDate(2026, 12, 3), QTime(9, 0), "Yesterday");
    addAppt(QDate(2026, 12, 4), QTime(14, 0), "Afternoon", "Bo", "Dock");
    addAppt(QDate(2026, 12, 4), QTime(9, 30), "Quarterly review with the bank, all the figures",
            "Alexandra Featherstonehaugh-Smith", "O'Hare Building, 5th floor, room 12");
    addAppt(QDate(2026, 12, 6), QTime(0, 0), "Sunday", "", "");
    addAppt(QDate(2026, 12, 11), QTime(23, 30), "Last day");
    addAppt(QDate(2026, 12, 12), QTime(8, 0), "Too late");
    exec(sConnContacts, "insert into appointments(apptdate) values(#12/5/2026#)");
    remind->PopWeekList();
    remind->PopWeekList(); // a refill replaces, never adds
    EXPECT_EQ(lines(remind->lstWeek),
              QStringList({"Friday, 12/4/2026", "9:30 AM - Quarterly review with the bank, all the figures",
                           "     Alexandra Featherstonehaugh-Smith", "     O'Hare Building, 5th floor, room 12", kSeparator,
                           "Friday, 12/4/2026", "2:00 PM - Afternoon", "     Bo", "     Dock", kSeparator,
                           "Saturday, 12/5/2026", " - ", "     ", "     ", kSeparator,
                           "Sunday, 12/6/2026", "12:00 AM - Sunday", "     ", "     ", kSeparator,
                           "Friday, 12/11/2026", "11:30 PM - Last day", "     Ann Lee", "     Main office", kSeparator}));
    EXPECT_TRUE(desk.messages().isEmpty());
}

TEST_F(RemindTest, PurgeRemovesWhatIsOlderThanTwoYearsAndKeepsTheCutOffDay)
{
    for (const QDate& d : {QDate(2024, 12, 3), QDate(2024, 12, 4), QDate(2025, 6, 1)})
        addAppt(d, QTime(9, 0), "x");
    remind->PopWeekList();
    EXPECT_EQ(apptDates(), "12/4/2024/6/1/2025");
    desk.todayValue = QDate(2028, 2, 29); // the cut-off falls back to 28 February
    addAppt(QDate(2026, 2, 27), QTime(9, 0), "x");
    addAppt(QDate(2026, 2, 28), QTime(9, 0), "x");
    remind->PopWeekList();
    EXPECT_EQ(apptDates(), "2/28/2026");
}

TEST_F(RemindTest, ToDoAddsCutTo25BeforeApostrophesAreDoubled)
{
    remind->PopToDo();
    for (const char* answer : {"123456789012345678901234567890", "Pat's birthday", "Remember to call O'Brien'", ""}) {
        desk.answerInput(answer);
        clickLine(todo, 0);
    }
    EXPECT_EQ(firstBox(), "Enter a To Do item 25 characters or less|Enter To Do Item|");
    EXPECT_EQ(items(), "1234567890123456789012345/Pat's birthday/Remember to call O'Brien'");
    EXPECT_EQ(lines(todo).mid(0, 5), QStringList({"Add To Do Item", sep, "1234567890123456789012345", sep, "Pat's birthday"}));
    EXPECT_EQ(values(todo).mid(0, 5), QList<int>({0, 0, 1, 0, 2}));
    clickLine(todo, 2); // an item or a separator asks nothing
    clickLine(todo, 3);
    EXPECT_EQ(desk.prompts.size(), 4u);
}

TEST_F(RemindTest, ToDoDoubleClickEditsAnItemAndNothingElse)
{
    addItem("Call the bank");
    remind->PopToDo();
    desk.answerInput("Call the bank's manager today");
    clickLine(todo, 2, true);
    EXPECT_EQ(firstBox(), "Enter a To Do item 25 characters or less|Enter To Do Item|Call the bank");
    EXPECT_EQ(lines(todo).value(2), "Call the bank's manager t");
    desk.answerInput(""); // empty: unchanged
    clickLine(todo, 2, true);
    clickLine(todo, 3, true); // a separator: nothing
    desk.answerInput("");
    clickLine(todo, 0, true); // the command line: the click's add box, once
    EXPECT_EQ(desk.prompts.size(), 3u);
    EXPECT_EQ(items(), "Call the bank's manager t");
}

TEST_F(RemindTest, ToDoDeleteAsksOnlyForAnItem)
{
    addItem("Keep me");
    addItem("Drop me");
    remind->PopToDo();
    QTest::mouseClick(remind->cmdDeleteToDo, Qt::LeftButton); // nothing selected
    clickLine(todo, 3);
    QTest::mouseClick(remind->cmdDeleteToDo, Qt::LeftButton); // a separator
    EXPECT_TRUE(desk.prompts.empty());
    for (bool yes : {false, true}) {
        clickLine(todo, 4);
        yes ? desk.answerYes() : desk.answerNo();
        QTest::mouseClick(remind->cmdDeleteToDo, Qt::LeftButton);
        EXPECT_TRUE(todo->selectedItems().isEmpty()); // rebuilt whatever the answer
    }
    EXPECT_EQ(desk.prompts[0].text + u'|' + desk.prompts[0].caption,
              "Are you sure you want to delete this To Do item?|Delete warning");
    EXPECT_EQ(lines(todo), QStringList({"Add To Do Item", sep, "Keep me", sep}));
}
