// The office database on the test server: what only the server does, and its conditions told
// in plain words. Runs in the server run of the data tests (server.*).
#include "data/Database.h"
#include "data/Globals.h"
#include "data/Office.h"
#include "data/PgEngine.h"
#include "data/Statement.h"
#include "data/modData.h"
#include "tests/support/Fixture.h"
#include "ui/Report.h"

#include <QElapsedTimer>
#include <QThread>

#include <thread>

using namespace kestrel;
using kestrel::test::KestrelTest;

class OfficeTest : public KestrelTest {
protected:
    void SetUp() override
    {
        KestrelTest::SetUp();
        if (!IsSkipped() && !onServer())
            GTEST_SKIP() << "needs the test server (the server.* run)";
    }
    QString server() const { return serverConninfo(sConnContacts); }
    // Statements of the server's administrator, from outside the test's database.
    void admin(const QString& sql) { pg::runMaintenance(testServer() + QStringLiteral(" dbname=postgres"), sql); }
    QString one(const QString& conn, const QString& sql)
    {
        const auto r = rows(conn, sql);
        return r.empty() ? QStringLiteral("<none>") : r[0][0];
    }
};

TEST_F(OfficeTest, EachDatabaseUserSeesAndChangesOnlyTheirOwnToDoList)
{
    const QString role = QStringLiteral("kestrel_other_%1").arg(serverDb);
    exec(sConnMain, QStringLiteral("Insert into todo (todo)values('Mine')"));
    admin(QStringLiteral("CREATE ROLE %1 LOGIN").arg(role));
    const QString other = serverConnectionText(server() + QStringLiteral(" user=") + role);
    exec(other, QStringLiteral("Insert into todo (todo)values('Theirs')"));
    const QString mine = one(sConnMain, QStringLiteral("select id from todo"));
    EXPECT_EQ(rows(sConnMain, QStringLiteral("select id,todo from todo")).size(), 1u);
    EXPECT_EQ(one(other, QStringLiteral("select todo from todo")), QStringLiteral("Theirs"));
    // The unchanged statements of the to-do window, aimed at another user's item, touch nothing.
    EXPECT_EQ(ActionQueryCount(QStringLiteral("update todo set todo='x' where id=") + mine, other), 0);
    EXPECT_EQ(ActionQueryCount(QStringLiteral("delete from todo where id=") + mine, other), 0);
    EXPECT_EQ(one(sConnMain, QStringLiteral("select todo from todo")), QStringLiteral("Mine"));
    releaseAllDatabaseFiles();
    pg::runMaintenance(server(), QStringLiteral("DROP OWNED BY %1").arg(role));
    admin(QStringLiteral("DROP ROLE %1").arg(role));
}

TEST_F(OfficeTest, TheSchemaBelongsToTheOfficeGroupWhenAMemberMakesIt)
{
    const QString group = QStringLiteral("kestrel_group_%1").arg(serverDb), member = QStringLiteral("kestrel_member_%1").arg(serverDb);
    admin(QStringLiteral("CREATE ROLE %1 NOLOGIN; CREATE ROLE %2 LOGIN IN ROLE %1; ALTER DATABASE %3 OWNER TO %1")
              .arg(group, member, serverDb));
    EXPECT_EQ(one(serverConnectionText(server() + QStringLiteral(" user=") + member),
                  QStringLiteral("select tableowner from pg_tables where tablename='contacts'")),
              group);
    // A colleague outside the group who may connect still notes what a copy of local files took.
    const QString colleague = QStringLiteral("kestrel_colleague_%1").arg(serverDb);
    admin(QStringLiteral("CREATE ROLE %1 LOGIN").arg(colleague));
    EXPECT_TRUE(ActionQuery(QStringLiteral("INSERT INTO kestrel_copied(source,tbl,local_id) VALUES('f00d','contacts',1)"),
                            serverConnectionText(server() + QStringLiteral(" user=") + colleague)));
    EXPECT_TRUE(desk.messages().isEmpty());
    releaseAllDatabaseFiles();
    admin(QStringLiteral("ALTER DATABASE %1 OWNER TO kestrel").arg(serverDb));
    pg::runMaintenance(server(), QStringLiteral("DROP OWNED BY %1, %2, %3").arg(group, member, colleague));
    admin(QStringLiteral("DROP ROLE %1; DROP ROLE %2; DROP ROLE %3").arg(member, group, colleague));
}

TEST_F(OfficeTest, ChangesRaiseTheRowVersionAndAreAnnouncedOncePerStatement)
{
    const int id = addContact(QStringLiteral("Adams"), QStringLiteral("Ann"));
    addContact(QStringLiteral("Baker"), QStringLiteral("Bo"));
    const QString version = QStringLiteral("select rowver from contacts where id=%1").arg(id);
    EXPECT_EQ(one(sConnContacts, version), QStringLiteral("1"));
    Connection listener(sConnContacts);
    Statement(listener, QStringLiteral("LISTEN kestrel_changes"), Statement::Dialect::Native).run();
    EXPECT_TRUE(ActionQuery(QStringLiteral("UPDATE contacts set active=False"), sConnContacts));
    EXPECT_EQ(one(sConnContacts, version), QStringLiteral("2"));
    addAppt(QDate(2026, 3, 7), QTime(9, 30), QStringLiteral("Review"));
    EXPECT_TRUE(ActionQuery(QStringLiteral("Insert into todo (todo)values('Call')"), sConnMain));
    EXPECT_TRUE(ActionQuery(QStringLiteral("delete from todo where id=1"), sConnMain));
    QStringList heard;
    QElapsedTimer clock;
    clock.start();
    while (heard.size() < 4 && clock.elapsed() < 5000) {
        heard << pg::takeNotifications(listener.server());
        QThread::msleep(10);
    }
    EXPECT_EQ(heard, (QStringList{QStringLiteral("contacts"), QStringLiteral("appointments"), QStringLiteral("todo"),
                                  QStringLiteral("todo")}));
    Statement(listener, QStringLiteral("UNLISTEN *"), Statement::Dialect::Native).run();
}

TEST_F(OfficeTest, TwoCopiesWritingAtOnceLoseNothing)
{
    const int shared = addContact(QStringLiteral("Shared"), QStringLiteral("Row"));
    exec(sConnContacts, QStringLiteral("UPDATE contacts set company='' where id=%1").arg(shared));
    std::atomic<int> failures{0};
    auto copy = [&](const QString& name) {
        try {
            for (int i = 0; i < 40; ++i) {
                Connection c(sConnContacts);
                c.execute(QStringLiteral("INSERT into contacts(lastname,firstname,contype)values('%1','%2','Lead')").arg(name).arg(i));
                c.execute(QStringLiteral("UPDATE contacts set company=company + '%1' where id=%2").arg(name.left(1)).arg(shared));
                if (i % 4 == 3)
                    c.execute(QStringLiteral("delete from contacts where lastname='%1' and firstname='%2'").arg(name).arg(i - 1));
            }
        } catch (const DbError&) {
            ++failures;
        }
    };
    std::thread ann(copy, QStringLiteral("Ann")), bob(copy, QStringLiteral("Bob"));
    ann.join();
    bob.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(one(sConnContacts, QStringLiteral("select count(*) from contacts where lastname='Ann'")), QStringLiteral("30"));
    EXPECT_EQ(one(sConnContacts, QStringLiteral("select count(*) from contacts where lastname='bob'")), QStringLiteral("30"));
    const QString company = one(sConnContacts, QStringLiteral("select company from contacts where id=%1").arg(shared));
    EXPECT_EQ(company.count(u'A'), 40);
    EXPECT_EQ(company.count(u'B'), 40);
}

TEST_F(OfficeTest, CopiesStartingTogetherMakeTheSchemaOnce)
{
    std::vector<std::thread> copies;
    std::atomic<int> failures{0};
    for (int i = 0; i < 4; ++i)
        copies.emplace_back([&] {
            try {
                Connection c(sConnContacts);
                Snapshot(c, QStringLiteral("select count(*) from contacts"));
            } catch (const DbError&) {
                ++failures;
            }
        });
    for (auto& t : copies)
        t.join();
    EXPECT_EQ(failures.load(), 0);
    // Each step once, the last one this program knows.
    EXPECT_EQ(rows(sConnContacts, QStringLiteral("select count(*) - count(distinct version), max(version) from kestrel_schema")),
              (std::vector<QStringList>{{QStringLiteral("0"), QString::number(pg::kSchemaVersion)}}));
}

TEST_F(OfficeTest, TheServersConditionsAreToldInPlainWordsAndALostConnectionIsMadeAnew)
{
    const int pid = one(sConnContacts, QStringLiteral("select pg_backend_pid()")).toInt();
    // The server went away between two routines: the waiting connection is not handed out again.
    admin(QStringLiteral("select pg_terminate_backend(%1)").arg(pid));
    QThread::msleep(100);
    EXPECT_NE(one(sConnContacts, QStringLiteral("select pg_backend_pid()")).toInt(), pid);
    {
        Connection c(sConnContacts);
        Snapshot s(c, QStringLiteral("select pg_backend_pid()"));
        admin(QStringLiteral("select pg_terminate_backend(%1)").arg(s.field(0).toInt()));
        // ...and during one: the routine's statement fails as a condition, not as a fault.
        try {
            c.execute(QStringLiteral("INSERT into todo (todo)values('lost')"));
            ADD_FAILURE() << "a statement on a lost connection succeeded";
        } catch (const DbError& e) {
            EXPECT_EQ(e.fault(), Fault::Unreachable) << e.what();
        }
    }
    // A server that cannot be reached: the user is asked whether to try again, never told of a bug.
    const QString away = serverConnectionText(QStringLiteral("host=/nonexistent-kestrel-socket dbname=office"));
    desk.answerNo();
    EXPECT_FALSE(ActionQuery(QStringLiteral("delete from todo where id=1"), away));
    ASSERT_EQ(desk.prompts.size(), 1u);
    EXPECT_TRUE(desk.prompts[0].text.startsWith(QStringLiteral("Kestrel could not reach the office database office on this computer (")))
        << desk.prompts[0].text.toStdString();
    EXPECT_TRUE(desk.prompts[0].text.endsWith(QStringLiteral("Try again?")));
    // A database the user may read but not change.
    admin(QStringLiteral("ALTER DATABASE %1 SET default_transaction_read_only = on").arg(serverDb));
    releaseAllDatabaseFiles();
    EXPECT_FALSE(ActionQuery(QStringLiteral("Insert into todo (todo)values('kept out')"), sConnMain));
    ASSERT_EQ(desk.messages().size(), 1);
    EXPECT_TRUE(desk.messages()[0].startsWith(QStringLiteral("Kestrel can show the office database %1 on this computer but not "
                                                             "change it").arg(serverDb)))
        << desk.messages()[0].toStdString();
    // A row another user keeps locked past the server's limit.
    admin(QStringLiteral("ALTER DATABASE %1 SET default_transaction_read_only = off").arg(serverDb));
    admin(QStringLiteral("ALTER DATABASE %1 SET lock_timeout = '100ms'").arg(serverDb));
    releaseAllDatabaseFiles();
    const int id = addContact(QStringLiteral("Adams"), QStringLiteral("Ann"));
    Connection holder(sConnContacts);
    Transaction t(holder);
    holder.execute(QStringLiteral("UPDATE contacts set lastname='Held' where id=%1").arg(id));
    desk.answerNo();
    EXPECT_FALSE(ActionQuery(QStringLiteral("UPDATE contacts set lastname='Mine' where id=%1").arg(id), sConnContacts));
    ASSERT_EQ(desk.prompts.size(), 3u);
    EXPECT_TRUE(desk.prompts[2].text.startsWith(QStringLiteral("The change could not be saved yet: another user is changing")))
        << desk.prompts[2].text.toStdString();
}

TEST(OfficeFaults, TheServersFailuresAreSortedIntoTheProgramsKinds)
{
    const struct {
        const char* state;
        Fault fault;
    } cases[] = {
        {"08006", Fault::Unreachable}, {"57P01", Fault::Unreachable}, {"28P01", Fault::Unreachable},
        {"55P03", Fault::Locked},      {"40001", Fault::Locked},      {"40P01", Fault::Locked},
        {"25006", Fault::ReadOnly},    {"42501", Fault::ReadOnly},    {"53100", Fault::DiskFull},
        {"58030", Fault::DiskError},   {"XX001", Fault::Damaged},     {"3D000", Fault::Missing},
        {"42601", Fault::Program},     {"23505", Fault::Program},     {"42P01", Fault::Program},
    };
    for (const auto& c : cases)
        EXPECT_EQ(pg::classifyState(c.state), c.fault) << c.state;
}
