#include "data/ImportLog.h"

#include "data/Database.h"
#include "data/GridPages.h"
#include "data/Statement.h"

#include <sqlite3.h>

#include <QStringList>

#include <atomic>

namespace kestrel {

namespace {

Statement native(Connection& c, const QString& sql) { return Statement(c, sql, Statement::Dialect::Native); }

// The advisory lock space of imports on the office server (the first of the two keys).
constexpr int kImportLockSpace = 0x4b494d50; // "KIMP"

constexpr int kTakeBackBatch = 5000;

} // namespace

void prepareImportLog(Connection& contacts)
{
    if (contacts.onServer())
        return;
    bool hasColumn = false;
    {
        Statement columns = native(contacts, QStringLiteral("PRAGMA table_info(contacts)"));
        while (columns.step())
            hasColumn = hasColumn || columns.text(1).compare(QStringLiteral("import_id"), Qt::CaseInsensitive) == 0;
    }
    if (!hasColumn) {
        native(contacts, QStringLiteral("ALTER TABLE contacts ADD COLUMN import_id INTEGER")).run();
        native(contacts, QStringLiteral("CREATE INDEX IF NOT EXISTS contacts_by_import ON contacts(import_id) "
                                        "WHERE import_id IS NOT NULL"))
            .run();
    }
    native(contacts, QStringLiteral("CREATE TABLE IF NOT EXISTS kestrel_imports(id INTEGER PRIMARY KEY AUTOINCREMENT, "
                                    "owner TEXT, source TEXT NOT NULL, total INTEGER NOT NULL, last_row INTEGER NOT NULL "
                                    "DEFAULT 0, scratch TEXT, contype TEXT, skip_dup BOOLEAN NOT NULL DEFAULT 1, "
                                    "started TEXT NOT NULL, state TEXT NOT NULL DEFAULT 'running')"))
        .run();
}

std::int64_t beginImport(Connection& contacts, const ImportRun& run)
{
    std::int64_t id = 0;
    {
        Transaction tx(contacts);
        Statement insert = native(contacts, QStringLiteral("INSERT INTO kestrel_imports(source,total,scratch,contype,"
                                                           "skip_dup,started) VALUES(?,?,?,?,?,?)"));
        insert.bind(1, run.source);
        insert.bind(2, run.total);
        insert.bind(3, run.scratch);
        insert.bind(4, run.contype);
        insert.bind(5, contacts.onServer() ? QString::fromLatin1(run.skipDuplicates ? "true" : "false")
                                           : QString::number(run.skipDuplicates ? 1 : 0));
        insert.bind(6, QDateTime::currentDateTimeUtc().toString(Qt::ISODate));
        insert.run();
        id = insert.lastInsertId();
        tx.commit();
    }
    claimImport(contacts, id);
    return id;
}

void noteImportProgress(Connection& contacts, std::int64_t id, std::int64_t lastRow)
{
    Statement note = native(contacts, QStringLiteral("UPDATE kestrel_imports SET last_row=? WHERE id=?"));
    note.bind(1, lastRow);
    note.bind(2, id);
    note.run();
}

void noteImportEnd(Connection& contacts, std::int64_t id, const QString& state)
{
    Statement end = native(contacts, QStringLiteral("UPDATE kestrel_imports SET state=? WHERE id=?"));
    end.bind(1, state);
    end.bind(2, id);
    end.run();
}

void endImport(Connection& contacts, std::int64_t id, const QString& state)
{
    noteImportEnd(contacts, id, state);
    releaseImport(contacts, id);
}

bool claimImport(Connection& contacts, std::int64_t id)
{
    if (!contacts.onServer())
        return true;
    Statement lock = native(contacts, QStringLiteral("SELECT pg_try_advisory_lock(%1, ?)").arg(kImportLockSpace));
    lock.bind(1, id);
    return lock.step() && lock.text(0) == u"1";
}

void releaseImport(Connection& contacts, std::int64_t id)
{
    if (!contacts.onServer())
        return;
    Statement unlock = native(contacts, QStringLiteral("SELECT pg_advisory_unlock(%1, ?)").arg(kImportLockSpace));
    unlock.bind(1, id);
    unlock.step();
}

std::vector<ImportRun> unfinishedImports(Connection& contacts)
{
    prepareImportLog(contacts);
    std::vector<ImportRun> runs;
    // Each user's own on the server (row security): the same user's other computer is the only
    // other copy that can hold one, and its claim tells whether it still runs.
    Statement q = native(contacts, QStringLiteral("SELECT i.id, i.source, i.total, i.last_row, i.scratch, i.contype, "
                                                  "i.skip_dup, i.started, (SELECT count(*) FROM contacts c WHERE "
                                                  "c.import_id = i.id) FROM kestrel_imports i WHERE i.state = 'running' "
                                                  "ORDER BY i.id"));
    while (q.step()) {
        ImportRun r;
        r.id = q.integer(0);
        r.source = q.text(1);
        r.total = q.integer(2);
        r.lastRow = q.integer(3);
        r.scratch = q.text(4);
        r.contype = q.text(5);
        r.skipDuplicates = q.text(6) == u"1" || q.text(6).compare(QStringLiteral("true"), Qt::CaseInsensitive) == 0;
        r.started = QDateTime::fromString(q.text(7).left(19), Qt::ISODate);
        r.arrived = q.integer(8);
        runs.push_back(r);
    }
    return runs;
}

std::int64_t takeBackImport(Connection& contacts, std::int64_t id)
{
    // In batches, each its own transaction, so that another copy of the program never waits long;
    // one taken back halfway is still noted as running and found again.
    const QString batch = contacts.onServer()
        ? QStringLiteral("DELETE FROM contacts WHERE id IN (SELECT id FROM contacts WHERE import_id=? LIMIT %1)")
        : QStringLiteral("DELETE FROM contacts WHERE rowid IN (SELECT rowid FROM contacts WHERE import_id=? LIMIT %1)");
    std::int64_t deleted = 0;
    for (;;) {
        Transaction tx(contacts);
        Statement del = native(contacts, batch.arg(kTakeBackBatch));
        del.bind(1, id);
        const int n = del.run();
        if (n == 0) {
            Statement end = native(contacts, QStringLiteral("UPDATE kestrel_imports SET state='taken back' WHERE id=?"));
            end.bind(1, id);
            end.run();
        }
        tx.commit();
        contacts.settle();
        deleted += n;
        if (n == 0)
            break;
    }
    releaseImport(contacts, id);
    return deleted;
}

namespace {
std::atomic<std::int64_t> gBulkImportRows{50000};
} // namespace

std::int64_t bulkImportRows() { return gBulkImportRows; }
void setBulkImportRows(std::int64_t rows) { gBulkImportRows = rows; }

bool bulkImportPays(Connection& contacts, std::int64_t rows)
{
    if (contacts.onServer() || rows < gBulkImportRows)
        return false;
    if (gBulkImportRows == 0)
        return true;
    // Counting stops once the file is seen to hold more than the import brings.
    Statement stored = native(contacts, QStringLiteral("SELECT count(*) FROM (SELECT 1 FROM contacts LIMIT ?)"));
    stored.bind(1, rows + 1);
    return stored.step() && stored.integer(0) <= rows;
}

BulkIndexes::BulkIndexes(Connection& contacts, const QStringList& varyingColumns) : db_(contacts)
{
    // Indexes the engine makes itself (a primary key's, a unique column's) have no text.
    QStringList names;
    {
        Statement q = native(db_, QStringLiteral("SELECT name, sql FROM main.sqlite_master WHERE type='index' AND "
                                                 "tbl_name='contacts' AND sql IS NOT NULL ORDER BY name"));
        while (q.step()) {
            const QString sql = q.text(1);
            if (sql.simplified().startsWith(QStringLiteral("CREATE UNIQUE"), Qt::CaseInsensitive))
                continue;
            names << q.text(0);
            definitions_.push_back(sql);
        }
    }
    for (qsizetype i = names.size() - 1; i >= 0; --i) {
        Statement columns = native(db_, QStringLiteral("SELECT name FROM pragma_index_info(?) WHERE name IS NOT NULL"));
        columns.bind(1, names[i]);
        bool varies = false;
        while (columns.step())
            varies = varies || varyingColumns.contains(columns.text(0), Qt::CaseInsensitive);
        if (!varies) {
            names.removeAt(i);
            definitions_.erase(definitions_.begin() + i);
        }
    }
    pausedCounts_ = pauseGridCounts(db_);
    for (const QString& name : names)
        native(db_, QStringLiteral("DROP INDEX main.\"%1\"").arg(QString(name).replace(u'"', QStringLiteral("\"\"")))).run();
}

void BulkIndexes::rebuild(const std::function<bool()>& keepGoing)
{
    struct Asking {
        const std::function<bool()>& keepGoing;
        bool stopped = false;
    } asking{keepGoing};
    // Every so many engine steps, so that the window repaints and its Cancel is read.
    sqlite3_progress_handler(
        db_.handle(), 10000,
        [](void* p) {
            auto* a = static_cast<Asking*>(p);
            a->stopped = a->stopped || !a->keepGoing();
            return a->stopped ? 1 : 0;
        },
        &asking);
    try {
        for (const QString& sql : definitions_)
            native(db_, sql).run();
        resumeGridCounts(db_, pausedCounts_);
    } catch (const DbError&) {
        sqlite3_progress_handler(db_.handle(), 0, nullptr, nullptr);
        if (asking.stopped)
            throw ImportStopped{};
        throw;
    }
    sqlite3_progress_handler(db_.handle(), 0, nullptr, nullptr);
}

} // namespace kestrel
