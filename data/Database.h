#pragma once
// A small RAII layer over SQLite (and, for an office database, the PostgreSQL server) for the
// program's connection texts. Every routine opens its own
// Connection, reads a Snapshot or executes one statement, and lets both go out of scope.
#include <QString>
#include <QVariant>

#include <cstdint>
#include <exception>
#include <string>
#include <vector>

struct sqlite3;
struct pg_conn;

namespace kestrel {

class Statement;

// What lies behind an engine failure. Program is a fault of Kestrel itself (a statement the
// engine rejects); every other kind is a condition of the machine the user can do something about.
// Unreachable: the office server could not be reached, or the connection to it was lost.
// Foreign: a database file of another program where one of Kestrel's belongs; it is never written.
// NotSetUp: the office server holds no schema of Kestrel's, or an older one than this program
// needs; only its administrator can change that (kestrel --init-office).
enum class Fault { Program, Damaged, DiskFull, ReadOnly, Locked, Missing, DiskError, Unreachable, Foreign, NotSetUp };

// The kind of an engine result code, with the operating system's errno where the engine gave one
// (a failed write is "disk I/O error" to the engine whether the disk is full or failing).
Fault classifyEngineError(int code, int systemErrno = 0);

// A failure of the database engine: its number and its own description.
class DbError : public std::exception {
public:
    DbError(int number, QString description);
    DbError(int number, QString description, Fault fault);
    int number() const { return number_; }
    const QString& description() const { return description_; }
    Fault fault() const { return fault_; }
    const char* what() const noexcept override { return utf8_.c_str(); }
    // Where it happened, as MachineFaultText takes it: the file's path, or the office server's
    // connection text; empty when not known. Set by the connection that met the failure.
    const QString& source() const { return source_; }
    void setSource(const QString& source) { source_ = source; }

private:
    int number_;
    QString description_;
    Fault fault_;
    std::string utf8_;
    QString source_;
};

// The file a connection text names ("Data Source=..."), with "\" turned into "/" and the file
// name matched without regard to letter case against what is already in its folder.
QString dataSourcePath(const QString& connectionText);

// Schema created for a missing file of this name (compared without case). Files without a
// registered schema are never created by opening them.
void registerSchema(const QString& fileName, const QString& schemaSql);

// Brings a file of this name (compared without case) made by an earlier Kestrel up to what this
// one reads, when it is first opened by this process: readOnly when it may not be changed (the
// upgrade must then make do for this connection alone). Throws DbError.
using FileUpgrade = void (*)(sqlite3* db, bool readOnly);
void registerUpgrade(const QString& fileName, FileUpgrade upgrade);

// Whether opening a missing file that has a registered schema creates it. Kestrel creates its files
// only while it starts; afterwards a missing file is an error the user is told about.
void setCreatingMissingFiles(bool allowed);

// Creates a new database file at path with the schema, for the user alone, without ever
// replacing a file that is already there. Throws DbError on failure.
void createDatabaseFile(const QString& path, const QString& schemaSql, bool durable);

// Puts the finished file built at builtPath in place at path, never replacing a file already
// there: a hard link, or where the file system has none (FAT, exFAT, some network mounts) a
// rename that refuses to replace, or last an exclusive create and copy. Returns false when path
// already existed (builtPath is left for the caller). Throws DbError on any other failure.
// skipLinking starts at the first fallback (tests of file systems without hard links).
bool placeNewFile(const QString& builtPath, const QString& path, bool skipLinking = false);

// Closes the connections waiting for path (before the file is deleted or replaced).
void releaseDatabaseFile(const QString& path);
// Closes every waiting connection, to files and to the office server.
void releaseAllDatabaseFiles();

class Connection {
public:
    explicit Connection(const QString& connectionText);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Runs one statement of the program's dialect and returns the rows it changed. Throws DbError.
    int execute(const QString& statement);
    // The local file's engine; null for the office server.
    sqlite3* handle() const { return db_; }
    // The office server's connection; null for a local file.
    pg_conn* server() const { return pg_; }
    bool onServer() const { return pg_ != nullptr; }
    // The connection text it was opened with, for the office server; empty for a local file.
    const QString& serverText() const { return serverText_; }
    const QString& path() const { return path_; }
    // What a DbError met on this connection names as its source().
    const QString& source() const { return pg_ ? serverText_ : path_; }
    // True when the file could be opened for reading only.
    bool readOnly() const { return readOnly_; }
    // Why it could not be opened for writing: ReadOnly, or DiskFull/DiskError when the side file
    // a write-ahead log needs could not be made.
    Fault readOnlyCause() const { return readOnlyCause_; }
    // Copies committed changes from the write-ahead log into the database file itself, so that the
    // .mdb file alone holds every change (a user may copy or back up just that file). Called after
    // each statement and commit; does nothing inside a transaction or when nothing changed.
    // Never throws: a change it cannot copy yet stays in the synced log for the next one.
    void settle();

private:
    void open(const QString& connectionText);

    sqlite3* db_ = nullptr;
    QString path_;
    bool readOnly_ = false;
    Fault readOnlyCause_ = Fault::ReadOnly;
    std::int64_t settledChanges_ = 0;
    QString poolKey_; // the file whose waiting connections this one may join when closed
    pg_conn* pg_ = nullptr;
    QString serverText_; // the connection text of the server pg_ belongs to
};

// A write that waits for another running copy's lock shows the busy cursor (through the platform
// seam) until the connection that waited is done; this ends that wait early.
void endBusyWait();
// Whether the window's thread waited for a lock within the last withinMs milliseconds: work
// behind the window that holds the lock for seconds gives way to it.
bool windowWaitedForLock(int withinMs);

// A read-only copy of a query's rows, walked with eof()/moveNext() and read by position or name.
// The rows are copied out when it opens, so nothing stays locked while the caller walks them.
class Snapshot {
public:
    Snapshot(Connection& connection, const QString& statement);
    Snapshot(const Snapshot&) = delete;
    Snapshot& operator=(const Snapshot&) = delete;
    Snapshot(Snapshot&&) = default;
    Snapshot& operator=(Snapshot&&) = default;

    bool eof() const { return row_ >= rows_; }
    void moveNext() { if (row_ < rows_) ++row_; }
    int rowCount() const { return rows_; }
    int fieldCount() const { return int(names_.size()); }
    QString fieldName(int column) const { return names_.at(column); }
    int fieldIndex(const QString& name) const; // -1 when absent

    // Values: null (invalid QVariant), QString, int/qlonglong, double, bool, QDate, QTime.
    QVariant field(int column) const { return value(row_, column); }
    QVariant field(const QString& name) const;
    QVariant value(int row, int column) const;
    // The value as text: "" for null, True/False, m/d/yyyy for dates, h:mm:ss AM for times.
    QString text(int column) const { return textAt(row_, column); }
    QString textAt(int row, int column) const;
    bool isNull(int row, int column) const;

private:
    enum class Kind : std::uint8_t { Plain, Date, Time, Bool };
    struct Cell {
        std::uint8_t type; // SQLite fundamental type
        std::uint32_t length;
        union {
            std::int64_t i;
            double d;
            std::uint64_t offset;
        };
    };
    const Cell& cell(int row, int column) const;
    void readServer(Statement& st);

    std::vector<QString> names_;
    std::vector<Kind> kinds_;
    std::vector<Cell> cells_;
    std::string arena_;
    int rows_ = 0;
    int row_ = 0;
};

// UTF-8 bytes as text, every character kept: QString::fromUtf8 would drop a leading U+FEFF
// (a byte-order mark), which in a stored value or a CSV field is part of the text.
QString exactUtf8(const char* bytes, qsizetype size);

// Formats a value the way Snapshot::text does.
QString variantText(const QVariant& v);

} // namespace kestrel
