// The contact panel: filing contacts under their initials, the display filter, the detail panel.
#include "contacts/LeadPanel.h"
#include "contacts/modTree.h"
#include "data/Database.h"
#include "data/Globals.h"
#include "tests/contacts/Helpers.h"
#include "tests/support/Fixture.h"

#include <QFile>
#include <QGroupBox>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

using namespace kestrel;
using namespace kestrel::test;

namespace {

class TreeTest : public KestrelTest {
protected:
    void SetUp() override
    {
        KestrelTest::SetUp();
        window = std::make_unique<QWidget>();
        frame = new QGroupBox(QStringLiteral("Trees"), window.get());
        frame->setGeometry(0, 0, 729, 441);
        panel = new LeadPanel(frame, window.get());
        panel->PopDisplay();
        window->show();
    }
    void TearDown() override
    {
        setTreeEventInterval(30);
        window.reset();
        KestrelTest::TearDown();
    }
    // "A: Adams, Ann - |adams-Jones, Bo - " for each initial that has contacts.
    QString filed() const
    {
        QStringList out;
        for (int i = 0; i < panel->tvLead->topLevelItemCount(); ++i) {
            QTreeWidgetItem* node = panel->tvLead->topLevelItem(i);
            QStringList children;
            for (int c = 0; c < node->childCount(); ++c)
                children << node->child(c)->text(0);
            if (!children.isEmpty())
                out << node->text(0) + QStringLiteral(": ") + children.join(u'|');
        }
        return out.join(QStringLiteral(" / "));
    }
    int contactNodes() const
    {
        int n = 0;
        for (int i = 0; i < panel->tvLead->topLevelItemCount(); ++i)
            n += panel->tvLead->topLevelItem(i)->childCount();
        return n;
    }
    QTreeWidgetItem* contactNode(int id) const
    {
        for (int i = 0; i < panel->tvLead->topLevelItemCount(); ++i)
            for (int c = 0; c < panel->tvLead->topLevelItem(i)->childCount(); ++c)
                if (nodeKey(panel->tvLead->topLevelItem(i)->child(c)) == QStringLiteral("ID%1").arg(id))
                    return panel->tvLead->topLevelItem(i)->child(c);
        return nullptr;
    }
    void clickNode(QTreeWidgetItem* node)
    {
        ASSERT_TRUE(node);
        if (node->parent())
            node->parent()->setExpanded(true);
        panel->tvLead->scrollToItem(node);
        QTest::mouseClick(panel->tvLead->viewport(), Qt::LeftButton, {}, panel->tvLead->visualItemRect(node).center());
    }
    QString panelText() const
    {
        QStringList t;
        for (QLineEdit* box : panel->txtLead)
            t << box->text();
        return t.join(u'|');
    }
    // count contacts "Ason", "Bson", ... in one statement; typeSql may use the row number i.
    void addMany(int count, const QString& typeSql)
    {
        exec(sConnContacts, QStringLiteral("INSERT INTO contacts(lastname,firstname,address,contype) WITH RECURSIVE "
                                           "n(i) AS (SELECT 0 UNION ALL SELECT i+1 FROM n WHERE i<%1) SELECT "
                                           "char(65 + i % 26) || 'son', 'N' || i, '', %2 FROM n")
                                .arg(count - 1)
                                .arg(typeSql));
    }

    std::unique_ptr<QWidget> window;
    QGroupBox* frame = nullptr;
    LeadPanel* panel = nullptr;
};

TEST_F(TreeTest, PanelControlsStandWhereTheyWereDesigned)
{
    expectPlaced(frame, {{"tvLead", 120, 240, 4695, 6255},        {"lbl1", 5400, 240, -1, -1, "ID:"},
                         {"txtLead0", 5760, 240, 975, 285},        {"cmdEditLead", 9360, 240, 1455, 375, "Edit"},
                         {"lblLName", 5400, 480, -1, -1, "Last Name:"}, {"lblFName", 7320, 480, -1, -1, "First Name:"},
                         {"txtLead1", 5640, 720, 1695, 285},       {"txtLead2", 7560, 720, 1695, 285},
                         {"Label3", 5400, 1080, -1, -1, "Company:"}, {"txtLead12", 5640, 1320, 3960, 285},
                         {"lblAdd", 5400, 1680, -1, -1, "Address:"}, {"txtLead3", 5640, 1920, 3960, 285},
                         {"lblC", 5400, 2280, -1, -1, "City:"},    {"lblState", 7320, 2280, -1, -1, "State:"},
                         {"lblZ", 8040, 2280, -1, -1, "Zip:"},     {"txtLead4", 5640, 2520, 1695, 285},
                         {"txtLead5", 7440, 2520, 375, 285},       {"txtLead6", 7920, 2520, 1695, 285},
                         {"lblHPhone", 5400, 2880, -1, -1, "Home Phone:"}, {"lblCellPh", 7320, 2880, -1, -1, "Cell Phone:"},
                         {"txtLead7", 5640, 3120, 1680, 285},      {"txtLead8", 7440, 3120, 1680, 285},
                         {"lblWPhone", 5400, 3480, -1, -1, "Work Phone:"}, {"lblE", 7320, 3480, -1, -1, "Ext:"},
                         {"txtLead9", 5640, 3720, 1680, 285},      {"txtLead10", 7440, 3720, 735, 285},
                         {"lblEmail", 5400, 4080, -1, -1, "Email:"}, {"txtLead11", 5640, 4320, 3975, 285},
                         {"Label4", 5400, 4680, -1, -1, "Type:"},  {"txtLead13", 5640, 4920, 1695, 285},
                         {"cmdScheduleAppointment", 5520, 5400, 2535, 375, "Schedule an appointment "},
                         {"cmdEmail", 8280, 5400, 1335, 375, "Email"},
                         {"Label2", 5400, 5880, 3495, 255, "Filter the contacts you wish displayed."},
                         {"cmbDisplay", 6000, 6240, 1935, -1}});
    EXPECT_EQ(panel->tvLead->toolTip(), QStringLiteral("Click contact name to display to the right"));
    EXPECT_EQ(panel->cmbDisplay->toolTip(), QStringLiteral("Select to filter tree list"));
    for (QLineEdit* box : panel->txtLead) {
        EXPECT_TRUE(box->isReadOnly());
        EXPECT_FALSE(box->focusPolicy() & Qt::TabFocus);
    }
    EXPECT_EQ(entries(panel->cmbDisplay), QStringLiteral("All,Cust,Lead,Contact,Personal=All"));
}

TEST_F(TreeTest, ContactsAreFiledUnderTheirInitialAndOddNamesUnderHash)
{
    PopTree(QString());
    EXPECT_EQ(panel->tvLead->topLevelItemCount(), 26); // an empty table: the letters alone
    EXPECT_EQ(nodeKey(panel->tvLead->topLevelItem(25)), QStringLiteral("Z"));

    addContact(QStringLiteral("Baker"), QStringLiteral("Cy"), QStringLiteral("Lead"), QStringLiteral("12 Oak St"));
    addContact(QStringLiteral("adams-Jones"), QStringLiteral("Bo"));
    addContact(QStringLiteral("Adams"), QStringLiteral("Ann"));
    const int al = addContact(QStringLiteral("Adams"), QStringLiteral("Al"), QStringLiteral("Cust"), QStringLiteral("9 Elm"));
    addContact(QStringLiteral("Zeno"), QStringLiteral("Zed"));
    PopTree(QString());
    EXPECT_EQ(filed(), QStringLiteral("A: Adams, Al - 9 Elm|Adams, Ann - |adams-Jones, Bo -  / B: Baker, Cy - 12 Oak St / "
                                      "Z: Zeno, Zed - "));
    EXPECT_EQ(panel->tvLead->topLevelItemCount(), 26); // no "#" without a contact for it
    EXPECT_EQ(nodeKey(contactNode(al)), QStringLiteral("ID%1").arg(al));
    EXPECT_FALSE(panel->tvLead->topLevelItem(0)->isExpanded());

    // Names that start with no letter A-Z must not hide the contacts that sort after them.
    for (const char* last : {"", "Émile", "Ørsted", "3M", "_x"})
        addContact(QString::fromUtf8(last), QStringLiteral("Odd"));
    exec(sConnContacts, QStringLiteral("INSERT into contacts(lastname,firstname,contype)values(Null,'Nil','Lead')"));
    PopTree(QString());
    EXPECT_EQ(filed(), QStringLiteral("A: Adams, Al - 9 Elm|Adams, Ann - |adams-Jones, Bo -  / B: Baker, Cy - 12 Oak St / "
                                      "Z: Zeno, Zed -  / #: , Nil - |, Odd - |3M, Odd - |_x, Odd - |Émile, Odd - |"
                                      "Ørsted, Odd - "));
    lLeadID = 5;
    clickNode(panel->tvLead->topLevelItem(26)); // "#" is an initial, not a contact
    clickNode(panel->tvLead->topLevelItem(1));
    EXPECT_EQ(lLeadID, 5);
    EXPECT_EQ(panelText(), QStringLiteral("|||||||||||||"));
}

TEST_F(TreeTest, TypeFilterThenAllKeepsTheListAndAnEmptyFilterListsEveryone)
{
    addContact(QStringLiteral("Cole"), QStringLiteral("Cat"), QStringLiteral("Cust"));
    addContact(QStringLiteral("Lane"), QStringLiteral("Lou"), QStringLiteral("Lead"));
    addContact(QStringLiteral("O'Neil"), QStringLiteral("Pat"), QStringLiteral("Personal"));
    choose(panel->cmbDisplay, QStringLiteral("Cust"));
    EXPECT_EQ(filed(), QStringLiteral("C: Cole, Cat - "));
    choose(panel->cmbDisplay, QStringLiteral("All"));
    EXPECT_EQ(filed(), QStringLiteral("C: Cole, Cat - "));
    choose(panel->cmbDisplay, QStringLiteral("Personal"));
    EXPECT_EQ(filed(), QStringLiteral("O: O'Neil, Pat - "));
    PopTree(QString());
    EXPECT_EQ(filed(), QStringLiteral("C: Cole, Cat -  / L: Lane, Lou -  / O: O'Neil, Pat - "));
    EXPECT_TRUE(desk.prompts.empty());
}

TEST_F(TreeTest, ClickingAContactFillsAllFourteenBoxes)
{
    exec(sConnContacts, QStringLiteral("INSERT into contacts(lastname,firstname,company,address,city,st,zip,homeph,cellph,"
                                       "workph,ext,email,active,contype)values('O''Brien','Ann','Acme','1 Pier','Cork',"
                                       "'NY','10001','555-1','555-2','555-3','42','ann@x.com',True,'Cust')"));
    const int id = addContact(QStringLiteral("Next"), QStringLiteral("Ned")) - 1;
    PopTree(QString());
    clickNode(contactNode(id));
    EXPECT_EQ(lLeadID, id);
    EXPECT_EQ(panelText(), QStringLiteral("%1|O'Brien|Ann|1 Pier|Cork|NY|10001|555-1|555-2|555-3|42|ann@x.com|Acme|Cust")
                               .arg(id));
    QTest::mouseClick(panel->cmdEmail, Qt::LeftButton);
    EXPECT_EQ(desk.opened, QStringList{QStringLiteral("mailto:ann@x.com")});

    clickNode(contactNode(id + 1)); // a contact without an address
    QTest::mouseClick(panel->cmdEmail, Qt::LeftButton);
    EXPECT_EQ(desk.messages(), QStringList{QStringLiteral("There is either no lead selected or there is\r\n"
                                                          " no email address entered for the desired lead.")});
    EXPECT_EQ(desk.opened.size(), 1);
}

TEST_F(TreeTest, ClickOnAContactThatIsGoneAsksForABugReport)
{
    const int id = addContact(QStringLiteral("Gone"), QStringLiteral("Gil"));
    PopTree(QString());
    exec(sConnContacts, QStringLiteral("delete from contacts where id=%1").arg(id));
    clickNode(contactNode(id));
    ASSERT_EQ(desk.messages().size(), 1);
    EXPECT_TRUE(desk.messages()[0].startsWith(QStringLiteral("Error ")));
    EXPECT_TRUE(desk.messages()[0].endsWith(QStringLiteral(") in procedure tvLead_NodeClick of Form frmKestrel\r\nPlease "
                                                           "make note of this and report this bug to help make this "
                                                           "software better.")))
        << desk.messages()[0].toStdString();
    EXPECT_EQ(panelText(), QStringLiteral("|||||||||||||"));
}

TEST_F(TreeTest, UnreadableDatabaseIsReportedAndLeavesTheTreeEmpty)
{
    PopTree(QString());
    releaseAllDatabaseFiles();
    QFile f(dataPath(QStringLiteral("contacts.mdb")));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(QByteArray(4096, 'x'));
    f.close();
    PopTree(QString());
    EXPECT_EQ(panel->tvLead->topLevelItemCount(), 0);
    ASSERT_EQ(desk.messages().size(), 1);
    EXPECT_TRUE(desk.messages()[0].startsWith(QStringLiteral("Error ")));
    EXPECT_TRUE(desk.messages()[0].endsWith(QStringLiteral(") in procedure PopTree of Module modTree")));
}

TEST_F(TreeTest, LongFillsLetEventsRunByTimeNotPerRow)
{
    addMany(3000, QStringLiteral("'Lead'"));
    desk.doEventsCalls = 0;
    PopTree(QString());
    EXPECT_EQ(contactNodes(), 3000);
    EXPECT_LT(desk.doEventsCalls, 100);
}

TEST_F(TreeTest, AFillStartedWhileAnotherRunsTakesOver)
{
    addMany(400, QStringLiteral("case when i % 2 = 1 then 'Cust' else 'Lead' end"));
    setTreeEventInterval(0);
    int fired = 0;
    QTimer::singleShot(0, panel, [&] { // the user picks a filter while the full list fills
        ++fired;
        choose(panel->cmbDisplay, QStringLiteral("Cust"));
    });
    PopTree(QString());
    EXPECT_EQ(fired, 1);
    EXPECT_EQ(panel->tvLead->topLevelItemCount(), 26);
    EXPECT_EQ(contactNodes(), 200);
}

TEST_F(TreeTest, EditWithAnEmptyPanelDoesNothing)
{
    lLeadID = 9;
    QTest::mouseClick(panel->cmdEditLead, Qt::LeftButton);
    EXPECT_TRUE(desk.prompts.empty()); // no editor was shown
    EXPECT_EQ(lLeadID, 9);
}

} // namespace
