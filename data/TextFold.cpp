#include "data/TextFold.h"

#include <QList>

#include <algorithm>

namespace kestrel {

namespace {
// Latin letters that carry no decomposition of their own.
const char* baseOf(char32_t c)
{
    switch (c) {
    case U'Ø': case U'ø': return "o";
    case U'Æ': case U'æ': return "ae";
    case U'Œ': case U'œ': return "oe";
    case U'ß': case U'ẞ': return "ss";
    case U'Ð': case U'ð': case U'Đ': case U'đ': return "d";
    case U'Þ': case U'þ': return "th";
    case U'Ł': case U'ł': return "l";
    case U'Ħ': case U'ħ': return "h";
    case U'ı': return "i";
    default: return nullptr;
    }
}

// Wildcard match that backs up only to the last %, so no pattern costs more than its length
// times the text's. Characters are compared after `fold`.
template <class Seq, class Fold>
bool likeMatch(const Seq& p, const Seq& t, Fold fold)
{
    qsizetype pi = 0, ti = 0, starP = -1, starT = 0;
    while (ti < t.size()) {
        if (pi < p.size() && p[pi] == '%') {
            starP = ++pi;
            starT = ti;
        } else if (pi < p.size() && (p[pi] == '_' || fold(p[pi]) == fold(t[ti]))) {
            ++pi;
            ++ti;
        } else if (starP >= 0) {
            pi = starP;
            ti = ++starT;
        } else {
            return false;
        }
    }
    while (pi < p.size() && p[pi] == '%')
        ++pi;
    return pi == p.size();
}
} // namespace

bool isAscii(QStringView text)
{
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x80; });
}

QString foldedText(const QString& text)
{
    if (isAscii(text)) {
        // ASCII folds by lowering A to Z alone; a text without capitals is shared, not copied.
        const auto capital = [](QChar c) { return c >= u'A' && c <= u'Z'; };
        const auto first = std::find_if(text.begin(), text.end(), capital);
        if (first == text.end())
            return text;
        QString out = text;
        for (auto c = out.begin() + (first - text.begin()); c != out.end(); ++c)
            if (capital(*c))
                *c = QChar(c->unicode() + 32);
        return out;
    }
    QString out;
    const QString decomposed = text.normalized(QString::NormalizationForm_KD);
    out.reserve(decomposed.size());
    // Each character is added as it stands, without a string of its own: a name has many.
    for (char32_t c : decomposed.toUcs4()) {
        if (QChar::category(c) == QChar::Mark_NonSpacing)
            continue;
        if (const char* base = baseOf(c))
            out += QLatin1StringView(base);
        else if (c < 0x10000 && !QChar::isSurrogate(c))
            out += QChar(char16_t(c));
        else if (c <= 0x10FFFF && !QChar::isSurrogate(c))
            out += QStringView(QChar::fromUcs4(c));
        else
            out += QString::fromUcs4(&c, 1);
    }
    return out.toCaseFolded();
}

QChar fileInitial(const QString& lastName)
{
    if (lastName.isEmpty())
        return u'#';
    if (const char16_t c = lastName.at(0).unicode(); c < 0x80) { // most names: no folding needed
        const char16_t upper = c >= u'a' && c <= u'z' ? char16_t(c - 32) : c;
        return upper >= u'A' && upper <= u'Z' ? QChar(upper) : QChar(u'#');
    }
    const qsizetype first = lastName.at(0).isHighSurrogate() && lastName.size() > 1 ? 2 : 1;
    const QString folded = foldedText(lastName.left(first));
    const QChar c = folded.isEmpty() ? QChar() : folded.at(0).toUpper();
    return c >= u'A' && c <= u'Z' ? c : QChar(u'#');
}

bool foldedLike(const QString& pattern, const QString& text)
{
    if (isAscii(pattern) && isAscii(text)) // the usual case needs no copy of either
        return likeMatch(pattern, text, [](QChar c) { return c.toLower(); });
    return likeMatch(foldedText(pattern).toUcs4(), foldedText(text).toUcs4(), [](uint c) { return c; });
}

} // namespace kestrel

namespace kestrel {

QString isolated(const QString& value)
{
    bool directional = false;
    for (QChar c : value) {
        if (c.unicode() < 0x0590) // nothing before the Hebrew block can turn a line around
            continue;
        switch (c.direction()) {
        case QChar::DirR: case QChar::DirAL: case QChar::DirAN: case QChar::DirRLE: case QChar::DirRLO:
        case QChar::DirLRE: case QChar::DirLRO: case QChar::DirPDF: case QChar::DirRLI: case QChar::DirLRI:
        case QChar::DirFSI: case QChar::DirPDI:
            directional = true;
            break;
        default:
            break;
        }
    }
    if (!directional)
        return value;
    // A closing mark without its opening one would end the isolate early: it is dropped.
    QString inner;
    inner.reserve(value.size() + 2);
    int open = 0;
    for (QChar c : value) {
        const QChar::Direction d = c.direction();
        if (d == QChar::DirRLI || d == QChar::DirLRI || d == QChar::DirFSI)
            ++open;
        else if (d == QChar::DirPDI && open-- == 0) {
            open = 0;
            continue;
        }
        inner += c;
    }
    // An opening mark left open would take the closing one: each gets its own.
    return QChar(0x2068) + inner + QString(open + 1, QChar(0x2069));
}

} // namespace kestrel
