#include "data/SyncStore.h"

#include "data/ContactFields.h"
#include "data/ContactUid.h"
#include "data/Database.h"
#include "data/ExchangeStore.h"
#include "data/Statement.h"
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
    "CREATE TABLE IF NOT EXISTS sync_removed(id INTEGER PRIMARY KEY AUTOINCREMENT, tbl TEXT NOT NULL, "
    "removed_at TEXT NOT NULL, why TEXT, record TEXT NOT NULL);"
    "CREATE TABLE IF NOT EXISTS exchange_identity(identity TEXT NOT NULL);"
    "CREATE TABLE IF NOT EXISTS ical_uids(uid TEXT PRIMARY KEY, autoid INTEGER NOT NULL);";

Statement native(Connection& c, const QString& sql) { return Statement(c, sql, Statement::Dialect::Native); }

bool haveTables(Connection& c)
{
    Statement q = native(c, QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type='table' AND name IN "
                                           "('sync_collections','sync_items','sync_removed','ical_uids')"));
    return q.step() && q.integer(0) == 4;
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
QString keyColumn(SyncKind k) { return k == SyncKind::Contacts ? QStringLiteral("id") : QStringLiteral("autoid"); }

// Values as the sync compares them: dates and times in one form on both engines, null as empty.
QString valueText(const Statement& q, int column, const QString& name)
{
    if (q.isNull(column))
        return {};
    const QString t = q.text(column);
    if (name == QLatin1String("apptdate"))
        return t.left(10);
    if (name == QLatin1String("appttime"))
        return t.left(8);
    return t;
}

QStringList readValues(const Statement& q, int first, const QStringList& columns)
{
    QStringList values;
    values.reserve(columns.size());
    for (int i = 0; i < columns.size(); ++i)
        values << valueText(q, first + i, columns[i]);
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

// The one place a row the phone deleted leaves Kestrel: it is kept whole in sync_removed, from
// where it can be restored, and taken out of its table.
void removeRow(Connection& c, SyncKind kind, std::int64_t id, const QString& why, const QDateTime& now)
{
    QJsonObject record;
    {
        Statement q = native(c, QStringLiteral("SELECT * FROM %1 WHERE %2=?").arg(table(kind), keyColumn(kind)));
        q.bind(1, id);
        if (!q.step())
            return;
        for (int i = 0; i < q.columnCount(); ++i)
            record.insert(q.columnName(i).toLower(), q.isNull(i) ? QJsonValue() : QJsonValue(q.text(i)));
    }
    Statement keep = native(c, QStringLiteral("INSERT INTO sync_removed(tbl,removed_at,why,record) VALUES(?,?,?,?)"));
    keep.bind(1, table(kind));
    keep.bind(2, now.toString(Qt::ISODate));
    keep.bind(3, why);
    keep.bind(4, QString::fromUtf8(QJsonDocument(record).toJson(QJsonDocument::Compact)));
    keep.run();
    Statement del = native(c, QStringLiteral("DELETE FROM %1 WHERE %2=?").arg(table(kind), keyColumn(kind)));
    del.bind(1, id);
    del.run();
}

} // namespace

QStringList syncColumns(SyncKind kind)
{
    if (kind == SyncKind::Appointments)
        return {QStringLiteral("name"),     QStringLiteral("address"),   QStringLiteral("apptdate"),
                QStringLiteral("appttime"), QStringLiteral("apptbrief"), QStringLiteral("apptnotes")};
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
    Statement q = native(c, QStringLiteral("SELECT a.autoid,(SELECT min(u.uid) FROM ical_uids u WHERE u.autoid=a.autoid),"
                                           "a.%1 FROM appointments a")
                                .arg(columns.join(QStringLiteral(",a."))));
    while (q.step()) {
        SyncRow r{q.integer(0), q.text(1), readValues(q, 2, columns)};
        if (r.uid.isEmpty())
            r.uid = identity.isEmpty() ? QStringLiteral("kestrel-appt-%1").arg(r.id) : appointmentUid(identity, int(r.id));
        rows.push_back(std::move(r));
    }
    return rows;
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
                      std::vector<SyncChange>& changes, const QDateTime& now)
{
    if (changes.empty())
        return;
    Connection c(connectionText);
    ensureTables(c);
    const QStringList columns = syncColumns(kind);
    const int n = int(columns.size());
    QStringList assignments;
    for (const QString& col : columns)
        assignments << col + QStringLiteral("=?");
    Transaction t(c);
    {
        Statement read = native(c, QStringLiteral("SELECT %1 FROM %2 WHERE %3=?").arg(columns.join(u','), table(kind), keyColumn(kind)));
        Statement update = native(c, QStringLiteral("UPDATE %1 SET %2 WHERE %3=?").arg(table(kind), assignments.join(u','), keyColumn(kind)));
        Statement insert = native(c, kind == SyncKind::Contacts
                                         ? QStringLiteral("INSERT INTO contacts(%1,active,uid) VALUES(%2TRUE,?)")
                                               .arg(columns.join(u','), QStringLiteral("?,").repeated(n))
                                         : QStringLiteral("INSERT INTO appointments(%1) VALUES(%2?)")
                                               .arg(columns.join(u','), QStringLiteral("?,").repeated(n - 1)));
        Statement uidTaken = native(c, QStringLiteral("SELECT 1 FROM contacts WHERE uid=?"));
        Statement remember = native(c, QStringLiteral("INSERT INTO ical_uids(uid,autoid) VALUES(?,?) "
                                                      "ON CONFLICT(uid) DO UPDATE SET autoid=excluded.autoid"));
        Statement drop = native(c, QStringLiteral("DELETE FROM sync_items WHERE collection=? AND href=?"));
        Statement keep = native(c, QStringLiteral("INSERT INTO sync_items(collection,href,uid,local_id,etag,card,base) "
                                                  "VALUES(?,?,?,?,?,?,?) ON CONFLICT(collection,href) DO UPDATE SET "
                                                  "uid=excluded.uid,local_id=excluded.local_id,etag=excluded.etag,"
                                                  "card=excluded.card,base=excluded.base"));
        for (SyncChange& ch : changes) {
            ch.skipped = false;
            if (ch.local == SyncChange::Local::Update || ch.local == SyncChange::Local::Remove) {
                read.reset();
                read.bind(1, ch.localId);
                // Someone changed (or deleted) the row since the sync read it: it is left for the next sync.
                if (!read.step() || readValues(read, 0, columns) != ch.seen) {
                    ch.skipped = true;
                    read.reset();
                    continue;
                }
                read.reset();
            }
            switch (ch.local) {
            case SyncChange::Local::None:
                break;
            case SyncChange::Local::Insert: {
                insert.reset();
                for (int i = 0; i < n; ++i)
                    bindValue(insert, i + 1, columns[i], ch.values.value(i));
                if (kind == SyncKind::Contacts) {
                    uidTaken.reset();
                    uidTaken.bind(1, ch.uid);
                    const bool taken = ch.uid.isEmpty() || uidTaken.step();
                    uidTaken.reset();
                    insert.bind(n + 1, taken ? newContactUid() : ch.uid);
                }
                insert.step();
                ch.localId = insert.lastInsertId();
                if (kind == SyncKind::Appointments && !ch.uid.isEmpty()) {
                    remember.reset();
                    remember.bind(1, ch.uid);
                    remember.bind(2, ch.localId);
                    remember.run();
                }
                break;
            }
            case SyncChange::Local::Update:
                update.reset();
                for (int i = 0; i < n; ++i)
                    bindValue(update, i + 1, columns[i], ch.values.value(i));
                update.bind(n + 1, ch.localId);
                update.run();
                break;
            case SyncChange::Local::Remove:
                removeRow(c, kind, ch.localId, ch.why, now);
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

std::vector<RemovedRow> loadRemovedRows(const QString& connectionText)
{
    Connection c(connectionText);
    ensureTables(c);
    std::vector<RemovedRow> out;
    Statement q = native(c, QStringLiteral("SELECT id,tbl,removed_at,why,record FROM sync_removed ORDER BY id DESC"));
    while (q.step()) {
        RemovedRow r;
        r.id = q.integer(0);
        r.kind = q.text(1) == QLatin1String("appointments") ? SyncKind::Appointments : SyncKind::Contacts;
        r.removedAt = q.text(2);
        r.why = q.text(3);
        const QJsonObject rec = QJsonDocument::fromJson(q.text(4).toUtf8()).object();
        if (r.kind == SyncKind::Contacts) {
            const QString last = rec.value(QStringLiteral("lastname")).toString();
            const QString first = rec.value(QStringLiteral("firstname")).toString();
            r.summary = last.isEmpty() || first.isEmpty() ? last + first : last + QStringLiteral(", ") + first;
            if (r.summary.isEmpty())
                r.summary = rec.value(QStringLiteral("company")).toString();
        } else {
            const QDate d = QDate::fromString(rec.value(QStringLiteral("apptdate")).toString().left(10), Qt::ISODate);
            r.summary = (d.isValid() ? DateText(d) + u' ' : QString()) + rec.value(QStringLiteral("apptbrief")).toString();
        }
        out.push_back(std::move(r));
    }
    return out;
}

std::int64_t restoreRemovedRow(const QString& connectionText, std::int64_t removedId)
{
    Connection c(connectionText);
    ensureTables(c);
    Transaction t(c);
    QString tbl;
    QJsonObject rec;
    {
        Statement q = native(c, QStringLiteral("SELECT tbl,record FROM sync_removed WHERE id=?"));
        q.bind(1, removedId);
        if (!q.step())
            return 0;
        tbl = q.text(0);
        rec = QJsonDocument::fromJson(q.text(1).toUtf8()).object();
    }
    const SyncKind kind = tbl == QLatin1String("appointments") ? SyncKind::Appointments : SyncKind::Contacts;
    // Only the columns the table has now; the key and row version are the engine's to give.
    QStringList present;
    {
        Statement q = native(c, QStringLiteral("SELECT * FROM %1 WHERE 1=0").arg(table(kind)));
        for (int i = 0; i < q.columnCount(); ++i)
            present << q.columnName(i).toLower();
    }
    QStringList columns;
    for (auto it = rec.begin(); it != rec.end(); ++it)
        if (present.contains(it.key()) && it.key() != keyColumn(kind) && it.key() != QLatin1String("rowver"))
            columns << it.key();
    Statement ins = native(c, QStringLiteral("INSERT INTO %1(%2) VALUES(%3)")
                                  .arg(table(kind), columns.join(u','), QStringLiteral("?,").repeated(columns.size()).chopped(1)));
    for (int i = 0; i < columns.size(); ++i) {
        const QJsonValue v = rec.value(columns[i]);
        if (v.isNull())
            ins.bindNull(i + 1);
        else if (columns[i] == QLatin1String("active"))
            ins.bind(i + 1, std::int64_t(v.toString() == QLatin1String("1") || v.toString().compare(QLatin1String("true"), Qt::CaseInsensitive) == 0 ||
                                         v.toString() == QLatin1String("t")));
        else
            ins.bind(i + 1, v.toString());
    }
    ins.step();
    const std::int64_t id = ins.lastInsertId();
    if (kind == SyncKind::Appointments) {
        Statement move = native(c, QStringLiteral("UPDATE ical_uids SET autoid=? WHERE autoid=?"));
        move.bind(1, id);
        move.bind(2, std::int64_t(rec.value(QStringLiteral("autoid")).toString().toLongLong()));
        move.run();
    }
    Statement del = native(c, QStringLiteral("DELETE FROM sync_removed WHERE id=?"));
    del.bind(1, removedId);
    del.run();
    t.commit();
    return id;
}

} // namespace kestrel
