#include "data/SearchIndexStore.h"

#include "data/ContactFields.h"
#include "data/SearchIndex.h"
#include "data/Statement.h"
#include "data/TextFold.h"

#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <optional>
#include <string>
#include <string_view>

namespace kestrel::searchindex {

namespace {

// Every object of the index; a file missing any of them (an older file, or one indexed by an
// earlier form of the index) gets all of them anew.
constexpr const char* kIndexObjects[] = {"contact_find4",      "contact_find4_by_id", "contact_find4_tri",
                                         "contact_find4_stale", "contacts_find4_ins", "contacts_find4_upd",
                                         "contacts_find4_del",  "history_find4_ins",  "history_find4_upd",
                                         "history_find4_del"};

// contact_find4 is kept in name order, words beside the key: a text many contacts hold is found by
// walking it until a screenful matches. contact_find4_tri answers the texts few contacts hold: it
// keeps only which contacts hold each three-character piece (detail=none, no copy of the words), a
// third of the size of a full one; the words are compared whole afterwards, so a contact holding
// the pieces apart is never listed. Its text is folded before it is written (this SQLite's trigram
// tables cannot take accents off), and it compares exactly (case_sensitive 1) what was folded.
// The earlier form (contact_find3) goes: two indexes of a million contacts would double the file.
constexpr const char* kBuildIndex = R"sql(
DROP TRIGGER IF EXISTS contacts_find3_ins;
DROP TRIGGER IF EXISTS contacts_find3_upd;
DROP TRIGGER IF EXISTS contacts_find3_del;
DROP TRIGGER IF EXISTS history_find3_ins;
DROP TRIGGER IF EXISTS history_find3_upd;
DROP TRIGGER IF EXISTS history_find3_del;
DROP TABLE IF EXISTS contact_find3;
DROP TABLE IF EXISTS contact_find3_stale;
DROP TRIGGER IF EXISTS contacts_find4_ins;
DROP TRIGGER IF EXISTS contacts_find4_upd;
DROP TRIGGER IF EXISTS contacts_find4_del;
DROP TRIGGER IF EXISTS history_find4_ins;
DROP TRIGGER IF EXISTS history_find4_upd;
DROP TRIGGER IF EXISTS history_find4_del;
DROP TABLE IF EXISTS contact_find4;
DROP TABLE IF EXISTS contact_find4_tri;
DROP TABLE IF EXISTS contact_find4_stale;
CREATE TABLE contact_find4(sortkey TEXT NOT NULL, id INTEGER NOT NULL, words TEXT NOT NULL,
  PRIMARY KEY(sortkey, id)) WITHOUT ROWID;
CREATE UNIQUE INDEX contact_find4_by_id ON contact_find4(id);
CREATE INDEX contact_find4_by_end2 ON contact_find4(substr(words, -2));
CREATE INDEX contact_find4_by_end1 ON contact_find4(substr(words, -1));
CREATE VIRTUAL TABLE contact_find4_tri USING fts5(words, content='', detail=none,
  tokenize='trigram case_sensitive 1');
CREATE TABLE contact_find4_stale(id INTEGER PRIMARY KEY);
CREATE TRIGGER contacts_find4_ins AFTER INSERT ON contacts BEGIN
  INSERT OR IGNORE INTO contact_find4_stale(id) VALUES(new.id);
END;
CREATE TRIGGER contacts_find4_upd AFTER UPDATE ON contacts BEGIN
  INSERT OR IGNORE INTO contact_find4_stale(id) VALUES(old.id);
  INSERT OR IGNORE INTO contact_find4_stale(id) VALUES(new.id);
END;
CREATE TRIGGER contacts_find4_del AFTER DELETE ON contacts BEGIN
  INSERT OR IGNORE INTO contact_find4_stale(id) VALUES(old.id);
END;
CREATE TRIGGER history_find4_ins AFTER INSERT ON history BEGIN
  INSERT OR IGNORE INTO contact_find4_stale(id) SELECT new.contact_id WHERE new.contact_id IS NOT NULL;
END;
CREATE TRIGGER history_find4_upd AFTER UPDATE ON history BEGIN
  INSERT OR IGNORE INTO contact_find4_stale(id) SELECT old.contact_id WHERE old.contact_id IS NOT NULL;
  INSERT OR IGNORE INTO contact_find4_stale(id) SELECT new.contact_id WHERE new.contact_id IS NOT NULL;
END;
CREATE TRIGGER history_find4_del AFTER DELETE ON history BEGIN
  INSERT OR IGNORE INTO contact_find4_stale(id) SELECT old.contact_id WHERE old.contact_id IS NOT NULL;
END;
INSERT INTO contact_find4_stale(id) SELECT id FROM contacts;
)sql";

std::atomic<int> gFoldStepRows{2000};
std::atomic<int> gWalkFirstRows{20000};
std::atomic<int> gSampledRows{5000};

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

Statement native(Connection& db, const QByteArray& sql)
{
    return Statement(db, QString::fromUtf8(sql), Statement::Dialect::Native);
}

std::int64_t countUpTo(Connection& db, const char* table, std::int64_t limit)
{
    Statement st = native(db, QByteArray("SELECT count(*) FROM (SELECT 1 FROM ") + table +
                                  (limit > 0 ? " LIMIT " + QByteArray::number(qlonglong(limit)) : QByteArray()) + ")");
    st.step();
    return st.integer(0);
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

} // namespace

int foldStepRows() { return gFoldStepRows; }
void setFoldStepRows(int rows) { gFoldStepRows = rows; }
int walkFirstRows() { return gWalkFirstRows; }
void setWalkFirstRows(int rows) { gWalkFirstRows = rows; }
int sampledRows() { return gSampledRows; }
void setSampledRows(int rows) { gSampledRows = rows; }

QString digitsOf(const QString& s)
{
    QString out;
    for (const QChar c : s) {
        const char16_t u = c.unicode();
        if (u >= u'0' && u <= u'9')
            out += c;
        else if (u >= 0x80 && c.isDigit() && c.digitValue() >= 0) // other scripts' digits
            out += QChar(u'0' + c.digitValue());
    }
    return out;
}

QString sortKey(const QString& lastName, const QString& firstName)
{
    if (!isAscii(lastName) || !isAscii(firstName))
        return foldedText(lastName) + QChar(1) + foldedText(firstName);
    // Most names: the key made in one piece, capitals lowered as they are copied.
    QString key(lastName.size() + 1 + firstName.size(), Qt::Uninitialized);
    QChar* out = key.data();
    const auto copyLowered = [&out](const QString& name) {
        for (const QChar c : name)
            *out++ = c >= u'A' && c <= u'Z' ? QChar(c.unicode() + 32) : c;
    };
    copyLowered(lastName);
    *out++ = QChar(1);
    copyLowered(firstName);
    return key;
}

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

bool holdsAll(const ContactRow& r, const QStringList& needles)
{
    // No needle holds a line break, so each is looked for piece by piece, and a piece is folded
    // only when a needle was not found in those before it: most contacts are settled by their
    // name. A piece of ASCII text is not folded at all.
    constexpr int kPieces = kFieldCount + 1;
    std::array<std::optional<QString>, kPieces> folded;
    const auto holds = [&](int i, const QString& needle) {
        const QString& text = i == kFieldCount ? r.history : r.f[i];
        const bool digitsOnly = (i >= 5 && i <= 7) || i == 11; // phones and the birthday
        if (!digitsOnly && !folded[size_t(i)] && isAscii(text))
            return text.contains(needle, Qt::CaseInsensitive);
        if (!folded[size_t(i)]) {
            if (i == kFieldCount)
                folded[size_t(i)] = foldedText(r.history);
            else if (i >= 5 && i <= 7) // phones
                folded[size_t(i)] = digitsOf(foldedText(r.f[i]));
            else if (i == 11)
                folded[size_t(i)] = digitsOf(birthdayText(r.f[i]));
            else
                folded[size_t(i)] = foldedText(r.f[i]);
        }
        return folded[size_t(i)]->contains(needle);
    };
    for (const QString& n : needles) {
        bool held = false;
        for (int i = 0; i < kPieces && !held; ++i)
            held = (i < kFieldCount || !r.history.isEmpty()) && holds(i, n);
        if (!held)
            return false;
    }
    return true;
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

State stateOf(Connection& db, std::int64_t countedUpTo)
{
    State s;
    if (db.onServer()) {
        s.onServer = true;
        return s;
    }
    s.readOnly = sqlite3_db_readonly(db.handle(), "main") == 1;
    s.complete = indexComplete(db);
    s.waiting = countUpTo(db, s.complete ? "contact_find4_stale" : "contacts", countedUpTo);
    return s;
}

// One or two letters typed are looked up among the pieces that begin with them, which misses
// only where the words end in them: these indexes find those. An index built before them gains
// them once (a second each at a million contacts); one that may not be changed is searched
// without them.
const std::vector<SpeedUp>& wordEndSpeedUps()
{
    static const std::vector<SpeedUp> ups = {
        {"SELECT 1 FROM main.sqlite_master WHERE name='contact_find4' AND NOT EXISTS "
         "(SELECT 1 FROM main.sqlite_master WHERE name='contact_find4_by_end2')",
         "CREATE INDEX IF NOT EXISTS contact_find4_by_end2 ON contact_find4(substr(words, -2))"},
        {"SELECT 1 FROM main.sqlite_master WHERE name='contact_find4' AND NOT EXISTS "
         "(SELECT 1 FROM main.sqlite_master WHERE name='contact_find4_by_end1')",
         "CREATE INDEX IF NOT EXISTS contact_find4_by_end1 ON contact_find4(substr(words, -1))"},
    };
    return ups;
}

bool hasWordEndIndexes(Connection& db)
{
    Statement st = native(db, "SELECT count(*) FROM main.sqlite_master WHERE name IN ('contact_find4_by_end1', 'contact_find4_by_end2')");
    return st.step() && st.integer(0) == 2;
}

void createIndex(Connection& db)
{
    Transaction tx(db, Transaction::Mode::Immediate);
    exec(db, kBuildIndex);
    tx.commit();
}

namespace {

bool asciiOnly(std::string_view s)
{
    return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

enum class Fold { Text, Digits, Birthday };

// A field's part of the words as UTF-8, as wordsOf folds it. Nearly every field is plain ASCII,
// whose fold is its lower case (its digits for a phone): that is done on the stored bytes
// themselves, without a QString; any other text is folded as wordsOf does.
void appendFolded(std::string& out, std::string_view bytes, Fold how)
{
    if (asciiOnly(bytes) && (how != Fold::Birthday || bytes.empty())) {
        if (how == Fold::Text) {
            for (const char c : bytes)
                out += c >= 'A' && c <= 'Z' ? char(c + ('a' - 'A')) : c;
        } else {
            for (const char c : bytes)
                if (c >= '0' && c <= '9')
                    out += c;
        }
        return;
    }
    const QString text = exactUtf8(bytes.data(), qsizetype(bytes.size()));
    const QString folded = how == Fold::Text     ? foldedText(text)
                           : how == Fold::Digits ? digitsOf(foldedText(text))
                                                 : digitsOf(birthdayText(text));
    const QByteArray utf8 = folded.toUtf8();
    out.append(utf8.constData(), size_t(utf8.size()));
}

// The subjects and notes of one contact's history, joined as addHistoryText joins them; kept as
// bytes while they are ASCII.
struct HistoryText {
    std::string ascii;
    QString text;
    bool isAscii = true;
    bool empty() const { return isAscii ? ascii.empty() : text.isEmpty(); }
    void clear()
    {
        ascii.clear();
        text.clear();
        isAscii = true;
    }
    void add(std::string_view subject, std::string_view note)
    {
        if (isAscii && asciiOnly(subject) && asciiOnly(note)) {
            for (const std::string_view part : {subject, note}) {
                if (part.empty())
                    continue;
                if (!ascii.empty())
                    ascii += '\n';
                ascii += part;
            }
            return;
        }
        if (isAscii) {
            text = QString::fromLatin1(ascii.data(), qsizetype(ascii.size()));
            isAscii = false;
        }
        addHistoryText(text, exactUtf8(subject.data(), qsizetype(subject.size())),
                       exactUtf8(note.data(), qsizetype(note.size())));
    }
    void appendFolded(std::string& out) const
    {
        if (isAscii)
            return searchindex::appendFolded(out, ascii, Fold::Text);
        const QByteArray utf8 = foldedText(text).toUtf8();
        out.append(utf8.constData(), size_t(utf8.size()));
    }
};

// The contacts' fields as the step reads them, after the id and whether the contact is there.
constexpr int kFirstField = 2;
constexpr Fold kFieldFolds[kFieldCount] = {Fold::Text,   Fold::Text,   Fold::Text, Fold::Text, Fold::Text,
                                           Fold::Digits, Fold::Digits, Fold::Digits, Fold::Text, Fold::Text,
                                           Fold::Text,   Fold::Birthday, Fold::Text};

} // namespace

std::int64_t foldNoted(Connection& db, std::int64_t rows)
{
    Transaction tx(db, Transaction::Mode::Immediate);
    // The lowest ids first, so that the step ends by removing every note up to the last one it
    // folded: notes made meanwhile wait for the write lock this transaction holds.
    const QByteArray noted = "SELECT id FROM contact_find4_stale ORDER BY id" +
                             (rows > 0 ? " LIMIT " + QByteArray::number(qlonglong(rows)) : QByteArray());
    Statement sel = native(db, QByteArray("SELECT s.id, c.id IS NOT NULL, c.") +
                                   QByteArray(kContactFields).replace(", ", ", c.") + " FROM (" + noted +
                                   ") s LEFT JOIN contacts c ON c.id = s.id ORDER BY s.id");
    // The history of the same contacts in one walk beside them, each contact's in the order its
    // own lookup (by history_by_contact) gives.
    Statement history = native(db, "SELECT contact_id, subject, note FROM history WHERE contact_id IN (" + noted +
                                       ") ORDER BY contact_id, histdate, histtime, id");
    bool historyLeft = history.step();
    // No contact above the highest one indexed has words to forget: a first build looks up none.
    Statement highest = native(db, "SELECT ifnull(max(id), 0) FROM contact_find4");
    const qint64 highestIndexed = highest.step() ? highest.integer(0) : 0;
    highest.reset();
    Statement old = native(db, "SELECT words FROM contact_find4 WHERE id = ?1");
    Statement forgetPieces = native(db, "INSERT INTO contact_find4_tri(contact_find4_tri, rowid, words) VALUES('delete', ?1, ?2)");
    Statement forget = native(db, "DELETE FROM contact_find4 WHERE id = ?1");
    Statement ins = native(db, "INSERT INTO contact_find4(id, sortkey, words) VALUES(?1, ?2, ?3)");
    Statement insPieces = native(db, "INSERT INTO contact_find4_tri(rowid, words) VALUES(?1, ?2)");
    std::int64_t folded = 0, last = 0;
    std::string words, key;
    HistoryText historyText;
    while (sel.step()) {
        const qint64 id = sel.integer(0);
        last = id;
        ++folded;
        // A contentless table forgets a row only given the very words it was given.
        if (id <= highestIndexed) {
            old.bind(1, id);
            if (old.step()) {
                forgetPieces.bind(1, id);
                forgetPieces.bindUtf8(2, old.bytes(0).data(), int(old.bytes(0).size()));
                forgetPieces.run();
                forget.bind(1, id);
                forget.run();
            }
            old.reset();
        }
        historyText.clear();
        while (historyLeft && history.integer(0) <= id) {
            if (history.integer(0) == id)
                historyText.add(history.bytes(1), history.bytes(2));
            historyLeft = history.step();
        }
        if (sel.integer(1) == 0)
            continue; // deleted
        words.clear();
        size_t lastNameEnds = 0, firstNameEnds = 0;
        for (int i = 0; i < kFieldCount; ++i) {
            if (i > 0)
                words += '\n';
            appendFolded(words, sel.bytes(kFirstField + i), kFieldFolds[i]);
            if (i == 0)
                lastNameEnds = words.size();
            else if (i == 1)
                firstNameEnds = words.size();
        }
        if (!historyText.empty()) {
            words += '\n';
            historyText.appendFolded(words);
        }
        key.assign(words, 0, lastNameEnds);
        key += '\x01';
        key.append(words, lastNameEnds + 1, firstNameEnds - lastNameEnds - 1);
        ins.bind(1, id);
        ins.bindUtf8Unowned(2, key.data(), int(key.size()));
        ins.bindUtf8Unowned(3, words.data(), int(words.size()));
        ins.run();
        insPieces.bind(1, id);
        insPieces.bindUtf8Unowned(2, words.data(), int(words.size()));
        insPieces.run();
    }
    if (folded > 0) {
        Statement done = native(db, "DELETE FROM contact_find4_stale WHERE id <= ?1");
        done.bind(1, last);
        done.run();
    }
    tx.commit();
    return folded;
}

} // namespace kestrel::searchindex
