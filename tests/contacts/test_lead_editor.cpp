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
}

TEST_F(EditorTest, NewContactWithOnlyTheNamesStoresEmptyTextsAsActiveLead)
{
    openEditor(false, [&](frmLead& f) {
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

TEST_F(EditorTest, EditLoadsTheRowSavesTheDesignedUpdateAndAGoneContactIsTold)
{
    exec(sConnContacts, "INSERT into contacts(id,lastname,firstname,company,address,city,st,zip,homeph,cellph,workph,ext,"
                        "email,active,contype)values(7,'Smith','Ann','Co','1 A St','Troy','NY','12180','1','2','3','4',"
                        "'a@b.c',False,'Personal')");
    lLeadID = 7;
    openEditor(true, [&](frmLead& f) {
        EXPECT_EQ(f.SaveStatement(), "UPDATE contacts set lastname='Smith', firstname='Ann', company='Co', address='1 A St', "
                                     "city='Troy', st='NY', zip='12180', homeph='1', cellph='2', workph='3', ext='4', "
                                     "email='a@b.c', active=False, ConType='Personal' where ID=7");
        f.txtLead[12]->clear();
        QTest::mouseClick(f.cmdSave, Qt::LeftButton);
    });
    EXPECT_EQ(stored("id,company,active,contype"), "7||False|Personal");

    lLeadID = 4242; // gone: told, and the editor closes without writing
    openEditor(true, [](frmLead& f) { EXPECT_FALSE(f.isVisible()); });
    EXPECT_EQ(desk.messages(), QStringList{"This contact is no longer stored."});
    EXPECT_EQ(stored("count(*)"), "1");
}

TEST_F(EditorTest, MissingNamesAreRefusedAndAFailedSaveKeepsEverythingTyped)
{
    openEditor(false, [&](frmLead& f) {
        f.txtLead[1]->setText("Lee");
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
    ASSERT_EQ(m.size(), 2);
    EXPECT_EQ(m[0] + u'|' + desk.prompts[1].caption, "First and Last Names must contain entries.|Kestrel");
    EXPECT_TRUE(m[1].contains("in procedure ActionQuery of Module modData")) << m[1].toStdString();
}
