#pragma once
// Statement execution, the value rules for writing values into statements, and the program's
// error report texts.
#include <QDate>
#include <QString>
#include <QStringList>
#include <QTime>

namespace kestrel {

class DbError;

// Executes one action statement on its own connection. A failure is reported to the user (with
// the request to report the bug) and false is returned, so a caller can keep the user's input.
bool ActionQuery(const QString& statement, const QString& connectionText);
// As ActionQuery, and tells how many rows the statement changed: -1 when it failed (and was
// reported), 0 when an UPDATE or DELETE found no row to change.
int ActionQueryCount(const QString& statement, const QString& connectionText);

// Shows text followed by the request to report the bug, OK only.
void ReportBug(const QString& text);

enum class Owner { Form, Module };
// "Error N (description) in procedure P of Form F" / "... of Module M".
QString ErrorReport(long number, const QString& description, const QString& procedure, Owner kind,
                    const QString& owner);
QString ErrorReport(const DbError& e, const QString& procedure, Owner kind, const QString& owner);
QString ErrorReport(const std::exception& e, const QString& procedure, Owner kind, const QString& owner);

// Shows the plain report (OK only, no icon, caption Kestrel).
void ShowErrorReport(const QString& report);

// Value rules for statement texts.
QString Quoted(const QString& value);             // apostrophes doubled (no enclosing quotes)
QString CutQuoted(const QString& value, int max); // cut to max characters, then doubled
QString LeftChars(const QString& value, int max); // first max characters, never half a character
QString DateText(const QDate& d);                 // 3/7/2006
QString TimeText(const QTime& t);                 // 9:30 AM
QString BoolWord(bool b);                         // True / False

// The four contact types, in the order every list offers them.
inline const QStringList kContactTypes = {QStringLiteral("Lead"), QStringLiteral("Cust"), QStringLiteral("Contact"),
                                          QStringLiteral("Personal")};

// Registers the schemas of contacts.mdb and kestrel.mdb, created when missing.
void registerSchemas();
extern const char* const kContactsSchema;
extern const char* const kMainSchema;

} // namespace kestrel
