// The fields a contact gained later, typed and shown: an international contact typed by keys is
// stored exactly; a birthday that is no day, an over-long paste of notes and a web address that
// is not a web page are refused; the grid offers the fields in its column choice.
#include "data/ContactFields.h"
#include "tests/contacts/Helpers.h"

#include <QClipboard>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTextCursor>

namespace {
// Types text key by key, as a keyboard with those letters would (QTest's own only knows ASCII).
void type(QWidget* w, const QString& text)
{
    for (const QChar c : text) {
        if (c.unicode() < 0x80)
            QTest::keyClick(w, char(c.unicode()));
        else
            QTest::sendKeyEvent(QTest::Click, w, Qt::Key_unknown, QString(c), Qt::NoModifier);
    }
}

const QString kNotADay = QStringLiteral("The date must be a day of the calendar, typed as month/day/year (for example 3/7/2027).");
} // namespace

class ContactFieldsEditor : public PanelTest {
protected:
    // Every field and the active flag: what the user can see and change (the office server's row
    // version, which every save raises, is not).
    static QString all() { return allContactColumns() + QStringLiteral(",active"); }
};

TEST_F(ContactFieldsEditor, AnInternationalContactTypedByKeysIsStoredExactly)
{
    const QString address = QStringLiteral("1600 Pennsylvania Avenue NW, Suite 100 A");
    ASSERT_EQ(address.size(), 40);
    openEditor(false, [&](frmLead& f) {
        ASSERT_TRUE(activated(&f));
        // Tab goes through the first boxes as before, then on after them into the later ones.
        const QStringList typed = {"Müller", "Jörg", "Beispiel GmbH, Vertrieb und Außendienst", address, "München",
                                   "Bayern", "80331", "+49 89 1234567", "+49 171 5550101", "+49 89 7654321-0", "12",
                                   "joerg.mueller@vertrieb.beispiel-gmbh.example.de"};
        f.txtLead[1]->setFocus();
        for (const QString& text : typed) {
            type(QApplication::focusWidget(), text);
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        }
        QStringList after;
        for (int i = 0; i < 4; ++i) {
            after << QApplication::focusWidget()->objectName();
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        }
        EXPECT_EQ(after.join(u','), "cmdSave,cmdCloseLead,cmbType,optActive");
        for (const QString& text : {QStringLiteral("Deutschland"), QStringLiteral("Vertriebsleiter"),
                                    QStringLiteral("4/12/1975"), QStringLiteral("www.beispiel.de")}) {
            type(QApplication::focusWidget(), text);
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        }
        ASSERT_EQ(QApplication::focusWidget(), f.txtNotes);
        QTest::keyClicks(f.txtNotes, "Trifft man auf der Messe");
        QTest::keyClick(f.txtNotes, Qt::Key_Return);
        QTest::keyClicks(f.txtNotes, "in Hannover, 'Halle 7'");
        QTest::keyClick(f.txtNotes, Qt::Key_Tab); // Tab leaves the notes, as it leaves every box
        EXPECT_EQ(f.txtNotes->toPlainText(), "Trifft man auf der Messe\nin Hannover, 'Halle 7'");
        QTest::mouseClick(f.cmdSave, Qt::LeftButton);
    });
    EXPECT_EQ(stored("lastname,firstname,company,address,city,st,zip,homeph,cellph,workph,ext,email,country,jobtitle,"
                     "birthday,website,notes"),
              "Müller|Jörg|Beispiel GmbH, Vertrieb und Außendienst|" + address + "|München|Bayern|80331|+49 89 1234567|"
              "+49 171 5550101|+49 89 7654321-0|12|joerg.mueller@vertrieb.beispiel-gmbh.example.de|Deutschland|"
              "Vertriebsleiter|1975-04-12|www.beispiel.de|Trifft man auf der Messe\nin Hannover, 'Halle 7'");
    EXPECT_TRUE(desk.messages().isEmpty()) << desk.messages().join(u'|').toStdString();

    // Opened again, every field shows as typed; saved unchanged, nothing changes.
    lLeadID = rows(sConnContacts, "select id from contacts").at(0).at(0).toInt();
    const QString before = stored(all());
    openEditor(true, [&](frmLead& f) {
        EXPECT_EQ(f.txtAddress->toPlainText(), address);
        EXPECT_EQ(f.txtBirthday->text(), "4/12/1975");
        EXPECT_EQ(f.txtNotes->toPlainText(), "Trifft man auf der Messe\nin Hannover, 'Halle 7'");
        QTest::mouseClick(f.cmdSave, Qt::LeftButton);
    });
    EXPECT_EQ(stored(all()), before);
}

TEST_F(ContactFieldsEditor, ABirthdayThatIsNoDayIsRefusedAsTheAppointmentDateIsAndAStateNameIsFiledByItsCode)
{
    openEditor(false, [&](frmLead& f) {
        ASSERT_TRUE(activated(&f));
        f.txtLead[1]->setFocus();
        QTest::keyClicks(f.txtLead[1], "Lee");
        QTest::keyClicks(f.txtLead[2], "Ann");
        QTest::keyClicks(f.txtLead[5], "Texas");
        f.txtBirthday->setFocus();
        QTest::keyClicks(f.txtBirthday, "2/30/1980");
        QTest::mouseClick(f.cmdSave, Qt::LeftButton);
        EXPECT_TRUE(f.isVisible());
        EXPECT_EQ(QApplication::focusWidget(), f.txtBirthday);
        EXPECT_EQ(f.txtBirthday->selectedText(), "2/30/1980");
        QTest::keyClicks(f.txtBirthday, "2/29"); // no year: the day comes every fourth year
        QTest::mouseClick(f.cmdSave, Qt::LeftButton);
    });
    EXPECT_EQ(desk.messages(), QStringList{kNotADay});
    EXPECT_EQ(stored("lastname,st,birthday"), "Lee|TX|--02-29");
}

TEST_F(ContactFieldsEditor, NotesStopAtTheirLimitAndAHugePasteIsRefusedWithTheLimitNamedAndNothingLost)
{
    openEditor(false, [&](frmLead& f) {
        ASSERT_TRUE(activated(&f));
        f.txtNotes->setFocus();
        QTest::keyClicks(f.txtNotes, "Call back on Monday");
        QGuiApplication::clipboard()->setText(QString(100000, u'x'));
        QTest::keyClick(f.txtNotes, Qt::Key_V, Qt::ControlModifier);
        EXPECT_EQ(f.txtNotes->toPlainText(), "Call back on Monday");
        // Typing stops at 10,000 characters.
        QGuiApplication::clipboard()->setText(QString(10000 - 20, u'y'));
        QTest::keyClick(f.txtNotes, Qt::Key_V, Qt::ControlModifier);
        QTest::keyClicks(f.txtNotes, "abc");
        EXPECT_EQ(f.txtNotes->toPlainText().size(), 10000);
        EXPECT_TRUE(f.txtNotes->toPlainText().endsWith(u"ya")) << f.txtNotes->toPlainText().right(5).toStdString();
    });
    EXPECT_EQ(desk.messages(), QStringList{"Notes hold at most 10,000 characters, and with this text they would hold "
                                           "100,019.\r\nIt was not added; the notes are as they were."});
}

TEST_F(ContactFieldsEditor, ThePanelShowsTheLaterFieldsAndOpensOnlyWebPages)
{
    const int id = addContact("Nguyen", "Linh");
    exec(sConnContacts, QStringLiteral("update contacts set country='United States', jobtitle='Buyer', website='linh.example.com', "
                                       "birthday='--03-07', notes='Prefers e-mail\nafter 5 pm', address='742 Evergreen Terrace\nApt 2'"));
    PopTree(QString());
    GoToLead(id);
    EXPECT_EQ(QStringList({panel->txtCountry->text(), panel->txtJobTitle->text(), panel->txtBirthday->text(),
                           panel->txtWebSite->text(), panel->txtNotes->toPlainText()}),
              QStringList({"United States", "Buyer", "3/7", "linh.example.com", "Prefers e-mail\nafter 5 pm"}));
    EXPECT_EQ(panel->txtLead[3]->toolTip(), "742 Evergreen Terrace\nApt 2");
    QTest::mouseClick(panel->cmdWebSite, Qt::LeftButton);
    EXPECT_EQ(desk.opened, QStringList{"https://linh.example.com"});
    for (const char* hostile : {"javascript:alert(document.cookie)", "file:///etc/passwd"}) {
        exec(sConnContacts, QStringLiteral("update contacts set website='%1'").arg(QLatin1String(hostile)));
        GoToLead(id);
        ShowLead();
        QTest::mouseClick(panel->cmdWebSite, Qt::LeftButton);
    }
    EXPECT_EQ(desk.opened.size(), 1);
    ASSERT_EQ(desk.messages().size(), 2);
    EXPECT_TRUE(desk.messages()[0].startsWith("The web site javascript:alert(document.cookie) was not opened"));
    ClearLead();
    EXPECT_EQ(panel->txtNotes->toPlainText() + panel->txtCountry->text() + panel->txtLead[3]->toolTip(), "");
}

TEST_F(ContactFieldsEditor, TheGridsColumnChoiceOffersTheLaterFieldsAndRemembersThem)
{
    addContact("Nguyen", "Linh", "Cust", "742 Evergreen Terrace\nApt 2");
    exec(sConnContacts, QStringLiteral("update contacts set country='United States', birthday='--03-07'"));
    const auto pick = [](int downs) {
        // The column choice is a menu: Down to the entry, Enter to tick it.
        QTimer::singleShot(0, [downs] {
            QWidget* menu = QApplication::activePopupWidget();
            ASSERT_TRUE(menu);
            for (int i = 0; i < downs; ++i)
                QTest::keyClick(menu, Qt::Key_Down);
            QTest::keyClick(menu, Qt::Key_Return);
        });
    };
    showModal<frmContactGrid>(desk, [](frmContactGrid&) {}, [&](frmContactGrid& g) {
        const int country = 10 + 3, birthday = 10 + 6; // after the nine and "Last contact"
        EXPECT_TRUE(g.grdDataGrid->isColumnHidden(country));
        EXPECT_EQ(g.model->headerData(country, Qt::Horizontal, Qt::DisplayRole).toString(), "Country");
        pick(4); // City, State, Zip, Country
        g.grdDataGrid_ColumnChoice(g.mapToGlobal(QPoint(20, 60)));
        EXPECT_FALSE(g.grdDataGrid->isColumnHidden(country));
        EXPECT_EQ(g.model->index(0, country).data().toString(), "United States");
        // A date as the user reads it; an address of two lines on one, whole in its tool tip.
        EXPECT_EQ(g.model->index(0, birthday).data().toString(), "3/7");
        EXPECT_EQ(g.model->index(0, 3).data().toString(), "742 Evergreen Terrace, Apt 2");
        EXPECT_EQ(g.model->index(0, 3).data(Qt::ToolTipRole).toString(), "742 Evergreen Terrace\nApt 2");
    });
    showModal<frmContactGrid>(desk, [](frmContactGrid&) {}, [&](frmContactGrid& g) {
        EXPECT_FALSE(g.grdDataGrid->isColumnHidden(10 + 3)); // remembered
        EXPECT_TRUE(g.grdDataGrid->isColumnHidden(10 + 6));
    });
}

TEST_F(ContactFieldsEditor, EnterBreaksTheAddressIntoLinesWhileTabLeavesItAndTheOtherKeysWorkAsBefore)
{
    openEditor(false, [&](frmLead& f) {
        ASSERT_TRUE(activated(&f));
        f.txtLead[1]->setFocus();
        for (const char* name : {"Simpson", "Homer", "Springfield Nuclear"}) {
            QTest::keyClicks(QApplication::focusWidget(), name);
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        }
        ASSERT_EQ(QApplication::focusWidget(), f.txtAddress);
        QTest::keyClicks(f.txtAddress, "742 Evergreen Terrace");
        QTest::keyClick(f.txtAddress, Qt::Key_Return);
        QTest::keyClicks(f.txtAddress, "Apt 2");
        QTest::keyClick(f.txtAddress, Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), f.txtLead[4]);
        // Both lines are in view at once.
        QTextCursor end = f.txtAddress->textCursor();
        end.movePosition(QTextCursor::End);
        f.txtAddress->setTextCursor(end);
        EXPECT_LE(f.txtAddress->cursorRect().bottom(), f.txtAddress->viewport()->height());
        EXPECT_EQ(f.txtAddress->document()->lineCount(), 2);
        // Enter in a one-line box presses nothing, as before; on the focused Save it saves.
        QTest::keyClicks(f.txtLead[4], "Springfield");
        QTest::keyClick(f.txtLead[4], Qt::Key_Return);
        EXPECT_TRUE(f.isVisible());
        EXPECT_EQ(rows(sConnContacts, "select count(*) from contacts")[0][0], "0");
        // A paste that would carry the address past its 100 characters is refused whole.
        f.txtAddress->setFocus();
        QTest::keyClick(f.txtAddress, Qt::Key_End, Qt::ControlModifier);
        QGuiApplication::clipboard()->setText(QString(80, u'x'));
        QTest::keyClick(f.txtAddress, Qt::Key_V, Qt::ControlModifier);
        EXPECT_EQ(f.txtAddress->toPlainText(), "742 Evergreen Terrace\nApt 2");
        f.cmdSave->setFocus();
        QTest::keyClick(f.cmdSave, Qt::Key_Return);
    });
    EXPECT_EQ(desk.messages(), QStringList{"The address holds at most 100 characters, and with this text it would hold "
                                           "107.\r\nIt was not added; the address is as it was."});
    EXPECT_EQ(stored("address,city"), "742 Evergreen Terrace\nApt 2|Springfield");

    // Opened again, both lines show; a break stored as CR LF (as another program writes it) is
    // kept as it is when the address is not changed, and written as typed when it is.
    exec(sConnContacts, QStringLiteral("update contacts set address='1 Main St\r\nSuite 5'"));
    lLeadID = rows(sConnContacts, "select id from contacts").at(0).at(0).toInt();
    openEditor(true, [&](frmLead& f) {
        EXPECT_EQ(f.txtAddress->toPlainText(), "1 Main St\nSuite 5");
        QTest::mouseClick(f.cmdSave, Qt::LeftButton);
    });
    EXPECT_EQ(stored("address"), "1 Main St\r\nSuite 5");
    openEditor(true, [&](frmLead& f) {
        ASSERT_TRUE(activated(&f));
        f.txtAddress->setFocus();
        QTest::keyClick(f.txtAddress, Qt::Key_End, Qt::ControlModifier);
        QTest::keyClicks(f.txtAddress, "0");
        QTest::keyClick(f.txtAddress, Qt::Key_Enter); // the key pad's Enter makes a line too
        QTest::keyClicks(f.txtAddress, "Building B");
        QTest::keyClick(f.txtAddress, Qt::Key_S, Qt::ControlModifier);
    });
    EXPECT_EQ(stored("address"), "1 Main St\nSuite 50\nBuilding B");
}
