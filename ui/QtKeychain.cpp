// The desktop's keyring for QtPlatform, through QtKeychain (the Secret Service on a Linux
// desktop). Its jobs answer from the event loop; each is waited for here, briefly.
#include "ui/QtPlatform.h"

#include <QEventLoop>
#include <QTimer>

#include <qt6keychain/keychain.h>

namespace kestrel {

namespace {

const QString kService = QStringLiteral("Kestrel");

// Runs job to its end (at most ten seconds: a keyring that does not answer is no keyring).
bool runJob(QKeychain::Job& job)
{
    job.setAutoDelete(false);
    // A plain-text file in place of a keyring would store the password after all.
    job.setInsecureFallback(false);
    QEventLoop wait;
    QObject::connect(&job, &QKeychain::Job::finished, &wait, &QEventLoop::quit);
    QTimer::singleShot(10000, &wait, &QEventLoop::quit);
    job.start();
    wait.exec(QEventLoop::ExcludeUserInputEvents);
    return job.error() == QKeychain::NoError;
}

} // namespace

bool QtPlatform::hasKeyring()
{
    QKeychain::ReadPasswordJob probe(kService);
    probe.setKey(QStringLiteral("kestrel-keyring-probe"));
    runJob(probe);
    // Nothing kept under the name is the answer of a keyring that runs.
    return probe.error() == QKeychain::NoError || probe.error() == QKeychain::EntryNotFound;
}

QString QtPlatform::readSecret(const QString& key)
{
    QKeychain::ReadPasswordJob job(kService);
    job.setKey(key);
    return runJob(job) ? job.textData() : QString();
}

bool QtPlatform::saveSecret(const QString& key, const QString& secret)
{
    QKeychain::WritePasswordJob job(kService);
    job.setKey(key);
    job.setTextData(secret);
    return runJob(job);
}

void QtPlatform::forgetSecret(const QString& key)
{
    QKeychain::DeletePasswordJob job(kService);
    job.setKey(key);
    runJob(job);
}

} // namespace kestrel
