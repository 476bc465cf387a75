#include "calendar/frmReminder.h"

#include "ui/Accessible.h"
#include "ui/Ui.h"
#include "calendar/CalPanel.h"
#include "calendar/RemindPanel.h"
#include "calendar/frmAppt.h"
#include "data/modData.h"
#include "platform/Platform.h"
#include "ui/Desktop.h"
#include "ui/Report.h"

#include <QApplication>
#include <QCloseEvent>
#include <QListWidget>
#include <QPushButton>
#include <QWindow>

#include <algorithm>

namespace kestrel {

namespace {
ReminderAlerts* gAlerts = nullptr;
const QString kApp = QStringLiteral("Kestrel");
const QString kSection = QStringLiteral("App");
const QString kKey = QStringLiteral("AlertMinutes");
const QString kDismissedKey = QStringLiteral("DismissedAlerts");
constexpr int kKeyRole = Qt::UserRole + 1;

QDate dayOfKey(const QString& key) { return QDate::fromString(key.section(u'@', 1).left(10), Qt::ISODate); }
} // namespace

QSet<QString> DismissedAlerts(const QDate& today)
{
    QSet<QString> keys;
    for (const QString& key : platform().getSetting(kApp, kSection, kDismissedKey).split(u' ', Qt::SkipEmptyParts))
        if (dayOfKey(key) >= today)
            keys.insert(key);
    return keys;
}

void SaveDismissedAlerts(const QStringList& keys, const QDate& today)
{
    QSet<QString> all = DismissedAlerts(today);
    for (const QString& key : keys)
        if (!key.isEmpty())
            all.insert(key);
    QStringList sorted(all.begin(), all.end());
    sorted.sort();
    platform().saveSetting(kApp, kSection, kDismissedKey, sorted.join(u' '));
}

int AlertMinutes()
{
    bool ok = false;
    const int m = platform().getSetting(kApp, kSection, kKey).toInt(&ok);
    return ok && std::find(std::begin(kAlertChoices), std::end(kAlertChoices), m) != std::end(kAlertChoices)
               ? m
               : kDefaultAlertMinutes;
}

void SaveAlertMinutes(int minutes) { platform().saveSetting(kApp, kSection, kKey, QString::number(minutes)); }

void RearmAlerts()
{
    if (gAlerts)
        gAlerts->Rearm();
}

frmReminder::frmReminder(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("frmReminder"));
    setupDialog(this, QStringLiteral("Reminder"), 6015, 2295, true);
    setFont(designFont(QStringLiteral("Verdana"), 8.25));
    setModal(false);
    // Over whatever the user works in, so it cannot be missed, yet without the keyboard.
    setWindowFlag(Qt::WindowStaysOnTopHint);
    setAttribute(Qt::WA_ShowWithoutActivating);
    // Told to assistive software as an alert, which it reads without the window taking the keys.
    setAccessibleRole(this, QAccessible::AlertMessage);
    const Controls c = buildControls(this, {
        {"lstDue", ControlKind::ListBox, "", 120, 120, 5775, 1575, 1, 0, "Due appointments"},
        {"cmdOpen", ControlKind::Button, "Open", 120, 1800, 1455, 375, 2},
        {"cmdSnooze", ControlKind::Button, "Snooze 5 minutes", 1740, 1800, 2535, 375, 3},
        {"cmdDismiss", ControlKind::Button, "Dismiss", 4440, 1800, 1455, 375, 4},
    });
    lstDue = c.get<QListWidget>(QStringLiteral("lstDue"));
    cmdOpen = c.get<QPushButton>(QStringLiteral("cmdOpen"));
    cmdSnooze = c.get<QPushButton>(QStringLiteral("cmdSnooze"));
    cmdDismiss = c.get<QPushButton>(QStringLiteral("cmdDismiss"));
    cmdOpen->setDefault(true);
    connect(cmdOpen, &QPushButton::clicked, this, &frmReminder::cmdOpen_Click);
    connect(cmdSnooze, &QPushButton::clicked, this, &frmReminder::cmdSnooze_Click);
    connect(cmdDismiss, &QPushButton::clicked, this, &frmReminder::cmdDismiss_Click);
}

void frmReminder::addDue(const std::vector<ApptAlert>& appts, const QDate& today)
{
    for (const ApptAlert& a : appts) {
        QListWidgetItem* item = nullptr;
        // The same appointment on the same day (moved within it) keeps its line; two days of one
        // series are two lines.
        const QString day = AlertSchedule::alertKey(a).section(u'T', 0, 0);
        for (int i = 0; i < lstDue->count() && !item; ++i)
            if (lstDue->item(i)->data(kKeyRole).toString().section(u'T', 0, 0) == day)
                item = lstDue->item(i);
        if (!item) {
            item = new QListWidgetItem(lstDue);
            item->setData(Qt::UserRole, a.id);
        }
        item->setText(AlertLine(a, today));
        item->setData(kKeyRole, AlertSchedule::alertKey(a));
    }
    if (!lstDue->currentItem() && lstDue->count())
        lstDue->setCurrentRow(0);
    if (!isVisible()) {
        setWindowFlag(Qt::WindowDoesNotAcceptFocus, true);
        show();
    }
    // Every other window is modal: one open now would leave the reminder unusable until it closes,
    // unless the reminder counts as belonging to it.
    QWidget* modal = QApplication::activeModalWidget();
    if (windowHandle())
        windowHandle()->setTransientParent(modal && modal != this ? modal->windowHandle() : nullptr);
    raise();
    QAccessibleEvent alert(this, QAccessible::Alert);
    QAccessible::updateAccessibility(&alert);
    QStringList said;
    for (const ApptAlert& a : appts)
        said << AlertLine(a, today);
    announce(this, windowTitle() + QStringLiteral(": ") + said.join(QStringLiteral("; ")));
}

void frmReminder::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (QWindow* w = windowHandle())
        w->installEventFilter(this);
}

bool frmReminder::eventFilter(QObject* watched, QEvent* event)
{
    // A click says the user turned to this window: from now on it takes the keys too.
    if (watched == windowHandle() && event->type() == QEvent::MouseButtonPress &&
        windowHandle()->flags().testFlag(Qt::WindowDoesNotAcceptFocus)) {
        windowHandle()->setFlag(Qt::WindowDoesNotAcceptFocus, false);
        activateWindow();
    }
    return QDialog::eventFilter(watched, event);
}

int frmReminder::selectedID() const
{
    const QListWidgetItem* item = lstDue->currentItem();
    return item ? item->data(Qt::UserRole).toInt() : 0;
}

QString frmReminder::removeSelected()
{
    QListWidgetItem* item = lstDue->currentItem();
    const QString key = item ? item->data(kKeyRole).toString() : QString();
    delete item;
    if (lstDue->count() == 0)
        hide();
    else if (!lstDue->currentItem())
        lstDue->setCurrentRow(0);
    return key;
}

void frmReminder::dismissed(const QStringList& keys)
{
    if (onDismiss && !keys.isEmpty())
        onDismiss(keys);
}

void frmReminder::dropDismissed(const QSet<QString>& keys)
{
    for (int i = lstDue->count() - 1; i >= 0; --i)
        if (keys.contains(lstDue->item(i)->data(kKeyRole).toString()))
            delete lstDue->takeItem(i);
    if (lstDue->count() == 0)
        hide();
    else if (!lstDue->currentItem())
        lstDue->setCurrentRow(0);
}

void frmReminder::cmdOpen_Click()
{
    const int id = selectedID();
    if (id == 0)
        return;
    // Off the list first: a save that moves the appointment may alert it anew while the editor runs.
    dismissed({removeSelected()});
    int result = QDialog::Rejected;
    {
        frmAppt editor(this);
        editor.bEditMode = true;
        editor.lApptID = id;
        result = desktop().runModal(editor);
    }
    // Saved or deleted: the lists that show appointments follow.
    if (result != QDialog::Accepted)
        return;
    if (RemindPanel* remind = remindPanel())
        remind->PopWeekList();
    if (CalPanel* cal = calPanel(); cal && cal->isShowing() && cal->dCalDate.isValid())
        cal->Refresh();
}

void frmReminder::cmdSnooze_Click()
{
    const int id = selectedID();
    if (id == 0)
        return;
    const QString key = removeSelected();
    if (onSnooze)
        onSnooze(key);
}

void frmReminder::cmdDismiss_Click()
{
    if (selectedID() != 0)
        dismissed({removeSelected()});
}

void frmReminder::reject() { cmdDismiss_Click(); }

void frmReminder::closeEvent(QCloseEvent* event)
{
    // The close box dismisses everything listed.
    QStringList keys;
    for (int i = 0; i < lstDue->count(); ++i)
        keys << lstDue->item(i)->data(kKeyRole).toString();
    lstDue->clear();
    hide();
    event->accept();
    dismissed(keys);
}

ReminderAlerts::ReminderAlerts(const QTimeZone& zone, QObject* parent)
    : QObject(parent), schedule(zone), window_(std::make_unique<frmReminder>())
{
    wake_ = platform().newWakeUp([this] { Rearm(); });
    window_->onSnooze = [this](const QString& key) {
        schedule.snooze(key, platform().now());
        Rearm();
    };
    window_->onDismiss = [this](const QStringList& keys) {
        SaveDismissedAlerts(keys, platform().now().toTimeZone(schedule.zone()).date());
    };
    // Another running copy's dismissals take its lines off this one's window too.
    settingsWatch_ = platform().watchSettings(kApp, [this] { Rearm(); });
    gAlerts = this;
}

ReminderAlerts::~ReminderAlerts()
{
    if (gAlerts == this)
        gAlerts = nullptr;
    platform().setTrayStatus(QString());
}

void ReminderAlerts::Rearm()
{
    const int minutes = AlertMinutes();
    schedule.setMinutes(minutes);
    const QDateTime now = platform().now();
    const QDate today = now.toTimeZone(schedule.zone()).date();
    const QSet<QString> dismissed = DismissedAlerts(today);
    schedule.setDismissed(dismissed);
    window_->dropDismissed(dismissed);
    if (minutes > 0) {
        try {
            schedule.setAppointments(ApptsToAlert(today));
            readFailed_ = false;
        } catch (const std::exception& e) {
            // Said once, not at every wake-up (nor again from a wake-up while the box is open);
            // the appointments known before stay armed.
            bool told = false;
            const QString words = MachineFaultWords(e, &told);
            if (!std::exchange(readFailed_, true) && !told)
                platform().msgBox(words.isEmpty()
                                      ? QStringLiteral("Kestrel cannot read the appointments to remind you of them (") +
                                            QString::fromUtf8(e.what()) +
                                            QStringLiteral("). Reminders go on as soon as they can be read again.")
                                      : words + QStringLiteral("\r\nReminders go on as soon as the appointments can be "
                                                              "read again."));
        }
    }
    const std::vector<ApptAlert> due = schedule.takeDue(now);
    for (const ApptAlert& a : due)
        platform().notify(a.missed ? QStringLiteral("Missed appointment") : QStringLiteral("Appointment reminder"),
                          AlertLine(a, today));
    if (!due.empty())
        window_->addDue(due, today);
    const QDateTime next = schedule.nextWakeUp(now);
    if (next.isValid())
        wake_->arm(next);
    else
        wake_->cancel();
    platform().setTrayStatus(minutes > 0 ? QStringLiteral("Kestrel: reminders %1 minutes before each appointment").arg(minutes)
                                         : QString());
}

} // namespace kestrel
