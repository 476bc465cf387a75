// The contact grid: its filters, Email and Select.
#include "tests/contacts/Helpers.h"

struct GridTest : KestrelTest, ContactPicker {
    void setPickedName(const QString& name) override { picked << name; }
    void openGrid(const std::function<void(frmContactGrid&)>& script)
    {
        showModal<frmContactGrid>(desk, [&](frmContactGrid& g) { g.bViewMode = true; g.picker = this; }, script);
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
        exec(sConnContacts, QStringLiteral("INSERT into contacts(lastname,firstname,company,email,contype)"
                                           "values('%1','%2',%3,'%4','%5')").arg(last, first, company, email, type));
    }
    QStringList picked;
};

TEST_F(GridTest, TheFiltersNarrowTogetherEmailMailsTheRowAndSelectHandsBackTheName)
{
    add("Baker", "Bea", "Lead", "'Bakery'");
    add("O''Brien", "Ann", "Cust", "''");
    add("Cole", "Cat", "Cust", "'Coal Co'");
    add("Dunn", "Dot", "Personal", "Null"); // no company at all: only under Both
    add("Adams", "Al", "Lead", "''", "al@example.com");
    exec(sConnContacts, "update contacts set workph='+44 20 7946 0958', homeph='+81 3-1234-5678', cellph='+49 171 5550101' "
                        "where lastname='Adams'");
    openGrid([&](frmContactGrid& g) {
        EXPECT_FALSE(g.model->flags(g.model->index(0, 1)) & Qt::ItemIsEditable); // a stray key changes no contact
        const QFontMetrics fm(g.grdDataGrid->font());
        for (int phone : {4, 6, 7}) { // a phone column shows a whole 12-character number, and an international one
            EXPECT_GE(g.grdDataGrid->columnWidth(phone), fm.horizontalAdvance("617-555-0199") + 6);
            const QString shown = g.model->index(0, phone).data().toString();
            EXPECT_TRUE(shown.startsWith(u'+')) << phone;
            // The text and the cell's margins fit the column, so nothing is elided.
            EXPECT_LE(fm.horizontalAdvance(shown) + 8, g.grdDataGrid->columnWidth(phone)) << shown.toStdString();
        }
        QTest::mouseClick(g.cmdEmail, Qt::LeftButton); // the first row is current on opening
        QStringList shown{names(g)};
        for (const auto& [box, choice] : {std::pair{g.cboFilter, "O"}, {g.cboType, "Cust"}, {g.cboCompanies, "Companies only"},
                                          {g.cboCompanies, "No Companies"}}) {
            choose(box, choice);
            shown << names(g);
        }
        // Each filter narrows what the others leave: the three boxes say what is listed.
        EXPECT_EQ(shown.join(u'/'), "Al Adams|Bea Baker|Cat Cole|Dot Dunn|Ann O'Brien/Ann O'Brien/Ann O'Brien//Ann O'Brien");
        for (const auto& [box, choice] : {std::pair{g.cboFilter, "All"}, {g.cboCompanies, "Both"}})
            choose(box, choice);
        EXPECT_EQ(names(g), "Cat Cole|Ann O'Brien");
        g.grdDataGrid->setCurrentIndex(g.model->index(1, 4));
        QTest::mouseClick(g.cmdSelect, Qt::LeftButton);
    });
    EXPECT_EQ(desk.opened, QStringList{"mailto:al@example.com"});
    EXPECT_EQ(picked, QStringList{"Ann O'Brien"});
}

TEST_F(GridTest, TheIdColumnKeepsItsWidthForShortIdsAndFitsSixDigitsWhole)
{
    add("Adams", "Al", "Lead", "''");
    openGrid([&](frmContactGrid& g) {
        const int shortIds = g.grdDataGrid->columnWidth(0);
        exec(sConnContacts, "INSERT into contacts(id,lastname,firstname,contype)values(573412,'Zeno','Zoe','Cust')");
        choose(g.cboType, "Cust");
        ASSERT_EQ(g.model->rowCount(), 1);
        EXPECT_EQ(g.model->data(g.model->index(0, 0), Qt::DisplayRole).toString(), "573412");
        const QRect cell = g.grdDataGrid->visualRect(g.model->index(0, 0));
        EXPECT_GE(cell.width(), g.grdDataGrid->fontMetrics().horizontalAdvance("573412") + 6) << "cut to 57…";
        EXPECT_LT(shortIds, cell.width());
        EXPECT_GE(shortIds, g.grdDataGrid->fontMetrics().horizontalAdvance("00") + 6);
        exec(sConnContacts, "delete from contacts where id=573412");
        choose(g.cboType, "All");
        EXPECT_EQ(g.grdDataGrid->columnWidth(0), shortIds) << "the look of a table of short ids comes back";
    });
}
