#pragma once
// The text reader the import queries a CSV file through, in place of a database's text driver.
// Nothing here touches a widget, so it can be driven directly by tests and benchmarks.
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <utility>
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

// What the import reads its rows from: a CSV file, or the first sheet of a spreadsheet.
class RecordFile {
public:
    virtual ~RecordFile() = default;
    // The next record; false at the end of the file.
    virtual bool next(CsvRecord& record) = 0;
    // Where the record last returned stands: the line it begins on in a CSV file (1 for the
    // first), its row number in a sheet.
    virtual qint64 line() const = 0;
    virtual char delimiter() const { return ','; }
    virtual CsvEncoding encoding() const { return CsvEncoding::Utf8; }
    virtual bool hasUtf8Bom() const { return false; }
    virtual qint64 blankRows() const = 0;
    // Fields that were not valid UTF-8 and were read as Windows-1252.
    virtual qint64 fallbackFields() const { return 0; }
    // How far the reading has come, in units of size().
    virtual qint64 bytesRead() const = 0;
    virtual qint64 size() const = 0;

    // A row the reader could not take as it stands and set aside, whole, so that the rows after
    // it still come in: where it begins, why, and its text as the file holds it.
    struct SetAside {
        qint64 line = 0;
        qint64 lastLine = 0; // of the lines it would have taken in
        int field = -1;      // the field where it went wrong (0 for the first), if known
        QString reason;
        QByteArray record;
        bool toTheEnd = false; // it would take in the rest of the file
    };
    // The rows set aside since the last call.
    std::vector<SetAside> takeSetAside() { return std::exchange(setAside_, {}); }

protected:
    std::vector<SetAside> setAside_;
};

// Opens path as a spreadsheet (.xlsx, .ods) when its content is one, whatever its name, and as
// CSV otherwise. Throws DbError, naming a file the import cannot read in plain words.
std::unique_ptr<RecordFile> openRecordFile(const QString& path);

// Reads an RFC 4180 file record by record without holding it whole: quoted fields may hold the
// delimiter, doubled quotes and line breaks; CRLF, LF and CR end a record; blanks around unquoted
// fields are trimmed. The delimiter is comma, semicolon or tab: the one a first line "sep=;"
// names, or else the one the header and the first rows agree on. A byte-order mark decides the
// encoding (UTF-8, UTF-16 LE or BE); UTF-16 without one is known by its NUL bytes; otherwise a
// field that is valid UTF-8 is read as UTF-8 and any other as Windows-1252, so one stray byte
// garbles one field, never the file. Blank rows (nothing but delimiters and blanks) are skipped
// and counted. A record longer than kMaxCsvRecordBytes is an error, so memory stays bounded
// whatever the file holds. A double quote after the header that never closes would take in the
// rest of the file as one field, or the lines up to a quote of another field that cannot close
// it: its line is set aside instead (takeSetAside) and reading goes on with the next line.
// Throws DbError.
class CsvFile final : public RecordFile {
public:
    explicit CsvFile(const QString& path);
    ~CsvFile() override;
    CsvFile(const CsvFile&) = delete;
    CsvFile& operator=(const CsvFile&) = delete;

    bool next(CsvRecord& record) override;
    qint64 line() const override;
    char delimiter() const override;
    CsvEncoding encoding() const override;
    bool hasUtf8Bom() const override;
    qint64 blankRows() const override;
    qint64 fallbackFields() const override;
    qint64 bytesRead() const override;
    qint64 size() const override;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

// The delimiter the header and first rows of this text agree on (',' when nothing tells).
char detectDelimiter(const char* text, size_t size);

// One record as a line of CSV with the delimiter, quoting only the fields that need it; no line end.
QByteArray csvLine(const CsvRecord& record, char delimiter);

// The names of a file's first record, split by the same rules as its rows (null names become "");
// the first row of a spreadsheet's first sheet.
QStringList readCsvHeader(const QString& path);

// "select <columns> from <file>" over the CSV files (and spreadsheets) of one folder, whose first
// record names the columns. A column is a bare name or "[name] as alias" ("]]" stands for "]" inside brackets);
// names match the header without regard to case or surrounding blanks, and a name the header holds
// twice is taken in turn. A short row gives nulls for its missing fields; extra fields are ignored.
// Throws DbError (a missing column before any row is read).
class TextQuery {
public:
    TextQuery(const QString& folder, const QString& statement);
    ~TextQuery();

    int fieldCount() const { return int(columns_.size()); }
    QString fieldName(int column) const;
    // The position in the header of the column a selected column reads.
    int sourceIndex(int column) const { return columns_[size_t(column)].source; }
    // Moves to the next row; false at the end.
    bool next();
    const CsvField& field(int column) const { return values_[size_t(column)]; }
    // The whole record last read, the header, and the file they come from.
    const CsvRecord& record() const { return record_; }
    const CsvRecord& header() const { return header_; }
    RecordFile& file() const { return *file_; }
    QString text(int column) const { return values_[size_t(column)].value_or(QString()); }

private:
    struct Column {
        QString name;
        QString alias;
        int source = -1;
    };
    std::vector<Column> columns_;
    std::unique_ptr<RecordFile> file_;
    CsvRecord record_;
    CsvRecord header_;
    std::vector<CsvField> values_;
};

} // namespace kestrel
