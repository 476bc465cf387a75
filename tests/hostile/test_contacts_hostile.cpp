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
#include <QUrl>

#include <algorithm>

using namespace kestrel;
using namespace kestrel::test;

namespace {

// The editor's boxes 1 to 12 and what each takes at most.
constexpr int kMax[13] = {0, 50, 50, 25, 25, 2, 10, 12, 12, 12, 10, 50, 25};
const QStringList kTypes = {QStringLiteral("Lead"), QStringLiteral("Cust"), QStringLiteral("Contact"),
                            QStringLiteral("Personal")};

struct Contact {
    int id = 0;
    QString box[13]; // as the editor keeps them, by box index; 0 unused
    QString type;
    bool active = true;
};

class HostileContacts : public KestrelTest {
protected:
    void SetUp() override
    {
        KestrelTest::SetUp();
        host = std::make_unique<QWidget>();
        auto* frame = new QGroupBox(host.get());
        frame->setGeometry(0, 0, 729, 441);
        panel = new LeadPanel(frame, host.get());
        panel->PopDisplay();
        host->show();
    }
    void TearDown() override
    {
        host.reset();
        KestrelTest::TearDown();
    }

    // Types the texts into a new contact's boxes and presses Save, as the user would.
    Contact save(const QStringList& typed, int type, bool active)
    {
        Contact c;
        desk.onModal(QStringLiteral("frmLead"), [&](QDialog& d) {
            auto& f = static_cast<frmLead&>(d);
            for (int i = 1; i <= 12; ++i) {
                f.txtLead[i]->setFocus();
                f.txtLead[i]->setText(typed[i - 1]);
                c.box[i] = f.txtLead[i]->text();
                EXPECT_EQ(c.box[i], kept(typed[i - 1], kMax[i])) << "box " << i;
            }
            f.cmbType->setCurrentIndex(type);
            (active ? f.optActive : f.optInActive)->setChecked(true);
            QTest::mouseClick(f.cmdSave, Qt::LeftButton);
            EXPECT_FALSE(f.isVisible()) << typed.join(u'|').toStdString();
        });
        frmLead editor;
        platform().runModal(editor);
        c.type = kTypes[type];
        c.active = active;
        const auto id = rows(sConnContacts, QStringLiteral("select max(id) from contacts"));
        c.id = id.empty() ? 0 : id[0][0].toInt();
        return c;
    }

    // Every hostile text in every box (shifted by one per contact), then the maximum lengths.
    std::vector<Contact> saveAll()
    {
        const QStringList h = hostileTexts();
        std::vector<Contact> out;
        for (qsizetype n = 0; n < h.size(); ++n) {
            QStringList typed;
            for (int i = 1; i <= 12; ++i)
                typed << h[(n + i) % h.size()];
            out.push_back(save(typed, int(n % 4), n % 3 != 0));
        }
        QStringList quotes, edges;
        for (int i = 1; i <= 12; ++i) {
            quotes << allApostrophes(kMax[i]);
            edges << emojiAtTheEdge(kMax[i]);
        }
        out.push_back(save(quotes, 1, true));
        out.push_back(save(edges, 2, false));
        // The boxes cut at their length and never keep half a character.
        for (int i = 1; i <= 12; ++i) {
            EXPECT_EQ(out[out.size() - 2].box[i], allApostrophes(kMax[i])) << i;
            EXPECT_EQ(out.back().box[i], QString(kMax[i] - 1, u'x')) << i;
        }
        return out;
    }

    QStringList stored(int id)
    {
        const auto r = rows(sConnContacts, QStringLiteral("SELECT id,lastname,firstname,address,city,st,zip,homeph,"
                                                          "cellph,workph,ext,email,company,active,contype FROM "
                                                          "contacts where id=%1").arg(id));
        return r.empty() ? QStringList() : r[0];
    }
    static QStringList expectedRow(const Contact& c)
    {
        QStringList r{QString::number(c.id)};
        for (int i = 1; i <= 12; ++i)
            r << c.box[i];
        return r << BoolWord(c.active) << c.type;
    }

    QTreeWidgetItem* node(int id) const
    {
        for (int i = 0; i < panel->tvLead->topLevelItemCount(); ++i)
            for (int c = 0; c < panel->tvLead->topLevelItem(i)->childCount(); ++c)
                if (nodeKey(panel->tvLead->topLevelItem(i)->child(c)) == QStringLiteral("ID%1").arg(id))
                    return panel->tvLead->topLevelItem(i)->child(c);
        return nullptr;
    }
    void click(QTreeWidgetItem* n)
    {
        n->parent()->setExpanded(true);
        panel->tvLead->scrollToItem(n);
        QTest::mouseClick(panel->tvLead->viewport(), Qt::LeftButton, {}, panel->tvLead->visualItemRect(n).center());
    }

    std::unique_ptr<QWidget> host;
    LeadPanel* panel = nullptr;
};

// The link a mail program gets must name exactly the stored address and nothing more.
void expectOnlyTheAddress(const QString& link, const QString& address)
{
    ASSERT_TRUE(link.startsWith(QStringLiteral("mailto:"))) << link.toStdString();
    const QString rest = link.mid(7);
    for (const QChar c : {u'?', u'&', u'#', u'\r', u'\n', u',', u';', u' '})
        EXPECT_FALSE(rest.contains(c)) << link.toStdString();
    EXPECT_EQ(QUrl::fromPercentEncoding(rest.toUtf8()), address);
    const QUrl url(link);
    EXPECT_FALSE(url.hasQuery()) << link.toStdString();
    EXPECT_FALSE(url.hasFragment()) << link.toStdString();
}

TEST_F(HostileContacts, EditorTreePanelAndEditorAgainShowWhatWasTyped)
{
    const std::vector<Contact> contacts = saveAll();
    ASSERT_EQ(rows(sConnContacts, QStringLiteral("select count(*) from contacts"))[0][0].toInt(), int(contacts.size()));
    for (const Contact& c : contacts)
        EXPECT_EQ(stored(c.id), expectedRow(c));

    // Tree: "last, first - address" under the contact's own key.
    PopTree(QString());
    for (const Contact& c : contacts) {
        QTreeWidgetItem* n = node(c.id);
        ASSERT_TRUE(n) << c.id;
        EXPECT_EQ(n->text(0), c.box[1] + QStringLiteral(", ") + c.box[2] + QStringLiteral(" - ") + c.box[3]);
    }

    // Detail panel: all fourteen boxes; Email hands the mail program the address and nothing else.
    for (const Contact& c : contacts) {
        click(node(c.id));
        EXPECT_EQ(panel->txtLead[0]->text(), QString::number(c.id));
        for (int i = 1; i <= 12; ++i)
            EXPECT_EQ(panel->txtLead[i]->text(), c.box[i]) << c.id << " box " << i;
        EXPECT_EQ(panel->txtLead[13]->text(), c.type);
        if (!c.box[11].isEmpty()) {
            QTest::mouseClick(panel->cmdEmail, Qt::LeftButton);
            ASSERT_FALSE(desk.opened.isEmpty());
            expectOnlyTheAddress(desk.opened.takeLast(), c.box[11]);
        }
    }

    // The editor opens every contact as stored, and saving it unchanged changes nothing.
    for (const Contact& c : contacts) {
        lLeadID = c.id;
        desk.onModal(QStringLiteral("frmLead"), [&](QDialog& d) {
            auto& f = static_cast<frmLead&>(d);
            for (int i = 1; i <= 12; ++i)
                EXPECT_EQ(f.txtLead[i]->text(), c.box[i]) << c.id << " box " << i;
            QTest::mouseClick(f.cmdSave, Qt::LeftButton);
        });
        frmLead editor;
        editor.bEditMode = true;
        platform().runModal(editor);
        EXPECT_EQ(stored(c.id), expectedRow(c));
    }
    EXPECT_TRUE(desk.messages().isEmpty()) << desk.messages().join(u'|').toStdString();
}

TEST_F(HostileContacts, GridAndExportThenImportGiveBackWhatWasTyped)
{
    const std::vector<Contact> contacts = saveAll();

    desk.onModal(QStringLiteral("frmContactGrid"), [&](QDialog& d) {
        auto& g = static_cast<frmContactGrid&>(d);
        ASSERT_EQ(g.model->rowCount(), int(contacts.size()));
        for (int r = 0; r < g.model->rowCount(); ++r) {
            const int id = g.model->text(r, 0).toInt();
            const auto c = std::find_if(contacts.begin(), contacts.end(), [id](const Contact& x) { return x.id == id; });
            ASSERT_NE(c, contacts.end()) << id;
            EXPECT_EQ(g.model->text(r, 1), c->box[2] + u' ' + c->box[1]);
            const int boxes[] = {12, 3, 9, 10, 7, 8, 11}; // company, address, work, ext, home, cell, email
            for (int col = 2; col <= 8; ++col)
                EXPECT_EQ(g.model->text(r, col), c->box[boxes[col - 2]]) << id << " column " << col;
            if (c->box[11].isEmpty())
                continue;
            g.grdDataGrid->setCurrentIndex(g.model->index(r, 8));
            QTest::mouseClick(g.cmdEmail, Qt::LeftButton);
            ASSERT_FALSE(desk.opened.isEmpty());
            expectOnlyTheAddress(desk.opened.takeLast(), c->box[11]);
        }
    });
    frmContactGrid grid;
    platform().runModal(grid);

    // Export every column through the window, then import the file into an empty table.
    const QString path = dir.filePath(QStringLiteral("all.csv"));
    desk.onModal(QStringLiteral("frmLeadCSV"), [&](QDialog& d) {
        auto& f = static_cast<frmLeadCSV&>(d);
        for (QCheckBox* box : f.chkField)
            box->setChecked(true);
        desk.answerSaveFile(path);
        QTest::mouseClick(f.cmdBrowse, Qt::LeftButton);
        QTest::mouseClick(f.cmdExport, Qt::LeftButton);
        EXPECT_FALSE(f.isVisible());
    });
    frmLeadCSV exporter;
    platform().runModal(exporter);

    const QString columns = QStringLiteral("lastname,firstname,company,address,city,st,zip,homeph,cellph,workph,ext,email");
    auto sorted = [&] {
        std::vector<QStringList> r = rows(sConnContacts, QStringLiteral("select %1 from contacts").arg(columns));
        std::sort(r.begin(), r.end(), [](const QStringList& a, const QStringList& b) { return a.join(u'\1') < b.join(u'\1'); });
        return r;
    };
    const auto before = sorted();
    exec(sConnContacts, QStringLiteral("delete from contacts"));
    const QStringList targets = {QStringLiteral("LastName"), QStringLiteral("FirstName"), QStringLiteral("Address"),
                                 QStringLiteral("City"),     QStringLiteral("ST"),        QStringLiteral("Zip"),
                                 QStringLiteral("HomePh"),   QStringLiteral("WorkPh"),    QStringLiteral("Ext"),
                                 QStringLiteral("Email"),    QStringLiteral("Company"),   QStringLiteral("CellPh"),
                                 QStringLiteral("DELETE")};
    QStringList entries;
    for (int i = 0; i < frmLeadCSV::kFields; ++i)
        entries << FormatMapLine(QString::fromLatin1(frmLeadCSV::kTags[i]), targets[i]);
    ASSERT_TRUE(LoadCsvToTemp(path, entries));
    ASSERT_TRUE(ImportTempRows(QStringLiteral("Cust")));
    EXPECT_EQ(sorted(), before);
    EXPECT_EQ(rows(sConnContacts, QStringLiteral("select count(*) from contacts where contype='Cust'"))[0][0].toInt(),
              int(contacts.size()));
    EXPECT_TRUE(desk.messages().isEmpty()) << desk.messages().join(u'|').toStdString();
}

} // namespace
