#include "data/Database.h"
#include "data/Globals.h"
#include "data/modData.h"
#include "exchange/modTempDB.h"
#include "tests/exchange/ExchangeTest.h"
#include "ui/Report.h"

#include <QDir>
#include <QFileInfo>

using namespace kestrel;
using namespace kestrel::test;

namespace {

using TempDBTest = KestrelTest;

TEST_F(TempDBTest, CreatesAnEmptyMainWhateverWasThereAndCountsCharacters)
{
    CreateTempDB();
    exec(sConnTemp, QStringLiteral("insert into Main(lastname)values('Old')"));
    // A file under another spelling of the name, with a journal left by a crash beside it.
    releaseAllDatabaseFiles();
    QDir data(dir.filePath(QStringLiteral("data")));
    ASSERT_TRUE(data.rename(QStringLiteral("tempdb.mdb"), QStringLiteral("TEMPDB.MDB")));
    writeBytes(data.filePath(QStringLiteral("TEMPDB.MDB-journal")), "garbage");
    CreateTempDB();
    EXPECT_EQ(data.entryList(QDir::Files), QStringList{QStringLiteral("tempdb.mdb")}); // the one name
    Connection c(sConnTemp);
    Snapshot s(c, QStringLiteral("select * from Main"));
    QStringList names;
    for (int i = 0; i < s.fieldCount(); ++i)
        names << s.fieldName(i);
    EXPECT_EQ(names.join(u','), QStringLiteral("ID,LastName,FirstName,Company,Address,City,ST,Zip,CellPh,HomePh,WorkPh,Ext,Email,Country,"
                                             "JobTitle,WebSite,Birthday,Notes,ConType,Line,Note,Dup,Uid"));
    EXPECT_EQ(s.rowCount(), 0);

    // Fifty accented letters fit LastName (fifty characters, a hundred bytes), fifty-one do not.
    EXPECT_TRUE(ActionQuery(QStringLiteral("insert into Main(lastname)values('%1')").arg(QString(50, QChar(0xe9))), sConnTemp));
    EXPECT_FALSE(ActionQuery(QStringLiteral("insert into Main(lastname)values('%1')").arg(QString(51, u'x')), sConnTemp));
    EXPECT_EQ(desk.messages().size(), 1);
}

} // namespace
