#pragma once
// Backups of the local data files, told to the user: the day's copy at start-up (beside the main
// window, never in its way), File > Backup Now and File > Restore Backup. In office mode the data
// are on the server, whose backups are its keeper's job: both commands say so.
#include "data/Backup.h"

#include <QObject>

#include <functional>

class QThread;
class QWidget;

namespace kestrel {

// The data files a copy holds: those of sConnContacts and sConnMain.
QStringList backedUpFiles();
// Where the copies go for the program's data folder (KESTREL_BACKUP_DIR or data/backups).
QString programBackupRoot();
// True when the data are on the office server.
bool backupsOnServer();
// What both commands say in office mode.
QString OfficeBackupText();

// Plain words for an outcome that kept no copy: what stood in the way and what to do about it.
// what names the copy ("Today's backup", "The backup").
QString BackupFailureText(const BackupOutcome& outcome, const QString& what);
// Where a copy made at the user's command is, and what it holds.
QString BackupMadeText(const BackupOutcome& outcome);

// One copy made on a thread of its own; finished() comes on the thread that started it.
class BackupJob : public QObject {
    Q_OBJECT
public:
    explicit BackupJob(BackupRequest request, QObject* parent = nullptr);
    // Waits for a copy still being made: a process never ends in the middle of one.
    ~BackupJob() override;
    void start();
    bool isRunning() const;
    // Waits until the copy is made; finished() still comes from the event loop.
    void wait();
    // True once finished() has come.
    bool isDone() const { return done_; }
    const BackupOutcome& outcome() const { return outcome_; }

Q_SIGNALS:
    void finished();

private:
    BackupRequest request_;
    BackupOutcome outcome_;
    QThread* thread_ = nullptr;
    bool done_ = false;
};

// Start-up's copy: at most one a day, made beside the shown main window. Its folder goes to
// showStatus; a failure is said in plain words once no other window or question is open, and
// never stops the program. Nothing in office mode. Returns the job (owned by owner), or nullptr.
BackupJob* StartDailyBackup(QObject* owner, std::function<void(const QString&)> showStatus);
// The start's copy, while it is being made: a copy or a restore of the user's waits for it.
void WaitForDailyBackup();

// Restores copy after a question, what Kestrel holds now being backed up first, and tells what
// came of it. True when the data files were written (the lists must refill).
bool RestoreCopy(const BackupCopy& copy, const BackupCounts& counts);

// File > Backup Now: one copy at once, then where it is (or what stood in the way).
void BackupNow(QWidget* parent);
// File > Restore Backup: the list of copies to restore from. True when data were restored, so
// that every list refills.
bool RestoreBackupCommand(QWidget* parent);

} // namespace kestrel
