#pragma once
// Alerts before appointments while the program runs: the "Reminder" window listing what is due,
// and the one wake-up that looks again when the next alert, snooze or midnight comes.
#include "calendar/AlertSchedule.h"

#include <QDialog>

#include <functional>
#include <memory>

class QListWidget;
class QPushButton;

namespace kestrel {

class WakeUp;
class SettingsWatch;

// The choices of File > Options, in minutes before an appointment; 0 is off.
inline constexpr int kAlertChoices[] = {0, 5, 10, 15, 30, 60};
inline constexpr int kDefaultAlertMinutes = 15;
// The stored choice ("AlertMinutes" in section "App"); the default when absent or not a choice.
int AlertMinutes();
void SaveAlertMinutes(int minutes);

// Looks again at the appointments after one was saved, moved or deleted, or the setting changed.
void RearmAlerts();

// The alerts dismissed for today and later days (keys as AlertSchedule::alertKey gives them),
// kept in the user's settings ("DismissedAlerts" in section "App") so that a restart and a second
// running copy leave them dismissed. Saving adds keys and forgets those of days gone by.
QSet<QString> DismissedAlerts(const QDate& today);
void SaveDismissedAlerts(const QStringList& keys, const QDate& today);

// Not modal, and it comes up without taking the keyboard from whatever window the user is typing
// in: it accepts the focus only once it is clicked.
class frmReminder : public QDialog {
    Q_OBJECT
public:
    explicit frmReminder(QWidget* parent = nullptr);

    // Adds (or updates) the lines of appts and shows the window without activating it.
    void addDue(const std::vector<ApptAlert>& appts, const QDate& today);
    // The autoid of the line chosen, 0 when none is.
    int selectedID() const;

    void cmdOpen_Click();
    void cmdSnooze_Click();
    void cmdDismiss_Click();

    QListWidget* lstDue = nullptr;
    QPushButton* cmdOpen = nullptr;
    QPushButton* cmdSnooze = nullptr;
    QPushButton* cmdDismiss = nullptr;

    // Called with the autoid for Snooze.
    std::function<void(const QString&)> onSnooze; // the alert's key
    // Called with the alerts (AlertSchedule::alertKey) that Dismiss, Esc, the close box or Open
    // took off the list.
    std::function<void(const QStringList&)> onDismiss;
    // Takes off the lines of alerts dismissed elsewhere.
    void dropDismissed(const QSet<QString>& keys);

    void reject() override; // Esc: Dismiss

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Takes the chosen line off the list; its key, or empty when no line was chosen.
    QString removeSelected();
    void dismissed(const QStringList& keys);
};

class ReminderAlerts : public QObject {
    Q_OBJECT
public:
    // The running alerts; RearmAlerts reaches this one. The zone is the local one but for tests.
    explicit ReminderAlerts(const QTimeZone& zone = QTimeZone::systemTimeZone(), QObject* parent = nullptr);
    ~ReminderAlerts() override;

    // Reads the setting and the appointments, gives what is due and arms the wake-up.
    void Rearm();

    AlertSchedule schedule;
    frmReminder* window() const { return window_.get(); }

private:
    std::unique_ptr<WakeUp> wake_;
    std::unique_ptr<SettingsWatch> settingsWatch_;
    std::unique_ptr<frmReminder> window_;
    bool readFailed_ = false;
};

} // namespace kestrel
