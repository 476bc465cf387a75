#pragma once
// The zip archive of a spreadsheet and the parts it holds: what the first bytes of a file say it
// is, the archive read part by part, and the relationships an Excel workbook finds its parts by.
// Only for the spreadsheet reader.
#include "data/Database.h"
#include "formats/CsvText.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QString>

#include <zip.h>

namespace kestrel::sheets {

constexpr qint64 kChunk = 1 << 16;
// The parts read whole (the workbook, its styles and shared strings), unpacked.
constexpr zip_uint64_t kMaxPartBytes = zip_uint64_t(512) << 20;

[[noreturn]] inline void refuse(const QString& message) { throw DbError(kTextFileError, message); }

inline QString nameOf(const QString& path) { return QFileInfo(path).fileName(); }

// One zip archive, open for reading.
class Archive {
public:
    explicit Archive(const QString& path) : path_(path)
    {
        int code = 0;
        zip_ = zip_open(QFile::encodeName(path).constData(), ZIP_RDONLY, &code);
        if (!zip_) {
            zip_error_t e;
            zip_error_init_with_code(&e, code);
            const QString why = QString::fromUtf8(zip_error_strerror(&e));
            zip_error_fini(&e);
            refuse(QStringLiteral("The file '%1' could not be opened as a spreadsheet (%2)").arg(path, why));
        }
    }
    ~Archive() { zip_discard(zip_); }
    Archive(const Archive&) = delete;
    Archive& operator=(const Archive&) = delete;

    zip_int64_t find(const QString& name) const
    {
        const QByteArray n = name.toUtf8();
        const zip_int64_t exact = zip_name_locate(zip_, n.constData(), 0);
        return exact >= 0 ? exact : zip_name_locate(zip_, n.constData(), ZIP_FL_NOCASE);
    }
    bool has(const QString& name) const { return find(name) >= 0; }

    zip_uint64_t sizeOf(zip_int64_t index) const
    {
        zip_stat_t st;
        zip_stat_init(&st);
        if (zip_stat_index(zip_, zip_uint64_t(index), 0, &st) != 0 || !(st.valid & ZIP_STAT_SIZE))
            return 0;
        return st.size;
    }

    // A part read whole; empty when the archive has no such part.
    QByteArray read(const QString& name) const
    {
        const zip_int64_t index = find(name);
        if (index < 0)
            return {};
        if (sizeOf(index) > kMaxPartBytes)
            refuse(QStringLiteral("The spreadsheet '%1' is too large to import: its part %2 unpacks to more than %3 MB")
                       .arg(nameOf(path_), name)
                       .arg(kMaxPartBytes >> 20));
        zip_file_t* f = open(index);
        QByteArray out;
        QByteArray chunk(kChunk, Qt::Uninitialized);
        for (;;) {
            const zip_int64_t n = zip_fread(f, chunk.data(), zip_uint64_t(chunk.size()));
            if (n < 0) {
                const QString why = QString::fromUtf8(zip_file_strerror(f));
                zip_fclose(f);
                refuse(QStringLiteral("The spreadsheet '%1' could not be read (%2)").arg(nameOf(path_), why));
            }
            if (n == 0)
                break;
            out.append(chunk.constData(), qsizetype(n));
            if (zip_uint64_t(out.size()) > kMaxPartBytes) {
                zip_fclose(f);
                refuse(QStringLiteral("The spreadsheet '%1' is too large to import").arg(nameOf(path_)));
            }
        }
        zip_fclose(f);
        return out;
    }

    zip_file_t* open(zip_int64_t index) const
    {
        zip_file_t* f = zip_fopen_index(zip_, zip_uint64_t(index), 0);
        if (!f)
            refuse(QStringLiteral("The spreadsheet '%1' could not be read (%2)")
                       .arg(nameOf(path_), QString::fromUtf8(zip_strerror(zip_))));
        return f;
    }

private:
    QString path_;
    zip_t* zip_ = nullptr;
};


// The relationships of a part: id → target, and type → target, with targets made absolute
// within the archive.
struct Relations {
    QHash<QString, QString> byId;
    QHash<QString, QString> byType; // the last word of the type ("officeDocument", "sharedStrings")
};

Relations readRelations(const Archive& zip, const QString& part);
// The workbook part of an Excel workbook; empty when the archive holds none.
QString workbookPart(const Archive& zip);

} // namespace kestrel::sheets
