#include "data/Backup.h"

#include "data/Database.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <QUrl>

#include <sqlite3.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrel {

namespace {

constexpr int kBusyWaitMs = 5000;
const QString kPartialPrefix = QStringLiteral(".partial-");
// A private folder older than this was left by a copy that was cut short (power cut, crash).
constexpr qint64 kStalePartialSecs = 24 * 3600;

QString fileNameOf(const QString& path) { return QFileInfo(path).fileName(); }

DbError systemFault(const QString& what, const QString& path, int err)
{
    return DbError(SQLITE_CANTOPEN, QStringLiteral("%1 '%2' (%3)").arg(what, path, QString::fromLocal8Bit(std::strerror(err))),
                   classifyEngineError(SQLITE_CANTOPEN, err));
}

DbError engineFault(sqlite3* db, const QString& what)
{
    const int code = db ? sqlite3_errcode(db) : SQLITE_NOMEM;
    const QString text = db ? QString::fromUtf8(sqlite3_errmsg(db)) : QStringLiteral("out of memory");
    return DbError(code, QStringLiteral("%1 (%2)").arg(what, text),
                   classifyEngineError(db ? sqlite3_extended_errcode(db) : code, db ? sqlite3_system_errno(db) : 0));
}

class Handle {
public:
    Handle() = default;
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() { close(); }
    sqlite3** out() { return &db_; }
    sqlite3* get() const { return db_; }
    void close()
    {
        if (db_)
            sqlite3_close_v2(db_);
        db_ = nullptr;
    }

private:
    sqlite3* db_ = nullptr;
};

void exec(sqlite3* db, const char* sql, const QString& what)
{
    if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
        throw engineFault(db, what);
}

QByteArray immutableUri(const QString& path)
{
    return "file:" + QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()).toEncoded(QUrl::RemoveScheme) + "?immutable=1";
}

// A copy is only ever read: opened immutable, it takes no lock and makes no file beside itself,
// so a copy on a stick or a read-only share reads as well as one at home.
void openCopy(const QString& path, Handle& h)
{
    if (!QFileInfo::exists(path))
        throw DbError(SQLITE_CANTOPEN, QStringLiteral("The file '%1' is missing").arg(path), Fault::Missing);
    if (sqlite3_open_v2(immutableUri(path).constData(), h.out(), SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX,
                        nullptr) != SQLITE_OK)
        throw engineFault(h.get(), QStringLiteral("Could not open '%1'").arg(path));
}

// A data file opened for reading beside the program's own connections. A file in a folder where
// the engine cannot make its shared-memory file is read as it stands: every commit was copied
// into the file itself.
void openDataFile(const QString& path, Handle& h)
{
    if (!QFileInfo::exists(path))
        throw DbError(SQLITE_CANTOPEN, QStringLiteral("The data file '%1' is missing").arg(path), Fault::Missing);
    const QByteArray native = QFile::encodeName(path);
    if (sqlite3_open_v2(native.constData(), h.out(), SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr) == SQLITE_OK) {
        sqlite3_busy_timeout(h.get(), kBusyWaitMs);
        if (sqlite3_exec(h.get(), "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr) == SQLITE_OK)
            return;
        const DbError e = engineFault(h.get(), QStringLiteral("Could not read '%1'").arg(path));
        if (e.fault() != Fault::ReadOnly && e.fault() != Fault::DiskFull && e.fault() != Fault::DiskError &&
            (e.number() & 0xff) != SQLITE_CANTOPEN)
            throw e;
    }
    h.close();
    openCopy(path, h);
    if (sqlite3_exec(h.get(), "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr) != SQLITE_OK)
        throw engineFault(h.get(), QStringLiteral("Could not read '%1'").arg(path));
}

// The engine's own check of every page and index of a copy: empty when it passed, else the first
// thing it found.
QString integrityProblem(const QString& path)
{
    Handle h;
    openCopy(path, h);
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(h.get(), "PRAGMA integrity_check", -1, &st, nullptr) != SQLITE_OK)
        return engineFault(h.get(), QStringLiteral("Could not check '%1'").arg(path)).description();
    QString first;
    int rc = SQLITE_ROW;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW && first.isEmpty())
        first = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
    const QString stepError = rc == SQLITE_ROW || rc == SQLITE_DONE ? QString() : QString::fromUtf8(sqlite3_errmsg(h.get()));
    sqlite3_finalize(st);
    if (!stepError.isEmpty())
        return stepError;
    return first == u"ok" ? QString() : (first.isEmpty() ? QStringLiteral("no answer") : first);
}

// The engine's check of a data file itself, after its copy failed its own: empty when it passed.
QString sourceProblem(const QString& path)
{
    try {
        Handle h;
        openDataFile(path, h);
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(h.get(), "PRAGMA integrity_check", -1, &st, nullptr) != SQLITE_OK)
            return {};
        const QString first = sqlite3_step(st) == SQLITE_ROW
                                  ? QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)))
                                  : QString::fromUtf8(sqlite3_errmsg(h.get()));
        sqlite3_finalize(st);
        return first == u"ok" ? QString() : first;
    } catch (const DbError& e) {
        return e.description();
    }
}

void syncPath(const QString& path, bool folder)
{
    const int fd = ::open(QFile::encodeName(path).constData(), (folder ? O_RDONLY | O_DIRECTORY : O_RDONLY) | O_CLOEXEC);
    if (fd < 0)
        throw systemFault(QStringLiteral("Could not write"), path, errno);
    const int rc = ::fsync(fd);
    const int err = errno;
    ::close(fd);
    // Some file systems cannot sync a folder; the files in it are synced all the same.
    if (rc != 0 && !(folder && (err == EINVAL || err == ENOTSUP || err == EOPNOTSUPP)))
        throw systemFault(QStringLiteral("Could not write"), path, err);
}

// Copies the data file source into a new file target, which nobody else can be using: no journal
// is needed while it is written (a failed copy is thrown away whole), and the copy is left as a
// plain file with a rollback journal, needing no side file when it is read.
void copyFile(const QString& source, const QString& target, bool* sourceFault)
{
    *sourceFault = true;
    Handle from;
    openDataFile(source, from);
    *sourceFault = false;
    const QByteArray native = QFile::encodeName(target);
    const int fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        throw systemFault(QStringLiteral("Could not create"), target, errno);
    ::close(fd);
    Handle to;
    if (sqlite3_open_v2(native.constData(), to.out(), SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK)
        throw engineFault(to.get(), QStringLiteral("Could not create '%1'").arg(target));
    // Exclusive locking keeps the engine from making a shared-memory file when the copied header
    // says write-ahead log, as it does for the program's files.
    exec(to.get(), "PRAGMA locking_mode=EXCLUSIVE; PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF;",
         QStringLiteral("Could not write '%1'").arg(target));
    sqlite3_backup* backup = sqlite3_backup_init(to.get(), "main", from.get(), "main");
    if (!backup)
        throw engineFault(to.get(), QStringLiteral("Could not copy '%1'").arg(source));
    int rc = SQLITE_OK;
    // All pages in one step: one read transaction, so the copy is one moment of the file. With a
    // write-ahead log the program's writers go on meanwhile.
    do {
        rc = sqlite3_backup_step(backup, -1);
        if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED)
            sqlite3_sleep(20);
    } while (rc == SQLITE_BUSY || rc == SQLITE_LOCKED);
    sqlite3_backup_finish(backup);
    if (rc != SQLITE_DONE) {
        const DbError e = engineFault(to.get(), QStringLiteral("Could not copy '%1' to '%2'").arg(source, target));
        *sourceFault = e.fault() == Fault::Damaged;
        throw e;
    }
    exec(to.get(), "PRAGMA journal_mode=DELETE;", QStringLiteral("Could not write '%1'").arg(target));
    if (sqlite3_close(to.get()) != SQLITE_OK)
        throw engineFault(to.get(), QStringLiteral("Could not write '%1'").arg(target));
    *to.out() = nullptr;
}

// Removes what Kestrel wrote into a copy's folder, then the folder when nothing else is in it:
// a folder someone else put files into (a synced folder's own) is left with those.
bool removeCopyFolder(const QString& folder, const QStringList& names)
{
    QDir dir(folder);
    for (const QString& name : names)
        for (const QString& file : {name, name + QStringLiteral("-journal")})
            dir.remove(file);
    return QDir().rmdir(folder);
}

QStringList copyFileNames(const QStringList& files)
{
    QStringList names;
    for (const QString& f : files)
        names << fileNameOf(f);
    if (names.isEmpty())
        names = {QStringLiteral("contacts.mdb"), QStringLiteral("kestrel.mdb")};
    return names;
}

// Makes the folder the copies go to. A folder named by KESTREL_BACKUP_DIR is made only on a
// folder that is there: a stick that is not plugged in must not turn into a folder on this disk.
void ensureRoot(const QString& root, QString* concerned)
{
    *concerned = root;
    if (QFileInfo(root).isDir())
        return;
    const QString parent = QFileInfo(root).absolutePath();
    if (!QFileInfo(parent).isDir()) {
        *concerned = parent;
        if (backupRootFromEnvironment())
            throw DbError(SQLITE_CANTOPEN, QStringLiteral("The folder '%1' is not there").arg(parent), Fault::Missing);
        if (!QDir().mkpath(parent))
            throw systemFault(QStringLiteral("Could not create the folder"), parent, errno);
        *concerned = root;
    }
    if (::mkdir(QFile::encodeName(root).constData(), 0700) != 0 && errno != EEXIST)
        throw systemFault(QStringLiteral("Could not create the folder"), root, errno);
}

QDate mondayOf(const QDate& d) { return d.addDays(1 - d.dayOfWeek()); }

} // namespace

QString backupRoot(const QString& dataFolder)
{
    const QString chosen = qEnvironmentVariable(kBackupDirVariable).trimmed();
    if (!chosen.isEmpty())
        return QDir::cleanPath(QDir(chosen).absolutePath());
    return QDir::cleanPath(dataFolder + QStringLiteral("/backups"));
}

bool backupRootFromEnvironment() { return !qEnvironmentVariable(kBackupDirVariable).trimmed().isEmpty(); }

bool newerCopy(const BackupCopy& a, const BackupCopy& b)
{
    if (a.day != b.day)
        return a.day > b.day;
    // The day's first copy has no time and is the oldest of its day.
    if (a.time.isValid() != b.time.isValid())
        return a.time.isValid();
    return a.time > b.time;
}

QString backupFolderName(const QDate& day, const QTime& time)
{
    const QString name = day.toString(QStringLiteral("yyyy-MM-dd"));
    return time.isValid() ? name + u'-' + time.toString(QStringLiteral("HHmmss")) : name;
}

bool parseBackupFolderName(const QString& name, QDate* day, QTime* time)
{
    if (name.size() != 10 && name.size() != 17)
        return false;
    for (int i = 0; i < name.size(); ++i) {
        const bool dash = i == 4 || i == 7 || i == 10;
        if (dash ? name[i] != u'-' : name[i] < u'0' || name[i] > u'9')
            return false;
    }
    const QDate d = QDate::fromString(name.left(10), QStringLiteral("yyyy-MM-dd"));
    const QTime t = name.size() == 17 ? QTime::fromString(name.mid(11), QStringLiteral("HHmmss")) : QTime();
    if (!d.isValid() || (name.size() == 17 && !t.isValid()))
        return false;
    *day = d;
    *time = t;
    return true;
}

std::vector<BackupCopy> listBackups(const QString& root)
{
    std::vector<BackupCopy> copies;
    const QDir dir(root);
    for (const QString& name : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        BackupCopy c;
        if (parseBackupFolderName(name, &c.day, &c.time)) {
            c.folder = dir.absoluteFilePath(name);
            copies.push_back(c);
        }
    }
    std::sort(copies.begin(), copies.end(), newerCopy);
    return copies;
}

std::vector<BackupCopy> expiredBackups(const std::vector<BackupCopy>& copies, const QDate& today)
{
    std::vector<BackupCopy> past;
    for (const BackupCopy& c : copies)
        if (c.day <= today)
            past.push_back(c);
    std::sort(past.begin(), past.end(), newerCopy);
    QSet<QDate> dailyDays, dailyWeeks, weeks;
    std::vector<BackupCopy> expired;
    for (const BackupCopy& c : past) {
        if (dailyDays.contains(c.day))
            continue;
        if (dailyDays.size() < kDailyCopies) {
            dailyDays.insert(c.day);
            dailyWeeks.insert(mondayOf(c.day));
            continue;
        }
        // Newest first: the first copy met of a week is its newest. A week that still has a
        // daily copy needs no weekly one: its newest copy becomes it when that day ages.
        const QDate week = mondayOf(c.day);
        if (!dailyWeeks.contains(week) && !weeks.contains(week) && weeks.size() < kWeeklyCopies) {
            weeks.insert(week);
            continue;
        }
        expired.push_back(c);
    }
    return expired;
}

BackupCounts countBackup(const BackupCopy& copy)
{
    BackupCounts counts;
    try {
        Handle h;
        openCopy(copy.folder + QStringLiteral("/contacts.mdb"), h);
        for (auto [sql, out] : {std::pair{"SELECT count(*) FROM contacts", &counts.contacts},
                                std::pair{"SELECT count(*) FROM appointments", &counts.appointments}}) {
            sqlite3_stmt* st = nullptr;
            if (sqlite3_prepare_v2(h.get(), sql, -1, &st, nullptr) != SQLITE_OK)
                throw engineFault(h.get(), QStringLiteral("Could not read '%1'").arg(copy.folder));
            const int rc = sqlite3_step(st);
            if (rc == SQLITE_ROW)
                *out = sqlite3_column_int64(st, 0);
            sqlite3_finalize(st);
            if (rc != SQLITE_ROW)
                throw engineFault(h.get(), QStringLiteral("Could not read '%1'").arg(copy.folder));
        }
        counts.counted = true;
    } catch (const DbError& e) {
        counts.why = e.description();
    }
    return counts;
}

BackupOutcome makeBackup(const BackupRequest& request)
{
    BackupOutcome out;
    const QDate day = request.now.date();
    const QStringList names = copyFileNames(request.files);
    std::vector<BackupCopy> existing = listBackups(request.root);
    const bool dayHasCopy = std::any_of(existing.begin(), existing.end(), [&](const BackupCopy& c) { return c.day == day; });
    if (request.dailyOnly && dayHasCopy) {
        out.status = BackupStatus::AlreadyToday;
        return out;
    }

    QString partial;
    const auto fail = [&](const DbError& e, const QString& path, bool source) {
        if (!partial.isEmpty())
            removeCopyFolder(partial, names);
        out.status = BackupStatus::Failed;
        out.fault = e.fault();
        out.path = path;
        out.detail = e.description();
        out.sourceFault = source;
        return out;
    };
    QString concerned;
    try {
        ensureRoot(request.root, &concerned);
    } catch (const DbError& e) {
        return fail(e, concerned, false);
    }
    QByteArray pattern = QFile::encodeName(request.root + u'/' + kPartialPrefix + QStringLiteral("XXXXXX"));
    if (!::mkdtemp(pattern.data()))
        return fail(systemFault(QStringLiteral("Could not create a folder in"), request.root, errno), request.root, false);
    partial = QFile::decodeName(pattern); // mkdtemp makes it for the user alone (0700)

    for (const QString& file : request.files) {
        const QString target = partial + u'/' + fileNameOf(file);
        bool sourceFault = false;
        try {
            copyFile(file, target, &sourceFault);
            syncPath(target, false);
        } catch (const DbError& e) {
            return fail(e, sourceFault ? file : request.root, sourceFault);
        }
        QString problem;
        try {
            problem = integrityProblem(target);
        } catch (const DbError& e) {
            problem = e.description();
        }
        if (!problem.isEmpty()) {
            // The copy holds the file's pages as they were: the file itself may be what is damaged.
            const QString own = sourceProblem(file);
            fail(DbError(SQLITE_CORRUPT, own.isEmpty() ? problem : own, Fault::Damaged), file, !own.isEmpty());
            out.status = BackupStatus::CheckFailed;
            return out;
        }
    }
    try {
        syncPath(partial, true);
    } catch (const DbError& e) {
        return fail(e, request.root, false);
    }

    // The day's first copy is named by the day alone; a later one carries its time as well.
    QTime time = dayHasCopy ? request.now.time() : QTime();
    if (time.isValid())
        time = QTime(time.hour(), time.minute(), time.second());
    for (int tries = 0;; ++tries) {
        const QString folder = request.root + u'/' + backupFolderName(day, time);
        const QByteArray from = QFile::encodeName(partial), to = QFile::encodeName(folder);
        int rc = ::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE);
        if (rc != 0 && (errno == EINVAL || errno == ENOSYS || errno == ENOTSUP || errno == EOPNOTSUPP))
            rc = QFileInfo::exists(folder) ? (errno = EEXIST, -1) : ::rename(from.constData(), to.constData());
        if (rc == 0) {
            out.copy = {QFileInfo(folder).absoluteFilePath(), day, time};
            break;
        }
        const int err = errno;
        if (err != EEXIST && err != ENOTEMPTY)
            return fail(systemFault(QStringLiteral("Could not create the folder"), folder, err), request.root, false);
        // Another running copy of Kestrel made the day's copy meanwhile.
        if (request.dailyOnly && !time.isValid()) {
            removeCopyFolder(partial, names);
            out.status = BackupStatus::AlreadyToday;
            return out;
        }
        if (tries > 100)
            return fail(systemFault(QStringLiteral("Could not create the folder"), folder, err), request.root, false);
        time = time.isValid() ? time.addSecs(1) : QTime(request.now.time().hour(), request.now.time().minute(),
                                                       request.now.time().second());
    }
    partial.clear();
    try {
        syncPath(request.root, true);
    } catch (const DbError&) {
        // The copy is whole and in place; only its folder entry may not be on the disk yet.
    }
    out.status = BackupStatus::Made;

    for (const BackupCopy& old : expiredBackups(listBackups(request.root), day))
        if (old.folder != out.copy.folder && removeCopyFolder(old.folder, names))
            out.removed.push_back(old);
    const QDateTime now = QDateTime::currentDateTime();
    for (const QFileInfo& left : QDir(request.root).entryInfoList({kPartialPrefix + u'*'}, QDir::Dirs | QDir::Hidden))
        if (left.lastModified().secsTo(now) > kStalePartialSecs)
            removeCopyFolder(left.absoluteFilePath(), names);
    return out;
}

namespace {

void copyBytes(const QString& from, const QString& to)
{
    QFile in(from);
    if (!in.open(QIODevice::ReadOnly))
        throw systemFault(QStringLiteral("Could not read"), from, errno);
    const int fd = ::open(QFile::encodeName(to).constData(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0)
        throw systemFault(QStringLiteral("Could not write"), to, errno);
    QFile out;
    if (!out.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle))
        throw systemFault(QStringLiteral("Could not write"), to, EIO);
    while (!in.atEnd()) {
        const QByteArray block = in.read(1 << 20);
        errno = 0;
        if (block.isEmpty() && in.error() != QFileDevice::NoError)
            throw systemFault(QStringLiteral("Could not read"), from, errno ? errno : EIO);
        if (out.write(block) != block.size() || !out.flush())
            throw systemFault(QStringLiteral("Could not write"), to, errno ? errno : EIO);
    }
    if (::fsync(out.handle()) != 0)
        throw systemFault(QStringLiteral("Could not write"), to, errno);
}

// A data file the engine cannot read as a database is moved aside (kept, never deleted) and the
// copy is put in its place as a new file, with the write-ahead log the program's files use.
void replaceDamaged(const QString& copyFile, const QString& dataFile)
{
    const QString aside = dataFile + QStringLiteral(".damaged-") +
                          QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QByteArray built = QFile::encodeName(dataFile + QStringLiteral(".restore-XXXXXX"));
    const int fd = ::mkstemp(built.data());
    if (fd < 0)
        throw systemFault(QStringLiteral("Could not create a file beside"), dataFile, errno);
    ::fchmod(fd, 0600);
    ::close(fd);
    const QString builtPath = QFile::decodeName(built);
    try {
        copyBytes(copyFile, builtPath);
        Handle h;
        if (sqlite3_open_v2(built.constData(), h.out(), SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK)
            throw engineFault(h.get(), QStringLiteral("Could not open '%1'").arg(builtPath));
        exec(h.get(), "PRAGMA journal_mode=WAL;", QStringLiteral("Could not write '%1'").arg(builtPath));
        h.close();
        for (const char* side : {"", "-wal", "-shm", "-journal"}) {
            const QByteArray from = QFile::encodeName(dataFile + QLatin1String(side));
            if (::access(from.constData(), F_OK) == 0 &&
                ::rename(from.constData(), QFile::encodeName(aside + QLatin1String(side)).constData()) != 0)
                throw systemFault(QStringLiteral("Could not rename"), dataFile + QLatin1String(side), errno);
        }
        if (!placeNewFile(builtPath, dataFile))
            throw DbError(SQLITE_CANTOPEN, QStringLiteral("Another program made '%1' meanwhile").arg(dataFile), Fault::Locked);
    } catch (...) {
        QFile::remove(builtPath);
        throw;
    }
}

void restoreFile(const QString& copyFile, const QString& dataFile)
{
    Handle from;
    openCopy(copyFile, from);
    Handle to;
    if (sqlite3_open_v2(QFile::encodeName(dataFile).constData(), to.out(), SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX,
                        nullptr) != SQLITE_OK)
        throw engineFault(to.get(), QStringLiteral("Could not open '%1'").arg(dataFile));
    sqlite3_busy_timeout(to.get(), kBusyWaitMs);
    if (sqlite3_exec(to.get(), "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr) != SQLITE_OK) {
        const DbError e = engineFault(to.get(), QStringLiteral("Could not read '%1'").arg(dataFile));
        if (e.fault() != Fault::Damaged)
            throw e;
        to.close();
        replaceDamaged(copyFile, dataFile);
        return;
    }
    sqlite3_backup* backup = sqlite3_backup_init(to.get(), "main", from.get(), "main");
    if (!backup)
        throw engineFault(to.get(), QStringLiteral("Could not restore '%1'").arg(dataFile));
    // One step, under the data file's write lock: another running copy of Kestrel sees the old
    // data or the restored data, never a mixture, and reads the restored data at its next read.
    int rc = SQLITE_OK;
    for (int waited = 0;; waited += 20) {
        rc = sqlite3_backup_step(backup, -1);
        if ((rc != SQLITE_BUSY && rc != SQLITE_LOCKED) || waited >= kBusyWaitMs)
            break;
        sqlite3_sleep(20);
    }
    sqlite3_backup_finish(backup);
    if (rc != SQLITE_DONE)
        throw engineFault(to.get(), QStringLiteral("Could not restore '%1'").arg(dataFile));
    // The file itself holds every change, as after any commit of the program's.
    sqlite3_wal_checkpoint_v2(to.get(), nullptr, SQLITE_CHECKPOINT_FULL, nullptr, nullptr);
}

} // namespace

void restoreBackup(const BackupCopy& copy, const QStringList& files, const BackupCopy* putBack, bool* mixed)
{
    for (const QString& file : files) {
        const QString path = copy.folder + u'/' + fileNameOf(file);
        const QString problem = integrityProblem(path);
        if (!problem.isEmpty())
            throw DbError(SQLITE_CORRUPT, QStringLiteral("The copy '%1' did not pass its check (%2)").arg(path, problem),
                          Fault::Damaged);
    }
    if (mixed)
        *mixed = false;
    // A waiting connection would keep its own view of the schema and pages it read before.
    releaseAllDatabaseFiles();
    for (qsizetype i = 0; i < files.size(); ++i) {
        try {
            restoreFile(copy.folder + u'/' + fileNameOf(files[i]), files[i]);
        } catch (const DbError&) {
            for (qsizetype j = 0; j < i; ++j) {
                try {
                    if (!putBack)
                        throw DbError(SQLITE_CANTOPEN, QString(), Fault::Missing);
                    restoreFile(putBack->folder + u'/' + fileNameOf(files[j]), files[j]);
                } catch (const DbError&) {
                    if (mixed)
                        *mixed = true;
                }
            }
            releaseAllDatabaseFiles();
            throw;
        }
    }
    releaseAllDatabaseFiles();
}

} // namespace kestrel
