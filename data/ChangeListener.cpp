#include "data/ChangeListener.h"

#include "data/Office.h"
#include "data/PgEngine.h"

#include <QSocketNotifier>
#include <QTimer>

#include <libpq-fe.h>

#include <utility>
#include <vector>

namespace kestrel {

ChangeListener::ChangeListener(const QString& conninfo, QObject* parent) : QObject(parent), conninfo_(conninfo)
{
    retry_ = new QTimer(this);
    retry_->setSingleShot(true);
    retry_->setInterval(5000);
    connect(retry_, &QTimer::timeout, this, &ChangeListener::connectNow);
    quiet_ = new QTimer(this);
    quiet_->setSingleShot(true);
    quiet_->setInterval(250);
    connect(quiet_, &QTimer::timeout, this, &ChangeListener::flush);
    QTimer::singleShot(0, this, &ChangeListener::connectNow);
}

ChangeListener::~ChangeListener()
{
    notifier_.reset();
    if (conn_)
        PQfinish(conn_);
}

int ChangeListener::socket() const { return conn_ ? PQsocket(conn_) : -1; }

void ChangeListener::setRetryInterval(int ms) { retry_->setInterval(ms); }
void ChangeListener::setQuietInterval(int ms) { quiet_->setInterval(ms); }

void ChangeListener::connectNow()
{
    if (state_ != State::Idle)
        return;
    const QByteArray info = conninfo_.toUtf8();
    // The pooled connections' limits: a link dropped without a word (a switch, a sleeping router)
    // is noticed by the keepalives, the listener connects anew and the lists refill.
    std::vector<const char*> keys(std::begin(pg::kConnectKeys), std::end(pg::kConnectKeys));
    std::vector<const char*> values(std::begin(pg::kConnectValues), std::end(pg::kConnectValues));
    keys.insert(keys.end(), {"fallback_application_name", "dbname", nullptr});
    values.insert(values.end(), {"Kestrel", info.constData(), nullptr});
    conn_ = PQconnectStartParams(keys.data(), values.data(), 1);
    if (!conn_ || PQstatus(conn_) == CONNECTION_BAD) {
        drop();
        return;
    }
    // The server's notices (its words as it shuts down) are no business of a listener.
    PQsetNoticeProcessor(conn_, [](void*, const char*) {}, nullptr);
    state_ = State::Connecting;
    // libpq asks to be polled first once the socket can be written.
    watch(true);
}

void ChangeListener::retireNotifier()
{
    // Called from the notifier's own signal: it goes once that signal has returned.
    if (notifier_) {
        notifier_->setEnabled(false);
        notifier_.release()->deleteLater();
    }
}

void ChangeListener::watch(bool forWriting)
{
    retireNotifier();
    const int socket = PQsocket(conn_);
    if (socket < 0) {
        drop();
        return;
    }
    notifier_ = std::make_unique<QSocketNotifier>(socket, forWriting ? QSocketNotifier::Write : QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &ChangeListener::advance);
}

void ChangeListener::advance()
{
    if (state_ == State::Connecting) {
        switch (PQconnectPoll(conn_)) {
        case PGRES_POLLING_READING:
            watch(false);
            return;
        case PGRES_POLLING_WRITING:
            watch(true);
            return;
        case PGRES_POLLING_OK:
            break;
        default:
            drop();
            return;
        }
        // The channel's name is the program's own: no quoting needed.
        if (PQsetnonblocking(conn_, 1) != 0 ||
            !PQsendQuery(conn_, QByteArrayLiteral("LISTEN ").append(kChangeChannel).constData())) {
            drop();
            return;
        }
        state_ = State::Subscribing;
        // A few bytes on a socket that has just connected: they leave at once.
        PQflush(conn_);
        watch(false);
        return;
    }
    readAnnouncements();
}

void ChangeListener::readAnnouncements()
{
    if (!PQconsumeInput(conn_)) {
        drop();
        return;
    }
    while (!PQisBusy(conn_)) {
        PGresult* r = PQgetResult(conn_);
        if (!r)
            break;
        const bool ok = PQresultStatus(r) == PGRES_COMMAND_OK;
        PQclear(r);
        if (!ok) {
            drop();
            return;
        }
        if (state_ == State::Subscribing) {
            state_ = State::Listening;
            // What changed while no connection stood was not announced to this copy.
            if (everListened_) {
                pendingContacts_ = pendingAppointments_ = pendingTodo_ = pendingHistory_ = true;
                quiet_->start();
            }
            everListened_ = true;
            Q_EMIT listeningChanged(true);
        }
    }
    while (PGnotify* n = PQnotifies(conn_)) {
        const QByteArray table(n->extra);
        pendingContacts_ |= table == "contacts";
        pendingAppointments_ |= table == "appointments";
        pendingTodo_ |= table == "todo";
        pendingHistory_ |= table == "history";
        PQfreemem(n);
        if (!quiet_->isActive())
            quiet_->start();
    }
    if (PQstatus(conn_) == CONNECTION_BAD)
        drop();
}

void ChangeListener::flush()
{
    // Each flag is cleared before its signal, so a refill that lets events run may be asked again.
    if (std::exchange(pendingContacts_, false))
        Q_EMIT contactsChanged();
    if (std::exchange(pendingAppointments_, false))
        Q_EMIT appointmentsChanged();
    if (std::exchange(pendingTodo_, false))
        Q_EMIT todoChanged();
    if (std::exchange(pendingHistory_, false))
        Q_EMIT historyChanged();
}

void ChangeListener::drop()
{
    retireNotifier();
    if (conn_)
        PQfinish(conn_);
    conn_ = nullptr;
    const bool was = state_ == State::Listening;
    state_ = State::Idle;
    retry_->start();
    if (was)
        Q_EMIT listeningChanged(false);
}

} // namespace kestrel
