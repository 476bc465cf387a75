// The contact panel: tree filing, the display filter, the detail panel and its buttons.
#include "contacts/LeadPanel.h"
#include "contacts/frmLead.h"
#include "contacts/modTree.h"
#include "data/Globals.h"
#include "data/modData.h"
#include "tests/contacts/QtPrinting.h"
#include "tests/support/Fixture.h"

#include "data/Database.h"

#include <QComboBox>
#include <QFile>
#include <QTimer>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

using namespace kestrel;
using kestrel::test::KestrelTest;

namespace {

class TreeTest : public KestrelTest {
protected:
    void SetUp() override
    {
        KestrelTest::SetUp();
        window = std::make_unique<QWidget>();
        window->resize(760, 460);
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

    QStringList topKeys() const
    {
        QStringList keys;
        for (int i = 0; i < panel->tvLead->topLevelItemCount(); ++i)
            keys << nodeKey(panel->tvLead->topLevelItem(i));
        return keys;
    }
    // "A: Adams, Ann - |adams-Jones, Bo - " for every node that has children.
    QString filed() const
    {
        QStringList out;
        for (int i = 0; i < panel->tvLead->topLevelItemCount(); ++i) {
            QTreeWidgetItem* node = panel->tvLead->topLevelItem(i);
            if (node->childCount() == 0)
                continue;
            QStringList children;
            for (int c = 0; c < node->childCount(); ++c)
                children << node->child(c)->text(0);
            out << node->text(0) + QStringLiteral(": ") + children.join(u'|');
        }
        return out.join(QStringLiteral(" / "));
    }
    QTreeWidgetItem* contactNode(int id) const
    {
        const QString key = QStringLiteral("ID%1").arg(id);
        for (int i = 0; i < panel->tvLead->topLevelItemCount(); ++i) {
            QTreeWidgetItem* node = panel->tvLead->topLevelItem(i);
            for (int c = 0; c < node->childCount(); ++c)
                if (nodeKey(node->child(c)) == key)
                    return node->child(c);
        }
        return nullptr;
    }
    void clickNode(QTreeWidgetItem* node)
    {
        ASSERT_TRUE(node);
        QTreeWidgetItem* parent = node->parent();
        if (parent)
            parent->setExpanded(true);
        panel->tvLead->scrollToItem(node);
        const QRect r = panel->tvLead->visualItemRect(node);
        ASSERT_FALSE(r.isEmpty());
        QTest::mouseClick(panel->tvLead->viewport(), Qt::LeftButton, {}, r.center());
    }
    void choose(QComboBox* box, const QString& text)
    {
        const int i = box->findText(text);
        ASSERT_GE(i, 0) << text.toStdString();
        box->setCurrentIndex(i);
        Q_EMIT box->activated(i);
    }
    // count contacts "Ason", "Bson", ... in one statement; typeSql may use the row number i.
    void addMany(int count, const QString& typeSql)
    {
        exec(sConnContacts, QStringLiteral("INSERT INTO contacts(lastname,firstname,address,contype) WITH RECURSIVE "
                                           "n(i) AS (SELECT 0 UNION ALL SELECT i+1 FROM n WHERE i<%1) SELECT "
                                           "char(65 + i % 26) || 'son', 'N' || i, '', %2 FROM n")
                                .arg(count - 1)
                                .arg(typeSql));
        ASSERT_EQ(rows(sConnContacts, QStringLiteral("select count(*) from contacts"))[0][0].toInt(), count);
    }
    QStringList panelTexts() const
    {
        QStringList t;
        for (QLineEdit* box : panel->txtLead)
            t << box->text();
        return t;
    }

    std::unique_ptr<QWidget> window;
    QGroupBox* frame = nullptr;
    LeadPanel* panel = nullptr;
};

const QString kNoEmail = QStringLiteral("There is either no lead selected or there is\r\n"
                                        " no email address entered for the desired lead.");

TEST_F(TreeTest, PanelControlsStandWhereTheyWereDesigned)
{
    struct Want {
        const char* name;
        int left, top, width, height;
        const char* caption;
    };
    const Want wants[] = {
        {"tvLead", 120, 240, 4695, 6255, ""},       {"txtLead0", 5760, 240, 975, 285, ""},
        {"cmdEditLead", 9360, 240, 1455, 375, "Edit"}, {"txtLead1", 5640, 720, 1695, 285, ""},
        {"txtLead2", 7560, 720, 1695, 285, ""},     {"txtLead12", 5640, 1320, 3960, 285, ""},
        {"txtLead3", 5640, 1920, 3960, 285, ""},    {"txtLead4", 5640, 2520, 1695, 285, ""},
        {"txtLead5", 7440, 2520, 375, 285, ""},     {"txtLead6", 7920, 2520, 1695, 285, ""},
        {"txtLead7", 5640, 3120, 1680, 285, ""},    {"txtLead8", 7440, 3120, 1680, 285, ""},
        {"txtLead9", 5640, 3720, 1680, 285, ""},    {"txtLead10", 7440, 3720, 735, 285, ""},
        {"txtLead11", 5640, 4320, 3975, 285, ""},   {"txtLead13", 5640, 4920, 1695, 285, ""},
        {"cmdScheduleAppointment", 5520, 5400, 2535, 375, "Schedule an appointment "},
        {"cmdEmail", 8280, 5400, 1335, 375, "Email"},
        {"Label2", 5400, 5880, 3495, 255, "Filter the contacts you wish displayed."},
    };
    for (const Want& w : wants) {
        QWidget* c = frame->findChild<QWidget*>(QString::fromUtf8(w.name));
        ASSERT_TRUE(c) << w.name;
        EXPECT_EQ(c->geometry(), QRect(px(w.left), px(w.top), px(w.width), px(w.height))) << w.name;
        if (auto* b = qobject_cast<QPushButton*>(c)) {
            EXPECT_EQ(b->text(), QString::fromUtf8(w.caption)) << w.name;
        }
        if (auto* l = qobject_cast<QLabel*>(c)) {
            EXPECT_EQ(l->text(), QString::fromUtf8(w.caption)) << w.name;
        }
    }
    const std::pair<const char*, const char*> labels[] = {
        {"lbl1", "ID:"},         {"lblLName", "Last Name:"},   {"lblFName", "First Name:"}, {"Label3", "Company:"},
        {"lblAdd", "Address:"},  {"lblC", "City:"},            {"lblState", "State:"},      {"lblZ", "Zip:"},
        {"lblHPhone", "Home Phone:"}, {"lblCellPh", "Cell Phone:"}, {"lblWPhone", "Work Phone:"}, {"lblE", "Ext:"},
        {"lblEmail", "Email:"},  {"Label4", "Type:"}};
    for (auto [name, caption] : labels) {
        auto* l = frame->findChild<QLabel*>(QString::fromUtf8(name));
        ASSERT_TRUE(l) << name;
        EXPECT_EQ(l->text(), QString::fromUtf8(caption));
    }
    EXPECT_EQ(panel->cmbDisplay->pos(), QPoint(px(6000), px(6240)));
    EXPECT_EQ(panel->cmbDisplay->width(), px(1935));
    EXPECT_EQ(panel->tvLead->toolTip(), QStringLiteral("Click contact name to display to the right"));
    EXPECT_EQ(panel->cmbDisplay->toolTip(), QStringLiteral("Select to filter tree list"));
    for (QLineEdit* box : panel->txtLead) {
        EXPECT_TRUE(box->isReadOnly()) << box->objectName().toStdString();
        EXPECT_NE(box->focusPolicy() & Qt::TabFocus, Qt::TabFocus) << box->objectName().toStdString();
    }
    QStringList entries;
    for (int i = 0; i < panel->cmbDisplay->count(); ++i)
        entries << panel->cmbDisplay->itemText(i);
    EXPECT_EQ(entries.join(u','), QStringLiteral("All,Cust,Lead,Contact,Personal"));
    EXPECT_EQ(panel->cmbDisplay->currentText(), QStringLiteral("All"));
}

TEST_F(TreeTest, EmptyTableGivesExactlyTheLetters)
{
    EXPECT_EQ(panel->tvLead->topLevelItemCount(), 0); // nothing until the first fill
    PopTree(QString());
    EXPECT_EQ(topKeys().join(QString()), QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZ"));
    for (int i = 0; i < 26; ++i) {
        EXPECT_EQ(panel->tvLead->topLevelItem(i)->childCount(), 0);
        EXPECT_EQ(panel->tvLead->topLevelItem(i)->text(0), nodeKey(panel->tvLead->topLevelItem(i)));
    }
}

TEST_F(TreeTest, ContactsAreFiledUnderTheirInitialInNameOrder)
{
    const int baker = addContact(QStringLiteral("Baker"), QStringLiteral("Cy"), QStringLiteral("Lead"),
                                 QStringLiteral("12 Oak St"));
    addContact(QStringLiteral("adams-Jones"), QStringLiteral("Bo"));
    const int adams = addContact(QStringLiteral("Adams"), QStringLiteral("Ann"));
    addContact(QStringLiteral("Adams"), QStringLiteral("Al"), QStringLiteral("Cust"), QStringLiteral("9 Elm"));
    addContact(QStringLiteral("Zeno"), QStringLiteral("Zed"));
    PopTree(QString());
    EXPECT_EQ(filed(), QStringLiteral("A: Adams, Al - 9 Elm|Adams, Ann - |adams-Jones, Bo -  / B: Baker, Cy - 12 Oak St / "
                                      "Z: Zeno, Zed - "));
    EXPECT_EQ(topKeys().size(), 26); // no "#" node without a contact for it
    ASSERT_TRUE(contactNode(baker));
    EXPECT_EQ(contactNode(baker)->parent()->text(0), QStringLiteral("B"));
    ASSERT_TRUE(contactNode(adams));
    EXPECT_EQ(contactNode(adams)->text(0), QStringLiteral("Adams, Ann - "));
    for (int i = 0; i < 26; ++i)
        EXPECT_FALSE(panel->tvLead->topLevelItem(i)->isExpanded());
}

TEST_F(TreeTest, LastNamesWithoutALetterInitialGoUnderAHashNodeAfterZ)
{
    addContact(QStringLiteral("Zimmer"), QStringLiteral("Zoe"));
    addContact(QString(), QStringLiteral("Nobody"));
    addContact(QStringLiteral("Émile"), QStringLiteral("Jean"));
    addContact(QStringLiteral("Ørsted"), QStringLiteral("Hans"));
    addContact(QStringLiteral("3M Corp"), QStringLiteral("Desk"));
    addContact(QStringLiteral("Moore"), QStringLiteral("Mia"));
    addContact(QStringLiteral("_under"), QStringLiteral("Score"));
    addContact(QStringLiteral("baker"), QStringLiteral("Bea"));
    exec(sConnContacts, QStringLiteral("INSERT into contacts(lastname,firstname,contype)values(Null,'Nil','Lead')"));
    PopTree(QString());
    const QStringList keys = topKeys();
    ASSERT_EQ(keys.size(), 27);
    EXPECT_EQ(keys.last(), QStringLiteral("#"));
    const QString tree = filed();
    // Every contact is somewhere: the ones after the odd names were not lost either.
    EXPECT_TRUE(tree.contains(QStringLiteral("B: baker, Bea - "))) << tree.toStdString();
    EXPECT_TRUE(tree.contains(QStringLiteral("M: Moore, Mia - "))) << tree.toStdString();
    EXPECT_TRUE(tree.contains(QStringLiteral("Z: Zimmer, Zoe - "))) << tree.toStdString();
    QTreeWidgetItem* hash = panel->tvLead->topLevelItem(26);
    QStringList others;
    for (int c = 0; c < hash->childCount(); ++c)
        others << hash->child(c)->text(0);
    others.sort();
    EXPECT_EQ(others.join(u'|'), QStringLiteral(", Nil - |, Nobody - |3M Corp, Desk - |_under, Score - |Émile, Jean - |"
                                                "Ørsted, Hans - "));
    // A click on the extra node is a click on an initial: nothing happens.
    lLeadID = 5;
    clickNode(hash);
    EXPECT_EQ(lLeadID, 5);
}

TEST_F(TreeTest, TypeFilterThenAllKeepsTheListAndViewAllListsEveryone)
{
    addContact(QStringLiteral("Cole"), QStringLiteral("Cat"), QStringLiteral("Cust"));
    addContact(QStringLiteral("Lane"), QStringLiteral("Lou"), QStringLiteral("Lead"));
    addContact(QStringLiteral("O'Neil"), QStringLiteral("Pat"), QStringLiteral("Personal"));
    PopTree(QString());
    choose(panel->cmbDisplay, QStringLiteral("Cust"));
    EXPECT_EQ(filed(), QStringLiteral("C: Cole, Cat - "));
    choose(panel->cmbDisplay, QStringLiteral("All"));
    EXPECT_EQ(filed(), QStringLiteral("C: Cole, Cat - "));
    choose(panel->cmbDisplay, QStringLiteral("Personal"));
    EXPECT_EQ(filed(), QStringLiteral("O: O'Neil, Pat - "));
    choose(panel->cmbDisplay, QStringLiteral("Contact"));
    EXPECT_EQ(filed(), QString());
    EXPECT_EQ(topKeys().size(), 26);
    PopTree(QString());
    EXPECT_EQ(filed(), QStringLiteral("C: Cole, Cat -  / L: Lane, Lou -  / O: O'Neil, Pat - "));
    EXPECT_TRUE(desk.prompts.empty());
}

TEST_F(TreeTest, ClickingAContactFillsAllFourteenBoxesAndALetterChangesNothing)
{
    exec(sConnContacts, QStringLiteral("INSERT into contacts(lastname,firstname,company,address,city,st,zip,homeph,cellph,"
                                       "workph,ext,email,active,contype)values('O''Brien','Ann','Acme','1 Pier','Cork',"
                                       "'NY','10001','555-1000','555-2000','555-3000','42','ann@example.com',True,"
                                       "'Cust')"));
    const int id = rows(sConnContacts, QStringLiteral("select max(id) from contacts"))[0][0].toInt();
    PopTree(QString());
    clickNode(panel->tvLead->topLevelItem(0)); // "A"
    EXPECT_EQ(lLeadID, 0);
    EXPECT_EQ(panelTexts().join(QString()), QString());

    clickNode(contactNode(id));
    EXPECT_EQ(lLeadID, id);
    EXPECT_EQ(panelTexts(), (QStringList{QString::number(id), "O'Brien", "Ann", "1 Pier", "Cork", "NY", "10001",
                                         "555-1000", "555-2000", "555-3000", "42", "ann@example.com", "Acme", "Cust"}));
    clickNode(panel->tvLead->topLevelItem(1)); // "B"
    EXPECT_EQ(lLeadID, id);
    EXPECT_EQ(panelTexts()[1], QStringLiteral("O'Brien"));
    EXPECT_TRUE(desk.prompts.empty());
}

TEST_F(TreeTest, ClickOnAContactThatIsGoneAsksForABugReport)
{
    const int id = addContact(QStringLiteral("Gone"), QStringLiteral("Gil"));
    PopTree(QString());
    exec(sConnContacts, QStringLiteral("delete from contacts where id=%1").arg(id));
    clickNode(contactNode(id));
    ASSERT_EQ(desk.messages().size(), 1);
    const QString text = desk.messages()[0];
    EXPECT_TRUE(text.startsWith(QStringLiteral("Error "))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral(") in procedure tvLead_NodeClick of Form frmKestrel\r\nPlease make note of "
                                             "this and report this bug to help make this software better.")))
        << text.toStdString();
    EXPECT_EQ(lLeadID, id);
    EXPECT_EQ(panelTexts().join(QString()), QString());
}

TEST_F(TreeTest, UnreadableDatabaseIsReportedAndLeavesTheTreeEmpty)
{
    addContact(QStringLiteral("Able"), QStringLiteral("Al"));
    PopTree(QString());
    ASSERT_GT(panel->tvLead->topLevelItemCount(), 0);
    releaseAllDatabaseFiles();
    QFile f(dataPath(QStringLiteral("contacts.mdb")));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(QByteArray(4096, 'x'));
    f.close();
    PopTree(QString());
    EXPECT_EQ(panel->tvLead->topLevelItemCount(), 0);
    ASSERT_EQ(desk.messages().size(), 1);
    EXPECT_TRUE(desk.messages()[0].startsWith(QStringLiteral("Error ")));
    EXPECT_TRUE(desk.messages()[0].endsWith(QStringLiteral(") in procedure PopTree of Module modTree")))
        << desk.messages()[0].toStdString();
    EXPECT_EQ(desk.prompts[0].caption, QStringLiteral("Kestrel"));
}

TEST_F(TreeTest, LongFillsLetEventsRunByTimeNotPerRow)
{
    addMany(3000, QStringLiteral("'Lead'"));
    desk.doEventsCalls = 0;
    PopTree(QString());
    int children = 0;
    for (int i = 0; i < panel->tvLead->topLevelItemCount(); ++i)
        children += panel->tvLead->topLevelItem(i)->childCount();
    EXPECT_EQ(children, 3000);
    EXPECT_LT(desk.doEventsCalls, 100);
}

TEST_F(TreeTest, AFillStartedWhileAnotherRunsWins)
{
    addMany(400, QStringLiteral("case when i % 2 = 1 then 'Cust' else 'Lead' end"));
    // A choice of the user's that arrives while the full list is being built.
    setTreeEventInterval(0);
    int fired = 0;
    QTimer::singleShot(0, panel, [&] {
        ++fired;
        choose(panel->cmbDisplay, QStringLiteral("Cust"));
    });
    PopTree(QString());
    EXPECT_EQ(fired, 1);
    int children = 0;
    for (int i = 0; i < panel->tvLead->topLevelItemCount(); ++i)
        children += panel->tvLead->topLevelItem(i)->childCount();
    EXPECT_EQ(panel->tvLead->topLevelItemCount(), 26);
    EXPECT_EQ(children, 200);
}

TEST_F(TreeTest, EmailButtonMailsTheShownAddressOrExplains)
{
    exec(sConnContacts, QStringLiteral("INSERT into contacts(lastname,firstname,email,contype)values('Mail','Me',"
                                       "'me@example.com','Lead')"));
    const int noMail = addContact(QStringLiteral("Quiet"), QStringLiteral("Q"));
    QTest::mouseClick(panel->cmdEmail, Qt::LeftButton);
    EXPECT_EQ(desk.messages(), QStringList{kNoEmail});
    EXPECT_EQ(desk.prompts.back().caption, QStringLiteral("Kestrel"));
    PopTree(QString());
    clickNode(contactNode(noMail - 1));
    QTest::mouseClick(panel->cmdEmail, Qt::LeftButton);
    EXPECT_EQ(desk.opened, QStringList{QStringLiteral("mailto:me@example.com")});
    clickNode(contactNode(noMail));
    QTest::mouseClick(panel->cmdEmail, Qt::LeftButton);
    EXPECT_EQ(desk.messages().size(), 2);
    EXPECT_EQ(desk.opened.size(), 1);
}

TEST_F(TreeTest, EditWithAnEmptyPanelDoesNothing)
{
    lLeadID = 9;
    QTest::mouseClick(panel->cmdEditLead, Qt::LeftButton);
    EXPECT_TRUE(desk.prompts.empty()); // no editor was shown
    EXPECT_EQ(lLeadID, 9);
}

TEST_F(TreeTest, EditOpensTheEditorForTheShownContactThenEmptiesThePanel)
{
    addContact(QStringLiteral("Cole"), QStringLiteral("Cat"), QStringLiteral("Cust"));
    const int id = addContact(QStringLiteral("Lane"), QStringLiteral("Lou"), QStringLiteral("Lead"));
    PopTree(QString());
    choose(panel->cmbDisplay, QStringLiteral("Lead"));
    clickNode(contactNode(id));
    lLeadID = 0; // the id box, not the last click, names the contact to edit
    bool sawEditMode = false;
    desk.onModal(QStringLiteral("frmLead"), [&](QDialog& d) {
        auto& editor = static_cast<frmLead&>(d);
        sawEditMode = editor.bEditMode;
        EXPECT_EQ(lLeadID, id);
        EXPECT_EQ(editor.txtLead[1]->text(), QStringLiteral("Lane"));
        editor.txtLead[2]->setText(QStringLiteral("Louise"));
        QTest::mouseClick(editor.cmdSave, Qt::LeftButton);
    });
    QTest::mouseClick(panel->cmdEditLead, Qt::LeftButton);
    EXPECT_TRUE(sawEditMode);
    EXPECT_EQ(lLeadID, 0);
    EXPECT_EQ(panelTexts().join(QString()), QString());
    // The tree lists everyone again though the filter still shows "Lead".
    EXPECT_EQ(panel->cmbDisplay->currentText(), QStringLiteral("Lead"));
    EXPECT_EQ(filed(), QStringLiteral("C: Cole, Cat -  / L: Lane, Louise - "));
}

} // namespace
