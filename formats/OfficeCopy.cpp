#include "formats/OfficeCopy.h"

#include "data/ContactFields.h"
#include "data/Database.h"
#include "data/ExchangeStore.h"
#include "data/Globals.h"
#include "data/Office.h"
#include "data/Statement.h"
#include "data/modData.h"


#include <cstdio>

#include <set>

namespace kestrel {

namespace {

// What a target remembers of earlier copies: the local file (by its identity), the table, and
// the local key of each row taken. The office server's schema has it from the start, made by the
// office's group so that every member may use it; another copy of the files gets it here.
const QString kCopiedTable = QStringLiteral(
    "CREATE TABLE IF NOT EXISTS kestrel_copied(source VARCHAR(64) NOT NULL, tbl VARCHAR(32) NOT NULL, "
    "local_id BIGINT NOT NULL, PRIMARY KEY(source, tbl, local_id))");

struct TableCopy {
    const char* table;
    const char* key;
    QStringList columns;
};

// Every field of the shared list, and the active flag, which no import or export carries.
const TableCopy kContacts{"contacts", "id", allContactColumns().split(u',') + QStringList{QStringLiteral("active")}};
const TableCopy kAppointments{"appointments", "autoid",
                              {QStringLiteral("name"), QStringLiteral("address"), QStringLiteral("apptdate"),
                               QStringLiteral("appttime"), QStringLiteral("apptbrief"), QStringLiteral("apptnotes")}};
const TableCopy kTodo{"todo", "id", {QStringLiteral("todo")}};

std::set<qint64> copiedBefore(Connection& target, const QString& source, const char* table)
{
    std::set<qint64> ids;
    Statement q(target, QStringLiteral("SELECT local_id FROM kestrel_copied WHERE source=? AND tbl=?"),
                Statement::Dialect::Native);
    q.bind(1, source);
    q.bind(2, QString::fromLatin1(table));
    while (q.step())
        ids.insert(q.integer(0));
    return ids;
}

// The value as the target should be given it: dates and times in ISO form, yes/no as 1/0 (which
// both engines read into their own types), everything else as stored; null stays null.
QVariant portable(const Statement& row, int column)
{
    if (row.isNull(column))
        return {};
    const QVariant v = row.value(column);
    switch (v.typeId()) {
    case QMetaType::QDate:
        return v.toDate().toString(Qt::ISODate);
    case QMetaType::QTime:
        return v.toTime().toString(QStringLiteral("HH:mm:ss"));
    case QMetaType::Bool:
        return v.toBool() ? QStringLiteral("1") : QStringLiteral("0");
    default:
        return row.text(column);
    }
}

// One local table's rows, keyed by their local id, read whole before the target is written: a
// failure is then plainly this computer's files or plainly the target.
struct LocalRows {
    std::vector<qint64> ids;
    std::vector<QVariantList> values;
};

LocalRows readLocal(Connection& from, const TableCopy& t)
{
    LocalRows rows;
    Statement read(from, QStringLiteral("SELECT %1,%2 FROM %3 ORDER BY %1").arg(QString::fromLatin1(t.key), t.columns.join(u','),
                                                                                 QString::fromLatin1(t.table)),
                   Statement::Dialect::Native);
    while (read.step()) {
        rows.ids.push_back(read.integer(0));
        QVariantList values;
        values.reserve(t.columns.size());
        for (int c = 0; c < t.columns.size(); ++c)
            values << portable(read, c + 1);
        rows.values.push_back(std::move(values));
    }
    return rows;
}

// Writes the rows not copied before; returns how many were copied, and adds the number of those
// skipped to skipped.
int writeTable(Connection& target, const QString& source, const TableCopy& t, const LocalRows& rows, int* skipped)
{
    const std::set<qint64> done = copiedBefore(target, source, t.table);
    Statement insert(target,
                     QStringLiteral("INSERT INTO %1(%2) VALUES(%3)")
                         .arg(QString::fromLatin1(t.table), t.columns.join(u','),
                              QStringLiteral("?,").repeated(t.columns.size() - 1) + u'?'),
                     Statement::Dialect::Native);
    Statement remember(target, QStringLiteral("INSERT INTO kestrel_copied(source,tbl,local_id) VALUES(?,?,?)"),
                       Statement::Dialect::Native);
    int copied = 0;
    for (size_t r = 0; r < rows.ids.size(); ++r) {
        if (done.count(rows.ids[r])) {
            ++*skipped;
            continue;
        }
        for (int c = 0; c < t.columns.size(); ++c) {
            const QVariant& v = rows.values[r][c];
            if (v.isNull())
                insert.bindNull(c + 1);
            else
                insert.bind(c + 1, v.toString());
        }
        insert.run();
        remember.bind(1, source);
        remember.bind(2, QString::fromLatin1(t.table));
        remember.bind(3, std::int64_t(rows.ids[r]));
        remember.run();
        ++copied;
    }
    return copied;
}

} // namespace

OfficeCopyCounts copyLocalData(const QString& fromContacts, const QString& fromMain, const QString& toContacts,
                               const QString& toMain, QString* failedAt)
{
    const QString* at = &fromContacts;
    try {
        // The contacts file's identity names both local files: they were made and live together.
        const QString source = databaseIdentity(fromContacts);
        LocalRows contacts, appointments, todo;
        {
            Connection from(fromContacts);
            contacts = readLocal(from, kContacts);
            appointments = readLocal(from, kAppointments);
        }
        at = &fromMain;
        {
            Connection from(fromMain);
            todo = readLocal(from, kTodo);
        }

        OfficeCopyCounts counts;
        at = &toContacts;
        Connection target(toContacts);
        Transaction tx(target);
        if (isServerConnection(toContacts)) {
            // A second run started meanwhile waits here, then finds this one's rows noted as copied.
            Statement lock(target, QStringLiteral("SELECT pg_advisory_xact_lock(hashtext('kestrel_copy')::bigint)"),
                           Statement::Dialect::Native);
            lock.step();
        } else {
            target.execute(kCopiedTable);
        }
        counts.contacts = writeTable(target, source, kContacts, contacts, &counts.alreadyCopied);
        counts.appointments = writeTable(target, source, kAppointments, appointments, &counts.alreadyCopied);
        if (toMain == toContacts) {
            // The office server: everything in the one transaction.
            counts.todo = writeTable(target, source, kTodo, todo, &counts.alreadyCopied);
            tx.commit();
            return counts;
        }
        // Two local files: both transactions stay open until each is written, then commit back to
        // back; a run that fails between the two commits copies the rest when it is run again.
        at = &toMain;
        Connection targetMain(toMain);
        Transaction txMain(targetMain);
        targetMain.execute(kCopiedTable);
        counts.todo = writeTable(targetMain, source, kTodo, todo, &counts.alreadyCopied);
        at = &toContacts;
        tx.commit();
        at = &toMain;
        txMain.commit();
        return counts;
    } catch (const DbError&) {
        if (failedAt)
            *failedAt = *at;
        throw;
    }
}

QString officeCopySummary(const OfficeCopyCounts& c)
{
    QString s = QStringLiteral("Copied %1 contacts, %2 appointments and %3 to-do items to the office database.")
                    .arg(c.contacts)
                    .arg(c.appointments)
                    .arg(c.todo);
    if (c.alreadyCopied > 0)
        s += QStringLiteral(" %1 already copied by an earlier run were left as they were.").arg(c.alreadyCopied);
    return s;
}

// A message written for a box, fit for a terminal: no question to answer and no word of a change
// typed in a window.
QString commandLineText(const QString& boxText)
{
    QStringList kept;
    for (const QString& line : QString(boxText).replace(QStringLiteral("\r\n"), QStringLiteral("\n")).split(u'\n')) {
        const QString l = line.trimmed();
        if (l.endsWith(u'?') || l.startsWith(QStringLiteral("Nothing was lost")) || l.contains(QStringLiteral("change was not saved")))
            continue;
        kept << line;
    }
    while (!kept.isEmpty() && kept.last().trimmed().isEmpty())
        kept.removeLast();
    return kept.join(u'\n');
}

int copyToOfficeCommand()
{
    const auto say = [](std::FILE* to, const QString& text) {
        std::fputs(qPrintable(text + u'\n'), to);
        std::fflush(to);
    };
    const QString office = officeDatabase();
    if (office.isEmpty()) {
        say(stderr, QStringLiteral("No office database is chosen. Name it in File > Options, or in the environment "
                                   "variable %1, then run this again.").arg(QLatin1String(kOfficeVariable)));
        return 1;
    }
    registerSchemas();
    buildConnectionTexts();
    const QString fromContacts = sConnContacts, fromMain = sConnMain;
    const QString server = serverConnectionText(office);
    // The server is asked first, so that its trouble is told as the server's.
    if (const ServerProbe probe = probeServer(office); !probe.usable()) {
        say(stderr, commandLineText(probeText(probe)) + QStringLiteral("\nNothing was copied."));
        return 1;
    }
    QString failedAt;
    try {
        say(stdout, officeCopySummary(copyLocalData(fromContacts, fromMain, server, server, &failedAt)));
        return 0;
    } catch (const DbError& e) {
        const QString plain = MachineFaultText(e, isServerConnection(failedAt) ? failedAt : dataSourcePath(failedAt));
        say(stderr, (plain.isEmpty() ? e.description() : commandLineText(plain)) +
                        QStringLiteral("\nNothing was copied by this run; run kestrel --copy-to-office again once that "
                                       "is mended (what an earlier run copied is not copied twice)."));
        return 1;
    }
}

} // namespace kestrel
