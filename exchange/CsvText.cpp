#include "exchange/CsvText.h"

#include "data/Database.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

#include <csv.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <deque>

namespace kestrel {

namespace {
constexpr qint64 kChunk = 1 << 16;

// Spreadsheets save either UTF-8 or the Windows code page; one wrong byte tells them apart, so
// the whole file is looked at once before the first record is decoded.
bool isValidUtf8File(QFile& file)
{
    QStringDecoder utf8(QStringDecoder::Utf8);
    QByteArray buffer(kChunk, Qt::Uninitialized);
    for (;;) {
        const qint64 n = file.read(buffer.data(), kChunk);
        if (n <= 0)
            break;
        (void)QString(utf8.decode(QByteArrayView(buffer.constData(), n)));
        if (utf8.hasError())
            return false;
    }
    return true;
}
} // namespace

struct CsvFile::Impl {
    QString path;
    QFile file;
    csv_parser parser{};
    bool parserReady = false;
    bool utf8 = true;
    QStringDecoder cp1252{"windows-1252"};
    std::deque<CsvRecord> ready;
    CsvRecord building;
    bool atEnd = false;
    bool firstChunk = true;
    qint64 line = 1; // line number at the start of the next chunk
    size_t recordBytes = 0; // of the fields read so far of the record being read
    QByteArray chunk;

    ~Impl()
    {
        if (parserReady)
            csv_free(&parser);
    }

    QString decode(const char* s, size_t n)
    {
        if (utf8)
            return exactUtf8(s, qsizetype(n));
        return cp1252.decode(QByteArrayView(s, qsizetype(n)));
    }

    static void onField(void* s, size_t n, void* data)
    {
        auto* self = static_cast<Impl*>(data);
        self->recordBytes += n;
        if (s)
            self->building.emplace_back(self->decode(static_cast<const char*>(s), n));
        else
            self->building.emplace_back(std::nullopt);
    }
    static void onRecord(int, void* data)
    {
        auto* self = static_cast<Impl*>(data);
        self->ready.push_back(std::move(self->building));
        self->building.clear();
        self->recordBytes = 0;
    }

    [[noreturn]] void fail(const QString& text)
    {
        atEnd = true;
        ready.clear();
        throw DbError(kTextFileError, text);
    }

    void fill()
    {
        const qint64 n = file.read(chunk.data(), kChunk);
        if (n < 0)
            fail(QStringLiteral("The file '%1' could not be read (%2)").arg(path, file.errorString()));
        if (n == 0) {
            atEnd = true;
            if (csv_fini(&parser, onField, onRecord, this) != 0)
                fail(QStringLiteral("The file '%1' ends inside a quoted field: its closing double quote is missing")
                         .arg(path));
            return;
        }
        const char* p = chunk.constData();
        size_t len = size_t(n);
        if (firstChunk) {
            firstChunk = false;
            if (len >= 3 && std::memcmp(p, "\xEF\xBB\xBF", 3) == 0) {
                p += 3;
                len -= 3;
            }
        }
        const size_t done = csv_parse(&parser, p, len, onField, onRecord, this);
        if (done != len) {
            const int code = csv_error(&parser);
            if (code != CSV_EPARSE)
                fail(QStringLiteral("The file '%1' could not be read (%2)")
                         .arg(path, QString::fromUtf8(csv_strerror(code))));
            const qint64 at = line + std::count(p, p + done, '\n');
            fail(QStringLiteral("The file '%1' is not valid CSV at line %2: a double quote stands inside a field "
                                "that is not quoted, or after a closing quote")
                     .arg(path)
                     .arg(at));
        }
        // A record is held whole until it ends; one that never seems to end (a stray quote, a
        // file that is no CSV) must not take all the memory there is.
        if (recordBytes + parser.entry_pos > kMaxCsvRecordBytes)
            fail(QStringLiteral("The file '%1' has a record longer than %2 MB near line %3; it is not a list of "
                                "contacts the import can read")
                     .arg(path)
                     .arg(kMaxCsvRecordBytes >> 20)
                     .arg(line));
        line += std::count(p, p + len, '\n');
    }
};

CsvFile::CsvFile(const QString& path) : d(std::make_unique<Impl>())
{
    d->path = path;
    d->file.setFileName(path);
    if (QFileInfo(path).isDir())
        throw DbError(kTextFileError, QStringLiteral("The file '%1' could not be opened (it is a folder)").arg(path));
    if (!d->file.open(QIODevice::ReadOnly))
        throw DbError(kTextFileError,
                      QStringLiteral("The file '%1' could not be opened (%2)").arg(path, d->file.errorString()));
    d->utf8 = isValidUtf8File(d->file);
    if (!d->file.seek(0))
        throw DbError(kTextFileError,
                      QStringLiteral("The file '%1' could not be read (%2)").arg(path, d->file.errorString()));
    // Strict parsing is what reports an unclosed quote at the end instead of swallowing the rest
    // of the file into one field; the empty-is-null option tells ,, from "".
    if (csv_init(&d->parser, CSV_STRICT | CSV_STRICT_FINI | CSV_EMPTY_IS_NULL) != 0)
        throw DbError(kTextFileError, QStringLiteral("Out of memory"));
    d->parserReady = true;
    // The field buffer grows by this much at a time; the default of 128 bytes makes a long field
    // cost a reallocation per 128 bytes, which is quadratic wherever realloc has to copy.
    csv_set_blk_size(&d->parser, size_t(kChunk));
    d->chunk.resize(kChunk);
}

CsvFile::~CsvFile() = default;

bool CsvFile::isUtf8() const { return d->utf8; }

bool CsvFile::next(CsvRecord& record)
{
    while (d->ready.empty() && !d->atEnd)
        d->fill();
    if (d->ready.empty())
        return false;
    record = std::move(d->ready.front());
    d->ready.pop_front();
    return true;
}

QStringList readCsvHeader(const QString& path)
{
    CsvFile file(path);
    CsvRecord header;
    if (!file.next(header))
        throw DbError(kTextFileError,
                      QStringLiteral("The file '%1' is empty: it has no header line naming its columns").arg(path));
    QStringList names;
    names.reserve(qsizetype(header.size()));
    for (const CsvField& f : header)
        names << f.value_or(QString());
    return names;
}

namespace {

// Reads "select <columns> from <file>": a column is a bare name or a bracketed one, either with
// an optional "as alias".
class StatementParser {
public:
    explicit StatementParser(const QString& s) : s_(s) {}

    struct Parsed {
        std::vector<std::pair<QString, QString>> columns; // name, alias
        QString file;
    };

    Parsed parse()
    {
        Parsed out;
        skipBlanks();
        if (!keyword(u"select"))
            bad(QStringLiteral("it must begin with select"));
        for (;;) {
            skipBlanks();
            const QString name = identifier();
            QString alias = name;
            skipBlanks();
            if (keyword(u"as")) {
                skipBlanks();
                alias = identifier();
                skipBlanks();
            }
            out.columns.emplace_back(name, alias);
            if (at_ < s_.size() && s_[at_] == u',') {
                ++at_;
                continue;
            }
            if (!keyword(u"from"))
                bad(QStringLiteral("a comma or from is missing at position %1").arg(at_ + 1));
            break;
        }
        out.file = s_.mid(at_).trimmed();
        if (out.file.isEmpty())
            bad(QStringLiteral("the file name is missing after from"));
        return out;
    }

private:
    [[noreturn]] void bad(const QString& why)
    {
        throw DbError(kTextBadStatement, QStringLiteral("Syntax error in the query '%1': %2").arg(s_, why));
    }

    void skipBlanks()
    {
        while (at_ < s_.size() && s_[at_].isSpace())
            ++at_;
    }

    // The word at the current place, followed by a blank; consumed when it matches.
    bool keyword(QStringView word)
    {
        const qsizetype end = at_ + word.size();
        if (end >= s_.size() || !s_[end].isSpace())
            return false;
        if (QStringView(s_).mid(at_, word.size()).compare(word, Qt::CaseInsensitive) != 0)
            return false;
        at_ = end + 1;
        return true;
    }

    QString identifier()
    {
        if (at_ < s_.size() && s_[at_] == u'[') {
            QString name;
            for (qsizetype i = at_ + 1; i < s_.size(); ++i) {
                if (s_[i] == u']') {
                    if (i + 1 < s_.size() && s_[i + 1] == u']') {
                        name += u']';
                        ++i;
                        continue;
                    }
                    at_ = i + 1;
                    return name;
                }
                name += s_[i];
            }
            bad(QStringLiteral("a closing bracket is missing"));
        }
        const qsizetype start = at_;
        while (at_ < s_.size() && s_[at_] != u',' && !s_[at_].isSpace())
            ++at_;
        if (at_ == start)
            bad(QStringLiteral("a column name is missing at position %1").arg(start + 1));
        return s_.mid(start, at_ - start);
    }

    const QString& s_;
    qsizetype at_ = 0;
};

} // namespace

TextQuery::TextQuery(const QString& folder, const QString& statement)
{
    const StatementParser::Parsed parsed = StatementParser(statement).parse();
    QString dir = folder;
    if (!dir.isEmpty() && !dir.endsWith(u'/'))
        dir += u'/';
    const QString path = dir + parsed.file;
    file_ = std::make_unique<CsvFile>(path);

    CsvRecord header;
    if (!file_->next(header))
        throw DbError(kTextFileError,
                      QStringLiteral("The file '%1' is empty: it has no header line naming its columns").arg(path));
    std::vector<QString> names;
    names.reserve(header.size());
    for (const CsvField& f : header)
        names.push_back(f.value_or(QString()).trimmed());
    std::vector<int> taken(header.size(), 0); // how often each header column was asked for

    for (const auto& [name, alias] : parsed.columns) {
        const QString wanted = name.trimmed();
        int found = -1;
        int fewest = INT_MAX;
        // A name the header holds twice goes to its first copy, then to the next one, and so on.
        for (size_t i = 0; i < names.size(); ++i) {
            if (names[i].compare(wanted, Qt::CaseInsensitive) == 0 && taken[i] < fewest) {
                found = int(i);
                fewest = taken[i];
            }
        }
        if (found < 0)
            throw DbError(kTextNoSuchColumn, QStringLiteral("The column '%1' is not in the header line of '%2'")
                                                 .arg(name, parsed.file));
        ++taken[size_t(found)];
        columns_.push_back({name, alias, found});
    }
    values_.resize(columns_.size());
}

TextQuery::~TextQuery() = default;

QString TextQuery::fieldName(int column) const { return columns_[size_t(column)].alias; }

bool TextQuery::next()
{
    if (!file_->next(record_))
        return false;
    for (size_t c = 0; c < columns_.size(); ++c) {
        const size_t from = size_t(columns_[c].source);
        if (from < record_.size())
            values_[c] = record_[from];
        else
            values_[c].reset();
    }
    return true;
}

} // namespace kestrel
