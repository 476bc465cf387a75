#include "contacts/frmContactGrid.h"

#include "contacts/modTree.h"

#include "data/ContactFields.h"
#include "data/Database.h"
#include "data/Globals.h"
#include "data/History.h"
#include "data/modData.h"
#include "platform/Platform.h"
#include "ui/Report.h"

#include <QComboBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QTableView>

namespace kestrel {

namespace {
const QStringList kHeadings = {QStringLiteral("ID"),      QStringLiteral("Name"),    QStringLiteral("Company"),
                               QStringLiteral("Address"), QStringLiteral("Work Ph"), QStringLiteral("Ext"),
                               QStringLiteral("Home Ph"), QStringLiteral("Cell Ph"), QStringLiteral("Email"),
                               QStringLiteral("Last contact")};
constexpr int kWidths[] = {500, 1500, 1800, 1800, 900, 500, 900, 900, 1700, 1100};
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

    model = new SnapshotTableModel(this);
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

void frmContactGrid::PopGrid()
{
    const QString where = GridWhere(cboFilter->currentText(), cboType->currentText(), cboCompanies->currentText());
    const QString sql = QStringLiteral("select id,firstname + ' ' + lastname, company,  address, workph, ext, "
                                       "homeph,cellph,email,") + LastContactColumn() + u',' + choosableSelect() + QStringLiteral(" from contacts") +
                        where + QStringLiteral(" order by lastname,firstname asc");
    try {
        Connection connection(sConnContacts);
        model->setRows(Snapshot(connection, sql), allHeadings());
        fileAsTheTreeDoes(connection, where);
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
    const QStringList chosen = chosenColumns();
    for (int i = 0; i < int(std::size(kChoosable)); ++i) {
        const int f = kChoosable[i];
        grdDataGrid->setColumnWidth(kFirstChoosable + i, px(f == cf::Notes ? 2400 : f == cf::St || f == cf::Zip ? 900 : 1500));
        grdDataGrid->setColumnHidden(kFirstChoosable + i, !chosen.contains(QLatin1String(contactFields()[f].column)));
    }
    // A refill keeps the order the user chose by a heading.
    if (grdDataGrid->horizontalHeader()->isSortIndicatorShown())
        model->sort(grdDataGrid->horizontalHeader()->sortIndicatorSection(), grdDataGrid->horizontalHeader()->sortIndicatorOrder());
    // Like a freshly opened result set, the first row is the current one.
    if (model->rowCount() > 0)
        grdDataGrid->setCurrentIndex(model->index(0, 0));
}

void frmContactGrid::grdDataGrid_HeadClick(int column)
{
    QHeaderView* head = grdDataGrid->horizontalHeader();
    const bool again = head->isSortIndicatorShown() && head->sortIndicatorSection() == column;
    const Qt::SortOrder order =
        again && head->sortIndicatorOrder() == Qt::AscendingOrder ? Qt::DescendingOrder : Qt::AscendingOrder;
    // The contact chosen stays chosen in the new order.
    const QModelIndex current = grdDataGrid->currentIndex();
    const int id = current.isValid() ? model->value(current.row(), 0).toInt() : 0;
    head->setSortIndicator(column, order);
    head->setSortIndicatorShown(true);
    model->sort(column, order);
    for (int r = 0; r < model->rowCount(); ++r)
        if (model->value(r, 0).toInt() == id) {
            grdDataGrid->setCurrentIndex(model->index(r, current.column()));
            grdDataGrid->scrollTo(grdDataGrid->currentIndex());
            return;
        }
    if (model->rowCount() > 0)
        grdDataGrid->setCurrentIndex(model->index(0, 0));
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

void frmContactGrid::fileAsTheTreeDoes(Connection& connection, const QString& where)
{
    // The local files sort a name beginning with a letter beyond ASCII after Z and one beginning
    // with a digit before A; the rows are put where the tree files them. The names come in the
    // grid's own order, so each row is matched by position (and checked by its id).
    const int rows = model->rowCount();
    // Names of plain letters (each word after a blank begins with one, as a last name must) are
    // in the tree's order already: no second read for them.
    const auto plain = [](const QString& name) {
        if (name.isEmpty() || name.endsWith(u' '))
            return false;
        for (qsizetype i = 0; i < name.size(); ++i) {
            const char16_t c = name.at(i).unicode();
            if (c >= 0x80 || (c >= u'0' && c <= u'9') ||
                (i > 0 && name.at(i - 1) == u' ' && !((c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'))))
                return false;
        }
        return true;
    };
    bool allPlain = true;
    for (int r = 0; r < rows && allPlain; ++r)
        allPlain = plain(model->text(r, kNameColumn));
    if (allPlain)
        return;
    std::vector<std::pair<QString, QString>> names;
    names.reserve(size_t(rows));
    Snapshot rs(connection, QStringLiteral("select id,lastname,firstname from contacts") + where +
                                QStringLiteral(" order by lastname,firstname asc"));
    for (int r = 0; !rs.eof() && r < rows; rs.moveNext(), ++r) {
        if (rs.field(0).toInt() != model->value(r, 0).toInt())
            return; // changed between the two reads: the next fill puts it right
        names.emplace_back(rs.text(1), rs.text(2));
    }
    if (int(names.size()) != rows)
        return;
    if (const std::vector<int> order = TreeFilingOrder(names); !order.empty())
        model->reorder(order);
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
