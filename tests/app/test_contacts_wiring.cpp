// The contact commands of the main window: F2, F3, F4 and the panel's Edit button.
#include "tests/app/Helpers.h"

TEST_F(MainWindowTest, F3ListsEveryoneWhateverTheFilterShowsAndEditKeepsThePlace)
{
    addContact("Cole", "Cat", "Cust");
    const int id = addContact("Lane", "Lou", "Lead");
    w->Form_Load();
    QTest::keyClick(w.get(), Qt::Key_F3);
    w->lead->cmbDisplay->setCurrentIndex(2);
    Q_EMIT w->lead->cmbDisplay->activated(2); // "Lead"
    EXPECT_EQ(listed(), QStringList{"Lane, Lou - "});
    w->lead->tvLead_NodeClick(w->lead->tvLead->topLevelItem(11)->child(0));
    desk.onModal("frmLead", [&](QDialog& d) {
        auto& f = static_cast<frmLead&>(d);
        EXPECT_TRUE(f.bEditMode && f.txtLead[0]->text() == QString::number(id));
        QTest::mouseClick(f.cmdCloseLead, Qt::LeftButton);
    });
    QTest::mouseClick(w->lead->cmdEditLead, Qt::LeftButton);
    // The refill lists everyone and shows the contact again.
    EXPECT_TRUE(lLeadID == id && w->lead->txtLead[1]->text() == "Lane");
    EXPECT_EQ(listed(), QStringList({"Cole, Cat - ", "Lane, Lou - "}));
}

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
