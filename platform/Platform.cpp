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
void Platform::setTrayStatus(const QString&) {}

namespace {
#ifdef __linux__
// An absolute timer on the wall clock. An ordinary timer counts running time only: after a sleep
// of the computer it would fire as late as the sleep was long, and it never notices the clock
// being set. This one fires on waking when its time passed meanwhile, and when the clock is set
// the kernel ends the wait (ECANCELED), so the owner can look again.
class KernelWakeUp final : public WakeUp {
public:
    explicit KernelWakeUp(std::function<void()> fire) : fire_(std::move(fire))
    {
        fd_ = timerfd_create(CLOCK_REALTIME, TFD_NONBLOCK | TFD_CLOEXEC);
        if (fd_ < 0)
            return;
        notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(), [this] { expired(); });
    }
    ~KernelWakeUp() override
    {
        notifier_.reset();
        if (fd_ >= 0)
            ::close(fd_);
    }
    void arm(const QDateTime& at) override
    {
        if (fd_ < 0)
            return fallback(at);
        // The earliest instant the kernel accepts stands for "now" when the time is already past.
        const qint64 ms = std::max<qint64>(at.toMSecsSinceEpoch(), 1);
        itimerspec spec{};
        spec.it_value.tv_sec = time_t(ms / 1000);
        spec.it_value.tv_nsec = long(ms % 1000) * 1000000L;
        timerfd_settime(fd_, TFD_TIMER_ABSTIME | TFD_TIMER_CANCEL_ON_SET, &spec, nullptr);
    }
    void cancel() override
    {
        if (fd_ < 0)
            return timer_.stop();
        itimerspec none{};
        timerfd_settime(fd_, 0, &none, nullptr);
    }

private:
    void expired()
    {
        quint64 count = 0;
        // ECANCELED (the clock was set) is a reason to look again, like the time itself.
        const ssize_t n = ::read(fd_, &count, sizeof count);
        if (n < 0 && errno == EAGAIN)
            return;
        cancel();
        fire_();
    }
    void fallback(const QDateTime& at)
    {
        timer_.setSingleShot(true);
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.callOnTimeout([this] { fire_(); });
        const qint64 ms = QDateTime::currentDateTime().msecsTo(at);
        timer_.start(int(std::clamp<qint64>(ms, 0, 3600 * 1000)));
    }
    std::function<void()> fire_;
    int fd_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
    QTimer timer_;
};
using SystemWakeUp = KernelWakeUp;
#else
// Elsewhere a timer on running time, woken at least hourly so a sleep costs an hour at most.
class TimerWakeUp final : public WakeUp {
public:
    explicit TimerWakeUp(std::function<void()> fire) : fire_(std::move(fire))
    {
        timer_.setSingleShot(true);
        timer_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer_, &QTimer::timeout, [this] { fire_(); });
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
using SystemWakeUp = TimerWakeUp;
#endif
} // namespace

std::unique_ptr<WakeUp> systemWakeUp(std::function<void()> fire)
{
    return std::make_unique<SystemWakeUp>(std::move(fire));
}

QString mailtoLink(const QString& address, const QString& query)
{
    // Letters, digits, "-", ".", "_", "~" stay; "@" and "+" are kept for the address to read well.
    QString link = QStringLiteral("mailto:") + QString::fromLatin1(QUrl::toPercentEncoding(address, "@+"));
    if (!query.isEmpty())
        link += u'?' + query;
    return link;
}

} // namespace kestrel
