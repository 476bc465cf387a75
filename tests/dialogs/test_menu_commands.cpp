// Print, Print ToDo, Print Lead Forms, Options, About and Help on the main window, by their keys.
#include "app/frmKestrel.h"
#include "data/Globals.h"
#include "dialogs/frmAbout.h"
#include "dialogs/frmHelp.h"
#include "dialogs/frmOptions.h"
#include "tests/printing/PdfCheck.h"
#include "tests/support/Fixture.h"

#include <QCheckBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

using namespace kestrel;
using namespace kestrel::test;

namespace {

class MenuCommandTest : public KestrelTest {
protected:
    void SetUp() override
    {
        KestrelTest::SetUp();
        w = std::make_unique<frmKestrel>();
        w->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(w.get()));
        w->Form_Load();
        w->activateWindow();
    }
    void TearDown() override
    {
        w.reset();
        KestrelTest::TearDown();
    }
    // The panel's list, given these lines (the calendar's panels fill them from the database;
    // here they are set directly, after any refill the panel switch did).
    void fill(const char* name, QGroupBox* panel, const QStringList& lines)
    {
        auto* list = w->findChild<QListWidget*>(QString::fromLatin1(name));
        if (!list) {
            list = new QListWidget(panel);
            list->setObjectName(QString::fromLatin1(name));
        }
        list->clear();
        list->addItems(lines);
    }
    QStringList printedLines(const QString& file)
    {
        QStringList out;
        for (const PdfPage& p : readPdf(file))
            out += p.lines();
        return out;
    }
    QString pdf(const char* name) const { return dir.path() + u'/' + QLatin1String(name); }
    void key(Qt::Key k, Qt::KeyboardModifiers m = Qt::NoModifier) { QTest::keyClick(w.get(), k, m); }

    std::unique_ptr<frmKestrel> w;
};

} // namespace

TEST_F(MenuCommandTest, PrintFollowsThePanelInFrontAndPrintToDoPrintsTheList)
{
    ASSERT_TRUE(w->isRemindInFront());
    fill("lstWeek", w->fraRemind, {QStringLiteral("Friday 12/4/2026"), QStringLiteral("  9:30 AM Ann Lee")});
    fill("lstCal", w->fraCal, {QStringLiteral("Calendar day line")});
    desk.answerPrint(pdf("remind.pdf"));
    key(Qt::Key_P, Qt::ControlModifier);
    EXPECT_EQ(printedLines(pdf("remind.pdf")), (QStringList{QStringLiteral("Friday 12/4/2026"), QStringLiteral("9:30 AM Ann Lee")}));

    key(Qt::Key_F6);
    ASSERT_TRUE(w->isCalInFront());
    fill("lstWeek", w->fraRemind, {QStringLiteral("Week line")});
    fill("lstCal", w->fraCal, {QStringLiteral("Calendar day line")});
    desk.answerPrint(pdf("cal.pdf"));
    key(Qt::Key_P, Qt::ControlModifier);
    EXPECT_EQ(printedLines(pdf("cal.pdf")), QStringList{QStringLiteral("Calendar day line")});
    // Print ToDo prints the to-do list whichever panel is in front.
    fill("lstToDo", w->fraRemind, {QStringLiteral("Call the bank"), QStringLiteral("Order paper")});
    desk.answerPrint(pdf("todo.pdf"));
    key(Qt::Key_T, Qt::ControlModifier);
    EXPECT_EQ(printedLines(pdf("todo.pdf")), (QStringList{QStringLiteral("Call the bank"), QStringLiteral("Order paper")}));

    // With the contacts in front, Print neither asks nor prints.
    key(Qt::Key_F3);
    ASSERT_TRUE(w->isLeadInFront());
    const size_t asked = desk.prompts.size();
    key(Qt::Key_P, Qt::ControlModifier);
    EXPECT_EQ(desk.prompts.size(), asked);
}

TEST_F(MenuCommandTest, PrintLeadFormsPrintsTheInstalledTemplate)
{
    QDir(dir.path()).mkpath(QStringLiteral("Templates"));
    ASSERT_TRUE(QFile::copy(QStringLiteral(KESTREL_SOURCE_DIR "/resources/Templates/lead.rtf"),
                            dir.path() + QStringLiteral("/Templates/lead.rtf")));
    desk.answerPrint(pdf("lead.pdf"));
    key(Qt::Key_F, Qt::ControlModifier);
    const auto pages = readPdf(pdf("lead.pdf"));
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_EQ(pages[0].lines().first(), QStringLiteral("Kestrel Lead Form"));
}

TEST_F(MenuCommandTest, OptionsAndAboutOpenModally)
{
    desk.onModal(QStringLiteral("frmOptions"), [](QDialog& d) {
        auto& o = static_cast<frmOptions&>(d);
        EXPECT_FALSE(o.chkGreet->isChecked());
        o.chkGreet->setChecked(true);
        QTest::mouseClick(o.cmdSave, Qt::LeftButton);
    });
    w->mnuFileOptions->trigger();
    EXPECT_EQ(desk.settings.value(QStringLiteral("Kestrel/App/Greet")), QStringLiteral("T"));

    desk.onModal(QStringLiteral("frmAbout"), [](QDialog& d) {
        auto& a = static_cast<frmAbout&>(d);
        QTest::mouseClick(a.cmdOK, Qt::LeftButton);
        EXPECT_FALSE(a.isVisible());
    });
    w->mnuHelpAbout->trigger();
}

TEST_F(MenuCommandTest, F1OpensTheHelpFileBesideTheProgram)
{
    ASSERT_TRUE(QFile::copy(QStringLiteral(KESTREL_SOURCE_DIR "/resources/kestrel.chm"), dir.path() + QStringLiteral("/kestrel.chm")));
    sHelpPath = programDir() + QStringLiteral("\\kestrel.chm");
    key(Qt::Key_F1);
    ASSERT_TRUE(helpWindow());
    EXPECT_TRUE(helpWindow()->isVisible());
    EXPECT_EQ(helpWindow()->currentTopic(), QStringLiteral("index.html"));
    EXPECT_TRUE(desk.opened.isEmpty());
    helpWindow()->close();
    sHelpPath.clear();
}
