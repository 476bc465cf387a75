#pragma once
// Where and as whom Kestrel syncs: File > Options > "Sync server", kept in the user's own settings
// (never the password, which the desktop's keyring keeps). KESTREL_SYNC_URL, KESTREL_SYNC_USER and
// KESTREL_SYNC_PASSWORD override them for scripted set-ups; with them, the first address book and
// calendar the server has are used, or "Kestrel" ones made.
#include <QString>

namespace kestrel::sync {

// The choices of how often to sync while Kestrel runs, in minutes (0: only at start and by F9).
inline constexpr int kSyncMinutes[] = {0, 5, 15, 60};
inline constexpr char kUrlVariable[] = "KESTREL_SYNC_URL";
inline constexpr char kUserVariable[] = "KESTREL_SYNC_USER";
inline constexpr char kPasswordVariable[] = "KESTREL_SYNC_PASSWORD";

struct Settings {
    QString server;                 // the address the user gave
    QString user;
    QString addressBook, calendar;  // the chosen collections' addresses (empty: not synced)
    bool vcard3 = false;            // the address book takes vCard 3.0 only
    int minutes = 15;
    bool fromEnvironment = false;   // KESTREL_SYNC_URL is set: server and user are its
    // Something to sync with.
    bool active() const { return !server.isEmpty() && (fromEnvironment || !addressBook.isEmpty() || !calendar.isEmpty()); }
};

Settings loadSettings();
// Keeps the user's choices; the environment's values are this start's only and never kept.
void saveSettings(const Settings& s);

// The name the password goes by in the keyring.
QString keyringName(const QString& server, const QString& user);

struct Password {
    QString value;
    bool known = false;       // from the variable, the keyring or this run's memory
    bool keyringRuns = true;  // false: there is no keyring to keep it in
};
// The password for the server and user: KESTREL_SYNC_PASSWORD, else the keyring, else the one
// given earlier in this run.
Password findPassword(const QString& server, const QString& user);
// Keeps the password in the keyring and for this run; false (why says so) when no keyring runs,
// when it is kept for this run only.
bool keepPassword(const QString& server, const QString& user, const QString& password, QString* why);
// Forgets the password of this run (it was refused).
void forgetRunPassword(const QString& server, const QString& user);

} // namespace kestrel::sync
