// Another user's change announced while a real modal window is open waits for it to close: the
// lists under the window are not refilled behind the user's back.
#include "app/frmKestrel.h"
#include "contacts/LeadPanel.h"
#include "data/ChangeListener.h"
#include "tests/contacts/Common.h"
#include "tests/office/TestServer.h"

#include <QSignalSpy>
#include <QTest>

using namespace kestrel;
using namespace kestrel::test;

namespace {

class FollowTest : public KestrelTest {
protected:
    static void SetUpTestSuite()
    {
        server = new TestServer;
        const QStringList tables{"CREATE FUNCTION announce() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN "
                                 "PERFORM pg_notify('kestrel_changes', TG_TABLE_NAME); RETURN NULL; END $$",
                                 "CREATE TABLE contacts(id int); CREATE TRIGGER contacts AFTER INSERT ON contacts "
                                 "FOR EACH STATEMENT EXECUTE FUNCTION announce()"};
        if (server->skipReason.isEmpty() && !server->sql(tables))
            server->skipReason = QStringLiteral("the table could not be made: ") + server->output;
    }
    static void TearDownTestSuite() { delete server; }
    void SetUp() override
    {
        KestrelTest::SetUp();
        if (!server->skipReason.isEmpty())
            GTEST_SKIP() << server->skipReason.toStdString();
    }
    static TestServer* server;
};
TestServer* FollowTest::server = nullptr;

TEST_F(FollowTest, AChangeAnnouncedWhileAModalWindowIsOpenWaitsForItToClose)
{
    addContact("Adams", "Al");
    frmKestrel w;
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    w.Form_Load();
    w.mnuConView_Click();
    auto* listener = new ChangeListener(server->conninfo());
    QSignalSpy on(listener, &ChangeListener::listeningChanged);
    QSignalSpy heard(listener, &ChangeListener::contactsChanged);
    w.followChanges(listener);
    ASSERT_TRUE(on.wait(10000));
    const auto listed = [&] { return w.lead->tvLead->findItems("*, *", Qt::MatchWildcard | Qt::MatchRecursive).size(); };
    ASSERT_EQ(listed(), 1);

    QDialog modal(&w); // a window of the program's, run modally as the desktop runs it
    modal.setModal(true);
    qsizetype underTheWindow = -1;
    QTimer::singleShot(0, &modal, [&] {
        addContact("Baker", "Cy"); // another user's contact, announced by the server
        if (!server->sql({"insert into contacts values(1)"}) || !QTest::qWaitFor([&] { return heard.count() == 1; }, 5000)) {
            ADD_FAILURE() << "no announcement came: " << server->output.toStdString();
        } else {
            QTest::qWait(1000); // well past the refill's gathering time
            underTheWindow = listed();
        }
        modal.accept();
    });
    modal.exec();
    EXPECT_EQ(underTheWindow, 1);
    EXPECT_TRUE(QTest::qWaitFor([&] { return listed() == 2; }, 5000));
}

} // namespace
