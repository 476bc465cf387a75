#pragma once
// A contact's history: one dated entry for every call, meeting, mail, letter, visit or note,
// with its outcome, in the table history of the contacts database (both engines). Entries are
// written by the program's action statements (one durable statement each) and read here; a
// contact deleted with its history kept leaves its entries under its name, never orphaned
// without one.
#include "data/RowGuard.h"

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QTime>

#include <optional>
#include <vector>

namespace kestrel {

inline const QStringList kHistoryKinds = {QStringLiteral("Call"),   QStringLiteral("Meeting"), QStringLiteral("E-mail"),
                                          QStringLiteral("Letter"), QStringLiteral("Visit"),   QStringLiteral("Note")};
// The empty outcome first: an entry need not have one.
inline const QStringList kHistoryOutcomes = {QString(), QStringLiteral("Held"), QStringLiteral("No answer"),
                                             QStringLiteral("Left message"), QStringLiteral("Not held"),
                                             QStringLiteral("Done")};
inline const QStringList kHistoryDirections = {QString(), QStringLiteral("In"), QStringLiteral("Out")};
inline const QString kHeld = QStringLiteral("Held");
inline const QString kNotHeld = QStringLiteral("Not held");

constexpr int kHistorySubjectLength = 50;
constexpr int kHistoryNoteLength = 10000;
constexpr int kHistoryMaxDuration = 9999; // minutes
// The entries the contact panel shows.
constexpr int kPanelEntries = 5;

// Calls and mail go in or out; meetings, visits and notes have no direction.
bool kindHasDirection(const QString& kind);

struct HistoryEntry {
    qint64 id = 0;
    int contactId = 0;
    QString kind, direction;
    QDate date;
    QTime time;         // invalid: no time of day
    int duration = -1;  // minutes; -1: none given
    QString subject, note, outcome;
    QString author;     // the login name, or on the office server the database user
    QString created, changed; // yyyy-mm-dd hh:mm:ss
    qint64 apptId = 0;  // the appointment it was made from, 0 for none
    QString contactName; // "First Last" as it was when written (or when the contact was deleted)
};

// The statements that write an entry, in the program's dialect: the contact's name is taken as it
// stands; times are now's (the office server stamps its own, and its own user).
QString HistoryInsertStatement(const HistoryEntry& entry, const QString& author, const QDateTime& now);
QString HistoryUpdateStatement(const HistoryEntry& entry, const QDateTime& now);
QString HistoryDeleteStatement(qint64 id);
RowKey historyRow(qint64 id);

// The date of a contact's newest entry as a column of a select from contacts (kept on the row as
// the entries change, so it costs what any column does), and its name in an export.
QString LastContactColumn();
inline const QString kLastContactTag = QStringLiteral("lastcontact");

// The user an entry is written by on the local files: the login name.
QString loginName();

// Reads. Each throws DbError.
// The newest entries of a contact first (date, then time, then the order written), at most limit.
std::vector<HistoryEntry> latestHistory(const QString& connectionText, int contactId, int limit);
// Every entry of a contact (kind empty for every kind), newest first; contactId 0 gives the
// entries whose contact is no longer stored.
std::vector<HistoryEntry> contactHistory(const QString& connectionText, int contactId, const QString& kind);
std::optional<HistoryEntry> historyEntry(const QString& connectionText, qint64 id);
int historyCount(const QString& connectionText, int contactId);
// "First Last" of a stored contact; empty when it is not stored.
QString contactName(const QString& connectionText, int contactId);

// "Last contact: 3/14/2027 (Call, Left message)"; "Last contact: none" without an entry.
QString LastContactText(const HistoryEntry* newest);
// One line of a list: "3/14/2027 2:30 PM  Call out, Left message - Price list".
QString HistoryLine(const HistoryEntry& entry);
// The stored "yyyy-mm-dd hh:mm:ss" as the user reads it: "3/14/2027 2:30 PM".
QString StampText(const QString& stored);

// Deletes a contact in one transaction: with its history, or keeping the entries under the
// contact's name as it now stands. Returns the contacts deleted (0: it was gone already).
// Throws DbError.
int DeleteContact(const QString& connectionText, int contactId, bool withHistory);

} // namespace kestrel
