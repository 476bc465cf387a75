// The contact commands of the main window: F2, F3, F4 and the panel's Edit button.
#include "app/frmKestrel.h"
#include "app/Ui.h"
#include "contacts/LeadPanel.h"
#include "contacts/frmContactGrid.h"
#include "contacts/frmLead.h"
#include "contacts/modTree.h"
#include "data/Globals.h"
#include "tests/support/Fixture.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

using namespace kestrel;
using kestrel::test::KestrelTest;

namespace {

class ContactsWiringTest : public KestrelTest {
protected:
    void SetUp() override
    {
        KestrelTest::SetUp();
        w = std::make_unique<frmKestrel>();
        w->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(w.get()));
    }
    void TearDown() override
    {
        w.reset();
        KestrelTest::TearDown();
    }
    QStringList listed() const
    {
        QStringList out;
        QTreeWidget* tv = w->lead->tvLead;
        for (int i = 0; i < tv->topLevelItemCount(); ++i)
            for (int c = 0; c < tv->topLevelItem(i)->childCount(); ++c)
                out << tv->topLevelItem(i)->child(c)->text(0);
        return out;
    }
    std::unique_ptr<frmKestrel> w;
};

TEST_F(ContactsWiringTest, F3ListsEveryoneWhateverTheFilterShows)
{
    addContact(QStringLiteral("Cole"), QStringLiteral("Cat"), QStringLiteral("Cust"));
    addContact(QStringLiteral("Lane"), QStringLiteral("Lou"), QStringLiteral("Lead"));
    w->Form_Load();
    EXPECT_EQ(w->lead->tvLead->parentWidget(), w->fraLead);
    EXPECT_EQ(w->lead->cmbDisplay->currentText(), QStringLiteral("All"));
    EXPECT_EQ(w->lead->tvLead->topLevelItemCount(), 0); // the tree waits for the panel to be opened
    QTest::keyClick(w.get(), Qt::Key_F3);
    EXPECT_TRUE(w->isLeadInFront());
    EXPECT_EQ(listed().size(), 2);
    w->lead->cmbDisplay->setCurrentIndex(1);
    Q_EMIT w->lead->cmbDisplay->activated(1);
    EXPECT_EQ(listed(), QStringList{QStringLiteral("Cole, Cat - ")});
    QTest::keyClick(w.get(), Qt::Key_F6);
    QTest::keyClick(w.get(), Qt::Key_F3);
    EXPECT_EQ(w->lead->cmbDisplay->currentText(), QStringLiteral("Cust"));
    EXPECT_EQ(listed(), (QStringList{QStringLiteral("Cole, Cat - "), QStringLiteral("Lane, Lou - ")}));
}

TEST_F(ContactsWiringTest, F2OpensANewContactAndTheTreeShowsIt)
{
    w->Form_Load();
    lLeadID = 99; // not consulted for a new contact
    desk.onModal(QStringLiteral("frmLead"), [](QDialog& d) {
        auto& f = static_cast<frmLead&>(d);
        EXPECT_FALSE(f.bEditMode);
        EXPECT_EQ(f.parentWidget(), mainWindow());
        f.txtLead[1]->setText(QStringLiteral("O'Brien"));
        f.txtLead[2]->setText(QStringLiteral("Ann"));
        QTest::mouseClick(f.cmdSave, Qt::LeftButton);
    });
    QTest::keyClick(w.get(), Qt::Key_F2);
    EXPECT_EQ(listed(), QStringList{QStringLiteral("O'Brien, Ann - ")});
    EXPECT_EQ(desk.prompts.size(), 1u);
}

TEST_F(ContactsWiringTest, F4OpensTheGridForBrowsing)
{
    w->Form_Load();
    addContact(QStringLiteral("Grid"), QStringLiteral("Gus"));
    desk.onModal(QStringLiteral("frmContactGrid"), [](QDialog& d) {
        auto& g = static_cast<frmContactGrid&>(d);
        EXPECT_FALSE(g.cmdSelect->isEnabled());
        EXPECT_EQ(g.model->rowCount(), 1);
        EXPECT_EQ(g.model->text(0, 1), QStringLiteral("Gus Grid"));
    });
    QTest::keyClick(w.get(), Qt::Key_F4);
    EXPECT_EQ(desk.prompts.size(), 1u);
}

TEST_F(ContactsWiringTest, EditAfterStepsEmptyThePanelAndListEveryone)
{
    w->Form_Load();
    addContact(QStringLiteral("Cole"), QStringLiteral("Cat"), QStringLiteral("Cust"));
    const int id = addContact(QStringLiteral("Lane"), QStringLiteral("Lou"), QStringLiteral("Lead"));
    w->mnuConView_Click();
    w->lead->cmbDisplay->setCurrentIndex(2);
    Q_EMIT w->lead->cmbDisplay->activated(2); // "Lead"
    ASSERT_EQ(listed().size(), 1);
    QTreeWidgetItem* node = w->lead->tvLead->topLevelItem(11)->child(0);
    w->lead->tvLead_NodeClick(node);
    ASSERT_EQ(w->lead->txtLead[0]->text(), QString::number(id));
    desk.onModal(QStringLiteral("frmLead"), [&](QDialog& d) {
        auto& f = static_cast<frmLead&>(d);
        EXPECT_TRUE(f.bEditMode);
        EXPECT_EQ(f.txtLead[1]->text(), QStringLiteral("Lane"));
        QTest::mouseClick(f.cmdCloseLead, Qt::LeftButton);
    });
    QTest::mouseClick(w->lead->cmdEditLead, Qt::LeftButton);
    EXPECT_EQ(lLeadID, 0);
    for (QLineEdit* box : w->lead->txtLead)
        EXPECT_TRUE(box->text().isEmpty());
    EXPECT_EQ(listed().size(), 2);
}

} // namespace
