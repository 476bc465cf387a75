#pragma once
// The contact's history on a printed lead form. A template asks for it with a paragraph holding
// <<History>> (the latest five entries) or <<History N>> (the latest N, at most 50); the form
// printed for a contact carries there the contact's name and last contact, then one line per
// entry, newest first, each followed by its note. Printed without a contact, that paragraph is
// left empty, for writing in by hand. A template without the token prints as it is.
#include "data/History.h"

#include <QString>

#include <vector>

class QTextDocument;

namespace kestrel {

constexpr int kMostPrintedEntries = 50;

// The entries the template's tokens ask for: the largest N among them, 0 when it holds none.
int HistoryEntriesAsked(const QTextDocument& form);

// Puts the history in place of every token of form, in the token's own character format.
// name is the contact's "First Last"; entries are newest first (fewer than asked is fine).
// Without a contact (name empty) each token is taken out. Returns the tokens replaced.
int FillLeadHistory(QTextDocument& form, const QString& name, const std::vector<HistoryEntry>& entries);

} // namespace kestrel
