// Hostile texts typed into the contact editor come back unchanged (or cut at the box's length)
// in the database, the tree, the detail panel, the editor itself, the grid, and a CSV export
// imported again; no value changes the shape of a statement.
#include "contacts/LeadPanel.h"
#include "contacts/frmContactGrid.h"
#include "contacts/frmLead.h"
#include "contacts/modTree.h"
#include "data/Globals.h"
#include "exchange/frmLeadCSV.h"
#include "exchange/modImport.h"
#include "tests/hostile/Hostile.h"
#include "tests/support/Fixture.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <QTest>
#include <QTreeWidget>

#include <algorithm>
#include <map>

using namespace kestrel;
using namespace kestrel::test;

namespace {

// The editor's boxes 1 to 12 and what each takes at most.
constexpr int kMax[13] = {0, 50, 50, 25, 25, 2, 10, 12, 12, 12, 10, 50, 25};
const QStringList kTypes = QStringLiteral("Lead,Cust,Contact,Personal").split(u',');
const QString kColumns = QStringLiteral("id,lastname,firstname,address,city,st,zip,homeph,cellph,workph,ext,email,company,"
                                        "active,contype");

using HostileContacts = KestrelTest;

TEST_F(HostileContacts, EveryPathGivesBackWhatWasTyped)
{
    QWidget host;
    auto* frame = new QGroupBox(&host);
    frame->setGeometry(0, 0, 729, 441);
    auto* panel = new LeadPanel(frame, &host);
    panel->PopDisplay();
    host.show();

    // Every hostile text in every box (shifted by one per contact), then texts at each maximum.
    const QStringList h = hostileTexts();
    std::vector<QStringList> typed;
    for (qsizetype n = 0; n < h.size(); ++n) {
        typed.emplace_back();
        for (int i = 1; i <= 12; ++i)
            typed.back() << h[(n + i) % h.size()];
    }
    typed.emplace_back();
    typed.emplace_back();
    for (int i = 1; i <= 12; ++i) {
        typed[typed.size() - 2] << allApostrophes(kMax[i]);
        typed.back() << emojiAtTheEdge(kMax[i]);
    }

    // Typed into a new contact's boxes and saved; the expected row is what the boxes kept.
    std::map<int, QStringList> expected;
    for (size_t n = 0; n < typed.size(); ++n) {
        QStringList row;
        desk.onModal(QStringLiteral("frmLead"), [&](QDialog& d) {
            auto& f = static_cast<frmLead&>(d);
            for (int i = 1; i <= 12; ++i) {
                f.txtLead[i]->setFocus();
                f.txtLead[i]->setText(typed[n][i - 1]);
                row << f.txtLead[i]->text();
                // Cut at the length, never keeping half an emoji.
                EXPECT_EQ(row.last(), n + 1 == typed.size() ? QString(kMax[i] - 1, u'x') : kept(typed[n][i - 1], kMax[i]))
                    << "box " << i;
            }
            f.cmbType->setCurrentIndex(int(n % 4));
            (n % 3 ? f.optActive : f.optInActive)->setChecked(true);
            QTest::mouseClick(f.cmdSave, Qt::LeftButton);
            EXPECT_FALSE(f.isVisible());
        });
        frmLead editor;
        platform().runModal(editor);
        const int id = rows(sConnContacts, QStringLiteral("select max(id) from contacts"))[0][0].toInt();
        expected[id] = QStringList{QString::number(id)} + row + QStringList{BoolWord(n % 3 != 0), kTypes[int(n % 4)]};
    }
    auto stored = [&](int id) {
        return rows(sConnContacts, QStringLiteral("select %1 from contacts where id=%2").arg(kColumns).arg(id)).at(0);
    };
    for (const auto& [id, row] : expected)
        EXPECT_EQ(stored(id), row);

    // Tree: "last, first - address"; clicking it fills the detail panel; Email mails the address.
    PopTree(QString());
    std::map<QString, QTreeWidgetItem*> nodes;
    for (int i = 0; i < panel->tvLead->topLevelItemCount(); ++i)
        for (int c = 0; c < panel->tvLead->topLevelItem(i)->childCount(); ++c)
            nodes[nodeKey(panel->tvLead->topLevelItem(i)->child(c))] = panel->tvLead->topLevelItem(i)->child(c);
    for (const auto& [id, row] : expected) {
        QTreeWidgetItem* n = nodes[QStringLiteral("ID%1").arg(id)];
        ASSERT_TRUE(n) << id;
        EXPECT_EQ(n->text(0), row[1] + QStringLiteral(", ") + row[2] + QStringLiteral(" - ") + row[3]);
        n->parent()->setExpanded(true);
        panel->tvLead->scrollToItem(n);
        QTest::mouseClick(panel->tvLead->viewport(), Qt::LeftButton, {}, panel->tvLead->visualItemRect(n).center());
        for (int i = 0; i <= 12; ++i)
            EXPECT_EQ(panel->txtLead[i]->text(), row[i]) << id << " box " << i;
        EXPECT_EQ(panel->txtLead[13]->text(), row[14]);
        if (!row[11].isEmpty()) {
            QTest::mouseClick(panel->cmdEmail, Qt::LeftButton);
            ASSERT_FALSE(desk.opened.isEmpty());
            EXPECT_EQ(desk.opened.takeLast(), mailtoLink(row[11])); // the link builder the security test checks
        }
    }

    // The editor opens every contact as stored, and saving it unchanged changes nothing.
    for (const auto& [id, row] : expected) {
        lLeadID = id;
        desk.onModal(QStringLiteral("frmLead"), [&](QDialog& d) {
            auto& f = static_cast<frmLead&>(d);
            for (int i = 1; i <= 12; ++i)
                EXPECT_EQ(f.txtLead[i]->text(), row[i]) << id << " box " << i;
            QTest::mouseClick(f.cmdSave, Qt::LeftButton);
        });
        frmLead editor;
        editor.bEditMode = true;
        platform().runModal(editor);
        EXPECT_EQ(stored(id), row);
    }

    // Grid: name, then company, address, work, ext, home, cell, email.
    desk.onModal(QStringLiteral("frmContactGrid"), [&](QDialog& d) {
        auto& g = static_cast<frmContactGrid&>(d);
        ASSERT_EQ(g.model->rowCount(), int(expected.size()));
        for (int r = 0; r < g.model->rowCount(); ++r) {
            const QStringList& row = expected[g.model->text(r, 0).toInt()];
            QStringList shown;
            for (int col = 1; col <= 8; ++col)
                shown << g.model->text(r, col);
            EXPECT_EQ(shown, (QStringList{row[2] + u' ' + row[1], row[12], row[3], row[9], row[10], row[7], row[8], row[11]}));
        }
    });
    frmContactGrid grid;
    platform().runModal(grid);

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
    platform().runModal(exporter);
    const QString sorted = QStringLiteral("select lastname,firstname,company,address,city,st,zip,homeph,cellph,workph,ext,"
                                          "email from contacts order by lastname,firstname,address,email,company");
    const auto before = rows(sConnContacts, sorted);
    exec(sConnContacts, QStringLiteral("delete from contacts"));
    QStringList entries;
    for (int i = 0; i < frmLeadCSV::kFields; ++i)
        entries << FormatMapLine(QString::fromLatin1(frmLeadCSV::kTags[i]), exportTargets()[i]);
    ASSERT_TRUE(LoadCsvToTemp(path, entries));
    ASSERT_TRUE(ImportTempRows(QStringLiteral("Cust")));
    EXPECT_EQ(rows(sConnContacts, sorted), before);
    EXPECT_TRUE(desk.messages().isEmpty()) << desk.messages().join(u'|').toStdString();
}

} // namespace
