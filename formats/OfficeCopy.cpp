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
// both engines read into their own types), everything else as stored.
void bindValue(Statement& st, int index, const Statement& row, int column)
{
    if (row.isNull(column)) {
        st.bindNull(index);
        return;
    }
    const QVariant v = row.value(column);
    switch (v.typeId()) {
    case QMetaType::QDate:
        st.bind(index, v.toDate().toString(Qt::ISODate));
        break;
    case QMetaType::QTime:
        st.bind(index, v.toTime().toString(QStringLiteral("HH:mm:ss")));
        break;
    case QMetaType::Bool:
        st.bind(index, v.toBool() ? QStringLiteral("1") : QStringLiteral("0"));
        break;
    default:
        st.bind(index, row.text(column));
    }
}

// Copies the rows of one table not copied before; returns how many were copied, and adds the
// number of those skipped to skipped.
int copyTable(Connection& from, Connection& target, const QString& source, const TableCopy& t, int* skipped)
{
    const std::set<qint64> done = copiedBefore(target, source, t.table);
    const QString cols = t.columns.join(u',');
    Statement read(from, QStringLiteral("SELECT %1,%2 FROM %3 ORDER BY %1").arg(QString::fromLatin1(t.key), cols,
                                                                                 QString::fromLatin1(t.table)),
                   Statement::Dialect::Native);
    Statement insert(target,
                     QStringLiteral("INSERT INTO %1(%2) VALUES(%3)")
                         .arg(QString::fromLatin1(t.table), cols, QStringLiteral("?,").repeated(t.columns.size() - 1) + u'?'),
                     Statement::Dialect::Native);
    Statement remember(target, QStringLiteral("INSERT INTO kestrel_copied(source,tbl,local_id) VALUES(?,?,?)"),
                       Statement::Dialect::Native);
    int copied = 0;
    while (read.step()) {
        const qint64 id = read.integer(0);
        if (done.count(id)) {
            ++*skipped;
            continue;
        }
        for (int c = 0; c < t.columns.size(); ++c)
            bindValue(insert, c + 1, read, c + 1);
        insert.run();
        remember.bind(1, source);
        remember.bind(2, QString::fromLatin1(t.table));
        remember.bind(3, std::int64_t(id));
        remember.run();
        ++copied;
    }
    return copied;
}

} // namespace

OfficeCopyCounts copyLocalData(const QString& fromContacts, const QString& fromMain, const QString& toContacts,
                               const QString& toMain)
{
    // The contacts file's identity names both local files: they were made and live together.
    const QString source = databaseIdentity(fromContacts);
    OfficeCopyCounts counts;
    {
        Connection from(fromContacts);
        Connection target(toContacts);
        Transaction tx(target);
        if (!isServerConnection(toContacts))
            target.execute(kCopiedTable);
        counts.contacts = copyTable(from, target, source, kContacts, &counts.alreadyCopied);
        counts.appointments = copyTable(from, target, source, kAppointments, &counts.alreadyCopied);
        tx.commit();
    }
    {
        Connection from(fromMain);
        Connection target(toMain);
        Transaction tx(target);
        if (!isServerConnection(toMain))
            target.execute(kCopiedTable);
        counts.todo = copyTable(from, target, source, kTodo, &counts.alreadyCopied);
        tx.commit();
    }
    return counts;
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
    try {
        say(stdout, officeCopySummary(copyLocalData(fromContacts, fromMain, server, server)));
        return 0;
    } catch (const DbError& e) {
        say(stderr, officeCopyFailure(e));
        return 1;
    }
}

QString officeCopyFailure(const DbError& e)
{
    // The failure names what failed, the server or a local file, and asks nothing: no one is
    // there to answer a command line's question.
    QString plain = MachineFaultNotice(e);
    if (plain.isEmpty())
        plain = e.description();
    plain.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return QStringLiteral("Nothing more was copied. ") + plain;
}

} // namespace kestrel
