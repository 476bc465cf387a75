#pragma once
// The desktop's keyring (the Secret Service, KWallet), for passwords that must never be written
// into the settings: one small wrapper any part of Kestrel may use, with a double for the tests.
// Every call waits for the keyring's answer (a few milliseconds; at most ten seconds).
#include <QString>

namespace kestrel {

enum class KeyringStatus {
    Done,       // read (or written, or deleted)
    NotFound,   // nothing kept under that name
    NoKeyring,  // no keyring runs on this desktop (or the user refused it access)
    Failed,     // the keyring answered with an error (why says which)
};

struct KeyringAnswer {
    KeyringStatus status = KeyringStatus::Failed;
    QString secret; // the password read
    QString why;    // the keyring's own words when it failed
};

class Keyring {
public:
    virtual ~Keyring() = default;
    // name: what the secret is for ("sync https://dav.example/ ann"), under the service "Kestrel".
    virtual KeyringAnswer read(const QString& name) = 0;
    virtual KeyringAnswer write(const QString& name, const QString& secret) = 0;
    virtual KeyringAnswer remove(const QString& name) = 0;
};

Keyring& keyring();
// Installs k (not owned); nullptr restores the desktop's keyring.
void setKeyring(Keyring* k);

} // namespace kestrel
