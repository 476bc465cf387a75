#pragma once
// Two-way sync of one address book or calendar of a CardDAV/CalDAV server with the contacts or
// appointments: what changed on the server since the last sync (RFC 6578's sync report where the
// server offers it, else its collection tag and the items' ETags) is fetched in batches and merged
// field by field with what changed here; what changed here is written with If-Match (If-None-Match
// for new items), and a refusal (412) fetches the server's copy and merges again. A field changed
// on both sides to different values is left as it is on both sides until the user has decided.
// Widget-free: it runs in a thread of its own and reaches the database through a Store.
#include "data/SyncStore.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QTimeZone>
#include <QUrl>

#include <functional>
#include <vector>

namespace kestrel::dav {
class Client;
}

namespace kestrel::sync {

struct Collection {
    QUrl url;
    SyncKind kind = SyncKind::Contacts;
    bool vcard3 = false; // the address book takes vCard 3.0 only
};

// A field changed on both sides since the last sync, to different values.
struct Conflict {
    SyncKind kind = SyncKind::Contacts;
    QString collection, href, etag;
    QString who;    // the contact or appointment as the user knows it
    QString field;  // its column
    QString here, there;
    // A day of a series that one side has not as its own (here or there empty): what that side has for it.
    QString hereWithout, thereWithout;
};

// The user's answer to a conflict: keep the value here (and send it), or take the server's.
struct Decision {
    QString href, etag, field;
    bool keepHere = false;
};

enum class Outcome {
    Synced,        // both sides agree (but for the conflicts listed, if any)
    Stopped,       // cancelled
    Unreachable,   // no answer from the server
    Refused,       // the server refused the user name or password
    Missing,       // the address book or calendar is not there (any more)
    ServerFault,   // the server answered with an error
    Busy,          // another running copy is syncing the same collection
    DataFault,     // the database could not be read or written (detail: its words)
    Distrusted,    // the server sent Kestrel somewhere the password must not go, or answered without end
};

struct Report {
    Outcome outcome = Outcome::Synced;
    QString detail;            // the server's or the database's own words
    int broughtIn = 0;         // new and changed items taken from the server
    int removedHere = 0;       // items the server no longer has, removed here (kept to restore)
    int sentOut = 0;           // new and changed items written to the server
    int removedThere = 0;      // items deleted here, deleted on the server
    QStringList notes;         // what the user should know (an item kept after a delete, ...)
    std::vector<Conflict> conflicts;
    int requests = 0;
    void add(const Report& other);
};

// The database side of a sync.
class Store {
public:
    virtual ~Store() = default;
    virtual std::vector<SyncRow> rows(SyncKind kind) = 0;
    virtual SyncState state(const QString& collection) = 0;
    virtual bool lease(const QString& collection, SyncKind kind, bool take) = 0;
    virtual void apply(const QString& collection, SyncKind kind, std::vector<SyncChange>& changes) = 0;
    virtual void saveToken(const QString& collection, const QString& token, const QString& ctag) = 0;
};

// done of total items fetched and written so far.
using ProgressFn = std::function<void(int done, int total)>;

struct Options {
    QTimeZone zone = QTimeZone::systemTimeZone();
    std::vector<Decision> decisions;
    ProgressFn progress;
    int batch = 200;            // hrefs per multiget
};

// One sync of the collection. Never throws: what stopped it is in the report.
Report syncCollection(dav::Client& client, Store& store, const Collection& collection, const Options& options);

// The href a new item of the collection is written to: its uid where that is a safe file name.
QString newItemHref(const QUrl& collection, const QString& uid, SyncKind kind);

// Field-by-field merge of three versions (base: both sides as they last agreed). For each field:
// changed here only → here; changed there only → there; changed on both sides to the same value
// (as normal() makes it comparable) → here; to different values → a conflict (here kept).
struct Merged {
    QStringList values;
    QList<int> takenThere;  // fields taken from there
    QList<int> sendHere;    // fields changed here that the server lacks
    QList<int> conflicts;
};
Merged mergeFields(const QStringList& base, const QStringList& here, const QStringList& thereBefore,
                   const QStringList& there, const QStringList& hereNormal);

// The days of a series changed on their own (its "overrides", as encodeOverrides writes them)
// merged day by day as mergeFields merges fields: a day changed on one side only is taken from
// it, one changed on both sides differently is a conflict of its own. known: the two sides have
// a common past (the last sync).
struct MergedDays {
    QStringList days;          // ISO dates, the days either side has
    QStringList there;         // each day as there (empty: not a day of its own there)
    Merged merged;             // per day, as mergeFields gives it
};
MergedDays mergeDays(bool known, const QString& base, const QString& here, const QString& thereBefore,
                     const QString& there, const QString& hereNormal);
// The days a series leaves out (its "exdates") merged as sets: what either side added since the
// last sync is added, what either removed is removed; never a conflict.
QString mergeDaySets(bool known, const QString& base, const QString& here, const QString& there);
// The merged days back in one value.
QString joinDays(const QStringList& days);
// The field a conflict about one such day is asked and answered under: "overrides/2027-03-09".
QString dayField(const QString& isoDay);
// What a series (its values, as syncColumns) has for one of its days that is not a day of its own
// there, in the words of the question about that day: the series' day, or that it was deleted.
QString seriesDayWords(const QStringList& series, const QString& isoDay);

} // namespace kestrel::sync
