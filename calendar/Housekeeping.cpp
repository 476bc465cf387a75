#include "calendar/Housekeeping.h"

#include "calendar/frmReminder.h"
#include "data/Database.h"
#include "data/Globals.h"
#include "data/History.h"
#include "data/HistoryRecord.h"
#include "formats/ApptSeries.h"
#include "data/Housekeeping.h"
#include "data/Office.h"
#include "data/modData.h"
#include "platform/Platform.h"
#include "ui/Report.h"

#include <cstdlib>

namespace kestrel {

namespace {
constexpr qint64 kClockTolerance = 3600;

QString shown(const QDateTime& t) { return DateText(t.date()) + u' ' + TimeText(t.time()); }
} // namespace

QString clockWarning(const QDateTime& localNow, qint64 serverAhead)
{
    if (std::llabs(serverAhead) <= kClockTolerance)
        return {};
    return QStringLiteral("The clock of this computer says %1, but the office database's server says %2.\n\nKestrel "
                          "keeps the office's appointments by the server's date, so nothing is lost, but the "
                          "calendar, the reminders and the alerts on this computer follow its own clock. Please have "
                          "this computer's date and time set right.")
        .arg(shown(localNow), shown(localNow.addSecs(serverAhead)));
}

DailyHousekeeping::DailyHousekeeping(QObject* parent) : QObject(parent) {}

DailyHousekeeping::~DailyHousekeeping() = default;

void DailyHousekeeping::start() { purge(); }

QString officeClockNotice()
{
    if (!isServerConnection(sConnContacts))
        return {};
    try {
        const QDateTime now = platform().now();
        return clockWarning(now, serverClockAhead(sConnContacts, now));
    } catch (const std::exception&) {
        // A server that cannot be asked now is told of by the lists that read from it.
        return {};
    }
}

void DailyHousekeeping::purge()
{
    // Data that cannot be changed was announced once at start-up; housekeeping then waits.
    if (DataWritable(sConnContacts)) {
        try {
            // What the user wrote in a past appointment goes into its contact's history first; the
            // purge takes only what the history holds. Each past day of a series is a meeting of
            // its own, as a row of its own.
            keepPastDays(sConnContacts, platform().today());
            recordPastAppointments(sConnContacts, platform().today(), loginName(), platform().now());
            if (purgeOldAppointments(sConnContacts, platform().today()).deleted > 0)
                RearmAlerts();
        } catch (const DbError& e) {
            // Nobody asked for it: a condition of the machine (a damaged file, a server away) is
            // told by the lists that read the data, and the purge is tried again the next day.
            const bool onServer = isServerConnection(sConnContacts);
            if (MachineFaultText(e, onServer ? sConnContacts : dataSourcePath(sConnContacts)).isEmpty())
                ReportFailure(e, QStringLiteral("PurgeAppointments"), Owner::Form, QStringLiteral("frmKestrel"),
                              ReportAs::Bug);
        }
    }
    armNext();
}

void DailyHousekeeping::armNext()
{
    if (!wake_)
        wake_ = platform().newWakeUp([this] { purge(); });
    // A little after midnight, when the new day is the server's too (one in another time zone
    // finds the day done, or does it at its own midnight).
    wake_->arm(QDateTime(platform().today().addDays(1), QTime(0, 5)));
}

} // namespace kestrel
