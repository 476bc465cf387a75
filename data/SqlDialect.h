#pragma once
// Turns the statements the program builds (date literals between number signs, double-quoted
// text, bracketed names, + between texts, True/False) into statements SQLite, or the office
// server's PostgreSQL, runs with the same meaning. Nothing inside an apostrophe literal is ever
// changed.
#include <QString>

namespace kestrel {

struct SqlTranslation {
    bool ok = true;
    QString sql;          // valid when ok
    int errorNumber = 0;  // when !ok
    QString errorText;    // when !ok
};

// Local files run SQLite's SQL; the office server PostgreSQL's.
enum class SqlTarget { Sqlite, Postgres };

SqlTranslation translateSql(const QString& statement, SqlTarget target = SqlTarget::Sqlite);

// Parses the inside of a #...# literal: "3/7/2006", "2:30 PM", "14:30", or a date and a time.
// Returns the SQLite text ('2006-03-07', '14:30:00', '2006-03-07 14:30:00'), or an empty string
// when the literal is malformed.
QString translateDateLiteral(const QString& inside);

} // namespace kestrel
