#pragma once
// Whether a database file is Kestrel's own, and whether its pages are whole. Nothing is written
// into a file before it is known to be Kestrel's: another program's database in the place of
// contacts.mdb is left byte for byte as it was. Damage inside a file is looked for on a thread
// of its own, so that the window is not kept waiting for it.
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <mutex>
#include <thread>

struct sqlite3;

namespace kestrel {

// Why the open file named fileName (contacts.mdb, kestrel.mdb; compared without case) is not one
// of Kestrel's, in words ("its table contacts has no column contype"); empty when it is, or when
// Kestrel keeps no file of that name. A file is Kestrel's when its tables have every column this
// version needs; columns and tables added by newer versions are welcome.
QString foreignFileReason(sqlite3* db, const QString& fileName);

// From now on every connection to the file at path reads only (onlyRead), or as before: a file
// found damaged takes no more saves. Closes the connections waiting for it.
void openForReadingOnly(const QString& path, bool onlyRead = true);
// Whether connections to the file (its absolute path) read only.
bool opensForReadingOnly(const QString& absolutePath);

// The connection of a check under way, for another thread to interrupt it.
struct RunningCheck {
    std::mutex lock;
    sqlite3* db = nullptr;
    bool stopped = false;
};

// What PRAGMA quick_check finds wrong in the file at path, read on a connection of its own that
// only reads; empty when the file is whole (or cannot be opened at all: that is told elsewhere).
QStringList quickCheckFile(const QString& path, RunningCheck* running = nullptr);

// quickCheckFile of each path on a thread of its own. done(path, problems) is called for every
// file checked (problems empty when it is whole) on the thread that made this object, from its
// event loop; never after the object is gone. Destroying it stops a check under way.
class BackgroundQuickCheck {
public:
    using Done = std::function<void(const QString& path, const QStringList& problems)>;
    BackgroundQuickCheck(const QStringList& paths, Done done);
    ~BackgroundQuickCheck();
    BackgroundQuickCheck(const BackgroundQuickCheck&) = delete;
    BackgroundQuickCheck& operator=(const BackgroundQuickCheck&) = delete;
    // True once every file has been checked and its outcome handed to done.
    bool finished() const { return finished_; }

private:
    QObject receiver_; // queued calls to it die with it
    RunningCheck running_;
    bool finished_ = false;
    std::thread thread_;
};

} // namespace kestrel
