#pragma once
// Statement handles that are finalized on every path, rows read one at a time, and a transaction
// that commits or rolls back when its scope ends. Code outside data/ uses these instead of
// sqlite3_* calls, so an exception thrown while rows are being read never leaks a handle.
#include "data/Database.h"

#include <QString>
#include <QVariant>

#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>

struct sqlite3_stmt;

namespace kestrel {
namespace pg {
class Cursor;
}

class Statement {
public:
    // Program: the program's dialect (#dates#, "texts", True/False), translated first.
    // Native: the engine's own SQL, with ? (or ?N) parameters for bind(); on the office server
    // PostgreSQL's SQL, its parameters numbered $N before it is sent.
    enum class Dialect { Program, Native };

    // Prepares exactly one statement; text after it (other than blanks, comments or ";") is
    // rejected, so a second statement is never silently dropped. Throws DbError.
    Statement(Connection& connection, const QString& sql, Dialect dialect = Dialect::Program);
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    // Moves to the next row; false once the rows are done. Throws DbError.
    bool step();
    // Steps to the end and returns the number of rows the statement changed; the statement is
    // then ready to run again with new bindings.
    int run();
    // Makes the statement ready to run again; bindings are kept until rebound.
    void reset();

    // Parameters count from 1, as in the SQL text's ? order.
    void bind(int index, const QString& text);
    void bind(int index, std::int64_t number);
    void bindNull(int index);
    // UTF-8 bytes as another statement's bytes() gave them; nullptr binds a null.
    void bindUtf8(int index, const char* bytes, int size);
    // The same without a copy: the bytes must stay as they are until the statement has run.
    void bindUtf8Unowned(int index, const char* bytes, int size);
    // The key the last INSERT on this statement's connection gave its row.
    std::int64_t lastInsertId() const;

    int columnCount() const;
    QString columnName(int column) const;
    bool isNull(int column) const;
    std::int64_t integer(int column) const;
    double real(int column) const;
    // Text with every character kept; "" for null.
    QString text(int column) const;
    // The raw UTF-8 bytes of the current row's value, valid until the next step.
    std::string_view bytes(int column) const;
    // The value typed as Snapshot types it (dates, times and yes/no by the declared column type).
    QVariant value(int column) const;

    sqlite3_stmt* handle() const { return st_; }
    // The office server's side; null for a local file.
    pg::Cursor* server() const { return pg_.get(); }

private:
    void prepare(const QString& sql, Dialect dialect);
    bool stepOnce();

    Connection& connection_;
    sqlite3_stmt* st_ = nullptr;
    std::unique_ptr<pg::Cursor> pg_;
};

// Runs sql (the program's dialect) on a connection of its own and calls onRow for each row while
// the statement is open, without copying the rows. An exception from onRow ends the walk and is
// passed on; the statement and the connection are released on every path. Throws DbError.
void forEachRow(const QString& connectionText, const QString& sql, const std::function<void(const Statement& row)>& onRow);

// A transaction on one connection: commit() makes it durable; leaving the scope without commit()
// (an early return, an exception) rolls it back.
class Transaction {
public:
    // Immediate takes the write lock at once, so a second running copy is waited for (busy
    // cursor) before any work is done rather than halfway through it. On the office server it
    // marks a transaction that writes: its commit is then never reported failed when it happened
    // and only its answer was lost (see pg::commit). Deferred is for reading there.
    enum class Mode { Deferred, Immediate };
    explicit Transaction(Connection& connection, Mode mode = Mode::Immediate);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    void commit();
    void rollback() noexcept;
    // False once committed, rolled back, or ended by the engine itself (an I/O failure).
    bool active() const;

private:
    Connection& connection_;
    bool open_ = true;
    std::int64_t serverXid_ = 0; // a writing transaction's id on the office server
};

// True while the connection is inside a transaction.
bool inTransaction(const Connection& connection);

// Runs a native query on an open connection and calls onRow with each row's columns as UTF-8
// bytes (nullptr for null), valid only during the call: bulk reads copy nothing. Throws DbError.
using RowBytes = std::function<void(int columns, const char* const* values, const int* sizes)>;
void forEachRowBytes(Connection& connection, const QString& nativeSql, const RowBytes& onRow);

} // namespace kestrel
