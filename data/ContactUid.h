#pragma once
// Every contact carries a uid of its own, made when the row is made and never changed: the key a
// vCard (and a phone's address book through a sync server) knows the contact by, so that a card
// exported, imported or synced again finds the same contact instead of making a second one.
#include <QString>

namespace kestrel {

class Connection;

// SQLite's expression for a fresh uid: a random UUID (version 4 of RFC 9562) in its usual form.
#define KESTREL_LOCAL_UID_SQL                                                                                           \
    "lower(hex(randomblob(4))) || '-' || lower(hex(randomblob(2))) || '-4' || substr(lower(hex(randomblob(2))), 2) || " \
    "'-' || substr('89ab', 1 + (abs(random()) % 4), 1) || substr(lower(hex(randomblob(2))), 2) || '-' || "             \
    "lower(hex(randomblob(6)))"
// The index and the trigger that give every new row of a local contacts file its uid.
#define KESTREL_LOCAL_UID_SCHEMA                                                                                        \
    "CREATE UNIQUE INDEX IF NOT EXISTS contacts_by_uid ON contacts(uid);"                                              \
    "CREATE TRIGGER IF NOT EXISTS contacts_uid AFTER INSERT ON contacts WHEN NEW.uid IS NULL "                         \
    "BEGIN UPDATE contacts SET uid = " KESTREL_LOCAL_UID_SQL " WHERE id = NEW.id; END"

// A fresh uid made by the program (the same form).
QString newContactUid();

// Gives a local contacts file made before contacts had uids its column, the trigger that gives
// every new row one, and a uid for every row already there (the office server's schema does the
// same in its own step). Cheap when all is in place. False when the file has no column and cannot
// be given one (it can only be read): its contacts then have no uid. Throws DbError.
bool ensureContactUids(Connection& connection);

} // namespace kestrel
