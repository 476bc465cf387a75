// The vCard reader: any bytes end in contact records, never a crash or a hang. Whatever it reads,
// written out in either version, reads back to the same contacts.
#include "formats/VCard.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

using namespace kestrel;

namespace {

// The writer ends lines of a value with \n; a lone CR read from a file comes back as \n.
QStringList fields(const ContactRecord& r)
{
    QStringList f = {r.lastname, r.firstname, r.company, r.address, r.city,     r.st,      r.zip,
                     r.homeph,   r.cellph,    r.workph,  r.ext,     r.email,    r.contype, r.country,
                     r.jobtitle, r.website,   r.birthday, r.notes};
    for (QString& v : f)
        v.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(u'\r', u'\n');
    return f;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const std::vector<ContactRecord> first = readVCards(bytes);
    for (VCardVersion v : {VCardVersion::V4, VCardVersion::V3}) {
        const std::vector<ContactRecord> again = readVCards(writeVCards(first, v));
        if (again.size() != first.size()) {
            std::fprintf(stderr, "%zu cards read, %zu after writing them\n", first.size(), again.size());
            std::abort();
        }
        for (size_t i = 0; i < first.size(); ++i) {
            if (fields(first[i]) != fields(again[i])) {
                std::fprintf(stderr, "card %zu changed on the way back:\n%s\n%s\n", i,
                             fields(first[i]).join(u'|').toUtf8().constData(),
                             fields(again[i]).join(u'|').toUtf8().constData());
                std::abort();
            }
        }
    }
    return 0;
}
