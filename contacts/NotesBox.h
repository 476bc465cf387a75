#pragma once
// A box of several lines that holds at most a number of characters: typing stops at the limit,
// and a paste or a drop that would go past it is refused whole, named with the limit, leaving the
// box as it was before it (nothing typed is lost).
#include <QString>

class QPlainTextEdit;

namespace kestrel {

// The words a refused paste is told with, from the limit and what the box would have held.
using LimitWords = QString (*)(int limit, qsizetype wouldHold);
QString notesLimitText(int limit, qsizetype wouldHold);
QString addressLimitText(int limit, qsizetype wouldHold);

void limitNotes(QPlainTextEdit* box, int limit, LimitWords words = notesLimitText);
// Puts a stored text into the box whole, even when it is longer than the limit (it may then be
// shortened, never lengthened).
void setNotesText(QPlainTextEdit* box, const QString& text);

} // namespace kestrel
