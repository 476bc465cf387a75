#include "formats/CsvText.h"

#include "data/Database.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

#include <csv.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <deque>

namespace kestrel {

namespace {
constexpr qint64 kChunk = 1 << 16;

// RFC 3629: no overlong forms, no surrogates, nothing above U+10FFFF.
bool isValidUtf8(const unsigned char* s, size_t n)
{
    size_t i = 0;
    while (i < n) {
        // Eight plain ASCII bytes at a time: most fields are nothing else.
        while (i + 8 <= n) {
            std::uint64_t w;
            std::memcpy(&w, s + i, 8);
            if (w & 0x8080808080808080ULL)
                break;
            i += 8;
        }
        if (i >= n)
            break;
        const unsigned char c = s[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        size_t len;
        unsigned char lo = 0x80, hi = 0xBF;
        if (c >= 0xC2 && c <= 0xDF)
            len = 2;
        else if (c >= 0xE0 && c <= 0xEF) {
            len = 3;
            if (c == 0xE0)
                lo = 0xA0;
            else if (c == 0xED)
                hi = 0x9F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            len = 4;
            if (c == 0xF0)
                lo = 0x90;
            else if (c == 0xF4)
                hi = 0x8F;
        } else
            return false;
        if (i + len > n || s[i + 1] < lo || s[i + 1] > hi)
            return false;
        for (size_t k = 2; k < len; ++k)
            if (s[i + k] < 0x80 || s[i + k] > 0xBF)
                return false;
        i += len;
    }
    return true;
}

// libcsv trims what this calls a blank around unquoted fields; the delimiter itself never is one.
int blankSpaceOrTab(unsigned char c) { return c == ' ' || c == '\t'; }
int blankSpace(unsigned char c) { return c == ' '; }
int blankTab(unsigned char c) { return c == '\t'; }

// Lines that end (CR LF, LF or CR) inside a field's own text.
qint64 lineBreaks(const char* s, size_t n)
{
    qint64 count = 0;
    for (size_t i = 0; i < n; ++i)
        if (s[i] == '\n' || (s[i] == '\r' && (i + 1 >= n || s[i + 1] != '\n')))
            ++count;
    return count;
}

// UTF-16 written without a byte-order mark still has a NUL in every other byte wherever it holds
// plain Latin text, and CSV is mostly commas, digits and Latin letters.
std::optional<QStringConverter::Encoding> utf16ByNuls(const char* p, size_t n)
{
    const size_t pairs = std::min<size_t>(n, 1024) / 2;
    if (pairs < 2)
        return std::nullopt;
    size_t zeroEven = 0, zeroOdd = 0;
    for (size_t i = 0; i < pairs; ++i) {
        zeroEven += p[2 * i] == 0;
        zeroOdd += p[2 * i + 1] == 0;
    }
    if (zeroOdd * 4 >= pairs * 3 && zeroEven * 4 < pairs)
        return QStringConverter::Utf16LE;
    if (zeroEven * 4 >= pairs * 3 && zeroOdd * 4 < pairs)
        return QStringConverter::Utf16BE;
    return std::nullopt;
}
} // namespace

char detectDelimiter(const char* text, size_t size)
{
    static constexpr char kCandidates[] = {',', ';', '\t'};
    std::vector<std::array<int, 3>> lines;
    std::array<int, 3> counts{};
    bool quoted = false, any = false;
    for (size_t i = 0; i < size && lines.size() < 20; ++i) {
        const char c = text[i];
        if (c == '"') {
            quoted = !quoted;
            any = true;
        } else if (!quoted && (c == '\n' || c == '\r')) {
            if (any)
                lines.push_back(counts);
            counts = {};
            any = false;
        } else if (!quoted) {
            any = any || (c != ' ');
            for (int k = 0; k < 3; ++k)
                counts[size_t(k)] += c == kCandidates[k];
        }
    }
    if (any && lines.size() < 20)
        lines.push_back(counts);
    if (lines.empty())
        return ',';
    // The header decides how many fields there are; the rows that agree with it decide which
    // delimiter it is, so a comma inside "Smith, Jr." in a semicolon file cannot win.
    int best = 0;
    std::pair<size_t, int> bestScore{0, 0};
    for (int k = 0; k < 3; ++k) {
        const int header = lines[0][size_t(k)];
        if (header == 0)
            continue;
        size_t agree = 0;
        for (size_t l = 1; l < lines.size(); ++l)
            agree += lines[l][size_t(k)] == header;
        const std::pair<size_t, int> score{agree, header};
        if (score > bestScore) {
            bestScore = score;
            best = k;
        }
    }
    return kCandidates[best];
}

QByteArray csvLine(const CsvRecord& record, char delimiter)
{
    QByteArray out;
    for (size_t i = 0; i < record.size(); ++i) {
        if (i)
            out += delimiter;
        if (!record[i])
            continue;
        const QByteArray v = record[i]->toUtf8();
        const auto blank = [](char c) { return c == ' ' || c == '\t'; };
        bool needs = v.isEmpty() || blank(v.front()) || blank(v.back());
        for (const char c : v)
            needs = needs || c == delimiter || c == '"' || c == '\r' || c == '\n';
        if (!needs) {
            out += v;
            continue;
        }
        out += '"';
        for (const char c : v) {
            if (c == '"')
                out += '"';
            out += c;
        }
        out += '"';
    }
    return out;
}

struct CsvFile::Impl {
    QString path;
    QFile file;
    csv_parser parser{};
    bool parserReady = false;
    CsvEncoding encoding = CsvEncoding::Utf8;
    std::optional<QStringDecoder> utf16;
    QStringDecoder cp1252{"windows-1252"};
    char delim = ',';
    std::deque<std::pair<CsvRecord, qint64>> ready;
    CsvRecord building;
    bool anyValue = false;
    qint64 breaksInFields = 0;
    qint64 nextLine = 1; // where the next record begins
    qint64 recordLine = 0;
    int lastEnd = 0;
    qint64 blank = 0;
    qint64 fallback = 0;
    bool atEnd = false;
    qint64 records = 0;       // records completed, the header among them
    int recoveries = 0;       // quotes that never closed, read past
    std::vector<RecordFile::SetAside>* setAside = nullptr;
    size_t recordBytes = 0; // of the fields read so far of the record being read
    qint64 fileSize = 0;
    qint64 rawRead = 0;
    QByteArray chunk;
    QByteArray text;   // the bytes handed to the parser next, always UTF-8
    bool textPending = false;

    ~Impl()
    {
        if (parserReady)
            csv_free(&parser);
    }

    QString decode(const char* s, size_t n)
    {
        if (isValidUtf8(reinterpret_cast<const unsigned char*>(s), n))
            return exactUtf8(s, qsizetype(n));
        ++fallback;
        return cp1252.decode(QByteArrayView(s, qsizetype(n)));
    }

    static void onField(void* s, size_t n, void* data)
    {
        auto* self = static_cast<Impl*>(data);
        self->recordBytes += n;
        if (s) {
            const char* bytes = static_cast<const char*>(s);
            self->anyValue = true;
            self->breaksInFields += lineBreaks(bytes, n);
            self->building.emplace_back(self->decode(bytes, n));
        } else {
            self->building.emplace_back(std::nullopt);
        }
    }
    static void onRecord(int end, void* data)
    {
        auto* self = static_cast<Impl*>(data);
        if (self->building.empty()) {
            // Every line end is reported: the LF of a CR LF closes nothing new, any other
            // ends a line that held nothing at all.
            if (end == '\n' && self->lastEnd == '\r') {
                self->lastEnd = '\n';
                return;
            }
            self->lastEnd = end;
            if (end == -1)
                return;
            ++self->blank;
            ++self->nextLine;
            return;
        }
        const qint64 line = self->nextLine;
        self->nextLine += self->breaksInFields + 1;
        self->breaksInFields = 0;
        self->lastEnd = end;
        self->recordBytes = 0;
        if (!self->anyValue) {
            // Nothing but delimiters: the row a spreadsheet writes for an empty line.
            ++self->blank;
            self->building.clear();
            return;
        }
        self->anyValue = false;
        ++self->records;
        self->ready.emplace_back(std::move(self->building), line);
        self->building.clear();
    }

    // Rows whose quote never closes that one file may set aside before it is refused whole.
    static constexpr int kMaxRecoveries = 20;
    void initParser();
    // Line breaks in the field being read; the one that ends the file is none when atEnd.
    qint64 openFieldBreaks(bool atEnd) const
    {
        const char* taken = reinterpret_cast<const char*>(parser.entry_buf);
        const size_t n = taken ? parser.entry_pos : 0;
        const qint64 breaks = lineBreaks(taken, n);
        return atEnd && n > 0 && (taken[n - 1] == '\n' || taken[n - 1] == '\r') ? breaks - 1 : breaks;
    }
    void readPastUnclosedQuote(qint64 opened, qint64 field, qint64 last, bool toTheEnd);

    [[noreturn]] void fail(const QString& message)
    {
        atEnd = true;
        ready.clear();
        throw DbError(kTextFileError, message);
    }

    // The next piece of the file as UTF-8; empty at its end.
    void readText()
    {
        const qint64 n = file.read(chunk.data(), kChunk);
        if (n < 0)
            fail(QStringLiteral("The file '%1' could not be read (%2)").arg(path, file.errorString()));
        rawRead += n;
        if (utf16) {
            const QString s = utf16->decode(QByteArrayView(chunk.constData(), n));
            text = s.toUtf8();
        } else {
            text = QByteArray(chunk.constData(), n);
        }
    }

    void start()
    {
        readText();
        qsizetype skip = 0;
        if (!utf16) {
            const auto* p = reinterpret_cast<const unsigned char*>(text.constData());
            if (text.size() >= 2 && ((p[0] == 0xFF && p[1] == 0xFE) || (p[0] == 0xFE && p[1] == 0xFF))) {
                const bool le = p[0] == 0xFF;
                encoding = le ? CsvEncoding::Utf16LE : CsvEncoding::Utf16BE;
                utf16.emplace(le ? QStringConverter::Utf16LE : QStringConverter::Utf16BE);
                const QString s = utf16->decode(QByteArrayView(text.constData() + 2, text.size() - 2));
                text = s.toUtf8();
            } else if (text.startsWith("\xEF\xBB\xBF")) {
                encoding = CsvEncoding::Utf8Bom;
                skip = 3;
            } else if (const auto e = utf16ByNuls(text.constData(), size_t(text.size()))) {
                encoding = *e == QStringConverter::Utf16LE ? CsvEncoding::Utf16LE : CsvEncoding::Utf16BE;
                utf16.emplace(*e);
                const QString s = utf16->decode(QByteArrayView(text));
                text = s.toUtf8();
            }
        }
        text.remove(0, skip);
        // A first line "sep=;" names the delimiter, as spreadsheets write it; it is no record.
        if (text.size() >= 5 && text.left(4).compare("sep=", Qt::CaseInsensitive) == 0 && text[4] != '"' &&
            text[4] != '\r' && text[4] != '\n' && (text.size() == 5 || text[5] == '\r' || text[5] == '\n')) {
            delim = text[4];
            qsizetype cut = 5;
            if (cut < text.size() && text[cut] == '\r')
                ++cut;
            if (cut < text.size() && text[cut] == '\n')
                ++cut;
            text.remove(0, cut);
            nextLine = 2;
        } else {
            delim = detectDelimiter(text.constData(), size_t(text.size()));
        }
        textPending = true;
    }

    void fill()
    {
        if (!textPending)
            readText();
        textPending = false;
        if (text.isEmpty()) {
            atEnd = true;
            const qint64 opened = nextLine;
            const qint64 field = qint64(building.size());
            if (csv_fini(&parser, onField, onRecord, this) != 0) {
                // A quote that never closes has taken in the rest of the file. Past the header,
                // its row is set aside and the lines after it are read as rows of their own.
                if (records > 0 && recoveries < kMaxRecoveries)
                    return readPastUnclosedQuote(opened, field, opened + breaksInFields + openFieldBreaks(true), true);
                fail(QStringLiteral("The file '%1' ends inside a quoted field: the double quote that opens field %2 "
                                    "at line %3 never closes")
                         .arg(path)
                         .arg(field + 1)
                         .arg(opened));
            }
            return;
        }
        const char* p = text.constData();
        const size_t len = size_t(text.size());
        const size_t done = csv_parse(&parser, p, len, onField, onRecord, this);
        if (done != len) {
            const int code = csv_error(&parser);
            if (code != CSV_EPARSE)
                fail(QStringLiteral("The file '%1' could not be read (%2)")
                         .arg(path, QString::fromUtf8(csv_strerror(code))));
            const qint64 at = nextLine + breaksInFields + openFieldBreaks(false);
            // A quote opened lines before and never closed, until a quote of another field
            // seemed to close it: the row it opened on is set aside, as at the end of the file.
            if (at > nextLine && records > 0 && recoveries < kMaxRecoveries)
                return readPastUnclosedQuote(nextLine, qint64(building.size()), at, false);
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
                     .arg(nextLine));
    }
};

void CsvFile::Impl::initParser()
{
    if (parserReady)
        csv_free(&parser);
    parserReady = false;
    // Strict parsing is what reports an unclosed quote at the end instead of swallowing the rest
    // of the file into one field; the empty-is-null option tells ,, from ""; every line end is
    // reported so that blank lines are counted and line numbers stay true.
    if (csv_init(&parser, CSV_STRICT | CSV_STRICT_FINI | CSV_EMPTY_IS_NULL | CSV_REPALL_NL) != 0)
        throw DbError(kTextFileError, QStringLiteral("Out of memory"));
    parserReady = true;
    csv_set_delim(&parser, static_cast<unsigned char>(delim));
    csv_set_space_func(&parser, delim == '\t' ? blankSpace : delim == ' ' ? blankTab : blankSpaceOrTab);
    // The field buffer grows by this much at a time; the default of 128 bytes makes a long field
    // cost a reallocation per 128 bytes, which is quadratic wherever realloc has to copy.
    csv_set_blk_size(&parser, size_t(kChunk));
}

void CsvFile::Impl::readPastUnclosedQuote(qint64 opened, qint64 field, qint64 last, bool toTheEnd)
{
    ++recoveries;
    last = std::max(last, opened);

    // Read the file again from its start, as far as the end of the line the quote opened on,
    // keeping that line's text. The text is the same UTF-8 the parser was given.
    if (!file.seek(0))
        fail(QStringLiteral("The file '%1' could not be read again (%2)").arg(path, file.errorString()));
    rawRead = 0;
    utf16.reset();
    encoding = CsvEncoding::Utf8;
    nextLine = 1;
    start();
    qint64 lineNo = nextLine;
    qsizetype pos = 0;
    QByteArray row;
    const auto more = [&]() {
        if (pos < text.size())
            return true;
        readText();
        pos = 0;
        return !text.isEmpty();
    };
    while (lineNo <= opened && more()) {
        const char c = text[pos++];
        if (c == '\r' || c == '\n') {
            ++lineNo;
            if (c == '\r' && more() && text[pos] == '\n')
                ++pos;
            continue;
        }
        if (lineNo == opened && size_t(row.size()) < kMaxCsvRecordBytes)
            row += c;
    }
    text.remove(0, pos);
    textPending = !text.isEmpty();

    initParser();
    building.clear();
    anyValue = false;
    breaksInFields = 0;
    recordBytes = 0;
    lastEnd = 0;
    nextLine = opened + 1;
    atEnd = false;
    setAside->push_back({opened, last, int(field),
                         QStringLiteral("the double quote that opens field %1 never closes, so it would take in lines "
                                        "%2 to %3%4")
                             .arg(field + 1)
                             .arg(opened)
                             .arg(last)
                             .arg(toTheEnd ? QStringLiteral(", the rest of the file") : QString()),
                         row, toTheEnd});
}

CsvFile::CsvFile(const QString& path) : d(std::make_unique<Impl>())
{
    d->setAside = &setAside_;
    d->path = path;
    d->file.setFileName(path);
    if (QFileInfo(path).isDir())
        throw DbError(kTextFileError, QStringLiteral("The file '%1' could not be opened (it is a folder)").arg(path));
    if (!d->file.open(QIODevice::ReadOnly))
        throw DbError(kTextFileError,
                      QStringLiteral("The file '%1' could not be opened (%2)").arg(path, d->file.errorString()));
    d->fileSize = d->file.size();
    d->chunk.resize(kChunk);
    d->start();
    d->initParser();
}

CsvFile::~CsvFile() = default;

qint64 CsvFile::line() const { return d->recordLine; }
char CsvFile::delimiter() const { return d->delim; }
CsvEncoding CsvFile::encoding() const
{
    return d->encoding == CsvEncoding::Utf8 && d->fallback > 0 ? CsvEncoding::Mixed : d->encoding;
}
bool CsvFile::hasUtf8Bom() const { return d->encoding == CsvEncoding::Utf8Bom; }
qint64 CsvFile::blankRows() const { return d->blank; }
qint64 CsvFile::fallbackFields() const { return d->fallback; }
qint64 CsvFile::bytesRead() const { return d->rawRead; }
qint64 CsvFile::size() const { return d->fileSize; }

bool CsvFile::next(CsvRecord& record)
{
    while (d->ready.empty() && !d->atEnd)
        d->fill();
    if (d->ready.empty())
        return false;
    record = std::move(d->ready.front().first);
    d->recordLine = d->ready.front().second;
    d->ready.pop_front();
    return true;
}

} // namespace kestrel
