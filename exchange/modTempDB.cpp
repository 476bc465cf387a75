#include "exchange/modTempDB.h"

#include "data/ContactFields.h"
#include "data/Database.h"
#include "data/Globals.h"
#include "data/Statement.h"
#include "data/modData.h"
#include "platform/Platform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSysInfo>
#include <QUuid>

#include <memory>

namespace kestrel {

namespace {

// Each limit is a named check, so a value that is too long is refused by the engine with a
// message that names the field.
QString textField(const char* name, int size)
{
    return QStringLiteral(",\n  %1 TEXT COLLATE NOCASE CONSTRAINT [%1 holds at most %2 characters] "
                          "CHECK(length(%1)<=%2)")
        .arg(QString::fromLatin1(name))
        .arg(size);
}

QString mainTableSql()
{
    QString sql = QStringLiteral("CREATE TABLE Main(\n  ID INTEGER PRIMARY KEY AUTOINCREMENT");
    for (const ContactField& f : contactFields())
        sql += textField(f.target, f.size);
    // Where each row came from and what the preview says about it; the rows a field could not
    // hold stand apart, as the file wrote them, to be saved back to a file of their own.
    // A card's own UID goes with it, so the contact it becomes keeps it.
    return sql + QStringLiteral(",\n  Line INTEGER, Note TEXT, Dup INTEGER NOT NULL DEFAULT 0, Uid TEXT)");
}

} // namespace

QString tempDBPath()
{
    // The folder the connection text names (the data folder, or in office mode the user's own),
    // and the one spelling of the name; a file of an earlier version's spelling is found by the
    // connection text all the same, and replaced by the next load.
    return QFileInfo(dataSourcePath(sConnTemp)).absolutePath() + QStringLiteral("/tempdb.mdb");
}

QString scratchLockPath() { return tempDBPath() + QStringLiteral(".lock"); }

void DeleteIfExists(const QString& path)
{
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return;
    QFile file(path);
    if (!file.remove())
        throw DbError(-2147467259, QStringLiteral("The file '%1' could not be deleted (%2)").arg(path, file.errorString()));
}

void CreateTempDB()
{
    const QString path = tempDBPath();
    // The connection text names the file in lower case; any spelling of it in the folder is the
    // same scratch database, and none may survive to be found in place of the new one.
    for (int guard = 0; guard < 16; ++guard) {
        const QString found = dataSourcePath(sConnTemp);
        if (!QFileInfo::exists(found))
            break;
        releaseDatabaseFile(found);
        DeleteIfExists(found);
        // A journal left behind by a crash would otherwise be played back into the new file.
        for (const char* side : {"-journal", "-wal", "-shm"})
            DeleteIfExists(found + QLatin1String(side));
    }
    releaseDatabaseFile(path);
    DeleteIfExists(path);
    for (const char* side : {"-journal", "-wal", "-shm"})
        DeleteIfExists(path + QLatin1String(side));
    // A scratch file whose building a crash or a kill cut short; the import that holds the scratch
    // file is the only one that builds it, so none of these is still being built.
    const QFileInfo built(path);
    for (const QString& left : built.dir().entryList({built.fileName() + QStringLiteral(".new-*")}, QDir::Files | QDir::Hidden))
        DeleteIfExists(built.dir().filePath(left));
    createDatabaseFile(path, QString(), /*durable=*/false);
    CreateMainTable();
}

namespace {
struct HeldLock {
    std::unique_ptr<QLockFile> file;
    const void* holder = nullptr;
};
HeldLock& heldLock()
{
    static HeldLock lock;
    return lock;
}

// QLockFile clears a lock whose owner has ended under a second lock, the .rmlock file. A copy
// killed between creating that file and writing its owner into it leaves it empty, and QLockFile
// then keeps every import out for half a minute as though one ran. An empty one that no running
// copy holds (QLockFile holds its files with a native lock) is cleared here.
bool clearEmptyRemovalLock(const QString& lockPath)
{
    const QString rmlock = lockPath + QStringLiteral(".rmlock");
    const QFileInfo info(rmlock);
    if (!info.exists() || info.size() != 0)
        return false;
    return QLockFile(rmlock).removeStaleLockFile();
}
} // namespace

namespace {
// A lock that no running copy on this computer holds, but that QLockFile cannot prove stale: an
// empty file (the power went as it was written) or one taken on another computer (a home folder
// shared over the network). Whether that import still runs only the user can say.
bool breakUnprovenLock(QLockFile& lock, const QString& path)
{
    qint64 pid = 0;
    QString host, app;
    const bool known = lock.getLockInfo(&pid, &host, &app);
    const QString local = QSysInfo::machineHostName();
    if (known && (host.isEmpty() || host == local))
        return false; // a running copy here holds it
    const QFileInfo info(path);
    if (!info.exists())
        return false;
    const QDateTime taken = info.lastModified();
    const QString when = DateText(taken.date()) + u' ' + TimeText(taken.time());
    const QString question =
        known ? QStringLiteral("The import is locked by Kestrel on the computer %1 since %2 (the lock file %3).\n\nIf "
                               "no import runs on %1 any more (it was switched off, say), Kestrel can take the lock "
                               "over. Take it over and import here?")
                    .arg(host, when, QDir::toNativeSeparators(path))
              : QStringLiteral("An import lock was left on %1 by a copy of Kestrel that ended without finishing (the "
                               "power went, say); its file %2 is empty.\n\nIf no other import runs from this folder, "
                               "Kestrel can take the lock over. Take it over and import?")
                    .arg(when, QDir::toNativeSeparators(path));
    if (!platform().askYesNo(question))
        return false;
    return lock.removeStaleLockFile() || QFile::remove(path);
}
} // namespace

bool acquireScratch(const void* holder)
{
    const QString path = scratchLockPath();
    auto& held = heldLock();
    if (held.file && held.file->fileName() == path && held.holder != holder)
        return false;
    if (held.file && held.file->fileName() == path)
        return true;
    held.file.reset();
    auto mine = std::make_unique<QLockFile>(path);
    // Only a lock whose owner has ended is stale, however long an import takes.
    mine->setStaleLockTime(0);
    QDir().mkpath(QFileInfo(path).absolutePath());
    if (!mine->tryLock(0) && !(clearEmptyRemovalLock(path) && mine->tryLock(0))) {
        // A folder the lock cannot be written in cannot take the scratch file either; creating
        // that reports it in its own words.
        if (mine->error() != QLockFile::LockFailedError)
            return true;
        if (!breakUnprovenLock(*mine, path) || !mine->tryLock(0))
            return false;
    }
    held.file = std::move(mine);
    held.holder = holder;
    return true;
}

void releaseScratch(const void* holder)
{
    if (heldLock().holder == holder)
        heldLock().file.reset();
}

void CreateMainTable()
{
    Connection db(sConnTemp);
    db.execute(mainTableSql());
    db.execute(QStringLiteral("CREATE TABLE KeptOut(Line INTEGER, Field TEXT, Reason TEXT, Record BLOB)"));
    // Which rows these are: an import that stopped half way names them, to be finished from here.
    db.execute(QStringLiteral("CREATE TABLE Loaded(Token TEXT, Source TEXT)"));
    Statement note(db, QStringLiteral("INSERT INTO Loaded(Token, Source) VALUES(?, '')"), Statement::Dialect::Native);
    note.bind(1, QUuid::createUuid().toString(QUuid::WithoutBraces));
    note.run();
}

void setScratchSource(const QString& source)
{
    Connection db(sConnTemp);
    Statement note(db, QStringLiteral("UPDATE Loaded SET Source=?"), Statement::Dialect::Native);
    note.bind(1, source);
    note.run();
}

ScratchState scratchState()
{
    ScratchState state;
    const QString path = dataSourcePath(sConnTemp);
    if (!QFileInfo::exists(path))
        return state;
    Connection db(sConnTemp);
    QStringList tables;
    {
        Statement q(db, QStringLiteral("SELECT lower(name) FROM sqlite_master WHERE type='table'"), Statement::Dialect::Native);
        while (q.step())
            tables << q.text(0);
    }
    state.ready = tables.contains(QStringLiteral("main")) && tables.contains(QStringLiteral("keptout"));
    if (state.ready && tables.contains(QStringLiteral("loaded"))) {
        Statement q(db, QStringLiteral("SELECT Token, Source FROM Loaded"), Statement::Dialect::Native);
        if (q.step()) {
            state.token = q.text(0);
            state.source = q.text(1);
        }
    }
    return state;
}

} // namespace kestrel
