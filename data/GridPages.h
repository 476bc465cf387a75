#pragma once
// The contact grid's rows read a page at a time in the order the user sorted them by, for a grid
// that shows a million contacts without holding them: the count of the rows the filters leave,
// and the page after (or before) a row by its key (the sort's columns, then id), never by an
// offset, so a page at the end of the table costs what one at its start does and rows written
// or deleted between pages neither repeat nor go missing.
#include "data/ContactPages.h"
#include "data/SpeedUps.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <vector>

namespace kestrel {

class Connection;

// The rows a grid reads: of a type ("All" or "" for every one), "Both", "Companies only" or "No
// Companies", and, when keys is given, only those whose last name begins with one of the keys
// (InitialCount's key) or, with nullName, has none: a letter as the tree files it.
struct GridFilter {
    QString type, companies;
    std::optional<QStringList> keys;
    bool nullName = false;
};

// Every first character (InitialCount's key) of the rows the filter leaves, with
// its count, in one query read from the initial's index. Throws DbError.
std::vector<InitialCount> gridInitials(Connection& db, const GridFilter& filter);

// The orders the grid reads by: each is an index on both engines, so a page is a range of it.
enum class GridOrder { Name, Company, Id, LastContact };

// Where a row stands in an order: its sort columns (nullopt: missing) and its id.
struct GridKey {
    std::vector<std::optional<QString>> values;
    std::int64_t id = 0;
    bool operator==(const GridKey&) const = default;
};

// A row: its key, and the columns asked for, as text (nullopt: missing).
struct GridRow {
    GridKey key;
    std::vector<std::optional<QString>> cells;
};

// How many rows the filters leave. Throws DbError.
std::int64_t gridRowCount(Connection& db, const GridFilter& filter);

// At most limit rows the filters leave, with the columns (SQL expressions over contacts) asked
// for: those after `from` in the order (from the first when nullopt), or with backwards those
// before it (from the last), nearest first. Throws DbError.
std::vector<GridRow> gridPage(Connection& db, const GridFilter& filter, GridOrder order, const QStringList& columns,
                              const std::optional<GridKey>& from, bool backwards, int limit);

// How many rows the filter leaves before this key in the order. Throws DbError.
std::int64_t gridRowsBefore(Connection& db, const GridFilter& filter, GridOrder order, const GridKey& key);

// The key of the contact with this id, when the filter leaves it. Throws DbError.
std::optional<GridKey> gridKeyOfContact(Connection& db, const GridFilter& filter, GridOrder order, std::int64_t id);

// The largest id a contact has (0: none), for a column wide enough for every id. Throws DbError.
std::int64_t largestContactId(Connection& db);

// The grid's sort indexes and its kept letter counts, which a contacts file from before them
// gains once (see SpeedUps.h; one that may not be changed is read without them).
const std::vector<SpeedUp>& gridSpeedUps();

// A bulk import adds a million rows in one transaction: counting each row into the kept letter
// counts costs more than counting them all once at its end. Inside that transaction: stops the
// counting of inserted rows and returns what resumeGridCounts needs (empty where the file keeps
// no counts), which counts every row once and counts inserts again. Throws DbError.
QString pauseGridCounts(Connection& db);
void resumeGridCounts(Connection& db, const QString& paused);

} // namespace kestrel
