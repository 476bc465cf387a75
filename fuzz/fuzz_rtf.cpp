// The RTF reader: any bytes, however damaged, end in a document (or a refusal) in bounded time,
// and the document, its headers and footers can be laid out on pages.
#include "fuzz/FuzzSupport.h"
#include "printing/RtfReader.h"

#include <QTextDocument>

#include <cstdint>

using namespace kestrel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::makeApplication();
    QTextDocument doc;
    RtfReader reader;
    PageParts parts;
    if (!reader.read(QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size)), &doc, &parts))
        return 0;
    doc.setPageSize(QSizeF(624, 864)); // a letter page less one-inch margins, at 96 dots per inch
    (void)doc.pageCount();
    (void)doc.toPlainText();
    for (const auto& part : parts.parts) {
        if (!part)
            continue;
        part->setTextWidth(624);
        (void)part->size();
    }
    return 0;
}
