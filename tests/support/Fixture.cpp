#include "tests/support/Fixture.h"

#include "data/Database.h"
#include "data/Globals.h"
#include "data/modData.h"

namespace kestrel::test {

void KestrelTest::SetUp()
{
    ASSERT_TRUE(dir.isValid());
    setProgramDir(dir.path());
    buildConnectionTexts();
    setPlatform(&desk);
    lLeadID = 0;
}

void KestrelTest::TearDown()
{
    desk.verifyAllUsed();
    setPlatform(nullptr);
    releaseAllDatabaseFiles();
}

void KestrelTest::exec(const QString& connection, const QString& statement)
{
    try {
        Connection c(connection);
        c.execute(statement);
    } catch (const DbError& e) {
        ADD_FAILURE() << "exec failed: " << e.what() << " in " << statement.toStdString();
    }
}

std::vector<QStringList> KestrelTest::rows(const QString& connection, const QString& statement)
{
    std::vector<QStringList> out;
    try {
        Connection c(connection);
        Snapshot s(c, statement);
        for (; !s.eof(); s.moveNext()) {
            QStringList row;
            for (int i = 0; i < s.fieldCount(); ++i) {
                const QVariant v = s.field(i);
                row << (v.isNull() ? QStringLiteral("<null>") : variantText(v));
            }
            out.push_back(row);
        }
    } catch (const DbError& e) {
        ADD_FAILURE() << "query failed: " << e.what() << " in " << statement.toStdString();
    }
    return out;
}

int KestrelTest::addContact(const QString& last, const QString& first, const QString& type, const QString& address)
{
    exec(sConnContacts, QStringLiteral("INSERT into contacts(lastname,firstname,company,address,city,st,zip,homeph,"
                                       "cellph,workph,ext,email,active,contype)values('%1','%2','','%3','','','','',"
                                       "'','','','',True,'%4')")
                            .arg(Quoted(last), Quoted(first), Quoted(address), Quoted(type)));
    const auto r = rows(sConnContacts, QStringLiteral("select max(id) from contacts"));
    return r.empty() ? 0 : r[0][0].toInt();
}

int KestrelTest::addAppt(const QDate& date, const QTime& time, const QString& brief, const QString& name,
                         const QString& where)
{
    exec(sConnContacts, QStringLiteral("INSERT into appointments(name,address,apptdate,appttime,apptbrief,apptnotes)"
                                       "values('%1','%2',#%3#,#%4#,'%5','')")
                            .arg(Quoted(name), Quoted(where), DateText(date), TimeText(time), Quoted(brief)));
    const auto r = rows(sConnContacts, QStringLiteral("select max(autoid) from appointments"));
    return r.empty() ? 0 : r[0][0].toInt();
}

} // namespace kestrel::test
