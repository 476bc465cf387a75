#include "data/Database.h"
#include "data/Globals.h"
#include "data/Office.h"
#include "data/modData.h"
#include "formats/OfficeCopy.h"
#include "tests/exchange/ExchangeTest.h"
#include "ui/Report.h"

#include <QTemporaryDir>

using namespace kestrel;
using namespace kestrel::test;

namespace {

// The local files to copy lie in a program folder of their own; the target is the test's own
// database: local files in the plain run, the office server in the server run.
class OfficeCopyTest : public KestrelTest {
protected:
    void SetUp() override
    {
        KestrelTest::SetUp();
        if (IsSkipped())
            return;
        ASSERT_TRUE(local.isValid());
        const QString toContacts = sConnContacts, toMain = sConnMain, temp = sConnTemp;
        setProgramDir(local.path());
        buildConnectionTexts();
        fromContacts = sConnContacts;
        fromMain = sConnMain;
        setProgramDir(dir.path());
        sConnContacts = toContacts;
        sConnMain = toMain;
        sConnTemp = temp;
        QDir().mkpath(local.path() + QStringLiteral("/data"));
        setCreatingMissingFiles(true);
        ASSERT_TRUE(ActionQuery(QStringLiteral("select 1"), fromContacts));
        ASSERT_TRUE(ActionQuery(QStringLiteral("select 1"), fromMain));
        // A colleague's contact already in the office database keeps its place and is not touched.
        exec(sConnContacts, QStringLiteral("INSERT INTO contacts(lastname,firstname,contype) VALUES('Zorn','Zed','Cust')"));
    }

    OfficeCopyCounts copy() { return copyLocalData(fromContacts, fromMain, sConnContacts, sConnMain); }

    static QString contactsQuery()
    {
        return QStringLiteral("SELECT lastname,firstname,company,city,active,contype,country,jobtitle,website,birthday,notes "
                              "FROM contacts ORDER BY lastname");
    }
    static QString apptQuery() { return QStringLiteral("SELECT name,apptdate,appttime,apptbrief,apptnotes FROM appointments ORDER BY apptdate"); }

    QTemporaryDir local;
    QString fromContacts, fromMain;
};

TEST_F(OfficeCopyTest, CopiesEveryRowExactlyOnceHoweverOftenItRuns)
{
    const QString hostile = QStringLiteral("O'Brien, \"Bud\"; 😀");
    exec(fromContacts, QStringLiteral("INSERT INTO contacts(lastname,firstname,company,city,active,contype,country,jobtitle,"
                                      "website,birthday,notes) VALUES('%1','Ann','Acme;Co','Salem',False,'Lead','日本',"
                                      "'Buyer','example.jp','--03-07','Met in Osaka\nTwice')").arg(Quoted(hostile)));
    exec(fromContacts, QStringLiteral("INSERT INTO contacts(lastname,firstname,active,contype) VALUES('Baker','Bo',True,'Cust')"));
    exec(fromContacts, QStringLiteral("INSERT INTO appointments(name,address,apptdate,appttime,apptbrief,apptnotes) "
                                      "VALUES('%1','Main office',#2/28/2027#,#2:30 PM#,'Demo','Bring the\nprice list')").arg(Quoted(hostile)));
    exec(fromMain, QStringLiteral("Insert into todo (todo)values('Call the bank')"));

    const OfficeCopyCounts first = copy();
    EXPECT_EQ(first.contacts, 2);
    EXPECT_EQ(first.appointments, 1);
    EXPECT_EQ(first.todo, 1);
    EXPECT_EQ(first.alreadyCopied, 0);

    auto copied = rows(sConnContacts, contactsQuery());
    ASSERT_EQ(copied.size(), 3u);
    copied.erase(copied.begin() + 2); // Zorn, who was there before
    EXPECT_EQ(copied, rows(fromContacts, contactsQuery()));
    EXPECT_EQ(rows(sConnContacts, apptQuery()), rows(fromContacts, apptQuery()));
    EXPECT_EQ(rows(sConnMain, QStringLiteral("select todo from todo")), rows(fromMain, QStringLiteral("select todo from todo")));

    // A second run after a new local contact copies that one alone.
    exec(fromContacts, QStringLiteral("INSERT INTO contacts(lastname,firstname,active,contype) VALUES('Cole','Cy',True,'Lead')"));
    const OfficeCopyCounts second = copy();
    EXPECT_EQ(second.contacts, 1);
    EXPECT_EQ(second.appointments + second.todo, 0);
    EXPECT_EQ(second.alreadyCopied, 4);
    EXPECT_EQ(rows(sConnContacts, contactsQuery()).size(), 4u);
    EXPECT_EQ(rows(sConnContacts, apptQuery()).size(), 1u);
    EXPECT_EQ(officeCopySummary(second),
              QStringLiteral("Copied 1 contacts, 0 appointments and 0 to-do items to the office database. "
                             "4 already copied by an earlier run were left as they were."));
}

TEST_F(OfficeCopyTest, AFailedRunLeavesTheTargetAsItWas)
{
    exec(fromContacts, QStringLiteral("INSERT INTO contacts(lastname,firstname,active,contype) VALUES('Baker','Bo',True,'Cust')"));
    // A local file without the appointments table fails halfway through the first transaction.
    exec(fromContacts, QStringLiteral("DROP TABLE appointments"));
    EXPECT_THROW(copy(), DbError);
    EXPECT_EQ(rows(sConnContacts, QStringLiteral("SELECT lastname FROM contacts")).size(), 1u);
    // Nothing is remembered as copied, so the next run copies Baker.
    exec(fromContacts, QStringLiteral("CREATE TABLE appointments(autoid INTEGER PRIMARY KEY, name TEXT, address TEXT, "
                                      "apptdate DATE, appttime TIME, apptbrief TEXT, apptnotes TEXT)"));
    EXPECT_EQ(copy().contacts, 1);
}

TEST_F(OfficeCopyTest, AServerThatCannotBeReachedIsNamedOnTheCommandLineWithoutAQuestion)
{
    exec(fromContacts, QStringLiteral("INSERT INTO contacts(lastname,firstname,active,contype) VALUES('Baker','Bo',True,'Cust')"));
    // Nothing listens there: the office server is down.
    const QString gone = serverConnectionText(QStringLiteral("host=127.0.0.1 port=1 dbname=kestrel connect_timeout=5"));
    try {
        copyLocalData(fromContacts, fromMain, gone, gone);
        FAIL() << "copied to a server that is not there";
    } catch (const DbError& e) {
        const QString told = officeCopyFailure(e);
        EXPECT_TRUE(told.startsWith(QStringLiteral("Nothing more was copied. Kestrel could not reach the office "
                                                   "database kestrel on 127.0.0.1 (")))
            << told.toStdString();
        EXPECT_TRUE(told.endsWith(QStringLiteral("\nNothing was lost. Check the network, or ask whoever looks after "
                                                 "the server; once it answers, try again.")))
            << told.toStdString();
        EXPECT_FALSE(told.contains(local.path()) || told.contains(u'?') || told.contains(u'\r')) << told.toStdString();
    }
}

} // namespace
