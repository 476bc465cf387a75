// The main window: its frame, panels and menus, the panel hot keys, the bug report, start-up.
#include "dialogs/Settings.h"
#include "tests/app/Helpers.h"

TEST_F(MainWindowTest, FixedClientAreaAndPanelsAtTheirPlaces)
{
    w->Form_Load();
    EXPECT_EQ(w->windowTitle(), "Kestrel");
    EXPECT_EQ(w->centralWidget()->size(), QSize(759, 473));
    const std::pair<QWidget*, QRect> placed[] = {
        {w->fraLead, {-800, 0, 729, 441}}, {w->fraCal, {-800, 8, 740, 428}}, {w->fraRemind, {8, 0, 745, 433}},
        {w->StatusBar1, {0, 448, 759, 25}}};
    for (const auto& [widget, at] : placed)
        EXPECT_EQ(widget->geometry(), at) << widget->objectName().toStdString();
    EXPECT_EQ(w->fraLead->title() + u'|' + w->fraCal->title() + u'|' + w->fraRemind->title(),
              "Trees|Frame1|Appointments for the next 7 days");
}

TEST_F(MainWindowTest, MenusHaveEveryCaptionSeparatorAndHotKeyInOrder)
{
    QStringList seen;
    for (QAction* top : w->menuBar()->actions()) {
        seen << top->text();
        for (QAction* a : top->menu()->actions())
            seen << (a->isSeparator() ? QStringLiteral("-") : a->text() + u'=' + a->shortcut().toString());
    }
    EXPECT_EQ(seen.join(u'|'), "&File|Options=|-|Print=Ctrl+P|Print ToDo=Ctrl+T|Print Lead Forms=Ctrl+F|-|Exit=|"
                               "&Appts|Calendar=F6|Schedule New=F7|-|Reminders=F5|-|E&xport iCalendar…=|I&mport iCalendar…=|"
                               "&Contacts|New=F2|View in Tree=F3|View in Grid=F4|-|Export Contacts=|Import Contacts=|"
                               "Export v&Card…=|Import vCar&d…=|"
                               "&Help|Contents=F1|-|Report a bug=|-|About=");
    w->mnuHelpReport->trigger();
    EXPECT_EQ(desk.opened, QStringList{"mailto:" + frmKestrel::kSupportAddress + "?subject=KT_Bug"});
}

TEST_F(MainWindowTest, HotKeysBringOnePanelToTheFrontAndTheGreetingIsOnOnlyForExactlyT)
{
    w->Form_Load();
    const std::pair<Qt::Key, const char*> keys[] = {
        {Qt::Key_F3, "0,-12000,-12000"}, {Qt::Key_F6, "-12000,120,-12000"}, {Qt::Key_F5, "-12000,-12000,120"}};
    for (const auto& [key, expected] : keys) {
        QTest::keyClick(w->lead->tvLead, key); // from anywhere in the window
        EXPECT_EQ(lefts(), expected) << key;
    }
    for (const char* v : {"t", "TRUE", " T", "T"}) {
        desk.settings.insert("Kestrel/App/Greet", v);
        EXPECT_EQ(GreetingEnabled(), QString(v) == "T") << v;
    }
}

TEST_F(MainWindowTest, ADamagedContactsFileGivesOneClearMessageAndIsLeftAsItWas)
{
    QDir().mkpath(dataPath(""));
    QFile junk(dataPath("contacts.mdb"));
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly) && junk.write(QByteArray(4096, 'Z')) == 4096);
    junk.close();
    w->Form_Load();
    ASSERT_EQ(desk.messages().size(), 1);
    EXPECT_TRUE(desk.messages()[0].contains(dataPath("contacts.mdb")));
    EXPECT_EQ(w->remind->lstToDo->count(), 2); // the to-do list comes from its own file and still fills
    ASSERT_TRUE(junk.open(QIODevice::ReadOnly));
    EXPECT_EQ(junk.readAll(), QByteArray(4096, 'Z'));
}
