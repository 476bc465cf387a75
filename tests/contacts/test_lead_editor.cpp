// The contact editor: layout, loading, the statements it saves, validation, delete and close.
#include "contacts/LeadPanel.h"
#include "contacts/frmLead.h"
#include "contacts/modTree.h"
#include "data/Globals.h"
#include "data/modData.h"
#include "tests/contacts/QtPrinting.h"
#include "tests/support/Fixture.h"

#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTreeWidget>

using namespace kestrel;
using kestrel::test::KestrelTest;

namespace {

class EditorTest : public KestrelTest {
protected:
    void SetUp() override
    {
        KestrelTest::SetUp();
        host = std::make_unique<QWidget>();
        auto* frame = new QGroupBox(host.get());
        panel = new LeadPanel(frame, host.get());
        panel->PopDisplay();
    }
    void TearDown() override
    {
        host.reset();
        KestrelTest::TearDown();
    }
    // Shows a fresh editor the way the main window does and runs script while it is open.
    void openEditor(bool editMode, const std::function<void(frmLead&)>& script)
    {
        desk.onModal(QStringLiteral("frmLead"), [&](QDialog& d) { script(static_cast<frmLead&>(d)); });
        frmLead editor;
        editor.bEditMode = editMode;
        platform().runModal(editor);
    }
    static void type(QLineEdit* box, const QString& text)
    {
        box->setFocus();
        QTest::keyClicks(box, text);
    }
    int treeContacts() const
    {
        int n = 0;
        for (int i = 0; i < panel->tvLead->topLevelItemCount(); ++i)
            n += panel->tvLead->topLevelItem(i)->childCount();
        return n;
    }
    int contactCount() { return rows(sConnContacts, QStringLiteral("select count(*) from contacts"))[0][0].toInt(); }

    std::unique_ptr<QWidget> host;
    LeadPanel* panel = nullptr;
};

TEST_F(EditorTest, ControlsStandWhereTheyWereDesignedInTabOrder)
{
    frmLead f;
    EXPECT_EQ(f.objectName(), QStringLiteral("frmLead"));
    EXPECT_EQ(f.windowTitle(), QStringLiteral("Contacts"));
    EXPECT_EQ(f.size(), QSize(px(6855), px(4770)));
    EXPECT_FALSE(f.windowFlags() & Qt::WindowCloseButtonHint);
    struct Want {
        const char* name;
        int left, top, width, height, maxLength;
    };
    const Want wants[] = {
        {"txtLead0", 600, 240, 975, 285, 0},    {"txtLead1", 480, 720, 1695, 285, 50},
        {"txtLead2", 2400, 720, 1695, 285, 50}, {"txtLead12", 480, 1320, 3960, 285, 25},
        {"txtLead3", 480, 1920, 3960, 285, 25}, {"txtLead4", 480, 2520, 1695, 285, 25},
        {"txtLead5", 2280, 2520, 375, 285, 2},  {"txtLead6", 2760, 2520, 1695, 285, 10},
        {"txtLead7", 480, 3120, 1680, 285, 12}, {"txtLead8", 2280, 3120, 1680, 285, 12},
        {"txtLead9", 480, 3720, 1680, 285, 12}, {"txtLead10", 2280, 3720, 735, 285, 10},
        {"txtLead11", 480, 4320, 3975, 285, 50}, {"cmbType", 4680, 480, 1935, -1, 0},
        {"optActive", 4680, 1080, 855, 255, 0}, {"optInActive", 5640, 1080, 975, 255, 0},
        {"cmdSave", 5040, 2280, 1335, 375, 0},  {"cmdDelete", 5040, 2880, 1335, 375, 0},
        {"cmdCloseLead", 5040, 3480, 1335, 375, 0},
    };
    for (const Want& w : wants) {
        QWidget* c = f.findChild<QWidget*>(QString::fromUtf8(w.name));
        ASSERT_TRUE(c) << w.name;
        EXPECT_EQ(c->pos(), QPoint(px(w.left), px(w.top))) << w.name;
        EXPECT_EQ(c->width(), px(w.width)) << w.name;
        if (w.height > 0) {
            EXPECT_EQ(c->height(), px(w.height)) << w.name;
        }
        if (auto* e = qobject_cast<QLineEdit*>(c); e && w.maxLength > 0) {
            EXPECT_EQ(e->maxLength(), w.maxLength) << w.name;
        }
    }
    const std::pair<const char*, QPoint> labels[] = {
        {"lbl1", {240, 240}},       {"Label1", {4440, 240}},   {"lblLName", {240, 480}},  {"lblFName", {2160, 480}},
        {"Label3", {240, 1080}},    {"lblAdd", {240, 1680}},   {"lblC", {240, 2280}},     {"lblState", {2160, 2280}},
        {"lblZ", {2880, 2280}},     {"lblHPhone", {240, 2880}}, {"lblCellPh", {2160, 2880}},
        {"lblWPhone", {240, 3480}}, {"lblE", {2160, 3480}},    {"lblEmail", {240, 4080}}};
    QStringList captions;
    for (const auto& [name, at] : labels) {
        auto* l = f.findChild<QLabel*>(QString::fromUtf8(name));
        ASSERT_TRUE(l) << name;
        EXPECT_EQ(l->pos(), QPoint(px(at.x()), px(at.y()))) << name;
        captions << l->text();
    }
    EXPECT_EQ(captions.join(u'|'), QStringLiteral("ID:|Type:|Last Name:|First Name:|Company:|Address:|City:|State:|Zip:|"
                                                  "Home Phone:|Cell Phone:|Work Phone:|Ext:|Email:"));
    EXPECT_EQ(f.cmdSave->text() + u'|' + f.cmdDelete->text() + u'|' + f.cmdCloseLead->text(),
              QStringLiteral("Save|Delete|Close/Cancel"));
    EXPECT_EQ(f.optActive->text() + u'|' + f.optInActive->text(), QStringLiteral("Active|Inactive"));

    // Tab walks the boxes, then the buttons, the type list and the two options.
    QStringList order;
    QWidget* w = f.txtLead[1];
    for (int i = 0; i < 18; ++i) {
        order << w->objectName();
        w = w->nextInFocusChain();
        while (!(w->focusPolicy() & Qt::TabFocus))
            w = w->nextInFocusChain();
    }
    EXPECT_EQ(order.join(u','), QStringLiteral("txtLead1,txtLead2,txtLead12,txtLead3,txtLead4,txtLead5,txtLead6,txtLead7,"
                                               "txtLead8,txtLead9,txtLead10,txtLead11,cmdSave,cmdDelete,cmdCloseLead,"
                                               "cmbType,optActive,optInActive"));
    EXPECT_FALSE(f.txtLead[0]->focusPolicy() & Qt::TabFocus);
}

TEST_F(EditorTest, NewContactOpensEmptyAsActiveLeadAndStoresEmptyTexts)
{
    openEditor(false, [&](frmLead& f) {
        EXPECT_FALSE(f.cmdDelete->isEnabled());
        EXPECT_EQ(f.cmbType->currentText(), QStringLiteral("Lead"));
        EXPECT_EQ(f.cmbType->count(), 4);
        EXPECT_TRUE(f.optActive->isChecked());
        for (QLineEdit* box : f.txtLead)
            EXPECT_TRUE(box->text().isEmpty());
        type(f.txtLead[1], QStringLiteral("Nash"));
        type(f.txtLead[2], QStringLiteral("Ned"));
        EXPECT_EQ(f.SaveStatement(), QStringLiteral("INSERT into contacts(lastname,firstname,company,address,city,st,zip,"
                                                    "homeph,cellph,workph,ext,email,active,contype)values('Nash','Ned',"
                                                    "'','','','','','','','','','',True,'Lead')"));
        QTest::mouseClick(f.cmdSave, Qt::LeftButton);
        EXPECT_FALSE(f.isVisible());
    });
    EXPECT_TRUE(desk.messages().isEmpty());
    const auto r = rows(sConnContacts, QStringLiteral("select lastname,firstname,company,address,city,st,zip,homeph,"
                                                      "cellph,workph,ext,email,active,contype from contacts"));
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].join(u'|'), QStringLiteral("Nash|Ned|||||||||||True|Lead")); // empty texts, never <null>
    EXPECT_EQ(treeContacts(), 1); // the closing editor refilled the tree
}

TEST_F(EditorTest, EditLoadsTheRowAndSavesTheQuotedUpdate)
{
    exec(sConnContacts, QStringLiteral("INSERT into contacts(lastname,firstname,company,address,city,st,zip,homeph,cellph,"
                                       "workph,ext,email,active,contype)values('Smith','Ann','Co','1 A St','Troy','NY',"
                                       "'12180','1','2','3','4','a@b.c',False,'Personal')"));
    lLeadID = rows(sConnContacts, QStringLiteral("select max(id) from contacts"))[0][0].toInt();
    openEditor(true, [&](frmLead& f) {
        EXPECT_TRUE(f.cmdDelete->isEnabled());
        QStringList shown;
        for (QLineEdit* box : f.txtLead)
            shown << box->text();
        EXPECT_EQ(shown, (QStringList{QString::number(lLeadID), "Smith", "Ann", "1 A St", "Troy", "NY", "12180", "1", "2",
                                      "3", "4", "a@b.c", "Co"}));
        EXPECT_TRUE(f.optInActive->isChecked());
        EXPECT_EQ(f.cmbType->currentText(), QStringLiteral("Personal"));
        EXPECT_TRUE(f.txtLead[0]->isReadOnly());

        f.txtLead[1]->selectAll();
        type(f.txtLead[1], QStringLiteral("O'Brien"));
        f.optActive->click();
        f.cmbType->setCurrentIndex(1);
        QTest::mouseClick(f.cmdSave, Qt::LeftButton);
    });
    const auto r = rows(sConnContacts, QStringLiteral("select lastname,firstname,active,contype,zip from contacts"));
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].join(u'|'), QStringLiteral("O'Brien|Ann|True|Cust|12180"));
    EXPECT_TRUE(desk.messages().isEmpty());
}

TEST_F(EditorTest, UpdateStatementIsWordForWordTheDesignedOne)
{
    exec(sConnContacts, QStringLiteral("INSERT into contacts(id,lastname,firstname,company,address,city,st,zip,homeph,"
                                       "cellph,workph,ext,email,active,contype)values(7,'Smith','Ann','','','','','',"
                                       "'','','','','',True,'Cust')"));
    lLeadID = 7;
    openEditor(true, [&](frmLead& f) {
        EXPECT_EQ(f.SaveStatement(), QStringLiteral("UPDATE contacts set lastname='Smith', firstname='Ann', company='', "
                                                    "address='', city='', st='', zip='', homeph='', cellph='', workph='', "
                                                    "ext='', email='', active=True, ConType='Cust' where ID=7"));
        f.txtLead[11]->setText(QStringLiteral("o'k@x"));
        f.optInActive->setChecked(true);
        EXPECT_TRUE(f.SaveStatement().contains(QStringLiteral(" email='o''k@x', active=False,")));
        QTest::mouseClick(f.cmdSave, Qt::LeftButton);
    });
    EXPECT_EQ(rows(sConnContacts, QStringLiteral("select email,active from contacts where id=7"))[0].join(u'|'),
              QStringLiteral("o'k@x|False"));
}

TEST_F(EditorTest, AContactThatIsGoneIsToldAndNothingIsStored)
{
    lLeadID = 4242;
    desk.onModal(QStringLiteral("frmLead"), [&](QDialog& d) { EXPECT_FALSE(d.isVisible()); });
    frmLead editor;
    editor.bEditMode = true;
    platform().runModal(editor);
    EXPECT_EQ(desk.messages(), QStringList{QStringLiteral("This contact is no longer stored.")});
    EXPECT_EQ(contactCount(), 0);
}

TEST_F(EditorTest, UnknownTypeAndMissingValuesOpenAsLeadAndEmptyBoxes)
{
    exec(sConnContacts, QStringLiteral("INSERT into contacts(lastname,firstname,contype)values('Vague','Val','lead')"));
    lLeadID = rows(sConnContacts, QStringLiteral("select max(id) from contacts"))[0][0].toInt();
    exec(sConnContacts, QStringLiteral("update contacts set active=Null where id=%1").arg(lLeadID));
    openEditor(true, [&](frmLead& f) {
        EXPECT_EQ(f.cmbType->currentText(), QStringLiteral("Lead")); // "lead" is not one of the four
        EXPECT_TRUE(f.optInActive->isChecked());                      // no value counts as False
        EXPECT_TRUE(f.txtLead[12]->text().isEmpty());
        EXPECT_TRUE(f.txtLead[3]->text().isEmpty());
        QTest::mouseClick(f.cmdSave, Qt::LeftButton);
    });
    const auto r = rows(sConnContacts, QStringLiteral("select company,contype,active from contacts"));
    EXPECT_EQ(r[0].join(u'|'), QStringLiteral("|Lead|False"));
}

TEST_F(EditorTest, MissingNamesAreRefusedWithTheFocusOnTheFirstEmptyOne)
{
    openEditor(false, [&](frmLead& f) {
        type(f.txtLead[2], QStringLiteral("Ann"));
        QTest::mouseClick(f.cmdSave, Qt::LeftButton);
        EXPECT_TRUE(f.isVisible());
        EXPECT_EQ(QApplication::focusWidget(), f.txtLead[1]);
        type(f.txtLead[1], QStringLiteral("Lee"));
        f.txtLead[2]->clear();
        QTest::mouseClick(f.cmdSave, Qt::LeftButton);
        EXPECT_TRUE(f.isVisible());
        EXPECT_EQ(QApplication::focusWidget(), f.txtLead[2]);
        QTest::keyClick(&f, Qt::Key_Escape); // only the buttons end the editor
        EXPECT_TRUE(f.isVisible());
    });
    EXPECT_EQ(desk.messages(), QStringList(2, QStringLiteral("First and Last Names must contain entries.")));
    EXPECT_EQ(desk.prompts[1].caption, QStringLiteral("Kestrel"));
    EXPECT_EQ(contactCount(), 0);
}

TEST_F(EditorTest, BoxesHonourTheirLengthsAndLightUpOnFocus)
{
    openEditor(false, [&](frmLead& f) {
        type(f.txtLead[5], QStringLiteral("NYC"));
        EXPECT_EQ(f.txtLead[5]->text(), QStringLiteral("NY"));
        type(f.txtLead[1], QString(60, u'x'));
        EXPECT_EQ(f.txtLead[1]->text().size(), 50);
        EXPECT_EQ(f.txtLead[1]->palette().color(QPalette::Base), kFocusYellow);
        EXPECT_EQ(f.txtLead[5]->palette().color(QPalette::Base), kLightGrey);
        f.txtLead[5]->setFocus();
        QApplication::processEvents(); // the whole text is selected once focus has settled
        EXPECT_EQ(f.txtLead[5]->selectedText(), QStringLiteral("NY"));
        EXPECT_EQ(f.txtLead[1]->palette().color(QPalette::Base), kLightGrey);
    });
}

TEST_F(EditorTest, AFailedSaveKeepsTheWindowAndEverythingTyped)
{
    openEditor(false, [&](frmLead& f) {
        type(f.txtLead[1], QStringLiteral("Keep"));
        type(f.txtLead[2], QStringLiteral("Me"));
        type(f.txtLead[3], QStringLiteral("1 Safe St"));
        exec(sConnContacts, QStringLiteral("drop table contacts"));
        QTest::mouseClick(f.cmdSave, Qt::LeftButton);
        ASSERT_EQ(desk.messages().size(), 1);
        EXPECT_TRUE(desk.messages()[0].contains(QStringLiteral("in procedure ActionQuery of Module modData")));
        EXPECT_TRUE(f.isVisible());
        EXPECT_EQ(f.txtLead[3]->text(), QStringLiteral("1 Safe St"));
        // The user fixes the cause and tries again: the same input is stored.
        exec(sConnContacts, QString::fromUtf8(kContactsSchema).section(u';', 0, 0));
        QTest::mouseClick(f.cmdSave, Qt::LeftButton);
        EXPECT_FALSE(f.isVisible());
    });
    const auto r = rows(sConnContacts, QStringLiteral("select lastname,firstname,address from contacts"));
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].join(u'|'), QStringLiteral("Keep|Me|1 Safe St"));
}

TEST_F(EditorTest, DeleteAsksAndNoKeepsTheContactYesKeepsItsAppointments)
{
    lLeadID = addContact(QStringLiteral("Dell"), QStringLiteral("Dee"));
    addAppt(QDate(2026, 12, 8), QTime(10, 0), QStringLiteral("Demo"), QStringLiteral("Dee Dell"));
    desk.onModal(QStringLiteral("frmLead"), [](QDialog& d) {
        QTest::mouseClick(static_cast<frmLead&>(d).cmdDelete, Qt::LeftButton);
        EXPECT_FALSE(d.isVisible());
    });
    desk.answerNo();
    {
        frmLead editor;
        editor.bEditMode = true;
        platform().runModal(editor);
    }
    EXPECT_EQ(contactCount(), 1);
    ASSERT_EQ(desk.prompts.size(), 2u);
    EXPECT_EQ(desk.prompts[1].kind, QStringLiteral("question"));

    desk.onModal(QStringLiteral("frmLead"), [](QDialog& d) {
        QTest::mouseClick(static_cast<frmLead&>(d).cmdDelete, Qt::LeftButton);
    });
    desk.answerYes();
    {
        frmLead editor;
        editor.bEditMode = true;
        platform().runModal(editor);
    }
    EXPECT_EQ(contactCount(), 0);
    EXPECT_EQ(rows(sConnContacts, QStringLiteral("select count(*) from appointments"))[0][0], QStringLiteral("1"));
    EXPECT_EQ(treeContacts(), 0);
}

TEST_F(EditorTest, CloseStoresNothingAndStillRefillsTheTree)
{
    addContact(QStringLiteral("Old"), QStringLiteral("Ona"));
    lLeadID = addContact(QStringLiteral("Other"), QStringLiteral("Oz"));
    EXPECT_EQ(treeContacts(), 0);
    openEditor(true, [&](frmLead& f) {
        f.txtLead[1]->setText(QStringLiteral("Changed"));
        QTest::mouseClick(f.cmdCloseLead, Qt::LeftButton);
        EXPECT_FALSE(f.isVisible());
    });
    EXPECT_EQ(treeContacts(), 2);
    EXPECT_EQ(rows(sConnContacts, QStringLiteral("select count(*) from contacts where lastname='Changed'"))[0][0],
              QStringLiteral("0"));
}

} // namespace
