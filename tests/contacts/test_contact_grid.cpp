// The contact grid: layout, the statement and its filters, Email and Select.
#include "contacts/frmContactGrid.h"
#include "data/Globals.h"
#include "data/modData.h"
#include "tests/contacts/QtPrinting.h"
#include "tests/support/Fixture.h"

#include <QApplication>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QTest>

using namespace kestrel;
using kestrel::test::KestrelTest;

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
    static void choose(QComboBox* box, const QString& text)
    {
        const int i = box->findText(text);
        ASSERT_GE(i, 0) << text.toStdString();
        box->setCurrentIndex(i);
        Q_EMIT box->activated(i);
    }
    // The Name column, top to bottom.
    static QString names(frmContactGrid& g)
    {
        QStringList out;
        for (int r = 0; r < g.model->rowCount(); ++r)
            out << g.model->text(r, 1);
        return out.join(u'|');
    }
    void addFull(const QString& last, const QString& first, const QString& type, const QString& companySql,
                 const QString& email = {})
    {
        exec(sConnContacts, QStringLiteral("INSERT into contacts(lastname,firstname,company,address,city,st,zip,homeph,"
                                           "cellph,workph,ext,email,active,contype)values('%1','%2',%3,'1 Main','','',"
                                           "'','555-1','555-2','555-3','7','%4',True,'%5')")
                                .arg(Quoted(last), Quoted(first), companySql, Quoted(email), type));
    }
};

TEST_F(GridTest, ControlsHeadingsAndWidthsAreAsDesigned)
{
    openGrid(false, [&](frmContactGrid& g) {
        EXPECT_EQ(g.windowTitle(), QStringLiteral("Contact Grid"));
        EXPECT_EQ(g.size(), QSize(px(11385), px(6645)));
        EXPECT_TRUE(g.windowFlags() & Qt::WindowCloseButtonHint);
        struct Want {
            const char* name;
            int left, top, width, height;
            const char* caption;
        };
        const Want wants[] = {
            {"Label1", 120, 120, 825, -1, "Filter Alpha:"}, {"cboFilter", 1080, 120, 1335, -1, ""},
            {"Label3", 2640, 120, 825, -1, "Companies:"},   {"cboCompanies", 3600, 120, 2055, -1, ""},
            {"Label2", 5880, 120, 405, -1, "Type:"},        {"cboType", 6480, 120, 1575, -1, ""},
            {"cmdEmail", 8280, 120, 1335, 375, "Email"},     {"cmdSelect", 9840, 120, 1335, 375, "Select"},
            {"grdDataGrid", 120, 600, 11175, 6015, ""},
        };
        for (const Want& w : wants) {
            QWidget* c = g.findChild<QWidget*>(QString::fromUtf8(w.name));
            ASSERT_TRUE(c) << w.name;
            EXPECT_EQ(c->pos(), QPoint(px(w.left), px(w.top))) << w.name;
            EXPECT_EQ(c->width(), px(w.width)) << w.name;
            if (w.height > 0) {
                EXPECT_EQ(c->height(), px(w.height)) << w.name;
            }
            if (auto* l = qobject_cast<QLabel*>(c)) {
                EXPECT_EQ(l->text(), QString::fromUtf8(w.caption));
            }
            if (auto* b = qobject_cast<QPushButton*>(c)) {
                EXPECT_EQ(b->text(), QString::fromUtf8(w.caption));
            }
        }
        QStringList headings, widths;
        for (int i = 0; i < g.model->columnCount(); ++i) {
            headings << g.model->headerData(i, Qt::Horizontal, Qt::DisplayRole).toString();
            widths << QString::number(g.grdDataGrid->columnWidth(i));
        }
        EXPECT_EQ(headings.join(u'|'), QStringLiteral("ID|Name|Company|Address|Work Ph|Ext|Home Ph|Cell Ph|Email"));
        EXPECT_EQ(widths.join(u','), QStringLiteral("33,100,120,120,60,33,60,60,113"));
        auto items = [](QComboBox* b) {
            QStringList t;
            for (int i = 0; i < b->count(); ++i)
                t << b->itemText(i);
            return t.join(u',') + u'=' + b->currentText();
        };
        EXPECT_EQ(items(g.cboFilter), QStringLiteral("All,A,B,C,D,E,F,G,H,I,J,K,L,M,N,O,P,Q,R,S,T,U,V,W,X,Y,Z=All"));
        EXPECT_EQ(items(g.cboType), QStringLiteral("All,Lead,Cust,Contact,Personal=All"));
        EXPECT_EQ(items(g.cboCompanies), QStringLiteral("Both,Companies only,No Companies=Both"));
        EXPECT_EQ(QApplication::focusWidget(), g.grdDataGrid);
        // Tab order, counting the Select button that is disabled while browsing.
        QStringList order;
        QWidget* w = g.grdDataGrid;
        for (int i = 0; i < 6; ++i) {
            order << w->objectName();
            do
                w = w->nextInFocusChain();
            while (!(w->focusPolicy() & Qt::TabFocus));
        }
        EXPECT_EQ(order.join(u','), QStringLiteral("grdDataGrid,cboFilter,cboType,cmdEmail,cmdSelect,cboCompanies"));
    });
}

TEST_F(GridTest, OpensWithEveryoneByNameAndIsReadOnly)
{
    addFull(QStringLiteral("Zorn"), QStringLiteral("Zia"), QStringLiteral("Lead"), QStringLiteral("'Zed Ltd'"));
    addFull(QStringLiteral("O'Brien"), QStringLiteral("Ann"), QStringLiteral("Cust"), QStringLiteral("''"),
            QStringLiteral("ann@example.com"));
    addFull(QStringLiteral("adams"), QStringLiteral("Bo"), QStringLiteral("Lead"), QStringLiteral("''"));
    addFull(QStringLiteral("Adams"), QStringLiteral("Al"), QStringLiteral("Lead"), QStringLiteral("''"));
    exec(sConnContacts, QStringLiteral("INSERT into contacts(lastname,contype)values('Nofirst','Lead')"));
    openGrid(false, [&](frmContactGrid& g) {
        EXPECT_EQ(names(g), QStringLiteral("Al Adams|Bo adams||Ann O'Brien|Zia Zorn"));
        EXPECT_EQ(g.model->text(4, 2), QStringLiteral("Zed Ltd"));
        EXPECT_EQ(g.model->text(3, 8), QStringLiteral("ann@example.com"));
        EXPECT_EQ(g.model->text(3, 4) + g.model->text(3, 5) + g.model->text(3, 6) + g.model->text(3, 7),
                  QStringLiteral("555-37555-1555-2"));
        EXPECT_FALSE(g.model->flags(g.model->index(0, 1)) & Qt::ItemIsEditable);
        g.grdDataGrid->setCurrentIndex(g.model->index(0, 1));
        QTest::keyClicks(g.grdDataGrid->viewport(), QStringLiteral("xyz"));
        QTest::keyClick(g.grdDataGrid, Qt::Key_F2);
        EXPECT_EQ(g.model->text(0, 1), QStringLiteral("Al Adams"));
    });
    EXPECT_EQ(rows(sConnContacts, QStringLiteral("select count(*) from contacts where firstname='Al'"))[0][0],
              QStringLiteral("1"));
}

TEST_F(GridTest, EachListFiltersAloneAndNullCompaniesShowOnlyUnderBoth)
{
    addFull(QStringLiteral("Baker"), QStringLiteral("Bea"), QStringLiteral("Lead"), QStringLiteral("'Bakery'"));
    addFull(QStringLiteral("bell"), QStringLiteral("Ben"), QStringLiteral("Cust"), QStringLiteral("''"));
    addFull(QStringLiteral("Cole"), QStringLiteral("Cat"), QStringLiteral("Cust"), QStringLiteral("'Coal Co'"));
    addFull(QStringLiteral("Dunn"), QStringLiteral("Dot"), QStringLiteral("Personal"), QStringLiteral("Null"));
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
        choose(g.cboFilter, QStringLiteral("Q"));
        EXPECT_EQ(g.model->rowCount(), 0);
        choose(g.cboFilter, QStringLiteral("All"));
        EXPECT_EQ(g.model->rowCount(), 4);
        choose(g.cboType, QStringLiteral("Personal"));
        EXPECT_EQ(names(g), QStringLiteral("Dot Dunn"));
        choose(g.cboType, QStringLiteral("All"));
        EXPECT_EQ(g.model->rowCount(), 4);
    });
    EXPECT_TRUE(desk.messages().isEmpty());
}

TEST_F(GridTest, AFailingFillIsReportedAndTheGridKeepsItsRows)
{
    addFull(QStringLiteral("Stay"), QStringLiteral("Sam"), QStringLiteral("Lead"), QStringLiteral("''"));
    openGrid(false, [&](frmContactGrid& g) {
        exec(sConnContacts, QStringLiteral("alter table contacts rename column email to mail"));
        choose(g.cboType, QStringLiteral("Lead"));
        ASSERT_EQ(desk.messages().size(), 1);
        EXPECT_TRUE(desk.messages()[0].startsWith(QStringLiteral("Error ")));
        EXPECT_TRUE(desk.messages()[0].endsWith(QStringLiteral(") in procedure PopGrid of Form frmContactGrid")))
            << desk.messages()[0].toStdString();
        EXPECT_EQ(desk.prompts.back().caption, QStringLiteral("Kestrel"));
        EXPECT_EQ(names(g), QStringLiteral("Sam Stay"));
    });
}

TEST_F(GridTest, EmailMailsTheCurrentRowOrExplains)
{
    addFull(QStringLiteral("Able"), QStringLiteral("Al"), QStringLiteral("Lead"), QStringLiteral("''"),
            QStringLiteral("al@example.com"));
    addFull(QStringLiteral("Bare"), QStringLiteral("Bo"), QStringLiteral("Lead"), QStringLiteral("''"));
    exec(sConnContacts, QStringLiteral("INSERT into contacts(lastname,firstname,contype)values('Cee','Cy','Lead')"));
    const QString explain = QStringLiteral("There is either no lead selected or there is\r\n"
                                           " no email address entered for the desired lead.");
    openGrid(false, [&](frmContactGrid& g) {
        QTest::mouseClick(g.cmdEmail, Qt::LeftButton); // the first row is current on opening
        EXPECT_EQ(desk.opened, QStringList{QStringLiteral("mailto:al@example.com")});
        g.grdDataGrid->setCurrentIndex(g.model->index(1, 3));
        QTest::mouseClick(g.cmdEmail, Qt::LeftButton);
        g.grdDataGrid->setCurrentIndex(g.model->index(2, 0)); // no value at all
        QTest::mouseClick(g.cmdEmail, Qt::LeftButton);
        choose(g.cboFilter, QStringLiteral("Q"));
        QTest::mouseClick(g.cmdEmail, Qt::LeftButton);
    });
    EXPECT_EQ(desk.messages(), QStringList(3, explain));
    EXPECT_EQ(desk.opened.size(), 1);
}

TEST_F(GridTest, SelectHandsBackTheNameOnlyWhenPicking)
{
    addFull(QStringLiteral("Able"), QStringLiteral("Al"), QStringLiteral("Lead"), QStringLiteral("''"));
    addFull(QStringLiteral("O'Brien"), QStringLiteral("Ann"), QStringLiteral("Cust"), QStringLiteral("''"));
    Picked picked;
    openGrid(true, [&](frmContactGrid& g) {
        EXPECT_TRUE(g.cmdSelect->isEnabled());
        g.grdDataGrid->setCurrentIndex(g.model->index(1, 4));
        QTest::mouseClick(g.cmdSelect, Qt::LeftButton);
        EXPECT_FALSE(g.isVisible());
    }, &picked);
    EXPECT_EQ(picked.names, QStringList{QStringLiteral("Ann O'Brien")});

    // Browsing afterwards: a fresh window, Select disabled and inert.
    openGrid(false, [&](frmContactGrid& g) {
        EXPECT_FALSE(g.cmdSelect->isEnabled());
        g.cmdSelect_Click();
        EXPECT_TRUE(g.isVisible());
    }, &picked);
    // Picking from an empty grid does nothing.
    openGrid(true, [&](frmContactGrid& g) {
        choose(g.cboFilter, QStringLiteral("Z"));
        QTest::mouseClick(g.cmdSelect, Qt::LeftButton);
        EXPECT_TRUE(g.isVisible());
    }, &picked);
    EXPECT_EQ(picked.names.size(), 1);
}

} // namespace
