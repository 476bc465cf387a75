#include "data/Database.h"

#include "data/FileCheck.h"
#include "data/Office.h"
#include "data/PgEngine.h"
#include "data/SqlDialect.h"
#include "data/Statement.h"
#include "data/TextFold.h"
#include "platform/Platform.h"

#include <QCoreApplication>
#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QTime>
#include <QStringDecoder>
#include <QThread>
#include <QUrl>

#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrel {

DbError::DbError(int number, QString description)
    : DbError(number, std::move(description), classifyEngineError(number))
{
}

DbError::DbError(int number, QString description, Fault fault)
    : number_(number), description_(std::move(description)), fault_(fault), utf8_(description_.toStdString())
{
}

Fault classifyEngineError(int code, int systemErrno)
{
    // Negative numbers are the program's own (those of the CSV reader, say), never SQLite's.
    if (code < 0)
        return Fault::Program;
    switch (systemErrno) {
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return Fault::DiskFull;
    case EROFS:
        return Fault::ReadOnly;
    default:
        break;
    }
    switch (code & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return Fault::Locked;
    case SQLITE_FULL:
        return Fault::DiskFull;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
        return Fault::ReadOnly;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
        return Fault::Damaged;
    case SQLITE_IOERR:
        return Fault::DiskError;
    case SQLITE_CANTOPEN:
        if (systemErrno == EACCES || systemErrno == EPERM)
            return Fault::ReadOnly;
        return systemErrno == ENOENT ? Fault::Missing : Fault::DiskError;
    default:
        return Fault::Program;
    }
}

namespace {

constexpr int kBusyTimeoutMs = 3000;
constexpr int kBusyStepMs = 20;
bool gCreatingMissingFiles = true;
// Per thread, and shown only for the window's own thread: the cursor is the window's, and a
// worker's wait (a copy or a backup running beside it) must neither touch it from another
// thread nor take away the one the window's own wait put up.
thread_local bool gBusyShown = false;

bool onWindowThread()
{
    const QCoreApplication* app = QCoreApplication::instance();
    return !app || QThread::currentThread() == app->thread();
}

// When the window's thread last waited for a lock (ms of the steady clock; 0: never).
std::atomic<std::int64_t> gWindowWaitedAt{0};

std::int64_t steadyMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Waits for another running copy's lock in short steps, with the busy cursor showing.
int busyWait(void*, int count)
{
    if (count * kBusyStepMs >= kBusyTimeoutMs)
        return 0;
    if (onWindowThread())
        gWindowWaitedAt = std::max<std::int64_t>(steadyMs(), 1);
    if (!gBusyShown && onWindowThread()) {
        gBusyShown = true;
        platform().setBusyCursor(true);
    }
    sqlite3_sleep(kBusyStepMs);
    return 1;
}

QHash<QString, QString>& schemas()
{
    static QHash<QString, QString> map;
    return map;
}

// Connections a routine has closed wait here for the next routine that opens the same file.
// A waiting connection holds no lock and no transaction; it keeps SQLite's schema and WAL index
// ready, so that opening, one durable commit and closing cost little more than the commit itself.
// A file replaced on disk (another inode) is never reached through an old connection.
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const FileIdentity&) const = default;
};

bool identityOf(const QString& path, FileIdentity* out)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return false;
    *out = {st.st_dev, st.st_ino};
    return true;
}

struct Pool {
    FileIdentity identity;
    std::vector<sqlite3*> idle;
};

// Guarded by its lock: two threads opening the same file at once (two office copies started
// together) would otherwise hand one connection to both, or rehash the table under a reader.
struct Pools {
    std::mutex lock;
    QHash<QString, Pool> byPath;
    void drop(Pool& pool)
    {
        for (sqlite3* db : pool.idle)
            sqlite3_close_v2(db);
        pool.idle.clear();
    }
    ~Pools()
    {
        for (Pool& p : byPath)
            drop(p);
    }
};
Pools& pools()
{
    static Pools p;
    return p;
}

constexpr size_t kMaxIdlePerFile = 4;

bool isScratch(const QString& path)
{
    return QFileInfo(path).fileName().compare(QStringLiteral("tempdb.mdb"), Qt::CaseInsensitive) == 0;
}

DbError errorOf(sqlite3* db, const QString& context = {})
{
    const int code = db ? sqlite3_errcode(db) : SQLITE_CANTOPEN;
    QString text = db ? QString::fromUtf8(sqlite3_errmsg(db)) : QStringLiteral("out of memory");
    if (!context.isEmpty())
        text = context + QStringLiteral(" (") + text + u')';
    return DbError(code, text, classifyEngineError(db ? sqlite3_extended_errcode(db) : code, db ? sqlite3_system_errno(db) : 0));
}

DbError systemError(const QString& what, const QString& path, int err)
{
    return DbError(SQLITE_CANTOPEN, QStringLiteral("%1 '%2' (%3)").arg(what, path, QString::fromLocal8Bit(std::strerror(err))),
                   classifyEngineError(SQLITE_CANTOPEN, err));
}

void execNative(sqlite3* db, const char* sql)
{
    char* err = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &err) != SQLITE_OK) {
        const QString msg = QString::fromUtf8(err ? err : "unknown error");
        sqlite3_free(err);
        throw DbError(sqlite3_errcode(db), msg);
    }
}

int firstValue(void* out, int, char** values, char**)
{
    *static_cast<QByteArray*>(out) = values[0] ? QByteArray(values[0]) : QByteArray();
    return 0;
}

// LIKE compares the way names are filed: "E%" finds Émile, "A%" Ångström.
void foldedLikeFunction(sqlite3_context* context, int, sqlite3_value** args)
{
    if (sqlite3_value_type(args[0]) == SQLITE_NULL || sqlite3_value_type(args[1]) == SQLITE_NULL)
        return sqlite3_result_null(context);
    auto text = [](sqlite3_value* v) {
        const auto* bytes = reinterpret_cast<const char*>(sqlite3_value_text(v));
        return exactUtf8(bytes, sqlite3_value_bytes(v));
    };
    sqlite3_result_int(context, foldedLike(text(args[0]), text(args[1])) ? 1 : 0);
}

void configure(sqlite3* db, bool scratch, bool readOnly)
{
    sqlite3_busy_handler(db, busyWait, nullptr);
    sqlite3_create_function(db, "like", 2, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, foldedLikeFunction, nullptr, nullptr);
    if (scratch) {
        // The scratch file is rebuilt for every import: speed over durability.
        execNative(db, "PRAGMA synchronous=OFF; PRAGMA journal_mode=MEMORY;");
        return;
    }
    if (readOnly)
        return;
    // With a write-ahead log every change is copied into the .mdb file right after its commit
    // (Connection::settle), and that checkpoint syncs the log before it copies: NORMAL is as
    // durable as FULL here and saves one sync per statement. A file in a rollback-journal mode
    // (made by another tool) needs FULL to stay whole across a power cut.
    QByteArray mode;
    char* err = nullptr;
    if (sqlite3_exec(db, "PRAGMA journal_mode", firstValue, &mode, &err) != SQLITE_OK) {
        const QString msg = QString::fromUtf8(err ? err : "unknown error");
        sqlite3_free(err);
        throw DbError(sqlite3_errcode(db), msg,
                      classifyEngineError(sqlite3_extended_errcode(db), sqlite3_system_errno(db)));
    }
    execNative(db, mode.compare("wal", Qt::CaseInsensitive) == 0 ? "PRAGMA synchronous=NORMAL;" : "PRAGMA synchronous=FULL;");
}

sqlite3* openFile(const QString& path, bool* readOnly, bool onlyRead)
{
    const QByteArray native = QFile::encodeName(path);
    sqlite3* db = nullptr;
    int rc = onlyRead ? SQLITE_READONLY
                      : sqlite3_open_v2(native.constData(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc == SQLITE_OK) {
        *readOnly = false;
        return db;
    }
    sqlite3_close_v2(db);
    db = nullptr;
    // A file the user may only read can still be shown.
    rc = sqlite3_open_v2(native.constData(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc == SQLITE_OK) {
        *readOnly = true;
        return db;
    }
    const DbError e = errorOf(db, QStringLiteral("Could not open the database file '%1'").arg(path));
    sqlite3_close_v2(db);
    throw e;
}

// The words for a damaged file name it and say it was left as it is (MachineFaultText).
void validate(sqlite3* db)
{
    if (sqlite3_exec(db, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr) != SQLITE_OK)
        throw errorOf(db);
}

QString folderOf(const QString& path) { return QFileInfo(path).absolutePath(); }

void ensureFolder(const QString& folder)
{
    if (QFileInfo(folder).isDir())
        return;
    if (!QDir().mkpath(folder))
        throw systemError(QStringLiteral("Could not create the folder"), folder, errno);
    ::chmod(QFile::encodeName(folder).constData(), 0700);
}

} // namespace

void registerSchema(const QString& fileName, const QString& schemaSql) { schemas().insert(fileName.toLower(), schemaSql); }

namespace {
QHash<QString, FileUpgrade>& upgrades()
{
    static QHash<QString, FileUpgrade> map;
    return map;
}
} // namespace

void registerUpgrade(const QString& fileName, FileUpgrade upgrade) { upgrades().insert(fileName.toLower(), upgrade); }

QString dataSourcePath(const QString& connectionText)
{
    static const QString key = QStringLiteral("Data Source=");
    const qsizetype at = connectionText.indexOf(key, 0, Qt::CaseInsensitive);
    QString source = at < 0 ? connectionText : connectionText.mid(at + key.size());
    // The source runs to the next option; a folder name may itself hold a semicolon.
    qsizetype end = source.indexOf(QStringLiteral(";Jet OLEDB:"), 0, Qt::CaseInsensitive);
    if (end < 0)
        end = source.indexOf(QStringLiteral(";Extended Properties"), 0, Qt::CaseInsensitive);
    if (end < 0)
        end = source.indexOf(u';');
    if (end >= 0)
        source.truncate(end);
    source.replace(u'\\', u'/');
    source.replace(QStringLiteral("//"), QStringLiteral("/"));

    const QFileInfo info(source);
    if (info.exists())
        return info.filePath();
    const QDir dir = info.dir();
    if (dir.exists()) {
        const QStringList entries = dir.entryList(QDir::Files | QDir::Hidden | QDir::System);
        for (const QString& entry : entries)
            if (entry.compare(info.fileName(), Qt::CaseInsensitive) == 0)
                return dir.filePath(entry);
    }
    return info.filePath();
}

void setCreatingMissingFiles(bool allowed) { gCreatingMissingFiles = allowed; }

namespace {
// The errors by which a file system says it has no hard links (vfat: EPERM).
bool noHardLinks(int err)
{
    return err == EPERM || err == EOPNOTSUPP || err == ENOTSUP || err == ENOSYS || err == EXDEV || err == EMLINK;
}

void copyExclusive(const QByteArray& from, const QByteArray& to, const QString& path)
{
    const int in = ::open(from.constData(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        throw systemError(QStringLiteral("Could not create the database file"), path, errno);
    const int out = ::open(to.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (out < 0) {
        const int err = errno;
        ::close(in);
        throw systemError(QStringLiteral("Could not create the database file"), path, err);
    }
    char buf[65536];
    ssize_t n = 0;
    int err = 0;
    while ((n = ::read(in, buf, sizeof buf)) > 0) {
        for (ssize_t done = 0; done < n;) {
            const ssize_t w = ::write(out, buf + done, size_t(n - done));
            if (w < 0) {
                err = errno;
                break;
            }
            done += w;
        }
        if (err)
            break;
    }
    if (n < 0 && !err)
        err = errno;
    if (!err && ::fsync(out) != 0)
        err = errno;
    ::close(in);
    ::close(out);
    if (err) {
        ::unlink(to.constData()); // ours: made with O_EXCL above
        throw systemError(QStringLiteral("Could not create the database file"), path, err);
    }
    ::unlink(from.constData());
}
} // namespace

bool placeNewFile(const QString& builtPath, const QString& path, bool skipLinking)
{
    const QByteArray from = QFile::encodeName(builtPath);
    const QByteArray to = QFile::encodeName(path);
    if (!skipLinking) {
        if (::link(from.constData(), to.constData()) == 0) {
            ::unlink(from.constData());
            return true;
        }
        if (errno == EEXIST)
            return false;
        if (!noHardLinks(errno))
            throw systemError(QStringLiteral("Could not create the database file"), path, errno);
    }
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno == EEXIST)
        return false;
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP && errno != ENOTSUP)
        throw systemError(QStringLiteral("Could not create the database file"), path, errno);
    // Neither links nor a safe rename: copy into a file only this call can have created. Another
    // copy of Kestrel opening it meanwhile waits on its lock like on any other write.
    if (::access(to.constData(), F_OK) == 0)
        return false;
    copyExclusive(from, to, path);
    return true;
}

void createDatabaseFile(const QString& path, const QString& schemaSql, bool durable)
{
    ensureFolder(folderOf(path));
    // Build the file under a private name and put it into place without replacing anything: a
    // file that appears meanwhile (another copy of Kestrel) is kept, never replaced.
    QByteArray tmp = QFile::encodeName(path + QStringLiteral(".new-XXXXXX"));
    const int fd = ::mkstemp(tmp.data());
    if (fd < 0)
        throw systemError(QStringLiteral("Could not create the database file"), path, errno);
    ::fchmod(fd, 0600);
    ::close(fd);
    sqlite3* db = nullptr;
    const QByteArray schema = ("BEGIN;" + schemaSql + ";COMMIT;").toUtf8();
    auto build = [&](const char* journal) {
        if (sqlite3_open_v2(tmp.constData(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK)
            throw errorOf(db);
        execNative(db, journal);
        execNative(db, schema.constData());
        if (sqlite3_close(db) != SQLITE_OK)
            throw errorOf(db);
        db = nullptr;
    };
    try {
        try {
            build(durable ? "PRAGMA journal_mode=WAL;" : "PRAGMA journal_mode=DELETE;");
        } catch (const DbError& e) {
            // A write-ahead log needs shared memory beside the file, which FAT through FUSE and
            // network mounts refuse: such a file keeps a rollback journal (synced in full).
            if (!durable || e.fault() != Fault::DiskError)
                throw;
            sqlite3_close_v2(db);
            db = nullptr;
            ::unlink((tmp + "-wal").constData());
            ::unlink((tmp + "-shm").constData());
            if (::truncate(tmp.constData(), 0) != 0)
                throw systemError(QStringLiteral("Could not create the database file"), path, errno);
            build("PRAGMA journal_mode=DELETE;");
        }
        // The WAL switch leaves no side files once the only connection has closed.
        if (!placeNewFile(QFile::decodeName(tmp), path))
            ::unlink(tmp.constData());
    } catch (...) {
        if (db)
            sqlite3_close_v2(db);
        ::unlink(tmp.constData());
        ::unlink((tmp + "-wal").constData());
        ::unlink((tmp + "-shm").constData());
        throw;
    }
}

void releaseDatabaseFile(const QString& path)
{
    const std::lock_guard guard(pools().lock);
    const auto it = pools().byPath.find(QFileInfo(path).absoluteFilePath());
    if (it != pools().byPath.end()) {
        pools().drop(*it);
        pools().byPath.erase(it);
    }
}

void releaseAllDatabaseFiles()
{
    {
        const std::lock_guard guard(pools().lock);
        for (Pool& p : pools().byPath)
            pools().drop(p);
        pools().byPath.clear();
    }
    pg::releaseAll();
}

Connection::Connection(const QString& connectionText)
{
    try {
        open(connectionText);
    } catch (DbError& e) {
        if (e.source().isEmpty())
            e.setSource(isServerConnection(connectionText) ? connectionText : dataSourcePath(connectionText));
        throw;
    }
}

void Connection::open(const QString& connectionText)
{
    if (isServerConnection(connectionText)) {
        serverText_ = connectionText;
        path_ = pg::serverName(connectionText);
        pg_ = pg::acquire(connectionText);
        return;
    }
    path_ = dataSourcePath(connectionText);
    FileIdentity identity;
    if (!identityOf(path_, &identity)) {
        const auto schema = schemas().constFind(QFileInfo(path_).fileName().toLower());
        if (schema == schemas().constEnd() || !gCreatingMissingFiles)
            throw DbError(SQLITE_CANTOPEN, QStringLiteral("Could not find file '%1'.").arg(path_), Fault::Missing);
        // Side files left by a file that was moved or deleted belong to that file: opened beside
        // the new one, its log would be played into it.
        for (const char* side : {"-wal", "-shm", "-journal"})
            QFile::remove(path_ + QLatin1String(side));
        createDatabaseFile(path_, *schema, true);
        if (!identityOf(path_, &identity))
            throw DbError(SQLITE_CANTOPEN, QStringLiteral("Could not find file '%1'.").arg(path_), Fault::Missing);
    }
    const QString key = QFileInfo(path_).absoluteFilePath();
    bool known = false;
    {
        const std::lock_guard guard(pools().lock);
        if (auto it = pools().byPath.find(key); it != pools().byPath.end()) {
            if (it->identity == identity) {
                known = true;
                if (!it->idle.empty()) {
                    db_ = it->idle.back();
                    it->idle.pop_back();
                    poolKey_ = key;
                    settledChanges_ = sqlite3_total_changes64(db_);
                    return;
                }
            } else {
                pools().drop(*it);
                pools().byPath.erase(it);
            }
        }
    }

    bool readOnly = false;
    db_ = openFile(path_, &readOnly, opensForReadingOnly(key));
    try {
        if (!known) {
            try {
                validate(db_);
            } catch (const DbError& e) {
                if (e.fault() != Fault::ReadOnly && e.fault() != Fault::DiskFull && e.fault() != Fault::DiskError)
                    throw;
                // A WAL file whose shared-memory file cannot be made (a folder the user may not
                // write, a full disk): every commit was copied into the file itself, so it can
                // still be read as it stands.
                readOnlyCause_ = e.fault();
                sqlite3_close_v2(db_);
                db_ = nullptr;
                const QByteArray uri = "file:" + QUrl::fromLocalFile(key).toEncoded(QUrl::RemoveScheme) + "?immutable=1";
                if (sqlite3_open_v2(uri.constData(), &db_, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr) != SQLITE_OK)
                    throw errorOf(db_, QStringLiteral("Could not open the database file '%1'").arg(path_));
                readOnly = true;
                validate(db_);
            }
            // Before anything is written: a file of another program where Kestrel's belongs is
            // left as it is, not even its log copied in when this connection closes.
            if (const QString why = foreignFileReason(db_, QFileInfo(path_).fileName()); !why.isEmpty()) {
                sqlite3_db_config(db_, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
                throw DbError(SQLITE_NOTADB, why, Fault::Foreign);
            }
        }
        // The engine opens a file it may not write for reading without saying so.
        readOnly = readOnly || sqlite3_db_readonly(db_, "main") == 1;
        configure(db_, isScratch(path_), readOnly);
        // Once per process for a file that is written (its connections wait in the pool already
        // upgraded), every time for one that may only be read.
        if (!known)
            if (const FileUpgrade upgrade = upgrades().value(QFileInfo(path_).fileName().toLower()))
                upgrade(db_, readOnly);
    } catch (...) {
        sqlite3_close_v2(db_);
        db_ = nullptr;
        throw;
    }
    readOnly_ = readOnly;
    settledChanges_ = sqlite3_total_changes64(db_);
    if (!readOnly && !isScratch(path_)) {
        // Another thread may have opened the file meanwhile: its waiting connections stay.
        const std::lock_guard guard(pools().lock);
        if (!pools().byPath.contains(key))
            pools().byPath.insert(key, Pool{identity, {}});
        poolKey_ = key;
    }
}

Connection::~Connection()
{
    endBusyWait();
    if (pg_) {
        pg::release(pg_, serverText_);
        return;
    }
    if (!db_)
        return;
    settle();
    // Only a connection left exactly as it was opened may wait for the next routine.
    if (!poolKey_.isEmpty() && sqlite3_get_autocommit(db_) && !sqlite3_next_stmt(db_, nullptr)) {
        const std::lock_guard guard(pools().lock);
        const auto it = pools().byPath.find(poolKey_);
        if (it != pools().byPath.end() && it->idle.size() < kMaxIdlePerFile) {
            it->idle.push_back(db_);
            return;
        }
    }
    sqlite3_close_v2(db_);
}

int Connection::execute(const QString& statement)
{
    const int changed = Statement(*this, statement).run();
    settle();
    return changed;
}

void Connection::settle()
{
    if (!db_ || readOnly_ || !sqlite3_get_autocommit(db_))
        return;
    const std::int64_t changes = sqlite3_total_changes64(db_);
    if (changes == settledChanges_)
        return;
    settledChanges_ = changes;
    int logFrames = 0;
    int copied = 0;
    int rc = sqlite3_wal_checkpoint_v2(db_, nullptr, SQLITE_CHECKPOINT_PASSIVE, &logFrames, &copied);
    // A reader in another copy of Kestrel held back part of the log: wait for it (busy cursor).
    if (rc == SQLITE_OK && copied < logFrames)
        rc = sqlite3_wal_checkpoint_v2(db_, nullptr, SQLITE_CHECKPOINT_FULL, &logFrames, &copied);
    // A checkpoint that fails (a full disk as the file grows) leaves the change in the log, where
    // every reader finds it and the next commit copies it again; the statement itself succeeded
    // and must not be reported as failed, or trying it again would apply it twice. Only when
    // another copy kept reading the whole wait long is the log itself not yet synced.
    (void)rc;
}

bool windowWaitedForLock(int withinMs)
{
    const std::int64_t at = gWindowWaitedAt;
    return at != 0 && steadyMs() - at <= withinMs;
}

void endBusyWait()
{
    if (!gBusyShown)
        return;
    gBusyShown = false;
    platform().setBusyCursor(false);
}

} // namespace kestrel
