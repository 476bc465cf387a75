#include "data/Statement.h"

#include "data/PgEngine.h"
#include "data/SqlDialect.h"

#include <QDate>
#include <QTime>

#include <libpq-fe.h>
#include <sqlite3.h>

#include <vector>

namespace kestrel {

namespace {
// A stored clock time, "HH:mm:ss". The plain eight characters are read directly: Qt's format
// parser takes microseconds a value, which the calendar pays for every appointment it lists.
QTime clockTime(const QString& s)
{
    const auto digit = [&s](int i) { return s[i] >= u'0' && s[i] <= u'9' ? s[i].unicode() - u'0' : -100; };
    if (s.size() == 8 && s[2] == u':' && s[5] == u':') {
        const int h = digit(0) * 10 + digit(1), m = digit(3) * 10 + digit(4), sec = digit(6) * 10 + digit(7);
        if (h >= 0 && m >= 0 && sec >= 0)
            return QTime(h, m, sec);
    }
    return QTime::fromString(s, QStringLiteral("HH:mm:ss"));
}

DbError lastError(sqlite3* db)
{
    return DbError(sqlite3_errcode(db), QString::fromUtf8(sqlite3_errmsg(db)),
                   classifyEngineError(sqlite3_extended_errcode(db), sqlite3_system_errno(db)));
}

// True when tail holds nothing but blanks, comments and semicolons.
bool onlyFiller(sqlite3* db, const char* tail)
{
    while (tail && *tail) {
        sqlite3_stmt* next = nullptr;
        const char* rest = nullptr;
        const int rc = sqlite3_prepare_v2(db, tail, -1, &next, &rest);
        const bool empty = next == nullptr;
        sqlite3_finalize(next);
        // A tail that does not even prepare is still a second statement.
        if (rc != SQLITE_OK || !empty)
            return false;
        if (rest == tail)
            break;
        tail = rest;
    }
    return true;
}
} // namespace

namespace {
const DbError kSecondStatement(SQLITE_ERROR, QStringLiteral("Characters found after end of SQL statement."), Fault::Program);

QVariant serverValue(pg::Cursor& c, int column)
{
    if (c.isNull(column))
        return {};
    switch (c.kind(column)) {
    case pg::Cursor::Kind::Bool:
        return QVariant(c.integer(column) != 0);
    case pg::Cursor::Kind::Integer: {
        const std::int64_t i = c.integer(column);
        return (i >= INT32_MIN && i <= INT32_MAX) ? QVariant(int(i)) : QVariant(qlonglong(i));
    }
    case pg::Cursor::Kind::Real:
        return QVariant(c.real(column));
    default:
        break;
    }
    const std::string_view b = c.bytes(column);
    const QString s = exactUtf8(b.data(), qsizetype(b.size()));
    if (c.kind(column) == pg::Cursor::Kind::Date) {
        const QDate d = QDate::fromString(s.left(10), Qt::ISODate);
        if (d.isValid())
            return d;
    } else if (c.kind(column) == pg::Cursor::Kind::Time) {
        const QTime t = clockTime(s.left(8));
        if (t.isValid())
            return t;
    }
    return s;
}
} // namespace

// Runs f; a failure it meets on the connection names the connection, so that the words for a
// condition of the machine can say which file or server it was.
template <class F>
auto namingTheSource(const Connection& connection, F&& f) -> decltype(f())
{
    try {
        return f();
    } catch (DbError& e) {
        if (e.source().isEmpty())
            e.setSource(connection.source());
        throw;
    }
}

Statement::Statement(Connection& connection, const QString& sql, Dialect dialect) : connection_(connection)
{
    namingTheSource(connection, [&] { prepare(sql, dialect); });
}

void Statement::prepare(const QString& sql, Dialect dialect)
{
    Connection& connection = connection_;
    if (connection.onServer()) {
        QByteArray text;
        int parameters = 0;
        if (dialect == Dialect::Program) {
            const SqlTranslation t = translateSql(sql, SqlTarget::Postgres);
            if (!t.ok)
                throw DbError(t.errorNumber, t.errorText, Fault::Program);
            text = t.sql.toUtf8();
        } else if (!pg::numberParameters(sql, &text, &parameters)) {
            throw kSecondStatement;
        }
        pg_ = std::make_unique<pg::Cursor>(connection.server(), std::move(text), parameters);
        return;
    }
    QByteArray text;
    if (dialect == Dialect::Program) {
        const SqlTranslation t = translateSql(sql);
        if (!t.ok)
            throw DbError(t.errorNumber, t.errorText, Fault::Program);
        text = t.sql.toUtf8();
    } else {
        text = sql.toUtf8();
    }
    sqlite3* db = connection.handle();
    const char* tail = nullptr;
    if (sqlite3_prepare_v2(db, text.constData(), int(text.size()), &st_, &tail) != SQLITE_OK)
        throw lastError(db);
    if (!onlyFiller(db, tail)) {
        sqlite3_finalize(st_);
        st_ = nullptr;
        throw kSecondStatement;
    }
}

Statement::~Statement() { sqlite3_finalize(st_); }

bool Statement::step()
{
    return namingTheSource(connection_, [this] { return stepOnce(); });
}

bool Statement::stepOnce()
{
    if (pg_)
        return pg_->step();
    if (!st_) // nothing but blanks
        return false;
    const int rc = sqlite3_step(st_);
    if (rc == SQLITE_ROW)
        return true;
    if (rc == SQLITE_DONE)
        return false;
    const DbError e = lastError(connection_.handle());
    sqlite3_reset(st_);
    throw e;
}

int Statement::run()
{
    if (pg_)
        return namingTheSource(connection_, [this] { return pg_->run(); });
    while (step()) {
    }
    if (!st_)
        return 0;
    const int changed = sqlite3_changes(connection_.handle());
    sqlite3_reset(st_);
    return changed;
}

void Statement::reset()
{
    if (pg_)
        pg_->reset();
    if (st_)
        sqlite3_reset(st_);
}

void Statement::bind(int index, const QString& text)
{
    const QByteArray utf8 = text.toUtf8();
    if (pg_)
        return pg_->bind(index, utf8.constData(), int(utf8.size()));
    if (sqlite3_bind_text(st_, index, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT) != SQLITE_OK)
        throw lastError(connection_.handle());
}

void Statement::bind(int index, std::int64_t number)
{
    if (pg_) {
        const QByteArray digits = QByteArray::number(qlonglong(number));
        return pg_->bind(index, digits.constData(), int(digits.size()));
    }
    if (sqlite3_bind_int64(st_, index, number) != SQLITE_OK)
        throw lastError(connection_.handle());
}

void Statement::bindNull(int index)
{
    if (pg_)
        return pg_->bind(index, nullptr, 0);
    if (sqlite3_bind_null(st_, index) != SQLITE_OK)
        throw lastError(connection_.handle());
}

void Statement::bindUtf8(int index, const char* bytes, int size)
{
    if (pg_)
        return pg_->bind(index, bytes, size);
    const int rc = bytes ? sqlite3_bind_text(st_, index, bytes, size, SQLITE_TRANSIENT) : sqlite3_bind_null(st_, index);
    if (rc != SQLITE_OK)
        throw lastError(connection_.handle());
}

void Statement::bindUtf8Unowned(int index, const char* bytes, int size)
{
    if (pg_)
        return pg_->bind(index, bytes, size);
    const int rc = bytes ? sqlite3_bind_text(st_, index, bytes, size, SQLITE_STATIC) : sqlite3_bind_null(st_, index);
    if (rc != SQLITE_OK)
        throw lastError(connection_.handle());
}

std::int64_t Statement::lastInsertId() const
{
    return pg_ ? pg_->lastInsertId() : sqlite3_last_insert_rowid(connection_.handle());
}

int Statement::columnCount() const
{
    if (pg_)
        return pg_->columnCount();
    return st_ ? sqlite3_column_count(st_) : 0;
}
QString Statement::columnName(int column) const
{
    return pg_ ? pg_->columnName(column) : QString::fromUtf8(sqlite3_column_name(st_, column));
}
bool Statement::isNull(int column) const { return pg_ ? pg_->isNull(column) : sqlite3_column_type(st_, column) == SQLITE_NULL; }
std::int64_t Statement::integer(int column) const { return pg_ ? pg_->integer(column) : sqlite3_column_int64(st_, column); }
double Statement::real(int column) const { return pg_ ? pg_->real(column) : sqlite3_column_double(st_, column); }

std::string_view Statement::bytes(int column) const
{
    if (pg_)
        return pg_->bytes(column);
    const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(st_, column));
    return p ? std::string_view(p, size_t(sqlite3_column_bytes(st_, column))) : std::string_view();
}

QString Statement::text(int column) const
{
    const std::string_view b = bytes(column);
    return exactUtf8(b.data(), qsizetype(b.size()));
}

QVariant Statement::value(int column) const
{
    if (pg_)
        return serverValue(*pg_, column);
    const char* decl = sqlite3_column_decltype(st_, column);
    switch (sqlite3_column_type(st_, column)) {
    case SQLITE_INTEGER: {
        const std::int64_t i = integer(column);
        if (decl && sqlite3_stricmp(decl, "BOOLEAN") == 0)
            return QVariant(i != 0);
        if (i >= INT32_MIN && i <= INT32_MAX)
            return QVariant(int(i));
        return QVariant(qlonglong(i));
    }
    case SQLITE_FLOAT:
        return QVariant(real(column));
    case SQLITE_TEXT: {
        const QString s = text(column);
        if (decl && sqlite3_stricmp(decl, "DATE") == 0) {
            const QDate d = QDate::fromString(s.left(10), Qt::ISODate);
            if (d.isValid())
                return d;
        } else if (decl && sqlite3_stricmp(decl, "TIME") == 0) {
            const QTime t = clockTime(s);
            if (t.isValid())
                return t;
        }
        return s;
    }
    case SQLITE_BLOB:
        return QByteArray(static_cast<const char*>(sqlite3_column_blob(st_, column)), sqlite3_column_bytes(st_, column));
    default:
        return {};
    }
}

void forEachRow(const QString& connectionText, const QString& sql, const std::function<void(const Statement& row)>& onRow)
{
    Connection connection(connectionText);
    Statement st(connection, sql);
    while (st.step())
        onRow(st);
}

Transaction::Transaction(Connection& connection, Mode mode) : connection_(connection)
{
    // The server locks rows, not the database: there is no write lock to take at once.
    if (connection.onServer()) {
        namingTheSource(connection, [&] {
            if (mode == Mode::Immediate)
                serverXid_ = pg::beginWriting(connection.server());
            else
                pg::execScript(connection.server(), "BEGIN");
        });
        return;
    }
    connection.execute(mode == Mode::Immediate ? QStringLiteral("BEGIN IMMEDIATE") : QStringLiteral("BEGIN"));
}

Transaction::~Transaction() { rollback(); }

void Transaction::commit()
{
    if (pg_conn* c = connection_.server()) {
        // The server ends a transaction a statement failed in with a rollback, and says so only
        // by the command's tag: that commit must not pass for a success.
        if (PQtransactionStatus(c) == PQTRANS_INERROR) {
            namingTheSource(connection_, [c] { pg::execScript(c, "COMMIT"); });
            open_ = false;
            throw DbError(SQLITE_ABORT, QStringLiteral("the transaction was rolled back after an earlier failure"), Fault::Program);
        }
        open_ = false;
        namingTheSource(connection_, [&] { pg::commit(c, serverXid_, connection_.serverText()); });
        return;
    }
    connection_.execute(QStringLiteral("COMMIT"));
    open_ = false;
}

void Transaction::rollback() noexcept
{
    if (pg_conn* c = connection_.server()) {
        if (open_ && PQtransactionStatus(c) != PQTRANS_IDLE && PQstatus(c) == CONNECTION_OK)
            PQclear(PQexec(c, "ROLLBACK"));
        open_ = false;
        return;
    }
    if (open_ && inTransaction(connection_))
        sqlite3_exec(connection_.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
    open_ = false;
}

bool Transaction::active() const { return open_ && inTransaction(connection_); }

bool inTransaction(const Connection& connection)
{
    // A transaction a statement failed in can do nothing but roll back: it is no longer open.
    if (pg_conn* c = connection.server())
        return PQtransactionStatus(c) == PQTRANS_INTRANS || PQtransactionStatus(c) == PQTRANS_ACTIVE;
    return connection.handle() && !sqlite3_get_autocommit(connection.handle());
}

void forEachRowBytes(Connection& connection, const QString& nativeSql, const RowBytes& onRow)
{
    Statement st(connection, nativeSql, Statement::Dialect::Native);
    const int n = st.columnCount();
    std::vector<const char*> values(static_cast<size_t>(n));
    std::vector<int> sizes(static_cast<size_t>(n));
    while (st.step()) {
        for (int c = 0; c < n; ++c) {
            const std::string_view b = st.bytes(c);
            values[size_t(c)] = st.isNull(c) ? nullptr : (b.data() ? b.data() : "");
            sizes[size_t(c)] = int(b.size());
        }
        onRow(n, values.data(), sizes.data());
    }
}

} // namespace kestrel
