#include "data/SyncStore.h"

#include "data/SyncAppts.h"

#include "data/ContactFields.h"
#include "data/ContactUid.h"
#include "data/Database.h"
#include "data/ExchangeStore.h"
#include "data/Statement.h"
#include "data/Trash.h"
#include "data/modData.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace kestrel {

namespace {

// Made on first use in a local file; the office server's schema makes them there.
const char* const kLocalSyncTables =
    "CREATE TABLE IF NOT EXISTS sync_collections(collection TEXT PRIMARY KEY, kind TEXT NOT NULL, sync_token TEXT, "
    "ctag TEXT, lease_until INTEGER, lease_by TEXT);"
    "CREATE TABLE IF NOT EXISTS sync_items(collection TEXT NOT NULL, href TEXT NOT NULL, uid TEXT, local_id INTEGER, "
    "etag TEXT, card TEXT, base TEXT, PRIMARY KEY(collection, href));"
    "CREATE INDEX IF NOT EXISTS sync_items_by_local ON sync_items(collection, local_id);"
    "CREATE TABLE IF NOT EXISTS exchange_identity(identity TEXT NOT NULL);"
    "CREATE TABLE IF NOT EXISTS ical_uids(uid TEXT PRIMARY KEY, autoid INTEGER NOT NULL);";

Statement native(Connection& c, const QString& sql) { return Statement(c, sql, Statement::Dialect::Native); }

bool haveTables(Connection& c)
{
    Statement q = native(c, QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type='table' AND name IN "
                                           "('sync_collections','sync_items','ical_uids')"));
    return q.step() && q.integer(0) == 3;
}

void ensureTables(Connection& c)
{
    if (c.onServer())
        return;
    if (!c.readOnly() && !haveTables(c)) {
        Transaction t(c);
        for (const QString& sql : QString::fromLatin1(kLocalSyncTables).split(u';', Qt::SkipEmptyParts))
            native(c, sql).run();
        t.commit();
    }
    ensureContactUids(c);
}

QString table(SyncKind k) { return k == SyncKind::Contacts ? QStringLiteral("contacts") : QStringLiteral("appointments"); }

QStringList readValues(const Statement& q, int first, const QStringList& columns)
{
    QStringList values;
    values.reserve(columns.size());
    for (int i = 0; i < columns.size(); ++i)
        values << syncValueText(q, first + i, columns[i]);
    return values;
}

void bindValue(Statement& s, int index, const QString& column, const QString& value)
{
    // A date or time the row does not have stays missing rather than an empty text.
    if (value.isEmpty() && (column == QLatin1String("apptdate") || column == QLatin1String("appttime")))
        s.bindNull(index);
    else
        s.bind(index, value);
}

QString encodeBase(const QStringList& base)
{
    if (base.isEmpty())
        return {};
    return QString::fromUtf8(QJsonDocument(QJsonArray::fromStringList(base)).toJson(QJsonDocument::Compact));
}

QStringList decodeBase(const QString& text)
{
    QStringList out;
    for (const QJsonValue& v : QJsonDocument::fromJson(text.toUtf8()).array())
        out << v.toString();
    return out;
}

QString identityOf(Connection& c)
{
    {
        Statement q = native(c, QStringLiteral("SELECT identity FROM exchange_identity LIMIT 1"));
        if (q.step())
            return q.text(0);
    }
    return {};
}

// What the trash calls a row the phone deleted: "Lee, Ann" or "3/7/2026 Review", and why it went.
QString removedLabel(Connection& c, SyncKind kind, std::int64_t id, const QString& why)
{
    Statement q = native(c, kind == SyncKind::Contacts
                                ? QStringLiteral("SELECT lastname,firstname,company FROM contacts WHERE id=?")
                                : QStringLiteral("SELECT apptdate,apptbrief FROM appointments WHERE autoid=?"));
    q.bind(1, id);
    if (!q.step())
        return {};
    QString summary;
    if (kind == SyncKind::Contacts) {
        const QString last = q.text(0), first = q.text(1);
        summary = last.isEmpty() || first.isEmpty() ? last + first : last + QStringLiteral(", ") + first;
        if (summary.isEmpty())
            summary = q.text(2);
    } else {
        const QDate d = QDate::fromString(syncValueText(q, 0, QStringLiteral("apptdate")), Qt::ISODate);
        summary = (d.isValid() ? DateText(d) + u' ' : QString()) + q.text(1);
    }
    return why.isEmpty() ? summary : QStringLiteral("%1 (%2)").arg(summary, why);
}

} // namespace

// The one place a row the phone deleted leaves Kestrel: into the trash, in the sync's own
// transaction, from where it is restored like any delete (and the next sync sends it again).
void removeSyncedRow(Connection& c, SyncKind kind, std::int64_t id, const QString& why)
{
    trashRowWithin(c, kind == SyncKind::Contacts ? TrashTable::Contacts : TrashTable::Appointments, id,
                   removedLabel(c, kind, id, why));
}

QStringList syncColumns(SyncKind kind)
{
    if (kind == SyncKind::Appointments)
        return {QStringLiteral("name"),      QStringLiteral("address"),   QStringLiteral("apptdate"),
                QStringLiteral("appttime"),  QStringLiteral("apptbrief"), QStringLiteral("apptnotes"),
                QStringLiteral("enddate"),   QStringLiteral("endtime"),   QStringLiteral("allday"),
                QStringLiteral("cancelled"), QStringLiteral("rrule"),     QStringLiteral("exdates"),
                QStringLiteral("overrides")};
    QStringList columns;
    for (const ContactField& f : contactFields())
        columns << QLatin1String(f.column);
    return columns;
}

std::vector<SyncRow> loadSyncRows(const QString& connectionText, SyncKind kind)
{
    Connection c(connectionText);
    ensureTables(c);
    const QStringList columns = syncColumns(kind);
    std::vector<SyncRow> rows;
    if (kind == SyncKind::Contacts) {
        Statement q = native(c, QStringLiteral("SELECT id,uid,%1 FROM contacts").arg(columns.join(u',')));
        while (q.step())
            rows.push_back({q.integer(0), q.text(1), readValues(q, 2, columns)});
        return rows;
    }
    // Made now when the database has none yet, so that the keys stay the same from sync to sync.
    const QString identity = c.readOnly() ? identityOf(c) : databaseIdentity(connectionText);
    return loadApptSyncRows(c, identity);
}

SyncState loadSyncState(const QString& connectionText, const QString& collection)
{
    Connection c(connectionText);
    ensureTables(c);
    SyncState s;
    {
        Statement q = native(c, QStringLiteral("SELECT sync_token,ctag FROM sync_collections WHERE collection=?"));
        q.bind(1, collection);
        if (q.step()) {
            s.token = q.text(0);
            s.ctag = q.text(1);
        }
    }
    Statement q = native(c, QStringLiteral("SELECT href,uid,etag,local_id,base,card FROM sync_items WHERE collection=?"));
    q.bind(1, collection);
    while (q.step()) {
        SyncItem i;
        i.href = q.text(0);
        i.uid = q.text(1);
        i.etag = q.text(2);
        i.localId = q.isNull(3) ? 0 : q.integer(3);
        i.base = decodeBase(q.text(4));
        const std::string_view card = q.bytes(5);
        i.card = QByteArray(card.data(), qsizetype(card.size()));
        s.items.push_back(std::move(i));
    }
    return s;
}

bool takeSyncLease(const QString& connectionText, const QString& collection, SyncKind kind, const QString& holder,
                   std::int64_t now, std::int64_t until)
{
    Connection c(connectionText);
    ensureTables(c);
    Transaction t(c);
    {
        Statement add = native(c, QStringLiteral("INSERT INTO sync_collections(collection,kind) VALUES(?,?) "
                                                 "ON CONFLICT(collection) DO NOTHING"));
        add.bind(1, collection);
        add.bind(2, table(kind));
        add.run();
    }
    Statement take = native(c, QStringLiteral("UPDATE sync_collections SET lease_by=?,lease_until=? WHERE collection=? "
                                              "AND (lease_by IS NULL OR lease_by=? OR lease_until<?)"));
    take.bind(1, holder);
    take.bind(2, until);
    take.bind(3, collection);
    take.bind(4, holder);
    take.bind(5, now);
    const bool taken = take.run() == 1;
    t.commit();
    return taken;
}

void releaseSyncLease(const QString& connectionText, const QString& collection, const QString& holder)
{
    Connection c(connectionText);
    Statement q = native(c, QStringLiteral("UPDATE sync_collections SET lease_by=NULL,lease_until=NULL "
                                           "WHERE collection=? AND lease_by=?"));
    q.bind(1, collection);
    q.bind(2, holder);
    q.run();
    c.settle();
}

void applySyncChanges(const QString& connectionText, const QString& collection, SyncKind kind,
                      std::vector<SyncChange>& changes)
{
    if (changes.empty())
        return;
    Connection c(connectionText);
    ensureTables(c);
    // The contacts' statements; an appointment goes through ApptSyncWriter, with the rows of its days.
    const QStringList columns = syncColumns(SyncKind::Contacts);
    const int n = int(columns.size());
    QStringList assignments;
    for (const QString& col : columns)
        assignments << col + QStringLiteral("=?");
    Transaction t(c);
    {
        Statement read = native(c, QStringLiteral("SELECT %1 FROM contacts WHERE id=?").arg(columns.join(u',')));
        Statement update = native(c, QStringLiteral("UPDATE contacts SET %1 WHERE id=?").arg(assignments.join(u',')));
        Statement insert = native(c, QStringLiteral("INSERT INTO contacts(%1,active,uid) VALUES(%2TRUE,?)")
                                         .arg(columns.join(u','), QStringLiteral("?,").repeated(n)));
        Statement uidTaken = native(c, QStringLiteral("SELECT 1 FROM contacts WHERE uid=?"));
        Statement remember = native(c, QStringLiteral("INSERT INTO ical_uids(uid,autoid) VALUES(?,?) "
                                                      "ON CONFLICT(uid) DO UPDATE SET autoid=excluded.autoid"));
        Statement drop = native(c, QStringLiteral("DELETE FROM sync_items WHERE collection=? AND href=?"));
        ApptSyncWriter appts(c);
        const bool contacts = kind == SyncKind::Contacts;
        Statement keep = native(c, QStringLiteral("INSERT INTO sync_items(collection,href,uid,local_id,etag,card,base) "
                                                  "VALUES(?,?,?,?,?,?,?) ON CONFLICT(collection,href) DO UPDATE SET "
                                                  "uid=excluded.uid,local_id=excluded.local_id,etag=excluded.etag,"
                                                  "card=excluded.card,base=excluded.base"));
        for (SyncChange& ch : changes) {
            ch.skipped = false;
            if (ch.local == SyncChange::Local::Update || ch.local == SyncChange::Local::Remove) {
                // Someone changed (or deleted) the row since the sync read it: it is left for the next sync.
                QStringList now;
                if (contacts) {
                    read.reset();
                    read.bind(1, ch.localId);
                    if (read.step())
                        now = readValues(read, 0, columns);
                    read.reset();
                } else {
                    now = appts.current(ch.localId);
                }
                if (now.isEmpty() || now != ch.seen) {
                    ch.skipped = true;
                    continue;
                }
            }
            switch (ch.local) {
            case SyncChange::Local::None:
                break;
            case SyncChange::Local::Insert: {
                if (!contacts) {
                    ch.localId = appts.insert(ch.values);
                    if (!ch.uid.isEmpty()) {
                        remember.reset();
                        remember.bind(1, ch.uid);
                        remember.bind(2, ch.localId);
                        remember.run();
                    }
                    break;
                }
                insert.reset();
                for (int i = 0; i < n; ++i)
                    bindValue(insert, i + 1, columns[i], ch.values.value(i));
                uidTaken.reset();
                uidTaken.bind(1, ch.uid);
                const bool taken = ch.uid.isEmpty() || uidTaken.step();
                uidTaken.reset();
                insert.bind(n + 1, taken ? newContactUid() : ch.uid);
                insert.step();
                ch.localId = insert.lastInsertId();
                break;
            }
            case SyncChange::Local::Update:
                if (!contacts) {
                    appts.update(ch.localId, ch.values);
                    break;
                }
                update.reset();
                for (int i = 0; i < n; ++i)
                    bindValue(update, i + 1, columns[i], ch.values.value(i));
                update.bind(n + 1, ch.localId);
                update.run();
                break;
            case SyncChange::Local::Remove:
                if (!contacts)
                    appts.remove(ch.localId, ch.why);
                else
                    removeSyncedRow(c, kind, ch.localId, ch.why);
                break;
            }
            if (ch.keepItem)
                continue;
            if (ch.dropItem) {
                drop.reset();
                drop.bind(1, collection);
                drop.bind(2, ch.item.href);
                drop.run();
                continue;
            }
            if (ch.local == SyncChange::Local::Insert)
                ch.item.localId = ch.localId;
            keep.reset();
            keep.bind(1, collection);
            keep.bind(2, ch.item.href);
            keep.bind(3, ch.item.uid);
            keep.bind(4, ch.item.localId);
            keep.bind(5, ch.item.etag);
            keep.bindUtf8(6, ch.item.card.constData(), int(ch.item.card.size()));
            keep.bind(7, encodeBase(ch.item.base));
            keep.run();
        }
    }
    t.commit();
}

void saveSyncToken(const QString& connectionText, const QString& collection, const QString& token, const QString& ctag)
{
    Connection c(connectionText);
    Statement q = native(c, QStringLiteral("UPDATE sync_collections SET sync_token=?,ctag=? WHERE collection=?"));
    q.bind(1, token);
    q.bind(2, ctag);
    q.bind(3, collection);
    q.run();
    c.settle();
}

void forgetSyncCollection(const QString& connectionText, const QString& collection)
{
    Connection c(connectionText);
    ensureTables(c);
    Transaction t(c);
    for (const char* sql : {"DELETE FROM sync_items WHERE collection=?", "DELETE FROM sync_collections WHERE collection=?"}) {
        Statement q = native(c, QString::fromLatin1(sql));
        q.bind(1, collection);
        q.run();
    }
    t.commit();
}

} // namespace kestrel
