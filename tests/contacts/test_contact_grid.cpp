// The contact grid: layout, the statement and its filters, Email and Select.
#include "tests/contacts/Helpers.h"

struct GridTest : KestrelTest, ContactPicker {
    void setPickedName(const QString& name) override { picked << name; }
    void openGrid(bool viewMode, const std::function<void(frmContactGrid&)>& script)
    {
        showModal<frmContactGrid>(desk, [&](frmContactGrid& g) { g.bViewMode = viewMode; g.picker = this; }, script);
    }
    static QString names(frmContactGrid& g)
    {
        QStringList out;
        for (int r = 0; r < g.model->rowCount(); ++r)
            out << g.model->text(r, 1);
        return out.join(u'|');
    }
    // A contact with the given company (as a literal, so that Null can be given) and e-mail address.
    void add(const char* last, const char* first, const char* type, const char* company, const char* email = "")
    {
        exec(sConnContacts, QStringLiteral("INSERT into contacts(lastname,firstname,company,address,homeph,cellph,workph,"
                                           "ext,email,contype)values('%1','%2',%3,'1 Main','555-1','555-2','555-3','7',"
                                           "'%4','%5')").arg(last, first, company, email, type));
    }
    QStringList picked;
};

TEST_F(GridTest, ControlsHeadingsWidthsAndListsAreAsDesigned)
{
    openGrid(false, [&](frmContactGrid& g) {
        EXPECT_EQ(g.windowTitle(), "Contact Grid");
        EXPECT_EQ(g.size(), QSize(px(11385), px(6645)));
        expectPlaced(&g, {{"Label1", "Filter Alpha:", 120, 120, 825}, {"cboFilter", "", 1080, 120, 1335},
                          {"Label3", "Companies:", 2640, 120, 825}, {"cboCompanies", "", 3600, 120, 2055},
                          {"Label2", "Type:", 5880, 120, 405}, {"cboType", "", 6480, 120, 1575},
                          {"cmdEmail", "Email", 8280, 120, 1335, 375}, {"cmdSelect", "Select", 9840, 120, 1335, 375},
                          {"grdDataGrid", "", 120, 600, 11175, 6015}});
        QStringList headings;
        for (int i = 0; i < g.model->columnCount(); ++i)
            headings << g.model->headerData(i, Qt::Horizontal, Qt::DisplayRole).toString() + u'=' +
                            QString::number(twips(g.grdDataGrid->columnWidth(i)));
        EXPECT_EQ(headings.join(u'|'), "ID=495|Name=1500|Company=1800|Address=1800|Work Ph=900|Ext=495|Home Ph=900|"
                                       "Cell Ph=900|Email=1695");
        EXPECT_EQ(entries(g.cboFilter), "All,A,B,C,D,E,F,G,H,I,J,K,L,M,N,O,P,Q,R,S,T,U,V,W,X,Y,Z=All");
        EXPECT_EQ(entries(g.cboType) + u'/' + entries(g.cboCompanies),
                  "All,Lead,Cust,Contact,Personal=All/Both,Companies only,No Companies=Both");
        EXPECT_EQ(QApplication::focusWidget(), g.grdDataGrid);
        EXPECT_EQ(tabWalk(g.grdDataGrid, 6), "grdDataGrid,cboFilter,cboType,cmdEmail,cmdSelect,cboCompanies");
    });
}

TEST_F(GridTest, ListsByNameEachFilterAloneAndCellsCannotBeEdited)
{
    add("Baker", "Bea", "Lead", "'Bakery'", "bea@x.com");
    add("bell", "Ben", "Cust", "''");
    add("Cole", "Cat", "Cust", "'Coal Co'");
    add("Dunn", "Dot", "Personal", "Null"); // no company at all: only under Both
    add("Adams", "Al", "Lead", "''");
    exec(sConnContacts, "INSERT into contacts(lastname,contype)values('Nofirst','Lead')");
    openGrid(false, [&](frmContactGrid& g) {
        EXPECT_EQ(names(g), "Al Adams|Bea Baker|Ben bell|Cat Cole|Dot Dunn|");
        QStringList row;
        for (int c = 0; c < 9; ++c)
            row << g.model->text(1, c);
        EXPECT_EQ(row.join(u','), "1,Bea Baker,Bakery,1 Main,555-3,7,555-1,555-2,bea@x.com");
        const std::pair<QComboBox*, const char*> steps[] = {
            {g.cboFilter, "B"}, {g.cboType, "Cust"}, {g.cboCompanies, "Companies only"}, {g.cboCompanies, "No Companies"}};
        QStringList shown;
        for (const auto& [box, choice] : steps) {
            choose(box, choice);
            shown << names(g);
        }
        // Each list filters alone: a type shows every contact of it, whatever the initial chosen before.
        EXPECT_EQ(shown.join(u'/'), "Bea Baker|Ben bell/Ben bell|Cat Cole/Bea Baker|Cat Cole/Al Adams|Ben bell");
        EXPECT_EQ(g.cboFilter->currentText(), "B");

        EXPECT_FALSE(g.model->flags(g.model->index(0, 1)) & Qt::ItemIsEditable); // a stray key changes no contact

        exec(sConnContacts, "alter table contacts rename column email to mail");
        choose(g.cboType, "Lead"); // fails: reported, and the rows shown stay
        EXPECT_EQ(g.model->rowCount(), 2);
    });
    ASSERT_EQ(desk.messages().size(), 1);
    EXPECT_TRUE(desk.messages()[0].startsWith("Error ") &&
                desk.messages()[0].endsWith(") in procedure PopGrid of Form frmContactGrid"));
}

TEST_F(GridTest, EmailMailsTheCurrentRowAndSelectHandsBackTheNameOnlyWhenPicking)
{
    add("Able", "Al", "Lead", "''", "al@example.com");
    add("O''Brien", "Ann", "Cust", "''");
    exec(sConnContacts, "INSERT into contacts(lastname,firstname,contype)values('Pea','Cy','Lead')");
    openGrid(true, [&](frmContactGrid& g) {
        QTest::mouseClick(g.cmdEmail, Qt::LeftButton); // the first row is current on opening
        g.grdDataGrid->setCurrentIndex(g.model->index(2, 0)); // no address at all
        QTest::mouseClick(g.cmdEmail, Qt::LeftButton);
        g.grdDataGrid->setCurrentIndex(g.model->index(1, 4));
        QTest::mouseClick(g.cmdEmail, Qt::LeftButton); // an empty address
        QTest::mouseClick(g.cmdSelect, Qt::LeftButton);
        EXPECT_FALSE(g.isVisible());
    });
    EXPECT_EQ(desk.opened, QStringList{"mailto:al@example.com"});
    EXPECT_EQ(desk.messages(), QStringList(2, kNoEmail));
    openGrid(true, [&](frmContactGrid& g) { // no row: Select does nothing
        choose(g.cboFilter, "Z");
        QTest::mouseClick(g.cmdSelect, Qt::LeftButton);
        EXPECT_TRUE(g.isVisible());
    });
    EXPECT_EQ(picked, QStringList{"Ann O'Brien"});
}

