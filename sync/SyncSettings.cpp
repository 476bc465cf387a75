#include "sync/SyncSettings.h"

#include "platform/Keyring.h"
#include "platform/Platform.h"

#include <QHash>

namespace kestrel::sync {

namespace {
const QString kSection = QStringLiteral("Sync");

QString get(const char* key) { return platform().getSetting(kAppTitle, kSection, QString::fromLatin1(key)); }
void put(const char* key, const QString& value) { platform().saveSetting(kAppTitle, kSection, QString::fromLatin1(key), value); }

QHash<QString, QString>& runPasswords()
{
    static QHash<QString, QString> kept;
    return kept;
}
} // namespace

Settings loadSettings()
{
    Settings s;
    s.server = get("Server").trimmed();
    s.user = get("User").trimmed();
    s.addressBook = get("AddressBook").trimmed();
    s.calendar = get("Calendar").trimmed();
    s.vcard3 = get("VCard3") == QLatin1String("T");
    bool ok = false;
    const int minutes = get("Minutes").toInt(&ok);
    if (ok && std::find(std::begin(kSyncMinutes), std::end(kSyncMinutes), minutes) != std::end(kSyncMinutes))
        s.minutes = minutes;
    if (qEnvironmentVariableIsSet(kUrlVariable) && !qEnvironmentVariable(kUrlVariable).trimmed().isEmpty()) {
        s.fromEnvironment = true;
        s.server = qEnvironmentVariable(kUrlVariable).trimmed();
        s.user = qEnvironmentVariable(kUserVariable).trimmed();
        s.addressBook.clear();
        s.calendar.clear();
        s.vcard3 = false;
    }
    return s;
}

void saveSettings(const Settings& s)
{
    if (!s.fromEnvironment) {
        put("Server", s.server.trimmed());
        put("User", s.user.trimmed());
        put("AddressBook", s.addressBook);
        put("Calendar", s.calendar);
        put("VCard3", s.vcard3 ? QStringLiteral("T") : QStringLiteral("F"));
    }
    put("Minutes", QString::number(s.minutes));
}

QString keyringName(const QString& server, const QString& user)
{
    return QStringLiteral("sync %1 %2").arg(server.trimmed(), user.trimmed());
}

Password findPassword(const QString& server, const QString& user)
{
    Password p;
    if (qEnvironmentVariableIsSet(kPasswordVariable)) {
        p.value = qEnvironmentVariable(kPasswordVariable);
        p.known = true;
        return p;
    }
    const QString name = keyringName(server, user);
    if (const auto it = runPasswords().constFind(name); it != runPasswords().constEnd()) {
        p.value = *it;
        p.known = true;
    }
    const KeyringAnswer a = keyring().read(name);
    p.keyringRuns = a.status != KeyringStatus::NoKeyring;
    if (a.status == KeyringStatus::Done && !p.known) {
        p.value = a.secret;
        p.known = true;
    }
    return p;
}

bool keepPassword(const QString& server, const QString& user, const QString& password, QString* why)
{
    const QString name = keyringName(server, user);
    runPasswords().insert(name, password);
    const KeyringAnswer a = password.isEmpty() ? keyring().remove(name) : keyring().write(name, password);
    if (a.status == KeyringStatus::Done || (password.isEmpty() && a.status == KeyringStatus::NotFound))
        return true;
    if (why)
        *why = a.status == KeyringStatus::NoKeyring ? QString() : a.why;
    return false;
}

void forgetRunPassword(const QString& server, const QString& user) { runPasswords().remove(keyringName(server, user)); }

} // namespace kestrel::sync
