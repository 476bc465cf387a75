#pragma once
// The search index's tables in a contacts file: made, folded and asked how current it is. Used by
// the search (data/SearchIndex.cpp) and by the build behind the window; nothing else reads them.
#include "data/Database.h"
#include "data/SpeedUps.h"

#include <QString>

#include <cstdint>

namespace kestrel::searchindex {

// contact_find4: the folded words of each contact beside its name key, in name order.
// contact_find4_tri: the same words cut into three-character pieces (SQLite's trigram full-text
// table, kept without a copy of the text), so a text of three or more characters is looked up
// instead of read past every contact.
// contact_find4_stale: which contacts changed since they were folded, noted by triggers.
inline constexpr char kWords[] = "contact_find4";
inline constexpr char kTrigrams[] = "contact_find4_tri";

// The contacts the search folds itself before it looks, rather than saying the index is not
// ready: about a tenth of a second's work.
inline constexpr int kFoldWhileSearching = 1000;
// The contacts folded in one transaction by the build: writers wait at most for one such step.
int foldStepRows();
void setFoldStepRows(int rows); // tests make the steps small to write between them
// The rows a search walks in name order before it asks the trigram table (a few milliseconds);
// tests set none, so that their small files are looked up as a large one is.
int walkFirstRows();
void setWalkFirstRows(int rows);
// The rows of the office server's table sampled to judge whether a text is rare enough to skip
// the walk; tests that drive the walk set none, so that it always comes first.
int sampledRows();
void setSampledRows(int rows);

struct State {
    bool onServer = false;
    bool readOnly = false;
    bool complete = false;      // every table and trigger of the index is there
    std::int64_t waiting = 0;   // contacts to fold, counted up to at most `countedUpTo`
};
// How current the index is, counting the contacts still to fold up to countedUpTo (every contact
// when the index is not there yet).
State stateOf(Connection& db, std::int64_t countedUpTo);

// Makes the index's tables and triggers anew (dropping an earlier form's), with every contact
// noted as changed. Throws DbError.
void createIndex(Connection& db);
// The indexes of the words' last characters (see SearchIndex.cpp), which an index from before
// them gains once (SpeedUps.h); whether the index has them.
const std::vector<SpeedUp>& wordEndSpeedUps();
bool hasWordEndIndexes(Connection& db);
// Folds at most rows of the noted contacts (all of them when rows <= 0) in one transaction;
// returns how many it folded. Throws DbError.
std::int64_t foldNoted(Connection& db, std::int64_t rows);

// The fields a contact is found by, as read from contacts; the first eight are what the list shows.
inline constexpr char kContactFields[] = "lastname, firstname, company, city, email, homeph, cellph, workph, country, "
                                         "jobtitle, website, birthday, notes";
inline constexpr int kFieldCount = 13;

struct ContactRow {
    int id = 0;
    QString f[kFieldCount]; // in the order of kContactFields
    QString history;        // the subjects and notes of its history, a line or more each
};
// What the index holds of a contact, and the key it is listed by.
QString wordsOf(const ContactRow& r);
// Whether wordsOf(r) holds every needle (none of which holds a line break), folding no more of r than it must.
bool holdsAll(const ContactRow& r, const QStringList& needles);
QString sortKey(const QString& lastName, const QString& firstName);
void addHistoryText(QString& to, const QString& subject, const QString& note);
QString digitsOf(const QString& s);

} // namespace kestrel::searchindex
