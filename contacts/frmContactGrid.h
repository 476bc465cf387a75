#pragma once
// The contact grid: contacts in a table narrowed by initial, type or company; mails the chosen
// contact, and, opened to pick a contact, hands the chosen name back to whoever opened it.
#include "contacts/ContactGridModel.h"
#include "ui/Ui.h"

#include <QDialog>
#include <QStringList>

#include <memory>

class QComboBox;
class QPushButton;
class QTableView;
class QTimer;

namespace kestrel {

class ChangeListener;
class Connection;
class Snapshot;

// Whoever opens the grid to pick a contact receives the chosen name ("First Last") here.
class ContactPicker {
public:
    virtual ~ContactPicker() = default;
    virtual void setPickedName(const QString& name) = 0;
    // The picked contact's id, handed over just before its name.
    virtual void setPickedId(int id) { (void)id; }
};

class frmContactGrid : public QDialog {
    Q_OBJECT
public:
    explicit frmContactGrid(QWidget* parent = nullptr);
    ~frmContactGrid() override;

    // True while the grid is shown to pick a contact: enables Select. Read when first shown.
    bool bViewMode = false;
    // A contact was deleted here: the main window's lists are filled anew.
    bool bDeleted = false;
    // Receives the name that Select picks.
    ContactPicker* picker = nullptr;

    // Lists the contacts that the three filter boxes leave, as the tree files them.
    void PopGrid();
    // In office mode another user's change to the contacts or their history reads again only the
    // rows shown, once per burst and after any question over the grid is answered, keeping the
    // chosen contact chosen and the top row's contact at the top.
    void followChanges(ChangeListener* listener);
    void refillChanged();

    void Form_Load();
    void PopFilterList();
    void PopTypeList();
    void PopCompanyList();
    void cboFilter_Click();
    void cboType_Click();
    void cboCompanies_Click();
    void cmdEmail_Click();
    void cmdSelect_Click();
    // Delete: the current row's contact goes to the trash, after the question.
    void grdDataGrid_KeyDown(int key);
    // A click on a column's heading: the rows by that column, the other way round on a second click.
    void grdDataGrid_HeadClick(int column);
    // The column choice: the fields the table may show besides its first nine, ticked when shown.
    void grdDataGrid_ColumnChoice(const QPoint& globalPos);
    QStringList chosenColumns() const;

    Controls controls;
    QComboBox* cboFilter = nullptr;
    QComboBox* cboCompanies = nullptr;
    QComboBox* cboType = nullptr;
    QPushButton* cmdEmail = nullptr;
    QPushButton* cmdSelect = nullptr;
    QTableView* grdDataGrid = nullptr;
    ContactGridModel* model = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool loaded_ = false;
    QTimer* refillTimer_ = nullptr;
    // The order a heading chose (by name until one is clicked).
    GridOrder order_ = GridOrder::Name;
    bool descending_ = false;
    int sortColumn_ = -1;
};

// The WHERE piece (with its leading blank, or empty) for the grid's filters as they stand: an
// initial ("All" or A-Z), a type ("All" or one) and "Both", "Companies only" or "No Companies".
QString GridWhere(const QString& letter, const QString& type, const QString& companies);
// The grid's whole query for such a WHERE piece: its columns (the "Last contact" among them), sorted by name.
QString GridSelect(const QString& where);
// The grid's columns as the store reads them, the id first and the "Last contact" among them.
QStringList GridColumns();

} // namespace kestrel
