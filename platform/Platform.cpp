#include "platform/Platform.h"

#include <QSocketNotifier>
#include <QTimer>
#include <QUrl>

#include <algorithm>

#ifdef __linux__
#include <cerrno>
#include <sys/timerfd.h>
#include <unistd.h>
#endif

namespace kestrel {
namespace {
Platform* gInstalled = nullptr;
Platform* (*gFactory)() = nullptr;
} // namespace

// The Qt implementation lives in a widget library; it registers itself through this hook so that
// the core library stays free of widgets.
void registerDefaultPlatform(Platform* (*factory)()) { gFactory = factory; }

Platform& platform()
{
    if (!gInstalled) {
        if (!gFactory)
            qFatal("No desktop platform installed");
        gInstalled = gFactory();
    }
    return *gInstalled;
}

void setPlatform(Platform* p) { gInstalled = p; }

std::unique_ptr<WakeUp> Platform::newWakeUp(std::function<void()> fire) { return systemWakeUp(std::move(fire)); }
bool Platform::notify(const QString&, const QString&) { return false; }
std::unique_ptr<SettingsWatch> Platform::watchSettings(const QString&, std::function<void()>) { return nullptr; }
void Platform::setTrayStatus(const QString&) {}

namespace {
// A timer on running time, for a system without a wall-clock timer. It wakes at least hourly, so
// that after a sleep of the computer, which such a timer does not count, a due alert comes within
// the hour.
class TimerWakeUp final : public WakeUp {
public:
    explicit TimerWakeUp(std::function<void()> fire) : fire_(std::move(fire))
    {
        timer_.setSingleShot(true);
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.callOnTimeout([this] { fire_(); });
    }
    void arm(const QDateTime& at) override
    {
        timer_.start(int(std::clamp<qint64>(QDateTime::currentDateTime().msecsTo(at), 0, 3600 * 1000)));
    }
    void cancel() override { timer_.stop(); }

private:
    std::function<void()> fire_;
    QTimer timer_;
};

#ifdef __linux__
// An absolute timer on the wall clock. The kernel fires it on waking when its time passed while
// the computer slept, and ends the wait (ECANCELED) when the clock is set, so the owner can look
// again; in between the program sleeps.
class KernelWakeUp final : public WakeUp {
public:
    KernelWakeUp(int fd, std::function<void()> fire) : fire_(std::move(fire)), fd_(fd), notifier_(fd, QSocketNotifier::Read)
    {
        QObject::connect(&notifier_, &QSocketNotifier::activated, &notifier_, [this] { expired(); });
    }
    ~KernelWakeUp() override
    {
        notifier_.setEnabled(false);
        ::close(fd_);
    }
    void arm(const QDateTime& at) override
    {
        // The earliest instant the kernel accepts stands for "now" when the time is already past.
        const qint64 ms = std::max<qint64>(at.toMSecsSinceEpoch(), 1);
        itimerspec when{};
        when.it_value.tv_sec = time_t(ms / 1000);
        when.it_value.tv_nsec = long(ms % 1000) * 1000000L;
        timerfd_settime(fd_, TFD_TIMER_ABSTIME | TFD_TIMER_CANCEL_ON_SET, &when, nullptr);
    }
    void cancel() override
    {
        itimerspec none{};
        timerfd_settime(fd_, 0, &none, nullptr);
    }

private:
    void expired()
    {
        quint64 count = 0;
        // ECANCELED (the clock was set) is a reason to look again, like the time itself.
        if (::read(fd_, &count, sizeof count) < 0 && errno == EAGAIN)
            return;
        cancel();
        fire_();
    }
    std::function<void()> fire_;
    int fd_;
    QSocketNotifier notifier_;
};
#endif
} // namespace

std::unique_ptr<WakeUp> systemWakeUp(std::function<void()> fire)
{
#ifdef __linux__
    const int fd = timerfd_create(CLOCK_REALTIME, TFD_NONBLOCK | TFD_CLOEXEC);
    if (fd >= 0)
        return std::make_unique<KernelWakeUp>(fd, std::move(fire));
#endif
    return std::make_unique<TimerWakeUp>(std::move(fire));
}

QString mailtoLink(const QString& address, const QString& query)
{
    // Letters, digits, "-", ".", "_", "~" stay; "@" and "+" are kept for the address to read well.
    QString link = QStringLiteral("mailto:") + QString::fromLatin1(QUrl::toPercentEncoding(address, "@+"));
    if (!query.isEmpty())
        link += u'?' + query;
    return link;
}

QString NoMailProgramText(const QString& address)
{
    return QStringLiteral("No e-mail program is set up on this computer, so Kestrel cannot start a message to %1.\n\n"
                          "Set one up as the desktop's program for e-mail, or write to the address from the mail "
                          "program or web mail you use.")
        .arg(address);
}

} // namespace kestrel
