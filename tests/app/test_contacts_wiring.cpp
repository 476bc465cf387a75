// The contact commands of the main window: F2 and F4 (F3 and Edit: test_keyboard).
#include "tests/app/Helpers.h"

TEST_F(MainWindowTest, F2AndF4OpenTheEditorForANewContactAndTheGridForBrowsing)
{
    w->Form_Load();
    desk.onModal("frmLead", [](QDialog& d) {
        auto& f = static_cast<frmLead&>(d);
        EXPECT_TRUE(!f.bEditMode && f.parentWidget() == mainWindow());
        f.txtLead[1]->setText("O'Brien");
        f.txtLead[2]->setText("Ann");
        QTest::mouseClick(f.cmdSave, Qt::LeftButton);
    });
    QTest::keyClick(w.get(), Qt::Key_F2);
    EXPECT_EQ(listed(), QStringList{"O'Brien, Ann - "});
    desk.onModal("frmContactGrid", [](QDialog& d) { EXPECT_FALSE(static_cast<frmContactGrid&>(d).cmdSelect->isEnabled()); });
    w->activateWindow(); // a shown dialog stands in for a modal one here: give the activation back
    ASSERT_TRUE(QTest::qWaitForWindowActive(w.get()));
    QTest::keyClick(w.get(), Qt::Key_F4);
    EXPECT_EQ(desk.prompts.size(), 2u);
}
