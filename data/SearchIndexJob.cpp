#include "data/SearchIndexJob.h"

#include "data/Database.h"
#include "data/SpeedUps.h"

#include <QMetaObject>
#include <QPointer>

namespace kestrel {

namespace {
QPointer<SearchIndexJob> gJob;
}

SearchIndexJob::SearchIndexJob(QString connectionText, QObject* parent)
    : QObject(parent), connectionText_(std::move(connectionText))
{
}

SearchIndexJob::~SearchIndexJob()
{
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
}

void SearchIndexJob::start()
{
    if (running_)
        return;
    if (thread_.joinable())
        thread_.join();
    running_ = true;
    thread_ = std::thread([this] {
        bool ready = false;
        QString failure;
        try {
            makeSpeedUps(
                connectionText_, contactsFileSpeedUps(),
                [this](SpeedUpProgress p) {
                    QMetaObject::invokeMethod(this, [this, p] { Q_EMIT preparing(p.done, p.total); }, Qt::QueuedConnection);
                },
                stop_);
            ready = !stop_ && buildSearchIndex(
                connectionText_,
                [this](SearchIndexProgress p) {
                    QMetaObject::invokeMethod(this, [this, p] { Q_EMIT progress(p.done, p.total); }, Qt::QueuedConnection);
                },
                stop_);
        } catch (const std::exception& e) {
            failure = QString::fromUtf8(e.what());
        }
        QMetaObject::invokeMethod(
            this,
            [this, ready, failure] {
                running_ = false;
                Q_EMIT finished(ready, failure);
            },
            Qt::QueuedConnection);
    });
}

void setSearchIndexJob(SearchIndexJob* job) { gJob = job; }
SearchIndexJob* searchIndexJob() { return gJob; }

} // namespace kestrel
