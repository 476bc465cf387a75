#include "exchange/modTempDB.h"

#include "data/ContactFields.h"
#include "data/Database.h"
#include "data/Globals.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>

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

QString tempDBPath() { return programDir() + QStringLiteral("/data/tempDB.mdb"); }

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
} // namespace

bool acquireScratch(const void* holder)
{
    const QString path = tempDBPath() + QStringLiteral(".lock");
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
    if (!mine->tryLock(0))
        // A folder the lock cannot be written in cannot take the scratch file either; creating
        // that reports it in its own words.
        return mine->error() != QLockFile::LockFailedError;
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
}

} // namespace kestrel
