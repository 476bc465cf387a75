// The contact commands of the main window: F2, F3, F4 and the panel's Edit button.
#include "tests/app/Helpers.h"

TEST_F(MainWindowTest, F3ListsEveryoneWhateverTheFilterShows)
{
    addContact("Cole", "Cat", "Cust");
    addContact("Lane", "Lou", "Lead");
    w->Form_Load();
    EXPECT_EQ(w->lead->tvLead->topLevelItemCount(), 0); // the tree waits for the panel to be opened
    QTest::keyClick(w.get(), Qt::Key_F3);
    EXPECT_EQ(listed().size(), 2);
    for (int choice : {1, 0, 1}) { // "Cust"; "All" keeps the list as it stands; "Cust" again
        w->lead->cmbDisplay->setCurrentIndex(choice);
        Q_EMIT w->lead->cmbDisplay->activated(choice);
        EXPECT_EQ(listed(), QStringList{"Cole, Cat - "});
    }
    QTest::keyClick(w.get(), Qt::Key_F6);
    QTest::keyClick(w.get(), Qt::Key_F3);
    EXPECT_EQ(listed(), QStringList({"Cole, Cat - ", "Lane, Lou - "}));
}

TEST_F(MainWindowTest, F2AndF4OpenTheEditorForANewContactAndTheGridForBrowsing)
{
    w->Form_Load();
    lLeadID = 99; // not consulted for a new contact
    desk.onModal("frmLead", [](QDialog& d) {
        auto& f = static_cast<frmLead&>(d);
        EXPECT_TRUE(!f.bEditMode && f.parentWidget() == mainWindow());
        f.txtLead[1]->setText("O'Brien");
        f.txtLead[2]->setText("Ann");
        QTest::mouseClick(f.cmdSave, Qt::LeftButton);
    });
    QTest::keyClick(w.get(), Qt::Key_F2);
    EXPECT_EQ(listed(), QStringList{"O'Brien, Ann - "});
    desk.onModal("frmContactGrid", [](QDialog& d) {
        auto& g = static_cast<frmContactGrid&>(d);
        EXPECT_FALSE(g.cmdSelect->isEnabled());
        EXPECT_EQ(g.model->text(0, 1), "Ann O'Brien");
    });
    w->activateWindow(); // a shown dialog stands in for a modal one here: give the activation back
    ASSERT_TRUE(QTest::qWaitForWindowActive(w.get()));
    QTest::keyClick(w.get(), Qt::Key_F4);
    EXPECT_EQ(desk.prompts.size(), 2u);
}

TEST_F(MainWindowTest, EditOpensTheShownContactThenEmptiesThePanelAndListsEveryone)
{
    w->Form_Load();
    addContact("Cole", "Cat", "Cust");
    const int id = addContact("Lane", "Lou", "Lead");
    w->mnuConView_Click();
    w->lead->cmbDisplay->setCurrentIndex(2);
    Q_EMIT w->lead->cmbDisplay->activated(2); // "Lead"
    ASSERT_EQ(listed().size(), 1);
    w->lead->tvLead_NodeClick(w->lead->tvLead->topLevelItem(11)->child(0));
    desk.onModal("frmLead", [&](QDialog& d) {
        auto& f = static_cast<frmLead&>(d);
        EXPECT_TRUE(f.bEditMode && f.txtLead[0]->text() == QString::number(id) && f.txtLead[1]->text() == "Lane");
        QTest::mouseClick(f.cmdCloseLead, Qt::LeftButton);
    });
    QTest::mouseClick(w->lead->cmdEditLead, Qt::LeftButton);
    EXPECT_EQ(lLeadID, 0);
    EXPECT_EQ(w->lead->txtLead[0]->text() + w->lead->txtLead[1]->text(), "");
    EXPECT_EQ(listed().size(), 2);
}
