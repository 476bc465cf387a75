// The contact grid: layout, the statement and its filters, Email and Select.
#include "contacts/frmContactGrid.h"
#include "data/Globals.h"
#include "data/modData.h"
#include "tests/contacts/Helpers.h"
#include "tests/support/Fixture.h"

#include <QApplication>
#include <QTableView>
#include <QTest>

using namespace kestrel;
using namespace kestrel::test;

namespace {

struct Picked : ContactPicker {
    void setPickedName(const QString& name) override { names << name; }
    QStringList names;
};

class GridTest : public KestrelTest {
protected:
    // Opens a fresh grid the way its openers do and runs script while it is shown.
    void openGrid(bool viewMode, const std::function<void(frmContactGrid&)>& script, ContactPicker* picker = nullptr)
    {
        desk.onModal(QStringLiteral("frmContactGrid"), [&](QDialog& d) { script(static_cast<frmContactGrid&>(d)); });
        frmContactGrid grid;
        grid.bViewMode = viewMode;
        grid.picker = picker;
        platform().runModal(grid);
    }
    static QString names(frmContactGrid& g)
    {
        QStringList out;
        for (int r = 0; r < g.model->rowCount(); ++r)
            out << g.model->text(r, 1);
        return out.join(u'|');
    }
    void add(const QString& last, const QString& first, const QString& type, const QString& companySql,
             const QString& email = {})
    {
        exec(sConnContacts, QStringLiteral("INSERT into contacts(lastname,firstname,company,address,homeph,cellph,workph,"
                                           "ext,email,contype)values('%1','%2',%3,'1 Main','555-1','555-2','555-3','7',"
                                           "'%4','%5')")
                                .arg(Quoted(last), Quoted(first), companySql, Quoted(email), type));
    }
};

TEST_F(GridTest, ControlsHeadingsWidthsAndListsAreAsDesigned)
{
    openGrid(false, [&](frmContactGrid& g) {
        EXPECT_EQ(g.windowTitle(), QStringLiteral("Contact Grid"));
        EXPECT_EQ(g.size(), QSize(px(11385), px(6645)));
        EXPECT_TRUE(g.windowFlags() & Qt::WindowCloseButtonHint);
        expectPlaced(&g, {{"Label1", 120, 120, 825, -1, "Filter Alpha:"}, {"cboFilter", 1080, 120, 1335, -1},
                          {"Label3", 2640, 120, 825, -1, "Companies:"},   {"cboCompanies", 3600, 120, 2055, -1},
                          {"Label2", 5880, 120, 405, -1, "Type:"},        {"cboType", 6480, 120, 1575, -1},
                          {"cmdEmail", 8280, 120, 1335, 375, "Email"},     {"cmdSelect", 9840, 120, 1335, 375, "Select"},
                          {"grdDataGrid", 120, 600, 11175, 6015}});
        QStringList headings;
        for (int i = 0; i < g.model->columnCount(); ++i)
            headings << g.model->headerData(i, Qt::Horizontal, Qt::DisplayRole).toString() + u'=' +
                            QString::number(twips(g.grdDataGrid->columnWidth(i)));
        EXPECT_EQ(headings.join(u'|'), QStringLiteral("ID=495|Name=1500|Company=1800|Address=1800|Work Ph=900|Ext=495|"
                                                      "Home Ph=900|Cell Ph=900|Email=1695"));
        EXPECT_EQ(entries(g.cboFilter), QStringLiteral("All,A,B,C,D,E,F,G,H,I,J,K,L,M,N,O,P,Q,R,S,T,U,V,W,X,Y,Z=All"));
        EXPECT_EQ(entries(g.cboType), QStringLiteral("All,Lead,Cust,Contact,Personal=All"));
        EXPECT_EQ(entries(g.cboCompanies), QStringLiteral("Both,Companies only,No Companies=Both"));
        EXPECT_EQ(QApplication::focusWidget(), g.grdDataGrid);
        EXPECT_EQ(tabWalk(g.grdDataGrid, 6), QStringLiteral("grdDataGrid,cboFilter,cboType,cmdEmail,cmdSelect,cboCompanies"));
    });
}

TEST_F(GridTest, OpensWithEveryoneByNameAndCellsCannotBeEdited)
{
    add(QStringLiteral("Zorn"), QStringLiteral("Zia"), QStringLiteral("Lead"), QStringLiteral("'Zed Ltd'"));
    add(QStringLiteral("O'Brien"), QStringLiteral("Ann"), QStringLiteral("Cust"), QStringLiteral("''"),
        QStringLiteral("ann@x.com"));
    add(QStringLiteral("adams"), QStringLiteral("Bo"), QStringLiteral("Lead"), QStringLiteral("''"));
    add(QStringLiteral("Adams"), QStringLiteral("Al"), QStringLiteral("Lead"), QStringLiteral("''"));
    exec(sConnContacts, QStringLiteral("INSERT into contacts(lastname,contype)values('Nofirst','Lead')"));
    openGrid(false, [&](frmContactGrid& g) {
        EXPECT_EQ(names(g), QStringLiteral("Al Adams|Bo adams||Ann O'Brien|Zia Zorn"));
        QStringList row;
        for (int c = 2; c < 9; ++c)
            row << g.model->text(3, c);
        EXPECT_EQ(row.join(u','), QStringLiteral(",1 Main,555-3,7,555-1,555-2,ann@x.com"));
        EXPECT_FALSE(g.model->flags(g.model->index(0, 1)) & Qt::ItemIsEditable);
        g.grdDataGrid->setCurrentIndex(g.model->index(0, 1));
        QTest::keyClick(g.grdDataGrid, Qt::Key_F2);
        QTest::keyClicks(g.grdDataGrid, QStringLiteral("xyz"));
        QTest::keyClick(g.grdDataGrid, Qt::Key_Return);
        EXPECT_EQ(g.model->text(0, 1), QStringLiteral("Al Adams"));
    });
    EXPECT_EQ(rows(sConnContacts, QStringLiteral("select count(*) from contacts where firstname='Al'"))[0][0],
              QStringLiteral("1"));
}

TEST_F(GridTest, EachListFiltersAloneAndNullCompaniesShowOnlyUnderBoth)
{
    add(QStringLiteral("Baker"), QStringLiteral("Bea"), QStringLiteral("Lead"), QStringLiteral("'Bakery'"));
    add(QStringLiteral("bell"), QStringLiteral("Ben"), QStringLiteral("Cust"), QStringLiteral("''"));
    add(QStringLiteral("Cole"), QStringLiteral("Cat"), QStringLiteral("Cust"), QStringLiteral("'Coal Co'"));
    add(QStringLiteral("Dunn"), QStringLiteral("Dot"), QStringLiteral("Personal"), QStringLiteral("Null"));
    openGrid(false, [&](frmContactGrid& g) {
        choose(g.cboFilter, QStringLiteral("B"));
        EXPECT_EQ(names(g), QStringLiteral("Bea Baker|Ben bell"));
        choose(g.cboType, QStringLiteral("Cust"));
        EXPECT_EQ(names(g), QStringLiteral("Ben bell|Cat Cole")); // every Cust, whatever the initial
        EXPECT_EQ(g.cboFilter->currentText(), QStringLiteral("B"));
        choose(g.cboCompanies, QStringLiteral("Companies only"));
        EXPECT_EQ(names(g), QStringLiteral("Bea Baker|Cat Cole"));
        choose(g.cboCompanies, QStringLiteral("No Companies"));
        EXPECT_EQ(names(g), QStringLiteral("Ben bell"));
        choose(g.cboCompanies, QStringLiteral("Both"));
        EXPECT_EQ(names(g), QStringLiteral("Bea Baker|Ben bell|Cat Cole|Dot Dunn"));
        choose(g.cboType, QStringLiteral("Personal"));
        EXPECT_EQ(names(g), QStringLiteral("Dot Dunn"));
        choose(g.cboFilter, QStringLiteral("All"));
        EXPECT_EQ(g.model->rowCount(), 4);
    });
    EXPECT_TRUE(desk.messages().isEmpty());
}

TEST_F(GridTest, AFailingFillIsReportedAndTheGridKeepsItsRows)
{
    add(QStringLiteral("Stay"), QStringLiteral("Sam"), QStringLiteral("Lead"), QStringLiteral("''"));
    openGrid(false, [&](frmContactGrid& g) {
        exec(sConnContacts, QStringLiteral("alter table contacts rename column email to mail"));
        choose(g.cboType, QStringLiteral("Lead"));
        ASSERT_EQ(desk.messages().size(), 1);
        EXPECT_TRUE(desk.messages()[0].startsWith(QStringLiteral("Error ")));
        EXPECT_TRUE(desk.messages()[0].endsWith(QStringLiteral(") in procedure PopGrid of Form frmContactGrid")));
        EXPECT_EQ(names(g), QStringLiteral("Sam Stay"));
    });
}

TEST_F(GridTest, EmailMailsTheCurrentRowOrExplains)
{
    add(QStringLiteral("Able"), QStringLiteral("Al"), QStringLiteral("Lead"), QStringLiteral("''"),
        QStringLiteral("al@example.com"));
    add(QStringLiteral("Bare"), QStringLiteral("Bo"), QStringLiteral("Lead"), QStringLiteral("''"));
    exec(sConnContacts, QStringLiteral("INSERT into contacts(lastname,firstname,contype)values('Cee','Cy','Lead')"));
    openGrid(false, [&](frmContactGrid& g) {
        QTest::mouseClick(g.cmdEmail, Qt::LeftButton); // the first row is current on opening
        EXPECT_EQ(desk.opened, QStringList{QStringLiteral("mailto:al@example.com")});
        g.grdDataGrid->setCurrentIndex(g.model->index(1, 3));
        QTest::mouseClick(g.cmdEmail, Qt::LeftButton);
        g.grdDataGrid->setCurrentIndex(g.model->index(2, 0)); // no value at all
        QTest::mouseClick(g.cmdEmail, Qt::LeftButton);
        choose(g.cboFilter, QStringLiteral("Q")); // no row
        QTest::mouseClick(g.cmdEmail, Qt::LeftButton);
    });
    EXPECT_EQ(desk.messages(), QStringList(3, QStringLiteral("There is either no lead selected or there is\r\n"
                                                             " no email address entered for the desired lead.")));
    EXPECT_EQ(desk.opened.size(), 1);
}

TEST_F(GridTest, SelectHandsBackTheNameOnlyWhenPicking)
{
    add(QStringLiteral("Able"), QStringLiteral("Al"), QStringLiteral("Lead"), QStringLiteral("''"));
    add(QStringLiteral("O'Brien"), QStringLiteral("Ann"), QStringLiteral("Cust"), QStringLiteral("''"));
    Picked picked;
    openGrid(true, [&](frmContactGrid& g) {
        g.grdDataGrid->setCurrentIndex(g.model->index(1, 4));
        QTest::mouseClick(g.cmdSelect, Qt::LeftButton);
        EXPECT_FALSE(g.isVisible());
    }, &picked);
    EXPECT_EQ(picked.names, QStringList{QStringLiteral("Ann O'Brien")});

    openGrid(false, [&](frmContactGrid& g) { // browsing after a picking: a fresh window, Select inert
        EXPECT_FALSE(g.cmdSelect->isEnabled());
        g.cmdSelect_Click();
        EXPECT_TRUE(g.isVisible());
    }, &picked);
    openGrid(true, [&](frmContactGrid& g) { // picking from an empty grid does nothing
        choose(g.cboFilter, QStringLiteral("Z"));
        QTest::mouseClick(g.cmdSelect, Qt::LeftButton);
        EXPECT_TRUE(g.isVisible());
    }, &picked);
    EXPECT_EQ(picked.names.size(), 1);
}

} // namespace
