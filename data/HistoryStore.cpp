#include "data/HistoryStore.h"

#include "data/Database.h"

#include <QString>
#include <QStringList>

#include <sqlite3.h>

namespace kestrel {

namespace {

// Dates and times as the appointments hold them; the created and changed times as text
// (yyyy-mm-dd hh:mm:ss), which sorts as it reads. The entries of a contact are found and ordered
// by one index; an appointment is written into the history once (its unique key).
constexpr const char* kHistoryTable = R"sql(
CREATE TABLE IF NOT EXISTS history(
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  contact_id INTEGER,
  kind TEXT COLLATE NOCASE NOT NULL DEFAULT 'Note',
  direction TEXT COLLATE NOCASE NOT NULL DEFAULT '',
  histdate DATE NOT NULL,
  histtime TIME,
  duration INTEGER,
  subject TEXT COLLATE NOCASE NOT NULL DEFAULT '',
  note TEXT COLLATE NOCASE NOT NULL DEFAULT '',
  outcome TEXT COLLATE NOCASE NOT NULL DEFAULT '',
  author TEXT NOT NULL DEFAULT '',
  created TIMESTAMP,
  changed TIMESTAMP,
  appt_id INTEGER,
  contact_name TEXT COLLATE NOCASE);
CREATE INDEX IF NOT EXISTS history_by_contact ON history(contact_id, histdate, histtime, id);
CREATE UNIQUE INDEX IF NOT EXISTS history_by_appt ON history(appt_id) WHERE appt_id IS NOT NULL;
)sql";

// The date of a contact's newest entry, kept on its row so that the grid reads it as any other
// column (a lookup in the history per contact tripled the grid's fill). Every change of an entry
// sets it again from the history, and so does any write of the column itself or a contact put
// back under its key (the trash, an undone merge): it is never anything but what the rows say.
// The triggers are in the file, so every writer keeps it, this program's or another.
constexpr const char* kLastContactTriggers = R"sql(
CREATE TRIGGER IF NOT EXISTS history_last_ins AFTER INSERT ON history WHEN new.contact_id IS NOT NULL BEGIN
  UPDATE contacts SET lastcontact = (SELECT max(histdate) FROM history WHERE contact_id = new.contact_id)
    WHERE id = new.contact_id AND lastcontact IS NOT (SELECT max(histdate) FROM history WHERE contact_id = new.contact_id);
END;
CREATE TRIGGER IF NOT EXISTS history_last_upd AFTER UPDATE OF contact_id, histdate ON history BEGIN
  UPDATE contacts SET lastcontact = (SELECT max(histdate) FROM history WHERE contact_id = contacts.id)
    WHERE id IN (old.contact_id, new.contact_id)
      AND lastcontact IS NOT (SELECT max(histdate) FROM history WHERE contact_id = contacts.id);
END;
CREATE TRIGGER IF NOT EXISTS history_last_del AFTER DELETE ON history WHEN old.contact_id IS NOT NULL BEGIN
  UPDATE contacts SET lastcontact = (SELECT max(histdate) FROM history WHERE contact_id = old.contact_id)
    WHERE id = old.contact_id AND lastcontact IS NOT (SELECT max(histdate) FROM history WHERE contact_id = old.contact_id);
END;
CREATE TRIGGER IF NOT EXISTS contacts_last_ins AFTER INSERT ON contacts BEGIN
  UPDATE contacts SET lastcontact = (SELECT max(histdate) FROM history WHERE contact_id = new.id)
    WHERE id = new.id AND lastcontact IS NOT (SELECT max(histdate) FROM history WHERE contact_id = new.id);
END;
CREATE TRIGGER IF NOT EXISTS contacts_last_upd AFTER UPDATE OF id, lastcontact ON contacts BEGIN
  UPDATE contacts SET lastcontact = (SELECT max(histdate) FROM history WHERE contact_id = new.id)
    WHERE id = new.id AND lastcontact IS NOT (SELECT max(histdate) FROM history WHERE contact_id = new.id);
END;
)sql";
constexpr const char* kLastContactTriggerNames[] = {"history_last_ins", "history_last_upd", "history_last_del",
                                                    "contacts_last_ins", "contacts_last_upd"};
constexpr const char* kFillLastContact =
    "UPDATE contacts SET lastcontact = (SELECT max(histdate) FROM history WHERE contact_id = contacts.id) "
    "WHERE lastcontact IS NOT (SELECT max(histdate) FROM history WHERE contact_id = contacts.id)";

// The appointments' columns the history needs: the contact an appointment was made for (null
// where it was typed as a name), whether it was held as the user marked it, and whether the
// history holds it yet (only what it holds may be purged).
// Then the end (the last day, null when it is the first, and the clock time), whole days and
// cancelled ones; then how it repeats (the rule, the days left out of it, and for a row that moves
// one day of a series, the series and that day). A file that may only be read shows each as
// readOnly gives it.
struct Column {
    const char* name;
    const char* declaration;
    const char* readOnly;
};
constexpr Column kApptColumns[] = {{"contact_id", "INTEGER", "NULL"},
                                   {"outcome", "TEXT COLLATE NOCASE", "NULL"},
                                   {"recorded", "BOOLEAN NOT NULL DEFAULT 0", "0"},
                                   {"enddate", "DATE", "CASE WHEN appttime >= '23:30:00' THEN date(apptdate, '+1 day') END"},
                                   {"endtime", "TIME", "time(appttime, '+30 minutes')"},
                                   {"allday", "BOOLEAN NOT NULL DEFAULT 0", "0"},
                                   {"cancelled", "BOOLEAN NOT NULL DEFAULT 0", "0"},
                                   {"rrule", "TEXT", "NULL"},
                                   {"exdates", "TEXT", "NULL"},
                                   {"series_id", "INTEGER", "NULL"},
                                   {"recurrence_date", "DATE", "NULL"}};

// Appointments from before the end was kept last the 30 minutes they always had.
constexpr const char* kFillEnds =
    "UPDATE appointments SET endtime = time(appttime, '+30 minutes'), "
    "enddate = CASE WHEN appttime >= '23:30:00' THEN date(apptdate, '+1 day') END "
    "WHERE endtime IS NULL AND apptdate IS NOT NULL AND appttime IS NOT NULL";
constexpr const char* kEndIndex =
    "CREATE INDEX IF NOT EXISTS appointments_by_end ON appointments(enddate) WHERE enddate IS NOT NULL;"
    "CREATE INDEX IF NOT EXISTS appointments_repeating ON appointments(apptdate) WHERE rrule IS NOT NULL";

void run(sqlite3* db, const QString& sql)
{
    char* err = nullptr;
    if (sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, &err) != SQLITE_OK) {
        const QString msg = QString::fromUtf8(err ? err : sqlite3_errmsg(db));
        sqlite3_free(err);
        throw DbError(sqlite3_errcode(db), msg, classifyEngineError(sqlite3_extended_errcode(db), sqlite3_system_errno(db)));
    }
}

// Column names of a table of the file itself ("main"); empty when it has no such table.
QStringList columnsOf(sqlite3* db, const char* table)
{
    QStringList have;
    sqlite3_stmt* st = nullptr;
    const QByteArray sql = QByteArray("PRAGMA main.table_info(") + table + ')';
    if (sqlite3_prepare_v2(db, sql.constData(), -1, &st, nullptr) != SQLITE_OK)
        throw DbError(sqlite3_errcode(db), QString::fromUtf8(sqlite3_errmsg(db)));
    while (sqlite3_step(st) == SQLITE_ROW)
        have << QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, 1))).toLower();
    sqlite3_finalize(st);
    return have;
}

bool lastContactKept(sqlite3* db)
{
    if (!columnsOf(db, "contacts").contains(QStringLiteral("lastcontact")))
        return false;
    for (const char* name : kLastContactTriggerNames) {
        sqlite3_stmt* st = nullptr;
        bool found = false;
        if (sqlite3_prepare_v2(db, "SELECT 1 FROM main.sqlite_master WHERE type='trigger' AND name=?", -1, &st, nullptr) == SQLITE_OK) {
            sqlite3_bind_text(st, 1, name, -1, SQLITE_STATIC);
            found = sqlite3_step(st) == SQLITE_ROW;
        }
        sqlite3_finalize(st);
        if (!found)
            return false;
    }
    return true;
}

QStringList missingApptColumns(sqlite3* db)
{
    const QStringList have = columnsOf(db, "appointments");
    QStringList out;
    for (const Column& c : kApptColumns)
        if (!have.isEmpty() && !have.contains(QLatin1String(c.name)))
            out << QLatin1String(c.name);
    return out;
}

} // namespace

QString historySchemaOfNewFile()
{
    QString sql = QString::fromLatin1(kHistoryTable);
    for (const Column& c : kApptColumns)
        sql += QStringLiteral("ALTER TABLE appointments ADD COLUMN %1 %2;\n").arg(QLatin1String(c.name), QLatin1String(c.declaration));
    return sql + QStringLiteral("CREATE INDEX IF NOT EXISTS appointments_unrecorded ON appointments(apptdate) WHERE recorded = 0;\n") +
           QLatin1String(kEndIndex) + QStringLiteral(";\nALTER TABLE contacts ADD COLUMN lastcontact DATE;\n") +
           QLatin1String(kLastContactTriggers);
}

void upgradeForHistory(sqlite3* db, bool readOnly)
{
    // A file without appointments is not one of Kestrel's contacts files: left alone.
    if (columnsOf(db, "appointments").isEmpty())
        return;
    const bool hasHistory = !columnsOf(db, "history").isEmpty();
    if (hasHistory && missingApptColumns(db).isEmpty() && (readOnly || lastContactKept(db)))
        return;
    if (readOnly) {
        // Through this connection alone (its temporary schema is searched first): no entries,
        // and appointments that belong to no contact and are in no history.
        if (!hasHistory)
            run(db, QString::fromLatin1(kHistoryTable).replace(QStringLiteral("CREATE TABLE IF NOT EXISTS history"),
                                                               QStringLiteral("CREATE TEMP TABLE IF NOT EXISTS history"))
                        .section(u';', 0, 0));
        const QStringList missing = missingApptColumns(db);
        if (!missing.isEmpty()) {
            QString sql = QStringLiteral("CREATE TEMP VIEW IF NOT EXISTS appointments AS SELECT *");
            for (const QString& c : missing)
                for (const Column& col : kApptColumns)
                    if (c == QLatin1String(col.name))
                        sql += QStringLiteral(", %1 AS %2").arg(QLatin1String(col.readOnly), c);
            run(db, sql + QStringLiteral(" FROM main.appointments"));
        }
        return;
    }
    // Another copy opening the same file at the same moment waits here, then finds the work done.
    run(db, QStringLiteral("BEGIN IMMEDIATE"));
    try {
        for (const QString& c : missingApptColumns(db))
            for (const Column& col : kApptColumns)
                if (c == QLatin1String(col.name))
                    run(db, QStringLiteral("ALTER TABLE appointments ADD COLUMN %1 %2").arg(c, QLatin1String(col.declaration)));
        run(db, QString::fromLatin1(kHistoryTable));
        run(db, QStringLiteral("CREATE INDEX IF NOT EXISTS appointments_unrecorded ON appointments(apptdate) WHERE recorded = 0"));
        run(db, QLatin1String(kFillEnds));
        run(db, QLatin1String(kEndIndex));
        if (!columnsOf(db, "contacts").contains(QStringLiteral("lastcontact")))
            run(db, QStringLiteral("ALTER TABLE contacts ADD COLUMN lastcontact DATE"));
        run(db, QLatin1String(kLastContactTriggers));
        run(db, QLatin1String(kFillLastContact));
        run(db, QStringLiteral("COMMIT"));
    } catch (...) {
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
    // Into the .mdb file itself at once, as every change is: a copy of that file alone is whole.
    sqlite3_wal_checkpoint_v2(db, nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
}

} // namespace kestrel
