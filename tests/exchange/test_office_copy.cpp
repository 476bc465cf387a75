#include "data/Database.h"
#include "data/Globals.h"
#include "data/Office.h"
#include "data/modData.h"
#include "formats/OfficeCopy.h"
#include "tests/exchange/ExchangeTest.h"
#include "ui/Report.h"

#include <QTemporaryDir>

#include <atomic>
#include <thread>

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

TEST_F(OfficeCopyTest, TheToDoItemsGoInTheSameStepAsTheContactsAndTwoRunsAtOnceCopyEachRowOnce)
{
    exec(fromContacts, QStringLiteral("INSERT INTO contacts(lastname,firstname,active,contype) VALUES('Baker','Bo',True,'Cust')"));
    exec(fromContacts, QStringLiteral("INSERT INTO appointments(name,apptdate,appttime,apptbrief) VALUES('Bo',#2/28/2027#,#9:00 AM#,'Demo')"));
    exec(fromMain, QStringLiteral("Insert into todo (todo)values('Call the bank')"));
    // The target refuses the to-do items, the last thing written: the contacts go back with them.
    if (onServer())
        exec(ownerConnection(), QStringLiteral("REVOKE INSERT ON todo FROM kestrel_office"));
    else
        exec(sConnMain, QStringLiteral("DROP TABLE todo"));
    QString failedAt;
    EXPECT_THROW(copyLocalData(fromContacts, fromMain, sConnContacts, sConnMain, &failedAt), DbError);
    EXPECT_EQ(failedAt, sConnMain);
    EXPECT_EQ(rows(sConnContacts, QStringLiteral("SELECT lastname FROM contacts")), (std::vector<QStringList>{{"Zorn"}}));
    EXPECT_TRUE(rows(sConnContacts, QStringLiteral("SELECT name FROM appointments")).empty());
    if (!onServer())
        return;
    exec(ownerConnection(), QStringLiteral("GRANT INSERT ON todo TO kestrel_office"));
    // Two salespeople copying the same files at once: one copies, the other waits and finds it done.
    OfficeCopyCounts counts[2];
    std::atomic<int> failures{0};
    std::vector<std::thread> runs;
    for (OfficeCopyCounts& c : counts)
        runs.emplace_back([&] {
            try {
                c = copy();
            } catch (const DbError& e) {
                ++failures;
                ADD_FAILURE() << e.description().toStdString();
            }
        });
    for (auto& t : runs)
        t.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(counts[0].contacts + counts[1].contacts, 1);
    EXPECT_EQ(counts[0].todo + counts[1].todo, 1);
    EXPECT_EQ(counts[0].alreadyCopied + counts[1].alreadyCopied, 3);
    EXPECT_EQ(rows(sConnContacts, QStringLiteral("SELECT count(*) FROM contacts")), (std::vector<QStringList>{{"2"}}));
    EXPECT_EQ(rows(sConnMain, QStringLiteral("SELECT todo FROM todo")), (std::vector<QStringList>{{"Call the bank"}}));
}

TEST_F(OfficeCopyTest, TheCommandTellsTheServersTroubleAsTheServersAndAsksNothing)
{
    exec(fromContacts, QStringLiteral("INSERT INTO contacts(lastname,firstname,active,contype) VALUES('Baker','Bo',True,'Cust')"));
    const QString saved[] = {sConnContacts, sConnMain, sConnTemp};
    const auto run = [&](const QString& office) {
        qputenv(kOfficeVariable, office.toUtf8());
        setProgramDir(local.path());
        testing::internal::CaptureStderr();
        const int rc = copyToOfficeCommand();
        const QString said = QString::fromStdString(testing::internal::GetCapturedStderr());
        setProgramDir(dir.path());
        sConnContacts = saved[0], sConnMain = saved[1], sConnTemp = saved[2];
        qunsetenv(kOfficeVariable);
        EXPECT_EQ(rc, 1);
        return said;
    };
    QTemporaryDir noServer;
    const QString down = run(QStringLiteral("host=%1 dbname=kestrel").arg(noServer.path()));
    EXPECT_TRUE(down.startsWith(QStringLiteral("Kestrel could not reach the office database on %1:5432.").arg(noServer.path())))
        << down.toStdString();
    EXPECT_TRUE(down.endsWith(QStringLiteral("\nNothing was copied.\n"))) << down.toStdString();
    EXPECT_FALSE(down.contains(u'?') || down.contains(QStringLiteral("contacts.mdb"), Qt::CaseInsensitive)) << down.toStdString();
    if (!onServer())
        return;
    exec(ownerConnection(), QStringLiteral("REVOKE INSERT ON contacts FROM kestrel_office"));
    const QString refused = run(memberConninfo());
    EXPECT_TRUE(refused.startsWith(QStringLiteral("Kestrel can show the office database"))) << refused.toStdString();
    EXPECT_TRUE(refused.contains(QStringLiteral("Nothing was copied by this run")));
    EXPECT_FALSE(refused.contains(u'?') || refused.contains(QStringLiteral("contacts.mdb"), Qt::CaseInsensitive)) << refused.toStdString();
    EXPECT_EQ(rows(sConnContacts, QStringLiteral("SELECT count(*) FROM contacts")), (std::vector<QStringList>{{"1"}}));
}

} // namespace
