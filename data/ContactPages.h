#pragma once
// Contacts read a page at a time, in name order, for lists that show a million of them without
// holding them all: the initials there are, and the contacts under one initial after a
// given one. Pages continue from the last row read by its key (name, then id), never by an
// offset, so a page costs the same at the end of the table as at its start and rows written or
// deleted between pages neither repeat nor go missing.
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;

namespace kestrel {

class Connection;

// The first character of the last name as both engines index it (letters A-Z in capitals, any
// other character as it is; empty for an empty or missing name), with how many contacts share it
// (-1: not counted).
struct InitialCount {
    QString key;
    bool nullName = false; // the contacts without a last name at all
    std::int64_t count = 0;
};

// The initials in the order both lists file them: under their letter A-Z (accents removed, as
// fileInitial files a name), then "#"; within a letter the missing names first, then each initial
// by its code points, so the plain letter comes before its accented forms. Each is one range of
// the initial's index, read by key on both engines (a letter read in folded order would have to be
// read whole).
struct InitialPart {
    QChar letter; // 'A'-'Z' or '#'
    QString key;
    bool nullName = false;
    std::int64_t count = 0;
};
std::vector<InitialPart> initialParts(const std::vector<InitialCount>& initials);

// A contact's line in the tree, which is also its place in name order.
struct NameRow {
    std::int64_t id = 0;
    std::optional<QString> last, first, address; // nullopt: the value is missing
};

// Every first character there is, for one type ("" for every contact), without counting: the
// index is searched from each to the next, a few dozen lookups whatever the table's size (a count
// reads every row). Their counts are -1. Throws DbError.
std::vector<InitialCount> presentInitials(Connection& db, const QString& type);
// Whether more than n contacts are of the type ("" for every contact). Throws DbError.
bool moreContactsThan(Connection& db, const QString& type, int n);

// A row of contactsUnder as the engine holds it, valid only while it is handed over: the values
// as UTF-8 (nullopt: the value is missing).
struct NameBytes {
    std::int64_t id = 0;
    std::optional<std::string_view> last, first, address;
};

// The contacts whose key is one of keys (or whose last name is missing, when withNullName), of
// one type or every one (""), in name order (last, first, address, id), those after `after`
// when given; at most limit of them (0: all). Each is handed to onRow as it is read, without a
// copy of its texts; the last one read is returned, where the next page starts (nullopt when
// none was). Throws DbError.
std::optional<NameRow> contactsUnder(Connection& db, const QStringList& keys, bool withNullName, const QString& type,
                                     const std::optional<NameRow>& after, int limit,
                                     const std::function<void(const NameBytes&)>& onRow);

// The key the contact with this id is filed under, when it is stored and of the type ("" for any;
// a missing last name gives an empty key). Throws DbError.
std::optional<QString> contactKey(Connection& db, std::int64_t id, const QString& type);

// Gives a contacts file from before the key's index that index (not one that may not be changed).
void addInitialIndex(sqlite3* db, bool readOnly);

} // namespace kestrel
