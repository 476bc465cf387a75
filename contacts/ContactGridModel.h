#pragma once
// The contact grid's table over the store: it knows its row count from one query and reads the
// rows the view asks for a page at a time by key, keeping only a few pages around them, so a
// million contacts open as fast as a hundred. By name the rows are filed as the tree files them
// (letters A-Z, then "#", each initial of a letter in turn): each initial is a range of its
// index, paged by key.
#include "data/GridPages.h"

#include <QAbstractTableModel>
#include <QHash>
#include <QStringList>

#include <functional>
#include <optional>
#include <vector>

namespace kestrel {

class ContactGridModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit ContactGridModel(QObject* parent = nullptr);

    // The grid's columns: SQL over contacts (the first is the id) and their headings.
    void setColumns(const QStringList& expressions, const QStringList& headings);
    using CellFormat = QString (*)(const QString& stored);
    void setColumnFormat(int column, CellFormat format);
    // Rows of the type and company choice ("All"/"Both" for every one), of one letter A-Z ("" or
    // "All" for every letter), in an order. Reads the counts at once and rows when asked. Throws DbError.
    void show(const QString& connection, const QString& letter, const QString& type, const QString& companies,
              GridOrder order, bool descending);
    // Counts again and reads only the rows shown (another user changed the table). Throws DbError.
    void refill();
    // The row of a letter's first contact, or of this contact; -1 when none is listed. Throws DbError.
    int rowOfLetter(QChar letter) const;
    int rowOfContact(std::int64_t id) const;

    QString text(int row, int column) const;
    QVariant value(int row, int column) const;
    // The largest id of any contact, as of the last show or refill.
    std::int64_t largestId() const { return largestId_; }
    // The pages held now (for memory: never the whole table).
    int rowsHeld() const;
    // Rows per page (a test makes it tiny, so that few rows span many pages).
    static void setPageSize(int rows);
    // Told of a failed read in data(), where nothing can be thrown to the view.
    std::function<void(const std::exception&)> onReadFailure;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    struct Segment {
        QChar letter;      // 'A'-'Z' or '#'; 0 for a single range (by company or id)
        GridFilter filter; // its rows: one initial of the letter when by name
        int start = 0, count = 0;
        // Held rows: [first, first + rows.size()) of the segment's.
        mutable int first = 0;
        mutable std::vector<GridRow> rows;
    };
    void build();
    const Segment* segmentOf(int row) const;
    const GridRow* rowAt(int row) const;
    void readAround(const Segment& s, int k) const;
    std::vector<GridRow> readPage(const Segment& s, const std::optional<GridKey>& from, bool towardsEnd, int limit,
                                  bool keysOnly = false) const;

    QString connection_;
    QString letter_, type_, companies_;
    GridOrder order_ = GridOrder::Name;
    bool descending_ = false;
    QStringList columns_, headings_;
    QHash<int, CellFormat> formats_;
    std::vector<Segment> segments_;
    int total_ = 0;
    std::int64_t largestId_ = 0;
};

} // namespace kestrel
