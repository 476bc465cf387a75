#pragma once
// Statement execution, the value rules for writing values into statements, and the program's
// error report texts.
#include <QDate>
#include <QString>
#include <QStringList>
#include <QTime>

#include <functional>

namespace kestrel {

class DbError;
enum class Owner { Form, Module };

// Runs one action statement on a connection of its own and returns the rows it changed (0 when
// an UPDATE or DELETE found none). Throws DbError; ActionQuery (ui/Report.h) tells the user.
int ExecuteAction(const QString& statement, const QString& connectionText);

// The plain words for a failure that is a condition of the machine; empty for a program fault.
// canRetry tells whether the words end in a question whose Yes means "try again".
QString MachineFaultText(const DbError& e, const QString& path, bool* canRetry = nullptr);

// Start-up check of the data folder, done once before the main window loads. A first run (no
// folder, or neither contacts.mdb nor kestrel.mdb in it) makes both files silently; one file
// missing beside the other is made anew and named in a notice; data that cannot be changed
// (read-only, full disk) gets one notice. Afterwards no missing file is ever made again.
// Returns the notices, in the order to show them.
QStringList CheckDataFiles();

// False when the start-up check found that the data of connectionText cannot be changed: the
// program's own housekeeping (the purge of old appointments) is then skipped without a word.
bool DataWritable(const QString& connectionText);

// "Error N (description) in procedure P of Form F" / "... of Module M".
QString ErrorReport(long number, const QString& description, const QString& procedure, Owner kind,
                    const QString& owner);
QString ErrorReport(const DbError& e, const QString& procedure, Owner kind, const QString& owner);
QString ErrorReport(const std::exception& e, const QString& procedure, Owner kind, const QString& owner);

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
