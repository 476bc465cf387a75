// The contact editor: loading, the statements it saves, validation, failures, a gone contact.
#include "tests/contacts/Helpers.h"
#include "ui/Report.h"

class EditorTest : public PanelTest {};

TEST_F(EditorTest, NewContactNeedsBothNamesSurvivesAFailedSaveAndStoresEmptyTextsAsActiveLead)
{
    openEditor(false, [&](frmLead& f) {
        ASSERT_TRUE(activated(&f));
        f.txtLead[1]->setFocus(Qt::TabFocusReason);
        QTest::keyClicks(f.txtLead[1], "O'Brien");
        QTest::mouseClick(f.cmdSave, Qt::LeftButton);
        EXPECT_EQ(QApplication::focusWidget(), f.txtLead[2]);
        QTest::keyClick(f.txtLead[2], Qt::Key_S, Qt::ControlModifier); // Ctrl+S refuses as Save does
        EXPECT_TRUE(f.isVisible());
        QTest::keyClicks(f.txtLead[2], "Ned");
        if (!onServer()) { // the local file's table dropped under the editor
            exec(ownerConnection(), "drop table contacts");
            QTest::mouseClick(f.cmdSave, Qt::LeftButton); // refused by the database: the editor stays with the input
            EXPECT_TRUE(f.isVisible() && f.txtLead[2]->text() == "Ned");
            exec(sConnContacts, QString::fromUtf8(kContactsSchema).section(u';', 0, 0));
        }
        QTest::keyClick(f.txtLead[2], Qt::Key_S, Qt::ControlModifier);
        EXPECT_FALSE(f.isVisible());
    });
    EXPECT_EQ(stored("lastname,firstname,company,address,city,st,zip,homeph,cellph,workph,ext,email,active,contype"),
              "O'Brien|Ned|||||||||||True|Lead"); // empty texts, never <null>
    EXPECT_EQ(filed(), "O:O'Brien, Ned - "); // closing refilled the tree
    const QStringList m = desk.messages();
    ASSERT_EQ(m.size(), onServer() ? 2 : 3);
    EXPECT_EQ(m[0] + u'|' + m[1] + u'|' + desk.prompts[1].caption,
              "First and Last Names must contain entries.|First and Last Names must contain entries.|Kestrel");
    if (!onServer()) {
        EXPECT_TRUE(m[2].contains("in procedure ActionQuery of Module modData")) << m[2].toStdString();
    }
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
                                     "email='a@b.c', active=False, ConType='Personal', country='', jobtitle='', "
                                     "website='', birthday='', notes='' where ID=7");
        f.txtLead[12]->clear();
        QTest::mouseClick(f.cmdSave, Qt::LeftButton);
    });
    EXPECT_EQ(stored("id,company,active,contype"), "7||False|Personal");

    lLeadID = 4242; // gone: told, and the editor closes without writing
    openEditor(true, [](frmLead& f) { EXPECT_FALSE(f.isVisible()); });
    EXPECT_EQ(desk.messages(), QStringList{"This contact is no longer stored."});
}

TEST_F(EditorTest, FocusPaintsABoxLightYellowSelectsItsTextAndLosesNoKeyTypedRightBehindATabOrAClick)
{
    lLeadID = addContact("Smith", "Ann");
    exec(sConnContacts, "update contacts set company='Co'");
    openEditor(true, [&](frmLead& f) {
        ASSERT_TRUE(activated(&f));
        QTest::keyClick(f.txtLead[1], Qt::Key_Tab);
        EXPECT_EQ(f.txtLead[2]->palette().color(QPalette::Base), QColor(255, 255, 192));
        EXPECT_EQ(f.txtLead[1]->palette().color(QPalette::Base), QColor(224, 224, 224));
        EXPECT_EQ(f.txtLead[2]->selectedText(), "Ann");
        // Keys that arrive before the event loop runs again, right behind a Tab or a click.
        QTest::keyClick(f.txtLead[2], Qt::Key_Tab);
        QTest::keyClicks(QApplication::focusWidget(), "Acme");
        QCoreApplication::processEvents();
        QTest::keyClicks(QApplication::focusWidget(), " Inc");
        QTest::mouseClick(f.txtLead[4], Qt::LeftButton);
        QTest::keyClicks(f.txtLead[4], "Troy");
        QCoreApplication::processEvents();
        QTest::keyClicks(f.txtLead[4], " NY");
        EXPECT_EQ(f.txtLead[12]->text() + u'|' + f.txtLead[4]->text(), "Acme Inc|Troy NY");
        QTest::mouseClick(f.txtLead[2], Qt::LeftButton); // a click with nothing typed after it selects all
        QCoreApplication::processEvents();
        EXPECT_EQ(f.txtLead[2]->selectedText(), "Ann");
        QTest::keyClick(f.txtLead[2], Qt::Key_End);
        QWidget other; // back from another window, the user goes on where they were
        other.show();
        ASSERT_TRUE(activated(&other));
        ASSERT_TRUE(activated(&f));
        QTest::keyClicks(QApplication::focusWidget(), "e");
        EXPECT_EQ(f.txtLead[2]->text(), "Anne");
    });
}

TEST_F(EditorTest, ASaveKeepsLongStoredValuesWholeAndARowChangedOrDeletedElsewhereIsAskedAbout)
{
    const QString company(120, u'c'), address(150, u'a'); // as another program may store them
    exec(sConnContacts, QStringLiteral("INSERT into contacts(id,lastname,firstname,company,address,active,contype)"
                                       "values(7,'Smith','Ann','%1','%2',True,'Lead')").arg(company, address));
    lLeadID = 7;
    openEditor(true, [&](frmLead& f) {
        exec(sConnContacts, "update contacts set firstname='Anne'"); // by another copy, after this window opened
        desk.answerYes();                                             // asked, the user saves over it
        QTest::mouseClick(f.cmdSave, Qt::LeftButton);
    });
    EXPECT_EQ(stored("id,firstname,company,address"), "7|Ann|" + company + u'|' + address);

    openEditor(true, [&](frmLead& f) {
        ASSERT_TRUE(activated(&f));
        f.txtAddress->setFocus();
        QTest::keyClicks(f.txtAddress, QString(130, u'z')); // what is typed keeps to the box's length
        exec(sConnContacts, "update contacts set city='Troy'");
        desk.answerNo(); // not over theirs: the window stays with what was typed
        QTest::mouseClick(f.cmdSave, Qt::LeftButton);
        EXPECT_TRUE(f.isVisible() && f.txtAddress->toPlainText() == QString(100, u'z'));
        exec(sConnContacts, "delete from contacts");
        desk.answerNo();
        QTest::mouseClick(f.cmdSave, Qt::LeftButton);
        EXPECT_TRUE(f.isVisible());
        desk.answerYes();
        QTest::mouseClick(f.cmdSave, Qt::LeftButton);
    });
    // Kept as a new contact: a new key (the server's sequence does not follow the key 7 written above).
    EXPECT_EQ(stored("lastname,company,address"), "Smith|" + company + u'|' + QString(100, u'z'));
    EXPECT_NE(stored("id"), QStringLiteral("7"));
    EXPECT_EQ(desk.prompts[1].text, "Someone else changed this contact after this window opened.\n\nSave your changes "
                                    "over theirs? (No keeps this window open with what you typed.)");
    EXPECT_EQ(desk.prompts[4].text, "This contact was deleted or changed elsewhere after this window opened, so your "
                                    "changes were not saved.\n\nSave what you typed as a new contact?");
}
