#include "data/ContactMerge.h"

#include "data/Database.h"
#include "data/RowGuard.h"
#include "data/Statement.h"
#include "data/TextFold.h"

#include <QSet>

#include <algorithm>

namespace kestrel {

namespace {

bool sameText(const QString& a, const QString& b) { return foldedText(a.trimmed()) == foldedText(b.trimmed()); }

Statement native(Connection& c, const QString& sql) { return Statement(c, sql, Statement::Dialect::Native); }

RowKey contactKey(int id) { return {QStringLiteral("contacts"), QStringLiteral("id"), id}; }

// Every column of the row but the server's version, with its typed value.
StoredRow readRow(Connection& c, int id)
{
    Statement q = native(c, QStringLiteral("SELECT * FROM contacts WHERE id=?"));
    q.bind(1, qint64(id));
    StoredRow row;
    if (!q.step())
        return row;
    for (int col = 0; col < q.columnCount(); ++col) {
        const QString name = q.columnName(col).toLower();
        if (name == u"rowver")
            continue;
        row.columns.emplace_back(name, q.isNull(col) ? QVariant() : q.value(col));
    }
    return row;
}

void bindValue(Statement& st, int index, const QVariant& v, bool server)
{
    if (!v.isValid() || v.isNull())
        st.bindNull(index);
    else if (v.typeId() == QMetaType::Bool)
        server ? st.bind(index, v.toBool() ? QStringLiteral("true") : QStringLiteral("false"))
               : st.bind(index, qint64(v.toBool()));
    else if (v.typeId() == QMetaType::Int || v.typeId() == QMetaType::LongLong)
        st.bind(index, v.toLongLong());
    else
        st.bind(index, v.toString());
}

// Writes a stored row back: over the row of its key, or anew with its own key.
void writeRow(Connection& c, const StoredRow& row, bool insert)
{
    QStringList names, sets;
    for (const auto& [name, value] : row.columns) {
        names << name;
        if (name != u"id")
            sets << name + QStringLiteral("=?");
    }
    const bool server = c.onServer();
    if (insert) {
        Statement ins = native(c, QStringLiteral("INSERT INTO contacts(%1) VALUES(%2)")
                                      .arg(names.join(u','), QStringLiteral("?,").repeated(names.size() - 1) + u'?'));
        int i = 0;
        for (const auto& [name, value] : row.columns)
            bindValue(ins, ++i, value, server);
        ins.run();
        return;
    }
    Statement upd = native(c, QStringLiteral("UPDATE contacts SET %1 WHERE id=?").arg(sets.join(u',')));
    int i = 0;
    QVariant id;
    for (const auto& [name, value] : row.columns) {
        if (name == u"id")
            id = value;
        else
            bindValue(upd, ++i, value, server);
    }
    bindValue(upd, ++i, id, server);
    upd.run();
}

// The rows of table that belong to contact from (by contact_id), given to contact to; their keys.
std::vector<qint64> moveOwned(Connection& c, const char* table, const char* key, int from, int to)
{
    std::vector<qint64> moved;
    {
        Statement q = native(c, QStringLiteral("SELECT %1 FROM %2 WHERE contact_id=? ORDER BY %1")
                                    .arg(QLatin1String(key), QLatin1String(table)));
        q.bind(1, qint64(from));
        while (q.step())
            moved.push_back(q.integer(0));
    }
    if (!moved.empty()) {
        Statement upd = native(c, QStringLiteral("UPDATE %1 SET contact_id=? WHERE contact_id=?").arg(QLatin1String(table)));
        upd.bind(1, qint64(to));
        upd.bind(2, qint64(from));
        upd.run();
    }
    return moved;
}

// The rows moved by a merge go back to their contact; one given to another contact (or deleted)
// since stays where it is now.
void giveBack(Connection& c, const char* table, const char* key, const std::vector<qint64>& moved, int keptId, int otherId)
{
    Statement upd = native(c, QStringLiteral("UPDATE %1 SET contact_id=? WHERE %2=? AND contact_id=?")
                                  .arg(QLatin1String(table), QLatin1String(key)));
    for (const qint64 id : moved) {
        upd.bind(1, qint64(otherId));
        upd.bind(2, id);
        upd.bind(3, qint64(keptId));
        upd.run();
    }
}

const char* const kNotSameTable = "CREATE TABLE IF NOT EXISTS not_duplicates(first_id INTEGER NOT NULL, "
                                  "second_id INTEGER NOT NULL, PRIMARY KEY(first_id, second_id))";

void ensureNotSameTable(Connection& c)
{
    // The office server makes it with its schema, where every member may use it.
    if (!c.onServer())
        c.execute(QString::fromLatin1(kNotSameTable));
}

} // namespace

MergeChoice preselectMerge(const ContactRecord& kept, const ContactRecord& other)
{
    MergeChoice choice{};
    const bool otherNewer = other.id > kept.id;
    for (int f = 0; f < cf::Count; ++f) {
        const QString a = kept.value(f).trimmed(), b = other.value(f).trimmed();
        if (sameText(a, b))
            continue;
        choice[size_t(f)] = b.size() > a.size() || (b.size() == a.size() && otherNewer) || a.isEmpty();
        if (b.isEmpty())
            choice[size_t(f)] = false;
    }
    // An extension belongs to its work number.
    choice[cf::Ext] = choice[cf::WorkPh] || (kept.workph.trimmed().isEmpty() && other.workph.trimmed().isEmpty() &&
                                             choice[cf::Ext]);
    return choice;
}

QString appointmentName(const ContactRecord& c)
{
    return (c.firstname + u' ' + c.lastname).trimmed();
}

ContactRecord mergedContact(const ContactRecord& kept, const ContactRecord& other, const MergeChoice& choice)
{
    ContactRecord out = kept;
    QStringList notKept;
    const auto& fields = contactFields();
    for (int f = 0; f < cf::Count; ++f) {
        const bool fromOther = choice[size_t(f)];
        const QString& chosen = fromOther ? other.value(f) : kept.value(f);
        const QString& left = fromOther ? kept.value(f) : other.value(f);
        out.value(f) = chosen;
        if (f == cf::Notes || left.trimmed().isEmpty() || sameText(chosen, left))
            continue;
        const QString shown = f == cf::Birthday ? birthdayText(left) : left.trimmed();
        notKept << QString::fromLatin1(fields[size_t(f)].caption) + QStringLiteral(": ") + shown;
    }
    QString notes = choice[cf::Notes] ? other.notes : kept.notes;
    const QString otherNotes = choice[cf::Notes] ? kept.notes : other.notes;
    const auto add = [&notes](const QString& block) {
        notes = notes.trimmed().isEmpty() ? block : notes + QStringLiteral("\n\n") + block;
    };
    if (!notKept.isEmpty())
        add(QStringLiteral("Merged from %1:\n").arg(appointmentName(other)) + notKept.join(u'\n'));
    if (!otherNotes.trimmed().isEmpty() && !notes.contains(otherNotes.trimmed()))
        add(otherNotes.trimmed());
    out.notes = notes;
    return out;
}

MergePicks preselectGroup(const std::vector<ContactRecord>& members)
{
    MergePicks picks{};
    if (members.size() == 2) {
        const MergeChoice pair = preselectMerge(members[0], members[1]);
        for (int f = 0; f < cf::Count; ++f)
            picks[size_t(f)] = pair[size_t(f)] ? 1 : 0;
        return picks;
    }
    for (int f = 0; f < cf::Count; ++f) {
        // The longest value, of the newest card where several are as long; the kept one's text
        // where another says the same.
        int best = 0;
        for (int m = 1; m < int(members.size()); ++m) {
            const QString a = members[size_t(best)].value(f).trimmed(), b = members[size_t(m)].value(f).trimmed();
            if (b.isEmpty() || sameText(a, b))
                continue;
            if (a.isEmpty() || b.size() > a.size() || (b.size() == a.size() && members[size_t(m)].id > members[size_t(best)].id))
                best = m;
        }
        picks[size_t(f)] = best;
    }
    // An extension belongs to its work number.
    const int work = picks[cf::WorkPh];
    if (!members[size_t(work)].workph.trimmed().isEmpty())
        picks[cf::Ext] = work;
    return picks;
}

ContactRecord mergedGroup(const std::vector<ContactRecord>& members, const MergePicks& picks)
{
    if (members.size() == 2) {
        MergeChoice choice{};
        for (int f = 0; f < cf::Count; ++f)
            choice[size_t(f)] = picks[size_t(f)] == 1;
        return mergedContact(members[0], members[1], choice);
    }
    ContactRecord out = members.front();
    const auto& fields = contactFields();
    // Per card, what of it is not kept, each value once.
    std::vector<QStringList> notKept(members.size());
    for (int f = 0; f < cf::Count; ++f) {
        const QString& chosen = members[size_t(picks[size_t(f)])].value(f);
        out.value(f) = chosen;
        if (f == cf::Notes)
            continue;
        QStringList said{chosen};
        for (size_t m = 0; m < members.size(); ++m) {
            const QString& left = members[m].value(f);
            if (left.trimmed().isEmpty() ||
                std::any_of(said.begin(), said.end(), [&left](const QString& s) { return sameText(s, left); }))
                continue;
            said << left;
            notKept[m] << QString::fromLatin1(fields[size_t(f)].caption) + QStringLiteral(": ") +
                              (f == cf::Birthday ? birthdayText(left) : left.trimmed());
        }
    }
    QString notes = out.notes;
    const auto add = [&notes](const QString& block) {
        notes = notes.trimmed().isEmpty() ? block : notes + QStringLiteral("\n\n") + block;
    };
    for (size_t m = 0; m < members.size(); ++m)
        if (!notKept[m].isEmpty())
            add(QStringLiteral("Merged from %1:\n").arg(appointmentName(members[m])) + notKept[m].join(u'\n'));
    for (const ContactRecord& m : members)
        if (!m.notes.trimmed().isEmpty() && !notes.contains(m.notes.trimmed()))
            add(m.notes.trimmed());
    out.notes = notes;
    return out;
}

bool readContact(const QString& connectionText, int id, ContactRecord* contact)
{
    Connection c(connectionText);
    Statement q = native(c, QStringLiteral("SELECT id,") + allContactColumns() + QStringLiteral(" FROM contacts WHERE id=?"));
    q.bind(1, qint64(id));
    if (!q.step())
        return false;
    contact->id = int(q.integer(0));
    for (int f = 0; f < cf::Count; ++f)
        contact->value(f) = q.text(f + 1);
    return true;
}

namespace {

// One merge of other into kept on an open transaction: the versions are checked, the rows held.
MergeResult mergeOn(Connection& c, const ContactRecord& kept, const QString& keptVersion, const ContactRecord& other,
                    const QString& otherVersion, const ContactRecord& merged)
{
    MergeResult result;
    // Both rows are held (on the server, in key order so that two merges never wait on each other).
    const int low = std::min(kept.id, other.id), high = std::max(kept.id, other.id);
    const QString lowVersion = rowVersionOn(c, contactKey(low), true);
    const QString highVersion = rowVersionOn(c, contactKey(high), true);
    const QString& nowKept = kept.id == low ? lowVersion : highVersion;
    const QString& nowOther = kept.id == low ? highVersion : lowVersion;
    if (nowKept.isEmpty() || nowOther.isEmpty()) {
        result.outcome = MergeOutcome::Gone;
        return result;
    }
    if (nowKept != keptVersion || nowOther != otherVersion) {
        result.outcome = MergeOutcome::Changed;
        return result;
    }
    MergeUndo& undo = result.undo;
    undo.keptId = kept.id;
    undo.otherId = other.id;
    undo.keptName = appointmentName(kept);
    undo.otherName = appointmentName(other);
    undo.keptBefore = readRow(c, kept.id);
    undo.otherBefore = readRow(c, other.id);
    undo.keptVersionBefore = nowKept;
    undo.otherVersionBefore = nowOther;
    undo.mergedName = appointmentName(merged);

    // The appointments made for either now stand under the name the merged contact carries.
    if (!undo.mergedName.isEmpty()) {
        std::vector<std::pair<int, QString>> found;
        {
            Statement q = native(c, QStringLiteral("SELECT autoid,name FROM appointments WHERE name=? OR name=? ORDER BY autoid"));
            q.bind(1, undo.otherName.isEmpty() ? undo.mergedName : undo.otherName);
            q.bind(2, undo.keptName.isEmpty() ? undo.mergedName : undo.keptName);
            while (q.step())
                if (q.text(1) != undo.mergedName)
                    found.emplace_back(int(q.integer(0)), q.text(1));
        }
        Statement rename = native(c, QStringLiteral("UPDATE appointments SET name=? WHERE autoid=?"));
        for (const auto& [autoid, name] : found) {
            rename.bind(1, undo.mergedName);
            rename.bind(2, qint64(autoid));
            rename.run();
        }
        undo.renamedAppts = std::move(found);
    }
    undo.movedAppts = moveOwned(c, "appointments", "autoid", other.id, kept.id);
    undo.movedHistory = moveOwned(c, "history", "id", other.id, kept.id);
    {
        QStringList sets;
        for (const ContactField& f : contactFields())
            sets << QString::fromLatin1(f.column) + QStringLiteral("=?");
        Statement upd = native(c, QStringLiteral("UPDATE contacts SET %1 WHERE id=?").arg(sets.join(u',')));
        for (int f = 0; f < cf::Count; ++f)
            upd.bind(f + 1, merged.value(f));
        upd.bind(cf::Count + 1, qint64(kept.id));
        upd.run();
        Statement del = native(c, QStringLiteral("DELETE FROM contacts WHERE id=?"));
        del.bind(1, qint64(other.id));
        del.run();
    }
    undo.keptVersionAfter = rowVersionOn(c, contactKey(kept.id), false);
    result.outcome = MergeOutcome::Merged;
    return result;
}

// Takes one merge back on an open transaction (its version already checked).
void undoOn(Connection& c, const MergeUndo& undo)
{
    writeRow(c, undo.keptBefore, false);
    writeRow(c, undo.otherBefore, true);
    // An appointment renamed again since the merge keeps its new name.
    Statement rename = native(c, QStringLiteral("UPDATE appointments SET name=? WHERE autoid=? AND name=?"));
    for (const auto& [autoid, name] : undo.renamedAppts) {
        rename.bind(1, name);
        rename.bind(2, qint64(autoid));
        rename.bind(3, undo.mergedName);
        rename.run();
    }
    giveBack(c, "appointments", "autoid", undo.movedAppts, undo.keptId, undo.otherId);
    giveBack(c, "history", "id", undo.movedHistory, undo.keptId, undo.otherId);
}

} // namespace

MergeResult mergeContacts(const QString& connectionText, const ContactRecord& kept, const QString& keptVersion,
                          const ContactRecord& other, const QString& otherVersion, const ContactRecord& merged)
{
    const GroupMerge group = mergeGroup(connectionText, {kept, other}, {keptVersion, otherVersion}, merged);
    MergeResult result;
    result.outcome = group.outcome;
    if (!group.steps.empty())
        result.undo = group.steps.front();
    return result;
}

GroupMerge mergeGroup(const QString& connectionText, const std::vector<ContactRecord>& members,
                      const std::vector<QString>& versions, const ContactRecord& merged)
{
    GroupMerge out;
    Connection c(connectionText);
    Transaction t(c, Transaction::Mode::Immediate);
    ContactRecord kept = members.front();
    QString keptVersion = versions.front();
    for (size_t i = 1; i < members.size(); ++i) {
        // Each step leaves the kept row as the whole merge does; the next one finds it so.
        MergeResult step = mergeOn(c, kept, keptVersion, members[i], versions[i], merged);
        if (step.outcome != MergeOutcome::Merged) {
            out.outcome = step.outcome;
            out.steps.clear();
            return out; // nothing of the group is written
        }
        kept = merged;
        kept.id = members.front().id;
        keptVersion = step.undo.keptVersionAfter;
        out.steps.push_back(std::move(step.undo));
    }
    t.commit();
    out.outcome = MergeOutcome::Merged;
    return out;
}

UndoOutcome undoMerge(const QString& connectionText, const MergeUndo& undo, std::span<MergeUndo> earlier)
{
    std::vector<std::vector<MergeUndo>> groups;
    groups.reserve(earlier.size());
    for (const MergeUndo& e : earlier)
        groups.push_back({e});
    const UndoOutcome outcome = undoMergeGroup(connectionText, {undo}, groups);
    for (size_t i = 0; i < earlier.size(); ++i)
        earlier[i] = groups[i].front();
    return outcome;
}

UndoOutcome undoMergeGroup(const QString& connectionText, const std::vector<MergeUndo>& steps,
                           std::span<std::vector<MergeUndo>> earlier)
{
    Connection c(connectionText);
    Transaction t(c, Transaction::Mode::Immediate);
    if (steps.empty() || rowVersionOn(c, contactKey(steps.back().keptId), true) != steps.back().keptVersionAfter)
        return UndoOutcome::Changed;
    // The last step first: each then finds the kept row as it left it.
    for (auto step = steps.rbegin(); step != steps.rend(); ++step)
        undoOn(c, *step);
    // Every row is as the merge found it, with new versions on the server: an earlier merge that
    // left one of them so may still be taken back.
    const auto versionNow = [&c](int id) { return rowVersionOn(c, contactKey(id), false); };
    for (std::vector<MergeUndo>& e : earlier) {
        if (e.empty())
            continue;
        MergeUndo& last = e.back();
        if (last.keptId == steps.front().keptId && last.keptVersionAfter == steps.front().keptVersionBefore) {
            last.keptVersionAfter = versionNow(last.keptId);
            continue;
        }
        for (const MergeUndo& step : steps)
            if (last.keptId == step.otherId && last.keptVersionAfter == step.otherVersionBefore)
                last.keptVersionAfter = versionNow(last.keptId);
    }
    t.commit();
    return UndoOutcome::Undone;
}

void rememberNotSame(const QString& connectionText, int a, int b)
{
    Connection c(connectionText);
    ensureNotSameTable(c);
    Statement ins = native(c, QStringLiteral("INSERT INTO not_duplicates(first_id,second_id) VALUES(?,?) ON CONFLICT DO NOTHING"));
    ins.bind(1, qint64(std::min(a, b)));
    ins.bind(2, qint64(std::max(a, b)));
    ins.run();
}

std::vector<std::pair<int, int>> notSamePairs(const QString& connectionText)
{
    Connection c(connectionText);
    if (!c.readOnly())
        ensureNotSameTable(c);
    std::vector<std::pair<int, int>> out;
    try {
        Statement q = native(c, QStringLiteral("SELECT first_id,second_id FROM not_duplicates"));
        while (q.step())
            out.emplace_back(int(q.integer(0)), int(q.integer(1)));
    } catch (const DbError&) {
        if (!c.readOnly())
            throw;
        // A file that may not be changed and never had the table: no pair was set aside.
    }
    return out;
}

} // namespace kestrel

namespace kestrel {

DuplicateSearch searchDuplicates(const QString& connectionText, const std::function<bool(qint64, qint64)>& progress)
{
    DuplicateSearch out;
    out.contacts = readAllContacts(connectionText);
    std::vector<MatchKeys> keys;
    keys.reserve(out.contacts.size());
    for (const ContactRecord& c : out.contacts)
        keys.push_back(matchKeys(c));
    out.pairs = findDuplicatePairs(keys, progress, &out.cancelled);
    const auto notSame = notSamePairs(connectionText);
    if (notSame.empty())
        return out;
    QSet<quint64> aside;
    for (const auto& [a, b] : notSame)
        aside.insert(quint64(a) << 32 | quint64(b));
    std::erase_if(out.pairs, [&](const DuplicatePair& p) {
        const int a = out.contacts[size_t(p.first)].id, b = out.contacts[size_t(p.second)].id;
        return aside.contains(quint64(std::min(a, b)) << 32 | quint64(std::max(a, b)));
    });
    return out;
}

} // namespace kestrel
