// The to-do list: its lines, adding, editing and deleting items.
#include "app/Ui.h"
#include "calendar/RemindPanel.h"
#include "data/Globals.h"
#include "data/modData.h"
#include "tests/calendar/Helpers.h"
#include "tests/support/Fixture.h"

#include <QGroupBox>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

using namespace kestrel;
using kestrel::test::KestrelTest;

class ToDoTest : public KestrelTest {
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
        list = remind->lstToDo;
    }
    void TearDown() override
    {
        host.reset();
        KestrelTest::TearDown();
    }
    void addItem(const QString& text) { exec(sConnMain, QStringLiteral("Insert into todo (todo)values('") + Quoted(text) + "')"); }
    QStringList stored()
    {
        QStringList out;
        for (const QStringList& r : rows(sConnMain, QStringLiteral("select todo from todo order by id")))
            out << r[0];
        return out;
    }
    QStringList shown() const
    {
        QStringList out;
        for (int i = 0; i < list->count(); ++i)
            out << list->item(i)->text();
        return out;
    }
    QPoint at(int row) const { return list->visualItemRect(list->item(row)).center(); }
    void click(int row)
    {
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at(row));
        QCoreApplication::processEvents();
    }
    void doubleClick(int row)
    {
        // The second press of a double click arrives as the double-click event itself.
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at(row));
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at(row));
        QTest::mouseRelease(list->viewport(), Qt::LeftButton, {}, at(row));
        QCoreApplication::processEvents();
    }
    void expectAddBox(size_t prompt, const QString& defaultText = {})
    {
        ASSERT_GT(desk.prompts.size(), prompt);
        EXPECT_EQ(desk.prompts[prompt].kind, QStringLiteral("input"));
        EXPECT_EQ(desk.prompts[prompt].text, QStringLiteral("Enter a To Do item 25 characters or less"));
        EXPECT_EQ(desk.prompts[prompt].caption, QStringLiteral("Enter To Do Item"));
        EXPECT_EQ(desk.prompts[prompt].extra, defaultText);
    }

    std::unique_ptr<QWidget> host;
    RemindPanel* remind = nullptr;
    QListWidget* list = nullptr;
};

TEST_F(ToDoTest, TheListIsTheCommandLineThenEachItemFollowedByASeparator)
{
    remind->PopToDo();
    EXPECT_EQ(shown(), (QStringList{kAddToDo, kToDoSeparator}));
    EXPECT_EQ(kToDoSeparator.size(), 15);

    addItem(QStringLiteral("Call the bank"));
    addItem(QStringLiteral("Pat's birthday"));
    remind->PopToDo();
    EXPECT_EQ(shown(), (QStringList{kAddToDo, kToDoSeparator, QStringLiteral("Call the bank"), kToDoSeparator,
                                    QStringLiteral("Pat's birthday"), kToDoSeparator}));
    const auto ids = rows(sConnMain, QStringLiteral("select id from todo order by id"));
    QList<int> values;
    for (int i = 0; i < list->count(); ++i)
        values << list->item(i)->data(Qt::UserRole).toInt();
    EXPECT_EQ(values, (QList<int>{0, 0, ids[0][0].toInt(), 0, ids[1][0].toInt(), 0}));
}

TEST_F(ToDoTest, ClickingTheCommandLineAddsCutTo25BeforeApostrophesAreDoubled)
{
    remind->PopToDo();
    desk.answerInput(QStringLiteral("123456789012345678901234567890"));
    click(0);
    expectAddBox(0);
    desk.answerInput(QStringLiteral("Pat's birthday"));
    click(0);
    desk.answerInput(QStringLiteral("Remember to call O'Brien'"));
    click(0);
    EXPECT_EQ(stored(), (QStringList{QStringLiteral("1234567890123456789012345"), QStringLiteral("Pat's birthday"),
                                     QStringLiteral("Remember to call O'Brien'")}));
    EXPECT_EQ(shown()[4], QStringLiteral("Pat's birthday"));
    EXPECT_TRUE(desk.messages().isEmpty());
    EXPECT_TRUE(list->selectedItems().isEmpty());
}

TEST_F(ToDoTest, CancelOrAnEmptyAnswerAddsNothing)
{
    addItem(QStringLiteral("Call the bank"));
    remind->PopToDo();
    desk.answerInput(QString());
    click(0);
    EXPECT_EQ(stored(), QStringList{QStringLiteral("Call the bank")});
    EXPECT_EQ(shown().size(), 4);
    // Clicking an item or a separator asks nothing.
    click(2);
    click(1);
    EXPECT_EQ(desk.prompts.size(), 1u);
}

TEST_F(ToDoTest, ChoosingTheCommandLineWithTheKeysOpensTheAddBox)
{
    remind->PopToDo();
    list->setFocus();
    list->setCurrentRow(1);
    QCoreApplication::processEvents();
    desk.answerInput(QStringLiteral("From the keyboard"));
    QTest::keyClick(list, Qt::Key_Up);
    QCoreApplication::processEvents();
    expectAddBox(0);
    EXPECT_EQ(stored(), QStringList{QStringLiteral("From the keyboard")});
}

TEST_F(ToDoTest, DoubleClickEditsAnItemAndNothingElse)
{
    addItem(QStringLiteral("Call the bank"));
    remind->PopToDo();
    desk.answerInput(QStringLiteral("Call the bank's manager today"));
    doubleClick(2);
    expectAddBox(0, QStringLiteral("Call the bank"));
    EXPECT_EQ(stored(), QStringList{QStringLiteral("Call the bank's manager t")});
    EXPECT_EQ(shown()[2], QStringLiteral("Call the bank's manager t"));

    // An empty answer leaves the item as it was.
    desk.answerInput(QString());
    doubleClick(2);
    EXPECT_EQ(stored(), QStringList{QStringLiteral("Call the bank's manager t")});

    // A separator: nothing. The command line: only the click's add box, once.
    doubleClick(3);
    desk.answerInput(QString());
    doubleClick(0);
    EXPECT_EQ(desk.prompts.size(), 3u);
    expectAddBox(2);
}

TEST_F(ToDoTest, DeleteAsksOnlyForAnItemAndRebuildsWhateverTheAnswer)
{
    addItem(QStringLiteral("Keep me"));
    addItem(QStringLiteral("Drop me"));
    remind->PopToDo();

    // Nothing, or a line without an item, selected: nothing is asked.
    QTest::mouseClick(remind->cmdDeleteToDo, Qt::LeftButton);
    click(3);
    QTest::mouseClick(remind->cmdDeleteToDo, Qt::LeftButton);
    EXPECT_TRUE(desk.prompts.empty());

    click(2);
    desk.answerNo();
    QTest::mouseClick(remind->cmdDeleteToDo, Qt::LeftButton);
    ASSERT_EQ(desk.prompts.size(), 1u);
    EXPECT_EQ(desk.prompts[0].text, QStringLiteral("Are you sure you want to delete this To Do item?"));
    EXPECT_EQ(desk.prompts[0].caption, QStringLiteral("Delete warning"));
    EXPECT_EQ(stored().size(), 2);
    EXPECT_TRUE(list->selectedItems().isEmpty());

    click(4);
    desk.answerYes();
    QTest::mouseClick(remind->cmdDeleteToDo, Qt::LeftButton);
    EXPECT_EQ(stored(), QStringList{QStringLiteral("Keep me")});
    EXPECT_EQ(shown(), (QStringList{kAddToDo, kToDoSeparator, QStringLiteral("Keep me"), kToDoSeparator}));
}

TEST_F(ToDoTest, AnUnreadableDatabaseIsReportedUnderFrmReminder)
{
    test::spoilDatabase(dir.path(), QStringLiteral("kestrel.mdb"));
    remind->PopToDo();
    ASSERT_EQ(desk.messages().size(), 1);
    EXPECT_TRUE(desk.messages()[0].startsWith(QStringLiteral("Error ")));
    EXPECT_TRUE(desk.messages()[0].endsWith(QStringLiteral(") in procedure PopToDo of Form frmReminder")));
    EXPECT_EQ(shown(), (QStringList{kAddToDo, kToDoSeparator}));
}
