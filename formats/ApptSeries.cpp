#include "formats/ApptSeries.h"

#include "data/Database.h"
#include "data/RowGuard.h"
#include "data/Statement.h"
#include "data/Trash.h"
#include "data/modData.h"
#include "formats/Recurrence.h"
#include "formats/RepeatRule.h"

#include <QDateTime>

#include <algorithm>

namespace kestrel {

namespace {

QString dateLiteral(const QDate& d) { return d.isValid() ? u'#' + DateText(d) + u'#' : QStringLiteral("Null"); }
QString textLiteral(const QString& s, bool null) { return null ? QStringLiteral("Null") : u'\'' + Quoted(s) + u'\''; }

std::optional<SeriesRow> readOn(Connection& c, int id)
{
    Statement st(c, QStringLiteral("select autoid,apptdate,appttime,rrule,exdates from appointments where autoid=") +
                        QString::number(id));
    if (!st.step())
        return std::nullopt;
    SeriesRow s;
    s.id = int(st.integer(0));
    s.start = st.value(1).toDate();
    s.time = st.value(2).toTime();
    s.rrule = st.text(3);
    s.exdates = st.text(4);
    return s;
}

// The series read for a change in c's transaction (held on the server until it ends); nullopt
// when it is gone or, *changed set, when its version is no longer the one the editor read.
std::optional<SeriesRow> readForChange(Connection& c, int id, const QString& seenVersion, bool* changed)
{
    if (!seenVersion.isEmpty()) {
        const QString now = rowVersionOn(c, {QStringLiteral("appointments"), QStringLiteral("autoid"), id}, true);
        if (!now.isEmpty() && now != seenVersion) {
            *changed = true;
            return std::nullopt;
        }
    }
    return readOn(c, id);
}

void setRule(Connection& c, int id, const QString& rrule, const QString& exdates)
{
    Statement(c, QStringLiteral("update appointments set rrule=") + textLiteral(rrule, rrule.isEmpty()) +
                     QStringLiteral(",exdates=") + textLiteral(exdates, exdates.isEmpty()) +
                     QStringLiteral(" where autoid=") + QString::number(id))
        .run();
}

QString withDay(const QString& exdates, const QDate& day)
{
    std::vector<QDate> days = exceptDays(exdates);
    if (std::find(days.begin(), days.end(), day) == days.end())
        days.push_back(day);
    std::sort(days.begin(), days.end());
    return exceptColumn(days);
}

QString RuleOf(Connection& c, int id)
{
    Statement st(c, QStringLiteral("select rrule from appointments where autoid=") + QString::number(id));
    return st.step() ? st.text(0) : QString();
}

int insertRow(Connection& c, const QString& insertStatement)
{
    Statement insert(c, insertStatement);
    insert.run();
    return int(insert.lastInsertId());
}

void markOwnDay(Connection& c, int row, int seriesId, const QDate& day)
{
    Statement(c, QStringLiteral("update appointments set series_id=%1,recurrence_date=%2 where autoid=%3")
                     .arg(seriesId)
                     .arg(dateLiteral(day))
                     .arg(row))
        .run();
}

// A copy of the series as it is on day, a row of its own for that day.
int copyForDay(Connection& c, const SeriesRow& s, const QDate& day)
{
    Statement st(c, QStringLiteral("select name,address,apptbrief,apptnotes,contact_id,enddate,endtime,allday,cancelled "
                                   "from appointments where autoid=") + QString::number(s.id));
    if (!st.step())
        return 0;
    const QDate end = st.value(5).toDate();
    const QTime endTime = st.value(6).toTime();
    const auto flag = [&st](int i) { return st.value(i).toBool() ? QStringLiteral("True") : QStringLiteral("False"); };
    const QString insert =
        QStringLiteral("INSERT into appointments(name,address,apptdate,appttime,apptbrief,apptnotes,contact_id,enddate,"
                       "endtime,allday,cancelled,series_id,recurrence_date) values(%1,%2,%3,%4,%5,%6,%7,%8,%9,")
            .arg(textLiteral(st.text(0), st.isNull(0)), textLiteral(st.text(1), st.isNull(1)), dateLiteral(day),
                 s.time.isValid() ? u'#' + TimeText(s.time) + u'#' : QStringLiteral("Null"),
                 textLiteral(st.text(2), st.isNull(2)), textLiteral(st.text(3), st.isNull(3)),
                 st.isNull(4) ? QStringLiteral("Null") : QString::number(st.integer(4)),
                 dateLiteral(end.isValid() ? day.addDays(s.start.daysTo(end)) : QDate()),
                 endTime.isValid() ? u'#' + TimeText(endTime) + u'#' : QStringLiteral("Null")) +
        QStringLiteral("%1,%2,%3,%4)").arg(flag(7), flag(8)).arg(s.id).arg(dateLiteral(day));
    return insertRow(c, insert);
}

// The UPDATE that puts a row back as it is now.
QString rowAsItIs(Connection& c, int id)
{
    Statement st(c, QStringLiteral("select name,address,apptdate,appttime,apptbrief,apptnotes,contact_id,outcome,enddate,"
                                   "endtime,allday,cancelled,rrule,exdates,series_id,recurrence_date from appointments "
                                   "where autoid=") + QString::number(id));
    if (!st.step())
        return {};
    const auto text = [&st](int i) { return textLiteral(st.text(i), st.isNull(i)); };
    const auto date = [&st](int i) { return dateLiteral(st.isNull(i) ? QDate() : st.value(i).toDate()); };
    const auto time = [&st](int i) {
        const QTime t = st.isNull(i) ? QTime() : st.value(i).toTime();
        return t.isValid() ? u'#' + TimeText(t) + u'#' : QStringLiteral("Null");
    };
    const auto number = [&st](int i) { return st.isNull(i) ? QStringLiteral("Null") : QString::number(st.integer(i)); };
    const auto flag = [&st](int i) { return st.value(i).toBool() ? QStringLiteral("True") : QStringLiteral("False"); };
    return QStringLiteral("update appointments set name=%1,address=%2,apptdate=%3,appttime=%4,apptbrief=%5,apptnotes=%6,"
                          "contact_id=%7,outcome=%8,enddate=%9,")
               .arg(text(0), text(1), date(2), time(3), text(4), text(5), number(6), text(7), date(8)) +
           QStringLiteral("endtime=%1,allday=%2,cancelled=%3,rrule=%4,exdates=%5,series_id=%6,recurrence_date=%7 "
                          "where autoid=%8")
               .arg(time(9), flag(10), flag(11), text(12), text(13), number(14), date(15))
               .arg(id);
}

// Someone changed or deleted the row of its own since the editor read it.
bool ownChanged(Connection& c, const OwnDayEdit& own)
{
    if (own.row == 0 || own.seenVersion.isEmpty())
        return false;
    return rowVersionOn(c, {QStringLiteral("appointments"), QStringLiteral("autoid"), own.row}, true) != own.seenVersion;
}

// The rows of their own of a series, those from `from` on (all for an invalid from).
std::vector<int> ownRowsFrom(Connection& c, int seriesId, const QDate& from)
{
    QString sql = QStringLiteral("select autoid from appointments where series_id=") + QString::number(seriesId);
    if (from.isValid())
        sql += QStringLiteral(" and recurrence_date>=") + dateLiteral(from);
    std::vector<int> rows;
    Statement st(c, sql);
    while (st.step())
        rows.push_back(int(st.integer(0)));
    return rows;
}

// A day a colleague changed on its own is their work too: it is not moved or deleted unseen.
// Looks at the rows of seen that are among `touched` (all of seen when it is null).
bool ownDaysChanged(Connection& c, const std::vector<OwnDayEdit>& seen, const std::vector<int>* touched = nullptr)
{
    for (const OwnDayEdit& own : seen)
        if ((!touched || std::find(touched->begin(), touched->end(), own.row) != touched->end()) && ownChanged(c, own))
            return true;
    return false;
}

// Moves the rows of their own of a series (those from `from` on; all for an invalid from) with
// the series' days, keys and all; returns their keys.
std::vector<int> moveOwnDays(Connection& c, int seriesId, const QDate& from, const DaysMove& m, QStringList* undo)
{
    struct Own {
        int id;
        QDate date;
        QTime time;
        QDate end;
        QTime endTime;
        bool allDay;
        QDate key;
    };
    std::vector<Own> rows;
    {
        QString sql = QStringLiteral("select autoid,apptdate,appttime,enddate,endtime,allday,recurrence_date from "
                                     "appointments where series_id=") + QString::number(seriesId);
        if (from.isValid())
            sql += QStringLiteral(" and recurrence_date>=") + dateLiteral(from);
        Statement st(c, sql);
        while (st.step())
            rows.push_back({int(st.integer(0)), st.value(1).toDate(), st.isNull(2) ? QTime() : st.value(2).toTime(),
                            st.isNull(3) ? QDate() : st.value(3).toDate(), st.isNull(4) ? QTime() : st.value(4).toTime(),
                            st.value(5).toBool(), st.value(6).toDate()});
    }
    std::vector<int> ids;
    for (const Own& r : rows) {
        ids.push_back(r.id);
        if (undo)
            undo->push_back(rowAsItIs(c, r.id));
        if (m.days == 0 && m.seconds == 0)
            continue;
        // A whole-day row moves by whole days; a timed one by the clock, which may carry it over midnight.
        const qint64 by = r.allDay ? qint64(m.days) * 86400 : m.seconds;
        const QDateTime start = QDateTime(r.date, r.time.isValid() ? r.time : QTime(0, 0), Qt::UTC).addSecs(by);
        const QDateTime end =
            QDateTime(r.end.isValid() ? r.end : r.date, r.endTime.isValid() ? r.endTime : QTime(0, 0), Qt::UTC).addSecs(by);
        // Null stays null (the day it begins) unless the move carried the end over midnight.
        const QDate endDate = r.end.isValid() || end.date() != start.date() ? end.date() : QDate();
        Statement(c, QStringLiteral("update appointments set apptdate=%1,appttime=%2,enddate=%3,endtime=%4,recurrence_date=%5 "
                                    "where autoid=%6")
                         .arg(dateLiteral(start.date()),
                              r.time.isValid() ? u'#' + TimeText(start.time()) + u'#' : QStringLiteral("Null"),
                              dateLiteral(endDate),
                              r.endTime.isValid() ? u'#' + TimeText(end.time()) + u'#' : QStringLiteral("Null"),
                              dateLiteral(r.key.addDays(m.days)))
                         .arg(r.id))
            .run();
    }
    return ids;
}

std::vector<QDate> movedDays(const std::vector<QDate>& days, int by)
{
    std::vector<QDate> out;
    for (const QDate& d : days)
        out.push_back(d.addDays(by));
    return out;
}

} // namespace

SeriesShift seriesShift(const ApptPlace& series, const QDate& from, const ApptPlace& opened, const ApptPlace& typed,
                        bool allDayAfter)
{
    const auto at = [](const QDate& d, const QTime& t) { return QDateTime(d, t.isValid() ? t : QTime(0, 0), Qt::UTC); };
    const bool otherKind = opened.allDay != series.allDay;
    const qint64 days = opened.date.daysTo(typed.date);
    // A day kept the other way says nothing about the series' time of day or length.
    const qint64 by = otherKind || allDayAfter ? days * 86400 : at(opened.date, opened.time).secsTo(at(typed.date, typed.time));
    const qint64 longer = otherKind ? 0
                                    : at(typed.date, typed.time).secsTo(at(typed.end.date, typed.end.time)) -
                                          at(opened.date, opened.time).secsTo(at(opened.end.date, opened.end.time));
    const qint64 length = at(series.date, series.time).secsTo(at(series.end.date, series.end.time)) + longer;
    SeriesShift s;
    s.start = at(from, series.time).addSecs(by);
    s.end = s.start.addSecs(std::max<qint64>(0, length));
    s.move.days = int(from.daysTo(s.start.date()));
    s.move.seconds = otherKind || series.allDay || allDayAfter ? qint64(s.move.days) * 86400 : by;
    return s;
}

std::optional<SeriesRow> readSeries(const QString& connectionText, int id)
{
    Connection c(connectionText);
    return readOn(c, id);
}

int leaveOutDay(const QString& connectionText, int seriesId, const QDate& day, const QString& seenVersion)
{
    Connection c(connectionText);
    Transaction tx(c);
    bool changed = false;
    const std::optional<SeriesRow> s = readForChange(c, seriesId, seenVersion, &changed);
    if (!s)
        return changed ? kSeriesChanged : 0;
    setRule(c, seriesId, s->rrule, withDay(s->exdates, day));
    tx.commit();
    return seriesId;
}

int overrideDay(const QString& connectionText, int seriesId, const QDate& day, const QString& insertStatement,
                const QString& seenVersion)
{
    Connection c(connectionText);
    Transaction tx(c);
    bool changed = false;
    const std::optional<SeriesRow> s = readForChange(c, seriesId, seenVersion, &changed);
    if (!s)
        return changed ? kSeriesChanged : 0;
    const int row = insertStatement.isEmpty() ? copyForDay(c, *s, day) : insertRow(c, insertStatement);
    markOwnDay(c, row, seriesId, day);
    setRule(c, seriesId, s->rrule, withDay(s->exdates, day));
    tx.commit();
    return row;
}

int trashSeriesFrom(const QString& connectionText, int seriesId, const QDate& day, const QString& seenVersion,
                    const std::vector<OwnDayEdit>& ownSeen, const QString& label, QString* batch)
{
    Connection c(connectionText);
    Transaction tx(c);
    bool changed = false;
    const std::optional<SeriesRow> s = readForChange(c, seriesId, seenVersion, &changed);
    if (!s)
        return changed ? kSeriesChanged : 0;
    const std::vector<int> later = ownRowsFrom(c, seriesId, day);
    if (ownDaysChanged(c, ownSeen, &later))
        return kSeriesChanged;
    setRule(c, seriesId, RuleEndedBefore(s->rrule, day), s->exdates);
    KeyRanges rows;
    for (int id : later)
        rows.emplace_back(id, id);
    batch->clear();
    if (!rows.empty())
        *batch = moveToTrashWithin(c, TrashTable::Appointments, rows, label);
    tx.commit();
    return seriesId;
}

int splitSeriesFrom(const QString& connectionText, int seriesId, const QDate& day, const QString& seriesSet,
                    const QString& seenVersion, const DaysMove& move, const OwnDayEdit& own,
                    const std::vector<OwnDayEdit>& ownSeen, QStringList* undo)
{
    Connection c(connectionText);
    Transaction tx(c);
    bool changed = false;
    const std::optional<SeriesRow> s = readForChange(c, seriesId, seenVersion, &changed);
    if (!s)
        return changed ? kSeriesChanged : 0;
    if (ownChanged(c, own))
        return kSeriesChanged;
    if (const std::vector<int> going = ownRowsFrom(c, seriesId, day); ownDaysChanged(c, ownSeen, &going))
        return kSeriesChanged;
    if (undo)
        undo->push_back(rowAsItIs(c, seriesId));
    std::vector<QDate> before, after;
    for (const QDate& d : exceptDays(s->exdates))
        (d < day ? before : after).push_back(d);
    after = movedDays(after, move.days);
    setRule(c, seriesId, RuleEndedBefore(s->rrule, day), exceptColumn(before));
    const int next = insertRow(c, QStringLiteral("INSERT into appointments(%1) select %1 from appointments where autoid=%2")
                                      .arg(QStringLiteral("name,address,apptdate,appttime,apptbrief,apptnotes,contact_id,"
                                                          "enddate,endtime,allday,cancelled"))
                                      .arg(seriesId));
    Statement(c, QStringLiteral("update appointments set ") + seriesSet + QStringLiteral(" where autoid=") +
                     QString::number(next))
        .run();
    setRule(c, next, RuleOf(c, next), exceptColumn(after));
    for (int row : moveOwnDays(c, seriesId, day, move, undo))
        Statement(c, QStringLiteral("update appointments set series_id=%1 where autoid=%2").arg(next).arg(row)).run();
    if (!own.update.isEmpty())
        Statement(c, own.update).run();
    tx.commit();
    return next;
}

int changeSeriesFrom(const QString& connectionText, int seriesId, const QString& seriesSet, const QString& seenVersion,
                     const DaysMove& move, const OwnDayEdit& own, const std::vector<OwnDayEdit>& ownSeen,
                     QStringList* undo)
{
    Connection c(connectionText);
    Transaction tx(c);
    bool changed = false;
    const std::optional<SeriesRow> s = readForChange(c, seriesId, seenVersion, &changed);
    if (!s)
        return changed ? kSeriesChanged : 0;
    if (ownChanged(c, own) || ownDaysChanged(c, ownSeen))
        return kSeriesChanged;
    if (undo)
        undo->push_back(rowAsItIs(c, seriesId));
    Statement(c, QStringLiteral("update appointments set ") + seriesSet + QStringLiteral(" where autoid=") +
                     QString::number(seriesId))
        .run();
    setRule(c, seriesId, RuleOf(c, seriesId), exceptColumn(movedDays(exceptDays(s->exdates), move.days)));
    moveOwnDays(c, seriesId, {}, move, undo);
    if (!own.update.isEmpty())
        Statement(c, own.update).run();
    tx.commit();
    return seriesId;
}

int trashSeries(const QString& connectionText, int seriesId, const QString& seenVersion,
                const std::vector<OwnDayEdit>& ownSeen, const QString& label, QString* batch)
{
    Connection c(connectionText);
    Transaction tx(c);
    bool changed = false;
    if (!readForChange(c, seriesId, seenVersion, &changed))
        return changed ? kSeriesChanged : 0;
    if (ownDaysChanged(c, ownSeen))
        return kSeriesChanged;
    KeyRanges rows{{seriesId, seriesId}};
    for (int id : ownRowsFrom(c, seriesId, {}))
        rows.emplace_back(id, id);
    *batch = moveToTrashWithin(c, TrashTable::Appointments, rows, label);
    tx.commit();
    return seriesId;
}

bool restoreRows(const QString& connectionText, int seriesId, const QStringList& undo, const std::vector<int>& madeRows)
{
    Connection c(connectionText);
    Transaction tx(c);
    if (!readOn(c, seriesId))
        return false;
    for (const QString& statement : undo)
        if (!statement.isEmpty())
            Statement(c, statement).run();
    for (int row : madeRows) {
        Statement(c, QStringLiteral("delete from history where appt_id=") + QString::number(row)).run();
        Statement(c, QStringLiteral("delete from appointments where autoid=") + QString::number(row)).run();
    }
    tx.commit();
    return true;
}

bool restoreSeries(const QString& connectionText, const SeriesRow& as, const std::vector<int>& madeRows)
{
    Connection c(connectionText);
    Transaction tx(c);
    if (!readOn(c, as.id))
        return false;
    for (int row : madeRows) {
        Statement(c, QStringLiteral("update appointments set series_id=%1 where series_id=%2").arg(as.id).arg(row)).run();
        Statement(c, QStringLiteral("delete from history where appt_id=") + QString::number(row)).run();
        Statement(c, QStringLiteral("delete from appointments where autoid=") + QString::number(row)).run();
    }
    setRule(c, as.id, as.rrule, as.exdates);
    tx.commit();
    return true;
}

std::vector<int> seriesRows(const QString& connectionText, int seriesId)
{
    std::vector<int> rows;
    Connection c(connectionText);
    Statement st(c, QStringLiteral("select autoid from appointments where series_id=") + QString::number(seriesId));
    while (st.step())
        rows.push_back(int(st.integer(0)));
    return rows;
}

int keepPastDays(const QString& connectionText, const QDate& before)
{
    Connection c(connectionText);
    Transaction tx(c);
    std::vector<SeriesRow> series;
    {
        Statement st(c, QStringLiteral("select autoid,apptdate,appttime,rrule,exdates from appointments where rrule is not "
                                       "null and apptdate<") + dateLiteral(before));
        while (st.step())
            series.push_back({int(st.integer(0)), st.value(1).toDate(), st.value(2).toTime(), st.text(3), st.text(4)});
    }
    int made = 0;
    for (const SeriesRow& s : series) {
        if (!ruleReadable(s.rrule))
            continue; // shown as the single appointment it was stored as, and recorded so
        const std::vector<QDate> days =
            occurrenceDays(s.rrule, s.start, s.time, s.start, before.addDays(-1), exceptDays(s.exdates));
        if (days.empty())
            continue;
        QString left = s.exdates;
        for (const QDate& d : days) {
            copyForDay(c, s, d);
            left = withDay(left, d);
            ++made;
        }
        setRule(c, s.id, s.rrule, left);
    }
    tx.commit();
    return made;
}

} // namespace kestrel
