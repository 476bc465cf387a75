// The contact editor: loading, the statements it saves, validation, failures, a gone contact.
#include "tests/contacts/Helpers.h"

class EditorTest : public PanelTest {
protected:
    void openEditor(bool editMode, const std::function<void(frmLead&)>& script)
    {
        showModal<frmLead>(desk, [&](frmLead& f) { f.bEditMode = editMode; }, script);
    }
    QString stored(const char* columns) { return joined(rows(sConnContacts, QStringLiteral("select ") + columns + " from contacts")); }
};

TEST_F(EditorTest, NewContactNeedsBothNamesSurvivesAFailedSaveAndStoresEmptyTextsAsActiveLead)
{
    openEditor(false, [&](frmLead& f) {
        f.txtLead[1]->setText("O'Brien");
        QTest::mouseClick(f.cmdSave, Qt::LeftButton);
        EXPECT_EQ(QApplication::focusWidget(), f.txtLead[2]);
        f.txtLead[2]->setText("Ned");
        EXPECT_EQ(f.SaveStatement(), "INSERT into contacts(lastname,firstname,company,address,city,st,zip,homeph,cellph,"
                                     "workph,ext,email,active,contype)values('O''Brien','Ned','','','','','','','','',"
                                     "'','',True,'Lead')");
        exec(sConnContacts, "drop table contacts");
        QTest::mouseClick(f.cmdSave, Qt::LeftButton); // refused by the database: the editor stays with the input
        EXPECT_TRUE(f.isVisible() && f.txtLead[2]->text() == "Ned");
        exec(sConnContacts, QString::fromUtf8(kContactsSchema).section(u';', 0, 0));
        QTest::mouseClick(f.cmdSave, Qt::LeftButton);
    });
    EXPECT_EQ(stored("lastname,firstname,company,address,city,st,zip,homeph,cellph,workph,ext,email,active,contype"),
              "O'Brien|Ned|||||||||||True|Lead"); // empty texts, never <null>
    EXPECT_EQ(filed(), "O:O'Brien, Ned - "); // closing refilled the tree
    const QStringList m = desk.messages();
    ASSERT_EQ(m.size(), 2);
    EXPECT_EQ(m[0] + u'|' + desk.prompts[1].caption, "First and Last Names must contain entries.|Kestrel");
    EXPECT_TRUE(m[1].contains("in procedure ActionQuery of Module modData")) << m[1].toStdString();
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
}
