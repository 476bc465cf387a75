#pragma once
// Edit > Undo: the last change the user made in this run, and how to take it back. A window that
// makes a change names it ("Delete Contact 'O'Brien, Pat'") and hands over the step that undoes
// it; the step tells the user itself when it cannot be done (the row was changed or restored
// elsewhere meanwhile) and returns false then.
#include "data/RowGuard.h"

#include <QString>

#include <functional>

namespace kestrel {

struct UndoStep {
    QString name;                 // "Delete Contact 'O'Brien, Pat'"
    std::function<bool()> undo;   // takes the change back; false when it could not
};

// Remembers change as the one Edit > Undo takes back, in place of the one before.
void rememberChange(UndoStep change);
// Forgets the last change (the data it would take back are no longer this run's: a restored backup).
void forgetChanges();
// "Undo Delete Contact 'O'Brien, Pat'", or "Can't Undo" when there is nothing to take back.
QString undoCaption();
bool canUndo();
// Takes back the last change and forgets it; false when there was none or it could not be done.
bool undoLastChange();

// Remembers rows moved to the trash as batch under name: undoing it puts them back, and says so
// when the batch was restored or deleted for good elsewhere meanwhile.
void rememberTrashed(const QString& name, const QString& connectionText, const QString& batch);

// Remembers an editor's save of row as name: undoing it runs undoStatement (which writes back the
// values the row held before) when the row still holds the version written; when someone else
// changed it since, the user is asked first, and a row deleted since is said as such.
void rememberSave(const QString& name, const QString& connectionText, const RowKey& row, const QString& written,
                  const QString& undoStatement);

} // namespace kestrel
