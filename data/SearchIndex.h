#pragma once
// Finding contacts by what a person remembers of them: part of a name, a company, a city, an
// e-mail address or a phone number's digits, typed in any order.
//
// The contacts file keeps a table of folded search words per contact, ordered by name, which
// holds the subjects and notes of its history too, and a trigram table over the same words.
// Triggers on contacts and history only note which contacts changed, in plain SQL, so every
// writer (the editor, the import, a delete, even another tool) keeps the index honest without
// knowing about it; the words are folded here, before each search, for the noted rows. Where many
// are noted (a new or older file, a large import, rows written by another program) the index is
// brought up to date by buildSearchIndex, behind the window, and the search says it is not ready.
#include <QString>
#include <QStringList>

#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

namespace kestrel {

// The search text as the pieces every found contact must contain, each as it is compared with
// the folded words: words split at blanks, folded; a word made only of digits and phone
// punctuation ("555-0199", "(415)", "+49") stands for its digits. Pieces contained in another
// piece are dropped (they add nothing). Only the first kMaxSearchChars characters count.
constexpr int kMaxSearchChars = 100;
QStringList searchNeedles(const QString& typed);

// The folded words a contact is found by: last name, first name, company, city and e-mail,
// then the digits of its home, cell and work phone, one field a line. The index adds the
// country, job title, web site, the digits of the birthday and the notes after them, then the
// subjects and notes of the contact's history.
QString searchWords(const QString& lastName, const QString& firstName, const QString& company, const QString& city,
                    const QString& email, const QString& homePhone, const QString& cellPhone, const QString& workPhone);

struct FoundContact {
    int id = 0;
    QString lastName, firstName, company, city;
    QString phone; // the phone the search matched, else work, cell or home, whichever is first given
};

struct FoundContacts {
    std::vector<FoundContact> rows; // by last name, then first name
    bool more = false;              // further contacts match beyond the limit
    // The index must first be built or folded for more contacts than a keystroke may wait for
    // (buildSearchIndex), or, for a text of one or two letters, gain the word ends' indexes
    // (SpeedUps.h); nothing was searched. waiting: how many contacts are left to index.
    bool notReady = false;
    std::int64_t waiting = 0;
};

// The contacts of the database that every needle of the typed text finds, at most limit of them.
// An empty search finds nothing. Brings the index up to date first where that is a moment's work
// (a new small file, the contacts changed since the last search), else finds nothing and says the
// index is not ready; a file that may not be written is searched without the index. Throws DbError.
FoundContacts findContacts(const QString& connectionText, const QString& typed, int limit);

// Whether the index of this file must be built or folded for many contacts before Find can answer
// (a file written by another program, an older file, a large import). Throws DbError.
bool searchIndexNeedsBuilding(const QString& connectionText);

struct SearchIndexProgress {
    std::int64_t done = 0, total = 0; // contacts folded so far, of about total
};
// Builds the index for a file that lacks it and folds every noted contact, a few thousand in each
// short transaction so that the program's writes wait at most for one of them; what is written
// meanwhile is noted and folded by a later step. progress is told after each step; stop ends the
// work between steps. Returns true when the index is whole and current, false when stopped or
// when the file may not be written (or is the office server's). Throws DbError.
bool buildSearchIndex(const QString& connectionText, const std::function<void(SearchIndexProgress)>& progress,
                      const std::atomic<bool>& stop);
// The same, whole, on the calling thread.
void prepareSearchIndex(const QString& connectionText);

} // namespace kestrel
