#include "data/GridPages.h"

#include "data/Database.h"
#include "data/Statement.h"

#include <sqlite3.h>

namespace kestrel {

namespace {
const QString kInitial = QStringLiteral("upper(substr(lastname,1,1))");

QStringList sortColumns(GridOrder order)
{
    switch (order) {
    case GridOrder::Name:
        return {QStringLiteral("lastname"), QStringLiteral("firstname"), QStringLiteral("address")};
    case GridOrder::Company:
        return {QStringLiteral("company")};
    case GridOrder::LastContact:
        return {QStringLiteral("lastcontact")};
    case GridOrder::Id:
        break;
    }
    return {};
}

// The filter as a condition with its texts; "" when it leaves every row.
QString filterCondition(const GridFilter& f, std::vector<QString>& texts)
{
    QStringList parts;
    if (f.keys) {
        QStringList which;
        if (!f.keys->isEmpty()) {
            which << QStringLiteral("%1 IN (%2)").arg(kInitial, QStringList(f.keys->size(), QStringLiteral("?")).join(u','));
            texts.insert(texts.end(), f.keys->begin(), f.keys->end());
        }
        if (f.nullName)
            which << QStringLiteral("lastname IS NULL");
        parts << (which.isEmpty() ? QStringLiteral("0 = 1") : u'(' + which.join(QStringLiteral(" OR ")) + u')');
    }
    if (!f.type.isEmpty() && f.type != u"All") {
        parts << QStringLiteral("contype = ?");
        texts.push_back(f.type);
    }
    if (f.companies == u"Companies only")
        parts << QStringLiteral("company <> ''");
    else if (f.companies == u"No Companies")
        parts << QStringLiteral("company = ''");
    return parts.join(QStringLiteral(" AND "));
}

QString whereOf(const QStringList& parts)
{
    QStringList kept;
    for (const QString& p : parts)
        if (!p.isEmpty())
            kept << p;
    return kept.isEmpty() ? QString() : QStringLiteral(" WHERE ") + kept.join(QStringLiteral(" AND "));
}

// Rows after (or before) a key in the order. Both engines put a missing value first, so nothing
// comes before a missing value but a missing value, and a row value (which cannot compare one)
// serves only going forward from a key without any.
QString keyCondition(const QStringList& columns, const GridKey& key, bool backwards, std::vector<QString>& texts)
{
    bool anyMissing = false;
    for (const auto& v : key.values)
        anyMissing = anyMissing || !v.has_value();
    if (!backwards && !anyMissing) {
        for (const auto& v : key.values)
            texts.push_back(*v);
        QStringList marks(columns.size() + 1, QStringLiteral("?"));
        return QStringLiteral("(%1) > (%2)").arg((columns + QStringList{QStringLiteral("id")}).join(u','), marks.join(u','));
    }
    QString sql = backwards ? QStringLiteral("id < ?") : QStringLiteral("id > ?");
    std::vector<QString> inner;
    for (int i = int(columns.size()) - 1; i >= 0; --i) {
        const QString& c = columns[i];
        const bool missing = !key.values[size_t(i)].has_value();
        QString beyond;
        if (backwards)
            beyond = missing ? QStringLiteral("0 = 1") : QStringLiteral("(%1 < ? OR %1 IS NULL)").arg(c);
        else
            beyond = missing ? c + QStringLiteral(" IS NOT NULL") : c + QStringLiteral(" > ?");
        const QString equal = missing ? c + QStringLiteral(" IS NULL") : c + QStringLiteral(" = ?");
        sql = QStringLiteral("(%1 OR (%2 AND %3))").arg(beyond, equal, sql);
    }
    // The parameters in the order they appear: beyond and equal of each column, outermost first.
    for (const auto& v : key.values)
        if (v)
            texts.insert(texts.end(), {*v, *v});
    return sql;
}

QString orderBy(const Connection& db, const QStringList& columns, bool backwards)
{
    QStringList terms;
    for (const QString& c : columns) {
        QString t = c + (backwards ? QStringLiteral(" DESC") : QString());
        // The server puts missing values last unless told; the local files put them first.
        if (db.onServer())
            t += backwards ? QStringLiteral(" NULLS LAST") : QStringLiteral(" NULLS FIRST");
        terms << t;
    }
    terms << (backwards ? QStringLiteral("id DESC") : QStringLiteral("id"));
    return QStringLiteral(" ORDER BY ") + terms.join(QStringLiteral(", "));
}

std::optional<QString> cell(Statement& st, int column)
{
    return st.isNull(column) ? std::nullopt : std::optional<QString>(st.text(column));
}

void bindAll(Statement& st, const std::vector<QString>& texts, int& p)
{
    for (const QString& t : texts)
        st.bind(++p, t);
}
} // namespace

namespace {
// The counts a local file keeps of its contacts by initial, type and whether a company is named
// (see addGridCounts): a few hundred rows summed instead of a million counted.
constexpr char kCountsTable[] = "contact_initials";

bool keepsCounts(Connection& db)
{
    if (db.onServer())
        return false;
    Statement st(db, QStringLiteral("SELECT 1 FROM main.sqlite_master WHERE type = 'table' AND name = '%1'").arg(QLatin1String(kCountsTable)),
                 Statement::Dialect::Native);
    return st.step();
}

std::vector<InitialCount> keptInitials(Connection& db, const GridFilter& f)
{
    std::vector<QString> texts;
    QStringList parts{QStringLiteral("n <> 0")};
    if (f.keys) {
        QStringList which;
        if (!f.keys->isEmpty()) {
            which << QStringLiteral("(nullname = 0 AND initial IN (%1))").arg(QStringList(f.keys->size(), QStringLiteral("?")).join(u','));
            texts.insert(texts.end(), f.keys->begin(), f.keys->end());
        }
        if (f.nullName)
            which << QStringLiteral("nullname = 1");
        parts << (which.isEmpty() ? QStringLiteral("0 = 1") : u'(' + which.join(QStringLiteral(" OR ")) + u')');
    }
    if (!f.type.isEmpty() && f.type != u"All") {
        parts << QStringLiteral("typenull = 0 AND contype = ?");
        texts.push_back(f.type);
    }
    if (f.companies == u"Companies only")
        parts << QStringLiteral("company = 1");
    else if (f.companies == u"No Companies")
        parts << QStringLiteral("company = 0");
    Statement st(db, QStringLiteral("SELECT initial, nullname, sum(n) FROM %1 WHERE %2 GROUP BY 1, 2 HAVING sum(n) <> 0")
                         .arg(QLatin1String(kCountsTable), parts.join(QStringLiteral(" AND "))),
                 Statement::Dialect::Native);
    int p = 0;
    bindAll(st, texts, p);
    std::vector<InitialCount> out;
    while (st.step())
        out.push_back({st.text(0), st.integer(1) != 0, st.integer(2)});
    return out;
}
} // namespace

std::int64_t gridRowCount(Connection& db, const GridFilter& filter)
{
    if (keepsCounts(db)) {
        std::int64_t n = 0;
        for (const InitialCount& i : keptInitials(db, filter))
            n += i.count;
        return n;
    }
    std::vector<QString> texts;
    const QString where = filterCondition(filter, texts);
    Statement st(db, QStringLiteral("SELECT count(*) FROM contacts") + whereOf({where}),
                 Statement::Dialect::Native);
    int p = 0;
    bindAll(st, texts, p);
    return st.step() ? st.integer(0) : 0;
}

std::vector<GridRow> gridPage(Connection& db, const GridFilter& filter, GridOrder order, const QStringList& columns,
                              const std::optional<GridKey>& from, bool backwards, int limit)
{
    const QStringList keyColumns = sortColumns(order);
    std::vector<QString> filterTexts, keyTexts;
    QStringList where;
    if (const QString f = filterCondition(filter, filterTexts); !f.isEmpty())
        where << f;
    if (from)
        where << keyCondition(keyColumns, *from, backwards, keyTexts);
    QString sql = QStringLiteral("SELECT id") + (keyColumns.isEmpty() ? QString() : u',' + keyColumns.join(u',')) +
                  (columns.isEmpty() ? QString() : u',' + columns.join(u',')) + QStringLiteral(" FROM contacts");
    if (!where.isEmpty())
        sql += QStringLiteral(" WHERE ") + where.join(QStringLiteral(" AND "));
    sql += orderBy(db, keyColumns, backwards) + QStringLiteral(" LIMIT %1").arg(limit);

    Statement st(db, sql, Statement::Dialect::Native);
    int p = 0;
    bindAll(st, filterTexts, p);
    bindAll(st, keyTexts, p);
    if (from)
        st.bind(++p, from->id);
    std::vector<GridRow> out;
    const int keys = int(keyColumns.size());
    while (st.step()) {
        GridRow row;
        row.key.id = st.integer(0);
        for (int i = 0; i < keys; ++i)
            row.key.values.push_back(cell(st, 1 + i));
        for (int i = 0; i < int(columns.size()); ++i)
            row.cells.push_back(cell(st, 1 + keys + i));
        out.push_back(std::move(row));
    }
    return out;
}

std::int64_t gridRowsBefore(Connection& db, const GridFilter& filter, GridOrder order, const GridKey& key)
{
    std::vector<QString> filterTexts, keyTexts;
    const QString f = filterCondition(filter, filterTexts);
    const QString before = keyCondition(sortColumns(order), key, true, keyTexts);
    Statement st(db, QStringLiteral("SELECT count(*) FROM contacts") + whereOf({f, before}), Statement::Dialect::Native);
    int p = 0;
    bindAll(st, filterTexts, p);
    bindAll(st, keyTexts, p);
    st.bind(++p, key.id);
    return st.step() ? st.integer(0) : 0;
}

std::vector<InitialCount> gridInitials(Connection& db, const GridFilter& filter)
{
    if (keepsCounts(db))
        return keptInitials(db, filter);
    std::vector<QString> texts;
    const QString f = filterCondition(filter, texts);
    Statement st(db, QStringLiteral("SELECT %1, count(*) FROM contacts%2 GROUP BY 1").arg(kInitial, whereOf({f})),
                 Statement::Dialect::Native);
    int p = 0;
    bindAll(st, texts, p);
    std::vector<InitialCount> out;
    while (st.step())
        out.push_back({st.text(0), st.isNull(0), st.integer(1)});
    return out;
}

std::int64_t largestContactId(Connection& db)
{
    Statement st(db, QStringLiteral("SELECT max(id) FROM contacts"), Statement::Dialect::Native);
    return st.step() && !st.isNull(0) ? st.integer(0) : 0;
}

std::optional<GridKey> gridKeyOfContact(Connection& db, const GridFilter& filter, GridOrder order, std::int64_t id)
{
    const QStringList keyColumns = sortColumns(order);
    std::vector<QString> filterTexts;
    QStringList where;
    if (const QString f = filterCondition(filter, filterTexts); !f.isEmpty())
        where << f;
    where << QStringLiteral("id = ?");
    Statement st(db, QStringLiteral("SELECT id") + (keyColumns.isEmpty() ? QString() : u',' + keyColumns.join(u',')) +
                         QStringLiteral(" FROM contacts WHERE ") + where.join(QStringLiteral(" AND ")),
                 Statement::Dialect::Native);
    int p = 0;
    bindAll(st, filterTexts, p);
    st.bind(++p, id);
    if (!st.step())
        return std::nullopt;
    GridKey key{{}, st.integer(0)};
    for (int i = 0; i < int(keyColumns.size()); ++i)
        key.values.push_back(cell(st, 1 + i));
    return key;
}

// A contact's place in the counts: its initial (as contacts_by_initial indexes it), whether it
// has no last name, its type (whether missing) and whether it names a company (0 none, 1 one, 2
// missing: a missing company is neither "Companies only" nor "No Companies").
#define KESTREL_COUNT_KEY(r)                                                                                                \
    "ifnull(upper(substr(" r ".lastname,1,1)),''), " r ".lastname IS NULL, ifnull(" r ".contype,''), " r ".contype IS NULL, " \
    "CASE WHEN " r ".company IS NULL THEN 2 WHEN " r ".company = '' THEN 0 ELSE 1 END"
#define KESTREL_COUNT_MATCH(r)                                                                                                   \
    "initial = ifnull(upper(substr(" r ".lastname,1,1)),'') AND nullname = (" r ".lastname IS NULL) AND contype = ifnull(" r   \
    ".contype,'') AND typenull = (" r ".contype IS NULL) AND company = CASE WHEN " r ".company IS NULL THEN 2 WHEN " r         \
    ".company = '' THEN 0 ELSE 1 END"

QString pauseGridCounts(Connection& db)
{
    if (!keepsCounts(db))
        return {};
    Statement trigger(db, QStringLiteral("SELECT sql FROM main.sqlite_master WHERE type = 'trigger' AND name = 'contacts_count_ins'"),
                      Statement::Dialect::Native);
    if (!trigger.step())
        return {};
    const QString sql = trigger.text(0);
    Statement(db, QStringLiteral("DROP TRIGGER main.contacts_count_ins"), Statement::Dialect::Native).run();
    return sql;
}

void resumeGridCounts(Connection& db, const QString& paused)
{
    if (paused.isEmpty())
        return;
    Statement(db, QStringLiteral("DELETE FROM contact_initials"), Statement::Dialect::Native).run();
    Statement(db, QStringLiteral("INSERT INTO contact_initials SELECT " KESTREL_COUNT_KEY("c") ", count(*) FROM contacts AS c GROUP BY 1, 2, 3, 4, 5"),
              Statement::Dialect::Native)
        .run();
    Statement(db, paused, Statement::Dialect::Native).run();
}

// The grid sorts by company and by the last contact from these indexes, and reads a type's
// letters as one range each from the last (the type alone leaves a quarter of the table to sort
// by initial). Its first screen needs every letter's count, which a count of a million rows
// takes 90 ms to give; the file keeps them instead, by triggers that fire whichever program
// writes, made with the counts of the rows there in the same transaction, so that no change
// falls between.
const std::vector<SpeedUp>& gridSpeedUps()
{
    static const std::vector<SpeedUp> ups = {
        {"SELECT 1 FROM main.sqlite_master WHERE name='contacts' AND NOT EXISTS "
         "(SELECT 1 FROM main.sqlite_master WHERE name='contacts_by_type_initial')",
         "CREATE INDEX IF NOT EXISTS contacts_by_type_initial ON contacts(contype, upper(substr(lastname,1,1)), lastname, "
         "firstname, address)"},
        {"SELECT 1 FROM main.sqlite_master WHERE name='contacts' AND NOT EXISTS "
         "(SELECT 1 FROM main.sqlite_master WHERE name='contact_initials')",
         "CREATE TABLE IF NOT EXISTS contact_initials(initial TEXT NOT NULL, nullname INTEGER NOT NULL, "
         "contype TEXT NOT NULL COLLATE NOCASE, typenull INTEGER NOT NULL, company INTEGER NOT NULL, n INTEGER NOT NULL, "
         "PRIMARY KEY(initial, nullname, contype, typenull, company)) WITHOUT ROWID;"
         "DELETE FROM contact_initials;"
         "INSERT INTO contact_initials SELECT " KESTREL_COUNT_KEY("c") ", count(*) FROM contacts AS c GROUP BY 1, 2, 3, 4, 5;"
         "CREATE TRIGGER IF NOT EXISTS contacts_count_ins AFTER INSERT ON contacts BEGIN "
         "INSERT INTO contact_initials VALUES(" KESTREL_COUNT_KEY("new") ", 1) ON CONFLICT DO UPDATE SET n = n + 1; END;"
         "CREATE TRIGGER IF NOT EXISTS contacts_count_del AFTER DELETE ON contacts BEGIN "
         "UPDATE contact_initials SET n = n - 1 WHERE " KESTREL_COUNT_MATCH("old") "; END;"
         "CREATE TRIGGER IF NOT EXISTS contacts_count_upd AFTER UPDATE OF lastname, contype, company ON contacts BEGIN "
         "UPDATE contact_initials SET n = n - 1 WHERE " KESTREL_COUNT_MATCH("old") ";"
         "INSERT INTO contact_initials VALUES(" KESTREL_COUNT_KEY("new") ", 1) ON CONFLICT DO UPDATE SET n = n + 1; END;"},
        {"SELECT 1 FROM main.sqlite_master WHERE name='contacts' AND NOT EXISTS "
         "(SELECT 1 FROM main.sqlite_master WHERE name='contacts_by_company')",
         "CREATE INDEX IF NOT EXISTS contacts_by_company ON contacts(company)"},
        // The last contact's column is the history's, added before.
        {"SELECT 1 FROM pragma_table_info('contacts') WHERE name='lastcontact' "
         "AND NOT EXISTS (SELECT 1 FROM main.sqlite_master WHERE name='contacts_by_lastcontact')",
         "CREATE INDEX IF NOT EXISTS contacts_by_lastcontact ON contacts(lastcontact)"},
    };
    return ups;
}
#undef KESTREL_COUNT_KEY
#undef KESTREL_COUNT_MATCH

} // namespace kestrel
