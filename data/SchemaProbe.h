#pragma once
// Looks the upgrades that run as a local file opens take at what the file already holds.
// Included only by data/ sources.
#include <sqlite3.h>

namespace kestrel {

// True when the statement (a look at sqlite_master or a pragma) gives a row; false also when the
// file cannot be read, which the upgrade's own statements then report.
inline bool hasRow(sqlite3* db, const char* sql)
{
    sqlite3_stmt* probe = nullptr;
    bool found = false;
    if (sqlite3_prepare_v2(db, sql, -1, &probe, nullptr) == SQLITE_OK)
        found = sqlite3_step(probe) == SQLITE_ROW;
    sqlite3_finalize(probe);
    return found;
}

} // namespace kestrel
