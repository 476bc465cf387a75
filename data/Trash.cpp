#include "data/Trash.h"

#include "data/Database.h"
#include "data/Statement.h"
#include "platform/Platform.h"

#include <QStringList>
#include <QUuid>

#include <algorithm>
#include <cstdint>

namespace kestrel {

// Each row keeps every column, as JSON, beside what the trash window shows of it. deleted_at is
// the computer's clock (seconds since 1970), shown to the user and nothing more: the age at which
// a row leaves the trash is counted by trash_clock (see purgeTrash), a count the computer's clock
// moves by at most a day at each start, and kept_from is that count when the row was deleted.
const char* const kTrashSchema = R"sql(
CREATE TABLE IF NOT EXISTS trash(
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  batch TEXT NOT NULL,
  tbl TEXT NOT NULL,
  row_id INTEGER NOT NULL,
  label TEXT NOT NULL DEFAULT '',
  deleted_at INTEGER NOT NULL,
  deleted_by TEXT NOT NULL DEFAULT '',
  data TEXT NOT NULL,
  kept_from INTEGER);
CREATE INDEX IF NOT EXISTS trash_by_batch ON trash(batch);
CREATE INDEX IF NOT EXISTS trash_by_time ON trash(deleted_at);
CREATE TABLE IF NOT EXISTS trash_clock(
  id INTEGER PRIMARY KEY CHECK (id = 1),
  elapsed INTEGER NOT NULL,
  seen INTEGER NOT NULL)
)sql";

namespace {

// The program's own table and key names, never a user's text.
QString tableName(TrashTable t)
{
    switch (t) {
    case TrashTable::Contacts: return QStringLiteral("contacts");
    case TrashTable::Appointments: return QStringLiteral("appointments");
    case TrashTable::History: return QStringLiteral("history");
    case TrashTable::ToDo: return QStringLiteral("todo");
    }
    return {};
}
QString keyName(TrashTable t) { return t == TrashTable::Appointments ? QStringLiteral("autoid") : QStringLiteral("id"); }

QString rangesWhere(const QString& key, const KeyRanges& ranges)
{
    QStringList parts;
    for (const auto& [from, to] : ranges)
        parts << (from == to ? QStringLiteral("%1=%2").arg(key).arg(from)
                             : QStringLiteral("%1 BETWEEN %2 AND %3").arg(key).arg(from).arg(to));
    return parts.isEmpty() ? QStringLiteral("0=1") : QStringLiteral("(") + parts.join(QStringLiteral(" OR ")) + u')';
}

// The columns of a local table, in their order.
QStringList localColumns(Connection& c, const QString& table)
{
    QStringList out;
    Statement st(c, QStringLiteral("SELECT name FROM pragma_table_info('%1')").arg(table), Statement::Dialect::Native);
    while (st.step())
        out << st.text(0);
    return out;
}

// The most the trash's count moves on from one start to the next, or within a run: a clock set a
// year ahead for one start takes a day off what the trash keeps, never the whole of it.
constexpr std::int64_t kMostPerStart = 24 * 60 * 60;

struct TrashClock {
    std::int64_t elapsed = 0; // seconds the trash has counted
    std::int64_t seen = 0;    // the computer's clock when the count last moved
};

TrashClock readClock(Connection& c, std::int64_t now)
{
    Statement st(c, QStringLiteral("SELECT elapsed, seen FROM trash_clock WHERE id=1"), Statement::Dialect::Native);
    if (!st.step())
        return {0, now};
    return {st.integer(0), st.integer(1)};
}

// The count now: on from the last start by the time the computer's clock says has passed since,
// but never back (a clock set back) and never by more than a day.
std::int64_t countNow(const TrashClock& clock, std::int64_t now)
{
    return clock.elapsed + std::clamp<std::int64_t>(now - clock.seen, 0, kMostPerStart);
}

QString jsonObjectOf(const QStringList& columns)
{
    QStringList pairs;
    for (const QString& col : columns)
        pairs << QStringLiteral("'%1',%1").arg(col);
    return QStringLiteral("json_object(") + pairs.join(u',') + u')';
}

// Moves the rows of table that match where (the program's own condition, never a user's text)
// into the trash under batch. Returns how many were moved.
int moveWhere(Connection& c, TrashTable table, const QString& where, const QString& batch, const QString& label)
{
    const QString t = tableName(table);
    if (c.onServer()) {
        // One statement: the row as it is when deleted goes to the trash, also when another
        // member saved it a moment before.
        Statement keep(c, QStringLiteral("WITH gone AS (DELETE FROM %1 WHERE %3 RETURNING *) "
                                         "INSERT INTO trash(batch,tbl,row_id,label,data) SELECT ?,'%1',%2,?,to_jsonb(gone) FROM gone")
                              .arg(t, keyName(table), where),
                       Statement::Dialect::Native);
        keep.bind(1, batch);
        keep.bind(2, label);
        return keep.run();
    }
    const std::int64_t now = platform().now().toSecsSinceEpoch();
    Statement keep(c, QStringLiteral("INSERT INTO trash(batch,tbl,row_id,label,deleted_at,kept_from,data) "
                                     "SELECT ?,'%1',%2,?,?,?,%3 FROM %1 WHERE %4")
                          .arg(t, keyName(table), jsonObjectOf(localColumns(c, t)), where),
                   Statement::Dialect::Native);
    keep.bind(1, batch);
    keep.bind(2, label);
    keep.bind(3, now);
    keep.bind(4, countNow(readClock(c, now), now));
    const int moved = keep.run();
    if (moved > 0)
        Statement(c, QStringLiteral("DELETE FROM %1 WHERE %2").arg(t, where), Statement::Dialect::Native).run();
    return moved;
}

QString newBatch() { return QUuid::createUuid().toString(QUuid::WithoutBraces); }

// The columns of table a restore writes: those the batch's rows were kept with (the rows of one
// batch were kept at one moment, alike), plus the ones a restore sets itself. A column added to the
// table after the rows were deleted takes its default, as a row written by an older version would:
// a NOT NULL column with a default is never handed a missing value.
QStringList restoredColumns(Connection& c, const QString& table, const QString& batch, const QStringList& alwaysSet)
{
    QStringList kept;
    {
        Statement keys(c, c.onServer() ? QStringLiteral("SELECT jsonb_object_keys(data) FROM (SELECT data FROM trash "
                                                        "WHERE batch=? AND tbl=? ORDER BY id LIMIT 1) t")
                                       : QStringLiteral("SELECT key FROM json_each((SELECT data FROM trash "
                                                        "WHERE batch=? AND tbl=? ORDER BY id LIMIT 1))"),
                       Statement::Dialect::Native);
        keys.bind(1, batch);
        keys.bind(2, table);
        while (keys.step())
            kept << keys.text(0).toLower();
    }
    QStringList present;
    if (c.onServer()) {
        Statement cols(c, QStringLiteral("SELECT attname FROM pg_attribute WHERE attrelid = to_regclass(?) AND attnum > 0 "
                                         "AND NOT attisdropped ORDER BY attnum"),
                       Statement::Dialect::Native);
        cols.bind(1, table);
        while (cols.step())
            present << cols.text(0);
    } else {
        present = localColumns(c, table);
    }
    QStringList out;
    for (const QString& col : present)
        if (kept.contains(col.toLower()) || alwaysSet.contains(col.toLower()))
            out << col;
    return out;
}

} // namespace

QString moveToTrash(const QString& connectionText, TrashTable table, const KeyRanges& ranges, const QString& label,
                    int* movedOut)
{
    Connection c(connectionText);
    Transaction tx(c);
    int moved = 0;
    const QString batch = moveToTrashWithin(c, table, ranges, label, &moved);
    if (movedOut)
        *movedOut = moved;
    if (moved == 0)
        return {};
    tx.commit();
    return batch;
}

QString moveToTrashWithin(Connection& c, TrashTable table, const KeyRanges& ranges, const QString& label, int* movedOut)
{
    const QString batch = newBatch();
    int moved = 0;
    // Many ranges are moved a few hundred at a time (the engine limits how deep one condition may
    // nest), all in the one transaction.
    constexpr size_t kChunk = 200;
    for (size_t at = 0; at < ranges.size(); at += kChunk) {
        const KeyRanges part(ranges.begin() + qsizetype(at), ranges.begin() + qsizetype(std::min(ranges.size(), at + kChunk)));
        moved += moveWhere(c, table, rangesWhere(keyName(table), part), batch, label);
    }
    if (movedOut)
        *movedOut = moved;
    return moved > 0 ? batch : QString();
}

namespace {
// Keeps a contact's history entries under its name as it stands now, so they say whose they were
// while the contact is away.
void nameEntriesOf(Connection& c, const QString& id)
{
    Statement(c, QStringLiteral("UPDATE history SET contact_name=(SELECT trim(coalesce(firstname,'') || ' ' || "
                                "coalesce(lastname,'')) FROM contacts WHERE id=%1) WHERE contact_id=%1 "
                                "AND EXISTS (SELECT 1 FROM contacts WHERE id=%1)").arg(id),
              Statement::Dialect::Native)
        .run();
}
} // namespace

QString trashContact(const QString& connectionText, qint64 contactId, bool withHistory, const QString& label, int* movedOut)
{
    const QString batch = newBatch();
    const QString id = QString::number(contactId);
    Connection c(connectionText);
    Transaction tx(c);
    int moved = 0;
    if (withHistory)
        moved = moveWhere(c, TrashTable::History, QStringLiteral("contact_id=") + id, batch, label);
    else
        nameEntriesOf(c, id);
    const int contact = moveWhere(c, TrashTable::Contacts, QStringLiteral("id=") + id, batch, label);
    if (movedOut)
        *movedOut = contact == 0 ? 0 : moved + contact;
    // A contact deleted elsewhere meanwhile: nothing of this delete stands.
    if (contact == 0)
        return {};
    tx.commit();
    return batch;
}

QString trashRowWithin(Connection& c, TrashTable table, qint64 id, const QString& label)
{
    const QString batch = newBatch();
    if (table == TrashTable::Contacts)
        nameEntriesOf(c, QString::number(id));
    return moveWhere(c, table, QStringLiteral("%1=%2").arg(keyName(table)).arg(id), batch, label) > 0 ? batch : QString();
}

QString moveImportToTrash(const QString& connectionText, qint64 importId, const QString& label, int* movedOut)
{
    const QString batch = newBatch();
    Connection c(connectionText);
    Transaction tx(c);
    const int moved = importId > 0 ? moveWhere(c, TrashTable::Contacts, QStringLiteral("import_id=%1").arg(importId), batch, label) : 0;
    if (movedOut)
        *movedOut = moved;
    if (moved == 0)
        return {};
    tx.commit();
    return batch;
}

int restoreFromTrash(const QString& connectionText, const QString& batch)
{
    Connection c(connectionText);
    Transaction tx(c);
    int restored = 0;
    // Only the tables the batch holds: the to-do file has no contacts, the contacts file no to-do list.
    QStringList held;
    {
        Statement which(c, QStringLiteral("SELECT DISTINCT tbl FROM trash WHERE batch=?"), Statement::Dialect::Native);
        which.bind(1, batch);
        while (which.step())
            held << which.text(0);
    }
    // A contact deleted with its history: should its key have been taken meanwhile, its entries
    // follow it to its new one rather than join the contact now holding the old.
    qint64 oldContact = 0, newContact = 0;
    if (held.contains(QStringLiteral("contacts"))) {
        Statement one(c, QStringLiteral("SELECT row_id, CASE WHEN EXISTS (SELECT 1 FROM contacts x WHERE x.id=t.row_id) THEN 1 ELSE 0 END "
                                        "FROM trash t WHERE batch=? AND tbl='contacts' LIMIT 2"),
                      Statement::Dialect::Native);
        one.bind(1, batch);
        int contacts = 0;
        qint64 taken = 0;
        while (one.step())
            if (++contacts == 1 && one.integer(1) == 1)
                taken = one.integer(0);
        if (contacts == 1)
            oldContact = taken;
    }
    for (TrashTable table : {TrashTable::Contacts, TrashTable::Appointments, TrashTable::History, TrashTable::ToDo}) {
        const QString t = tableName(table);
        if (!held.contains(t))
            continue;
        const bool moveEntries = table == TrashTable::History && oldContact > 0 && newContact > 0;
        if (c.onServer()) {
            // Taken out of the trash first, under the row locks of the delete: a second member
            // restoring the same batch at the same moment waits, then finds nothing to restore.
            // The row version goes one up, so an editor still open on the row before it was
            // deleted cannot save over it unasked.
            // A key another row took meanwhile (copied in by hand, or a card of the same uid
            // synced back) is given anew rather than refusing the whole batch.
            const QString key = keyName(table);
            QString fresh = QStringLiteral("jsonb_set(gone.data, '{rowver}', to_jsonb(coalesce((gone.data->>'rowver')::bigint, 0) + 1))");
            fresh = QStringLiteral("jsonb_set(%1, '{%2}', to_jsonb(CASE WHEN EXISTS (SELECT 1 FROM %3 x WHERE x.%2 = (gone.data->>'%2')::bigint) "
                                   "THEN nextval(pg_get_serial_sequence('%4', '%2')) ELSE (gone.data->>'%2')::bigint END))")
                        // The to-do list is a view of the user's own items; the numbers are the table's.
                        .arg(fresh, key, t, table == TrashTable::ToDo ? QStringLiteral("todo_items") : t);
            if (table == TrashTable::Contacts)
                fresh = QStringLiteral("jsonb_set(%1, '{uid}', to_jsonb(CASE WHEN gone.data->>'uid' IS NULL OR EXISTS (SELECT 1 FROM contacts x WHERE x.uid = gone.data->>'uid') "
                                       "THEN gen_random_uuid()::text ELSE gone.data->>'uid' END))")
                            .arg(fresh);
            if (moveEntries)
                fresh = QStringLiteral("jsonb_set(%1, '{contact_id}', CASE WHEN (gone.data->>'contact_id')::bigint = %2 "
                                       "THEN to_jsonb(%3::bigint) ELSE coalesce(gone.data->'contact_id', 'null'::jsonb) END)")
                            .arg(fresh).arg(oldContact).arg(newContact);
            QStringList set{key, QStringLiteral("rowver")};
            if (table == TrashTable::Contacts)
                set << QStringLiteral("uid");
            if (moveEntries)
                set << QStringLiteral("contact_id");
            const QStringList columns = restoredColumns(c, t, batch, set);
            Statement st(c, QStringLiteral("WITH gone AS (DELETE FROM trash WHERE batch=? AND tbl='%1' RETURNING data) "
                                           "INSERT INTO %1(%3) SELECT r.%4 FROM gone, jsonb_populate_record(NULL::%1, %2) r")
                                .arg(t, fresh, columns.join(u','), columns.join(QStringLiteral(",r."))),
                         Statement::Dialect::Native);
            st.bind(1, batch);
            const int n = st.run();
            restored += n;
            if (table == TrashTable::Contacts && oldContact > 0 && n == 1) {
                Statement given(c, QStringLiteral("SELECT currval(pg_get_serial_sequence('contacts', 'id'))"), Statement::Dialect::Native);
                if (given.step())
                    newContact = given.integer(0);
            }
        } else {
            const QString key = keyName(table);
            const QStringList columns = restoredColumns(c, t, batch, {key});
            QStringList values;
            for (const QString& col : columns)
                values << (moveEntries && col.compare(QStringLiteral("contact_id"), Qt::CaseInsensitive) == 0
                               ? QStringLiteral("CASE WHEN json_extract(data,'$.contact_id')=%1 THEN %2 "
                                                "ELSE json_extract(data,'$.contact_id') END").arg(oldContact).arg(newContact)
                           // A uid another contact took meanwhile (a phone's copy synced back)
                           // is given anew by the file's trigger rather than refusing the restore.
                           : table == TrashTable::Contacts && col.compare(QStringLiteral("uid"), Qt::CaseInsensitive) == 0
                               ? QStringLiteral("CASE WHEN EXISTS (SELECT 1 FROM contacts x WHERE x.uid=json_extract(data,'$.uid')) "
                                                "THEN NULL ELSE json_extract(data,'$.uid') END")
                           : col.compare(key, Qt::CaseInsensitive) == 0
                               // Its own key unless another row holds it now; then a new one.
                               ? QStringLiteral("CASE WHEN EXISTS (SELECT 1 FROM %1 x WHERE x.%2=json_extract(data,'$.%2')) "
                                                "THEN NULL ELSE json_extract(data,'$.%2') END").arg(t, key)
                               : QStringLiteral("json_extract(data,'$.%1')").arg(col));
            Statement put(c, QStringLiteral("INSERT INTO %1(%2) SELECT %3 FROM trash WHERE batch=? AND tbl='%1' ORDER BY id")
                                 .arg(t, columns.join(u','), values.join(u',')),
                          Statement::Dialect::Native);
            put.bind(1, batch);
            const int n = put.run();
            if (table == TrashTable::Contacts && oldContact > 0 && n == 1)
                newContact = put.lastInsertId();
            Statement drop(c, QStringLiteral("DELETE FROM trash WHERE batch=? AND tbl='%1'").arg(t), Statement::Dialect::Native);
            drop.bind(1, batch);
            drop.run();
            restored += n;
        }
    }
    tx.commit();
    return restored;
}

int deleteForever(const QString& connectionText, const QString& batch)
{
    Connection c(connectionText);
    Statement st(c, QStringLiteral("DELETE FROM trash WHERE batch=?"), Statement::Dialect::Native);
    st.bind(1, batch);
    return st.run();
}

std::vector<TrashBatch> listTrash(const QString& connectionText)
{
    Connection c(connectionText);
    const QString at = c.onServer() ? QStringLiteral("extract(epoch from max(deleted_at))::bigint") : QStringLiteral("max(deleted_at)");
    Statement st(c, QStringLiteral("SELECT batch, min(tbl), count(*), min(label), %1, min(deleted_by), "
                                   "sum(CASE WHEN tbl='contacts' THEN 1 ELSE 0 END) FROM trash "
                                   "GROUP BY batch ORDER BY max(id) DESC").arg(at),
                 Statement::Dialect::Native);
    std::vector<TrashBatch> out;
    while (st.step()) {
        TrashBatch b;
        b.batch = st.text(0);
        b.table = st.text(1) == u"appointments" ? TrashTable::Appointments
                  : st.text(1) == u"history"    ? TrashTable::History
                  : st.text(1) == u"todo"       ? TrashTable::ToDo
                                                : TrashTable::Contacts;
        b.origin = connectionText;
        b.rows = int(st.integer(2));
        b.label = st.text(3);
        b.deletedAt = QDateTime::fromSecsSinceEpoch(st.integer(4));
        b.deletedBy = st.text(5);
        b.contacts = int(st.integer(6));
        out.push_back(b);
    }
    return out;
}

std::vector<TrashBatch> listTrash(const QStringList& connectionTexts)
{
    std::vector<TrashBatch> out;
    QStringList read;
    for (const QString& text : connectionTexts) {
        if (read.contains(text))
            continue;
        read << text;
        std::vector<TrashBatch> some = listTrash(text);
        out.insert(out.end(), some.begin(), some.end());
    }
    std::stable_sort(out.begin(), out.end(), [](const TrashBatch& a, const TrashBatch& b) { return a.deletedAt > b.deletedAt; });
    return out;
}

int purgeTrash(const QString& connectionText, int days)
{
    if (days < 1)
        days = 1;
    Connection c(connectionText);
    if (c.onServer()) {
        // Each member empties only what they deleted, by their own choice of days: a colleague who
        // keeps deleted items a week never takes away what another was promised for a year. What a
        // role no longer of the office deleted (or the set-up moved in: a phone's deletes kept by an
        // earlier version) goes after the usual 30 days.
        Statement st(c, QStringLiteral("DELETE FROM trash WHERE deleted_at < now() - make_interval(days => "
                                       "CASE WHEN deleted_by = current_user THEN ?::int "
                                       "WHEN NOT EXISTS (SELECT 1 FROM pg_roles r WHERE r.rolname = deleted_by "
                                       "AND pg_has_role(r.oid, 'kestrel_office', 'MEMBER')) THEN %1 "
                                       "ELSE NULL END)").arg(kTrashDaysDefault),
                     Statement::Dialect::Native);
        st.bind(1, std::int64_t(days));
        return st.run();
    }
    // The computer's clock is not trusted to say how old a row is: a clock set ahead would empty
    // the trash at once, and a row deleted while it was behind would look years old once it is
    // put right. The trash keeps its own count instead, moved on here once a start.
    const std::int64_t now = platform().now().toSecsSinceEpoch();
    Transaction tx(c);
    const std::int64_t count = countNow(readClock(c, now), now);
    Statement clock(c, QStringLiteral("INSERT OR REPLACE INTO trash_clock(id, elapsed, seen) VALUES(1, ?, ?)"),
                    Statement::Dialect::Native);
    clock.bind(1, count);
    clock.bind(2, now);
    clock.run();
    // Rows of a file from before the count start their days now.
    Statement start(c, QStringLiteral("UPDATE trash SET kept_from=? WHERE kept_from IS NULL"), Statement::Dialect::Native);
    start.bind(1, count);
    start.run();
    Statement st(c, QStringLiteral("DELETE FROM trash WHERE kept_from <= ?"), Statement::Dialect::Native);
    st.bind(1, count - std::int64_t(days) * 24 * 60 * 60);
    const int purged = st.run();
    tx.commit();
    return purged;
}

} // namespace kestrel
