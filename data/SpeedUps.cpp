#include "data/SpeedUps.h"

#include "data/Database.h"
#include "data/SchemaProbe.h"

#include <sqlite3.h>

#include <QByteArray>

namespace kestrel {

namespace {

std::atomic<std::int64_t> gAtOnceRows{20000};
std::function<void(int, int, const std::atomic<bool>&)> gWatcher;

// How long the window must have gone without waiting for a lock before a speed-up that gave way
// to it starts again: a save is a few statements, each its own short wait.
constexpr int kQuietMs = 500;

DbError errorOf(sqlite3* db, char* err)
{
    DbError e(sqlite3_errcode(db), QString::fromUtf8(err ? err : sqlite3_errmsg(db)),
              classifyEngineError(sqlite3_extended_errcode(db), sqlite3_system_errno(db)));
    sqlite3_free(err);
    return e;
}

void run(sqlite3* db, const char* sql)
{
    char* err = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &err) != SQLITE_OK)
        throw errorOf(db, err);
}

// The make already rolled back by the engine (an interrupt may end the transaction itself).
void rollBack(sqlite3* db)
{
    if (!sqlite3_get_autocommit(db))
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
}

bool manyContacts(sqlite3* db)
{
    const std::int64_t most = gAtOnceRows;
    const QByteArray sql = "SELECT 1 WHERE (SELECT count(*) FROM (SELECT 1 FROM main.contacts LIMIT " +
                           QByteArray::number(qlonglong(most + 1)) + ")) > " + QByteArray::number(qlonglong(most));
    return hasRow(db, sql.constData());
}

enum class Outcome { Made, Stopped, GaveWay };

struct Watch {
    const std::atomic<bool>& stop;
    int index;
    int told = 0;
    bool gaveWay = false;
};

int onProgress(void* context)
{
    auto* w = static_cast<Watch*>(context);
    if (gWatcher)
        gWatcher(w->index, ++w->told, w->stop);
    if (w->stop)
        return 1;
    if (windowWaitedForLock(kQuietMs / 5)) {
        w->gaveWay = true;
        return 1;
    }
    return 0;
}

// Made only when it is still missing once the write lock is held: another copy of Kestrel may
// have made it meanwhile.
Outcome makeOne(sqlite3* db, const SpeedUp& up, Watch& watch)
{
    run(db, "BEGIN IMMEDIATE");
    if (!hasRow(db, up.missing)) {
        rollBack(db);
        return Outcome::Made;
    }
    sqlite3_progress_handler(db, 100, onProgress, &watch);
    char* err = nullptr;
    const int rc = sqlite3_exec(db, up.make, nullptr, nullptr, &err);
    sqlite3_progress_handler(db, 0, nullptr, nullptr);
    if (rc != SQLITE_OK) {
        const DbError e = errorOf(db, err);
        rollBack(db);
        if ((rc & 0xff) == SQLITE_INTERRUPT)
            return watch.gaveWay ? Outcome::GaveWay : Outcome::Stopped;
        throw e;
    }
    try {
        run(db, "COMMIT");
    } catch (...) {
        rollBack(db);
        throw;
    }
    // Into the .mdb file itself at once, as every change is: a copy of that file alone is whole.
    sqlite3_wal_checkpoint_v2(db, nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
    return Outcome::Made;
}

} // namespace

std::int64_t speedUpsAtOnceRows() { return gAtOnceRows; }
void setSpeedUpsAtOnceRows(std::int64_t rows) { gAtOnceRows = rows; }
void setSpeedUpWatcher(std::function<void(int, int, const std::atomic<bool>&)> watcher) { gWatcher = std::move(watcher); }

void makeSpeedUpsIfSmall(sqlite3* db, bool readOnly, const std::vector<SpeedUp>& ups)
{
    if (readOnly)
        return;
    bool lacking = false;
    for (const SpeedUp& up : ups)
        lacking = lacking || hasRow(db, up.missing);
    if (!lacking || manyContacts(db))
        return;
    for (const SpeedUp& up : ups) {
        run(db, "BEGIN IMMEDIATE");
        try {
            if (hasRow(db, up.missing))
                run(db, up.make);
            run(db, "COMMIT");
        } catch (...) {
            rollBack(db);
            throw;
        }
    }
    sqlite3_wal_checkpoint_v2(db, nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
}

bool speedUpComing(sqlite3* db, const SpeedUp& up)
{
    return sqlite3_db_readonly(db, "main") == 0 && hasRow(db, up.missing) && manyContacts(db);
}

bool makeSpeedUps(const QString& connectionText, const std::vector<SpeedUp>& ups,
                  const std::function<void(SpeedUpProgress)>& progress, const std::atomic<bool>& stop)
{
    Connection c(connectionText);
    if (c.onServer() || c.readOnly())
        return false;
    sqlite3* db = c.handle();
    std::vector<int> lacking;
    for (int i = 0; i < int(ups.size()); ++i)
        if (hasRow(db, ups[size_t(i)].missing))
            lacking.push_back(i);
    SpeedUpProgress p{0, int(lacking.size())};
    for (const int i : lacking) {
        if (progress)
            progress(p);
        for (;;) {
            if (stop)
                return false;
            Watch watch{stop, i};
            const Outcome outcome = makeOne(db, ups[size_t(i)], watch);
            if (outcome == Outcome::Made)
                break;
            if (outcome == Outcome::Stopped)
                return false;
            while (!stop && windowWaitedForLock(kQuietMs))
                sqlite3_sleep(kQuietMs / 10);
        }
        ++p.done;
    }
    if (progress && p.total > 0)
        progress(p);
    return true;
}

} // namespace kestrel
