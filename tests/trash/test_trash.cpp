// The trash and Edit > Undo: a deleted contact or appointment comes back whole under its own key,
// on both engines; what an office member may do with the trash; the age at which it empties; and
// a contact deleted with the keys and brought back with Ctrl+Z.
#include "data/Office.h"
#include "data/PgEngine.h"
#include "data/Trash.h"
#include "contacts/modTree.h"
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
    // The office roles, each with a connection of its own; the outsider may only connect.
    void makeOfficeRoles(const QString& tag)
    {
        KestrelTest::makeOfficeRoles(tag, true);
        asColleague = serverConnectionText(memberConninfo(colleague));
        asOutsider = serverConnectionText(memberConninfo(outsider));
    }
    QString asColleague, asOutsider;
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
    // Edit > Trash by its access keys; inside runs on the shown window, which Escape then closes.
    void openTrash(const std::function<void(frmTrash&)>& inside)
    {
        desk.onModal("frmTrash", [&](QDialog& d) {
            auto& f = static_cast<frmTrash&>(d);
            ASSERT_TRUE(activated(&f));
            inside(f);
            QTest::keyClick(f.lstTrash, Qt::Key_Escape);
        });
        chooseFromMenu(desk, w.get(), w->mnuEdit, Qt::Key_E, Qt::Key_T);
        backToMain();
    }
    // What Edit > Undo says as the menu drops, and whether it can be chosen.
    QString undoItem()
    {
        Q_EMIT w->mnuEdit->aboutToShow();
        const QString text = w->mnuEditUndo->text() + (w->mnuEditUndo->isEnabled() ? "" : " (off)");
        Q_EMIT w->mnuEdit->aboutToHide();
        return text;
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
    EXPECT_EQ(purgeTrash(sConnContacts, 30), 0);
    const QString old = moveToTrash(sConnContacts, TrashTable::Contacts, {{added, added}}, QStringLiteral("New, Ned"));
    if (onServer()) {
        pg::runMaintenance(adminConninfo(), QStringLiteral("SET session_replication_role = replica; UPDATE trash SET "
                                                           "deleted_at = deleted_at - interval '31 days' WHERE batch='%1'").arg(old));
    } else {
        // Twenty-nine starts a day apart keep it; the thirtieth lets it go.
        for (int day = 1; day < 30; ++day) {
            desk.nowValue = desk.nowValue.addDays(1);
            ASSERT_EQ(purgeTrash(sConnContacts, 30), 0) << "day " << day;
        }
        desk.nowValue = desk.nowValue.addDays(1);
    }
    moveToTrash(sConnContacts, TrashTable::Contacts, {{pat, pat}}, QStringLiteral("O'Brien, Pát"));
    EXPECT_EQ(purgeTrash(sConnContacts, 30), 1);
    listed = listTrash(sConnContacts);
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].label, QStringLiteral("O'Brien, Pát"));
}

TEST_F(TrashTest, AClockSetAheadOrBehindNeverEmptiesTheTrashEarly)
{
    if (onServer())
        GTEST_SKIP() << "the office server's own clock says how old a deleted row is";
    const int ann = addContact(QStringLiteral("Ahead"), QStringLiteral("Ann"));
    const int bo = addContact(QStringLiteral("Behind"), QStringLiteral("Bo"));
    const QDateTime today = desk.nowValue;
    EXPECT_EQ(purgeTrash(sConnContacts, 30), 0);
    ASSERT_FALSE(moveToTrash(sConnContacts, TrashTable::Contacts, {{ann, ann}}, QStringLiteral("Ahead, Ann")).isEmpty());
    // A start with the clock a year ahead, then put right the next day.
    desk.nowValue = today.addYears(1);
    EXPECT_EQ(purgeTrash(sConnContacts, 30), 0);
    desk.nowValue = today.addDays(1);
    EXPECT_EQ(purgeTrash(sConnContacts, 30), 0);
    // A delete while the clock is five years behind, then put right.
    desk.nowValue = today.addDays(1).addYears(-5);
    ASSERT_FALSE(moveToTrash(sConnContacts, TrashTable::Contacts, {{bo, bo}}, QStringLiteral("Behind, Bo")).isEmpty());
    desk.nowValue = today.addDays(2);
    EXPECT_EQ(purgeTrash(sConnContacts, 30), 0);
    ASSERT_EQ(listTrash(sConnContacts).size(), 2u);
    // Newest first, whatever the clock said when each was deleted.
    EXPECT_EQ(listTrash(sConnContacts).at(0).label, QStringLiteral("Behind, Bo"));
    // Daily starts: each row goes once it has been kept thirty days, counting the wrong year as one day.
    for (int day = 3; day < 30; ++day) {
        desk.nowValue = today.addDays(day);
        ASSERT_EQ(purgeTrash(sConnContacts, 30), 0) << "day " << day;
    }
    desk.nowValue = today.addDays(30);
    EXPECT_EQ(purgeTrash(sConnContacts, 30), 1);
    ASSERT_EQ(listTrash(sConnContacts).size(), 1u);
    EXPECT_EQ(listTrash(sConnContacts).at(0).label, QStringLiteral("Behind, Bo"));
    desk.nowValue = today.addDays(31);
    EXPECT_EQ(purgeTrash(sConnContacts, 30), 1);
    EXPECT_TRUE(listTrash(sConnContacts).empty());
}

TEST_F(TrashTest, AnOfficeMemberRestoresAColleaguesDeleteButCannotSayWhoDeletedOrWhenAndAnOutsiderSeesNone)
{
    if (!onServer())
        GTEST_SKIP() << "the office server's members";
    makeOfficeRoles(QStringLiteral("trash"));
    const int pat = addContact(QStringLiteral("O'Brien"), QStringLiteral("Pat"));
    const QString batch = moveToTrash(asColleague, TrashTable::Contacts, {{pat, pat}}, QStringLiteral("O'Brien, Pat"));
    ASSERT_FALSE(batch.isEmpty());
    ASSERT_EQ(listTrash(sConnContacts).size(), 1u);
    EXPECT_EQ(listTrash(sConnContacts)[0].deletedBy, colleague);
    // Neither a forged name and moment nor a change afterwards, not even by the table's owner.
    EXPECT_FALSE(ActionQuery(QStringLiteral("update trash set deleted_by='someone'"), asColleague));
    EXPECT_FALSE(ActionQuery(QStringLiteral("update trash set label='x'"), ownerConnection()));
    EXPECT_TRUE(ActionQuery(QStringLiteral("insert into trash(batch,tbl,row_id,label,deleted_at,deleted_by,data) "
                                           "values('x','contacts',0,'x','2000-01-01','someone','{}')"),
                            asColleague));
    EXPECT_EQ(rows(sConnContacts, QStringLiteral("select deleted_by, case when deleted_at > now() - interval '1 hour' then 'now' "
                                                 "else 'forged' end from trash where batch='x'")),
              (std::vector<QStringList>{{colleague, "now"}}));
    // A deleted to-do item is its owner's alone, as the item was.
    EXPECT_TRUE(ActionQuery(QStringLiteral("insert into trash(batch,tbl,row_id,data) values('t','todo',1,'{}')"), asColleague));
    EXPECT_EQ(rows(sConnContacts, QStringLiteral("select count(*) from trash where tbl='todo'")).at(0).at(0), "0");
    EXPECT_EQ(rows(asColleague, QStringLiteral("select count(*) from trash where tbl='todo'")).at(0).at(0), "1");
    EXPECT_EQ(ActionQueryCount(QStringLiteral("delete from trash where tbl='todo'"), sConnContacts), 0);
    // A role outside the group reads no deleted contact, and neither adds to the trash nor empties it.
    EXPECT_THROW(
        {
            Connection c(asOutsider);
            Snapshot s(c, QStringLiteral("select data from trash"));
        },
        DbError);
    EXPECT_FALSE(ActionQuery(QStringLiteral("delete from trash"), asOutsider));
    EXPECT_FALSE(ActionQuery(QStringLiteral("insert into trash(batch,tbl,row_id,data) values('y','contacts',0,'{}')"), asOutsider));
    EXPECT_EQ(listTrash(sConnContacts).size(), 2u);

    // Each member's days are their own: a colleague who keeps a week never empties what this
    // member was promised for 30 days, and this member's purge leaves the colleague's rows too.
    const int lee = addContact(QStringLiteral("Lee"), QStringLiteral("Ann"));
    const QString mine = moveToTrash(sConnContacts, TrashTable::Contacts, {{lee, lee}}, QStringLiteral("Lee, Ann"));
    pg::runMaintenance(adminConninfo(), QStringLiteral("SET session_replication_role = replica; "
                                                       "UPDATE trash SET deleted_at = now() - interval '10 days'"));
    EXPECT_EQ(purgeTrash(asColleague, 7), 3); // the colleague's own: two contacts' lines and the to-do line
    EXPECT_EQ(purgeTrash(sConnContacts, 30), 0);
    ASSERT_EQ(listTrash(sConnContacts).size(), 1u);
    EXPECT_EQ(listTrash(sConnContacts)[0].batch, mine);
    EXPECT_EQ(purgeTrash(sConnContacts, 7), 1);

    // The colleague's delete is the office's: this member restores it.
    const int bo = addContact(QStringLiteral("Bo"), QStringLiteral("Al"));
    const QString theirs = moveToTrash(asColleague, TrashTable::Contacts, {{bo, bo}}, QStringLiteral("Bo, Al"));
    EXPECT_EQ(restoreFromTrash(sConnContacts, theirs), 1);
    EXPECT_EQ(contact(bo).size(), 1u);
}

TEST_F(TrashTest, AContactDeletedWithTheKeysComesBackWithCtrlZUnderItsIdWithItsAppointmentsAndFromTheTrash)
{
    const int pat = addContact(QStringLiteral("O'Brien"), QStringLiteral("Pat"));
    addContact(QStringLiteral("Adams"), QStringLiteral("Al"));
    addAppt(desk.todayValue.addDays(1), QTime(10, 0), QStringLiteral("Visit Pat"), QStringLiteral("Pat O'Brien"));
    for (const char* subject : {"Price list", "Visit"})
        exec(sConnContacts, QStringLiteral("INSERT into history(contact_id,kind,direction,histdate,subject,note,outcome,author)"
                                           "values(%1,'Call','Out',#3/1/2027#,'%2','said yes','Held','t')").arg(pat).arg(subject));
    const auto history = [&] {
        return rows(sConnContacts, QStringLiteral("select id,contact_id,kind,direction,histdate,subject,note,outcome from history "
                                                  "order by id"));
    };
    const auto before = contact(pat);
    w->Form_Load();
    QTest::keyClick(w.get(), Qt::Key_F3);
    // The tree fills beside the window's loop.
    ASSERT_TRUE(QTest::qWaitFor([&] { return listed().size() == 2; })) << listed().join(u'|').toStdString();
    // As the start left it: on the server, whose date is today's, the appointment is past and in the history too.
    const auto historyBefore = history();
    QTreeWidget* tv = w->lead->tvLead;
    ASSERT_TRUE(chooseNode("O'Brien")) << listed().join(u'|').toStdString();

    // Delete in the tree, No: nothing goes. Delete, Yes: the contact leaves the tree.
    desk.answerNo();
    QTest::keyClick(tv, Qt::Key_Delete);
    EXPECT_EQ(contact(pat), before);
    EXPECT_FALSE(canUndo());
    desk.answerYes();
    desk.answerYes(); // its history too
    QTest::keyClick(tv, Qt::Key_Delete);
    EXPECT_TRUE(QTest::qWaitFor([&] { return listed() == QStringList({"Adams, Al - "}); })) << listed().join(u'|').toStdString();
    EXPECT_TRUE(contact(pat).empty());
    EXPECT_TRUE(history().empty());
    ASSERT_EQ(listTrash(sConnContacts).size(), 1u);
    EXPECT_EQ(listTrash(sConnContacts).at(0).rows, 1 + int(historyBefore.size()));
    EXPECT_EQ(undoItem(), "&Undo Delete Contact 'O'Brien, Pat'");

    // Ctrl+Z: the same contact, under its id; its appointment still names it.
    QTest::keyClick(tv, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(contact(pat), before);
    EXPECT_EQ(history(), historyBefore);
    EXPECT_TRUE(QTest::qWaitFor([&] { return listed() == QStringList({"Adams, Al - ", "O'Brien, Pat - "}); }))
        << listed().join(u'|').toStdString();
    EXPECT_EQ(weekLine(1), "10:00 AM - Visit Pat");
    EXPECT_TRUE(listTrash(sConnContacts).empty());
    EXPECT_EQ(undoItem(), "&Can't Undo (off)");
    // Taken back once only: a second Ctrl+Z changes nothing.
    QTest::keyClick(tv, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(contact(pat), before);

    // The editor's Delete button, Enter on the question; then Edit > Trash with the keys and Enter on its line.
    ASSERT_TRUE(chooseNode("O'Brien"));
    desk.onModal("frmLead", [&](QDialog& d) {
        auto& f = static_cast<frmLead&>(d);
        ASSERT_TRUE(activated(&f));
        desk.answerYes();
        desk.answerNo(); // the history stays, under the contact's name
        f.cmdDelete->setFocus(Qt::TabFocusReason);
        QTest::keyClick(f.cmdDelete, Qt::Key_Return);
        EXPECT_FALSE(f.isVisible());
    });
    QTest::mouseClick(w->lead->cmdEditLead, Qt::LeftButton);
    backToMain();
    EXPECT_TRUE(contact(pat).empty());
    EXPECT_EQ(history(), historyBefore);
    EXPECT_EQ(rows(sConnContacts, QStringLiteral("select distinct contact_name from history")), (std::vector<QStringList>{{"Pat O'Brien"}}));
    openTrash([&](frmTrash& f) {
        ASSERT_EQ(f.lstTrash->count(), 1);
        EXPECT_TRUE(f.lstTrash->item(0)->text().endsWith("Contact O'Brien, Pat" +
                                                         QString(onServer() ? "  (deleted by " + rows(sConnContacts, "select current_user").at(0).at(0) + ")" : "")))
            << f.lstTrash->item(0)->text().toStdString();
        QTest::keyClick(f.lstTrash, Qt::Key_Return);
        EXPECT_EQ(f.lstTrash->item(0)->text(), "The trash is empty.");
        EXPECT_FALSE(f.cmdRestore->isEnabled());
    });
    EXPECT_EQ(contact(pat), before);
    EXPECT_TRUE(QTest::qWaitFor([&] { return listed() == QStringList({"Adams, Al - ", "O'Brien, Pat - "}); }))
        << listed().join(u'|').toStdString();
}

TEST_F(TrashTest, DeleteInTheGridTrashesTheRowsContactAfterTheQuestionAndCtrlZBringsItBack)
{
    addContact(QStringLiteral("Adams"), QStringLiteral("Al"));
    const int bea = addContact(QStringLiteral("Baker"), QStringLiteral("Bea"));
    addContact(QStringLiteral("Cole"), QStringLiteral("Cy"));
    const auto before = contact(bea);
    w->Form_Load();
    QTest::keyClick(w.get(), Qt::Key_F3);
    ASSERT_TRUE(QTest::qWaitFor([&] { return listed().size() == 3; })) << listed().join(u'|').toStdString();
    desk.onModal("frmContactGrid", [&](QDialog& g) {
        auto& grid = static_cast<frmContactGrid&>(g);
        ASSERT_TRUE(activated(&grid));
        QTest::keyClick(grid.grdDataGrid, Qt::Key_Down);
        ASSERT_EQ(grid.model->text(grid.grdDataGrid->currentIndex().row(), 1), "Bea Baker");
        desk.answerNo();
        QTest::keyClick(grid.grdDataGrid, Qt::Key_Delete);
        EXPECT_EQ(grid.model->rowCount(), 3);
        desk.answerYes();
        QTest::keyClick(grid.grdDataGrid, Qt::Key_Delete);
        ASSERT_EQ(grid.model->rowCount(), 2);
        // The next row takes its place.
        EXPECT_EQ(grid.model->text(grid.grdDataGrid->currentIndex().row(), 1), "Cy Cole");
        QTest::keyClick(grid.grdDataGrid, Qt::Key_Escape);
    });
    QTest::keyClick(w.get(), Qt::Key_F4);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !desk.pending(); }));
    backToMain();
    EXPECT_TRUE(contact(bea).empty());
    EXPECT_TRUE(QTest::qWaitFor([&] { return listed() == QStringList({"Adams, Al - ", "Cole, Cy - "}); }))
        << listed().join(u'|').toStdString();
    QTest::keyClick(w.get(), Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(contact(bea), before);
    EXPECT_TRUE(QTest::qWaitFor([&] { return listed().size() == 3; })) << listed().join(u'|').toStdString();
}

TEST_F(TrashTest, TheTrashWindowDeletesForeverOnlyWhenAskedAndRestoresUnderANewKeyWhenItsOwnWasTaken)
{
    const int pat = addContact(QStringLiteral("O'Brien"), QStringLiteral("Pat"));
    const int zed = addContact(QStringLiteral("Zed"), QStringLiteral("Al"));
    moveToTrash(sConnContacts, TrashTable::Contacts, {{zed, zed}}, QStringLiteral("Zed, Al"));
    exec(sConnContacts, QStringLiteral("INSERT into history(contact_id,kind,direction,histdate,subject,note,outcome,author)"
                                       "values(%1,'Call','Out',#3/1/2027#,'Quote','','Held','t')").arg(pat));
    trashContact(sConnContacts, pat, true, QStringLiteral("O'Brien, Pat"));
    // Another row took Pat's key meanwhile (a copy put in by hand, a file of another program).
    exec(ownerConnection(), QStringLiteral("insert into contacts(id,lastname,firstname) values(%1,'Other','Olive')").arg(pat));
    bool restored = false;
    openTrash([&](frmTrash& f) {
        ASSERT_EQ(f.lstTrash->count(), 2);
        EXPECT_TRUE(f.lstTrash->item(0)->text().endsWith("Contact O'Brien, Pat (with 1 history entry)") ||
                    f.lstTrash->item(0)->text().contains("Contact O'Brien, Pat (with 1 history entry)  (deleted by"))
            << f.lstTrash->item(0)->text().toStdString();
        // Delete, No: kept. Down, Delete, Yes: Zed is gone for good.
        desk.answerNo();
        QTest::keyClick(f.lstTrash, Qt::Key_Down);
        QTest::keyClick(f.lstTrash, Qt::Key_Delete);
        EXPECT_EQ(f.lstTrash->count(), 2);
        desk.answerYes();
        QTest::keyClick(f.lstTrash, Qt::Key_Delete);
        ASSERT_EQ(f.lstTrash->count(), 1);
        EXPECT_TRUE(f.lstTrash->item(0)->text().contains("O'Brien, Pat"));
        // Alt+R: Pat comes back whole, under a key of its own; the other row is untouched.
        QTest::keyClick(&f, Qt::Key_R, Qt::AltModifier);
        // An access key presses its button as a click does: up and acting a moment later.
        EXPECT_TRUE(QTest::qWaitFor([&] { return f.bRestored; }));
        restored = f.bRestored;
    });
    EXPECT_TRUE(restored);
    EXPECT_EQ(rows(sConnContacts, QStringLiteral("select lastname from contacts where id=%1").arg(pat)), (std::vector<QStringList>{{"Other"}}));
    EXPECT_EQ(rows(sConnContacts, QStringLiteral("select count(*) from contacts where lastname='O''Brien' and id<>%1").arg(pat)),
              (std::vector<QStringList>{{"1"}}));
    EXPECT_TRUE(rows(sConnContacts, QStringLiteral("select id from contacts where lastname='Zed'")).empty());
    // Its history followed it to its new key; the other row has none.
    EXPECT_EQ(rows(sConnContacts, QStringLiteral("select c.lastname, h.subject from history h join contacts c on c.id=h.contact_id")),
              (std::vector<QStringList>{{"O'Brien", "Quote"}}));
    EXPECT_TRUE(listTrash(sConnContacts).empty());
    const QStringList told = desk.messages();
    EXPECT_EQ(told.size(), 0) << told.join(u'|').toStdString();
}

TEST_F(TrashTest, AToDoItemDeletedFromTheListIsInTheTrashBesideTheContactsAndComesBackOrGoesForGood)
{
    const int zed = addContact(QStringLiteral("Zed"), QStringLiteral("Al"));
    trashContact(sConnContacts, zed, true, QStringLiteral("Zed, Al"));
    exec(sConnMain, "insert into todo (todo) values('Call Pat')");
    exec(sConnMain, "insert into todo (todo) values('Send O''Hare the quote')");
    const auto items = [&] { return rows(sConnMain, "select id,todo from todo order by id"); };
    const auto before = items();
    QListWidget* todo = w->remind->lstToDo;
    const auto deleteLine = [&](const QString& text) {
        w->remind->PopToDo();
        const QList<QListWidgetItem*> found = todo->findItems(text, Qt::MatchExactly);
        ASSERT_EQ(found.size(), 1) << [&] { QStringList l; for (int i = 0; i < todo->count(); ++i) l << todo->item(i)->text(); return l.join(u'|').toStdString(); }() << desk.messages().join(u'|').toStdString();
        todo->scrollToItem(found[0]);
        QTest::mouseClick(todo->viewport(), Qt::LeftButton, {}, todo->visualItemRect(found[0]).center());
        desk.answerYes();
        QTest::mouseClick(w->remind->cmdDeleteToDo, Qt::LeftButton);
    };

    // Deleted from the list a minute later: in Edit > Trash, newest first beside the deleted
    // contact; Enter puts it back under its own number.
    desk.nowValue = desk.nowValue.addSecs(60);
    deleteLine(QStringLiteral("Call Pat"));
    EXPECT_EQ(items(), (std::vector<QStringList>{before[1]}));
    openTrash([&](frmTrash& f) {
        ASSERT_EQ(f.lstTrash->count(), 2);
        EXPECT_TRUE(f.lstTrash->item(0)->text().contains("To Do item Call Pat")) << f.lstTrash->item(0)->text().toStdString();
        EXPECT_TRUE(f.lstTrash->item(1)->text().contains("Contact Zed, Al")) << f.lstTrash->item(1)->text().toStdString();
        QTest::keyClick(f.lstTrash, Qt::Key_Return);
        ASSERT_EQ(f.lstTrash->count(), 1);
        EXPECT_TRUE(f.lstTrash->item(0)->text().contains("Contact Zed, Al"));
    });
    EXPECT_EQ(items(), before);
    EXPECT_TRUE(todo->findItems(QStringLiteral("Call Pat"), Qt::MatchExactly).size() == 1);

    // Ctrl+Z takes back the delete from the trash; a second delete, forever after the question.
    deleteLine(QStringLiteral("Send O'Hare the quote"));
    EXPECT_EQ(undoCaption(), "Undo Delete To Do Item 'Send O'Hare the quote'");
    QTest::keyClick(w.get(), Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(items(), before);
    deleteLine(QStringLiteral("Call Pat"));
    openTrash([&](frmTrash& f) {
        ASSERT_EQ(f.lstTrash->count(), 2);
        desk.answerYes();
        QTest::keyClick(f.lstTrash, Qt::Key_Delete);
        ASSERT_EQ(f.lstTrash->count(), 1);
        EXPECT_TRUE(f.lstTrash->item(0)->text().contains("Contact Zed, Al"));
    });
    EXPECT_EQ(items(), (std::vector<QStringList>{before[1]}));
    EXPECT_EQ(listTrash(QStringList{sConnContacts, sConnMain}).size(), 1u);
    EXPECT_TRUE(desk.messages().isEmpty()) << desk.messages().join(u'|').toStdString();
}

TEST_F(TrashTest, ARestoredHistoryEntryKeepsItsAuthorAndDatesButAnInsertCannotClaimAnothersName)
{
    if (!onServer())
        GTEST_SKIP() << "the server stamps who wrote an entry; a local file keeps what it is given";
    makeOfficeRoles(QStringLiteral("hist"));
    const int pat = addContact(QStringLiteral("O'Brien"), QStringLiteral("Pat"));
    const QString insert = QStringLiteral("insert into history(contact_id,kind,histdate,subject,author,created,changed) "
                                          "values(%1,'Call','2027-03-01','%2','%3','2001-02-03 04:05:06','2001-02-03 04:05:06')");
    exec(asColleague, insert.arg(pat).arg(QStringLiteral("Quote"), QStringLiteral("someone")));
    const auto entry = [&](const QString& subject) {
        return rows(sConnContacts, QStringLiteral("select id, author, created, changed, "
                                                  "case when created > localtimestamp - interval '1 hour' then 'now' else 'then' end "
                                                  "from history where subject='%1'").arg(subject));
    };
    // An insert is its member's, now, whatever it claims.
    const auto written = entry("Quote");
    ASSERT_EQ(written.size(), 1u);
    EXPECT_EQ(written[0][1], colleague);
    EXPECT_EQ(written[0][4], "now");
    // This member trashes the colleague's entry and restores it: the colleague's, of its own moment.
    pg::runMaintenance(adminConninfo(), QStringLiteral("SET session_replication_role = replica; UPDATE history SET "
                                                       "created = created - interval '3 days', changed = changed - interval '2 days'"));
    const auto aged = entry("Quote");
    const int id = aged[0][0].toInt();
    const QString batch = moveToTrash(sConnContacts, TrashTable::History, {{id, id}}, QStringLiteral("Quote"));
    ASSERT_FALSE(batch.isEmpty());
    // Neither an ordinary member nor a role outside the office reads what the server remembers.
    EXPECT_THROW({ Connection c(asColleague); Snapshot q(c, QStringLiteral("select * from history_kept")); }, DbError);
    EXPECT_FALSE(ActionQuery(QStringLiteral("select kestrel_history_restored(1, 'x', localtimestamp)"), asOutsider));
    EXPECT_EQ(restoreFromTrash(sConnContacts, batch), 1);
    EXPECT_EQ(entry("Quote"), aged);
    // The colleague's claim to be this member at the entry's moment, under a key of its own, is stamped.
    const QString me = rows(sConnContacts, "select current_user").at(0).at(0);
    exec(asColleague, QStringLiteral("insert into history(contact_id,kind,histdate,subject,author,created) "
                                     "values(%1,'Call','2027-03-01','Forged','%2','%3')").arg(pat).arg(me, aged[0][2]));
    const auto forged = entry("Forged");
    ASSERT_EQ(forged.size(), 1u);
    EXPECT_EQ(forged[0][1], colleague);
    EXPECT_EQ(forged[0][4], "now");
}

TEST_F(TrashTest, FilesOfAnEarlierVersionGainTheTrashAndWhatTheSyncKeptOfAPhonesDeletesMovesIntoIt)
{
    if (onServer())
        GTEST_SKIP() << "a local file's upgrade (the server's is a step of --init-office)";
    exec(sConnContacts, "CREATE TABLE sync_removed(id INTEGER PRIMARY KEY AUTOINCREMENT, tbl TEXT NOT NULL, "
                        "removed_at TEXT NOT NULL, why TEXT, record TEXT NOT NULL)");
    exec(sConnContacts, "INSERT INTO sync_removed(tbl,removed_at,why,record) VALUES('contacts','2026-11-02T10:00:00',"
                        "'deleted on the sync server dav.example','{\"id\":\"77\",\"lastname\":\"O''Brien\",\"firstname\":\"Pat\","
                        "\"city\":\"Troy\",\"active\":\"1\",\"uid\":\"u-77\",\"email\":null}')");
    exec(sConnContacts, "INSERT INTO sync_removed(tbl,removed_at,why,record) VALUES('appointments','2026-11-03T10:00:00',"
                        "'deleted on the sync server dav.example','{\"autoid\":\"12\",\"apptdate\":\"2026-12-10\","
                        "\"appttime\":\"09:30:00\",\"apptbrief\":\"Review\",\"name\":\"Pat O''Brien\"}')");
    // A to-do file from before its trash gains one.
    exec(sConnMain, "DROP TABLE trash");
    exec(sConnMain, "insert into todo (todo) values('Call Pat')");
    releaseAllDatabaseFiles();
    EXPECT_FALSE(moveToTrash(sConnMain, TrashTable::ToDo, {{1, 1}}, QStringLiteral("Call Pat")).isEmpty());
    EXPECT_EQ(listTrash(sConnMain).size(), 1u);
    const std::vector<TrashBatch> listed = listTrash(sConnContacts);
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_EQ(listed[0].label, "Review (deleted on the sync server dav.example)");
    EXPECT_EQ(listed[1].label, "O'Brien, Pat (deleted on the sync server dav.example)");
    EXPECT_TRUE(rows(sConnContacts, "select name from sqlite_master where name='sync_removed'").empty());
    for (const TrashBatch& b : listed)
        EXPECT_EQ(restoreFromTrash(sConnContacts, b.batch), 1);
    EXPECT_EQ(rows(sConnContacts, "select id,lastname,city,active,uid,email is null from contacts"),
              (std::vector<QStringList>{{"77", "O'Brien", "Troy", "True", "u-77", "1"}}));
    EXPECT_EQ(appointment(12), (std::vector<QStringList>{{"12", "Pat O'Brien", "<null>", "12/10/2026", "9:30:00 AM", "Review", "<null>"}}));
}

TEST_F(TrashTest, CtrlZTakesBackAnEditorsSaveAndAsksFirstWhenSomeoneElseChangedTheRowSince)
{
    const int pat = addContact(QStringLiteral("O'Brien"), QStringLiteral("Pat"));
    exec(sConnContacts, QStringLiteral("update contacts set email=NULL, city='Troy', notes='two\r\nlines' where id=%1").arg(pat));
    const auto before = contact(pat);
    const auto typeInEditor = [&](const QString& city, const std::function<void()>& meanwhile = {}) {
        lLeadID = pat;
        desk.onModal("frmLead", [&](QDialog& d) {
            auto& f = static_cast<frmLead&>(d);
            ASSERT_TRUE(activated(&f));
            f.txtLead[4]->setFocus(Qt::TabFocusReason);
            f.txtLead[4]->selectAll();
            QTest::keyClicks(f.txtLead[4], city);
            if (meanwhile)
                meanwhile();
            QTest::keyClick(f.txtLead[4], Qt::Key_S, Qt::ControlModifier);
            EXPECT_FALSE(f.isVisible());
        });
        ShowLead();
        QTest::mouseClick(w->lead->cmdEditLead, Qt::LeftButton);
        backToMain();
    };
    const auto city = [&] { return rows(sConnContacts, QStringLiteral("select city from contacts where id=%1").arg(pat)).at(0).at(0); };

    typeInEditor(QStringLiteral("Albany"));
    EXPECT_EQ(city(), "Albany");
    EXPECT_EQ(undoItem(), "&Undo Edit Contact 'O'Brien, Pat'");
    QTest::keyClick(w.get(), Qt::Key_Z, Qt::ControlModifier);
    // Every value as it was, a missing e-mail still missing and the notes' line break kept.
    EXPECT_EQ(contact(pat), before);

    // Saved again; a colleague changes the contact; Ctrl+Z asks, and No keeps the colleague's change.
    typeInEditor(QStringLiteral("Utica"));
    exec(sConnContacts, QStringLiteral("update contacts set city='Colleague' where id=%1").arg(pat));
    desk.answerNo();
    QTest::keyClick(w.get(), Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(city(), "Colleague");
    EXPECT_TRUE(desk.prompts.back().text.contains("Someone else changed it after your save")) << desk.prompts.back().text.toStdString();
    // Saved over the colleague's change: Undo would put back values this window never showed, so it offers none.
    typeInEditor(QStringLiteral("Rome"), [&] {
        exec(sConnContacts, QStringLiteral("update contacts set city='Again' where id=%1").arg(pat));
        desk.answerYes();
    });
    EXPECT_EQ(city(), "Rome");
    EXPECT_FALSE(canUndo());
}

} // namespace
