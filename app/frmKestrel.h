#pragma once
// The main window: three panels sharing one place, the menus with their hot keys, the status bar.
#include "ui/Ui.h"

#include <QDate>
#include <QMainWindow>

#include <memory>

class QAction;
class QGroupBox;
class QLabel;
class QMenu;
class QProgressBar;
class QTimer;

namespace kestrel {

class LeadPanel;
class CalPanel;
class RemindPanel;
class ChangeListener;
class SyncControl;
class WakeUp;

class frmKestrel : public QMainWindow {
    Q_OBJECT
public:
    explicit frmKestrel(QWidget* parent = nullptr);
    ~frmKestrel() override;

    // Runs once when the window is first shown.
    void Form_Load();

    // In office mode the tree, the calendar month, the reminder and to-do lists refill by
    // themselves when another user changes what they show: once per burst of changes, after any
    // question or modal window is closed, with the user's place kept. Takes the listener.
    void followChanges(ChangeListener* listener);
    // The sync's progress and outcome show in the status bar; what it changed refills the lists.
    void followSync(SyncControl* control);

    // A panel is in front when its left edge stands at its front position.
    static constexpr int kLeadFront = 0;
    static constexpr int kPanelFront = 120;
    static constexpr int kOutOfView = kestrel::kOutOfView;
    bool isRemindInFront() const;
    bool isCalInFront() const;
    bool isLeadInFront() const;

    // Menu commands.
    void mnuFileOptions_Click();
    void mnuFileBackup_Click();
    void mnuFileRestore_Click();
    void mnuFilePrint_Click();
    void mnuFileToDo_Click();
    void mnuFilePrintForm_Click();
    void mnuFileExit_Click();
    void mnuEditUndo_Click();
    void mnuEditTrash_Click();
    void mnuApptsCal_Click();
    void mnuApptsSched_Click();
    void mnuFileRemind_Click();
    void mnuCionNew_Click();
    void mnuConView_Click();
    void mnuConGrid_Click();
    void mnuConFind_Click();
    void mnuConDups_Click();
    // "Log Activity" (Ctrl+L, and the panel's "Log..."): an entry in the history of the contact
    // the panel shows, then the follow-up it asks for.
    void mnuConLog_Click();
    // "History..." (Ctrl+H, and the panel's button): the whole timeline of the contact shown.
    void mnuConHistory_Click();
    // Enter or a double click on a line of the panel's latest history opens that entry.
    void lstHistory_DblClick();
    void mnuConExport_Click();
    void mnuConImport_Click();
    void mnuConExportVCard_Click();
    void mnuConImportVCard_Click();
    void mnuConSync_Click();
    void mnuApptsExportICal_Click();
    void mnuApptsImportICal_Click();
    void mnuHelpContents_Click();
    void mnuHelpReport_Click();
    void mnuHelpAbout_Click();
    // The contact panel's "Schedule an appointment " button.
    void cmdScheduleAppointment_Click();

    QGroupBox* fraLead = nullptr;
    QGroupBox* fraCal = nullptr;
    QGroupBox* fraRemind = nullptr;
    // The contact tree and detail panel inside fraLead.
    LeadPanel* lead = nullptr;
    // The month calendar inside fraCal; the reminders and to-do list inside fraRemind.
    CalPanel* cal = nullptr;
    RemindPanel* remind = nullptr;
    QLabel* Image1 = nullptr;
    QWidget* client = nullptr;
    // The client area in twips with the calendar or the reminders shown; the contact panel is taller.
    static constexpr int kClientWidth = 11385;
    static constexpr int kClientHeight = 7095;
    QWidget* StatusBar1 = nullptr;
    QLabel* statusPanels[4] = {};
    // Puts a message in the status bar's wide panel (empty text clears it); a screen reader
    // says it without the focus moving.
    void showStatus(const QString& text);

    QMenu* mnuFile = nullptr;
    QMenu* mnuEdit = nullptr;
    QMenu* mnuAppts = nullptr;
    QMenu* mnuCon = nullptr;
    QMenu* mnuHelp = nullptr;
    QAction* mnuFileOptions = nullptr;
    QAction* mnuFileBackup = nullptr;
    QAction* mnuFileRestore = nullptr;
    QAction* mnuFilePrint = nullptr;
    QAction* mnuFileToDo = nullptr;
    QAction* mnuFilePrintForm = nullptr;
    QAction* mnuFileExit = nullptr;
    QAction* mnuEditUndo = nullptr;
    QAction* mnuEditTrash = nullptr;
    QAction* mnuApptsCal = nullptr;
    QAction* mnuApptsSched = nullptr;
    QAction* mnuFileRemind = nullptr;
    QAction* mnuCionNew = nullptr;
    QAction* mnuConView = nullptr;
    QAction* mnuConGrid = nullptr;
    QAction* mnuConFind = nullptr;
    QAction* mnuConDups = nullptr;
    QAction* mnuConLog = nullptr;
    QAction* mnuConHistory = nullptr;
    QAction* mnuConExport = nullptr;
    QAction* mnuConImport = nullptr;
    QAction* mnuConExportVCard = nullptr;
    QAction* mnuConImportVCard = nullptr;
    QAction* mnuConSync = nullptr;
    // Shown in the status bar's first panel while a sync runs.
    QProgressBar* prgSync = nullptr;
    QAction* mnuApptsExportICal = nullptr;
    QAction* mnuApptsImportICal = nullptr;
    QAction* mnuHelpContents = nullptr;
    QAction* mnuHelpReport = nullptr;
    QAction* mnuHelpAbout = nullptr;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildMenus();
    void buildStatusBar();
    void updateStatusBar();
    // Brings one panel to its front position; the other two go out of view and take no keys.
    void showOnly(QGroupBox* panel);
    void refillChanged();
    // After an undo or a restore from the trash: every list shows the data anew.
    void refillEverything();
    // The contact the panel shows, or (having told the user) 0 where it shows none.
    int shownContact();
    // Wakes at midnight: the seven-day list, the calendar's today and the alerts move on a day.
    void tmrDay_Timer();

    QTimer* refillTimer_ = nullptr;
    // Heard by the contact grid too, while it is open.
    ChangeListener* listener_ = nullptr;
    std::unique_ptr<WakeUp> tmrDay_;
    QDate dToday_;
    bool staleContacts_ = false, staleAppointments_ = false, staleToDo_ = false, staleHistory_ = false;
};

// The main window while the program runs (nullptr before start-up and in most tests).
frmKestrel* mainWindow();

} // namespace kestrel
