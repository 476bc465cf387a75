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
// False when another import holds it, in another copy or (another holder) in this one.
bool acquireScratch(const void* holder);
void releaseScratch(const void* holder);

// Where CreateTempDB builds the file.
QString tempDBPath();

} // namespace kestrel
