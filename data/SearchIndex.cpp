#include "data/SearchIndex.h"

#include "data/Database.h"
#include "data/TextFold.h"
#include "data/SearchIndexStore.h"
#include "data/Statement.h"
#include "data/modData.h"

#include <QHash>
#include <QSet>

#include <sqlite3.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <optional>
#include <string_view>

namespace kestrel {

namespace {

using namespace searchindex;

// A statement in SQLite's own SQL, as the index is written.
Statement native(Connection& db, const QByteArray& sql)
{
    return Statement(db, QString::fromUtf8(sql), Statement::Dialect::Native);
}

// Where the trigram table finds more candidates than this, the text is common: walking the words
// in name order finds a screenful sooner than sorting every candidate by name would.
constexpr int kMostCandidates = 20000;

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

FoundContact toFound(const ContactRow& r, const QStringList& needles)
{
    FoundContact f{r.id, r.f[0], r.f[1], r.f[2], r.f[3], {}};
    // The phone that holds the most of the digits typed ("555 0199": the number with both, not
    // the first one with 555); else work, cell or home, whichever is first given.
    const QString* phones[] = {&r.f[7], &r.f[6], &r.f[5]}; // work, cell, home
    int best = 0;
    // Only digits typed can pick a phone: the phones of a text without them are not read for it.
    for (const QString* p : phones) {
        if (std::none_of(needles.begin(), needles.end(), isDigits))
            break;
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

// Whether the contact the statement stands on (its id and fields in the order of kContactFields
// from the first column, history set by the caller) holds every needle. The fields the list
// shows, with the e-mail and phones, are read first: most contacts are found by them, and the
// rest are read only where they are not.
bool readAndCheck(const Statement& st, ContactRow& r, const QStringList& needles)
{
    constexpr int kReadFirst = 8;
    r.id = int(st.integer(0));
    for (int i = 0; i < kReadFirst; ++i)
        r.f[i] = st.text(1 + i);
    if (holdsAll(r, needles))
        return true;
    for (int i = kReadFirst; i < kFieldCount; ++i)
        r.f[i] = st.text(1 + i);
    return holdsAll(r, needles);
}

// The trigram table's query for the needles of three characters or more: a few of each needle's
// three-character pieces, all of which a contact must hold. Empty when no needle is that long.
// Pieces are counted in characters as SQLite stores them (a character outside the basic plane is
// one, a stray half of a pair the replacement character it is stored as).
QString trigramQuery(const QStringList& needles)
{
    QStringList terms;
    for (const QString& n : needles) {
        const QList<uint> chars = QString::fromUtf8(n.toUtf8()).toUcs4();
        if (chars.size() < 3)
            continue;
        // Pieces that do not overlap, and the last one, are enough to narrow the candidates: the
        // words are compared whole afterwards. At most six, so a long paste asks no more than that.
        QList<qsizetype> starts;
        for (qsizetype at = 0; at + 3 <= chars.size() && starts.size() < 5; at += 3)
            starts << at;
        starts << chars.size() - 3;
        for (const qsizetype at : starts) {
            QString piece = QString::fromUcs4(reinterpret_cast<const char32_t*>(chars.constData() + at), 3);
            piece = u'"' + piece.replace(u'"', QStringLiteral("\"\"")) + u'"';
            if (!terms.contains(piece))
                terms << piece;
        }
    }
    return terms.join(QStringLiteral(" AND "));
}

// The ids of the contacts holding every piece, or nullopt where more than kMostCandidates do.
std::optional<QByteArray> trigramCandidates(Connection& db, const QString& query)
{
    Statement st = native(db, "SELECT rowid FROM contact_find4_tri WHERE contact_find4_tri MATCH ?1 LIMIT " +
                                  QByteArray::number(kMostCandidates + 1));
    st.bind(1, query);
    QByteArray ids = "[";
    int n = 0;
    while (st.step()) {
        if (++n > kMostCandidates)
            return std::nullopt;
        ids += (n > 1 ? "," : "") + QByteArray::number(qlonglong(st.integer(0)));
    }
    return ids + "]";
}

// The contacts whose words hold a needle of one or two characters, or nullopt where more than
// kMostCandidates may (or the file's index lacks the word ends' indexes). The trigram table
// cannot look up so short a text, but every place it stands is the start of a piece that the
// table keeps (found in its list of pieces, a range of it) or among the words' last two
// characters (found in the word ends' indexes).
std::optional<QByteArray> shortCandidates(Connection& db, const QString& needle)
{
    if (!hasWordEndIndexes(db))
        return std::nullopt;
    // The pieces beginning with the needle: from the needle itself to it followed by the
    // highest character there is.
    native(db, "CREATE VIRTUAL TABLE IF NOT EXISTS temp.contact_find4_pieces USING fts5vocab(main, contact_find4_tri, row)").run();
    const QString highest = needle + QString::fromUcs4(U"\U0010FFFF", 1);
    Statement pieces = native(db, "SELECT term FROM temp.contact_find4_pieces WHERE term >= ?1 AND term <= ?2 LIMIT 1001");
    pieces.bind(1, needle);
    pieces.bind(2, highest);
    QStringList terms;
    while (pieces.step())
        terms << u'"' + pieces.text(0).replace(u'"', QStringLiteral("\"\"")) + u'"';
    if (terms.size() > 1000)
        return std::nullopt;
    QByteArray ids = "[";
    int n = 0;
    const auto add = [&](Statement& st) {
        while (st.step()) {
            if (++n > kMostCandidates)
                return false;
            ids += (n > 1 ? "," : "") + QByteArray::number(qlonglong(st.integer(0)));
        }
        return true;
    };
    if (!terms.isEmpty()) {
        Statement st = native(db, "SELECT rowid FROM contact_find4_tri WHERE contact_find4_tri MATCH ?1 LIMIT " +
                                      QByteArray::number(kMostCandidates + 1));
        st.bind(1, terms.join(QStringLiteral(" OR ")));
        if (!add(st))
            return std::nullopt;
    }
    // A contact found twice is still one in the list the search reads by.
    const bool two = QString::fromUtf8(needle.toUtf8()).toUcs4().size() == 2; // as SQLite counts characters
    Statement ends = native(db, two ? "SELECT id FROM contact_find4 WHERE substr(words, -2) = ?1"
                                    : "SELECT id FROM contact_find4 WHERE substr(words, -1) = ?1 "
                                      "UNION SELECT id FROM contact_find4 WHERE substr(words, -2) >= ?1 AND substr(words, -2) <= ?2");
    ends.bind(1, needle);
    if (!two)
        ends.bind(2, highest);
    if (!add(ends))
        return std::nullopt;
    return ids + "]";
}

// Whether the file lacks the word ends' indexes and gains them behind the window: until then a
// letter or two would read every contact's words at each key.
bool wordEndsComing(Connection& db)
{
    const std::vector<SpeedUp>& ups = wordEndSpeedUps();
    return std::any_of(ups.begin(), ups.end(), [&](const SpeedUp& up) { return speedUpComing(db.handle(), up); });
}

// The first rows in name order, compared here: a text that many contacts hold fills a screenful
// within them, and the trigram table need not be asked.
std::vector<qint64> walkFirst(Connection& db, const QStringList& needles, int limit, bool& walkedAll)
{
    std::vector<QByteArray> utf8;
    for (const QString& n : needles)
        utf8.push_back(n.toUtf8());
    std::vector<qint64> ids;
    const int first = walkFirstRows();
    Statement st = native(db, "SELECT id, words FROM contact_find4 ORDER BY sortkey LIMIT " + QByteArray::number(first));
    int walked = 0;
    while (st.step()) {
        ++walked;
        const std::string_view words = st.bytes(1);
        if (std::all_of(utf8.begin(), utf8.end(), [&](const QByteArray& n) {
                return words.find(std::string_view(n.constData(), size_t(n.size()))) != std::string_view::npos;
            })) {
            ids.push_back(st.integer(0));
            if (int(ids.size()) > limit)
                break;
        }
    }
    walkedAll = walked < first;
    return ids;
}

FoundContacts searchIndex(Connection& db, const QStringList& needles, int limit)
{
    FoundContacts out;
    Transaction tx(db, Transaction::Mode::Deferred);
    bool walkedAll = false;
    std::vector<qint64> ids = walkFirst(db, needles, limit, walkedAll);
    if (int(ids.size()) <= limit && !walkedAll) {
        ids.clear();
        QByteArray where;
        for (int i = 0; i < needles.size(); ++i)
            where += (i ? " AND " : "") + QByteArray("instr(words, ?") + QByteArray::number(i + 2) + ") > 0";
        const QByteArray order = " ORDER BY sortkey LIMIT " + QByteArray::number(limit + 1);
        // A text few contacts hold is looked up by its pieces and only those contacts are
        // compared; where many hold them, every row is walked.
        std::optional<QByteArray> candidates;
        if (const QString query = trigramQuery(needles); !query.isEmpty())
            candidates = trigramCandidates(db, query);
        else if (wordEndsComing(db)) { // the longest needle (the first) has one or two characters
            out.notReady = true;
            Statement count = native(db, "SELECT count(*) FROM contact_find4");
            out.waiting = count.step() ? count.integer(0) : 0;
            return out;
        } else
            candidates = shortCandidates(db, needles.front());
        Statement st = native(db, candidates ? "SELECT id FROM contact_find4 WHERE id IN (SELECT value FROM json_each(?1)) AND " +
                                                   where + order
                                             : "SELECT id FROM contact_find4 WHERE ?1 IS NULL AND " + where + order);
        if (candidates)
            st.bindUtf8(1, candidates->constData(), int(candidates->size()));
        else
            st.bindNull(1);
        for (int i = 0; i < needles.size(); ++i)
            st.bind(i + 2, needles[i]);
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

bool busyOrReadOnly(const DbError& e)
{
    return e.number() == SQLITE_BUSY || e.number() == SQLITE_LOCKED || e.number() == SQLITE_READONLY;
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
        r.history = history.value(int(st.integer(0)));
        if (readAndCheck(st, r, needles))
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

// What a keystroke on the office server needs before its lookup, asked in one round trip: whether
// the server keeps each contact's folded search text with a trigram index over it, and whether
// that text holds the contact's history too; the needles as the server folds them (where its rules
// fold further than the program's, as ŋ to n); and, where the text lacks the history, the history
// entries that hold any needle (as the server's LIKE folds), by contact.
struct ServerFindFacts {
    bool keepsFindText = false;
    bool historyInFindText = false;
    QStringList folded;
    QHash<int, QString> history;
};

// Whether the server keeps the search text's trigram index, and whether the history's own
// trigger, enabled, keeps the history in the text. Each is one lookup by a catalog's key: they
// are asked at every keystroke, and a join or a scan of the catalog cost a third of a
// millisecond more than a common text's whole search.
constexpr char kIndexed[] = "EXISTS (SELECT 1 FROM pg_class WHERE oid = to_regclass('public.contacts_by_findtext') AND "
                            "relkind = 'i')";
constexpr char kHistoryKept[] = "EXISTS (SELECT 1 FROM pg_trigger WHERE tgrelid = to_regclass('public.history') AND "
                                "tgname = 'history_findtext' AND tgenabled <> 'D')";

ServerFindFacts serverFindFacts(Connection& db, const QStringList& needles)
{
    const int n = int(needles.size());
    QString facts = QStringLiteral("SELECT %1::int AS indexed, %2::int AS with_history")
                        .arg(QLatin1String(kIndexed), QLatin1String(kHistoryKept));
    QString held;
    for (int i = 0; i < n; ++i) {
        facts += QStringLiteral(", kestrel_fold(?%1)").arg(i + 1);
        held += QStringLiteral("%1h.subject ~~~ ?%2 OR h.note ~~~ ?%2").arg(i ? QStringLiteral(" OR ") : QString()).arg(n + i + 1);
    }
    // Materialized, so that the folds run once rather than once for each history entry. The
    // entries are read only for the index's lookup on a text without them (without the index the
    // contacts are read whole, with their history, anyway): kept apart (OFFSET 0), the condition
    // on the facts is tested once before the table is read at all.
    Statement st(db,
                 QStringLiteral("WITH facts AS MATERIALIZED (%1) SELECT facts.*, h.contact_id, h.subject, h.note FROM facts "
                                "LEFT JOIN LATERAL (SELECT h.contact_id, h.subject, h.note FROM history h WHERE "
                                "facts.indexed = 1 AND facts.with_history = 0 AND h.contact_id IS NOT NULL AND (%2) "
                                "OFFSET 0) h ON true")
                     .arg(facts, held),
                 Statement::Dialect::Native);
    for (int i = 0; i < n; ++i) {
        st.bind(i + 1, needles[i]);
        st.bind(n + i + 1, u'%' + needles[i] + u'%');
    }
    ServerFindFacts out;
    bool first = true;
    while (st.step()) {
        if (first) {
            out.keepsFindText = st.integer(0) != 0;
            out.historyInFindText = out.keepsFindText && st.integer(1) != 0;
            for (int i = 0; i < n; ++i)
                out.folded << st.text(2 + i);
            first = false;
        }
        if (!st.isNull(n + 2))
            addHistoryText(out.history[int(st.integer(n + 2))], st.text(n + 3), st.text(n + 4));
    }
    return out;
}

QString likeOperand(const QString& needle)
{
    QString escaped = needle;
    escaped.replace(u'\\', QStringLiteral("\\\\")).replace(u'%', QStringLiteral("\\%")).replace(u'_', QStringLiteral("\\_"));
    return u'%' + escaped + u'%';
}

// Whether the trigram index's matches, sorted, cost less than walking the contacts in name
// order to a screenful of them: a uniform text that m of n contacts hold is a screenful into the
// walk after (limit + 1) * n / m rows, against the c contacts that hold the needles the trigram
// index can look up (three characters or more); a walk that finds less than a screenful (a name
// that one contact in fifty has, all under one letter) only adds its rows to the lookup's.
// Counted in a sample of the table's pages, the same ones at each keystroke so that the server
// keeps them in memory. Nothing is known of a text the index cannot narrow or of a table the
// server has not yet counted. where: every needle's condition, bound as bind does; narrowing:
// those of the long needles. whole: the table holds no more rows than the walk reads.
std::optional<bool> lookUpFirst(Connection& db, const QString& where, const QString& narrowing,
                                const std::function<void(Statement&)>& bind, int limit, const QString& checked,
                                std::optional<bool>& passed, bool& whole)
{
    const int sampleRows = sampledRows();
    if (sampleRows <= 0 || narrowing.isEmpty())
        return std::nullopt;
    // The planner's own reckoning: the rows per page at the last count, times the pages now.
    Statement size(db, QStringLiteral("SELECT CASE WHEN relpages > 0 AND reltuples > 0 THEN reltuples / relpages * "
                                      "(pg_relation_size(oid) / current_setting('block_size')::int) ELSE -1 END%1 "
                                      "FROM pg_class WHERE oid = 'contacts'::regclass").arg(checked),
                   Statement::Dialect::Native);
    const bool stepped = size.step();
    if (stepped && !checked.isEmpty())
        passed = size.integer(1) != 0;
    if (!checked.isEmpty() && passed != true)
        return std::nullopt;
    const double rows = stepped ? size.real(0) : -1;
    if (rows < 1)
        return std::nullopt;
    const double sampled = std::min(rows, double(sampleRows));
    Statement st(db, QStringLiteral("SELECT count(*), count(*) FILTER (WHERE %1) FROM (SELECT findtext FROM contacts "
                                    "TABLESAMPLE SYSTEM (%2) REPEATABLE (0) LIMIT %3) sample WHERE %4")
                         .arg(where, QString::number(std::min(100.0, 100 * sampled / rows), 'f', 6))
                         .arg(sampleRows)
                         .arg(narrowing),
                 Statement::Dialect::Native);
    bind(st);
    if (!st.step())
        return std::nullopt;
    const double narrowed = double(st.integer(0)) * rows / sampled;
    const double held = double(st.integer(1)) * rows / sampled;
    const double screenful = limit + 1;
    const int walked = walkFirstRows();
    whole = walked > 0 && rows <= walked;
    return walked <= 0 || held < screenful * rows / walked || narrowed * held <= 2 * screenful * rows;
}

// The office server's own index picks the contacts whose folded text holds every needle, the
// first screenful of them in name order; contacts found through their history are added, and
// each is checked whole here, as a file's index checks its candidates.
//
// unconfirmed: the facts were not asked of the server (the needles are ASCII, which it folds as the
// program does), and the first statement asks whether it keeps the text with its history and its
// index; where it does not, or no statement could tell, nothing is returned and the caller asks
// the server for the whole facts.
std::optional<FoundContacts> searchServerIndex(Connection& db, const QStringList& needles, int limit,
                                               const ServerFindFacts& facts, bool unconfirmed = false)
{
    std::optional<bool> passed;
    const QString checked = unconfirmed ? QStringLiteral(", (%1 AND %2)::int").arg(QLatin1String(kIndexed), QLatin1String(kHistoryKept))
                                        : QString();
    std::vector<std::pair<QString, FoundContact>> found;
    QSet<int> seen;
    const QHash<int, QString>& history = facts.history;
    // Where the server's text holds the history, a row its own fields do not settle was found by
    // its history, or by a fold of the server's that the program does not make: its entries are
    // read afterwards, for those rows alone.
    std::vector<ContactRow> unsettled;
    const auto take = [&](Statement& st, bool asks) {
        while (st.step()) {
            if (asks && !passed)
                passed = st.integer(1 + kFieldCount) != 0;
            const int id = int(st.integer(0));
            if (seen.contains(id))
                continue;
            seen.insert(id);
            ContactRow r;
            r.history = history.value(id);
            if (readAndCheck(st, r, needles))
                found.emplace_back(sortKey(r.f[0], r.f[1]), toFound(r, needles));
            else if (facts.historyInFindText)
                unsettled.push_back(std::move(r));
        }
    };
    QString where;
    QString narrowing;
    for (int i = 0; i < needles.size(); ++i) {
        const QString like = QStringLiteral("findtext LIKE ?%1 ESCAPE '\\'").arg(i + 1);
        where += (i ? QStringLiteral(" AND ") : QString()) + like;
        if (QString::fromUtf8(needles[i].toUtf8()).toUcs4().size() >= 3)
            narrowing += (narrowing.isEmpty() ? QString() : QStringLiteral(" AND ")) + like;
    }
    // A text many contacts hold is found by walking the first contacts in name order (the name
    // index, stopped at a screenful); a text they hold less often is looked up in the trigram
    // index, whose matches are then sorted. Left to itself the planner reads every contact for a
    // common text, or walks the name index to a rare one's far letter: the lookup's order (empty
    // names first, as the walk and the list have them) is one the name index cannot give.
    const QString fields = QString::fromLatin1(kContactFields);
    // Where the walk would read the whole table, it is asked of the whole table: bounded by a
    // limit no smaller than the table, the planner sorts every contact by the collation (40 ms at
    // 10,000 contacts) rather than read the name index to a screenful or sort only the matches.
    // Then it has seen every match and no lookup follows.
    bool whole = false;
    // The first statement run asks what the facts would have told, in a column of its own (a
    // subquery the server runs once for the whole statement).
    const auto walk = [&](const QString& extra) {
        if (whole)
            return QStringLiteral("SELECT id, %1%4 FROM contacts WHERE %2 ORDER BY lastname NULLS FIRST, firstname NULLS "
                                  "FIRST, address NULLS FIRST LIMIT %3")
                .arg(fields, where).arg(limit + 1).arg(extra);
        return QStringLiteral("SELECT id, %1%5 FROM (SELECT id, %1, findtext FROM contacts ORDER BY lastname NULLS "
                              "FIRST, firstname NULLS FIRST, address NULLS FIRST LIMIT %2) first WHERE %3 LIMIT %4")
            .arg(fields).arg(walkFirstRows()).arg(where).arg(limit + 1).arg(extra);
    };
    // The matches are ranked by their search text, whose first two lines are the last and first
    // names folded as the list sorts them (an empty name first), compared byte by byte: the
    // server's collation would compare each of thousands of matches far more slowly, and orders
    // accents and punctuation otherwise than the list. Only the ids are sorted; the screenful's
    // fields are read after.
    const auto sql = [&](const QString& extra) {
        return QStringLiteral("SELECT id, ") + fields + extra +
               QStringLiteral(" FROM contacts WHERE id IN (SELECT id FROM contacts WHERE ") + where +
               QStringLiteral(" ORDER BY findtext COLLATE \"C\", id LIMIT %1)").arg(limit + 1);
    };
    // The words as the server folds them, looked up as patterns of their own so that the planner
    // sees what it matches.
    const QStringList& serverNeedles = facts.folded;
    const auto bind = [&](Statement& st) {
        for (int i = 0; i < needles.size(); ++i)
            st.bind(i + 1, likeOperand(serverNeedles.value(i, needles[i])));
    };
    // Whether the server has yet to say that it keeps what this search relies on.
    const auto unsure = [&] { return unconfirmed && passed != true; };
    const auto lookUp = [&](const auto& query) {
        const bool asks = unconfirmed && !passed;
        Statement st(db, query(asks ? checked : QString()), Statement::Dialect::Native);
        bind(st);
        take(st, asks);
    };
    const std::optional<bool> first = lookUpFirst(db, where, narrowing, bind, limit, checked, passed, whole);
    if (unconfirmed && passed == false)
        return std::nullopt;
    const bool walking = !first.value_or(false);
    if (walking)
        lookUp(walk);
    if (unsure())
        return std::nullopt;
    if (int(seen.size()) <= limit && !(walking && whole))
        lookUp(sql);
    if (unsure())
        return std::nullopt;
    bool more = int(seen.size()) > limit;
    if (!unsettled.empty()) {
        QStringList ids;
        for (const ContactRow& r : unsettled)
            ids << QString::number(r.id);
        Statement entries(db, QStringLiteral("SELECT contact_id, subject, note FROM history WHERE contact_id = ANY(?::int[]) "
                                             "ORDER BY id"),
                          Statement::Dialect::Native);
        entries.bind(1, u'{' + ids.join(u',') + u'}');
        QHash<int, QString> texts;
        while (entries.step())
            addHistoryText(texts[int(entries.integer(0))], entries.text(1), entries.text(2));
        for (ContactRow& r : unsettled) {
            r.history = texts.value(r.id);
            if (holdsAll(r, needles))
                found.emplace_back(sortKey(r.f[0], r.f[1]), toFound(r, needles));
        }
    }
    if (!history.isEmpty()) {
        QStringList ids;
        for (auto it = history.cbegin(); it != history.cend(); ++it)
            if (!seen.contains(it.key()))
                ids << QString::number(it.key());
        if (!ids.isEmpty()) {
            Statement byHistory(db, QStringLiteral("SELECT id, ") + QString::fromLatin1(kContactFields) +
                                        QStringLiteral(" FROM contacts WHERE id = ANY(?::int[])"),
                                Statement::Dialect::Native);
            byHistory.bind(1, u'{' + ids.join(u',') + u'}');
            take(byHistory, false);
        }
    }
    // Names alike in order of their ids, as the lookup gives them, whichever query found them.
    std::sort(found.begin(), found.end(), [](auto& a, auto& b) {
        return a.first < b.first || (a.first == b.first && a.second.id < b.second.id);
    });
    FoundContacts out;
    for (auto& [key, contact] : found) {
        if (int(out.rows.size()) == limit) {
            more = true;
            break;
        }
        out.rows.push_back(std::move(contact));
    }
    out.more = more;
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

bool searchIndexNeedsBuilding(const QString& connectionText)
{
    Connection db(connectionText);
    const State s = stateOf(db, kFoldWhileSearching + 1);
    return !s.onServer && !s.readOnly && (!s.complete || s.waiting > kFoldWhileSearching);
}

bool buildSearchIndex(const QString& connectionText, const std::function<void(SearchIndexProgress)>& progress,
                      const std::atomic<bool>& stop)
{
    Connection db(connectionText);
    State s = stateOf(db, 0);
    if (s.onServer || s.readOnly)
        return false;
    if (!s.complete) {
        createIndex(db);
        s = stateOf(db, 0);
    }
    SearchIndexProgress p{0, s.waiting};
    while (!stop) {
        const std::int64_t folded = foldNoted(db, foldStepRows());
        if (folded == 0)
            return true;
        p.done += folded;
        if (p.done >= p.total) // written meanwhile
            p.total = p.done + stateOf(db, 0).waiting;
        if (progress)
            progress(p);
    }
    return false;
}

void prepareSearchIndex(const QString& connectionText)
{
    const std::atomic<bool> never{false};
    buildSearchIndex(connectionText, {}, never);
}

FoundContacts findContacts(const QString& connectionText, const QString& typed, int limit)
{
    const QStringList needles = searchNeedles(typed);
    if (needles.isEmpty() || limit <= 0)
        return {};
    Connection db(connectionText);
    // An office server set up before its search index reads the contacts and folds them here.
    const State s = stateOf(db, kFoldWhileSearching + 1);
    if (s.onServer) {
        // ASCII needles are folded on the server as here: the facts need not be asked first, where
        // the server keeps what the search relies on (the first statement asks).
        if (std::all_of(needles.begin(), needles.end(), [](const QString& n) { return isAscii(n); })) {
            ServerFindFacts assumed;
            assumed.keepsFindText = assumed.historyInFindText = true;
            assumed.folded = needles;
            if (std::optional<FoundContacts> found = searchServerIndex(db, needles, limit, assumed, true))
                return std::move(*found);
        }
        const ServerFindFacts facts = serverFindFacts(db, needles);
        return facts.keepsFindText ? *searchServerIndex(db, needles, limit, facts) : searchContacts(db, needles, limit);
    }
    if (s.waiting > kFoldWhileSearching) {
        if (s.readOnly)
            return searchContacts(db, needles, limit);
        FoundContacts wait;
        wait.notReady = true;
        wait.waiting = stateOf(db, 0).waiting;
        return wait;
    }
    if (!s.complete || s.waiting > 0) {
        if (s.readOnly)
            return searchContacts(db, needles, limit);
        try {
            if (!s.complete)
                createIndex(db);
            foldNoted(db, 0);
        } catch (const DbError& e) {
            // Another program holds the write lock: this search reads the contacts themselves.
            if (!busyOrReadOnly(e))
                throw;
            return searchContacts(db, needles, limit);
        }
    }
    return searchIndex(db, needles, limit);
}

} // namespace kestrel
