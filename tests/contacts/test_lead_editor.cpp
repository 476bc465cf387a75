// The contact editor: layout, loading, the statements it saves, validation, delete and close.
#include "contacts/LeadPanel.h"
#include "contacts/frmLead.h"
#include "data/Globals.h"
#include "data/modData.h"
#include "tests/contacts/Helpers.h"
#include "tests/support/Fixture.h"

#include <QApplication>
#include <QGroupBox>
#include <QRadioButton>
#include <QTest>
#include <QTreeWidget>

using namespace kestrel;
using namespace kestrel::test;

namespace {

class EditorTest : public KestrelTest {
protected:
    void SetUp() override
    {
        KestrelTest::SetUp();
        host = std::make_unique<QWidget>();
        panel = new LeadPanel(new QGroupBox(host.get()), host.get());
        panel->PopDisplay();
    }
    void TearDown() override
    {
        host.reset();
        KestrelTest::TearDown();
    }
    // Shows a fresh editor as its openers do; script runs while it is shown, after any queued answers.
    void openEditor(bool editMode, const std::function<void(frmLead&)>& script, const char* answer = nullptr)
    {
        desk.onModal(QStringLiteral("frmLead"), [&](QDialog& d) { script(static_cast<frmLead&>(d)); });
        if (answer)
            QString::fromUtf8(answer) == u"yes" ? desk.answerYes() : desk.answerNo();
        frmLead editor;
        editor.bEditMode = editMode;
        platform().runModal(editor);
    }
    static void type(QLineEdit* box, const QString& text)
    {
        box->setFocus();
        QTest::keyClicks(box, text);
    }
    QString stored(const QString& columns)
    {
        QStringList out;
        for (const QStringList& r : rows(sConnContacts, QStringLiteral("select %1 from contacts").arg(columns)))
            out << r.join(u'|');
        return out.join(u'/');
    }

    std::unique_ptr<QWidget> host;
    LeadPanel* panel = nullptr;
};

TEST_F(EditorTest, ControlsStandWhereTheyWereDesignedInTabOrder)
{
    frmLead f;
    EXPECT_EQ(f.windowTitle(), QStringLiteral("Contacts"));
    EXPECT_EQ(f.size(), QSize(px(6855), px(4770)));
    EXPECT_FALSE(f.windowFlags() & Qt::WindowCloseButtonHint);
    expectPlaced(&f, {{"lbl1", 240, 240, -1, -1, "ID:"},           {"txtLead0", 600, 240, 975, 285},
                      {"Label1", 4440, 240, -1, -1, "Type:"},      {"cmbType", 4680, 480, 1935, -1},
                      {"lblLName", 240, 480, -1, -1, "Last Name:"}, {"txtLead1", 480, 720, 1695, 285, "", 50},
                      {"lblFName", 2160, 480, -1, -1, "First Name:"}, {"txtLead2", 2400, 720, 1695, 285, "", 50},
                      {"Label3", 240, 1080, -1, -1, "Company:"},   {"txtLead12", 480, 1320, 3960, 285, "", 25},
                      {"optActive", 4680, 1080, 855, 255},         {"optInActive", 5640, 1080, 975, 255},
                      {"lblAdd", 240, 1680, -1, -1, "Address:"},   {"txtLead3", 480, 1920, 3960, 285, "", 25},
                      {"lblC", 240, 2280, -1, -1, "City:"},        {"txtLead4", 480, 2520, 1695, 285, "", 25},
                      {"lblState", 2160, 2280, -1, -1, "State:"},  {"txtLead5", 2280, 2520, 375, 285, "", 2},
                      {"lblZ", 2880, 2280, -1, -1, "Zip:"},        {"txtLead6", 2760, 2520, 1695, 285, "", 10},
                      {"lblHPhone", 240, 2880, -1, -1, "Home Phone:"}, {"txtLead7", 480, 3120, 1680, 285, "", 12},
                      {"lblCellPh", 2160, 2880, -1, -1, "Cell Phone:"}, {"txtLead8", 2280, 3120, 1680, 285, "", 12},
                      {"lblWPhone", 240, 3480, -1, -1, "Work Phone:"}, {"txtLead9", 480, 3720, 1680, 285, "", 12},
                      {"lblE", 2160, 3480, -1, -1, "Ext:"},        {"txtLead10", 2280, 3720, 735, 285, "", 10},
                      {"lblEmail", 240, 4080, -1, -1, "Email:"},   {"txtLead11", 480, 4320, 3975, 285, "", 50},
                      {"cmdSave", 5040, 2280, 1335, 375, "Save"},  {"cmdDelete", 5040, 2880, 1335, 375, "Delete"},
                      {"cmdCloseLead", 5040, 3480, 1335, 375, "Close/Cancel"}});
    EXPECT_EQ(f.optActive->text() + f.optInActive->text(), QStringLiteral("ActiveInactive"));
    EXPECT_EQ(tabWalk(f.txtLead[1], 18),
              QStringLiteral("txtLead1,txtLead2,txtLead12,txtLead3,txtLead4,txtLead5,txtLead6,txtLead7,txtLead8,"
                             "txtLead9,txtLead10,txtLead11,cmdSave,cmdDelete,cmdCloseLead,cmbType,optActive,optInActive"));
    EXPECT_FALSE(f.txtLead[0]->focusPolicy() & Qt::TabFocus);
    EXPECT_EQ(f.txtLead[3]->palette().color(QPalette::Base), kLightGrey);
}

TEST_F(EditorTest, NewContactWithOnlyTheNamesStoresEmptyTextsAsActiveLead)
{
    openEditor(false, [&](frmLead& f) {
        EXPECT_FALSE(f.cmdDelete->isEnabled());
        EXPECT_EQ(entries(f.cmbType), QStringLiteral("Lead,Cust,Contact,Personal=Lead"));
        EXPECT_TRUE(f.optActive->isChecked());
        type(f.txtLead[1], QStringLiteral("O'Brien"));
        EXPECT_EQ(f.txtLead[1]->palette().color(QPalette::Base), kFocusYellow);
        type(f.txtLead[2], QStringLiteral("Ned"));
        type(f.txtLead[5], QStringLiteral("NYC")); // the state box takes two characters
        EXPECT_EQ(f.SaveStatement(), QStringLiteral("INSERT into contacts(lastname,firstname,company,address,city,st,zip,"
                                                    "homeph,cellph,workph,ext,email,active,contype)values('O''Brien',"
                                                    "'Ned','','','','NY','','','','','','',True,'Lead')"));
        QTest::mouseClick(f.cmdSave, Qt::LeftButton);
        EXPECT_FALSE(f.isVisible());
    });
    EXPECT_EQ(stored(QStringLiteral("lastname,firstname,company,address,city,st,zip,homeph,cellph,workph,ext,email,"
                                    "active,contype")),
              QStringLiteral("O'Brien|Ned||||NY|||||||True|Lead")); // empty texts, never <null>
    EXPECT_EQ(panel->tvLead->topLevelItem(14)->child(0)->text(0), QStringLiteral("O'Brien, Ned - "));
    EXPECT_TRUE(desk.messages().isEmpty());
}

TEST_F(EditorTest, EditLoadsEveryColumnAndSavesTheDesignedUpdate)
{
    exec(sConnContacts, QStringLiteral("INSERT into contacts(id,lastname,firstname,company,address,city,st,zip,homeph,"
                                       "cellph,workph,ext,email,active,contype)values(7,'Smith','Ann','Co','1 A St',"
                                       "'Troy','NY','12180','1','2','3','4','a@b.c',False,'Personal')"));
    lLeadID = 7;
    openEditor(true, [&](frmLead& f) {
        EXPECT_TRUE(f.cmdDelete->isEnabled());
        QStringList shown;
        for (QLineEdit* box : f.txtLead)
            shown << box->text();
        EXPECT_EQ(shown.join(u'|'), QStringLiteral("7|Smith|Ann|1 A St|Troy|NY|12180|1|2|3|4|a@b.c|Co"));
        EXPECT_TRUE(f.optInActive->isChecked());
        EXPECT_EQ(f.cmbType->currentText(), QStringLiteral("Personal"));
        EXPECT_TRUE(f.txtLead[0]->isReadOnly());
        for (int i = 3; i <= 12; ++i)
            f.txtLead[i]->clear();
        f.optActive->click();
        f.cmbType->setCurrentIndex(1);
        EXPECT_EQ(f.SaveStatement(), QStringLiteral("UPDATE contacts set lastname='Smith', firstname='Ann', company='', "
                                                    "address='', city='', st='', zip='', homeph='', cellph='', workph='', "
                                                    "ext='', email='', active=True, ConType='Cust' where ID=7"));
        QTest::mouseClick(f.cmdSave, Qt::LeftButton);
    });
    EXPECT_EQ(stored(QStringLiteral("id,lastname,company,active,contype")), QStringLiteral("7|Smith||True|Cust"));
}

TEST_F(EditorTest, UnknownTypeAndMissingValuesOpenAsLeadAndEmptyBoxes)
{
    exec(sConnContacts, QStringLiteral("INSERT into contacts(lastname,firstname,active,contype)values('Vague','Val',Null,"
                                       "'lead')"));
    lLeadID = 1;
    openEditor(true, [&](frmLead& f) {
        EXPECT_EQ(f.cmbType->currentText(), QStringLiteral("Lead")); // "lead" is not one of the four
        EXPECT_TRUE(f.optInActive->isChecked());                      // no value counts as False
        EXPECT_TRUE(f.txtLead[12]->text().isEmpty());
        QTest::mouseClick(f.cmdSave, Qt::LeftButton);
    });
    EXPECT_EQ(stored(QStringLiteral("company,contype,active")), QStringLiteral("|Lead|False"));
}

TEST_F(EditorTest, AContactThatIsGoneIsToldAndTheEditorCloses)
{
    lLeadID = 4242;
    openEditor(true, [](frmLead& f) { EXPECT_FALSE(f.isVisible()); });
    EXPECT_EQ(desk.messages(), QStringList{QStringLiteral("This contact is no longer stored.")});
    EXPECT_EQ(stored(QStringLiteral("count(*)")), QStringLiteral("0"));
}

TEST_F(EditorTest, MissingNamesAreRefusedWithTheFocusOnTheFirstEmptyOne)
{
    openEditor(false, [&](frmLead& f) {
        type(f.txtLead[2], QStringLiteral("Ann"));
        QTest::mouseClick(f.cmdSave, Qt::LeftButton);
        EXPECT_EQ(QApplication::focusWidget(), f.txtLead[1]);
        type(f.txtLead[1], QStringLiteral("Lee"));
        f.txtLead[2]->clear();
        QTest::mouseClick(f.cmdSave, Qt::LeftButton);
        EXPECT_EQ(QApplication::focusWidget(), f.txtLead[2]);
        QTest::keyClick(&f, Qt::Key_Escape); // only the buttons end the editor
        EXPECT_TRUE(f.isVisible());
    });
    EXPECT_EQ(desk.messages(), QStringList(2, QStringLiteral("First and Last Names must contain entries.")));
    EXPECT_EQ(desk.prompts[1].caption, QStringLiteral("Kestrel"));
    EXPECT_EQ(stored(QStringLiteral("count(*)")), QStringLiteral("0"));
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
        // Once the cause is gone, the same input is stored.
        exec(sConnContacts, QString::fromUtf8(kContactsSchema).section(u';', 0, 0));
        QTest::mouseClick(f.cmdSave, Qt::LeftButton);
        EXPECT_FALSE(f.isVisible());
    });
    EXPECT_EQ(stored(QStringLiteral("lastname,firstname,address")), QStringLiteral("Keep|Me|1 Safe St"));
}

TEST_F(EditorTest, DeleteAsksNoKeepsTheContactYesKeepsItsAppointments)
{
    lLeadID = addContact(QStringLiteral("Dell"), QStringLiteral("Dee"));
    addAppt(QDate(2026, 12, 8), QTime(10, 0), QStringLiteral("Demo"), QStringLiteral("Dee Dell"));
    openEditor(true, [](frmLead& f) { QTest::mouseClick(f.cmdDelete, Qt::LeftButton); }, "no");
    EXPECT_EQ(stored(QStringLiteral("count(*)")), QStringLiteral("1"));
    EXPECT_EQ(desk.prompts[1].kind, QStringLiteral("question"));
    EXPECT_EQ(panel->tvLead->topLevelItem(3)->childCount(), 1); // closing refilled the tree

    openEditor(true, [](frmLead& f) { QTest::mouseClick(f.cmdDelete, Qt::LeftButton); }, "yes");
    EXPECT_EQ(stored(QStringLiteral("count(*)")), QStringLiteral("0"));
    EXPECT_EQ(rows(sConnContacts, QStringLiteral("select count(*) from appointments"))[0][0], QStringLiteral("1"));
    EXPECT_EQ(panel->tvLead->topLevelItem(3)->childCount(), 0);
}

} // namespace
