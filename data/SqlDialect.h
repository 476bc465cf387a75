#pragma once
// Turns the statements the program builds (date literals between number signs, double-quoted
// text, bracketed names, + between texts, True/False) into statements SQLite runs with the same
// meaning. Nothing inside an apostrophe literal is ever changed.
#include <QString>

namespace kestrel {

struct SqlTranslation {
    bool ok = true;
    QString sql;          // valid when ok
    int errorNumber = 0;  // when !ok
    QString errorText;    // when !ok
};

SqlTranslation translateSql(const QString& statement);

// Parses the inside of a #...# literal: "3/7/2006", "2:30 PM", "14:30", or a date and a time.
// Returns the SQLite text ('2006-03-07', '14:30:00', '2006-03-07 14:30:00'), or an empty string
// when the literal is malformed.
QString translateDateLiteral(const QString& inside);

} // namespace kestrel
