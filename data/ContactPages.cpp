#include "data/ContactPages.h"

#include "data/Database.h"
#include "data/Statement.h"
#include "data/TextFold.h"

#include <algorithm>

#include <sqlite3.h>

namespace kestrel {

namespace {
// Both engines index this expression (contacts_by_initial), so the counts and a letter's pages
// are read from that index instead of the table.
const QString kKey = QStringLiteral("upper(substr(lastname,1,1))");
const char* const kNameColumns[] = {"lastname", "firstname", "address"};

QString orderBy(const Connection& db)
{
    // The server puts missing values last unless told; the local files put them first.
    return db.onServer() ? QStringLiteral(" ORDER BY lastname NULLS FIRST, firstname NULLS FIRST, address NULLS FIRST, id")
                         : QStringLiteral(" ORDER BY lastname, firstname, address, id");
}

// "After this row" in name order. A row value compares in one step, which both engines answer
// from the index; it cannot say "after a missing value", so a row with one is spelled out.
QString afterCondition(const NameRow& after, std::vector<QString>& texts)
{
    const std::optional<QString>* values[] = {&after.last, &after.first, &after.address};
    bool anyMissing = false;
    for (const auto* v : values)
        anyMissing = anyMissing || !v->has_value();
    if (!anyMissing) {
        for (const auto* v : values)
            texts.push_back(**v);
        return QStringLiteral("(lastname, firstname, address, id) > (?, ?, ?, ?)");
    }
    QString sql = QStringLiteral("id > ?");
    for (int i = 2; i >= 0; --i) {
        const QString c = QString::fromLatin1(kNameColumns[i]);
        const bool missing = !values[i]->has_value();
        const QString greater = missing ? c + QStringLiteral(" IS NOT NULL") : c + QStringLiteral(" > ?");
        const QString equal = missing ? c + QStringLiteral(" IS NULL") : c + QStringLiteral(" = ?");
        sql = QStringLiteral("(%1 OR (%2 AND %3))").arg(greater, equal, sql);
    }
    // The parameters in the order they appear: greater and equal of each column, outermost first.
    for (const auto* v : values)
        if (v->has_value())
            texts.insert(texts.end(), {**v, **v});
    return sql;
}
} // namespace

std::vector<InitialCount> presentInitials(Connection& db, const QString& type)
{
    const QString ofType = type.isEmpty() ? QString() : QStringLiteral("contype = ? AND ");
    // Each step asks the index for the least initial above the one before.
    Statement st(db, QStringLiteral("WITH RECURSIVE k(v) AS (SELECT (SELECT min(%1) FROM contacts WHERE %2%1 IS NOT NULL) "
                                    "UNION ALL SELECT (SELECT min(%1) FROM contacts WHERE %2%1 > k.v) FROM k WHERE v IS NOT NULL) "
                                    "SELECT v FROM k WHERE v IS NOT NULL")
                     .arg(kKey, ofType),
                 Statement::Dialect::Native);
    if (!type.isEmpty()) {
        st.bind(1, type);
        st.bind(2, type);
    }
    std::vector<InitialCount> out;
    while (st.step())
        out.push_back({st.text(0), false, -1});
    Statement missing(db, QStringLiteral("SELECT 1 FROM contacts WHERE %1lastname IS NULL LIMIT 1").arg(ofType),
                      Statement::Dialect::Native);
    if (!type.isEmpty())
        missing.bind(1, type);
    if (missing.step())
        out.push_back({QString(), true, -1});
    return out;
}

bool moreContactsThan(Connection& db, const QString& type, int n)
{
    Statement st(db, QStringLiteral("SELECT count(*) FROM (SELECT 1 FROM contacts%1 LIMIT %2) AS t")
                         .arg(type.isEmpty() ? QString() : QStringLiteral(" WHERE contype = ?"))
                         .arg(n + 1),
                 Statement::Dialect::Native);
    if (!type.isEmpty())
        st.bind(1, type);
    return st.step() && st.integer(0) > n;
}

std::vector<InitialPart> initialParts(const std::vector<InitialCount>& initials)
{
    std::vector<InitialPart> parts;
    parts.reserve(initials.size());
    for (const InitialCount& i : initials)
        if (i.count != 0)
            parts.push_back({i.nullName ? QChar(u'#') : fileInitial(i.key), i.nullName ? QString() : i.key, i.nullName, i.count});
    const auto rank = [](const InitialPart& p) { return p.letter == u'#' ? 26 : p.letter.unicode() - u'A'; };
    std::sort(parts.begin(), parts.end(), [&](const InitialPart& a, const InitialPart& b) {
        if (rank(a) != rank(b))
            return rank(a) < rank(b);
        if (a.nullName != b.nullName)
            return a.nullName;
        return a.key.toUcs4() < b.key.toUcs4();
    });
    return parts;
}

std::optional<NameRow> contactsUnder(Connection& db, const QStringList& keys, bool withNullName, const QString& type,
                                     const std::optional<NameRow>& after, int limit,
                                     const std::function<void(const NameBytes&)>& onRow)
{
    if (keys.isEmpty() && !withNullName)
        return std::nullopt;
    QStringList which;
    if (!keys.isEmpty())
        which << QStringLiteral("%1 IN (%2)").arg(kKey, QStringList(keys.size(), QStringLiteral("?")).join(u','));
    if (withNullName)
        which << QStringLiteral("lastname IS NULL");
    QString sql = QStringLiteral("SELECT id, lastname, firstname, address FROM contacts WHERE (%1)").arg(which.join(QStringLiteral(" OR ")));
    if (!type.isEmpty())
        sql += QStringLiteral(" AND contype = ?");
    std::vector<QString> afterTexts;
    if (after)
        sql += QStringLiteral(" AND ") + afterCondition(*after, afterTexts);
    sql += orderBy(db);
    if (limit > 0)
        sql += QStringLiteral(" LIMIT %1").arg(limit);

    Statement st(db, sql, Statement::Dialect::Native);
    int p = 0;
    for (const QString& k : keys)
        st.bind(++p, k);
    if (!type.isEmpty())
        st.bind(++p, type);
    for (const QString& t : afterTexts)
        st.bind(++p, t);
    if (after)
        st.bind(++p, after->id);
    const auto value = [&st](int column) { return st.isNull(column) ? std::nullopt : std::optional<std::string_view>(st.bytes(column)); };
    // The last row's values outlive the step past it only as a copy, kept in buffers that each
    // row reuses.
    NameBytes row;
    std::string kept[3];
    bool missing[3] = {};
    bool any = false;
    while (st.step()) {
        row = {st.integer(0), value(1), value(2), value(3)};
        onRow(row);
        const std::optional<std::string_view>* values[] = {&row.last, &row.first, &row.address};
        for (int i = 0; i < 3; ++i) {
            missing[i] = !values[i]->has_value();
            kept[i].assign(values[i]->value_or(std::string_view()));
        }
        any = true;
    }
    if (!any)
        return std::nullopt;
    const auto text = [&](int i) {
        return missing[i] ? std::nullopt : std::optional<QString>(exactUtf8(kept[i].data(), qsizetype(kept[i].size())));
    };
    return NameRow{row.id, text(0), text(1), text(2)};
}

std::optional<QString> contactKey(Connection& db, std::int64_t id, const QString& type)
{
    Statement st(db, QStringLiteral("SELECT %1 FROM contacts WHERE id = ?%2").arg(kKey, type.isEmpty() ? QString() : QStringLiteral(" AND contype = ?")),
                 Statement::Dialect::Native);
    st.bind(1, id);
    if (!type.isEmpty())
        st.bind(2, type);
    if (!st.step())
        return std::nullopt;
    return st.text(0);
}

// The tree counts its letters and reads one letter's names from this index alone; a file from
// before it gains it once (a few seconds at a million contacts), and one that may not be
// changed is read without it.
void addInitialIndex(sqlite3* db, bool readOnly)
{
    sqlite3_stmt* probe = nullptr;
    bool needed = false;
    if (sqlite3_prepare_v2(db, "SELECT (SELECT 1 FROM main.sqlite_master WHERE type='table' AND name='contacts') IS NOT NULL "
                               "AND (SELECT 1 FROM main.sqlite_master WHERE name='contacts_by_initial') IS NULL",
                           -1, &probe, nullptr) == SQLITE_OK && sqlite3_step(probe) == SQLITE_ROW)
        needed = sqlite3_column_int(probe, 0) != 0;
    sqlite3_finalize(probe);
    if (!needed || readOnly)
        return;
    char* err = nullptr;
    if (sqlite3_exec(db, "CREATE INDEX IF NOT EXISTS contacts_by_initial ON contacts(upper(substr(lastname,1,1)), "
                         "lastname, firstname, address)", nullptr, nullptr, &err) != SQLITE_OK) {
        const QString msg = QString::fromUtf8(err ? err : sqlite3_errmsg(db));
        sqlite3_free(err);
        throw DbError(sqlite3_errcode(db), msg, classifyEngineError(sqlite3_extended_errcode(db), sqlite3_system_errno(db)));
    }
}

} // namespace kestrel
