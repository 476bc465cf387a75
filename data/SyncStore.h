#pragma once
// What the sync with a phone's address book and calendar keeps in the contacts database: per
// collection (the server's address book or calendar, by its URL) the server's sync token and
// collection tag and who is syncing it right now; per item the server's href and ETag, its text
// as last seen and the values both sides last agreed on. What the phone deleted goes to the trash.
// The tables are made on first use in a local file and by the schema on the server.
// Nothing here asks the user; failures throw DbError.
#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

namespace kestrel {

enum class SyncKind { Contacts, Appointments };

// The columns a kind's values are, in order: contacts as contactFields(), appointments name,
// address, apptdate (yyyy-MM-dd), appttime (HH:mm:ss), apptbrief, apptnotes, enddate (empty on
// the first day), endtime (empty for whole days), allday and cancelled ("1" or empty), rrule,
// exdates (every day the series' own event leaves out, those of its own rows too) and overrides
// (encodeOverrides). A series travels whole, as one calendar resource: the rows that stand for
// one of its days are in its overrides, never items of their own.
QStringList syncColumns(SyncKind kind);
inline constexpr int kSyncApptOwnColumns = 10; // name … cancelled: what a day of a series has of its own
enum SyncAppt { kSyncDate = 2, kSyncTime = 3, kSyncEndDate = 6, kSyncEndTime = 7, kSyncAllDay = 8, kSyncCancelled = 9,
                kSyncRule = 10, kSyncExdates = 11, kSyncOverrides = 12 };

// The overrides value: per day of the series that a row of its own stands for, the day it replaces
// (yyyy-MM-dd) then that row's first kSyncApptOwnColumns values; ordered by day, empty for none.
QString encodeOverrides(const std::vector<QStringList>& days);
std::vector<QStringList> decodeOverrides(const QString& text);

// One contact or appointment as the sync sees it.
struct SyncRow {
    std::int64_t id = 0;
    QString uid;        // contacts: their uid; appointments: the calendar key they go by
    QStringList values; // as syncColumns
};

// One item of the server's collection as last synced. localId 0: an item Kestrel has no place for
// (a repeating event, a to-do item), remembered so that it is not fetched again.
struct SyncItem {
    QString href, uid, etag;
    std::int64_t localId = 0;
    QStringList base;   // the local values both sides agreed on; empty before the first agreement
    QByteArray card;    // the server's text as of etag
};

struct SyncState {
    QString token, ctag;
    std::vector<SyncItem> items;
};

// Every row of the kind. Throws DbError.
std::vector<SyncRow> loadSyncRows(const QString& connectionText, SyncKind kind);
// What was kept for the collection. Throws DbError.
SyncState loadSyncState(const QString& connectionText, const QString& collection);

// Takes the collection for holder until `until` (seconds since the epoch), unless another holder
// has it for longer: two running copies never sync one collection at once. False when taken.
bool takeSyncLease(const QString& connectionText, const QString& collection, SyncKind kind, const QString& holder,
                   std::int64_t now, std::int64_t until);
void releaseSyncLease(const QString& connectionText, const QString& collection, const QString& holder);

// One change, local and of the kept state, applied with others in one transaction.
struct SyncChange {
    enum class Local { None, Insert, Update, Remove };
    Local local = Local::None;
    std::int64_t localId = 0;   // Update, Remove; set by Insert
    QString uid;                // Insert: the new row's uid (contacts) or calendar key (appointments)
    QStringList values;         // Insert, Update
    QStringList seen;           // Update, Remove: the row as read; it is left alone if it changed since
    QString why;                // Remove: what the trash says of it ("deleted on the phone ...")
    bool dropItem = false;      // forget the item (by item.href)
    bool keepItem = false;      // leave the kept item as it is
    SyncItem item;              // else kept as this (its localId follows the row's)
    bool skipped = false;       // set when the row had changed since it was read: nothing was done
};
// Applies the changes in order in one transaction: all of them or none. Throws DbError.
void applySyncChanges(const QString& connectionText, const QString& collection, SyncKind kind,
                      std::vector<SyncChange>& changes);

void saveSyncToken(const QString& connectionText, const QString& collection, const QString& token, const QString& ctag);
// Forgets everything kept for the collection (another one was chosen).
void forgetSyncCollection(const QString& connectionText, const QString& collection);

} // namespace kestrel
