// Hostile texts typed into the contact editor come back unchanged (or cut at the box's length)
// in the database, the tree, the detail panel, the grid and through a CSV export imported again;
// no value changes a statement's shape.
#include "data/ContactFields.h"
#include "contacts/LeadPanel.h"
#include "contacts/frmContactGrid.h"
#include "contacts/frmLead.h"
#include "contacts/modTree.h"
#include "data/Globals.h"
#include "data/SearchIndex.h"
#include "exchange/frmLeadCSV.h"
#include "exchange/modImport.h"
#include "data/TextFold.h"
#include "tests/hostile/Hostile.h"
#include "tests/support/Fixture.h"
#include "ui/Desktop.h"

#include <QTest>
#include <QtWidgets>

using namespace kestrel;
using namespace kestrel::test;

namespace {

// The editor's boxes 1 to 12 and what each takes at most.
constexpr int kMax[13] = {0, 50, 50, 100, 50, 50, 20, 30, 30, 30, 10, 254, 100};

using HostileContacts = KestrelTest;

TEST_F(HostileContacts, EditorKeepsWhatWasTypedAndTheExportGivesItBack)
{
    // Every hostile text in every box (shifted by one per contact), then texts at each maximum.
    const QStringList h = hostileTexts();
    std::vector<QStringList> typed(h.size() + 2);
    for (size_t n = 0; n < typed.size(); ++n)
        for (int i = 1; i <= 12; ++i)
            typed[n] << (n < size_t(h.size()) ? h[(qsizetype(n) + i) % h.size()]
                                              : n == size_t(h.size()) ? allApostrophes(kMax[i]) : emojiAtTheEdge(kMax[i]));

    const QString columns = QStringLiteral("lastname,firstname,address,city,st,zip,homeph,cellph,workph,ext,email,company");
    for (size_t n = 0; n < typed.size(); ++n) {
        QStringList row;
        desk.onModal(QStringLiteral("frmLead"), [&](QDialog& d) {
            auto& f = static_cast<frmLead&>(d);
            for (int i = 1; i <= 12; ++i) {
                if (i == 3) {
                    // The address box of several lines takes a whole emoji at its edge, and keeps
                    // each line break as one.
                    f.txtAddress->setFocus();
                    f.txtAddress->setPlainText(typed[n][i - 1]);
                    row << f.txtAddress->toPlainText();
                    EXPECT_EQ(row.last(), QString(typed[n][i - 1]).replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(u'\r', u'\n'));
                    continue;
                }
                f.txtLead[i]->setFocus();
                f.txtLead[i]->setText(typed[n][i - 1]);
                row << f.txtLead[i]->text();
                // Cut at the length, never keeping half an emoji.
                EXPECT_EQ(row.last(), n + 1 == typed.size() ? QString(kMax[i] - 1, u'x') : kept(typed[n][i - 1], kMax[i]))
                    << "box " << i;
            }
            QTest::mouseClick(f.cmdSave, Qt::LeftButton);
        });
        frmLead editor;
        desktop().runModal(editor);
        EXPECT_EQ(rows(sConnContacts, QStringLiteral("select %1 from contacts where id=(select max(id) from contacts)")
                                          .arg(columns)).at(0), row);
    }

    // The tree, the detail panel and the grid show every contact as stored.
    std::map<int, QStringList> stored;
    for (const QStringList& r : rows(sConnContacts, QStringLiteral("SELECT id,lastname,firstname,address,city,st,zip,"
                                                                   "homeph,cellph,workph,ext,email,company,contype FROM contacts")))
        stored[r[0].toInt()] = r;
    QGroupBox fraLead;
    LeadPanel panel(&fraLead, nullptr);
    setLeadPanel(&panel);
    PopTree(QString());
    size_t shown = 0;
    for (int t = 0; t < panel.tvLead->topLevelItemCount(); ++t) {
        for (int c = 0; c < panel.tvLead->topLevelItem(t)->childCount(); ++c, ++shown) {
            QTreeWidgetItem* node = panel.tvLead->topLevelItem(t)->child(c);
            const QStringList& r = stored.at(nodeKey(node).mid(2).toInt());
            EXPECT_EQ(node->text(0), isolated(r[1]) + QStringLiteral(", ") + isolated(r[2]) + QStringLiteral(" - ") + isolated(r[3]));
            panel.tvLead_NodeClick(node);
            for (int i = 0; i < 14; ++i)
                EXPECT_EQ(panel.txtLead[i]->text(), r[i]) << "box " << i;
        }
    }
    EXPECT_EQ(shown, stored.size());
    setLeadPanel(nullptr);
    frmContactGrid grid;
    grid.PopGrid();
    ASSERT_EQ(size_t(grid.model->rowCount()), stored.size());
    for (int row = 0; row < grid.model->rowCount(); ++row) {
        // A cell shows one line; its tool tip holds the value whole.
        auto cell = [&](int column) { return grid.model->data(grid.model->index(row, column), Qt::ToolTipRole).toString(); };
        const QStringList& r = stored.at(cell(0).toInt());
        EXPECT_EQ(cell(1), r[2] + u' ' + r[1]);
        EXPECT_EQ((QStringList{cell(2), cell(3), cell(4), cell(5), cell(6), cell(7), cell(8)}),
                  (QStringList{r[12], r[3], r[9], r[10], r[7], r[8], r[11]}));
    }

    // Every column exported through the window, then imported into an empty table.
    const QString path = dir.filePath(QStringLiteral("all.csv"));
    desk.onModal(QStringLiteral("frmLeadCSV"), [&](QDialog& d) {
        auto& f = static_cast<frmLeadCSV&>(d);
        for (QCheckBox* box : f.chkField)
            box->setChecked(true);
        desk.answerSaveFile(path);
        QTest::mouseClick(f.cmdBrowse, Qt::LeftButton);
        QTest::mouseClick(f.cmdExport, Qt::LeftButton);
    });
    frmLeadCSV exporter;
    desktop().runModal(exporter);
    const QString sorted = QStringLiteral("select %1 from contacts order by lastname,firstname,address,email,company").arg(columns);
    const auto before = rows(sConnContacts, sorted);
    exec(sConnContacts, QStringLiteral("delete from contacts"));
    // Import targets in the export's column order (the contact type is not imported).
    QStringList entries;
    for (int i = 0; i < frmLeadCSV::kFields; ++i) {
        const ContactField& f = contactFields()[contactFieldIndex(QString::fromLatin1(frmLeadCSV::kTags[i]))];
        entries << FormatMapLine(QString::fromLatin1(f.column),
                                 QString::fromLatin1(f.target == std::string_view("ConType") ? "DELETE" : f.target));
    }
    ASSERT_TRUE(LoadCsvToTemp(path, entries));
    ASSERT_TRUE(ImportTempRows(QStringLiteral("Cust")));
    EXPECT_EQ(rows(sConnContacts, sorted), before);
    EXPECT_TRUE(desk.messages().isEmpty()) << desk.messages().join(u'|').toStdString();
}

// Find takes every text literally: quotes, wild cards and search-engine operators find the
// contact that holds them and no other, or nothing, and never make the engine fail.
TEST_F(HostileContacts, FindTakesEveryTextLiterally)
{
    const int plain = addContact("Plain", "Person");
    QStringList texts = hostileTexts();
    texts << "NEAR" << "OR" << "-" << "*" << "a OR b" << "NEAR(x y)" << "\"x\" -y" << "^z" << "🦅";
    for (const QString& text : texts) {
        const int id = addContact(text, "H");
        FoundContacts found;
        ASSERT_NO_THROW(found = findContacts(sConnContacts, text, 1000)) << text.toStdString();
        QList<int> ids;
        for (const FoundContact& c : found.rows)
            ids << c.id;
        EXPECT_FALSE(ids.contains(plain)) << text.toStdString();
        EXPECT_EQ(ids.contains(id), !searchNeedles(text).isEmpty()) << text.toStdString();
    }
    EXPECT_TRUE(desk.messages().isEmpty());
}

} // namespace
