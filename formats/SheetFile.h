#pragma once
// The first sheet of a spreadsheet read row by row, as the import reads the records of a CSV
// file: an Excel workbook (.xlsx) or an OpenDocument spreadsheet (.ods). The archive is opened
// with libzip and its XML read with Qt's stream reader a piece at a time, so a large sheet never
// sits in memory whole (an .xlsx file's shared strings do, as every cell may point at them).
// Cells become texts by the rules of formats/SheetValues.h; a cell of several paragraphs keeps
// its line breaks. Empty rows are skipped and counted when rows follow them; a row is as wide
// as the header row, or wider when it holds values beyond it. A row's line is its row number in
// the sheet. Throws DbError, naming what is wrong with the file in plain words.
#include "formats/CsvText.h"

#include <QString>

#include <memory>

namespace kestrel {

enum class SheetKind { None, Xlsx, Ods };

// What the file's content says it is; None for anything that is not a spreadsheet this reader
// takes. Throws DbError for a workbook it recognises but cannot read (an Excel 97-2003 .xls, a
// file protected by a password).
SheetKind sheetKind(const QString& path);

// The most rows and columns a sheet has in the programs that write them.
constexpr qint64 kMaxSheetRows = 1048576;
constexpr int kMaxSheetColumns = 16384;

class SheetFile final : public RecordFile {
public:
    SheetFile(const QString& path, SheetKind kind);
    ~SheetFile() override;
    SheetFile(const SheetFile&) = delete;
    SheetFile& operator=(const SheetFile&) = delete;

    bool next(CsvRecord& record) override;
    qint64 line() const override;
    // Rows kept out of an import are saved as CSV with a byte-order mark, so that a spreadsheet
    // reads them back as UTF-8.
    CsvEncoding encoding() const override { return CsvEncoding::Utf8Bom; }
    qint64 blankRows() const override;
    // Of the sheet's XML, unpacked.
    qint64 bytesRead() const override;
    qint64 size() const override;
    // The sheet that is read, as its tab names it.
    QString sheetName() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace kestrel
