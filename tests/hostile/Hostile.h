#pragma once
// Field texts that have broken programs of this kind: quote characters of SQL and CSV, the
// dialect's own signs, wild cards, comment and statement separators, control characters,
// letters beyond ASCII, emoji, right-to-left text and markup.
#include "data/modData.h"

#include <QString>
#include <QStringList>

#include <ostream>

QT_BEGIN_NAMESPACE
// Control characters and lone surrogates are written as escapes, so a failure shows what differs.
inline void PrintTo(const QString& s, std::ostream* os)
{
    QString out;
    for (const QChar c : s) {
        if (c == u'\r')
            out += QStringLiteral("\\r");
        else if (c == u'\n')
            out += QStringLiteral("\\n");
        else if (c == u'\t')
            out += QStringLiteral("\\t");
        else if (c.unicode() < 0x20 || c.isSurrogate() || c.unicode() == 0xa0 || (c.unicode() >= 0x2028 && c.unicode() <= 0x2029))
            out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        else
            out += c;
    }
    *os << '"' << out.toStdString() << '"';
}
QT_END_NAMESPACE

namespace kestrel::test {

inline QStringList hostileTexts()
{
    return {
        QStringLiteral("'"),           QStringLiteral("''"),          QStringLiteral("'Brien"),
        QStringLiteral("O'Brien"),     QStringLiteral("OBrien'"),     QStringLiteral("'O'Br'ien'"),
        QStringLiteral("Say \"hi\""),  QStringLiteral("\""),          QStringLiteral("#3/7/2006#"),
        QStringLiteral("#"),           QStringLiteral("a+b"),         QStringLiteral("+' '+"),
        QStringLiteral("[x]"),         QStringLiteral("["),           QStringLiteral("]"),
        QStringLiteral("100%"),        QStringLiteral("%"),           QStringLiteral("_"),
        QStringLiteral("a_b"),         QStringLiteral("--"),          QStringLiteral("x' --"),
        QStringLiteral(";"),           QStringLiteral("x'); delete from contacts; --"),
        QStringLiteral("tab\there"),   QStringLiteral("\t"),          QStringLiteral("line\r\nbreak"),
        QStringLiteral("cr\ronly"),    QStringLiteral("lf\nonly"),    QStringLiteral("Zoë Ñandú Łódź"),
        QStringLiteral("😀 emoji 👍🏽"), QStringLiteral("שלום עולם"),   QStringLiteral("مرحبا بك"),
        QStringLiteral("  padded  "),  QStringLiteral("<b>bold</b>"), QStringLiteral("<img src=\"x.png\">"),
        QStringLiteral("&amp;"),
    };
}

// Texts at exactly a field's maximum: apostrophes only (each doubled in the statement), and one
// whose last character, an emoji, does not fit whole and must not be kept in half.
inline QString allApostrophes(int max) { return QString(max, u'\''); }
inline QString emojiAtTheEdge(int max) { return QString(max - 1, u'x') + QStringLiteral("😀"); }

// What a box of that maximum keeps of a text.
inline QString kept(const QString& typed, int max) { return max < 0 ? typed : LeftChars(typed, max); }

} // namespace kestrel::test
