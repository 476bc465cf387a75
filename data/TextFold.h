#pragma once
// Names compared the way a reader files them: accents removed and case folded, so that
// Ångström stands with the A's and Émile with the E's.
#include <QChar>
#include <QString>

namespace kestrel {

// The text with every accent removed, letters without a decomposition mapped to their base
// letter (Ø to O, Æ to AE, ß to ss), and case folded. Other scripts are left as they are.
QString foldedText(const QString& text);

// Whether every character is ASCII: such a text folds by lowering its capitals alone, so a
// folded needle is found in it by a comparison that ignores case, without a folded copy.
bool isAscii(QStringView text);

// The letter A-Z a last name is filed under: its first character without its accent, upper
// case; '#' for an empty name, digits, signs and other scripts.
QChar fileInitial(const QString& lastName);

// LIKE of the program's statements: % any run, _ one character, compared as foldedText does.
bool foldedLike(const QString& pattern, const QString& text);

} // namespace kestrel

namespace kestrel {

// A stored value as it stands within a line the program builds: a value that holds
// right-to-left letters or direction marks is isolated (U+2068 … U+2069), so that its marks
// cannot reorder the rest of the line; any other value is returned as it is.
QString isolated(const QString& value);

} // namespace kestrel
