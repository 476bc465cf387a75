// The office database on the test server: what only the server does, and its conditions told
// in plain words. Runs in the server run of the data tests (server.*).
#include "data/Database.h"
#include "data/Globals.h"
#include "data/Office.h"
#include "data/PgEngine.h"
#include "data/Trash.h"
#include "data/PgSchema.h"
#include "data/Statement.h"
#include "data/modData.h"
#include "tests/support/Fixture.h"
#include "ui/Report.h"

#include <QElapsedTimer>
#include <QThread>

#include <thread>

using namespace kestrel;
using kestrel::test::KestrelTest;

namespace {
QString joined(const std::vector<QStringList>& rows)
{
    QStringList lines;
    for (const QStringList& r : rows)
        lines << r.join(u'|');
    return lines.join(u'\n');
}
} // namespace

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

// Statements typed by a role straight at the server, as psql sends them: the server itself must
// refuse what the role may not do, whatever program it uses.
class ServerRights : public OfficeTest {
protected:
    void SetUp() override
    {
        OfficeTest::SetUp();
        if (IsSkipped())
            return;
        makeOfficeRoles(QStringLiteral("rights"), false);
    }
};

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
            // Told in plain words even where the statement's source went unnamed on the way.
            const DbError unnamed(e.number(), e.description(), Fault::Unreachable);
            EXPECT_TRUE(MachineFaultNotice(unnamed).startsWith(QStringLiteral("Kestrel could not reach the office database")))
                << MachineFaultNotice(unnamed).toStdString();
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

TEST_F(ServerRights, MembersMayOnlyReadAndWriteRowsAndEachOnlyTheirOwnToDoItems)
{
    const QString me = QString::fromLatin1(kMemberRole);
    exec(sConnMain, QStringLiteral("Insert into todo (todo)values('Mine')"));
    addContact(QStringLiteral("Adams"), QStringLiteral("Ann"));
    const QString asColleague = serverConnectionText(memberConninfo(colleague));
    exec(asColleague, QStringLiteral("Insert into todo (todo)values('Theirs')"));
    // Through the view each sees their own; the to-do window's statements aimed at another
    // user's item touch nothing.
    EXPECT_EQ(joined(rows(sConnMain, QStringLiteral("select todo from todo"))), QStringLiteral("Mine"));
    const QString mine = one(sConnMain, QStringLiteral("select id from todo"));
    EXPECT_EQ(ActionQueryCount(QStringLiteral("update todo set todo='x' where id=") + mine, asColleague), 0);
    EXPECT_EQ(ActionQueryCount(QStringLiteral("delete from todo where id=") + mine, asColleague), 0);
    // ...and straight at the table, where no grant reaches and row security stands behind that.
    const char* const refused[] = {
        "SELECT * FROM todo_items",
        "UPDATE todo_items SET owner = current_user",
        "INSERT INTO todo_items(owner, todo) VALUES('kestrel_tester', 'forged')",
        "TRUNCATE contacts",
        "TRUNCATE appointments CASCADE",
        "DROP TABLE contacts CASCADE",
        "DROP VIEW todo",
        "ALTER TABLE contacts DISABLE TRIGGER ALL",
        "ALTER TABLE contacts DISABLE TRIGGER contacts_changed",
        "ALTER TABLE appointments ADD COLUMN x int",
        "CREATE OR REPLACE FUNCTION kestrel_announce() RETURNS trigger LANGUAGE plpgsql AS "
        "$$BEGIN EXECUTE 'ALTER ROLE kestrel_colleague SUPERUSER'; RETURN NULL; END$$",
        "CREATE FUNCTION evil() RETURNS int LANGUAGE sql AS 'SELECT 1'",
        "CREATE TRIGGER evil AFTER INSERT ON contacts FOR EACH STATEMENT EXECUTE FUNCTION kestrel_announce('x')",
        "CREATE TEMP TABLE t(x int)",
        "CREATE TABLE t(x int)",
        "DROP EXTENSION unaccent",
        "ALTER DATABASE postgres OWNER TO kestrel_office",
        "SET ROLE kestrel_owner",
        "UPDATE exchange_identity SET identity = 'x'",
        "DELETE FROM kestrel_copied",
        "DELETE FROM kestrel_schema",
        "UPDATE trash SET deleted_by = 'someone'",
        "TRUNCATE trash",
        "ALTER TABLE contacts DISABLE TRIGGER contacts_lastcontact",
    };
    for (const char* sql : refused)
        EXPECT_FALSE(refusal(colleague, QString::fromLatin1(sql)).isEmpty()) << "taken from a member: " << sql;
    EXPECT_TRUE(refusal(colleague, QStringLiteral("DROP DATABASE %1").arg(serverDb)).contains(u"must be owner"));
    // Even granted the table by a careless administrator, a member sees only their own items.
    pg::runMaintenance(adminConninfo(), QStringLiteral("GRANT SELECT, INSERT, UPDATE ON todo_items TO kestrel_office"));
    EXPECT_EQ(one(asColleague, QStringLiteral("select count(*) from todo_items")), QStringLiteral("1"));
    EXPECT_EQ(refusal(colleague, QStringLiteral("UPDATE todo_items SET todo = 'gone'")), QString());
    EXPECT_FALSE(refusal(colleague, QStringLiteral("INSERT INTO todo_items(owner, todo) VALUES('%1', 'forged')").arg(me)).isEmpty());
    EXPECT_FALSE(refusal(colleague, QStringLiteral("UPDATE todo_items SET owner = '%1'").arg(me)).isEmpty());
    EXPECT_EQ(joined(rows(sConnMain, QStringLiteral("select todo from todo"))), QStringLiteral("Mine"));
    // The trigger functions cannot lend anyone more rights than the one who changes a row.
    EXPECT_EQ(joined(rows(serverConnectionText(adminConninfo()),
                          QStringLiteral("select p.proname || ':' || pg_get_userbyid(p.proowner) || ':' || p.prosecdef || ':' "
                                         "|| array_to_string(p.proconfig, ';') from pg_proc p where p.proname in "
                                         "('kestrel_announce','kestrel_raise_rowver','kestrel_trash_stamp','kestrel_contact_lastcontact',"
                                         "'kestrel_contacts_rowver','kestrel_history_lastcontact','kestrel_findtext',"
                                         "'kestrel_history_findtext') order by 1"))),
              QStringLiteral("kestrel_announce:kestrel_owner:false:search_path=pg_catalog, pg_temp\n"
                             "kestrel_contact_lastcontact:kestrel_owner:false:search_path=pg_catalog, pg_temp\n"
                             "kestrel_contacts_rowver:kestrel_owner:false:search_path=pg_catalog, pg_temp\n"
                             "kestrel_findtext:kestrel_owner:false:search_path=pg_catalog, pg_temp\n"
                             "kestrel_history_findtext:kestrel_owner:false:search_path=pg_catalog, pg_temp\n"
                             "kestrel_history_lastcontact:kestrel_owner:false:search_path=pg_catalog, pg_temp\n"
                             "kestrel_raise_rowver:kestrel_owner:false:search_path=pg_catalog, pg_temp\n"
                             "kestrel_trash_stamp:kestrel_owner:false:search_path=pg_catalog, pg_temp"));

    // A member writes and reads the appointments' length and repetition, as Kestrel does.
    exec(sConnContacts, QStringLiteral("insert into appointments(apptdate,appttime,apptbrief) values(#3/2/2027#,#9:00 AM#,'Call')"));
    EXPECT_EQ(refusal(colleague, QStringLiteral("UPDATE appointments SET rrule = 'FREQ=WEEKLY;BYDAY=TU', exdates = '2027-03-09', "
                                                "endtime = '10:00', allday = false, cancelled = false")), QString());
    EXPECT_EQ(refusal(colleague, QStringLiteral("INSERT INTO appointments(apptdate, apptbrief, series_id, recurrence_date) "
                                                "SELECT '2027-03-17', 'Moved', autoid, '2027-03-16' FROM appointments")), QString());
    EXPECT_EQ(joined(rows(asColleague, QStringLiteral("select rrule,exdates,endtime,series_id is not null,recurrence_date from "
                                                      "appointments order by autoid"))),
              QStringLiteral("FREQ=WEEKLY;BYDAY=TU|2027-03-09|10:00:00 AM|False|<null>\n<null>|<null>|<null>|True|3/16/2027"));

    // A role outside the group may not even connect, and granted that, reads and changes nothing.
    EXPECT_TRUE(refusal(outsider, QStringLiteral("SELECT 1")).contains(u"CONNECT"));
    pg::runMaintenance(adminConninfo(), QStringLiteral("GRANT CONNECT ON DATABASE %1 TO %2").arg(serverDb, outsider));
    for (const char* sql : {"SELECT * FROM contacts", "UPDATE contacts SET email = 'x@evil.example'",
                            "DELETE FROM appointments", "SELECT * FROM todo", "INSERT INTO contacts(lastname) VALUES('x')",
                            "SELECT enddate, endtime, allday, cancelled FROM appointments",
                            "UPDATE appointments SET cancelled = true, enddate = apptdate",
                            "SELECT rrule, exdates, series_id, recurrence_date FROM appointments",
                            "UPDATE appointments SET rrule = 'FREQ=DAILY', exdates = '', series_id = 1"})
        EXPECT_FALSE(refusal(outsider, QString::fromLatin1(sql)).isEmpty()) << "taken from an outsider: " << sql;
    EXPECT_EQ(one(sConnContacts, QStringLiteral("select count(*) from contacts")), QStringLiteral("1"));
    EXPECT_EQ(one(serverConnectionText(adminConninfo()),
                  QStringLiteral("select count(*) from pg_roles where rolsuper and rolname like 'kestrel_%'")),
              QStringLiteral("0"));
}

TEST_F(ServerRights, SetUpBringsAnEarlierVersionsSchemaToTheModelAndSaysWhatItDid)
{
    // The office as earlier versions left it: the database and every table the group's, which a
    // member used to plant a trigger that makes them superuser and to open the data to everyone.
    const QString old = serverDb + QStringLiteral("_old");
    admin(QStringLiteral("CREATE DATABASE %1 OWNER kestrel_office").arg(old));
    const QString oldAdmin = testServer() + QStringLiteral(" dbname=") + old;
    const QString oldMember = oldAdmin + QStringLiteral(" user=") + colleague;
    pg::runMaintenance(oldAdmin, QStringLiteral("BEGIN; SET LOCAL ROLE kestrel_office; CREATE TABLE kestrel_schema(version "
                                                "integer NOT NULL); %1; INSERT INTO kestrel_schema VALUES(1); COMMIT")
                                     .arg(QString::fromUtf8(pg::schemaSteps()[0].sql)));
    const QString planted = QStringLiteral(
        "INSERT INTO todo(todo) VALUES('Call Bo');"
        "SET ROLE kestrel_office;"
        "CREATE FUNCTION evil() RETURNS trigger LANGUAGE plpgsql AS $$BEGIN EXECUTE 'ALTER ROLE %1 SUPERUSER'; RETURN NULL; END$$;"
        "CREATE TRIGGER evil AFTER INSERT ON contacts FOR EACH STATEMENT EXECUTE FUNCTION evil();"
        "ALTER TABLE contacts DISABLE TRIGGER contacts_changed;"
        "GRANT ALL ON contacts TO PUBLIC;"
        // What a phone deleted, as the sync of an earlier version kept it.
        "CREATE TABLE sync_removed(id serial PRIMARY KEY, tbl text NOT NULL, removed_at text NOT NULL, why text, record text NOT NULL);"
        "INSERT INTO sync_removed(tbl, removed_at, why, record) VALUES('contacts', '2026-11-02T10:00:00', "
        "'deleted on the sync server dav.example', '{\"id\":\"77\",\"lastname\":\"Lee\",\"firstname\":\"Ann\",\"uid\":\"u-77\"}')")
                                .arg(colleague);
    pg::runMaintenance(oldMember, planted);
    // An old schema is the administrator's to raise: a salesperson's copy says so and changes nothing.
    const ServerProbe before = probeServer(oldMember);
    EXPECT_EQ(probeText(before).section(QStringLiteral("cannot use it:"), 1), QStringLiteral(
        " it is set up for an older version of Kestrel (schema 1; this Kestrel needs %1).\n\nThe server's administrator "
        "must run kestrel --init-office for it once.").arg(pg::kSchemaVersion));
    desk.answerNo();
    desk.answerNo();
    EXPECT_EQ(reachOfficeDatabase(oldMember), std::nullopt);
    EXPECT_FALSE(ActionQuery(QStringLiteral("delete from contacts"), serverConnectionText(oldMember)));
    EXPECT_TRUE(desk.messages().value(0).startsWith(QStringLiteral("Kestrel cannot use the office database %1 on this "
                                                                    "computer: it is set up for an older version").arg(old)))
        << desk.messages().value(0).toStdString();
    EXPECT_TRUE(desk.messages().value(0).contains(QStringLiteral("must run kestrel --init-office")));

    // Only a superuser may set up.
    EXPECT_TRUE(setUpOfficeDatabase(oldMember).refused.startsWith(QStringLiteral("kestrel --init-office must be run by a superuser")));
    const OfficeSetUp done = setUpOfficeDatabase(oldAdmin);
    ASSERT_TRUE(done.refused.isEmpty());
    const QString said = done.said.join(u'\n');
    for (const QString& line : {QStringLiteral("The database %1 now belongs to kestrel_owner instead of kestrel_office.").arg(old),
                                QStringLiteral("Removed the trigger evil ON contacts, which Kestrel did not make."),
                                QStringLiteral("Brought Kestrel's tables from schema version 1 to %1.").arg(pg::kSchemaVersion),
                                QStringLiteral("Not Kestrel's, left as it is: function evil() (owner kestrel_office).")})
        EXPECT_TRUE(said.contains(line)) << said.toStdString() << "\nlacks " << line.toStdString();
    EXPECT_TRUE(said.contains(QStringLiteral("Members of kestrel_office: ")) && said.contains(colleague));

    const QString asAdmin = serverConnectionText(oldAdmin);
    EXPECT_EQ(one(asAdmin, QStringLiteral("select string_agg(distinct pg_get_userbyid(relowner)::text, ',') from pg_class "
                                          "where relnamespace = 'public'::regnamespace and relname in "
                                          "('contacts','appointments','todo_items','todo','kestrel_schema')")),
              QStringLiteral("kestrel_owner"));
    EXPECT_EQ(one(asAdmin, QStringLiteral("select tgenabled from pg_trigger where tgname = 'contacts_changed'")), QStringLiteral("O"));
    EXPECT_FALSE(refusalAt(oldMember, QStringLiteral("TRUNCATE contacts")).isEmpty());
    EXPECT_EQ(one(asAdmin, QStringLiteral("select count(*) from pg_class c, aclexplode(c.relacl) a where a.grantee = 0 "
                                          "and c.relnamespace = 'public'::regnamespace")),
              QStringLiteral("0"));
    const QString asMember = serverConnectionText(oldMember);
    EXPECT_TRUE(ActionQuery(QStringLiteral("INSERT into contacts(lastname)values('After')"), asMember));
    EXPECT_EQ(one(asMember, QStringLiteral("select todo from todo")), QStringLiteral("Call Bo")); // kept, still theirs
    // The phone's delete is in the trash, and the sync's own table is gone; a member restores it.
    EXPECT_EQ(one(asAdmin, QStringLiteral("select to_regclass('sync_removed') is null")), QStringLiteral("True"));
    const std::vector<TrashBatch> trashed = listTrash(asMember);
    ASSERT_EQ(trashed.size(), 1u);
    EXPECT_EQ(trashed[0].label, QStringLiteral("Lee, Ann (deleted on the sync server dav.example)"));
    EXPECT_EQ(restoreFromTrash(asMember, trashed[0].batch), 1);
    EXPECT_EQ(one(asMember, QStringLiteral("select lastname || ' ' || uid from contacts where id = 77")), QStringLiteral("Lee u-77"));
    EXPECT_EQ(one(asAdmin, QStringLiteral("select rolsuper from pg_roles where rolname = '%1'").arg(colleague)), QStringLiteral("False"));
    // A second run finds nothing left to do.
    EXPECT_TRUE(setUpOfficeDatabase(oldAdmin).said.contains(
        QStringLiteral("Kestrel's tables were up to date (schema version %1).").arg(pg::kSchemaVersion)));
    releaseAllDatabaseFiles();
    admin(QStringLiteral("DROP DATABASE %1 WITH (FORCE)").arg(old));
}

TEST_F(OfficeTest, TwoSetUpsAtOnceMakeTheSchemaOnce)
{
    std::vector<std::thread> runs;
    std::atomic<int> failures{0};
    for (int i = 0; i < 3; ++i)
        runs.emplace_back([&] {
            try {
                setUpOfficeDatabase(adminConninfo());
            } catch (const DbError&) {
                ++failures;
            }
        });
    for (auto& t : runs)
        t.join();
    EXPECT_EQ(failures.load(), 0);
    // Each step recorded once; the numbers are those of the steps this program has, which need
    // not be every number up to the newest (a step agreed for another change may land later).
    std::vector<QStringList> everyStep;
    for (const pg::SchemaStep& step : pg::schemaSteps())
        everyStep.push_back({QString::number(step.version)});
    ASSERT_EQ(everyStep.back(), QStringList{QString::number(pg::kSchemaVersion)});
    EXPECT_EQ(rows(sConnContacts, QStringLiteral("select version from kestrel_schema order by 1")), everyStep);
}
