#include "exchange/PreviewModel.h"

#include "data/Database.h"
#include "data/Globals.h"
#include "data/Statement.h"
#include "exchange/modImport.h"
#include "ui/SnapshotTableModel.h"

#include <algorithm>
#include <numeric>

namespace kestrel {

namespace {
// A few screens above and below what is shown; older pages give way.
constexpr size_t kPagesKept = 8;

QString pageSelect()
{
    QString sql = kPreviewSelect;
    return sql.replace(QStringLiteral(" from main"), QStringLiteral(",dup from main where id between ? and ? order by id"));
}
} // namespace

PreviewModel::PreviewModel(QObject* parent) : QAbstractTableModel(parent) {}

void PreviewModel::open(const QStringList& headings)
{
    std::vector<qint64> ids;
    int columns = 0;
    {
        Connection temp(sConnTemp);
        qint64 low = 0, high = -1, count = 0;
        forEachRowBytes(temp, QStringLiteral("select min(id), max(id), count(*) from main"),
                        [&](int, const char* const* v, const int*) {
                            low = QByteArray(v[0]).toLongLong();
                            high = v[1] ? QByteArray(v[1]).toLongLong() : -1;
                            count = QByteArray(v[2]).toLongLong();
                        });
        if (count > 0 && high - low + 1 == count) {
            // A load numbers its rows without gaps: the keys need no read.
            ids.resize(size_t(count));
            std::iota(ids.begin(), ids.end(), low);
        } else if (count > 0) {
            ids.reserve(size_t(count));
            forEachRowBytes(temp, QStringLiteral("select id from main order by id"),
                            [&ids](int, const char* const* v, const int*) { ids.push_back(QByteArray(v[0]).toLongLong()); });
        }
        Statement shape(temp, pageSelect(), Statement::Dialect::Native);
        columns = shape.columnCount() - 1; // the last is the mark
    }
    beginResetModel();
    ids_ = std::move(ids);
    headings_ = headings;
    columns_ = columns;
    pages_.clear();
    endResetModel();
}

void PreviewModel::close()
{
    beginResetModel();
    ids_.clear();
    pages_.clear();
    endResetModel();
}

PreviewModel::Page& PreviewModel::pageOf(int row) const
{
    const int first = row - row % kPageRows;
    for (Page& p : pages_)
        if (p.first == first) {
            p.used = ++clock_;
            return p;
        }
    if (pages_.size() >= kPagesKept)
        pages_.erase(std::min_element(pages_.begin(), pages_.end(), [](const Page& a, const Page& b) { return a.used < b.used; }));
    const int rows = std::min<int>(kPageRows, int(ids_.size()) - first);
    Page page;
    page.first = first;
    page.used = ++clock_;
    page.cells.resize(size_t(rows) * size_t(columns_));
    page.dup.assign(size_t(rows), 0);
    try {
        Connection temp(sConnTemp);
        Statement read(temp, pageSelect(), Statement::Dialect::Native);
        read.bind(1, std::int64_t(ids_[size_t(first)]));
        read.bind(2, std::int64_t(ids_[size_t(first + rows - 1)]));
        // Rows deleted from the view are skipped by walking the keys beside the answer.
        int at = 0;
        while (read.step()) {
            const qint64 id = read.integer(0);
            while (at < rows && ids_[size_t(first + at)] < id)
                ++at;
            if (at >= rows || ids_[size_t(first + at)] != id)
                continue;
            for (int c = 0; c < columns_; ++c)
                page.cells[size_t(at) * size_t(columns_) + size_t(c)] = read.text(c);
            page.dup[size_t(at)] = std::int8_t(read.integer(columns_));
        }
    } catch (const std::exception&) {
        // The scratch file went away under the preview: the rows show empty, and Import then
        // finds the file changed and says so.
    }
    pages_.push_back(std::move(page));
    return pages_.back();
}

void PreviewModel::removeRowsAt(const std::vector<int>& rows)
{
    // From the last, so that each index still names its row; a run of neighbours goes as one.
    for (auto it = rows.rbegin(); it != rows.rend();) {
        const int last = *it;
        int first = last;
        for (++it; it != rows.rend() && *it == first - 1; ++it)
            first = *it;
        beginRemoveRows({}, first, last);
        ids_.erase(ids_.begin() + first, ids_.begin() + last + 1);
        endRemoveRows();
    }
    pages_.clear();
}

bool PreviewModel::isTickable(int row) const
{
    if (row < 0 || row >= rowCount())
        return false;
    const Page& p = pageOf(row);
    const int8_t mark = p.dup[size_t(row - p.first)];
    return mark == 2 || mark == 3;
}

bool PreviewModel::isTicked(int row) const
{
    if (row < 0 || row >= rowCount())
        return false;
    const Page& p = pageOf(row);
    return p.dup[size_t(row - p.first)] == 2;
}

int PreviewModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : int(ids_.size()); }

int PreviewModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : columns_; }

QVariant PreviewModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount() || index.column() >= columns_)
        return {};
    if (role == Qt::CheckStateRole && index.column() == kTickColumn && isTickable(index.row()))
        return isTicked(index.row()) ? Qt::Checked : Qt::Unchecked;
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole)
        return {};
    const Page& p = pageOf(index.row());
    QString shown = p.cells[size_t(index.row() - p.first) * size_t(columns_) + size_t(index.column())];
    return cellShown(std::move(shown), role);
}

QVariant PreviewModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole || orientation == Qt::Vertical)
        return {};
    return headings_.value(section);
}

Qt::ItemFlags PreviewModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    // The tick is the one thing the preview lets the user change.
    if (index.column() == kTickColumn && isTickable(index.row()))
        return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

bool PreviewModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (role != Qt::CheckStateRole || index.column() != kTickColumn || !isTickable(index.row()))
        return false;
    const bool ticked = value.toInt() == Qt::Checked;
    Page& p = pageOf(index.row());
    p.dup[size_t(index.row() - p.first)] = ticked ? 2 : 3;
    Q_EMIT dataChanged(index, index, {Qt::CheckStateRole});
    Q_EMIT tickToggled(index.row(), ticked);
    return true;
}

} // namespace kestrel
