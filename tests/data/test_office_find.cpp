// Find on the office server: the folded search text the server keeps for each contact, its
// trigram index, and who may touch them. Runs in the server run of the data tests (server.*).
#include "data/Database.h"
#include "data/Globals.h"
#include "data/Office.h"
#include "data/PgEngine.h"
#include "data/PgSchema.h"
#include "data/SearchIndex.h"
#include "data/SearchIndexStore.h"
#include "data/TextFold.h"
#include "tests/support/Fixture.h"

#include <QRegularExpression>

using namespace kestrel;
using kestrel::test::KestrelTest;

namespace {

class OfficeFind : public KestrelTest {
protected:
    void SetUp() override
    {
        KestrelTest::SetUp();
        if (IsSkipped())
            return;
        if (!onServer())
            GTEST_SKIP() << "needs the test server (the server.* run)";
        makeOfficeRoles(QStringLiteral("find"), true);
    }
    QString found(const QString& typed)
    {
        QStringList out;
        for (const FoundContact& c : findContacts(sConnContacts, typed, 50).rows)
            out << c.lastName;
        return out.join(u'|');
    }
    QString one(const QString& conn, const QString& sql) { return rows(conn, sql).at(0).at(0); }
    // "Last First #id|...|more…" of the first limit contacts Find lists for typed.
    QString listed(const QString& typed, int limit)
    {
        const FoundContacts f = findContacts(sConnContacts, typed, limit);
        QStringList out;
        for (const FoundContact& c : f.rows)
            out << QStringLiteral("%1 %2 #%3").arg(c.lastName, c.firstName).arg(c.id);
        if (f.more)
            out << QStringLiteral("more…");
        return out.join(u'|');
    }
};

TEST_F(OfficeFind, TheServerFoldsAsTheProgramDoesKeepsTheTextWhoeverWritesAndOnlyKestrelMayChangeTheIndex)
{
    // The server looks for the typed words folded by its own rules, which agree with the
    // program's or fold further: otherwise the index would pass over a contact the program finds.
    QStringList differ;
    QList<char32_t> letters{U'ẞ', U'ﬁ', U'Σ', U'ς', U'Ё', U'İ', U'Ǆ'};
    for (char32_t c = 0xC0; c <= 0x24F; ++c)
        letters << c;
    for (const char32_t c : letters) {
        const QString letter = QString::fromUcs4(&c, 1);
        const QString mine = foldedText(letter);
        if (one(sConnContacts, QStringLiteral("select kestrel_fold('%1') = kestrel_fold('%2')").arg(letter, mine)) != u"True")
            differ << letter + u' ' + mine;
    }
    EXPECT_TRUE(differ.isEmpty()) << differ.join(u'\n').toStdString();
    // ASCII it folds exactly as the program does: typed ASCII is looked up without asking it first.
    QString ascii;
    for (char16_t c = 0x20; c < 0x7F; ++c)
        ascii += foldedText(QString(QChar(c)));
    EXPECT_EQ(one(sConnContacts, QStringLiteral("select string_agg(kestrel_fold(chr(n)), '' order by n) from "
                                                "generate_series(32, 126) n")),
              ascii);

    exec(sConnContacts, QStringLiteral("insert into contacts(lastname,firstname,company,city,homeph,birthday,notes) values"
                                       "('Østergaard','Zoë','Straße GmbH','Århus','(415) 555-0199','1980-07-04','met 50%_off'),"
                                       "('Oster','Zoe','Acme','Bonn','','--12-31',''),"
                                       "('Lee','Ann','Acme','Bonn','','','')"));
    EXPECT_EQ(found(QStringLiteral("OSTER zoe")), QStringLiteral("Oster|Østergaard"));
    EXPECT_EQ(found(QStringLiteral("strasse aarhus")), QString()); // Å folds to a, not aa
    EXPECT_EQ(found(QStringLiteral("strasse arhus 415-555")), QStringLiteral("Østergaard"));
    EXPECT_EQ(found(QStringLiteral("741980")), QStringLiteral("Østergaard")); // 7/4/1980
    EXPECT_EQ(found(QStringLiteral("1231")), QStringLiteral("Oster"));
    EXPECT_EQ(found(QStringLiteral("50%_")), QStringLiteral("Østergaard"));
    EXPECT_EQ(found(QStringLiteral("5_%")), QString()); // the wildcards are plain characters
    // A member who writes the text directly gets what the row says, and a change is followed.
    exec(sConnContacts, QStringLiteral("update contacts set findtext = 'nobody' where lastname = 'Lee'"));
    exec(sConnContacts, QStringLiteral("update contacts set city = 'Zürich' where lastname = 'Oster'"));
    EXPECT_EQ(found(QStringLiteral("acme")), QStringLiteral("Lee|Oster"));
    EXPECT_EQ(found(QStringLiteral("zurich")), QStringLiteral("Oster"));

    // The step fills the text of rows that lack it without raising their versions.
    const QString admin = serverConnectionText(adminConninfo());
    exec(admin, QStringLiteral("alter table contacts disable trigger contacts_findtext"));
    exec(admin, QStringLiteral("update contacts set findtext = null"));
    exec(admin, QStringLiteral("alter table contacts enable trigger contacts_findtext"));
    const QString versions = QStringLiteral("select string_agg(rowver::text, ',' order by id) from contacts");
    const QString before = one(admin, versions);
    pg::runMaintenance(adminConninfo(), QStringLiteral("BEGIN; SET LOCAL ROLE kestrel_owner; %1; COMMIT")
                                            .arg(QString::fromUtf8(pg::schemaSteps()[13].sql)));
    EXPECT_EQ(one(admin, versions), before);
    EXPECT_EQ(found(QStringLiteral("zurich")), QStringLiteral("Oster"));

    for (const char* sql : {"DROP INDEX contacts_by_findtext", "DROP EXTENSION pg_trgm", "ALTER TABLE contacts DROP COLUMN findtext",
                            "ALTER TABLE contacts DISABLE TRIGGER contacts_findtext",
                            "CREATE OR REPLACE FUNCTION kestrel_fold(t text) RETURNS text LANGUAGE sql AS $$SELECT ''$$",
                            "ALTER EXTENSION pg_trgm UPDATE", "CREATE INDEX mine ON contacts USING gin (findtext gin_trgm_ops)",
                            "ALTER TABLE history DISABLE TRIGGER history_findtext", "DROP TRIGGER history_findtext ON history",
                            "CREATE OR REPLACE FUNCTION kestrel_findtext(r jsonb) RETURNS text LANGUAGE sql AS $$SELECT ''$$"})
        EXPECT_FALSE(refusal(colleague, QString::fromLatin1(sql)).isEmpty()) << "taken from a member: " << sql;
    for (const char* sql : {"SELECT findtext FROM contacts", "SELECT kestrel_fold('x')",
                            "UPDATE contacts SET findtext = 'x'"})
        EXPECT_FALSE(refusal(outsider, QString::fromLatin1(sql)).isEmpty()) << "taken from an outsider: " << sql;

    // A server set up before the index searches as it did, with the same answers.
    exec(admin, QStringLiteral("drop index contacts_by_findtext"));
    EXPECT_EQ(found(QStringLiteral("OSTER zoe")), QStringLiteral("Oster|Østergaard"));
    EXPECT_EQ(found(QStringLiteral("acme")), QStringLiteral("Lee|Oster"));
}

TEST_F(OfficeFind, TheWalkInNameOrderAndTheLookupAfterItListWhatAFullReadLists)
{
    // Written out of name order, with an empty name (listed first) and a name held three times.
    exec(sConnContacts, QStringLiteral("insert into contacts(lastname,firstname,company,city) values"
                                       "('Zeller','Ann','Acme','Bonn')"));
    for (int i = 0; i < 32; ++i)
        exec(sConnContacts, QStringLiteral("insert into contacts(lastname,firstname,company,city) values"
                                           "('Baker','F%1','Acme','Rome')").arg(i, 2, 10, QLatin1Char('0')));
    exec(sConnContacts, QStringLiteral("insert into contacts(lastname,firstname,company,city) values"
                                       "('Kowalski','Anna','Acme','Bonn'),('Lund','Eva','Acme','Bonn'),"
                                       "('Kowalski','Anna','Acme','Bonn'),(null,'Nobody','Acme','Bonn'),"
                                       "('Adler','Cy','Acme','Bonn'),('Kowalski','Anna','Acme','Bonn'),"
                                       "('Adler','Ben','Acme','Bonn')"));
    exec(serverConnectionText(adminConninfo()), QStringLiteral("analyze contacts"));
    // The first 20 in name order hold more than a screenful of "acme" (the walk alone answers)
    // and three of "bonn" (the lookup adds the rest); the others are found beyond them.
    const struct {
        const char* typed;
        int limit;
    } cases[] = {{"acme", 5}, {"bonn", 5}, {"kowalski anna", 2}, {"acme bonn", 8}, {"zeller", 5}, {"f31", 5}};
    searchindex::setWalkFirstRows(20);
    std::vector<QString> walked, judged, looked;
    for (const auto& c : cases) {
        searchindex::setSampledRows(0);
        walked.push_back(listed(QString::fromUtf8(c.typed), c.limit));
        searchindex::setSampledRows(5000); // all 40 counted: "acme" is common, the others rare
        judged.push_back(listed(QString::fromUtf8(c.typed), c.limit));
    }
    searchindex::setWalkFirstRows(0);
    for (const auto& c : cases)
        looked.push_back(listed(QString::fromUtf8(c.typed), c.limit));
    // A walk longer than the table reads it whole, to its first screenful in name order.
    searchindex::setWalkFirstRows(20000);
    std::vector<QString> whole;
    for (const auto& c : cases)
        whole.push_back(listed(QString::fromUtf8(c.typed), c.limit));

    // Without the trigram index every contact is read and folded here.
    exec(serverConnectionText(adminConninfo()), QStringLiteral("drop index contacts_by_findtext"));
    for (size_t i = 0; i < std::size(cases); ++i) {
        const QString full = listed(QString::fromUtf8(cases[i].typed), cases[i].limit);
        EXPECT_EQ(walked[i].toStdString(), full.toStdString()) << cases[i].typed;
        EXPECT_EQ(judged[i].toStdString(), full.toStdString()) << cases[i].typed;
        EXPECT_EQ(looked[i].toStdString(), full.toStdString()) << cases[i].typed;
        EXPECT_EQ(whole[i].toStdString(), full.toStdString()) << cases[i].typed;
    }
    const auto names = [](QString list) { return list.remove(QRegularExpression(QStringLiteral(" #\\d+"))).toStdString(); };
    EXPECT_EQ(names(walked[0]), " Nobody|Adler Ben|Adler Cy|Baker F00|Baker F01|more…");
    EXPECT_EQ(names(walked[1]), " Nobody|Adler Ben|Adler Cy|Kowalski Anna|Kowalski Anna|more…");
    const std::string exact = names(walked[3]);
    EXPECT_EQ(std::count(exact.begin(), exact.end(), '|'), 7); // exactly the limit: no "more…"
}

TEST_F(OfficeFind, TheHistorysWordsFindTheirContactThroughEveryChangeAndRaiseNoVersion)
{
    // A member's entries, as the program writes them; the contacts' versions as an open editor read them.
    exec(sConnContacts, QStringLiteral("insert into contacts(lastname,firstname,company) values('Lee','Ann','Acme'),('Baker','Bo','Acme')"));
    const QString versions = QStringLiteral("select string_agg(rowver::text, ',' order by id) from contacts");
    const QString before = one(sConnContacts, versions);
    // Each has a newer call, so that the last contact, which the history keeps too, stays as it is.
    exec(sConnContacts, QStringLiteral("insert into history(contact_id,histdate,subject) select id,#3/9/2027#,'Call' from contacts"));
    exec(sConnContacts, QStringLiteral("insert into history(contact_id,histdate,subject,note) select id,#3/1/2027#,'Prices',"
                                       "'Asked about the Pélican model' from contacts where lastname = 'Lee'"));
    EXPECT_EQ(found(QStringLiteral("pelican")), QStringLiteral("Lee"));
    EXPECT_EQ(found(QStringLiteral("acme prices")), QStringLiteral("Lee"));
    EXPECT_EQ(found(QStringLiteral("ann pelican")), QStringLiteral("Lee"));
    exec(sConnContacts, QStringLiteral("update history set note = 'Asked about the Heron model' where subject = 'Prices'"));
    EXPECT_EQ(found(QStringLiteral("heron")), QStringLiteral("Lee"));
    EXPECT_EQ(found(QStringLiteral("pelican")), QString());
    exec(sConnContacts, QStringLiteral("update history set contact_id = (select id from contacts where lastname = 'Baker') "
                                       "where subject = 'Prices'"));
    EXPECT_EQ(found(QStringLiteral("heron")), QStringLiteral("Baker"));
    exec(sConnContacts, QStringLiteral("delete from history where subject = 'Prices'"));
    EXPECT_EQ(found(QStringLiteral("heron prices")), QString());
    // Neither contact keeps the entry's words, so neither is a candidate the check throws away.
    EXPECT_EQ(one(sConnContacts, QStringLiteral("select count(*) from contacts where findtext like '%heron%'")), QStringLiteral("0"));
    EXPECT_EQ(one(sConnContacts, versions), before);

    // A server of the version before: its text lacks the history, which Find reads as it did;
    // the step gives the contacts their history's text, versions untouched, as often as it runs.
    const QString admin = serverConnectionText(adminConninfo());
    const auto asOwner = [&](const QString& sql) {
        pg::runMaintenance(adminConninfo(), QStringLiteral("BEGIN; SET LOCAL ROLE kestrel_owner; %1; COMMIT").arg(sql));
    };
    asOwner(QString::fromUtf8(pg::schemaSteps()[9].sql) + QString::fromUtf8(pg::schemaSteps()[13].sql) +
            QStringLiteral("DROP TRIGGER history_findtext ON history"));
    exec(sConnContacts, QStringLiteral("insert into history(contact_id,histdate,subject,note) select id,#3/2/2027#,'Call',"
                                       "'Osprey tickets' from contacts where lastname = 'Lee'"));
    EXPECT_EQ(one(admin, QStringLiteral("select count(*) from contacts where findtext like '%osprey%'")), QStringLiteral("0"));
    EXPECT_EQ(found(QStringLiteral("osprey")), QStringLiteral("Lee"));
    for (int run = 0; run < 2; ++run)
        asOwner(QString::fromUtf8(pg::schemaSteps()[15].sql));
    EXPECT_EQ(one(admin, QStringLiteral("select count(*) from contacts where findtext like '%osprey%'")), QStringLiteral("1"));
    EXPECT_EQ(found(QStringLiteral("osprey")), QStringLiteral("Lee"));
    EXPECT_EQ(one(sConnContacts, versions), before);

    // What Find lists from the server's text is what it lists reading the history itself: on an
    // index whose text lacks the history, and with no index at all.
    exec(sConnContacts, QStringLiteral("insert into history(contact_id,histdate,subject,note) select id,#3/3/2027#,'Visit',"
                                       "'Prices for Acme' from contacts where lastname = 'Baker'"));
    const QStringList typed{QStringLiteral("osprey"), QStringLiteral("prices acme"), QStringLiteral("acme"),
                            QStringLiteral("visit baker"), QStringLiteral("call osprey lee"), QStringLiteral("tickets prices")};
    QStringList kept;
    for (const QString& t : typed)
        kept << found(t);
    EXPECT_EQ(kept.join(u','), QStringLiteral("Lee,Baker,Baker|Lee,Baker,Lee,"));
    for (const char* older : {"alter table history disable trigger history_findtext", "drop index contacts_by_findtext"}) {
        exec(admin, QString::fromLatin1(older));
        QStringList read;
        for (const QString& t : typed)
            read << found(t);
        EXPECT_EQ(read, kept) << older;
    }
}

// The check of each found contact folds only what it must: it must agree with the whole of the
// contact's words, for a word in every field, the phones and the birthday as digits, the history.
TEST(FoundContactCheck, HoldsWhatTheWholeWordsHold)
{
    using namespace searchindex;
    ContactRow r;
    r.id = 7;
    const char* fields[kFieldCount] = {"Østergaard", "Zoë", "Acme GmbH", "Zürich", "zoe@acme.example", "(555) 01-99",
                                       "+49 30 1234", "555 0142", "Schweiz", "Einkäufer", "acme.example", "1970-03-07",
                                       "Met at the fair"};
    for (int i = 0; i < kFieldCount; ++i)
        r.f[i] = QString::fromUtf8(fields[i]);
    const QStringList words = wordsOf(r).split(u'\n');
    for (const QString& piece : words) // each piece alone, and beside the name that settles most contacts
        for (const QStringList& needles : {QStringList{piece}, QStringList{piece, QStringLiteral("oster")}})
            EXPECT_TRUE(holdsAll(r, needles)) << needles.join(u' ').toStdString();
    const QStringList absent[] = {{QStringLiteral("ostergaardzoe")}, {QStringLiteral("zurich"), QStringLiteral("bern")},
                                  {QStringLiteral("(555)")}, {QStringLiteral("ø")}, {QStringLiteral("trade")}};
    for (const QStringList& needles : absent)
        EXPECT_FALSE(holdsAll(r, needles)) << needles.join(u' ').toStdString();
    r.history = QStringLiteral("Call\nTrade show");
    EXPECT_TRUE(holdsAll(r, {QStringLiteral("trade"), QStringLiteral("zurich")}));
    EXPECT_FALSE(holdsAll(r, {QStringLiteral("calltrade")}));
    r.f[0] = QStringLiteral("McDONALD-Ray@2");
    EXPECT_TRUE(holdsAll(r, {QStringLiteral("mcdonald-ray@2"), QStringLiteral("show")}));
    EXPECT_FALSE(holdsAll(r, {QStringLiteral("mcdonald-ray@3")}));

    // Names are listed by the key of their folded names, made alike whatever the names hold.
    const char* names[][2] = {{"McDONALD", "Ann-Marie 2"}, {"", "Zoë"}, {"Østergaard", "ZOE"}, {"Lee", ""}, {"@[Z]`{a}", "~"}};
    for (const auto& [last, first] : names)
        EXPECT_EQ(sortKey(QString::fromUtf8(last), QString::fromUtf8(first)),
                  foldedText(QString::fromUtf8(last)) + QChar(1) + foldedText(QString::fromUtf8(first)))
            << last << ' ' << first;
    EXPECT_EQ(digitsOf(QString::fromUtf8("+1 (٤١٥) 555-01x9")), QStringLiteral("1415555019"));
}

} // namespace
