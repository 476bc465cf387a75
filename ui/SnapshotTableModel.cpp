#include "ui/SnapshotTableModel.h"

#include "data/TextFold.h"

#include <QDate>

#include <algorithm>

namespace kestrel {

SnapshotTableModel::SnapshotTableModel(QObject* parent) : QAbstractTableModel(parent) {}
SnapshotTableModel::~SnapshotTableModel() = default;

void SnapshotTableModel::setRows(Snapshot rows, const QStringList& headings)
{
    beginResetModel();
    snap_.emplace(std::move(rows));
    shown_.resize(size_t(snap_->rowCount()));
    for (size_t i = 0; i < shown_.size(); ++i)
        shown_[i] = int(i);
    headings_ = headings;
    ticks_.clear();
    endResetModel();
}

bool SnapshotTableModel::inside(int row, int column) const
{
    return snap_ && row >= 0 && row < int(shown_.size()) && column >= 0 && column < snap_->fieldCount();
}

QString SnapshotTableModel::text(int row, int column) const
{
    return inside(row, column) ? snap_->textAt(shown_[size_t(row)], column) : QString();
}

QVariant SnapshotTableModel::value(int row, int column) const
{
    return inside(row, column) ? snap_->value(shown_[size_t(row)], column) : QVariant();
}

void SnapshotTableModel::reorder(const std::vector<int>& viewRows)
{
    beginResetModel();
    std::vector<int> shown;
    shown.reserve(viewRows.size());
    for (int r : viewRows)
        if (r >= 0 && r < int(shown_.size()))
            shown.push_back(shown_[size_t(r)]);
    shown_ = std::move(shown);
    endResetModel();
}

void SnapshotTableModel::removeRowsAt(const std::vector<int>& rows)
{
    // From the end, one run of neighbouring rows at a time, so earlier indexes stay valid.
    for (size_t end = rows.size(); end > 0;) {
        size_t begin = end - 1;
        while (begin > 0 && rows[begin - 1] == rows[begin] - 1)
            --begin;
        beginRemoveRows({}, rows[begin], rows[end - 1]);
        shown_.erase(shown_.begin() + rows[begin], shown_.begin() + rows[end - 1] + 1);
        endRemoveRows();
        end = begin;
    }
}

void SnapshotTableModel::sort(int column, Qt::SortOrder order)
{
    if (!snap_ || column < 0 || column >= snap_->fieldCount())
        return;
    // Each row's key once: an empty cell before every other, dates and numbers by their value,
    // texts as a reader files them (without accents or case).
    struct Key {
        int kind = 0; // 0 empty, 1 number, 2 date, 3 text
        double number = 0;
        QString text;
    };
    std::vector<Key> keys(size_t(snap_->rowCount()));
    for (int r = 0; r < snap_->rowCount(); ++r) {
        const QVariant v = snap_->value(r, column);
        Key& k = keys[size_t(r)];
        if (!v.isValid() || v.isNull() || (v.typeId() == QMetaType::QString && v.toString().isEmpty()))
            continue;
        switch (v.typeId()) {
        case QMetaType::Int:
        case QMetaType::LongLong:
        case QMetaType::Double:
        case QMetaType::Bool:
            k.kind = 1;
            k.number = v.toDouble();
            break;
        case QMetaType::QDate:
            k.kind = 2;
            k.number = double(v.toDate().toJulianDay());
            break;
        default:
            k.kind = 3;
            k.text = foldedText(v.toString());
        }
    }
    const auto less = [&keys](int a, int b) {
        const Key& x = keys[size_t(a)];
        const Key& y = keys[size_t(b)];
        if (x.kind != y.kind)
            return x.kind < y.kind;
        return x.kind == 3 ? x.text < y.text : x.number < y.number;
    };
    beginResetModel();
    if (order == Qt::AscendingOrder)
        std::stable_sort(shown_.begin(), shown_.end(), less);
    else
        std::stable_sort(shown_.begin(), shown_.end(), [&less](int a, int b) { return less(b, a); });
    endResetModel();
}

int SnapshotTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(shown_.size());
}

int SnapshotTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() || !snap_ ? 0 : snap_->fieldCount();
}

void SnapshotTableModel::setColumnFormat(int column, CellFormat format) { formats_.insert(column, format); }

void SnapshotTableModel::setTicks(int column, const QHash<int, bool>& ticks)
{
    tickColumn_ = column;
    ticks_.clear();
    for (auto it = ticks.cbegin(); it != ticks.cend(); ++it)
        if (it.key() >= 0 && it.key() < int(shown_.size()))
            ticks_.insert(shown_[size_t(it.key())], it.value());
    if (!shown_.empty())
        Q_EMIT dataChanged(index(0, column), index(int(shown_.size()) - 1, column));
}

bool SnapshotTableModel::isTickable(int row) const
{
    return row >= 0 && row < int(shown_.size()) && ticks_.contains(shown_[size_t(row)]);
}

bool SnapshotTableModel::isTicked(int row) const { return isTickable(row) && ticks_.value(shown_[size_t(row)]); }

bool SnapshotTableModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (role != Qt::CheckStateRole || index.column() != tickColumn_ || !isTickable(index.row()))
        return false;
    const bool ticked = value.toInt() == Qt::Checked;
    ticks_[shown_[size_t(index.row())]] = ticked;
    Q_EMIT dataChanged(index, index, {Qt::CheckStateRole});
    Q_EMIT tickToggled(index.row(), ticked);
    return true;
}

QVariant SnapshotTableModel::data(const QModelIndex& index, int role) const
{
    if (role == Qt::CheckStateRole && index.isValid() && index.column() == tickColumn_ && isTickable(index.row()))
        return isTicked(index.row()) ? Qt::Checked : Qt::Unchecked;
    if ((role != Qt::DisplayRole && role != Qt::ToolTipRole) || !index.isValid())
        return {};
    QString shown = text(index.row(), index.column());
    if (const CellFormat format = formats_.value(index.column()))
        shown = format(shown);
    return cellShown(std::move(shown), role);
}

QVariant SnapshotTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole || orientation == Qt::Vertical)
        return {};
    if (section >= 0 && section < headings_.size())
        return headings_[section];
    return snap_ && section < snap_->fieldCount() ? snap_->fieldName(section) : QString();
}

Qt::ItemFlags SnapshotTableModel::flags(const QModelIndex& index) const
{
    // Browsing never edits: a stray keystroke in a cell must not change a contact.
    if (!index.isValid())
        return Qt::NoItemFlags;
    // A tick box is the one thing a preview lets the user change.
    if (index.column() == tickColumn_ && isTickable(index.row()))
        return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

QVariant cellShown(QString shown, int role)
{
    // A cell is one line, elided where the column is narrower; its tool tip holds it whole, with
    // its own line breaks.
    if (role == Qt::ToolTipRole)
        return shown.isEmpty() ? QVariant() : QVariant(shown);
    if (shown.contains(u'\n') || shown.contains(u'\r')) {
        shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(u'\r', u'\n');
        shown = shown.split(u'\n', Qt::SkipEmptyParts).join(QStringLiteral(", "));
    }
    return shown;
}

} // namespace kestrel
