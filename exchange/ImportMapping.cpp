// The mapping of a file's columns to contact fields: the lines of the mapping list, the column
// list they build, and the mapping remembered for a header seen before.
#include "exchange/modImport.h"

#include "data/ContactFields.h"
#include "data/Globals.h"
#include "formats/ImportRules.h"
#include "platform/Platform.h"

#include <QCryptographicHash>
#include <QSet>

#include <algorithm>

namespace kestrel {

const QStringList kMapTargets = [] {
    QStringList targets;
    for (int f = 0; f < cf::kMapped; ++f)
        targets << QLatin1String(contactFields()[f].target);
    return targets;
}();

const QStringList kCsvTargets = kMapTargets + QStringList{QLatin1String(contactFields()[cf::ConType].target)};

QStringList sSourceFields;
QStringList sTargetFields;
QString sTargetList;

namespace {

const QString kMark = QStringLiteral("***");
const QString kDelete = QStringLiteral("DELETE");

bool isBareChar(QChar c) { return c.isLetterOrNumber() || c == u'_'; }

} // namespace

QString FormatMapLine(const QString& source, const QString& target)
{
    return source.leftJustified(25, u' ') + kMark + QString(10, u' ') + target.leftJustified(15, u' ');
}

bool isDecidedEntry(const QString& entry) { return entry.contains(kMark); }

bool isDeletedEntry(const QString& entry) { return entry.trimmed().endsWith(kDelete); }

QString entrySource(const QString& entry) { return entry.left(entry.lastIndexOf(kMark)).trimmed(); }

QString sourceColumn(const QString& name)
{
    bool bare = !name.isEmpty() && !name.at(0).isDigit();
    for (const QChar c : name)
        bare = bare && isBareChar(c);
    if (bare)
        return name;
    QString alias = name;
    alias.replace(u' ', u'_');
    alias.remove(u'-');
    QString clean;
    for (const QChar c : std::as_const(alias))
        if (isBareChar(c))
            clean += c;
    if (clean.isEmpty() || clean.at(0).isDigit())
        clean.prepend(u'F');
    QString inside = name;
    inside.replace(u']', QStringLiteral("]]"));
    return u'[' + inside + QStringLiteral("] as ") + clean;
}

QString BuildFieldList(const QStringList& entries)
{
    sSourceFields.clear();
    sTargetFields.clear();
    for (const QString& entry : entries) {
        if (!isDecidedEntry(entry) || isDeletedEntry(entry))
            continue;
        // The target never holds the mark, so the last one is the line's own even when the
        // source name happens to contain it.
        const qsizetype at = entry.lastIndexOf(kMark);
        sSourceFields << sourceColumn(entry.left(at).trimmed());
        sTargetFields << entry.mid(at + kMark.size()).trimmed();
    }
    sTargetList = sTargetFields.join(u',');
    return sSourceFields.join(u',');
}

QString mappingProblem(const QStringList& entries)
{
    BuildFieldList(entries);
    if (sTargetFields.isEmpty())
        return QStringLiteral("Every field is marked 'DELETE', so there is nothing to import. Please map at least "
                              "one field to a contact field.");
    // The reader tells fields of one name apart only by their order: the first request for the
    // name gets the first copy. A copy kept after a deleted one would be filled from the deleted one.
    QStringList deleted;
    for (const QString& entry : entries) {
        const QString name = entry.left(entry.lastIndexOf(kMark)).trimmed();
        const auto sameName = [&name](const QString& other) { return other.compare(name, Qt::CaseInsensitive) == 0; };
        if (isDeletedEntry(entry))
            deleted << name;
        else if (std::any_of(deleted.cbegin(), deleted.cend(), sameName))
            return QStringLiteral("The CSV field %1 appears more than once, and an earlier copy of it is marked "
                                  "'DELETE'. Fields of the same name are read in the order they stand, so please "
                                  "map the first copy and delete a later one instead.")
                .arg(name);
    }
    QSet<QString> seen;
    for (const QString& target : std::as_const(sTargetFields)) {
        if (seen.contains(target.toLower()))
            return QStringLiteral("The contact field %1 is mapped from more than one CSV field. Please map each "
                                  "contact field from one CSV field only.")
                .arg(target);
        seen.insert(target.toLower());
    }
    return {};
}

QString GetCsvFileName(const QString& path) { return path.mid(path.lastIndexOf(u'/') + 1); }

QString GetCsvFolder(const QString& path) { return path.left(path.lastIndexOf(u'/') + 1); }


namespace {
QString mappingKey(const QStringList& header)
{
    QStringList folded;
    for (const QString& name : header)
        folded << foldForMatch(name);
    return QString::fromLatin1(
        QCryptographicHash::hash(folded.join(u'\x1f').toUtf8(), QCryptographicHash::Sha1).toHex());
}
const QString kMappingSection = QStringLiteral("ImportMappings");
} // namespace

QStringList rememberedMapping(const QStringList& header)
{
    const QString stored = platform().getSetting(kAppTitle, kMappingSection, mappingKey(header));
    if (stored.isEmpty())
        return {};
    const QStringList targets = stored.split(u'|');
    if (targets.size() != header.size())
        return {};
    for (const QString& t : targets)
        if (t != u"DELETE" && !kCsvTargets.contains(t))
            return {};
    return targets;
}

void rememberMapping(const QStringList& header, const QStringList& targets)
{
    platform().saveSetting(kAppTitle, kMappingSection, mappingKey(header), targets.join(u'|'));
}
} // namespace kestrel
