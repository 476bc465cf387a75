// The office server itself: the listener that hears other users' changes, the main window that
// follows them, and the Test of File > Options, against a throwaway server started for these tests.
#include "app/frmKestrel.h"
#include "calendar/RemindPanel.h"
#include "contacts/LeadPanel.h"
#include "data/ChangeListener.h"
#include "data/Globals.h"
#include "data/Office.h"
#include "dialogs/frmOptions.h"
#include "tests/office/TestServer.h"
#include "tests/support/Fixture.h"
#include "tests/support/PrintQString.h"

#include <QtWidgets>
#include <QSignalSpy>
#include <QTest>

using namespace kestrel;
using namespace kestrel::test;

class ServerTest : public KestrelTest {
protected:
    static void SetUpTestSuite()
    {
        server = new TestServer;
        // Tables announce their changes as the office schema's do: once per statement.
        if (server->skipReason.isEmpty() &&
            !server->sql({"CREATE FUNCTION announce() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN "
                          "PERFORM pg_notify('kestrel_changes', TG_TABLE_NAME); RETURN NULL; END $$",
                          "CREATE TABLE contacts(id int); CREATE TABLE appointments(id int); CREATE TABLE todo(id int)",
                          "CREATE TRIGGER c AFTER INSERT OR UPDATE OR DELETE ON contacts FOR EACH STATEMENT EXECUTE FUNCTION announce();"
                          "CREATE TRIGGER a AFTER INSERT OR UPDATE OR DELETE ON appointments FOR EACH STATEMENT EXECUTE FUNCTION announce();"
                          "CREATE TRIGGER t AFTER INSERT OR UPDATE OR DELETE ON todo FOR EACH STATEMENT EXECUTE FUNCTION announce()"}))
            server->skipReason = QStringLiteral("the tables could not be made: ") + server->output();
    }
    static void TearDownTestSuite() { delete server; }
    void SetUp() override
    {
        if (!server->skipReason.isEmpty())
            GTEST_SKIP() << server->skipReason.toStdString();
        KestrelTest::SetUp();
    }
    static TestServer* server;
};
TestServer* ServerTest::server = nullptr;

TEST_F(ServerTest, TheListenerRefillsOncePerBurstPerTableAndAfterALostConnectionComesBackBySelf)
{
    ChangeListener listener(server->conninfo());
    listener.setQuietInterval(150);
    listener.setRetryInterval(100);
    QSignalSpy on(&listener, &ChangeListener::listeningChanged);
    QSignalSpy contacts(&listener, &ChangeListener::contactsChanged);
    QSignalSpy appointments(&listener, &ChangeListener::appointmentsChanged);
    QSignalSpy todo(&listener, &ChangeListener::todoChanged);
    ASSERT_TRUE(on.wait(10000));
    EXPECT_TRUE(listener.listening());

    // Five separate transactions of another user, as fast as psql sends them.
    ASSERT_TRUE(server->sql({"insert into contacts values(1)", "update contacts set id=2", "delete from contacts",
                             "insert into todo values(1)", "insert into contacts values(3)"}))
        << server->output().toStdString();
    QTest::qWait(600);
    EXPECT_EQ(contacts.count(), 1);
    EXPECT_EQ(todo.count(), 1);
    EXPECT_EQ(appointments.count(), 0);

    // The server goes away and comes back: what changed meanwhile was never announced, so every
    // list is refilled once listening stands again.
    ASSERT_TRUE(server->stop());
    ASSERT_TRUE(on.wait(10000));
    EXPECT_FALSE(listener.listening());
    ASSERT_TRUE(server->start()) << server->output().toStdString();
    ASSERT_TRUE(on.wait(10000));
    EXPECT_TRUE(listener.listening());
    QTest::qWait(400);
    EXPECT_EQ(contacts.count() + appointments.count() + todo.count(), 5);
    ASSERT_TRUE(server->sql({"insert into appointments values(1)"}));
    ASSERT_TRUE(appointments.wait(5000));
    EXPECT_EQ(appointments.count(), 2);
}

TEST_F(ServerTest, TestSaysWhoAnsweredWhyNotOrThatTheBoxIsEmptyAndStartUpOffersAWayOn)
{
    QTemporaryDir noServer;
    struct Case {
        QString typed;
        QString told;
    };
    const Case cases[] = {
        {server->conninfo(), "Kestrel reached the office database postgres on " + server->conninfo().section(u' ', 0, 0).mid(5) +
                                 ":5432 as user kestrel."},
        {"host=" + noServer.path() + " dbname=postgres",
         "Kestrel could not reach the office database on " + noServer.path() + ":5432.\n\nconnection to server on socket"},
        {"host='" + noServer.path(), "Kestrel cannot read the office database's connection string: unterminated quoted string"},
        {"  ", "The box is empty, so Kestrel keeps its data in the local files."},
    };
    for (const Case& c : cases) {
        frmOptions o;
        o.show();
        o.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&o));
        QTest::mouseClick(o.txtOffice, Qt::LeftButton);
        QTest::keyClicks(o.txtOffice, c.typed);
        QTest::mouseClick(o.cmdTest, Qt::LeftButton);
        ASSERT_FALSE(desk.messages().isEmpty());
        EXPECT_TRUE(desk.messages().last().startsWith(c.told)) << desk.messages().last().toStdString();
    }

    // Start-up that cannot reach the server: try again, then the local files or the end.
    const QString unreachable = cases[1].typed;
    desk.answerYes();
    desk.answerNo();
    desk.answerYes();
    EXPECT_EQ(reachOfficeDatabase(unreachable), QString());
    desk.answerNo();
    desk.answerNo();
    EXPECT_EQ(reachOfficeDatabase(unreachable), std::nullopt);
    EXPECT_EQ(reachOfficeDatabase(server->conninfo()), server->conninfo());
    const auto& p = desk.prompts;
    ASSERT_EQ(p.size(), 4u + 5u);
    EXPECT_TRUE(p[4].text.startsWith(cases[1].told) && p[4].text.endsWith("\n\nTry again?")) << p[4].text.toStdString();
    EXPECT_EQ(p[6].text, "Start with the local files on this computer this time? They do not hold the office's "
                         "contacts and appointments.\n\nNo ends Kestrel.");
}

TEST_F(ServerTest, TheMainWindowRefillsTheTreeAndListsWhenAnotherUserChangesThemKeepingTheChosenLine)
{
    frmKestrel w;
    w.show();
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    exec(sConnMain, "insert into todo(todo) values('Call Ann')");
    w.Form_Load();
    w.mnuConView_Click();
    auto* listener = new ChangeListener(server->conninfo());
    QSignalSpy on(listener, &ChangeListener::listeningChanged);
    w.followChanges(listener);
    ASSERT_TRUE(on.wait(10000));
    QListWidget* todo = w.remind->lstToDo;
    const auto line = [todo](const QString& text) { return todo->findItems(text, Qt::MatchExactly).value(0); };
    ASSERT_TRUE(line("Call Ann"));
    QTest::mouseClick(todo->viewport(), Qt::LeftButton, {}, todo->visualItemRect(line("Call Ann")).center());
    ASSERT_EQ(todo->currentItem(), line("Call Ann"));

    // Another user adds a contact and a to-do item: here the rows go into the local files and
    // the server announces them.
    addContact("Baker", "Cy");
    exec(sConnMain, "insert into todo(todo) values('Aa first')");
    ASSERT_TRUE(server->sql({"insert into contacts values(1)", "insert into todo values(1)"}));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !w.lead->tvLead->findItems("Baker, Cy*", Qt::MatchWildcard | Qt::MatchRecursive).isEmpty(); }, 5000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return line("Aa first") != nullptr; }, 5000));
    ASSERT_TRUE(todo->currentItem());
    EXPECT_EQ(todo->currentItem()->text(), "Call Ann");
}
