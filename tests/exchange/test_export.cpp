#include "data/Globals.h"
#include "data/ContactFields.h"
#include "data/modData.h"
#include "exchange/frmLeadCSV.h"
#include "exchange/modImport.h"
#include "formats/CsvText.h"
#include "formats/ImportRules.h"
#include "tests/contacts/Common.h"
#include "tests/exchange/ExchangeTest.h"
#include "tests/support/PrintQString.h"
#include "ui/Desktop.h"

#include <QtWidgets>
#include <QTest>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>


using namespace kestrel;
using namespace kestrel::test;

namespace {

class ExportTest : public KestrelTest {
protected:
    static void click(QWidget* w) { QTest::mouseClick(w, Qt::LeftButton); }

    void addFull(const QString& last, const QString& first, const QString& company, const QString& email)
    {
        exec(sConnContacts, QStringLiteral("INSERT into contacts(lastname,firstname,company,city,email,active,contype)"
                                           "values('%1','%2','%3','Salem','%4',True,'Cust')")
                                .arg(Quoted(last), Quoted(first), Quoted(company), Quoted(email)));
    }

    // The contacts table emptied and the file imported into it, each column to the field named.
    void importAgain(const QString& path, const std::vector<std::pair<const char*, const char*>>& columns, const QString& type)
    {
        exec(sConnContacts, QStringLiteral("delete from contacts"));
        QStringList entries;
        for (const auto& [column, field] : columns)
            entries << FormatMapLine(QLatin1String(column), QLatin1String(field));
        ASSERT_TRUE(LoadCsvToTemp(path, entries));
        ASSERT_TRUE(ImportTempRows(type));
    }

    // Runs the export window with the script, as the Contacts menu does; returns its result.
    int runExport(const std::function<void(frmLeadCSV&)>& script)
    {
        desk.onModal(QStringLiteral("frmLeadCSV"), [&](QDialog& d) { script(static_cast<frmLeadCSV&>(d)); });
        frmLeadCSV f;
        return desktop().runModal(f);
    }
};

TEST_F(ExportTest, RefusesWithoutPathOrWithOneColumnOrAnUnwritableFileAndStaysOpen)
{
    addFull(QStringLiteral("Adams"), QStringLiteral("Al"), QString(), QStringLiteral("al@x.com"));
    const QString path = dir.filePath(QStringLiteral("no such folder/out.csv"));
    runExport([&](frmLeadCSV& f) {
        f.chkField[9]->setChecked(true);
        click(f.cmdExport);
        desk.answerSaveFile(path);
        click(f.cmdBrowse);
        EXPECT_EQ(f.lblPath->text(), path);
        f.chkField[9]->setChecked(false);
        click(f.cmdExport);
        f.chkField[1]->setChecked(true);
        click(f.cmdExport);
        EXPECT_TRUE(f.isVisible());
        EXPECT_TRUE(f.chkField[1]->isChecked());
    });
    const QStringList m = desk.messages();
    ASSERT_EQ(m.size(), 3);
    EXPECT_EQ(m.mid(0, 2), (QStringList{QStringLiteral("Please select path for file."), QStringLiteral("You must select at least 2 fields.")}));
    EXPECT_TRUE(m[2].startsWith(QStringLiteral("The file %1 could not be written").arg(path)));
    const auto save = std::find_if(desk.prompts.begin(), desk.prompts.end(), [](const Prompt& p) { return p.kind == u"save"; });
    ASSERT_NE(save, desk.prompts.end());
    EXPECT_EQ(save->text + u'|' + save->extra,
              QStringLiteral("Select Directory and Name CSV File|CSV (*.csv)|*.csv|Excel workbook (*.xlsx)|*.xlsx"));
}

TEST_F(ExportTest, WritesForASpreadsheetOrPlainAndReadsBackExactlyEitherWay)
{
    addFull(QStringLiteral("baker"), QStringLiteral("=HYPERLINK(\"x\")"), QString(), QStringLiteral("bo@x.com"));
    addFull(QStringLiteral("Adams"), QStringLiteral("'=quoted"), QStringLiteral("Acme, Inc."), QStringLiteral("@al"));
    addFull(QStringLiteral("O'Neil"), QStringLiteral("-5"), QStringLiteral("5\" Pipes"), QString());
    exec(sConnContacts, QStringLiteral("update contacts set email=null where lastname='O''Neil'"));
    const QString path = writeBytes(dir.filePath(QStringLiteral("out.csv")), "an older, longer file\r\nwith two lines\r\n");
    const QString all = QStringLiteral("select lastname,firstname,company,coalesce(email,'') from contacts order by lastname");
    const auto stored = rows(sConnContacts, all);
    const struct {
        bool spreadsheet;
        std::string bytes;
    } cases[] = {
        {true, "\xEF\xBB\xBFlastname,firstname,email,company\r\n"
               "Adams,''=quoted,'@al,\"Acme, Inc.\"\r\n"
               "baker,\"'=HYPERLINK(\"\"x\"\")\",bo@x.com,\r\n"
               "O'Neil,'-5,,\"5\"\" Pipes\"\r\n"},
        {false, "lastname,firstname,email,company\r\n"
                "Adams,'=quoted,@al,\"Acme, Inc.\"\r\n"
                "baker,\"=HYPERLINK(\"\"x\"\")\",bo@x.com,\r\n"
                "O'Neil,-5,,\"5\"\" Pipes\"\r\n"},
    };
    for (const auto& c : cases) {
        const int result = runExport([&](frmLeadCSV& f) {
            desk.answerSaveFile(path);
            click(f.cmdBrowse);
            f.chkField[1]->setChecked(true);  // First Name
            f.chkField[10]->setChecked(true); // Company
            f.chkField[9]->setChecked(true);  // Email
            if (!c.spreadsheet)
                QTest::mouseClick(f.chkSpreadsheet, Qt::LeftButton, {}, QPoint(8, f.chkSpreadsheet->height() / 2));
            click(f.cmdExport);
        });
        EXPECT_EQ(result, QDialog::Accepted);
        // Column order is the box order; a null ends its line with a comma.
        EXPECT_EQ(readBytes(path).toStdString(), c.bytes);
        // Imported again into an empty table, the stored values come back exactly.
        importAgain(path, {{"lastname", "LastName"}, {"firstname", "FirstName"}, {"email", "Email"}, {"company", "Company"}},
                    QStringLiteral("Cust"));
        EXPECT_EQ(rows(sConnContacts, all), stored);
    }
    EXPECT_TRUE(desk.messages().isEmpty()) << desk.messages().join(u'|').toStdString();
}

TEST_F(ExportTest, TheLastContactColumnIsTheNewestHistoryDateAsAnIndependentReaderSeesIt)
{
    addFull(QStringLiteral("Lee"), QStringLiteral("Ann"), QString(), QString());
    addFull(QStringLiteral("Baker"), QStringLiteral("Bo"), QString(), QString());
    const QString ann = rows(sConnContacts, QStringLiteral("select id from contacts where lastname='Lee'"))[0][0];
    for (const QString& day : {QStringLiteral("#3/14/2027#"), QStringLiteral("#12/1/2026#")})
        exec(sConnContacts, QStringLiteral("INSERT into history(contact_id,kind,direction,histdate,subject,note,outcome,"
                                           "author)values(%1,'Call','',%2,'','','','t')")
                                .arg(ann, day));
    const QString path = dir.filePath(QStringLiteral("last.csv"));
    EXPECT_EQ(runExport([&](frmLeadCSV& f) {
                  desk.answerSaveFile(path);
                  click(f.cmdBrowse);
                  QTest::mouseClick(f.chkLastContact, Qt::LeftButton, {}, QPoint(8, f.chkLastContact->height() / 2));
                  click(f.cmdExport);
              }),
              QDialog::Accepted);
    EXPECT_TRUE(readBytes(path).contains("Lee,2027-03-14\r\n"));
    if (const auto read = pythonReads("csv", "for r in csv.reader(open(sys.argv[1],encoding='utf-8-sig')): print('|'.join(r))", path)) {
        EXPECT_EQ(*read, (QStringList{"lastname|lastcontact", "Baker|", "Lee|2027-03-14"}));
    }
}

TEST_F(ExportTest, AWorkbookExportedFromTheKeyboardReadsBackCellForCellInAnIndependentReader)
{
    // Values a spreadsheet would change if it could: zeros in front, plus signs, formulas,
    // apostrophes, line breaks, blanks around, the text of the workbook's own character escape.
    exec(sConnContacts, QStringLiteral(
        "INSERT into contacts(lastname,firstname,company,address,city,st,zip,homeph,workph,ext,email,cellph,contype,active)values"
        "('O''Neil','=1+1','-5','12 Main St\nSuite 4','Boston','MA','02134','+49 171 1234','0049','007',"
        "'@al','''+1 555','Lead',True)"));
    exec(sConnContacts, QStringLiteral(
        "INSERT into contacts(lastname,firstname,company,address,city,st,zip,email,contype,active)values"
        "('Ärger','  José ','Acme_x000D_Inc','','Köln','','01067','a\tb','Cust',True)"));
    exec(sConnContacts, QStringLiteral("INSERT into contacts(lastname,firstname,workph,contype,active)values('Zed','Zoë','(503) 555-0142','Personal',True)"));
    const QString path = dir.filePath(QStringLiteral("leads"));
    const int result = runExport([&](frmLeadCSV& f) {
        ASSERT_TRUE(activated(&f));
        // Alt+B names the file (the workbook type chosen in the dialog), Tab and Space tick every
        // box, Alt+X exports.
        desk.answerSaveFile(path, 1);
        QTest::keyClick(&f, Qt::Key_B, Qt::AltModifier);
        QTest::qWait(150);
        EXPECT_EQ(f.lblPath->text(), path + QStringLiteral(".xlsx"));
        EXPECT_FALSE(f.chkSpreadsheet->isEnabled());
        for (int i = 1; i < frmLeadCSV::kFields; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
        }
        QTest::keyClick(&f, Qt::Key_X, Qt::AltModifier);
        QTest::qWait(150);
    });
    EXPECT_EQ(result, QDialog::Accepted);
    EXPECT_TRUE(desk.messages().isEmpty()) << desk.messages().join(u'|').toStdString();
    const QString book = path + QStringLiteral(".xlsx");
    QStringList columns;
    for (int i = 0; i < frmLeadCSV::kFields; ++i)
        columns << QString::fromLatin1(frmLeadCSV::kTags[i]);
    std::vector<QStringList> stored = {columns};
    for (QStringList r : rows(sConnContacts, QStringLiteral("select ") + columns.join(u',') + QStringLiteral(" from contacts order by lastname")))
        stored.push_back(r.replaceInStrings(QStringLiteral("<null>"), QString()));

    // Read back by this program's own reader, every value is the same.
    std::vector<QStringList> readBack;
    const std::unique_ptr<RecordFile> sheet = openRecordFile(book);
    for (CsvRecord r; sheet->next(r);) {
        QStringList cells;
        for (size_t c = 0; c < size_t(columns.size()); ++c)
            cells << (c < r.size() ? r[c].value_or(QString()) : QString());
        readBack.push_back(cells);
    }
    EXPECT_EQ(readBack, stored);

    // Every cell a text cell holding exactly the stored value; the header bold and frozen.
    const auto json = pythonReads("openpyxl", R"(
import json
from openpyxl.utils.escape import unescape
ws = openpyxl.load_workbook(sys.argv[1]).worksheets[0]
# openpyxl 3.0 hands cell text over with the format's _xHHHH_ escapes as written; Excel and
# LibreOffice read each as the one character it stands for, as this does.
cells = [[("" if c.value is None else unescape(c.value)) for c in row] for row in ws.iter_rows()]
types = sorted({c.data_type for row in ws.iter_rows() for c in row if c.value is not None})
print(json.dumps({"cells": cells, "types": types, "frozen": ws.freeze_panes,
                  "bold": all(c.font.b for c in ws[1]), "text": ws["A2"].number_format}))
)", book);
    if (!json)
        GTEST_SKIP() << "the workbook was not read by an independent reader";
    const QJsonObject o = QJsonDocument::fromJson(json->join(u'\n').toUtf8()).object();
    std::vector<QStringList> seen;
    for (const QJsonValue& row : o.value(QStringLiteral("cells")).toArray()) {
        QStringList cells;
        for (const QJsonValue& c : row.toArray())
            cells << c.toString();
        seen.push_back(cells);
    }
    EXPECT_EQ(seen, stored);
    EXPECT_EQ(o.value(QStringLiteral("types")).toArray(), QJsonArray{QStringLiteral("s")});
    EXPECT_EQ(o.value(QStringLiteral("frozen")).toString(), QStringLiteral("A2"));
    EXPECT_TRUE(o.value(QStringLiteral("bold")).toBool());
    EXPECT_EQ(o.value(QStringLiteral("text")).toString(), QStringLiteral("@"));
}

TEST_F(ExportTest, TheNameOrTheTypeChosenDecidesBetweenWorkbookAndCsv)
{
    EXPECT_EQ(exportFormatFor(QStringLiteral("/x/leads.XLSX"), 0), ExportFormat::Workbook);
    EXPECT_EQ(exportFormatFor(QStringLiteral("/x/leads.csv"), 1), ExportFormat::Csv);
    EXPECT_EQ(exportFormatFor(QStringLiteral("/x/leads.txt"), 1), ExportFormat::Workbook);
    EXPECT_EQ(exportFormatFor(QStringLiteral("/x/leads"), 0), ExportFormat::Csv);
    addFull(QStringLiteral("Adams"), QStringLiteral("Al"), QString(), QStringLiteral("al@x.com"));
    const QString csvName = dir.filePath(QStringLiteral("plain"));
    const QString bookName = dir.filePath(QStringLiteral("typed.xlsx"));
    // A CSV name stays as typed, without an extension; a workbook's name says it is one.
    for (const QString& name : {csvName, bookName})
        runExport([&](frmLeadCSV& f) {
            f.chkField[9]->setChecked(true);
            desk.answerSaveFile(name, 0);
            click(f.cmdBrowse);
            EXPECT_EQ(f.chkSpreadsheet->isEnabled(), name == csvName);
            click(f.cmdExport);
        });
    EXPECT_EQ(readBytes(csvName), QByteArray("\xEF\xBB\xBFlastname,email\r\nAdams,al@x.com\r\n"));
    EXPECT_TRUE(readBytes(bookName).startsWith("PK\x03\x04"));
}

TEST_F(ExportTest, CsvForASpreadsheetLeavesPhoneNumbersAloneAndStillGuardsFormulas)
{
    // A number is written as it was typed, "(503) 555-0142" too: a spreadsheet reads that as text.
    for (const char* phone : {"+49 171 1234", "+1 (55) 0100", "+1+A1", "'+49 1", "(503) 555-0142"})
        exec(sConnContacts, QStringLiteral("INSERT into contacts(lastname,cellph,active,contype)values('P','%1',True,'Lead')").arg(Quoted(QString::fromUtf8(phone))));
    const QString path = dir.filePath(QStringLiteral("phones.csv"));
    QString error;
    ASSERT_TRUE(WriteLeadCsv(path, {QStringLiteral("lastname"), QStringLiteral("cellph")}, &error, true)) << error.toStdString();
    EXPECT_EQ(readBytes(path), QByteArray("\xEF\xBB\xBFlastname,cellph\r\nP,+49 171 1234\r\nP,+1 (55) 0100\r\nP,'+1+A1\r\nP,''+49 1\r\nP,(503) 555-0142\r\n"));
    importAgain(path, {{"lastname", "LastName"}, {"cellph", "CellPh"}}, QStringLiteral("Lead"));
    EXPECT_EQ(rows(sConnContacts, QStringLiteral("select cellph from contacts order by id")),
              (std::vector<QStringList>{{"+49 171 1234"}, {"+1 (55) 0100"}, {"+1+A1"}, {"'+49 1"}, {"(503) 555-0142"}}));
}

TEST_F(ExportTest, KestrelsOwnCsvMappedByNameComesBackWholeWithEachContactsType)
{
    const char* types[] = {"Lead", "Cust", "Contact", "Personal"};
    for (int i = 0; i < 4; ++i)
        exec(sConnContacts, QStringLiteral("INSERT into contacts(lastname,firstname,company,workph,cellph,notes,country,active,contype)"
                                           "values('N%1','F','Acme ::: Two','(503) 555-0142','+1 503 555 01%1',"
                                           "'line one\nline two','US',True,'%2')")
                                .arg(i)
                                .arg(QLatin1String(types[i])));
    QStringList columns, values;
    for (int f = 0; f < cf::Count; ++f) {
        columns << QLatin1String(contactFields()[f].column);
        values << QStringLiteral("coalesce(%1,'')").arg(columns.back()); // an empty field comes back empty, not null
    }
    const QString all = QStringLiteral("select ") + values.join(u',') + QStringLiteral(" from contacts order by lastname");
    const auto stored = rows(sConnContacts, all);
    for (const bool spreadsheet : {true, false}) {
        const QString path = dir.filePath(QStringLiteral("all.csv"));
        QString error;
        ASSERT_TRUE(WriteLeadCsv(path, columns, &error, spreadsheet)) << error.toStdString();
        exec(sConnContacts, QStringLiteral("delete from contacts"));
        const QStringList header = readCsvHeader(path);
        const QStringList named = mapByName(header);
        QStringList entries;
        for (qsizetype i = 0; i < header.size(); ++i) {
            EXPECT_FALSE(named[i].isEmpty()) << header[i].toStdString() << " is not mapped by name";
            entries << FormatMapLine(header[i], named[i]);
        }
        ASSERT_TRUE(LoadCsvToTemp(path, entries));
        // Chosen in the window for rows without a type of their own: none here.
        ASSERT_TRUE(ImportTempRows(QStringLiteral("Personal")));
        EXPECT_EQ(rows(sConnContacts, all), stored) << (spreadsheet ? "for a spreadsheet" : "plain");
    }
}

} // namespace
