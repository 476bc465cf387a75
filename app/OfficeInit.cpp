#include "app/OfficeInit.h"

#include "data/Database.h"
#include "data/Office.h"
#include "data/PgEngine.h"

#include <cstdio>

namespace kestrel {

int initOfficeCommand(const QString& given)
{
    const auto say = [](std::FILE* to, const QString& text) {
        std::fputs(qPrintable(text + u'\n'), to);
        std::fflush(to);
    };
    const QString conninfo = given.isEmpty() ? officeDatabase() : given;
    if (conninfo.isEmpty()) {
        say(stderr, QStringLiteral("No office database is named. Run it as the server's administrator with the "
                                   "database in the environment variable %1, such as:\n  %1='host=db.example "
                                   "dbname=kestrel user=postgres' kestrel --init-office")
                        .arg(QLatin1String(kOfficeVariable)));
        return 1;
    }
    const QString server = pg::serverName(serverConnectionText(conninfo));
    try {
        const OfficeSetUp done = setUpOfficeDatabase(conninfo);
        if (!done.refused.isEmpty()) {
            say(stderr, done.refused);
            return 1;
        }
        say(stdout, QStringLiteral("The office database %1 is set up for Kestrel.").arg(server));
        for (const QString& line : done.said)
            say(stdout, QStringLiteral("- ") + line);
        return 0;
    } catch (const DbError& e) {
        const QString why = e.fault() == Fault::Unreachable
                                ? QStringLiteral("Kestrel could not reach the office database %1: %2").arg(server, e.description())
                                : QStringLiteral("The server refused the set-up of %1: %2").arg(server, e.description());
        say(stderr, why + QStringLiteral("\nKestrel's tables were left as they were; run it again once the cause is "
                                         "put right."));
        return 1;
    }
}

} // namespace kestrel
