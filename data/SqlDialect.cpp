#include "data/SqlDialect.h"

#include <QDate>
#include <QRegularExpression>
#include <QTime>

namespace kestrel {

namespace {

constexpr int kSyntaxError = 1; // SQLite's own number for a statement it cannot parse

bool isWordChar(QChar c) { return c.isLetterOrNumber() || c == u'_'; }

SqlTranslation fail(const QString& text)
{
    SqlTranslation t;
    t.ok = false;
    t.errorNumber = kSyntaxError;
    t.errorText = text;
    return t;
}

QString parseDate(const QString& s)
{
    static const QRegularExpression re(QStringLiteral("^(\\d{1,2})/(\\d{1,2})/(\\d{4})$"));
    const auto m = re.match(s);
    if (!m.hasMatch())
        return {};
    const QDate d(m.captured(3).toInt(), m.captured(1).toInt(), m.captured(2).toInt());
    return d.isValid() ? d.toString(Qt::ISODate) : QString();
}

QString parseTime(const QString& s)
{
    static const QRegularExpression re(
        QStringLiteral("^(\\d{1,2}):(\\d{2})(?::(\\d{2}))?\\s*([AaPp][Mm])?$"));
    const auto m = re.match(s);
    if (!m.hasMatch())
        return {};
    int h = m.captured(1).toInt();
    const int mi = m.captured(2).toInt();
    const int se = m.captured(3).isEmpty() ? 0 : m.captured(3).toInt();
    const QString ampm = m.captured(4).toUpper();
    if (!ampm.isEmpty()) {
        if (h < 1 || h > 12)
            return {};
        if (ampm == u"AM" && h == 12)
            h = 0;
        else if (ampm == u"PM" && h != 12)
            h += 12;
    }
    const QTime t(h, mi, se);
    return t.isValid() ? t.toString(QStringLiteral("HH:mm:ss")) : QString();
}

} // namespace

QString translateDateLiteral(const QString& inside)
{
    const QString s = inside.trimmed();
    if (const QString d = parseDate(s); !d.isEmpty())
        return d;
    if (const QString t = parseTime(s); !t.isEmpty())
        return t;
    const int space = s.indexOf(u' ');
    if (space > 0) {
        const QString d = parseDate(s.left(space));
        const QString t = parseTime(s.mid(space + 1).trimmed());
        if (!d.isEmpty() && !t.isEmpty())
            return d + u' ' + t;
    }
    return {};
}

SqlTranslation translateSql(const QString& in, SqlTarget target)
{
    const bool server = target == SqlTarget::Postgres;
    // SQLite reads a statement only up to a NUL: whatever followed would silently vanish.
    if (in.contains(QChar(u'\0')))
        return fail(QStringLiteral("the statement contains a NUL character"));
    QString out;
    out.reserve(in.size() + 16);
    const qsizetype n = in.size();
    // What the last significant piece written was: a number keeps + as arithmetic.
    enum class Last { None, Number, Other } last = Last::None;
    // The local engine sorts an empty value (null) before every other, the server after: on the
    // server each ORDER BY term says where nulls go. orderDepth is the parenthesis depth of the
    // ORDER BY being written, -1 outside one.
    int depth = 0;
    int orderDepth = -1;
    bool afterOrder = false;
    bool termWritten = false;
    bool descending = false;
    auto closeTerm = [&](bool spaceAfter) {
        if (orderDepth < 0 || !termWritten)
            return;
        while (!out.isEmpty() && out.back().isSpace())
            out.chop(1);
        out += descending ? QStringLiteral(" NULLS LAST") : QStringLiteral(" NULLS FIRST");
        if (spaceAfter)
            out += u' ';
        termWritten = descending = false;
    };

    // Two literals written side by side ('a''b') would read as one holding an apostrophe.
    auto beforeLiteral = [&] {
        if (!out.isEmpty() && out.back() == u'\'')
            out += u' ';
    };
    auto afterLiteral = [&](qsizetype next) {
        // A keyword may follow a closing quote directly ('Lead'ORDER BY); give SQLite a blank.
        if (next < n && isWordChar(in[next]))
            out += u' ';
    };

    for (qsizetype i = 0; i < n;) {
        const QChar c = in[i];
        // Words mark a term (or not) below, where keywords are told apart.
        if (server && orderDepth >= 0 && !c.isSpace() && c != u',' && c != u')' && c != u';' && (!isWordChar(c) || c.isDigit()))
            termWritten = true;
        if (c == u'\'') {
            qsizetype j = i + 1;
            for (;;) {
                if (j >= n)
                    return fail(QStringLiteral("unterminated text literal starting at position %1").arg(i + 1));
                if (in[j] == u'\'') {
                    if (j + 1 < n && in[j + 1] == u'\'') {
                        j += 2;
                        continue;
                    }
                    break;
                }
                ++j;
            }
            beforeLiteral();
            out += QStringView(in).mid(i, j - i + 1);
            i = j + 1;
            afterLiteral(i);
            last = Last::Other;
        } else if (c == u'"') {
            QString value;
            qsizetype j = i + 1;
            for (;;) {
                if (j >= n)
                    return fail(QStringLiteral("unterminated text literal starting at position %1").arg(i + 1));
                if (in[j] == u'"') {
                    if (j + 1 < n && in[j + 1] == u'"') {
                        value += u'"';
                        j += 2;
                        continue;
                    }
                    break;
                }
                if (in[j] == u'\'')
                    value += u'\'';
                value += in[j];
                ++j;
            }
            beforeLiteral();
            out += u'\'' + value + u'\'';
            i = j + 1;
            afterLiteral(i);
            last = Last::Other;
        } else if (c == u'[') {
            const qsizetype j = in.indexOf(u']', i + 1);
            if (j < 0)
                return fail(QStringLiteral("unterminated bracketed name starting at position %1").arg(i + 1));
            QString name = in.mid(i + 1, j - i - 1);
            // The server's quoted names match by case, and its names are all lower case; the
            // local engine matches them without regard to case.
            if (server)
                name = name.toLower();
            name.replace(u'"', QStringLiteral("\"\""));
            out += u'"' + name + u'"';
            i = j + 1;
            last = Last::Other;
        } else if (c == u'#') {
            const qsizetype j = in.indexOf(u'#', i + 1);
            if (j < 0)
                return fail(QStringLiteral("unterminated date literal starting at position %1").arg(i + 1));
            const QString inside = in.mid(i + 1, j - i - 1);
            const QString lit = translateDateLiteral(inside);
            if (lit.isEmpty())
                return fail(QStringLiteral("syntax error in date or time literal #%1#").arg(inside));
            beforeLiteral();
            if (server && !out.isEmpty() && isWordChar(out.back()))
                out += u' ';
            if (server)
                out += lit.size() > 10 ? QStringLiteral("TIMESTAMP ") : lit.contains(u':') ? QStringLiteral("TIME ") : QStringLiteral("DATE ");
            out += u'\'' + lit + u'\'';
            i = j + 1;
            afterLiteral(i);
            last = Last::Other;
        } else if (c == u'+') {
            qsizetype k = i + 1;
            while (k < n && in[k].isSpace())
                ++k;
            const bool numberNext = k < n && in[k].isDigit();
            out += (last == Last::Number || numberNext) ? QStringLiteral("+") : QStringLiteral("||");
            ++i;
            last = Last::Other;
        } else if ((c == u'-' && i + 1 < n && in[i + 1] == u'-') || (c == u'/' && i + 1 < n && in[i + 1] == u'*')) {
            // Comments would let the rest of a statement vanish silently.
            return fail(QStringLiteral("unexpected comment at position %1").arg(i + 1));
        } else if (c == u';') {
            qsizetype k = i + 1;
            while (k < n && in[k].isSpace())
                ++k;
            if (k < n)
                return fail(QStringLiteral("characters found after end of SQL statement"));
            i = n;
        } else if (c.isDigit()) {
            qsizetype j = i;
            while (j < n && (in[j].isDigit() || in[j] == u'.'))
                ++j;
            out += QStringView(in).mid(i, j - i);
            i = j;
            last = Last::Number;
        } else if (isWordChar(c)) {
            qsizetype j = i;
            while (j < n && isWordChar(in[j]))
                ++j;
            const QStringView word = QStringView(in).mid(i, j - i);
            if (server) {
                auto is = [&](const char16_t* w) { return word.compare(QStringView(w), Qt::CaseInsensitive) == 0; };
                if (orderDepth == depth && (is(u"limit") || is(u"offset") || is(u"union") || is(u"except") || is(u"intersect"))) {
                    closeTerm(true);
                    orderDepth = -1;
                } else if (orderDepth == depth && (is(u"desc") || is(u"asc"))) {
                    descending = descending || is(u"desc");
                } else if (afterOrder && is(u"by")) {
                    orderDepth = depth;
                    termWritten = descending = false;
                } else if (orderDepth >= 0) {
                    termWritten = true;
                }
                afterOrder = is(u"order");
            }
            if (word.compare(u"True", Qt::CaseInsensitive) == 0)
                out += server ? QStringLiteral("TRUE") : QStringLiteral("1");
            else if (word.compare(u"False", Qt::CaseInsensitive) == 0)
                out += server ? QStringLiteral("FALSE") : QStringLiteral("0");
            else if (server && word.compare(u"like", Qt::CaseInsensitive) == 0)
                out += QStringLiteral("~~~"); // the server's LIKE that folds accents and case
            else
                out += word;
            i = j;
            last = Last::Other;
        } else {
            if (server && c == u'(') {
                ++depth;
            } else if (server && c == u')') {
                if (depth == orderDepth) {
                    closeTerm(false);
                    orderDepth = -1;
                }
                --depth;
            } else if (server && c == u',' && depth == orderDepth) {
                closeTerm(false);
            }
            out += c;
            if (!c.isSpace())
                last = Last::Other;
            ++i;
        }
    }
    if (server)
        closeTerm(false);
    SqlTranslation t;
    t.sql = out;
    return t;
}

} // namespace kestrel
