// Find's matching rules on a real contacts file, through every way contacts are written.
#include "contacts/frmFind.h"
#include "data/SearchIndex.h"
#include "data/SearchIndexJob.h"
#include "data/SearchIndexStore.h"
#include "tests/contacts/Helpers.h"
#include "data/Statement.h"
#include "ui/Report.h"

#include <map>
#include <set>

namespace {

class FindTest : public KestrelTest {
protected:
    int add(const QString& last, const QString& first, const QString& company, const QString& city,
            const QString& email, const QString& home, const QString& cell, const QString& work)
    {
        exec(sConnContacts, QStringLiteral("INSERT into contacts(lastname,firstname,company,address,city,st,zip,homeph,"
                                           "cellph,workph,ext,email,active,contype)values('%1','%2','%3','1 Elm St',"
                                           "'%4','','','%5','%6','%7','','%8',True,'Lead')")
                                .arg(Quoted(last), Quoted(first), Quoted(company), Quoted(city), home, cell, work,
                                     Quoted(email)));
        return rows(sConnContacts, "select max(id) from contacts").at(0).at(0).toInt();
    }
    // "Last (phone shown)|..." of what Find lists for typed.
    QString found(const QString& typed)
    {
        QStringList out;
        for (const FoundContact& c : findContacts(sConnContacts, typed, 50).rows)
            out << c.lastName + u'(' + c.phone + u')';
        return out.join(u'|');
    }
};

TEST_F(FindTest, WordsInAnyOrderFindPartsOfNamesCompaniesCitiesMailAndPhoneDigits)
{
    // Added before the file has an index: the first search builds it.
    add("Müller", "Jürgen", "Bäckerei Schön", "München", "j.mueller@example.de", "", "", "+49 30 1234567");
    add("O'Brien", "Siobhán", "Acme Widgets", "Boston", "", "", "(415) 555-0199", "");
    const int smith = add("Smith", "John", "Smithson & Co", "Springfield", "", "217-555-0100", "", "");
    add("Nguyen", "Anh", "", "San José", "anh@nguyen.example", "", "", "");
    // One or two letters no other contact holds: at the very end of the words, and inside them.
    exec(sConnContacts, "update contacts set notes='paid vq' where lastname='Müller'");
    exec(sConnContacts, "update contacts set notes='ivy room' where lastname='O''Brien'");

    const struct {
        const char* typed;
        const char* expected;
    } cases[] = {
        {"müll", "Müller(+49 30 1234567)"},
        {"MULLER", "Müller(+49 30 1234567)"},
        {"jurgen muller", "Müller(+49 30 1234567)"},
        {"ckerei schon", "Müller(+49 30 1234567)"},
        {"münchen", "Müller(+49 30 1234567)"},
        {"1234567", "Müller(+49 30 1234567)"},
        {"+49 30", "Müller(+49 30 1234567)"},
        {"555 0199", "O'Brien((415) 555-0199)"},
        {"5550199", "O'Brien((415) 555-0199)"},
        {"(415) 555-0199", "O'Brien((415) 555-0199)"},
        {"555", "O'Brien((415) 555-0199)|Smith(217-555-0100)"},
        {"o'brien", "O'Brien((415) 555-0199)"},
        {"SIOBHAN", "O'Brien((415) 555-0199)"},
        {"jose", "Nguyen()"},
        {"example", "Müller(+49 30 1234567)|Nguyen()"},
        {"john smith", "Smith(217-555-0100)"},
        {"smith john smi", "Smith(217-555-0100)"},
        {"springfield 0100", "Smith(217-555-0100)"},
        {"vq", "Müller(+49 30 1234567)"},
        {"q", "Müller(+49 30 1234567)"},
        {"v", "Müller(+49 30 1234567)|O'Brien((415) 555-0199)"},
        {"y v", "O'Brien((415) 555-0199)"},
        {"qv", ""},
        {"smith boston", ""},
        {"elm", ""}, // the address is not searched
        {"   ", ""},
        {"", ""},
    };
    // Walked in name order as a text many contacts hold, and looked up by its three-letter
    // pieces as one that few hold (on the office server, without first judging how common it is).
    searchindex::setSampledRows(0);
    for (const int walked : {20000, 0}) {
        searchindex::setWalkFirstRows(walked);
        for (const auto& c : cases)
            EXPECT_EQ(found(QString::fromUtf8(c.typed)), QString::fromUtf8(c.expected)) << c.typed << " walked " << walked;
    }
    searchindex::setSampledRows(5000);
    // A file's index from before the word ends' indexes finds the same, and gains them when next opened.
    if (!onServer()) {
        exec(sConnContacts, "drop index contact_find4_by_end1");
        EXPECT_EQ(found("q"), "Müller(+49 30 1234567)");
        releaseAllDatabaseFiles();
        EXPECT_EQ(found("q"), "Müller(+49 30 1234567)");
        EXPECT_EQ(rows(sConnContacts, "select count(*) from sqlite_master where name like 'contact_find4_by_end_'"),
                  (std::vector<QStringList>{{"2"}}));
    }
    searchindex::setWalkFirstRows(0);

    // The editor's update, its delete and the import's insert each reach the next search.
    ASSERT_TRUE(ActionQuery(QStringLiteral("UPDATE contacts set company='Zephyr Ltd' where ID=%1").arg(smith), sConnContacts));
    EXPECT_EQ(found("zephyr"), "Smith(217-555-0100)");
    EXPECT_EQ(found("smithson"), "");
    ASSERT_TRUE(ActionQuery("delete from contacts where id=2", sConnContacts));
    EXPECT_EQ(found("555"), "Smith(217-555-0100)");
    ASSERT_TRUE(ActionQuery("INSERT INTO contacts(lastname,firstname,company,address,city,st,zip,cellph,homeph,workph,"
                            "ext,email,contype)values('Quinn','Zoë','','','','','','','','','','','Lead')",
                            sConnContacts));
    EXPECT_EQ(found("zoe qui"), "Quinn()");

    const FoundContacts first = findContacts(sConnContacts, "n", 2);
    EXPECT_TRUE(first.rows.size() == 2 && first.more);
    searchindex::setWalkFirstRows(20000);
}

TEST_F(FindTest, ASearchOfExactlyItsLimitSaysNothingOfMoreAndTheLineShowsThePhoneThatMatched)
{
    add("Abel", "Ann", "", "", "", "", "", "");
    add("Abbott", "Bo", "", "", "", "", "", "");
    add("Abrams", "Cy", "", "", "", "", "", "");
    for (int limit : {3, 4}) {
        const FoundContacts found = findContacts(sConnContacts, "ab", limit);
        EXPECT_EQ(int(found.rows.size()) * 10 + found.more, 30) << limit; // all three, and no "more"
    }
    const FoundContacts cut = findContacts(sConnContacts, "ab", 2);
    EXPECT_EQ(int(cut.rows.size()) * 10 + cut.more, 21);

    // The number with all the digits typed, not the first one holding some of them.
    add("Ng", "Lan", "", "", "", "555-0199", "555-1234", "555-7777");
    EXPECT_EQ(found("555 0199"), "Ng(555-0199)");
    EXPECT_EQ(found("ng 1234"), "Ng(555-1234)");
    EXPECT_EQ(found("lan"), "Ng(555-7777)"); // no digits typed: the work number
}

TEST_F(FindTest, AFileWrittenByAnotherProgramIsIndexedBehindFindWhichSaysSoAndThenFindsWhatWasWrittenMeanwhile)
{
    if (onServer())
        GTEST_SKIP() << "the office server keeps no index";
    // Written straight into the file, before Kestrel ever indexed it: more than a keystroke folds.
    exec(sConnContacts, "INSERT INTO contacts(lastname,firstname,address,contype) WITH RECURSIVE n(i) AS (SELECT 0 UNION "
                        "ALL SELECT i+1 FROM n WHERE i<1499) SELECT CASE WHEN i % 100 = 0 THEN 'Kowalski' ELSE 'Nowak' "
                        "END, 'N' || i, '', 'Lead' FROM n");
    searchindex::setFoldStepRows(10);
    SearchIndexJob job(sConnContacts);
    setSearchIndexJob(&job);
    frmFind find;
    find.show();
    QTest::keyClicks(find.txtFind, "kowal");
    ASSERT_EQ(find.lstFound->count(), 1);
    EXPECT_EQ(find.lstFound->item(0)->text(), NotReadyText(1500));
    EXPECT_TRUE(job.isRunning()); // Find set it going

    // The program's own writes while the index is built, between its steps: a new contact, one
    // that no longer matches, one deleted; each must be what Find lists once it is ready.
    int written = 0;
    QObject::connect(&job, &SearchIndexJob::progress, &job, [&](qint64, qint64) {
        if (written >= 5)
            return;
        ++written;
        ASSERT_TRUE(ActionQuery(QStringLiteral("INSERT INTO contacts(lastname,firstname,address,contype) VALUES"
                                               "('Kowalczyk','W%1','','Lead')").arg(written), sConnContacts));
        ASSERT_TRUE(ActionQuery(QStringLiteral("UPDATE contacts SET lastname='Wozniak' WHERE id=%1").arg(1 + 100 * written),
                                sConnContacts));
        ASSERT_TRUE(ActionQuery(QStringLiteral("DELETE FROM contacts WHERE id=%1").arg(1401 - 100 * written), sConnContacts));
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return !job.isRunning(); }, 60000));
    EXPECT_EQ(written, 5);
    QStringList expected;
    for (const QStringList& r : rows(sConnContacts, "SELECT lastname, firstname FROM contacts WHERE lastname LIKE 'kowal%' "
                                                    "ORDER BY lastname, firstname"))
        expected << r[0] + u' ' + r[1];
    ASSERT_EQ(expected.size(), 5 + 15 - 10);
    const auto listed = [&] {
        QStringList out;
        for (int i = 0; i < find.lstFound->count(); ++i)
            out << find.lstFound->item(i)->text().simplified().section(u' ', 0, 1);
        return out;
    };
    QTest::qWaitFor([&] { return listed() == expected; }, 5000);
    EXPECT_EQ(listed(), expected); // by itself, with no further key
    searchindex::setFoldStepRows(2000);
    setSearchIndexJob(nullptr);
}

// The index a build writes in steps, and the one written again over it for contacts noted as
// changed, hold for every contact exactly what folding it alone gives: its words and name key,
// and every three-character piece of the words, whatever the script and with its history.
TEST_F(FindTest, TheIndexHoldsEachContactsWordsAsFoldedAloneWhateverTheScriptAndItsHistory)
{
    if (onServer())
        GTEST_SKIP() << "the office server keeps no index";
    using searchindex::kFieldCount;
    const char* const contacts[][kFieldCount] = {
        {"McDONALD", "Ann", "Acme 7", "BOSTON", "Ann.McD@Example.com", "(617) 555-0100", "", "555 0199", "USA",
         "CEO", "Acme.example", "1970-03-07", "Met at the FAIR"},
        {"Émile", "Zoë", "Straße GmbH", "Łódź", "", "+48 ４２ 123", "", "", "Polska", "", "", "", "Ŀl ǅ Ǆ ﬁ"},
        {"כהן", "דנה", "", "חיפה", "", "", "04-123", "", "", "", "", "3/4", "مرحبا"},
        {"𐐏𐐱𐐻", "😀 Emoji", "Ωmega", "İstanbul", "ÆØÅ@x.dk", "", "", "", "", "", "", "", ""},
        {"", "", "", "", "", "", "", "", "", "", "", "", ""},
        {"Ng", "Lan", "", "", "", "", "", "", "", "", "", "", ""},
    };
    {
        Connection c(sConnContacts);
        Statement ins(c, QStringLiteral("INSERT INTO contacts(address, contype, %1) VALUES('', 'Lead', ?1, ?2, ?3, ?4, ?5, ?6, "
                                        "?7, ?8, ?9, ?10, ?11, ?12, ?13)").arg(QLatin1String(searchindex::kContactFields)),
                      Statement::Dialect::Native);
        for (const auto& contact : contacts) {
            for (int i = 0; i < kFieldCount; ++i)
                ins.bind(i + 1, QString::fromUtf8(contact[i]));
            ins.run();
        }
        exec(sConnContacts, "update contacts set lastname=null, firstname=null, notes=null where lastname=''");
        // Entries of several days, written out of order, and of several scripts.
        Statement hist(c, QStringLiteral("INSERT INTO history(contact_id, histdate, histtime, subject, note) VALUES(?1, ?2, ?3, ?4, ?5)"),
                       Statement::Dialect::Native);
        const char* const entries[][5] = {{"1", "2024-05-02", "09:00:00", "Call BACK", "Quote sent"},
                                          {"1", "2024-05-01", "", "First", ""},
                                          {"1", "2024-05-02", "08:00:00", "", "Early Note"},
                                          {"2", "2024-01-01", "10:00:00", "Überweisung", "Ǆemal 𐐏"},
                                          {"2", "2023-12-31", "10:00:00", "Plain", "Ascii"},
                                          {"6", "2024-02-02", "10:00:00", "Ok", ""}};
        for (const auto& e : entries) {
            hist.bind(1, std::int64_t(QByteArray(e[0]).toInt()));
            for (int i = 1; i < 5; ++i)
                i == 2 && !*e[i] ? hist.bindNull(i + 1) : hist.bind(i + 1, QString::fromUtf8(e[i]));
            hist.run();
        }
    }
    // What folding each contact alone gives, and the pieces its words are looked up by.
    std::map<int, std::pair<QString, QString>> expected;
    {
        Connection c(sConnContacts);
        Statement contact(c, QStringLiteral("select id, %1 from contacts").arg(QLatin1String(searchindex::kContactFields)),
                          Statement::Dialect::Native);
        Statement history(c, QStringLiteral("select subject, note from history where contact_id=?1 order by histdate, histtime, id"),
                          Statement::Dialect::Native);
        while (contact.step()) {
            searchindex::ContactRow r;
            for (int i = 0; i < kFieldCount; ++i)
                r.f[i] = contact.text(i + 1);
            history.bind(1, contact.integer(0));
            while (history.step())
                searchindex::addHistoryText(r.history, history.text(0), history.text(1));
            history.reset();
            expected[int(contact.integer(0))] = {searchindex::sortKey(r.f[0], r.f[1]), searchindex::wordsOf(r)};
        }
    }
    ASSERT_EQ(expected.size(), std::size(contacts));
    const auto indexAgrees = [&](const char* when) {
        SCOPED_TRACE(when);
        std::map<int, std::pair<QString, QString>> held;
        Connection c(sConnContacts);
        Statement index(c, QStringLiteral("select id, sortkey, words from contact_find4"), Statement::Dialect::Native);
        while (index.step())
            held[int(index.integer(0))] = {index.text(1), index.text(2)};
        EXPECT_EQ(held, expected);
        // Each piece the trigram table holds finds exactly the contacts whose words hold it, and
        // it holds every piece of every contact's words.
        std::set<QString> pieces;
        for (const auto& [id, kw] : expected) {
            const QList<uint> chars = kw.second.toUcs4();
            for (qsizetype at = 0; at + 3 <= chars.size(); ++at)
                pieces.insert(QString::fromUcs4(reinterpret_cast<const char32_t*>(chars.constData() + at), 3));
        }
        Statement(c, QStringLiteral("create virtual table if not exists temp.pieces using fts5vocab(main, contact_find4_tri, row)"),
                  Statement::Dialect::Native)
            .run();
        std::set<QString> terms;
        Statement vocab(c, QStringLiteral("select term from temp.pieces"), Statement::Dialect::Native);
        while (vocab.step())
            terms.insert(vocab.text(0));
        EXPECT_EQ(terms, pieces);
        Statement match(c, QStringLiteral("select rowid from contact_find4_tri where contact_find4_tri match ?1 order by rowid"),
                        Statement::Dialect::Native);
        for (const QString& piece : pieces) {
            std::vector<int> ids, holding;
            match.bind(1, u'"' + QString(piece).replace(u'"', QStringLiteral("\"\"")) + u'"');
            while (match.step())
                ids.push_back(int(match.integer(0)));
            match.reset();
            for (const auto& [id, kw] : expected)
                if (kw.second.contains(piece))
                    holding.push_back(id);
            EXPECT_EQ(ids, holding) << piece.toStdString();
        }
    };
    searchindex::setFoldStepRows(4); // more than one step
    prepareSearchIndex(sConnContacts);
    indexAgrees("built");
    // Every contact noted as changed, and the noted ones written again over their old words.
    exec(sConnContacts, "update contacts set lastname=lastname");
    prepareSearchIndex(sConnContacts);
    indexAgrees("written again");
    searchindex::setFoldStepRows(2000);
}

TEST(FoundLineTest, EachFieldKeepsItsColumnWithRightToLeftNamesAndTheWholePhoneIsShown)
{
    const QString fsi(QChar(0x2068)), pdi(QChar(0x2069));
    const QString cohen = QString::fromUtf8("כהן"), dana = QString::fromUtf8("דנה");
    FoundContact c{1, cohen, dana, "Acme", QString::fromUtf8("חיפה"), "+972 4 123 4567 89"};
    // Each right-to-left value is isolated inside its column, the blanks after it stay outside,
    // and the columns keep their widths whatever the marks.
    EXPECT_EQ(FoundLine(c), fsi + cohen + pdi + QString(11, u' ') + u' ' + fsi + dana + pdi + QString(7, u' ') + u' ' +
                                "Acme          " + u' ' + fsi + QString::fromUtf8("חיפה") + pdi + QString(6, u' ') + u' ' +
                                "+972 4 123 4567 89");
    c.lastName = "Lee\tAnn";
    c.company = QString(20, u'x');
    EXPECT_TRUE(FoundLine(c).startsWith("Lee Ann        " + fsi + dana));
    EXPECT_TRUE(FoundLine(c).contains(QString(14, u'x') + u' ' + fsi));
}

} // namespace
