#pragma once
// The daily tidying while the main window is open: past appointments of contacts become their
// history, and old appointments the history holds are purged, at start and again after every
// midnight, never while a list is refilled. And at start in office mode, a computer
// whose clock is far from the server's is told so.
#include <QDateTime>
#include <QObject>
#include <QString>

#include <memory>

namespace kestrel {

class WakeUp;

class DailyHousekeeping : public QObject {
    Q_OBJECT
public:
    explicit DailyHousekeeping(QObject* parent = nullptr);
    ~DailyHousekeeping() override;

    // Runs the purge, and arms the next run for after midnight.
    void start();
    // The purge of appointments more than two years old (on the office server: by the server's
    // date, once a day for the whole office). A failure is told as any action's.
    void purge();

private:
    void armNext();
    std::unique_ptr<WakeUp> wake_;
};

// Office mode, once at start: the words to say when this computer's clock is more than an hour
// away from the server's; empty when it is not, or in doubt.
QString officeClockNotice();

// The words for a clock serverAhead seconds behind the server's (negative: ahead of it); empty
// within an hour.
QString clockWarning(const QDateTime& localNow, qint64 serverAhead);

} // namespace kestrel
