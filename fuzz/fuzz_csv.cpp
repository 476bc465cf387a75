// The CSV text reader: any bytes end in records or a reported error, never a crash or a hang.
// Whatever it reads, in whatever encoding and delimiter, written back out by the quoting rules,
// reads back to the same records; the line of every record lies within the file.
#include "data/Database.h"
#include "formats/CsvText.h"
#include "fuzz/FuzzSupport.h"

#include <cstdint>
#include <vector>

using namespace kestrel;

namespace {

std::vector<CsvRecord> readAll(const QString& path)
{
    std::vector<CsvRecord> out;
    CsvFile file(path);
    CsvRecord r;
    qint64 lastLine = 0;
    while (file.next(r)) {
        // Lines only ever move forward.
        if (file.line() <= lastLine)
            std::abort();
        lastLine = file.line();
        out.push_back(r);
    }
    return out;
}

// A record of one empty field is a blank line, which the reader skips by design.
bool isBlankLine(const CsvRecord& r) { return r.size() == 1 && !r[0].has_value(); }

// Written back as the export writes for a spreadsheet: a UTF-8 mark first, so that the encoding
// is not guessed again; commas between fields, every value quoted.
QByteArray writeBack(const std::vector<CsvRecord>& records)
{
    QByteArray out = "\xEF\xBB\xBF";
    for (const CsvRecord& r : records) {
        if (isBlankLine(r))
            continue;
        for (size_t i = 0; i < r.size(); ++i) {
            if (i)
                out += ',';
            if (r[i]) {
                QByteArray v = r[i]->toUtf8();
                v.replace("\"", "\"\"");
                out += '"' + v + '"';
            }
        }
        out += "\r\n";
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const QString folder = fuzz::setUpProgramFolder();
    const QString path = folder + QStringLiteral("/in.csv");
    fuzz::writeBytes(path, data, size);
    std::vector<CsvRecord> first;
    try {
        first = readAll(path);
    } catch (const DbError& e) {
        if (e.description().isEmpty())
            std::abort(); // a failure the user could not be told about
        return 0;
    }
    const QByteArray again = writeBack(first);
    const QString copy = folder + QStringLiteral("/again.csv");
    fuzz::writeBytes(copy, reinterpret_cast<const uint8_t*>(again.constData()), size_t(again.size()));
    std::vector<CsvRecord> second;
    try {
        second = readAll(copy);
    } catch (const DbError& e) {
        std::fprintf(stderr, "written back, the records no longer read: %s\n", e.what());
        std::abort();
    }
    std::erase_if(first, isBlankLine);
    if (first != second) {
        std::fprintf(stderr, "records changed on the way back: %zu then %zu records\n", first.size(), second.size());
        std::abort();
    }
    return 0;
}
