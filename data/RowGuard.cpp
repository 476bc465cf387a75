#include "data/RowGuard.h"

#include "data/Office.h"
#include "data/Statement.h"
#include "data/modData.h"

#include <QCryptographicHash>

namespace kestrel {

namespace {

QString versionQuery(bool server, const RowKey& row)
{
    // The table and key column are the program's own names, never typed by a user.
    return QStringLiteral("SELECT %1 FROM %2 WHERE %3=%4")
        .arg(server ? QStringLiteral("rowver") : QStringLiteral("*"), row.table, row.keyColumn, QString::number(row.key));
}

// Reads the version on an open connection; forUpdate holds the row on the server until the
// transaction ends (a local file is held whole by the immediate transaction).
QString readVersion(Connection& connection, bool server, const RowKey& row, bool forUpdate)
{
    Statement st(connection, versionQuery(server, row) + (server && forUpdate ? QStringLiteral(" FOR UPDATE") : QString()));
    if (!st.step())
        return {};
    if (server)
        return st.text(0);
    // Each value with its length and whether it is null, so that "ab","c" and "a","bc" or a
    // null and an empty text never digest alike.
    QCryptographicHash digest(QCryptographicHash::Sha256);
    for (int c = 0; c < st.columnCount(); ++c) {
        // A contact's last contact follows its history (logging a call is no edit of the card),
        // as the server's row version does not count it either.
        if (row.table == u"contacts" && st.columnName(c).compare(u"lastcontact", Qt::CaseInsensitive) == 0)
            continue;
        if (st.isNull(c)) {
            digest.addData(QByteArrayView("N", 1));
            continue;
        }
        const std::string_view bytes = st.bytes(c);
        const QByteArray head = "V" + QByteArray::number(qint64(bytes.size())) + ':';
        digest.addData(head);
        digest.addData(QByteArrayView(bytes.data(), qsizetype(bytes.size())));
    }
    return QString::fromLatin1(digest.result().toHex());
}

} // namespace

QString rowVersionOn(Connection& connection, const RowKey& row, bool forUpdate)
{
    return readVersion(connection, connection.onServer(), row, forUpdate);
}

QString rowVersion(const QString& connectionText, const RowKey& row)
{
    Connection connection(connectionText);
    return readVersion(connection, isServerConnection(connectionText), row, false);
}

GuardedSave saveIfUnchanged(const QString& connectionText, const RowKey& row, const QString& seenVersion,
                            const QString& updateStatement)
{
    const bool server = isServerConnection(connectionText);
    Connection connection(connectionText);
    Transaction transaction(connection, Transaction::Mode::Immediate);
    GuardedSave result;
    result.current = readVersion(connection, server, row, true);
    if (result.current.isEmpty()) {
        result.outcome = SaveOutcome::Deleted;
        return result;
    }
    if (result.current != seenVersion) {
        result.outcome = SaveOutcome::Changed;
        return result;
    }
    Statement update(connection, updateStatement);
    result.outcome = update.run() > 0 ? SaveOutcome::Saved : SaveOutcome::Deleted;
    if (result.outcome == SaveOutcome::Saved) {
        // Read in the same transaction: a change of another copy right after it is a change since.
        result.written = readVersion(connection, server, row, false);
        transaction.commit();
    }
    return result;
}

} // namespace kestrel
