// vCard files written from contact records: the escapes, the folding and each version's date forms.
#include "formats/VCard.h"

#include "data/ContactFields.h"

namespace kestrel {

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

QByteArray writeVCards(const std::vector<ContactRecord>& contacts, VCardVersion version, const QDateTime& revised)
{
    const bool v4 = version == VCardVersion::V4;
    // 4.0 writes a timestamp in the basic form, 3.0 in the extended one.
    const QByteArray rev = revised.isValid()
        ? revised.toUTC().toString(v4 ? QStringLiteral("yyyyMMdd'T'HHmmss'Z'") : QStringLiteral("yyyy-MM-dd'T'HH:mm:ss'Z'")).toLatin1()
        : QByteArray();
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
        if (!rev.isEmpty())
            out += "REV:" + rev + "\r\n";
        out += "END:VCARD\r\n";
    }
    return out;
}

} // namespace kestrel
