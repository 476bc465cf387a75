// Merging two stored contacts loses nothing, is guarded like any save, and is taken back exactly.
#include "data/ContactMerge.h"
#include "data/Database.h"
#include "data/Globals.h"
#include "data/History.h"
#include "data/RowGuard.h"
#include "data/modData.h"
#include "tests/support/Fixture.h"
#include "tests/support/PrintQString.h"

using namespace kestrel;
using kestrel::test::KestrelTest;

namespace {

class MergeTest : public KestrelTest {
protected:
    int add(const QString& values)
    {
        exec(sConnContacts, QStringLiteral("INSERT into contacts(lastname,firstname,company,address,city,st,zip,homeph,"
                                           "cellph,workph,ext,email,active,contype,notes,birthday)values(") + values + u')');
        return rows(sConnContacts, QStringLiteral("select max(id) from contacts")).at(0).at(0).toInt();
    }
    // Every row of the three tables, every column but the server's row versions (and, there, the
    // time the server stamps on every change of an entry).
    std::vector<QStringList> everything()
    {
        auto out = rows(sConnContacts, QStringLiteral("select id,") + allContactColumns() +
                                           QStringLiteral(",active from contacts order by id"));
        for (auto& r : rows(sConnContacts, QStringLiteral("select autoid,name,address,apptdate,appttime,apptbrief,apptnotes,"
                                                          "contact_id,outcome,recorded from appointments order by autoid")))
            out.push_back(r);
        const QString changed = onServer() ? QString() : QStringLiteral(",changed");
        for (auto& r : rows(sConnContacts, QStringLiteral("select id,contact_id,kind,direction,histdate,histtime,duration,"
                                                          "subject,note,outcome,author,created,appt_id,contact_name") +
                                               changed + QStringLiteral(" from history order by id")))
            out.push_back(r);
        return out;
    }
    void log(int contact, const QString& subject)
    {
        const HistoryEntry e{.contactId = contact, .kind = QStringLiteral("Call"), .date = QDate(2026, 2, 27), .subject = subject};
        exec(sConnContacts, HistoryInsertStatement(e, QStringLiteral("tester"), QDateTime(QDate(2026, 2, 27), QTime(10, 0))));
    }
    ContactRecord read(int id)
    {
        ContactRecord c;
        EXPECT_TRUE(readContact(sConnContacts, id, &c));
        return c;
    }
    QString version(int id) { return rowVersion(sConnContacts, {QStringLiteral("contacts"), QStringLiteral("id"), id}); }
};

} // namespace

TEST_F(MergeTest, ChosenValuesAreKeptAndEveryOtherValueLandsInNotes)
{
    const ContactRecord kept{.lastname = "Dupré", .firstname = "René", .company = "Café Noir", .workph = "01 42 00 00 01",
                             .email = "rene@noir.example", .notes = "Met at the fair.", .id = 3};
    const ContactRecord other{.lastname = "DUPRE", .firstname = "René", .workph = "+33 1 42 00 00 02", .ext = "12",
                              .email = "rene.dupre@home.example", .notes = "Prefers mornings.", .birthday = "--03-07", .id = 8};
    MergeChoice choice = preselectMerge(kept, other);
    // The longer value, the newer one where as long; the same name in other letters keeps the kept one's.
    EXPECT_FALSE(choice[cf::LastName]);
    EXPECT_FALSE(choice[cf::Company]);
    EXPECT_TRUE(choice[cf::WorkPh]);
    EXPECT_TRUE(choice[cf::Ext]);
    EXPECT_TRUE(choice[cf::Email]);
    EXPECT_TRUE(choice[cf::Birthday]);
    choice[cf::Email] = false;
    const ContactRecord merged = mergedContact(kept, other, choice);
    EXPECT_EQ(merged.lastname, QStringLiteral("Dupré"));
    EXPECT_EQ(merged.workph, QStringLiteral("+33 1 42 00 00 02"));
    EXPECT_EQ(merged.ext, QStringLiteral("12"));
    EXPECT_EQ(merged.email, QStringLiteral("rene@noir.example"));
    EXPECT_EQ(merged.birthday, QStringLiteral("--03-07"));
    EXPECT_EQ(merged.notes, QStringLiteral("Prefers mornings.\n\nMerged from René DUPRE:\nWork: 01 42 00 00 01\n"
                                           "Email: rene.dupre@home.example\n\nMet at the fair."));
}

TEST_F(MergeTest, AMergeMovesTheAppointmentsAndHistoryAndItsUndoLeavesEveryRowAsBefore)
{
    const int kept = add("'Dupré','René','Café Noir','1 Rue','Paris','','75001','','','01 42','','rene@noir.example',True,"
                         "'Cust','Met at the fair.','1980-03-07'");
    const int other = add("'Dupre','Rene','','','Paris','','','','06 12','','','',False,'Lead','',''");
    const int bystander = add("'Lee','Ann','','','','','','','','','','',True,'Lead','',''");
    addAppt(QDate(2026, 3, 2), QTime(9, 0), "Tasting", "Rene Dupre");
    addAppt(QDate(2026, 3, 3), QTime(9, 0), "Contract", "René Dupré");
    addAppt(QDate(2026, 3, 4), QTime(9, 0), "Lunch", "Ann Lee");
    // Appointments made for a contact by its key, as the history's follow-ups are.
    const int followUp = addAppt(QDate(2026, 3, 5), QTime(9, 0), "Follow up", "Rene Dupre");
    const int annsCall = addAppt(QDate(2026, 3, 6), QTime(9, 0), "Call back", "Ann Lee");
    exec(sConnContacts, QStringLiteral("update appointments set contact_id=%1 where autoid=%2").arg(other).arg(followUp));
    exec(sConnContacts, QStringLiteral("update appointments set contact_id=%1 where autoid=%2").arg(bystander).arg(annsCall));
    log(other, QStringLiteral("Asked for prices"));
    log(kept, QStringLiteral("Sent the contract"));
    log(other, QStringLiteral("Tasting booked"));
    log(bystander, QStringLiteral("Not René's"));
    const auto before = everything();

    const ContactRecord k = read(kept), o = read(other);
    MergeChoice choice = preselectMerge(k, o);
    choice[cf::FirstName] = choice[cf::LastName] = false;
    const ContactRecord merged = mergedContact(k, o, choice);
    const MergeResult result = mergeContacts(sConnContacts, k, version(kept), o, version(other), merged);
    ASSERT_EQ(result.outcome, MergeOutcome::Merged);
    EXPECT_EQ(rows(sConnContacts, QStringLiteral("select id,lastname,cellph,workph from contacts order by id")),
              (std::vector<QStringList>{{QString::number(kept), "Dupré", "06 12", "01 42"},
                                        {QString::number(bystander), "Lee", "", ""}}));
    EXPECT_EQ(rows(sConnContacts, QStringLiteral("select name from appointments order by autoid")),
              (std::vector<QStringList>{{"René Dupré"}, {"René Dupré"}, {"Ann Lee"}, {"René Dupré"}, {"Ann Lee"}}));
    EXPECT_EQ(rows(sConnContacts, QStringLiteral("select contact_id from appointments where contact_id is not null "
                                                 "order by autoid")),
              (std::vector<QStringList>{{QString::number(kept)}, {QString::number(bystander)}}));
    EXPECT_EQ(rows(sConnContacts, QStringLiteral("select contact_id,subject from history order by id")),
              (std::vector<QStringList>{{QString::number(kept), "Asked for prices"},
                                        {QString::number(kept), "Sent the contract"},
                                        {QString::number(kept), "Tasting booked"},
                                        {QString::number(bystander), "Not René's"}}));
    EXPECT_EQ(historyCount(sConnContacts, kept), 3);

    ASSERT_EQ(undoMerge(sConnContacts, result.undo), UndoOutcome::Undone);
    EXPECT_EQ(everything(), before);
    // The contact taken back is a contact like any other: it can be merged again.
    EXPECT_EQ(mergeContacts(sConnContacts, read(kept), version(kept), read(other), version(other), merged).outcome,
              MergeOutcome::Merged);
}

TEST_F(MergeTest, AGroupOfThreeMergedInTwoStepsIsTakenBackInTwo)
{
    const int a = add("'Lee','Ann','Acme','','','','','','','','','ann@acme.example',True,'Lead','',''");
    const int b = add("'Lee','Ann','','','','','','','2175550100','','','ann@acme.example',True,'Lead','',''");
    const int c = add("'LEE','ANN','Acme','','','','','','','217 555 0100','','',True,'Lead','Second card',''");
    log(b, QStringLiteral("Called"));
    log(c, QStringLiteral("Met"));
    const auto before = everything();
    std::vector<MergeUndo> done;
    for (const int other : {b, c}) {
        const ContactRecord k = read(a), o = read(other);
        const MergeResult r = mergeContacts(sConnContacts, k, version(a), o, version(other), mergedContact(k, o, preselectMerge(k, o)));
        ASSERT_EQ(r.outcome, MergeOutcome::Merged);
        done.push_back(r.undo);
    }
    EXPECT_EQ(historyCount(sConnContacts, a), 2);
    ASSERT_EQ(undoMerge(sConnContacts, done[1], std::span<MergeUndo>(done.data(), 1)), UndoOutcome::Undone);
    ASSERT_EQ(undoMerge(sConnContacts, done[0]), UndoOutcome::Undone);
    EXPECT_EQ(everything(), before);
}

TEST_F(MergeTest, AChangeOrADeleteSinceThePairWasShownStopsTheMergeAndAnEditAfterItStopsTheUndo)
{
    const int kept = add("'Lee','Ann','Acme','','','','','','','','','ann@acme.example',True,'Lead','',''");
    const int other = add("'Lee','Ann','','','','','','','555-0100','','','ann@acme.example',True,'Lead','',''");
    const ContactRecord k = read(kept), o = read(other);
    const QString kv = version(kept), ov = version(other);
    const ContactRecord merged = mergedContact(k, o, preselectMerge(k, o));

    // Another user (or copy) edits the other contact meanwhile: nothing is written.
    exec(sConnContacts, QStringLiteral("UPDATE contacts set notes='Call on Monday' where id=%1").arg(other));
    const auto edited = everything();
    EXPECT_EQ(mergeContacts(sConnContacts, k, kv, o, ov, merged).outcome, MergeOutcome::Changed);
    EXPECT_EQ(everything(), edited);

    exec(sConnContacts, QStringLiteral("DELETE FROM contacts where id=%1").arg(other));
    EXPECT_EQ(mergeContacts(sConnContacts, k, kv, o, ov, merged).outcome, MergeOutcome::Gone);

    const int third = add("'Lee','Ann','','','','','','','555-0100','','','',True,'Lead','',''");
    const MergeResult done = mergeContacts(sConnContacts, k, kv, read(third), version(third), merged);
    ASSERT_EQ(done.outcome, MergeOutcome::Merged);
    exec(sConnContacts, QStringLiteral("UPDATE contacts set company='Acme Ltd' where id=%1").arg(kept));
    const auto later = everything();
    EXPECT_EQ(undoMerge(sConnContacts, done.undo), UndoOutcome::Changed);
    EXPECT_EQ(everything(), later);
}

TEST_F(MergeTest, APairSetAsideIsNotFoundAgain)
{
    const int a = add("'Lee','Ann','','','','','','','','','','info@acme.example',True,'Lead','',''");
    const int b = add("'Ray','Bob','','','','','','','','','','info@acme.example',True,'Lead','',''");
    add("'Moss','Cy','','','','','','','','','','',True,'Lead','',''");
    DuplicateSearch found = searchDuplicates(sConnContacts);
    ASSERT_EQ(found.pairs.size(), 1u);
    EXPECT_EQ(found.pairs[0].likeness, Likeness::Possibly);
    rememberNotSame(sConnContacts, b, a);
    rememberNotSame(sConnContacts, a, b); // said twice, kept once
    EXPECT_EQ(notSamePairs(sConnContacts), (std::vector<std::pair<int, int>>{{a, b}}));
    EXPECT_TRUE(searchDuplicates(sConnContacts).pairs.empty());
}
