#pragma once
// The sync as the windows run it: Contacts > Sync Now (F9), once after start and every few minutes
// (File > Options > Sync server), in the background. What it did or why not goes to the status
// bar; a value changed on both sides is asked about once no other window is open, and the answers
// are synced at once; a password the keyring does not hold is asked once per run.
#include "sync/SyncEngine.h"
#include "sync/SyncRunner.h"

#include <QObject>
#include <QTimer>

#include <chrono>

namespace kestrel {

class SyncControl : public QObject {
    Q_OBJECT
public:
    explicit SyncControl(QObject* parent = nullptr);
    ~SyncControl() override;

    // Starts a sync unless one runs. byUser: the user asked (F9), who is told why not in a box too.
    void syncNow(bool byUser);
    // Follows the interval chosen in Options.
    void rearm();
    // How often it syncs by itself while Kestrel runs; zero: only at start and by F9.
    std::chrono::minutes every() const;
    bool running() const { return runner_.running(); }
    // Stops a running sync and waits for it (the program ends).
    void stop();
    // The last sync's report.
    const sync::Report& lastReport() const { return last_; }

Q_SIGNALS:
    // The status bar's text and its tool tip.
    void status(const QString& line, const QString& detail);
    void progress(int done, int total);
    // Rows here changed: the lists showing them refill.
    void dataChanged();
    // A sync (with the questions after it) is done.
    void done();

private:
    void ended(const sync::Report& report);
    void askWhenFree();
    bool start(std::vector<sync::Decision> decisions);

    sync::SyncRunner runner_;
    QTimer every_;
    QTimer askLater_;
    sync::Report last_;
    sync::Report pending_;
    bool byUser_ = false;
    bool askedPassword_ = false;
    int followUps_ = 0;
    QString server_;
};

// The main window's sync (nullptr before start-up and in most tests).
SyncControl* syncControl();
void setSyncControl(SyncControl* control);

} // namespace kestrel
