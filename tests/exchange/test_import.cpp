#include "data/Database.h"
#include "data/Globals.h"
#include "exchange/modImport.h"
#include "exchange/modTempDB.h"
#include "tests/exchange/ExchangeTest.h"

#include <sqlite3.h>

using namespace kestrel;
using namespace kestrel::test;

namespace {

class ImportTest : public KestrelTest {
protected:
    QString csv(const QByteArray& bytes) { return writeFile(dir.filePath(QStringLiteral("leads.csv")), bytes); }
    std::vector<QStringList> mainRows()
    {
        return rows(sConnTemp, QStringLiteral("select lastname,firstname,company,st,email from Main order by id"));
    }
};

TEST_F(ImportTest, MappingLinesAndTheFieldListTheyBuild)
{
    // Fixed-width lines; a long name stays whole.
    EXPECT_EQ(FormatMapLine(QStringLiteral("Last Name"), QStringLiteral("LastName")),
              QStringLiteral("Last Name") + QString(16, u' ') + QStringLiteral("***") + QString(10, u' ') +
                  QStringLiteral("LastName") + QString(7, u' '));
    EXPECT_EQ(FormatMapLine(QStringLiteral("Fax"), QStringLiteral("DELETE")).size(), 53);
    const QString longName = QStringLiteral("Business Phone Number (main office)");
    EXPECT_TRUE(FormatMapLine(longName, QStringLiteral("WorkPh")).startsWith(longName + QStringLiteral("***")));

    // Names that cannot stand bare are bracketed and aliased; deleted fields drop out.
    const QStringList entries = {
        FormatMapLine(QStringLiteral("Last Name"), QStringLiteral("LastName")),
        FormatMapLine(QStringLiteral("Fax"), QStringLiteral("DELETE")),
        FormatMapLine(QStringLiteral("E-mail Address"), QStringLiteral("Email")),
        FormatMapLine(QStringLiteral("Company"), QStringLiteral("Company")),
        FormatMapLine(QStringLiteral("Phone #"), QStringLiteral("WorkPh")),
        FormatMapLine(QStringLiteral("2nd"), QStringLiteral("CellPh")),
        FormatMapLine(QStringLiteral("x***y"), QStringLiteral("Zip")),
        FormatMapLine(longName, QStringLiteral("HomePh")),
    };
    EXPECT_EQ(BuildFieldList(entries).toStdString(),
              "[Last Name] as Last_Name,[E-mail Address] as Email_Address,Company,[Phone #] as Phone_,"
              "[2nd] as F2nd,[x***y] as xy,[Business Phone Number (main office)] as Business_Phone_Number_main_office");
    EXPECT_EQ(sTargetList, QStringLiteral("LastName,Email,Company,WorkPh,CellPh,Zip,HomePh"));
    EXPECT_EQ(sourceColumn(QStringLiteral("odd]name")), QStringLiteral("[odd]]name] as oddname"));
    EXPECT_TRUE(isDeletedEntry(entries[1]));
    EXPECT_FALSE(isDeletedEntry(entries[0]));
    EXPECT_FALSE(isDecidedEntry(QStringLiteral("Last Name")));
}

TEST_F(ImportTest, LoadCopiesMappedColumnsWithApostrophesAndEmptyFieldsIntact)
{
    const QString path = csv("\xEF\xBB\xBF\"Last Name\",\"First Name\",Fax,E-mail Address\r\n"
                             "O'Brien,Seán,555,ob@x.com\r\n"
                             "\"Smith, Jr.\",,,\r\n");
    const QStringList entries = {FormatMapLine(QStringLiteral("Last Name"), QStringLiteral("LastName")),
                                 FormatMapLine(QStringLiteral("First Name"), QStringLiteral("FirstName")),
                                 FormatMapLine(QStringLiteral("Fax"), QStringLiteral("DELETE")),
                                 FormatMapLine(QStringLiteral("E-mail Address"), QStringLiteral("Email"))};
    ASSERT_TRUE(LoadCsvToTemp(path, entries));
    EXPECT_TRUE(desk.prompts.empty());
    // Unmapped columns stay null; mapped empty fields arrive as the empty text.
    EXPECT_EQ(mainRows(), (std::vector<QStringList>{{"O'Brien", "Seán", "<null>", "<null>", "ob@x.com"},
                                                    {"Smith, Jr.", "", "<null>", "<null>", ""}}));

    // Importing takes every row with the chosen type; nothing arrives as null.
    ASSERT_TRUE(ImportTempRows(QStringLiteral("Cust")));
    EXPECT_EQ(rows(sConnContacts, QStringLiteral("select lastname,firstname,company,email,contype,active from "
                                                 "contacts order by id")),
              (std::vector<QStringList>{{"O'Brien", "Seán", "", "ob@x.com", "Cust", "True"},
                                        {"Smith, Jr.", "", "", "", "Cust", "True"}}));
    EXPECT_TRUE(desk.prompts.empty());
}

TEST_F(ImportTest, RejectedRowsAreReportedOnceThenCountedAndTheRestLoaded)
{
    const QString path = csv("Name,State\nAnn,IL\nBob,ILL\nCy,TX\nDee,Texas\nEd,Ohio\n");
    const QStringList entries = {FormatMapLine(QStringLiteral("Name"), QStringLiteral("LastName")),
                                 FormatMapLine(QStringLiteral("State"), QStringLiteral("ST"))};
    ASSERT_TRUE(LoadCsvToTemp(path, entries));
    const QStringList m = desk.messages();
    ASSERT_EQ(m.size(), 2) << m.join(u'|').toStdString();
    EXPECT_TRUE(m[0].startsWith(QStringLiteral("Error 19 (CHECK constraint failed: St holds at most 2 characters) in "
                                               "procedure ActionQuery of Module modData\r\n")))
        << m[0].toStdString();
    EXPECT_TRUE(m[0].endsWith(QStringLiteral("Please make note of this and report this bug to help make this software better.")));
    EXPECT_EQ(m[1], QStringLiteral("3 rows could not be loaded from the file and were skipped."));
    EXPECT_EQ(rows(sConnTemp, QStringLiteral("select lastname from Main order by id")),
              (std::vector<QStringList>{{"Ann"}, {"Cy"}}));
}

TEST_F(ImportTest, FileMalformedPartWayLoadsNoneOfItsRows)
{
    const QStringList entries = {FormatMapLine(QStringLiteral("Name"), QStringLiteral("LastName"))};
    ASSERT_TRUE(LoadCsvToTemp(csv("Name\nAnn\n"), entries));
    ASSERT_EQ(mainRows().size(), 1u);
    EXPECT_FALSE(LoadCsvToTemp(csv("Name\nBob\nCy\n\"Dee\n"), entries));
    ASSERT_EQ(desk.messages().size(), 1);
    EXPECT_TRUE(desk.messages()[0].contains(QStringLiteral("closing double quote is missing")));
    EXPECT_TRUE(mainRows().empty());
}

TEST_F(ImportTest, ImportCountsRowsContactsRejectAndKeepsTheRest)
{
    CreateTempDB();
    exec(sConnTemp, QStringLiteral("insert into Main(lastname,firstname)values('Ann','A')"));
    exec(sConnTemp, QStringLiteral("insert into Main(lastname,firstname)values('Bob','B')"));
    // The contacts file refuses one name, as a stricter engine would a value it cannot hold.
    {
        Connection c(sConnContacts);
        ASSERT_EQ(sqlite3_exec(c.handle(),
                               "CREATE TRIGGER no_bob BEFORE INSERT ON contacts WHEN new.lastname='Bob' "
                               "BEGIN SELECT RAISE(ABORT, 'Bob is not welcome'); END",
                               nullptr, nullptr, nullptr),
                  SQLITE_OK);
    }
    ASSERT_TRUE(ImportTempRows(QStringLiteral("Lead")));
    const QStringList m = desk.messages();
    ASSERT_EQ(m.size(), 2);
    EXPECT_TRUE(m[0].contains(QStringLiteral("(Bob is not welcome) in procedure ActionQuery of Module modData")));
    EXPECT_EQ(m[1], QStringLiteral("1 row could not be imported and was skipped."));
    EXPECT_EQ(rows(sConnContacts, QStringLiteral("select lastname,contype from contacts")),
              (std::vector<QStringList>{{"Ann", "Lead"}}));
}

} // namespace
