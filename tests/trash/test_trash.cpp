// The trash and Edit > Undo: a deleted contact or appointment comes back whole under its own key,
// on both engines; what an office member may do with the trash; the age at which it empties; and
// a contact deleted with the keys and brought back with Ctrl+Z.
#include "data/Office.h"
#include "data/PgEngine.h"
#include "data/Trash.h"
#include "dialogs/frmTrash.h"
#include "tests/app/Helpers.h"
#include "tests/support/PrintQString.h"
#include "ui/Report.h"
#include "ui/Undo.h"

namespace {

class TrashTest : public MainWindowTest {
protected:
    void TearDown() override
    {
        forgetChanges();
        MainWindowTest::TearDown();
    }
    // Every column a user can see, so that the two engines' own row versions stay out.
    std::vector<QStringList> contact(int id)
    {
        return rows(sConnContacts, QStringLiteral("select id,lastname,firstname,company,address,city,st,zip,homeph,cellph,"
                                                  "workph,ext,email,active,contype,country,jobtitle,website,birthday,notes "
                                                  "from contacts where id=%1").arg(id));
    }
    std::vector<QStringList> appointment(int id)
    {
        return rows(sConnContacts, QStringLiteral("select autoid,name,address,apptdate,appttime,apptbrief,apptnotes "
                                                  "from appointments where autoid=%1").arg(id));
    }
    void backToMain()
    {
        w->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(w.get()));
    }
};

TEST_F(TrashTest, AContactAndAnAppointmentComeBackWholeUnderTheirOwnKeysOnceAndTheTrashEmptiesByAge)
{
    const int pat = addContact(QStringLiteral("O'Brien"), QStringLiteral("Pát"), QStringLiteral("Cust"));
    exec(sConnContacts, QStringLiteral("update contacts set email=NULL, active=False, notes='line 1\r\nline \"2\"', "
                                       "zip='02134' where id=%1").arg(pat));
    const int other = addContact(QStringLiteral("Zed"), QStringLiteral("Al"));
    const int visit = addAppt(QDate(2027, 3, 8), QTime(10, 30), QStringLiteral("Visit; 'Pat'"), QStringLiteral("Pát O'Brien"));
    const auto before = contact(pat);
    const auto apptBefore = appointment(visit);
    ASSERT_EQ(before.size(), 1u);

    const QString batch = moveToTrash(sConnContacts, TrashTable::Contacts, {{pat, pat}}, QStringLiteral("O'Brien, Pát"));
    ASSERT_FALSE(batch.isEmpty());
    EXPECT_TRUE(contact(pat).empty());
    EXPECT_EQ(contact(other).size(), 1u);
    // Gone already: a second delete moves nothing.
    EXPECT_TRUE(moveToTrash(sConnContacts, TrashTable::Contacts, {{pat, pat}}, QStringLiteral("again")).isEmpty());
    const QString apptBatch = moveToTrash(sConnContacts, TrashTable::Appointments, {{visit, visit}}, QStringLiteral("Visit"));
    EXPECT_TRUE(appointment(visit).empty());

    std::vector<TrashBatch> listed = listTrash(sConnContacts);
    ASSERT_EQ(listed.size(), 2u);
    // Newest first; on the server the member who deleted it is named.
    EXPECT_EQ(listed[0].batch, apptBatch);
    EXPECT_EQ(listed[1].label, QStringLiteral("O'Brien, Pát"));
    EXPECT_EQ(listed[1].rows, 1);
    EXPECT_EQ(listed[1].deletedBy.isEmpty(), !onServer());

    // A contact added meanwhile never takes the trashed one's key.
    const int added = addContact(QStringLiteral("New"), QStringLiteral("Ned"));
    EXPECT_GT(added, pat);
    EXPECT_EQ(restoreFromTrash(sConnContacts, batch), 1);
    EXPECT_EQ(contact(pat), before);
    EXPECT_EQ(restoreFromTrash(sConnContacts, batch), 0); // restored once only
    EXPECT_EQ(restoreFromTrash(sConnContacts, apptBatch), 1);
    EXPECT_EQ(appointment(visit), apptBefore);
    EXPECT_TRUE(listTrash(sConnContacts).empty());
    if (onServer()) {
        // The row version went on from where it stood: an editor open before the delete asks.
        EXPECT_EQ(rows(sConnContacts, QStringLiteral("select rowver from contacts where id=%1").arg(pat)).at(0).at(0), "3");
    }

    // Delete Forever, and the age at which the trash lets go (the server's clock on the server).
    const QString gone = moveToTrash(sConnContacts, TrashTable::Contacts, {{other, other}}, QStringLiteral("Zed, Al"));
    EXPECT_EQ(deleteForever(sConnContacts, gone), 1);
    EXPECT_EQ(restoreFromTrash(sConnContacts, gone), 0);
    EXPECT_TRUE(contact(other).empty());
    desk.nowValue = desk.nowValue.addDays(-31);
    const QString old = moveToTrash(sConnContacts, TrashTable::Contacts, {{added, added}}, QStringLiteral("New, Ned"));
    desk.nowValue = desk.nowValue.addDays(31);
    moveToTrash(sConnContacts, TrashTable::Contacts, {{pat, pat}}, QStringLiteral("O'Brien, Pát"));
    if (onServer())
        exec(sConnContacts, QStringLiteral("update trash set deleted_at = deleted_at - interval '31 days' where batch='%1'").arg(old));
    EXPECT_EQ(purgeTrash(sConnContacts, 30), 1);
    listed = listTrash(sConnContacts);
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].label, QStringLiteral("O'Brien, Pát"));
}

TEST_F(TrashTest, AnOfficeMemberRestoresAColleaguesDeleteButCannotSayWhoDeletedOrWhenAndAnOutsiderSeesNone)
{
    if (!onServer())
        GTEST_SKIP() << "the office server's members";
    // The office's group is the database's owner; the member belongs to it, the outsider may only connect.
    const QString group = rows(sConnContacts, QStringLiteral("select pg_get_userbyid(datdba) from pg_database "
                                                             "where datname=current_database()")).at(0).at(0);
    const QString role = QStringLiteral("kestrel_trash_%1").arg(serverDb), outsider = QStringLiteral("kestrel_out_%1").arg(serverDb);
    pg::runMaintenance(testServer() + QStringLiteral(" dbname=postgres"),
                       QStringLiteral("CREATE ROLE %1 LOGIN IN ROLE %2; CREATE ROLE %3 LOGIN").arg(role, group, outsider));
    const QString member = serverConnectionText(serverConninfo(sConnContacts) + QStringLiteral(" user=") + role);
    const QString stranger = serverConnectionText(serverConninfo(sConnContacts) + QStringLiteral(" user=") + outsider);
    const int pat = addContact(QStringLiteral("O'Brien"), QStringLiteral("Pat"));
    const QString batch = moveToTrash(member, TrashTable::Contacts, {{pat, pat}}, QStringLiteral("O'Brien, Pat"));
    ASSERT_FALSE(batch.isEmpty());
    ASSERT_EQ(listTrash(sConnContacts).size(), 1u);
    EXPECT_EQ(listTrash(sConnContacts)[0].deletedBy, role);
    // Neither a forged name and moment nor a change afterwards.
    EXPECT_FALSE(ActionQuery(QStringLiteral("update trash set deleted_by='someone'"), member));
    EXPECT_TRUE(ActionQuery(QStringLiteral("insert into trash(batch,tbl,row_id,label,deleted_at,deleted_by,data) "
                                           "values('x','contacts',0,'x','2000-01-01','someone','{}')"),
                            member));
    EXPECT_EQ(rows(sConnContacts, QStringLiteral("select deleted_by, case when deleted_at > now() - interval '1 hour' then 'now' else 'forged' end from trash "
                                                 "where batch='x'")),
              (std::vector<QStringList>{{role, "now"}}));
    // A role outside the group reads no deleted contact, and neither adds to the trash nor empties it.
    EXPECT_THROW(
        {
            Connection c(stranger);
            Snapshot s(c, QStringLiteral("select data from trash"));
        },
        DbError);
    EXPECT_FALSE(ActionQuery(QStringLiteral("delete from trash"), stranger));
    EXPECT_FALSE(ActionQuery(QStringLiteral("insert into trash(batch,tbl,row_id,data) values('y','contacts',0,'{}')"), stranger));
    EXPECT_EQ(listTrash(sConnContacts).size(), 2u);
    // The colleague's delete is the office's: the owner restores it.
    EXPECT_EQ(restoreFromTrash(sConnContacts, batch), 1);
    EXPECT_EQ(contact(pat).size(), 1u);
    releaseAllDatabaseFiles();
    pg::runMaintenance(serverConninfo(sConnContacts), QStringLiteral("DELETE FROM trash; DROP OWNED BY %1, %2").arg(role, outsider));
    pg::runMaintenance(testServer() + QStringLiteral(" dbname=postgres"), QStringLiteral("DROP ROLE %1; DROP ROLE %2").arg(role, outsider));
}

TEST_F(TrashTest, AContactDeletedWithTheKeysComesBackWithCtrlZUnderItsIdWithItsAppointmentsAndFromTheTrash)
{
    const int pat = addContact(QStringLiteral("O'Brien"), QStringLiteral("Pat"));
    addContact(QStringLiteral("Adams"), QStringLiteral("Al"));
    addAppt(desk.todayValue.addDays(1), QTime(10, 0), QStringLiteral("Visit Pat"), QStringLiteral("Pat O'Brien"));
    const auto before = contact(pat);
    w->Form_Load();
    QTest::keyClick(w.get(), Qt::Key_F3);
    // The tree fills beside the window's loop.
    ASSERT_TRUE(QTest::qWaitFor([&] { return listed().size() == 2; })) << listed().join(u'|').toStdString();
    QTreeWidget* tv = w->lead->tvLead;
    tv->setFocus(Qt::TabFocusReason);
    QTest::keyClick(tv, Qt::Key_End);
    for (int guard = 0; guard < 10 && !(tv->currentItem() && tv->currentItem()->text(0).startsWith("O'Brien")); ++guard) {
        QTest::keyClick(tv, tv->currentItem() && tv->currentItem()->childCount() && !tv->currentItem()->isExpanded()
                                ? Qt::Key_Right : Qt::Key_Down);
        QCoreApplication::processEvents();
    }
    ASSERT_TRUE(tv->currentItem() && tv->currentItem()->text(0).startsWith("O'Brien"))
        << (tv->currentItem() ? tv->currentItem()->text(0).toStdString() : "none") << " of " << listed().join(u'|').toStdString();

    // Delete, Enter: the contact leaves the tree.
    desk.onModal("frmLead", [&](QDialog& d) {
        auto& f = static_cast<frmLead&>(d);
        f.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&f));
        desk.answerYes();
        f.cmdDelete->setFocus(Qt::TabFocusReason);
        QTest::keyClick(f.cmdDelete, Qt::Key_Return);
        EXPECT_FALSE(f.isVisible());
    });
    QTest::mouseClick(w->lead->cmdEditLead, Qt::LeftButton);
    backToMain();
    EXPECT_TRUE(QTest::qWaitFor([&] { return listed() == QStringList({"Adams, Al - "}); })) << listed().join(u'|').toStdString();
    EXPECT_TRUE(contact(pat).empty());
    Q_EMIT w->mnuEdit->aboutToShow();
    EXPECT_EQ(w->mnuEditUndo->text(), "&Undo Delete Contact 'O'Brien, Pat'");

    // Ctrl+Z: the same contact, under its id; its appointment still names it.
    QTest::keyClick(w.get(), Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(contact(pat), before);
    EXPECT_TRUE(QTest::qWaitFor([&] { return listed() == QStringList({"Adams, Al - ", "O'Brien, Pat - "}); }))
        << listed().join(u'|').toStdString();
    EXPECT_TRUE(weekLine(0).contains("Visit Pat")) << weekLine(0).toStdString();
    EXPECT_TRUE(listTrash(sConnContacts).empty());
    Q_EMIT w->mnuEdit->aboutToShow();
    EXPECT_EQ(w->mnuEditUndo->text(), "&Can't Undo");
    EXPECT_FALSE(w->mnuEditUndo->isEnabled());
    Q_EMIT w->mnuEdit->aboutToHide();

    // Deleted again, and restored from Edit > Trash with Enter.
    moveToTrash(sConnContacts, TrashTable::Contacts, {{pat, pat}}, QStringLiteral("O'Brien, Pat"));
    desk.onModal("frmTrash", [&](QDialog& d) {
        auto& f = static_cast<frmTrash&>(d);
        ASSERT_EQ(f.lstTrash->count(), 1);
        EXPECT_TRUE(f.lstTrash->item(0)->text().endsWith("Contact O'Brien, Pat" +
                                                         QString(onServer() ? "  (deleted by " + rows(sConnContacts, "select current_user").at(0).at(0) + ")" : "")))
            << f.lstTrash->item(0)->text().toStdString();
        QTest::keyClick(f.lstTrash, Qt::Key_Return);
        EXPECT_EQ(f.lstTrash->item(0)->text(), "The trash is empty.");
        QTest::keyClick(f.lstTrash, Qt::Key_Escape);
    });
    backToMain();
    QTest::keyClick(w.get(), Qt::Key_E, Qt::AltModifier);
    ASSERT_TRUE(QTest::qWaitFor([&] { return w->mnuEdit->isVisible(); }));
    QTest::keyClick(w->mnuEdit, Qt::Key_T);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !desk.pending(); }));
    EXPECT_EQ(contact(pat), before);
    EXPECT_TRUE(QTest::qWaitFor([&] { return listed() == QStringList({"Adams, Al - ", "O'Brien, Pat - "}); }))
        << listed().join(u'|').toStdString();
}

} // namespace
