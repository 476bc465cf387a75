#pragma once
// Moving one salesperson's local files onto the office database: their contacts, appointments and
// to-do items are copied to the server in one step that may be repeated safely. The server keeps
// a note of every row it took from which local file, so a second run (after a failure, or by a
// colleague who already copied the same files) adds only what is not there yet.
#include <QString>

namespace kestrel {

class DbError;

struct OfficeCopyCounts {
    int contacts = 0, appointments = 0, todo = 0; // rows copied by this run
    int alreadyCopied = 0;                        // rows an earlier run copied
};

// Copies from the local contacts and main files (connection texts) to the target's contacts and
// main connection texts (on the office server both are the same database). Each of the two
// targets is written in one transaction: all of it or none. Throws DbError.
OfficeCopyCounts copyLocalData(const QString& fromContacts, const QString& fromMain, const QString& toContacts,
                               const QString& toMain);

// What a run did, in words for the command line.
QString officeCopySummary(const OfficeCopyCounts& counts);

// kestrel --copy-to-office: copies the data folder beside the program to the office database the
// user chose (File > Options, or KESTREL_DATABASE) and says what it did on standard output, or
// why it could not on standard error. Returns the exit status.
int copyToOfficeCommand();
// Why a run stopped, in words for the command line: the office server or the local file that
// failed, and what to do.
QString officeCopyFailure(const DbError& e);

} // namespace kestrel
