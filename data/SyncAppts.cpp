// The appointments' side of the sync's store: an appointment as the values the sync compares, a
// series with the rows of its days changed on their own, and the same written back.
#include "data/SyncAppts.h"

#include "data/ApptSpan.h"
#include "data/Database.h"
#include "data/ExchangeStore.h"
#include "data/Statement.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>
#include <map>

namespace kestrel {

// Values as the sync compares them: dates and times in one form on both engines, null as empty.
QString syncValueText(const Statement& q, int column, const QString& name)
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

namespace {

Statement native(Connection& c, const QString& sql) { return Statement(c, sql, Statement::Dialect::Native); }

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
        v << syncValueText(q, i + 1, QLatin1String(names[i]));
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
    return QStringList{syncValueText(q, 13, QStringLiteral("apptdate"))} + apptValues(q).mid(0, kSyncApptOwnColumns);
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

} // namespace

// An appointment as the sync changes it: the row, and the rows of its own days made, changed or,
// where the series no longer has them, put in the trash.
class ApptWriterImpl {
public:
    explicit ApptWriterImpl(Connection& c)
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
            removeSyncedRow(c_, SyncKind::Appointments, row, why);
        removeSyncedRow(c_, SyncKind::Appointments, id, why);
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
            out.emplace(syncValueText(days_, 13, QStringLiteral("apptdate")), days_.integer(0));
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
            removeSyncedRow(c_, SyncKind::Appointments, row,
                      QStringLiteral("a day of a repeating appointment, no longer changed on its own on the phone"));
    }

    Connection& c_;
    Statement one_, days_, update_, insert_;
};

ApptSyncWriter::ApptSyncWriter(Connection& c) : impl_(std::make_unique<ApptWriterImpl>(c)) {}
ApptSyncWriter::~ApptSyncWriter() = default;
QStringList ApptSyncWriter::current(std::int64_t id) { return impl_->current(id); }
std::int64_t ApptSyncWriter::insert(const QStringList& values) { return impl_->insert(values); }
void ApptSyncWriter::update(std::int64_t id, const QStringList& values) { impl_->update(id, values); }
void ApptSyncWriter::remove(std::int64_t id, const QString& why) { impl_->remove(id, why); }

std::vector<SyncRow> loadApptSyncRows(Connection& c, const QString& identity)
{
    std::vector<SyncRow> rows;
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

} // namespace kestrel
