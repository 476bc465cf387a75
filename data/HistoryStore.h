#pragma once
// The history's tables in a local contacts file: made in a file that lacks them, the first time
// it is opened (a new file too), and shown empty through this connection alone in one that may
// only be read. Used by data/ alone.
struct sqlite3;

namespace kestrel {

// The table history and the appointments' contact, outcome and recorded columns. Throws DbError.
void upgradeForHistory(sqlite3* db, bool readOnly);

} // namespace kestrel
