#include "data/Globals.h"
#include "data/modData.h"
#include "exchange/frmLeadCSV.h"
#include "exchange/modImport.h"
#include "tests/exchange/ExchangeTest.h"
#include "ui/Desktop.h"

#include <QtWidgets>
#include <QTest>


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
    EXPECT_EQ(save->text + u'|' + save->extra, QStringLiteral("Select Directory and Name CSV File|CSV (*.csv)|*.csv"));
}

TEST_F(ExportTest, WritesForASpreadsheetOrPlainAndReadsBackExactlyEitherWay)
{
    addFull(QStringLiteral("baker"), QStringLiteral("=HYPERLINK(\"x\")"), QString(), QStringLiteral("bo@x.com"));
    addFull(QStringLiteral("Adams"), QStringLiteral("'=quoted"), QStringLiteral("Acme, Inc."), QStringLiteral("@al"));
    addFull(QStringLiteral("O'Neil"), QStringLiteral("-5"), QStringLiteral("5\" Pipes"), QString());
    exec(sConnContacts, QStringLiteral("update contacts set email=null where lastname='O''Neil'"));
    const QString path = writeFile(dir.filePath(QStringLiteral("out.csv")), "an older, longer file\r\nwith two lines\r\n");
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
        EXPECT_EQ(readFile(path).toStdString(), c.bytes);
        // Imported again into an empty table, the stored values come back exactly.
        exec(sConnContacts, QStringLiteral("delete from contacts"));
        ASSERT_TRUE(LoadCsvToTemp(path, {FormatMapLine(QStringLiteral("lastname"), QStringLiteral("LastName")),
                                         FormatMapLine(QStringLiteral("firstname"), QStringLiteral("FirstName")),
                                         FormatMapLine(QStringLiteral("email"), QStringLiteral("Email")),
                                         FormatMapLine(QStringLiteral("company"), QStringLiteral("Company"))}));
        ASSERT_TRUE(ImportTempRows(QStringLiteral("Cust")));
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
    QProcess python;
    python.start(QStringLiteral("python3"), {QStringLiteral("-c"),
                                             QStringLiteral("import csv,sys\n"
                                                            "for r in csv.reader(open(sys.argv[1],encoding='utf-8-sig')):"
                                                            " print('|'.join(r))"),
                                             path});
    if (!python.waitForFinished(30000) || python.exitCode() != 0) {
        std::printf("skipped the independent csv reader: python3 could not be run\n");
        EXPECT_TRUE(readFile(path).contains("Lee,2027-03-14\r\n"));
        return;
    }
    EXPECT_EQ(QString::fromUtf8(python.readAllStandardOutput()), QStringLiteral("lastname|lastcontact\nBaker|\nLee|2027-03-14\n"));
}

} // namespace
