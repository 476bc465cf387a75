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
    // Mapping entries from "CSV field>target|...".
    static QStringList mapping(const QString& pairs)
    {
        QStringList out;
        for (const QString& p : pairs.split(u'|'))
            out << FormatMapLine(p.section(u'>', 0, 0), p.section(u'>', 1));
        return out;
    }
    std::vector<QStringList> mainRows()
    {
        return rows(sConnTemp, QStringLiteral("select lastname,firstname,company,st,email from Main order by id"));
    }
};

TEST_F(ImportTest, MappingLinesAndTheFieldListTheyBuild)
{
    // Fixed-width lines.
    EXPECT_EQ(FormatMapLine(QStringLiteral("Last Name"), QStringLiteral("LastName")),
              QStringLiteral("Last Name") + QString(16, u' ') + QStringLiteral("***") + QString(10, u' ') +
                  QStringLiteral("LastName") + QString(7, u' '));
    // Names that cannot stand bare are bracketed and aliased; deleted fields drop out.
    EXPECT_EQ(BuildFieldList(mapping(QStringLiteral("Last Name>LastName|Fax>DELETE|E-mail Address>Email|Phone #>WorkPh|"
                                                     "2nd>CellPh|x***y>Zip|Business Phone Number (main office)>HomePh")))
                  .toStdString(),
              "[Last Name] as Last_Name,[E-mail Address] as Email_Address,[Phone #] as Phone_,"
              "[2nd] as F2nd,[x***y] as xy,[Business Phone Number (main office)] as Business_Phone_Number_main_office");
    EXPECT_EQ(sTargetList, QStringLiteral("LastName,Email,WorkPh,CellPh,Zip,HomePh"));
    EXPECT_EQ(sourceColumn(QStringLiteral("odd]name")), QStringLiteral("[odd]]name] as oddname"));
}

TEST_F(ImportTest, LoadKeepsApostrophesAndEmptyFieldsAndImportCountsRowsContactsReject)
{
    const QString path = csv("\xEF\xBB\xBF\"Last Name\",\"First Name\",Fax,E-mail Address\r\n"
                             "O'Brien,Seán,555,ob@x.com\r\n"
                             "Bob,B,,\r\n"
                             "\"Smith, Jr.\",,,\r\n");
    ASSERT_TRUE(LoadCsvToTemp(path, mapping(QStringLiteral("Last Name>LastName|First Name>FirstName|Fax>DELETE|E-mail Address>Email")))) << desk.messages().join(u"|").toStdString();
    // Unmapped columns stay null; mapped empty fields arrive as the empty text.
    EXPECT_EQ(mainRows(), (std::vector<QStringList>{{"O'Brien", "Seán", "<null>", "<null>", "ob@x.com"},
                                                    {"Bob", "B", "<null>", "<null>", ""},
                                                    {"Smith, Jr.", "", "<null>", "<null>", ""}}));

    // The contacts file refuses one name, as a stricter engine would a value it cannot hold:
    // told once and counted; the other rows come in with the chosen type and nothing null.
    {
        Connection c(sConnContacts);
        ASSERT_EQ(sqlite3_exec(c.handle(),
                               "CREATE TRIGGER no_bob BEFORE INSERT ON contacts WHEN new.lastname='Bob' "
                               "BEGIN SELECT RAISE(ABORT, 'Bob is not welcome'); END",
                               nullptr, nullptr, nullptr),
                  SQLITE_OK);
    }
    ASSERT_TRUE(ImportTempRows(QStringLiteral("Cust")));
    const QStringList m = desk.messages();
    ASSERT_EQ(m.size(), 2);
    EXPECT_TRUE(m[0].contains(QStringLiteral("(Bob is not welcome) in procedure ActionQuery of Module modData")));
    EXPECT_EQ(m[1], QStringLiteral("1 row could not be imported and was skipped."));
    EXPECT_EQ(rows(sConnContacts, QStringLiteral("select lastname,firstname,company,email,contype,active from contacts order by id")),
              (std::vector<QStringList>{{"O'Brien", "Seán", "", "ob@x.com", "Cust", "True"},
                                        {"Smith, Jr.", "", "", "", "Cust", "True"}}));
}

TEST_F(ImportTest, RejectedRowsAreReportedOnceThenCountedAndAMalformedFileLoadsNothing)
{
    const QString path = csv("Name,State\nAnn,IL\nBob,ILL\nCy,TX\nDee,Texas\nEd,Ohio\n");
    const QStringList entries = mapping(QStringLiteral("Name>LastName|State>ST"));
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
    // A file malformed part way loads none of its rows.
    EXPECT_FALSE(LoadCsvToTemp(csv("Name,State\nBob,IL\nCy,TX\n\"Dee,TX\n"), entries));
    ASSERT_EQ(desk.messages().size(), 3);
    EXPECT_TRUE(desk.messages()[2].contains(QStringLiteral("closing double quote is missing")));
    EXPECT_TRUE(mainRows().empty());
}

} // namespace
