#include "data/PgEngine.h"

#include "data/Office.h"
#include "data/PgSchema.h"

#include <QHash>
#include <QRegularExpression>
#include <QSet>
#include <QTimeZone>

#include <libpq-fe.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <unistd.h>
#include <utility>
#include <vector>

namespace kestrel::pg {

namespace {

// Server type numbers (pg_type.oid) of the columns Snapshot types; citext and text are Plain.
constexpr Oid kBool = 16, kInt8 = 20, kInt2 = 21, kInt4 = 23, kOid = 26, kFloat4 = 700, kFloat8 = 701,
              kNumeric = 1700, kDate = 1082, kTime = 1083;
constexpr size_t kMaxIdlePerServer = 4;

// The SQLSTATE as the server packs it into a number (six bits a character), for the error report.
int packState(std::string_view state)
{
    int n = 0;
    for (size_t i = 0; i < state.size() && i < 5; ++i)
        n += ((state[i] - '0') & 0x3F) << (6 * i);
    return n;
}

struct Pools {
    std::mutex lock;
    QHash<QString, std::vector<PGconn*>> idle;
    QSet<QString> schemaChecked;
    ~Pools()
    {
        for (auto& list : idle)
            for (PGconn* c : list)
                PQfinish(c);
    }
};
Pools& pools()
{
    static Pools p;
    return p;
}

struct ResultGuard {
    PGresult* r;
    ~ResultGuard() { PQclear(r); }
};

// A waiting connection whose server went away (restarted, or the link dropped) is known by the
// close message already in its socket; it is dropped rather than handed out.
bool stillUsable(PGconn* c)
{
    // The first read takes the server's farewell, the second finds the socket closed behind it.
    return PQstatus(c) == CONNECTION_OK && PQtransactionStatus(c) == PQTRANS_IDLE && PQconsumeInput(c) == 1 &&
           PQconsumeInput(c) == 1 && PQstatus(c) == CONNECTION_OK;
}

PGconn* connect(const QString& conninfo, bool checkingSchema, const QString& database = QString())
{
    const QByteArray info = conninfo.toUtf8();
    const QByteArray db = database.toUtf8();
    // The limits first, so that the connection text's own keywords win; the database named
    // outright comes after the text.
    std::vector<const char*> keys(std::begin(kConnectKeys), std::end(kConnectKeys));
    std::vector<const char*> values(std::begin(kConnectValues), std::end(kConnectValues));
    keys.insert(keys.end(), {"application_name", "dbname"});
    values.insert(values.end(), {"Kestrel", info.constData()});
    if (!db.isEmpty()) {
        keys.push_back("dbname");
        values.push_back(db.constData());
    }
    keys.push_back(nullptr);
    values.push_back(nullptr);
    PGconn* c = PQconnectdbParams(keys.data(), values.data(), 1);
    if (!c)
        throw DbError(packState("53200"), QStringLiteral("out of memory"), Fault::DiskError);
    if (PQstatus(c) != CONNECTION_OK) {
        const DbError e(packState("08001"), QString::fromUtf8(PQerrorMessage(c)).trimmed(), Fault::Unreachable);
        PQfinish(c);
        throw e;
    }
    // The server's notices (a connection ended by its administrator, say) are for its log, not
    // for the program's standard error; failures arrive as errors all the same.
    PQsetNoticeProcessor(c, [](void*, const char*) {}, nullptr);
    try {
        if (PQsetClientEncoding(c, "UTF8") != 0)
            throw errorOf(c);
        // Dates come back as 2006-03-07; a row another user keeps locked is waited for a while,
        // then reported as locked rather than waited for without end (ten seconds, unless the
        // server's administrator set a limit of their own).
        execScript(c, "SET datestyle TO ISO, MDY; SET client_min_messages TO warning;"
                      "SELECT set_config('lock_timeout', '10s', false) WHERE current_setting('lock_timeout') = '0'");
        // The office's days are its people's: which appointments are past, what the daily purge may
        // take and a history entry's time are read on the server's clock (a computer whose own clock
        // is wrong cannot move them) but in this computer's zone, whatever zone the server keeps.
        // A zone the server does not know leaves it its own.
        if (const QByteArray zone = QTimeZone::systemTimeZoneId(); !zone.isEmpty()) {
            const char* param[1] = {zone.constData()};
            PQclear(PQexecParams(c, "SELECT set_config('TimeZone', $1, false)", 1, nullptr, param, nullptr, nullptr, 0));
        }
        // A server without Kestrel's schema, or with an older one, is its administrator's to set
        // up: a salesperson's copy never makes or changes it.
        if (checkingSchema)
            checkSchema(c, serverName(serverConnectionText(conninfo)));
    } catch (...) {
        PQfinish(c);
        throw;
    }
    return c;
}

} // namespace

Fault classifyState(std::string_view s)
{
    auto is = [&](std::string_view v) { return s == v; };
    auto cls = [&](std::string_view v) { return s.substr(0, 2) == v; };
    if (cls("08") || cls("28") || is("57P01") || is("57P02") || is("57P03") || is("53300"))
        return Fault::Unreachable;
    if (is("55P03") || is("40001") || is("40P01") || is("57014") || is("55006"))
        return Fault::Locked;
    if (is("25006") || is("42501"))
        return Fault::ReadOnly;
    if (is("53100"))
        return Fault::DiskFull;
    if (cls("53") || cls("58"))
        return Fault::DiskError;
    if (is("XX001") || is("XX002"))
        return Fault::Damaged;
    if (is("3D000"))
        return Fault::Missing;
    return Fault::Program;
}

DbError errorOf(PGconn* conn, const PGresult* result)
{
    const char* state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
    const char* primary = result ? PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY) : nullptr;
    QString text = QString::fromUtf8(primary ? primary : (conn ? PQerrorMessage(conn) : "out of memory")).trimmed();
    // A lost connection is what the user must hear about, whatever the statement was.
    const bool lost = !conn || PQstatus(conn) == CONNECTION_BAD;
    const Fault fault = lost ? Fault::Unreachable : state ? classifyState(state) : Fault::Program;
    return DbError(packState(state ? state : (lost ? "08006" : "XX000")), text, fault);
}

QString serverName(const QString& connectionText)
{
    const QByteArray info = serverConninfo(connectionText).toUtf8();
    char* err = nullptr;
    PQconninfoOption* options = PQconninfoParse(info.constData(), &err);
    PQfreemem(err);
    QString db, host, service;
    for (PQconninfoOption* o = options; o && o->keyword; ++o) {
        if (!o->val || !*o->val)
            continue;
        const QString v = QString::fromUtf8(o->val);
        if (qstrcmp(o->keyword, "dbname") == 0)
            db = v;
        else if (qstrcmp(o->keyword, "host") == 0 || (qstrcmp(o->keyword, "hostaddr") == 0 && host.isEmpty()))
            host = v;
        else if (qstrcmp(o->keyword, "service") == 0)
            service = v;
    }
    PQconninfoFree(options);
    if (db.isEmpty())
        db = service.isEmpty() ? QStringLiteral("kestrel") : service;
    // A socket folder is this computer's own server.
    if (host.isEmpty() || host.startsWith(u'/'))
        return QStringLiteral("%1 on this computer").arg(db);
    return QStringLiteral("%1 on %2").arg(db, host);
}

PGconn* acquire(const QString& connectionText)
{
    const QString key = serverConninfo(connectionText);
    Pools& p = pools();
    bool schemaChecked = false;
    {
        std::lock_guard guard(p.lock);
        auto it = p.idle.find(key);
        while (it != p.idle.end() && !it->empty()) {
            PGconn* c = it->back();
            it->pop_back();
            if (stillUsable(c))
                return c;
            PQfinish(c);
        }
        schemaChecked = p.schemaChecked.contains(key);
    }
    PGconn* c = connect(key, !schemaChecked);
    std::lock_guard guard(p.lock);
    p.schemaChecked.insert(key);
    return c;
}

PGconn* openDedicated(const QString& connectionText)
{
    const QString key = serverConninfo(connectionText);
    bool schemaChecked = false;
    {
        std::lock_guard guard(pools().lock);
        schemaChecked = pools().schemaChecked.contains(key);
    }
    PGconn* c = connect(key, !schemaChecked);
    std::lock_guard guard(pools().lock);
    pools().schemaChecked.insert(key);
    return c;
}

QStringList takeNotifications(PGconn* conn)
{
    QStringList out;
    PQconsumeInput(conn);
    while (PGnotify* n = PQnotifies(conn)) {
        out << QString::fromUtf8(n->extra);
        PQfreemem(n);
    }
    return out;
}

void release(PGconn* conn, const QString& connectionText)
{
    if (!conn)
        return;
    if (PQstatus(conn) == CONNECTION_OK && PQtransactionStatus(conn) == PQTRANS_IDLE) {
        std::lock_guard guard(pools().lock);
        auto& list = pools().idle[serverConninfo(connectionText)];
        if (list.size() < kMaxIdlePerServer) {
            list.push_back(conn);
            return;
        }
    }
    PQfinish(conn);
}

void releaseAll()
{
    std::lock_guard guard(pools().lock);
    for (auto& list : pools().idle)
        for (PGconn* c : list)
            PQfinish(c);
    pools().idle.clear();
    // A database dropped and made anew under the same name is checked again.
    pools().schemaChecked.clear();
}

void execScript(PGconn* conn, const char* sql)
{
    ResultGuard r{PQexec(conn, sql)};
    const ExecStatusType st = PQresultStatus(r.r);
    if (st != PGRES_COMMAND_OK && st != PGRES_TUPLES_OK && st != PGRES_EMPTY_QUERY)
        throw errorOf(conn, r.r);
}

PGconn* openUnchecked(const QString& conninfo, const QString& database) { return connect(conninfo, false, database); }

namespace {
UnansweredCommit gUnanswered;
} // namespace

std::int64_t beginWriting(PGconn* conn)
{
    ResultGuard r{PQexec(conn, "BEGIN; SELECT pg_current_xact_id()")};
    if (PQresultStatus(r.r) != PGRES_TUPLES_OK || PQntuples(r.r) != 1)
        throw errorOf(conn, r.r);
    return std::strtoll(PQgetvalue(r.r, 0, 0), nullptr, 10);
}

void commit(PGconn* conn, std::int64_t xid, const QString& connectionText)
{
    const int backend = PQbackendPID(conn);
    ResultGuard r{PQexec(conn, "COMMIT")};
    if (PQresultStatus(r.r) == PGRES_COMMAND_OK)
        return;
    const DbError lost = errorOf(conn, r.r);
    if (lost.fault() != Fault::Unreachable || xid == 0)
        throw lost;
    const UnansweredCommit unanswered{xid, backend};
    const std::optional<bool> committed = commitOutcome(connectionText, unanswered);
    if (committed == true)
        return;
    if (!committed)
        gUnanswered = unanswered;
    throw lost;
}

UnansweredCommit takeUnansweredCommit() { return std::exchange(gUnanswered, UnansweredCommit{}); }

std::optional<bool> commitOutcome(const QString& connectionText, const UnansweredCommit& commit)
{
    PGconn* c = nullptr;
    try {
        c = connect(serverConninfo(connectionText), false);
    } catch (const DbError&) {
        return std::nullopt;
    }
    std::unique_ptr<PGconn, void (*)(PGconn*)> owned(c, PQfinish);
    const QByteArray xid = QByteArray::number(qlonglong(commit.xid));
    const QByteArray pid = QByteArray::number(commit.backendPid);
    const char* values[] = {xid.constData(), pid.constData()};
    // Only the process of that very transaction, and only while it idles waiting for the COMMIT: a
    // process busy committing is let finish, and the pid of one that ended may belong to another.
    constexpr const char* kAsk =
        "SELECT pg_xact_status($1::xid8), (SELECT count(pg_terminate_backend(pid)) FROM pg_stat_activity "
        "WHERE pid = $2::int AND backend_xid = xid($1::xid8) AND state LIKE 'idle in transaction%')";
    // A process that was ended, or whose client is gone, rolls back within moments.
    for (int round = 0; round < 100; ++round) {
        ResultGuard r{PQexecParams(c, kAsk, 2, nullptr, values, nullptr, nullptr, 0)};
        if (PQresultStatus(r.r) != PGRES_TUPLES_OK || PQntuples(r.r) != 1 || PQgetisnull(r.r, 0, 0))
            return std::nullopt;
        const std::string_view status = PQgetvalue(r.r, 0, 0);
        if (status == "committed")
            return true;
        if (status == "aborted")
            return false;
        ::usleep(50 * 1000);
    }
    return std::nullopt;
}

void runMaintenance(const QString& conninfo, const QString& sql)
{
    std::unique_ptr<PGconn, void (*)(PGconn*)> c(connect(conninfo, false), PQfinish);
    execScript(c.get(), sql.toUtf8().constData());
}

bool numberParameters(const QString& sqlText, QByteArray* out, int* parameters)
{
    const QByteArray in = sqlText.toUtf8();
    const qsizetype n = in.size();
    out->clear();
    out->reserve(n + 16);
    int highest = 0;
    bool ended = false; // a ";" was seen: only filler may follow
    for (qsizetype i = 0; i < n;) {
        const char c = in[i];
        auto copyUntil = [&](qsizetype end) {
            if (ended && end > i && c != '-' && c != '/')
                return false;
            out->append(in.constData() + i, end - i);
            i = end;
            return true;
        };
        if (c == '\'' || c == '"') {
            qsizetype j = i + 1;
            while (j < n && !(in[j] == c && !(j + 1 < n && in[j + 1] == c)))
                j += (in[j] == c) ? 2 : 1;
            if (!copyUntil(std::min(j + 1, n)))
                return false;
        } else if (c == '-' && i + 1 < n && in[i + 1] == '-') {
            const qsizetype j = in.indexOf('\n', i);
            copyUntil(j < 0 ? n : j);
        } else if (c == '/' && i + 1 < n && in[i + 1] == '*') {
            const qsizetype j = in.indexOf("*/", i + 2);
            copyUntil(j < 0 ? n : j + 2);
        } else if (c == ';') {
            ended = true;
            ++i;
        } else if (ended) {
            if (!QChar::isSpace(uchar(c)))
                return false;
            ++i;
        } else if (c == '?') {
            qsizetype j = i + 1;
            while (j < n && in[j] >= '0' && in[j] <= '9')
                ++j;
            // A bare ? takes the number after the highest one so far, as SQLite numbers them; a
            // number beyond any statement's (or one that overflows) is left for the server to refuse.
            int number = j > i + 1 ? in.mid(i + 1, j - i - 1).toInt() : highest + 1;
            if (number > 32767)
                number = 0;
            highest = std::max(highest, number);
            out->append('$').append(QByteArray::number(number));
            i = j;
        } else {
            out->append(c);
            ++i;
        }
    }
    *parameters = highest;
    return true;
}

Cursor::Cursor(PGconn* conn, QByteArray sql, int parameters) : conn_(conn), sql_(std::move(sql)), values_(size_t(parameters))
{
    static const QRegularExpression insert(QStringLiteral("^\\s*insert\\s+into\\s+(contacts|appointments|todo)\\b"),
                                           QRegularExpression::CaseInsensitiveOption);
    const QString text = QString::fromUtf8(sql_);
    const auto m = insert.match(text);
    if (m.hasMatch() && !text.contains(QStringLiteral("returning"), Qt::CaseInsensitive)) {
        const QString table = m.captured(1).toLower();
        // After a line break: a comment that ends the statement cannot swallow it.
        sql_ += table == u"appointments" ? "\nRETURNING autoid" : "\nRETURNING id";
        returnsKey_ = true;
    }
}

Cursor::~Cursor()
{
    PQclear(result_);
    if (!prepared_.isEmpty() && PQstatus(conn_) == CONNECTION_OK && PQtransactionStatus(conn_) != PQTRANS_INERROR)
        PQclear(PQexec(conn_, "DEALLOCATE " + prepared_));
}

void Cursor::bind(int index, const char* bytes, int size)
{
    if (index < 1 || index > int(values_.size()))
        throw DbError(packState("42P02"), QStringLiteral("column index out of range"), Fault::Program);
    // The server keeps no NUL in a text: the value would end there without a word.
    if (bytes && std::memchr(bytes, '\0', size_t(size)))
        throw DbError(packState("22021"), QStringLiteral("a text holds a NUL character"), Fault::Program);
    if (bound_.size() != values_.size())
        bound_.assign(values_.size(), false);
    values_[size_t(index - 1)] = bytes ? QByteArray(bytes, size) : QByteArray();
    bound_[size_t(index - 1)] = bytes != nullptr;
}

void Cursor::ensureRan()
{
    if (result_)
        return;
    std::vector<const char*> values(values_.size());
    for (size_t i = 0; i < values_.size(); ++i)
        values[i] = i < bound_.size() && bound_[i] ? values_[i].constData() : nullptr;
    if (++runs_ == 2) {
        static std::atomic<unsigned> counter{0};
        const QByteArray name = "kestrel_" + QByteArray::number(++counter);
        ResultGuard p{PQprepare(conn_, name.constData(), sql_.constData(), int(values.size()), nullptr)};
        if (PQresultStatus(p.r) != PGRES_COMMAND_OK)
            throw errorOf(conn_, p.r);
        prepared_ = name;
    }
    PGresult* r = prepared_.isEmpty()
        ? PQexecParams(conn_, sql_.constData(), int(values.size()), nullptr, values.data(), nullptr, nullptr, 0)
        : PQexecPrepared(conn_, prepared_.constData(), int(values.size()), values.data(), nullptr, nullptr, 0);
    const ExecStatusType st = PQresultStatus(r);
    if (st != PGRES_TUPLES_OK && st != PGRES_COMMAND_OK && st != PGRES_EMPTY_QUERY) {
        const DbError e = errorOf(conn_, r);
        PQclear(r);
        throw e;
    }
    result_ = r;
    rows_ = PQntuples(r);
    row_ = -1;
    if (returnsKey_) {
        if (rows_ > 0)
            lastKey_ = std::strtoll(PQgetvalue(r, rows_ - 1, 0), nullptr, 10);
        rows_ = 0; // an insert has no rows to step through, as on the local files
    }
}

bool Cursor::step()
{
    ensureRan();
    if (row_ < rows_)
        ++row_;
    return row_ < rows_;
}

int Cursor::run()
{
    ensureRan();
    const int changed = std::atoi(PQcmdTuples(result_));
    reset();
    return changed;
}

void Cursor::reset()
{
    PQclear(result_);
    result_ = nullptr;
    row_ = -1;
    rows_ = 0;
}

std::int64_t Cursor::lastInsertId() const
{
    if (returnsKey_ && lastKey_)
        return lastKey_;
    ResultGuard r{PQexec(conn_, "SELECT lastval()")};
    if (PQresultStatus(r.r) != PGRES_TUPLES_OK)
        throw errorOf(conn_, r.r);
    return std::strtoll(PQgetvalue(r.r, 0, 0), nullptr, 10);
}

int Cursor::columnCount()
{
    ensureRan();
    return PQnfields(result_);
}

QString Cursor::columnName(int column)
{
    ensureRan();
    return QString::fromUtf8(PQfname(result_, column));
}

Cursor::Kind Cursor::kind(int column)
{
    ensureRan();
    switch (PQftype(result_, column)) {
    case kBool:
        return Kind::Bool;
    case kInt2:
    case kInt4:
    case kInt8:
    case kOid:
        return Kind::Integer;
    case kFloat4:
    case kFloat8:
    case kNumeric:
        return Kind::Real;
    case kDate:
        return Kind::Date;
    case kTime:
        return Kind::Time;
    default:
        return Kind::Plain;
    }
}

bool Cursor::isNull(int column) const
{
    return !result_ || row_ < 0 || row_ >= rows_ || PQgetisnull(result_, row_, column);
}

std::string_view Cursor::bytes(int column) const
{
    if (isNull(column))
        return {};
    const char* v = PQgetvalue(result_, row_, column);
    // Yes/no reads as 1/0, as it does from the local files.
    if (PQftype(result_, column) == kBool)
        return v[0] == 't' ? std::string_view("1") : std::string_view("0");
    return std::string_view(v, size_t(PQgetlength(result_, row_, column)));
}

std::int64_t Cursor::integer(int column) const
{
    const std::string_view b = bytes(column);
    return b.empty() ? 0 : std::strtoll(std::string(b).c_str(), nullptr, 10);
}

double Cursor::real(int column) const
{
    const std::string_view b = bytes(column);
    return b.empty() ? 0.0 : std::strtod(std::string(b).c_str(), nullptr);
}

} // namespace kestrel::pg
