#include "data/Database.h"
#include "data/Globals.h"
#include "data/Statement.h"
#include "exchange/PreviewModel.h"
#include "exchange/frmImport.h"
#include "exchange/frmMapField.h"
#include "exchange/modImport.h"
#include "exchange/modTempDB.h"
#include "tests/exchange/ExchangeTest.h"
#include "data/Trash.h"
#include "ui/Desktop.h"
#include "ui/Undo.h"

#include <QtWidgets>
#include <QTest>

using namespace kestrel;
using namespace kestrel::test;

namespace {

class ImportWindowTest : public KestrelTest {
protected:
    QString csv(const QByteArray& bytes) { return writeBytes(dir.filePath(QStringLiteral("leads.csv")), bytes); }
    static void click(QWidget* w) { QTest::mouseClick(w, Qt::LeftButton); }
    // An access key presses its button as a click does: down at once, up and acting a moment later.
    static void altKey(QWidget& window, Qt::Key key)
    {
        QTest::keyClick(&window, key, Qt::AltModifier);
        QTest::qWait(150);
    }
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

TEST_F(ImportWindowTest, EndToEndByKeyboardFromFileToContacts)
{
    addContact(QStringLiteral("Stored"), QStringLiteral("Sam"));
    const QString path = csv("\"Last Name\",\"First Name\",Fax,E-mail Address,State,An extraordinarily long column name\r\n"
                             "O'Brien,Seán,1,ob@x.com,Massachusetts,a\r\n"
                             "Keep,Kay,2,,NY,b\r\n"
                             "Drop,Dan,3,d@x.com,TX,c\r\n"
                             "stored,SAM,4,,,d\r\n");
    runImport([&](frmImport& f) {
        f.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&f));
        browseAndMap(f, path);
        EXPECT_EQ(column(f.lstFrom->model()).mid(0, 3), QStringLiteral("Last Name,First Name,Fax").split(u','));
        // Alt+N maps what it knows by name and asks once, Yes on Enter, to delete the rest.
        desk.answerYes();
        altKey(f, Qt::Key_N);
        ASSERT_EQ(desk.prompts.back().kind, QStringLiteral("question"));
        EXPECT_EQ(desk.prompts.back().extra, QStringLiteral("Yes"));
        const QStringList entries = column(f.lstFrom->model());
        EXPECT_EQ(entries[0], FormatMapLine(QStringLiteral("Last Name"), QStringLiteral("LastName")));
        EXPECT_EQ(entries[2], FormatMapLine(QStringLiteral("Fax"), QStringLiteral("DELETE")));
        // A long name is shortened on screen, so its line keeps the columns of the others.
        EXPECT_EQ(entries[5].size(), entries[0].size());
        EXPECT_EQ(entries[5].indexOf(QStringLiteral("***")), 25);
        altKey(f, Qt::Key_D);
        EXPECT_EQ(leftTwips(f.fraImport), 120);

        // The preview: its captions and designed widths, line and note of each row.
        QStringList captions;
        for (int c = 0; c < 20; ++c)
            captions << f.dgTemp->model()->headerData(c, Qt::Horizontal).toString();
        EXPECT_EQ(captions.join(u'|'), QStringLiteral("ID|FName|LName|Company|Address|City|St|Zip|Work Ph|Ext|Home Ph|Cell Ph|Email|Line|Note|"
                                                      "Country|Job Title|Web Site|Birthday|Notes"));
        EXPECT_EQ(std::pair(f.dgTemp->columnWidth(0), f.dgTemp->columnWidth(12)), std::pair(px(300), px(1400)));
        EXPECT_EQ(column(f.dgTemp->model(), 6), (QStringList{"MA", "NY", "TX", ""}));
        // Only a name to go by: possibly the stored contact, ticked to be imported.
        EXPECT_EQ(column(f.dgTemp->model(), 14),
                  (QStringList{"ST written as its two-letter code", "", "", "possibly the same as Sam Stored"}));
        EXPECT_EQ(f.dgTemp->model()->index(3, 14).data(Qt::CheckStateRole), QVariant(Qt::Checked));
        EXPECT_FALSE(f.dgTemp->model()->index(0, 14).data(Qt::CheckStateRole).isValid());
        EXPECT_EQ(f.lblMessage->text(), QStringLiteral("4 rows ready. 1 value made to fit. 1 possibly matches a stored "
                                                       "contact (imported unless unticked)."));
        // Delete on the selected row removes it from Main at once.
        f.dgTemp->setFocus();
        f.dgTemp->selectRow(2);
        QTest::keyClick(f.dgTemp, Qt::Key_Delete);
        EXPECT_EQ(column(f.dgTemp->model(), 2), (QStringList{"O'Brien", "Keep", "stored"}));
        // Ctrl+End, Home and Right to the last row's note; Space unticks it.
        QTest::keyClick(f.dgTemp, Qt::Key_End, Qt::ControlModifier);
        QTest::keyClick(f.dgTemp, Qt::Key_Home);
        for (int c = 0; c < 14; ++c)
            QTest::keyClick(f.dgTemp, Qt::Key_Right);
        QTest::keyClick(f.dgTemp, Qt::Key_Space);
        EXPECT_EQ(f.dgTemp->model()->index(2, 14).data(Qt::CheckStateRole), QVariant(Qt::Unchecked));
        EXPECT_EQ(rows(sConnTemp, QStringLiteral("select lastname,dup from Main order by id")),
                  (std::vector<QStringList>{{"O'Brien", "0"}, {"Keep", "0"}, {"stored", "3"}}));
        f.cboType->setCurrentIndex(f.cboType->findText(QStringLiteral("Personal")));
        altKey(f, Qt::Key_I);
        EXPECT_FALSE(f.isVisible());
    });
    EXPECT_EQ(desk.messages(), QStringList{QStringLiteral("2 contacts were imported.\n1 value was made to fit its field.\n"
                                                          "1 row possibly matching a stored contact was unticked and "
                                                          "skipped.")});
    EXPECT_EQ(rows(sConnContacts, QStringLiteral("select lastname,firstname,email,st,contype from contacts order by id")),
              (std::vector<QStringList>{{"Stored", "Sam", "", "", "Lead"}, {"O'Brien", "Seán", "ob@x.com", "MA", "Personal"},
                                        {"Keep", "Kay", "", "NY", "Personal"}}));

    // The same header next time is offered the same mapping; a cancelled read leaves the
    // mapping on screen, and Import of a file already imported adds nothing.
    runImport([&](frmImport& f) {
        desk.answerOpenFile(path);
        click(f.cmdBrowse);
        desk.answerYes();
        click(f.cmdMap);
        EXPECT_EQ(column(f.lstFrom->model())[4], FormatMapLine(QStringLiteral("State"), QStringLiteral("ST")));
        QTimer::singleShot(0, &f, [&f] { click(f.cmdCancel); });
        click(f.cmdDone);
        EXPECT_EQ(leftTwips(f.fraMap), 120);
        EXPECT_TRUE(f.fraMap->isEnabled());
        click(f.cmdDone);
        click(f.cmdImport);
    });
    // O'Brien is known by the e-mail; Kay and Sam have only their names, so they are possibly
    // the stored ones and come in ticked, for Find Duplicates to show.
    EXPECT_EQ(rows(sConnContacts, QStringLiteral("select count(*) from contacts")), (std::vector<QStringList>{{"6"}}));
    EXPECT_TRUE(desk.messages().last().startsWith(QStringLiteral("3 contacts were imported.\n1 value was made to fit its field.\n"
                                                                 "1 row matching a stored contact was skipped.\n2 rows "
                                                                 "possibly matching stored contacts were imported.")))
        << desk.messages().last().toStdString();
}

TEST_F(ImportWindowTest, TwoCopiesOnOneDataFolderNeverImportEachOthersRows)
{
    const QString path = csv("Name,Notes\nAnn,x\nBob,y\n");
    runImport([&](frmImport& f) {
        browseAndMap(f, path);
        mapAll(f, {QStringLiteral("LastName"), QStringLiteral("Company")});
        EXPECT_EQ(column(f.dgTemp->model(), 2), (QStringList{"Ann", "Bob"}));
        // The other copy loads 3,000 rows meanwhile: it is told to wait, and this one imports its own row.
        QByteArray many = "Name\n";
        for (int i = 0; i < 3000; ++i)
            many += "Other " + QByteArray::number(i) + '\n';
        EXPECT_FALSE(LoadCsvToTemp(writeBytes(dir.filePath(QStringLiteral("other.csv")), many),
                                   {FormatMapLine(QStringLiteral("Name"), QStringLiteral("LastName"))}));
        click(f.cmdImport);
    });
    const QStringList m = desk.messages();
    ASSERT_EQ(m.size(), 2);
    EXPECT_TRUE(m[0].startsWith(QStringLiteral("Another copy of Kestrel is importing contacts")));
    EXPECT_EQ(rows(sConnContacts, QStringLiteral("select lastname from contacts")), (std::vector<QStringList>{{"Ann"}, {"Bob"}}));
}

TEST_F(ImportWindowTest, AnImportIsTakenBackInOneStepAndOnlyItsOwnContactsGo)
{
    const int before = addContact(QStringLiteral("Adams"), QStringLiteral("Al"));
    QByteArray many = "Name,Notes\n";
    for (int i = 0; i < 300; ++i)
        many += "Lee " + QByteArray::number(i) + ",x\n";
    const QString path = csv(many);
    runImport([&](frmImport& f) {
        browseAndMap(f, path);
        mapAll(f, {QStringLiteral("LastName"), QStringLiteral("Company")});
        click(f.cmdImport);
    });
    ASSERT_EQ(rows(sConnContacts, QStringLiteral("select count(*) from contacts")), (std::vector<QStringList>{{"301"}}));
    EXPECT_EQ(undoCaption(), "Undo Import Contacts (300 contacts)");
    // A contact saved after the import, and one of the import's deleted meanwhile, are not the undo's.
    const int after = addContact(QStringLiteral("Zed"), QStringLiteral("Zoe"));
    const QString lee7 = rows(sConnContacts, QStringLiteral("select id from contacts where lastname='Lee 7'")).at(0).at(0);
    moveToTrash(sConnContacts, TrashTable::Contacts, {{lee7.toLongLong(), lee7.toLongLong()}}, QStringLiteral("Lee 7"));

    ASSERT_TRUE(undoLastChange());
    EXPECT_EQ(desk.messages().last(), "299 contacts that the import added were moved to the trash; Edit > Trash restores them.");
    EXPECT_EQ(rows(sConnContacts, QStringLiteral("select id from contacts order by id")),
              (std::vector<QStringList>{{QString::number(before)}, {QString::number(after)}}));
    EXPECT_FALSE(canUndo());
    const std::vector<TrashBatch> trash = listTrash(sConnContacts);
    ASSERT_EQ(trash.size(), 2u);
    EXPECT_EQ(trash[0].rows, 299);
    EXPECT_TRUE(trash[0].label.startsWith("Import of 300 contacts on ")) << trash[0].label.toStdString();
    // And back as a whole.
    EXPECT_EQ(restoreFromTrash(sConnContacts, trash[0].batch), 299);
    EXPECT_EQ(rows(sConnContacts, QStringLiteral("select count(*) from contacts")), (std::vector<QStringList>{{"301"}}));
}

TEST_F(ImportWindowTest, RowsKeptOutAreListedByLineAndSavedToAFileAndTheRestComeIn)
{
    // A region of the world fits; a value longer than any region does not, nor a birthday that is
    // no day, nor a row whose quote never closes.
    const QByteArray tooLong(51, 'R');
    const struct {
        QByteArray file, keptFile;
        QStringList targets, kept;
        std::vector<QStringList> stored;
        QString summary;
    } cases[] = {
        {"Name;State;Birthday\r\nAnn;Tyrol;3/7\r\nBob;" + tooLong + ";\r\nCy;IL;2/30/1980\r\n",
         "Name;State;Birthday\r\nBob;" + tooLong + ";\r\nCy;IL;2/30/1980\r\n", {"LastName", "ST", "Birthday"},
         {"Line 3: kept out, State (ST) does not fit (51 characters, the field holds 50)",
          "Line 4: kept out, Birthday (Birthday) does not fit (not a day of the calendar)"},
         {{"Ann", "", "Tyrol", "--03-07"}},
         "1 contact was imported.\n1 value was made to fit its field.\n2 rows were kept out because a value does not fit."},
        {"Name,Address\r\nAnn,1 Elm\r\nBob,\"12 Main St\r\nCy,5 Oak\r\nDee,7 Ash\r\n", "Name,Address\r\nBob,\"12 Main St\r\n",
         {"LastName", "Address"},
         {"Line 3: kept out, the double quote that opens its field Address never closes, so it would take in lines 3 "
          "to 5, the rest of the file"},
         {{"Ann", "1 Elm", "", ""}, {"Cy", "5 Oak", "", ""}, {"Dee", "7 Ash", "", ""}},
         "3 contacts were imported.\n1 row was kept out because a double quote in it never closes (line 3)."},
    };
    const QString kept = dir.filePath(QStringLiteral("kept.csv"));
    for (const auto& c : cases) {
        exec(sConnContacts, QStringLiteral("delete from contacts"));
        const QString path = csv(c.file);
        runImport([&](frmImport& f) {
            browseAndMap(f, path);
            mapAll(f, c.targets);
            QStringList previewed;
            for (const QStringList& r : c.stored)
                previewed << r[0];
            EXPECT_EQ(column(f.dgTemp->model(), 2), previewed);
            EXPECT_EQ(column(f.lstKept->model()), c.kept);
            EXPECT_TRUE(f.cmdSaveKept->isEnabled());
            desk.answerSaveFile(kept);
            click(f.cmdSaveKept);
            click(f.cmdImport);
        });
        EXPECT_EQ(readBytes(kept), c.keptFile);
        EXPECT_EQ(rows(sConnContacts, QStringLiteral("select lastname,address,st,birthday from contacts order by id")), c.stored);
        EXPECT_EQ(desk.messages().last(), c.summary);
    }
    EXPECT_EQ(desk.messages().size(), 2);
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

// Every cell and tick of the model against Main read whole.
void expectSameAsMain(const PreviewModel& model)
{
    Connection temp(sConnTemp);
    Snapshot all(temp, QString(kPreviewSelect).replace(QStringLiteral(" from main"), QStringLiteral(",dup from main order by id")));
    ASSERT_EQ(model.rowCount(), all.rowCount());
    for (int r = 0; r < all.rowCount(); ++r) {
        for (int c = 0; c < model.columnCount(); ++c)
            ASSERT_EQ(model.data(model.index(r, c), Qt::ToolTipRole).toString(), all.textAt(r, c)) << "row " << r << " column " << c;
        const int dup = all.value(r, model.columnCount()).toInt();
        EXPECT_EQ(model.isTickable(r), dup == 2 || dup == 3) << r;
        EXPECT_EQ(model.isTicked(r), dup == 2) << r;
    }
}

// The preview reads Main a page at a time: what it shows must be what a full read of Main shows,
// row for row, across page boundaries and after rows are deleted.
TEST_F(ImportWindowTest, ThePreviewShowsMainRowForRowAcrossPagesAfterDeletesAndKeepsTicks)
{
    CreateTempDB();
    const int rows = 3 * PreviewModel::kPageRows + 17;
    {
        Connection temp(sConnTemp);
        Transaction tx(temp);
        Statement add(temp, QStringLiteral("insert into Main(LastName,FirstName,Line,Note,Dup)values(?,?,?,?,?)"),
                      Statement::Dialect::Native);
        for (int i = 0; i < rows; ++i) {
            add.bind(1, QStringLiteral("Last %1").arg(i));
            add.bind(2, i % 5 ? QString() : QStringLiteral("First\n%1").arg(i));
            add.bind(3, std::int64_t(i + 2));
            add.bind(4, i % 7 ? QString() : QStringLiteral("possibly the same"));
            add.bind(5, std::int64_t(i % 7 ? 0 : 2));
            add.run();
        }
        tx.commit();
    }
    PreviewModel model;
    model.open();
    expectSameAsMain(model);
    EXPECT_EQ(model.data(model.index(5, 1), Qt::DisplayRole).toString(), QStringLiteral("First, 5")); // one line
    // Rows deleted on both sides of a page boundary, and from the last page.
    const std::vector<int> gone{0, PreviewModel::kPageRows - 1, PreviewModel::kPageRows, rows - 1};
    QStringList ids;
    for (int r : gone)
        ids << QString::number(model.idAt(r));
    exec(sConnTemp, QStringLiteral("delete from Main where id in (%1)").arg(ids.join(u',')));
    model.removeRowsAt(gone);
    expectSameAsMain(model);
    // A tick taken off is kept by the model as Main keeps it, past the cache.
    const int ticked = 6; // Main's row 7
    ASSERT_TRUE(model.isTicked(ticked));
    EXPECT_TRUE(model.setData(model.index(ticked, PreviewModel::kTickColumn), Qt::Unchecked, Qt::CheckStateRole));
    EXPECT_FALSE(model.isTicked(ticked));
    exec(sConnTemp, QStringLiteral("update Main set dup=3 where id=%1").arg(model.idAt(ticked)));
    for (int r = model.rowCount() - 1; r > 0; r -= PreviewModel::kPageRows) // other pages push it out
        model.data(model.index(r, 0), Qt::DisplayRole);
    expectSameAsMain(model);
    // Opened again on a file with gaps in its keys.
    model.open();
    expectSameAsMain(model);
}

} // namespace
