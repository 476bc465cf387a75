// The contacts' history on both engines: entries read newest first, past appointments written
// into it before the purge may take them, a contact deleted with or without its history, the
// row-version guard over an entry, and Find reaching a contact by a word of its history.
#include "data/ContactMerge.h"
#include "data/Database.h"
#include "data/Globals.h"
#include "data/History.h"
#include "data/HistoryRecord.h"
#include "data/Housekeeping.h"
#include "data/RowGuard.h"
#include "data/SearchIndex.h"
#include "data/Trash.h"
#include "data/modData.h"
#include "data/Office.h"
#include "data/PgEngine.h"
#include "tests/support/Fixture.h"
#include "ui/Report.h"

using namespace kestrel;
using kestrel::test::KestrelTest;

class HistoryTest : public KestrelTest {
protected:
    qint64 log(int contact, const QDate& d, const QTime& t, const QString& kind, const QString& subject,
               const QString& note = {}, const QString& outcome = {})
    {
        const HistoryEntry e{.contactId = contact, .kind = kind, .date = d, .time = t, .subject = subject, .note = note, .outcome = outcome};
        EXPECT_TRUE(ActionQuery(HistoryInsertStatement(e, QStringLiteral("tester"), now), sConnContacts));
        return rows(sConnContacts, QStringLiteral("select max(id) from history"))[0][0].toLongLong();
    }
    QStringList subjects(const std::vector<HistoryEntry>& entries) const
    {
        QStringList out;
        for (const HistoryEntry& e : entries)
            out << e.subject;
        return out;
    }
    // Each contact's last contact as the lists read it; and that it is what the entries say.
    QString lastContacts()
    {
        QStringList out;
        for (const QStringList& r : rows(sConnContacts, QStringLiteral("select lastname,") + LastContactColumn() +
                                                            QStringLiteral(" from contacts order by lastname")))
            out << r[0] + u'=' + (r[1] == u"<null>" ? QString() : r[1]);
        EXPECT_EQ(rows(sConnContacts, QStringLiteral("select count(*) from contacts where lastcontact is distinct from "
                                                     "(select max(histdate) from history where contact_id=contacts.id)"))[0][0],
                  QStringLiteral("0"));
        return out.join(u' ');
    }
    QString version(int id) { return rowVersion(sConnContacts, {QStringLiteral("contacts"), QStringLiteral("id"), id}); }
    QDateTime now{QDate(2027, 3, 14), QTime(15, 5)};
};

TEST_F(HistoryTest, EntriesComeNewestFirstAndKeepEveryCharacter)
{
    const int ann = addContact(QStringLiteral("Lee"), QStringLiteral("Ann"));
    const int bo = addContact(QStringLiteral("Baker"), QStringLiteral("Bo"));
    log(ann, QDate(2027, 3, 1), QTime(9, 0), QStringLiteral("Call"), QStringLiteral("First"));
    log(ann, QDate(2027, 3, 14), {}, QStringLiteral("Note"), QStringLiteral("Untimed"));
    log(ann, QDate(2027, 3, 14), QTime(14, 30), QStringLiteral("Call"), QStringLiteral("O'Brien's price list"),
        QStringLiteral("Line one\nLine two — ünïcode"), QStringLiteral("Left message"));
    log(bo, QDate(2027, 4, 1), QTime(8, 0), QStringLiteral("Visit"), QStringLiteral("Not Ann's"));
    const auto latest = latestHistory(sConnContacts, ann, 2);
    ASSERT_EQ(subjects(latest), QStringList({"O'Brien's price list", "Untimed"}));
    EXPECT_EQ(latest[0].note, QStringLiteral("Line one\nLine two — ünïcode"));
    EXPECT_EQ(latest[0].time, QTime(14, 30));
    EXPECT_EQ(latest[0].contactName, QStringLiteral("Ann Lee"));
    EXPECT_EQ(LastContactText(&latest[0]), QStringLiteral("Last contact: 3/14/2027 (Call, Left message)"));
    EXPECT_EQ(HistoryLine(latest[0]), QStringLiteral("3/14/2027 2:30 PM  Call, Left message - O'Brien's price list"));
    EXPECT_EQ(subjects(contactHistory(sConnContacts, ann, QStringLiteral("Call"))),
              QStringList({"O'Brien's price list", "First"}));
    EXPECT_EQ(historyCount(sConnContacts, ann), 3);
    // Each engine stamps the writer: the login name locally, the database user on the server.
    const QString author = rows(sConnContacts, QStringLiteral("select author from history where contact_id=%1").arg(bo))[0][0];
    EXPECT_EQ(author, onServer() ? rows(sConnContacts, QStringLiteral("select current_user"))[0][0] : QStringLiteral("tester"));
}

TEST_F(HistoryTest, APastAppointmentBecomesAMeetingAndOnlyWhatTheHistoryHoldsIsPurged)
{
    const int ann = addContact(QStringLiteral("Lee"), QStringLiteral("Ann"), QStringLiteral("Lead"), QStringLiteral("1 Elm"));
    // Two of one name: the address tells them apart; a name nobody has stays in the calendar.
    addContact(QStringLiteral("Smith"), QStringLiteral("Jo"), QStringLiteral("Lead"), QStringLiteral("5 Oak"));
    const int jo = addContact(QStringLiteral("Smith"), QStringLiteral("Jo"), QStringLiteral("Lead"), QStringLiteral("9 Ash"));
    addContact(QStringLiteral("Twin"), QStringLiteral("Tom"), QStringLiteral("Lead"), QStringLiteral("2 Elm"));
    addContact(QStringLiteral("Twin"), QStringLiteral("Tom"), QStringLiteral("Lead"), QStringLiteral("2 Elm"));
    // The server's own date decides there (the computer's clock counts for nothing); locally the
    // date the caller gives.
    const QDate today = onServer() ? QDate::currentDate() : QDate(2027, 3, 14);
    const QDate longAgo = today.addYears(-3);
    const int old = addAppt(longAgo, QTime(10, 0), QStringLiteral("Old review"), QStringLiteral("Ann Lee"),
                            QStringLiteral("Her office"));
    exec(sConnContacts, QStringLiteral("update appointments set apptnotes='Wants 20 units' where autoid=%1").arg(old));
    const int notHeld = addAppt(today.addDays(-4), QTime(9, 0), QStringLiteral("Demo"), QStringLiteral("Jo Smith"),
                                QStringLiteral("9 Ash"));
    addAppt(longAgo.addDays(1), QTime(9, 0), QStringLiteral("Stranger"), QStringLiteral("Nobody Known"));
    addAppt(longAgo.addDays(2), QTime(9, 0), QStringLiteral("Which Tom?"), QStringLiteral("Tom Twin"), QStringLiteral("2 Elm"));
    addAppt(today, QTime(0, 0), QStringLiteral("Still to come"), QStringLiteral("Ann Lee"));
    // A contact known by one name alone, its last name never written.
    const int cher = addContact(QStringLiteral("X"), QStringLiteral("Cher"));
    exec(sConnContacts, QStringLiteral("update contacts set lastname=NULL where id=%1").arg(cher));
    addAppt(today.addDays(-2), QTime(9, 0), QStringLiteral("Cher's call"), QStringLiteral("Cher"));
    ASSERT_TRUE(markAppointment(sConnContacts, notHeld, false, now));

    const RecordedAppointments done = recordPastAppointments(sConnContacts, today, QStringLiteral("me"), now);
    EXPECT_EQ(done.written, 3);
    EXPECT_EQ(done.matched, 3);
    EXPECT_EQ(contactHistory(sConnContacts, cher, {}).size(), 1u);
    const auto annHistory = contactHistory(sConnContacts, ann, {});
    ASSERT_EQ(annHistory.size(), 1u);
    EXPECT_EQ(annHistory[0].kind, QStringLiteral("Meeting"));
    EXPECT_EQ(annHistory[0].outcome, QStringLiteral("Held"));
    EXPECT_EQ(annHistory[0].date, longAgo);
    EXPECT_EQ(annHistory[0].note, QStringLiteral("Where: Her office\nWants 20 units"));
    const auto joHistory = contactHistory(sConnContacts, jo, {});
    ASSERT_EQ(joHistory.size(), 1u);
    EXPECT_EQ(joHistory[0].outcome, QStringLiteral("Not held"));
    // Once more: nothing is written twice.
    EXPECT_EQ(recordPastAppointments(sConnContacts, today, QStringLiteral("me"), now).written, 0);

    // The daily purge of what is two years old takes the recorded one alone.
    EXPECT_EQ(purgeOldAppointments(sConnContacts, today).deleted, 1);
    EXPECT_EQ(rows(sConnContacts, QStringLiteral("select apptbrief from appointments order by apptdate")),
              (std::vector<QStringList>{{"Stranger"}, {"Which Tom?"}, {"Demo"}, {"Cher's call"}, {"Still to come"}}));
    EXPECT_EQ(contactHistory(sConnContacts, ann, {}).size(), 1u);

    // Marked held afterwards, the entry follows.
    ASSERT_TRUE(markAppointment(sConnContacts, notHeld, true, now));
    EXPECT_EQ(contactHistory(sConnContacts, jo, {})[0].outcome, QStringLiteral("Held"));
    EXPECT_FALSE(markAppointment(sConnContacts, old, true, now)); // purged: nothing to mark
}

TEST_F(HistoryTest, ADeletedContactsHistoryGoesOnlyWhenAskedAndIsNeverNameless)
{
    const int ann = addContact(QStringLiteral("Lee"), QStringLiteral("Ann"));
    const int bo = addContact(QStringLiteral("Baker"), QStringLiteral("Bo"));
    log(ann, QDate(2027, 3, 1), QTime(9, 0), QStringLiteral("Call"), QStringLiteral("Kept"));
    log(bo, QDate(2027, 3, 1), QTime(9, 0), QStringLiteral("Call"), QStringLiteral("Gone"));
    exec(sConnContacts, QStringLiteral("update contacts set firstname='Anne' where id=%1").arg(ann));
    EXPECT_EQ(DeleteContact(sConnContacts, ann, false), 1);
    EXPECT_EQ(DeleteContact(sConnContacts, bo, true), 1);
    EXPECT_EQ(DeleteContact(sConnContacts, bo, true), 0);
    const auto orphans = contactHistory(sConnContacts, 0, {});
    ASSERT_EQ(subjects(orphans), QStringList({"Kept"}));
    EXPECT_EQ(orphans[0].contactName, QStringLiteral("Anne Lee")); // the name as it stood at the end
    EXPECT_EQ(rows(sConnContacts, QStringLiteral("select count(*) from history"))[0][0], QStringLiteral("1"));
}

TEST_F(HistoryTest, TheLastContactFollowsTheEntriesThroughEditsDeletesTheTrashAndMerges)
{
    const int ann = addContact(QStringLiteral("Lee"), QStringLiteral("Ann"));
    const int bo = addContact(QStringLiteral("Baker"), QStringLiteral("Bo"));
    const int cy = addContact(QStringLiteral("Cole"), QStringLiteral("Cy"));
    const QString annSeen = version(ann);
    const qint64 first = log(ann, QDate(2027, 3, 1), QTime(9, 0), QStringLiteral("Call"), QStringLiteral("First"));
    const qint64 newest = log(ann, QDate(2027, 3, 14), {}, QStringLiteral("Note"), QStringLiteral("Newest"));
    log(bo, QDate(2026, 12, 24), {}, QStringLiteral("Visit"), QStringLiteral("Bo's"));
    log(cy, QDate(2027, 5, 2), {}, QStringLiteral("Call"), QStringLiteral("Cy's"));
    EXPECT_EQ(lastContacts(), QStringLiteral("Baker=12/24/2026 Cole=5/2/2027 Lee=3/14/2027"));
    // Logging a call is no edit of the card: an editor open on it saves unasked.
    EXPECT_EQ(version(ann), annSeen);

    HistoryEntry moved = *historyEntry(sConnContacts, newest);
    moved.date = QDate(2027, 2, 1);
    ASSERT_TRUE(ActionQuery(HistoryUpdateStatement(moved, now), sConnContacts));
    EXPECT_EQ(lastContacts(), QStringLiteral("Baker=12/24/2026 Cole=5/2/2027 Lee=3/1/2027"));
    ASSERT_TRUE(ActionQuery(HistoryDeleteStatement(first), sConnContacts));
    EXPECT_EQ(lastContacts(), QStringLiteral("Baker=12/24/2026 Cole=5/2/2027 Lee=2/1/2027"));

    // To the trash with the history and back; then without it, and its kept entry deleted meanwhile.
    const QString both = trashContact(sConnContacts, bo, true, QStringLiteral("Bo Baker"));
    EXPECT_EQ(lastContacts(), QStringLiteral("Cole=5/2/2027 Lee=2/1/2027"));
    ASSERT_EQ(restoreFromTrash(sConnContacts, both), 2);
    EXPECT_EQ(lastContacts(), QStringLiteral("Baker=12/24/2026 Cole=5/2/2027 Lee=2/1/2027"));
    const QString alone = trashContact(sConnContacts, bo, false, QStringLiteral("Bo Baker"));
    exec(sConnContacts, QStringLiteral("delete from history where contact_id=%1").arg(bo));
    ASSERT_EQ(restoreFromTrash(sConnContacts, alone), 1);
    EXPECT_EQ(lastContacts(), QStringLiteral("Baker= Cole=5/2/2027 Lee=2/1/2027"));

    // Cy's newer entry comes to Ann with the merge, and goes back with its undo.
    ContactRecord a, c;
    ASSERT_TRUE(readContact(sConnContacts, ann, &a));
    ASSERT_TRUE(readContact(sConnContacts, cy, &c));
    const MergeResult merged = mergeContacts(sConnContacts, a, version(ann), c, version(cy), mergedContact(a, c, preselectMerge(a, c)));
    ASSERT_EQ(merged.outcome, MergeOutcome::Merged);
    // (The kept card took the longer name, Cole, too.)
    EXPECT_EQ(lastContacts(), QStringLiteral("Baker= Cole=5/2/2027"));
    ASSERT_EQ(undoMerge(sConnContacts, merged.undo), UndoOutcome::Undone);
    EXPECT_EQ(lastContacts(), QStringLiteral("Baker= Cole=5/2/2027 Lee=2/1/2027"));
}

TEST_F(HistoryTest, AnEntryChangedByAnotherCopyIsNotOverwrittenUnseen)
{
    const int ann = addContact(QStringLiteral("Lee"), QStringLiteral("Ann"));
    const qint64 id = log(ann, QDate(2027, 3, 1), QTime(9, 0), QStringLiteral("Call"), QStringLiteral("Mine"));
    const QString seen = rowVersion(sConnContacts, historyRow(id));
    ASSERT_FALSE(seen.isEmpty());
    HistoryEntry theirs = *historyEntry(sConnContacts, id);
    theirs.subject = QStringLiteral("Theirs");
    ASSERT_TRUE(ActionQuery(HistoryUpdateStatement(theirs, now), sConnContacts));
    HistoryEntry mine = theirs;
    mine.subject = QStringLiteral("Mine, changed");
    EXPECT_EQ(saveIfUnchanged(sConnContacts, historyRow(id), seen, HistoryUpdateStatement(mine, now)).outcome,
              SaveOutcome::Changed);
    EXPECT_EQ(historyEntry(sConnContacts, id)->subject, QStringLiteral("Theirs"));
    ASSERT_TRUE(ActionQuery(HistoryDeleteStatement(id), sConnContacts));
    EXPECT_EQ(saveIfUnchanged(sConnContacts, historyRow(id), seen, HistoryUpdateStatement(mine, now)).outcome,
              SaveOutcome::Deleted);
}

TEST_F(HistoryTest, FindReachesAContactByAWordOfItsHistoryAndForgetsItWhenTheEntryGoes)
{
    const int ann = addContact(QStringLiteral("Lee"), QStringLiteral("Ann"));
    addContact(QStringLiteral("Baker"), QStringLiteral("Bo"));
    EXPECT_TRUE(findContacts(sConnContacts, QStringLiteral("pelican"), 10).rows.empty()); // the index is built now
    const qint64 id = log(ann, QDate(2027, 3, 1), QTime(9, 0), QStringLiteral("Call"), QStringLiteral("Prices"),
                          QStringLiteral("Asked about the Pélican model"));
    const auto found = findContacts(sConnContacts, QStringLiteral("pelican lee"), 10);
    ASSERT_EQ(found.rows.size(), 1u);
    EXPECT_EQ(found.rows[0].id, ann);
    ASSERT_TRUE(ActionQuery(HistoryDeleteStatement(id), sConnContacts));
    EXPECT_TRUE(findContacts(sConnContacts, QStringLiteral("pelican"), 10).rows.empty());
}

TEST_F(HistoryTest, OnTheServerEachEntryIsWrittenByItsDatabaseUserAndTwoUsersEditsAreGuarded)
{
    if (!onServer())
        GTEST_SKIP() << "needs the test server (the server.* run)";
    // A colleague in the office's group, and a role outside it that was even let in to the
    // database and its schema.
    makeOfficeRoles(QStringLiteral("hist"), true);
    const QString& role = colleague;
    pg::runMaintenance(adminConninfo(), QStringLiteral("GRANT USAGE ON SCHEMA public TO %1").arg(outsider));
    const QString other = serverConnectionText(memberConninfo(role));
    // The notes of calls are the office's own: outside the group nothing is read or written;
    // inside it rows only.
    const QString outside = memberConninfo(outsider);
    EXPECT_THROW(pg::runMaintenance(outside, QStringLiteral("SELECT count(*) FROM history")), DbError);
    EXPECT_THROW(pg::runMaintenance(outside, QStringLiteral("INSERT INTO history(histdate) VALUES('2027-03-14')")), DbError);
    EXPECT_THROW(pg::runMaintenance(memberConninfo(role), QStringLiteral("TRUNCATE history")), DbError);
    EXPECT_THROW(pg::runMaintenance(memberConninfo(role), QStringLiteral("ALTER TABLE history ADD COLUMN x int")), DbError);
    const int ann = addContact(QStringLiteral("Lee"), QStringLiteral("Ann"));
    const HistoryEntry e{.contactId = ann, .kind = QStringLiteral("Call"), .date = QDate(2027, 3, 14), .subject = QStringLiteral("Theirs")};
    // The name a client claims and its clock count for nothing: the server stamps both.
    EXPECT_TRUE(ActionQuery(HistoryInsertStatement(e, QStringLiteral("forged"), QDateTime(QDate(1999, 1, 1), QTime(0, 0))), other));
    const auto written = contactHistory(sConnContacts, ann, {});
    ASSERT_EQ(written.size(), 1u);
    EXPECT_EQ(written[0].author, role);
    EXPECT_NE(written[0].created.left(4), QStringLiteral("1999"));
    // Both open it; the other user saves first; this user's save asks instead of overwriting.
    const QString seen = rowVersion(sConnContacts, historyRow(written[0].id));
    HistoryEntry theirs = written[0], mine = written[0];
    theirs.outcome = QStringLiteral("Done");
    EXPECT_EQ(saveIfUnchanged(other, historyRow(theirs.id), rowVersion(other, historyRow(theirs.id)),
                              HistoryUpdateStatement(theirs, now))
                  .outcome,
              SaveOutcome::Saved);
    mine.outcome = QStringLiteral("No answer");
    EXPECT_EQ(saveIfUnchanged(sConnContacts, historyRow(mine.id), seen, HistoryUpdateStatement(mine, now)).outcome,
              SaveOutcome::Changed);
    EXPECT_EQ(historyEntry(sConnContacts, mine.id)->outcome, QStringLiteral("Done"));
    EXPECT_EQ(historyEntry(sConnContacts, mine.id)->author, role); // a change keeps who wrote it
    // The member's entry set the last contact (the triggers run with the member's own rights);
    // writing the column, or a new row with it, never makes it say what the entries do not.
    pg::runMaintenance(memberConninfo(role), QStringLiteral("UPDATE contacts SET lastcontact='2099-01-01' WHERE id=%1; "
                                                            "INSERT INTO contacts(lastname,lastcontact) VALUES('Forged','2099-01-01')")
                                                 .arg(ann));
    EXPECT_EQ(lastContacts(), QStringLiteral("Forged= Lee=3/14/2027"));
}
