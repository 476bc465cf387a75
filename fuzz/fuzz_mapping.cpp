// The header split and the mapping lines: whatever names a header holds, mapping them and building
// the select list from the mapping lines selects exactly those columns, in that order, with the
// targets that were chosen; deleted fields are left out.
#include "data/Database.h"
#include "formats/CsvText.h"
#include "exchange/modImport.h"
#include "fuzz/FuzzSupport.h"

#include <cstdint>

using namespace kestrel;

namespace {

QByteArray quotedField(const QString& s)
{
    QByteArray v = s.toUtf8();
    v.replace("\"", "\"\"");
    return '"' + v + '"';
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const QString folder = fuzz::setUpProgramFolder();
    if (size == 0)
        return 0;
    // The first byte chooses which fields are deleted; the rest is the file.
    const uint8_t deleteMask = data[0];
    const QString path = folder + QStringLiteral("/head.csv");
    fuzz::writeBytes(path, data + 1, size - 1);
    QStringList names;
    try {
        names = readCsvHeader(path);
    } catch (const DbError&) {
        return 0;
    }
    if (names.size() > 200)
        return 0;

    // The same header with one row of known values under it.
    // With the mark the export writes: names full of NULs could otherwise pass for UTF-16.
    QByteArray file = "\xEF\xBB\xBF";
    QByteArray row;
    for (qsizetype i = 0; i < names.size(); ++i) {
        file += (i ? "," : "") + quotedField(names[i]);
        row += (i ? "," : "") + quotedField(QStringLiteral("value %1").arg(i));
    }
    file += "\r\n" + row + "\r\n";
    const QString csv = folder + QStringLiteral("/mapped.csv");
    fuzz::writeBytes(csv, reinterpret_cast<const uint8_t*>(file.constData()), size_t(file.size()));
    // The header must read back as the names it was written from.
    if (readCsvHeader(csv) != names)
        std::abort();

    QStringList entries;
    QStringList keptTargets;
    std::vector<int> keptColumns;
    for (qsizetype i = 0; i < names.size(); ++i) {
        const bool drop = (deleteMask >> (i % 8)) & 1 || keptTargets.size() == kMapTargets.size();
        const QString target = drop ? QStringLiteral("DELETE") : kMapTargets[keptTargets.size()];
        entries << FormatMapLine(names[i], target);
        if (!isDecidedEntry(entries.back()))
            std::abort();
        if (isDeletedEntry(entries.back()) != drop)
            std::abort();
        if (!drop) {
            keptTargets << target;
            keptColumns.push_back(int(i));
        }
    }
    // A mapping the import window would refuse never reaches the reader.
    if (!mappingProblem(entries).isEmpty())
        return 0;
    const QString list = BuildFieldList(entries);
    if (sTargetFields != keptTargets || sTargetList != keptTargets.join(u','))
        std::abort();
    try {
        TextQuery q(GetCsvFolder(csv), QStringLiteral("select ") + list + QStringLiteral(" from ") + GetCsvFileName(csv));
        if (q.fieldCount() != int(keptColumns.size()) || !q.next())
            std::abort();
        for (int c = 0; c < q.fieldCount(); ++c)
            fuzz::expectSame(QStringLiteral("column %1").arg(c), q.text(c),
                             QStringLiteral("value %1").arg(keptColumns[size_t(c)]));
        if (q.next())
            std::abort();
    } catch (const DbError& e) {
        std::fprintf(stderr, "the mapped header does not select: %s\n", e.what());
        std::abort();
    }
    return 0;
}
