// The contact panel and editor layout; the panel: filing under initials, the detail panel, a gone contact, a fill overtaken.
#include "tests/contacts/Helpers.h"

TEST_F(PanelTest, PanelAndEditorControlsStandWhereTheyWereDesigned)
{
    expectPlaced(frame, {
        {"tvLead", "", 120, 240, 4695, 6255}, {"lbl1", "ID:", 5400, 240}, {"txtLead0", "", 5760, 240, 975, 285},
        {"cmdEditLead", "Edit", 9360, 240, 1455, 375}, {"lblLName", "Last Name:", 5400, 480},
        {"lblFName", "First Name:", 7320, 480}, {"txtLead1", "", 5640, 720, 1695, 285}, {"txtLead2", "", 7560, 720, 1695, 285},
        {"Label3", "Company:", 5400, 1080}, {"txtLead12", "", 5640, 1320, 3960, 285}, {"lblAdd", "Address:", 5400, 1680},
        {"txtLead3", "", 5640, 1920, 3960, 285}, {"lblC", "City:", 5400, 2280}, {"lblState", "State:", 7320, 2280},
        {"lblZ", "Zip:", 8040, 2280}, {"txtLead4", "", 5640, 2520, 1695, 285}, {"txtLead5", "", 7440, 2520, 375, 285},
        {"txtLead6", "", 7920, 2520, 1695, 285}, {"lblHPhone", "Home Phone:", 5400, 2880},
        {"lblCellPh", "Cell Phone:", 7320, 2880}, {"txtLead7", "", 5640, 3120, 1680, 285},
        {"txtLead8", "", 7440, 3120, 1680, 285}, {"lblWPhone", "Work Phone:", 5400, 3480}, {"lblE", "Ext:", 7320, 3480},
        {"txtLead9", "", 5640, 3720, 1680, 285}, {"txtLead10", "", 7440, 3720, 735, 285}, {"lblEmail", "Email:", 5400, 4080},
        {"txtLead11", "", 5640, 4320, 3975, 285}, {"Label4", "Type:", 5400, 4680}, {"txtLead13", "", 5640, 4920, 1695, 285},
        {"cmdScheduleAppointment", "Schedule an appointment ", 5520, 5400, 2535, 375},
        {"cmdEmail", "Email", 8280, 5400, 1335, 375}, {"cmbDisplay", "", 6000, 6240, 1935},
        {"Label2", "Filter the contacts you wish displayed.", 5400, 5880, 3495, 255},
    });
    EXPECT_EQ(entries(panel->cmbDisplay), "All,Cust,Lead,Contact,Personal=All");
    frmLead f;
    EXPECT_TRUE(f.windowTitle() == "Contacts" && f.size() == QSize(px(6855), px(4770)));
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

TEST_F(PanelTest, ContactsAreFiledUnderInitialsClickingOneFillsTheBoxesAndAGoneOneIsReported)
{
    exec(sConnContacts, "INSERT into contacts(lastname,firstname,company,address,city,st,zip,homeph,cellph,workph,ext,"
                        "email,active,contype)values('O''Brien','Ann','Acme','1 Pier','Cork','NY','10001','555-1',"
                        "'555-2','555-3','42','ann@x.com',True,'Cust')");
    const int gone = addContact("Gone", "Gil");
    addContact("adams-Jones", "Bo");
    addContact("Adams", "Al", "Cust", "9 Elm");
    // Names that start with no letter A-Z must not hide the contacts that sort after them.
    for (const char* last : {"", "Émile", "3M"})
        addContact(QString::fromUtf8(last), "Odd");
    exec(sConnContacts, "INSERT into contacts(lastname,firstname,contype)values(Null,'Nil','Lead')");
    addContact("Zeno", "Zed");
    PopTree(QString());
    EXPECT_EQ(filed(), "A:Adams, Al - 9 Elm|A:adams-Jones, Bo - |G:Gone, Gil - |O:O'Brien, Ann - 1 Pier|Z:Zeno, Zed - |"
                       "#:, Nil - |#:, Odd - |#:3M, Odd - |#:Émile, Odd - ");
    // The tree's own click signal, as a mouse click sends it; initials are not contacts (no report).
    Q_EMIT panel->tvLead->itemClicked(panel->tvLead->topLevelItem(26), 0);
    Q_EMIT panel->tvLead->itemClicked(nodes("O'Brien*").value(0), 0);
    EXPECT_EQ(panelText(), "1|O'Brien|Ann|1 Pier|Cork|NY|10001|555-1|555-2|555-3|42|ann@x.com|Acme|Cust");
    QTest::mouseClick(panel->cmdEmail, Qt::LeftButton);
    exec(sConnContacts, QStringLiteral("delete from contacts where id=%1").arg(gone));
    Q_EMIT panel->tvLead->itemClicked(nodes("Gone*").value(0), 0); // deleted since the fill: reported, and the panel stays empty
    EXPECT_EQ(panelText(), "|||||||||||||");
    QTest::mouseClick(panel->cmdEmail, Qt::LeftButton);
    EXPECT_EQ(desk.opened, QStringList{"mailto:ann@x.com"});
    const QStringList m = desk.messages();
    ASSERT_EQ(m.size(), 2);
    EXPECT_TRUE(m[0].contains(") in procedure tvLead_NodeClick of Form frmKestrel\r\nPlease make note of this")) << m[0].toStdString();
    EXPECT_EQ(m[1], kNoEmail);
}

TEST_F(PanelTest, AFillStartedWhileAnotherRunsTakesOver)
{
    exec(sConnContacts, "INSERT INTO contacts(lastname,firstname,address,contype) WITH RECURSIVE n(i) AS (SELECT 0 UNION "
                        "ALL SELECT i+1 FROM n WHERE i<399) SELECT char(65 + i % 26) || 'son', 'N' || i, '', "
                        "case when i % 2 = 1 then 'Cust' else 'Lead' end FROM n");
    setTreeEventInterval(0);
    QTimer::singleShot(0, panel, [&] { choose(panel->cmbDisplay, "Cust"); }); // picked while the full list fills
    PopTree(QString());
    EXPECT_EQ(nodes().size(), 26 + 200);
    setTreeEventInterval(30);
}
