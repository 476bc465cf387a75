#pragma once
// What each import added. An import gets a key of its own (kestrel_imports), written on every
// contact it inserts (contacts.import_id), so that taking it back deletes exactly its rows and
// never a colleague's contact saved in the middle of it; and an import that never finished (the
// program killed, the power cut) is still known at the next start, with how far it got.
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <vector>

namespace kestrel {

class Connection;

struct ImportRun {
    std::int64_t id = 0;
    QString source;          // the file's name, as the user knows it
    std::int64_t total = 0;  // contacts the import was to add
    std::int64_t lastRow = 0; // the last scratch row whose contact is committed
    QString scratch;         // the token of the scratch file's rows it was importing
    QString contype;
    bool skipDuplicates = true;
    QDateTime started;
    std::int64_t arrived = 0; // contacts of it now stored (unfinishedImports)
};

// A local contacts file gets the column and the table the first time (the office server's schema
// has them). Throws DbError.
void prepareImportLog(Connection& contacts);

// Notes a new import as running and returns its key; on the office server it is claimed for this
// connection until releaseImport. Throws DbError.
std::int64_t beginImport(Connection& contacts, const ImportRun& run);
// Notes, inside the transaction that commits a batch, the last scratch row the batch holds.
void noteImportProgress(Connection& contacts, std::int64_t id, std::int64_t lastRow);
// The import's end: "done", "taken back" or "kept". noteImportEnd only notes it, inside the
// caller's transaction (the import's last batch, so that rows and their end commit as one);
// endImport also releases the claim.
void noteImportEnd(Connection& contacts, std::int64_t id, const QString& state);
void endImport(Connection& contacts, std::int64_t id, const QString& state);

// Claims an import for this connection (office server: a session lock, given up when the
// connection ends, so a killed copy's imports are free); false when another copy holds it. On
// local files always true: the scratch file's lock stands for it.
bool claimImport(Connection& contacts, std::int64_t id);
void releaseImport(Connection& contacts, std::int64_t id);

// The imports of this user still noted as running, with the contacts each brought. Throws DbError.
std::vector<ImportRun> unfinishedImports(Connection& contacts);

// Deletes the contacts import id brought, a batch per transaction, and notes it taken back.
// Returns how many were deleted. Throws DbError.
std::int64_t takeBackImport(Connection& contacts, std::int64_t id);

// A large import into a local file is one transaction that drops the contacts' indexes that only
// order them (never one that keeps a value unique) and makes them again before it commits: a
// million rows placed at scattered points of several indexes cost more than sorting them once.
// A cancel or a kill takes the drop back with the rows, so the file is exactly as it was.
class BulkIndexes {
public:
    // Inside the import's open transaction; the indexes dropped are those over a column the
    // import gives each row its own value of (others take the rows at one place, in order).
    // Throws DbError.
    BulkIndexes(Connection& contacts, const QStringList& varyingColumns);
    // Makes every dropped index again from its own definition. keepGoing is asked now and then
    // while they are built; false stops the building and throws ImportStopped.
    void rebuild(const std::function<bool()>& keepGoing);
    struct ImportStopped {};

private:
    Connection& db_;
    std::vector<QString> definitions_;
    QString pausedCounts_;
};

// Whether an import adding rows to a local file pays for making the indexes again: at least
// bulkImportRows() rows, and at least as many as the file holds (every import when set to 0, as
// the tests do to meet that way with a few rows). Throws DbError.
bool bulkImportPays(Connection& contacts, std::int64_t rows);
std::int64_t bulkImportRows();
void setBulkImportRows(std::int64_t rows);

} // namespace kestrel
