#pragma once
// The contact grid: contacts in a table narrowed by initial, type or company; mails the chosen
// contact, and, opened to pick a contact, hands the chosen name back to whoever opened it.
#include "ui/Ui.h"

#include <QAbstractTableModel>
#include <QDialog>
#include <QStringList>

#include <memory>

class QComboBox;
class QPushButton;
class QTableView;

namespace kestrel {

class Snapshot;

// Whoever opens the grid to pick a contact receives the chosen name ("First Last") here.
class ContactPicker {
public:
    virtual ~ContactPicker() = default;
    virtual void setPickedName(const QString& name) = 0;
};

// A read-only table over one snapshot of the grid's query.
class ContactGridModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit ContactGridModel(QObject* parent = nullptr);
    ~ContactGridModel() override;

    // Takes the rows and the column headings to show from now on.
    void setRows(std::unique_ptr<Snapshot> rows, const QStringList& headings);
    // The cell as text ("" for a missing value).
    QString text(int row, int column) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    std::unique_ptr<Snapshot> rows_;
    QStringList headings_;
};

class frmContactGrid : public QDialog {
    Q_OBJECT
public:
    explicit frmContactGrid(QWidget* parent = nullptr);
    ~frmContactGrid() override;

    // True while the grid is shown to pick a contact: enables Select. Read when first shown.
    bool bViewMode = false;
    // Receives the name that Select picks.
    ContactPicker* picker = nullptr;

    // mode "alpha" (filter: a letter), "type" (filter: a contact type), "company", "nocompany",
    // anything else for all contacts.
    void PopGrid(const QString& mode, const QString& filter = QString());

    void Form_Load();
    void PopFilterList();
    void PopTypeList();
    void PopCompanyList();
    void cboFilter_Click();
    void cboType_Click();
    void cboCompanies_Click();
    void cmdEmail_Click();
    void cmdSelect_Click();

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
};

} // namespace kestrel
