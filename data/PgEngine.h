#pragma once
// The office server's side of Connection, Statement and Transaction: libpq connections pooled per
// connection string, the schema made on first connect, and the server's failures sorted into the
// program's Fault kinds. Used by data/ alone; the rest of the program sees only Connection.
#include "data/Database.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

struct pg_conn;
struct pg_result;

namespace kestrel::pg {

// What every connection to the server is made with unless its connection string says otherwise:
// a server that does not answer, or a network link that drops without a word, must not hang the
// program. Keepalives find a dead link in about a minute (30 s idle, then 3 probes 10 s apart).
inline constexpr const char* kConnectKeys[] = {"connect_timeout",     "keepalives",       "keepalives_idle",
                                               "keepalives_interval", "keepalives_count", "tcp_user_timeout"};
inline constexpr const char* kConnectValues[] = {"10", "1", "30", "10", "3", "30000"};

// The schema version this program expects (table kestrel_schema); kestrel --init-office makes it.
inline constexpr int kSchemaVersion = 16;

// A connection to the server of connectionText, from the pool or new; a new one to a server not
// yet seen by this process first checks that the schema is there and recent enough (a DbError of
// kind NotSetUp otherwise). Throws DbError.
pg_conn* acquire(const QString& connectionText);
// A connection of its own, outside the pool, with the schema checked (a listener for kChangeChannel
// keeps one open); the caller closes it with PQfinish. Throws DbError.
pg_conn* openDedicated(const QString& connectionText);
// The payloads of the notifications that have reached conn, oldest first; reads what waits in its
// socket without blocking.
QStringList takeNotifications(pg_conn* conn);
// Back to the pool when it is idle and healthy, else closed.
void release(pg_conn* conn, const QString& connectionText);
// Closes every waiting connection (tests drop their databases afterwards).
void releaseAll();

// The failure of conn (and result, where the server answered with one) as a DbError.
DbError errorOf(pg_conn* conn, const pg_result* result = nullptr);
// The kind of a failure by its SQLSTATE; Unreachable for connection failures (class 08).
Fault classifyState(std::string_view sqlstate);
// "kestrel on db.example": the office database as the user knows it, for messages.
QString serverName(const QString& connectionText);

// Runs several statements at once (no parameters, no rows wanted). Throws DbError.
void execScript(pg_conn* conn, const char* sql);

// A commit whose answer the network lost has either happened or not; the server alone knows, by
// the transaction's id. A writing transaction therefore begins by learning its id (beginWriting,
// one trip with BEGIN), and commit() looks the outcome up on a new connection when the answer to
// COMMIT is lost: it returns when the transaction committed, and throws Unreachable when it did
// not (then nothing was saved and trying again is safe) or when the server cannot be asked.
std::int64_t beginWriting(pg_conn* conn);
void commit(pg_conn* conn, std::int64_t xid, const QString& connectionText);
// A transaction whose COMMIT went unanswered while the server could not be asked what became of it.
struct UnansweredCommit {
    std::int64_t xid = 0; // 0: none
    int backendPid = 0;   // the server process that ran it
};
// The commit commit() last left unanswered; taking it clears it.
UnansweredCommit takeUnansweredCommit();
// Whether that transaction committed, asked on a connection of its own. A server process still
// waiting for the lost COMMIT (its client's network gone, unnoticed) is ended first, which rolls
// the transaction back. Nothing when the server cannot be reached or cannot tell.
std::optional<bool> commitOutcome(const QString& connectionText, const UnansweredCommit& commit);
// Runs sql on a connection of its own that checks no schema and joins no pool (creating and
// dropping databases). Throws DbError.
void runMaintenance(const QString& conninfo, const QString& sql);
// A connection of its own to conninfo (a libpq connection string), its database overridden by
// database when that is not empty, without the schema check: the administrator's set-up works
// on it. The caller closes it with PQfinish. Throws DbError.
pg_conn* openUnchecked(const QString& conninfo, const QString& database = QString());

// Native text with ? or ?N parameters turned into $N; *parameters gets the highest number.
// Literals, quoted names and comments are copied as they are. False when a second statement
// follows the first (text after a ";" other than blanks, comments or semicolons).
bool numberParameters(const QString& sql, QByteArray* out, int* parameters);

// The part of a Statement that runs on the server: the statement is sent with its bindings at
// the first step after construction or reset, and its rows are kept until the next reset. A
// statement run a second time is prepared on the server, so that its later runs (the rows of an
// import) are not parsed and planned again.
class Cursor {
public:
    Cursor(pg_conn* conn, QByteArray sql, int parameters);
    ~Cursor();
    Cursor(const Cursor&) = delete;
    Cursor& operator=(const Cursor&) = delete;

    bool step();
    int run();
    void reset();
    void bind(int index, const char* bytes, int size); // nullptr binds a null
    std::int64_t lastInsertId() const;

    int columnCount();
    QString columnName(int column);
    bool isNull(int column) const;
    std::int64_t integer(int column) const;
    double real(int column) const;
    std::string_view bytes(int column) const;
    // What the column holds, as SQLite's fundamental types and the declared kinds of Snapshot.
    enum class Kind : std::uint8_t { Plain, Date, Time, Bool, Integer, Real };
    Kind kind(int column);

private:
    void ensureRan();
    pg_conn* conn_;
    QByteArray sql_;
    std::vector<QByteArray> values_;
    std::vector<bool> bound_;
    pg_result* result_ = nullptr;
    int row_ = -1;
    int rows_ = 0;
    int runs_ = 0;
    // An insert into a table with a generated key returns the key with it, which lastInsertId()
    // then needs no second trip to the server for.
    bool returnsKey_ = false;
    std::int64_t lastKey_ = 0;
    QByteArray prepared_; // the server's name for it once prepared
};

} // namespace kestrel::pg
