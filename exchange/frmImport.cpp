#include "exchange/frmImport.h"

#include "data/Database.h"
#include "data/Globals.h"
#include "data/modData.h"
#include "exchange/CsvText.h"
#include "exchange/frmMapField.h"
#include "exchange/modImport.h"
#include "platform/Platform.h"
#include "ui/Desktop.h"

#include <QAbstractTableModel>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
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
const GridColumn kGridColumns[13] = {{"ID", 300},      {"FName", 800},   {"LName", 800},    {"Company", 1200},
                                     {"Address", 1100}, {"City", 700},    {"St", 300},       {"Zip", 700},
                                     {"Work Ph", 750},  {"Ext", 500},     {"Home Ph", 750},  {"Cell Ph", 750},
                                     {"Email", 1400}};
} // namespace

// The preview's rows of Main, read once; rows deleted from Main leave the view without a re-read.
class TempGridModel : public QAbstractTableModel {
public:
    using QAbstractTableModel::QAbstractTableModel;

    void load(Snapshot snapshot)
    {
        beginResetModel();
        snap_.emplace(std::move(snapshot));
        rows_.resize(size_t(snap_->rowCount()));
        for (size_t i = 0; i < rows_.size(); ++i)
            rows_[i] = int(i);
        endResetModel();
    }

    int rowCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : int(rows_.size()); }
    int columnCount(const QModelIndex& parent = {}) const override
    {
        return parent.isValid() || !snap_ ? 0 : snap_->fieldCount();
    }

    QVariant data(const QModelIndex& index, int role) const override
    {
        if (!index.isValid() || role != Qt::DisplayRole || !snap_)
            return {};
        return snap_->textAt(rows_[size_t(index.row())], index.column());
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < 13)
            return QString::fromLatin1(kGridColumns[section].caption);
        return QAbstractTableModel::headerData(section, orientation, role);
    }

    qlonglong idAt(int row) const { return snap_->value(rows_[size_t(row)], 0).toLongLong(); }

    // rows ascending
    void removeRowsAt(const std::vector<int>& rows)
    {
        for (size_t end = rows.size(); end > 0;) {
            size_t begin = end - 1;
            while (begin > 0 && rows[begin - 1] == rows[begin] - 1)
                --begin;
            beginRemoveRows({}, rows[begin], rows[end - 1]);
            rows_.erase(rows_.begin() + rows[begin], rows_.begin() + rows[end - 1] + 1);
            endRemoveRows();
            end = begin;
        }
    }

private:
    std::optional<Snapshot> snap_;
    std::vector<int> rows_;
};

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
        {"fraMap", ControlKind::Frame, "Map Field Names", kPanelHidden, 1020, 11265, 6405},
        {"fraMap.Label2", ControlKind::Label, "", 120, 300, 11025, 495},
        {"fraMap.Label3", ControlKind::Label, "", 120, 900, 11025, 255},
        {"fraMap.lstFrom", ControlKind::ListBox, "", 120, 1200, 11025, 4515, 3},
        {"fraMap.cmdDone", ControlKind::Button, "Done Mapping", 9480, 5850, 1665, 375, 4},
        {"fraImport", ControlKind::Frame, "Rows and fields to import", kPanelHidden, 1020, 11265, 6405},
        {"fraImport.dgTemp", ControlKind::Grid, "", 120, 300, 11025, 4335, 5},
        {"fraImport.Label6", ControlKind::Label, "", 120, 4740, 7815, 1095},
        {"fraImport.Label4", ControlKind::Label, "Type:", 8160, 4800, 615, 255},
        {"fraImport.cboType", ControlKind::ComboList, "", 8820, 4740, 1455, 315, 6},
        {"fraImport.lblMessage", ControlKind::Label, "", 120, 5940, 7815, 255},
        {"fraImport.cmdImport", ControlKind::Button, "Import", 9480, 5850, 1665, 375, 7},
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

    Label2->setText(QStringLiteral(
        "Click the fields below to delete or map to a Kestrel field.  All fields must be either be marked as "
        "'DELETE' or mapped to a contact field.  Click 'Done Mapping' to continue."));
    Label3->setText(QStringLiteral("CSV Field") + QString(62, u' ') + QStringLiteral("Mapped To"));
    Label6->setText(QStringLiteral(
        "Below are the contacts that will be imported.  You can delete any you wish not to import by selecting the "
        "contact and pressing delete on your keyboard.  The contacts will be entered as type currently selected in "
        "the Type Drop Down box.  Click the 'Import' button to complete the process."));
    for (QLabel* l : {Label2, Label6})
        l->setWordWrap(true);
    lstFrom->setFont(designFont(QStringLiteral("Courier New"), 9));
    for (QGroupBox* f : {fraMap, fraImport})
        f->setAutoFillBackground(true);
    for (QPushButton* b : {cmdBrowse, cmdMap, cmdDone, cmdImport})
        b->setAutoDefault(false);

    rsTemp = new TempGridModel(this);
    dgTemp->setSelectionMode(QAbstractItemView::ExtendedSelection);
    // The ID and St columns are narrower than the style's default minimum.
    dgTemp->horizontalHeader()->setMinimumSectionSize(px(300));
    dgTemp->installEventFilter(this);

    connect(cmdBrowse, &QPushButton::clicked, this, &frmImport::cmdBrowse_Click);
    connect(cmdMap, &QPushButton::clicked, this, &frmImport::cmdMap_Click);
    connect(lstFrom, &QListWidget::itemClicked, this, [this](QListWidgetItem* item) { lstFrom_Click(lstFrom->row(item)); });
    connect(cmdDone, &QPushButton::clicked, this, &frmImport::cmdDone_Click);
    connect(cmdImport, &QPushButton::clicked, this, &frmImport::cmdImport_Click);

    Form_Load();
}

frmImport::~frmImport() { unloadGrid(); }

void frmImport::showStage(QGroupBox* panel)
{
    // A panel out of view is also disabled: Tab would otherwise still reach its buttons, and
    // Import pressed during mapping would import the rows of the previous run still in Main.
    for (QGroupBox* f : {fraMap, fraImport}) {
        setLeftTwips(f, f == panel ? kPanelShown : kPanelHidden);
        f->setEnabled(f == panel);
    }
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
    sCsvPath = platform().openFileName(QStringLiteral("c:\\"), QStringLiteral("Select Directory and CSV File"),
                                       QStringLiteral("CSV (*.csv)|*.csv"));
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
    } catch (const DbError& e) {
        ShowErrorReport(ErrorReport(e, QStringLiteral("cmdMap_Click"), Owner::Form, QStringLiteral("frmImport")));
        // Another file may be chosen instead.
        cmdBrowse->setEnabled(true);
        Label5->setText(kBrowseHint);
        return;
    }
    sHeaderFields = names;
    lstFrom->clear();
    lstFrom->addItems(sHeaderFields);
    showStage(fraMap);
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
    item->setText(FormatMapLine(sHeaderFields.at(index), sMapTo.isEmpty() ? QStringLiteral("DELETE") : sMapTo));
    item->setData(Qt::UserRole, true);
}

void frmImport::cmdDone_Click()
{
    if (bGridLoaded)
        return;
    QStringList entries;
    for (int i = 0; i < lstFrom->count(); ++i) {
        const QListWidgetItem* item = lstFrom->item(i);
        // A header name that itself holds "***" is not a decision; only the dialog makes one.
        if (!isDecidedEntry(item->text()) || !item->data(Qt::UserRole).toBool()) {
            platform().msgBox(QStringLiteral("Please map or delete the field: ") + item->text());
            return;
        }
        entries << item->text();
    }
    if (const QString problem = mappingProblem(entries); !problem.isEmpty()) {
        platform().msgBox(problem);
        return;
    }
    if (!LoadCsvToTemp(sCsvPath, entries))
        return;
    if (!popTempGrid())
        return;
    showStage(fraImport);
    // Mapping again would re-create the scratch file under the open preview.
    cmdMap->setEnabled(false);
}

bool frmImport::popTempGrid()
{
    try {
        Connection temp(sConnTemp);
        rsTemp->load(Snapshot(temp, kPreviewSelect));
    } catch (const DbError& e) {
        ShowErrorReport(ErrorReport(e, QStringLiteral("popTempGrid"), Owner::Form, QStringLiteral("frmImport")));
        return false;
    }
    dgTemp->setModel(rsTemp);
    bGridLoaded = true;
    for (int c = 0; c < 13; ++c)
        dgTemp->setColumnWidth(c, px(kGridColumns[c].width));
    return true;
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

void frmImport::cmdImport_Click()
{
    if (!bGridLoaded)
        return;
    if (ImportTempRows(cboType->currentText()))
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
    unloadGrid();
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
