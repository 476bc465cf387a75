// Find's matching rules on a real contacts file, through every way contacts are written.
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
