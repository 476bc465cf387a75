#pragma once
// An Excel workbook written row by row through libxlsxwriter: one sheet, every value a text cell,
// so that a ZIP code "02134", a phone number "+49 171 ..." and a value "=1+1" stay exactly as they
// are, with no apostrophe in front; the header row bold and frozen in place while the rows
// scroll; the columns as wide as what they hold, and formatted as text, so that a value typed into
// them later stays text too. The rows go to a temporary file as they come, so memory stays the
// same for ten rows or a million.
#include <QString>
#include <QStringList>

#include <memory>

namespace kestrel {

// The most characters a cell holds in the programs that read workbooks.
constexpr int kMaxCellChars = 32767;

class WorkbookWriter {
public:
    // The file is written beside path and put in its place only once it is complete, so a file
    // already there stays whole until then.
    explicit WorkbookWriter(const QString& path, const QString& sheetName = QStringLiteral("Contacts"));
    ~WorkbookWriter();
    WorkbookWriter(const WorkbookWriter&) = delete;
    WorkbookWriter& operator=(const WorkbookWriter&) = delete;

    // The bold first row.
    bool addHeader(const QStringList& names);
    // One row of UTF-8 values; a null value is an empty cell. False once anything failed.
    bool addRow(int count, const char* const* values, const int* sizes);
    // Writes the file; false with error() telling why (the file at path is then unchanged).
    bool finish();
    // Why the workbook could not be written, in plain words.
    QString error() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace kestrel
