// The tree of a large list: letters counted at once, their contacts read page by page as they
// are opened, walked or scrolled, in the same order as a whole read, on both engines.
#include "tests/contacts/Helpers.h"

namespace {
class TreePagesTest : public PanelTest {
protected:
    void SetUp() override
    {
        PanelTest::SetUp();
        // Duplicate names, missing values and a case apart, so that pages of two end on each.
        exec(sConnContacts, "INSERT into contacts(lastname,firstname,address,contype)values('Smith',Null,'1 A St','Lead')");
        exec(sConnContacts, "INSERT into contacts(lastname,firstname,address,contype)values('Smith','Ann',Null,'Cust')");
        smithAnn = addContact("Smith", "Ann", "Lead");
        addContact("smith", "Ann", "Cust");
        addContact("Smith", "Ann", "Lead");
        addContact("Smith", "Bo", "Cust");
        stone = addContact("Stone", "Cy", "Lead");
        sutton = addContact("Sutton", "Di", "Lead");
        for (const char* last : {"Evans", "Émile", "Adams", "3M", "Zeno"})
            addContact(QString::fromUtf8(last), "X", "Lead");
        exec(sConnContacts, "INSERT into contacts(lastname,firstname,contype)values(Null,'Nil','Lead')");
    }
    void TearDown() override
    {
        setTreePaging(2000, 2000);
        PanelTest::TearDown();
    }
    QTreeWidgetItem* letter(const QString& text) const { return panel->tvLead->findItems(text, Qt::MatchExactly).value(0); }
    // Opens the letter and reads it to its end as a person would: choosing its last line until
    // no more come.
    void readToEnd(QTreeWidgetItem* initial)
    {
        initial->setExpanded(true);
        for (int before = -1; initial->childCount() != before;) {
            before = initial->childCount();
            if (before > 0)
                panel->tvLead->setCurrentItem(initial->child(before - 1));
        }
    }
    QStringList children(const QString& initial) const
    {
        QStringList out;
        for (int i = 0; QTreeWidgetItem* letterNode = letter(initial); ++i) {
            if (i >= letterNode->childCount())
                break;
            out << letterNode->child(i)->text(0);
        }
        return out;
    }
    int smithAnn = 0, stone = 0, sutton = 0;
};
} // namespace

TEST_F(TreePagesTest, LettersAreCountedFirstAndReadWhenOpenedInPagesThatMakeUpTheWholeList)
{
    const QString whole = QString::fromUtf8(
        "A:Adams, X - |E:Evans, X - |E:Émile, X - |S:Smith, , - 1 A St|S:Smith, Ann - |S:Smith, Ann - |S:smith, Ann - |"
        "S:Smith, Ann - |S:Smith, Bo - |S:Stone, Cy - |S:Sutton, Di - |Z:Zeno, X - |#:, Nil - |#:3M, X - ").replace(", , -", ",  -");
    setTreePaging(2, 1000);
    PopTree(QString());
    EXPECT_EQ(filed(), whole);

    setTreePaging(2, 0);
    PopTree(QString());
    EXPECT_EQ(nodes().size(), 27) << "only the letters and # before any is opened";
    EXPECT_EQ(letter("S")->childIndicatorPolicy(), QTreeWidgetItem::ShowIndicator);
    letter("S")->setExpanded(true);
    EXPECT_EQ(letter("S")->childCount(), 2 * ((letter("S")->childCount() + 1) / 2)) << "whole pages of two";
    setTreePaging(1, 0);
    host.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&host));
    panel->tvLead->setFixedHeight(0); // no line in view asks for the next page
    letter("E")->setExpanded(true);
    EXPECT_EQ(letter("E")->childCount(), 1) << "a letter with names beyond ASCII is read a page at a time too";
    panel->tvLead->setFixedHeight(400);
    setTreePaging(2, 0);
    for (int i = 0; i < panel->tvLead->topLevelItemCount(); ++i)
        readToEnd(panel->tvLead->topLevelItem(i));
    EXPECT_EQ(filed(), whole);

    // The display filter reads the open letter again with only that type.
    choose(panel->cmbDisplay, "Cust");
    readToEnd(letter("S"));
    EXPECT_EQ(children("S"), (QStringList{"Smith, Ann - ", "smith, Ann - ", "Smith, Bo - "}));
    EXPECT_EQ(letter("E")->childCount(), 0) << "a closed letter is not read";
}

TEST_F(TreePagesTest, WalkingDownByKeyCrossesPagesWhileOthersAddAndDeleteAndARefillKeepsThePlace)
{
    setTreePaging(2, 0);
    QTreeWidget* tv = panel->tvLead;
    host.resize(800, 700);
    host.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&host));
    tv->setFixedHeight(70); // a few lines in view, so that most pages are read on the way
    PopTree(QString());
    tv->setFocus();
    QTest::keyClick(tv, Qt::Key_S);
    ASSERT_EQ(nodeKey(tv->currentItem()), "S");
    QTest::keyClick(tv, Qt::Key_Right);
    ASSERT_GE(letter("S")->childCount(), 2);
    ASSERT_LT(letter("S")->childCount(), 8) << "the walk must reach pages not read yet";
    // Meanwhile another user adds a name before what was read (shown at the next refill), one at
    // the end and deletes one not read yet.
    const int aaron = addContact("Smith", "Aaron");
    const int sykes = addContact("Sykes", "Ed");
    exec(sConnContacts, QStringLiteral("delete from contacts where id=%1").arg(sutton));

    QStringList walked;
    for (int step = 0; step < 20 && nodeKey(tv->currentItem()) != "T"; ++step) {
        QTest::keyClick(tv, Qt::Key_Down);
        if (tv->currentItem()->parent()) {
            walked << tv->currentItem()->text(0);
            // The selection moved by key is the node click: the panel shows that contact.
            EXPECT_EQ(QStringLiteral("ID") + panel->txtLead[0]->text(), nodeKey(tv->currentItem()));
        }
        if (nodeKey(tv->currentItem()) == QStringLiteral("ID%1").arg(stone))
            break;
    }
    EXPECT_EQ(walked, (QStringList{"Smith,  - 1 A St", "Smith, Ann - ", "Smith, Ann - ", "smith, Ann - ", "Smith, Ann - ",
                                   "Smith, Bo - ", "Stone, Cy - "}));

    // A refill keeps the letter open as far as it was read, the contact chosen, and reads no
    // letter that is closed.
    exec(sConnContacts, QStringLiteral("delete from contacts where id=%1").arg(smithAnn));
    PopTree(QString());
    EXPECT_EQ(nodeKey(tv->currentItem()), QStringLiteral("ID%1").arg(stone));
    EXPECT_EQ(panel->txtLead[0]->text().toInt(), stone);
    EXPECT_EQ(children("S").mid(0, 7), (QStringList{"Smith,  - 1 A St", "Smith, Aaron - ", "Smith, Ann - ", "smith, Ann - ",
                                                     "Smith, Ann - ", "Smith, Bo - ", "Stone, Cy - "}));
    EXPECT_EQ(letter("A")->childCount(), 0);
    QTest::keyClick(tv, Qt::Key_Down);
    EXPECT_EQ(nodeKey(tv->currentItem()), QStringLiteral("ID%1").arg(sykes));
    (void)aaron;

    // End chooses the last line; the pages an open letter reads as the view passes its end do
    // not push that line out of view.
    for (int i = 0; i < 40; ++i)
        addContact("Young", QString::number(i));
    tv->setFixedHeight(300);
    PopTree(QString());
    letter("Y")->setExpanded(true);
    QTest::keyClick(tv, Qt::Key_End);
    ASSERT_EQ(nodeKey(tv->currentItem()), "#");
    EXPECT_GT(letter("Y")->childCount(), 2) << "the view passed Y's end";
    EXPECT_TRUE(tv->viewport()->rect().contains(tv->visualItemRect(tv->currentItem()).center()));
}
