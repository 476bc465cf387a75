#include "dialogs/modBackup.h"

#include "data/Database.h"
#include "data/Globals.h"
#include "data/Office.h"
#include "data/PgEngine.h"
#include "dialogs/frmRestore.h"
#include "platform/Platform.h"
#include "ui/Desktop.h"

#include <QApplication>
#include <QLocale>
#include <QDir>
#include <QFileInfo>
#include <QPointer>
#include <QThread>
#include <QTimer>
#include <QWidget>

#include <sys/statvfs.h>

namespace kestrel {

namespace {

QString nativePath(const QString& path) { return QDir::toNativeSeparators(path); }

// The start's job while it runs: a copy or restore of the user's waits for it.
QPointer<BackupJob> gDaily;

QString whyFolderReadOnly(const QString& folder)
{
    struct statvfs vfs {};
    if (::statvfs(QFile::encodeName(folder).constData(), &vfs) == 0 && (vfs.f_flag & ST_RDONLY))
        return QStringLiteral("the disk that holds the folder %1 can only be read").arg(nativePath(folder));
    return QStringLiteral("you may not change the folder %1").arg(nativePath(folder));
}

const QString kOtherDisk = QStringLiteral("set %1 to a folder on another disk (a USB stick, a synced folder)")
                               .arg(QString::fromLatin1(kBackupDirVariable));
const QString kElsewhere = QStringLiteral("or ") + kOtherDisk;

// Shows text once no other window, menu or question is open, so that a key meant for those never
// closes it unread.
void sayWhenFree(QObject* owner, const QString& text)
{
    auto* timer = new QTimer(owner);
    timer->setInterval(300);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, text] {
        if (QApplication::activeModalWidget() || QApplication::activePopupWidget())
            return;
        timer->stop();
        timer->deleteLater();
        platform().msgBox(text);
    });
    timer->start(0);
}

QString dayText(const BackupCopy& c)
{
    const QLocale english(QLocale::English);
    QString text = english.toString(c.day, QStringLiteral("dddd, MMMM d, yyyy"));
    if (c.time.isValid())
        text += QStringLiteral(" at ") + english.toString(c.time, QStringLiteral("h:mm AP"));
    return text;
}

QString holdsText(qint64 contacts, qint64 appointments)
{
    const QLocale english(QLocale::English);
    return QStringLiteral("%1 %2 and %3 %4")
        .arg(english.toString(contacts), contacts == 1 ? QStringLiteral("contact") : QStringLiteral("contacts"),
             english.toString(appointments), appointments == 1 ? QStringLiteral("appointment") : QStringLiteral("appointments"));
}

// What the data files hold now, as the restore's question says it; empty when they cannot be read.
QString currentHoldings()
{
    try {
        Connection c(sConnContacts);
        Snapshot s(c, QStringLiteral("SELECT (SELECT count(*) FROM contacts), (SELECT count(*) FROM appointments)"));
        if (!s.eof())
            return holdsText(s.field(0).toLongLong(), s.field(1).toLongLong());
    } catch (const std::exception&) {
        // A damaged file is a reason to restore, not a reason to stop.
    }
    return {};
}

} // namespace

QStringList backedUpFiles() { return {dataSourcePath(sConnContacts), dataSourcePath(sConnMain)}; }

QString programBackupRoot() { return backupRoot(QFileInfo(dataSourcePath(sConnContacts)).absolutePath()); }

bool backupsOnServer() { return isServerConnection(sConnContacts); }

QString OfficeBackupText()
{
    return QStringLiteral("Your contacts, appointments and to-do lists are kept on the office database %1, not in "
                          "files on this computer, so Kestrel makes no copies of them here.\r\n\r\nBacking up the "
                          "office database is the server's job: whoever looks after the server makes the copies "
                          "there with pg_dump and restores one with pg_restore (see \"Backups\" in Kestrel's README).")
        .arg(pg::serverName(sConnContacts));
}

QString BackupFailureText(const BackupOutcome& o, const QString& what)
{
    const QString folder = nativePath(o.path);
    QString why;
    QString todo;
    if (o.status == BackupStatus::CheckFailed && o.sourceFault) {
        why = QStringLiteral("%1 was not made: the engine's check found damage in the data file %2 (%3). The file was "
                             "left as it is.").arg(what, folder, o.detail);
        todo = QStringLiteral("File > Restore Backup puts back the data of an earlier day.");
    } else if (o.status == BackupStatus::CheckFailed) {
        why = QStringLiteral("%1 of %2 did not pass its check after it was written (%3), so it was removed.")
                  .arg(what, QFileInfo(o.path).fileName(), o.detail);
        todo = QStringLiteral("The disk it was written to may be failing: try again with File > Backup Now, %1.").arg(kElsewhere);
    } else if (o.sourceFault) {
        switch (o.fault) {
        case Fault::Missing:
            why = QStringLiteral("%1 was not made: the data file %2 is missing.").arg(what, folder);
            break;
        case Fault::Locked:
            why = QStringLiteral("%1 was not made: another program kept the data file %2 busy.").arg(what, folder);
            todo = QStringLiteral("Try again later with File > Backup Now.");
            break;
        case Fault::Damaged:
            why = QStringLiteral("%1 was not made: the data file %2 could not be read (%3). It may be damaged; it was "
                                 "left as it is.").arg(what, folder, o.detail);
            todo = QStringLiteral("File > Restore Backup puts back the data of an earlier day.");
            break;
        default:
            why = QStringLiteral("%1 was not made: the data file %2 could not be read (%3).").arg(what, folder, o.detail);
            break;
        }
    } else {
        switch (o.fault) {
        case Fault::Missing:
            why = QStringLiteral("%1 was not made: the folder %2 is not there.").arg(what, folder);
            todo = QStringLiteral("If it is on a USB stick or another disk, plug that in, %1.").arg(kElsewhere);
            break;
        case Fault::ReadOnly:
            why = QStringLiteral("%1 was not made: %2.").arg(what, whyFolderReadOnly(o.path));
            todo = QStringLiteral("Make the folder one you may change, %1.").arg(kElsewhere);
            break;
        case Fault::DiskFull:
            why = QStringLiteral("%1 was not made: the disk that holds the folder %2 is full.").arg(what, folder);
            todo = QStringLiteral("Free some space on it (older copies there may go), %1.").arg(kElsewhere);
            break;
        default:
            why = QStringLiteral("%1 was not made: the folder %2 could not be written (%3).").arg(what, folder, o.detail);
            todo = QStringLiteral("The disk may be failing: %1.").arg(kOtherDisk);
            break;
        }
    }
    QString text = why + QStringLiteral("\r\n\r\nYour data itself was not touched.");
    if (!todo.isEmpty())
        text += u' ' + todo;
    return text;
}

QString BackupMadeText(const BackupOutcome& o)
{
    return QStringLiteral("Your contacts, appointments and to-do list were backed up to the folder %1.")
        .arg(nativePath(o.copy.folder));
}

BackupJob::BackupJob(BackupRequest request, QObject* parent) : QObject(parent), request_(std::move(request)) {}

BackupJob::~BackupJob() { wait(); }

void BackupJob::start()
{
    if (thread_)
        return;
    thread_ = QThread::create([this] { outcome_ = makeBackup(request_); });
    thread_->setParent(this);
    thread_->setObjectName(QStringLiteral("kestrel-backup"));
    connect(thread_, &QThread::finished, this, [this] {
        done_ = true;
        Q_EMIT finished();
    });
    // The window comes first: the copy takes what the machine has to spare.
    thread_->start(QThread::LowPriority);
}

bool BackupJob::isRunning() const { return thread_ && !thread_->isFinished(); }

void BackupJob::wait()
{
    if (thread_)
        thread_->wait();
}

BackupJob* StartDailyBackup(QObject* owner, std::function<void(const QString&)> showStatus)
{
    if (backupsOnServer())
        return nullptr;
    // Read here, on the window's thread: the clock is the platform's.
    BackupRequest request{backedUpFiles(), programBackupRoot(), platform().now(), true};
    auto* job = new BackupJob(std::move(request), owner);
    gDaily = job;
    QObject::connect(job, &BackupJob::finished, owner, [job, owner, showStatus] {
        const BackupOutcome& o = job->outcome();
        if (o.status == BackupStatus::Made) {
            if (showStatus)
                showStatus(QStringLiteral("Today's backup: %1").arg(nativePath(o.copy.folder)));
        } else if (o.status != BackupStatus::AlreadyToday) {
            if (showStatus)
                showStatus(QStringLiteral("Today's backup was not made"));
            sayWhenFree(owner, BackupFailureText(o, QStringLiteral("Today's backup")) +
                                   QStringLiteral(" Kestrel tries again at its next start."));
        }
    });
    job->start();
    return job;
}

void WaitForDailyBackup()
{
    if (gDaily && gDaily->isRunning()) {
        platform().setBusyCursor(true);
        gDaily->wait();
        platform().setBusyCursor(false);
    }
}

bool RestoreCopy(const BackupCopy& copy, const BackupCounts& counts)
{
    if (!counts.counted) {
        platform().msgBox(QStringLiteral("The backup of %1 cannot be read (%2), so it cannot be restored. Choose another one.")
                              .arg(dayText(copy), counts.why));
        return false;
    }
    const QString now = currentHoldings();
    const QString question =
        QStringLiteral("Restore the backup of %1 (%2)?\r\n\r\nWhat Kestrel holds now%3 is backed up first, so you can go "
                       "back to it from this list.")
            .arg(dayText(copy), holdsText(counts.contacts, counts.appointments),
                 now.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(now));
    if (!platform().askYesNo(question, QStringLiteral("Restore Backup")))
        return false;

    platform().setBusyCursor(true);
    const BackupOutcome before = makeBackup({backedUpFiles(), programBackupRoot(), platform().now(), false});
    platform().setBusyCursor(false);
    if (before.status != BackupStatus::Made) {
        const QString failure = BackupFailureText(before, QStringLiteral("The backup of what Kestrel holds now"));
        // A damaged data file cannot be copied, and is what a backup is restored for: it is kept
        // beside the restored one, under another name.
        if (!(before.sourceFault && before.fault == Fault::Damaged)) {
            platform().msgBox(failure + QStringLiteral("\r\n\r\nNothing was restored."));
            return false;
        }
        if (!platform().askYesNo(failure + QStringLiteral("\r\n\r\nRestore the backup of %1 all the same? The damaged file "
                                                          "is kept beside the restored one, its name ending in "
                                                          "\".damaged\" and the date.").arg(dayText(copy)),
                                 QStringLiteral("Restore Backup")))
            return false;
    }
    platform().setBusyCursor(true);
    bool mixed = false;
    try {
        restoreBackup(copy, backedUpFiles(), before.status == BackupStatus::Made ? &before.copy : nullptr, &mixed);
    } catch (const DbError& e) {
        platform().setBusyCursor(false);
        QString text = QStringLiteral("The backup of %1 could not be restored: %2.").arg(dayText(copy), e.description());
        if (mixed)
            text += QStringLiteral("\r\n\r\nPart of it was restored and could not be taken back.");
        else
            text += QStringLiteral("\r\n\r\nYour data are as they were.");
        if (before.status == BackupStatus::Made)
            text += QStringLiteral(" What Kestrel held before is in the folder %1: restore it from this list.")
                        .arg(nativePath(before.copy.folder));
        platform().msgBox(text);
        return true;
    }
    platform().setBusyCursor(false);
    QString text = QStringLiteral("The backup of %1 was restored: Kestrel now holds %2.")
                       .arg(dayText(copy), holdsText(counts.contacts, counts.appointments));
    if (before.status == BackupStatus::Made)
        text += QStringLiteral("\r\n\r\nWhat it held before is in the folder %1.").arg(nativePath(before.copy.folder));
    platform().msgBox(text);
    return true;
}

void BackupNow(QWidget* parent)
{
    (void)parent;
    if (backupsOnServer()) {
        platform().msgBox(OfficeBackupText());
        return;
    }
    WaitForDailyBackup();
    platform().setBusyCursor(true);
    const BackupOutcome o = makeBackup({backedUpFiles(), programBackupRoot(), platform().now(), false});
    platform().setBusyCursor(false);
    platform().msgBox(o.status == BackupStatus::Made ? BackupMadeText(o) : BackupFailureText(o, QStringLiteral("The backup")));
}

bool RestoreBackupCommand(QWidget* parent)
{
    if (backupsOnServer()) {
        platform().msgBox(OfficeBackupText());
        return false;
    }
    WaitForDailyBackup();
    frmRestore window(parent);
    desktop().runModal(window);
    return window.bRestored;
}

} // namespace kestrel
