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

TEST_F(ExportTest, WritesHeaderAndSortedLinesQuotingOnlyWhatNeedsIt)
{
    addFull(QStringLiteral("baker"), QStringLiteral("Bo"), QString(), QStringLiteral("bo@x.com"));
    addFull(QStringLiteral("Adams"), QStringLiteral("Al"), QStringLiteral("Acme, Inc."), QStringLiteral("al@x.com"));
    addFull(QStringLiteral("O'Neil"), QStringLiteral("Ona"), QStringLiteral("5\" Pipes"), QString());
    exec(sConnContacts, QStringLiteral("update contacts set email=null where lastname='O''Neil'"));
    const QString path = writeFile(dir.filePath(QStringLiteral("out.csv")), "an older, longer file\r\nwith two lines\r\n");
    const int result = runExport([&](frmLeadCSV& f) {
        desk.answerSaveFile(path);
        click(f.cmdBrowse);
        f.chkField[10]->setChecked(true); // Company
        f.chkField[9]->setChecked(true);  // Email
        click(f.cmdExport);
    });
    EXPECT_EQ(result, QDialog::Accepted);
    EXPECT_TRUE(desk.messages().isEmpty());
    // Column order is the box order (Email before Company); a null ends its line with a comma.
    EXPECT_EQ(readFile(path).toStdString(), "lastname,email,company\r\n"
                                            "Adams,al@x.com,\"Acme, Inc.\"\r\n"
                                            "baker,bo@x.com,\r\n"
                                            "O'Neil,,\"5\"\" Pipes\"\r\n");
}

} // namespace
