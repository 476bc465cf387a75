#include "data/Globals.h"
#include "exchange/frmImport.h"
#include "exchange/frmMapField.h"
#include "exchange/modImport.h"
#include "exchange/modTempDB.h"
#include "tests/exchange/ExchangeTest.h"

#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTableView>
#include <QTest>

using namespace kestrel;
using namespace kestrel::test;

namespace {

class ImportWindowTest : public KestrelTest {
protected:
    QString csv(const QByteArray& bytes) { return writeFile(dir.filePath(QStringLiteral("leads.csv")), bytes); }

    static void click(QWidget* w) { QTest::mouseClick(w, Qt::LeftButton); }
    static void clickEntry(frmImport& f, int row)
    {
        const QRect r = f.lstFrom->visualItemRect(f.lstFrom->item(row));
        QTest::mouseClick(f.lstFrom->viewport(), Qt::LeftButton, {}, r.center());
    }
    // Queues the mapping dialog's answer: a target, "DELETE", or "" to close it from its frame.
    void answerMap(const QString& target)
    {
        desk.onModal(QStringLiteral("frmMapField"), [target](QDialog& d) {
            auto& m = static_cast<frmMapField&>(d);
            if (target.isEmpty()) {
                m.close();
            } else if (target == u"DELETE") {
                click(m.cmdDelete);
            } else {
                m.cboMapTo->setCurrentIndex(m.cboMapTo->findText(target));
                click(m.cmdMap);
            }
        });
    }
    // Browse and Map on a fresh window: the file chosen, its header listed.
    void browseAndMap(frmImport& f, const QString& path)
    {
        desk.answerOpenFile(path);
        click(f.cmdBrowse);
        click(f.cmdMap);
    }
    // Maps every entry in turn (the targets in header order) and presses Done Mapping.
    void mapAll(frmImport& f, const QStringList& targets)
    {
        for (int i = 0; i < targets.size(); ++i) {
            answerMap(targets[i]);
            clickEntry(f, i);
        }
        click(f.cmdDone);
    }
    static QStringList entries(const frmImport& f)
    {
        QStringList out;
        for (int i = 0; i < f.lstFrom->count(); ++i)
            out << f.lstFrom->item(i)->text();
        return out;
    }
    static QStringList gridColumn(const frmImport& f, int column)
    {
        QStringList out;
        for (int r = 0; r < f.dgTemp->model()->rowCount(); ++r)
            out << f.dgTemp->model()->index(r, column).data().toString();
        return out;
    }
    // Runs the import window modally with the script, as the Contacts menu does.
    void runImport(const std::function<void(frmImport&)>& script, int* result = nullptr)
    {
        desk.onModal(QStringLiteral("frmImport"), [&](QDialog& d) { script(static_cast<frmImport&>(d)); });
        frmImport f;
        const int r = platform().runModal(f);
        if (result)
            *result = r;
    }
};

TEST_F(ImportWindowTest, ControlsStandWhereDesigned)
{
    frmImport f;
    EXPECT_EQ(f.windowTitle(), QStringLiteral("Import Leads"));
    EXPECT_EQ(f.size(), QSize(767, 503));
    EXPECT_TRUE(f.windowFlags() & Qt::WindowCloseButtonHint);
    const std::pair<QWidget*, QRect> expected[] = {
        {f.Label1, {120, 180, 1035, 255}},         {f.lblPath, {1200, 180, 8535, 255}},
        {f.Label5, {1200, 480, 8535, 255}},        {f.cmdBrowse, {9840, 120, 1455, 375}},
        {f.cmdMap, {9840, 540, 1455, 375}},        {f.fraMap, {-12000, 1020, 11265, 6405}},
        {f.Label2, {120, 300, 11025, 495}},        {f.Label3, {120, 900, 11025, 255}},
        {f.lstFrom, {120, 1200, 11025, 4515}},     {f.cmdDone, {9480, 5850, 1665, 375}},
        {f.fraImport, {-12000, 1020, 11265, 6405}}, {f.dgTemp, {120, 300, 11025, 4335}},
        {f.Label6, {120, 4740, 7815, 1095}},       {f.Label4, {8160, 4800, 615, 255}},
        {f.cboType, {8820, 4740, 1455, 315}},      {f.lblMessage, {120, 5940, 7815, 255}},
        {f.cmdImport, {9480, 5850, 1665, 375}},
    };
    for (const auto& [w, t] : expected)
        EXPECT_EQ(w->geometry(), QRect(px(t.x()), px(t.y()), px(t.width()), px(t.height()))) << w->objectName().toStdString();
    EXPECT_EQ(f.lstFrom->parentWidget(), f.fraMap);
    EXPECT_EQ(f.cboType->parentWidget(), f.fraImport);
    EXPECT_EQ(f.Label3->text(), QStringLiteral("CSV Field") + QString(62, u' ') + QStringLiteral("Mapped To"));
    EXPECT_EQ(f.fraMap->title(), QStringLiteral("Map Field Names"));
    EXPECT_EQ(f.fraImport->title(), QStringLiteral("Rows and fields to import"));
    EXPECT_EQ(f.Label5->text(), QStringLiteral("Click 'Browse' to select file to import."));
    EXPECT_FALSE(f.cmdMap->isEnabled());
    EXPECT_EQ(f.cboType->currentText(), QStringLiteral("Lead"));

    frmMapField m(&f);
    EXPECT_EQ(m.windowTitle(), QStringLiteral("Map Fields"));
    EXPECT_EQ(m.size(), QSize(437, 95));
    EXPECT_EQ(m.Label1->text(), QStringLiteral("From") + QString(54, u' ') + QStringLiteral("Map To"));
    EXPECT_EQ(m.cboMapTo->geometry(), QRect(px(3480), px(420), px(2955), px(315)));
    EXPECT_EQ(m.cmdDelete->text(), QStringLiteral("Delete From Field"));
    EXPECT_EQ(m.cboMapTo->count(), 12);
}

TEST_F(ImportWindowTest, EndToEndFromFileToContacts)
{
    const QString path = csv("\"Last Name\",\"First Name\",Fax,E-mail Address,State\r\n"
                             "O'Brien,Seán,1,ob@x.com,MA\r\n"
                             "Keep,Kay,2,,NY\r\n"
                             "Drop,Dan,3,d@x.com,TX\r\n");
    runImport([&](frmImport& f) {
        browseAndMap(f, path);
        EXPECT_EQ(f.lblPath->text(), path);
        EXPECT_FALSE(f.cmdBrowse->isEnabled());
        EXPECT_EQ(f.Label5->text(), QStringLiteral("Click 'Map' to continue."));
        EXPECT_EQ(leftTwips(f.fraMap), 120);
        EXPECT_EQ(entries(f), QStringLiteral("Last Name,First Name,Fax,E-mail Address,State").split(u','));
        mapAll(f, {QStringLiteral("LastName"), QStringLiteral("FirstName"), QStringLiteral("DELETE"),
                   QStringLiteral("Email"), QStringLiteral("ST")});
        EXPECT_EQ(entries(f)[2], FormatMapLine(QStringLiteral("Fax"), QStringLiteral("DELETE")));
        EXPECT_EQ(leftTwips(f.fraMap), -12000);
        EXPECT_EQ(leftTwips(f.fraImport), 120);
        EXPECT_FALSE(f.cmdMap->isEnabled());

        // The preview: 13 columns with their captions and widths.
        QStringList captions;
        for (int c = 0; c < 13; ++c)
            captions << f.dgTemp->model()->headerData(c, Qt::Horizontal).toString();
        EXPECT_EQ(captions.join(u'|'), QStringLiteral("ID|FName|LName|Company|Address|City|St|Zip|Work Ph|Ext|Home "
                                                      "Ph|Cell Ph|Email"));
        EXPECT_EQ(f.dgTemp->columnWidth(0), px(300));
        EXPECT_EQ(f.dgTemp->columnWidth(12), px(1400));
        EXPECT_EQ(gridColumn(f, 2), (QStringList{QStringLiteral("O'Brien"), QStringLiteral("Keep"), QStringLiteral("Drop")}));

        // Delete on the selected row removes it from Main at once.
        f.dgTemp->selectRow(2);
        QTest::keyClick(f.dgTemp, Qt::Key_Delete);
        EXPECT_EQ(gridColumn(f, 2), (QStringList{QStringLiteral("O'Brien"), QStringLiteral("Keep")}));
        EXPECT_EQ(rows(sConnTemp, QStringLiteral("select count(*) from Main"))[0][0], QStringLiteral("2"));

        f.cboType->setCurrentIndex(f.cboType->findText(QStringLiteral("Personal")));
        click(f.cmdImport);
        EXPECT_FALSE(f.isVisible());
    });
    EXPECT_TRUE(desk.messages().isEmpty()) << desk.messages().join(u'|').toStdString();
    EXPECT_EQ(rows(sConnContacts, QStringLiteral("select lastname,firstname,email,st,contype from contacts order by id")),
              (std::vector<QStringList>{{"O'Brien", "Seán", "ob@x.com", "MA", "Personal"}, {"Keep", "Kay", "", "NY", "Personal"}}));
}

TEST_F(ImportWindowTest, MappingDialogDecidesCancelsAndRedecides)
{
    const QString path = csv("Name,Phone\nAnn,1\n");
    runImport([&](frmImport& f) {
        browseAndMap(f, path);
        // Closing the dialog from its frame leaves an undecided entry as it was...
        answerMap(QString());
        clickEntry(f, 0);
        EXPECT_EQ(entries(f)[0], QStringLiteral("Name"));
        EXPECT_FALSE(f.bCancelMapField);
        // ...and a decided one too.
        answerMap(QStringLiteral("LastName"));
        clickEntry(f, 0);
        answerMap(QString());
        clickEntry(f, 0);
        EXPECT_EQ(entries(f)[0], FormatMapLine(QStringLiteral("Name"), QStringLiteral("LastName")));
        // A decided entry can be decided again.
        answerMap(QStringLiteral("DELETE"));
        clickEntry(f, 0);
        EXPECT_EQ(entries(f)[0], FormatMapLine(QStringLiteral("Name"), QStringLiteral("DELETE")));
        // Map with nothing chosen does nothing; the dialog stays until closed.
        desk.onModal(QStringLiteral("frmMapField"), [](QDialog& d) {
            auto& m = static_cast<frmMapField&>(d);
            EXPECT_EQ(m.lblField->text(), QStringLiteral("Phone"));
            click(m.cmdMap);
            EXPECT_TRUE(m.isVisible());
        });
        clickEntry(f, 1);
        EXPECT_EQ(entries(f)[1], QStringLiteral("Phone"));

        // Done Mapping names the first undecided entry.
        click(f.cmdDone);
        EXPECT_EQ(desk.messages().value(0), QStringLiteral("Please map or delete the field: Phone"));
        EXPECT_EQ(leftTwips(f.fraMap), 120);

        // Map again discards every decision.
        click(f.cmdMap);
        EXPECT_EQ(entries(f), (QStringList{QStringLiteral("Name"), QStringLiteral("Phone")}));
    });
}

TEST_F(ImportWindowTest, DoneMappingRefusesMappingsThatCannotLoad)
{
    const QString path = csv("A,B\n1,2\n");
    runImport([&](frmImport& f) {
        browseAndMap(f, path);
        mapAll(f, {QStringLiteral("City"), QStringLiteral("City")});
        mapAll(f, {QStringLiteral("DELETE"), QStringLiteral("DELETE")});
        EXPECT_EQ(leftTwips(f.fraMap), 120);
        EXPECT_FALSE(f.bGridLoaded);
    });
    const QStringList m = desk.messages();
    ASSERT_EQ(m.size(), 2);
    EXPECT_TRUE(m[0].contains(QStringLiteral("City is mapped from more than one CSV field")));
    EXPECT_TRUE(m[1].contains(QStringLiteral("Every field is marked 'DELETE'")));
    EXPECT_TRUE(rows(sConnContacts, QStringLiteral("select * from contacts")).empty());
}

TEST_F(ImportWindowTest, CancelledBrowseClosesAndAnEmptiedPreviewImportsNothing)
{
    int result = -1;
    runImport([&](frmImport& f) {
        desk.answerOpenFile(QString());
        click(f.cmdBrowse);
        EXPECT_FALSE(f.isVisible());
    }, &result);
    EXPECT_EQ(result, QDialog::Rejected);

    const QString path = csv("Name\nAnn\nBob\n");
    runImport([&](frmImport& f) {
        browseAndMap(f, path);
        mapAll(f, {QStringLiteral("LastName")});
        f.dgTemp->selectAll();
        QTest::keyClick(f.dgTemp, Qt::Key_Delete);
        EXPECT_EQ(f.dgTemp->model()->rowCount(), 0);
        click(f.cmdImport);
    }, &result);
    EXPECT_EQ(result, QDialog::Accepted);
    EXPECT_TRUE(desk.messages().isEmpty());
    EXPECT_TRUE(rows(sConnContacts, QStringLiteral("select * from contacts")).empty());
}

TEST_F(ImportWindowTest, StageOutOfViewCannotActOnRowsOfAnEarlierRun)
{
    CreateTempDB();
    exec(sConnTemp, QStringLiteral("insert into Main(lastname)values('Stale')"));
    const QString path = csv("Name\nAnn\n");
    runImport([&](frmImport& f) {
        EXPECT_FALSE(f.fraMap->isEnabled());
        EXPECT_FALSE(f.fraImport->isEnabled());
        browseAndMap(f, path);
        EXPECT_TRUE(f.fraMap->isEnabled());
        EXPECT_FALSE(f.fraImport->isEnabled());
        // Import reached some other way than the hidden button still does nothing here.
        f.cmdImport_Click();
        EXPECT_TRUE(f.isVisible());
        mapAll(f, {QStringLiteral("LastName")});
        EXPECT_FALSE(f.fraMap->isEnabled());
        EXPECT_TRUE(f.fraImport->isEnabled());
        // Nor does Done Mapping re-create the file under the preview.
        f.cmdDone_Click();
        EXPECT_EQ(gridColumn(f, 2), QStringList{QStringLiteral("Ann")});
    });
    EXPECT_TRUE(rows(sConnContacts, QStringLiteral("select * from contacts")).empty());
    EXPECT_EQ(rows(sConnTemp, QStringLiteral("select lastname from Main"))[0][0], QStringLiteral("Ann"));
}

} // namespace
