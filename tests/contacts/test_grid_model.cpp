// The grid over a large list: rows read a few at a time by key equal one whole read in every
// order, whichever way the view asks for them, after others' changes, and walked by key.
#include "data/ChangeListener.h"
#include "data/Database.h"
#include "data/Office.h"
#include "tests/contacts/Helpers.h"

#include <QSignalSpy>

#include <QHeaderView>
#include <QTableView>

namespace {
class GridModelTest : public KestrelTest {
protected:
    void SetUp() override
    {
        KestrelTest::SetUp();
        // Duplicate keys, missing values, accents and a case apart, so that pages of two end on each.
        for (const char* row : {"'Smith',Null,'1 A St','Co'", "'Smith','Ann',Null,Null", "'Smith','Ann','2 B St',''",
                                "'smith','Ann','2 B St','Co'", "'Smith','Ann','2 B St','co'", "Null,'Nil',Null,'Zed'",
                                "'Stone','Cy','',''", "'Adams','X','','Acme'", "'3M','X','','Acme'", "'Émile','X','',''",
                                "'Evans','X','',''", "'Ångström','X','','Bo'", "'Zeno',Null,Null,Null"})
            exec(sConnContacts, QStringLiteral("INSERT into contacts(lastname,firstname,address,company,contype)values(%1,'Lead')").arg(row));
        // Last contacts: one date twice, one contact with two entries, the rest never contacted.
        const std::vector<QStringList> ids = rows(sConnContacts, "select id from contacts order by id");
        for (const auto& [row, date] : std::vector<std::pair<int, const char*>>{{0, "3/1/2027"}, {1, "3/1/2027"}, {3, "2/1/2027"},
                                                                                 {3, "5/1/2027"}, {6, "1/15/2027"}})
            exec(sConnContacts, QStringLiteral("INSERT into history(contact_id,kind,histdate,subject)values(%1,'Call',#%2#,'x')")
                                    .arg(ids[size_t(row)][0], date));
    }
    void TearDown() override
    {
        ContactGridModel::setPageSize(200);
        KestrelTest::TearDown();
    }
    // The ids as one whole read gives them, filed as the tree files them when by name.
    QStringList wholeRead(GridOrder order)
    {
        const QString by = order == GridOrder::Name      ? "lastname,firstname,address,id"
                           : order == GridOrder::Company ? "company,id"
                           : order == GridOrder::Id      ? "id"
                                                         : "lastcontact,id";
        const std::vector<QStringList> all =
            rows(sConnContacts, "select id,lastname,upper(substr(lastname,1,1)) from contacts order by " + by);
        std::vector<int> place(all.size());
        for (size_t i = 0; i < place.size(); ++i)
            place[i] = int(i);
        // By name: under each letter A-Z (then #), the names that begin with it, then those that
        // begin with each accented form of it.
        if (order == GridOrder::Name) {
            const auto filing = [&](int i) {
                const QStringList& r = all[size_t(i)];
                const bool missing = r[1] == "<null>";
                const QChar letter = missing ? QChar(u'#') : fileInitial(r[1]);
                return std::make_tuple(letter == u'#' ? u'Z' + 1 : letter.unicode(), !missing, missing ? QList<uint>() : r[2].toUcs4());
            };
            std::stable_sort(place.begin(), place.end(), [&](int a, int b) { return filing(a) < filing(b); });
        }
        QStringList ids;
        for (const int i : place)
            ids << all[size_t(i)][0];
        return ids;
    }
    static QStringList idsIn(const ContactGridModel& m, const std::vector<int>& rowsAsked)
    {
        QStringList out(m.rowCount());
        for (const int r : rowsAsked)
            out[r] = m.value(r, 0).toString();
        return out;
    }
};
} // namespace

TEST_F(GridModelTest, RowsReadPageByPageInAnyOrderOfAskingEqualTheWholeReadInEverySortAndAfterOthersChanges)
{
    ContactGridModel m;
    m.setColumns(GridColumns(), {});
    for (const int page : {1, 2, 3})
        for (const GridOrder order : {GridOrder::Name, GridOrder::Company, GridOrder::Id, GridOrder::LastContact})
            for (const bool descending : {false, true}) {
                SCOPED_TRACE(QStringLiteral("page %1 order %2%3").arg(page).arg(int(order)).arg(descending ? " descending" : "").toStdString());
                ContactGridModel::setPageSize(page);
                QStringList whole = wholeRead(order);
                if (descending)
                    std::reverse(whole.begin(), whole.end());
                m.show(sConnContacts, "All", "All", "Both", order, descending);
                ASSERT_EQ(m.rowCount(), whole.size());
                std::vector<int> down(size_t(m.rowCount())), up, scattered;
                for (int r = 0; r < m.rowCount(); ++r)
                    down[size_t(r)] = r;
                up.assign(down.rbegin(), down.rend());
                // The last row first, then the middle, then the rest from the start: jumps and walks both ways.
                scattered = {m.rowCount() - 1, m.rowCount() / 2};
                scattered.insert(scattered.end(), down.begin(), down.end());
                EXPECT_EQ(idsIn(m, down), whole);
                m.show(sConnContacts, "All", "All", "Both", order, descending);
                EXPECT_EQ(idsIn(m, up), whole);
                m.show(sConnContacts, "All", "All", "Both", order, descending);
                EXPECT_EQ(idsIn(m, scattered), whole);
                if (page == 1) {
                    EXPECT_LT(m.rowsHeld(), m.rowCount()) << "a few pages around the view, never the table";
                }
                for (int r = 0; r < m.rowCount(); ++r)
                    EXPECT_EQ(m.rowOfContact(whole[r].toLongLong()), r);
            }

    // A letter whose names begin beyond ASCII is read a page at a time too: Émile alone, not all of E.
    ContactGridModel::setPageSize(1);
    m.show(sConnContacts, "All", "All", "Both", GridOrder::Name, false);
    const QString emile = rows(sConnContacts, QString::fromUtf8("select id from contacts where lastname='Émile'"))[0][0];
    EXPECT_EQ(m.value(m.rowOfContact(emile.toLongLong()), 0).toString(), emile);
    EXPECT_EQ(m.rowsHeld(), 1);

    // Another user adds and deletes while the grid is shown; the refill reads the rows again
    // from where they were read.
    ContactGridModel::setPageSize(2);
    m.show(sConnContacts, "All", "All", "Both", GridOrder::Name, false);
    EXPECT_EQ(m.value(6, 0).toString(), wholeRead(GridOrder::Name)[6]);
    addContact("Smith", "Aaron");
    addContact("Baker", "Bea");
    exec(sConnContacts, QStringLiteral("delete from contacts where id=%1").arg(wholeRead(GridOrder::Name)[8]));
    m.refill();
    EXPECT_EQ(m.rowsHeld(), 2) << "only the page where the grid was";
    const QStringList now = wholeRead(GridOrder::Name);
    ASSERT_EQ(m.rowCount(), now.size());
    std::vector<int> around = {7, 8, 6, 5, 4, 3, 2, 1, 0};
    for (int r = 9; r < m.rowCount(); ++r)
        around.push_back(r);
    EXPECT_EQ(idsIn(m, around), now);
}

struct GridWalkTest : KestrelTest {};

TEST_F(GridWalkTest, DownAndCtrlEndWalkTheShownGridAcrossPagesAndTheLetterFilterKeepsTheTreesFiling)
{
    ContactGridModel::setPageSize(2);
    for (const char* last : {"Baker", "Adams", "Émile", "Cole", "Evans", "Dunn", "3M", "Fox", "Ångström", "Eco"})
        addContact(QString::fromUtf8(last), "X");
    QStringList walked, expected = QString::fromUtf8("X Adams|X Ångström|X Baker|X Cole|X Dunn|X Eco|X Evans|X Émile|X Fox|X 3M").split(u'|');
    QString last, lettered;
    showModal<frmContactGrid>(desk, [](frmContactGrid&) {}, [&](frmContactGrid& g) {
        g.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&g));
        g.grdDataGrid->setFocus();
        g.grdDataGrid->setCurrentIndex(g.model->index(0, 1));
        for (int i = 0; i < g.model->rowCount(); ++i) {
            walked << g.model->text(g.grdDataGrid->currentIndex().row(), 1);
            QTest::keyClick(g.grdDataGrid, Qt::Key_Down);
        }
        QTest::keyClick(g.grdDataGrid, Qt::Key_Home, Qt::ControlModifier);
        QTest::keyClick(g.grdDataGrid, Qt::Key_End, Qt::ControlModifier);
        last = g.model->text(g.grdDataGrid->currentIndex().row(), 1);
        g.cboFilter->setFocus(Qt::TabFocusReason);
        QTest::keyClicks(g.cboFilter, "E"); // the initial typed: Émile is an E as the tree files it
        lettered = g.cboFilter->currentText() + u' ';
        for (int r = 0; r < g.model->rowCount(); ++r)
            lettered += g.model->text(r, 1) + u'|';
        ContactGridModel::setPageSize(200);
        g.reject();
    });
    EXPECT_EQ(walked, expected);
    EXPECT_EQ(last, "X 3M");
    EXPECT_EQ(lettered, QString::fromUtf8("E X Eco|X Evans|X Émile|"));
}

TEST_F(GridWalkTest, AnotherUsersChangeReadsOnlyTheRowsShownAgainAndKeepsTheChosenContactAndTheTopRow)
{
    if (!onServer())
        GTEST_SKIP() << "another user's change is announced by the office server alone";
    ContactGridModel::setPageSize(5);
    for (int i = 0; i < 60; ++i)
        addContact(QStringLiteral("Name%1").arg(i, 2, 10, QLatin1Char('0')), "X");
    auto* listener = new ChangeListener(serverConninfo(sConnContacts));
    QSignalSpy on(listener, &ChangeListener::listeningChanged);
    QString chosen, top, chosenAfter, topAfter;
    int held = -1;
    showModal<frmContactGrid>(desk, [&](frmContactGrid& g) {
        listener->setParent(&g);
        g.followChanges(listener);
    }, [&](frmContactGrid& g) {
        g.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&g));
        ASSERT_TRUE(on.count() > 0 || on.wait(10000)) << "the grid hears no server";
        g.grdDataGrid->setFocus();
        for (int i = 0; i < 30; ++i)
            QTest::keyClick(g.grdDataGrid, Qt::Key_Down);
        const auto name = [&](int row) { return g.model->text(row, 1); };
        chosen = name(g.grdDataGrid->currentIndex().row());
        top = name(g.grdDataGrid->rowAt(0));
        // Another user adds two contacts above the view and one below it, and deletes one above.
        addContact("Aaron", "X");
        addContact("Abe", "X");
        addContact("Nz", "X");
        exec(sConnContacts, "delete from contacts where lastname='Name01'");
        if (!QTest::qWaitFor([&] { return g.model->rowCount() == 62; }, 5000))
            return;
        chosenAfter = name(g.grdDataGrid->currentIndex().row());
        topAfter = name(g.grdDataGrid->rowAt(0));
        held = g.model->rowsHeld();
        g.reject();
    });
    ContactGridModel::setPageSize(200);
    ASSERT_GE(held, 0) << "the grid did not follow the change";
    EXPECT_EQ(chosen, "X Name30");
    EXPECT_EQ(chosenAfter, chosen);
    EXPECT_EQ(topAfter, top);
    EXPECT_LE(held, 4 * 5 * 2) << "a few pages around the view, never the table";
}
