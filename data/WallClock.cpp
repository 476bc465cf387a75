#include "data/WallClock.h"

#include <algorithm>

namespace kestrel {

namespace {

constexpr qint64 kDay = 24 * 3600;

struct Reading {
    qint64 earlier = 0, later = 0; // the moment by the offset before, and after, a change
    bool earlierFits = false, laterFits = false;
};

// The clock time read with the offsets in force a day before and a day after it. A reading fits
// when the zone really shows that offset at the moment it gives. Zones change their offset at most
// once within a day, so these two are the only candidates.
Reading readingsOf(qint64 wall, const std::function<int(qint64)>& offsetAt)
{
    Reading r;
    const int before = offsetAt(wall - kDay);
    const int after = offsetAt(wall + kDay);
    r.earlier = wall - before;
    r.later = wall - after;
    r.earlierFits = offsetAt(r.earlier) == before;
    r.laterFits = offsetAt(r.later) == after;
    return r;
}

qint64 wallSecondsOf(const QDate& date, const QTime& time)
{
    return QDateTime(date, time.isValid() ? time : QTime(0, 0), Qt::UTC).toSecsSinceEpoch();
}

std::function<int(qint64)> offsetsOf(const QTimeZone& zone)
{
    return [zone](qint64 utc) { return zone.offsetFromUtc(QDateTime::fromSecsSinceEpoch(utc, Qt::UTC)); };
}

} // namespace

qint64 wallClockToUtc(qint64 wall, const std::function<int(qint64)>& offsetAt)
{
    const Reading r = readingsOf(wall, offsetAt);
    if (r.earlierFits && r.laterFits)
        return std::min(r.earlier, r.later); // doubled: the first coming
    if (r.laterFits)
        return r.later;
    return r.earlier; // fits, or skipped: the offset before the change
}

QDateTime wallClockMoment(const QDate& date, const QTime& time, const QTimeZone& zone)
{
    if (!date.isValid())
        return {};
    const QTimeZone z = zone.isValid() ? zone : QTimeZone::utc();
    return QDateTime::fromSecsSinceEpoch(wallClockToUtc(wallSecondsOf(date, time), offsetsOf(z)), z);
}

WallClockCase wallClockCase(const QDate& date, const QTime& time, const QTimeZone& zone)
{
    if (!date.isValid() || !zone.isValid())
        return WallClockCase::Plain;
    const Reading r = readingsOf(wallSecondsOf(date, time), offsetsOf(zone));
    if (!r.earlierFits && !r.laterFits)
        return WallClockCase::Skipped;
    if (r.earlierFits && r.laterFits && r.earlier != r.later)
        return WallClockCase::Doubled;
    return WallClockCase::Plain;
}

} // namespace kestrel
