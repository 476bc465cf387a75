#include "data/BulkWrite.h"

#include <sqlite3.h>

#include <vector>

namespace kestrel {

namespace {
DbError lastError(sqlite3* db) { return DbError(sqlite3_errcode(db), QString::fromUtf8(sqlite3_errmsg(db))); }
} // namespace

TransactionGuard::TransactionGuard(Connection& db) : db_(db)
{
    // IMMEDIATE takes the write lock now, so a busy file is found before any row is prepared.
    if (sqlite3_exec(db_.handle(), "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK)
        throw lastError(db_.handle());
}

TransactionGuard::~TransactionGuard() { rollback(); }

void TransactionGuard::commit()
{
    if (sqlite3_exec(db_.handle(), "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK)
        throw lastError(db_.handle());
    open_ = false;
}

void TransactionGuard::rollback() noexcept
{
    if (open_ && inTransaction(db_))
        sqlite3_exec(db_.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
    open_ = false;
}

bool TransactionGuard::active() const { return open_ && inTransaction(db_); }

bool inTransaction(const Connection& db) { return db.handle() && !sqlite3_get_autocommit(db.handle()); }

BoundStatement::BoundStatement(Connection& db, const QString& nativeSql) : db_(db)
{
    const QByteArray sql = nativeSql.toUtf8();
    if (sqlite3_prepare_v3(db_.handle(), sql.constData(), int(sql.size()), SQLITE_PREPARE_PERSISTENT, &st_, nullptr) !=
        SQLITE_OK)
        throw lastError(db_.handle());
}

BoundStatement::~BoundStatement() { sqlite3_finalize(st_); }

void BoundStatement::bind(int index, const QString& text)
{
    // The engine copies the characters and stores them as UTF-8; U+FEFF at the front stays.
    sqlite3_bind_text16(st_, index, text.utf16(), int(text.size() * 2), SQLITE_TRANSIENT);
}

void BoundStatement::bind(int index, qint64 number) { sqlite3_bind_int64(st_, index, number); }

void BoundStatement::bindUtf8(int index, const char* bytes, int size)
{
    if (bytes)
        sqlite3_bind_text(st_, index, bytes, size, SQLITE_TRANSIENT);
    else
        sqlite3_bind_null(st_, index);
}

void BoundStatement::bindNull(int index) { sqlite3_bind_null(st_, index); }

void BoundStatement::run()
{
    int rc;
    while ((rc = sqlite3_step(st_)) == SQLITE_ROW) {
    }
    sqlite3_reset(st_);
    if (rc != SQLITE_DONE)
        throw lastError(db_.handle());
}

qint64 BoundStatement::lastInsertId() const { return sqlite3_last_insert_rowid(db_.handle()); }

void forEachRowBytes(Connection& db, const QString& nativeSql, const RowBytes& onRow)
{
    const QByteArray sql = nativeSql.toUtf8();
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db.handle(), sql.constData(), int(sql.size()), &st, nullptr) != SQLITE_OK)
        throw lastError(db.handle());
    const int n = sqlite3_column_count(st);
    std::vector<const char*> values(static_cast<size_t>(n));
    std::vector<int> sizes(static_cast<size_t>(n));
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
        for (int c = 0; c < n; ++c) {
            values[size_t(c)] = reinterpret_cast<const char*>(sqlite3_column_text(st, c));
            sizes[size_t(c)] = sqlite3_column_bytes(st, c);
        }
        try {
            onRow(n, values.data(), sizes.data());
        } catch (...) {
            sqlite3_finalize(st);
            throw;
        }
    }
    const DbError failure = lastError(db.handle());
    sqlite3_finalize(st);
    if (rc != SQLITE_DONE)
        throw failure;
}

} // namespace kestrel
