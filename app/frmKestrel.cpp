#include "app/frmKestrel.h"

#include "dialogs/frmTrash.h"
#include "ui/Undo.h"

#include "ui/Accessible.h"
#include "ui/Ui.h"
#include "calendar/CalPanel.h"
#include "calendar/RemindPanel.h"
#include "calendar/frmAppt.h"
#include "contacts/LeadPanel.h"
#include "contacts/frmContactGrid.h"
#include "contacts/frmDuplicates.h"
#include "contacts/frmFind.h"
#include "contacts/frmHistory.h"
#include "contacts/frmLogEntry.h"
#include "contacts/frmLead.h"
#include "contacts/modTree.h"
#include "calendar/frmReminder.h"
#include "calendar/Housekeeping.h"
#include "data/ChangeListener.h"
#include "data/Globals.h"
#include "data/modData.h"
#include "data/Office.h"
#include "dialogs/frmAbout.h"
#include "dialogs/frmHelp.h"
#include "dialogs/frmOptions.h"
#include "dialogs/modBackup.h"
#include "dialogs/modSync.h"
#include "exchange/ImportRecovery.h"
#include "exchange/frmImport.h"
#include "exchange/frmLeadCSV.h"
#include "exchange/modExchange.h"
#include "platform/Platform.h"
#include "printing/frmPrint.h"
#include "ui/Desktop.h"
#include "ui/Report.h"

#include <QAction>
#include <QApplication>
#include <QListWidget>
#include <QComboBox>
#include <QCoreApplication>
#include <QCloseEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QLinearGradient>
#include <QMenuBar>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>

namespace kestrel {

namespace {
frmKestrel* gMain = nullptr;

QPixmap sidePicture()
{
    // Only a strip of it shows beside the panels; a quiet gradient is all it needs to be.
    QPixmap pm(428, 428);
    QPainter p(&pm);
    QLinearGradient g(0, 0, 0, 428);
    g.setColorAt(0, QColor(70, 96, 140));
    g.setColorAt(1, QColor(170, 120, 70));
    p.fillRect(pm.rect(), g);
    return pm;
}
} // namespace

frmKestrel* mainWindow() { return gMain; }

frmKestrel::frmKestrel(QWidget* parent) : QMainWindow(parent)
{
    gMain = this;
    setObjectName(QStringLiteral("frmKestrel"));
    setWindowTitle(QStringLiteral("Kestrel"));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFont(designFont(QStringLiteral("Verdana"), 8.25));

    client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    client->setFixedSize(px(kClientWidth), px(kClientHeight));
    setCentralWidget(client);

    Image1 = new QLabel(client);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(0, 0, px(6420), px(6420));
    Image1->setPixmap(sidePicture());

    const Controls c = buildControls(client, {
        {"fraLead", ControlKind::Frame, "Trees", kOutOfView, 0, 10935, kLeadPanelHeight},
        {"fraRemind", ControlKind::Frame, "Appointments for the next 7 days", kPanelFront, 0, 11175, 6495},
        {"fraCal", ControlKind::Frame, "Frame1", kOutOfView, 120, 11100, 6420},
    });
    fraLead = c.get<QGroupBox>(QStringLiteral("fraLead"));
    fraRemind = c.get<QGroupBox>(QStringLiteral("fraRemind"));
    fraCal = c.get<QGroupBox>(QStringLiteral("fraCal"));
    for (QGroupBox* f : {fraLead, fraRemind, fraCal})
        f->setAutoFillBackground(true);
    // The caption "Frame1" is a designer's leftover that the month arrows would half cover.
    fraCal->setTitle(QString());
    lead = new LeadPanel(fraLead, this);
    cal = new CalPanel(fraCal, this);
    remind = new RemindPanel(fraRemind, this);
    SetPrintableList(QStringLiteral("remind"), remind->lstWeek);
    SetPrintableList(QStringLiteral("cal"), cal->lstCal);
    SetPrintableList(QStringLiteral("todo"), remind->lstToDo);
    connect(lead->cmdScheduleAppointment, &QPushButton::clicked, this, &frmKestrel::cmdScheduleAppointment_Click);
    connect(lead->cmdLog, &QPushButton::clicked, this, &frmKestrel::mnuConLog_Click);
    connect(lead->cmdHistory, &QPushButton::clicked, this, &frmKestrel::mnuConHistory_Click);
    // Queued, so the list is not refilled inside its own handling.
    connect(lead->lstHistory, &QListWidget::itemActivated, this, &frmKestrel::lstHistory_DblClick, Qt::QueuedConnection);
    showOnly(fraRemind);

    buildStatusBar();
    buildMenus();
    layout()->setSizeConstraint(QLayout::SetFixedSize);
}

frmKestrel::~frmKestrel()
{
    if (gMain == this)
        gMain = nullptr;
}

void frmKestrel::buildMenus()
{
    auto add = [this](QMenu* menu, QAction*& action, const char* name, const QString& caption,
                      const QKeySequence& key, void (frmKestrel::*handler)()) {
        action = menu->addAction(caption);
        action->setObjectName(QString::fromUtf8(name));
        if (!key.isEmpty()) {
            action->setShortcut(key);
            action->setShortcutContext(Qt::WindowShortcut);
        }
        connect(action, &QAction::triggered, this, handler);
    };
    auto sep = [](QMenu* menu, const char* name) { menu->addSeparator()->setObjectName(QString::fromUtf8(name)); };

    mnuFile = menuBar()->addMenu(QStringLiteral("&File"));
    mnuFile->setObjectName(QStringLiteral("mnuFile"));
    add(mnuFile, mnuFileOptions, "mnuFileOptions", QStringLiteral("Options"), {}, &frmKestrel::mnuFileOptions_Click);
    sep(mnuFile, "sep3");
    add(mnuFile, mnuFileBackup, "mnuFileBackup", QStringLiteral("&Backup Now"), {}, &frmKestrel::mnuFileBackup_Click);
    add(mnuFile, mnuFileRestore, "mnuFileRestore", QStringLiteral("&Restore Backup\u2026"), {},
        &frmKestrel::mnuFileRestore_Click);
    sep(mnuFile, "sepBackup");
    add(mnuFile, mnuFilePrint, "mnuFilePrint", QStringLiteral("Print"), QKeySequence(Qt::CTRL | Qt::Key_P),
        &frmKestrel::mnuFilePrint_Click);
    add(mnuFile, mnuFileToDo, "mnuFileToDo", QStringLiteral("Print ToDo"), QKeySequence(Qt::CTRL | Qt::Key_T),
        &frmKestrel::mnuFileToDo_Click);
    add(mnuFile, mnuFilePrintForm, "mnuFilePrintForm", QStringLiteral("Print Lead Forms"),
        QKeySequence(Qt::CTRL | Qt::Key_F), &frmKestrel::mnuFilePrintForm_Click);
    sep(mnuFile, "sep4");
    add(mnuFile, mnuFileExit, "mnuFileExit", QStringLiteral("Exit"), {}, &frmKestrel::mnuFileExit_Click);

    mnuEdit = menuBar()->addMenu(QStringLiteral("&Edit"));
    mnuEdit->setObjectName(QStringLiteral("mnuEdit"));
    add(mnuEdit, mnuEditUndo, "mnuEditUndo", QStringLiteral("&Undo"), QKeySequence(Qt::CTRL | Qt::Key_Z),
        &frmKestrel::mnuEditUndo_Click);
    sep(mnuEdit, "sepEdit");
    add(mnuEdit, mnuEditTrash, "mnuEditTrash", QStringLiteral("&Trash\u2026"), {}, &frmKestrel::mnuEditTrash_Click);
    // The menu names the change Undo takes back.
    connect(mnuEdit, &QMenu::aboutToShow, this, [this] {
        mnuEditUndo->setText(u'&' + undoCaption().replace(u'&', QStringLiteral("&&")));
        mnuEditUndo->setEnabled(canUndo());
    });
    connect(mnuEdit, &QMenu::aboutToHide, this, [this] { mnuEditUndo->setEnabled(true); });

    mnuAppts = menuBar()->addMenu(QStringLiteral("&Appts"));
    mnuAppts->setObjectName(QStringLiteral("mnuAppts"));
    add(mnuAppts, mnuApptsCal, "mnuApptsCal", QStringLiteral("Calendar"), QKeySequence(Qt::Key_F6),
        &frmKestrel::mnuApptsCal_Click);
    add(mnuAppts, mnuApptsSched, "mnuApptsSched", QStringLiteral("Schedule New"), QKeySequence(Qt::Key_F7),
        &frmKestrel::mnuApptsSched_Click);
    sep(mnuAppts, "sep5");
    add(mnuAppts, mnuFileRemind, "mnuFileRemind", QStringLiteral("Reminders"), QKeySequence(Qt::Key_F5),
        &frmKestrel::mnuFileRemind_Click);
    sep(mnuAppts, "sepICal");
    add(mnuAppts, mnuApptsExportICal, "mnuApptsExportICal", QStringLiteral("E&xport iCalendar\u2026"), {},
        &frmKestrel::mnuApptsExportICal_Click);
    add(mnuAppts, mnuApptsImportICal, "mnuApptsImportICal", QStringLiteral("I&mport iCalendar\u2026"), {},
        &frmKestrel::mnuApptsImportICal_Click);

    mnuCon = menuBar()->addMenu(QStringLiteral("&Contacts"));
    mnuCon->setObjectName(QStringLiteral("mnuCon"));
    add(mnuCon, mnuCionNew, "mnuCionNew", QStringLiteral("New"), QKeySequence(Qt::Key_F2), &frmKestrel::mnuCionNew_Click);
    add(mnuCon, mnuConView, "mnuConView", QStringLiteral("View in Tree"), QKeySequence(Qt::Key_F3),
        &frmKestrel::mnuConView_Click);
    add(mnuCon, mnuConGrid, "mnuConGrid", QStringLiteral("View in Grid"), QKeySequence(Qt::Key_F4),
        &frmKestrel::mnuConGrid_Click);
    add(mnuCon, mnuConFind, "mnuConFind", QStringLiteral("&Find"), QKeySequence(Qt::Key_F8), &frmKestrel::mnuConFind_Click);
    add(mnuCon, mnuConDups, "mnuConDups", QStringLiteral("Find D&uplicates"), QKeySequence(Qt::CTRL | Qt::Key_D),
        &frmKestrel::mnuConDups_Click);
    add(mnuCon, mnuConLog, "mnuConLog", QStringLiteral("&Log Activity"), QKeySequence(Qt::CTRL | Qt::Key_L),
        &frmKestrel::mnuConLog_Click);
    add(mnuCon, mnuConHistory, "mnuConHistory", QStringLiteral("&History..."), QKeySequence(Qt::CTRL | Qt::Key_H),
        &frmKestrel::mnuConHistory_Click);
    sep(mnuCon, "sep6");
    add(mnuCon, mnuConExport, "mnuConExport", QStringLiteral("&Export Contacts"), {}, &frmKestrel::mnuConExport_Click);
    add(mnuCon, mnuConImport, "mnuConImport", QStringLiteral("&Import Contacts"), {}, &frmKestrel::mnuConImport_Click);
    add(mnuCon, mnuConExportVCard, "mnuConExportVCard", QStringLiteral("Export v&Card\u2026"), {},
        &frmKestrel::mnuConExportVCard_Click);
    add(mnuCon, mnuConImportVCard, "mnuConImportVCard", QStringLiteral("Import vCar&d\u2026"), {},
        &frmKestrel::mnuConImportVCard_Click);
    sep(mnuCon, "sepSync");
    add(mnuCon, mnuConSync, "mnuConSync", QStringLiteral("Sync &Now"), QKeySequence(Qt::Key_F9),
        &frmKestrel::mnuConSync_Click);

    mnuHelp = menuBar()->addMenu(QStringLiteral("&Help"));
    mnuHelp->setObjectName(QStringLiteral("mnuHelp"));
    add(mnuHelp, mnuHelpContents, "mnuHelpContents", QStringLiteral("Contents"), QKeySequence(Qt::Key_F1),
        &frmKestrel::mnuHelpContents_Click);
    sep(mnuHelp, "sep1");
    add(mnuHelp, mnuHelpReport, "mnuHelpReport", QStringLiteral("Report a bug"), {}, &frmKestrel::mnuHelpReport_Click);
    sep(mnuHelp, "sep2");
    add(mnuHelp, mnuHelpAbout, "mnuHelpAbout", QStringLiteral("About"), {}, &frmKestrel::mnuHelpAbout_Click);
}

void frmKestrel::buildStatusBar()
{
    StatusBar1 = new QWidget(centralWidget());
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->setGeometry(0, px(6720), px(11385), px(375));
    StatusBar1->setAutoFillBackground(true);
    setAccessibleRole(StatusBar1, QAccessible::StatusBar);
    StatusBar1->setAccessibleName(QStringLiteral("Status bar"));
    const int widths[4] = {2880, 5760, 1440, 1440};
    int left = 0;
    for (int i = 0; i < 4; ++i) {
        auto* panel = new QLabel(StatusBar1);
        panel->setObjectName(QStringLiteral("Panel%1").arg(i + 1));
        panel->setFrameShape(QFrame::Panel);
        panel->setFrameShadow(QFrame::Sunken);
        panel->setGeometry(px(left), 1, px(widths[i]) - 2, px(375) - 2);
        panel->setAlignment(Qt::AlignCenter);
        statusPanels[i] = panel;
        left += widths[i];
    }
    // The panels show minutes: one wake-up as each minute turns, so an idle program sleeps.
    auto* timer = new QTimer(this);
    timer->setSingleShot(true);
    timer->setTimerType(Qt::PreciseTimer);
    const auto tick = [this, timer] {
        updateStatusBar();
        timer->start(60000 - QTime::currentTime().msecsSinceStartOfDay() % 60000 + 20);
    };
    connect(timer, &QTimer::timeout, this, tick);
    tick();
}

void frmKestrel::updateStatusBar()
{
    // Through the platform, so the clock shown is the one the rest of the program goes by.
    const QDateTime now = platform().now();
    statusPanels[2]->setText(now.time().toString(QStringLiteral("h:mm AP")));
    statusPanels[3]->setText(now.date().toString(QStringLiteral("M/d/yyyy")));
}

void frmKestrel::showStatus(const QString& text)
{
    statusPanels[1]->setText(text);
    announce(statusPanels[1], text);
}

bool frmKestrel::isRemindInFront() const { return leftTwips(fraRemind) == kPanelFront; }
bool frmKestrel::isCalInFront() const { return leftTwips(fraCal) == kPanelFront; }
bool frmKestrel::isLeadInFront() const { return leftTwips(fraLead) == kLeadFront; }

void frmKestrel::showOnly(QGroupBox* panel)
{
    kestrel::showOnly(panel, panel == fraLead ? kLeadFront : kPanelFront, {fraLead, fraCal, fraRemind});
    // The contact panel grew downward for the fields added later; the window follows the panel
    // shown, with the status bar at its foot.
    const int height = panel == fraLead ? kLeadPanelHeight + kClientHeight - 6615 : kClientHeight;
    client->setFixedSize(px(kClientWidth), px(height));
    if (StatusBar1)
        StatusBar1->move(0, px(height - 375));
    // The keys follow the panel: its first control in the tab order takes the focus.
    if (panel->isAncestorOf(focusWidget()))
        return;
    for (QWidget* c = panel->nextInFocusChain(); c && c != panel; c = c->nextInFocusChain())
        if (panel->isAncestorOf(c) && (c->focusPolicy() & Qt::TabFocus) && c->isVisibleTo(panel) && c->isEnabled()) {
            c->setFocus(Qt::TabFocusReason);
            return;
        }
}

void frmKestrel::Form_Load()
{
    move(0, 0);
    // Before the lists fill: an import that stopped is finished, taken back or kept first.
    offerUnfinishedImports();
    dToday_ = platform().today();
    tmrDay_ = platform().newWakeUp([this] { tmrDay_Timer(); });
    tmrDay_->arm(dToday_.addDays(1).startOfDay());
    cal->PopMonthYear();
    lead->PopDisplay();
    remind->PopToDo();
    remind->PopWeekList();
    // Once the lists show: the day's tidying, never again in a refill.
    (new DailyHousekeeping(this))->start();
    if (isServerConnection(sConnContacts))
        followChanges(new ChangeListener(serverConninfo(sConnContacts)));
}

namespace {
// Refills a list and chooses again the line of the row that was chosen, when it is still there;
// choosing it back is no click of the user's.
void refillKeepingLine(QListWidget* list, const std::function<void()>& refill)
{
    const QListWidgetItem* chosen = list->currentItem();
    const int key = chosen ? chosen->data(Qt::UserRole).toInt() : 0;
    refill();
    if (key == 0)
        return;
    for (int row = 0; row < list->count(); ++row)
        if (list->item(row)->data(Qt::UserRole).toInt() == key) {
            const QSignalBlocker quiet(list);
            list->setCurrentRow(row);
            return;
        }
}
} // namespace

void frmKestrel::followChanges(ChangeListener* listener)
{
    listener->setParent(this);
    listener_ = listener;
    refillTimer_ = new QTimer(this);
    refillTimer_->setSingleShot(true);
    refillTimer_->setInterval(300);
    connect(refillTimer_, &QTimer::timeout, this, &frmKestrel::refillChanged);
    auto stale = [this](bool frmKestrel::*flag) {
        return [this, flag] {
            this->*flag = true;
            if (!refillTimer_->isActive())
                refillTimer_->start();
        };
    };
    connect(listener, &ChangeListener::contactsChanged, this, stale(&frmKestrel::staleContacts_));
    connect(listener, &ChangeListener::appointmentsChanged, this, stale(&frmKestrel::staleAppointments_));
    connect(listener, &ChangeListener::todoChanged, this, stale(&frmKestrel::staleToDo_));
    connect(listener, &ChangeListener::historyChanged, this, stale(&frmKestrel::staleHistory_));
}

void frmKestrel::followSync(SyncControl* control)
{
    prgSync = new QProgressBar(statusPanels[0]);
    prgSync->setObjectName(QStringLiteral("prgSync"));
    prgSync->setGeometry(statusPanels[0]->contentsRect().adjusted(2, 2, -2, -2));
    prgSync->setTextVisible(false);
    prgSync->setAccessibleName(QStringLiteral("Sync progress"));
    prgSync->hide();
    connect(control, &SyncControl::status, this, [this](const QString& line, const QString& detail) {
        statusPanels[1]->setText(line);
        statusPanels[1]->setToolTip(detail);
        statusPanels[1]->setAccessibleDescription(detail);
    });
    connect(control, &SyncControl::progress, this, [this](int done, int total) {
        // -1: the sync ended; 0 of 0: it has yet to learn how much there is.
        prgSync->setVisible(total >= 0);
        prgSync->setRange(0, std::max(total, 0));
        prgSync->setValue(std::max(done, 0));
    });
    connect(control, &SyncControl::dataChanged, this, [this] {
        staleContacts_ = staleAppointments_ = true;
        if (!refillTimer_) {
            refillTimer_ = new QTimer(this);
            refillTimer_->setSingleShot(true);
            refillTimer_->setInterval(300);
            connect(refillTimer_, &QTimer::timeout, this, &frmKestrel::refillChanged);
        }
        if (!refillTimer_->isActive())
            refillTimer_->start();
    });
}

void frmKestrel::refillChanged()
{
    // A handler asking a question or a modal window may hold a line of these lists: a refill
    // under it would pull the line away, so it waits until they are closed (their openers
    // refill what they changed anyway).
    if (QApplication::activeModalWidget() || QApplication::activePopupWidget()) {
        refillTimer_->start();
        return;
    }
    if (std::exchange(staleContacts_, false))
        PopTree(lead->cmbDisplay->currentText());
    if (std::exchange(staleAppointments_, false)) {
        refillKeepingLine(remind->lstWeek, [this] { remind->PopWeekList(); });
        if (isCalInFront())
            refillKeepingLine(cal->lstCal, [this] { cal->Refresh(); });
        // Another user's appointment may fall due before the next one of this user's.
        RearmAlerts();
    }
    if (std::exchange(staleToDo_, false))
        refillKeepingLine(remind->lstToDo, [this] { remind->PopToDo(); });
    if (std::exchange(staleHistory_, false))
        refillKeepingLine(lead->lstHistory, [] {
            try {
                PopLeadHistory();
            } catch (const std::exception& e) {
                ReportFailure(e, QStringLiteral("PopLeadHistory"), Owner::Form, QStringLiteral("frmKestrel"));
            }
        });
}

void frmKestrel::tmrDay_Timer()
{
    // Also woken when the clock is set: only a new date changes what the lists show.
    const QDate today = platform().today();
    if (today != dToday_) {
        if (today.year() != dToday_.year())
            cal->PopMonthYear(); // last year, this year and next year
        dToday_ = today;
        refillKeepingLine(remind->lstWeek, [this] { remind->PopWeekList(); });
        if (cal->dCalDate.isValid())
            refillKeepingLine(cal->lstCal, [this] { cal->Refresh(); }); // today's mark moves on
        RearmAlerts();
        updateStatusBar();
    }
    tmrDay_->arm(today.addDays(1).startOfDay());
}

void frmKestrel::refillEverything()
{
    PopTree(lead->cmbDisplay->currentText());
    refillKeepingLine(remind->lstWeek, [this] { remind->PopWeekList(); });
    if (isCalInFront())
        refillKeepingLine(cal->lstCal, [this] { cal->Refresh(); });
    refillKeepingLine(remind->lstToDo, [this] { remind->PopToDo(); });
    RearmAlerts();
}

void frmKestrel::mnuEditUndo_Click()
{
    if (undoLastChange())
        refillEverything();
}

void frmKestrel::mnuEditTrash_Click()
{
    frmTrash window(this);
    desktop().runModal(window);
    if (window.bRestored)
        refillEverything();
}

void frmKestrel::closeEvent(QCloseEvent* event)
{
    // Every change was written when it was made: nothing to ask.
    event->accept();
    QCoreApplication::quit();
}

void frmKestrel::mnuFileOptions_Click()
{
    frmOptions options(this);
    desktop().runModal(options);
}
void frmKestrel::mnuFileBackup_Click() { BackupNow(this); }

void frmKestrel::mnuFileRestore_Click()
{
    if (!RestoreBackupCommand(this))
        return;
    // Every list shows the restored data; the contact chosen before may not be in it.
    lLeadID = 0;
    PopTree(lead->cmbDisplay->currentText());
    remind->PopToDo();
    remind->PopWeekList();
    if (isCalInFront())
        cal->Refresh();
    RearmAlerts();
}

void frmKestrel::mnuFilePrint_Click()
{
    if (isRemindInFront())
        PrintList(QStringLiteral("remind"));
    else if (isCalInFront())
        PrintList(QStringLiteral("cal"));
}
void frmKestrel::mnuFileToDo_Click() { PrintList(QStringLiteral("todo")); }
void frmKestrel::mnuFilePrintForm_Click()
{
    // The contact shown, if any, for a template that asks for its history; never asked for.
    PrintBlankForm(isLeadInFront() ? lead->txtLead[0]->text().toInt() : 0);
}
void frmKestrel::mnuFileExit_Click() { close(); }

void frmKestrel::mnuApptsCal_Click()
{
    const QDate today = platform().today();
    cal->LoadCal(QDate(today.year(), today.month(), 1));
    showOnly(fraCal);
    // The keys go to the month grid, on today, also from another control of the panel.
    cal->focusDay(today);
}

void frmKestrel::mnuApptsSched_Click()
{
    {
        frmAppt editor(this);
        desktop().runModal(editor);
    }
    remind->PopWeekList();
}

void frmKestrel::mnuFileRemind_Click()
{
    showOnly(fraRemind);
    remind->PopWeekList();
}

void frmKestrel::cmdScheduleAppointment_Click()
{
    ScheduleAppointmentFor(lLeadID, this);
    remind->PopWeekList();
}

void frmKestrel::mnuCionNew_Click()
{
    frmLead editor(this);
    desktop().runModal(editor);
}

void frmKestrel::mnuConView_Click()
{
    showOnly(fraLead);
    PopTree(QString());
    lead->tvLead->setFocus();
}

void frmKestrel::mnuConGrid_Click()
{
    frmContactGrid grid(this);
    if (listener_)
        grid.followChanges(listener_);
    desktop().runModal(grid);
    if (grid.bDeleted)
        refillEverything();
}

void frmKestrel::mnuConFind_Click()
{
    int id = 0;
    {
        frmFind find(this);
        desktop().runModal(find);
        id = find.lFoundID;
    }
    if (id == 0)
        return;
    showOnly(fraLead);
    GoToLead(id);
}

void frmKestrel::mnuConDups_Click()
{
    frmDuplicates window(this);
    // A merge or its undo changed who is in the tree.
    if (desktop().runModal(window) == QDialog::Accepted)
        PopTree(lead->cmbDisplay->currentText());
}

int frmKestrel::shownContact()
{
    const int id = isLeadInFront() ? lead->txtLead[0]->text().toInt() : 0;
    if (id == 0)
        platform().msgBox(QStringLiteral("Choose a contact in the tree first (Contacts > View in Tree): the history "
                                         "belongs to the contact shown."));
    return id;
}

namespace {
// The panel shows the new entries at once; a failure to read them is told, the entry is stored.
void refillLeadHistory()
{
    try {
        PopLeadHistory();
    } catch (const std::exception& e) {
        ReportFailure(e, QStringLiteral("PopLeadHistory"), Owner::Form, QStringLiteral("frmKestrel"));
    }
}
} // namespace

void frmKestrel::mnuConLog_Click()
{
    const int id = shownContact();
    if (id == 0)
        return;
    QDate followUp;
    bool asAppointment = true;
    QString subject;
    {
        frmLogEntry editor(id, 0, this);
        if (desktop().runModal(editor) != QDialog::Accepted)
            return;
        followUp = editor.followUpDate();
        asAppointment = editor.followUpAsAppointment();
        subject = editor.entry().subject;
    }
    refillLeadHistory();
    if (!followUp.isValid())
        return;
    if (asAppointment) {
        ScheduleAppointmentFor(id, this, followUp, subject.isEmpty() ? QStringLiteral("Follow up") : subject);
        remind->PopWeekList();
        return;
    }
    const QString name = lead->txtLead[2]->text() + u' ' + lead->txtLead[1]->text();
    if (ActionQuery(ToDoInsertStatement(FollowUpToDoText(followUp, name.trimmed())), sConnMain))
        remind->PopToDo();
}

void frmKestrel::mnuConHistory_Click()
{
    const int id = shownContact();
    if (id == 0)
        return;
    bool changed = false;
    {
        frmHistory window(id, this);
        desktop().runModal(window);
        changed = window.changed();
    }
    if (changed)
        refillLeadHistory();
}

void frmKestrel::lstHistory_DblClick()
{
    const QListWidgetItem* line = lead->lstHistory->currentItem();
    const int entry = line ? line->data(Qt::UserRole).toInt() : 0;
    const int id = lead->txtLead[0]->text().toInt();
    if (entry == 0 || id == 0)
        return;
    int result = QDialog::Rejected;
    {
        frmLogEntry editor(id, entry, this);
        result = desktop().runModal(editor);
    }
    if (result == QDialog::Accepted)
        refillLeadHistory();
}

void frmKestrel::mnuConExport_Click()
{
    frmLeadCSV window(this);
    desktop().runModal(window);
}

void frmKestrel::mnuConImport_Click()
{
    frmImport window(this);
    // New contacts belong in the tree as soon as the import has brought them in.
    if (desktop().runModal(window) == QDialog::Accepted)
        PopTree(QString());
}

void frmKestrel::mnuConExportVCard_Click() { ExportVCard(this); }

void frmKestrel::mnuConImportVCard_Click()
{
    if (ImportVCard(this) && isLeadInFront())
        PopTree(lead->cmbDisplay->currentText());
}

void frmKestrel::mnuConSync_Click()
{
    if (SyncControl* control = syncControl())
        control->syncNow(true);
}

void frmKestrel::mnuApptsExportICal_Click() { ExportICalendar(this); }

void frmKestrel::mnuApptsImportICal_Click()
{
    if (!ImportICalendar(this))
        return;
    remind->PopWeekList();
    if (isCalInFront())
        cal->LoadCal(cal->dCalDate);
}

void frmKestrel::mnuHelpContents_Click()
{
    // No desktop here has a viewer for compiled help: the program shows the file itself.
    ShowHelp(sHelpPath.isEmpty() ? programDir() + QStringLiteral("/kestrel.chm") : sHelpPath);
}

void frmKestrel::mnuHelpReport_Click()
{
    // Without an address set at build time there is nobody to write to: say where to go instead.
    const QString address = supportAddress();
    if (address.isEmpty())
        platform().msgBox(ReportWhereText(address));
    else if (!platform().openMailLink(mailtoLink(address, QStringLiteral("subject=KT_Bug"))))
        platform().msgBox(NoMailProgramText(address));
}

void frmKestrel::mnuHelpAbout_Click()
{
    frmAbout about(this);
    desktop().runModal(about);
}

} // namespace kestrel
