#pragma once
// When the appointments of today and tomorrow are to be alerted: a fixed number of minutes before
// each one begins, once, again after a snooze, and late but marked as missed when the appointment
// began while nobody could be told (the computer slept). Times are instants, so an alert keeps its
// distance in real minutes across a change to or from daylight saving time.
#include <QDateTime>
#include <QHash>
#include <QSet>
#include <QString>
#include <QTimeZone>

#include <optional>
#include <vector>

namespace kestrel {

struct ApptAlert {
    int id = 0; // autoid
    QDate date;
    QTime time;
    QString brief, where, name;
    // A whole day: alerted at 9:00 AM on it, whatever the lead time, and missed only once it is over.
    bool allDay = false;
    bool missed = false; // set by takeDue: the appointment began before its alert could be given
};

class AlertSchedule {
public:
    explicit AlertSchedule(const QTimeZone& zone = QTimeZone::systemTimeZone());

    // Minutes before each appointment; 0 switches alerts off and forgets snoozes.
    void setMinutes(int minutes);
    int minutes() const { return minutes_; }
    const QTimeZone& zone() const { return zone_; }

    // The appointments now in view. An appointment that keeps its date and time keeps its state
    // (alerted, snoozed); one that moved counts as new, one that is gone is forgotten.
    void setAppointments(std::vector<ApptAlert> appts);

    // The alerts due at now, each given once. Due: the alert time has come and the appointment has
    // not begun, or its snooze is over, or it was known at the previous look with its alert still
    // ahead and has begun since (missed). An appointment first seen after it began is not alerted.
    std::vector<ApptAlert> takeDue(const QDateTime& now);

    // Alerts the appointment of key (alertKey) again at now + 5 minutes: one day of a series, not
    // the next one.
    void snooze(const QString& key, const QDateTime& now);

    // The alerts the user dismissed, as alertKey names them: never given again, also after a
    // restart or in another running copy, which read them from the same settings.
    void setDismissed(QSet<QString> keys) { dismissed_ = std::move(keys); }
    // One appointment at one date and time, "12@2026-12-04T09:30": moved, it is another alert.
    static QString alertKey(const ApptAlert& a);

    // When to look next: the earliest alert or snooze still ahead, or the coming midnight, when
    // another day comes into view. Invalid while alerts are off.
    QDateTime nextWakeUp(const QDateTime& now) const;

    // The instant an appointment begins in the schedule's zone, by the rule of data/WallClock.h
    // that exports and imports follow too: a clock time that the change to daylight saving time
    // skips is taken as that much later (2:30 as 3:30), one that the change back brings twice as
    // its first coming.
    QDateTime startOf(const QDate& date, const QTime& time) const;
    // When a's alert is due, and from when it counts as missed.
    QDateTime alertAt(const ApptAlert& a) const;
    QDateTime missedFrom(const ApptAlert& a) const;

    static constexpr int kSnoozeMinutes = 5;

private:
    using Key = QPair<int, qint64>; // autoid, start in ms since the epoch
    struct State {
        bool alerted = false;
        QDateTime snoozedUntil;
    };
    Key keyOf(const ApptAlert& a) const { return {a.id, startOf(a.date, a.time).toMSecsSinceEpoch()}; }

    QTimeZone zone_;
    mutable QHash<QDate, std::optional<int>> dayOffsets_; // the day's offset, none when it changes
    int minutes_ = 15;
    std::vector<ApptAlert> appts_;
    QHash<Key, State> state_;
    QSet<Key> known_; // the appointments in view at the previous look
    QSet<QString> dismissed_;
    QDateTime lastLook_;
};

// The appointments of today and tomorrow from the contacts database, in date and time order: each
// day of a series that falls on them (its rule walked no further than tomorrow), none cancelled.
std::vector<ApptAlert> ApptsToAlert(const QDate& today);

// "9:30 AM - Quarterly review - Main office - Ann Lee", the date in front when the appointment is
// not on day, " (missed)" behind when it was missed.
QString AlertLine(const ApptAlert& a, const QDate& day);

} // namespace kestrel
