// The reminder panel: the seven-day list with its purge, and the to-do list.
#include "tests/calendar/Helpers.h"

#include "data/Office.h"
#include "data/modData.h"
#include "ui/QtPlatform.h"
#include "ui/Report.h"
#include "ui/Undo.h"

static const QString kToDoPromptText = QStringLiteral("Enter a To Do item 25 characters or less");

class RemindTest : public CalendarTest {
protected:
    QString apptDates() { return stored("select apptdate from appointments order by apptdate"); }
    QString items() { return joined(rows(sConnMain, "select todo from todo order by id")); }
    // The input box of the first prompt: "text|caption|default".
    QString firstBox() const { return desk.prompts[0].text + u'|' + desk.prompts[0].caption + u'|' + desk.prompts[0].extra; }
    QListWidget* todo = remind->lstToDo;
    const QString sep = QStringLiteral("     * * * * * ");
};

TEST_F(RemindTest, WeekListsTodayThroughTheSeventhDayInFiveLineBlocks)
{
    // Today is Friday 4 December 2026.
    addAppt(QDate(2026, 12, 3), QTime(9, 0), "Yesterday");
    addAppt(QDate(2026, 12, 4), QTime(9, 30), "Quarterly review with the bank, all the figures",
            "Alexandra Featherstonehaugh-Smith", "O'Hare Building, 5th floor, room 12");
    addAppt(QDate(2026, 12, 11), QTime(23, 30), "Last day");
    addAppt(QDate(2026, 12, 12), QTime(8, 0), "Too late");
    exec(sConnContacts, "insert into appointments(apptdate) values(#12/5/2026#)");
    remind->PopWeekList();
    remind->PopWeekList(); // a refill replaces, never adds
    EXPECT_EQ(lines(remind->lstWeek),
              QStringList({"Friday, 12/4/2026", "9:30 AM - Quarterly review with the bank, all the figures",
                           "     Alexandra Featherstonehaugh-Smith", "     O'Hare Building, 5th floor, room 12", kSeparator,
                           "Saturday, 12/5/2026", " - ", "     ", "     ", kSeparator,
                           "Friday, 12/11/2026", "11:30 PM - Last day", "     Ann Lee", "     Main office", kSeparator}));
    EXPECT_TRUE(desk.messages().isEmpty());
}

TEST_F(RemindTest, PurgeRemovesWhatIsOlderThanTwoYearsAndKeepsTheCutOffDay)
{
    for (const QDate& d : {QDate(2024, 12, 3), QDate(2024, 12, 4)})
        addAppt(d, QTime(9, 0), "x");
    remind->PopWeekList();
    EXPECT_EQ(apptDates(), "12/4/2024");
    desk.todayValue = QDate(2028, 2, 29); // the cut-off falls back to 28 February
    addAppt(QDate(2026, 2, 27), QTime(9, 0), "x");
    addAppt(QDate(2026, 2, 28), QTime(9, 0), "x");
    remind->PopWeekList();
    EXPECT_EQ(apptDates(), "2/28/2026");
}

TEST_F(RemindTest, ToDoAddsCutTo25BeforeApostrophesAreDoubledEditsOnDoubleClickAndDeletesAfterAsking)
{
    remind->PopToDo();
    for (const char* answer : {"Remember to call O'Brien's bank", "Pat's birthday", ""}) {
        desk.answerInput(answer);
        clickLine(todo, 0);
    }
    EXPECT_EQ(firstBox() + QString::number(desk.prompts[0].maxLength), "Enter a To Do item 25 characters or less|Enter To Do Item|25");
    EXPECT_EQ(lines(todo).mid(0, 5), QStringList({"Add To Do Item", sep, "Remember to call O'Brien'", sep, "Pat's birthday"}));
    clickLine(todo, 3, true); // a separator asks nothing, clicked, double-clicked or deleted
    QTest::mouseClick(remind->cmdDeleteToDo, Qt::LeftButton);
    desk.answerInput("Call the bank's manager today");
    clickLine(todo, 4, true);
    EXPECT_EQ(desk.prompts.back().extra, "Pat's birthday");
    clickLine(todo, 2);
    desk.answerYes();
    QTest::mouseClick(remind->cmdDeleteToDo, Qt::LeftButton);
    EXPECT_EQ(desk.prompts.back().text + u'|' + desk.prompts.back().caption,
              "Are you sure you want to delete this To Do item?|Delete warning");
    EXPECT_EQ(items(), "Call the bank's manager t");

    // Undo puts the deleted item back where it stood; one stored longer by another program, whole.
    EXPECT_EQ(undoCaption(), "Undo Delete To Do Item 'Remember to call O'Brien''");
    EXPECT_TRUE(undoLastChange());
    EXPECT_EQ(items(), "Remember to call O'Brien'|Call the bank's manager t");
    EXPECT_EQ(undoCaption(), "Can't Undo");
    const QString longer = QStringLiteral("Ask O'Hare about the 40% discount, in writing");
    exec(sConnMain, "insert into todo (todo) values('" + Quoted(longer) + "')");
    remind->PopToDo();
    todo->scrollToItem(todo->item(6));
    clickLine(todo, 6);
    desk.answerYes();
    QTest::mouseClick(remind->cmdDeleteToDo, Qt::LeftButton);
    EXPECT_EQ(items(), "Remember to call O'Brien'|Call the bank's manager t");
    EXPECT_TRUE(undoLastChange());
    EXPECT_EQ(items(), "Remember to call O'Brien'|Call the bank's manager t|" + longer);
    EXPECT_TRUE(desk.messages().isEmpty()) << desk.messages().join(u'|').toStdString();
    forgetChanges();
}

TEST_F(RemindTest, TheToDoBoxTakes25TypedCharactersAndALongerStoredItemLeftAsItWasStaysWhole)
{
    QtPlatform qt; // the real input box, typed into
    QString shown;
    const auto typeInto = [&](const QString& keys) {
        QTimer::singleShot(0, [&, keys] {
            auto* box = qobject_cast<QInputDialog*>(QApplication::activeModalWidget());
            ASSERT_TRUE(box);
            auto* edit = box->findChild<QLineEdit*>();
            shown = edit->text();
            QTest::keyClick(edit, Qt::Key_End);
            QTest::keyClicks(edit, keys);
            QTest::keyClick(edit, Qt::Key_Return);
        });
    };
    typeInto(QString(30, u'x'));
    EXPECT_EQ(qt.inputBox(kToDoPromptText, "Enter To Do Item", QString(), 25), QString(25, u'x'));
    typeInto("more");
    EXPECT_EQ(qt.inputBox(kToDoPromptText, "Enter To Do Item", QString(30, u'y'), 25) + u'|' + shown,
              QString(30, u'y') + u'|' + QString(30, u'y'));

    exec(sConnMain, QStringLiteral("insert into todo(todo) values('%1')").arg(QString(30, u'y')));
    remind->PopToDo();
    desk.answerInput(QString(30, u'y')); // OK on the item as it was shown
    clickLine(todo, 2, true);
    EXPECT_EQ(items(), QString(30, u'y'));
}

TEST_F(RemindTest, ANulPastedIntoTheToDoBoxIsLeftOutAndTheTextTypedIsKept)
{
    QtPlatform qt; // the real input box
    QGuiApplication::clipboard()->setText(QStringLiteral("Ann") + QChar(0));
    QTimer::singleShot(0, [] {
        auto* box = qobject_cast<QInputDialog*>(QApplication::activeModalWidget());
        ASSERT_TRUE(box);
        auto* edit = box->findChild<QLineEdit*>();
        QTest::keyClicks(edit, "Call ");
        QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
        QTest::keyClicks(edit, " today");
        QTest::keyClick(edit, Qt::Key_Return);
    });
    const QString typed = qt.inputBox(kToDoPromptText, "Enter To Do Item", QString(), 25);
    EXPECT_EQ(typed, "Call Ann today");
    EXPECT_TRUE(ActionQuery(ToDoInsertStatement(typed), sConnMain));
    EXPECT_EQ(items(), "Call Ann today");
    EXPECT_TRUE(desk.messages().isEmpty()) << desk.messages().join(u'|').toStdString();
}

TEST_F(RemindTest, AnOfficeServerThatCannotBeReachedIsNamedInPlainWordsNotAsAnError)
{
    // Nothing listens there: the server went away while Kestrel sat idle.
    sConnContacts = serverConnectionText(QStringLiteral("host=127.0.0.1 port=1 dbname=kestrel connect_timeout=5"));
    remind->PopWeekList();
    ASSERT_EQ(desk.messages().size(), 1);
    const QString told = desk.messages()[0];
    EXPECT_TRUE(told.startsWith("Kestrel could not reach the office database kestrel on 127.0.0.1 (")) << told.toStdString();
    EXPECT_TRUE(told.endsWith("Nothing was lost. Check the network, or ask whoever looks after the server; once it "
                              "answers, try again.")) << told.toStdString();
}
