#include "data/Office.h"

#include "data/PgEngine.h"
#include "data/PgSchema.h"
#include "platform/Platform.h"

#include <libpq-fe.h>

#include <QRegularExpression>

#include <memory>

namespace kestrel {

bool isServerConnection(const QString& connectionText)
{
    return connectionText.startsWith(kServerProvider, Qt::CaseInsensitive);
}

QString serverConnectionText(const QString& conninfo) { return kServerProvider + conninfo.trimmed(); }

QString serverConninfo(const QString& connectionText)
{
    return isServerConnection(connectionText) ? connectionText.mid(kServerProvider.size()).trimmed() : QString();
}

namespace {
const QString kOfficeSection = QStringLiteral("Office");
const QString kOfficeKey = QStringLiteral("Database");

struct PgClose {
    void operator()(PGconn* c) const { PQfinish(c); }
};

QString pgText(const char* text) { return text ? QString::fromUtf8(text).trimmed() : QString(); }
} // namespace

QString storedOfficeDatabase() { return platform().getSetting(kAppTitle, kOfficeSection, kOfficeKey).trimmed(); }

void saveOfficeDatabase(const QString& conninfo)
{
    platform().saveSetting(kAppTitle, kOfficeSection, kOfficeKey, conninfo.trimmed());
}

bool officeDatabaseFromEnvironment() { return qEnvironmentVariableIsSet(kOfficeVariable); }

QString officeDatabase()
{
    return officeDatabaseFromEnvironment() ? qEnvironmentVariable(kOfficeVariable).trimmed() : storedOfficeDatabase();
}

ServerProbe probeServer(const QString& conninfo)
{
    ServerProbe probe;
    const QByteArray info = conninfo.trimmed().toUtf8();
    char* parseError = nullptr;
    PQconninfoOption* options = PQconninfoParse(info.constData(), &parseError);
    const QString parseWhy = pgText(parseError);
    PQfreemem(parseError);
    if (options) {
        PQconninfoFree(options);
    } else if (info.contains('=')) { // without one, libpq takes the text for a database name
        probe.unreadable = true;
        probe.why = parseWhy;
        return probe;
    }
    // The string comes last, so a connect_timeout or application_name it names wins.
    const char* const keys[] = {"connect_timeout", "fallback_application_name", "dbname", nullptr};
    const char* const values[] = {"10", "Kestrel", info.constData(), nullptr};
    const std::unique_ptr<PGconn, PgClose> conn(PQconnectdbParams(keys, values, 1));
    if (!conn) {
        probe.why = QStringLiteral("out of memory");
        return probe;
    }
    const QString host = pgText(PQhost(conn.get()));
    const QString port = pgText(PQport(conn.get()));
    probe.server = port.isEmpty() || host.isEmpty() ? host : host + u':' + port;
    probe.database = pgText(PQdb(conn.get()));
    probe.user = pgText(PQuser(conn.get()));
    if (PQstatus(conn.get()) != CONNECTION_OK) {
        probe.needsPassword = PQconnectionNeedsPassword(conn.get()) != 0;
        probe.why = pgText(PQerrorMessage(conn.get()));
        return probe;
    }
    probe.reached = true;
    // The role the server granted, which a service file or the login name may have chosen.
    if (PGresult* r = PQexec(conn.get(), "SELECT current_user")) {
        if (PQresultStatus(r) == PGRES_TUPLES_OK && PQntuples(r) == 1)
            probe.user = pgText(PQgetvalue(r, 0, 0));
        PQclear(r);
    }
    try {
        probe.notUsable = pg::schemaProblem(pg::installedSchemaVersion(conn.get()));
    } catch (const DbError& e) {
        probe.notUsable = e.description();
    }
    return probe;
}

bool conninfoHasPassword(const QString& conninfo)
{
    const QByteArray info = conninfo.trimmed().toUtf8();
    char* err = nullptr;
    PQconninfoOption* options = PQconninfoParse(info.constData(), &err);
    PQfreemem(err);
    bool found = false;
    for (PQconninfoOption* o = options; o && o->keyword; ++o)
        found = found || (qstrcmp(o->keyword, "password") == 0 && o->val && *o->val);
    PQconninfoFree(options);
    // A string libpq cannot read is still searched: it may be refused for its password first.
    static const QRegularExpression loose(QStringLiteral("(^|\\s)password\\s*=|://[^/@\\s]*:[^/@\\s]*@"),
                                          QRegularExpression::CaseInsensitiveOption);
    return found || (!options && loose.match(conninfo).hasMatch());
}

QString conninfoWithoutPassword(const QString& conninfo)
{
    const QByteArray info = conninfo.trimmed().toUtf8();
    char* err = nullptr;
    PQconninfoOption* options = PQconninfoParse(info.constData(), &err);
    PQfreemem(err);
    if (!options) {
        // Unreadable to libpq, so kept as typed but for anything that looks like a password.
        static const QRegularExpression pair(QStringLiteral("(^|\\s)password\\s*=\\s*('([^'\\\\]|\\\\.)*'?|\\S*)"),
                                             QRegularExpression::CaseInsensitiveOption);
        static const QRegularExpression inUri(QStringLiteral("(://[^/@\\s:]*):[^/@\\s]*@"));
        return QString(conninfo).replace(pair, QString()).replace(inUri, QStringLiteral("\\1@")).simplified();
    }
    // Every value given but the password, in libpq's own quoting (a URI becomes key=value pairs).
    QStringList kept;
    for (PQconninfoOption* o = options; o->keyword; ++o) {
        if (!o->val || qstrcmp(o->keyword, "password") == 0)
            continue;
        QString value = QString::fromUtf8(o->val);
        value.replace(u'\\', QStringLiteral("\\\\")).replace(u'\'', QStringLiteral("\\'"));
        const bool plain = !value.isEmpty() && !value.contains(u' ') && value == QString::fromUtf8(o->val);
        kept << QString::fromLatin1(o->keyword) + u'=' + (plain ? value : u'\'' + value + u'\'');
    }
    PQconninfoFree(options);
    return kept.join(u' ');
}

QString probeText(const ServerProbe& probe)
{
    const QString where = probe.server.isEmpty() ? QString() : QStringLiteral(" on %1").arg(probe.server);
    if (probe.reached && !probe.notUsable.isEmpty()) {
        const bool member = !probe.notUsable.contains(QStringLiteral("kestrel_office"));
        return QStringLiteral("Kestrel reached the office database %1%2 as user %3, but cannot use it: %4.\n\n%5")
            .arg(probe.database, where, probe.user, probe.notUsable,
                 member ? QStringLiteral("The server's administrator must run kestrel --init-office for it once.")
                        : QStringLiteral("The server's administrator must make %1 a member: GRANT kestrel_office TO %1;")
                              .arg(probe.user));
    }
    if (probe.reached)
        return QStringLiteral("Kestrel reached the office database %1%2 as user %3.")
            .arg(probe.database, where, probe.user);
    if (probe.unreadable)
        return QStringLiteral("Kestrel cannot read the office database's connection string: %1.").arg(probe.why);
    if (probe.needsPassword)
        return QStringLiteral("The office database %1%2 wants a password for user %3, and none was found. Kestrel "
                              "never stores passwords: put it in your .pgpass file.")
            .arg(probe.database, where, probe.user);
    // libpq's words name the cause (no such host, refused, no such database or role, TLS); its
    // indented hints go on their own lines.
    QString why = probe.why;
    why.replace(QStringLiteral("\n\t"), QStringLiteral("\n"));
    return QStringLiteral("Kestrel could not reach the office database%1.\n\n%2").arg(where, why);
}

} // namespace kestrel
