#include "contacts/ContactGridModel.h"

#include "data/Database.h"
#include "ui/SnapshotTableModel.h"

#include <algorithm>

namespace kestrel {

namespace {
int gPageSize = 200;
// The pages held beside the one read last; beyond them the farthest is let go.
constexpr int kPagesHeld = 4;
// Rows walked by key alone to reach a row far from any held (a drag of the scroll bar).
constexpr int kWalkStep = 5000;

} // namespace

ContactGridModel::ContactGridModel(QObject* parent) : QAbstractTableModel(parent) {}

void ContactGridModel::setPageSize(int rows) { gPageSize = std::max(1, rows); }

void ContactGridModel::setColumns(const QStringList& expressions, const QStringList& headings)
{
    beginResetModel();
    columns_ = expressions;
    headings_ = headings;
    for (Segment& s : segments_)
        s.rows.clear();
    endResetModel();
}

void ContactGridModel::setColumnFormat(int column, CellFormat format) { formats_.insert(column, format); }

void ContactGridModel::show(const QString& connection, const QString& letter, const QString& type, const QString& companies,
                            GridOrder order, bool descending)
{
    connection_ = connection;
    letter_ = letter.size() == 1 && letter.at(0) >= u'A' && letter.at(0) <= u'Z' ? letter : QString();
    type_ = type;
    companies_ = companies;
    order_ = order;
    descending_ = descending;
    beginResetModel();
    segments_.clear();
    total_ = 0;
    try {
        build();
    } catch (...) {
        segments_.clear();
        total_ = 0;
        endResetModel();
        throw;
    }
    endResetModel();
}

void ContactGridModel::build()
{
    Connection db(connection_);
    GridFilter base{type_, companies_, std::nullopt, false};
    // The letters as the tree files them: each initial the engine indexes goes to its letter, and
    // is a range of that index of its own (see initialParts).
    std::vector<Segment> kept;
    for (const InitialPart& part : initialParts(gridInitials(db, base))) {
        if (!letter_.isEmpty() && part.letter != letter_.at(0))
            continue;
        Segment s;
        s.letter = part.letter;
        s.filter = base;
        s.filter.keys = part.nullName ? QStringList() : QStringList{part.key};
        s.filter.nullName = part.nullName;
        s.count = int(part.count);
        kept.push_back(std::move(s));
    }
    if (order_ != GridOrder::Name) {
        // One range of the order's index, narrowed to the letter's initials when one is chosen.
        Segment all;
        all.filter = base;
        if (!letter_.isEmpty() && !kept.empty()) {
            all.filter.keys = QStringList();
            for (const Segment& s : kept) {
                all.filter.keys->append(*s.filter.keys);
                all.filter.nullName = all.filter.nullName || s.filter.nullName;
            }
        }
        for (const Segment& s : kept)
            all.count += s.count;
        kept.clear();
        if (all.count > 0)
            kept.push_back(std::move(all));
    }
    if (descending_)
        std::reverse(kept.begin(), kept.end());
    int start = 0;
    for (Segment& s : kept) {
        s.start = start;
        start += s.count;
    }
    segments_ = std::move(kept);
    total_ = start;
    largestId_ = largestContactId(db);
}

void ContactGridModel::refill()
{
    // Where each letter was read, by key: after the new count it is read from there again.
    std::vector<std::pair<GridFilter, GridKey>> anchors;
    for (const Segment& s : segments_)
        if (!s.rows.empty())
            anchors.emplace_back(s.filter, s.rows.front().key);
    beginResetModel();
    try {
        segments_.clear();
        total_ = 0;
        build();
        Connection db(connection_);
        for (const auto& [filter, key] : anchors)
            for (Segment& s : segments_) {
                if (s.filter.keys != filter.keys || s.filter.nullName != filter.nullName)
                    continue;
                const std::int64_t before = gridRowsBefore(db, s.filter, order_, key);
                const bool stays = gridKeyOfContact(db, s.filter, order_, key.id) == key;
                // The anchor's own row is read back by the page before it; the page after it starts here.
                s.rows = readPage(s, key, true, gPageSize);
                s.first = int(descending_ ? s.count - before : before + (stays ? 1 : 0));
            }
    } catch (...) {
        segments_.clear();
        total_ = 0;
        endResetModel();
        throw;
    }
    endResetModel();
}

std::vector<GridRow> ContactGridModel::readPage(const Segment& s, const std::optional<GridKey>& from, bool towardsEnd,
                                                int limit, bool keysOnly) const
{
    Connection db(connection_);
    return gridPage(db, s.filter, order_, keysOnly ? QStringList() : columns_, from, towardsEnd == descending_, limit);
}

void ContactGridModel::readAround(const Segment& s, int k) const
{
    const int held = int(s.rows.size());
    if (k >= s.first && k < s.first + held)
        return;
    const int page = gPageSize;
    if (held > 0 && k >= s.first + held && k < s.first + held + page) {
        std::vector<GridRow> more = readPage(s, s.rows.back().key, true, page);
        s.rows.insert(s.rows.end(), std::make_move_iterator(more.begin()), std::make_move_iterator(more.end()));
        if (const int extra = int(s.rows.size()) - kPagesHeld * page; extra > 0) {
            s.rows.erase(s.rows.begin(), s.rows.begin() + extra);
            s.first += extra;
        }
    } else if (held > 0 && k < s.first && k >= s.first - page) {
        std::vector<GridRow> more = readPage(s, s.rows.front().key, false, page);
        std::reverse(more.begin(), more.end());
        s.first -= int(more.size());
        s.rows.insert(s.rows.begin(), std::make_move_iterator(more.begin()), std::make_move_iterator(more.end()));
        if (int(s.rows.size()) > kPagesHeld * page)
            s.rows.resize(size_t(kPagesHeld * page));
    } else if (k >= s.count - page) {
        // The end: one page read backwards from the last row.
        s.rows = readPage(s, std::nullopt, false, page);
        std::reverse(s.rows.begin(), s.rows.end());
        s.first = s.count - int(s.rows.size());
    } else {
        // Far from what is held: walk there by key alone from the nearest place known before it.
        int at = 0;
        std::optional<GridKey> from;
        if (held > 0 && k >= s.first + held) {
            at = s.first + held;
            from = s.rows.back().key;
        }
        while (at < k) {
            const std::vector<GridRow> keys = readPage(s, from, true, std::min(kWalkStep, k - at), true);
            if (keys.empty())
                break;
            at += int(keys.size());
            from = keys.back().key;
        }
        s.rows = readPage(s, from, true, page);
        s.first = at;
    }
}

const ContactGridModel::Segment* ContactGridModel::segmentOf(int row) const
{
    if (row < 0 || row >= total_)
        return nullptr;
    const auto it = std::upper_bound(segments_.begin(), segments_.end(), row, [](int r, const Segment& s) { return r < s.start; });
    return it == segments_.begin() ? nullptr : &*std::prev(it);
}

const GridRow* ContactGridModel::rowAt(int row) const
{
    const Segment* s = segmentOf(row);
    if (!s)
        return nullptr;
    const int k = row - s->start;
    // Letters away from the one read let their rows go: the grid holds what is around the view.
    const auto at = s - segments_.data();
    for (size_t j = 0; j < segments_.size(); ++j)
        if (std::abs(std::ptrdiff_t(j) - at) > 1 && !segments_[j].rows.empty()) {
            segments_[j].rows.clear();
            segments_[j].rows.shrink_to_fit();
            segments_[j].first = 0;
        }
    try {
        readAround(*s, k);
    } catch (const std::exception& e) {
        s->rows.clear();
        if (onReadFailure)
            onReadFailure(e);
        return nullptr;
    }
    if (k < s->first || k >= s->first + int(s->rows.size()))
        return nullptr;
    return &s->rows[size_t(k - s->first)];
}

int ContactGridModel::rowOfLetter(QChar letter) const
{
    for (const Segment& s : segments_)
        if (s.letter == letter)
            return s.start;
    return -1;
}

int ContactGridModel::rowOfContact(std::int64_t id) const
{
    Connection db(connection_);
    for (const Segment& s : segments_) {
        const std::optional<GridKey> key = gridKeyOfContact(db, s.filter, order_, id);
        if (!key)
            continue;
        const int before = int(gridRowsBefore(db, s.filter, order_, *key));
        return s.start + (descending_ ? s.count - 1 - before : before);
    }
    return -1;
}

QString ContactGridModel::text(int row, int column) const
{
    const GridRow* r = rowAt(row);
    if (!r || column < 0 || column >= int(r->cells.size()))
        return {};
    return r->cells[size_t(column)].value_or(QString());
}

QVariant ContactGridModel::value(int row, int column) const
{
    const GridRow* r = rowAt(row);
    if (!r || column < 0 || column >= int(r->cells.size()) || !r->cells[size_t(column)])
        return {};
    if (column == 0)
        return QVariant::fromValue(r->key.id);
    return *r->cells[size_t(column)];
}

int ContactGridModel::rowsHeld() const
{
    int n = 0;
    for (const Segment& s : segments_)
        n += int(s.rows.size());
    return n;
}

int ContactGridModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : total_; }
int ContactGridModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : int(columns_.size()); }

QVariant ContactGridModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::ToolTipRole))
        return {};
    const QString stored = text(index.row(), index.column());
    const auto format = formats_.find(index.column());
    QString shown = format == formats_.end() ? stored : (*format)(stored);
    return cellShown(std::move(shown), role);
}

QVariant ContactGridModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole || orientation == Qt::Vertical)
        return {};
    return section < headings_.size() ? headings_[section] : QVariant();
}

Qt::ItemFlags ContactGridModel::flags(const QModelIndex& index) const
{
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

} // namespace kestrel
