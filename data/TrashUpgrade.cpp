#include "data/TrashUpgrade.h"

#include "data/Database.h"
#include "data/SchemaProbe.h"
#include "data/Trash.h"

#include <QString>

#include <sqlite3.h>

namespace kestrel {

namespace {
void runOrThrow(sqlite3* db, const QByteArray& sql, bool rollBack)
{
    char* err = nullptr;
    if (sqlite3_exec(db, sql.constData(), nullptr, nullptr, &err) == SQLITE_OK)
        return;
    const QString msg = QString::fromUtf8(err ? err : sqlite3_errmsg(db));
    sqlite3_free(err);
    const int code = sqlite3_errcode(db);
    const Fault fault = classifyEngineError(sqlite3_extended_errcode(db), sqlite3_system_errno(db));
    if (rollBack)
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    throw DbError(code, msg, fault);
}

} // namespace

void moveSyncRemovedToTrash(sqlite3* db, bool readOnly)
{
    if (readOnly || !hasRow(db, "SELECT 1 FROM main.sqlite_master WHERE type='table' AND name='sync_removed'"))
        return;
    // The record holds the row's columns by name, as text; the label is the name the trash shows.
    // The rows count their days in the trash from the next start.
    static const char* const kMove = R"sql(
BEGIN IMMEDIATE;
INSERT INTO trash(batch,tbl,row_id,label,deleted_at,data)
  SELECT lower(hex(randomblob(16))), tbl,
    CAST(json_extract(record, CASE WHEN tbl='appointments' THEN '$.autoid' ELSE '$.id' END) AS INTEGER),
    CASE WHEN tbl='appointments' THEN coalesce(json_extract(record,'$.apptbrief'),'')
         WHEN coalesce(json_extract(record,'$.lastname'),'')<>'' AND coalesce(json_extract(record,'$.firstname'),'')<>''
           THEN json_extract(record,'$.lastname') || ', ' || json_extract(record,'$.firstname')
         ELSE coalesce(nullif(coalesce(json_extract(record,'$.lastname'),'') || coalesce(json_extract(record,'$.firstname'),''),''),
                       json_extract(record,'$.company'),'') END
      || ' (' || coalesce(nullif(why,''),'deleted on the phone') || ')',
    coalesce(CAST(strftime('%s', removed_at) AS INTEGER), CAST(strftime('%s','now') AS INTEGER)), record
  FROM sync_removed WHERE tbl IN ('contacts','appointments') AND json_valid(record) ORDER BY id;
DROP TABLE sync_removed;
COMMIT;
)sql";
    runOrThrow(db, kMove, true);
}

void upgradeToDoFile(sqlite3* db, bool readOnly)
{
    if (!hasRow(db, "SELECT 1 FROM main.sqlite_master WHERE type='table' AND name='todo'") ||
        hasRow(db, "SELECT 1 FROM main.sqlite_master WHERE type='table' AND name='trash'"))
        return;
    QString sql = QString::fromUtf8(kTrashSchema);
    if (readOnly)
        sql = sql.section(u';', 0, 0).replace(QStringLiteral("CREATE TABLE IF NOT EXISTS"), QStringLiteral("CREATE TEMP TABLE IF NOT EXISTS"));
    runOrThrow(db, sql.toUtf8(), false);
}

} // namespace kestrel
