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
// 28 February) that the contacts' history holds (recordPastAppointments wrote them there); those
// of the cut-off day itself stay, and so does one that belongs to no contact. On the office
// server "today" is the server's current_date, the work is done under an advisory lock by one
// copy and at most once a day (kestrel_housekeeping); on the local files today is localToday.
// Throws DbError.
PurgeOutcome purgeOldAppointments(const QString& connectionText, const QDate& localToday);

// How far the office server's clock is ahead of localNow, in seconds (negative: behind). Throws
// DbError.
qint64 serverClockAhead(const QString& connectionText, const QDateTime& localNow);

} // namespace kestrel
