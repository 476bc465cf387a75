#include "formats/SheetValues.h"

#include <QDate>
#include <QDateTime>
#include <QStringList>

#include <cmath>
#include <vector>

namespace kestrel {

QString plainSheetNumber(double value)
{
    if (!std::isfinite(value))
        return QString();
    if (value == std::floor(value) && std::fabs(value) < 1e15)
        return QString::number(qint64(value));
    // 15 digits is all a spreadsheet keeps; 0.1 + 0.2 reads 0.3, as the sheet shows it.
    return QString::number(value, 'g', 15);
}

QString builtinNumberFormat(int id)
{
    switch (id) {
    case 1: return QStringLiteral("0");
    case 2: return QStringLiteral("0.00");
    case 3: return QStringLiteral("#,##0");
    case 4: return QStringLiteral("#,##0.00");
    case 9: return QStringLiteral("0%");
    case 10: return QStringLiteral("0.00%");
    case 11: return QStringLiteral("0.00E+00");
    case 12: return QStringLiteral("# ?/?");
    case 13: return QStringLiteral("# ?\?/??");
    case 14: return QStringLiteral("mm-dd-yy");
    case 15: return QStringLiteral("d-mmm-yy");
    case 16: return QStringLiteral("d-mmm");
    case 17: return QStringLiteral("mmm-yy");
    case 18: return QStringLiteral("h:mm AM/PM");
    case 19: return QStringLiteral("h:mm:ss AM/PM");
    case 20: return QStringLiteral("h:mm");
    case 21: return QStringLiteral("h:mm:ss");
    case 22: return QStringLiteral("m/d/yy h:mm");
    case 37: return QStringLiteral("#,##0 ;(#,##0)");
    case 38: return QStringLiteral("#,##0 ;[Red](#,##0)");
    case 39: return QStringLiteral("#,##0.00;(#,##0.00)");
    case 40: return QStringLiteral("#,##0.00;[Red](#,##0.00)");
    case 45: return QStringLiteral("mm:ss");
    case 46: return QStringLiteral("[h]:mm:ss");
    case 47: return QStringLiteral("mmss.0");
    case 48: return QStringLiteral("##0.0E+0");
    case 49: return QStringLiteral("@");
    default: break;
    }
    // The ids of East Asian date formats; their codes depend on the language of the workbook.
    if ((id >= 27 && id <= 36) || (id >= 50 && id <= 58))
        return QStringLiteral("yyyy-mm-dd");
    return QString();
}

namespace {

// The format's codes with quoted text, escaped characters and bracketed parts taken out, the
// elapsed-time brackets [h] [m] [s] kept as their letters; lower case.
QString bareCodes(QStringView code)
{
    QString out;
    for (qsizetype i = 0; i < code.size(); ++i) {
        const QChar c = code[i];
        if (c == u'"') {
            while (++i < code.size() && code[i] != u'"') {
            }
        } else if (c == u'\\' || c == u'_' || c == u'*') {
            ++i;
        } else if (c == u'[') {
            const qsizetype end = code.indexOf(u']', i);
            if (end < 0)
                break;
            const QString inside = code.mid(i + 1, end - i - 1).toString().toLower();
            if (!inside.isEmpty() && (inside.count(u'h') == inside.size() || inside.count(u'm') == inside.size() ||
                                      inside.count(u's') == inside.size()))
                out += inside;
            i = end;
        } else {
            out += c.toLower();
        }
    }
    return out;
}

// The sections of a format code, split at semicolons outside quotes.
QStringList sections(const QString& code)
{
    QStringList out;
    QString current;
    bool quoted = false;
    for (qsizetype i = 0; i < code.size(); ++i) {
        const QChar c = code[i];
        if (c == u'"')
            quoted = !quoted;
        if (!quoted && c == u'\\' && i + 1 < code.size()) {
            current += c;
            current += code[++i];
            continue;
        }
        if (!quoted && c == u';') {
            out << current;
            current.clear();
            continue;
        }
        current += c;
    }
    out << current;
    return out;
}

// A condition such as [<=99999] in a section (beside any colour); false when there is none.
bool condition(const QString& section, bool* matches, double value)
{
    for (qsizetype open = section.indexOf(u'['); open >= 0; open = section.indexOf(u'[', open + 1)) {
        const qsizetype close = section.indexOf(u']', open);
        if (close < 0)
            return false;
        const QString inside = section.mid(open + 1, close - open - 1).trimmed();
        static const char* const kOps[] = {"<=", ">=", "<>", "<", ">", "="};
        for (const char* op : kOps) {
            const QLatin1String o(op);
            if (!inside.startsWith(o))
                continue;
            bool ok = false;
            const double bound = inside.mid(o.size()).toDouble(&ok);
            if (!ok)
                return false;
            if (o == QLatin1String("<="))
                *matches = value <= bound;
            else if (o == QLatin1String(">="))
                *matches = value >= bound;
            else if (o == QLatin1String("<>"))
                *matches = value != bound;
            else if (o == QLatin1String("<"))
                *matches = value < bound;
            else if (o == QLatin1String(">"))
                *matches = value > bound;
            else
                *matches = value == bound;
            return true;
        }
    }
    return false;
}

struct Token {
    enum Kind { Literal, Digit, Point, Comma, Percent } kind;
    QString text; // the literal, or the placeholder 0 # ?
};

// The section as placeholders and literals; false for what this does not draw (scientific,
// fractions, text), which then reads as the plain number.
bool tokenize(const QString& section, std::vector<Token>* out)
{
    for (qsizetype i = 0; i < section.size(); ++i) {
        const QChar c = section[i];
        if (c == u'"') {
            QString lit;
            while (++i < section.size() && section[i] != u'"')
                lit += section[i];
            out->push_back({Token::Literal, lit});
        } else if (c == u'\\') {
            if (i + 1 < section.size())
                out->push_back({Token::Literal, QString(section[++i])});
        } else if (c == u'_') {
            ++i;
            out->push_back({Token::Literal, QStringLiteral(" ")});
        } else if (c == u'*') {
            ++i; // repeats a character to fill the cell: nothing in a text
        } else if (c == u'[') {
            const qsizetype end = section.indexOf(u']', i);
            if (end < 0)
                return false;
            const QString inside = section.mid(i + 1, end - i - 1);
            // [$€-407]: a currency symbol; colours and conditions draw nothing.
            if (inside.startsWith(u'$'))
                out->push_back({Token::Literal, inside.mid(1, inside.indexOf(u'-') < 0 ? -1 : inside.indexOf(u'-') - 1)});
            i = end;
        } else if (c == u'0' || c == u'#' || c == u'?') {
            out->push_back({Token::Digit, QString(c)});
        } else if (c == u'.') {
            out->push_back({Token::Point, {}});
        } else if (c == u',') {
            out->push_back({Token::Comma, {}});
        } else if (c == u'%') {
            out->push_back({Token::Percent, {}});
        } else if (c == u'E' || c == u'e' || c == u'/' || c == u'@') {
            return false;
        } else if (c.isLetter()) {
            // "General" inside a section, or a code this does not know.
            return false;
        } else {
            out->push_back({Token::Literal, QString(c)});
        }
    }
    return true;
}

QString drawSection(double value, const QString& section)
{
    std::vector<Token> tokens;
    if (!tokenize(section, &tokens))
        return plainSheetNumber(value);
    int intDigits = 0, fracDigits = 0, zeros = 0;
    bool afterPoint = false, grouping = false;
    int scale = 0;
    qsizetype lastIntDigit = -1, point = -1;
    for (qsizetype i = 0; i < qsizetype(tokens.size()); ++i) {
        const Token& t = tokens[size_t(i)];
        if (t.kind == Token::Point && !afterPoint) {
            afterPoint = true;
            point = i;
        } else if (t.kind == Token::Digit) {
            if (afterPoint) {
                ++fracDigits;
            } else {
                ++intDigits;
                zeros += t.text == u"0";
                lastIntDigit = i;
            }
        } else if (t.kind == Token::Percent) {
            value *= 100;
        }
    }
    if (intDigits + fracDigits == 0) {
        QString literal;
        for (const Token& t : tokens)
            if (t.kind == Token::Literal)
                literal += t.text;
        return literal;
    }
    // A comma between digit placeholders groups thousands; commas right after the last one
    // divide by a thousand each.
    for (qsizetype i = 0; i < qsizetype(tokens.size()); ++i) {
        if (tokens[size_t(i)].kind != Token::Comma || (point >= 0 && i > point))
            continue;
        if (i < lastIntDigit)
            grouping = true;
        else
            ++scale;
    }
    for (int s = 0; s < scale; ++s)
        value /= 1000;
    if (!std::isfinite(value) || std::fabs(value) >= 1e15)
        return plainSheetNumber(value);

    const QString fixed = QString::number(std::fabs(value), 'f', fracDigits);
    const qsizetype dot = fixed.indexOf(u'.');
    QString whole = dot < 0 ? fixed : fixed.left(dot);
    const QString frac = dot < 0 ? QString() : fixed.mid(dot + 1);
    if (whole == u"0" && zeros == 0)
        whole.clear();
    QString out;
    if (grouping) {
        while (whole.size() < zeros)
            whole.prepend(u'0');
        for (qsizetype at = whole.size() - 3; at > 0; at -= 3)
            whole.insert(at, u',');
        bool placed = false;
        for (qsizetype i = 0; i < qsizetype(tokens.size()) && (point < 0 || i < point); ++i) {
            const Token& t = tokens[size_t(i)];
            if (t.kind == Token::Literal)
                out += t.text;
            else if (t.kind == Token::Digit && !placed) {
                out += whole;
                placed = true;
            }
        }
    } else {
        // Placeholders take digits from the right; the leftmost takes all that remain.
        QString built;
        qsizetype left = whole.size();
        int seen = 0;
        const qsizetype end = point < 0 ? qsizetype(tokens.size()) : point;
        for (qsizetype i = end - 1; i >= 0; --i) {
            const Token& t = tokens[size_t(i)];
            if (t.kind == Token::Literal) {
                built.prepend(t.text);
                continue;
            }
            if (t.kind != Token::Digit)
                continue;
            ++seen;
            if (seen == intDigits) {
                if (left > 0)
                    built.prepend(whole.left(left));
                else if (t.text == u"0")
                    built.prepend(u'0');
                else if (t.text == u"?")
                    built.prepend(u' ');
                left = 0;
            } else if (left > 0) {
                built.prepend(whole[--left]);
            } else if (t.text != u"#") {
                built.prepend(t.text == u"0" ? u'0' : u' ');
            }
        }
        // A number with more integer digits than a format without placeholders there shows them all.
        if (intDigits == 0 && left > 0)
            built.prepend(whole.left(left));
        out = built;
    }
    if (point >= 0) {
        // Decimal placeholders from the left; # and ? drop the zeros at the end.
        qsizetype lastShown = frac.size() - 1;
        int k = 0;
        std::vector<QString> placeholders;
        for (size_t i = size_t(point) + 1; i < tokens.size(); ++i)
            if (tokens[i].kind == Token::Digit)
                placeholders.push_back(tokens[i].text);
        while (lastShown >= 0 && frac[lastShown] == u'0' && placeholders[size_t(lastShown)] != u"0")
            --lastShown;
        out += u'.';
        for (size_t i = size_t(point) + 1; i < tokens.size(); ++i) {
            const Token& t = tokens[i];
            if (t.kind == Token::Literal)
                out += t.text;
            else if (t.kind == Token::Digit) {
                if (k <= lastShown)
                    out += frac[k];
                else if (t.text == u"?")
                    out += u' ';
                ++k;
            } else if (t.kind == Token::Percent) {
                out += u'%';
            }
        }
    } else {
        for (qsizetype i = lastIntDigit + 1; i < qsizetype(tokens.size()); ++i)
            if (tokens[size_t(i)].kind == Token::Percent)
                out += u'%';
    }
    return out;
}

} // namespace

bool isDateFormat(const QString& formatCode)
{
    const QString bare = bareCodes(formatCode);
    if (bare.contains(QLatin1String("general")))
        return false;
    for (const QChar c : bare)
        if (c == u'y' || c == u'd' || c == u'm' || c == u'h' || c == u's')
            return true;
    return false;
}

QString sheetNumberText(double value, const QString& formatCode, bool date1904)
{
    if (!std::isfinite(value))
        return QString();
    const QString code = formatCode.trimmed();
    if (code.isEmpty() || code.compare(QLatin1String("General"), Qt::CaseInsensitive) == 0 || code == u"@")
        return plainSheetNumber(value);
    if (isDateFormat(code))
        return sheetDateText(value, code, date1904);
    const QStringList parts = sections(code);
    bool matches = false;
    if (condition(parts[0], &matches, value)) {
        // Conditional sections: the first whose condition holds, else the one without.
        for (qsizetype i = 0; i < std::min<qsizetype>(parts.size(), 3); ++i) {
            bool hit = false;
            if (!condition(parts[i], &hit, value) || hit) {
                const QString drawn = drawSection(std::fabs(value), parts[i]);
                return value < 0 ? u'-' + drawn : drawn;
            }
        }
        return plainSheetNumber(value);
    }
    const qsizetype n = std::min<qsizetype>(parts.size(), 3);
    if (value < 0 && n >= 2)
        return drawSection(-value, parts[1]);
    if (value == 0 && n >= 3)
        return drawSection(0, parts[2]);
    const QString drawn = drawSection(std::fabs(value), parts[0]);
    return value < 0 ? u'-' + drawn : drawn;
}

QString sheetDateText(double serial, const QString& formatCode, bool date1904)
{
    if (!std::isfinite(serial) || serial < 0 || serial > 2958466) // 9999-12-31
        return plainSheetNumber(serial);
    const QString bare = bareCodes(formatCode);
    const bool hasTime = bare.contains(u'h') || bare.contains(u's');
    // "m" next to an hour or a second is minutes; a date shows y, d or a month alone.
    const bool hasDate = bare.contains(u'y') || bare.contains(u'd') || (bare.contains(u'm') && !hasTime);
    const bool seconds = bare.contains(u's');
    double days = std::floor(serial);
    qint64 secs = qint64(std::llround((serial - days) * 86400.0));
    if (secs >= 86400) {
        secs -= 86400;
        days += 1;
    }
    QString time = QStringLiteral("%1:%2").arg(secs / 3600, 2, 10, QLatin1Char('0')).arg(secs / 60 % 60, 2, 10, QLatin1Char('0'));
    if (seconds)
        time += QStringLiteral(":%1").arg(secs % 60, 2, 10, QLatin1Char('0'));
    if (!hasDate) {
        // Elapsed time ([h]:mm) counts whole days into the hours.
        if (bare.startsWith(QLatin1String("hh")) || !formatCode.contains(u'['))
            return time;
        const qint64 total = qint64(days) * 86400 + secs;
        QString elapsed = QStringLiteral("%1:%2").arg(total / 3600, 2, 10, QLatin1Char('0')).arg(total / 60 % 60, 2, 10, QLatin1Char('0'));
        if (seconds)
            elapsed += QStringLiteral(":%1").arg(total % 60, 2, 10, QLatin1Char('0'));
        return elapsed;
    }
    QString date;
    if (date1904) {
        date = QDate(1904, 1, 1).addDays(qint64(days)).toString(Qt::ISODate);
    } else if (days == 60) {
        // The 29th of February 1900 that the 1900 date system counts, though it never was.
        date = QStringLiteral("1900-02-29");
    } else {
        date = QDate(1899, 12, days < 60 ? 31 : 30).addDays(qint64(days)).toString(Qt::ISODate);
    }
    return hasTime ? date + u' ' + time : date;
}

QString isoDateText(QStringView stored)
{
    const QStringView s = stored.trimmed();
    const qsizetype t = s.indexOf(u'T');
    if (t < 0)
        return s.left(10).toString();
    const QString date = s.left(t).toString();
    const QStringView clock = s.mid(t + 1);
    const QString hm = clock.left(5).toString();
    const QStringView sec = clock.mid(6, 2);
    const bool hasSeconds = !sec.isEmpty() && sec != u"00";
    if (hm == u"00:00" && !hasSeconds)
        return date;
    return date + u' ' + hm + (hasSeconds ? u':' + sec.toString() : QString());
}

QString unescapeSheetText(const QString& text)
{
    if (!text.contains(QLatin1String("_x")))
        return text;
    QString out;
    out.reserve(text.size());
    const auto hex = [](QChar c) { return c.isDigit() || (c.toLower() >= u'a' && c.toLower() <= u'f'); };
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'_' && i + 6 < text.size() && text[i + 1] == u'x' && hex(text[i + 2]) && hex(text[i + 3]) &&
            hex(text[i + 4]) && hex(text[i + 5]) && text[i + 6] == u'_') {
            out += QChar(char16_t(text.mid(i + 2, 4).toUShort(nullptr, 16)));
            i += 6;
            continue;
        }
        out += text[i];
    }
    return out;
}

} // namespace kestrel
