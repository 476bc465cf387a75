#pragma once
// Field texts that have broken programs of this kind: quote characters of SQL and CSV, the
// dialect's own signs, wild cards, comment and statement separators, control characters,
// letters beyond ASCII, emoji, right-to-left text and markup.
#include "data/modData.h"
#include "tests/contacts/Common.h"

namespace kestrel::test {

inline QStringList hostileTexts()
{
    return QStringLiteral("'|''|O'Brien|'O'Br'ien'|Say \"hi\"|\"|#3/7/2006#|a+b|+' '+|[x]|[|]|100%|_|--|x' --|;|"
                          "x'); delete from contacts; --|tab\there|\t|line\r\nbreak|cr\ronly|lf\nonly|Zoë Ñandú Łódź|"
                          "😀 emoji 👍🏽|שלום עולם|مرحبا بك|  padded  |<b>bold</b>|<img src=\"x.png\">|&amp;")
        .split(u'|');
}

// Texts at a field's maximum: apostrophes only (each doubled in the statement), and one whose
// last character, an emoji, does not fit whole and must not be kept in half.
inline QString allApostrophes(int max) { return QString(max, u'\''); }
inline QString emojiAtTheEdge(int max) { return QString(max - 1, u'x') + QStringLiteral("😀"); }
// What a box of that maximum keeps of a text (-1: no limit).
inline QString kept(const QString& typed, int max) { return max < 0 ? typed : LeftChars(typed, max); }

} // namespace kestrel::test
