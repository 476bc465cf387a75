#pragma once
// A small RAII layer over SQLite for the program's connection texts. Every routine opens its own
// Connection, reads a Snapshot or executes one statement, and lets both go out of scope.
#include <QString>
#include <QVariant>

#include <cstdint>
#include <exception>
#include <string>
#include <vector>

struct sqlite3;

namespace kestrel {

// A failure of the database engine: its number and its own description.
class DbError : public std::exception {
public:
    DbError(int number, QString description);
    int number() const { return number_; }
    const QString& description() const { return description_; }
    const char* what() const noexcept override { return utf8_.c_str(); }

private:
    int number_;
    QString description_;
    std::string utf8_;
};

// The file a connection text names ("Data Source=..."), with "\" turned into "/" and the file
// name matched without regard to letter case against what is already in its folder.
QString dataSourcePath(const QString& connectionText);

// Schema created for a missing file of this name (compared without case). Files without a
// registered schema are never created by opening them.
void registerSchema(const QString& fileName, const QString& schemaSql);

// Creates a new database file at path with the schema, for the user alone, without ever
// replacing a file that is already there. Throws DbError on failure.
void createDatabaseFile(const QString& path, const QString& schemaSql, bool durable);

// Closes the connections waiting for path (before the file is deleted or replaced).
void releaseDatabaseFile(const QString& path);
void releaseAllDatabaseFiles();

class Connection {
public:
    explicit Connection(const QString& connectionText);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Runs one statement of the program's dialect. Throws DbError.
    void execute(const QString& statement);
    sqlite3* handle() const { return db_; }
    const QString& path() const { return path_; }

private:
    sqlite3* db_ = nullptr;
    QString path_;
    QString poolKey_; // the file whose waiting connections this one may join when closed
};

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
