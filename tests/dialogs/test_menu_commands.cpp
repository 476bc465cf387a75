// Print, Print ToDo, Print Lead Forms, Options and Help on the main window, by their keys.
#include "app/frmKestrel.h"
#include "data/Globals.h"
#include "dialogs/frmHelp.h"
#include "dialogs/frmOptions.h"
#include "tests/printing/PdfCheck.h"
#include "tests/support/Fixture.h"

#include <QTest>
#include <QtWidgets>

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
    void TearDown() override { w.reset(), KestrelTest::TearDown(); }
    // Prints through `keys` into a file and gives back its lines; the lists are set directly.
    QStringList printed(Qt::Key k, const char* file)
    {
        w->findChild<QListWidget*>("lstWeek")->addItems({"Week line"});
        w->findChild<QListWidget*>("lstToDo")->addItems({"Call the bank"});
        desk.answerPrint(dir.path() + u'/' + QLatin1String(file));
        QTest::keyClick(w.get(), k, Qt::ControlModifier);
        QStringList out;
        for (const PdfPage& p : readPdf(dir.path() + u'/' + QLatin1String(file)))
            out += p.lines();
        return out;
    }
    std::unique_ptr<frmKestrel> w;
};

} // namespace

TEST_F(MenuCommandTest, PrintFollowsThePanelInFrontAndTheOtherPrintsTheirDocuments)
{
    EXPECT_TRUE(printed(Qt::Key_P, "week.pdf").contains("Week line"));
    EXPECT_TRUE(printed(Qt::Key_T, "todo.pdf").contains("Call the bank"));
    QDir(dir.path()).mkpath(QStringLiteral("Templates"));
    ASSERT_TRUE(QFile::copy(QStringLiteral(KESTREL_SOURCE_DIR "/resources/Templates/lead.rtf"), dir.path() + "/Templates/lead.rtf"));
    EXPECT_EQ(printed(Qt::Key_F, "lead.pdf").value(0), QStringLiteral("Kestrel Lead Form"));
    QTest::keyClick(w.get(), Qt::Key_F3); // contacts in front: Print neither asks nor prints
    const size_t asked = desk.prompts.size();
    QTest::keyClick(w.get(), Qt::Key_P, Qt::ControlModifier);
    EXPECT_EQ(desk.prompts.size(), asked);
}

TEST_F(MenuCommandTest, OptionsOpensModallyAndF1OpensTheHelpFileBesideTheProgram)
{
    desk.onModal(QStringLiteral("frmOptions"), [](QDialog& d) { static_cast<frmOptions&>(d).cmdSave->click(); });
    w->mnuFileOptions->trigger();
    EXPECT_EQ(desk.settings.value(QStringLiteral("Kestrel/App/Greet")), QStringLiteral("F"));

    ASSERT_TRUE(QFile::copy(QStringLiteral(KESTREL_SOURCE_DIR "/resources/kestrel.chm"), dir.path() + "/kestrel.chm"));
    sHelpPath = programDir() + QStringLiteral("\\kestrel.chm");
    w->activateWindow(); // the options dialog took the activation
    ASSERT_TRUE(QTest::qWaitForWindowActive(w.get()));
    QTest::keyClick(w.get(), Qt::Key_F1);
    ASSERT_TRUE(helpWindow() && helpWindow()->isVisible());
    EXPECT_EQ(helpWindow()->currentTopic(), QStringLiteral("index.html"));
    helpWindow()->close();
    sHelpPath.clear();
}
