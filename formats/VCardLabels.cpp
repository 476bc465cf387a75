// The labels of the vCard reader: numbers by their labels and types, extensions, alternatives.
#include "formats/VCardLabels.h"

#include <QRegularExpression>
#include <QStringList>

namespace kestrel::vcard {

namespace {

const QRegularExpression& extensionPattern()
{
    // "555-1234 x12", "555-1234 ext. 12", "(555) 123-4567 extension 3"
    static const QRegularExpression re(QStringLiteral("^(|.*[\\d\\s)])\\s*(?:x|ext\\.?|extension)[\\s.:]*(\\d+)$"),
                                       QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);
    return re;
}

} // namespace

QString withoutTelScheme(QString value)
{
    while (value.startsWith(QStringLiteral("tel:"), Qt::CaseInsensitive))
        value = value.mid(4).trimmed();
    return value;
}

void splitPhone(const QString& value, QString& number, QString& ext)
{
    static const QRegularExpression digits(QStringLiteral("^\\d+$"));
    number = value;
    ext.clear();
    if (value.startsWith(QStringLiteral("tel:"), Qt::CaseInsensitive)) {
        number = withoutTelScheme(value);
        const QStringList parts = number.split(u';');
        for (qsizetype i = 1; i < parts.size(); ++i)
            if (parts[i].startsWith(QStringLiteral("ext="), Qt::CaseInsensitive) && digits.match(parts[i].mid(4)).hasMatch()) {
                number = parts.front();
                ext = parts[i].mid(4);
                return;
            }
    }
    const auto m = extensionPattern().match(number);
    if (m.hasMatch()) {
        number = m.captured(1).trimmed();
        ext = m.captured(2);
    }
}

std::optional<PhoneKind> labelKind(QString label)
{
    if (label.startsWith(QStringLiteral("_$!<")) && label.endsWith(QStringLiteral(">!$_")))
        label = label.mid(4, label.size() - 8);
    label = label.trimmed().toLower();
    if (label.isEmpty())
        return std::nullopt;
    if (label.contains(QStringLiteral("fax")))
        return PhoneKind::Fax;
    if (label.contains(QStringLiteral("pager")))
        return PhoneKind::Pager;
    static const QStringList cell{"mobile", "iphone", "cell", "cellular", "cell phone", "mobile phone", "handy"};
    static const QStringList work{"work", "office", "business", "company", "work phone", "office phone"};
    static const QStringList home{"home", "private", "home phone"};
    if (cell.contains(label))
        return PhoneKind::Cell;
    if (work.contains(label))
        return PhoneKind::Work;
    if (home.contains(label))
        return PhoneKind::Home;
    if (label == u"main")
        return PhoneKind::Main;
    return PhoneKind::Untyped;
}

PhoneKind typeKind(const Property& p)
{
    if (p.hasType("FAX"))
        return PhoneKind::Fax;
    if (p.hasType("PAGER"))
        return PhoneKind::Pager;
    if (p.hasType("CELL") || p.hasType("MOBILE") || p.hasType("IPHONE"))
        return PhoneKind::Cell;
    if (p.hasType("WORK"))
        return PhoneKind::Work;
    if (p.hasType("HOME"))
        return PhoneKind::Home;
    if (p.hasType("MAIN"))
        return PhoneKind::Main;
    return PhoneKind::Untyped;
}

QString alternativeText(const Property& p)
{
    const QStringList parts = splitValue(textOf(p), u';');
    if (p.name == "N")
        return QStringList{parts.value(3), parts.value(1), parts.value(2), parts.value(0), parts.value(4)}
            .join(u' ').simplified();
    QStringList kept;
    for (const QString& part : parts)
        if (!part.trimmed().isEmpty())
            kept << part.trimmed();
    return kept.join(QStringLiteral(", "));
}

QString alternativeWhat(const QByteArray& name)
{
    if (name == "N" || name == "FN")
        return QStringLiteral("Name");
    if (name == "ORG")
        return QStringLiteral("Company");
    if (name == "ADR")
        return QStringLiteral("Address");
    if (name == "TITLE")
        return QStringLiteral("Job title");
    if (name == "NOTE")
        return QStringLiteral("Note");
    return QString::fromLatin1(name.left(1) + name.mid(1).toLower());
}

} // namespace kestrel::vcard
