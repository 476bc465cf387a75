#include "platform/Keyring.h"

#include <QEventLoop>
#include <QTimer>

#include <qt6keychain/keychain.h>

namespace kestrel {

namespace {

KeyringAnswer run(QKeychain::Job& job)
{
    job.setAutoDelete(false);
    // A plain-text file in place of a keyring would store the password after all.
    job.setInsecureFallback(false);
    // A keyring that is locked may ask the user to unlock it: a generous wait.
    QEventLoop wait;
    QObject::connect(&job, &QKeychain::Job::finished, &wait, &QEventLoop::quit);
    QTimer::singleShot(10000, &wait, &QEventLoop::quit);
    job.start();
    wait.exec(QEventLoop::ExcludeUserInputEvents);
    KeyringAnswer a;
    switch (job.error()) {
    case QKeychain::NoError:
        a.status = KeyringStatus::Done;
        break;
    case QKeychain::EntryNotFound:
        a.status = KeyringStatus::NotFound;
        break;
    case QKeychain::NoBackendAvailable:
    case QKeychain::NotImplemented:
    case QKeychain::AccessDeniedByUser:
        a.status = KeyringStatus::NoKeyring;
        break;
    default:
        a.status = KeyringStatus::Failed;
        break;
    }
    a.why = job.errorString();
    return a;
}

class DesktopKeyring final : public Keyring {
public:
    KeyringAnswer read(const QString& name) override
    {
        QKeychain::ReadPasswordJob job(QStringLiteral("Kestrel"));
        job.setKey(name);
        KeyringAnswer a = run(job);
        if (a.status == KeyringStatus::Done)
            a.secret = job.textData();
        return a;
    }
    KeyringAnswer write(const QString& name, const QString& secret) override
    {
        QKeychain::WritePasswordJob job(QStringLiteral("Kestrel"));
        job.setKey(name);
        job.setTextData(secret);
        return run(job);
    }
    KeyringAnswer remove(const QString& name) override
    {
        QKeychain::DeletePasswordJob job(QStringLiteral("Kestrel"));
        job.setKey(name);
        return run(job);
    }
};

Keyring* gKeyring = nullptr;

} // namespace

Keyring& keyring()
{
    static DesktopKeyring desktop;
    return gKeyring ? *gKeyring : desktop;
}

void setKeyring(Keyring* k) { gKeyring = k; }

} // namespace kestrel
