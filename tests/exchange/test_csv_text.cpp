#include "data/Database.h"
#include "formats/CsvText.h"
#include "tests/exchange/ExchangeTest.h"

using namespace kestrel;
using namespace kestrel::test;

namespace {

class CsvTextTest : public KestrelTest {
protected:
    QString file(const QByteArray& bytes, const QString& name = QStringLiteral("in.csv")) { return writeBytes(dir.filePath(name), bytes); }
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

    // RFC 4180: the last record may lack its line break; a quoted field may be empty or hold only a
    // quote; spaces inside quotes are kept; CR alone also ends a record.
    const std::pair<QByteArray, std::vector<CsvRecord>> rfc[] = {
        {"a,b\r\nc,d", {{"a", "b"}, {"c", "d"}}},
        {"\"\",\"\"\"\",\" x \"\r\n", {{QString(), "\"", " x "}}},
        {"a,b\rc,d\r", {{"a", "b"}, {"c", "d"}}},
    };
    for (const auto& [bytes, expected] : rfc)
        EXPECT_EQ(records(file(bytes, QStringLiteral("rfc.csv"))), expected) << bytes.toStdString();
}

// Exports of mail programs, address books and spreadsheets, a few lines each, in the encodings
// and delimiters they are written with.
TEST_F(CsvTextTest, EncodingAndDelimiterOfCommonExports)
{
    const auto utf16 = [](const QString& text, bool le, bool mark) {
        QByteArray out = mark ? QByteArray(le ? "\xFF\xFE" : "\xFE\xFF") : QByteArray();
        for (const QChar c : text) {
            const char hi = char(c.unicode() >> 8), lo = char(c.unicode() & 0xFF);
            out += le ? QByteArray{&lo, 1} + QByteArray{&hi, 1} : QByteArray{&hi, 1} + QByteArray{&lo, 1};
        }
        return out;
    };
    const QString mail = QStringLiteral("First Name\tLast Name\tE-mail Address\r\nJürgen\tMüller\tjm@example.de\r\n");
    struct Case {
        const char* name;
        QByteArray bytes;
        char delimiter;
        CsvEncoding encoding;
        qint64 fallback;
    } cases[] = {
        {"mail program, UTF-8 with mark", "\xEF\xBB\xBF" "First Name,Last Name,E-mail Address\r\nJ\xC3\xBCrgen,M\xC3\xBCller,jm@example.de\r\n",
         ',', CsvEncoding::Utf8Bom, 0},
        {"spreadsheet Unicode text", utf16(mail, true, true), '\t', CsvEncoding::Utf16LE, 0},
        {"UTF-16 BE", utf16(QString(mail).replace(u'\t', u','), false, true), ',', CsvEncoding::Utf16BE, 0},
        {"UTF-16 LE without mark", utf16(QString(mail).replace(u'\t', u';'), true, false), ';', CsvEncoding::Utf16LE, 0},
        {"German spreadsheet with sep line", "sep=;\r\nVorname;Nachname;E-Mail-Adresse\r\nJ\xFCrgen;M\xFCller;jm@example.de\r\n", ';',
         CsvEncoding::Mixed, 2},
        {"semicolons with a comma in a value", "Vorname;Nachname;E-Mail\nJ\xC3\xBCrgen;M\xC3\xBCller;jm@example.de\nAnn;Lee, Jr.;a@x.com\n", ';',
         CsvEncoding::Utf8, 0},
        {"one Windows-1252 line in UTF-8", "First,Last,Email\nJ\xC3\xBCrgen,M\xFCller,jm@example.de\n", ',', CsvEncoding::Mixed, 1},
    };
    for (const Case& c : cases) {
        CsvFile f(file(c.bytes, QStringLiteral("export.csv")));
        CsvRecord header, row;
        ASSERT_TRUE(f.next(header) && f.next(row)) << c.name;
        EXPECT_EQ(header.size(), 3u) << c.name;
        EXPECT_EQ((QStringList{*row[0], *row[1], *row[2]}), (QStringList{"Jürgen", "Müller", "jm@example.de"})) << c.name;
        EXPECT_EQ(f.delimiter(), c.delimiter) << c.name;
        EXPECT_EQ(int(f.encoding()), int(c.encoding)) << c.name;
        EXPECT_EQ(f.fallbackFields(), c.fallback) << c.name;
    }
}

TEST_F(CsvTextTest, BlankRowsAreSkippedAndCountedAndLinesStayTrue)
{
    CsvFile f(file("Name,City\r\n\r\nAnn,Rome\r\n,\r\n\"Bob\nBrown\",Oslo\r\n   \r\nCy,Lima"));
    std::vector<std::pair<qint64, QString>> seen;
    for (CsvRecord r; f.next(r);)
        seen.emplace_back(f.line(), r[0].value_or(QString()));
    EXPECT_EQ(seen, (std::vector<std::pair<qint64, QString>>{{1, "Name"}, {3, "Ann"}, {5, "Bob\nBrown"}, {8, "Cy"}}));
    EXPECT_EQ(f.blankRows(), 3);
}

TEST_F(CsvTextTest, AQuoteThatNeverClosesSetsItsRowAsideAndTheLinesAfterItAreRows)
{
    // In UTF-16 too, and across the reader's chunks: the set-aside row is the line the quote opens
    // on, as the file holds it; the lines after it come in with their own numbers.
    // The first quote is read to the one of line 4004, which cannot close it; that one in turn
    // never closes.
    QByteArray body = "Name,City\r\nAnn,Rome\r\n\"Bob,Oslo\r\n";
    for (int i = 0; i < 4000; ++i)
        body += "Row" + QByteArray::number(i) + ",Lima\r\n";
    body += "Zed,\"Kyiv\r\nLast,Line";
    for (const bool utf16 : {false, true}) {
        SCOPED_TRACE(utf16);
        const QByteArray bytes = utf16 ? QByteArray("\xFF\xFE") + QByteArray(reinterpret_cast<const char*>(QString::fromUtf8(body).utf16()), body.size() * 2)
                                       : body;
        CsvFile f(file(bytes));
        std::vector<qint64> lines;
        QStringList firsts;
        for (CsvRecord r; f.next(r);) {
            lines.push_back(f.line());
            firsts << r[0].value_or(QString());
        }
        ASSERT_EQ(lines.size(), 4003u);
        EXPECT_EQ((std::vector<qint64>{lines[0], lines[1], lines[2], lines[4001], lines[4002]}), (std::vector<qint64>{1, 2, 4, 4003, 4005}));
        EXPECT_EQ(firsts.mid(0, 3), (QStringList{"Name", "Ann", "Row0"}));
        EXPECT_EQ(firsts.back(), QStringLiteral("Last"));
        const auto aside = f.takeSetAside();
        ASSERT_EQ(aside.size(), 2u);
        EXPECT_EQ(std::tuple(aside[0].line, aside[0].lastLine, aside[0].field, aside[0].record),
                  std::tuple(qint64(3), qint64(4004), 0, QByteArray("\"Bob,Oslo")));
        EXPECT_EQ(std::tuple(aside[1].line, aside[1].lastLine, aside[1].field, aside[1].record),
                  std::tuple(qint64(4004), qint64(4005), 1, QByteArray("Zed,\"Kyiv")));
    }
}

TEST_F(CsvTextTest, MalformedFilesAndStatementsAreErrors)
{
    const QString unclosed = file("a,\"b\n1,2\n", QStringLiteral("unclosed.csv"));
    expectError([&] { records(unclosed); }, kTextFileError, "the double quote that opens field 2 at line 1 never closes");
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
