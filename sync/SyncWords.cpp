#include "sync/SyncWords.h"

#include "data/modData.h"

#include <QHash>

namespace kestrel::sync {

namespace {
QString count(int n, const char* one, const char* many)
{
    return QStringLiteral("%1 %2").arg(n).arg(QLatin1String(n == 1 ? one : many));
}

QString shown(const QString& value)
{
    if (value.isEmpty())
        return QStringLiteral("(empty)");
    QString v = value;
    v.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    if (v.size() > 300)
        v = v.left(300) + QStringLiteral("\u2026");
    return u'"' + v + u'"';
}
// A series' changed days by the day each replaces and what it became, not as they are kept; a
// side without that day of its own by what it has for the day.
QString shownValue(const Conflict& c, const QString& value, const QString& without)
{
    if (c.kind != SyncKind::Appointments || !c.field.startsWith(QLatin1String("overrides")))
        return shown(value);
    if (value.isEmpty())
        return shown(without);
    QStringList days;
    for (const QStringList& d : decodeOverrides(value))
        days << QStringLiteral("%1: %2 %3").arg(DateText(QDate::fromString(d.value(0), Qt::ISODate)),
                                               DateText(QDate::fromString(d.value(1 + kSyncDate), Qt::ISODate)),
                                               d.value(1 + 4));
    return shown(days.join(QStringLiteral("; ")));
}
} // namespace

QString whyNot(const Report& r, const QString& server)
{
    switch (r.outcome) {
    case Outcome::Synced:
        return {};
    case Outcome::Stopped:
        return QStringLiteral("The sync was stopped before it finished. What it had done is kept; the next sync "
                              "finishes the rest.");
    case Outcome::Unreachable:
        return QStringLiteral("Kestrel could not reach the sync server %1 (%2). Nothing was lost: the next sync "
                              "picks up where this one stopped.").arg(server, r.detail);
    case Outcome::Refused:
        return QStringLiteral("The sync server %1 refused the user name or password. Check them in File > Options > "
                              "Sync server.").arg(server);
    case Outcome::Missing:
        return QStringLiteral("The address book or calendar chosen for the sync is no longer on the server %1. "
                              "Choose another in File > Options > Sync server.").arg(server);
    case Outcome::ServerFault:
        return QStringLiteral("The sync server %1 answered with an error (%2). Nothing was lost: the next sync "
                              "tries again.").arg(server, r.detail);
    case Outcome::Busy:
        return QStringLiteral("Another running copy of Kestrel is syncing with the same address book or calendar "
                              "right now; this sync was left out.");
    case Outcome::DataFault:
        return QStringLiteral("The sync could not use the contacts database (%1). Nothing was lost: the next sync "
                              "tries again.").arg(r.detail);
    case Outcome::Distrusted:
        return QStringLiteral("The sync server %1 %2. Kestrel went no further, so your password and contacts stay "
                              "where they were; nothing was lost. Check the server's address in File > Options > "
                              "Sync server.").arg(server, r.detail);
    }
    return {};
}

QString statusLine(const Report& r, const QDateTime& at)
{
    const QString time = at.time().toString(QStringLiteral("h:mm AP"));
    switch (r.outcome) {
    case Outcome::Synced:
        if (!r.conflicts.empty())
            return QStringLiteral("Synced %1; %2 wait for your answer").arg(time, count(int(r.conflicts.size()), "change", "changes"));
        return QStringLiteral("Synced %1").arg(time);
    case Outcome::Stopped:
        return QStringLiteral("Sync stopped");
    case Outcome::Unreachable:
        return QStringLiteral("Not synced: server not reached");
    case Outcome::Refused:
        return QStringLiteral("Not synced: password refused");
    case Outcome::Missing:
        return QStringLiteral("Not synced: address book or calendar gone");
    case Outcome::ServerFault:
        return QStringLiteral("Not synced: the server reported an error");
    case Outcome::Busy:
        return QStringLiteral("Not synced: another copy is syncing");
    case Outcome::DataFault:
        return QStringLiteral("Not synced: database not usable");
    case Outcome::Distrusted:
        return QStringLiteral("Not synced: the server's answer was not followed");
    }
    return {};
}

QStringList changeLines(const Report& r)
{
    QStringList lines;
    if (r.broughtIn)
        lines << QStringLiteral("%1 from the server").arg(count(r.broughtIn, "item taken", "items taken"));
    if (r.sentOut)
        lines << QStringLiteral("%1 to the server").arg(count(r.sentOut, "item sent", "items sent"));
    if (r.removedHere)
        lines << QStringLiteral("%1 on the server, moved to the trash here (Edit > Trash restores them)")
                     .arg(count(r.removedHere, "item deleted", "items deleted"));
    if (r.removedThere)
        lines << QStringLiteral("%1 here, deleted on the server").arg(count(r.removedThere, "item deleted", "items deleted"));
    lines += r.notes;
    return lines;
}

QString fieldName(SyncKind kind, const QString& column)
{
    static const QHash<QString, QString> contacts = {
        {QStringLiteral("lastname"), QStringLiteral("Last name")},   {QStringLiteral("firstname"), QStringLiteral("First name")},
        {QStringLiteral("company"), QStringLiteral("Company")},      {QStringLiteral("address"), QStringLiteral("Address")},
        {QStringLiteral("city"), QStringLiteral("City")},            {QStringLiteral("st"), QStringLiteral("State")},
        {QStringLiteral("zip"), QStringLiteral("Zip")},              {QStringLiteral("homeph"), QStringLiteral("Home phone")},
        {QStringLiteral("cellph"), QStringLiteral("Cell phone")},    {QStringLiteral("workph"), QStringLiteral("Work phone")},
        {QStringLiteral("ext"), QStringLiteral("Extension")},        {QStringLiteral("email"), QStringLiteral("E-mail")},
        {QStringLiteral("contype"), QStringLiteral("Contact type")}};
    static const QHash<QString, QString> appointments = {
        {QStringLiteral("name"), QStringLiteral("With")},       {QStringLiteral("address"), QStringLiteral("Where")},
        {QStringLiteral("apptdate"), QStringLiteral("Date")},   {QStringLiteral("appttime"), QStringLiteral("Time")},
        {QStringLiteral("apptbrief"), QStringLiteral("Brief description")}, {QStringLiteral("apptnotes"), QStringLiteral("Notes")},
        {QStringLiteral("enddate"), QStringLiteral("Last day")},  {QStringLiteral("endtime"), QStringLiteral("Until")},
        {QStringLiteral("allday"), QStringLiteral("All day")},    {QStringLiteral("cancelled"), QStringLiteral("Cancelled")},
        {QStringLiteral("rrule"), QStringLiteral("Repeats")},     {QStringLiteral("exdates"), QStringLiteral("Days left out")},
        {QStringLiteral("overrides"), QStringLiteral("Days changed on their own")}};
    const auto& names = kind == SyncKind::Contacts ? contacts : appointments;
    // One of a series' days changed on their own is asked about under the name of them all.
    const QString field = kind == SyncKind::Appointments && column.startsWith(QLatin1String("overrides/"))
                              ? QStringLiteral("overrides")
                              : column;
    return names.value(field, field);
}

QString conflictQuestion(const Conflict& c)
{
    const QString what = c.kind == SyncKind::Contacts ? QStringLiteral("contact") : QStringLiteral("appointment");
    return QStringLiteral("Someone else changed this %1 (%2) on the sync server after the last sync.\n\n"
                          "%3 here: %4\n%3 there: %5\n\n"
                          "Save your changes over theirs? (No takes theirs.)")
        .arg(what, c.who, fieldName(c.kind, c.field), shownValue(c, c.here, c.hereWithout), shownValue(c, c.there, c.thereWithout));
}

} // namespace kestrel::sync
