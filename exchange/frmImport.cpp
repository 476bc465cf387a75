#include "exchange/frmImport.h"

#include "data/Database.h"
#include "data/Globals.h"
#include "data/modData.h"
#include "data/Trash.h"
#include "formats/CsvText.h"
#include "exchange/frmMapField.h"
#include "exchange/modImport.h"
#include "formats/ImportRules.h"
#include "exchange/modTempDB.h"
#include "exchange/PreviewModel.h"
#include "platform/Platform.h"
#include "ui/Undo.h"
#include "ui/Accessible.h"
#include "ui/Desktop.h"
#include "ui/Report.h"

#include <QCheckBox>
#include <QDir>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QLocale>
#include <QPushButton>
#include <QTableView>

#include <algorithm>
#include <optional>

namespace kestrel {

namespace {
const QString kBrowseHint = QStringLiteral("Click 'Browse' to select file to import.");

struct GridColumn {
    const char* caption;
    int width; // twips
};
// Line and Note say where each row stands in the file and what the import noticed about it; the
// fields a contact gained later follow them, scrolled to.
constexpr int kGridColumnCount = 20;
const GridColumn kGridColumns[kGridColumnCount] = {
    {"ID", 300},     {"FName", 800},   {"LName", 800},    {"Company", 1200}, {"Address", 1100},
    {"City", 700},   {"St", 300},      {"Zip", 700},      {"Work Ph", 750},  {"Ext", 500},
    {"Home Ph", 750}, {"Cell Ph", 750}, {"Email", 1400}, {"Line", 500},     {"Note", 3000},
    {"Country", 900}, {"Job Title", 1200}, {"Web Site", 1400}, {"Birthday", 800}, {"Notes", 2400}};

// A mapping line keeps its columns only while the name fits its 25 characters; a longer name is
// shown shortened (the whole name is still what is read).
QString shownName(const QString& name) { return name.size() > 25 ? name.left(24) + QChar(0x2026) : name; }

constexpr int kTargetRole = Qt::UserRole + 1;
constexpr int kNoteColumn = PreviewModel::kTickColumn;

QStringList previewHeadings()
{
    QStringList headings;
    for (const GridColumn& column : kGridColumns)
        headings << QString::fromLatin1(column.caption);
    return headings;
}
} // namespace

frmImport::frmImport(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("frmImport"));
    setupDialog(this, QStringLiteral("Import Leads"), 11505, 7545, true);
    setFont(designFont(QStringLiteral("Verdana"), 8.25));
    controls = buildControls(this, {
        {"Label1", ControlKind::Label, "File Name:", 120, 180, 1035, 255},
        {"lblPath", ControlKind::Label, "", 1200, 180, 8535, 255},
        {"Label5", ControlKind::Label, "Click 'Browse' to select file to import.", 1200, 480, 8535, 255},
        {"cmdBrowse", ControlKind::Button, "Browse", 9840, 120, 1455, 375, 1},
        {"cmdMap", ControlKind::Button, "Map", 9840, 540, 1455, 375, 2},
        {"lblProgress", ControlKind::Label, "", 1200, 750, 6615, 255},
        {"cmdCancel", ControlKind::Button, "Cancel", 8040, 750, 1455, 270, 12},
        {"fraMap", ControlKind::Frame, "Map Field Names", kPanelHidden, 1020, 11265, 6405},
        {"fraMap.Label2", ControlKind::Label, "", 120, 300, 11025, 495},
        {"fraMap.Label3", ControlKind::Label, "", 120, 900, 11025, 255},
        {"fraMap.lstFrom", ControlKind::ListBox, "", 120, 1200, 11025, 4515, 3},
        {"fraMap.cmdMapByName", ControlKind::Button, "Map by &Name", 7680, 5850, 1665, 375, 4},
        {"fraMap.cmdDone", ControlKind::Button, "&Done Mapping", 9480, 5850, 1665, 375, 5},
        {"fraImport", ControlKind::Frame, "Rows and fields to import", kPanelHidden, 1020, 11265, 6405},
        {"fraImport.dgTemp", ControlKind::Grid, "", 120, 300, 11025, 3255, 6},
        {"fraImport.lstKept", ControlKind::ListBox, "", 120, 3600, 11025, 1020, 7, 0, "Rows kept out"},
        {"fraImport.Label6", ControlKind::Label, "", 120, 4680, 7815, 855},
        {"fraImport.Label4", ControlKind::Label, "Type:", 8160, 4740, 615, 255},
        {"fraImport.cboType", ControlKind::ComboList, "", 8820, 4680, 1455, 315, 8},
        {"fraImport.cmdSaveKept", ControlKind::Button, "&Save Kept-Out Rows", 8160, 5160, 2985, 375, 9},
        {"fraImport.chkSkipDup", ControlKind::CheckBox, "Skip rows that match a stored contact", 120, 5580, 4200, 255, 10},
        {"fraImport.lblMessage", ControlKind::Label, "", 120, 5880, 9240, 450},
        {"fraImport.cmdImport", ControlKind::Button, "&Import", 9480, 5850, 1665, 375, 11},
    });
    Label1 = controls.get<QLabel>(QStringLiteral("Label1"));
    lblPath = controls.get<QLabel>(QStringLiteral("lblPath"));
    Label5 = controls.get<QLabel>(QStringLiteral("Label5"));
    cmdBrowse = controls.get<QPushButton>(QStringLiteral("cmdBrowse"));
    cmdMap = controls.get<QPushButton>(QStringLiteral("cmdMap"));
    fraMap = controls.get<QGroupBox>(QStringLiteral("fraMap"));
    Label2 = controls.get<QLabel>(QStringLiteral("Label2"));
    Label3 = controls.get<QLabel>(QStringLiteral("Label3"));
    lstFrom = controls.get<QListWidget>(QStringLiteral("lstFrom"));
    cmdDone = controls.get<QPushButton>(QStringLiteral("cmdDone"));
    fraImport = controls.get<QGroupBox>(QStringLiteral("fraImport"));
    dgTemp = controls.get<QTableView>(QStringLiteral("dgTemp"));
    Label6 = controls.get<QLabel>(QStringLiteral("Label6"));
    Label4 = controls.get<QLabel>(QStringLiteral("Label4"));
    cboType = controls.get<QComboBox>(QStringLiteral("cboType"));
    lblMessage = controls.get<QLabel>(QStringLiteral("lblMessage"));
    cmdImport = controls.get<QPushButton>(QStringLiteral("cmdImport"));
    lblProgress = controls.get<QLabel>(QStringLiteral("lblProgress"));
    cmdCancel = controls.get<QPushButton>(QStringLiteral("cmdCancel"));
    cmdMapByName = controls.get<QPushButton>(QStringLiteral("cmdMapByName"));
    lstKept = controls.get<QListWidget>(QStringLiteral("lstKept"));
    cmdSaveKept = controls.get<QPushButton>(QStringLiteral("cmdSaveKept"));
    chkSkipDup = controls.get<QCheckBox>(QStringLiteral("chkSkipDup"));

    Label2->setText(QStringLiteral(
        "Click the fields below to delete or map to a Kestrel field.  All fields must be either be marked as "
        "'DELETE' or mapped to a contact field.  Click 'Done Mapping' to continue."));
    Label3->setText(QStringLiteral("CSV Field") + QString(62, u' ') + QStringLiteral("Mapped To"));
    Label6->setText(QStringLiteral(
        "Below are the contacts that will be imported.  You can delete any you wish not to import by selecting the "
        "contact and pressing delete on your keyboard.  The contacts will be entered as type currently selected in "
        "the Type Drop Down box.  Click the 'Import' button to complete the process."));
    for (QLabel* l : {Label2, Label6, lblMessage})
        l->setWordWrap(true);
    lstFrom->setFont(designFont(QStringLiteral("Courier New"), 9));
    describeBy(lstFrom, Label2);
    describeBy(dgTemp, Label6);
    describeBy(cmdBrowse, Label5);
    describeBy(cmdMap, Label5);
    for (QGroupBox* f : {fraMap, fraImport})
        f->setAutoFillBackground(true);
    for (QPushButton* b : {cmdBrowse, cmdMap, cmdDone, cmdImport, cmdCancel, cmdMapByName, cmdSaveKept})
        b->setAutoDefault(false);
    lblProgress->hide();
    cmdCancel->hide();
    chkSkipDup->setChecked(true);

    rsTemp = new PreviewModel(this);
    connect(rsTemp, &PreviewModel::tickToggled, this, [this](int row, bool ticked) { dgTemp_TickToggle(row, ticked); });
    dgTemp->setSelectionMode(QAbstractItemView::ExtendedSelection);
    // The ID and St columns are narrower than the style's default minimum.
    dgTemp->horizontalHeader()->setMinimumSectionSize(px(300));
    dgTemp->installEventFilter(this);

    connect(cmdBrowse, &QPushButton::clicked, this, &frmImport::cmdBrowse_Click);
    connect(cmdMap, &QPushButton::clicked, this, &frmImport::cmdMap_Click);
    connect(lstFrom, &QListWidget::itemClicked, this, [this](QListWidgetItem* item) { lstFrom_Click(lstFrom->row(item)); });
    pickOnAccessibleSelect(lstFrom, [this](const QModelIndex& entry) { lstFrom_Click(entry.row()); });
    connect(cmdDone, &QPushButton::clicked, this, &frmImport::cmdDone_Click);
    connect(cmdImport, &QPushButton::clicked, this, &frmImport::cmdImport_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &frmImport::cmdCancel_Click);
    connect(cmdMapByName, &QPushButton::clicked, this, &frmImport::cmdMapByName_Click);
    connect(cmdSaveKept, &QPushButton::clicked, this, &frmImport::cmdSaveKept_Click);

    Form_Load();
}

frmImport::~frmImport()
{
    unloadGrid();
    releaseScratch(this);
}

void frmImport::showStage(QGroupBox* panel)
{
    // A panel out of view is also disabled: Tab would otherwise still reach its buttons, and
    // Import pressed during mapping would import the rows of the previous run still in Main.
    showOnly(panel, kPanelShown, {fraMap, fraImport});
    for (QGroupBox* f : {fraMap, fraImport})
        f->setEnabled(f == panel);
}

void frmImport::Form_Load()
{
    showStage(nullptr);
    cmdMap->setEnabled(false);
    cboType->clear();
    cboType->addItems(kContactTypes);
    cboType->setCurrentIndex(0);
}

void frmImport::cmdBrowse_Click()
{
    // A spreadsheet is read like a CSV file: its first sheet, the first row naming the columns.
    sCsvPath = platform().openFileName(QStringLiteral("c:\\"), QStringLiteral("Select Directory and CSV File"),
                                       QStringLiteral("Contacts (*.csv *.xlsx *.ods)|*.csv;*.xlsx;*.ods|CSV (*.csv)|*.csv|"
                                                      "Excel workbook (*.xlsx)|*.xlsx|"
                                                      "OpenDocument spreadsheet (*.ods)|*.ods"));
    lblPath->setText(sCsvPath);
    if (!lblPath->text().isEmpty()) {
        cmdBrowse->setEnabled(false);
        cmdMap->setEnabled(true);
        Label5->setText(QStringLiteral("Click 'Map' to continue."));
    } else {
        reject();
    }
}

void frmImport::cmdMap_Click()
{
    QStringList names;
    try {
        // The header is split by the same rules the reader applies to the rows, so every entry
        // names a column the reader will find.
        names = readCsvHeader(sCsvPath);
    } catch (const std::exception& e) {
        ReportFailure(e, QStringLiteral("cmdMap_Click"), Owner::Form, QStringLiteral("frmImport"));
        // Another file may be chosen instead.
        cmdBrowse->setEnabled(true);
        Label5->setText(kBrowseHint);
        return;
    }
    sHeaderFields = names;
    lstFrom->clear();
    lstFrom->addItems(sHeaderFields);
    showStage(fraMap);
    const QStringList remembered = rememberedMapping(sHeaderFields);
    if (!remembered.isEmpty() &&
        platform().askYesNo(QStringLiteral("The fields of this file are those of a file you imported before. Map "
                                           "them the same way again? You can still change any of them."),
                            kAppTitle, Answer::Yes))
        for (int i = 0; i < remembered.size(); ++i)
            setEntry(i, remembered[i]);
}

void frmImport::setEntry(int index, const QString& target)
{
    QListWidgetItem* item = lstFrom->item(index);
    if (!item)
        return;
    if (target.isEmpty()) {
        item->setText(sHeaderFields.at(index));
        item->setData(Qt::UserRole, false);
        item->setData(kTargetRole, QVariant());
        return;
    }
    item->setText(FormatMapLine(shownName(sHeaderFields.at(index)), target));
    item->setData(Qt::UserRole, true);
    item->setData(kTargetRole, target);
}

QString frmImport::entryTarget(int index) const
{
    const QListWidgetItem* item = lstFrom->item(index);
    return item && item->data(Qt::UserRole).toBool() ? item->data(kTargetRole).toString() : QString();
}

void frmImport::cmdMapByName_Click()
{
    if (sHeaderFields.isEmpty())
        return;
    const QStringList named = mapByName(sHeaderFields);
    for (int i = 0; i < named.size(); ++i) {
        if (!named[i].isEmpty())
            setEntry(i, named[i]);
    }
    // A field decided earlier by hand keeps its choice unless a matched name took its target.
    int others = 0;
    for (int i = 0; i < named.size(); ++i) {
        if (!named[i].isEmpty())
            continue;
        const QString mine = entryTarget(i);
        if (!mine.isEmpty() && mine != u"DELETE" && named.contains(mine, Qt::CaseInsensitive))
            setEntry(i, QString());
        others += entryTarget(i).isEmpty();
    }
    if (others == 0)
        return;
    const QString question =
        others == 1 ? QStringLiteral("1 field does not match a contact field by name. Mark it 'DELETE'?")
                    : QStringLiteral("%1 fields do not match a contact field by name. Mark them all 'DELETE'?").arg(others);
    if (!platform().askYesNo(question, kAppTitle, Answer::Yes))
        return;
    for (int i = 0; i < named.size(); ++i)
        if (entryTarget(i).isEmpty())
            setEntry(i, QStringLiteral("DELETE"));
}

void frmImport::lstFrom_Click(int index)
{
    QListWidgetItem* item = lstFrom->item(index);
    if (!item || index >= sHeaderFields.size())
        return;
    frmMapField dialog(this);
    dialog.lblField->setText(sHeaderFields.at(index));
    const int result = desktop().runModal(dialog);
    if (bCancelMapField || result != QDialog::Accepted) {
        bCancelMapField = false;
        return;
    }
    setEntry(index, sMapTo.isEmpty() ? QStringLiteral("DELETE") : sMapTo);
}

void frmImport::cmdDone_Click()
{
    if (bGridLoaded || bWorking)
        return;
    QStringList entries;
    for (int i = 0; i < lstFrom->count(); ++i) {
        const QListWidgetItem* item = lstFrom->item(i);
        // A header name that itself holds "***" is not a decision; only the dialog makes one.
        if (entryTarget(i).isEmpty()) {
            platform().msgBox(QStringLiteral("Please map or delete the field: ") + item->text());
            return;
        }
        entries << FormatMapLine(sHeaderFields.at(i), entryTarget(i));
    }
    if (const QString problem = mappingProblem(entries); !problem.isEmpty()) {
        platform().msgBox(problem);
        return;
    }
    reload_ = [this, entries] {
        beginWork(QStringLiteral("Reading the file"));
        const bool loaded = LoadCsvToTemp(sCsvPath, entries, &summary_, [this](qint64 done, qint64 total) {
            return workProgress(done, total);
        }, this);
        endWork();
        if (!loaded && summary_.cancelled) {
            Label5->setText(QStringLiteral("Reading the file was cancelled. Click 'Done Mapping' to read it again."));
            announce(Label5, Label5->text());
        }
        return loaded;
    };
    if (!reload_() || !popTempGrid())
        return;
    showKeptOut();
    showStage(fraImport);
    // Mapping again would re-create the scratch file under the open preview.
    cmdMap->setEnabled(false);
}

bool frmImport::loadRecords(const QString& path, const std::vector<ImportRecord>& records,
                            const QStringList& sourceNames, const QString& keptFilter)
{
    sCsvPath = path;
    lblPath->setText(path);
    cmdBrowse->setEnabled(false);
    cmdMap->setEnabled(false);
    sKeptFilter = keptFilter;
    reload_ = [this, records, sourceNames] {
        return LoadRecordsToTemp(records, sourceNames, &summary_, this, GetCsvFileName(sCsvPath));
    };
    if (!reload_() || !popTempGrid())
        return false;
    Label5->setText(QString());
    showKeptOut();
    showStage(fraImport);
    return true;
}

void frmImport::showKeptOut()
{
    lstKept->clear();
    try {
        Connection temp(sConnTemp);
        Snapshot kept(temp, QStringLiteral("select line,field,reason from KeptOut order by line limit 1000"));
        for (; !kept.eof(); kept.moveNext())
            lstKept->addItem(kept.text(1).isEmpty() // a row set aside whole by the file's reader
                                 ? QStringLiteral("Line %1: kept out, %2").arg(kept.text(0), kept.text(2))
                                 : QStringLiteral("Line %1: kept out, %2 does not fit (%3)")
                                       .arg(kept.text(0), kept.text(1), kept.text(2)));
    } catch (const std::exception& e) {
        ReportFailure(e, QStringLiteral("showKeptOut"), Owner::Form, QStringLiteral("frmImport"));
    }
    if (summary_.keptOut > lstKept->count())
        lstKept->addItem(QStringLiteral("... and %1 more; save them all with 'Save Kept-Out Rows'.")
                             .arg(summary_.keptOut - lstKept->count()));
    cmdSaveKept->setEnabled(summary_.keptOut > 0);
    QStringList said;
    const auto count = [&said](qint64 n, const char* one, const char* many) {
        if (n)
            said << QString::number(n) + u' ' + QLatin1String(n == 1 ? one : many);
    };
    said << QString::number(summary_.loaded) + QLatin1String(summary_.loaded == 1 ? " row ready." : " rows ready.");
    count(summary_.keptOut, "kept out.", "kept out.");
    count(summary_.madeToFit, "value made to fit.", "values made to fit.");
    count(summary_.duplicates, "matches a stored contact.", "match stored contacts.");
    count(summary_.possibleDuplicates, "possibly matches a stored contact (imported unless unticked).",
          "possibly match stored contacts (imported unless unticked).");
    count(summary_.mismatched, "with another number of fields than the header.",
          "with another number of fields than the header.");
    count(summary_.blankRows, "blank row skipped.", "blank rows skipped.");
    count(summary_.fallbackFields, "field read as Windows-1252.", "fields read as Windows-1252.");
    lblMessage->setText(said.join(u' '));
    announce(lblMessage, lblMessage->text());
}

void frmImport::cmdSaveKept_Click()
{
    const QString path = platform().saveFileName(QStringLiteral("c:\\"), QStringLiteral("Save Kept-Out Rows"), sKeptFilter);
    if (path.isEmpty())
        return;
    QString error;
    if (!saveKeptOut(path, summary_, &error))
        platform().msgBox(error);
}

void frmImport::beginWork(const QString& what)
{
    bWorking = true;
    bCancelWork = false;
    sWork = what;
    for (QWidget* w : std::initializer_list<QWidget*>{cmdMap, fraMap, fraImport})
        w->setEnabled(false);
    lblProgress->setText(what + QStringLiteral("..."));
    saidQuarter_ = 0;
    announce(lblProgress, lblProgress->text());
    lblProgress->show();
    cmdCancel->show();
    cmdCancel->setEnabled(true);
}

bool frmImport::workProgress(qint64 done, qint64 total)
{
    const qint64 percent = total > 0 ? std::min<qint64>(100, done * 100 / total) : 0;
    lblProgress->setText(QStringLiteral("%1... %2%").arg(sWork).arg(percent));
    // Every quarter is said, not every percent, which would leave the reader no pause.
    if (const int quarter = int(percent / 25); quarter > saidQuarter_) {
        saidQuarter_ = quarter;
        announce(lblProgress, lblProgress->text());
    }
    platform().doEvents();
    return !bCancelWork;
}

void frmImport::endWork()
{
    bWorking = false;
    lblProgress->hide();
    cmdCancel->hide();
    cmdMap->setEnabled(!bGridLoaded);
    fraMap->setEnabled(!bGridLoaded && leftTwips(fraMap) == kPanelShown);
    fraImport->setEnabled(bGridLoaded && leftTwips(fraImport) == kPanelShown);
}

void frmImport::cmdCancel_Click() { bCancelWork = true; }

void frmImport::loadAgain()
{
    platform().msgBox(QStringLiteral("The rows waiting to be imported are gone: the scratch file %1 was removed or changed "
                                     "by another program. No contact was added.\n\nKestrel reads %2 again; look over "
                                     "the rows, then click Import.")
                          .arg(QDir::toNativeSeparators(tempDBPath()), GetCsvFileName(sCsvPath)));
    unloadGrid();
    if (!reload_ || !reload_() || !popTempGrid())
        return;
    showKeptOut();
    showStage(fraImport);
}

bool frmImport::popTempGrid()
{
    try {
        // A load just made the tables; another program may have taken them away since.
        if (!scratchState().ready) {
            summary_.scratchLost = true;
            return false;
        }
        rsTemp->open(previewHeadings());
    } catch (const std::exception& e) {
        ReportFailure(e, QStringLiteral("popTempGrid"), Owner::Form, QStringLiteral("frmImport"));
        return false;
    }
    dgTemp->setModel(rsTemp);
    bGridLoaded = true;
    for (int c = 0; c < kGridColumnCount; ++c)
        dgTemp->setColumnWidth(c, px(kGridColumns[c].width));
    return true;
}

void frmImport::dgTemp_TickToggle(int row, bool ticked)
{
    const qint64 id = rsTemp->idAt(row);
    // Kept in Main at once, as a deleted row is, so the import reads what the preview shows.
    if (ActionQuery(QStringLiteral("update Main set dup=%1 where id=%2").arg(ticked ? 2 : 3).arg(id), sConnTemp))
        return;
    const QSignalBlocker quiet(rsTemp); // the tick goes back to what Main holds
    rsTemp->setData(rsTemp->index(row, kNoteColumn), ticked ? Qt::Unchecked : Qt::Checked, Qt::CheckStateRole);
}

void frmImport::dgTemp_DeleteRows()
{
    if (!bGridLoaded)
        return;
    std::vector<int> rows;
    for (const QModelIndex& index : dgTemp->selectionModel()->selectedRows())
        rows.push_back(index.row());
    if (rows.empty())
        return;
    std::sort(rows.begin(), rows.end());
    QStringList ids;
    ids.reserve(qsizetype(rows.size()));
    for (const int r : rows)
        ids << QString::number(rsTemp->idAt(r));
    // One statement for the whole selection: either every chosen row leaves Main or none does.
    if (ActionQuery(QStringLiteral("delete from Main where id in (") + ids.join(u',') + u')', sConnTemp))
        rsTemp->removeRowsAt(rows);
}

namespace {
// Ctrl+Z after an import moves every contact it added to the trash, as one line there.
void rememberImport(qint64 imported, qint64 importId)
{
    const QLocale english(QLocale::English);
    const QString count = english.toString(imported) + (imported == 1 ? QStringLiteral(" contact") : QStringLiteral(" contacts"));
    rememberChange({QStringLiteral("Import Contacts (%1)").arg(count), [count, importId] {
                        const QLocale english(QLocale::English);
                        const QString label = QStringLiteral("Import of %1 on %2")
                                                  .arg(count, english.toString(platform().now(), QStringLiteral("M/d/yyyy h:mm AP")));
                        int moved = 0;
                        if (!RunAction(sConnContacts,
                                       [&] { moveImportToTrash(sConnContacts, importId, label, &moved); },
                                       QStringLiteral("undoImport")))
                            return false;
                        platform().msgBox(
                            moved == 0 ? QStringLiteral("The contacts that import added had all been deleted already; nothing was undone.")
                                       : QStringLiteral("%1 %2 that the import added %3 moved to the trash; Edit > Trash restores them.")
                                             .arg(english.toString(moved), moved == 1 ? QStringLiteral("contact") : QStringLiteral("contacts"),
                                                  moved == 1 ? QStringLiteral("was") : QStringLiteral("were")));
                        return moved > 0;
                    }});
}
} // namespace

void frmImport::cmdImport_Click()
{
    if (!bGridLoaded || bWorking)
        return;
    beginWork(QStringLiteral("Importing"));
    const bool imported = ImportTempRows(cboType->currentText(), chkSkipDup->isChecked(), &summary_,
                                         [this](qint64 done, qint64 total) { return workProgress(done, total); },
                                         rsTemp->rowCount(), this);
    endWork();
    if (!imported) {
        if (summary_.cancelled) {
            lblMessage->setText(QStringLiteral("The import was cancelled; no contact was added."));
            announce(lblMessage, lblMessage->text());
        }
        if (summary_.scratchLost)
            loadAgain();
        return;
    }
    if (!sHeaderFields.isEmpty()) { // a file mapped here, not one whose reader names its fields
        QStringList targets;
        for (int i = 0; i < lstFrom->count(); ++i)
            targets << entryTarget(i);
        rememberMapping(sHeaderFields, targets);
    }
    platform().msgBox(summaryText(summary_));
    if (summary_.imported > 0)
        rememberImport(summary_.imported, summary_.importId);
    accept();
}

bool frmImport::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == dgTemp && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Delete) {
        dgTemp_DeleteRows();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void frmImport::done(int result)
{
    // Closing while rows are read or written stops that work first; the window closes after.
    if (bWorking) {
        bCancelWork = true;
        return;
    }
    unloadGrid();
    releaseScratch(this);
    QDialog::done(result);
}

void frmImport::unloadGrid()
{
    if (!bGridLoaded)
        return;
    dgTemp->setModel(nullptr);
    bGridLoaded = false;
}

} // namespace kestrel
