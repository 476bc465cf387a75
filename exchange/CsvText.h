#pragma once
// The text reader the import queries a CSV file through, in place of a database's text driver.
// Nothing here touches a widget, so it can be driven directly by tests and benchmarks.
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <vector>

namespace kestrel {

// Numbers of the reader's failures, in the engine's negative style, so they read like every other
// error report of the program.
constexpr int kTextFileError = -2147467259;   // the file cannot be opened, read or parsed
constexpr int kTextNoSuchColumn = -2147217904; // a column the statement names is not in the header
constexpr int kTextBadStatement = -2147217900; // the statement is not "select <columns> from <file>"

// The longest record (all its fields together, in the file's bytes) the reader takes.
constexpr size_t kMaxCsvRecordBytes = size_t(8) << 20;

// One field: its text, or nothing for an empty unquoted field.
using CsvField = std::optional<QString>;
using CsvRecord = std::vector<CsvField>;

// Reads an RFC 4180 file record by record without holding it whole: quoted fields may hold commas,
// doubled quotes and line breaks; CRLF and LF both end a record; a UTF-8 byte-order mark is
// dropped; blank lines are skipped and blanks around unquoted fields trimmed. A file that is not
// valid UTF-8 is taken as Windows-1252 throughout. A record longer than kMaxCsvRecordBytes is an
// error, so memory stays bounded whatever the file holds. Throws DbError.
class CsvFile {
public:
    explicit CsvFile(const QString& path);
    ~CsvFile();
    CsvFile(const CsvFile&) = delete;
    CsvFile& operator=(const CsvFile&) = delete;

    // The next record; false at the end of the file.
    bool next(CsvRecord& record);
    bool isUtf8() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

// The names of a file's first record, split by the same rules as its rows (null names become "").
QStringList readCsvHeader(const QString& path);

// "select <columns> from <file>" over the CSV files of one folder, whose first record names the
// columns. A column is a bare name or "[name] as alias" ("]]" stands for "]" inside brackets);
// names match the header without regard to case or surrounding blanks, and a name the header holds
// twice is taken in turn. A short row gives nulls for its missing fields; extra fields are ignored.
// Throws DbError (a missing column before any row is read).
class TextQuery {
public:
    TextQuery(const QString& folder, const QString& statement);
    ~TextQuery();

    int fieldCount() const { return int(columns_.size()); }
    QString fieldName(int column) const;
    // Moves to the next row; false at the end.
    bool next();
    const CsvField& field(int column) const { return values_[size_t(column)]; }
    QString text(int column) const { return values_[size_t(column)].value_or(QString()); }

private:
    struct Column {
        QString name;
        QString alias;
        int source = -1;
    };
    std::vector<Column> columns_;
    std::unique_ptr<CsvFile> file_;
    CsvRecord record_;
    std::vector<CsvField> values_;
};

} // namespace kestrel
