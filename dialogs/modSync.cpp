#include "dialogs/modSync.h"

#include "data/Globals.h"
#include "platform/Platform.h"
#include "sync/SyncSettings.h"
#include "sync/SyncWords.h"

#include <QApplication>
#include <QWidget>

namespace kestrel {

namespace {
SyncControl* gControl = nullptr;
} // namespace

SyncControl* syncControl() { return gControl; }
void setSyncControl(SyncControl* control) { gControl = control; }

SyncControl::SyncControl(QObject* parent) : QObject(parent)
{
    connect(&runner_, &sync::SyncRunner::finished, this, &SyncControl::ended);
    connect(&runner_, &sync::SyncRunner::progress, this, &SyncControl::progress);
    connect(&every_, &QTimer::timeout, this, [this] { syncNow(false); });
    askLater_.setSingleShot(true);
    askLater_.setInterval(500);
    connect(&askLater_, &QTimer::timeout, this, &SyncControl::askWhenFree);
    rearm();
}

SyncControl::~SyncControl()
{
    stop();
    if (gControl == this)
        gControl = nullptr;
}

void SyncControl::stop()
{
    every_.stop();
    askLater_.stop();
    runner_.cancel();
    runner_.waitForEnd();
}

void SyncControl::rearm()
{
    const sync::Settings s = sync::loadSettings();
    every_.stop();
    if (s.active() && s.minutes > 0)
        every_.start(s.minutes * 60 * 1000);
}

std::chrono::minutes SyncControl::every() const
{
    return std::chrono::minutes(every_.isActive() ? every_.interval() / 60000 : 0);
}

void SyncControl::syncNow(bool byUser)
{
    if (runner_.running() || askLater_.isActive())
        return;
    byUser_ = byUser;
    followUps_ = 0;
    const sync::Settings s = sync::loadSettings();
    if (!s.active()) {
        if (byUser)
            platform().msgBox(QStringLiteral("No sync server is set up yet. Choose one in File > Options > Sync server."));
        return;
    }
    start({});
}

bool SyncControl::start(std::vector<sync::Decision> decisions)
{
    const sync::Settings s = sync::loadSettings();
    server_ = s.server;
    sync::Job job = sync::jobFor(s, sync::findPassword(s.server, s.user).value, sConnContacts);
    job.decisions = std::move(decisions);
    Q_EMIT status(QStringLiteral("Syncing\u2026"), QString());
    Q_EMIT progress(0, 0);
    return runner_.start(job);
}

void SyncControl::ended(const sync::Report& report)
{
    last_ = report;
    const sync::Settings s = sync::loadSettings();
    if (report.broughtIn || report.removedHere)
        Q_EMIT dataChanged();
    // A password the keyring does not hold (or no keyring at all): asked once per run.
    if (report.outcome == sync::Outcome::Refused && !qEnvironmentVariableIsSet(sync::kPasswordVariable) &&
        (!askedPassword_ || byUser_) && followUps_ < 2) {
        askedPassword_ = true;
        sync::forgetRunPassword(s.server, s.user);
        const QString password = platform().passwordBox(
            QStringLiteral("The sync server %1 wants the password of user %2:").arg(s.server, s.user));
        if (!password.isEmpty()) {
            sync::keepPassword(s.server, s.user, password, nullptr);
            ++followUps_;
            start({});
            return;
        }
    }
    const QString line = sync::statusLine(report, platform().now());
    QStringList detail = sync::changeLines(report);
    const QString why = sync::whyNot(report, s.server);
    if (!why.isEmpty())
        detail.prepend(why);
    Q_EMIT status(line, detail.join(u'\n'));
    Q_EMIT progress(-1, -1);
    if (!why.isEmpty() && byUser_)
        platform().msgBox(why);
    pending_ = report;
    if (!report.conflicts.empty() || !report.notes.isEmpty()) {
        askWhenFree();
        return;
    }
    Q_EMIT done();
}

void SyncControl::askWhenFree()
{
    // Not over another window: the questions wait until it is closed.
    if (QApplication::activeModalWidget() || QApplication::activePopupWidget()) {
        askLater_.start();
        return;
    }
    const sync::Report report = std::exchange(pending_, sync::Report{});
    if (!report.notes.isEmpty())
        platform().msgBox(QStringLiteral("The sync with %1:\n\n%2").arg(server_, report.notes.join(u'\n')));
    std::vector<sync::Decision> decisions;
    for (const sync::Conflict& c : report.conflicts)
        decisions.push_back({c.href, c.etag, c.field, platform().askYesNo(sync::conflictQuestion(c))});
    if (!decisions.empty() && followUps_ < 3) {
        ++followUps_;
        start(std::move(decisions));
        return;
    }
    Q_EMIT done();
}

} // namespace kestrel
