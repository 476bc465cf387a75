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
// main connection texts (on the office server both are the same database, written in one
// transaction: all of it or none; two runs at once copy each row once). Throws DbError, after
// setting failedAt to the connection text it failed on.
OfficeCopyCounts copyLocalData(const QString& fromContacts, const QString& fromMain, const QString& toContacts,
                               const QString& toMain, QString* failedAt = nullptr);

// What a run did, in words for the command line.
QString officeCopySummary(const OfficeCopyCounts& counts);

// kestrel --copy-to-office: copies the data folder beside the program to the office database the
// user chose (File > Options, or KESTREL_DATABASE) and says what it did on standard output, or
// why it could not on standard error. Returns the exit status.
int copyToOfficeCommand();

} // namespace kestrel
