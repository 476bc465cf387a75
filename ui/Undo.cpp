#include "ui/Undo.h"

#include "data/Trash.h"
#include "platform/Platform.h"
#include "ui/Report.h"

#include <utility>

namespace kestrel {

namespace {
UndoStep& last()
{
    static UndoStep step;
    return step;
}
} // namespace

void rememberChange(UndoStep change) { last() = std::move(change); }

void forgetChanges() { last() = {}; }

bool canUndo() { return bool(last().undo); }

QString undoCaption() { return canUndo() ? QStringLiteral("Undo ") + last().name : QStringLiteral("Can't Undo"); }

bool undoLastChange()
{
    if (!canUndo())
        return false;
    // Forgotten first: a step is taken back once. One that could not be done (a lock the user did
    // not wait for) is still in Edit > Trash.
    const UndoStep step = std::exchange(last(), UndoStep{});
    return step.undo();
}

void rememberTrashed(const QString& name, const QString& connectionText, const QString& batch)
{
    rememberChange({name, [name, connectionText, batch] {
                        int restored = 0;
                        if (!RunAction(connectionText, [&] { restored = restoreFromTrash(connectionText, batch); },
                                       QStringLiteral("undoLastChange")))
                            return false;
                        if (restored == 0) {
                            platform().msgBox(QStringLiteral("%1 cannot be undone: what it deleted was restored or "
                                                             "deleted for good from the trash meanwhile.").arg(name));
                            return false;
                        }
                        return true;
                    }});
}

void rememberSave(const QString& name, const QString& connectionText, const RowKey& row, const QString& written,
                  const QString& undoStatement)
{
    rememberChange({name, [name, connectionText, row, written, undoStatement] {
                        QString version = written;
                        for (;;) {
                            const GuardedSave undone = GuardedUpdate(connectionText, row, version, undoStatement);
                            if (undone.outcome == SaveOutcome::Saved)
                                return true;
                            if (undone.outcome == SaveOutcome::Failed)
                                return false;
                            if (undone.outcome == SaveOutcome::Deleted) {
                                platform().msgBox(QStringLiteral("%1 cannot be undone: it was deleted meanwhile.").arg(name));
                                return false;
                            }
                            if (!platform().askYesNo(QStringLiteral("Someone else changed it after your save.\n\n"
                                                                    "%1 over their change?").arg(QStringLiteral("Undo ") + name),
                                                     QStringLiteral("Undo")))
                                return false;
                            version = undone.current;
                        }
                    }});
}

} // namespace kestrel
