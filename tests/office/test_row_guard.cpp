// Two running copies on one set of data: a save checks the row is still as its editor saw it.
#include "calendar/frmAppt.h"
#include "contacts/frmLead.h"
#include "data/Globals.h"
#include "data/RowGuard.h"
#include "data/modData.h"
#include "tests/contacts/Common.h"

#include <QTest>

using namespace kestrel;
using namespace kestrel::test;

class RowGuardTest : public KestrelTest {
protected:
    QString stored(const QString& sql) { return joined(rows(sConnContacts, sql)); }
    // Types into a box of a shown, active window as a person does: click, select all, type.
    static void retype(QWidget* box, const QString& text)
    {
        QTest::mouseClick(box, Qt::LeftButton);
        QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(box, text);
    }
    static void activate(QWidget& w)
    {
        w.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    }
};

TEST_F(RowGuardTest, ASaveWritesOnlyWhileTheRowIsAsItWasSeenAndTellsAChangeFromADeletion)
{
    struct Case {
        const char* underneath; // what another copy does between the read and the save
        SaveOutcome outcome;
        const char* stored;
    };
    const Case cases[] = {
        {"", SaveOutcome::Saved, "Mine"},
        {"update contacts set company='Theirs'", SaveOutcome::Changed, "Theirs"},
        {"update contacts set company=Null", SaveOutcome::Changed, "<null>"}, // an empty text and a null differ
        {"update contacts set company='Co', city='Tr', zip='oy'", SaveOutcome::Changed, "Co"}, // values shifted between columns
        {"delete from contacts", SaveOutcome::Deleted, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.underneath);
        exec(sConnContacts, "delete from contacts");
        exec(sConnContacts, "INSERT into contacts(id,lastname,firstname,company,city,zip)values(3,'Lee','Ann','Co','T','roy')");
        const RowKey row{QStringLiteral("contacts"), QStringLiteral("id"), 3};
        const QString seen = rowVersion(sConnContacts, row);
        ASSERT_FALSE(seen.isEmpty());
        if (*c.underneath)
            exec(sConnContacts, c.underneath);
        const GuardedSave r = saveIfUnchanged(sConnContacts, row, seen, "update contacts set company='Mine' where id=3");
        EXPECT_EQ(r.outcome, c.outcome);
        EXPECT_EQ(stored("select company from contacts"), c.stored);
        // A save over the other change names the version found, and then goes through.
        if (c.outcome == SaveOutcome::Changed) {
            EXPECT_EQ(saveIfUnchanged(sConnContacts, row, r.current, "update contacts set company='Mine' where id=3").outcome,
                      SaveOutcome::Saved);
        }
    }
    EXPECT_EQ(rowVersion(sConnContacts, {QStringLiteral("contacts"), QStringLiteral("id"), 99}), "");
}

TEST_F(RowGuardTest, AContactChangedByAnotherCopyIsAskedAboutNoKeepsTheTypingAndYesSavesOverIt)
{
    lLeadID = addContact("Smith", "Ann");
    frmLead f;
    f.bEditMode = true;
    f.show();
    activate(f);
    retype(f.txtLead[4], "Troy");
    exec(sConnContacts, "update contacts set firstname='Anne', company='Acme'"); // the other copy's save
    desk.answerNo();
    QTest::mouseClick(f.cmdSave, Qt::LeftButton);
    EXPECT_TRUE(f.isVisible());
    EXPECT_EQ(f.txtLead[4]->text(), "Troy");
    EXPECT_EQ(stored("select firstname,company,city from contacts"), "Anne|Acme|");
    ASSERT_EQ(desk.prompts.size(), 1u);
    EXPECT_EQ(desk.prompts[0].text, "Someone else changed this contact after this window opened.\n\nSave your changes "
                                    "over theirs? (No keeps this window open with what you typed.)");

    desk.answerYes();
    QTest::mouseClick(f.cmdSave, Qt::LeftButton);
    EXPECT_FALSE(f.isVisible());
    EXPECT_EQ(stored("select firstname,company,city from contacts"), "Ann||Troy");
}

TEST_F(RowGuardTest, AnAppointmentChangedOrDeletedByAnotherCopyIsNeverOverwrittenUnasked)
{
    const int id = addAppt(QDate(2027, 3, 7), QTime(9, 30), "Review");
    frmAppt d;
    d.bEditMode = true;
    d.lApptID = id;
    d.show();
    activate(d);
    retype(d.txtWhere, "Cafe");
    exec(sConnContacts, "update appointments set apptbrief='Lunch'");
    desk.answerNo();
    QTest::mouseClick(d.cmdSave, Qt::LeftButton);
    EXPECT_TRUE(d.isVisible());
    EXPECT_EQ(stored("select apptbrief,address from appointments"), "Lunch|Main office");

    // Then the other copy deletes it: told as a deletion, and No still keeps what was typed.
    exec(sConnContacts, "delete from appointments");
    desk.answerNo();
    QTest::mouseClick(d.cmdSave, Qt::LeftButton);
    EXPECT_TRUE(d.isVisible() && d.apptText(1) == "Cafe");
    ASSERT_EQ(desk.prompts.size(), 2u);
    EXPECT_TRUE(desk.prompts[1].text.startsWith("This appointment was deleted or changed elsewhere"));
    EXPECT_EQ(stored("select count(*) from appointments"), "0");
}
