#include "data/Globals.h"
#include "exchange/frmImport.h"
#include "exchange/frmLeadCSV.h"
#include "exchange/frmMapField.h"
#include "exchange/modImport.h"
#include "exchange/modTempDB.h"
#include "tests/exchange/ExchangeTest.h"
#include "ui/Desktop.h"

#include <QtWidgets>
#include <QTest>

using namespace kestrel;
using namespace kestrel::test;

namespace {

class ImportWindowTest : public KestrelTest {
protected:
    QString csv(const QByteArray& bytes) { return writeFile(dir.filePath(QStringLiteral("leads.csv")), bytes); }
    static void click(QWidget* w) { QTest::mouseClick(w, Qt::LeftButton); }
    // Clicks an entry and answers the mapping dialog: a target, "DELETE", or "" to close it from its frame.
    void mapEntry(frmImport& f, int row, const QString& target)
    {
        desk.onModal(QStringLiteral("frmMapField"), [target](QDialog& d) {
            auto& m = static_cast<frmMapField&>(d);
            m.cboMapTo->setCurrentIndex(m.cboMapTo->findText(target));
            target.isEmpty() ? void(m.close()) : click(target == u"DELETE" ? m.cmdDelete : m.cmdMap);
        });
        QTest::mouseClick(f.lstFrom->viewport(), Qt::LeftButton, {}, f.lstFrom->visualItemRect(f.lstFrom->item(row)).center());
    }
    void browseAndMap(frmImport& f, const QString& path)
    {
        desk.answerOpenFile(path);
        click(f.cmdBrowse);
        click(f.cmdMap);
    }
    // Maps every entry in turn (the targets in header order) and presses Done Mapping.
    void mapAll(frmImport& f, const QStringList& targets)
    {
        for (int i = 0; i < targets.size(); ++i)
            mapEntry(f, i, targets[i]);
        click(f.cmdDone);
    }
    // One column of a list's or the preview's rows.
    static QStringList column(const QAbstractItemModel* m, int col = 0)
    {
        QStringList out;
        for (int r = 0; r < m->rowCount(); ++r)
            out << m->index(r, col).data().toString();
        return out;
    }
    void runImport(const std::function<void(frmImport&)>& script)
    {
        desk.onModal(QStringLiteral("frmImport"), [&](QDialog& d) { script(static_cast<frmImport&>(d)); });
        frmImport f;
        desktop().runModal(f);
    }
};

TEST_F(ImportWindowTest, ImportMappingAndExportWindowsHoldTheirControlsAndTexts)
{
    frmImport f;
    frmMapField m(&f);
    frmLeadCSV e;
    EXPECT_EQ((QList<QSize>{f.size(), m.size(), e.size()}), (QList<QSize>{{767, 503}, {437, 95}, {279, 248}}));
    EXPECT_FALSE(e.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_EQ(f.lstFrom->parentWidget(), f.fraMap);
    EXPECT_EQ(f.cboType->parentWidget(), f.fraImport);
    const QStringList texts = {f.windowTitle(), f.Label3->text(), f.fraMap->title(), f.fraImport->title(), f.Label5->text(),
                               f.cboType->currentText(), m.windowTitle(), m.Label1->text(), m.cmdDelete->text(),
                               e.windowTitle(), e.lblPath->text(), e.Frame1->title()};
    EXPECT_EQ(texts, (QStringList{QStringLiteral("Import Leads"), QStringLiteral("CSV Field") + QString(62, u' ') + QStringLiteral("Mapped To"),
                                  QStringLiteral("Map Field Names"), QStringLiteral("Rows and fields to import"),
                                  QStringLiteral("Click 'Browse' to select file to import."), QStringLiteral("Lead"), QStringLiteral("Map Fields"),
                                  QStringLiteral("From") + QString(54, u' ') + QStringLiteral("Map To"), QStringLiteral("Delete From Field"),
                                  QStringLiteral("Export Leads to CSV"), QStringLiteral("Click 'Browse' to name path to file."),
                                  QStringLiteral("Select fields")}));
    // Each export box's caption and the column it exports, in the export's order; only Last Name is fixed on.
    QStringList boxes;
    for (int i = 0; i < frmLeadCSV::kFields; ++i)
        boxes << e.chkField[i]->text() + u'=' + e.chkField[i]->property("Tag").toString() + (e.chkField[i]->isChecked() ? QStringLiteral("*") : QString());
    EXPECT_EQ(boxes.join(u',').toStdString(), "Last Name=lastname*,First Name=firstname,Address=address,City=city,State=st,Zip=zip,"
                                              "Home Phone=homeph,Work=workph,Ext=ext,Email=email,Company=company,Cell Phone=cellph,"
                                              "Contact Type=contype");
    EXPECT_FALSE(e.chkField[0]->isEnabled());
}

TEST_F(ImportWindowTest, EndToEndFromFileToContacts)
{
    const QString path = csv("\"Last Name\",\"First Name\",Fax,E-mail Address,State\r\n"
                             "O'Brien,Seán,1,ob@x.com,MA\r\n"
                             "Keep,Kay,2,,NY\r\n"
                             "Drop,Dan,3,d@x.com,TX\r\n");
    runImport([&](frmImport& f) {
        browseAndMap(f, path);
        EXPECT_EQ(f.Label5->text(), QStringLiteral("Click 'Map' to continue."));
        EXPECT_EQ(column(f.lstFrom->model()), QStringLiteral("Last Name,First Name,Fax,E-mail Address,State").split(u','));
        mapAll(f, {QStringLiteral("LastName"), QStringLiteral("FirstName"), QStringLiteral("DELETE"),
                   QStringLiteral("Email"), QStringLiteral("ST")});
        EXPECT_EQ(leftTwips(f.fraMap), -12000);
        EXPECT_EQ(leftTwips(f.fraImport), 120);

        // The preview: 13 columns with their captions and designed widths.
        QStringList captions;
        for (int c = 0; c < 13; ++c)
            captions << f.dgTemp->model()->headerData(c, Qt::Horizontal).toString();
        EXPECT_EQ(captions.join(u'|'), QStringLiteral("ID|FName|LName|Company|Address|City|St|Zip|Work Ph|Ext|Home Ph|Cell Ph|Email"));
        EXPECT_EQ(std::pair(f.dgTemp->columnWidth(0), f.dgTemp->columnWidth(12)), std::pair(px(300), px(1400)));
        // Delete on the selected row removes it from Main at once.
        f.dgTemp->selectRow(2);
        QTest::keyClick(f.dgTemp, Qt::Key_Delete);
        EXPECT_EQ(column(f.dgTemp->model(), 2), (QStringList{QStringLiteral("O'Brien"), QStringLiteral("Keep")}));
        EXPECT_EQ(rows(sConnTemp, QStringLiteral("select count(*) from Main"))[0][0], QStringLiteral("2"));
        f.cboType->setCurrentIndex(f.cboType->findText(QStringLiteral("Personal")));
        click(f.cmdImport);
    });
    EXPECT_TRUE(desk.messages().isEmpty()) << desk.messages().join(u'|').toStdString();
    EXPECT_EQ(rows(sConnContacts, QStringLiteral("select lastname,firstname,email,st,contype from contacts order by id")),
              (std::vector<QStringList>{{"O'Brien", "Seán", "ob@x.com", "MA", "Personal"}, {"Keep", "Kay", "", "NY", "Personal"}}));
}

TEST_F(ImportWindowTest, MappingIsDecidedCancelledRedecidedAndRefusedWhereItCannotLoad)
{
    const QString path = csv("Name,Phone\nAnn,1\n");
    runImport([&](frmImport& f) {
        browseAndMap(f, path);
        // Closing the dialog from its frame leaves a decided entry as it was; it can be decided again.
        mapEntry(f, 0, QStringLiteral("LastName"));
        mapEntry(f, 0, QString());
        EXPECT_EQ(column(f.lstFrom->model())[0], FormatMapLine(QStringLiteral("Name"), QStringLiteral("LastName")));
        mapEntry(f, 0, QStringLiteral("DELETE"));
        EXPECT_EQ(column(f.lstFrom->model())[0], FormatMapLine(QStringLiteral("Name"), QStringLiteral("DELETE")));
        // Done Mapping names the first undecided entry, then refuses every field deleted and
        // one target mapped twice; the mapping stage stays.
        click(f.cmdDone);
        mapAll(f, {QStringLiteral("DELETE"), QStringLiteral("DELETE")});
        mapAll(f, {QStringLiteral("City"), QStringLiteral("City")});
        EXPECT_EQ(leftTwips(f.fraMap), 120);
    });
    const QStringList m = desk.messages();
    ASSERT_EQ(m.size(), 3);
    EXPECT_EQ(m[0], QStringLiteral("Please map or delete the field: Phone"));
    EXPECT_TRUE(m[1].contains(QStringLiteral("Every field is marked 'DELETE'")));
    EXPECT_TRUE(m[2].contains(QStringLiteral("City is mapped from more than one CSV field")));
}

TEST_F(ImportWindowTest, StageOutOfViewCannotActOnRowsOfAnEarlierRun)
{
    CreateTempDB();
    exec(sConnTemp, QStringLiteral("insert into Main(lastname)values('Stale')"));
    const QString path = csv("Name\nAnn\n");
    runImport([&](frmImport& f) {
        browseAndMap(f, path);
        EXPECT_FALSE(f.fraImport->isEnabled());
        // Import reached some other way than the hidden button still does nothing here.
        f.cmdImport_Click();
        EXPECT_TRUE(f.isVisible());
        mapAll(f, {QStringLiteral("LastName")});
        EXPECT_FALSE(f.fraMap->isEnabled());
        // Nor does Done Mapping re-create the file under the preview.
        f.cmdDone_Click();
        EXPECT_EQ(column(f.dgTemp->model(), 2), QStringList{QStringLiteral("Ann")});
    });
    EXPECT_TRUE(rows(sConnContacts, QStringLiteral("select * from contacts")).empty());
}

} // namespace
