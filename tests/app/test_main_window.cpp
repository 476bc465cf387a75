// The main window: its menu commands, the panel hot keys, the status bar, start-up.
#include "dialogs/Settings.h"
#include "dialogs/frmAbout.h"
#include "dialogs/frmHelp.h"
#include "dialogs/frmOptions.h"
#include "exchange/frmLeadCSV.h"
#include "tests/app/Helpers.h"
#include "tests/printing/PdfCheck.h"
#include "tests/support/Files.h"

TEST_F(MainWindowTest, HotKeysBringOnePanelToTheFrontTheClockIsTheDesktopsAndTheBugReportSaysWhereToWrite)
{
    w->Form_Load();
    const std::pair<Qt::Key, const char*> keys[] = {
        {Qt::Key_F3, "0,-12000,-12000"}, {Qt::Key_F6, "-12000,120,-12000"}, {Qt::Key_F5, "-12000,-12000,120"}};
    for (const auto& [key, expected] : keys) {
        QTest::keyClick(w.get(), key);
        EXPECT_EQ(lefts(), expected) << key;
    }
    EXPECT_EQ(w->statusPanels[2]->text() + u' ' + w->statusPanels[3]->text(), "9:30 AM 12/4/2026");
    w->mnuHelpReport->trigger();
    if (supportAddress().isEmpty()) // no address set for this build: the user is told whom to ask
        EXPECT_EQ(desk.messages(), QStringList{ReportWhereText({})});
    else
        EXPECT_EQ(desk.opened, QStringList{"mailto:" + supportAddress() + "?subject=KT_Bug"});
    for (const char* v : {"t", "TRUE", " T", "T"}) { // the greeting is on for exactly "T"
        desk.settings.insert("Kestrel/App/Greet", v);
        EXPECT_EQ(GreetingEnabled(), QString(v) == "T") << v;
    }
}

TEST_F(MainWindowTest, ADamagedContactsFileGivesOneClearMessageAndIsLeftAsItWas)
{
    QDir().mkpath(dataPath(""));
    writeBytes(dataPath("contacts.mdb"), QByteArray(4096, 'Z'));
    w->Form_Load();
    ASSERT_EQ(desk.messages().size(), 1);
    EXPECT_TRUE(desk.messages()[0].contains(dataPath("contacts.mdb")));
    EXPECT_EQ(w->remind->lstToDo->count(), 2); // the to-do list comes from its own file and still fills
    EXPECT_EQ(readBytes(dataPath("contacts.mdb")), QByteArray(4096, 'Z'));
}

TEST_F(MainWindowTest, StartUpPurgesF2AddsAContactImportOpensAndExportWritesTheChosenColumns)
{
    // Ann Lee's: the history takes it before the purge (then she goes, her history kept).
    const int ann = addContact("Lee", "Ann");
    addAppt(QDate(2024, 12, 3), QTime(9, 0), "Too old");
    w->Form_Load();
    exec(sConnContacts, QStringLiteral("delete from contacts where id=%1").arg(ann));
    EXPECT_TRUE(rows(sConnContacts, "select autoid from appointments").empty());
    EXPECT_EQ(weekLine(0), "There are no appointments for the next 7 days.");
    desk.onModal("frmLead", [](QDialog& d) {
        auto& f = static_cast<frmLead&>(d);
        EXPECT_TRUE(!f.bEditMode && f.parentWidget() == mainWindow());
        f.txtLead[1]->setText("O'Brien");
        f.txtLead[2]->setText("Ann");
        QTest::mouseClick(f.cmdSave, Qt::LeftButton);
    });
    QTest::keyClick(w.get(), Qt::Key_F2);
    EXPECT_EQ(listed(), QStringList{"O'Brien, Ann - "});
    desk.onModal("frmImport", [](QDialog& d) { EXPECT_TRUE(d.isModal() && d.windowTitle() == "Import Leads"); });
    // Alt+C opens the Contacts menu, I picks Import Contacts.
    ASSERT_TRUE(activated(w.get()));
    QTest::keyClick(w.get(), Qt::Key_C, Qt::AltModifier);
    ASSERT_TRUE(QTest::qWaitFor([&] { return w->mnuCon->isVisible(); }));
    QTest::keyClick(w->mnuCon, Qt::Key_I);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !desk.prompts.empty(); }));
    exec(sConnContacts, "update contacts set email='ann@x.com'");
    const QString path = dir.filePath("out.csv");
    desk.onModal("frmLeadCSV", [&](QDialog& d) {
        auto& f = static_cast<frmLeadCSV&>(d);
        desk.answerSaveFile(path);
        QTest::mouseClick(f.cmdBrowse, Qt::LeftButton);
        f.chkField[9]->setChecked(true);
        QTest::mouseClick(f.cmdExport, Qt::LeftButton);
    });
    w->mnuConExport->trigger();
    EXPECT_EQ(readBytes(path), QByteArray("\xEF\xBB\xBFlastname,email\r\nO'Brien,ann@x.com\r\n"));
}

TEST_F(MainWindowTest, ScheduleNewReloadsTheCalendarAndTheWeekAndTheScheduleButtonNamesTheChosenContact)
{
    w->Form_Load();
    w->mnuApptsCal_Click();
    desk.onModal("frmAppt", [](QDialog& dialog) {
        auto& editor = static_cast<frmAppt&>(dialog);
        editor.setApptText(0, "Site visit");
        editor.setApptText(3, "Ann Lee");
        editor.DTPicker1->setDate(QDate(2026, 12, 5));
        editor.cmdSave_Click();
    });
    w->mnuApptsSched_Click();
    EXPECT_EQ(w->cal->labDay[w->cal->cellOfDay(5)]->palette().color(QPalette::WindowText), QColor(0, 0, 255));
    EXPECT_EQ(weekLine(1), "12:00 PM - Site visit");
    w->lead->cmdScheduleAppointment->click(); // no contact chosen: nothing opens
    lLeadID = addContact("O'Brien", "Dan");
    desk.onModal("frmAppt", [](QDialog& d) { EXPECT_EQ(static_cast<frmAppt&>(d).apptText(3), "Dan O'Brien"); });
    w->lead->cmdScheduleAppointment->click();
    EXPECT_EQ(desk.prompts.size(), 2u);
}

TEST_F(MainWindowTest, PrintFollowsThePanelInFrontAndTheOtherPrintsTheirDocuments)
{
    w->Form_Load();
    w->remind->lstWeek->addItems({"Week line"});
    w->remind->lstToDo->addItems({"Call the bank"});
    QDir(dir.path()).mkpath("Templates");
    ASSERT_TRUE(QFile::copy(KESTREL_SOURCE_DIR "/resources/Templates/lead.rtf", dir.path() + "/Templates/lead.rtf"));
    const std::tuple<Qt::Key, const char*, const char*> prints[] = {
        {Qt::Key_P, "week.pdf", "Week line"}, {Qt::Key_T, "todo.pdf", "Call the bank"}, {Qt::Key_F, "lead.pdf", "Kestrel Lead Form"}};
    for (const auto& [key, file, line] : prints) {
        desk.answerPrint(dir.filePath(file));
        QTest::keyClick(w.get(), key, Qt::ControlModifier);
        QStringList printed;
        for (const PdfPage& p : readPdf(dir.filePath(file)))
            printed += p.lines();
        EXPECT_TRUE(printed.contains(line)) << file;
    }
    QTest::keyClick(w.get(), Qt::Key_F3); // contacts in front: Print neither asks nor prints
    const size_t asked = desk.prompts.size();
    QTest::keyClick(w.get(), Qt::Key_P, Qt::ControlModifier);
    EXPECT_EQ(desk.prompts.size(), asked);
}

TEST_F(MainWindowTest, OptionsOpensModallyAndF1OpensTheHelpFileBesideTheProgram)
{
    desk.onModal("frmOptions", [](QDialog& d) { static_cast<frmOptions&>(d).cmdSave->click(); });
    w->mnuFileOptions->trigger();
    EXPECT_EQ(desk.settings.value("Kestrel/App/Greet"), "F");
    ASSERT_TRUE(QFile::copy(KESTREL_SOURCE_DIR "/resources/kestrel.chm", dir.path() + "/kestrel.chm"));
    sHelpPath = programDir() + "\\kestrel.chm";
    w->activateWindow(); // the options dialog took the activation
    ASSERT_TRUE(QTest::qWaitForWindowActive(w.get()));
    QTest::keyClick(w.get(), Qt::Key_F1);
    ASSERT_TRUE(helpWindow() && helpWindow()->isVisible());
    EXPECT_EQ(helpWindow()->currentTopic(), "index.html");
    helpWindow()->close();
    sHelpPath.clear();
}

// F8, part of a company's name, Down, Enter: the contact stands selected in the tree and shown
// in the detail panel, with the focus in the tree, so Tab, Enter edits it.
TEST_F(MainWindowTest, F8FindsAContactAndShowsItAsATreeClickDoes)
{
    for (int i = 0; i < 30; ++i)
        addContact(QStringLiteral("Kowal%1").arg(i), "Jan");
    exec(sConnContacts, "INSERT into contacts(lastname,firstname,company,address,city,st,zip,homeph,cellph,workph,ext,"
                        "email,active,contype)values('Kowalski','Anna','Vandelay Industries','','Łódź','','','',"
                        "'','+48 42 5550199','','',True,'Cust')");
    const QString id = rows(sConnContacts, "select id from contacts where lastname='Kowalski'").at(0).at(0);
    w->Form_Load();
    desk.onModal("frmFind", [](QDialog& d) {
        QTest::keyClick(static_cast<frmFind&>(d).txtFind, Qt::Key_Escape);
        EXPECT_FALSE(d.isVisible());
    });
    QTest::keyClick(w.get(), Qt::Key_F8);
    EXPECT_FALSE(w->isLeadInFront());
    w->activateWindow(); // a shown dialog stands in for a modal one here: give the activation back
    ASSERT_TRUE(QTest::qWaitForWindowActive(w.get()));
    desk.onModal("frmFind", [](QDialog& d) {
        auto& f = static_cast<frmFind&>(d);
        QTest::keyClicks(f.txtFind, "ndelay LODZ");
        ASSERT_EQ(f.lstFound->count(), 1);
        EXPECT_EQ(f.lstFound->item(0)->text(), "Kowalski       Anna       Vandelay Indus Łódź       +48 42 5550199");
        QTest::keyClick(f.txtFind, Qt::Key_Down);
        QTest::keyClick(f.txtFind, Qt::Key_Return);
    });
    QTest::keyClick(w.get(), Qt::Key_F8);
    QTreeWidget* tv = w->lead->tvLead;
    EXPECT_TRUE(w->isLeadInFront());
    ASSERT_TRUE(tv->currentItem() && tv->currentItem()->parent());
    EXPECT_TRUE(tv->currentItem()->isSelected() && tv->currentItem()->parent()->isExpanded());
    EXPECT_EQ(tv->currentItem()->text(0), "Kowalski, Anna - ");
    EXPECT_TRUE(w->lead->txtLead[0]->text() == id && w->lead->txtLead[12]->text() == "Vandelay Industries");
    w->activateWindow(); // a shown dialog stands in for a modal one here: give the activation back
    ASSERT_TRUE(QTest::qWaitForWindowActive(w.get()));
    EXPECT_EQ(QApplication::focusWidget(), tv);

    desk.onModal("frmLead", [&](QDialog& d) { EXPECT_EQ(static_cast<frmLead&>(d).txtLead[0]->text(), id); });
    QTest::keyClick(tv, Qt::Key_Tab);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_EQ(desk.prompts.size(), 3u);
}
