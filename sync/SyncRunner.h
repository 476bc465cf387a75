#pragma once
// One sync at a time, run in a thread of its own so the windows stay usable: the server's
// requests wait there, and the few reads and writes of the database are handed to the thread that
// started the sync (the windows'), where every database routine of the program runs.
#include "sync/SyncEngine.h"
#include "sync/SyncSettings.h"

#include <QObject>
#include <QThread>
#include <QUrl>

#include <memory>
#include <mutex>

namespace kestrel::dav {
class Client;
}

namespace kestrel::sync {

struct Job {
    QString connectionText;     // the contacts database
    QUrl server;                // the address the user gave (for choosing collections)
    QString user, password;
    QUrl addressBook, calendar; // the collections; empty: not synced
    bool vcard3 = false;
    bool chooseFirst = false;   // no collections chosen: the first ones found, or "Kestrel" ones made
    std::vector<Decision> decisions;
    QTimeZone zone = QTimeZone::systemTimeZone();
};

// The job the user's sync settings describe, on the given contacts database.
Job jobFor(const Settings& s, const QString& password, const QString& connectionText);

// How a running job is stopped from another thread.
class Control {
public:
    void cancel();
    bool cancelled() const;
    // The job's client, while it has one.
    void attach(dav::Client* client);

private:
    mutable std::mutex m_;
    dav::Client* client_ = nullptr;
    bool cancelled_ = false;
};

class SyncRunner : public QObject {
    Q_OBJECT
public:
    explicit SyncRunner(QObject* parent = nullptr);
    ~SyncRunner() override;

    // Starts the job; false when a sync is already running.
    bool start(const Job& job);
    bool running() const { return thread_ != nullptr; }
    // Asks the running sync to stop at its next request.
    void cancel();
    // Waits for the running sync to end, letting its database work run meanwhile.
    void waitForEnd();

    // Runs a job to its end in the calling thread's stead and returns its report (the headless
    // command and the tests).
    static Report runToEnd(const Job& job, const ProgressFn& progress = {});

Q_SIGNALS:
    void progress(int done, int total);
    void finished(const kestrel::sync::Report& report);

private:
    void ended();
    std::unique_ptr<QThread> thread_;
    std::shared_ptr<Control> control_;
    std::shared_ptr<Report> report_;
};

// The work of a job, in the calling thread, with the database reached through owner's thread.
Report runJob(const Job& job, QObject* owner, const ProgressFn& progress, Control* control = nullptr);

} // namespace kestrel::sync
