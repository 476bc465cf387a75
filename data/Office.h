#pragma once
// The office database: the contacts, appointments and to-do lists of a whole office on one shared
// PostgreSQL server instead of the local files. A connection text names the server by starting
// with kServerProvider, followed by a libpq connection string ("host=db.example dbname=kestrel",
// "service=kestrel"); every routine still opens its connections from its connection text, so the
// rest of the program does not care which engine answers.
//
// On the server, contacts and appointments carry a row version (column rowver, raised by the
// server on every update) and every change to contacts, appointments or todo is announced on the
// notification channel kChangeChannel with the table's name as payload.
#include <QString>
#include <QStringList>

#include <optional>

namespace kestrel {

inline constexpr char kServerProviderText[] = "Provider=PostgreSQL;";
inline const QString kServerProvider = QString::fromLatin1(kServerProviderText);
inline constexpr char kChangeChannel[] = "kestrel_changes";

// The office database the user chose in File > Options, a libpq connection string; empty for
// the local files. Kept in the per-user settings: never a password (libpq's .pgpass and service
// files hold those).
QString storedOfficeDatabase();
void saveOfficeDatabase(const QString& conninfo);
// The environment variable KESTREL_DATABASE, which overrides the stored choice for scripted
// set-ups; set to nothing it means the local files.
inline constexpr char kOfficeVariable[] = "KESTREL_DATABASE";
bool officeDatabaseFromEnvironment();
// The connection string Kestrel starts with: the variable when it is set, else the stored choice.
QString officeDatabase();

// What a try to reach the server found.
struct ServerProbe {
    bool reached = false;
    QString server;   // host (or socket folder) and port, as libpq resolved them
    QString database;
    QString user;     // the role the server knows us as; for a refusal, the role that was tried
    QString why;      // libpq's own words when it was not reached
    bool needsPassword = false;
    bool unreadable = false; // the connection string itself could not be read
    // Reached, but Kestrel cannot work there: why, in words ("it is not set up for Kestrel yet");
    // only the server's administrator can change that (kestrel --init-office).
    QString notUsable;
    bool usable() const { return reached && notUsable.isEmpty(); }
};
// Connects once (at most ten seconds unless the string says otherwise) and hangs up.
ServerProbe probeServer(const QString& conninfo);
// The probe in plain words for the user.
QString probeText(const ServerProbe& probe);

// True when the connection string holds a password (password=..., or one in a URI), which Kestrel
// never keeps in its settings.
bool conninfoHasPassword(const QString& conninfo);
// The same connection string with its password left out (and every other value kept).
QString conninfoWithoutPassword(const QString& conninfo);

// What kestrel --init-office did, line by line, for the administrator; or why it did nothing.
struct OfficeSetUp {
    QStringList said;
    QString refused;
};
// Sets up the office database conninfo names (making it, and the roles kestrel_owner and
// kestrel_office, when missing), or brings an older schema up to the one this program needs, in
// one transaction: Kestrel's objects belong to kestrel_owner, which cannot log in; the group may
// only read and write rows; PUBLIC may do nothing. Needs a superuser of the server (else refused,
// nothing changed). Throws DbError.
OfficeSetUp setUpOfficeDatabase(const QString& conninfo);

// True when connectionText names the office server rather than a local file.
bool isServerConnection(const QString& connectionText);
// The connection text for a libpq connection string, and back.
QString serverConnectionText(const QString& conninfo);
QString serverConninfo(const QString& connectionText);

} // namespace kestrel
