#include "data/Housekeeping.h"

#include "data/Database.h"
#include "data/Office.h"
#include "data/Statement.h"
#include "data/modData.h"

namespace kestrel {

namespace {
Statement native(Connection& c, const QString& sql) { return Statement(c, sql, Statement::Dialect::Native); }
} // namespace

PurgeOutcome purgeOldAppointments(const QString& connectionText, const QDate& localToday)
{
    PurgeOutcome outcome;
    Connection c(connectionText);
    Transaction tx(c);
    QString where;
    Statement::Dialect dialect = Statement::Dialect::Native;
    if (c.onServer()) {
        // One copy a day for the whole office: the others find the lock taken or the day done.
        Statement lock = native(c, QStringLiteral("SELECT pg_try_advisory_xact_lock(hashtext('kestrel_purge')::bigint)"));
        if (!lock.step() || lock.text(0) != u"1")
            return outcome;
        Statement day = native(c, QStringLiteral("SELECT coalesce(last_day >= current_date, false) FROM "
                                                 "kestrel_housekeeping WHERE task = 'purge appointments' FOR UPDATE"));
        if (day.step() && day.text(0) == u"1")
            return outcome;
        where = QStringLiteral("apptdate < (current_date - interval '2 years')::date AND recorded AND rrule IS NULL");
    } else {
        where = QStringLiteral("apptdate < #") + DateText(localToday.addYears(-2)) + QStringLiteral("# and recorded=True and rrule is null");
        dialect = Statement::Dialect::Program;
    }
    outcome.deleted = Statement(c, QStringLiteral("delete from appointments where ") + where, dialect).run();
    if (c.onServer())
        native(c, QStringLiteral("UPDATE kestrel_housekeeping SET last_day = current_date WHERE task = 'purge appointments'"))
            .run();
    tx.commit();
    outcome.ran = true;
    return outcome;
}

qint64 serverClockAhead(const QString& connectionText, const QDateTime& localNow)
{
    Connection c(connectionText);
    Statement now = native(c, QStringLiteral("SELECT floor(extract(epoch FROM clock_timestamp()))::bigint"));
    if (!now.step())
        return 0;
    return now.integer(0) - localNow.toSecsSinceEpoch();
}

} // namespace kestrel
