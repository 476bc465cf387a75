#pragma once
// A read-only table over one snapshot of a query, as the contact grid and the import preview show
// it. Rows taken out of the view leave it without a new read, so a preview stays in step with the
// rows the user deleted.
#include "data/Database.h"

#include <QAbstractTableModel>
#include <QHash>
#include <QStringList>

#include <optional>
#include <vector>

namespace kestrel {

class SnapshotTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit SnapshotTableModel(QObject* parent = nullptr);
    ~SnapshotTableModel() override;

    // Shows these rows from now on, under these headings (a column without one shows its name).
    void setRows(Snapshot rows, const QStringList& headings);
    // The cell as text ("" outside the table or for a missing value), and as its typed value.
    QString text(int row, int column) const;
    QVariant value(int row, int column) const;
    // Shows the cells of a column through format (a stored date as the user reads it, say); text()
    // still gives them as stored.
    using CellFormat = QString (*)(const QString& stored);
    void setColumnFormat(int column, CellFormat format);
    // Shows the rows in a new order, given as the view indexes of today's rows.
    void reorder(const std::vector<int>& viewRows);
    // Takes rows (ascending view indexes) out of the view.
    void removeRowsAt(const std::vector<int>& rows);
    // Shows the rows ordered by a column's values: empty cells first, dates and numbers by their
    // value, texts without regard to accents or case; rows that tie keep their order.
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

    // Rows given here show a tick box in the column, ticked or not (view row → ticked); the
    // user ticks and unticks it with Space or a click, and tickToggled tells of it.
    void setTicks(int column, const QHash<int, bool>& ticks);
    bool isTickable(int row) const;
    bool isTicked(int row) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;

Q_SIGNALS:
    void tickToggled(int row, bool ticked);

private:
    bool inside(int row, int column) const;
    std::optional<Snapshot> snap_;
    std::vector<int> shown_; // view row → snapshot row
    QStringList headings_;
    QHash<int, CellFormat> formats_;
    int tickColumn_ = -1;
    QHash<int, bool> ticks_; // snapshot row → ticked
};

// What a table shows of a stored text in role: one line (its line breaks as ", ") for the
// cell, the text whole for its tool tip (nothing when empty).
QVariant cellShown(QString shown, int role);

} // namespace kestrel
