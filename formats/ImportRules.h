#pragma once
// The rules an import applies to values before anything is written: making a value fit its field
// without losing what it says, recognising the same contact twice, matching header names to
// contact fields, and the apostrophe that keeps a spreadsheet from running a value as a formula.
#include <QString>
#include <QStringList>

namespace kestrel {

// Characters as the engine counts them (a character outside the BMP is one, not two).
int charCount(const QString& value);
// The size of a contact field in the scratch table (0 for none), by target name in any case.
int fieldSize(const QString& target);

struct Fitted {
    bool fits = true;
    QString value;  // what is written when it fits
    QString change; // how it was changed to fit ("" when it fitted as it was), or why it cannot
};
// A US state or Canadian province written out becomes its two-letter code where the contact's
// country is empty or its own; a birthday is written in its stored form, or does not fit when it
// is not a day of the calendar; a value too long loses the blanks around it. A phone number is
// kept as written. Anything else too long does not fit.
Fitted fitValue(const QString& target, const QString& value, const QString& country = QString());
// "TX" for "Texas", "QC" for "Québec"; "" when the name is not one of them.
QString regionCode(const QString& name);
// The code a state or province is filed by for a contact of this country: "TX" for "Texas" with
// an empty country or the United States, "" for "Georgia" in the country Georgia or for "Tokyo".
QString stateCode(const QString& state, const QString& country);

// Lower case, without accents, blanks trimmed and single: "  José  Müller" and "jose muller" match.
QString foldForMatch(const QString& value);

// For each header name, the contact field it names ("" for none). Every target is given to one
// field only: the first name of its list of known names that the header holds wins.
QStringList mapByName(const QStringList& header);

// A value a spreadsheet would run as a formula (after any apostrophes: =, +, -, @, tab, CR)
// gets one apostrophe in front, except a phone number written "+49 171 ..." (a plus, a digit,
// then only digits, blanks and - . / ( )); unescaped takes exactly that one away again.
QString spreadsheetEscaped(const QString& value);
QString spreadsheetUnescaped(const QString& value);
// The same test on a value's UTF-8 bytes.
bool needsFormulaGuard(const char* value, int size);

} // namespace kestrel
