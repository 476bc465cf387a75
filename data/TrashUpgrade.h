#pragma once
// What a local file of an earlier version gains for the trash when it is opened: the to-do file
// its own trash (a to-do item and its trash row are then one transaction of one file), and the
// contacts file the rows the sync once kept in a table of its own (sync_removed), moved into the
// trash in one transaction. A file that may only be read shows an empty trash and keeps its rows.
// Throws DbError.
struct sqlite3;

namespace kestrel {

void moveSyncRemovedToTrash(sqlite3* db, bool readOnly);
void upgradeToDoFile(sqlite3* db, bool readOnly);

} // namespace kestrel
