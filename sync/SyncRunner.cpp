#include "sync/SyncRunner.h"

#include "data/Database.h"
#include "sync/DavClient.h"
#include "sync/Discovery.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QHostInfo>
#include <QUuid>

#include <exception>

namespace kestrel::sync {

Job jobFor(const Settings& s, const QString& password, const QString& connectionText)
{
    Job job;
    job.connectionText = connectionText;
    job.server = QUrl::fromUserInput(s.server);
    job.user = s.user;
    job.password = password;
    job.addressBook = QUrl(s.addressBook);
    job.calendar = QUrl(s.calendar);
    job.vcard3 = s.vcard3;
    job.chooseFirst = s.fromEnvironment;
    return job;
}

namespace {

// The database as the sync sees it: each call runs in owner's thread and waits there.
class DatabaseStore final : public Store {
public:
    DatabaseStore(QString connectionText, QObject* owner) : conn_(std::move(connectionText)), owner_(owner)
    {
        holder_ = QStringLiteral("%1:%2:%3")
                      .arg(QHostInfo::localHostName())
                      .arg(QCoreApplication::applicationPid())
                      .arg(QUuid::createUuid().toString(QUuid::Id128).left(8));
    }

    std::vector<SyncRow> rows(SyncKind kind) override
    {
        std::vector<SyncRow> out;
        onOwner([&] { out = loadSyncRows(conn_, kind); });
        return out;
    }
    SyncState state(const QString& collection) override
    {
        SyncState out;
        onOwner([&] { out = loadSyncState(conn_, collection); });
        return out;
    }
    bool lease(const QString& collection, SyncKind kind, bool take) override
    {
        bool out = true;
        onOwner([&] {
            const qint64 now = QDateTime::currentSecsSinceEpoch();
            if (take)
                out = takeSyncLease(conn_, collection, kind, holder_, now, now + 30 * 60);
            else
                releaseSyncLease(conn_, collection, holder_);
        });
        return out;
    }
    void apply(const QString& collection, SyncKind kind, std::vector<SyncChange>& changes) override
    {
        onOwner([&] { applySyncChanges(conn_, collection, kind, changes); });
    }
    void saveToken(const QString& collection, const QString& token, const QString& ctag) override
    {
        onOwner([&] { saveSyncToken(conn_, collection, token, ctag); });
    }

private:
    template <class F> void onOwner(F f)
    {
        if (!owner_ || QThread::currentThread() == owner_->thread()) {
            f();
            return;
        }
        std::exception_ptr failure;
        QMetaObject::invokeMethod(
            owner_,
            [&] {
                try {
                    f();
                } catch (...) {
                    failure = std::current_exception();
                }
            },
            Qt::BlockingQueuedConnection);
        if (failure)
            std::rethrow_exception(failure);
    }

    QString conn_;
    QObject* owner_;
    QString holder_;
};

} // namespace

void Control::cancel()
{
    std::lock_guard lock(m_);
    cancelled_ = true;
    if (client_)
        client_->cancel();
}

bool Control::cancelled() const
{
    std::lock_guard lock(m_);
    return cancelled_;
}

void Control::attach(dav::Client* client)
{
    std::lock_guard lock(m_);
    client_ = client;
    if (client_ && cancelled_)
        client_->cancel();
}

namespace {
struct Attached {
    Control* control;
    Attached(Control* c, dav::Client* client) : control(c)
    {
        if (control)
            control->attach(client);
    }
    ~Attached()
    {
        if (control)
            control->attach(nullptr);
    }
};
} // namespace

Report runJob(const Job& job, QObject* owner, const ProgressFn& progress, Control* control)
{
    dav::Client client(job.user, job.password, job.server);
    const Attached attached(control, &client);
    DatabaseStore store(job.connectionText, owner);
    Report total;
    std::vector<Collection> collections;
    if (!job.addressBook.isEmpty())
        collections.push_back({job.addressBook, SyncKind::Contacts, job.vcard3});
    if (!job.calendar.isEmpty())
        collections.push_back({job.calendar, SyncKind::Appointments, false});
    if (job.chooseFirst && collections.empty()) {
        const Discovery d = discover(client, job.server);
        if (d.outcome != Outcome::Synced) {
            total.outcome = d.outcome;
            total.detail = d.detail;
            total.requests = client.requests();
            return total;
        }
        auto pick = [&](const std::vector<Found>& found, const QUrl& home, SyncKind kind) {
            if (!found.empty()) {
                collections.push_back({found.front().url, kind, found.front().vcard3});
                return;
            }
            if (home.isEmpty())
                return;
            const Made m = makeCollection(client, home, kind, QStringLiteral("Kestrel"));
            if (m.outcome == Outcome::Synced)
                collections.push_back({m.found.url, kind, false});
            else
                total.notes << QStringLiteral("No %1 could be made on the server (%2).")
                                   .arg(kind == SyncKind::Contacts ? QStringLiteral("address book") : QStringLiteral("calendar"),
                                        m.detail);
        };
        pick(d.addressBooks, d.addressBookHome, SyncKind::Contacts);
        pick(d.calendars, d.calendarHome, SyncKind::Appointments);
    }
    Options opt;
    opt.zone = job.zone;
    opt.decisions = job.decisions;
    // One bar for the whole sync: each collection's share follows the one before it.
    int before = 0;
    int last = 0;
    opt.progress = [&](int done, int total) {
        last = total;
        if (progress)
            progress(before + done, before + total);
    };
    for (const Collection& c : collections) {
        last = 0;
        const Report r = syncCollection(client, store, c, opt);
        before += last;
        total.add(r);
        if (r.outcome != Outcome::Synced)
            break;
    }
    total.requests = client.requests();
    if (total.outcome == Outcome::Synced && client.cancelled())
        total.outcome = Outcome::Stopped;
    return total;
}

SyncRunner::SyncRunner(QObject* parent) : QObject(parent) {}

SyncRunner::~SyncRunner()
{
    cancel();
    waitForEnd();
}

bool SyncRunner::start(const Job& job)
{
    if (thread_)
        return false;
    control_ = std::make_shared<Control>();
    report_ = std::make_shared<Report>();
    auto control = control_;
    auto report = report_;
    thread_.reset(QThread::create([this, job, control, report] {
        *report = runJob(
            job, this,
            [this](int done, int total) {
                QMetaObject::invokeMethod(this, [this, done, total] { Q_EMIT progress(done, total); }, Qt::QueuedConnection);
            },
            control.get());
    }));
    connect(thread_.get(), &QThread::finished, this, &SyncRunner::ended, Qt::QueuedConnection);
    thread_->start();
    return true;
}

void SyncRunner::cancel()
{
    if (control_)
        control_->cancel();
}

void SyncRunner::waitForEnd()
{
    while (thread_ && !thread_->wait(20))
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    if (thread_)
        ended();
}

void SyncRunner::ended()
{
    if (!thread_)
        return;
    thread_->wait();
    thread_.reset();
    const Report r = *report_;
    Q_EMIT finished(r);
}

Report SyncRunner::runToEnd(const Job& job, const ProgressFn& progress)
{
    SyncRunner runner;
    Report out;
    QObject::connect(&runner, &SyncRunner::finished, [&out](const Report& r) { out = r; });
    if (progress)
        QObject::connect(&runner, &SyncRunner::progress, progress);
    runner.start(job);
    runner.waitForEnd();
    return out;
}

} // namespace kestrel::sync
