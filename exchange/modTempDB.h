#pragma once
// The scratch database every CSV import loads its rows into before they reach the contacts.
#include <QString>

namespace kestrel {

// Deletes the scratch database (whatever the letter case of its name) and builds it anew with an
// empty Main. Throws DbError when the old file cannot be removed or the new one not created.
void CreateTempDB();

// Deletes the file if a file of that name exists; does nothing otherwise. Throws DbError when it
// exists and cannot be deleted.
void DeleteIfExists(const QString& path);

// Defines Main in the scratch database just created. Throws DbError.
void CreateMainTable();

// The scratch database serves one import at a time, across every copy of the program on the same
// data folder: held from loading the rows until they are imported or the import is abandoned.
// False when another import holds it, in another copy or (another holder) in this one. A lock
// that cannot be proved stale (an empty lock file, or one taken on another computer) is taken
// over after a question that names the computer and the time it was taken.
bool acquireScratch(const void* holder);
void releaseScratch(const void* holder);

// Where CreateTempDB builds the file, and its lock beside it: both in the folder sConnTemp names
// (the data folder, or in office mode the user's own), under the one name tempdb.mdb.
QString tempDBPath();
QString scratchLockPath();

// What the scratch file holds now: whether its tables are there, and which load made them.
struct ScratchState {
    bool ready = false;
    QString token;  // made new by every load
    QString source; // the file the rows came from
};
// Throws DbError when the file cannot be read.
ScratchState scratchState();
// Notes the file the rows of the load just made came from.
void setScratchSource(const QString& source);

} // namespace kestrel
