#pragma once
// The lines of a vCard as phones, mail programs and address books write them: a line's name,
// group and parameters, its value's encodings and escapes. Shared by the parts of the reader.
#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

#include "formats/VCard.h"

namespace kestrel::vcard {

struct Property {
    QByteArray name;        // upper case, group removed
    QByteArray group;       // upper case: item2 of item2.TEL, as address books pair a line with its label
    QByteArray altId;       // ALTID: the lines that are one value in other languages or scripts
    QByteArray language;    // LANGUAGE, lower case
    QList<QByteArray> types; // upper case, from TYPE= and from 2.1's bare parameters
    QByteArray encoding;    // upper case
    QByteArray charset;
    QByteArray omitYear;    // X-APPLE-OMIT-YEAR: the year a birthday without one was written with
    QByteArray value;       // raw, still escaped
    CardLine line;          // where the line stands in its card
    bool hasType(const char* t) const { return types.contains(QByteArray(t)); }
};

// Texts of older phones come in the charset they name; without one, UTF-8 when the bytes are
// valid UTF-8, else the Windows code page most of those phones used.
QString decodeText(const QByteArray& bytes, const QByteArray& charset);
QByteArray decodeQuotedPrintable(const QByteArray& in);
// Splits at unescaped separators and resolves \\ \, \; \n in each piece.
QStringList splitValue(const QString& raw, std::optional<QChar> separator);
QString unescape(const QString& raw);
// A logical line (unfolded) taken apart; false when it has no colon.
bool parseLine(const QByteArray& line, Property& p);
// The line's value decoded, still escaped.
QString textOf(const Property& p);
// The file as UTF-8 whatever it came in (UTF-16 with its mark, UTF-8 with or without one).
QByteArray toUtf8Bytes(const QByteArray& bytes);
// A line that opens or closes a card. Such a line never continues a value, whatever the line
// before it ends in: a quoted-printable value cut after its soft break "=" must not keep its
// card open and swallow the cards after it.
bool isCardBoundary(const QByteArray& line);

} // namespace kestrel::vcard
