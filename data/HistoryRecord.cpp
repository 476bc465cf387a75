#include "data/HistoryRecord.h"

#include "data/Database.h"
#include "data/History.h"
#include "data/Statement.h"
#include "data/modData.h"

#include <QTime>

#include <algorithm>
#include <vector>

namespace kestrel {

namespace {

Statement native(Connection& c, const QString& sql) { return Statement(c, sql, Statement::Dialect::Native); }

struct PastAppointment {
    qint64 id = 0;
    int contact = 0;
    QString name, address, brief, notes, outcome;
    QDate date;
    QTime time;
};

std::vector<PastAppointment> unrecorded(Connection& c, const QDate& before, qint64 onlyId = 0)
{
    std::vector<PastAppointment> out;
    // On the office server the server's date decides: a computer whose clock runs fast must not
    // write tomorrow's meeting as held.
    const QString select = QStringLiteral("select autoid,contact_id,name,address,apptdate,appttime,apptbrief,apptnotes,"
                                          "outcome from appointments where ");
    // A series is never a meeting itself: each of its past days is (a row of its own).
    Statement st = onlyId ? Statement(c, select + QStringLiteral("autoid=") + QString::number(onlyId))
                   : c.onServer()
                       ? native(c, select + QStringLiteral("NOT recorded and apptdate < current_date and rrule is null "
                                                           "order by autoid"))
                       : Statement(c, select + QStringLiteral("recorded=False and apptdate < #") + DateText(before) +
                                          QStringLiteral("# and rrule is null order by autoid"));
    while (st.step()) {
        PastAppointment a;
        a.id = st.integer(0);
        a.contact = st.isNull(1) ? 0 : int(st.integer(1));
        a.name = st.text(2);
        a.address = st.text(3);
        a.date = st.value(4).toDate();
        a.time = st.value(5).toTime();
        a.brief = st.text(6);
        a.notes = st.text(7);
        a.outcome = st.text(8);
        out.push_back(std::move(a));
    }
    return out;
}

QString isoTime(const QTime& t) { return t.toString(QStringLiteral("HH:mm:ss")); }

} // namespace

QString AppointmentNote(const QString& where, const QString& notes)
{
    if (where.trimmed().isEmpty())
        return notes;
    const QString place = QStringLiteral("Where: ") + where;
    return notes.isEmpty() ? place : place + u'\n' + notes;
}

int contactForAppointment(Connection& connection, const QString& name, const QString& address)
{
    const QString n = name.trimmed();
    if (n.isEmpty())
        return 0;
    // "First Last" with either part possibly of several words: every place a blank parts them,
    // and the whole as either part alone.
    std::vector<std::pair<QString, QString>> splits{{QString(), n}, {n, QString()}};
    for (qsizetype i = n.indexOf(u' '); i > 0; i = n.indexOf(u' ', i + 1))
        splits.emplace_back(n.left(i).trimmed(), n.mid(i + 1).trimmed());
    std::vector<std::pair<int, QString>> found;
    // Asked for every past appointment that names no contact, at each start: the last name is
    // looked up in the name index (its own collation finds a superset, which the comparison as
    // written then narrows), never by reading every contact once per appointment.
    Statement q = native(connection, QStringLiteral("SELECT id, address FROM contacts WHERE lastname=?2 AND "
                                                    "coalesce(lastname,'')=?2 AND coalesce(firstname,'')=?1 "
                                                    "UNION ALL SELECT id, address FROM contacts WHERE lastname IS NULL "
                                                    "AND ?2='' AND coalesce(firstname,'')=?1"));
    for (const auto& [first, last] : splits) {
        q.bind(1, first);
        q.bind(2, last);
        while (q.step()) {
            const int id = int(q.integer(0));
            if (std::none_of(found.begin(), found.end(), [id](const auto& f) { return f.first == id; }))
                found.emplace_back(id, q.text(1));
        }
        q.reset();
    }
    if (found.size() == 1)
        return found.front().first;
    int atAddress = 0;
    for (const auto& [id, where] : found) {
        if (where.trimmed().compare(address.trimmed(), Qt::CaseInsensitive) != 0 || address.trimmed().isEmpty())
            continue;
        if (atAddress)
            return 0;
        atAddress = id;
    }
    return atAddress;
}

namespace {

RecordedAppointments record(const QString& connectionText, const QDate& before, qint64 onlyId, const QString& author,
                            const QDateTime& now)
{
    RecordedAppointments done;
    Connection c(connectionText);
    Transaction tx(c);
    // Two copies of the office starting together: the second finds the work done.
    if (c.onServer())
        native(c, QStringLiteral("SELECT pg_advisory_xact_lock(hashtext('kestrel_history_record')::bigint)")).step();
    const std::vector<PastAppointment> past = unrecorded(c, before, onlyId);
    if (past.empty())
        return done;
    const QString yes = c.onServer() ? QStringLiteral("true") : QStringLiteral("1");
    const QString stamp = now.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    Statement setContact = native(c, QStringLiteral("UPDATE appointments SET contact_id=?1 WHERE autoid=?2"));
    Statement update = native(c, QStringLiteral("UPDATE history SET contact_id=?1, histdate=?2, histtime=?3, subject=?4, "
                                                "note=?5, outcome=?6, changed=?7 WHERE appt_id=?8"));
    Statement insert = native(
        c, QStringLiteral("INSERT INTO history(contact_id,kind,direction,histdate,histtime,subject,note,outcome,author,"
                          "created,changed,appt_id,contact_name) VALUES(?1,'Meeting','',?2,?3,?4,?5,?6,?9,?7,?7,?8,"
                          "coalesce((SELECT trim(coalesce(firstname,'') || ' ' || coalesce(lastname,'')) FROM contacts "
                          "WHERE id=?1),?10))"));
    Statement mark = native(c, QStringLiteral("UPDATE appointments SET recorded=") + yes + QStringLiteral(" WHERE autoid=?1"));
    for (const PastAppointment& a : past) {
        int contact = a.contact;
        if (contact == 0) {
            contact = contactForAppointment(c, a.name, a.address);
            if (contact == 0)
                continue; // belongs to no one contact: it stays in the calendar, whole
            setContact.bind(1, std::int64_t(contact));
            setContact.bind(2, a.id);
            setContact.run();
            ++done.matched;
        }
        const QString outcome = a.outcome.isEmpty() ? kHeld : a.outcome;
        const QString note = AppointmentNote(a.address, a.notes);
        update.bind(1, std::int64_t(contact));
        update.bind(2, a.date.toString(Qt::ISODate));
        a.time.isValid() ? update.bind(3, isoTime(a.time)) : update.bindNull(3);
        update.bind(4, a.brief);
        update.bind(5, note);
        update.bind(6, outcome);
        update.bind(7, stamp);
        update.bind(8, a.id);
        if (update.run() == 0) {
            insert.bind(1, std::int64_t(contact));
            insert.bind(2, a.date.toString(Qt::ISODate));
            a.time.isValid() ? insert.bind(3, isoTime(a.time)) : insert.bindNull(3);
            insert.bind(4, a.brief);
            insert.bind(5, note);
            insert.bind(6, outcome);
            insert.bind(7, stamp);
            insert.bind(8, a.id);
            insert.bind(9, author);
            insert.bind(10, a.name.trimmed());
            insert.run();
        }
        mark.bind(1, a.id);
        mark.run();
        ++done.written;
    }
    tx.commit();
    return done;
}

} // namespace

RecordedAppointments recordPastAppointments(const QString& connectionText, const QDate& before, const QString& author,
                                            const QDateTime& now)
{
    return record(connectionText, before, 0, author, now);
}

int recordAppointment(const QString& connectionText, qint64 autoid, const QString& author, const QDateTime& now)
{
    return record(connectionText, {}, autoid, author, now).written;
}

bool markAppointment(const QString& connectionText, int autoid, bool held, const QDateTime& now)
{
    const QString outcome = held ? kHeld : kNotHeld;
    Connection c(connectionText);
    Transaction tx(c);
    if (Statement(c, QStringLiteral("update appointments set outcome='") + outcome + QStringLiteral("' where autoid=") +
                         QString::number(autoid))
            .run() == 0)
        return false;
    Statement(c, QStringLiteral("update history set outcome='") + outcome + QStringLiteral("',changed='") +
                     now.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) + QStringLiteral("' where appt_id=") +
                     QString::number(autoid))
        .run();
    tx.commit();
    return true;
}

} // namespace kestrel
