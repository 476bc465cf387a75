#include "data/Database.h"
#include "exchange/CsvText.h"
#include "tests/exchange/ExchangeTest.h"

using namespace kestrel;
using namespace kestrel::test;

namespace {

class CsvTextTest : public KestrelTest {
protected:
    QString file(const QByteArray& bytes, const QString& name = QStringLiteral("in.csv"))
    {
        return writeFile(dir.filePath(name), bytes);
    }

    std::vector<CsvRecord> records(const QString& path)
    {
        std::vector<CsvRecord> out;
        CsvFile f(path);
        CsvRecord r;
        while (f.next(r))
            out.push_back(r);
        return out;
    }

    // Expects a DbError of the number whose description contains `part`.
    template <class F> void expectError(F&& f, int number, const QString& part)
    {
        try {
            f();
            ADD_FAILURE() << "no error";
        } catch (const DbError& e) {
            EXPECT_EQ(e.number(), number);
            EXPECT_TRUE(e.description().contains(part, Qt::CaseInsensitive)) << e.what();
        }
    }
};

TEST_F(CsvTextTest, SplitsRfc4180RecordsFromSpreadsheetFiles)
{
    // BOM, CRLF, a quoted comma, doubled quotes, a line break inside quotes, a blank line,
    // ,, against "", blanks around an unquoted field, and no line end after the last record.
    const auto rows = records(file("\xEF\xBB\xBF\"Last Name\",First,Note\r\n"
                                   "\"Smith, Jr.\",\"Say \"\"hi\"\"\",\"two\r\nlines\"\r\n"
                                   "\r\n"
                                   "O'Brien,,\"\"\r\n"
                                   "  Lee  ,Ann,x"));
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0], (CsvRecord{QStringLiteral("Last Name"), QStringLiteral("First"), QStringLiteral("Note")}));
    EXPECT_EQ(rows[1], (CsvRecord{QStringLiteral("Smith, Jr."), QStringLiteral("Say \"hi\""),
                                  QStringLiteral("two\r\nlines")}));
    EXPECT_EQ(rows[2], (CsvRecord{QStringLiteral("O'Brien"), std::nullopt, QString()}));
    EXPECT_EQ(rows[3], (CsvRecord{QStringLiteral("Lee"), QStringLiteral("Ann"), QStringLiteral("x")}));
}

TEST_F(CsvTextTest, ReadsWindows1252WhenTheFileIsNotUtf8)
{
    const auto ansi = records(file("Name\nRen\xe9" "e M\xfcller\n\x80 5\n", QStringLiteral("ansi.csv")));
    ASSERT_EQ(ansi.size(), 3u);
    EXPECT_EQ(*ansi[1][0], QStringLiteral("Renée Müller"));
    EXPECT_EQ(*ansi[2][0], QStringLiteral("€ 5"));
    // Valid UTF-8 stays UTF-8, even when the only non-ASCII text is far into the file.
    QByteArray big = "Name\n";
    for (int i = 0; i < 20000; ++i)
        big += "Plain name\n";
    big += "Zo\xc3\xab\n";
    const auto utf8 = records(file(big, QStringLiteral("utf8.csv")));
    EXPECT_EQ(*utf8.back()[0], QStringLiteral("Zoë"));
}

TEST_F(CsvTextTest, StreamsRecordsAcrossChunkBoundaries)
{
    // Records of ~100 bytes with a quoted line break: many of them straddle the read chunks.
    QByteArray bytes = "id,text\n";
    const int n = 5000;
    for (int i = 0; i < n; ++i)
        bytes += QByteArray::number(i) + ",\"line one of " + QByteArray::number(i) + ", with \"\"quotes\"\"\n" +
                 QByteArray(60, 'x') + "\"\n";
    const auto rows = records(file(bytes));
    ASSERT_EQ(rows.size(), size_t(n + 1));
    for (int i : {0, 650, 1311, n - 1}) {
        EXPECT_EQ(*rows[size_t(i + 1)][0], QString::number(i));
        EXPECT_EQ(*rows[size_t(i + 1)][1],
                  QStringLiteral("line one of %1, with \"quotes\"\n").arg(i) + QString(60, u'x'));
    }
}

TEST_F(CsvTextTest, MalformedMissingAndEmptyFilesAreErrors)
{
    const QString unclosed = file("a,b\n1,\"never closed\n2,3\n", QStringLiteral("unclosed.csv"));
    expectError([&] { records(unclosed); }, kTextFileError, QStringLiteral("closing double quote is missing"));
    const QString stray = file("a,b\n1,2\n3,4\"5\n", QStringLiteral("stray.csv"));
    expectError([&] { records(stray); }, kTextFileError, QStringLiteral("line 3"));
    expectError([&] { readCsvHeader(dir.filePath(QStringLiteral("nowhere.csv"))); }, kTextFileError,
                QStringLiteral("could not be opened"));
    const QString empty = file("", QStringLiteral("empty.csv"));
    expectError([&] { readCsvHeader(empty); }, kTextFileError, QStringLiteral("empty"));
    const QString blank = file("\r\n\r\n", QStringLiteral("blank.csv"));
    expectError([&] { TextQuery(dir.path(), QStringLiteral("select a from blank.csv")); }, kTextFileError,
                QStringLiteral("empty"));
}

TEST_F(CsvTextTest, HeaderIsSplitByTheSameRulesAsRows)
{
    EXPECT_EQ(readCsvHeader(file("\"Last Name\",\"First Name\",Email\r\n1,2,3\r\n")),
              (QStringList{QStringLiteral("Last Name"), QStringLiteral("First Name"), QStringLiteral("Email")}));
    EXPECT_EQ(readCsvHeader(file("\"Name, full\",,x\n", QStringLiteral("b.csv"))),
              (QStringList{QStringLiteral("Name, full"), QString(), QStringLiteral("x")}));
}

TEST_F(CsvTextTest, QuerySelectsColumnsByNameWhateverTheirCaseAndOrder)
{
    file("\"Last Name\",E-mail Address,Company,Phone,Phone\n"
         "Smith,s@x.com,Acme,111,222,extra\n"
         "Lee\n",
         QStringLiteral("leads.csv"));
    TextQuery q(dir.path() + u'/', QStringLiteral("select company,[E-mail Address] as Email_Address,"
                                                  "[last name] as Last_Name,phone,PHONE from leads.csv"));
    ASSERT_EQ(q.fieldCount(), 5);
    EXPECT_EQ(q.fieldName(1), QStringLiteral("Email_Address"));
    ASSERT_TRUE(q.next());
    EXPECT_EQ(q.text(0), QStringLiteral("Acme"));
    EXPECT_EQ(q.text(1), QStringLiteral("s@x.com"));
    EXPECT_EQ(q.text(2), QStringLiteral("Smith"));
    // A name the header holds twice: the first request gets the first copy, the second the next.
    EXPECT_EQ(q.text(3), QStringLiteral("111"));
    EXPECT_EQ(q.text(4), QStringLiteral("222"));
    // A short row gives nulls for what it lacks.
    ASSERT_TRUE(q.next());
    EXPECT_EQ(q.text(2), QStringLiteral("Lee"));
    EXPECT_FALSE(q.field(0).has_value());
    EXPECT_FALSE(q.field(1).has_value());
    EXPECT_FALSE(q.next());
}

TEST_F(CsvTextTest, QueryRefusesUnknownColumnsAndBadStatements)
{
    file("a,b\n1,2\n", QStringLiteral("t.csv"));
    expectError([&] { TextQuery(dir.path(), QStringLiteral("select a,Email from t.csv")); }, kTextNoSuchColumn,
                QStringLiteral("'Email'"));
    expectError([&] { TextQuery(dir.path(), QStringLiteral("select a b from t.csv")); }, kTextBadStatement,
                QStringLiteral("syntax"));
    expectError([&] { TextQuery(dir.path(), QStringLiteral("select [a from t.csv")); }, kTextBadStatement,
                QStringLiteral("bracket"));
    // A bracketed name may hold "]" written twice, and the file name may hold blanks.
    file("\"x]y\",z\nv,w\n", QStringLiteral("my leads.csv"));
    TextQuery q(dir.path(), QStringLiteral("select [x]]y] as xy from my leads.csv"));
    ASSERT_TRUE(q.next());
    EXPECT_EQ(q.text(0), QStringLiteral("v"));
}

} // namespace
