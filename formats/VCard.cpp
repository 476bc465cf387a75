#include "formats/VCard.h"

#include "data/ContactFields.h"
#include "data/modData.h"

#include <QRegularExpression>
#include <QStringDecoder>

#include <optional>

namespace kestrel {

namespace {

struct Property {
    QByteArray name;        // upper case, group removed
    QList<QByteArray> types; // upper case, from TYPE= and from 2.1's bare parameters
    QByteArray encoding;    // upper case
    QByteArray charset;
    QByteArray omitYear;    // X-APPLE-OMIT-YEAR: the year a birthday without one was written with
    QByteArray value;       // raw, still escaped
    CardLine line;          // where the line stands in its card
    bool hasType(const char* t) const { return types.contains(QByteArray(t)); }
};

bool isUtf8(const QByteArray& b)
{
    QStringDecoder d(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    (void)d.decode(b);
    return !d.hasError();
}

// Texts of older phones come in the charset they name; without one, UTF-8 when the bytes are
// valid UTF-8, else the Windows code page most of those phones used.
QString decodeText(const QByteArray& bytes, const QByteArray& charset)
{
    if (!charset.isEmpty() && charset != "UTF-8") {
        QStringDecoder d(charset.constData());
        if (d.isValid())
            return d.decode(bytes);
    }
    if (isUtf8(bytes))
        return QString::fromUtf8(bytes.constData(), bytes.size()); // every character, a NUL too
    QStringDecoder cp("windows-1252");
    return cp.isValid() ? QString(cp.decode(bytes)) : QString::fromLatin1(bytes.constData(), bytes.size());
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

QByteArray decodeQuotedPrintable(const QByteArray& in)
{
    QByteArray out;
    out.reserve(in.size());
    for (qsizetype i = 0; i < in.size(); ++i) {
        if (in[i] == '=' && i + 2 < in.size() + 0 && hexValue(in[i + 1]) >= 0 && hexValue(in[i + 2]) >= 0) {
            out += char(hexValue(in[i + 1]) * 16 + hexValue(in[i + 2]));
            i += 2;
        } else if (in[i] == '=' && i + 1 == in.size()) {
            break; // a soft break left at the very end
        } else {
            out += in[i];
        }
    }
    return out;
}

// Splits at unescaped separators and resolves \\ \, \; \n in each piece.
QStringList splitValue(const QString& raw, std::optional<QChar> separator)
{
    QStringList parts;
    QString cur;
    for (qsizetype i = 0; i < raw.size(); ++i) {
        const QChar c = raw[i];
        if (c == u'\\' && i + 1 < raw.size()) {
            const QChar n = raw[++i];
            if (n == u'n' || n == u'N')
                cur += u'\n';
            else if (n == u'\\' || n == u',' || n == u';' || n == u':')
                cur += n;
            else {
                cur += c;
                cur += n;
            }
        } else if (c == separator) {
            parts += cur;
            cur.clear();
        } else {
            cur += c;
        }
    }
    parts += cur;
    return parts;
}

QString unescape(const QString& raw) { return splitValue(raw, std::nullopt).front(); }

// Splits at sep outside double quotes.
QList<QByteArray> splitOutsideQuotes(const QByteArray& s, char sep)
{
    QList<QByteArray> out;
    QByteArray cur;
    bool quoted = false;
    for (char c : s) {
        if (c == '"')
            quoted = !quoted;
        else if (c == sep && !quoted) {
            out += cur;
            cur.clear();
            continue;
        }
        cur += c;
    }
    out += cur;
    return out;
}

bool parseLine(const QByteArray& line, Property& p)
{
    bool quoted = false;
    qsizetype colon = -1;
    for (qsizetype i = 0; i < line.size(); ++i) {
        if (line[i] == '"')
            quoted = !quoted;
        else if (line[i] == ':' && !quoted) {
            colon = i;
            break;
        }
    }
    if (colon < 0)
        return false;
    const QList<QByteArray> head = splitOutsideQuotes(line.left(colon), ';');
    p.name = head.front().trimmed().toUpper();
    if (const qsizetype dot = p.name.lastIndexOf('.'); dot >= 0)
        p.name = p.name.mid(dot + 1);
    for (qsizetype i = 1; i < head.size(); ++i) {
        const QByteArray& param = head[i];
        const qsizetype eq = param.indexOf('=');
        const QByteArray key = (eq < 0 ? param : param.left(eq)).trimmed().toUpper();
        QByteArray val = eq < 0 ? QByteArray() : param.mid(eq + 1).trimmed();
        if (eq < 0) { // 2.1: TEL;WORK;VOICE, ADR;HOME, ...;QUOTED-PRINTABLE
            if (key == "QUOTED-PRINTABLE" || key == "BASE64" || key == "8BIT")
                p.encoding = key;
            else
                p.types += key;
        } else if (key == "TYPE") {
            for (const QByteArray& t : val.replace('"', "").split(','))
                p.types += t.trimmed().toUpper();
        } else if (key == "ENCODING") {
            p.encoding = val.toUpper();
        } else if (key == "CHARSET") {
            p.charset = val.replace('"', "").toUpper();
        } else if (key == "X-APPLE-OMIT-YEAR") {
            p.omitYear = val.replace('"', "");
        }
    }
    p.value = line.mid(colon + 1);
    return true;
}

QString textOf(const Property& p)
{
    QByteArray bytes = p.value;
    if (p.encoding == "QUOTED-PRINTABLE")
        bytes = decodeQuotedPrintable(bytes);
    return decodeText(bytes, p.charset);
}

const QRegularExpression& extensionPattern()
{
    // "555-1234 x12", "555-1234 ext. 12", "(555) 123-4567 extension 3"
    static const QRegularExpression re(QStringLiteral("^(|.*[\\d\\s)])\\s*(?:x|ext\\.?|extension)[\\s.:]*(\\d+)$"),
                                       QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);
    return re;
}

// A work number and its extension: "tel:+1-418-656-9254;ext=102" or "555-1234 x12". Only an
// extension of digits is taken apart, so that whatever is written back reads the same.
void splitPhone(const QString& value, QString& number, QString& ext)
{
    static const QRegularExpression digits(QStringLiteral("^\\d+$"));
    number = value;
    ext.clear();
    if (value.startsWith(QStringLiteral("tel:"), Qt::CaseInsensitive)) {
        number = value.mid(4).trimmed();
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

class CardBuilder {
public:
    explicit CardBuilder(int line) { r.line = line; }

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
            if (r.notes.isEmpty())
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
        // A card without a structured name: the formatted name split at its last blank,
        // unless it only repeats the company (a card for a firm).
        if (!hasName && !fullName.trimmed().isEmpty() && fullName != organization) {
            const QString f = fullName.trimmed();
            const qsizetype blank = f.lastIndexOf(u' ');
            r.lastname = blank < 0 ? f : f.mid(blank + 1);
            r.firstname = blank < 0 ? QString() : f.left(blank).trimmed();
        }
        // A department the company field has no room for is kept in the notes.
        if (!department.isEmpty())
            r.notes += (r.notes.isEmpty() ? QString() : QStringLiteral("\n")) + QStringLiteral("Department: ") + department;
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
        const QString value = unescape(textOf(p)).trimmed();
        if (p.hasType("FAX") || p.hasType("PAGER")) {
            r.problems += QStringLiteral("%1 number not kept: %2")
                              .arg(p.hasType("FAX") ? QStringLiteral("fax") : QStringLiteral("pager"), value);
            return;
        }
        QString number, ext;
        splitPhone(value, number, ext);
        QString* slot = nullptr;
        if (p.hasType("CELL") || p.hasType("MOBILE") || p.hasType("IPHONE"))
            slot = &r.cellph;
        else if (p.hasType("WORK"))
            slot = &r.workph;
        else if (p.hasType("HOME"))
            slot = &r.homeph;
        else // untyped or "other": the first free place
            slot = r.homeph.isEmpty() ? &r.homeph : r.workph.isEmpty() ? &r.workph : &r.cellph;
        if (!slot->isEmpty()) {
            noteLeftOut(QStringLiteral("phone number"), value);
            return;
        }
        if (slot == &r.workph && r.ext.isEmpty()) {
            *slot = number;
            r.ext = ext;
            from({"workph", "ext"});
        } else {
            *slot = value.startsWith(QStringLiteral("tel:"), Qt::CaseInsensitive) ? value.mid(4).trimmed() : value;
            from({slot == &r.cellph ? "cellph" : slot == &r.homeph ? "homeph" : "workph"});
        }
    }

    ContactRecord r;
    CardLine current;
    QString fullName;
    QString organization; // the company's own name, without its department
    QString department;
    bool hasName = false;
    bool haveAddress = false;
    bool addressIsWork = false;
};

QByteArray toUtf8Bytes(const QByteArray& bytes)
{
    if (bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF")) {
        QStringDecoder d(QStringDecoder::Utf16);
        return QString(d.decode(bytes)).toUtf8();
    }
    if (bytes.startsWith("\xEF\xBB\xBF"))
        return bytes.mid(3);
    return bytes;
}

// A line that opens or closes a card. Such a line never continues a value, whatever the line
// before it ends in: a quoted-printable value cut after its soft break "=" must not keep its
// card open and swallow the cards after it.
bool isCardBoundary(const QByteArray& line)
{
    const QByteArray t = line.trimmed().toUpper();
    return t == "BEGIN:VCARD" || t == "END:VCARD";
}

} // namespace

std::vector<ContactRecord> readVCards(const QByteArray& input, QList<QByteArray>* cardTexts, std::vector<CardOrigins>* origins)
{
    const QByteArray bytes = toUtf8Bytes(input);
    std::vector<ContactRecord> cards;
    std::optional<CardBuilder> card;
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
        if (origins)
            origins->push_back(std::move(card->origins));
        ContactRecord r = card->finish();
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
                    cardStart = logicalStart;
                }
            } else if (p.name == "END" && v == "VCARD") {
                if (depth > 0 && --depth == 0) {
                    if (origins)
                        origins->push_back(std::move(card->origins));
                    cards.push_back(card->finish());
                    card.reset();
                    if (cardTexts)
                        *cardTexts += bytes.mid(cardStart, logicalEnd - cardStart);
                }
            } else if (depth == 1) { // an embedded card (2.1's AGENT) is not this contact
                p.line = {logicalStart - cardStart, logicalEnd - cardStart};
                card->add(p);
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
            logical += line.mid(1);
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

namespace {

QByteArray escaped(const QString& v)
{
    QString s = v;
    s.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    s.replace(u'\r', u'\n');
    QString out;
    out.reserve(s.size() + 8);
    for (const QChar c : s) {
        if (c == u'\\' || c == u',' || c == u';')
            out += u'\\';
        if (c == u'\n')
            out += QStringLiteral("\\n");
        else
            out += c;
    }
    return out.toUtf8();
}

// Lines of at most 75 octets; a cut never falls inside a UTF-8 sequence.
void appendFolded(QByteArray& out, const QByteArray& line)
{
    qsizetype pos = 0;
    qsizetype room = 75;
    while (line.size() - pos > room) {
        qsizetype cut = pos + room;
        while (cut > pos && (uchar(line[cut]) & 0xC0) == 0x80)
            --cut;
        out.append(line.constData() + pos, cut - pos);
        out += "\r\n ";
        pos = cut;
        room = 74;
    }
    out.append(line.constData() + pos, line.size() - pos);
    out += "\r\n";
}

// 4.0 writes dates in the basic form (19800307, --0307), 3.0 in the extended one (1980-03-07);
// a birthday without a year is --03-07 in 3.0, as the address books that read 3.0 write it.
QByteArray birthdayValue(const QString& stored, bool v4)
{
    int y = 0, m = 0, d = 0;
    if (!birthdayParts(stored, &y, &m, &d))
        return escaped(stored);
    const auto two = [](int n) { return QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0')); };
    const QString sep = v4 ? QString() : QStringLiteral("-");
    const QString md = two(m) + sep + two(d);
    if (y == 0)
        return (QStringLiteral("--") + md).toLatin1();
    return (QStringLiteral("%1").arg(y, 4, 10, QLatin1Char('0')) + sep + md).toLatin1();
}

} // namespace

QByteArray writeVCards(const std::vector<ContactRecord>& contacts, VCardVersion version)
{
    const bool v4 = version == VCardVersion::V4;
    QByteArray out;
    out.reserve(qsizetype(contacts.size()) * 300);
    for (const ContactRecord& c : contacts) {
        out += "BEGIN:VCARD\r\n";
        out += v4 ? "VERSION:4.0\r\n" : "VERSION:3.0\r\n";
        if (!c.uid.isEmpty())
            appendFolded(out, "UID:" + escaped(c.uid));
        QString display = (c.firstname + u' ' + c.lastname).trimmed();
        if (c.firstname.isEmpty() || c.lastname.isEmpty())
            display = c.firstname + c.lastname;
        if (display.isEmpty())
            display = c.company;
        appendFolded(out, "FN:" + escaped(display));
        appendFolded(out, "N:" + escaped(c.lastname) + ';' + escaped(c.firstname) + ";;;");
        if (!c.company.isEmpty())
            appendFolded(out, "ORG:" + escaped(c.company));
        if (!c.jobtitle.isEmpty())
            appendFolded(out, "TITLE:" + escaped(c.jobtitle));
        if (!(c.address.isEmpty() && c.city.isEmpty() && c.st.isEmpty() && c.zip.isEmpty() && c.country.isEmpty()))
            appendFolded(out, QByteArray(v4 ? "ADR;TYPE=work:;;" : "ADR;TYPE=WORK:;;") + escaped(c.address) + ';' +
                                  escaped(c.city) + ';' + escaped(c.st) + ';' + escaped(c.zip) + ';' +
                                  escaped(c.country));
        if (!c.cellph.isEmpty())
            appendFolded(out, QByteArray(v4 ? "TEL;TYPE=cell:" : "TEL;TYPE=CELL:") + escaped(c.cellph));
        if (!c.homeph.isEmpty())
            appendFolded(out, QByteArray(v4 ? "TEL;TYPE=home:" : "TEL;TYPE=HOME:") + escaped(c.homeph));
        if (!c.workph.isEmpty() || !c.ext.isEmpty()) {
            QByteArray value = escaped(c.workph);
            if (!c.ext.isEmpty())
                value += (c.workph.isEmpty() ? "x" : " x") + escaped(c.ext);
            appendFolded(out, QByteArray(v4 ? "TEL;TYPE=work:" : "TEL;TYPE=WORK:") + value);
        }
        if (!c.email.isEmpty())
            appendFolded(out, QByteArray(v4 ? "EMAIL:" : "EMAIL;TYPE=INTERNET:") + escaped(c.email));
        if (!c.website.isEmpty()) // a URI: no text escapes, and never a line break
            appendFolded(out, "URL:" + QString(c.website).replace(u'\r', u' ').replace(u'\n', u' ').toUtf8());
        if (!c.birthday.isEmpty())
            appendFolded(out, "BDAY:" + birthdayValue(c.birthday, v4));
        if (!c.notes.isEmpty())
            appendFolded(out, "NOTE:" + escaped(c.notes));
        if (!c.contype.isEmpty())
            appendFolded(out, "CATEGORIES:" + escaped(c.contype));
        out += "END:VCARD\r\n";
    }
    return out;
}

} // namespace kestrel
