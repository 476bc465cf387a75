#include "calendar/AlertSchedule.h"

#include "data/Database.h"
#include "data/Globals.h"
#include "data/modData.h"
#include "data/WallClock.h"
#include "formats/Recurrence.h"

#include <algorithm>
#include <tuple>

namespace kestrel {

AlertSchedule::AlertSchedule(const QTimeZone& zone) : zone_(zone) {}

void AlertSchedule::setMinutes(int minutes)
{
    minutes_ = std::max(0, minutes);
    if (minutes_ == 0)
        for (State& s : state_)
            s.snoozedUntil = QDateTime();
}

QDateTime AlertSchedule::startOf(const QDate& date, const QTime& time) const
{
    // Most days keep one offset from UTC all day: read once, their clock times are counted from
    // it. A day the clocks change on goes through the whole rule.
    auto it = dayOffsets_.constFind(date);
    if (it == dayOffsets_.constEnd()) {
        if (dayOffsets_.size() >= 64)
            dayOffsets_.clear();
        const QDateTime first = wallClockMoment(date, QTime(0, 0), zone_);
        const QDateTime next = wallClockMoment(date.addDays(1), QTime(0, 0), zone_);
        const bool even = first.isValid() && first.secsTo(next) == 24 * 3600 && first.offsetFromUtc() == next.offsetFromUtc();
        it = dayOffsets_.insert(date, even ? std::optional<int>(first.offsetFromUtc()) : std::nullopt);
    }
    if (!*it)
        return wallClockMoment(date, time, zone_);
    const QTime clock = time.isValid() ? time : QTime(0, 0);
    return QDateTime::fromSecsSinceEpoch(QDateTime(date, clock, Qt::UTC).toSecsSinceEpoch() - **it, zone_);
}

QDateTime AlertSchedule::alertAt(const ApptAlert& a) const
{
    return a.allDay ? startOf(a.date, QTime(9, 0)) : startOf(a.date, a.time).addSecs(-60 * minutes_);
}

QDateTime AlertSchedule::missedFrom(const ApptAlert& a) const
{
    return a.allDay ? startOf(a.date.addDays(1), QTime(0, 0)) : startOf(a.date, a.time);
}

void AlertSchedule::setAppointments(std::vector<ApptAlert> appts)
{
    appts_ = std::move(appts);
    QSet<Key> present;
    for (const ApptAlert& a : appts_)
        present.insert(keyOf(a));
    for (auto it = state_.begin(); it != state_.end();)
        it = present.contains(it.key()) ? std::next(it) : state_.erase(it);
}

std::vector<ApptAlert> AlertSchedule::takeDue(const QDateTime& now)
{
    std::vector<ApptAlert> due;
    const QDateTime lastLook = std::exchange(lastLook_, now);
    // While alerts are off nothing is missed: switched on again, only what has not begun alerts.
    if (minutes_ == 0) {
        known_.clear();
        return due;
    }
    QSet<Key> seen;
    for (const ApptAlert& a : appts_) {
        const Key key = keyOf(a);
        seen.insert(key);
        State& s = state_[key];
        if (dismissed_.contains(alertKey(a))) {
            s.alerted = true;
            s.snoozedUntil = QDateTime();
            continue;
        }
        const QDateTime start = missedFrom(a);
        const QDateTime alertAt = this->alertAt(a);
        bool give = false;
        bool missed = false;
        if (s.snoozedUntil.isValid()) {
            give = s.snoozedUntil <= now;
        } else if (!s.alerted && alertAt <= now) {
            missed = start <= now;
            give = !missed || (known_.contains(key) && lastLook.isValid() && alertAt > lastLook);
        }
        if (!give)
            continue;
        s.alerted = true;
        s.snoozedUntil = QDateTime();
        ApptAlert out = a;
        out.missed = missed;
        due.push_back(out);
    }
    known_ = seen;
    return due;
}

void AlertSchedule::snooze(const QString& key, const QDateTime& now)
{
    for (const ApptAlert& a : appts_)
        if (alertKey(a) == key) {
            State& s = state_[keyOf(a)];
            s.alerted = true;
            s.snoozedUntil = now.addSecs(60 * kSnoozeMinutes);
        }
}

QString AlertSchedule::alertKey(const ApptAlert& a)
{
    return QString::number(a.id) + u'@' + a.date.toString(Qt::ISODate) + u'T' + a.time.toString(QStringLiteral("HH:mm"));
}

QDateTime AlertSchedule::nextWakeUp(const QDateTime& now) const
{
    if (minutes_ == 0)
        return {};
    const QDate day = now.toTimeZone(zone_).date();
    QDateTime next(day.addDays(1), QTime(0, 0), zone_);
    // Compared in UTC: a local clock's moment is worked out again at every comparison.
    const QDateTime nowUtc = now.toUTC();
    for (const ApptAlert& a : appts_) {
        const auto it = state_.constFind(keyOf(a));
        const State s = it == state_.constEnd() ? State() : *it;
        QDateTime at;
        if (s.snoozedUntil.isValid())
            at = s.snoozedUntil;
        else if (!s.alerted && missedFrom(a) > nowUtc)
            at = alertAt(a);
        if (at.isValid() && at > nowUtc && at < next)
            next = at;
    }
    return next;
}

std::vector<ApptAlert> ApptsToAlert(const QDate& today)
{
    std::vector<ApptAlert> out;
    const QDate tomorrow = today.addDays(1);
    Connection connection(sConnContacts);
    const QString columns = QStringLiteral("SELECT autoid,apptdate,appttime,apptbrief,address,name,allday,rrule,exdates "
                                           "FROM appointments where cancelled=False and ");
    // A cancelled appointment raises no alert, nor a cancelled day of a series (a row of its own).
    Snapshot single(connection, columns + QStringLiteral("rrule is null and apptdate between #") + DateText(today) +
                                    QStringLiteral("# And #") + DateText(tomorrow) + u'#');
    // The series begun by tomorrow; each gives the days of the two that it falls on.
    Snapshot series(connection, columns + QStringLiteral("rrule is not null and apptdate<=#") + DateText(tomorrow) + u'#');
    for (Snapshot* rs : {&single, &series})
        for (; !rs->eof(); rs->moveNext()) {
            const QVariant d = rs->field(1);
            const QVariant t = rs->field(2);
            // An appointment without a readable date or time has no moment to be alerted at.
            if (d.typeId() != QMetaType::QDate || t.typeId() != QMetaType::QTime)
                continue;
            ApptAlert a{rs->field(0).toInt(), d.toDate(), t.toTime(), rs->text(3), rs->text(4), rs->text(5),
                        rs->field(6).toBool()};
            const QString rule = rs->text(7);
            if (rule.isEmpty() || !ruleReadable(rule)) { // one it cannot read stands as a single appointment
                if (a.date >= today && a.date <= tomorrow)
                    out.push_back(a);
                continue;
            }
            for (const QDate& day : occurrenceDays(rule, a.date, a.time, today, tomorrow, exceptDays(rs->text(8)))) {
                a.date = day;
                out.push_back(a);
            }
        }
    std::sort(out.begin(), out.end(), [](const ApptAlert& x, const ApptAlert& y) {
        return std::tie(x.date, x.time, x.id) < std::tie(y.date, y.time, y.id);
    });
    return out;
}

QString AlertLine(const ApptAlert& a, const QDate& day)
{
    QString line = a.date == day ? QString() : DateText(a.date) + u' ';
    line += (a.allDay ? QStringLiteral("All day") : TimeText(a.time)) + QStringLiteral(" - ") + a.brief;
    for (const QString& part : {a.where, a.name})
        if (!part.isEmpty())
            line += QStringLiteral(" - ") + part;
    if (a.missed)
        line += QStringLiteral(" (missed)");
    return line;
}

} // namespace kestrel
