#pragma once
// Making two stored contacts one, so that nothing of either is lost, and taking that back.
// The merge keeps one row with the values the user chose, puts every value not chosen into
// it as well (into Notes where it has no field of its own), moves the other's appointments and
// history entries to it (and renames the appointments made for the other), and deletes the other, in one transaction guarded like any save by the
// versions of both rows as the user saw them. What it changed is returned so that the undo
// can put back both rows and the appointments exactly as they were.
#include "data/ContactFields.h"
#include "data/ExchangeStore.h"

#include <QString>
#include <QVariant>

#include <array>
#include <span>
#include <utility>
#include <vector>

namespace kestrel {

// Per field of contactFields(): true where the value comes from the other contact.
using MergeChoice = std::array<bool, cf::Count>;

// The values preselected: the longer of the two, and where both are as long (or one is
// empty), the newer contact's (the higher key); the same texts keep the kept one's.
MergeChoice preselectMerge(const ContactRecord& kept, const ContactRecord& other);

// The kept contact as the merge leaves it: the chosen values, and each value not chosen that
// holds something else in Notes, under a line naming the other contact ("Merged from Ann Lee:").
// Notes of both are kept whole.
ContactRecord mergedContact(const ContactRecord& kept, const ContactRecord& other, const MergeChoice& choice);

// Per field of contactFields(), the card of a group (its place among the group's cards) whose
// value is kept.
using MergePicks = std::array<int, cf::Count>;
// As preselectMerge, over every card of a group: the longest value, the newest card's where
// several are as long.
MergePicks preselectGroup(const std::vector<ContactRecord>& members);
// The first card as a merge of the whole group leaves it: the picked values, each value not
// picked under a line naming its card ("Merged from Ann Lee:"), every card's notes whole. For
// two cards, mergedContact's.
ContactRecord mergedGroup(const std::vector<ContactRecord>& members, const MergePicks& picks);

// A stored row as it was: every column (but the server's row version) with its value.
struct StoredRow {
    std::vector<std::pair<QString, QVariant>> columns;
};

// What a merge changed, for its undo.
struct MergeUndo {
    int keptId = 0, otherId = 0;
    StoredRow keptBefore, otherBefore;
    std::vector<std::pair<int, QString>> renamedAppts; // autoid and its name before the merge
    std::vector<qint64> movedAppts, movedHistory;      // the other's, now the kept contact's
    QString mergedName;                                // the name those appointments carry now
    QString keptVersionBefore, otherVersionBefore; // as the merge found them
    QString keptVersionAfter;
    QString keptName, otherName;                       // for the window's words
};

enum class MergeOutcome {
    Merged,
    Changed, // someone changed one of the two since they were read: nothing was written
    Gone,    // one of the two is no longer stored: nothing was written
};

struct MergeResult {
    MergeOutcome outcome = MergeOutcome::Changed;
    MergeUndo undo;
};

// The contact's name as an appointment made for it carries it ("Ann Lee").
QString appointmentName(const ContactRecord& contact);

// Reads one contact; false when it is not stored. Throws DbError.
bool readContact(const QString& connectionText, int id, ContactRecord* contact);

// Merges other into kept (both as read, with the versions rowVersion gave when read) and
// writes merged into kept's row. Throws DbError.
MergeResult mergeContacts(const QString& connectionText, const ContactRecord& kept, const QString& keptVersion,
                          const ContactRecord& other, const QString& otherVersion, const ContactRecord& merged);

// Merges every other card of a group into the first, in one transaction guarded by the versions
// of all of them as read; nothing is written unless all of them are as read. Its steps, one per
// card merged in, in order, are what its undo needs. Throws DbError.
struct GroupMerge {
    MergeOutcome outcome = MergeOutcome::Changed;
    std::vector<MergeUndo> steps;
};
GroupMerge mergeGroup(const QString& connectionText, const std::vector<ContactRecord>& members,
                      const std::vector<QString>& versions, const ContactRecord& merged);

enum class UndoOutcome {
    Undone,
    Changed, // the kept contact was changed or deleted after the merge: nothing was written
};
// Puts back both contacts, the appointments' names and the owners of the appointments and history
// entries moved, as they were before the merge. The merges made before it (earlier, oldest
// first) that left one of the two rows as this merge found it are told its version now, so a
// group merged in steps is taken back step by step. Throws DbError.
UndoOutcome undoMerge(const QString& connectionText, const MergeUndo& undo, std::span<MergeUndo> earlier = {});
// The same for a group merged at once: every card comes back, in one transaction.
UndoOutcome undoMergeGroup(const QString& connectionText, const std::vector<MergeUndo>& steps,
                           std::span<std::vector<MergeUndo>> earlier = {});

// Pairs the user said are not the same person; kept in the contacts database so that every
// copy (and every user of an office database) stops showing them. Throw DbError.
void rememberNotSame(const QString& connectionText, int a, int b);
std::vector<std::pair<int, int>> notSamePairs(const QString& connectionText);

} // namespace kestrel

#include "data/ContactMatch.h"

namespace kestrel {

// The stored contacts and the pairs among them that are or may be one person, strongest first,
// without the pairs set aside as not the same.
struct DuplicateSearch {
    std::vector<ContactRecord> contacts;
    std::vector<DuplicatePair> pairs; // positions in contacts
    bool cancelled = false;
};
// progress(done, total) as findDuplicatePairs takes it. Throws DbError.
DuplicateSearch searchDuplicates(const QString& connectionText, const std::function<bool(qint64, qint64)>& progress = {});

} // namespace kestrel
