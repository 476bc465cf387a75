#include "data/PgEngine.h"
#include "data/SqlDialect.h"

#include <gtest/gtest.h>

using namespace kestrel;

namespace {
QString sql(const QString& in)
{
    const SqlTranslation t = translateSql(in);
    EXPECT_TRUE(t.ok) << t.errorText.toStdString();
    return t.sql;
}
} // namespace

TEST(SqlDialect, LiteralsOfTheDialectBecomeSqlite)
{
    struct Case { const char* in; const char* out; };
    const Case cases[] = {
        {"delete from appointments where apptdate < #12/4/2024#", "delete from appointments where apptdate < '2024-12-04'"},
        {"x between #3/7/2008# And #3/14/2008#", "x between '2008-03-07' And '2008-03-14'"},
        {"values(#9:30 AM#,#12:00 AM#,#12:30 PM#,#11:30 PM#)", "values('09:30:00','00:00:00','12:30:00','23:30:00')"},
        {"where company <> \"\"", "where company <> ''"},
        {"where company = \"it's\"", "where company = 'it''s'"},
        {"select [Last Name] as Last_Name from t", "select \"Last Name\" as Last_Name from t"},
        {"select id,firstname + ' ' + lastname, company from contacts", "select id,firstname || ' ' || lastname, company from contacts"},
        {"active=True, x=false", "active=1, x=0"},
        {"WHERE contype='Lead'ORDER BY LastName", "WHERE contype='Lead' ORDER BY LastName"},
        {"select id+1 from t", "select id+1 from t"},
        // Literals side by side stay two (an error), never one holding an apostrophe.
        {"values(\"a\"'b'#9:30 AM#)", "values('a' 'b' '09:30:00')"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(sql(QString::fromUtf8(c.in)).toStdString(), c.out) << c.in;
}

TEST(SqlDialect, NothingInsideAnApostropheLiteralIsTouched)
{
    const QString value = QStringLiteral("'O''Brien #3/7/2006# + \"q\" [x] -- ; True /* ok'");
    EXPECT_EQ(sql(QStringLiteral("update t set a=") + value + QStringLiteral(" where id=1")),
              QStringLiteral("update t set a=") + value + QStringLiteral(" where id=1"));
    // An apostrophe literal that ends the statement with doubled quotes stays whole.
    EXPECT_EQ(sql(QStringLiteral("values('''')")), QStringLiteral("values('''')"));
}

TEST(SqlDialect, MalformedStatementsAreErrorsNotOtherStatements)
{
    for (const char* bad : {"where d=#13/45/2006#", "where d=#3/7/2006", "where a='open", "select [x from t",
                            "where t=#25:00 PM#", "where a=\"open", "delete from t -- where id=1",
                            "delete from t; drop table t", "where d=#2/29/2023#"}) {
        const SqlTranslation t = translateSql(QString::fromUtf8(bad));
        EXPECT_FALSE(t.ok) << bad;
        EXPECT_NE(t.errorNumber, 0) << bad;
        EXPECT_FALSE(t.errorText.isEmpty()) << bad;
    }
    // SQLite would stop reading at a NUL and drop the rest of the statement.
    const QString cut = QStringLiteral("delete from t where id=5") + QChar(u'\0') + QStringLiteral(" and kept=0");
    EXPECT_FALSE(translateSql(cut).ok);
    // A trailing semicolon alone is harmless.
    EXPECT_TRUE(translateSql(QStringLiteral("select 1;  ")).ok);
}

TEST(SqlDialect, TheOfficeServerGetsTypedLiteralsItsBooleansAndTheFoldingLike)
{
    struct Case { const char* in; const char* out; };
    const Case cases[] = {
        {"where apptdate between #3/7/2008# And #3/14/2008#", "where apptdate between DATE '2008-03-07' And DATE '2008-03-14'"},
        {"values(#9:30 AM#,#3/7/2006 2:30 PM#)", "values(TIME '09:30:00',TIMESTAMP '2006-03-07 14:30:00')"},
        {"where apptdate=#3/7/2008#order by x", "where apptdate=DATE '2008-03-07' order by x NULLS FIRST"},
        {"where d between#3/7/2008#", "where d between DATE '2008-03-07'"},
        {"active=True, x=false", "active=TRUE, x=FALSE"},
        {"select [LastName] from t", "select \"lastname\" from t"},
        {"where lastname like 'A%'", "where lastname ~~~ 'A%'"},
        {"select firstname + ' ' + lastname, id+1 from contacts", "select firstname || ' ' || lastname, id+1 from contacts"},
        {"where contype='Lead'ORDER BY LastName, FirstName", "where contype='Lead' ORDER BY LastName NULLS FIRST, FirstName NULLS FIRST"},
        // Nulls sort first, as on the local files, whatever the direction says.
        {"order by apptdate,appttime asc", "order by apptdate NULLS FIRST,appttime asc NULLS FIRST"},
        {"order by a desc, b limit 5", "order by a desc NULLS LAST, b NULLS FIRST limit 5"},
        {"select x from (select y from t order by lower(y)) order by 1", "select x from (select y from t order by lower(y) NULLS FIRST) order by 1 NULLS FIRST"},
        {"set a='like #1/1/2000# True [x] + \"y\"'", "set a='like #1/1/2000# True [x] + \"y\"'"},
    };
    for (const Case& c : cases) {
        const SqlTranslation t = translateSql(QString::fromUtf8(c.in), SqlTarget::Postgres);
        EXPECT_TRUE(t.ok) << c.in;
        EXPECT_EQ(t.sql.toStdString(), c.out) << c.in;
    }
}

TEST(SqlDialect, NativeParametersAreNumberedForTheServerAndASecondStatementIsRefused)
{
    struct Case { const char* in; const char* out; int parameters; };
    const Case cases[] = {
        {"INSERT INTO t(a,b) VALUES(?,?)", "INSERT INTO t(a,b) VALUES($1,$2)", 2},
        {"DELETE FROM t WHERE id = ?1 OR parent = ?1", "DELETE FROM t WHERE id = $1 OR parent = $1", 1},
        {"SELECT '?', \"a?\" FROM t WHERE x = ? -- why?\n", "SELECT '?', \"a?\" FROM t WHERE x = $1 -- why?\n", 1},
        {"SELECT 'it''s ?' WHERE a=?", "SELECT 'it''s ?' WHERE a=$1", 1},
        {"UPDATE t SET a=?2, b=? WHERE c=?1", "UPDATE t SET a=$2, b=$3 WHERE c=$1", 3},
        {"select 1; -- a comment after it is no statement", "select 1-- a comment after it is no statement", 0},
    };
    for (const Case& c : cases) {
        QByteArray out;
        int parameters = -1;
        EXPECT_TRUE(pg::numberParameters(QString::fromUtf8(c.in), &out, &parameters)) << c.in;
        EXPECT_EQ(out.toStdString(), c.out) << c.in;
        EXPECT_EQ(parameters, c.parameters) << c.in;
    }
    for (const char* two : {"delete from t where id=1; delete from t", "select 1; 'x'", "select 1;;select 2"}) {
        QByteArray out;
        int parameters = 0;
        EXPECT_FALSE(pg::numberParameters(QString::fromUtf8(two), &out, &parameters)) << two;
    }
}
