#pragma once
// Changing one day of a repeating appointment, or the days from one on, without touching the
// others: a day changed on its own becomes a row of its own (series_id, recurrence_date) and is
// left out of the series (exdates), a day deleted is only left out, and "this and the following"
// ends the series the day before and begins a new one. Each step is one transaction; each
// returns 0 when the series is no longer stored (deleted elsewhere), and throws DbError. Given the
// series' version as an editor read it (data/RowGuard.h), a step that changes the series writes
// nothing and returns kSeriesChanged when someone else changed the series since.
#include "data/ApptSpan.h"

#include <QDate>
#include <QDateTime>
#include <QStringList>
#include <QString>
#include <QTime>

#include <optional>
#include <vector>

namespace kestrel {

class Connection;

inline constexpr int kSeriesChanged = -1;

struct SeriesRow {
    int id = 0;
    QDate start;
    QTime time;
    QString rrule, exdates; // as stored (null as empty)
};

// The series columns of an appointment; nullopt when it is not stored.
std::optional<SeriesRow> readSeries(const QString& connectionText, int id);

// Leaves day out of the series. Returns the series' key (0: gone).
int leaveOutDay(const QString& connectionText, int seriesId, const QDate& day, const QString& seenVersion = {});

// Runs insertStatement (an INSERT into appointments, the program's dialect) as the series' own
// row for day and leaves the day out of the series. Returns the new row's key.
int overrideDay(const QString& connectionText, int seriesId, const QDate& day, const QString& insertStatement,
                const QString& seenVersion = {});

// Puts a series' rule and days left out back as they were and deletes the rows made since (an
// undo). Returns false when the series is gone.
bool restoreSeries(const QString& connectionText, const SeriesRow& as, const std::vector<int>& madeRows);

// How far the days of a series move when it is changed from one of them: its days by `days`
// (the days left out, the keys of its rows of their own), its rows of their own by `seconds`.
struct DaysMove {
    int days = 0;
    qint64 seconds = 0;
};

// Where an appointment or one day of it begins and ends, and whether it is whole days.
struct ApptPlace {
    QDate date;
    QTime time;
    ApptEnd end;
    bool allDay = false;
};

// Where a series goes when it is changed from one of its days: from `from` on (its first day for
// "All"), its new first day and end, and how its days left out and rows of their own move.
struct SeriesShift {
    QDateTime start, end; // clock time, carried in UTC so that no clock change bends the sums
    DaysMove move;
};

// The series (as stored) moves by as much as the day shown moved from where it was opened to
// where it was typed, and its length changes as that day's did. A whole-day series, or one
// changed from a day of its own kept the other way (a whole day of a timed series, a timed day of
// a whole-day series), moves by whole days only: the series keeps its time of day, and so do its
// timed rows of their own. allDayAfter: whether the series is whole days after the change.
SeriesShift seriesShift(const ApptPlace& series, const QDate& from, const ApptPlace& opened, const ApptPlace& typed,
                        bool allDayAfter);

// The row of its own that the change was made from, written after the series: its version as the
// editor read it, and the UPDATE of what was typed in it.
struct OwnDayEdit {
    int row = 0;
    QString seenVersion;
    QString update;
};

// "This and the following": the series ends the day before day and a copy of it, changed by
// seriesSet (the SET list of an UPDATE), goes on from there; the days left out and rows of their
// own from day on go with it, moved by move; then own.update runs (from a day the series keeps
// as a row of its own; row 0 for an ordinary day). ownSeen names rows of its own with their versions as the editor read them
// (update unused). kSeriesChanged when the series, that row or one of those rows that goes with
// it changed since the editor read them. *undo gets the statements that put every touched row
// back (restoreRows).
int splitSeriesFrom(const QString& connectionText, int seriesId, const QDate& day, const QString& seriesSet,
                    const QString& seenVersion, const DaysMove& move, const OwnDayEdit& own,
                    const std::vector<OwnDayEdit>& ownSeen, QStringList* undo);

// "All" from a day of its own: the series changed by seriesSet, its days left out and rows of
// their own moved by move, then own.update. Returns seriesId, 0 or kSeriesChanged as above (any
// row of ownSeen counts).
int changeSeriesFrom(const QString& connectionText, int seriesId, const QString& seriesSet, const QString& seenVersion,
                     const DaysMove& move, const OwnDayEdit& own, const std::vector<OwnDayEdit>& ownSeen,
                     QStringList* undo);

// "All" deleted: the series and its rows of their own go to the trash as one batch (*batch), in
// one transaction. ownSeen names rows of its own with their versions as the editor read them
// (update unused). kSeriesChanged when the series or one of those rows changed or went since.
int trashSeries(const QString& connectionText, int seriesId, const QString& seenVersion,
                const std::vector<OwnDayEdit>& ownSeen, const QString& label, QString* batch);

// "This and the following" deleted: the series ends the day before day and its rows of their own
// from day on go to the trash as one batch (*batch, empty when there were none), in one
// transaction. Returns seriesId, 0, or kSeriesChanged when the series or one of those rows of
// ownSeen changed or went since.
int trashSeriesFrom(const QString& connectionText, int seriesId, const QDate& day, const QString& seenVersion,
                    const std::vector<OwnDayEdit>& ownSeen, const QString& label, QString* batch);

// Runs the statements splitSeriesFrom or changeSeriesFrom gave and deletes the rows they made.
// False when the series is gone.
bool restoreRows(const QString& connectionText, int seriesId, const QStringList& undo, const std::vector<int>& madeRows);

// The rows of its own that days of the series have.
std::vector<int> seriesRows(const QString& connectionText, int seriesId);

// Every day of a series before `before` becomes a row of its own (as the series was that day),
// left out of the series, so that each past day is its own meeting for the history and the purge.
// Returns how many rows were made.
int keepPastDays(const QString& connectionText, const QDate& before);

} // namespace kestrel
