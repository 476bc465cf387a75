#pragma once
// Bulk work on one connection: a transaction guard, a prepared statement run once per row with
// bound values, and a read that hands each row's UTF-8 bytes to a callback without a copy.
// Callers write native SQLite statements here; nothing is translated.
#include "data/Database.h"

#include <QString>

#include <functional>

struct sqlite3_stmt;

namespace kestrel {

// BEGIN IMMEDIATE on construction; rolled back when it goes out of scope uncommitted.
class TransactionGuard {
public:
    explicit TransactionGuard(Connection& db);
    ~TransactionGuard();
    TransactionGuard(const TransactionGuard&) = delete;
    TransactionGuard& operator=(const TransactionGuard&) = delete;

    void commit(); // throws DbError
    void rollback() noexcept;
    // False once committed, rolled back, or dropped by the engine itself (an I/O failure).
    bool active() const;

private:
    Connection& db_;
    bool open_ = true;
};

// True while the connection is inside a transaction.
bool inTransaction(const Connection& db);

// One statement prepared once and run for many rows: bind, run, bind, run...
class BoundStatement {
public:
    BoundStatement(Connection& db, const QString& nativeSql); // throws DbError
    ~BoundStatement();
    BoundStatement(const BoundStatement&) = delete;
    BoundStatement& operator=(const BoundStatement&) = delete;

    // Parameters count from 1.
    void bind(int index, const QString& text);
    void bind(int index, qint64 number);
    // UTF-8 bytes as they came from forEachRowBytes; nullptr binds a null.
    void bindUtf8(int index, const char* bytes, int size);
    void bindNull(int index);
    // Runs the statement to its end and readies it for the next row; throws DbError.
    void run();
    qint64 lastInsertId() const;

private:
    Connection& db_;
    sqlite3_stmt* st_ = nullptr;
};

// Runs a native query and calls onRow with each row's columns as UTF-8 bytes (nullptr for null).
// The bytes live only during the call. Throws DbError.
using RowBytes = std::function<void(int columns, const char* const* values, const int* sizes)>;
void forEachRowBytes(Connection& db, const QString& nativeSql, const RowBytes& onRow);

} // namespace kestrel
