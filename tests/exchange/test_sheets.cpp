// Spreadsheets read as the import reads CSV files: the lead lists in samples/ were written by
// openpyxl and saved again by LibreOffice Calc (samples/make_leads.py says how), never by Kestrel.
#include "data/Database.h"
#include "data/Globals.h"
#include "exchange/frmImport.h"
#include "exchange/modImport.h"
#include "formats/SheetFile.h"
#include "formats/SheetValues.h"
#include "tests/exchange/ExchangeTest.h"
#include "tests/support/PrintQString.h"
#include "ui/Desktop.h"

#include <QtWidgets>
#include <QTest>

#include <zip.h>

using namespace kestrel;
using namespace kestrel::test;

namespace {

QString sample(const char* name) { return QStringLiteral(KESTREL_SOURCE_DIR "/tests/exchange/samples/") + QLatin1String(name); }

// A zip archive of the given parts, as a spreadsheet program would write one.
QString writeZip(const QString& path, const std::vector<std::pair<const char*, QByteArray>>& parts)
{
    QFile::remove(path);
    int error = 0;
    zip_t* z = zip_open(QFile::encodeName(path).constData(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    EXPECT_NE(z, nullptr);
    std::vector<QByteArray> kept; // libzip reads the buffers when it closes the archive
    for (const auto& [name, bytes] : parts) {
        kept.push_back(bytes);
        zip_source_t* s = zip_source_buffer(z, kept.back().constData(), zip_uint64_t(kept.back().size()), 0);
        EXPECT_GE(zip_file_add(z, name, s, ZIP_FL_OVERWRITE), 0) << name;
    }
    EXPECT_EQ(zip_close(z), 0);
    return path;
}

struct Row {
    qint64 line;
    QStringList cells;
    bool operator==(const Row&) const = default;
};
void PrintTo(const Row& r, std::ostream* os) { *os << r.line << ": " << r.cells.join(u'|').toStdString(); }

std::vector<Row> readSheet(const QString& path, qint64* blank = nullptr)
{
    const std::unique_ptr<RecordFile> f = openRecordFile(path);
    std::vector<Row> out;
    for (CsvRecord r; f->next(r);) {
        QStringList cells;
        for (const CsvField& c : r)
            cells << c.value_or(QString());
        out.push_back({f->line(), cells});
    }
    if (blank)
        *blank = f->blankRows();
    return out;
}

class SheetTest : public KestrelTest {};

TEST_F(SheetTest, LeadListsSavedBySpreadsheetProgramsReadAsTheSheetShowsThem)
{
    // Zeros in front of a ZIP code and a phone number's brackets as the number format shows
    // them, the whole of a long number, dates in ISO form, text that looks like a formula as it
    // is, two paragraphs of a cell as two lines, a cell's comment left out; the second sheet unread.
    const std::vector<Row> expected = {
        {1, {"First Name", "Last Name", "Company", "Address", "City", "State", "ZIP", "Phone", "Mobile", "E-mail", "Added", "Rating"}},
        {2, {"Ann", "O'Neil", "Acme, Inc.", "12 Main St\nSuite 4", "Boston", "MA", "02134", "(617) 555-0100", "+1 617 555 0199",
             "ann@acme.example", "2024-03-05", "25%"}},
        {3, {"José", "Müller", "=1+1", "Hauptstraße 5", "Köln", "", "01067", "49221123456", "+4917112345", "jose@example.de",
             "2023-12-31 14:30", "4.5"}},
        {6, {"Lee", "Chen", "Chen & Sons", "1 Elm", "Austin", "TX", "78701", "512-555-0100", "", "", "", "3.0"}},
        {7, {"Kim", "Park", "Park", "5 Oak  Lane", "Austin", "TX", "73301", "2125550100", "-", "kim@park.example", "2024-01-02",
             "1,234,567"}},
    };
    for (const char* file : {"leads-openpyxl.xlsx", "leads-libreoffice.xlsx", "leads-libreoffice.ods"}) {
        SCOPED_TRACE(file);
        qint64 blank = -1;
        EXPECT_EQ(readSheet(sample(file), &blank), expected);
        EXPECT_EQ(blank, 2);
        EXPECT_EQ(readCsvHeader(sample(file)), expected[0].cells);
    }

    // What other writers put in a sheet: inline strings with runs and phonetic guides, rows and
    // cells without references and with gaps, booleans, errors, a formula's text result, a
    // number stored as text, the 1904 date system, and hidden sheets before the visible one.
    const QByteArray types =
        R"(<?xml version="1.0"?><Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types"/>)";
    const QByteArray rels =
        R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">)"
        R"(<Relationship Id="r1" Type="http://purl.oclc.org/ooxml/officeDocument/relationships/officeDocument" Target="/book/wb.xml"/></Relationships>)";
    const QByteArray book =
        R"(<workbook xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships"><workbookPr date1904="1"/><sheets>)"
        R"(<sheet name="Old" sheetId="1" state="hidden" r:id="a"/><sheet name="List" sheetId="2" r:id="b"/></sheets></workbook>)";
    const QByteArray bookRels =
        R"(<Relationships><Relationship Id="a" Type="x/worksheet" Target="old.xml"/><Relationship Id="b" Type="x/worksheet" Target="sheets/list.xml"/>)"
        R"(<Relationship Id="s" Type="x/styles" Target="st.xml"/></Relationships>)";
    const QByteArray styles = R"(<styleSheet><numFmts><numFmt numFmtId="170" formatCode="0000"/></numFmts>)"
                              R"(<cellStyleXfs><xf numFmtId="14"/></cellStyleXfs><cellXfs><xf numFmtId="0"/><xf numFmtId="14"/><xf numFmtId="170"/></cellXfs></styleSheet>)";
    const QByteArray sheet =
        R"(<worksheet><sheetData><row><c t="inlineStr"><is><r><t>Na</t></r><r><t xml:space="preserve">me </t></r><rPh><t>ナ</t></rPh></is></c>)"
        "<c t=\"inlineStr\"><is>\n  <t>Flag</t>\n</is></c><c><v>7</v></c></row>"
        R"(<row r="4"><c r="A4" t="str"><f>A1&amp;"x"</f><v>Ann_x000D__x005F_x0041_</v></c><c r="C4" t="b"><v>1</v></c><c r="E4" s="2"><v>42</v></c></row>)"
        R"(<row r="5"><c t="e"><v>#N/A</v></c><c s="1"><v>0</v></c></row></sheetData></worksheet>)";
    const QString crafted = writeZip(dir.filePath(QStringLiteral("crafted.xlsx")),
                                     {{"[Content_Types].xml", types}, {"_rels/.rels", rels}, {"book/wb.xml", book},
                                      {"book/_rels/wb.xml.rels", bookRels}, {"book/st.xml", styles},
                                      {"book/old.xml", "<worksheet><sheetData><row><c t=\"inlineStr\"><is><t>hidden</t></is></c></row></sheetData></worksheet>"},
                                      {"book/sheets/list.xml", sheet}});
    qint64 blank = -1;
    EXPECT_EQ(readSheet(crafted, &blank), (std::vector<Row>{{1, {"Name ", "Flag", "7"}},
                                                            {4, {"Ann\r_x0041_", "", "TRUE", "", "0042"}},
                                                            {5, {"#N/A", "1904-01-01", ""}}}));
    EXPECT_EQ(blank, 2);
}

TEST(SheetValues, NumbersAndDatesReadAsTheSheetShowsThem)
{
    const struct {
        double value;
        const char* format;
        const char* shown;
    } cases[] = {
        {2134, "00000", "02134"},
        {21341234, "00000-0000", "02134-1234"},
        {5551234, "[<=9999999]###-####;(###) ###-####", "555-1234"},
        {6175550100, "[<=9999999]###-####;(###) ###-####", "(617) 555-0100"},
        {6175550100, "\\(###\\)\\ ###\\-####", "(617) 555-0100"},
        {1234.5, "#,##0.00", "1,234.50"},
        {-1234, "#,##0 ;(#,##0)", "(1,234)"},
        {-3.456, "0.00", "-3.46"},
        {0.255, "0%", "26%"},
        {12.5, "0.0#", "12.5"},
        {1500000, "#,##0,", "1,500"},
        {7, "\"No. \"0", "No. 7"},
        {4922112345678, "General", "4922112345678"},
        {4922112345678, "0.00E+00", "4922112345678"}, // scientific would lose digits
        {0.1 + 0.2, "", "0.3"},
        {45356, "mm/dd/yyyy", "2024-03-05"},
        {45291.6041666667, "yyyy-mm-dd hh:mm", "2023-12-31 14:30"},
        {0.5, "h:mm AM/PM", "12:00"},
        {0.75, "[$-409]h:mm:ss", "18:00:00"},
        {1.5, "[h]:mm", "36:00"},
        {59, "d-mmm-yy", "1900-02-28"},
        {60, "d-mmm-yy", "1900-02-29"}, // the day the 1900 date system counts though it never was
        {61, "d-mmm-yy", "1900-03-01"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(sheetNumberText(c.value, QString::fromUtf8(c.format)), QString::fromUtf8(c.shown)) << c.format << ' ' << c.value;
    EXPECT_EQ(sheetNumberText(0, QStringLiteral("yyyy-mm-dd"), true), QStringLiteral("1904-01-01"));
    EXPECT_EQ(isoDateText(u"2024-03-05T00:00:00"), QStringLiteral("2024-03-05"));
    EXPECT_EQ(isoDateText(u"2024-03-05T09:05:07"), QStringLiteral("2024-03-05 09:05:07"));
}

TEST_F(SheetTest, FilesTheImportCannotReadAreNamedInPlainWords)
{
    const auto refusal = [](const QString& path) {
        try {
            readSheet(path);
        } catch (const DbError& e) {
            return e.description();
        }
        return QStringLiteral("read without a word");
    };
    const QString xls = writeBytes(dir.filePath(QStringLiteral("old.xls")), QByteArray("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) + QByteArray(504, '\0'));
    EXPECT_TRUE(refusal(xls).contains(QStringLiteral("is an Excel 97-2003 workbook (.xls) or a workbook protected by a password")));
    const QString docx = writeZip(dir.filePath(QStringLiteral("letter.xlsx")), {{"word/document.xml", "<w:document/>"}});
    EXPECT_TRUE(refusal(docx).contains(QStringLiteral("is a zip archive (such as a word-processor document), not a spreadsheet")));
    const QString locked = writeZip(dir.filePath(QStringLiteral("locked.ods")),
                                    {{"mimetype", "application/vnd.oasis.opendocument.spreadsheet"},
                                     {"META-INF/manifest.xml", "<manifest><file-entry><encryption-data/></file-entry></manifest>"},
                                     {"content.xml", "\x93\x11garbled"}});
    EXPECT_TRUE(refusal(locked).contains(QStringLiteral("is protected by a password")));
    // Cut short anywhere, a workbook is refused with the reason, never half read in silence.
    const QByteArray whole = readBytes(sample("leads-libreoffice.ods"));
    for (const qsizetype keep : {qsizetype(100), whole.size() / 2, whole.size() - 30}) {
        const QString cut = writeBytes(dir.filePath(QStringLiteral("cut.ods")), whole.left(keep));
        EXPECT_TRUE(refusal(cut).startsWith(QStringLiteral("The file '%1' could not be opened as a spreadsheet").arg(cut)) ||
                    refusal(cut).startsWith(QStringLiteral("The spreadsheet 'cut.ods' could not be read")))
            << keep << ' ' << refusal(cut).toStdString();
    }
}

TEST_F(SheetTest, APurchasedLeadListImportsThroughTheAssistantFieldForField)
{
    for (const char* file : {"leads-libreoffice.ods", "leads-openpyxl.xlsx"}) {
        SCOPED_TRACE(file);
        exec(sConnContacts, QStringLiteral("delete from contacts"));
        desk.onModal(QStringLiteral("frmImport"), [&](QDialog& d) {
            auto& f = static_cast<frmImport&>(d);
            desk.answerOpenFile(sample(file));
            QTest::mouseClick(f.cmdBrowse, Qt::LeftButton);
            EXPECT_EQ(desk.prompts.back().extra, QStringLiteral("Contacts (*.csv *.xlsx *.ods)|*.csv;*.xlsx;*.ods|CSV (*.csv)|*.csv|"
                                                                "Excel workbook (*.xlsx)|*.xlsx|OpenDocument spreadsheet (*.ods)|*.ods"));
            if (file == std::string_view("leads-libreoffice.ods")) {
                QTest::mouseClick(f.cmdMap, Qt::LeftButton);
                desk.answerYes(); // Added and Rating are no contact field: marked DELETE
                QTest::mouseClick(f.cmdMapByName, Qt::LeftButton);
            } else {
                desk.answerYes(); // the workbook's header is the same: mapped as before
                QTest::mouseClick(f.cmdMap, Qt::LeftButton);
            }
            QTest::mouseClick(f.cmdDone, Qt::LeftButton);
            // The preview names each row by its row in the sheet.
            EXPECT_EQ(f.dgTemp->model()->index(2, 13).data().toString(), QStringLiteral("6"));
            QTest::mouseClick(f.cmdImport, Qt::LeftButton);
        });
        frmImport f;
        desktop().runModal(f);
        EXPECT_EQ(rows(sConnContacts, QStringLiteral("select firstname,lastname,company,address,city,st,zip,workph,cellph,email "
                                                     "from contacts order by id")),
                  (std::vector<QStringList>{
                      {"Ann", "O'Neil", "Acme, Inc.", "12 Main St\nSuite 4", "Boston", "MA", "02134", "(617) 555-0100", "+1 617 555 0199", "ann@acme.example"},
                      {"José", "Müller", "=1+1", "Hauptstraße 5", "Köln", "", "01067", "49221123456", "+4917112345", "jose@example.de"},
                      {"Lee", "Chen", "Chen & Sons", "1 Elm", "Austin", "TX", "78701", "512-555-0100", "", ""},
                      {"Kim", "Park", "Park", "5 Oak  Lane", "Austin", "TX", "73301", "2125550100", "-", "kim@park.example"}}));
        ASSERT_FALSE(desk.messages().isEmpty());
        EXPECT_TRUE(desk.messages().last().startsWith(QStringLiteral("4 contacts were imported."))) << desk.messages().last().toStdString();
    }
}

} // namespace
