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
