// The dialect translation never crashes, and a value written by the quoting rules always comes
// back exactly: no value can change a statement's shape. The office server's translation accepts
// what the local one accepts and keeps every apostrophe literal byte for byte as it does.
#include "data/Database.h"
#include "data/SqlDialect.h"
#include "data/modData.h"

#include <QString>

#include <sqlite3.h>

#include <cstdint>
#include <cstdlib>

using namespace kestrel;

namespace {
// The apostrophe literals of a translated statement, in order, passing over quoted names (the
// server's are in lower case); translations write no comments.
QStringList literalsOf(const QString& sql)
{
    QStringList out;
    for (qsizetype i = 0; i < sql.size(); ++i) {
        const QChar q = sql[i];
        if (q != u'\'' && q != u'"')
            continue;
        qsizetype j = i + 1;
        while (j < sql.size() && !(sql[j] == q && !(j + 1 < sql.size() && sql[j + 1] == q)))
            j += sql[j] == q ? 2 : 1;
        if (q == u'\'')
            out << sql.mid(i, j - i + 1);
        i = j;
    }
    return out;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    // Arbitrary statements: an error or a statement, never a crash.
    const SqlTranslation any = translateSql(text);
    if (!any.ok && any.errorText.isEmpty())
        std::abort();
    const SqlTranslation server = translateSql(text, SqlTarget::Postgres);
    if (server.ok != any.ok || (any.ok && literalsOf(server.sql) != literalsOf(any.sql)))
        std::abort();

    // The same text as a value inside every statement shape the program builds.
    static sqlite3* db = [] {
        sqlite3* d = nullptr;
        sqlite3_open(":memory:", &d);
        sqlite3_exec(d, "CREATE TABLE t(a TEXT, b DATE, c BOOLEAN)", nullptr, nullptr, nullptr);
        return d;
    }();
    const QString value = text.toUtf8().isValidUtf8() ? text : QString();
    const QString statement = QStringLiteral("INSERT into t(a,b,c)values('") + Quoted(value) +
                              QStringLiteral("',#3/7/2006#,True)");
    const SqlTranslation t = translateSql(statement);
    if (value.contains(QChar(u'\0'))) {
        if (t.ok) // a NUL would cut the statement short inside SQLite
            std::abort();
        return 0;
    }
    if (!t.ok)
        std::abort();
    // The server's statement holds the value exactly as written, and nothing else changes.
    if (translateSql(statement, SqlTarget::Postgres).sql !=
        QStringLiteral("INSERT into t(a,b,c)values('") + Quoted(value) + QStringLiteral("',DATE '2006-03-07',TRUE)"))
        std::abort();
    sqlite3_exec(db, "DELETE FROM t", nullptr, nullptr, nullptr);
    const QByteArray sql = t.sql.toUtf8();
    sqlite3_stmt* st = nullptr;
    const char* tail = nullptr;
    if (sqlite3_prepare_v2(db, sql.constData(), int(sql.size()), &st, &tail) != SQLITE_OK)
        std::abort();
    if (tail && *tail)
        std::abort(); // a second statement appeared
    if (sqlite3_step(st) != SQLITE_DONE)
        std::abort();
    sqlite3_finalize(st);
    sqlite3_prepare_v2(db, "SELECT a, b, c, count(*) FROM t", -1, &st, nullptr);
    if (sqlite3_step(st) != SQLITE_ROW)
        std::abort();
    const QString back = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)),
                                           sqlite3_column_bytes(st, 0));
    const bool same = back == value && sqlite3_column_int(st, 3) == 1 &&
                      QByteArray(reinterpret_cast<const char*>(sqlite3_column_text(st, 1))) == "2006-03-07" &&
                      sqlite3_column_int(st, 2) == 1;
    sqlite3_finalize(st);
    if (!same)
        std::abort();
    return 0;
}
