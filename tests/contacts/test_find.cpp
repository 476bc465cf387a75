// Find's matching rules on a real contacts file, through every way contacts are written.
#include "contacts/frmFind.h"
#include "data/SearchIndex.h"
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
        {"smith boston", ""},
        {"elm", ""}, // the address is not searched
        {"   ", ""},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(found(QString::fromUtf8(c.typed)), QString::fromUtf8(c.expected)) << c.typed;

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
}

} // namespace

namespace {

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
