#include "data/FileCheck.h"

#include "data/Database.h"

#include <QFile>
#include <QFileInfo>
#include <QMetaObject>
#include <QSet>

#include <sqlite3.h>

namespace kestrel {

namespace {

struct RequiredTable {
    const char* file;
    const char* table;
    QStringList columns;
};

// The columns every version of Kestrel has written, by file and table. A file is recognised by
// these alone: a later version's extra columns do not make it foreign.
const std::vector<RequiredTable>& requiredTables()
{
    static const std::vector<RequiredTable> tables = {
        {"contacts.mdb", "contacts",
         {"id", "lastname", "firstname", "company", "address", "city", "st", "zip", "homeph", "cellph", "workph", "ext",
          "email", "active", "contype"}},
        {"contacts.mdb", "appointments", {"autoid", "name", "address", "apptdate", "appttime", "apptbrief", "apptnotes"}},
        {"kestrel.mdb", "todo", {"id", "todo"}},
    };
    return tables;
}

// The table's columns, lower case; empty when there is no such table. False when the file
// cannot be read at all.
bool columnsOf(sqlite3* db, const char* table, QStringList* out)
{
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT name FROM pragma_table_info(?1)", -1, &st, nullptr) != SQLITE_OK)
        return false;
    sqlite3_bind_text(st, 1, table, -1, SQLITE_STATIC);
    int rc = SQLITE_OK;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW)
        *out << QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, 0))).toLower();
    sqlite3_finalize(st);
    return rc == SQLITE_DONE;
}

QSet<QString>& readOnlyFiles()
{
    static QSet<QString> set;
    return set;
}

} // namespace

void openForReadingOnly(const QString& path, bool onlyRead)
{
    const QString key = QFileInfo(path).absoluteFilePath();
    if (onlyRead)
        readOnlyFiles().insert(key);
    else
        readOnlyFiles().remove(key);
    releaseDatabaseFile(path);
}

bool opensForReadingOnly(const QString& absolutePath) { return readOnlyFiles().contains(absolutePath); }

QString foreignFileReason(sqlite3* db, const QString& fileName)
{
    for (const RequiredTable& t : requiredTables()) {
        if (fileName.compare(QLatin1String(t.file), Qt::CaseInsensitive) != 0)
            continue;
        QStringList have;
        if (!columnsOf(db, t.table, &have))
            return {}; // unreadable: the engine's own error says why, where the file is read
        if (have.isEmpty())
            return QStringLiteral("it has no table %1").arg(QLatin1String(t.table));
        QStringList missing;
        for (const QString& c : t.columns)
            if (!have.contains(c))
                missing << c;
        if (!missing.isEmpty())
            return QStringLiteral("its table %1 has no column%2 %3")
                .arg(QLatin1String(t.table), missing.size() == 1 ? QString() : QStringLiteral("s"),
                     missing.join(QStringLiteral(", ")));
    }
    return {};
}

QStringList quickCheckFile(const QString& path, RunningCheck* running)
{
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX,
                        nullptr) != SQLITE_OK) {
        sqlite3_close_v2(db);
        return {};
    }
    // A writer of this program or another copy holds its lock only briefly.
    sqlite3_busy_timeout(db, 5000);
    if (running) {
        const std::lock_guard hold(running->lock);
        if (running->stopped) {
            sqlite3_close_v2(db);
            return {};
        }
        running->db = db;
    }
    QStringList problems;
    sqlite3_stmt* st = nullptr;
    int rc = sqlite3_prepare_v2(db, "PRAGMA quick_check(20)", -1, &st, nullptr);
    while (rc == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW) {
        const QString line = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
        if (line != QLatin1String("ok"))
            problems << line;
    }
    const int code = sqlite3_errcode(db);
    // Damage can also stop the check itself; being stopped, busy or out of memory says nothing.
    if ((code & 0xff) == SQLITE_CORRUPT || (code & 0xff) == SQLITE_NOTADB)
        problems << QString::fromUtf8(sqlite3_errmsg(db));
    sqlite3_finalize(st);
    if (running) {
        const std::lock_guard hold(running->lock);
        running->db = nullptr;
        if (running->stopped)
            problems.clear(); // cut short: says nothing about the file
    }
    sqlite3_close_v2(db);
    return problems;
}

BackgroundQuickCheck::BackgroundQuickCheck(const QStringList& paths, Done done)
{
    thread_ = std::thread([this, paths, done = std::move(done)] {
        for (const QString& path : paths) {
            const QStringList problems = quickCheckFile(path, &running_);
            QMetaObject::invokeMethod(&receiver_, [done, path, problems] { done(path, problems); }, Qt::QueuedConnection);
        }
        QMetaObject::invokeMethod(&receiver_, [this] { finished_ = true; }, Qt::QueuedConnection);
    });
}

BackgroundQuickCheck::~BackgroundQuickCheck()
{
    {
        const std::lock_guard hold(running_.lock);
        running_.stopped = true;
        if (running_.db)
            sqlite3_interrupt(running_.db);
    }
    if (thread_.joinable())
        thread_.join();
}

} // namespace kestrel
