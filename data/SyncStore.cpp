#include "data/SyncStore.h"

#include "data/ApptSpan.h"
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

#include <algorithm>
#include <map>

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
        const QDate d = QDate::fromString(valueText(q, 0, QStringLiteral("apptdate")), Qt::ISODate);
        summary = (d.isValid() ? DateText(d) + u' ' : QString()) + q.text(1);
    }
    return why.isEmpty() ? summary : QStringLiteral("%1 (%2)").arg(summary, why);
}

// The one place a row the phone deleted leaves Kestrel: into the trash, in the sync's own
// transaction, from where it is restored like any delete (and the next sync sends it again).
void removeRow(Connection& c, SyncKind kind, std::int64_t id, const QString& why)
{
    trashRowWithin(c, kind == SyncKind::Contacts ? TrashTable::Contacts : TrashTable::Appointments, id,
                   removedLabel(c, kind, id, why));
}


// An appointment's row as the sync reads it (apptValues), then its day and series, then its key.
const QString kApptSelect = QStringLiteral(
    "SELECT a.autoid,a.name,a.address,a.apptdate,a.appttime,a.apptbrief,a.apptnotes,a.enddate,a.endtime,a.allday,"
    "a.cancelled,a.rrule,a.exdates,a.recurrence_date,a.series_id,"
    "(SELECT min(u.uid) FROM ical_uids u WHERE u.autoid=a.autoid) FROM appointments a ");
// A row that stands for one day of a series, travelling inside the series' own resource.
const QString kDayOfSeries = QStringLiteral(
    "a.series_id IS NOT NULL AND a.recurrence_date IS NOT NULL AND "
    "EXISTS(SELECT 1 FROM appointments s WHERE s.autoid=a.series_id AND s.rrule IS NOT NULL)");

// The row's values but the overrides, in one form on both engines: the end as the lists take it
// (rows from before ends were kept last their 30 minutes), yes as "1" and no as empty.
QStringList apptValues(const Statement& q)
{
    static const char* const names[] = {"name", "address", "apptdate", "appttime", "apptbrief", "apptnotes"};
    QStringList v;
    for (int i = 0; i < 6; ++i)
        v << valueText(q, i + 1, QLatin1String(names[i]));
    const QDate date = QDate::fromString(v[kSyncDate], Qt::ISODate);
    const QTime time = QTime::fromString(v[kSyncTime], QStringLiteral("HH:mm:ss"));
    const QDate endColumn = q.isNull(7) ? QDate() : QDate::fromString(q.text(7).left(10), Qt::ISODate);
    const QTime endTime = q.isNull(8) ? QTime() : QTime::fromString(q.text(8).left(8), QStringLiteral("HH:mm:ss"));
    const bool allDay = q.integer(9) != 0;
    if (allDay) {
        v << (endColumn.isValid() && endColumn > date ? endColumn.toString(Qt::ISODate) : QString()) << QString();
    } else {
        const ApptEnd end = storedEnd(date, time, endColumn.isValid() ? QVariant(endColumn) : QVariant(),
                                      endTime.isValid() ? QVariant(endTime) : QVariant());
        const QDate last = date.isValid() ? endDateColumn(date, end) : QDate();
        v << (last.isValid() ? last.toString(Qt::ISODate) : QString())
          << (end.time.isValid() && date.isValid() ? end.time.toString(QStringLiteral("HH:mm:ss")) : QString());
    }
    v << (allDay ? QStringLiteral("1") : QString()) << (q.integer(10) != 0 ? QStringLiteral("1") : QString());
    const QString rule = q.isNull(11) ? QString() : q.text(11);
    v << rule << (rule.isEmpty() ? QString() : exceptColumn(exceptDays(q.isNull(12) ? QString() : q.text(12))));
    return v;
}

// The whole appointment: a series with the days its own rows stand for, each of them left out.
QStringList withOverrides(QStringList v, const std::vector<QStringList>& days)
{
    if (!days.empty()) {
        std::vector<QDate> out = exceptDays(v[kSyncExdates]);
        for (const QStringList& d : days)
            out.push_back(QDate::fromString(d.value(0), Qt::ISODate));
        std::sort(out.begin(), out.end());
        out.erase(std::unique(out.begin(), out.end()), out.end());
        v[kSyncExdates] = exceptColumn(out);
    }
    v << encodeOverrides(days);
    return v;
}

QStringList dayOfSeriesValues(const Statement& q)
{
    return QStringList{valueText(q, 13, QStringLiteral("apptdate"))} + apptValues(q).mid(0, kSyncApptOwnColumns);
}

void bindAppt(Statement& s, const QStringList& v, int count)
{
    static const char* const nullable[] = {"", "", "apptdate", "appttime", "", "", "enddate", "endtime", "", "", "rrule", "exdates"};
    for (int i = 0; i < count; ++i) {
        if (i == kSyncAllDay || i == kSyncCancelled)
            s.bind(i + 1, std::int64_t(v.value(i) == QLatin1String("1")));
        else if (*nullable[i] && v.value(i).isEmpty())
            s.bindNull(i + 1);
        else
            s.bind(i + 1, v.value(i));
    }
}

// An appointment as the sync changes it: the row, and the rows of its own days made, changed or,
// where the series no longer has them, put in the trash.
class ApptWriter {
public:
    explicit ApptWriter(Connection& c)
        : c_(c),
          one_(native(c, kApptSelect + QStringLiteral("WHERE a.autoid=?"))),
          days_(native(c, kApptSelect + QStringLiteral("WHERE a.series_id=? AND ") + kDayOfSeries +
                              QStringLiteral(" ORDER BY a.recurrence_date"))),
          update_(native(c, QStringLiteral("UPDATE appointments SET name=?,address=?,apptdate=?,appttime=?,apptbrief=?,"
                                           "apptnotes=?,enddate=?,endtime=?,allday=(?=1),cancelled=(?=1),rrule=?,"
                                           "exdates=? WHERE autoid=?"))),
          insert_(native(c, QStringLiteral("INSERT INTO appointments(name,address,apptdate,appttime,apptbrief,apptnotes,"
                                           "enddate,endtime,allday,cancelled,rrule,exdates,series_id,recurrence_date) "
                                           "VALUES(?,?,?,?,?,?,?,?,(?=1),(?=1),?,?,?,?)")))
    {
    }

    // The appointment as it is now; empty when it is not there.
    QStringList current(std::int64_t id)
    {
        one_.reset();
        one_.bind(1, id);
        if (!one_.step())
            return {};
        QStringList v = apptValues(one_);
        one_.reset();
        return withOverrides(v, ownDays(id));
    }

    std::int64_t insert(const QStringList& v)
    {
        const std::int64_t id = insertRow(v, kSyncOverrides, 0, {});
        writeDays(id, v.value(kSyncOverrides));
        return id;
    }

    void update(std::int64_t id, const QStringList& v)
    {
        update_.reset();
        bindAppt(update_, v, kSyncOverrides);
        update_.bind(kSyncOverrides + 1, id);
        update_.run();
        writeDays(id, v.value(kSyncOverrides));
    }

    void remove(std::int64_t id, const QString& why)
    {
        for (const auto& [day, row] : dayRows(id))
            removeRow(c_, SyncKind::Appointments, row, why);
        removeRow(c_, SyncKind::Appointments, id, why);
    }

private:
    std::vector<QStringList> ownDays(std::int64_t id)
    {
        std::vector<QStringList> out;
        days_.reset();
        days_.bind(1, id);
        while (days_.step())
            out.push_back(dayOfSeriesValues(days_));
        days_.reset();
        return out;
    }

    std::map<QString, std::int64_t> dayRows(std::int64_t id)
    {
        std::map<QString, std::int64_t> out;
        days_.reset();
        days_.bind(1, id);
        while (days_.step())
            out.emplace(valueText(days_, 13, QStringLiteral("apptdate")), days_.integer(0));
        days_.reset();
        return out;
    }

    std::int64_t insertRow(const QStringList& v, int count, std::int64_t series, const QString& day)
    {
        insert_.reset();
        QStringList all = v.mid(0, count);
        while (all.size() < kSyncOverrides)
            all << QString();
        bindAppt(insert_, all, kSyncOverrides);
        if (series) {
            insert_.bind(kSyncOverrides + 1, series);
            insert_.bind(kSyncOverrides + 2, day);
        } else {
            insert_.bindNull(kSyncOverrides + 1);
            insert_.bindNull(kSyncOverrides + 2);
        }
        insert_.step();
        return insert_.lastInsertId();
    }

    void writeDays(std::int64_t id, const QString& overrides)
    {
        std::map<QString, std::int64_t> rows = dayRows(id);
        for (const QStringList& d : decodeOverrides(overrides)) {
            const QString day = d.value(0);
            const QStringList own = d.mid(1);
            const auto at = rows.find(day);
            if (at == rows.end()) {
                insertRow(own, kSyncApptOwnColumns, id, day);
                continue;
            }
            QStringList all = own;
            while (all.size() < kSyncOverrides)
                all << QString();
            update_.reset();
            bindAppt(update_, all, kSyncOverrides);
            update_.bind(kSyncOverrides + 1, at->second);
            update_.run();
            rows.erase(at);
        }
        for (const auto& [day, row] : rows)
            removeRow(c_, SyncKind::Appointments, row,
                      QStringLiteral("a day of a repeating appointment, no longer changed on its own on the phone"));
    }

    Connection& c_;
    Statement one_, days_, update_, insert_;
};

} // namespace

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
    std::map<std::int64_t, std::vector<QStringList>> days;
    {
        Statement q = native(c, kApptSelect + QStringLiteral("WHERE ") + kDayOfSeries +
                                    QStringLiteral(" ORDER BY a.series_id,a.recurrence_date"));
        while (q.step())
            days[q.integer(14)].push_back(dayOfSeriesValues(q));
    }
    Statement q = native(c, kApptSelect + QStringLiteral("WHERE NOT (") + kDayOfSeries + u')');
    while (q.step()) {
        const auto own = days.find(q.integer(0));
        SyncRow r{q.integer(0), q.isNull(15) ? QString() : q.text(15),
                  withOverrides(apptValues(q), own == days.end() ? std::vector<QStringList>{} : own->second)};
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
                      std::vector<SyncChange>& changes)
{
    if (changes.empty())
        return;
    Connection c(connectionText);
    ensureTables(c);
    // The contacts' statements; an appointment goes through ApptWriter, with the rows of its days.
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
        ApptWriter appts(c);
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
                    removeRow(c, kind, ch.localId, ch.why);
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

QString encodeOverrides(const std::vector<QStringList>& days)
{
    if (days.empty())
        return {};
    QJsonArray all;
    for (const QStringList& d : days)
        all.append(QJsonArray::fromStringList(d));
    return QString::fromUtf8(QJsonDocument(all).toJson(QJsonDocument::Compact));
}

std::vector<QStringList> decodeOverrides(const QString& text)
{
    std::vector<QStringList> out;
    for (const QJsonValue& d : QJsonDocument::fromJson(text.toUtf8()).array()) {
        QStringList row;
        for (const QJsonValue& v : d.toArray())
            row << v.toString();
        if (QDate::fromString(row.value(0), Qt::ISODate).isValid())
            out.push_back(row);
    }
    std::sort(out.begin(), out.end(), [](const QStringList& a, const QStringList& b) { return a.value(0) < b.value(0); });
    return out;
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
