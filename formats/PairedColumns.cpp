#include "formats/PairedColumns.h"

#include "data/modData.h"
#include "formats/VCardLabels.h"

#include <QRegularExpression>

#include <optional>

namespace kestrel {

namespace {

// "Phone 1 - Value" → "phone 1", the name its kind column shares.
QString pairStem(const QString& name, const QStringList& endings)
{
    const qsizetype dash = name.lastIndexOf(u'-');
    if (dash < 0)
        return {};
    const QString ending = name.mid(dash + 1).trimmed();
    for (const QString& e : endings)
        if (ending.compare(e, Qt::CaseInsensitive) == 0)
            return name.left(dash).simplified().toLower();
    return {};
}

int indexOfTarget(const QStringList& targets, const char* name)
{
    for (qsizetype i = 0; i < targets.size(); ++i)
        if (targets[i].compare(QLatin1String(name), Qt::CaseInsensitive) == 0)
            return int(i);
    return -1;
}

// The kind a Google-style type names: "* Mobile" (the star marks the preferred one), "Work Fax".
std::optional<vcard::PhoneKind> kindNamed(QString kind)
{
    kind = kind.trimmed();
    if (kind.startsWith(u'*'))
        kind = kind.mid(1).trimmed();
    return vcard::labelKind(kind);
}

QString described(const QString& source, const QString& kind)
{
    QString k = kind.trimmed();
    if (k.startsWith(u'*'))
        k = k.mid(1).trimmed();
    return k.isEmpty() ? source : QStringLiteral("%1 (%2)").arg(source, k);
}

} // namespace

bool isPhoneTarget(const QString& target)
{
    return target.compare(u"CellPh", Qt::CaseInsensitive) == 0 || target.compare(u"HomePh", Qt::CaseInsensitive) == 0 ||
           target.compare(u"WorkPh", Qt::CaseInsensitive) == 0;
}

QList<int> kindColumns(const QStringList& header)
{
    // In the languages the address books write their headings in.
    static const QStringList valueEndings{QStringLiteral("Value"), QStringLiteral("Wert"), QStringLiteral("Valeur"),
                                          QStringLiteral("Valor")};
    static const QStringList kindEndings{QStringLiteral("Type"),    QStringLiteral("Label"),   QStringLiteral("Typ"),
                                         QStringLiteral("Etikett"), QStringLiteral("Libellé"), QStringLiteral("Tipo"),
                                         QStringLiteral("Etiqueta")};
    QList<int> out(header.size(), -1);
    for (qsizetype i = 0; i < header.size(); ++i) {
        const QString stem = pairStem(header[i], valueEndings);
        if (stem.isEmpty())
            continue;
        for (qsizetype k = 0; k < header.size() && out[i] < 0; ++k)
            if (k != i && pairStem(header[k], kindEndings) == stem)
                out[i] = int(k);
    }
    return out;
}

QStringList placeRowValues(RowValues& row)
{
    QStringList said;
    QStringList toNotes;
    const int notesAt = indexOfTarget(row.targets, "Notes");
    const qsizetype n = row.values.size();
    for (qsizetype i = 0; i < n; ++i) {
        if (!row.multiValues || int(i) == notesAt || !row.values[i].contains(kMultiValueSeparator))
            continue;
        QStringList parts = row.values[i].split(kMultiValueSeparator);
        row.values[i] = parts.takeFirst().trimmed();
        for (const QString& p : std::as_const(parts))
            if (!p.trimmed().isEmpty())
                toNotes << QStringLiteral("%1: %2").arg(described(row.sources.value(i), row.kinds.value(i)), p.trimmed());
        said << QStringLiteral("%1 holds %2 values, the first kept and the others in Notes")
                    .arg(row.sources.value(i))
                    .arg(parts.size() + 1);
    }

    // Numbers with a kind leave the field their column is mapped to and are filed anew: those of
    // a kind with a field of its own first, so that a number without one never takes its place.
    struct Phone {
        qsizetype at;
        QString value;
        std::optional<vcard::PhoneKind> kind;
    };
    std::vector<Phone> phones;
    for (qsizetype i = 0; i < n; ++i) {
        if (!row.paired.value(i) || !isPhoneTarget(row.targets[i]))
            continue;
        if (!row.values[i].trimmed().isEmpty())
            phones.push_back({i, row.values[i], kindNamed(row.kinds[i])});
        row.values[i].clear();
    }
    const auto slotOf = [&](vcard::PhoneKind k) {
        switch (k) {
        case vcard::PhoneKind::Cell: return indexOfTarget(row.targets, "CellPh");
        case vcard::PhoneKind::Home: return indexOfTarget(row.targets, "HomePh");
        case vcard::PhoneKind::Work: return indexOfTarget(row.targets, "WorkPh");
        default: return -1;
        }
    };
    const auto file = [&](const Phone& p, int slot) {
        const QString& source = row.sources.value(p.at);
        if (slot >= 0 && row.values[slot].isEmpty()) {
            row.values[slot] = p.value;
            if (slot != int(p.at))
                said << QStringLiteral("%1 in %2 by its type").arg(described(source, row.kinds[p.at]), row.targets[slot]);
            return;
        }
        toNotes << QStringLiteral("%1: %2").arg(described(source, row.kinds[p.at]), p.value);
        said << QStringLiteral("%1 in Notes").arg(described(source, row.kinds[p.at]));
    };
    for (const Phone& p : phones)
        if (p.kind && slotOf(*p.kind) >= 0)
            file(p, slotOf(*p.kind));
    for (const Phone& p : phones) {
        if (p.kind && slotOf(*p.kind) >= 0)
            continue;
        const bool elsewhere = p.kind == vcard::PhoneKind::Fax || p.kind == vcard::PhoneKind::Pager;
        file(p, elsewhere ? -1 : int(p.at));
    }

    if (!toNotes.isEmpty() && notesAt >= 0) {
        QString& notes = row.values[notesAt];
        notes += (notes.isEmpty() ? QString() : QStringLiteral("\n")) + toNotes.join(u'\n');
    }
    return said;
}

QString contactTypeNamed(const QString& value)
{
    for (const QString& type : kContactTypes)
        if (value.trimmed().compare(type, Qt::CaseInsensitive) == 0)
            return type;
    return {};
}

} // namespace kestrel
