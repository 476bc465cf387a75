#include "contacts/modTree.h"

#include "contacts/LeadPanel.h"
#include "data/ContactFields.h"
#include "data/Database.h"
#include "data/Globals.h"
#include "data/History.h"
#include "data/TextFold.h"
#include "data/modData.h"
#include "platform/Platform.h"
#include "ui/Report.h"
#include "ui/Ui.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QListWidget>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QSet>
#include <QTreeWidget>

#include <algorithm>
#include <optional>

namespace kestrel {

namespace {
LeadPanel* gPanel = nullptr;

// Bumped by every fill, so a fill that let events run can tell that a newer one (started by a
// click or a closing editor meanwhile) has cleared the tree under it.
quint64 gFillGeneration = 0;
int gFilling = 0;

// How long a fill may keep the window from answering before pending events run: often enough
// to feel live, rarely enough that the events cost nothing next to the fill itself.
qint64 gEventSliceMs = 30;

const QString kOtherInitials = QStringLiteral("#");

// About as many characters as the tree shows of a node without scrolling.
constexpr qsizetype kWholeNodeChars = 40;

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

QString TreeNodeText(const QString& last, const QString& first, const QString& address)
{
    return isolated(last) + QStringLiteral(", ") + isolated(first) + QStringLiteral(" - ") + isolated(address);
}

bool treeFilling() { return gFilling > 0; }

namespace {
// A node's text compared as the query orders its columns: last name, then first name, then
// address, each without accents or case ("Van" before "Van Dyke").
QString sortKey(const QString& nodeText)
{
    QString key = foldedText(nodeText);
    const qsizetype comma = key.indexOf(QStringLiteral(", "));
    if (comma >= 0) {
        key.replace(comma, 2, QChar(1));
        if (const qsizetype dash = key.indexOf(QStringLiteral(" - "), comma); dash >= 0)
            key.replace(dash, 3, QChar(1));
    }
    return key;
}

// Opens the letter of the contact with this id and makes it current, which shows it again.
// False when the tree holds no such contact.
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

bool reselect(QTreeWidget* tv, int id)
{
    QTreeWidgetItem* node = leadNode(tv, id);
    if (!node)
        return false;
    node->parent()->setExpanded(true);
    tv->setCurrentItem(node);
    tv->scrollToItem(node);
    return true;
}
} // namespace

namespace {
// The contact nodes next to the one with this id, the following one first; the selection moves
// there when a refill finds the contact gone.
std::vector<int> neighboursOf(QTreeWidget* tv, int id)
{
    const QString key = QStringLiteral("ID") + QString::number(id);
    const QTreeWidgetItem* before = nullptr;
    bool found = false;
    std::vector<int> out;
    for (int i = 0; i < tv->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* initial = tv->topLevelItem(i);
        for (int j = 0; j < initial->childCount(); ++j) {
            const QTreeWidgetItem* node = initial->child(j);
            if (found) {
                out.push_back(nodeKey(node).mid(2).toInt());
                if (before)
                    out.push_back(nodeKey(before).mid(2).toInt());
                return out;
            }
            if (nodeKey(node) == key)
                found = true;
            else
                before = node;
        }
    }
    if (found && before)
        out.push_back(nodeKey(before).mid(2).toInt());
    return out;
}

QString gLastFilter; // what the previous fill listed: "" for all contacts, else a type
} // namespace

QString treeFilter() { return gPanel ? gPanel->cmbDisplay->currentText() : QString(); }

void PopTree(const QString& filter)
{
    LeadPanel* panel = gPanel;
    if (!panel)
        return;
    const quint64 generation = ++gFillGeneration;
    QPointer<QTreeWidget> tv = panel->tvLead;
    bool shownOk = false;
    const int shown = panel->txtLead[0]->text().toInt(&shownOk);
    const bool all = filter.isEmpty() || filter == u"All";
    // The box says what the tree lists: a fill of every contact shows "All" there.
    if (all)
        panel->cmbDisplay->setCurrentIndex(std::max(0, panel->cmbDisplay->findText(QStringLiteral("All"))));
    const QString listing = all ? QString() : panel->cmbDisplay->currentText();
    // A contact gone from the same list (deleted here or by another user) leaves its neighbour
    // chosen; one that a new filter leaves out does not choose another.
    const std::vector<int> neighbours = shownOk && listing == std::exchange(gLastFilter, listing)
                                            ? neighboursOf(tv, shown) : std::vector<int>{};
    QSet<QString> opened;
    for (int i = 0; i < tv->topLevelItemCount(); ++i)
        if (tv->topLevelItem(i)->isExpanded())
            opened.insert(nodeKey(tv->topLevelItem(i)));
    {
        ++gFilling;
        tv->clear();
        --gFilling;
    }

    QString sql = QStringLiteral("SELECT ID, LastName, FirstName, Address ") + QStringLiteral("FROM contacts ");
    if (!all)
        sql += QStringLiteral("WHERE contype='") + Quoted(listing) + u'\'';
    sql += QStringLiteral("ORDER BY LastName, FirstName, address");

    std::optional<Snapshot> rs;
    try {
        Connection connection(sConnContacts);
        rs.emplace(connection, sql);
    } catch (const std::exception& e) {
        ReportFailure(e, QStringLiteral("PopTree"), Owner::Module, QStringLiteral("modTree"));
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
    QSet<QTreeWidgetItem*> unsorted;

    QElapsedTimer slice;
    slice.start();
    for (; !rs->eof(); rs->moveNext()) {
        const QString last = rs->text(1);
        const QChar initial = fileInitial(last);
        QTreeWidgetItem* parent;
        if (initial != u'#') {
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
        // The query sorts a name that begins with a non-ASCII letter after Z: its letter is put
        // in order once the fill is done.
        if (!last.isEmpty() && last.at(0).unicode() >= 0x80 && parent != others)
            unsorted.insert(parent);
        auto* node = makeNode(QStringLiteral("ID") + rs->text(0), TreeNodeText(last, rs->text(2), rs->text(3)));
        // A long line is cut off at the tree's edge: its tool tip holds it whole.
        if (const QString& text = node->text(0); text.size() > kWholeNodeChars || text.contains(u'\n'))
            node->setToolTip(0, text);
        batch << node;

        if (slice.elapsed() >= gEventSliceMs) {
            flush();
            platform().doEvents();
            if (!tv || generation != gFillGeneration)
                return; // a newer fill owns the tree now
            slice.restart();
        }
    }
    flush();
    ++gFilling; // taking the children out moves the selection: no click in that
    for (QTreeWidgetItem* letter : std::as_const(unsorted)) {
        QList<QTreeWidgetItem*> children = letter->takeChildren();
        QHash<QTreeWidgetItem*, QString> key;
        for (QTreeWidgetItem* n : std::as_const(children))
            key.insert(n, sortKey(n->text(0)));
        std::stable_sort(children.begin(), children.end(),
                         [&](QTreeWidgetItem* a, QTreeWidgetItem* b) { return key[a] < key[b]; });
        letter->addChildren(children);
    }
    --gFilling;

    // The user keeps the place: the letters open stay open and the contact shown before the fill
    // is shown again, or its neighbour when it is gone.
    for (int i = 0; i < tv->topLevelItemCount(); ++i)
        if (opened.contains(nodeKey(tv->topLevelItem(i))))
            tv->topLevelItem(i)->setExpanded(true);
    if (shownOk && !reselect(tv, shown) &&
        std::none_of(neighbours.begin(), neighbours.end(), [&](int id) { return reselect(tv, id); })) {
        ClearLead();
        lLeadID = 0;
    }
}

std::vector<int> TreeFilingOrder(const std::vector<std::pair<QString, QString>>& names)
{
    constexpr int kOthers = 26;
    std::vector<int> group(names.size());
    bool inOrder = true;
    bool foldGroup[kOthers] = {};
    for (size_t r = 0; r < names.size(); ++r) {
        const QString& last = names[r].first;
        const QChar initial = fileInitial(last);
        group[r] = initial == u'#' ? kOthers : initial.unicode() - u'A';
        if (r > 0 && group[r] < group[r - 1])
            inOrder = false;
        if (group[r] != kOthers && !last.isEmpty() && last.at(0).unicode() >= 0x80)
            inOrder = false, foldGroup[group[r]] = true;
    }
    if (inOrder)
        return {};
    std::vector<int> order(names.size());
    for (size_t r = 0; r < order.size(); ++r)
        order[r] = int(r);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return group[size_t(a)] < group[size_t(b)]; });
    for (auto from = order.begin(); from != order.end();) {
        const int g = group[size_t(*from)];
        const auto to = std::find_if(from, order.end(), [&](int r) { return group[size_t(r)] != g; });
        if (g != kOthers && foldGroup[g]) {
            std::vector<std::pair<QString, int>> keyed;
            keyed.reserve(size_t(to - from));
            for (auto it = from; it != to; ++it)
                keyed.emplace_back(foldedText(names[size_t(*it)].first) + QChar(1) + foldedText(names[size_t(*it)].second), *it);
            std::stable_sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
            for (size_t i = 0; i < keyed.size(); ++i)
                *(from + ptrdiff_t(i)) = keyed[i].second;
        }
        from = to;
    }
    return order;
}

void GoToLead(int id)
{
    LeadPanel* panel = gPanel;
    if (!panel)
        return;
    if (!leadNode(panel->tvLead, id)) {
        PopTree(QString());
        if (gPanel != panel)
            return;
    }
    QTreeWidgetItem* before = panel->tvLead->currentItem();
    if (!reselect(panel->tvLead, id))
        return;
    // Moving the selection shows the contact; staying on it does not, so show it here.
    if (panel->tvLead->currentItem() == before)
        panel->tvLead_NodeClick(before);
    panel->tvLead->setFocus(Qt::OtherFocusReason);
}

void OpenWebSite(const QString& site)
{
    if (site.trimmed().isEmpty()) {
        platform().msgBox(QStringLiteral("There is either no lead selected or there is\r\n"
                                         " no web site entered for the desired lead."));
        return;
    }
    const QString link = webLink(site);
    if (link.isEmpty()) {
        platform().msgBox(QStringLiteral("The web site %1 was not opened: Kestrel opens only web pages, addresses "
                                         "that begin with http:// or https:// or with none.").arg(site.trimmed()));
        return;
    }
    platform().openDocument(link);
}

void EmailLead(const QString& address)
{
    if (!address.isEmpty()) {
        // Without a mail program the desktop would drop the link without a word.
        if (!platform().openMailLink(mailtoLink(address)))
            platform().msgBox(NoMailProgramText(address));
        return;
    }
    platform().msgBox(QStringLiteral("There is either no lead selected or there is\r\n"
                                     " no email address entered for the desired lead."));
}

namespace {
// A value longer than its box scrolls inside it; the box starts at its beginning, and its tool tip
// holds the whole value.
void showWhole(QLineEdit* box, const QString& text)
{
    box->setText(text);
    box->setCursorPosition(0);
    box->setToolTip(text.size() > 20 || text.contains(u'\n') ? text : QString());
}
} // namespace

void ClearLead()
{
    if (!gPanel)
        return;
    for (QLineEdit* box : gPanel->txtLead) {
        box->clear();
        box->setToolTip({});
    }
    for (QLineEdit* box : gPanel->laterBoxes()) {
        box->clear();
        box->setToolTip({});
    }
    gPanel->txtNotes->clear();
    gPanel->lblLastContact->clear();
    gPanel->lstHistory->clear();
}

void PopLeadHistory()
{
    LeadPanel* panel = gPanel;
    if (!panel)
        return;
    panel->lstHistory->clear();
    bool shown = false;
    const int id = panel->txtLead[0]->text().toInt(&shown);
    if (!shown) {
        panel->lblLastContact->clear();
        return;
    }
    const std::vector<HistoryEntry> latest = latestHistory(sConnContacts, id, kPanelEntries);
    panel->lblLastContact->setText(LastContactText(latest.empty() ? nullptr : &latest.front()));
    for (const HistoryEntry& e : latest) {
        addLine(panel->lstHistory, HistoryLine(e), int(e.id));
        // The whole entry on the line's tool tip: the list shows what fits.
        const QString whole = e.note.isEmpty() ? e.subject : e.subject + QStringLiteral("\n\n") + LeftChars(e.note, 1000);
        panel->lstHistory->item(panel->lstHistory->count() - 1)->setToolTip(whole);
    }
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
                                               "ext,email,company,contype,country,jobtitle,birthday,website,notes "
                                               "FROM contacts where id=") +
                                    QString::number(lLeadID));
        for (int i = 0; i < 14; ++i)
            showWhole(panel->txtLead[i], rs.text(i));
        showWhole(panel->txtCountry, rs.text(14));
        showWhole(panel->txtJobTitle, rs.text(15));
        showWhole(panel->txtBirthday, birthdayText(rs.text(16)));
        showWhole(panel->txtWebSite, rs.text(17));
        panel->txtNotes->setPlainText(rs.text(18));
    }
    PopLeadHistory();
    platform().doEvents();
}

} // namespace kestrel
