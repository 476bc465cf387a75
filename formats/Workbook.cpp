#include "formats/Workbook.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <xlsxwriter.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace kestrel {

namespace {

// Characters of UTF-8 text, for the width of its column.
int characters(const char* s, int n)
{
    int count = 0;
    for (int i = 0; i < n; ++i)
        count += (static_cast<unsigned char>(s[i]) & 0xC0) != 0x80;
    return count;
}

// The OOXML escape for characters XML cannot carry reads any "_xHHHH_" as one character, so a
// value that holds such text itself has its underscore escaped ("_x005F_") to come back unchanged.
std::string escapedLiterals(const char* s, int n)
{
    std::string out(s, size_t(n));
    const auto hex = [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); };
    for (size_t i = 0; i + 6 < out.size(); ++i) {
        if (out[i] == '_' && out[i + 1] == 'x' && hex(out[i + 2]) && hex(out[i + 3]) && hex(out[i + 4]) &&
            hex(out[i + 5]) && out[i + 6] == '_') {
            out.replace(i, 1, "_x005F_");
            i += 6;
        }
    }
    return out;
}

bool mayHoldEscape(const char* s, int n)
{
    for (int i = 0; i + 1 < n; ++i)
        if (s[i] == '_' && s[i + 1] == 'x')
            return true;
    return false;
}

} // namespace

struct WorkbookWriter::Impl {
    QString path;
    QString partPath; // where libxlsxwriter writes, beside path
    QByteArray partName;
    lxw_workbook* book = nullptr;
    lxw_worksheet* sheet = nullptr;
    lxw_format* text = nullptr;
    lxw_format* bold = nullptr;
    lxw_row_t row = 0;
    std::vector<int> widths;
    QString error;
    bool finished = false;

    bool fail(const QString& why)
    {
        if (error.isEmpty())
            error = QStringLiteral("The file %1 could not be written (%2). Please choose another file with 'Browse'.")
                        .arg(QDir::toNativeSeparators(path), why);
        return false;
    }

    bool write(int col, const char* value, int size, lxw_format* format)
    {
        if (characters(value, size) > kMaxCellChars)
            return fail(QStringLiteral("the value in row %1, column %2 is longer than the %3 characters a spreadsheet "
                                       "cell holds; export it to CSV instead")
                            .arg(row + 1)
                            .arg(col + 1)
                            .arg(kMaxCellChars));
        std::string owned = mayHoldEscape(value, size) ? escapedLiterals(value, size) : std::string(value, size_t(size));
        const lxw_error e = worksheet_write_string(sheet, row, lxw_col_t(col), owned.c_str(), format);
        if (e != LXW_NO_ERROR)
            return fail(QString::fromUtf8(lxw_strerror(e)));
        if (size_t(col) >= widths.size())
            widths.resize(size_t(col) + 1, 0);
        widths[size_t(col)] = std::max(widths[size_t(col)], characters(value, size));
        return true;
    }
};

WorkbookWriter::WorkbookWriter(const QString& path, const QString& sheetName) : d(std::make_unique<Impl>())
{
    d->path = path;
    // A name of its own beside the target, so that renaming it over the target is one step.
    QTemporaryFile part(QFileInfo(path).absolutePath() + QStringLiteral("/.") + QFileInfo(path).fileName() +
                        QStringLiteral(".XXXXXX"));
    part.setAutoRemove(false);
    if (part.open()) {
        d->partPath = part.fileName();
        part.close();
    } else {
        // A folder that takes no new file may still let an existing one be replaced.
        d->partPath = path;
    }
    d->partName = QFile::encodeName(d->partPath);
    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE;
    d->book = workbook_new_opt(d->partName.constData(), &options);
    if (!d->book) {
        d->fail(QStringLiteral("out of memory"));
        return;
    }
    const QByteArray name = sheetName.toUtf8();
    d->sheet = workbook_add_worksheet(d->book, name.constData());
    d->text = workbook_add_format(d->book);
    format_set_num_format(d->text, "@");
    d->bold = workbook_add_format(d->book);
    format_set_num_format(d->bold, "@");
    format_set_bold(d->bold);
    if (!d->sheet || !d->text || !d->bold)
        d->fail(QStringLiteral("out of memory"));
}

WorkbookWriter::~WorkbookWriter()
{
    if (d->book)
        lxw_workbook_free(d->book); // abandoned: nothing is written
    if (!d->finished && d->partPath != d->path)
        QFile::remove(d->partPath);
}

bool WorkbookWriter::addHeader(const QStringList& names)
{
    if (!d->error.isEmpty())
        return false;
    for (int c = 0; c < names.size(); ++c) {
        const QByteArray n = names[c].toUtf8();
        if (!d->write(c, n.constData(), int(n.size()), d->bold))
            return false;
    }
    worksheet_freeze_panes(d->sheet, 1, 0);
    ++d->row;
    return true;
}

bool WorkbookWriter::addRow(int count, const char* const* values, const int* sizes)
{
    if (!d->error.isEmpty())
        return false;
    if (d->row >= LXW_ROW_MAX)
        return d->fail(QStringLiteral("a spreadsheet holds at most %1 rows; export them to CSV instead").arg(LXW_ROW_MAX));
    for (int c = 0; c < count; ++c) {
        // A null or empty value is an empty cell: nothing is written for it.
        if (values[c] && sizes[c] > 0 && !d->write(c, values[c], sizes[c], d->text))
            return false;
    }
    ++d->row;
    return true;
}

bool WorkbookWriter::finish()
{
    if (!d->error.isEmpty() || !d->book)
        return false;
    for (size_t c = 0; c < d->widths.size(); ++c)
        worksheet_set_column(d->sheet, lxw_col_t(c), lxw_col_t(c), std::clamp(d->widths[c] + 2, 8, 60), d->text);
    const lxw_error e = workbook_close(d->book);
    d->book = nullptr;
    if (e != LXW_NO_ERROR) {
        d->fail(QString::fromUtf8(lxw_strerror(e)));
        return false;
    }
    if (d->partPath != d->path) {
        // The temporary file is readable by its owner only: the workbook gets the permissions of
        // the file it replaces, or those of an ordinary new file.
        const QFileInfo old(d->path);
        QFile::setPermissions(d->partPath, old.exists() ? old.permissions()
                                                        : QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup |
                                                              QFile::ReadOther);
        if (std::rename(d->partName.constData(), QFile::encodeName(d->path).constData()) != 0) {
            d->fail(QString::fromLocal8Bit(std::strerror(errno)));
            return false;
        }
    }
    d->finished = true;
    return true;
}

QString WorkbookWriter::error() const { return d->error; }

} // namespace kestrel
