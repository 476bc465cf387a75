#pragma once
// Finding contacts by what a person remembers of them: part of a name, a company, a city, an
// e-mail address or a phone number's digits, typed in any order.
//
// The contacts file keeps a table of folded search words per contact (contact_find3), ordered by
// name, which holds the subjects and notes of its history too. Triggers on contacts and history
// only note which contacts changed (contact_find3_stale), in plain SQL, so every writer (the
// editor, the import, a delete, even another tool) keeps the index honest without knowing about
// it; the words are folded here, before each search, for the noted rows.
#include <QString>
#include <QStringList>

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
};

// The contacts of the database that every needle of the typed text finds, at most limit of them.
// An empty search finds nothing. Brings the index up to date first (building it for a file that
// lacks it); a file that may not be written is searched without the index. Throws DbError.
FoundContacts findContacts(const QString& connectionText, const QString& typed, int limit);

// Builds the index for a file that lacks it and folds the rows changed since the last search.
// Throws DbError; a file that may not be written is left as it is.
void prepareSearchIndex(const QString& connectionText);

} // namespace kestrel
