// Find's matching rules on a real contacts file, through every way contacts are written.
#include "contacts/frmFind.h"
#include "data/SearchIndex.h"
#include "data/SearchIndexJob.h"
#include "data/SearchIndexStore.h"
#include "tests/contacts/Helpers.h"
#include "ui/Report.h"

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
