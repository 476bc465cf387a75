#include "data/History.h"

#include "data/Database.h"
#include "data/Statement.h"
#include "data/modData.h"

#include <pwd.h>
#include <unistd.h>

namespace kestrel {

namespace {

const QString kColumns = QStringLiteral("id,contact_id,kind,direction,histdate,histtime,duration,subject,note,outcome,"
                                        "author,created,changed,appt_id,contact_name");
// Newest first; the index on (contact, date, time, id) is walked backwards for it.
const QString kNewestFirst = QStringLiteral(" order by histdate desc, histtime desc, id desc");

QString stamp(const QDateTime& now) { return now.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")); }

QString timeLiteral(const QTime& t) { return t.isValid() ? u'#' + TimeText(t) + u'#' : QStringLiteral("Null"); }

QString durationLiteral(int minutes) { return minutes < 0 ? QStringLiteral("Null") : QString::number(minutes); }

// The contact's name as the history keeps it: "First Last", either part alone where the other is empty.
QString nameOf(int contactId)
{
    return QStringLiteral("(select trim(coalesce(firstname,'') + ' ' + coalesce(lastname,'')) from contacts where id=") +
           QString::number(contactId) + u')';
}

HistoryEntry entryAt(const Snapshot& rs)
{
    HistoryEntry e;
    e.id = rs.field(0).toLongLong();
    e.contactId = rs.field(1).toInt();
    e.kind = rs.text(2);
    e.direction = rs.text(3);
    e.date = rs.field(4).toDate();
    e.time = rs.field(5).toTime();
    e.duration = rs.field(6).isNull() ? -1 : rs.field(6).toInt();
    e.subject = rs.text(7);
    e.note = rs.text(8);
    e.outcome = rs.text(9);
    e.author = rs.text(10);
    e.created = rs.text(11).left(19);
    e.changed = rs.text(12).left(19);
    e.apptId = rs.field(13).toLongLong();
    e.contactName = rs.text(14);
    return e;
}

std::vector<HistoryEntry> entries(const QString& connectionText, const QString& sql)
{
    Connection connection(connectionText);
    std::vector<HistoryEntry> out;
    for (Snapshot rs(connection, sql); !rs.eof(); rs.moveNext())
        out.push_back(entryAt(rs));
    return out;
}

} // namespace

bool kindHasDirection(const QString& kind)
{
    return kind == u"Call" || kind == u"E-mail" || kind == u"Letter";
}

QString HistoryInsertStatement(const HistoryEntry& e, const QString& author, const QDateTime& now)
{
    const QString at = stamp(now);
    return QStringLiteral("INSERT into history(contact_id,kind,direction,histdate,histtime,duration,subject,note,outcome,"
                          "author,created,changed,contact_name)values(") +
           QString::number(e.contactId) + QStringLiteral(",'") + Quoted(e.kind) + QStringLiteral("','") +
           Quoted(e.direction) + QStringLiteral("',#") + DateText(e.date) + QStringLiteral("#,") + timeLiteral(e.time) +
           u',' + durationLiteral(e.duration) + QStringLiteral(",'") + Quoted(e.subject) + QStringLiteral("','") +
           Quoted(e.note) + QStringLiteral("','") + Quoted(e.outcome) + QStringLiteral("','") + Quoted(author) +
           QStringLiteral("','") + at + QStringLiteral("','") + at + QStringLiteral("',") + nameOf(e.contactId) + u')';
}

QString HistoryUpdateStatement(const HistoryEntry& e, const QDateTime& now)
{
    return QStringLiteral("UPDATE history set kind='") + Quoted(e.kind) + QStringLiteral("',direction='") +
           Quoted(e.direction) + QStringLiteral("',histdate=#") + DateText(e.date) + QStringLiteral("#,histtime=") +
           timeLiteral(e.time) + QStringLiteral(",duration=") + durationLiteral(e.duration) + QStringLiteral(",subject='") +
           Quoted(e.subject) + QStringLiteral("',note='") + Quoted(e.note) + QStringLiteral("',outcome='") +
           Quoted(e.outcome) + QStringLiteral("',changed='") + stamp(now) + QStringLiteral("' where id=") +
           QString::number(e.id);
}

QString HistoryDeleteStatement(qint64 id) { return QStringLiteral("delete from history where id=") + QString::number(id); }

RowKey historyRow(qint64 id) { return {QStringLiteral("history"), QStringLiteral("id"), id}; }

QString LastContactColumn()
{
    // Kept on the row by the database's own triggers from the history (both engines).
    return QStringLiteral("contacts.lastcontact");
}

QString loginName()
{
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_name)
        return QString::fromLocal8Bit(pw->pw_name);
    return qEnvironmentVariable("USER");
}

std::vector<HistoryEntry> latestHistory(const QString& connectionText, int contactId, int limit)
{
    return entries(connectionText, QStringLiteral("select ") + kColumns + QStringLiteral(" from history where contact_id=") +
                                       QString::number(contactId) + kNewestFirst + QStringLiteral(" limit ") +
                                       QString::number(limit));
}

std::vector<HistoryEntry> contactHistory(const QString& connectionText, int contactId, const QString& kind)
{
    QString where = contactId > 0 ? QStringLiteral(" where contact_id=") + QString::number(contactId)
                                  : QStringLiteral(" where (contact_id is null or not exists (select 1 from contacts "
                                                   "where contacts.id=history.contact_id))");
    if (!kind.isEmpty())
        where += QStringLiteral(" and kind='") + Quoted(kind) + u'\'';
    return entries(connectionText, QStringLiteral("select ") + kColumns + QStringLiteral(" from history") + where + kNewestFirst);
}

std::optional<HistoryEntry> historyEntry(const QString& connectionText, qint64 id)
{
    auto found = entries(connectionText,
                         QStringLiteral("select ") + kColumns + QStringLiteral(" from history where id=") + QString::number(id));
    if (found.empty())
        return std::nullopt;
    return std::move(found.front());
}

int historyCount(const QString& connectionText, int contactId)
{
    Connection connection(connectionText);
    Snapshot rs(connection, QStringLiteral("select count(*) from history where contact_id=") + QString::number(contactId));
    return rs.eof() ? 0 : rs.field(0).toInt();
}

QString contactName(const QString& connectionText, int contactId)
{
    Connection connection(connectionText);
    Snapshot rs(connection, nameOf(contactId).mid(1).chopped(1));
    return rs.eof() ? QString() : rs.text(0);
}

QString StampText(const QString& stored)
{
    const QDateTime at = QDateTime::fromString(stored.left(19), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    return at.isValid() ? DateText(at.date()) + u' ' + TimeText(at.time()) : stored;
}

QString LastContactText(const HistoryEntry* newest)
{
    if (!newest)
        return QStringLiteral("Last contact: none");
    QString what = newest->kind;
    if (!newest->outcome.isEmpty())
        what += QStringLiteral(", ") + newest->outcome;
    return QStringLiteral("Last contact: %1 (%2)").arg(DateText(newest->date), what);
}

QString HistoryLine(const HistoryEntry& e)
{
    QString line = DateText(e.date);
    if (e.time.isValid())
        line += u' ' + TimeText(e.time);
    line += QStringLiteral("  ") + e.kind;
    if (!e.direction.isEmpty())
        line += u' ' + e.direction.toLower();
    if (!e.outcome.isEmpty())
        line += QStringLiteral(", ") + e.outcome;
    if (!e.subject.isEmpty())
        line += QStringLiteral(" - ") + e.subject;
    // A line break would tear the line of a list in two.
    for (QChar& c : line)
        if (c.category() == QChar::Other_Control)
            c = u' ';
    return line;
}

int DeleteContact(const QString& connectionText, int contactId, bool withHistory)
{
    const QString id = QString::number(contactId);
    Connection connection(connectionText);
    Transaction tx(connection);
    if (withHistory) {
        Statement(connection, QStringLiteral("delete from history where contact_id=") + id).run();
    } else {
        // The name as it stands now, so the entries say whose they were once the contact is gone.
        Statement(connection, QStringLiteral("update history set contact_name=") + nameOf(contactId) +
                                  QStringLiteral(" where contact_id=") + id +
                                  QStringLiteral(" and exists (select 1 from contacts where id=") + id + u')')
            .run();
    }
    const int deleted = Statement(connection, QStringLiteral("delete from contacts where id=") + id).run();
    tx.commit();
    return deleted;
}

} // namespace kestrel
