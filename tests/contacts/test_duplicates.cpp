// Find Duplicates driven from the keyboard: the strongest pair first, values picked per field,
// Alt+M merges a pair or a whole group at once, Alt+U takes it back exactly, Alt+N sets a pair
// aside for good.
#include "contacts/frmDuplicates.h"
#include "tests/contacts/Helpers.h"
#include "ui/Undo.h"

namespace {

class DuplicatesTest : public KestrelTest {
protected:
    void SetUp() override
    {
        KestrelTest::SetUp();
        mergeHistory().clear();
        forgetChanges();
    }
    int add(const QString& values)
    {
        exec(sConnContacts, QStringLiteral("INSERT into contacts(lastname,firstname,company,address,city,homeph,cellph,"
                                           "workph,email,active,contype,notes)values(") + values + u')');
        return rows(sConnContacts, QStringLiteral("select max(id) from contacts")).at(0).at(0).toInt();
    }
    std::vector<QStringList> everything()
    {
        auto out = rows(sConnContacts, QStringLiteral("select id,") + allContactColumns() +
                                           QStringLiteral(",active from contacts order by id"));
        for (auto& r : rows(sConnContacts, QStringLiteral("select autoid,name,apptbrief,contact_id from appointments order by autoid")))
            out.push_back(r);
        for (auto& r : rows(sConnContacts, QStringLiteral("select id,contact_id,subject from history order by id")))
            out.push_back(r);
        for (auto& r : rows(sConnContacts, QStringLiteral("select id,lastcontact from contacts order by id")))
            out.push_back(r);
        return out;
    }
    static void altKey(QWidget& window, Qt::Key key)
    {
        QTest::keyClick(&window, key, Qt::AltModifier);
        QTest::qWait(150); // an access key clicks its button a moment after the key
    }
    static QStringList lines(const QListWidget* list)
    {
        QStringList out;
        for (int i = 0; i < list->count(); ++i)
            out << list->item(i)->text().simplified();
        return out;
    }
    void runWindow(const std::function<void(frmDuplicates&)>& script)
    {
        showModal<frmDuplicates>(desk, [](frmDuplicates&) {}, [&](frmDuplicates& f) {
            ASSERT_TRUE(activated(&f));
            script(f);
        });
    }
};

} // namespace

TEST_F(DuplicatesTest, TheStrongestPairIsMergedByKeyboardTakenBackExactlyAndAColleagueIsSetAside)
{
    const int rene = add("'Dupré','René','Café Noir','1 Rue','Paris','','','01 42 00 00 01','',True,'Cust','Met at the fair.'");
    const int phone = add("'Dupre','Rene','','','Paris','','06 12 34 56 78','','rene@home.example',True,'Lead',''");
    add("'Lee','Ann','Acme','','','','','','info@acme.example',True,'Lead',''");
    add("'Ray','Bob','Acme','','','','','','info@acme.example',True,'Lead',''");
    addAppt(QDate(2026, 3, 2), QTime(9, 0), "Tasting", "Rene Dupre");
    const auto before = everything();

    runWindow([&](frmDuplicates& f) {
        EXPECT_EQ(f.windowTitle(), QStringLiteral("Find Duplicates"));
        EXPECT_EQ(lines(f.lstPairs), (QStringList{"Same: Dupré, René - Café Noir and Dupre, Rene",
                                                  "Possibly: Lee, Ann - Acme and Ray, Bob - Acme"}));
        EXPECT_EQ(f.lstPairs->currentRow(), 0);
        EXPECT_TRUE(f.lstPairs->hasFocus());
        // The values side by side, the longer or newer one picked: here the older card's name.
        const auto picked = [&f](int field) {
            return f.fields->item(field, 2)->checkState() == Qt::Checked ? f.fields->item(field, 2)->text()
                                                                         : f.fields->item(field, 1)->text();
        };
        EXPECT_EQ(picked(cf::LastName), QStringLiteral("Dupré"));
        EXPECT_EQ(picked(cf::CellPh), QStringLiteral("06 12 34 56 78"));
        EXPECT_EQ(picked(cf::ConType), QStringLiteral("Lead"));
        // Alt+V goes to the values; Right and Space pick the other card's type, Space again the kept one's.
        altKey(f, Qt::Key_V);
        ASSERT_TRUE(f.grdFields->hasFocus());
        for (int i = 0; i < cf::ConType; ++i)
            QTest::keyClick(f.grdFields, Qt::Key_Down);
        QTest::keyClick(f.grdFields, Qt::Key_Space);
        EXPECT_EQ(picked(cf::ConType), QStringLiteral("Cust"));
        QTest::keyClick(f.grdFields, Qt::Key_Right);
        QTest::keyClick(f.grdFields, Qt::Key_Space);
        QTest::keyClick(f.grdFields, Qt::Key_Left);
        QTest::keyClick(f.grdFields, Qt::Key_Space);
        EXPECT_EQ(picked(cf::ConType), QStringLiteral("Cust"));
        // A click picks the other card's city (the same text: nothing goes to the notes for it).
        const QRect city = f.grdFields->visualRect(f.fields->index(cf::City, 2));
        QTest::mouseClick(f.grdFields->viewport(), Qt::LeftButton, {}, city.center());

        altKey(f, Qt::Key_M);
        EXPECT_TRUE(desk.messages().isEmpty());
        EXPECT_EQ(lines(f.lstPairs), QStringList{"Possibly: Lee, Ann - Acme and Ray, Bob - Acme"});
        EXPECT_TRUE(f.cmdUndo->isEnabled());
        EXPECT_EQ(rows(sConnContacts, QStringLiteral("select id,lastname,company,cellph,workph,email,contype,notes "
                                                     "from contacts where lastname like 'Dup%'")),
                  (std::vector<QStringList>{{QString::number(rene), "Dupré", "Café Noir", "06 12 34 56 78", "01 42 00 00 01",
                                             "rene@home.example", "Cust", "Met at the fair.\n\nMerged from Rene Dupre:\nContact Type: Lead"}}));
        EXPECT_EQ(rows(sConnContacts, QStringLiteral("select name from appointments")), (std::vector<QStringList>{{"René Dupré"}}));

        altKey(f, Qt::Key_U);
        EXPECT_EQ(everything(), before);
        EXPECT_FALSE(f.cmdUndo->isEnabled());
        EXPECT_EQ(lines(f.lstPairs).size(), 2);

        // The colleagues are two people: Alt+P, Down, Alt+N.
        altKey(f, Qt::Key_P);
        QTest::keyClick(f.lstPairs, Qt::Key_Down);
        altKey(f, Qt::Key_N);
        EXPECT_EQ(lines(f.lstPairs), QStringList{"Same: Dupré, René - Café Noir and Dupre, Rene"});
        QTest::keyClick(&f, Qt::Key_Escape);
        EXPECT_FALSE(f.isVisible());
    });
    EXPECT_EQ(everything(), before);
    // Set aside for good: the next search shows the one pair left.
    runWindow([&](frmDuplicates& f) {
        EXPECT_EQ(lines(f.lstPairs), QStringList{"Same: Dupré, René - Café Noir and Dupre, Rene"});
        (void)phone;
    });
}

TEST_F(DuplicatesTest, ThreeCardsOfOnePersonAreOneGroupMergedAtOnceWithTheirHistoryAndTakenBackWhole)
{
    const int ann = add("'Lee','Ann','Acme','','','','','','ann@acme.example',True,'Lead',''");
    const int second = add("'Lee','Ann','','','','','2175550100','','ann@acme.example',True,'Cust',''");
    const int third = add("'LEE','ANN','Acme','','','','','217 555 0100','',True,'Lead','Second card'");
    for (const int id : {ann, second, third}) {
        exec(sConnContacts, QStringLiteral("INSERT into history(contact_id,kind,histdate,subject,author)values(%1,'Call',#3/%1/2027#,"
                                           "'Call %1','t')").arg(id));
        exec(sConnContacts, QStringLiteral("UPDATE appointments set contact_id=%1 where autoid=%2")
                                .arg(id).arg(addAppt(QDate(2026, 3, id), QTime(9, 0), QStringLiteral("Visit %1").arg(id))));
    }
    const auto before = everything();
    runWindow([&](frmDuplicates& f) {
        EXPECT_EQ(lines(f.lstPairs), QStringList{"Same: Lee, Ann - Acme and Lee, Ann and LEE, ANN - Acme"});
        EXPECT_EQ(f.lblMessage->text(), QStringLiteral("1 group found."));
        ASSERT_EQ(f.fields->columnCount(), 4);
        // The second card's type by keys, the third's spelling of the name by a click.
        altKey(f, Qt::Key_V);
        for (int i = 0; i < cf::ConType; ++i)
            QTest::keyClick(f.grdFields, Qt::Key_Down);
        QTest::keyClick(f.grdFields, Qt::Key_Right);
        QTest::keyClick(f.grdFields, Qt::Key_Space);
        QTest::mouseClick(f.grdFields->viewport(), Qt::LeftButton, {},
                          f.grdFields->visualRect(f.fields->index(cf::FirstName, 3)).center());
        for (const int field : {cf::ConType, cf::FirstName}) {
            QStringList ticks;
            for (int c = 1; c <= 3; ++c)
                ticks << (f.fields->item(field, c)->checkState() == Qt::Checked ? "x" : "-");
            EXPECT_EQ(ticks.join(""), field == cf::ConType ? "-x-" : "--x");
        }

        // The third card changed by someone else: nothing of the group is merged, not even the second.
        exec(sConnContacts, QStringLiteral("UPDATE contacts set city='Springfield' where id=%1").arg(third));
        const auto edited = everything();
        altKey(f, Qt::Key_M);
        EXPECT_EQ(everything(), edited);
        ASSERT_EQ(desk.messages().size(), 1);
        EXPECT_TRUE(desk.messages()[0].startsWith(QStringLiteral("Someone changed one of these contacts")));
        // Shown again as it is now (the picks made anew): the whole group in one go.
        altKey(f, Qt::Key_V);
        for (int i = 0; i < cf::ConType; ++i)
            QTest::keyClick(f.grdFields, Qt::Key_Down);
        QTest::keyClick(f.grdFields, Qt::Key_Right);
        QTest::keyClick(f.grdFields, Qt::Key_Space);
        altKey(f, Qt::Key_M);
        EXPECT_TRUE(lines(f.lstPairs).isEmpty());
        EXPECT_EQ(rows(sConnContacts, QStringLiteral("select id,firstname,city,cellph,workph,email,contype,notes from contacts")),
                  (std::vector<QStringList>{{QString::number(ann), "Ann", "Springfield", "2175550100", "217 555 0100",
                                             "ann@acme.example", "Cust", "Second card\n\nMerged from Ann Lee:\nContact Type: Lead"}}));
        EXPECT_EQ(rows(sConnContacts, QStringLiteral("select count(*) from history where contact_id=%1").arg(ann))[0][0], "3");
        EXPECT_EQ(rows(sConnContacts, QStringLiteral("select count(*) from appointments where contact_id=%1").arg(ann))[0][0], "3");

        altKey(f, Qt::Key_U);
        EXPECT_EQ(desk.messages().size(), 1);
        EXPECT_EQ(everything(), edited);
        EXPECT_FALSE(f.cmdUndo->isEnabled());
        EXPECT_EQ(lines(f.lstPairs).size(), 1);
    });
    exec(sConnContacts, QStringLiteral("UPDATE contacts set city='' where id=%1").arg(third));
    EXPECT_EQ(everything(), before);
}

TEST_F(DuplicatesTest, EditUndoTakesBackTheLastMergeOnceAndNotOneTheWindowTookBackAlready)
{
    add("'Lee','Ann','Acme','','','','','','ann@acme.example',True,'Lead',''");
    add("'Lee','Ann','','','','','2175550100','','ann@acme.example',True,'Lead',''");
    add("'LEE','ANN','Acme','','','','','217 555 0100','',True,'Lead','Second card'");
    add("'Ray','Bo','Zed Co','','','','','','bo@zed.example',True,'Lead',''");
    add("'Ray','Bo','','','','','555-0142','','bo@zed.example',True,'Lead',''");
    const auto before = everything();
    runWindow([&](frmDuplicates& f) {
        EXPECT_EQ(lines(f.lstPairs).size(), 2);
        altKey(f, Qt::Key_M);
        const auto afterFirst = everything();
        altKey(f, Qt::Key_M);
        EXPECT_EQ(rows(sConnContacts, QStringLiteral("select count(*) from contacts"))[0][0], "2");
        // Taken back in the window: Edit > Undo now offers the merge before it, not this one.
        altKey(f, Qt::Key_U);
        EXPECT_EQ(everything(), afterFirst);
        QTest::keyClick(&f, Qt::Key_Escape);
    });
    EXPECT_TRUE(undoCaption().startsWith("Undo Merge Contacts '"));
    EXPECT_TRUE(undoLastChange());
    EXPECT_EQ(everything(), before);
    EXPECT_TRUE(desk.messages().isEmpty());
    EXPECT_FALSE(canUndo());
    EXPECT_TRUE(mergeHistory().empty());
}
