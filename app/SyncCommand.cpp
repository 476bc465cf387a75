#include "app/SyncCommand.h"

#include "data/Globals.h"
#include "data/Office.h"
#include "data/modData.h"
#include "platform/Platform.h"
#include "sync/SyncRunner.h"
#include "sync/SyncSettings.h"
#include "sync/SyncWords.h"

#include <QCoreApplication>
#include <QSettings>

#include <cstdio>

namespace kestrel {

namespace {

void say(std::FILE* to, const QString& text)
{
    std::fputs(qPrintable(text + u'\n'), to);
    std::fflush(to);
}

// No one to ask: messages go to standard error, questions are answered No; the settings are the
// user's own, as the windows keep them.
class CommandPlatform final : public Platform {
public:
    void msgBox(const QString& text, const QString&) override { say(stderr, text); }
    bool askYesNo(const QString& text, const QString&) override
    {
        say(stderr, text);
        return false;
    }
    QString inputBox(const QString&, const QString&, const QString&, int) override { return {}; }
    QString openFileName(const QString&, const QString&, const QString&) override { return {}; }
    QString saveFileName(const QString&, const QString&, const QString&) override { return {}; }
    void openDocument(const QString&) override {}
    bool startProgram(const QString&, const QStringList&) override { return false; }
    QString getSetting(const QString& app, const QString& section, const QString& key) override
    {
        return QSettings(app, app).value(section + u'/' + key).toString();
    }
    void saveSetting(const QString& app, const QString& section, const QString& key, const QString& value) override
    {
        QSettings(app, app).setValue(section + u'/' + key, value);
    }
    void doEvents() override { QCoreApplication::processEvents(); }
    QDate today() override { return QDate::currentDate(); }
    QDateTime now() override { return QDateTime::currentDateTime(); }
};

} // namespace

int syncCommand(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Kestrel"));
    QCoreApplication::setOrganizationName(QStringLiteral("Kestrel"));
    CommandPlatform desk;
    setPlatform(&desk);

    const sync::Settings s = sync::loadSettings();
    if (!s.active()) {
        say(stderr, QStringLiteral("No sync server is set up. Choose one in File > Options > Sync server, or name it in "
                                   "%1 (with %2 and, where no keyring runs, %3).")
                        .arg(QLatin1String(sync::kUrlVariable), QLatin1String(sync::kUserVariable),
                             QLatin1String(sync::kPasswordVariable)));
        return 2;
    }
    registerSchemas();
    const QString office = officeDatabase();
    if (!office.isEmpty()) {
        const ServerProbe probe = probeServer(office);
        if (!probe.reached) {
            say(stderr, QStringLiteral("Not synced: %1").arg(probeText(probe)));
            return 1;
        }
    }
    buildConnectionTexts(office);
    if (office.isEmpty())
        for (const QString& notice : CheckDataFiles())
            say(stderr, notice);

    const sync::Password password = sync::findPassword(s.server, s.user);
    const sync::Report r = sync::SyncRunner::runToEnd(sync::jobFor(s, password.value, sConnContacts));
    setPlatform(nullptr);

    if (r.outcome != sync::Outcome::Synced) {
        QString why = sync::whyNot(r, s.server);
        if (r.outcome == sync::Outcome::Refused && !password.known)
            why = QStringLiteral("The sync server %1 wants a password, and none is kept for user %2: save it in File > "
                                 "Options > Sync server, or set %3.")
                      .arg(s.server, s.user, QLatin1String(sync::kPasswordVariable));
        say(stderr, QStringLiteral("Not synced: %1").arg(why));
        return 1;
    }
    const QStringList lines = sync::changeLines(r);
    say(stdout, lines.isEmpty() ? QStringLiteral("Synced with %1: nothing had changed.").arg(s.server)
                                : QStringLiteral("Synced with %1:\n%2").arg(s.server, lines.join(u'\n')));
    if (!r.conflicts.empty()) {
        QStringList asks;
        for (const sync::Conflict& c : r.conflicts)
            asks << QStringLiteral("%1: %2 here \"%3\", there \"%4\"")
                        .arg(c.who, sync::fieldName(c.kind, c.field), c.here, c.there);
        say(stderr, QStringLiteral("%1 changed on both sides and left as it is on both until you choose; press F9 in "
                                   "Kestrel to be asked:\n%2")
                        .arg(r.conflicts.size() == 1 ? QStringLiteral("One value was") : QStringLiteral("%1 values were").arg(r.conflicts.size()),
                             asks.join(u'\n')));
        return 1;
    }
    return 0;
}

} // namespace kestrel
