#include "data/Database.h"

#include "data/SqlDialect.h"

#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QTime>
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

// One idle connection per file for the life of the process. It holds no lock; it keeps SQLite's
// shared WAL index alive, so that each routine's own short connection opens without running
// recovery and closes without a checkpoint. That is what makes a durable commit cheap.
struct Keepers {
    QHash<QString, sqlite3*> open;
    // Whether this SQLite build's default already syncs every commit (then no pragma is needed).
    int defaultSynchronous = -1;
    ~Keepers()
    {
        for (sqlite3* db : std::as_const(open))
            sqlite3_close_v2(db);
    }
};
Keepers& keepers()
{
    static Keepers k;
    return k;
}

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

void configure(sqlite3* db, bool scratch)
{
    sqlite3_busy_timeout(db, kBusyTimeoutMs);
    if (scratch) {
        // The scratch file is rebuilt for every import: speed over durability.
        execNative(db, "PRAGMA synchronous=OFF; PRAGMA journal_mode=MEMORY;");
        return;
    }
    // In WAL mode FULL syncs the log at every commit: a statement is on disk when it returns.
    // Most builds default to FULL already; the pragma would cost a schema parse per connection.
    if (keepers().defaultSynchronous < 0)
        keepers().defaultSynchronous = readSynchronous(db);
    if (keepers().defaultSynchronous < 2)
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
    const QString key = QFileInfo(path).absoluteFilePath();
    if (sqlite3* db = keepers().open.take(key))
        sqlite3_close_v2(db);
}

void releaseAllDatabaseFiles()
{
    for (sqlite3* db : std::as_const(keepers().open))
        sqlite3_close_v2(db);
    keepers().open.clear();
}

Connection::Connection(const QString& connectionText) : path_(dataSourcePath(connectionText))
{
    const QFileInfo info(path_);
    if (!info.exists()) {
        const auto schema = schemas().constFind(info.fileName().toLower());
        if (schema == schemas().constEnd())
            throw DbError(SQLITE_CANTOPEN, QStringLiteral("Could not find file '%1'.").arg(path_));
        createDatabaseFile(path_, *schema, true);
    }
    bool readOnly = false;
    db_ = openFile(path_, &readOnly);
    try {
        const QString key = QFileInfo(path_).absoluteFilePath();
        const bool known = keepers().open.contains(key);
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
                const QByteArray uri = "file:" + QUrl::fromLocalFile(QFileInfo(path_).absoluteFilePath())
                                                     .toEncoded(QUrl::RemoveScheme) + "?immutable=1";
                if (sqlite3_open_v2(uri.constData(), &db_, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr) != SQLITE_OK)
                    throw errorOf(db_, QStringLiteral("Could not open the database file '%1'").arg(path_));
                readOnly = true;
                validate(db_, path_);
            }
        }
        configure(db_, isScratch(path_));
        if (!known && !readOnly && !isScratch(path_)) {
            bool ro = false;
            sqlite3* keeper = openFile(path_, &ro);
            sqlite3_busy_timeout(keeper, kBusyTimeoutMs);
            // A connection maps the WAL index only once it has read something.
            sqlite3_exec(keeper, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr);
            keepers().open.insert(key, keeper);
        }
    } catch (...) {
        sqlite3_close_v2(db_);
        db_ = nullptr;
        throw;
    }
}

Connection::~Connection()
{
    if (db_)
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
        const QString s = QString::fromUtf8(arena_.data() + c.offset, qsizetype(c.length));
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
        return QString::fromUtf8(arena_.data() + c.offset, qsizetype(c.length));
    return variantText(value(row, column));
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
