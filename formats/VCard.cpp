#include "formats/VCard.h"

#include "data/ContactFields.h"
#include "data/modData.h"
#include "formats/VCardLabels.h"
#include "formats/VCardLine.h"

#include <QHash>
#include <QLocale>

#include <optional>

namespace kestrel {

namespace {

using namespace vcard;

class CardBuilder {
public:
    explicit CardBuilder(int line) { r.line = line; }

    // A card's lines in file order. Of the lines that give one value in several languages
    // (ALTID), the one without a LANGUAGE is kept, else the one in language, else the first; the
    // others are listed in the notes. A number's label (its group's X-ABLabel) may come after it.
    void addAll(const std::vector<Property>& props, const QString& language)
    {
        QHash<QByteArray, qsizetype> chosen; // name;altid -> the line kept
        for (qsizetype i = 0; i < qsizetype(props.size()); ++i) {
            const Property& p = props[size_t(i)];
            if (p.name == "X-ABLABEL" && !p.group.isEmpty())
                labels.insert(p.group, unescape(textOf(p)));
            else if (p.name == "KIND")
                organizationCard = organizationCard || unescape(textOf(p)).trimmed().compare(u"org", Qt::CaseInsensitive) == 0;
            else if (p.name == "X-ABSHOWAS") // the mark of a company card in address books that write 3.0
                organizationCard = organizationCard || unescape(textOf(p)).trimmed().compare(u"company", Qt::CaseInsensitive) == 0;
            if (p.altId.isEmpty())
                continue;
            const QByteArray key = p.name + ';' + p.altId;
            const auto rank = [&](const Property& q) {
                return q.language.isEmpty() ? 0 : q.language.split('-').front() == language.toLatin1() ? 1 : 2;
            };
            const auto it = chosen.constFind(key);
            if (it == chosen.cend() || rank(p) < rank(props[size_t(*it)]))
                chosen.insert(key, i);
        }
        for (qsizetype i = 0; i < qsizetype(props.size()); ++i) {
            const Property& p = props[size_t(i)];
            if (!p.altId.isEmpty() && chosen.value(p.name + ';' + p.altId) != i) {
                const QString text = alternativeText(p);
                const QString line = QStringLiteral("%1 (%2): %3")
                                         .arg(alternativeWhat(p.name),
                                              p.language.isEmpty() ? QStringLiteral("also") : QString::fromLatin1(p.language),
                                              text);
                if (!text.isEmpty() && !alternatives.contains(line))
                    alternatives << line;
                continue;
            }
            add(p);
        }
    }

    void add(const Property& p)
    {
        current = p.line;
        if (p.name == "N") {
            const QStringList n = splitValue(textOf(p), u';');
            r.lastname = n.value(0);
            r.firstname = n.value(1);
            if (!n.value(2).isEmpty())
                r.firstname += (r.firstname.isEmpty() ? QString() : QStringLiteral(" ")) + n.value(2);
            hasName = !r.lastname.isEmpty() || !r.firstname.isEmpty();
            from({"lastname", "firstname"});
        } else if (p.name == "FN") {
            fullName = unescape(textOf(p));
            from({"fn"});
        } else if (p.name == "UID") {
            if (r.uid.isEmpty()) {
                r.uid = unescape(textOf(p)).trimmed();
                from({"uid"});
            }
        } else if (p.name == "ORG") {
            addOrganization(splitValue(textOf(p), u';'));
            from({"company"});
        } else if (p.name == "TITLE") {
            if (r.jobtitle.isEmpty())
                from({"jobtitle"});
            keepFirst(r.jobtitle, unescape(textOf(p)), QStringLiteral("job title"));
        } else if (p.name == "URL") {
            // A URI, written without text escapes by most programs; it holds no line break.
            if (r.website.isEmpty())
                from({"website"});
            keepFirst(r.website, textOf(p).replace(u'\r', u' ').replace(u'\n', u' ').trimmed(), QStringLiteral("web site"));
        } else if (p.name == "BDAY") {
            if (r.birthday.isEmpty())
                from({"birthday"});
            addBirthday(p);
        } else if (p.name == "NOTE") {
            // Every note of the card is joined into the notes, so each of their lines gave them.
            if (origins.contains("notes"))
                origins["notes"].more << current;
            else
                from({"notes"});
            const QString note = unescape(textOf(p));
            if (!note.isEmpty())
                r.notes += (r.notes.isEmpty() ? QString() : QStringLiteral("\n\n")) + note;
        } else if (p.name == "ADR") {
            const QStringList a = splitValue(textOf(p), u';');
            const bool work = p.hasType("WORK");
            if (haveAddress && (!work || addressIsWork)) {
                noteLeftOut(QStringLiteral("address"), a.mid(0, 7).join(u' ').simplified());
                return;
            }
            if (haveAddress)
                noteLeftOut(QStringLiteral("address"),
                            QStringList{r.address, r.city, r.st, r.zip, r.country}.join(u' ').simplified());
            QString street = a.value(2);
            for (const QString& extra : {a.value(1), a.value(0)})
                if (!extra.isEmpty())
                    street += (street.isEmpty() ? QString() : QStringLiteral(", ")) + extra;
            r.address = street;
            r.city = a.value(3);
            r.st = a.value(4);
            r.zip = a.value(5);
            r.country = a.value(6);
            haveAddress = true;
            addressIsWork = work;
            from({"address", "city", "st", "zip", "country"});
        } else if (p.name == "TEL") {
            addPhone(p);
        } else if (p.name == "EMAIL") {
            const QString e = unescape(textOf(p));
            if (r.email.isEmpty()) {
                r.email = e;
                from({"email"});
            } else
                noteLeftOut(QStringLiteral("e-mail address"), e);
        } else if (p.name == "CATEGORIES") {
            for (const QString& c : splitValue(textOf(p), u','))
                if (r.contype.isEmpty() && kContactTypes.contains(c.trimmed())) {
                    r.contype = c.trimmed();
                    from({"contype"});
                }
        }
    }

    ContactRecord finish()
    {
        // A card for a firm (KIND:org, or a company and no name of a person) is a company alone;
        // a name it shows that is not the company's is kept in the notes.
        const bool firm = organizationCard || (!hasName && !organization.trimmed().isEmpty());
        if (firm) {
            const QString shown = hasName ? (r.firstname + u' ' + r.lastname).trimmed() : fullName.trimmed();
            r.lastname.clear();
            r.firstname.clear();
            if (r.company.isEmpty())
                r.company = shown;
            else if (!shown.isEmpty() && shown != organization.trimmed() && shown != r.company)
                r.notes += (r.notes.isEmpty() ? QString() : QStringLiteral("\n")) + QStringLiteral("Name on the card: ") + shown;
        }
        placePhones(firm);
        // A card without a structured name: the formatted name split at its last blank.
        if (!firm && !hasName && !fullName.trimmed().isEmpty()) {
            const QString f = fullName.trimmed();
            const qsizetype blank = f.lastIndexOf(u' ');
            r.lastname = blank < 0 ? f : f.mid(blank + 1);
            r.firstname = blank < 0 ? QString() : f.left(blank).trimmed();
        }
        // A department the company field has no room for is kept in the notes.
        if (!department.isEmpty())
            r.notes += (r.notes.isEmpty() ? QString() : QStringLiteral("\n")) + QStringLiteral("Department: ") + department;
        if (!alternatives.isEmpty())
            r.notes += (r.notes.isEmpty() ? QString() : QStringLiteral("\n")) + alternatives.join(u'\n');
        return std::move(r);
    }

    CardOrigins origins;

private:
    // The line being read gave these fields.
    void from(std::initializer_list<const char*> fields)
    {
        for (const char* f : fields)
            origins.insert(QByteArray(f), current);
    }

    // ORG:Company;Department;Unit. The department stays with the company ("Company, Department")
    // where the company field holds both.
    void addOrganization(const QStringList& org)
    {
        r.company = organization = org.value(0);
        QStringList units;
        for (qsizetype i = 1; i < org.size(); ++i)
            if (!org[i].trimmed().isEmpty())
                units << org[i].trimmed();
        if (units.isEmpty())
            return;
        const QString joined = units.join(QStringLiteral(", "));
        const QString both = r.company.isEmpty() ? joined : r.company + QStringLiteral(", ") + joined;
        if (both.size() <= contactFields()[cf::Company].size) {
            r.company = both;
            department.clear();
        } else {
            department = joined;
        }
    }

    void keepFirst(QString& slot, const QString& value, const QString& what)
    {
        if (value.isEmpty())
            return;
        if (slot.isEmpty())
            slot = value;
        else
            noteLeftOut(what, value);
    }

    void addBirthday(const Property& p)
    {
        const QString raw = unescape(textOf(p)).trimmed();
        std::optional<QString> day = parseBirthday(raw);
        // Some address books write a birthday without a year as that year (X-APPLE-OMIT-YEAR=1604).
        if (day && !p.omitYear.isEmpty() && day->startsWith(QString::fromLatin1(p.omitYear) + u'-'))
            day = QStringLiteral("--") + day->mid(5);
        if (!day) {
            r.problems += QStringLiteral("birthday not kept, it is not a day of the calendar: %1").arg(raw);
            return;
        }
        keepFirst(r.birthday, *day, QStringLiteral("birthday"));
    }


    void noteLeftOut(const QString& what, const QString& value)
    {
        r.problems += QStringLiteral("further %1 not kept: %2").arg(what, value);
    }

    void addPhone(const Property& p)
    {
        const auto label = labelKind(labels.value(p.group));
        phones.push_back({unescape(textOf(p)).trimmed(), p.group.isEmpty() || !label ? typeKind(p) : *label, p.line});
    }

    struct Phone {
        QString value;
        PhoneKind kind;
        CardLine line;
    };

    // Numbers of a known kind first, so that an untyped number listed before them never takes
    // their place; then a card's main number (a firm's work number); then the untyped ones, a
    // firm's to its work number first, a person's to home.
    void placePhones(bool firm)
    {
        for (const Phone& ph : phones)
            if (ph.kind == PhoneKind::Fax || ph.kind == PhoneKind::Pager)
                r.problems += QStringLiteral("%1 number not kept: %2")
                                  .arg(ph.kind == PhoneKind::Fax ? QStringLiteral("fax") : QStringLiteral("pager"), ph.value);
        for (const Phone& ph : phones) {
            if (ph.kind == PhoneKind::Cell)
                placePhone(ph, {&r.cellph});
            else if (ph.kind == PhoneKind::Work)
                placePhone(ph, {&r.workph});
            else if (ph.kind == PhoneKind::Home)
                placePhone(ph, {&r.homeph});
        }
        const std::initializer_list<QString*> firmOrder{&r.workph, &r.homeph, &r.cellph};
        const std::initializer_list<QString*> personOrder{&r.homeph, &r.workph, &r.cellph};
        for (const Phone& ph : phones)
            if (ph.kind == PhoneKind::Main)
                placePhone(ph, firm ? firmOrder : personOrder);
        for (const Phone& ph : phones)
            if (ph.kind == PhoneKind::Untyped)
                placePhone(ph, firm ? firmOrder : personOrder);
    }

    void placePhone(const Phone& phone, std::initializer_list<QString*> slots)
    {
        const QString& value = phone.value;
        current = phone.line; // the number's own line, for the fields it fills
        QString* slot = nullptr;
        for (QString* s : slots)
            if (!slot && s->isEmpty() && !(s == &r.workph && !r.ext.isEmpty()))
                slot = s;
        if (!slot) {
            noteLeftOut(QStringLiteral("phone number"), value);
            return;
        }
        if (slot == &r.workph) {
            QString number, ext;
            splitPhone(value, number, ext);
            *slot = number;
            r.ext = ext;
            from({"workph", "ext"});
        } else {
            *slot = withoutTelScheme(value);
            from({slot == &r.cellph ? "cellph" : slot == &r.homeph ? "homeph" : "workph"});
        }
    }

    std::vector<Phone> phones;
    QHash<QByteArray, QString> labels; // by group
    QStringList alternatives;          // the same value in other languages, for the notes
    bool organizationCard = false;

    ContactRecord r;
    CardLine current;
    QString fullName;
    QString organization; // the company's own name, without its department
    QString department;
    bool hasName = false;
    bool haveAddress = false;
    bool addressIsWork = false;
};

} // namespace

std::vector<ContactRecord> readVCards(const QByteArray& input, QList<QByteArray>* cardTexts, std::vector<CardOrigins>* origins)
{
    const QByteArray bytes = toUtf8Bytes(input);
    std::vector<ContactRecord> cards;
    std::optional<CardBuilder> card;
    std::vector<Property> cardLines;
    bool version21 = false; // the card being read folds its lines as vCard 2.1 does
    const QString language = QLocale().name().section(u'_', 0, 0);
    int depth = 0;
    if (cardTexts)
        cardTexts->clear();
    if (origins)
        origins->clear();

    QByteArray logical;
    int logicalLine = 0;
    // Where the logical line starts and its last physical line ends, where the logical line
    // before it ended, and where the card began.
    qsizetype logicalStart = 0, logicalEnd = 0, previousEnd = 0, cardStart = 0;
    bool qp = false, b64 = false;
    bool afterAgent = false; // 2.1's "AGENT:" with the agent's card on the lines that follow
    // A card without END:VCARD still counts, its text kept whole with the END a reader of a
    // saved copy needs.
    auto closeUnended = [&](qsizetype end) {
        card->addAll(cardLines, language);
        ContactRecord r = card->finish(); // fills the phones' fields: before their origins are taken
        if (origins)
            origins->push_back(std::move(card->origins));
        r.problems += QStringLiteral("the card ends without END:VCARD");
        cards.push_back(std::move(r));
        card.reset();
        depth = 0;
        if (cardTexts)
            *cardTexts += bytes.mid(cardStart, end - cardStart).trimmed() + "\r\nEND:VCARD";
    };
    auto flush = [&] {
        if (logical.isEmpty())
            return;
        Property p;
        if (parseLine(logical, p)) {
            const QByteArray v = p.value.trimmed().toUpper();
            if (p.name == "BEGIN" && v == "VCARD") {
                if (depth == 1 && !afterAgent)
                    closeUnended(previousEnd); // a new card: the one before never ended
                if (depth++ == 0) {
                    card.emplace(logicalLine);
                    cardLines.clear();
                    version21 = false;
                    cardStart = logicalStart;
                }
            } else if (p.name == "END" && v == "VCARD") {
                if (depth > 0 && --depth == 0) {
                    card->addAll(cardLines, language);
                    cards.push_back(card->finish());
                    if (origins)
                        origins->push_back(std::move(card->origins));
                    card.reset();
                    if (cardTexts)
                        *cardTexts += bytes.mid(cardStart, logicalEnd - cardStart);
                }
            } else if (depth == 1) { // an embedded card (2.1's AGENT) is not this contact
                if (p.name == "VERSION")
                    version21 = v == "2.1";
                p.line = {logicalStart - cardStart, logicalEnd - cardStart, {}};
                cardLines.push_back(p);
            }
            afterAgent = depth == 1 && p.name == "AGENT" && p.value.trimmed().isEmpty();
        }
        previousEnd = logicalEnd;
        logical.clear();
    };

    qsizetype pos = 0;
    int lineNo = 0;
    while (pos < bytes.size()) {
        qsizetype end = bytes.indexOf('\n', pos);
        if (end < 0)
            end = bytes.size();
        QByteArray line = bytes.mid(pos, end - pos);
        const qsizetype lineStart = pos;
        pos = end + 1;
        ++lineNo;
        if (line.endsWith('\r'))
            line.chop(1);
        const qsizetype lineEnd = lineStart + line.size();
        if (!logical.isEmpty() && qp && logical.endsWith('=') && !isCardBoundary(line)) {
            logical.chop(1); // quoted-printable soft line break
            logical += line;
            logicalEnd = lineEnd;
        } else if (!logical.isEmpty() && !line.isEmpty() && (line[0] == ' ' || line[0] == '\t')) {
            // 2.1 folds by putting a line break before a blank of the text, which stays; later
            // versions insert the blank with the break.
            logical += version21 ? line : line.mid(1);
            logicalEnd = lineEnd;
        } else if (!logical.isEmpty() && b64 && !line.isEmpty() && !line.contains(':')) {
            // 2.1 photos: base64 lines, often not indented, up to a blank line
            logicalEnd = lineEnd;
        } else if (line.trimmed().isEmpty()) {
            flush();
        } else {
            flush();
            logical = line;
            logicalLine = lineNo;
            logicalStart = lineStart;
            logicalEnd = lineEnd;
            const QByteArray head = line.left(line.indexOf(':')).toUpper();
            qp = head.contains("QUOTED-PRINTABLE");
            b64 = head.contains("BASE64") || head.contains("ENCODING=B");
        }
    }
    flush();
    if (card)
        closeUnended(bytes.size());
    return cards;
}

} // namespace kestrel
