#pragma once
// The trash: a deleted contact or appointment is moved, whole, into the table trash of the same
// database, from which it can be put back with its own key (so its appointments, which name it,
// and anything else that points at it find it again) or deleted for good. The lists, Find,
// exports and prints read contacts and appointments only, so a trashed row is in none of them.
// Rows moved together (an import taken back) form one batch, restored or deleted as one.
// Nothing here asks the user anything: counts and DbError come back, the windows choose the words.
#include <QDateTime>
#include <QString>

#include <utility>
#include <vector>

namespace kestrel {

class Connection;

// The tables whose rows go to the trash, with their keys. To-do items are in the to-do file
// (kestrel.mdb) locally, whose own trash keeps them: a delete and its trash row are then one
// transaction of one file. On the office server both are one database and one trash.
enum class TrashTable { Contacts, Appointments, History, ToDo };

// One line of the trash: a batch of rows moved together.
struct TrashBatch {
    QString batch;        // the key the batch's rows share
    TrashTable table = TrashTable::Contacts;
    int rows = 0;
    int contacts = 0;     // of rows, the contacts (a contact deleted with its history: 1)
    QString label;        // what the user deleted, in the words the delete gave it
    QDateTime deletedAt;  // local time
    QString deletedBy;    // the office member who deleted it; empty for a local file
    QString origin;       // the connection text of the trash it is in (restore and delete it there)
};

// Keys of the rows to move, as closed ranges (a single row is {id, id}).
using KeyRanges = std::vector<std::pair<qint64, qint64>>;

// Moves the rows of table whose keys are in ranges to the trash as one batch, in one
// transaction. Returns the batch's key, empty when none of the rows was there any more; moved
// (when given) gets how many were. Throws DbError.
QString moveToTrash(const QString& connectionText, TrashTable table, const KeyRanges& ranges, const QString& label,
                    int* moved = nullptr);

// Moves a contact to the trash, in one transaction: with its history entries in the same batch
// (one restore brings back both), or keeping the entries under the contact's name as it now
// stands. As moveToTrash; moved counts the contact and its entries.
QString trashContact(const QString& connectionText, qint64 contactId, bool withHistory, const QString& label,
                     int* moved = nullptr);

// As moveToTrash, within the caller's transaction on c: for a delete that must check what it
// deletes in the same transaction. Throws DbError.
QString moveToTrashWithin(Connection& c, TrashTable table, const KeyRanges& ranges, const QString& label,
                          int* moved = nullptr);

// As trashContact without the history (the entries stay under the contact's name as it now
// stands, and rejoin it when it is restored under its key), within the caller's transaction on c:
// for a delete that is part of a larger change (a sync). Returns the batch, empty when the row was
// not there. Throws DbError.
QString trashRowWithin(Connection& c, TrashTable table, qint64 id, const QString& label);

// Moves every contact import importId added (contacts.import_id) to the trash as one batch, in one
// transaction; as moveToTrash.
QString moveImportToTrash(const QString& connectionText, qint64 importId, const QString& label, int* moved = nullptr);

// Puts every row of a batch back under its own key (a new one where another row took it), in one transaction, and takes the batch out
// of the trash. Returns the rows put back: 0 when the batch had been restored or deleted
// elsewhere meanwhile. Throws DbError.
int restoreFromTrash(const QString& connectionText, const QString& batch);

// Deletes a batch for good. Returns the rows deleted (0: gone already). Throws DbError.
int deleteForever(const QString& connectionText, const QString& batch);

// The batches in the trash, newest first. Throws DbError.
std::vector<TrashBatch> listTrash(const QString& connectionText);
// The batches of every trash of the given files (one trash when they are one database), newest first.
std::vector<TrashBatch> listTrash(const QStringList& connectionTexts);

// Deletes for good what was moved to the trash more than days days ago. On the office server by
// the server's clock (a computer whose clock is ahead empties nobody's trash early), and only
// what this member deleted: each member's days are their own. Returns the rows deleted. Throws DbError.
int purgeTrash(const QString& connectionText, int days);

// How long trashed rows are kept, in days (Options); 30 unless set.
inline constexpr int kTrashDaysDefault = 30;
inline constexpr char kTrashDaysSetting[] = "TrashDays";

// The local files' table (contacts.mdb and kestrel.mdb); also made in a file of an earlier version when opened.
extern const char* const kTrashSchema;

} // namespace kestrel
