#pragma once
// The one-time work on a contacts file, on a thread of its own with a connection of its own, while
// the window is in use: the speed-ups a large older file lacks (SpeedUps.h), preparing() before
// each, then Find's index, progress() after each step of a few thousand contacts; finished() at
// the end.
#include "data/SearchIndex.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <thread>

namespace kestrel {

class SearchIndexJob : public QObject {
    Q_OBJECT
public:
    explicit SearchIndexJob(QString connectionText, QObject* parent = nullptr);
    // Stops between two steps and waits: the program never ends inside a transaction of its own.
    ~SearchIndexJob() override;
    // Starts the work unless it runs; started again after it ended, it looks once more (a large
    // import since).
    void start();
    bool isRunning() const { return running_; }

Q_SIGNALS:
    void preparing(int done, int total);
    void progress(qint64 done, qint64 total);
    // ready: the index is whole and current. failure: what stopped it, empty when nothing did.
    void finished(bool ready, QString failure);

private:
    QString connectionText_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> running_{false};
};

// The running program's job, so that Find can set it going again after a large import; null in
// a process that has none.
void setSearchIndexJob(SearchIndexJob* job);
SearchIndexJob* searchIndexJob();

} // namespace kestrel
