#pragma once
// Statement execution, the value rules for writing values into statements, and the program's
// error report texts.
#include <QDate>
#include <QString>
#include <QStringList>
#include <QTime>

#include <functional>
#include <memory>

namespace kestrel {

class BackgroundQuickCheck;
class DbError;
enum class Owner { Form, Module };

// Runs one action statement on a connection of its own and returns the rows it changed (0 when
// an UPDATE or DELETE found none). Throws DbError; ActionQuery (ui/Report.h) tells the user.
int ExecuteAction(const QString& statement, const QString& connectionText);

// The plain words for a failure that is a condition of the machine; empty for a program fault.
// canRetry tells whether the words end in a question whose Yes means "try again".
QString MachineFaultText(const DbError& e, const QString& path, bool* canRetry = nullptr);

// The same conditions in words for anything a condition of the machine stopped (a list that
// could not be filled, an import), without a question: what happened to which file or server,
// and what to do. Uses e.source(); empty for a program fault or where the source is not known.
QString MachineFaultNotice(const DbError& e);

// True when start-up already said this condition of e.source(): a file damaged or not Kestrel's
// is told once, not again by every list that would read it.
bool FaultToldAtStart(const DbError& e);

// Start-up check of the data folder, done once before the main window loads. A first run (no
// folder, or neither contacts.mdb nor kestrel.mdb in it) makes both files silently; one file
// missing beside the other is made anew and named in a notice; data that cannot be changed
// (read-only) gets one notice, and so does a full disk, without claiming that nothing can be
// saved; a file that is damaged or not one of Kestrel's is named once, with what to do, and left
// as it is. Afterwards no missing file is ever made again. Returns the notices, in order.
QStringList CheckDataFiles();

// Start-up's deeper look for damage inside the files (PRAGMA quick_check) on a thread of its own,
// so that the window is not kept waiting. Each damaged file is from then on opened for reading
// only, so no save goes into it, and notice gets the words for it on the thread that started the
// check. Keep the object while the program runs (destroying it stops the check); null when there
// is nothing to check.
std::unique_ptr<BackgroundQuickCheck> CheckDataIntegrity(const std::function<void(const QString& notice)>& notice);
// Takes the damaged file at path out of writing and returns what to tell the user.
QString FileFoundDamaged(const QString& path, const QStringList& problems);

// False when the start-up check found that the data of connectionText cannot be changed (or
// damaged since), or its disk full: the program's own housekeeping (the purge of old
// appointments) is then skipped without a word.
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
