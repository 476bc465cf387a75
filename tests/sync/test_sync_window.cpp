// The sync as a person uses it: F9 on the shown main window, the status bar, the question about a
// value changed on both sides, the password asked once per run, and File > Options > Sync server.
#include "tests/sync/SyncTest.h"

#include "app/frmKestrel.h"
#include "contacts/LeadPanel.h"
#include "contacts/modTree.h"
#include "dialogs/frmSyncServer.h"
#include "dialogs/modSync.h"
#include "sync/SyncSettings.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTreeWidget>

namespace kestrel::test {
namespace {

class SyncWindow : public SyncTest {
protected:
    void SetUp() override
    {
        SyncTest::SetUp();
        if (HasFatalFailure() || IsSkipped())
            return;
        w = std::make_unique<frmKestrel>();
        control = std::make_unique<SyncControl>();
        setSyncControl(control.get());
        w->followSync(control.get());
        w->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(w.get()));
        w->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(w.get()));
    }
    void TearDown() override
    {
        control.reset();
        w.reset();
        SyncTest::TearDown();
    }
    void settings(const QString& srv, const QString& who, const QString& addressBook)
    {
        desk.settings.insert(QStringLiteral("Kestrel/Sync/Server"), srv);
        desk.settings.insert(QStringLiteral("Kestrel/Sync/User"), who);
        desk.settings.insert(QStringLiteral("Kestrel/Sync/AddressBook"), addressBook);
    }
    // F9 where the focus is, then the wait for the sync and its questions.
    void pressF9()
    {
        QSignalSpy done(control.get(), &SyncControl::done);
        QTest::keyClick(w->focusWidget() ? w->focusWidget() : w.get(), Qt::Key_F9);
        ASSERT_TRUE(done.wait(60000));
        QTest::qWait(400); // the lists refill once the burst is over
    }
    QString status() const { return w->statusPanels[1]->text(); }

    std::unique_ptr<frmKestrel> w;
    std::unique_ptr<SyncControl> control;
};

TEST_F(SyncWindow, F9BringsThePhonesContactIntoTheTreeSaysWhenAndAsksAboutAValueChangedOnBothSidesWhereNoTakesTheirs)
{
    settings(server, user, book.toString());
    phone({"put", book.path() + "bo.vcf", "FILE", "*"}, true,
          "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:bo\r\nFN:Bo Ng\r\nN:Ng;Bo;;;\r\nEND:VCARD\r\n");
    const int id = addContact(QStringLiteral("Lee"), QStringLiteral("Ann"));
    QTest::keyClick(w.get(), Qt::Key_F3);
    pressF9();
    EXPECT_EQ(status(), "Synced 9:30 AM");
    EXPECT_TRUE(w->statusPanels[1]->toolTip().contains(QStringLiteral("1 item taken from the server")));
    EXPECT_FALSE(w->prgSync->isVisible());
    EXPECT_EQ(w->lead->tvLead->findItems(TreeNodeText(QStringLiteral("Ng"), QStringLiteral("Bo"), QString()),
                                         Qt::MatchRecursive).size(), 1);

    QString href; // Ann's card, beside the phone's Bo
    for (const QString& h : listed(book).keys())
        href = h.endsWith(u"bo.vcf") ? href : h;
    phone({"setfield", href, "email", "ann@there.example"});
    exec(sConnContacts, QStringLiteral("update contacts set email='ann@here.example' where id=%1").arg(id));
    desk.answerNo();
    pressF9();
    ASSERT_FALSE(desk.prompts.empty());
    EXPECT_EQ(desk.prompts.back().kind, "question");
    EXPECT_EQ(desk.prompts.back().text,
              "Someone else changed this contact (Ann Lee) on the sync server after the last sync.\n\n"
              "E-mail here: \"ann@here.example\"\nE-mail there: \"ann@there.example\"\n\n"
              "Save your changes over theirs? (No takes theirs.)");
    EXPECT_EQ(rows(sConnContacts, QStringLiteral("select email from contacts where id=%1").arg(id))[0][0], "ann@there.example");
    EXPECT_EQ(status(), "Synced 9:30 AM");
}

TEST_F(SyncWindow, APasswordNoKeyringKeepsIsAskedOncePerRun)
{
    const QString checked = davState("url-password");
    ASSERT_FALSE(checked.isEmpty());
    // The address book of ann on the server that checks passwords.
    dav::Client client(QStringLiteral("ann"), davState("password"));
    const sync::Discovery d = sync::discover(client, QUrl(checked));
    ASSERT_EQ(int(d.outcome), int(sync::Outcome::Synced));
    QUrl annBook = d.addressBooks.empty() ? QUrl() : d.addressBooks.front().url;
    if (annBook.isEmpty())
        annBook = sync::makeCollection(client, d.addressBookHome, SyncKind::Contacts, QStringLiteral("Kestrel")).found.url;
    settings(checked, QStringLiteral("ann"), annBook.toString());
    keys.runs = false;
    desk.answerInput(davState("password"));
    pressF9();
    EXPECT_EQ(desk.prompts.front().text, QStringLiteral("The sync server %1 wants the password of user ann:").arg(checked));
    EXPECT_EQ(status(), "Synced 9:30 AM");
    const size_t asked = desk.prompts.size();
    pressF9();
    EXPECT_EQ(desk.prompts.size(), asked); // not asked again in this run
    EXPECT_EQ(status(), "Synced 9:30 AM");
    for (auto it = desk.settings.begin(); it != desk.settings.end(); ++it)
        EXPECT_FALSE(it.value().contains(davState("password"))) << it.key().toStdString();
}

TEST_F(SyncWindow, TheProgressBarCountsTheItemsUpToTheWholeAndGoesWhenTheSyncEnds)
{
    settings(server, user, book.toString());
    for (int i = 0; i < 30; ++i)
        addContact(QStringLiteral("Lee%1").arg(i), QStringLiteral("Ann"));
    struct Seen {
        bool shown;
        int value, maximum;
    };
    std::vector<Seen> seen;
    // Connected after the window's own handler: each look is at the bar the window has just set.
    QObject::connect(control.get(), &SyncControl::progress, w.get(),
            [&] { seen.push_back({w->prgSync->isVisible(), w->prgSync->value(), w->prgSync->maximum()}); });
    pressF9();
    ASSERT_GE(seen.size(), 3u);
    // Shown at once, busy until the sync knows how much there is.
    EXPECT_TRUE(seen.front().shown);
    EXPECT_EQ(seen.front().maximum, 0);
    int before = 0;
    bool whole = false;
    for (size_t i = 1; i + 1 < seen.size(); ++i) {
        EXPECT_TRUE(seen[i].shown) << i;
        EXPECT_LE(seen[i].value, seen[i].maximum) << i;
        EXPECT_GE(seen[i].value, before) << i; // never runs backwards
        before = seen[i].value;
        whole = whole || (seen[i].maximum >= 30 && seen[i].value == seen[i].maximum);
    }
    EXPECT_TRUE(whole) << "the bar never reached the whole of the 30 contacts sent";
    EXPECT_FALSE(seen.back().shown);
    EXPECT_FALSE(w->prgSync->isVisible());
    EXPECT_EQ(listed(book).size(), 30);
}

// File > Options > Sync server finds the address books, keeps the password in the keyring alone, and
// the sync then runs by itself at the interval chosen there.
TEST_F(SyncWindow, OptionsFindTheAddressBooksKeepThePasswordInTheKeyringAndTheSyncRunsAtTheIntervalChosen)
{
    using namespace std::chrono_literals;
    EXPECT_EQ(control->every(), 0min); // nothing to sync with yet
    keys.runs = true;
    const auto options = [&](const std::function<void(frmSyncServer&)>& choose) {
        frmSyncServer window(w.get());
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        choose(window);
        QTest::mouseClick(window.cmdSave, Qt::LeftButton);
    };
    options([&](frmSyncServer& o) {
        QTest::keyClicks(o.txtServer, server);
        QTest::keyClicks(o.txtUser, user);
        QTest::keyClicks(o.txtPassword, QStringLiteral("pass word"));
        QTest::mouseClick(o.cmdTest, Qt::LeftButton);
        EXPECT_EQ(o.lblFound->text(), "Found 1 address book(s) (Kestrel) and 1 calendar(s) (Kestrel).");
        EXPECT_EQ(o.cboBook->currentData().toString(), book.toString(QUrl::FullyEncoded));
        // A new calendar of its own.
        QTest::mouseClick(o.cmdNewCal, Qt::LeftButton);
        EXPECT_EQ(o.cboCal->count(), 3);
        EXPECT_NE(o.cboCal->currentData().toString(), calendar.toString(QUrl::FullyEncoded));
    });
    EXPECT_EQ(desk.settings.value("Kestrel/Sync/Server"), server);
    EXPECT_EQ(desk.settings.value("Kestrel/Sync/User"), user);
    EXPECT_EQ(desk.settings.value("Kestrel/Sync/AddressBook"), book.toString(QUrl::FullyEncoded));
    EXPECT_EQ(desk.settings.value("Kestrel/Sync/Minutes"), "15");
    for (auto it = desk.settings.begin(); it != desk.settings.end(); ++it)
        EXPECT_FALSE(it.value().contains(QStringLiteral("pass word")));
    EXPECT_EQ(keys.kept.value(sync::keyringName(server, user)), "pass word");
    EXPECT_EQ(control->every(), 15min); // the interval unless one is chosen
    w->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(w.get()));
    pressF9();
    EXPECT_EQ(control->every(), 15min); // a sync leaves it running
    options([&](frmSyncServer& o) {
        o.cboEvery->setFocus();
        QTest::keyClick(o.cboEvery, Qt::Key_End);
    });
    EXPECT_EQ(desk.settings.value("Kestrel/Sync/Minutes"), "60");
    EXPECT_EQ(control->every(), 60min);
    options([&](frmSyncServer& o) {
        o.cboEvery->setFocus();
        QTest::keyClick(o.cboEvery, Qt::Key_Home);
    });
    EXPECT_EQ(control->every(), 0min);
    // The next start follows what is kept.
    desk.settings.insert(QStringLiteral("Kestrel/Sync/Minutes"), QStringLiteral("5"));
    EXPECT_EQ(SyncControl().every(), 5min);
}

} // namespace
} // namespace kestrel::test
