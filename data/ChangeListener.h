#pragma once
// Hears the office server announce changes to contacts, appointments, history and to-do lists, so that
// each running copy can refill what it shows when another user changes it. It holds a libpq
// connection of its own that only listens; nothing it does ever waits on the server: it connects
// step by step as the socket allows, and after a lost connection tries again now and then
// without a word (the next refill by hand still shows everything).
#include <QObject>
#include <QString>

#include <memory>

class QSocketNotifier;
class QTimer;
struct pg_conn;

namespace kestrel {

class ChangeListener : public QObject {
    Q_OBJECT
public:
    // conninfo: a libpq connection string. Starts connecting from the event loop.
    explicit ChangeListener(const QString& conninfo, QObject* parent = nullptr);
    ~ChangeListener() override;

    // True while the server has confirmed LISTEN and the connection stands.
    bool listening() const { return state_ == State::Listening; }
    // The socket of the connection while there is one, else -1.
    int socket() const;
    // How long to wait before connecting again after a failure (default five seconds), and how
    // long a burst of announcements is gathered into one signal per table (default 250 ms).
    void setRetryInterval(int ms);
    void setQuietInterval(int ms);

Q_SIGNALS:
    void contactsChanged();
    void appointmentsChanged();
    void todoChanged();
    void historyChanged();
    // Listening began (also again after a lost connection) or ended.
    void listeningChanged(bool on);

private:
    enum class State { Idle, Connecting, Subscribing, Listening };
    void connectNow();
    void advance();
    void readAnnouncements();
    void watch(bool forWriting);
    void retireNotifier();
    void drop();
    void flush();

    QString conninfo_;
    pg_conn* conn_ = nullptr;
    State state_ = State::Idle;
    std::unique_ptr<QSocketNotifier> notifier_;
    QTimer* retry_ = nullptr;
    QTimer* quiet_ = nullptr;
    bool pendingContacts_ = false, pendingAppointments_ = false, pendingTodo_ = false, pendingHistory_ = false;
    bool everListened_ = false;
};

} // namespace kestrel
