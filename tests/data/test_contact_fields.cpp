// The fields a contact gained later: files and office databases made before them gain them on
// first start and still take the old statements; birthdays and web addresses keep their rules.
#include "data/ContactFields.h"
#include "data/Database.h"
#include "data/Globals.h"
#include "data/PgEngine.h"
#include "data/SearchIndex.h"
#include "data/Office.h"
#include "data/modData.h"
#include "tests/support/Fixture.h"
#include "tests/support/PrintQString.h"

#include <QFile>

using namespace kestrel;
using kestrel::test::KestrelTest;

namespace {

// The contacts table as every Kestrel made it before the later fields.
const char* const kOldContacts =
    "CREATE TABLE contacts(id INTEGER PRIMARY KEY AUTOINCREMENT, lastname TEXT COLLATE NOCASE, firstname TEXT COLLATE "
    "NOCASE, company TEXT COLLATE NOCASE, address TEXT COLLATE NOCASE, city TEXT COLLATE NOCASE, st TEXT COLLATE NOCASE, "
    "zip TEXT COLLATE NOCASE, homeph TEXT COLLATE NOCASE, cellph TEXT COLLATE NOCASE, workph TEXT COLLATE NOCASE, ext "
    "TEXT COLLATE NOCASE, email TEXT COLLATE NOCASE, active BOOLEAN DEFAULT 1, contype TEXT COLLATE NOCASE);"
    "CREATE TABLE appointments(autoid INTEGER PRIMARY KEY AUTOINCREMENT, name TEXT, address TEXT, apptdate DATE, "
    "appttime TIME, apptbrief TEXT, apptnotes TEXT);"
    "INSERT INTO contacts(lastname,firstname,company,address,city,st,zip,homeph,cellph,workph,ext,email,active,contype) "
    "VALUES('Adams','Al','Co','9 Elm','Troy','NY','12180','1','2','3','4','al@example.com',1,'Lead')";

// The statements an older Kestrel runs on contacts, exactly as it writes them.
const QStringList kOldStatements = {
    "INSERT into contacts(lastname,firstname,company,address,city,st,zip,homeph,cellph,workph,ext,email,active,contype)"
    "values('Baker','Bo','','','','','','','','','','',True,'Cust')",
    "UPDATE contacts set lastname='Adams', firstname='Al', company='Co', address='9 Elm', city='Troy', st='NY', "
    "zip='12180', homeph='1', cellph='2', workph='3', ext='4', email='al@example.com', active=False, ConType='Cust' "
    "where ID=1",
    "INSERT INTO contacts(lastname,firstname,company,address,city,st,zip,cellph,homeph,workph,ext,email,contype)"
    "values('Cole','Cy','','','','','','','','','','','Lead')",
};

} // namespace

class ContactFieldsTest : public KestrelTest {
protected:
    // The later columns of every contact, by last name.
    std::vector<QStringList> later()
    {
        return rows(sConnContacts, QStringLiteral("select lastname,") + laterContactColumns().join(u',') +
                                       QStringLiteral(" from contacts order by lastname"));
    }
};

TEST_F(ContactFieldsTest, AnOldDataFileGainsTheFieldsOnFirstOpenAndStillTakesTheOldStatements)
{
    if (onServer()) {
        // An office database set up by an older Kestrel (schema 2, before these fields): the
        // administrator's next kestrel --init-office raises it, keeping every row.
        exec(sConnContacts, QStringLiteral("select count(*) from contacts"));
        for (const QString& c : laterContactColumns())
            exec(ownerConnection(), QStringLiteral("ALTER TABLE contacts DROP COLUMN %1").arg(c));
        exec(ownerConnection(), QStringLiteral("DELETE FROM kestrel_schema WHERE version > 2"));
        exec(sConnContacts, QStringLiteral("INSERT into contacts(lastname,firstname,company,address,city,st,zip,homeph,"
                                           "cellph,workph,ext,email,active,contype)values('Adams','Al','Co','9 Elm',"
                                           "'Troy','NY','12180','1','2','3','4','al@example.com',True,'Lead')"));
        releaseAllDatabaseFiles();
        const OfficeSetUp raised = setUpOfficeDatabase(adminConninfo());
        EXPECT_TRUE(raised.said.contains(QStringLiteral("Brought Kestrel's tables from schema version 2 to %1.").arg(pg::kSchemaVersion)))
            << raised.said.join(u'\n').toStdString() << raised.refused.toStdString();
    } else {
        ASSERT_TRUE(QDir().mkpath(dir.path() + QStringLiteral("/data")));
        createDatabaseFile(dataPath(QStringLiteral("contacts.mdb")), QString::fromUtf8(kOldContacts), true);
    }
    // The first statement of this program finds the fields there, empty for the old rows.
    EXPECT_EQ(later(), (std::vector<QStringList>{{"Adams", "", "", "", "", ""}}));
    if (onServer()) {
        EXPECT_EQ(rows(sConnContacts, QStringLiteral("select max(version) from kestrel_schema")),
                  (std::vector<QStringList>{{QString::number(pg::kSchemaVersion)}}));
    }
    // The old statements keep working on the upgraded file: their rows hold empty texts.
    for (const QString& s : kOldStatements)
        exec(sConnContacts, s);
    EXPECT_EQ(later(), (std::vector<QStringList>{{"Adams", "", "", "", "", ""}, {"Baker", "", "", "", "", ""},
                                                 {"Cole", "", "", "", "", ""}}));
    EXPECT_EQ(rows(sConnContacts, QStringLiteral("SELECT id,lastname,firstname,address,city,st,zip,homeph,cellph,workph,"
                                                 "ext,email,company,contype FROM contacts where id=1")),
              (std::vector<QStringList>{{"1", "Adams", "Al", "9 Elm", "Troy", "NY", "12180", "1", "2", "3", "4",
                                         "al@example.com", "Co", "Cust"}}));
    // A second start (another process) finds nothing left to do, and Find reads the new fields.
    releaseAllDatabaseFiles();
    exec(sConnContacts, QStringLiteral("UPDATE contacts set notes='Met at the Hannover fair', country='Deutschland' "
                                       "where lastname='Baker'"));
    const FoundContacts found = findContacts(sConnContacts, QStringLiteral("hannover deutsch"), 10);
    ASSERT_EQ(found.rows.size(), 1u);
    EXPECT_EQ(found.rows[0].lastName, "Baker");
}

TEST(ContactFieldRules, BirthdaysWithAndWithoutYearAndNothingThatIsNotADay)
{
    const struct {
        const char* typed;
        std::optional<QString> stored;
    } cases[] = {
        {"3/7/1980", QStringLiteral("1980-03-07")}, {"12/31/1999", QStringLiteral("1999-12-31")},
        {"3/7", QStringLiteral("--03-07")},         {"2/29", QStringLiteral("--02-29")},
        {"1980-03-07", QStringLiteral("1980-03-07")}, {"19800307", QStringLiteral("1980-03-07")},
        {"--0307", QStringLiteral("--03-07")},      {"--03-07", QStringLiteral("--03-07")},
        {"1980-03-07T00:00:00Z", QStringLiteral("1980-03-07")}, {" ", QString()},
        {"2/29/2001", std::nullopt},                {"2/30", std::nullopt}, {"13/1/1980", std::nullopt},
        {"1980-02-30", std::nullopt},               {"soon", std::nullopt}, {"3/7/80", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(parseBirthday(QString::fromLatin1(c.typed)), c.stored) << c.typed;
    EXPECT_EQ(birthdayText(QStringLiteral("1980-03-07")), "3/7/1980");
    EXPECT_EQ(birthdayText(QStringLiteral("--12-01")), "12/1");
    EXPECT_EQ(birthdayText(QStringLiteral("circa 1800")), "circa 1800");
}

TEST(ContactFieldRules, AWebSiteOpensAsAWebPageOrNotAtAll)
{
    EXPECT_EQ(webLink(QStringLiteral("www.example.com")), "https://www.example.com");
    EXPECT_EQ(webLink(QStringLiteral(" http://example.com/a b ")), "http://example.com/a%20b");
    EXPECT_EQ(webLink(QStringLiteral("example.com:8080/shop")), "https://example.com:8080/shop");
    EXPECT_EQ(webLink(QStringLiteral("HTTPS://Example.com")), "https://example.com");
    for (const char* refused : {"javascript:alert(1)", "JavaScript:alert(1)", "file:///etc/passwd", "file:/etc/passwd",
                                "data:text/html,x", "mailto:a@b.c", "vbscript:x", "", "   ", "http://"})
        EXPECT_EQ(webLink(QString::fromLatin1(refused)), "") << refused;
}
