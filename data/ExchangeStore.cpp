#include "data/ExchangeStore.h"

#include "data/ApptSpan.h"

#include "data/ContactFields.h"
#include "data/ContactUid.h"
#include "data/Database.h"
#include "data/PgEngine.h"
#include "data/Statement.h"
#include "data/Trash.h"
#include "data/modData.h"

#include <QRegularExpression>
#include <QSet>
#include <algorithm>
#include <QUuid>

#include <sqlite3.h>

namespace kestrel {

namespace {
// The members in the order of contactFields().
constexpr QString ContactRecord::*kMembers[] = {
    &ContactRecord::lastname, &ContactRecord::firstname, &ContactRecord::company,  &ContactRecord::address,
    &ContactRecord::city,     &ContactRecord::st,        &ContactRecord::zip,      &ContactRecord::cellph,
    &ContactRecord::homeph,   &ContactRecord::workph,    &ContactRecord::ext,      &ContactRecord::email,
    &ContactRecord::country,  &ContactRecord::jobtitle,  &ContactRecord::website,  &ContactRecord::birthday,
    &ContactRecord::notes,    &ContactRecord::contype};
static_assert(std::size(kMembers) == cf::Count);
} // namespace

QString& ContactRecord::value(int field) { return this->*kMembers[field]; }
const QString& ContactRecord::value(int field) const { return this->*kMembers[field]; }

bool ContactRecord::operator==(const ContactRecord& o) const
{
    for (int f = 0; f < cf::Count; ++f)
        if (value(f) != o.value(f))
            return false;
    return true;
}

namespace {

// Created on first use; the table lives in contacts.mdb beside the appointments it points to. The
// office server makes them with its schema.
const char* const kExchangeTables =
    "CREATE TABLE IF NOT EXISTS exchange_identity(identity TEXT NOT NULL);"
    "CREATE TABLE IF NOT EXISTS ical_uids(uid TEXT PRIMARY KEY, autoid INTEGER NOT NULL);";

// A statement in the engine's own SQL, as these tables are written (the same on both engines).
Statement native(Connection& db, const char* sql)
{
    return Statement(db, QString::fromUtf8(sql), Statement::Dialect::Native);
}

void run(Connection& connection, const char* sql)
{
    if (connection.onServer())
        return;
    sqlite3* db = connection.handle();
    char* err = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &err) != SQLITE_OK) {
        const QString msg = QString::fromUtf8(err ? err : "unknown error");
        sqlite3_free(err);
        throw DbError(sqlite3_errcode(db), msg);
    }
}



QString identityOf(Connection& db)
{
    run(db, kExchangeTables);
    {
        Statement q = native(db, "SELECT identity FROM exchange_identity LIMIT 1");
        if (q.step())
            return q.text(0);
    }
    const QString id = QUuid::createUuid().toString(QUuid::WithoutBraces);
    Statement ins = native(db, "INSERT INTO exchange_identity(identity) VALUES(?)");
    ins.bind(1, id);
    ins.step();
    return id;
}

} // namespace

std::vector<ContactRecord> readAllContacts(const QString& connectionText)
{
    Connection c(connectionText);
    const bool uids = ensureContactUids(c);
    // Empty names first on the office server too, as the local files sort them.
    Statement q(c, QStringLiteral("SELECT id,%1,%2 FROM contacts ORDER BY lastname NULLS FIRST,firstname NULLS FIRST,id")
                       .arg(uids ? QStringLiteral("uid") : QStringLiteral("NULL"), allContactColumns()),
                Statement::Dialect::Native);
    std::vector<ContactRecord> out;
    while (q.step()) {
        ContactRecord r;
        r.id = int(q.integer(0));
        r.uid = q.text(1);
        for (int f = 0; f < cf::Count; ++f)
            r.value(f) = q.text(f + 2);
        out.push_back(std::move(r));
    }
    return out;
}

namespace {

const char* const kApptColumns = "SELECT autoid,name,address,apptdate,appttime,apptbrief,apptnotes,enddate,endtime,allday,"
                                 "cancelled,rrule,exdates,series_id,recurrence_date FROM appointments ";

AppointmentRecord apptOf(const Statement& q)
{
    AppointmentRecord r;
    r.autoid = int(q.integer(0));
    r.name = q.text(1);
    r.address = q.text(2);
    r.date = QDate::fromString(q.text(3).left(10), Qt::ISODate);
    r.time = QTime::fromString(q.text(4).left(8), QStringLiteral("HH:mm:ss"));
    r.brief = q.text(5);
    r.notes = q.text(6);
    const ApptEnd end = storedEnd(r.date, r.time, QDate::fromString(q.text(7).left(10), Qt::ISODate),
                                  QTime::fromString(q.text(8).left(8), QStringLiteral("HH:mm:ss")));
    r.endDate = end.date;
    r.endTime = end.time;
    r.allDay = q.integer(9) != 0;
    r.cancelled = q.integer(10) != 0;
    if (r.allDay) {
        const QDate last = QDate::fromString(q.text(7).left(10), Qt::ISODate);
        r.endDate = last.isValid() ? last : r.date;
        r.endTime = {};
    }
    r.rrule = q.text(11);
    r.exdates = exceptDays(q.text(12));
    r.seriesId = q.isNull(13) ? 0 : int(q.integer(13));
    r.recurrenceDate = QDate::fromString(q.text(14).left(10), Qt::ISODate);
    return r;
}

} // namespace

std::vector<AppointmentRecord> readAppointments(const QString& connectionText, const QDate& from, const QDate& to)
{
    Connection c(connectionText);
    std::vector<AppointmentRecord> out;
    const auto read = [&](const char* where, const std::vector<QDate>& days) {
        Statement q(c, QString::fromUtf8(kApptColumns) + QString::fromUtf8(where), Statement::Dialect::Native);
        for (size_t i = 0; i < days.size(); ++i)
            q.bind(int(i) + 1, days[i].toString(Qt::ISODate));
        while (q.step())
            out.push_back(apptOf(q));
    };
    // The series that may reach the days (the caller knows their rules), then the single
    // appointments of the days and the rows that replace a day of one of those series.
    read("WHERE rrule IS NOT NULL AND apptdate<=? ORDER BY apptdate,appttime NULLS FIRST,autoid", {to});
    read("WHERE rrule IS NULL AND (apptdate BETWEEN ? AND ? OR series_id IN "
         "(SELECT autoid FROM appointments WHERE rrule IS NOT NULL AND apptdate<=?)) "
         "ORDER BY apptdate,appttime NULLS FIRST,autoid",
         {from, to, to});
    return out;
}

void insertContacts(const QString& connectionText, const std::vector<ContactRecord>& contacts)
{
    Connection c(connectionText);
    const bool uids = ensureContactUids(c);
    const int n = cf::Count;
    Transaction t(c);
    {
        Statement ins(c, QStringLiteral("INSERT INTO contacts(%1,active%2) VALUES(%3TRUE%4)")
                             .arg(allContactColumns(), uids ? QStringLiteral(",uid") : QString(), QStringLiteral("?,").repeated(n),
                                  uids ? QStringLiteral(",?") : QString()),
                      Statement::Dialect::Native);
        // A record's own uid is kept unless another contact has it already.
        Statement taken(c, QStringLiteral("SELECT 1 FROM contacts WHERE uid=?"), Statement::Dialect::Native);
        for (const ContactRecord& r : contacts) {
            ins.reset();
            for (int f = 0; f < n; ++f)
                ins.bind(f + 1, r.value(f));
            if (uids) {
                bool free = !r.uid.isEmpty();
                if (free) {
                    taken.reset();
                    taken.bind(1, r.uid);
                    free = !taken.step();
                }
                ins.bind(n + 1, free ? r.uid : newContactUid());
            }
            ins.step();
        }
    }
    t.commit();
}

QString databaseIdentity(const QString& connectionText)
{
    Connection c(connectionText);
    return identityOf(c);
}

QString appointmentUid(const QString& identity, int autoid)
{
    return QStringLiteral("kestrel-appt-%1-%2").arg(autoid).arg(identity);
}

QString contactUid(const QString& identity, int id)
{
    // The identity is a UUID; an older or hand-made one of another form still names its own space.
    QUuid space = QUuid::fromString(identity);
    if (space.isNull())
        space = QUuid::createUuidV5(QUuid(), identity);
    return QUuid::createUuidV5(space, QStringLiteral("contact/%1").arg(id)).toString(QUuid::WithoutBraces);
}

ApptStoreResult storeAppointments(const QString& connectionText, const std::vector<AppointmentRecord>& appts,
                                  const QStringList& cancelled)
{
    Connection c(connectionText);
    Connection& db = c;
    const QString identity = identityOf(db);
    // An event this database exported itself points straight at its row.
    const QRegularExpression own(QStringLiteral("^kestrel-appt-(\\d+)-") + QRegularExpression::escape(identity) +
                                 QStringLiteral("$"));
    ApptStoreResult result;
    Transaction t(db);
    {
        Statement find = native(db, "SELECT u.autoid FROM ical_uids u JOIN appointments a ON a.autoid=u.autoid WHERE u.uid=?");
        Statement exists = native(db, "SELECT 1 FROM appointments WHERE autoid=?");
        Statement dayOf = native(db, "SELECT autoid FROM appointments WHERE series_id=? AND recurrence_date=?");
        Statement upd = native(db, "UPDATE appointments SET name=?,address=?,apptdate=?,appttime=?,apptbrief=?,apptnotes=?,"
                          "enddate=?,endtime=?,allday=(?=1),cancelled=(?=1),rrule=?,exdates=?,series_id=?,recurrence_date=? "
                          "WHERE autoid=?");
        Statement ins = native(db, "INSERT INTO appointments(name,address,apptdate,appttime,apptbrief,apptnotes,enddate,"
                          "endtime,allday,cancelled,rrule,exdates,series_id,recurrence_date) "
                          "VALUES(?,?,?,?,?,?,?,?,(?=1),(?=1),?,?,?,?)");
        Statement remember = native(db, "INSERT INTO ical_uids(uid,autoid) VALUES(?,?) "
                                           "ON CONFLICT(uid) DO UPDATE SET autoid=excluded.autoid");
        Statement exdatesOf = native(db, "SELECT exdates FROM appointments WHERE autoid=? AND rrule IS NOT NULL");
        Statement setExdates = native(db, "UPDATE appointments SET exdates=? WHERE autoid=?");
        // The row an event's key names: remembered from an import, or one this database exported.
        const auto rowOf = [&](const QString& uid) -> qint64 {
            if (uid.isEmpty())
                return 0;
            find.reset();
            find.bind(1, uid);
            if (find.step())
                return find.integer(0);
            if (const auto m = own.match(uid); m.hasMatch()) {
                exists.reset();
                exists.bind(1, m.captured(1).toLongLong());
                if (exists.step())
                    return m.captured(1).toLongLong();
            }
            return 0;
        };
        const auto bindText = [](Statement& s, int i, const QString& v) {
            if (v.isEmpty())
                s.bindNull(i);
            else
                s.bind(i, v);
        };
        // A series imported before Kestrel kept series came in as one row per day, each remembered
        // under the event's key, "/" and its start. Imported again, the series takes the first of
        // those rows and the others go to the trash (restorable), so it is not doubled; the days
        // the file changes on their own find theirs by the same key and become its rows.
        Statement perDay = native(db, "SELECT u.autoid,u.uid FROM ical_uids u JOIN appointments a ON a.autoid=u.autoid "
                                      "WHERE substr(u.uid,1,length(?)+1)=?||'/' AND a.rrule IS NULL AND a.series_id IS NULL "
                                      "ORDER BY a.apptdate,a.appttime,a.autoid");
        Statement forget = native(db, "DELETE FROM ical_uids WHERE autoid=?");
        QSet<QString> keysOfDays;
        for (const AppointmentRecord& a : appts)
            if (a.recurrenceDate.isValid())
                keysOfDays.insert(a.uid);
        const auto foldDays = [&](const AppointmentRecord& a) -> qint64 {
            std::vector<qint64> rows;
            perDay.reset();
            perDay.bind(1, a.uid);
            perDay.bind(2, a.uid);
            while (perDay.step())
                if (!keysOfDays.contains(perDay.text(1)))
                    rows.push_back(perDay.integer(0));
            perDay.reset();
            if (rows.empty())
                return 0;
            for (size_t i = 0; i < rows.size(); ++i) {
                forget.reset();
                forget.bind(1, rows[i]);
                forget.run();
                if (i > 0)
                    trashRowWithin(db, TrashTable::Appointments, rows[i],
                                   QStringLiteral("%1 (a day of it, imported again as one repeating appointment)").arg(a.brief));
            }
            return rows.front();
        };
        // Series first, so that the rows replacing one of their days find them.
        std::vector<const AppointmentRecord*> order;
        for (const AppointmentRecord& a : appts)
            if (!a.recurrenceDate.isValid())
                order.push_back(&a);
        for (const AppointmentRecord& a : appts)
            if (a.recurrenceDate.isValid())
                order.push_back(&a);
        for (const AppointmentRecord* each : order) {
            const AppointmentRecord& a = *each;
            qint64 target = rowOf(a.uid);
            bool folded = false;
            if (!target && !a.rrule.isEmpty() && !a.recurrenceDate.isValid() && !a.uid.isEmpty()) {
                target = foldDays(a);
                folded = target != 0;
            }
            const qint64 series = a.recurrenceDate.isValid() ? rowOf(a.seriesUid) : 0;
            // A cancelled day of a series comes in only as a row of a series stored here.
            const bool cancelsDay = a.recurrenceDate.isValid() && a.cancelled;
            if (cancelsDay && !series)
                continue;
            if (series && !target) { // a day of one of our own series, exported and read back
                dayOf.reset();
                dayOf.bind(1, series);
                dayOf.bind(2, a.recurrenceDate.toString(Qt::ISODate));
                if (dayOf.step())
                    target = dayOf.integer(0);
            }
            Statement& s = target ? upd : ins;
            s.reset();
            s.bind(1, a.name);
            s.bind(2, a.address);
            s.bind(3, a.date.toString(Qt::ISODate));
            s.bind(4, a.time.toString(QStringLiteral("HH:mm:ss")));
            s.bind(5, a.brief);
            s.bind(6, a.notes);
            ApptEnd end = a.endTime.isValid() ? ApptEnd{a.endDate.isValid() ? a.endDate : a.date, a.endTime}
                                              : defaultEnd(a.date, a.time);
            if (a.allDay) // whole days keep their last day and no clock time
                end = {a.endDate.isValid() && a.endDate > a.date ? a.endDate : a.date, QTime()};
            if (const QDate last = endDateColumn(a.date, end); last.isValid())
                s.bind(7, last.toString(Qt::ISODate));
            else
                s.bindNull(7);
            if (end.time.isValid())
                s.bind(8, end.time.toString(QStringLiteral("HH:mm:ss")));
            else
                s.bindNull(8);
            s.bind(9, std::int64_t(a.allDay));
            s.bind(10, std::int64_t(a.cancelled));
            bindText(s, 11, a.rrule);
            bindText(s, 12, a.rrule.isEmpty() ? QString() : exceptColumn(a.exdates));
            if (series) {
                s.bind(13, series);
                s.bind(14, a.recurrenceDate.toString(Qt::ISODate));
            } else {
                s.bindNull(13);
                s.bindNull(14);
            }
            if (target)
                s.bind(15, target);
            s.step();
            const qint64 row = target ? target : s.lastInsertId();
            if (series) { // the series leaves out the day this row now stands for
                exdatesOf.reset();
                exdatesOf.bind(1, series);
                if (exdatesOf.step()) {
                    std::vector<QDate> days = exceptDays(exdatesOf.text(0));
                    if (std::find(days.begin(), days.end(), a.recurrenceDate) == days.end()) {
                        days.push_back(a.recurrenceDate);
                        std::sort(days.begin(), days.end());
                        setExdates.reset();
                        setExdates.bind(1, exceptColumn(days));
                        setExdates.bind(2, series);
                        setExdates.step();
                    }
                }
            }
            if (cancelsDay)
                ++result.removed;
            else if (target)
                ++result.updated;
            else
                ++result.inserted;
            if ((!target || folded) && !a.uid.isEmpty()) {
                remember.reset();
                remember.bind(1, a.uid);
                remember.bind(2, row);
                remember.step();
            }
        }
        // An event's occurrences are remembered as its uid, "/" and their start.
        Statement stored = native(db, "SELECT autoid FROM ical_uids WHERE uid=? OR substr(uid,1,length(?)+1)=?||'/'");
        Statement drop = native(db, "UPDATE appointments SET cancelled=(1=1) WHERE autoid=? AND NOT cancelled");
        for (const QString& key : cancelled) {
            std::vector<qint64> targets;
            stored.reset();
            stored.bind(1, key);
            stored.bind(2, key);
            stored.bind(3, key);
            while (stored.step())
                targets.push_back(stored.integer(0));
            if (const auto m = own.match(key); m.hasMatch())
                targets.push_back(m.captured(1).toLongLong());
            for (const qint64 id : targets) {
                drop.bind(1, id);
                result.removed += drop.run();
            }
        }
    }
    t.commit();
    return result;
}

} // namespace kestrel
