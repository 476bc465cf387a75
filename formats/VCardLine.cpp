// The lines of a vCard: unfolded lines taken apart into name, group, parameters and value.
#include "formats/VCardLine.h"

#include <QStringDecoder>

namespace kestrel::vcard {

namespace {

bool isUtf8(const QByteArray& b)
{
    QStringDecoder d(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    (void)d.decode(b);
    return !d.hasError();
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

} // namespace

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
    if (const qsizetype dot = p.name.lastIndexOf('.'); dot >= 0) {
        p.group = p.name.left(dot);
        p.name = p.name.mid(dot + 1);
    }
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
        } else if (key == "ALTID") {
            p.altId = val.replace('"', "");
        } else if (key == "LANGUAGE") {
            p.language = val.replace('"', "").toLower();
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

bool isCardBoundary(const QByteArray& line)
{
    const QByteArray t = line.trimmed().toUpper();
    return t == "BEGIN:VCARD" || t == "END:VCARD";
}

} // namespace kestrel::vcard
