// The contact history by the keyboard on the shown main window: Ctrl+L logs an entry typed in a
// few keys and Alt+S, the panel shows it at once, Ctrl+H opens the timeline where Enter opens an
// entry and Delete removes one after asking; a follow-up date schedules the appointment.
#include "tests/app/Helpers.h"

#include "contacts/frmHistory.h"
#include "contacts/frmLogEntry.h"
#include "data/History.h"

class HistoryKeysTest : public MainWindowTest {
protected:
    void type(QWidget* window, const QString& text)
    {
        QTest::keyClicks(window->focusWidget(), text);
        QCoreApplication::processEvents();
    }
    // Shows the contact panel with the first contact chosen by the keys.
    void showFirstContact()
    {
        w->Form_Load();
        press(w.get(), Qt::Key_F3);
        for (int k : {Qt::Key_Home, Qt::Key_Right, Qt::Key_Down})
            press(w.get(), k);
    }
    QStringList panelLines() const
    {
        QStringList out;
        for (int i = 0; i < w->lead->lstHistory->count(); ++i)
            out << w->lead->lstHistory->item(i)->text();
        return out;
    }
};

TEST_F(HistoryKeysTest, CtrlLTypedEntryAndAltSShowOnThePanelAtOnce)
{
    desk.nowValue = QDateTime(QDate(2027, 3, 14), QTime(14, 37, 20));
    desk.todayValue = desk.nowValue.date();
    const int id = addContact("Adams", "Ann");
    showFirstContact();
    ASSERT_EQ(w->lead->txtLead[0]->text().toInt(), id);
    EXPECT_EQ(w->lead->lblLastContact->text(), "Last contact: none");
    desk.onModal("frmLogEntry", [&](QDialog& d) {
        auto& f = static_cast<frmLogEntry&>(d);
        EXPECT_EQ(d.windowTitle(), "Log Activity");
        EXPECT_EQ(d.focusWidget(), f.txtSubject);
        EXPECT_EQ(f.dtDate->text(), "3/14/2027");
        EXPECT_EQ(f.txtTime->text(), "2:37 PM");
        type(&d, "Price list");
        press(&d, Qt::Key_Tab);
        EXPECT_EQ(d.focusWidget(), f.txtNote);
        type(&d, "Wants 20 units");
        press(&d, Qt::Key_Return);
        type(&d, "by April");
        f.cboOutcome->setFocus();
        press(&d, Qt::Key_End);
        press(&d, Qt::Key_Up);
        press(&d, Qt::Key_Up); // "Left message", "Not held", "Done" stand last
        press(&d, Qt::Key_S, Qt::AltModifier);
        EXPECT_FALSE(d.isVisible());
    });
    press(w.get(), Qt::Key_L, Qt::ControlModifier);
    EXPECT_EQ(w->lead->lblLastContact->text(), "Last contact: 3/14/2027 (Call, Left message)");
    EXPECT_EQ(panelLines(), QStringList({"3/14/2027 2:37 PM  Call out, Left message - Price list"}));
    const auto stored = latestHistory(sConnContacts, id, 1);
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored[0].note, "Wants 20 units\nby April");
    EXPECT_TRUE(desk.messages().isEmpty());
}

// Saved at last with a follow-up date: the appointment editor opens filled in for the contact.
TEST_F(HistoryKeysTest, ABadDateOrAnOverlongNoteIsRefusedAndNothingTypedIsLostAndAFollowUpDateIsScheduled)
{
    const int id = addContact("Adams", "Ann");
    showFirstContact();
    const QString longNote = QString(kHistoryNoteLength + 1, u'x');
    desk.onModal("frmLogEntry", [&](QDialog& d) {
        auto& f = static_cast<frmLogEntry&>(d);
        type(&d, "Met");
        f.dtDate->setFocus();
        f.dtDate->selectAll();
        type(&d, "2/30/2027");
        press(&d, Qt::Key_S, Qt::AltModifier);
        ASSERT_TRUE(d.isVisible());
        EXPECT_EQ(d.focusWidget(), f.dtDate);
        f.dtDate->selectAll();
        type(&d, "2/28/2027");
        f.txtNote->setFocus();
        f.txtNote->setPlainText(longNote); // a paste
        press(&d, Qt::Key_S, Qt::AltModifier);
        ASSERT_TRUE(d.isVisible());
        EXPECT_EQ(f.txtNote->toPlainText().size(), longNote.size());
        EXPECT_EQ(f.txtSubject->text(), "Met");
        press(&d, Qt::Key_Backspace); // the focus went back to the note, the caret at its end
        f.dtFollowUp->setFocus();
        type(&d, "12/18/2026");
        press(&d, Qt::Key_S, Qt::AltModifier);
        EXPECT_FALSE(d.isVisible());
    });
    desk.onModal("frmAppt", [&](QDialog& d) {
        auto& a = static_cast<frmAppt&>(d);
        EXPECT_EQ(a.apptText(3), "Ann Adams");
        EXPECT_EQ(a.apptText(0), "Met");
        EXPECT_EQ(a.DTPicker1->date(), QDate(2026, 12, 18));
        a.cmdSave_Click();
    });
    press(w.get(), Qt::Key_L, Qt::ControlModifier);
    EXPECT_EQ(rows(sConnContacts, "select contact_id, apptbrief from appointments"),
              (std::vector<QStringList>{{QString::number(id), "Met"}}));
    const QStringList told = desk.messages();
    ASSERT_EQ(told.size(), 2);
    EXPECT_TRUE(told[0].startsWith("The date must be a day of the calendar")) << told[0].toStdString();
    EXPECT_EQ(told[1], "The note holds 10,001 characters; at most 10,000 fit. Shorten it, then save again.");
    const auto stored = latestHistory(sConnContacts, id, 5);
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored[0].date, QDate(2027, 2, 28));
    EXPECT_EQ(stored[0].note.size(), kHistoryNoteLength);
}

TEST_F(HistoryKeysTest, CtrlHListsTheTimelineEnterOpensAnEntryAndDeleteAsksFirst)
{
    const int id = addContact("Adams", "Ann");
    for (const auto& [day, subject] : {std::pair{1, "Oldest"}, {2, "Middle"}, {3, "Newest"}})
        exec(sConnContacts, QStringLiteral("INSERT into history(contact_id,kind,direction,histdate,subject,note,outcome,"
                                           "author,contact_name)values(%1,'Note','',#3/%2/2027#,'%3','','','t','Ann Lee')")
                                .arg(id)
                                .arg(day)
                                .arg(subject));
    showFirstContact();
    EXPECT_EQ(panelLines().size(), 3);
    desk.onModal("frmHistory", [&](QDialog& d) {
        auto& h = static_cast<frmHistory&>(d);
        h.lstHistory->setFocus();
        ASSERT_EQ(h.lstHistory->count(), 3);
        EXPECT_TRUE(h.lstHistory->item(0)->text().endsWith("Newest"));
        press(&d, Qt::Key_Down);
        desk.onModal("frmLogEntry", [&](QDialog& e) {
            auto& f = static_cast<frmLogEntry&>(e);
            EXPECT_EQ(f.txtSubject->text(), "Middle");
            f.txtSubject->selectAll();
            type(&e, "Middle, changed");
            press(&e, Qt::Key_S, Qt::AltModifier);
        });
        press(&d, Qt::Key_Return);
        QTest::qWait(0); // the entry opens once the key is handled
        QCoreApplication::processEvents();
        EXPECT_TRUE(h.lstHistory->item(1)->text().endsWith("Middle, changed"));
        desk.answerNo();
        h.lstHistory->setFocus();
        press(&d, Qt::Key_Delete);
        EXPECT_EQ(h.lstHistory->count(), 3);
        desk.answerYes();
        press(&d, Qt::Key_Delete);
        EXPECT_EQ(h.lstHistory->count(), 2);
        press(&d, Qt::Key_Escape);
    });
    press(w.get(), Qt::Key_H, Qt::ControlModifier);
    EXPECT_EQ(panelLines().size(), 2);
    EXPECT_EQ(rows(sConnContacts, "select subject from history order by histdate"),
              (std::vector<QStringList>{{"Oldest"}, {"Newest"}}));
    // The deleted entry waits in the trash: Ctrl+Z puts it back where it stood.
    ASSERT_TRUE(activated(w.get()));
    press(w.get(), Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(rows(sConnContacts, "select subject from history order by histdate"),
              (std::vector<QStringList>{{"Oldest"}, {"Middle, changed"}, {"Newest"}}));
}
