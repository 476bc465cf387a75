#include "formats/SheetArchive.h"

#include "formats/SheetFile.h"

#include <QDir>
#include <QXmlStreamReader>

namespace kestrel {

namespace sheets {

namespace {
bool startsWith(const QString& path, const char* magic, qint64 n)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    return f.read(n) == QByteArray(magic, n);
}

// The relationships of a part: id → target, and type → target, with targets made absolute
// within the archive.
} // namespace

Relations readRelations(const Archive& zip, const QString& part)
{
    const QString folder = part.left(part.lastIndexOf(u'/') + 1);
    const QString relsPath = folder + QStringLiteral("_rels/") + part.mid(part.lastIndexOf(u'/') + 1) + QStringLiteral(".rels");
    Relations out;
    QXmlStreamReader xml(zip.read(relsPath));
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement || xml.name() != u"Relationship")
            continue;
        const QXmlStreamAttributes a = xml.attributes();
        if (a.value(QLatin1String("TargetMode")) == u"External")
            continue;
        QString target = a.value(QLatin1String("Target")).toString();
        target = target.startsWith(u'/') ? target.mid(1) : QDir::cleanPath(folder + target);
        const QString type = a.value(QLatin1String("Type")).toString();
        out.byId.insert(a.value(QLatin1String("Id")).toString(), target);
        out.byType.insert(type.mid(type.lastIndexOf(u'/') + 1), target);
    }
    return out;
}

QString workbookPart(const Archive& zip)
{
    const QString fromRels = readRelations(zip, QString()).byType.value(QStringLiteral("officeDocument"));
    if (!fromRels.isEmpty() && zip.has(fromRels))
        return fromRels;
    return zip.has(QStringLiteral("xl/workbook.xml")) ? QStringLiteral("xl/workbook.xml") : QString();
}

// The column of a cell reference ("C7" → 2); -1 without letters.

} // namespace sheets

using namespace sheets;

SheetKind sheetKind(const QString& path)
{
    if (startsWith(path, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8))
        refuse(QStringLiteral("The file '%1' is an Excel 97-2003 workbook (.xls) or a workbook protected by a "
                              "password, which the import cannot read. Please open it in your spreadsheet program "
                              "and save it without a password as an Excel workbook (.xlsx), an OpenDocument "
                              "spreadsheet (.ods) or CSV.")
                   .arg(nameOf(path)));
    if (!startsWith(path, "PK\x03\x04", 4))
        return SheetKind::None;
    const Archive zip(path);
    if (zip.has(QStringLiteral("mimetype"))) {
        const QByteArray type = zip.read(QStringLiteral("mimetype")).trimmed();
        if (type.startsWith("application/vnd.oasis.opendocument.spreadsheet")) {
            if (zip.read(QStringLiteral("META-INF/manifest.xml")).contains("encryption-data"))
                refuse(QStringLiteral("The spreadsheet '%1' is protected by a password, which the import cannot "
                                      "open. Please save it without a password and import it again.")
                           .arg(nameOf(path)));
            return SheetKind::Ods;
        }
    }
    if (!workbookPart(zip).isEmpty())
        return SheetKind::Xlsx;
    refuse(QStringLiteral("The file '%1' is a zip archive (such as a word-processor document), not a spreadsheet "
                          "or a CSV file. Please choose an Excel workbook (.xlsx), an OpenDocument spreadsheet (.ods) "
                          "or a CSV file.")
               .arg(nameOf(path)));
}


} // namespace kestrel
