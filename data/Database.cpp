#include "data/Database.h"

#include "data/TextFold.h"

#include "data/SqlDialect.h"

#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QTime>
#include <QStringDecoder>
#include <QUrl>

#include <sqlite3.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrel {

DbError::DbError(int number, QString description)
    : number_(number), description_(std::move(description)), utf8_(description_.toStdString())
{
}

namespace {

constexpr int kBusyTimeoutMs = 3000;

QHash<QString, QString>& schemas()
{
    static QHash<QString, QString> map;
    return map;
}

// Connections a routine has closed wait here for the next routine that opens the same file.
// A waiting connection holds no lock and no transaction; it keeps SQLite's schema and WAL index
// ready, so that opening, one durable commit and closing cost little more than the commit itself.
// A file replaced on disk (another inode) is never reached through an old connection.
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const FileIdentity&) const = default;
};

bool identityOf(const QString& path, FileIdentity* out)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return false;
    *out = {st.st_dev, st.st_ino};
    return true;
}

struct Pool {
    FileIdentity identity;
    std::vector<sqlite3*> idle;
};

struct Pools {
    QHash<QString, Pool> byPath;
    // The SQLite build's default synchronous level, read once.
    int defaultSynchronous = -1;
    void drop(Pool& pool)
    {
        for (sqlite3* db : pool.idle)
            sqlite3_close_v2(db);
        pool.idle.clear();
    }
    ~Pools()
    {
        for (Pool& p : byPath)
            drop(p);
    }
};
Pools& pools()
{
    static Pools p;
    return p;
}

constexpr size_t kMaxIdlePerFile = 4;

bool isScratch(const QString& path)
{
    return QFileInfo(path).fileName().compare(QStringLiteral("tempdb.mdb"), Qt::CaseInsensitive) == 0;
}

DbError errorOf(sqlite3* db, const QString& context = {})
{
    const int code = db ? sqlite3_errcode(db) : SQLITE_CANTOPEN;
    QString text = db ? QString::fromUtf8(sqlite3_errmsg(db)) : QStringLiteral("out of memory");
    if (!context.isEmpty())
        text = context + QStringLiteral(" (") + text + u')';
    return DbError(code, text);
}

void execNative(sqlite3* db, const char* sql)
{
    char* err = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &err) != SQLITE_OK) {
        const QString msg = QString::fromUtf8(err ? err : "unknown error");
        sqlite3_free(err);
        throw DbError(sqlite3_errcode(db), msg);
    }
}

int readSynchronous(sqlite3* db)
{
    sqlite3_stmt* st = nullptr;
    int value = 0;
    if (sqlite3_prepare_v2(db, "PRAGMA synchronous", -1, &st, nullptr) == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW)
        value = sqlite3_column_int(st, 0);
    sqlite3_finalize(st);
    return value;
}

// LIKE compares the way names are filed: "E%" finds Émile, "A%" Ångström.
void foldedLikeFunction(sqlite3_context* context, int, sqlite3_value** args)
{
    if (sqlite3_value_type(args[0]) == SQLITE_NULL || sqlite3_value_type(args[1]) == SQLITE_NULL)
        return sqlite3_result_null(context);
    auto text = [](sqlite3_value* v) {
        const auto* bytes = reinterpret_cast<const char*>(sqlite3_value_text(v));
        return exactUtf8(bytes, sqlite3_value_bytes(v));
    };
    sqlite3_result_int(context, foldedLike(text(args[0]), text(args[1])) ? 1 : 0);
}

void configure(sqlite3* db, bool scratch)
{
    sqlite3_busy_timeout(db, kBusyTimeoutMs);
    sqlite3_create_function(db, "like", 2, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, foldedLikeFunction, nullptr, nullptr);
    if (scratch) {
        // The scratch file is rebuilt for every import: speed over durability.
        execNative(db, "PRAGMA synchronous=OFF; PRAGMA journal_mode=MEMORY;");
        return;
    }
    // In WAL mode FULL syncs the log at every commit: a statement is on disk when it returns.
    // Most builds default to FULL already; the pragma would cost a schema parse per connection.
    if (pools().defaultSynchronous < 0)
        pools().defaultSynchronous = readSynchronous(db);
    if (pools().defaultSynchronous < 2)
        execNative(db, "PRAGMA synchronous=FULL;");
}

sqlite3* openFile(const QString& path, bool* readOnly)
{
    const QByteArray native = QFile::encodeName(path);
    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2(native.constData(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc == SQLITE_OK) {
        *readOnly = false;
        return db;
    }
    sqlite3_close_v2(db);
    db = nullptr;
    // A file the user may only read can still be shown.
    rc = sqlite3_open_v2(native.constData(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc == SQLITE_OK) {
        *readOnly = true;
        return db;
    }
    const DbError e = errorOf(db, QStringLiteral("Could not open the database file '%1'").arg(path));
    sqlite3_close_v2(db);
    throw e;
}

void validate(sqlite3* db, const QString& path)
{
    sqlite3_stmt* st = nullptr;
    int rc = sqlite3_prepare_v2(db, "SELECT count(*) FROM sqlite_master", -1, &st, nullptr);
    if (rc == SQLITE_OK)
        rc = sqlite3_step(st);
    sqlite3_finalize(st);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE)
        throw errorOf(db, QStringLiteral("The file '%1' is not a database Kestrel can read; it was left as it is")
                              .arg(path));
}

QString folderOf(const QString& path) { return QFileInfo(path).absolutePath(); }

void ensureFolder(const QString& folder)
{
    if (QFileInfo(folder).isDir())
        return;
    if (!QDir().mkpath(folder))
        throw DbError(SQLITE_CANTOPEN, QStringLiteral("Could not create the folder '%1'").arg(folder));
    ::chmod(QFile::encodeName(folder).constData(), 0700);
}

} // namespace

void registerSchema(const QString& fileName, const QString& schemaSql) { schemas().insert(fileName.toLower(), schemaSql); }

QString dataSourcePath(const QString& connectionText)
{
    static const QString key = QStringLiteral("Data Source=");
    const qsizetype at = connectionText.indexOf(key, 0, Qt::CaseInsensitive);
    QString source = at < 0 ? connectionText : connectionText.mid(at + key.size());
    // The source runs to the next option; a folder name may itself hold a semicolon.
    qsizetype end = source.indexOf(QStringLiteral(";Jet OLEDB:"), 0, Qt::CaseInsensitive);
    if (end < 0)
        end = source.indexOf(QStringLiteral(";Extended Properties"), 0, Qt::CaseInsensitive);
    if (end < 0)
        end = source.indexOf(u';');
    if (end >= 0)
        source.truncate(end);
    source.replace(u'\\', u'/');
    source.replace(QStringLiteral("//"), QStringLiteral("/"));

    const QFileInfo info(source);
    if (info.exists())
        return info.filePath();
    const QDir dir = info.dir();
    if (dir.exists()) {
        const QStringList entries = dir.entryList(QDir::Files | QDir::Hidden | QDir::System);
        for (const QString& entry : entries)
            if (entry.compare(info.fileName(), Qt::CaseInsensitive) == 0)
                return dir.filePath(entry);
    }
    return info.filePath();
}

void createDatabaseFile(const QString& path, const QString& schemaSql, bool durable)
{
    ensureFolder(folderOf(path));
    // Build the file under a private name and link it into place: a file that appears meanwhile
    // (another copy of Kestrel) is kept, never replaced.
    QByteArray tmp = QFile::encodeName(path + QStringLiteral(".new-XXXXXX"));
    const int fd = ::mkstemp(tmp.data());
    if (fd < 0)
        throw DbError(SQLITE_CANTOPEN, QStringLiteral("Could not create the database file '%1' (%2)")
                                           .arg(path, QString::fromLocal8Bit(std::strerror(errno))));
    ::fchmod(fd, 0600);
    ::close(fd);
    sqlite3* db = nullptr;
    try {
        if (sqlite3_open_v2(tmp.constData(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK)
            throw errorOf(db);
        execNative(db, durable ? "PRAGMA journal_mode=WAL;" : "PRAGMA journal_mode=DELETE;");
        execNative(db, ("BEGIN;" + schemaSql + ";COMMIT;").toUtf8().constData());
        if (sqlite3_close(db) != SQLITE_OK)
            throw errorOf(db);
        db = nullptr;
        // The WAL switch leaves no side files once the only connection has closed.
        if (::link(tmp.constData(), QFile::encodeName(path).constData()) != 0 && errno != EEXIST)
            throw DbError(SQLITE_CANTOPEN, QStringLiteral("Could not create the database file '%1' (%2)")
                                               .arg(path, QString::fromLocal8Bit(std::strerror(errno))));
        ::unlink(tmp.constData());
    } catch (...) {
        if (db)
            sqlite3_close_v2(db);
        ::unlink(tmp.constData());
        ::unlink((tmp + "-wal").constData());
        ::unlink((tmp + "-shm").constData());
        throw;
    }
}

void releaseDatabaseFile(const QString& path)
{
    const auto it = pools().byPath.find(QFileInfo(path).absoluteFilePath());
    if (it != pools().byPath.end()) {
        pools().drop(*it);
        pools().byPath.erase(it);
    }
}

void releaseAllDatabaseFiles()
{
    for (Pool& p : pools().byPath)
        pools().drop(p);
    pools().byPath.clear();
}

Connection::Connection(const QString& connectionText) : path_(dataSourcePath(connectionText))
{
    FileIdentity identity;
    if (!identityOf(path_, &identity)) {
        const auto schema = schemas().constFind(QFileInfo(path_).fileName().toLower());
        if (schema == schemas().constEnd())
            throw DbError(SQLITE_CANTOPEN, QStringLiteral("Could not find file '%1'.").arg(path_));
        createDatabaseFile(path_, *schema, true);
        if (!identityOf(path_, &identity))
            throw DbError(SQLITE_CANTOPEN, QStringLiteral("Could not find file '%1'.").arg(path_));
    }
    const QString key = QFileInfo(path_).absoluteFilePath();
    bool known = false;
    if (auto it = pools().byPath.find(key); it != pools().byPath.end()) {
        if (it->identity == identity) {
            known = true;
            if (!it->idle.empty()) {
                db_ = it->idle.back();
                it->idle.pop_back();
                poolKey_ = key;
                return;
            }
        } else {
            pools().drop(*it);
            pools().byPath.erase(it);
        }
    }

    bool readOnly = false;
    db_ = openFile(path_, &readOnly);
    try {
        if (!known) {
            try {
                validate(db_, path_);
            } catch (const DbError& e) {
                if (e.number() != SQLITE_CANTOPEN && e.number() != SQLITE_READONLY)
                    throw;
                // A WAL file in a folder the user may not write: nothing can change it while
                // nobody may write there, so it can still be read as it stands.
                sqlite3_close_v2(db_);
                db_ = nullptr;
                const QByteArray uri = "file:" + QUrl::fromLocalFile(key).toEncoded(QUrl::RemoveScheme) + "?immutable=1";
                if (sqlite3_open_v2(uri.constData(), &db_, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr) != SQLITE_OK)
                    throw errorOf(db_, QStringLiteral("Could not open the database file '%1'").arg(path_));
                readOnly = true;
                validate(db_, path_);
            }
        }
        configure(db_, isScratch(path_));
    } catch (...) {
        sqlite3_close_v2(db_);
        db_ = nullptr;
        throw;
    }
    if (!readOnly && !isScratch(path_)) {
        if (!known)
            pools().byPath.insert(key, Pool{identity, {}});
        poolKey_ = key;
    }
}

Connection::~Connection()
{
    if (!db_)
        return;
    // Only a connection left exactly as it was opened may wait for the next routine.
    if (!poolKey_.isEmpty() && sqlite3_get_autocommit(db_) && !sqlite3_next_stmt(db_, nullptr)) {
        const auto it = pools().byPath.find(poolKey_);
        if (it != pools().byPath.end() && it->idle.size() < kMaxIdlePerFile) {
            it->idle.push_back(db_);
            return;
        }
    }
    sqlite3_close_v2(db_);
}

void Connection::execute(const QString& statement)
{
    const SqlTranslation t = translateSql(statement);
    if (!t.ok)
        throw DbError(t.errorNumber, t.errorText);
    const QByteArray sql = t.sql.toUtf8();
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db_, sql.constData(), int(sql.size()), &st, nullptr) != SQLITE_OK)
        throw errorOf(db_);
    if (!st) // nothing but blanks
        return;
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
    }
    if (rc != SQLITE_DONE) {
        const DbError e = errorOf(db_);
        sqlite3_finalize(st);
        throw e;
    }
    sqlite3_finalize(st);
}

Snapshot::Snapshot(Connection& connection, const QString& statement)
{
    const SqlTranslation t = translateSql(statement);
    if (!t.ok)
        throw DbError(t.errorNumber, t.errorText);
    const QByteArray sql = t.sql.toUtf8();
    sqlite3* db = connection.handle();
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, sql.constData(), int(sql.size()), &st, nullptr) != SQLITE_OK || !st)
        throw errorOf(db);
    const int columns = sqlite3_column_count(st);
    names_.reserve(columns);
    kinds_.reserve(columns);
    for (int c = 0; c < columns; ++c) {
        names_.push_back(QString::fromUtf8(sqlite3_column_name(st, c)));
        const char* decl = sqlite3_column_decltype(st, c);
        Kind k = Kind::Plain;
        if (decl) {
            if (sqlite3_stricmp(decl, "DATE") == 0)
                k = Kind::Date;
            else if (sqlite3_stricmp(decl, "TIME") == 0)
                k = Kind::Time;
            else if (sqlite3_stricmp(decl, "BOOLEAN") == 0)
                k = Kind::Bool;
        }
        kinds_.push_back(k);
    }
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
        for (int c = 0; c < columns; ++c) {
            Cell cell{};
            cell.type = std::uint8_t(sqlite3_column_type(st, c));
            switch (cell.type) {
            case SQLITE_INTEGER:
                cell.i = sqlite3_column_int64(st, c);
                break;
            case SQLITE_FLOAT:
                cell.d = sqlite3_column_double(st, c);
                break;
            case SQLITE_TEXT:
            case SQLITE_BLOB: {
                const void* p = cell.type == SQLITE_TEXT ? static_cast<const void*>(sqlite3_column_text(st, c))
                                                         : sqlite3_column_blob(st, c);
                cell.length = std::uint32_t(sqlite3_column_bytes(st, c));
                cell.offset = arena_.size();
                if (cell.length)
                    arena_.append(static_cast<const char*>(p), cell.length);
                break;
            }
            default:
                break;
            }
            cells_.push_back(cell);
        }
        ++rows_;
    }
    if (rc != SQLITE_DONE) {
        const DbError e = errorOf(db);
        sqlite3_finalize(st);
        throw e;
    }
    sqlite3_finalize(st);
}

int Snapshot::fieldIndex(const QString& name) const
{
    for (size_t i = 0; i < names_.size(); ++i)
        if (names_[i].compare(name, Qt::CaseInsensitive) == 0)
            return int(i);
    return -1;
}

QVariant Snapshot::field(const QString& name) const
{
    const int i = fieldIndex(name);
    if (i < 0)
        throw DbError(SQLITE_ERROR, QStringLiteral("Item cannot be found in the collection corresponding to the "
                                                   "requested name or ordinal (%1)").arg(name));
    return field(i);
}

const Snapshot::Cell& Snapshot::cell(int row, int column) const
{
    if (row < 0 || row >= rows_)
        throw DbError(SQLITE_ERROR, QStringLiteral("Either BOF or EOF is True, or the current record has been deleted."));
    if (column < 0 || column >= fieldCount())
        throw DbError(SQLITE_ERROR, QStringLiteral("Item cannot be found in the collection corresponding to the "
                                                   "requested name or ordinal (%1)").arg(column));
    return cells_[size_t(row) * names_.size() + size_t(column)];
}

bool Snapshot::isNull(int row, int column) const { return cell(row, column).type == SQLITE_NULL; }

QVariant Snapshot::value(int row, int column) const
{
    const Cell& c = cell(row, column);
    const Kind kind = kinds_[size_t(column)];
    switch (c.type) {
    case SQLITE_INTEGER:
        if (kind == Kind::Bool)
            return QVariant(c.i != 0);
        if (c.i >= INT32_MIN && c.i <= INT32_MAX)
            return QVariant(int(c.i));
        return QVariant(qlonglong(c.i));
    case SQLITE_FLOAT:
        return QVariant(c.d);
    case SQLITE_TEXT: {
        const QString s = exactUtf8(arena_.data() + c.offset, qsizetype(c.length));
        if (kind == Kind::Date) {
            const QDate d = QDate::fromString(s.left(10), Qt::ISODate);
            if (d.isValid())
                return d;
        } else if (kind == Kind::Time) {
            const QTime t = QTime::fromString(s, QStringLiteral("HH:mm:ss"));
            if (t.isValid())
                return t;
        }
        return s;
    }
    case SQLITE_BLOB:
        return QByteArray(arena_.data() + c.offset, qsizetype(c.length));
    default:
        return {};
    }
}

QString Snapshot::textAt(int row, int column) const
{
    const Cell& c = cell(row, column);
    if (c.type == SQLITE_TEXT && kinds_[size_t(column)] == Kind::Plain)
        return exactUtf8(arena_.data() + c.offset, qsizetype(c.length));
    return variantText(value(row, column));
}

QString exactUtf8(const char* bytes, qsizetype size)
{
    thread_local QStringDecoder decoder(QStringConverter::Utf8,
                                        QStringConverter::Flag::ConvertInitialBom | QStringConverter::Flag::Stateless);
    return decoder.decode(QByteArrayView(bytes, size));
}

QString variantText(const QVariant& v)
{
    if (!v.isValid() || v.isNull())
        return {};
    switch (v.typeId()) {
    case QMetaType::Bool:
        return v.toBool() ? QStringLiteral("True") : QStringLiteral("False");
    case QMetaType::QDate: {
        const QDate d = v.toDate();
        return QStringLiteral("%1/%2/%3").arg(d.month()).arg(d.day()).arg(d.year());
    }
    case QMetaType::QTime:
        return v.toTime().toString(QStringLiteral("h:mm:ss AP"));
    default:
        return v.toString();
    }
}

} // namespace kestrel
