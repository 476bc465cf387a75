#pragma once
// Helpers of the contact tests: list choices and a contact panel on a window of its own.
#include "contacts/LeadPanel.h"
#include "contacts/frmContactGrid.h"
#include "contacts/frmLead.h"
#include "contacts/modTree.h"
#include "data/Globals.h"
#include "data/TextFold.h"
#include "data/modData.h"
#include "tests/contacts/Common.h"

#include <QTest>

using namespace kestrel;
using namespace kestrel::test;

// The user picks an entry of a drop-down list.
inline void choose(QComboBox* box, const QString& text)
{
    box->setCurrentIndex(box->findText(text));
    ASSERT_EQ(box->currentText(), text);
    Q_EMIT box->activated(box->currentIndex());
}

class PanelTest : public KestrelTest {
protected:
    void SetUp() override
    {
        KestrelTest::SetUp();
        panel->PopDisplay();
    }
    QList<QTreeWidgetItem*> nodes(const QString& text = QStringLiteral("*")) const
    {
        return panel->tvLead->findItems(text, Qt::MatchWildcard | Qt::MatchRecursive);
    }
    // The contact nodes in tree order, each with its initial: "A:Adams, Al - 9 Elm|B:Baker, Cy - ".
    QString filed() const
    {
        QStringList out;
        for (QTreeWidgetItem* node : nodes())
            if (node->parent())
                out << node->parent()->text(0) + u':' + node->text(0);
        return out.join(u'|');
    }
    // The contact editor shown modally, as the tree's New and Edit open it.
    void openEditor(bool editMode, const std::function<void(frmLead&)>& script)
    {
        showModal<frmLead>(desk, [&](frmLead& f) { f.bEditMode = editMode; }, script);
    }
    QString stored(const QString& columns)
    {
        return joined(rows(sConnContacts, QStringLiteral("select ") + columns + QStringLiteral(" from contacts order by id")));
    }
    QString panelText() const
    {
        QStringList t;
        for (QLineEdit* box : panel->txtLead)
            t << box->text();
        return t.join(u'|');
    }

    QWidget host;
    QGroupBox* frame = new QGroupBox(QStringLiteral("Trees"), &host);
    LeadPanel* panel = new LeadPanel(frame, &host);
};
