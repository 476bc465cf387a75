#include "data/ContactUid.h"

#include "data/Database.h"
#include "data/Statement.h"

#include <QRandomGenerator>
#include <QUuid>

#include <array>
#include <cstring>

#include <sqlite3.h>

namespace kestrel {

QString newContactUid()
{
    // The system's random bytes asked for a few hundred uids at a time: asking for each (as
    // QUuid::createUuid does) cost an import of a million contacts seconds of system calls.
    thread_local std::array<quint32, 1024> pool;
    thread_local size_t next = pool.size();
    if (next + 4 > pool.size()) {
        QRandomGenerator::system()->fillRange(pool.data(), pool.size());
        next = 0;
    }
    std::array<char, 16> bytes;
    std::memcpy(bytes.data(), pool.data() + next, bytes.size());
    std::memset(pool.data() + next, 0, bytes.size());
    next += 4;
    bytes[6] = char((bytes[6] & 0x0f) | 0x40); // version 4: random
    bytes[8] = char((bytes[8] & 0x3f) | 0x80); // the variant of RFC 4122
    return QUuid::fromRfc4122(QByteArrayView(bytes.data(), qsizetype(bytes.size()))).toString(QUuid::WithoutBraces);
}

namespace {

bool hasUidColumn(sqlite3* db)
{
    sqlite3_stmt* st = nullptr;
    const bool ok = sqlite3_prepare_v2(db, "SELECT uid FROM contacts LIMIT 0", -1, &st, nullptr) == SQLITE_OK;
    sqlite3_finalize(st);
    return ok;
}

bool hasUidTrigger(sqlite3* db)
{
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, "SELECT 1 FROM sqlite_master WHERE type='trigger' AND name='contacts_uid'", -1, &st, nullptr);
    const bool found = st && sqlite3_step(st) == SQLITE_ROW;
    sqlite3_finalize(st);
    return found;
}

} // namespace

bool ensureContactUids(Connection& connection)
{
    if (connection.onServer())
        return true; // the server's schema step made them
    sqlite3* db = connection.handle();
    const bool column = hasUidColumn(db);
    if (column && hasUidTrigger(db))
        return true;
    if (connection.readOnly())
        return column;
    // A file from before uids: one transaction gives it the column, the trigger and a uid for
    // every row, so no copy of Kestrel ever sees contacts without uids in it.
    Transaction t(connection);
    {
        if (!hasUidColumn(db))
            Statement(connection, QStringLiteral("ALTER TABLE contacts ADD COLUMN uid TEXT"), Statement::Dialect::Native).run();
        Statement(connection, QStringLiteral("UPDATE contacts SET uid = " KESTREL_LOCAL_UID_SQL " WHERE uid IS NULL"),
                  Statement::Dialect::Native)
            .run();
    }
    char* err = nullptr;
    if (sqlite3_exec(db, KESTREL_LOCAL_UID_SCHEMA, nullptr, nullptr, &err) != SQLITE_OK) {
        const QString msg = QString::fromUtf8(err ? err : "unknown error");
        sqlite3_free(err);
        throw DbError(sqlite3_errcode(db), msg);
    }
    t.commit();
    connection.settle();
    return true;
}

} // namespace kestrel
