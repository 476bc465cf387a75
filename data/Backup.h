#pragma once
// Copies of the local data files (contacts.mdb, kestrel.mdb), made with the engine's online
// backup API so that a copy is whole even while the program writes, each one checked after it is
// written. A copy is a folder of the backup folder named by its day ("2027-03-07"); a further copy
// of the same day carries its time too ("2027-03-07-142210"). Nothing here asks the user anything:
// what happened comes back as a BackupOutcome, and the windows choose the words.
#include "data/Database.h"

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <vector>

namespace kestrel {

// Puts the copies in another folder (a USB stick, a synced folder) instead of data/backups.
inline constexpr char kBackupDirVariable[] = "KESTREL_BACKUP_DIR";

// The folder the copies go to: KESTREL_BACKUP_DIR when set to a folder, else backups/ in the
// data folder.
QString backupRoot(const QString& dataFolder);
// True when the copies go where KESTREL_BACKUP_DIR says.
bool backupRootFromEnvironment();

// One copy: its folder, and the moment its name gives (the day's first copy has no time).
struct BackupCopy {
    QString folder; // absolute path
    QDate day;
    QTime time;
    bool operator==(const BackupCopy&) const = default;
};
// Newest first: by day, then by time, the day's first copy (which has none) being its oldest.
bool newerCopy(const BackupCopy& a, const BackupCopy& b);

// "2027-03-07" for the day's first copy, "2027-03-07-142210" for a later one.
QString backupFolderName(const QDate& day, const QTime& time = {});
// The moment a folder's name gives; false for any name Kestrel does not give its copies.
bool parseBackupFolderName(const QString& name, QDate* day, QTime* time);

// The copies in root, newest first. Folders of other names are not Kestrel's, and are neither
// listed nor ever removed.
std::vector<BackupCopy> listBackups(const QString& root);

// The copies the keeping rule lets go: the copies of the seven newest days that have one are
// kept, and of the older ones the newest copy of each of the four newest calendar weeks (Monday
// to Sunday) that have no kept day. Days are counted among the copies, never back from today, so
// copies are let go only for newer ones; copies dated after today (a clock set back, or one that
// ran ahead) are neither counted nor let go.
std::vector<BackupCopy> expiredBackups(const std::vector<BackupCopy>& copies, const QDate& today);
inline constexpr int kDailyCopies = 7;
inline constexpr int kWeeklyCopies = 4;

// What a copy holds, for the list to restore from. counted is false when it could not be read
// (why says what the engine found).
struct BackupCounts {
    bool counted = false;
    qint64 contacts = 0;
    qint64 appointments = 0;
    QString why;
};
BackupCounts countBackup(const BackupCopy& copy);

// What making a copy came to.
enum class BackupStatus {
    Made,         // the copy is in place and passed its check
    AlreadyToday, // the day's copy was made before (a daily copy only)
    Failed,       // nothing was kept: fault, path and detail say why
    CheckFailed,  // written, but did not pass the engine's integrity check, and was removed
};
struct BackupOutcome {
    BackupStatus status = BackupStatus::Failed;
    BackupCopy copy;     // Made: the new copy
    Fault fault = Fault::Program;
    QString path;        // the file or folder the fault concerns
    QString detail;      // the engine's or the system's own words
    bool sourceFault = false; // the fault was in reading a data file, not in writing the copy
    std::vector<BackupCopy> removed; // copies let go by the keeping rule after this one was made
};

struct BackupRequest {
    QStringList files; // the data files to copy, each kept under its own file name
    QString root;      // the folder the copies go to
    QDateTime now;     // the program's clock: names the copy
    bool dailyOnly = false; // make none when a copy of this day is there already
};

// Makes one copy: every file copied by the backup API into a private folder of root, each copy
// checked with PRAGMA integrity_check, then the folder put in place under its name and the keeping
// rule applied. Touches no connection of the program's own: safe on a thread of its own.
BackupOutcome makeBackup(const BackupRequest& request);

// Writes each file of copy back onto the data file of that name in files, through the backup
// API, so that every connection (also another running copy of Kestrel) sees the restored data at
// its next read. A data file the engine finds damaged is renamed (its name ending in ".damaged-"
// and the time) and the copy put in its place. Every file of the copy is checked before any is
// written; when a later file fails, the earlier ones are put back from putBack (the copy made just
// before) where given, and *mixed tells whether some of them could not be. Closes the program's
// waiting connections. Throws DbError (its path in the description).
void restoreBackup(const BackupCopy& copy, const QStringList& files, const BackupCopy* putBack = nullptr,
                   bool* mixed = nullptr);

} // namespace kestrel
