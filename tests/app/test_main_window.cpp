#include "app/frmKestrel.h"
#include "app/Ui.h"
#include "data/Globals.h"
#include "dialogs/Settings.h"
#include "tests/support/Fixture.h"

#include <QAction>
#include <QGroupBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QTest>

using namespace kestrel;
using kestrel::test::KestrelTest;

class MainWindowTest : public KestrelTest {
protected:
    void SetUp() override
    {
        KestrelTest::SetUp();
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
    std::unique_ptr<frmKestrel> w;
};

TEST_F(MainWindowTest, FixedClientAreaAndPanelsAtTheirPlaces)
{
    EXPECT_EQ(w->windowTitle(), QStringLiteral("Kestrel"));
    EXPECT_EQ(w->centralWidget()->size(), QSize(759, 473));
    EXPECT_FALSE(w->windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(w->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_EQ(w->pos(), QPoint(0, 0));
    EXPECT_EQ(w->fraRemind->title(), QStringLiteral("Appointments for the next 7 days"));
    EXPECT_EQ(w->fraLead->title(), QStringLiteral("Trees"));
    EXPECT_EQ(w->fraCal->title(), QStringLiteral("Frame1"));
    EXPECT_EQ(w->fraLead->geometry(), QRect(-800, 0, 729, 441));
    EXPECT_EQ(w->fraCal->geometry(), QRect(-800, 8, 740, 428));
    EXPECT_EQ(w->fraRemind->geometry(), QRect(8, 0, 745, 433));
    EXPECT_EQ(w->StatusBar1->geometry(), QRect(0, 448, 759, 25));
    EXPECT_TRUE(w->isRemindInFront());
    EXPECT_FALSE(w->isCalInFront());
    EXPECT_FALSE(w->isLeadInFront());
}

TEST_F(MainWindowTest, MenusHaveEveryCaptionSeparatorAndHotKeyInOrder)
{
    QStringList seen;
    for (QAction* top : w->menuBar()->actions()) {
        seen << top->text();
        for (QAction* a : top->menu()->actions())
            seen << (a->isSeparator() ? QStringLiteral("-") : a->text() + u'=' + a->shortcut().toString());
    }
    EXPECT_EQ(seen.join(u'|').toStdString(),
              "&File|Options=|-|Print=Ctrl+P|Print ToDo=Ctrl+T|Print Lead Forms=Ctrl+F|-|Exit=|"
              "&Appts|Calendar=F6|Schedule New=F7|-|Reminders=F5|"
              "&Contacts|New=F2|View in Tree=F3|View in Grid=F4|-|Export Contacts=|Import Contacts=|"
              "&Help|Contents=F1|-|Report a bug=|-|About=");
}

TEST_F(MainWindowTest, HotKeysBringPanelsToTheFront)
{
    QTest::keyClick(w.get(), Qt::Key_F3);
    EXPECT_TRUE(w->isLeadInFront());
    EXPECT_EQ(leftTwips(w->fraCal), frmKestrel::kOutOfView);
    EXPECT_EQ(leftTwips(w->fraRemind), frmKestrel::kOutOfView);
    QTest::keyClick(w.get(), Qt::Key_F6);
    EXPECT_TRUE(w->isCalInFront());
    EXPECT_FALSE(w->isLeadInFront());
    EXPECT_EQ(leftTwips(w->fraLead), frmKestrel::kOutOfView);
    QTest::keyClick(w.get(), Qt::Key_F5);
    EXPECT_TRUE(w->isRemindInFront());
    EXPECT_FALSE(w->isCalInFront());
}

TEST_F(MainWindowTest, HelpAndBugReportGoToTheDesktop)
{
    sHelpPath = programDir() + QStringLiteral("\\kestrel.chm");
    w->mnuHelpReport_Click();
    ASSERT_EQ(desk.opened.size(), 1);
    EXPECT_EQ(desk.opened[0], QStringLiteral("mailto:") + frmKestrel::kSupportAddress + QStringLiteral("?subject=KT_Bug"));
}

TEST_F(MainWindowTest, StatusBarKeepsTimeAndDate)
{
    EXPECT_TRUE(w->statusPanels[0]->text().isEmpty());
    EXPECT_TRUE(w->statusPanels[1]->text().isEmpty());
    EXPECT_TRUE(w->statusPanels[2]->text().contains(u':'));
    EXPECT_EQ(w->statusPanels[3]->text().count(u'/'), 2);
}

TEST_F(MainWindowTest, GreetingIsOnOnlyForExactlyT)
{
    EXPECT_FALSE(GreetingEnabled());
    for (const char* v : {"t", "F", "TRUE", " T"}) {
        desk.settings.insert(QStringLiteral("Kestrel/App/Greet"), QString::fromUtf8(v));
        EXPECT_FALSE(GreetingEnabled()) << v;
    }
    desk.settings.insert(QStringLiteral("Kestrel/App/Greet"), QStringLiteral("T"));
    EXPECT_TRUE(GreetingEnabled());
}

class StartupTest : public KestrelTest {};

TEST_F(StartupTest, ADamagedContactsFileGivesOneClearMessageAndEmptyLists)
{
    QDir().mkpath(dir.path() + QStringLiteral("/data"));
    QFile junk(dataPath(QStringLiteral("contacts.mdb")));
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write(QByteArray(4096, '\x5a'));
    junk.close();
    exec(sConnMain, QStringLiteral("Insert into todo (todo)values('Call the bank')"));

    frmKestrel w;
    w.show();
    w.Form_Load();
    ASSERT_EQ(desk.messages().size(), 1);
    EXPECT_TRUE(desk.messages()[0].contains(dataPath(QStringLiteral("contacts.mdb"))));
    EXPECT_TRUE(w.isRemindInFront());
    auto* todo = w.findChild<QListWidget*>(QStringLiteral("lstToDo"));
    ASSERT_TRUE(todo);
    EXPECT_EQ(todo->count(), 4) << "the to-do list comes from its own file and still fills";
    EXPECT_EQ(w.findChild<QListWidget*>(QStringLiteral("lstWeek"))->count(), 0);
    QFile after(dataPath(QStringLiteral("contacts.mdb")));
    ASSERT_TRUE(after.open(QIODevice::ReadOnly));
    EXPECT_EQ(after.readAll(), QByteArray(4096, '\x5a'));
}
