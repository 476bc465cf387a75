// The contact editor: layout, loading, the statements it saves, validation, failures, delete.
#include "tests/contacts/Helpers.h"

class EditorTest : public PanelTest {
protected:
    void openEditor(bool editMode, const std::function<void(frmLead&)>& script)
    {
        showModal<frmLead>(desk, [&](frmLead& f) { f.bEditMode = editMode; }, script);
    }
    QString stored(const char* columns) { return joined(rows(sConnContacts, QStringLiteral("select ") + columns + " from contacts")); }
};

TEST_F(EditorTest, ControlsStandWhereTheyWereDesignedInTabOrder)
{
    frmLead f;
    EXPECT_EQ(f.windowTitle(), "Contacts");
    EXPECT_EQ(f.size(), QSize(px(6855), px(4770)));
    EXPECT_FALSE(f.windowFlags() & Qt::WindowCloseButtonHint);
    expectPlaced(&f, {
        {"lbl1", "ID:", 240, 240}, {"txtLead0", "", 600, 240, 975, 285}, {"Label1", "Type:", 4440, 240},
        {"cmbType", "", 4680, 480, 1935}, {"lblLName", "Last Name:", 240, 480}, {"txtLead1", "", 480, 720, 1695, 285, 50},
        {"lblFName", "First Name:", 2160, 480}, {"txtLead2", "", 2400, 720, 1695, 285, 50},
        {"Label3", "Company:", 240, 1080}, {"txtLead12", "", 480, 1320, 3960, 285, 25},
        {"optActive", "Active", 4680, 1080, 855, 255}, {"optInActive", "Inactive", 5640, 1080, 975, 255},
        {"lblAdd", "Address:", 240, 1680}, {"txtLead3", "", 480, 1920, 3960, 285, 25}, {"lblC", "City:", 240, 2280},
        {"txtLead4", "", 480, 2520, 1695, 285, 25}, {"lblState", "State:", 2160, 2280},
        {"txtLead5", "", 2280, 2520, 375, 285, 2}, {"lblZ", "Zip:", 2880, 2280}, {"txtLead6", "", 2760, 2520, 1695, 285, 10},
        {"lblHPhone", "Home Phone:", 240, 2880}, {"txtLead7", "", 480, 3120, 1680, 285, 12},
        {"lblCellPh", "Cell Phone:", 2160, 2880}, {"txtLead8", "", 2280, 3120, 1680, 285, 12},
        {"lblWPhone", "Work Phone:", 240, 3480}, {"txtLead9", "", 480, 3720, 1680, 285, 12}, {"lblE", "Ext:", 2160, 3480},
        {"txtLead10", "", 2280, 3720, 735, 285, 10}, {"lblEmail", "Email:", 240, 4080},
        {"txtLead11", "", 480, 4320, 3975, 285, 50}, {"cmdSave", "Save", 5040, 2280, 1335, 375},
        {"cmdDelete", "Delete", 5040, 2880, 1335, 375}, {"cmdCloseLead", "Close/Cancel", 5040, 3480, 1335, 375},
    });
    EXPECT_EQ(tabWalk(f.txtLead[1], 18), "txtLead1,txtLead2,txtLead12,txtLead3,txtLead4,txtLead5,txtLead6,txtLead7,"
                                         "txtLead8,txtLead9,txtLead10,txtLead11,cmdSave,cmdDelete,cmdCloseLead,cmbType,"
                                         "optActive,optInActive");
    EXPECT_EQ(f.txtLead[3]->palette().color(QPalette::Base), kLightGrey);
}

TEST_F(EditorTest, NewContactWithOnlyTheNamesStoresEmptyTextsAsActiveLead)
{
    openEditor(false, [&](frmLead& f) {
        EXPECT_FALSE(f.cmdDelete->isEnabled());
        EXPECT_EQ(entries(f.cmbType), "Lead,Cust,Contact,Personal=Lead");
        f.txtLead[1]->setText("O'Brien");
        f.txtLead[2]->setText("Ned");
        EXPECT_EQ(f.SaveStatement(), "INSERT into contacts(lastname,firstname,company,address,city,st,zip,homeph,cellph,"
                                     "workph,ext,email,active,contype)values('O''Brien','Ned','','','','','','','','',"
                                     "'','',True,'Lead')");
        QTest::mouseClick(f.cmdSave, Qt::LeftButton);
    });
    EXPECT_EQ(stored("lastname,firstname,company,address,city,st,zip,homeph,cellph,workph,ext,email,active,contype"),
              "O'Brien|Ned|||||||||||True|Lead"); // empty texts, never <null>
    EXPECT_EQ(filed(), "O:O'Brien, Ned - "); // closing refilled the tree
}

TEST_F(EditorTest, EditLoadsTheRowSavesTheDesignedUpdateAndToleratesOddRows)
{
    exec(sConnContacts, "INSERT into contacts(id,lastname,firstname,company,address,city,st,zip,homeph,cellph,workph,ext,"
                        "email,active,contype)values(7,'Smith','Ann','Co','1 A St','Troy','NY','12180','1','2','3','4',"
                        "'a@b.c',False,'Personal')");
    lLeadID = 7;
    openEditor(true, [&](frmLead& f) {
        QStringList shown;
        for (QLineEdit* box : f.txtLead)
            shown << box->text();
        EXPECT_EQ(shown.join(u'|'), "7|Smith|Ann|1 A St|Troy|NY|12180|1|2|3|4|a@b.c|Co");
        EXPECT_TRUE(f.optInActive->isChecked() && f.cmdDelete->isEnabled() && f.cmbType->currentText() == "Personal");
        for (int i = 3; i <= 12; ++i)
            f.txtLead[i]->clear();
        f.optActive->click();
        f.cmbType->setCurrentIndex(1);
        EXPECT_EQ(f.SaveStatement(), "UPDATE contacts set lastname='Smith', firstname='Ann', company='', address='', "
                                     "city='', st='', zip='', homeph='', cellph='', workph='', ext='', email='', "
                                     "active=True, ConType='Cust' where ID=7");
        QTest::mouseClick(f.cmdSave, Qt::LeftButton);
    });
    EXPECT_EQ(stored("id,lastname,company,active,contype"), "7|Smith||True|Cust");

    // A type that is not one of the four opens and saves as Lead; no active flag counts as False.
    exec(sConnContacts, "update contacts set company=Null, active=Null, contype='lead'");
    openEditor(true, [&](frmLead& f) { QTest::mouseClick(f.cmdSave, Qt::LeftButton); });
    EXPECT_EQ(stored("company,contype,active"), "|Lead|False");

    lLeadID = 4242; // gone: told, and the editor closes without writing
    openEditor(true, [](frmLead& f) { EXPECT_FALSE(f.isVisible()); });
    EXPECT_EQ(desk.messages(), QStringList{"This contact is no longer stored."});
    EXPECT_EQ(stored("count(*)"), "1");
}

TEST_F(EditorTest, MissingNamesAreRefusedAndAFailedSaveKeepsEverythingTyped)
{
    openEditor(false, [&](frmLead& f) {
        f.txtLead[2]->setText("Ann");
        QTest::mouseClick(f.cmdSave, Qt::LeftButton);
        EXPECT_EQ(QApplication::focusWidget(), f.txtLead[1]);
        f.txtLead[1]->setText("Lee");
        f.txtLead[2]->clear();
        QTest::mouseClick(f.cmdSave, Qt::LeftButton);
        EXPECT_EQ(QApplication::focusWidget(), f.txtLead[2]);
        f.txtLead[2]->setText("Ann");
        f.txtLead[3]->setText("1 Safe St");
        exec(sConnContacts, "drop table contacts");
        QTest::mouseClick(f.cmdSave, Qt::LeftButton);
        EXPECT_TRUE(f.isVisible() && f.txtLead[3]->text() == "1 Safe St");
        exec(sConnContacts, QString::fromUtf8(kContactsSchema).section(u';', 0, 0)); // so that closing refills quietly
    });
    const QStringList m = desk.messages();
    ASSERT_EQ(m.size(), 3);
    EXPECT_EQ(m.mid(0, 2), QStringList(2, "First and Last Names must contain entries."));
    EXPECT_EQ(desk.prompts[1].caption, "Kestrel");
    EXPECT_TRUE(m[2].contains("in procedure ActionQuery of Module modData")) << m[2].toStdString();
}

TEST_F(EditorTest, DeleteAsksNoKeepsTheContactYesKeepsItsAppointments)
{
    lLeadID = addContact("Dell", "Dee");
    addAppt(QDate(2026, 12, 8), QTime(10, 0), "Demo", "Dee Dell");
    for (bool yes : {false, true}) {
        openEditor(true, [&](frmLead& f) {
            yes ? desk.answerYes() : desk.answerNo();
            QTest::mouseClick(f.cmdDelete, Qt::LeftButton);
        });
        EXPECT_EQ(filed(), yes ? "" : "D:Dell, Dee - "); // closing refilled the tree either way
    }
    EXPECT_EQ(desk.prompts[1].kind, "question");
    EXPECT_EQ(joined(rows(sConnContacts, "select count(*) from appointments")), "1");
}
