#include "contacts/modTree.h"

#include "contacts/LeadPanel.h"
#include "data/Database.h"
#include "data/Globals.h"
#include "data/modData.h"
#include "platform/Platform.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPointer>
#include <QTreeWidget>

#include <optional>

namespace kestrel {

namespace {
LeadPanel* gPanel = nullptr;

// Bumped by every fill, so a fill that let events run can tell that a newer one (started by a
// click or a closing editor meanwhile) has cleared the tree under it.
quint64 gFillGeneration = 0;

// How long a fill may keep the window from answering before pending events run: often enough
// to feel live, rarely enough that the events cost nothing next to the fill itself.
qint64 gEventSliceMs = 30;

const QString kOtherInitials = QStringLiteral("#");

QTreeWidgetItem* makeNode(const QString& key, const QString& text)
{
    auto* node = new QTreeWidgetItem(QStringList{text});
    node->setData(0, Qt::UserRole, key);
    return node;
}
} // namespace

LeadPanel* leadPanel() { return gPanel; }
void setLeadPanel(LeadPanel* panel) { gPanel = panel; }
void setTreeEventInterval(int milliseconds) { gEventSliceMs = milliseconds; }

QString nodeKey(const QTreeWidgetItem* node) { return node ? node->data(0, Qt::UserRole).toString() : QString(); }

void PopTree(const QString& filter)
{
    LeadPanel* panel = gPanel;
    if (!panel)
        return;
    const quint64 generation = ++gFillGeneration;
    QPointer<QTreeWidget> tv = panel->tvLead;
    tv->clear();

    QString sql = QStringLiteral("SELECT ID, LastName, FirstName, Address ") + QStringLiteral("FROM contacts ");
    if (!filter.isEmpty() && filter != u"All")
        sql += QStringLiteral("WHERE contype='") + Quoted(panel->cmbDisplay->currentText()) + u'\'';
    sql += QStringLiteral("ORDER BY LastName, FirstName, address");

    std::optional<Snapshot> rs;
    try {
        Connection connection(sConnContacts);
        rs.emplace(connection, sql);
    } catch (const std::exception& e) {
        ShowErrorReport(ErrorReport(e, QStringLiteral("PopTree"), Owner::Module, QStringLiteral("modTree")));
        return;
    }

    QList<QTreeWidgetItem*> letters;
    letters.reserve(26);
    for (char16_t c = u'A'; c <= u'Z'; ++c)
        letters << makeNode(QString(QChar(c)), QString(QChar(c)));
    tv->addTopLevelItems(letters);
    QTreeWidgetItem* others = nullptr;

    // Children wait in batches and join the tree before events run, so the tree a click sees is
    // always whole, and a batch costs the view one insertion rather than one per contact.
    QTreeWidgetItem* batchParent = nullptr;
    QList<QTreeWidgetItem*> batch;
    auto flush = [&] {
        if (!batch.isEmpty())
            batchParent->addChildren(batch);
        batch.clear();
    };

    QElapsedTimer slice;
    slice.start();
    const QString comma = QStringLiteral(", ");
    const QString dash = QStringLiteral(" - ");
    for (; !rs->eof(); rs->moveNext()) {
        const QString last = rs->text(1);
        const QChar initial = last.isEmpty() ? QChar() : last.at(0).toUpper();
        QTreeWidgetItem* parent;
        if (initial >= u'A' && initial <= u'Z') {
            parent = letters[initial.unicode() - u'A'];
        } else {
            if (!others) {
                flush();
                others = makeNode(kOtherInitials, kOtherInitials);
                tv->addTopLevelItem(others);
            }
            parent = others;
        }
        if (parent != batchParent) {
            flush();
            batchParent = parent;
        }
        batch << makeNode(QStringLiteral("ID") + rs->text(0), last + comma + rs->text(2) + dash + rs->text(3));

        if (slice.elapsed() >= gEventSliceMs) {
            flush();
            platform().doEvents();
            if (!tv || generation != gFillGeneration)
                return; // a newer fill owns the tree now
            slice.restart();
        }
    }
    flush();
}

namespace {
QTreeWidgetItem* leadNode(QTreeWidget* tv, int id)
{
    const QString key = QStringLiteral("ID") + QString::number(id);
    for (int i = 0; i < tv->topLevelItemCount(); ++i) {
        QTreeWidgetItem* initial = tv->topLevelItem(i);
        for (int j = 0; j < initial->childCount(); ++j)
            if (nodeKey(initial->child(j)) == key)
                return initial->child(j);
    }
    return nullptr;
}
} // namespace

void GoToLead(int id)
{
    LeadPanel* panel = gPanel;
    if (!panel)
        return;
    QTreeWidgetItem* node = leadNode(panel->tvLead, id);
    if (!node) {
        PopTree(QString());
        if (gPanel != panel)
            return;
        node = leadNode(panel->tvLead, id);
    }
    if (!node)
        return;
    node->parent()->setExpanded(true);
    panel->tvLead->setCurrentItem(node);
    panel->tvLead->scrollToItem(node);
    panel->tvLead_NodeClick(node);
    panel->tvLead->setFocus(Qt::OtherFocusReason);
}

void ClearLead()
{
    if (!gPanel)
        return;
    for (QLineEdit* box : gPanel->txtLead)
        box->clear();
}

void ShowLead()
{
    LeadPanel* panel = gPanel;
    if (!panel)
        return;
    ClearLead();
    {
        Connection connection(sConnContacts);
        Snapshot rs(connection, QStringLiteral("SELECT id,lastname,firstname,address,city,st,zip,homeph,cellph,workph,"
                                               "ext,email,company,contype FROM contacts where id=") +
                                    QString::number(lLeadID));
        for (int i = 0; i < 14; ++i)
            panel->txtLead[i]->setText(rs.text(i));
    }
    platform().doEvents();
}

} // namespace kestrel
