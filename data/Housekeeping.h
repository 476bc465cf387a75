#pragma once
// The data's daily tidying: appointments more than two years old are deleted once a day. On the
// office server the server's date decides and one copy of Kestrel does it for the whole office,
// so that a computer whose clock is wrong can delete nothing that is not old.
#include <QDate>
#include <QDateTime>
#include <QString>

namespace kestrel {

class Connection;

struct PurgeOutcome {
    bool ran = false; // false: already done today (by this copy or another), or another copy is at it
    int deleted = 0;
};

// Deletes the appointments dated before the same day two years back (29 February falls back to
// 28 February); those of the cut-off day itself stay. On the office server "today" is the
// server's current_date, the work is done under an advisory lock by one copy and at most once a
// day (kestrel_housekeeping); on the local files today is localToday. Throws DbError.
PurgeOutcome purgeOldAppointments(const QString& connectionText, const QDate& localToday);

// The one place every purged appointment passes before it is deleted, inside the purge's
// transaction: where (a condition on appointments: the engine's own SQL on the server, the
// program's dialect on the local files) picks them. A
// contact history writes them there first; today nothing is kept.
void notePurgedAppointments(Connection& connection, const QString& where);

// How far the office server's clock is ahead of localNow, in seconds (negative: behind). Throws
// DbError.
qint64 serverClockAhead(const QString& connectionText, const QDateTime& localNow);

} // namespace kestrel
