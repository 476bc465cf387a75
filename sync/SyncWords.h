#pragma once
// What a sync did, and what stopped it, in the program's words: for the status bar, the question
// about a value changed on both sides, and kestrel --sync.
#include "sync/SyncEngine.h"

#include <QDateTime>
#include <QString>

namespace kestrel::sync {

// "Synced 2:14 PM", or "Not synced: ..." with the reason in a few words.
QString statusLine(const Report& report, const QDateTime& at);
// Why a sync did not finish, in a sentence or two (empty when it did).
QString whyNot(const Report& report, const QString& server);
// What the sync changed, one line each (empty when nothing changed).
QStringList changeLines(const Report& report);
// The name of a field in the questions.
QString fieldName(SyncKind kind, const QString& column);
// The question for a value changed on both sides: Yes keeps the value here.
QString conflictQuestion(const Conflict& c);

} // namespace kestrel::sync
