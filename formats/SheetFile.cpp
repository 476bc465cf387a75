#include "formats/SheetFile.h"

#include "data/Database.h"
#include "formats/SheetArchive.h"
#include "formats/SheetValues.h"

#include <QXmlStreamReader>

#include <charconv>
#include <vector>

namespace kestrel {

using namespace sheets;

namespace {

const QString kOffice = QStringLiteral("urn:oasis:names:tc:opendocument:xmlns:office:1.0");
const QString kTable = QStringLiteral("urn:oasis:names:tc:opendocument:xmlns:table:1.0");
const QString kText = QStringLiteral("urn:oasis:names:tc:opendocument:xmlns:text:1.0");

int columnOf(QStringView ref)
{
    int col = 0;
    qsizetype i = 0;
    for (; i < ref.size() && ref[i].isLetter() && i < 4; ++i)
        col = col * 26 + (ref[i].toUpper().unicode() - 'A' + 1);
    return i == 0 ? -1 : col - 1;
}

qint64 toInt(QStringView s, qint64 fallback)
{
    bool ok = false;
    const qint64 v = s.toLongLong(&ok);
    return ok ? v : fallback;
}

} // namespace
struct SheetFile::Impl {
    QString path;
    SheetKind kind = SheetKind::None;
    std::unique_ptr<Archive> zip;
    zip_file_t* entry = nullptr;
    qint64 entrySize = 0;
    qint64 entryRead = 0;
    bool entryDone = false;
    QByteArray chunk;
    QXmlStreamReader xml;
    QString sheetName;

    // .xlsx: the shared strings, the number format of each cell style, the date system.
    std::vector<QString> shared;
    std::vector<QString> styleFormats;
    bool date1904 = false;

    // Where the reading stands.
    qint64 row = 0;          // the row number of the record last returned
    qint64 lastSeen = 0;     // the last row number read, blank or not
    qint64 blank = 0;
    int odsDepth = 0;        // elements open inside the .ods table (row groups, header rows)
    int width = -1;          // the header row's, once read
    bool done = false;
    CsvRecord repeated;      // an .ods row that the file repeats
    qint64 repeatLeft = 0;

    ~Impl()
    {
        if (entry)
            zip_fclose(entry);
    }

    [[noreturn]] void damaged(const QString& why) const
    {
        refuse(QStringLiteral("The spreadsheet '%1' could not be read: %2").arg(nameOf(path), why));
    }

    // The next piece of the sheet's XML for the reader; false at its end.
    bool feed()
    {
        if (entryDone)
            return false;
        const zip_int64_t n = zip_fread(entry, chunk.data(), zip_uint64_t(chunk.size()));
        if (n < 0)
            damaged(QString::fromUtf8(zip_file_strerror(entry)));
        if (n == 0) {
            entryDone = true;
            return false;
        }
        entryRead += n;
        xml.addData(QByteArray(chunk.constData(), qsizetype(n)));
        return true;
    }

    QXmlStreamReader::TokenType token()
    {
        for (;;) {
            const QXmlStreamReader::TokenType t = xml.readNext();
            if (t != QXmlStreamReader::Invalid)
                return t;
            if (xml.error() == QXmlStreamReader::PrematureEndOfDocumentError && feed())
                continue;
            if (xml.error() == QXmlStreamReader::PrematureEndOfDocumentError)
                damaged(QStringLiteral("the sheet ends part way"));
            damaged(QStringLiteral("%1 at line %2 of its XML").arg(xml.errorString()).arg(xml.lineNumber()));
        }
    }

    void openEntry(const QString& part)
    {
        const zip_int64_t index = zip->find(part);
        if (index < 0)
            damaged(QStringLiteral("its part %1 is missing").arg(part));
        entrySize = qint64(zip->sizeOf(index));
        entry = zip->open(index);
        chunk.resize(kChunk);
    }

    // The text of the element just opened, up to its end, leaving out the text of the child
    // elements named in skip and, when within is given, any text outside the elements of that
    // name (the layout of a file written with line breaks between its elements); line breaks
    // between paragraphs (ods text:p, text:h) as "\n".
    QString elementText(std::initializer_list<const char16_t*> skip = {}, const char16_t* within = nullptr);

    void openXlsx();
    void openOds();
    // The cells of the next row with a value; false at the end of the sheet. *rowNo is its number.
    bool nextXlsxRow(CsvRecord& cells, qint64* rowNo);
    bool nextOdsRow(CsvRecord& cells, qint64* rowNo, qint64* repeat);
    QString xlsxCellValue(QStringView type, int style, const QString& v, const QString& inlineText) const;
};

QString SheetFile::Impl::elementText(std::initializer_list<const char16_t*> skip, const char16_t* within)
{
    QString out;
    int depth = 1;
    int skipping = 0; // depth at which a skipped child began
    int inside = within ? 0 : 1;
    int paragraphs = 0;
    const auto holdsText = [within](QStringView name) {
        return within && (name == QStringView(within) || (QStringView(within) == u"p" && name == u"h"));
    };
    while (depth > 0) {
        const QXmlStreamReader::TokenType t = token();
        if (t == QXmlStreamReader::StartElement) {
            ++depth;
            if (skipping)
                continue;
            const QStringView name = xml.name();
            bool skipped = false;
            for (const char16_t* s : skip)
                skipped = skipped || name == QStringView(s);
            if (skipped) {
                skipping = depth;
                continue;
            }
            inside += holdsText(name);
            if (name == u"p" || name == u"h") {
                if (paragraphs++ > 0)
                    out += u'\n';
            } else if (name == u"s") {
                out += QString(int(std::clamp<qint64>(toInt(xml.attributes().value(kText, QLatin1String("c")), 1), 1, 1000)), u' ');
            } else if (name == u"tab") {
                out += u'\t';
            } else if (name == u"line-break") {
                out += u'\n';
            }
        } else if (t == QXmlStreamReader::EndElement) {
            if (skipping == depth)
                skipping = 0;
            else if (!skipping)
                inside -= holdsText(xml.name());
            --depth;
        } else if (t == QXmlStreamReader::Characters && !skipping && inside > 0) {
            out += xml.text();
        } else if (t == QXmlStreamReader::EndDocument) {
            damaged(QStringLiteral("the sheet ends part way"));
        }
    }
    return out;
}

void SheetFile::Impl::openXlsx()
{
    const QString book = workbookPart(*zip);
    const Relations rels = readRelations(*zip, book);
    QString sheetPart;
    {
        QXmlStreamReader x(zip->read(book));
        while (!x.atEnd()) {
            if (x.readNext() != QXmlStreamReader::StartElement)
                continue;
            const QXmlStreamAttributes a = x.attributes();
            if (x.name() == u"workbookPr") {
                const QStringView v = a.value(QLatin1String("date1904"));
                date1904 = v == u"1" || v == u"true";
            } else if (x.name() == u"sheet" && sheetPart.isEmpty()) {
                // The first sheet a person sees: hidden ones are passed over.
                if (a.value(QLatin1String("state")) == u"hidden" || a.value(QLatin1String("state")) == u"veryHidden")
                    continue;
                for (const QXmlStreamAttribute& attr : a)
                    if (attr.name() == u"id")
                        sheetPart = rels.byId.value(attr.value().toString());
                sheetName = a.value(QLatin1String("name")).toString();
            }
        }
        if (x.hasError())
            damaged(QStringLiteral("its workbook part is not valid XML (%1)").arg(x.errorString()));
    }
    if (sheetPart.isEmpty())
        damaged(QStringLiteral("it names no sheet"));

    // Styles: the number format of each cell style, by the style's position.
    QHash<int, QString> customFormats;
    if (const QByteArray styles = zip->read(rels.byType.value(QStringLiteral("styles"))); !styles.isEmpty()) {
        QXmlStreamReader x(styles);
        bool inCellXfs = false;
        while (!x.atEnd()) {
            const QXmlStreamReader::TokenType t = x.readNext();
            if (t == QXmlStreamReader::EndElement && x.name() == u"cellXfs")
                inCellXfs = false;
            if (t != QXmlStreamReader::StartElement)
                continue;
            const QXmlStreamAttributes a = x.attributes();
            if (x.name() == u"numFmt")
                customFormats.insert(int(toInt(a.value(QLatin1String("numFmtId")), -1)),
                                     a.value(QLatin1String("formatCode")).toString());
            else if (x.name() == u"cellXfs")
                inCellXfs = true;
            else if (x.name() == u"xf" && inCellXfs) {
                const int id = int(toInt(a.value(QLatin1String("numFmtId")), 0));
                styleFormats.push_back(customFormats.contains(id) ? customFormats.value(id) : builtinNumberFormat(id));
            }
        }
    }

    // Shared strings: the text of each, its runs joined, its phonetic guides left out.
    if (const QByteArray strings = zip->read(rels.byType.value(QStringLiteral("sharedStrings"))); !strings.isEmpty()) {
        QXmlStreamReader x(strings);
        QString current;
        bool inItem = false, inText = false;
        int phonetic = 0;
        while (!x.atEnd()) {
            const QXmlStreamReader::TokenType t = x.readNext();
            if (t == QXmlStreamReader::StartElement) {
                if (x.name() == u"si") {
                    inItem = true;
                    current.clear();
                } else if (x.name() == u"rPh") {
                    ++phonetic;
                } else if (x.name() == u"t") {
                    inText = true;
                }
            } else if (t == QXmlStreamReader::EndElement) {
                if (x.name() == u"si") {
                    shared.push_back(unescapeSheetText(current));
                    inItem = false;
                } else if (x.name() == u"rPh") {
                    --phonetic;
                } else if (x.name() == u"t") {
                    inText = false;
                }
            } else if (t == QXmlStreamReader::Characters && inItem && inText && phonetic == 0) {
                current += x.text();
            }
        }
        if (x.hasError())
            damaged(QStringLiteral("its shared strings are not valid XML (%1)").arg(x.errorString()));
    }
    openEntry(sheetPart);
}

void SheetFile::Impl::openOds()
{
    openEntry(QStringLiteral("content.xml"));
    // Up to the first table of the spreadsheet.
    for (;;) {
        const QXmlStreamReader::TokenType t = token();
        if (t == QXmlStreamReader::EndDocument)
            damaged(QStringLiteral("it holds no sheet"));
        if (t == QXmlStreamReader::StartElement && xml.name() == u"table" && xml.namespaceUri() == kTable) {
            sheetName = xml.attributes().value(kTable, QLatin1String("name")).toString();
            return;
        }
    }
}

QString SheetFile::Impl::xlsxCellValue(QStringView type, int style, const QString& v, const QString& inlineText) const
{
    if (type == u"s") {
        const qint64 i = toInt(v, -1);
        return i >= 0 && i < qint64(shared.size()) ? shared[size_t(i)] : QString();
    }
    if (type == u"inlineStr")
        return unescapeSheetText(inlineText);
    if (type == u"str" || type == u"e")
        return unescapeSheetText(v);
    if (type == u"b")
        return v.trimmed() == u"1" ? QStringLiteral("TRUE") : QStringLiteral("FALSE");
    if (type == u"d")
        return isoDateText(v);
    const QByteArray bytes = v.trimmed().toLatin1();
    if (bytes.isEmpty())
        return QString();
    double number = 0;
    const auto [end, ec] = std::from_chars(bytes.constData(), bytes.constData() + bytes.size(), number);
    if (ec != std::errc() || end != bytes.constData() + bytes.size())
        return v; // not a number after all: the text as it stands
    const QString format = style >= 0 && style < int(styleFormats.size()) ? styleFormats[size_t(style)] : QString();
    return sheetNumberText(number, format, date1904);
}

bool SheetFile::Impl::nextXlsxRow(CsvRecord& cells, qint64* rowNo)
{
    for (;;) {
        const QXmlStreamReader::TokenType t = token();
        if (t == QXmlStreamReader::EndDocument)
            return false;
        if (t == QXmlStreamReader::EndElement && xml.name() == u"sheetData")
            return false;
        if (t != QXmlStreamReader::StartElement || xml.name() != u"row")
            continue;
        const qint64 stated = toInt(xml.attributes().value(QLatin1String("r")), 0);
        *rowNo = stated > lastSeen ? stated : lastSeen + 1;
        cells.clear();
        int col = -1;
        for (;;) {
            const QXmlStreamReader::TokenType c = token();
            if (c == QXmlStreamReader::EndElement && xml.name() == u"row")
                break;
            if (c != QXmlStreamReader::StartElement || xml.name() != u"c")
                continue;
            const QXmlStreamAttributes a = xml.attributes();
            const int at = columnOf(a.value(QLatin1String("r")));
            col = at > col ? at : col + 1;
            const QString type = a.value(QLatin1String("t")).toString();
            const int style = int(toInt(a.value(QLatin1String("s")), 0));
            QString v, inlineText;
            // <v> the value, <is> an inline string, <f> a formula (its value is in <v>).
            for (int depth = 1; depth > 0;) {
                const QXmlStreamReader::TokenType e = token();
                if (e == QXmlStreamReader::EndElement) {
                    --depth;
                } else if (e == QXmlStreamReader::StartElement) {
                    if (xml.name() == u"v") {
                        v = elementText();
                    } else if (xml.name() == u"is") {
                        inlineText = elementText({u"rPh"}, u"t");
                    } else {
                        ++depth;
                    }
                }
            }
            if (col >= kMaxSheetColumns)
                continue;
            const QString value = xlsxCellValue(type, style, v, inlineText);
            if (value.isEmpty())
                continue;
            if (cells.size() <= size_t(col))
                cells.resize(size_t(col) + 1);
            cells[size_t(col)] = value;
        }
        lastSeen = *rowNo;
        return true;
    }
}

bool SheetFile::Impl::nextOdsRow(CsvRecord& cells, qint64* rowNo, qint64* repeat)
{
    // Within the table, row groups and header rows hold rows too.
    for (;;) {
        const QXmlStreamReader::TokenType t = token();
        if (t == QXmlStreamReader::EndDocument)
            return false;
        if (t == QXmlStreamReader::EndElement) {
            if (odsDepth == 0)
                return false; // the end of the first table
            --odsDepth;
            continue;
        }
        if (t != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() != u"table-row") {
            ++odsDepth;
            continue;
        }
        *repeat = std::clamp<qint64>(toInt(xml.attributes().value(kTable, QLatin1String("number-rows-repeated")), 1), 1,
                                     kMaxSheetRows);
        *rowNo = lastSeen + 1;
        cells.clear();
        qint64 emptyRun = 0; // empty cells not yet placed: only a value after them places them
        for (;;) {
            const QXmlStreamReader::TokenType c = token();
            if (c == QXmlStreamReader::EndElement && xml.name() == u"table-row")
                break;
            if (c != QXmlStreamReader::StartElement)
                continue;
            if (xml.name() != u"table-cell" && xml.name() != u"covered-table-cell") {
                continue;
            }
            const QXmlStreamAttributes a = xml.attributes();
            const qint64 times = std::clamp<qint64>(toInt(a.value(kTable, QLatin1String("number-columns-repeated")), 1), 1,
                                                    kMaxSheetColumns);
            const QString type = a.value(kOffice, QLatin1String("value-type")).toString();
            QString shown = elementText({u"annotation"}, u"p");
            // The text a sheet stores beside a value is the value as it shows it; a date reads as
            // ISO 8601, and a number in scientific form in full.
            if (type == u"date")
                shown = isoDateText(a.value(kOffice, QLatin1String("date-value")));
            else if (type == u"float" && (shown.contains(u'E') || shown.contains(u'e') || shown.isEmpty()))
                shown = plainSheetNumber(a.value(kOffice, QLatin1String("value")).toDouble());
            if (shown.isEmpty()) {
                emptyRun += times;
                continue;
            }
            const qint64 at = qint64(cells.size()) + emptyRun;
            emptyRun = 0;
            if (at >= kMaxSheetColumns)
                continue;
            cells.resize(size_t(at));
            for (qint64 k = 0; k < times && at + k < kMaxSheetColumns; ++k)
                cells.emplace_back(shown);
        }
        lastSeen += *repeat;
        return true;
    }
}

SheetFile::SheetFile(const QString& path, SheetKind kind) : d(std::make_unique<Impl>())
{
    d->path = path;
    d->kind = kind;
    d->zip = std::make_unique<Archive>(path);
    d->xml.setNamespaceProcessing(true);
    if (kind == SheetKind::Xlsx)
        d->openXlsx();
    else
        d->openOds();
}

SheetFile::~SheetFile() = default;

bool SheetFile::next(CsvRecord& record)
{
    if (d->repeatLeft > 0) {
        --d->repeatLeft;
        ++d->row;
        record = d->repeated;
        return true;
    }
    if (d->done)
        return false;
    CsvRecord cells;
    for (;;) {
        qint64 rowNo = 0, repeat = 1;
        const bool more = d->kind == SheetKind::Xlsx ? d->nextXlsxRow(cells, &rowNo) : d->nextOdsRow(cells, &rowNo, &repeat);
        if (!more || rowNo > kMaxSheetRows) {
            d->done = true;
            return false;
        }
        if (cells.empty())
            continue;
        // Empty rows count as blank ones only where a row with values follows them: a sheet
        // ends in a million empty ones.
        d->blank += rowNo - d->row - 1;
        if (d->width < 0)
            d->width = int(cells.size());
        else if (int(cells.size()) < d->width)
            cells.resize(size_t(d->width));
        d->row = rowNo;
        record = cells;
        if (repeat > 1) {
            d->repeated = std::move(cells);
            d->repeatLeft = std::min(repeat, kMaxSheetRows - rowNo + 1) - 1;
        }
        return true;
    }
}

qint64 SheetFile::line() const { return d->row; }
qint64 SheetFile::blankRows() const { return d->blank; }
qint64 SheetFile::bytesRead() const { return d->entryRead; }
qint64 SheetFile::size() const { return d->entrySize; }
QString SheetFile::sheetName() const { return d->sheetName; }

std::unique_ptr<RecordFile> openRecordFile(const QString& path)
{
    const SheetKind kind = sheetKind(path);
    if (kind == SheetKind::None)
        return std::make_unique<CsvFile>(path);
    return std::make_unique<SheetFile>(path, kind);
}

} // namespace kestrel
