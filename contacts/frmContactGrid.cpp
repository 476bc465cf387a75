#include "contacts/frmContactGrid.h"

#include "contacts/frmLead.h"
#include "contacts/modTree.h"

#include "data/ChangeListener.h"
#include "data/ContactFields.h"
#include "data/Database.h"
#include "data/Globals.h"
#include "data/History.h"
#include "data/modData.h"
#include "platform/Platform.h"
#include "ui/Report.h"

#include <QApplication>
#include <QComboBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QTableView>
#include <QTimer>

namespace kestrel {

namespace {
const QStringList kHeadings = {QStringLiteral("ID"),      QStringLiteral("Name"),    QStringLiteral("Company"),
                               QStringLiteral("Address"), QStringLiteral("Work Ph"), QStringLiteral("Ext"),
                               QStringLiteral("Home Ph"), QStringLiteral("Cell Ph"), QStringLiteral("Email"),
                               QStringLiteral("Last contact")};
constexpr int kWidths[] = {500, 1500, 1800, 1800, 900, 500, 900, 900, 1700, 1200};
constexpr int kEmailColumn = 8;
const QList<int> kPhoneColumns = {4, 6, 7};
constexpr int kNameColumn = 1;

// The fields the user may add to the table (its column choice: a right click on the headings, or
// the menu key in the table), after the nine it always shows; chosen ones are remembered.
constexpr int kChoosable[] = {cf::City, cf::St, cf::Zip, cf::Country, cf::JobTitle, cf::WebSite, cf::Birthday,
                              cf::Notes, cf::ConType};
// The date of the newest history entry: who has not been called for a month sorts to the top.
constexpr int kLastContactColumn = 9;
constexpr int kFirstChoosable = 10;
const QString kColumnsSection = QStringLiteral("Grid");
const QString kColumnsKey = QStringLiteral("Columns");

QString choosableSelect()
{
    QStringList columns;
    for (const int f : kChoosable)
        columns << QLatin1String(contactFields()[f].column);
    return columns.join(u',');
}

QStringList allHeadings()
{
    QStringList headings = kHeadings;
    for (const int f : kChoosable)
        headings << QLatin1String(contactFields()[f].caption);
    return headings;
}

QString shownBirthday(const QString& stored) { return birthdayText(stored); }

// The local files give the newest date as stored (2027-03-14), the office server as a date.
QString shownDate(const QString& stored)
{
    const QDate d = QDate::fromString(stored, Qt::ISODate);
    return d.isValid() ? DateText(d) : stored;
}
} // namespace

frmContactGrid::frmContactGrid(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("frmContactGrid"));
    setupDialog(this, QStringLiteral("Contact Grid"), 11385, 6645, true);
    setFont(designFont(QStringLiteral("Verdana"), 8.25));

    controls = buildControls(this, {
        {"Label1", ControlKind::Label, "Filter Alpha:", 120, 120, 825, kAuto},
        {"cboFilter", ControlKind::ComboList, "", 1080, 120, 1335, kAuto, 2},
        {"Label3", ControlKind::Label, "Companies:", 2640, 120, 825, kAuto},
        {"cboCompanies", ControlKind::ComboList, "", 3600, 120, 2055, kAuto, 6},
        {"Label2", ControlKind::Label, "Type:", 5880, 120, 405, kAuto},
        {"cboType", ControlKind::ComboList, "", 6480, 120, 1575, kAuto, 3},
        {"cmdEmail", ControlKind::Button, "Email", 8280, 120, 1335, 375, 4},
        {"cmdSelect", ControlKind::Button, "Select", 9840, 120, 1335, 375, 5},
        {"grdDataGrid", ControlKind::Grid, "", 120, 600, 11175, 6015, 1, 0, "Contacts"},
    });
    cboFilter = controls.get<QComboBox>(QStringLiteral("cboFilter"));
    cboCompanies = controls.get<QComboBox>(QStringLiteral("cboCompanies"));
    cboType = controls.get<QComboBox>(QStringLiteral("cboType"));
    cmdEmail = controls.get<QPushButton>(QStringLiteral("cmdEmail"));
    cmdSelect = controls.get<QPushButton>(QStringLiteral("cmdSelect"));
    grdDataGrid = controls.get<QTableView>(QStringLiteral("grdDataGrid"));

    model = new ContactGridModel(this);
    model->setColumns(GridColumns(), allHeadings());
    model->onReadFailure = [this](const std::exception& e) {
        ReportFailure(e, QStringLiteral("grdDataGrid_Read"), Owner::Form, QStringLiteral("frmContactGrid"));
    };
    for (int i = 0; i < int(std::size(kChoosable)); ++i)
        if (kChoosable[i] == cf::Birthday)
            model->setColumnFormat(kFirstChoosable + i, shownBirthday);
    model->setColumnFormat(kLastContactColumn, shownDate);
    grdDataGrid->setModel(model);
    // A click on a heading sorts by its column; another click turns the order round.
    grdDataGrid->horizontalHeader()->setSectionsClickable(true);
    grdDataGrid->horizontalHeader()->setSortIndicatorShown(false);
    connect(grdDataGrid->horizontalHeader(), &QHeaderView::sectionClicked, this,
            [this](int column) { grdDataGrid_HeadClick(column); });
    grdDataGrid->horizontalHeader()->setContextMenuPolicy(Qt::CustomContextMenu);
    grdDataGrid->setContextMenuPolicy(Qt::CustomContextMenu);
    for (QWidget* w : {static_cast<QWidget*>(grdDataGrid->horizontalHeader()), static_cast<QWidget*>(grdDataGrid)})
        connect(w, &QWidget::customContextMenuRequested, this,
                [this, w](const QPoint& at) { grdDataGrid_ColumnChoice(w->mapToGlobal(at)); });
    grdDataGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grdDataGrid->setSelectionMode(QAbstractItemView::SingleSelection);
    grdDataGrid->setSelectionBehavior(QAbstractItemView::SelectRows);
    // Tab leaves the table for the next control; the arrow keys move between cells.
    grdDataGrid->setTabKeyNavigation(false);
    // The table's own face: narrower than the window's, with the metrics of the classic grid's.
    grdDataGrid->setFont(designFont(QStringLiteral("Arial"), 8.25));
    grdDataGrid->installEventFilter(this);
    // Enter or a double click on a row picks it, as Select does (only when picking).
    connect(grdDataGrid, &QAbstractItemView::activated, this, [this] {
        if (bViewMode)
            cmdSelect_Click();
    });

    // activated: the user's choices only, never the program's own filling of the lists.
    connect(cboFilter, &QComboBox::activated, this, [this] { cboFilter_Click(); });
    connect(cboType, &QComboBox::activated, this, [this] { cboType_Click(); });
    connect(cboCompanies, &QComboBox::activated, this, [this] { cboCompanies_Click(); });
    connect(cmdEmail, &QPushButton::clicked, this, [this] { cmdEmail_Click(); });
    connect(cmdSelect, &QPushButton::clicked, this, [this] { cmdSelect_Click(); });
}

frmContactGrid::~frmContactGrid() = default;

bool frmContactGrid::eventFilter(QObject* watched, QEvent* event)
{
    // Ctrl+Tab leaves the table too, as it does every other control.
    if (watched == grdDataGrid && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if ((key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) && (key->modifiers() & Qt::ControlModifier)) {
            focusNextPrevChild(key->key() == Qt::Key_Tab && !(key->modifiers() & Qt::ShiftModifier));
            return true;
        }
        if (key->key() == Qt::Key_Delete && key->modifiers() == Qt::NoModifier) {
            grdDataGrid_KeyDown(key->key());
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void frmContactGrid::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (loaded_)
        return;
    loaded_ = true;
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
    Form_Load();
}

void frmContactGrid::Form_Load()
{
    PopGrid();
    PopFilterList();
    PopTypeList();
    if (!bViewMode)
        cmdSelect->setEnabled(false);
    PopCompanyList();
    grdDataGrid->setFocus();
}

QString GridWhere(const QString& letter, const QString& type, const QString& companies)
{
    QStringList parts;
    if (letter.size() == 1 && letter.at(0) >= u'A' && letter.at(0) <= u'Z')
        parts << QStringLiteral("lastname like '") + letter + QStringLiteral("%'");
    if (!type.isEmpty() && type != u"All")
        parts << QStringLiteral("contype='") + Quoted(type) + u'\'';
    if (companies == u"Companies only")
        parts << QStringLiteral("company <> \"\"");
    else if (companies == u"No Companies")
        parts << QStringLiteral("company = \"\"");
    return parts.isEmpty() ? QString() : QStringLiteral(" where ") + parts.join(QStringLiteral(" and "));
}

QString GridSelect(const QString& where)
{
    return QStringLiteral("select id,firstname + ' ' + lastname, company,  address, workph, ext, homeph,cellph,email,") +
           LastContactColumn() + u',' + choosableSelect() + QStringLiteral(" from contacts") + where +
           QStringLiteral(" order by lastname,firstname asc");
}

QStringList GridColumns()
{
    QStringList columns = {QStringLiteral("id"), QStringLiteral("firstname || ' ' || lastname")};
    for (const char* c : {"company", "address", "workph", "ext", "homeph", "cellph", "email"})
        columns << QLatin1String(c);
    columns << LastContactColumn();
    for (const int f : kChoosable)
        columns << QLatin1String(contactFields()[f].column);
    return columns;
}

void frmContactGrid::PopGrid()
{
    try {
        // The counts now; the rows as the table shows them.
        model->show(sConnContacts, cboFilter->currentText(), cboType->currentText(), cboCompanies->currentText(), order_,
                    descending_);
    } catch (const std::exception& e) {
        ReportFailure(e, QStringLiteral("PopGrid"), Owner::Form, QStringLiteral("frmContactGrid"));
        return;
    }
    grdDataGrid->resize(px(11175), grdDataGrid->height());
    // The phone columns show a whole international number as people write it (a longer one is
    // elided, whole in its tool tip).
    const int phone = grdDataGrid->fontMetrics().horizontalAdvance(QStringLiteral("+00 00 0000 0000")) + 10;
    for (int i = 0; i < int(std::size(kWidths)); ++i)
        grdDataGrid->setColumnWidth(i, kPhoneColumns.contains(i) ? std::max(px(kWidths[i]), phone) : px(kWidths[i]));
    // The ID column keeps its width until the ids outgrow it; then it fits the longest (every
    // digit as wide as the widest, 0), not "57…".
    const QString longestId(QString::number(model->largestId()).size(), u'0');
    grdDataGrid->setColumnWidth(0, std::max(px(kWidths[0]), grdDataGrid->fontMetrics().horizontalAdvance(longestId) + 10));
    const QStringList chosen = chosenColumns();
    for (int i = 0; i < int(std::size(kChoosable)); ++i) {
        const int f = kChoosable[i];
        grdDataGrid->setColumnWidth(kFirstChoosable + i, px(f == cf::Notes ? 2400 : f == cf::St || f == cf::Zip ? 900 : 1500));
        grdDataGrid->setColumnHidden(kFirstChoosable + i, !chosen.contains(QLatin1String(contactFields()[f].column)));
    }
    // Like a freshly opened result set, the first row is the current one.
    if (model->rowCount() > 0)
        grdDataGrid->setCurrentIndex(model->index(0, 0));
}

void frmContactGrid::followChanges(ChangeListener* listener)
{
    refillTimer_ = new QTimer(this);
    refillTimer_->setSingleShot(true);
    refillTimer_->setInterval(300);
    connect(refillTimer_, &QTimer::timeout, this, [this] { refillChanged(); });
    const auto stale = [this] {
        if (!refillTimer_->isActive())
            refillTimer_->start();
    };
    // The history's changes move the "Last contact" column.
    connect(listener, &ChangeListener::contactsChanged, this, stale);
    connect(listener, &ChangeListener::historyChanged, this, stale);
}

void frmContactGrid::refillChanged()
{
    // A question asked over the grid holds its row: the refill waits until it is answered.
    const QWidget* modal = QApplication::activeModalWidget();
    if ((modal && modal != this) || QApplication::activePopupWidget()) {
        refillTimer_->start();
        return;
    }
    const QModelIndex current = grdDataGrid->currentIndex();
    const int topRow = grdDataGrid->rowAt(0);
    const qint64 chosen = current.isValid() ? model->value(current.row(), 0).toLongLong() : 0;
    const qint64 top = topRow >= 0 ? model->value(topRow, 0).toLongLong() : 0;
    try {
        model->refill();
        const int rows = model->rowCount();
        // A contact another user deleted leaves its place to the next one.
        int chosenRow = chosen ? model->rowOfContact(chosen) : -1;
        if (chosenRow < 0 && current.isValid() && rows > 0)
            chosenRow = std::min(current.row(), rows - 1);
        int newTop = top ? model->rowOfContact(top) : -1;
        if (newTop < 0)
            newTop = std::min(std::max(topRow, 0), std::max(rows - 1, 0));
        if (rows > 0)
            grdDataGrid->scrollTo(model->index(newTop, 0), QAbstractItemView::PositionAtTop);
        if (chosenRow >= 0) {
            // Chosen again where it stands now, without moving the view from the user's place.
            grdDataGrid->setAutoScroll(false);
            grdDataGrid->setCurrentIndex(model->index(chosenRow, std::max(current.column(), 0)));
            grdDataGrid->setAutoScroll(true);
        }
    } catch (const std::exception& e) {
        ReportFailure(e, QStringLiteral("refillChanged"), Owner::Form, QStringLiteral("frmContactGrid"));
    }
}

void frmContactGrid::grdDataGrid_HeadClick(int column)
{
    // The orders the store keeps an index for; the other headings leave the order as it is.
    static const QHash<int, GridOrder> kOrders = {{0, GridOrder::Id},
                                                  {kNameColumn, GridOrder::Name},
                                                  {2, GridOrder::Company},
                                                  {kLastContactColumn, GridOrder::LastContact}};
    QHeaderView* head = grdDataGrid->horizontalHeader();
    if (!kOrders.contains(column)) {
        // The heading may have moved its arrow itself: it goes back to the column sorted by.
        if (sortColumn_ >= 0)
            head->setSortIndicator(sortColumn_, descending_ ? Qt::DescendingOrder : Qt::AscendingOrder);
        return;
    }
    const bool again = sortColumn_ == column;
    const Qt::SortOrder order = again && !descending_ ? Qt::DescendingOrder : Qt::AscendingOrder;
    sortColumn_ = column;
    // The contact chosen stays chosen in the new order.
    const QModelIndex current = grdDataGrid->currentIndex();
    const qint64 id = current.isValid() ? model->value(current.row(), 0).toLongLong() : 0;
    head->setSortIndicator(column, order);
    head->setSortIndicatorShown(true);
    order_ = kOrders.value(column);
    descending_ = order == Qt::DescendingOrder;
    PopGrid();
    try {
        if (const int row = id ? model->rowOfContact(id) : -1; row >= 0) {
            grdDataGrid->setCurrentIndex(model->index(row, current.column()));
            grdDataGrid->scrollTo(grdDataGrid->currentIndex());
        }
    } catch (const std::exception& e) {
        ReportFailure(e, QStringLiteral("grdDataGrid_HeadClick"), Owner::Form, QStringLiteral("frmContactGrid"));
    }
}

QStringList frmContactGrid::chosenColumns() const
{
    return platform().getSetting(kAppTitle, kColumnsSection, kColumnsKey).split(u',', Qt::SkipEmptyParts);
}

void frmContactGrid::grdDataGrid_ColumnChoice(const QPoint& at)
{
    QMenu menu(this);
    QStringList chosen = chosenColumns();
    for (const int f : kChoosable) {
        const QString column = QLatin1String(contactFields()[f].column);
        QAction* a = menu.addAction(QLatin1String(contactFields()[f].caption));
        a->setCheckable(true);
        a->setChecked(chosen.contains(column));
        a->setData(column);
    }
    const QAction* picked = menu.exec(at);
    if (!picked)
        return;
    const QString column = picked->data().toString();
    if (chosen.contains(column))
        chosen.removeAll(column);
    else
        chosen << column;
    platform().saveSetting(kAppTitle, kColumnsSection, kColumnsKey, chosen.join(u','));
    for (int i = 0; i < int(std::size(kChoosable)); ++i)
        grdDataGrid->setColumnHidden(kFirstChoosable + i,
                                     !chosen.contains(QLatin1String(contactFields()[kChoosable[i]].column)));
}

void frmContactGrid::PopFilterList()
{
    cboFilter->clear();
    cboFilter->addItem(QStringLiteral("All"));
    for (char16_t c = u'A'; c <= u'Z'; ++c)
        cboFilter->addItem(QString(QChar(c)));
    cboFilter->setCurrentIndex(0);
}

void frmContactGrid::PopTypeList()
{
    cboType->clear();
    cboType->addItems(QStringList{QStringLiteral("All")} + kContactTypes);
    cboType->setCurrentIndex(0);
}

void frmContactGrid::PopCompanyList()
{
    cboCompanies->clear();
    cboCompanies->addItems({QStringLiteral("Both"), QStringLiteral("Companies only"), QStringLiteral("No Companies")});
    cboCompanies->setCurrentIndex(0);
}

// Each filter narrows what the others leave, so the three boxes always say what is listed.
void frmContactGrid::cboFilter_Click() { PopGrid(); }
void frmContactGrid::cboType_Click() { PopGrid(); }
void frmContactGrid::cboCompanies_Click() { PopGrid(); }

void frmContactGrid::grdDataGrid_KeyDown(int key)
{
    // Delete on a contact's row: the same question and trash as the editor's Delete button. A
    // window opened to pick a contact deletes none.
    const QModelIndex current = grdDataGrid->currentIndex();
    if (key != Qt::Key_Delete || bViewMode || !current.isValid())
        return;
    const int id = model->value(current.row(), 0).toInt();
    QString last, first;
    const bool read = RunAction(sConnContacts, [&] {
        Connection connection(sConnContacts);
        Snapshot rs(connection, QStringLiteral("select lastname,firstname from contacts where id=") + QString::number(id));
        if (!rs.eof()) {
            last = rs.text(0);
            first = rs.text(1);
        }
    }, QStringLiteral("grdDataGrid_KeyDown"), Owner::Form, QStringLiteral("frmContactGrid"));
    if (!read || !TrashContact(id, last, first, QStringLiteral("grdDataGrid_KeyDown"), QStringLiteral("frmContactGrid")))
        return;
    bDeleted = true;
    const int row = current.row(), column = current.column();
    PopGrid();
    // The next row takes the deleted one's place.
    if (model->rowCount() > 0)
        grdDataGrid->setCurrentIndex(model->index(std::min(row, model->rowCount() - 1), column));
}

void frmContactGrid::cmdEmail_Click()
{
    const QModelIndex current = grdDataGrid->currentIndex();
    EmailLead(current.isValid() ? model->text(current.row(), kEmailColumn) : QString());
}

void frmContactGrid::cmdSelect_Click()
{
    if (!bViewMode || model->rowCount() == 0)
        return;
    const QModelIndex current = grdDataGrid->currentIndex();
    const int row = current.isValid() ? current.row() : 0;
    if (picker) {
        picker->setPickedId(model->value(row, 0).toInt());
        picker->setPickedName(model->text(row, kNameColumn));
    }
    accept();
}

} // namespace kestrel
