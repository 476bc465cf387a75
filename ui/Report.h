#pragma once
// What the data layer found, told to the user. data/ throws DbError and returns a guarded save's
// outcome; these routines choose the words, ask where the user can choose a way on (try again,
// save over another user's change), and report the program's own faults.
#include "data/RowGuard.h"
#include "data/modData.h"

#include <QString>

#include <functional>
#include <optional>

namespace kestrel {

// Executes one action statement on its own connection; when it returns true the change is in the
// database file itself. A failure is reported to the user (RunAction) and false is returned, so a
// caller can keep the user's input.
bool ActionQuery(const QString& statement, const QString& connectionText);
// As ActionQuery, and tells how many rows the statement changed: -1 when it failed (and was
// reported), 0 when an UPDATE or DELETE found no row to change.
int ActionQueryCount(const QString& statement, const QString& connectionText);

// Runs action, which works on the file connectionText names through connections of its own, and
// tells the user about a failure. A condition of the machine gets plain words: a lock held by
// another running copy, a full disk or a disk error ask whether to try again (Yes runs action
// anew, so it must be all-or-nothing: one statement, or one Transaction); a read-only, missing
// or damaged file is said as such. Anything else is a fault of the program: the error report of
// procedure/owner goes to ReportBug. While a lock is waited for the busy cursor shows.
// Returns true once action has run to its end.
bool RunAction(const QString& connectionText, const std::function<void()>& action,
               const QString& procedure = QStringLiteral("ActionQuery"), Owner kind = Owner::Module,
               const QString& owner = QStringLiteral("modData"));

// Shows text followed by the request to report the bug, OK only.
void ReportBug(const QString& text);

// The one way a routine reports what stopped it: a condition of the machine (a full disk, a
// damaged file, a server gone) in plain words with what to do (MachineFaultNotice), and nothing
// more for a file start-up already said it cannot use; anything else as the report above in a
// plain box (OK only, no icon, caption Kestrel), followed by the request to report the bug where
// the routine asks for it.
enum class ReportAs { Plain, Bug };
void ReportFailure(const std::exception& e, const QString& procedure, Owner kind, const QString& owner,
                   ReportAs as = ReportAs::Plain);
// The plain words ReportFailure gives e, empty for a fault of the program; toldAtStart is set
// when start-up has already said it (then nothing needs saying).
QString MachineFaultWords(const std::exception& e, bool* toldAtStart = nullptr);

// saveIfUnchanged with a failure told to the user the way every action statement's failure is
// (a lock held by another copy or a full disk may be tried again): Failed then.
GuardedSave GuardedUpdate(const QString& connectionText, const RowKey& row, const QString& seenVersion,
                          const QString& updateStatement);

// An editor's save of the row it showed (what names it to the user: "contact", "appointment").
// When someone else changed the row meanwhile, the user is asked whether to save over their
// change; Yes saves against the version just found, No gives Changed (the window stays with what
// was typed). Deleted and Failed as GuardedUpdate.
SaveOutcome SaveEditedRow(const QString& connectionText, const RowKey& row, QString& seenVersion,
                          const QString& updateStatement, const QString& what);

// Start-up with an office database: reaches the server, and when it cannot, says which server and
// why and offers a way on: try again, use the local files this time, or quit. A server that wants
// a password .pgpass does not hold is asked for it; the password then goes into the returned
// connection string for this run only, never into the settings. Returns the connection string to
// start with (empty: the local files), or nothing to quit.
std::optional<QString> reachOfficeDatabase(const QString& conninfo);

// At start: a password an earlier version kept in the settings with the office database is taken
// out of them, and the user told where a password belongs.
void forgetStoredPassword();

} // namespace kestrel
