#include "exchange/ImportRecovery.h"

#include "data/Database.h"
#include "data/Globals.h"
#include "data/ImportLog.h"
#include "data/modData.h"
#include "exchange/modImport.h"
#include "exchange/modTempDB.h"
#include "platform/Platform.h"
#include "ui/Report.h"

#include <QLocale>

namespace kestrel {

namespace {
QString number(qint64 n) { return QLocale(QLocale::English).toString(n); }
const char kHolder = 0; // the scratch file's holder while a stopped import is dealt with
} // namespace

QString stoppedImportQuestion(const ImportRun& run, bool canFinish)
{
    const QString head = QStringLiteral("An import of %1 contacts from %2 stopped after %3.")
                             .arg(number(run.total), run.source.isEmpty() ? QStringLiteral("a file") : run.source,
                                  number(run.arrived));
    if (canFinish)
        return head + QStringLiteral(" Finish it, take it back, or keep what came in?");
    return head + QStringLiteral(" The rows it still had to add are no longer on this computer. Take it back, or keep "
                                 "what came in?");
}

void offerUnfinishedImports()
{
    if (!DataWritable(sConnContacts))
        return;
    std::vector<ImportRun> runs;
    try {
        Connection contacts(sConnContacts);
        runs = unfinishedImports(contacts);
    } catch (const std::exception&) {
        // Data that cannot be read is told of by the lists that read it.
        return;
    }
    if (runs.empty())
        return;
    // A copy of Kestrel importing from this folder right now holds the scratch file: its import
    // has not stopped.
    if (!acquireScratch(&kHolder))
        return;
    try {
        Connection contacts(sConnContacts);
        for (const ImportRun& run : runs) {
            // On the office server: an import another computer of this user still runs.
            if (!claimImport(contacts, run.id))
                continue;
            const bool canFinish = CanFinishImport(run);
            QStringList buttons{QStringLiteral("&Take Back"), QStringLiteral("&Keep")};
            if (canFinish)
                buttons.prepend(QStringLiteral("&Finish"));
            const int choice = platform().askChoice(stoppedImportQuestion(run, canFinish), buttons, 0);
            const QString picked = choice < 0 ? QString() : buttons[choice];
            if (picked == u"&Finish") {
                ImportSummary sum;
                platform().setBusyCursor(true);
                const bool finished = FinishImport(run, &sum);
                platform().setBusyCursor(false);
                if (finished)
                    platform().msgBox(QStringLiteral("The import from %1 is finished.\n\n").arg(run.source) + summaryText(sum));
            } else if (picked == u"&Take Back") {
                qint64 gone = 0;
                if (RunAction(sConnContacts, [&] { gone = takeBackImport(contacts, run.id); }))
                    platform().msgBox(QStringLiteral("The %1 contacts the import from %2 had added were taken back.")
                                          .arg(number(gone), run.source));
            } else if (picked == u"&Keep") {
                RunAction(sConnContacts, [&] { endImport(contacts, run.id, QStringLiteral("kept")); });
            }
            releaseImport(contacts, run.id);
        }
    } catch (const std::exception& e) {
        ReportFailure(e, QStringLiteral("offerUnfinishedImports"), Owner::Module, QStringLiteral("modImport"));
    }
    releaseScratch(&kHolder);
}

} // namespace kestrel
