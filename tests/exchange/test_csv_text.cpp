#include "data/Database.h"
#include "exchange/CsvText.h"
#include "tests/exchange/ExchangeTest.h"

using namespace kestrel;
using namespace kestrel::test;

namespace {

class CsvTextTest : public KestrelTest {
protected:
    QString file(const QByteArray& bytes, const QString& name = QStringLiteral("in.csv")) { return writeFile(dir.filePath(name), bytes); }
    std::vector<CsvRecord> records(const QString& path)
    {
        std::vector<CsvRecord> out;
        CsvFile f(path);
        for (CsvRecord r; f.next(r);)
            out.push_back(r);
        return out;
    }
    // Expects a DbError of the number whose description contains `part`.
    template <class F> void expectError(F&& f, int number, const char* part)
    {
        try {
            f();
            ADD_FAILURE() << "no error for " << part;
        } catch (const DbError& e) {
            EXPECT_TRUE(e.number() == number && e.description().contains(QLatin1String(part), Qt::CaseInsensitive)) << e.what();
        }
    }
};

TEST_F(CsvTextTest, SplitsRecordsAndHeadersAsSpreadsheetsWriteThem)
{
    // BOM, CRLF, a quoted comma, doubled quotes, a line break inside quotes, a blank line,
    // ,, against "", blanks around an unquoted field, and no line end after the last record.
    const QString path = file("\xEF\xBB\xBF\"Last Name\",First,Note\r\n"
                              "\"Smith, Jr.\",\"Say \"\"hi\"\"\",\"two\r\nlines\"\r\n"
                              "\r\n"
                              "O'Brien,,\"\"\r\n"
                              "  Lee  ,Ann,x");
    EXPECT_EQ(records(path), (std::vector<CsvRecord>{
                                 {QStringLiteral("Last Name"), QStringLiteral("First"), QStringLiteral("Note")},
                                 {QStringLiteral("Smith, Jr."), QStringLiteral("Say \"hi\""), QStringLiteral("two\r\nlines")},
                                 {QStringLiteral("O'Brien"), std::nullopt, QString()},
                                 {QStringLiteral("Lee"), QStringLiteral("Ann"), QStringLiteral("x")}}));
    EXPECT_EQ(readCsvHeader(path), (QStringList{QStringLiteral("Last Name"), QStringLiteral("First"), QStringLiteral("Note")}));

    // Records of ~100 bytes with a quoted line break: many of them straddle the read chunks.
    QByteArray bytes = "id,text\n";
    for (int i = 0; i < 5000; ++i)
        bytes += QByteArray::number(i) + ",\"line " + QByteArray::number(i) + " \"\"q\"\"\n" + QByteArray(70, 'x') + "\"\n";
    const auto rows = records(file(bytes, QStringLiteral("long.csv")));
    for (int i = 0; i < 5000; ++i)
        ASSERT_EQ(rows.at(size_t(i + 1)), (CsvRecord{QString::number(i), QStringLiteral("line %1 \"q\"\n").arg(i) + QString(70, u'x')}));

    // A field that begins with U+FEFF keeps it; only the file's own byte-order mark is dropped.
    EXPECT_EQ(records(file(",\xEF\xBB\xBF\xEF\xBB\xBF" "a\r\n", QStringLiteral("feff.csv"))),
              (std::vector<CsvRecord>{{std::nullopt, QStringLiteral("\uFEFF\uFEFFa")}}));

    // Not UTF-8: read as Windows-1252.
    const auto ansi = records(file("Name\nRen\xe9" "e M\xfcller\n\x80 5\n", QStringLiteral("ansi.csv")));
    ASSERT_EQ(ansi.size(), 3u);
    EXPECT_EQ(*ansi[1][0] + *ansi[2][0], QStringLiteral("Renée Müller€ 5"));
    // Valid UTF-8 stays UTF-8, even when the only non-ASCII text is far into the file.
    EXPECT_EQ(*records(file("Name\n" + QByteArray("Plain name\n").repeated(20000) + "Zo\xc3\xab\n", QStringLiteral("u.csv"))).back()[0],
              QStringLiteral("Zoë"));
}

TEST_F(CsvTextTest, MalformedFilesAndStatementsAreErrors)
{
    const QString unclosed = file("a,b\n1,\"never closed\n2,3\n", QStringLiteral("unclosed.csv"));
    expectError([&] { records(unclosed); }, kTextFileError, "closing double quote is missing");
    const QString stray = file("a,b\n1,2\n3,4\"5\n", QStringLiteral("stray.csv"));
    expectError([&] { records(stray); }, kTextFileError, "line 3");
    file("a,b\n1,2\n", QStringLiteral("t.csv"));
    expectError([&] { TextQuery(dir.path(), QStringLiteral("select a,Email from t.csv")); }, kTextNoSuchColumn, "'Email'");
    expectError([&] { TextQuery(dir.path(), QStringLiteral("select a b from t.csv")); }, kTextBadStatement, "syntax");
    expectError([&] { TextQuery(dir.path(), QStringLiteral("select [a from t.csv")); }, kTextBadStatement, "bracket");
}

TEST_F(CsvTextTest, QuerySelectsColumnsByName)
{
    file("\"Last Name\",E-mail Address,Company,Phone,Phone\n"
         "Smith,s@x.com,Acme,111,222,extra\n"
         "Lee\n",
         QStringLiteral("leads.csv"));
    TextQuery q(dir.path() + u'/', QStringLiteral("select company,[E-mail Address] as Email_Address,"
                                                  "[last name] as Last_Name,phone,PHONE from leads.csv"));
    EXPECT_EQ(q.fieldName(1), QStringLiteral("Email_Address"));
    ASSERT_TRUE(q.next());
    // Any case, any order; a name the header holds twice gives its copies in turn.
    EXPECT_EQ((QStringList{q.text(0), q.text(1), q.text(2), q.text(3), q.text(4)}), (QStringList{"Acme", "s@x.com", "Smith", "111", "222"}));
    // A short row gives nulls for what it lacks.
    ASSERT_TRUE(q.next());
    EXPECT_EQ(q.text(2), QStringLiteral("Lee"));
    EXPECT_FALSE(q.field(0).has_value());
    EXPECT_FALSE(q.next());
}

} // namespace
