#pragma once
// The history's tables in a local contacts file: made with a new file, made in an older file the
// first time it is opened, and shown empty through this connection alone in one that may only be
// read. Used by data/ alone.
#include <QString>

struct sqlite3;

namespace kestrel {

// What a new contacts file is made with besides the contacts' schema (a file made whole at once
// needs no upgrade when first opened).
QString historySchemaOfNewFile();
// The table history and the appointments' contact, outcome and recorded columns. Throws DbError.
void upgradeForHistory(sqlite3* db, bool readOnly);

} // namespace kestrel
