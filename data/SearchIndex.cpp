#include "data/SearchIndex.h"

#include "data/ContactFields.h"
#include "data/Database.h"
#include "data/TextFold.h"
#include "data/Statement.h"
#include "data/modData.h"

#include <QHash>

#include <sqlite3.h>

#include <algorithm>

namespace kestrel {

namespace {

// Every object of the index; a file missing any of them (an older file, or one built by an
// earlier form of the index) gets all of them anew. The index holds the words of the fields added
// later and of the contact's history too, so it has names of its own: an older Kestrel on the same
// file keeps its own index (contact_find, contact_find3) beside this one, and each notes every
// change for both.
constexpr const char* kIndexObjects[] = {"contact_find3",      "contact_find3_by_id", "contact_find3_stale",
                                         "contacts_find3_ins", "contacts_find3_upd",  "contacts_find3_del",
                                         "history_find3_ins",  "history_find3_upd",   "history_find3_del"};

// contact_find3 is kept in name order, words beside the key: the search walks it in that order, so
// a text many contacts hold stops after the first screenful and one that nobody holds reads a
// single compact tree (about 20 ms at 100,000 contacts). A trigram full-text table would answer rare
// texts faster but cannot do better for one or two letters, is about three times the size and
// in this SQLite cannot fold accents itself; plain substring tests also need no query language
// that a typed quote or operator could upset.
constexpr const char* kBuildIndex = R"sql(
DROP TRIGGER IF EXISTS contacts_find3_ins;
DROP TRIGGER IF EXISTS contacts_find3_upd;
DROP TRIGGER IF EXISTS contacts_find3_del;
DROP TRIGGER IF EXISTS history_find3_ins;
DROP TRIGGER IF EXISTS history_find3_upd;
DROP TRIGGER IF EXISTS history_find3_del;
DROP TABLE IF EXISTS contact_find3;
DROP TABLE IF EXISTS contact_find3_stale;
CREATE TABLE contact_find3(sortkey TEXT NOT NULL, id INTEGER NOT NULL, words TEXT NOT NULL,
  PRIMARY KEY(sortkey, id)) WITHOUT ROWID;
CREATE UNIQUE INDEX contact_find3_by_id ON contact_find3(id);
CREATE TABLE contact_find3_stale(id INTEGER PRIMARY KEY);
CREATE TRIGGER contacts_find3_ins AFTER INSERT ON contacts BEGIN
  INSERT OR IGNORE INTO contact_find3_stale(id) VALUES(new.id);
END;
CREATE TRIGGER contacts_find3_upd AFTER UPDATE ON contacts BEGIN
  INSERT OR IGNORE INTO contact_find3_stale(id) VALUES(old.id);
  INSERT OR IGNORE INTO contact_find3_stale(id) VALUES(new.id);
END;
CREATE TRIGGER contacts_find3_del AFTER DELETE ON contacts BEGIN
  INSERT OR IGNORE INTO contact_find3_stale(id) VALUES(old.id);
END;
CREATE TRIGGER history_find3_ins AFTER INSERT ON history BEGIN
  INSERT OR IGNORE INTO contact_find3_stale(id) SELECT new.contact_id WHERE new.contact_id IS NOT NULL;
END;
CREATE TRIGGER history_find3_upd AFTER UPDATE ON history BEGIN
  INSERT OR IGNORE INTO contact_find3_stale(id) SELECT old.contact_id WHERE old.contact_id IS NOT NULL;
  INSERT OR IGNORE INTO contact_find3_stale(id) SELECT new.contact_id WHERE new.contact_id IS NOT NULL;
END;
CREATE TRIGGER history_find3_del AFTER DELETE ON history BEGIN
  INSERT OR IGNORE INTO contact_find3_stale(id) SELECT old.contact_id WHERE old.contact_id IS NOT NULL;
END;
INSERT INTO contact_find3_stale(id) SELECT id FROM contacts;
)sql";

// The fields a contact is found by; the first eight are what the list shows of it.
constexpr const char* kContactFields = "lastname, firstname, company, city, email, homeph, cellph, workph, country, "
                                       "jobtitle, website, birthday, notes";
constexpr int kFieldCount = 13;

// Several native statements at once (the index's schema and triggers).
void exec(Connection& db, const char* sql)
{
    char* err = nullptr;
    if (sqlite3_exec(db.handle(), sql, nullptr, nullptr, &err) != SQLITE_OK) {
        DbError e(sqlite3_errcode(db.handle()), QString::fromUtf8(err ? err : sqlite3_errmsg(db.handle())));
        e.setSource(db.source());
        sqlite3_free(err);
        throw e;
    }
}

// A statement in SQLite's own SQL, as the index is written.
Statement native(Connection& db, const QByteArray& sql)
{
    return Statement(db, QString::fromUtf8(sql), Statement::Dialect::Native);
}



QString digitsOf(const QString& s)
{
    QString out;
    for (const QChar c : s)
        if (c.isDigit() && c.digitValue() >= 0)
            out += QChar(u'0' + c.digitValue());
    return out;
}

bool isPhoneWord(const QString& word)
{
    bool digit = false;
    for (const QChar c : word) {
        if (c.isDigit())
            digit = true;
        else if (!QStringView(u"+-()./").contains(c))
            return false;
    }
    return digit;
}

bool isDigits(const QString& s)
{
    return !s.isEmpty() && std::all_of(s.begin(), s.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
}

QString sortKey(const QString& lastName, const QString& firstName)
{
    return foldedText(lastName) + QChar(1) + foldedText(firstName);
}

struct ContactRow {
    int id = 0;
    QString f[kFieldCount]; // in the order of kContactFields
    QString history;        // the subjects and notes of its history, a line or more each
};

QString wordsOf(const ContactRow& r)
{
    QString words = searchWords(r.f[0], r.f[1], r.f[2], r.f[3], r.f[4], r.f[5], r.f[6], r.f[7]) + u'\n' +
                    QStringList{foldedText(r.f[8]), foldedText(r.f[9]), foldedText(r.f[10]),
                                digitsOf(birthdayText(r.f[11])), foldedText(r.f[12])}
                        .join(u'\n');
    if (!r.history.isEmpty())
        words += u'\n' + foldedText(r.history);
    return words;
}

void addHistoryText(QString& to, const QString& subject, const QString& note)
{
    for (const QString* part : {&subject, &note}) {
        if (part->isEmpty())
            continue;
        if (!to.isEmpty())
            to += u'\n';
        to += *part;
    }
}

// The subjects and notes of the contacts' history that may hold the needles, by contact. The
// office server picks the entries that hold any needle (folded as its LIKE folds); a local file
// read without its index gives them all. Each contact is then tried whole, as the index does.
QHash<int, QString> historyTexts(Connection& db, const QStringList& needles)
{
    QHash<int, QString> out;
    QString sql = QStringLiteral("SELECT contact_id, subject, note FROM history WHERE contact_id IS NOT NULL");
    if (db.onServer()) {
        sql += QStringLiteral(" AND (");
        for (int i = 0; i < needles.size(); ++i)
            sql += QStringLiteral("%1subject ~~~ ?%2 OR note ~~~ ?%2").arg(i ? QStringLiteral(" OR ") : QString()).arg(i + 1);
        sql += u')';
    }
    Statement st(db, sql, Statement::Dialect::Native);
    if (db.onServer())
        for (int i = 0; i < needles.size(); ++i)
            st.bind(i + 1, u'%' + needles[i] + u'%');
    while (st.step())
        addHistoryText(out[int(st.integer(0))], st.text(1), st.text(2));
    return out;
}

bool indexComplete(Connection& db)
{
    QByteArray sql = "SELECT count(*) FROM sqlite_master WHERE name IN (";
    for (const char* name : kIndexObjects)
        sql += QByteArray("'") + name + "',";
    sql.back() = ')';
    Statement st = native(db, sql);
    st.step();
    return st.integer(0) == qint64(std::size(kIndexObjects));
}

bool hasStaleRows(Connection& db)
{
    Statement st = native(db, "SELECT EXISTS(SELECT 1 FROM contact_find3_stale)");
    st.step();
    return st.integer(0) != 0;
}

void foldStaleRows(Connection& db)
{
    Transaction tx(db, Transaction::Mode::Immediate);
    // The fields in the order of kContactFields.
    Statement sel = native(db, "SELECT s.id, c.id IS NOT NULL, c.lastname, c.firstname, c.company, c.city, c.email, c.homeph, "
                 "c.cellph, c.workph, c.country, c.jobtitle, c.website, c.birthday, c.notes "
                 "FROM contact_find3_stale s LEFT JOIN contacts c ON c.id = s.id");
    Statement history = native(db, "SELECT subject, note FROM history WHERE contact_id = ?1");
    Statement del = native(db, "DELETE FROM contact_find3 WHERE id = ?1");
    Statement ins = native(db, "INSERT INTO contact_find3(id, sortkey, words) VALUES(?1, ?2, ?3)");
    while (sel.step()) {
        const qint64 id = sel.integer(0);
        del.bind(1, id);
        del.step();
        del.reset();
        if (sel.integer(1) == 0)
            continue; // deleted
        ContactRow r;
        for (int i = 0; i < kFieldCount; ++i)
            r.f[i] = sel.text(2 + i);
        history.bind(1, id);
        while (history.step())
            addHistoryText(r.history, history.text(0), history.text(1));
        history.reset();
        ins.bind(1, id);
        ins.bind(2, sortKey(r.f[0], r.f[1]));
        ins.bind(3, wordsOf(r));
        ins.step();
        ins.reset();
    }
    exec(db, "DELETE FROM contact_find3_stale");
    tx.commit();
}

// Leaves the index whole and current; false when it cannot be trusted and may not be brought up
// to date now (a file that may only be read, or another program holding the write lock), so the
// caller must search without it.
bool bringUpToDate(Connection& db)
{
    // The office server keeps no index: each search reads the contacts and folds them here.
    if (db.onServer())
        return false;
    const bool readOnly = sqlite3_db_readonly(db.handle(), "main") == 1;
    try {
        if (!indexComplete(db)) {
            if (readOnly)
                return false;
            Transaction tx(db, Transaction::Mode::Immediate);
            exec(db, kBuildIndex);
            tx.commit();
        }
        if (hasStaleRows(db)) {
            if (readOnly)
                return false;
            foldStaleRows(db);
        }
    } catch (const DbError& e) {
        if (e.number() != SQLITE_BUSY && e.number() != SQLITE_LOCKED && e.number() != SQLITE_READONLY)
            throw;
        return false;
    }
    return true;
}

bool containsAll(const QString& words, const QStringList& needles)
{
    return std::all_of(needles.begin(), needles.end(), [&](const QString& n) { return words.contains(n); });
}

FoundContact toFound(const ContactRow& r, const QStringList& needles)
{
    FoundContact f{r.id, r.f[0], r.f[1], r.f[2], r.f[3], {}};
    // The phone that holds the most of the digits typed ("555 0199": the number with both, not
    // the first one with 555); else work, cell or home, whichever is first given.
    const QString* phones[] = {&r.f[7], &r.f[6], &r.f[5]}; // work, cell, home
    int best = 0;
    for (const QString* p : phones) {
        const QString digits = digitsOf(*p);
        const int matched = digits.isEmpty() ? 0 : int(std::count_if(needles.begin(), needles.end(), [&](const QString& n) {
            return isDigits(n) && digits.contains(n);
        }));
        if (matched > best) {
            best = matched;
            f.phone = *p;
        }
    }
    if (best > 0)
        return f;
    for (const QString* p : phones) {
        if (!p->trimmed().isEmpty()) {
            f.phone = *p;
            break;
        }
    }
    return f;
}

FoundContacts searchIndex(Connection& db, const QStringList& needles, int limit)
{
    FoundContacts out;
    Transaction tx(db, Transaction::Mode::Deferred);
    QByteArray sql = "SELECT id FROM contact_find3 WHERE ";
    for (int i = 0; i < needles.size(); ++i)
        sql += (i ? " AND " : "") + QByteArray("instr(words, ?") + QByteArray::number(i + 1) + ") > 0";
    sql += " ORDER BY sortkey LIMIT " + QByteArray::number(limit + 1);
    std::vector<qint64> ids;
    {
        Statement st = native(db, sql);
        for (int i = 0; i < needles.size(); ++i)
            st.bind(i + 1, needles[i]);
        while (st.step())
            ids.push_back(st.integer(0));
    }
    if (int(ids.size()) > limit) {
        out.more = true;
        ids.resize(size_t(limit));
    }
    if (ids.empty())
        return out;
    QByteArray list;
    for (qint64 id : ids)
        list += (list.isEmpty() ? "" : ",") + QByteArray::number(id);
    Statement st = native(db, QByteArray("SELECT id, ") + kContactFields + " FROM contacts WHERE id IN (" + list + ")");
    std::vector<ContactRow> rows;
    while (st.step()) {
        ContactRow r;
        r.id = int(st.integer(0));
        for (int i = 0; i < kFieldCount; ++i)
            r.f[i] = st.text(1 + i);
        rows.push_back(std::move(r));
    }
    for (qint64 id : ids) {
        const auto it = std::find_if(rows.begin(), rows.end(), [&](const ContactRow& r) { return r.id == id; });
        if (it != rows.end())
            out.rows.push_back(toFound(*it, needles));
    }
    tx.commit();
    return out;
}

// Without a usable index (a file that may only be read, or the office server): every contact,
// folded as it is read.
FoundContacts searchContacts(Connection& db, const QStringList& needles, int limit)
{
    FoundContacts out;
    std::vector<std::pair<QString, FoundContact>> found;
    const QHash<int, QString> history = historyTexts(db, needles);
    Statement st = native(db, QByteArray("SELECT id, ") + kContactFields + " FROM contacts");
    while (st.step()) {
        ContactRow r;
        r.id = int(st.integer(0));
        for (int i = 0; i < kFieldCount; ++i)
            r.f[i] = st.text(1 + i);
        r.history = history.value(r.id);
        if (containsAll(wordsOf(r), needles))
            found.emplace_back(sortKey(r.f[0], r.f[1]), toFound(r, needles));
    }
    std::stable_sort(found.begin(), found.end(), [](auto& a, auto& b) { return a.first < b.first; });
    for (auto& [key, contact] : found) {
        if (int(out.rows.size()) == limit) {
            out.more = true;
            break;
        }
        out.rows.push_back(std::move(contact));
    }
    return out;
}

} // namespace

QStringList searchNeedles(const QString& typed)
{
    const QString folded = foldedText(LeftChars(typed, kMaxSearchChars));
    QStringList pieces;
    qsizetype start = -1;
    for (qsizetype i = 0; i <= folded.size(); ++i) {
        const bool gap = i == folded.size() || folded.at(i).isSpace() || folded.at(i).category() == QChar::Other_Control;
        if (!gap && start < 0)
            start = i;
        if (gap && start >= 0) {
            const QString word = folded.mid(start, i - start);
            pieces << (isPhoneWord(word) ? digitsOf(word) : word);
            start = -1;
        }
    }
    // Longest first: a piece inside a longer one is found wherever the longer one is.
    std::stable_sort(pieces.begin(), pieces.end(), [](const QString& a, const QString& b) { return a.size() > b.size(); });
    QStringList needles;
    for (const QString& p : pieces)
        if (std::none_of(needles.begin(), needles.end(), [&](const QString& n) { return n.contains(p); }))
            needles << p;
    return needles;
}

QString searchWords(const QString& lastName, const QString& firstName, const QString& company, const QString& city,
                    const QString& email, const QString& homePhone, const QString& cellPhone, const QString& workPhone)
{
    // One field a line: no needle holds a line break, so none can match across two fields.
    return QStringList{foldedText(lastName), foldedText(firstName), foldedText(company), foldedText(city),
                       foldedText(email),    digitsOf(foldedText(homePhone)), digitsOf(foldedText(cellPhone)),
                       digitsOf(foldedText(workPhone))}
        .join(u'\n');
}

void prepareSearchIndex(const QString& connectionText)
{
    Connection connection(connectionText);
    bringUpToDate(connection);
}

FoundContacts findContacts(const QString& connectionText, const QString& typed, int limit)
{
    const QStringList needles = searchNeedles(typed);
    if (needles.isEmpty() || limit <= 0)
        return {};
    Connection db(connectionText);
    return bringUpToDate(db) ? searchIndex(db, needles, limit) : searchContacts(db, needles, limit);
}

} // namespace kestrel
