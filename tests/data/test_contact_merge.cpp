// When two contacts are one person: the rule on real cases and the search over many contacts; and
// merging two stored contacts loses nothing, is guarded like any save, and is taken back exactly.
#include "data/ContactMatch.h"
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

ContactRecord person(const char* first, const char* last, const char* company = "", const char* email = "",
                     const char* cell = "", const char* work = "", const char* address = "", const char* city = "")
{
    return {.lastname = last, .firstname = first, .company = company, .address = address, .city = city, .cellph = cell,
            .workph = work, .email = email};
}

const char* said(Likeness l)
{
    return l == Likeness::Same ? "same" : l == Likeness::Possibly ? "possibly" : "different";
}

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

TEST(ContactMatch, TheRuleOnRealCases)
{
    const struct {
        const char* why;
        ContactRecord a, b;
        const char* expected;
    } cases[] = {
        {"a file with fewer fields: accents, and the city where one has no street",
         person("René", "Dupré", "Café Noir", "", "", "", "1 Rue", "Paris"), person("Rene", "DUPRE", "", "", "", "", "", "paris"),
         "same"},
        {"first and last name swapped, one e-mail", person("Dupré", "René", "", "rene@noir.example"),
         person("René", "Dupré", "", "RENE@noir.example "), "same"},
        {"punctuation and case of the name, a phone written two ways",
         person("Siobhán", "O'Brien", "", "", "(415) 555-0199"), person("siobhan", "OBRIEN", "", "", "", "+1 415.555.0199"),
         "same"},
        {"the company written another way", person("Ann", "Lee", "Acme Widgets, Inc."), person("ann", "lee", "ACME widgets inc"),
         "same"},
        {"colleagues sharing a mailbox", person("Ann", "Lee", "Acme", "info@acme.example"),
         person("Bob", "Ray", "Acme", "info@acme.example"), "possibly"},
        {"one switchboard number, two people", person("Ann", "Lee", "", "", "", "217-555-0100"),
         person("Cy", "Moss", "", "", "217 555 0100"), "possibly"},
        {"a company-only card and a person of that company with its phone", person("", "", "Acme Widgets", "", "", "217-555-0100"),
         person("Ann", "Lee", "ACME Widgets", "", "", "2175550100"), "same"},
        {"two company-only cards with one e-mail", person("", "", "Acme", "sales@acme.example"),
         person("", "", "acme", "sales@acme.example"), "same"},
        {"a company-only card whose company alone agrees", person("", "", "Acme", "", "", "217-555-0100"),
         person("Ann", "Lee", "Acme", "", "", "217-555-0199"), "different"},
        {"the same name and nothing else to go by", person("John", "Smith"), person("John", "Smith", "Acme"), "possibly"},
        {"the same name, and different companies", person("John", "Smith", "Bolt"), person("John", "Smith", "Acme"),
         "different"},
        {"blank fields never agree", person("", "", "", "", "", "", "", ""), person("", "", "", "", "", "", "", ""), "different"},
        {"the same name on two streets of one city", person("John", "Smith", "", "", "", "", "1 Oak St", "Springfield"),
         person("John", "Smith", "", "", "", "", "9 Elm Ave", "Springfield"), "different"},
        {"the same name at one address written two ways", person("John", "Smith", "", "", "", "", "1 Oak St.", "Springfield"),
         person("john", "smith", "", "", "", "", "1 oak st", ""), "same"},
        {"an extension is not a phone", person("Ann", "Lee", "", "", "", "12"), person("Bob", "Ray", "", "", "12"), "different"},
        {"one name, numbers that differ only in the area code", person("Ann", "Lee", "", "", "+1 (315) 555-0199"),
         person("Ann", "Lee", "", "", "+1 (415) 555-0199"), "different"},
        {"two people, numbers that differ only in the area code", person("Ann", "Lee", "", "", "+1 (315) 555-0199"),
         person("Bob", "Ray", "", "", "", "415 555 0199"), "different"},
        {"a French number written at home and abroad", person("René", "Dupré", "", "", "01 42 00 00 01"),
         person("Rene", "Dupre", "", "", "", "+33 1 42 00 00 01"), "same"},
        {"names that differ by a word", person("Ann Marie", "Lee", "Acme"), person("Ann", "Lee", "Acme", "", "", "1"), "different"},
    };
    for (const auto& c : cases) {
        const Likeness forward = compareContacts(matchKeys(c.a), matchKeys(c.b));
        const Likeness backward = compareContacts(matchKeys(c.b), matchKeys(c.a));
        EXPECT_STREQ(said(forward), c.expected) << c.why;
        EXPECT_EQ(forward, backward) << c.why;
    }
    EXPECT_EQ(nameKey(QStringLiteral("René"), QStringLiteral("Dupré-Laval")), QStringLiteral("dupre laval rene"));
    EXPECT_TRUE(samePhone(phoneKey(QStringLiteral("+49 30 1234567")), phoneKey(QStringLiteral("030 1234567"))));
    EXPECT_TRUE(samePhone(phoneKey(QStringLiteral("+44 20 7946 0958")), phoneKey(QStringLiteral("020 7946 0958"))));
    EXPECT_FALSE(samePhone(phoneKey(QStringLiteral("555 0199")), phoneKey(QStringLiteral("+1 415 555 0199"))));
    EXPECT_EQ(phoneKey(QStringLiteral("x12")), 0u);
    EXPECT_FALSE(samePhone(0, 0));
}

TEST(ContactMatch, TheSearchComparesOnlyWhatSharesAKeyStrongestFirstAndCanBeCancelled)
{
    std::vector<ContactRecord> people = {
        person("Ann", "Lee", "Acme", "info@acme.example", "", "", "1 Oak St", "Troy"),        // 0
        person("Bob", "Ray", "Acme", "info@acme.example"),                                     // 1: 0 possibly
        person("ann", "LEE", "", "", "", "", "", "troy"),                                     // 2: 0 same (city)
        person("Lee", "Ann", "ACME", "info@acme.example", "", "", "1 Oak St", "Troy"),        // 3: 0 same by 4, 2 same
        person("Cy", "Moss", "", "", "555-0100-22"),                                          // 4
        person("", "", "", "", "", "", "", ""),                                               // 5: blank
        person("", "", "", "", "", "", "", ""),                                               // 6: blank
    };
    std::vector<MatchKeys> keys;
    for (const auto& p : people)
        keys.push_back(matchKeys(p));
    QStringList found;
    for (const DuplicatePair& p : findDuplicatePairs(keys))
        found << QStringLiteral("%1-%2 %3 %4").arg(p.first).arg(p.second).arg(QLatin1String(said(p.likeness))).arg(p.strength);
    EXPECT_EQ(found.join(u'|'), QStringLiteral("0-3 same 4|0-2 same 2|2-3 same 2|0-1 possibly 2|1-3 possibly 2"));

    // A mailbox shared by a whole office pairs no one by itself; the names still do.
    std::vector<MatchKeys> office;
    for (int i = 0; i < kMaxSharedKey + 1; ++i)
        office.push_back(matchKeys(person("Person", qPrintable(QStringLiteral("Number%1").arg(QChar(u'A' + i % 26)) +
                                                                  QString::number(i)),
                                          "", "all@office.example")));
    office.push_back(matchKeys(person("Person", "NumberA0", "", "all@office.example")));
    const auto officePairs = findDuplicatePairs(office);
    ASSERT_EQ(officePairs.size(), 1u);
    EXPECT_EQ(officePairs[0].first, 0);
    EXPECT_EQ(officePairs[0].second, kMaxSharedKey + 1);

    // A name borne by very many contacts still pairs the two of them whose phones agree, and only them.
    std::vector<MatchKeys> smiths;
    for (int i = 0; i < kLargeNameGroup + 10; ++i)
        smiths.push_back(matchKeys(person("John", "Smith", "", "", qPrintable(QStringLiteral("+1 212 555 %1").arg(1000 + i)))));
    smiths.push_back(matchKeys(person("Smith", "JOHN", "", "", "", "212.555.1007")));
    const auto smithPairs = findDuplicatePairs(smiths);
    ASSERT_EQ(smithPairs.size(), 1u);
    EXPECT_EQ(smithPairs[0].first, 7);
    EXPECT_EQ(smithPairs[0].second, kLargeNameGroup + 10);
    EXPECT_EQ(smithPairs[0].likeness, Likeness::Same);

    bool cancelled = false;
    int calls = 0;
    EXPECT_TRUE(findDuplicatePairs(keys, [&](qint64, qint64) { return ++calls < 1; }, &cancelled).empty());
    EXPECT_TRUE(cancelled);
}

TEST(ContactMatch, CardsTheSameThroughAThirdAreOneGroupAndAMerelyPossiblePairStaysAPair)
{
    using L = Likeness;
    // 0~1 and 1~2 the same (0 and 2 only through 1), 2~0 possibly; 3~4 possibly; 1~3 possibly.
    const std::vector<DuplicatePair> pairs{{1, 2, L::Same, 3}, {0, 1, L::Same, 2}, {3, 4, L::Possibly, 1},
                                           {0, 2, L::Possibly, 1}, {1, 3, L::Possibly, 1}};
    QStringList out;
    for (const DuplicateGroup& g : groupDuplicates(pairs)) {
        QStringList ids;
        for (const int m : g.members)
            ids << QString::number(m);
        out << QString::fromLatin1(g.likeness == L::Same ? "same " : "possibly ") + ids.join(u',');
    }
    EXPECT_EQ(out, (QStringList{"same 0,1,2", "possibly 3,4", "possibly 1,3"}));
}

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
