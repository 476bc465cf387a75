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

// How a file's bytes were turned into text.
enum class CsvEncoding { Utf8, Utf8Bom, Utf16LE, Utf16BE, Mixed };

// Reads an RFC 4180 file record by record without holding it whole: quoted fields may hold the
// delimiter, doubled quotes and line breaks; CRLF, LF and CR end a record; blanks around unquoted
// fields are trimmed. The delimiter is comma, semicolon or tab: the one a first line "sep=;"
// names, or else the one the header and the first rows agree on. A byte-order mark decides the
// encoding (UTF-8, UTF-16 LE or BE); UTF-16 without one is known by its NUL bytes; otherwise a
// field that is valid UTF-8 is read as UTF-8 and any other as Windows-1252, so one stray byte
// garbles one field, never the file. Blank rows (nothing but delimiters and blanks) are skipped
// and counted. A record longer than kMaxCsvRecordBytes is an error, so memory stays bounded
// whatever the file holds. Throws DbError.
class CsvFile {
public:
    explicit CsvFile(const QString& path);
    ~CsvFile();
    CsvFile(const CsvFile&) = delete;
    CsvFile& operator=(const CsvFile&) = delete;

    // The next record; false at the end of the file.
    bool next(CsvRecord& record);
    // The line the record last returned begins on (1 for the first line of the file).
    qint64 line() const;
    char delimiter() const;
    CsvEncoding encoding() const;
    bool hasUtf8Bom() const;
    qint64 blankRows() const;
    // Fields that were not valid UTF-8 and were read as Windows-1252.
    qint64 fallbackFields() const;
    qint64 bytesRead() const;
    qint64 size() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

// The delimiter the header and first rows of this text agree on (',' when nothing tells).
char detectDelimiter(const char* text, size_t size);

// One record as a line of CSV with the delimiter, quoting only the fields that need it; no line end.
QByteArray csvLine(const CsvRecord& record, char delimiter);

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
    // The whole record last read, the header, and the file they come from.
    const CsvRecord& record() const { return record_; }
    const CsvRecord& header() const { return header_; }
    const CsvFile& file() const { return *file_; }
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
    CsvRecord header_;
    std::vector<CsvField> values_;
};

} // namespace kestrel
