// What the data layer found, told to the user: DbError and a guarded save's outcome become plain
// words, a question where the user can choose a way on, or the report of a program fault.
#include "ui/Report.h"

#include "data/Database.h"
#include "data/Office.h"
#include "platform/Platform.h"

#include <QUrl>

namespace kestrel {

bool ActionQuery(const QString& statement, const QString& connectionText)
{
    return RunAction(connectionText, [&] { ExecuteAction(statement, connectionText); });
}

int ActionQueryCount(const QString& statement, const QString& connectionText)
{
    int changed = -1;
    const bool applied = RunAction(connectionText, [&] { changed = ExecuteAction(statement, connectionText); });
    return applied ? changed : -1;
}

bool RunAction(const QString& connectionText, const std::function<void()>& action, const QString& procedure,
               Owner kind, const QString& owner)
{
    for (;;) {
        try {
            action();
            endBusyWait();
            return true;
        } catch (const DbError& e) {
            endBusyWait();
            const QString path = isServerConnection(connectionText) ? connectionText : dataSourcePath(connectionText);
            bool canRetry = false;
            const QString words = MachineFaultText(e, path, &canRetry);
            if (words.isEmpty()) {
                ReportBug(ErrorReport(e, procedure, kind, owner) + QStringLiteral("\r\n"));
                return false;
            }
            // Trying again helps once the other copy is done or space is freed.
            if (canRetry) {
                if (platform().askYesNo(words))
                    continue;
                return false;
            }
            platform().msgBox(words);
            return false;
        } catch (const std::exception& e) {
            endBusyWait();
            ReportBug(ErrorReport(e, procedure, kind, owner) + QStringLiteral("\r\n"));
            return false;
        }
    }
}

void ReportBug(const QString& text)
{
    platform().msgBox(text + QStringLiteral("Please make note of this and report this bug to help make this software better."));
}

QString MachineFaultWords(const std::exception& e, bool* toldAtStart)
{
    const auto* db = dynamic_cast<const DbError*>(&e);
    if (toldAtStart)
        *toldAtStart = db && FaultToldAtStart(*db);
    return db ? MachineFaultNotice(*db) : QString();
}

void ReportFailure(const std::exception& e, const QString& procedure, Owner kind, const QString& owner, ReportAs as)
{
    // A condition of the machine is no fault of the program: plain words and what to do, and
    // nothing at all for what start-up has already said.
    bool told = false;
    if (const QString words = MachineFaultWords(e, &told); told || !words.isEmpty()) {
        if (!told)
            platform().msgBox(words);
        return;
    }
    const QString report = ErrorReport(e, procedure, kind, owner);
    if (as == ReportAs::Bug)
        ReportBug(report + QStringLiteral("\r\n"));
    else
        platform().msgBox(report);
}

GuardedSave GuardedUpdate(const QString& connectionText, const RowKey& row, const QString& seenVersion,
                          const QString& updateStatement)
{
    GuardedSave result;
    if (!RunAction(connectionText, [&] { result = saveIfUnchanged(connectionText, row, seenVersion, updateStatement); }))
        result = GuardedSave{};
    return result;
}

SaveOutcome SaveEditedRow(const QString& connectionText, const RowKey& row, QString& seenVersion,
                          const QString& updateStatement, const QString& what)
{
    for (;;) {
        const GuardedSave saved = GuardedUpdate(connectionText, row, seenVersion, updateStatement);
        if (saved.outcome != SaveOutcome::Changed)
            return saved.outcome;
        if (!platform().askYesNo(QStringLiteral("Someone else changed this %1 after this window opened.\n\n"
                                                "Save your changes over theirs? (No keeps this window open with "
                                                "what you typed.)").arg(what)))
            return SaveOutcome::Changed;
        seenVersion = saved.current;
    }
}

void forgetStoredPassword()
{
    if (officeDatabaseFromEnvironment())
        return;
    const QString kept = storedOfficeDatabase();
    if (!conninfoHasPassword(kept))
        return;
    saveOfficeDatabase(conninfoWithoutPassword(kept));
    platform().msgBox(QStringLiteral(
        "An earlier version of Kestrel kept the office database's password in its settings. It has been taken out of "
        "them, so Kestrel asks for it at this start.\n\nTo be spared the question, put it in the file .pgpass in your "
        "home folder, one line host:port:database:user:password, readable by you alone (chmod 600 ~/.pgpass), or let "
        "Kestrel keep it in the desktop's keyring when it offers to."));
}

std::optional<QString> reachOfficeDatabase(const QString& conninfo)
{
    // The keyring knows the password by the connection string it is for (which holds none).
    const QString secretKey = QStringLiteral("office database: ") + conninfo.trimmed();
    QString password;
    bool fromKeyring = false, triedKeyring = false;
    for (;;) {
        QString attempt = conninfo;
        if (!password.isEmpty() && conninfo.contains(QStringLiteral("://"))) {
            attempt += (conninfo.contains(u'?') ? u'&' : u'?') + QStringLiteral("password=") +
                       QString::fromLatin1(QUrl::toPercentEncoding(password));
        } else if (!password.isEmpty()) {
            // libpq's quoting: the value in apostrophes, with apostrophes and backslashes escaped.
            QString quoted = password;
            quoted.replace(u'\\', QStringLiteral("\\\\")).replace(u'\'', QStringLiteral("\\'"));
            attempt += QStringLiteral(" password='") + quoted + u'\'';
        }
        platform().setBusyCursor(true);
        const ServerProbe probe = probeServer(attempt);
        platform().setBusyCursor(false);
        if (probe.usable()) {
            if (!password.isEmpty() && !fromKeyring && platform().hasKeyring() &&
                platform().askYesNo(QStringLiteral("Keep this password in the desktop's keyring, so that Kestrel need "
                                                   "not ask for it at the next start? Kestrel's own settings never "
                                                   "hold it.")))
                platform().saveSecret(secretKey, password);
            return attempt;
        }
        if (fromKeyring && !probe.reached) {
            // The password kept was refused (changed on the server since): it is forgotten and asked for.
            platform().forgetSecret(secretKey);
            fromKeyring = false;
            password = platform().passwordBox(QStringLiteral("The password kept in the desktop's keyring for user %1 was "
                                                             "refused by the office database %2 on %3. The password:")
                                                  .arg(probe.user, probe.database, probe.server));
            if (!password.isEmpty())
                continue;
        }
        if (probe.needsPassword && password.isEmpty()) {
            if (!triedKeyring) {
                triedKeyring = true;
                password = platform().readSecret(secretKey);
                fromKeyring = !password.isEmpty();
                if (fromKeyring)
                    continue;
            }
            password = platform().passwordBox(QStringLiteral("The office database %1 on %2 wants the password of user %3:")
                                                  .arg(probe.database, probe.server, probe.user));
            if (!password.isEmpty())
                continue;
        }
        password.clear();
        fromKeyring = false;
        if (platform().askYesNo(probeText(probe) + QStringLiteral("\n\nTry again?")))
            continue;
        // The local files are this computer's own: what the office shares is not in them.
        if (platform().askYesNo(QStringLiteral("Start with the local files on this computer this time? They do not "
                                               "hold the office's contacts and appointments.\n\nNo ends Kestrel.")))
            return QString();
        return std::nullopt;
    }
}

} // namespace kestrel
