#pragma once
// Saving an edited row only when nobody else changed it since the editor opened. Several running
// copies share one set of contacts and appointments (a folder on a shared disk, or the office
// server), so an editor remembers the version of the row it showed and its save checks that
// version in the same transaction that writes, instead of overwriting whatever is there now.
#include <QString>

#include <cstdint>

namespace kestrel {

// One row: its table, its key column and its key.
struct RowKey {
    QString table;
    QString keyColumn;
    std::int64_t key = 0;
};

// The version of a stored row: on the office server the row's rowver, raised by the server on
// every update; on a local file a digest of every value the row holds, so two copies of the
// program on one folder are guarded too. Empty when the row is not stored. Throws DbError.
QString rowVersion(const QString& connectionText, const RowKey& row);

class Connection;
// The same on an open connection; forUpdate holds the row (on the server) until the
// connection's transaction ends, as a guarded write of several rows needs.
QString rowVersionOn(Connection& connection, const RowKey& row, bool forUpdate);

enum class SaveOutcome {
    Saved,   // the row was as the editor saw it, and now holds the editor's values
    Changed, // someone else changed the row; nothing was written
    Deleted, // the row is gone; nothing was written
    Failed,  // the engine refused, and the user has been told
};

struct GuardedSave {
    SaveOutcome outcome = SaveOutcome::Failed;
    // The row's version as found: for Changed, what a save over the other change must name.
    QString current;
    // For Saved: the row's version with the values just written (a later guarded save of this
    // change, such as its undo, names it).
    QString written;
};

// Runs updateStatement (the program's dialect, changing the row alone) when the row's version is
// still seenVersion, checking and writing in one transaction that holds the row for its length.
// Throws DbError.
GuardedSave saveIfUnchanged(const QString& connectionText, const RowKey& row, const QString& seenVersion,
                            const QString& updateStatement);

} // namespace kestrel
