#include "contacts/modTree.h"

#include "contacts/LeadPanel.h"
#include "data/ContactFields.h"
#include "data/ContactPages.h"
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
#include <QStringBuilder>
#include <QTreeWidget>

#include <algorithm>
#include <optional>
#include <string_view>

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

// A contact's node keeps its id and text itself and gives them as the view asks: a letter's page
// makes two thousand of these, and a plain item would keep each value in lists of its own.
class ContactNode final : public QTreeWidgetItem {
public:
    static constexpr int kType = QTreeWidgetItem::UserType + 1;
    ContactNode(qint64 id, QString text) : QTreeWidgetItem(kType), id_(id), text_(std::move(text)) {}

    qint64 id() const { return id_; }

    QVariant data(int column, int role) const override
    {
        if (column == 0) {
            switch (role) {
            case Qt::DisplayRole:
            case Qt::EditRole:
                return text_;
            case Qt::UserRole:
                return QString(QLatin1String("ID") % QString::number(id_));
            case Qt::ToolTipRole:
                // A long line is cut off at the tree's edge: its tool tip holds it whole.
                if (text_.size() > kWholeNodeChars || text_.contains(u'\n'))
                    return text_;
                break;
            default:
                break;
            }
        }
        return QTreeWidgetItem::data(column, role);
    }
    void setData(int column, int role, const QVariant& value) override
    {
        if (column == 0 && (role == Qt::DisplayRole || role == Qt::EditRole)) {
            text_ = value.toString();
            emitDataChanged();
            return;
        }
        QTreeWidgetItem::setData(column, role, value);
    }

private:
    qint64 id_;
    QString text_;
};

bool isAscii(std::string_view bytes)
{
    return std::all_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// TreeNodeText of the values as stored. Names in plain ASCII, most of them, need no isolating:
// their bytes are widened straight into the node's text, without a text of their own first.
QString nodeText(const NameBytes& r)
{
    const std::string_view last = r.last.value_or(std::string_view());
    const std::string_view first = r.first.value_or(std::string_view());
    const std::string_view address = r.address.value_or(std::string_view());
    if (!isAscii(last) || !isAscii(first) || !isAscii(address)) {
        const auto text = [](std::string_view b) { return exactUtf8(b.data(), qsizetype(b.size())); };
        return TreeNodeText(text(last), text(first), text(address));
    }
    QString out(qsizetype(last.size() + first.size() + address.size() + 5), Qt::Uninitialized);
    QChar* at = out.data();
    for (const std::string_view part : {last, std::string_view(", "), first, std::string_view(" - "), address})
        for (const char c : part)
            *at++ = QLatin1Char(c);
    return out;
}

// The id of a contact's node; 0 for a letter.
qint64 contactId(const QTreeWidgetItem* node)
{
    return node && node->type() == ContactNode::kType ? static_cast<const ContactNode*>(node)->id() : 0;
}
} // namespace

LeadPanel* leadPanel() { return gPanel; }
void setLeadPanel(LeadPanel* panel) { gPanel = panel; }
void setTreeEventInterval(int milliseconds) { gEventSliceMs = milliseconds; }

QString nodeKey(const QTreeWidgetItem* node) { return node ? node->data(0, Qt::UserRole).toString() : QString(); }

QString TreeNodeText(const QString& last, const QString& first, const QString& address)
{
    // Built in one piece: a letter's page makes two thousand of these.
    return isolated(last) % QLatin1String(", ") % isolated(first) % QLatin1String(" - ") % isolated(address);
}

bool treeFilling() { return gFilling > 0; }

namespace {
// Opens the letter of the contact with this id and makes it current, which shows it again.
// False when the tree holds no such contact.
QTreeWidgetItem* leadNode(QTreeWidget* tv, int id)
{
    for (int i = 0; i < tv->topLevelItemCount(); ++i) {
        QTreeWidgetItem* initial = tv->topLevelItem(i);
        for (int j = 0; j < initial->childCount(); ++j)
            if (contactId(initial->child(j)) == id)
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
    const QTreeWidgetItem* before = nullptr;
    bool found = false;
    std::vector<int> out;
    for (int i = 0; i < tv->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* initial = tv->topLevelItem(i);
        for (int j = 0; j < initial->childCount(); ++j) {
            const QTreeWidgetItem* node = initial->child(j);
            if (found) {
                out.push_back(int(contactId(node)));
                if (before)
                    out.push_back(int(contactId(before)));
                return out;
            }
            if (contactId(node) == id)
                found = true;
            else
                before = node;
        }
    }
    if (found && before)
        out.push_back(int(contactId(before)));
    return out;
}

QString gLastFilter; // what the previous fill listed: "" for all contacts, else a type
} // namespace

QString treeFilter() { return gPanel ? gPanel->cmbDisplay->currentText() : QString(); }

namespace {
// A letter node knows which keys of the database it files (the first characters of the names
// it holds, in the order initialParts gives them), which of them it reads now, how far it has
// been read, and the last contact read, where the next page starts.
enum LetterRole { kKeysRole = Qt::UserRole + 1, kNullNameRole, kHoldsRole, kStateRole, kAfterRole, kPartRole };
enum class Read { None, Partly, Whole };

// Contacts read at a time from a letter that holds more; a list this small is read whole at once.
int gPageSize = 2000;
int gWholeList = 2000;
// Pages are being read: the view's own signals about the rows they add ask for no more.
int gReading = 0;
struct Reading {
    Reading() { ++gReading; }
    ~Reading() { --gReading; }
    Reading(const Reading&) = delete;
    Reading& operator=(const Reading&) = delete;
};

Read readState(const QTreeWidgetItem* letter) { return Read(letter->data(0, kStateRole).toInt()); }

QVariant nullable(const std::optional<QString>& v) { return v ? QVariant(*v) : QVariant(); }
std::optional<QString> fromNullable(const QVariant& v) { return v.isNull() ? std::nullopt : std::optional<QString>(v.toString()); }

// Reads the letter's next page: on from the last contact read, through its initials in turn.
// Throws DbError.
void readPage(QTreeWidgetItem* letter, Connection& connection, const QString& listing)
{
    if (readState(letter) == Read::Whole)
        return;
    const QStringList keys = letter->data(0, kKeysRole).toStringList();
    const bool nullName = letter->data(0, kNullNameRole).toBool();
    const int parts = int(keys.size()) + (nullName ? 1 : 0);
    int part = letter->data(0, kPartRole).toInt();
    std::optional<NameRow> after;
    if (const QVariantList a = letter->data(0, kAfterRole).toList(); a.size() == 4)
        after = NameRow{a[0].toLongLong(), fromNullable(a[1]), fromNullable(a[2]), fromNullable(a[3])};
    QList<QTreeWidgetItem*> nodes;
    while (part < parts && nodes.size() < gPageSize) {
        const bool missing = nullName && part == 0;
        const std::optional<NameRow> last =
            contactsUnder(connection, missing ? QStringList() : QStringList{keys[part - (nullName ? 1 : 0)]}, missing, listing,
                          after, gPageSize - int(nodes.size()),
                          [&nodes](const NameBytes& r) { nodes << new ContactNode(r.id, nodeText(r)); });
        if (last)
            after = last;
        if (nodes.size() < gPageSize) { // this initial is read to its end
            ++part;
            after.reset();
        }
    }
    letter->addChildren(nodes);
    letter->setData(0, kPartRole, part);
    letter->setData(0, kAfterRole, after ? QVariantList{qlonglong(after->id), nullable(after->last), nullable(after->first),
                                                        nullable(after->address)}
                                         : QVariant());
    const bool done = part >= parts;
    letter->setData(0, kStateRole, int(done ? Read::Whole : Read::Partly));
    letter->setChildIndicatorPolicy(done ? QTreeWidgetItem::DontShowIndicatorWhenChildless : QTreeWidgetItem::ShowIndicator);
}

QTreeWidgetItem* letterOf(QTreeWidget* tv, const QString& key)
{
    const QChar initial = fileInitial(key);
    for (int i = 0; i < tv->topLevelItemCount(); ++i)
        if (nodeKey(tv->topLevelItem(i)) == QString(initial))
            return tv->topLevelItem(i);
    return nullptr;
}

// Reads the pages of the contact's letter until its node is there; null when the tree does not
// hold it (gone, or of another type than the tree lists). Throws DbError.
QTreeWidgetItem* readUpTo(QTreeWidget* tv, Connection& connection, int id)
{
    if (QTreeWidgetItem* node = leadNode(tv, id))
        return node;
    const std::optional<QString> key = contactKey(connection, id, gLastFilter);
    QTreeWidgetItem* letter = key ? letterOf(tv, *key) : nullptr;
    if (!letter)
        return nullptr;
    const QString listing = gLastFilter;
    while (readState(letter) != Read::Whole) {
        readPage(letter, connection, listing);
        if (QTreeWidgetItem* node = leadNode(tv, id))
            return node;
    }
    return nullptr;
}
} // namespace

void setTreePaging(int pageSize, int wholeList)
{
    gPageSize = std::max(1, pageSize);
    gWholeList = wholeList;
}

void TreeLetterOpened(QTreeWidgetItem* letter)
{
    if (!letter || letter->parent() || readState(letter) != Read::None || !gPanel || treeFilling() || gReading)
        return;
    try {
        const Reading reading;
        Connection connection(sConnContacts);
        readPage(letter, connection, gLastFilter);
    } catch (const std::exception& e) {
        ReportFailure(e, QStringLiteral("tvLead_Expand"), Owner::Form, QStringLiteral("frmKestrel"));
    }
    TreeViewMoved();
}

void TreeViewMoved()
{
    LeadPanel* panel = gPanel;
    if (!panel || gReading || treeFilling())
        return;
    QTreeWidget* tv = panel->tvLead;
    // The next page is read while the last line read is in view or chosen: walking or scrolling
    // down never meets the end of what was read.
    const int reach = tv->viewport()->height();
    // The line chosen in view stays there: rows read above it (an open letter's next page as
    // End passes its end) must not push it out.
    QTreeWidgetItem* chosen = tv->currentItem();
    const bool chosenShown = chosen && tv->viewport()->rect().intersects(tv->visualItemRect(chosen));
    bool read = false;
    try {
        const Reading reading;
        std::optional<Connection> connection;
        for (int i = 0; i < tv->topLevelItemCount(); ++i) {
            QTreeWidgetItem* letter = tv->topLevelItem(i);
            while (letter->isExpanded() && readState(letter) == Read::Partly && letter->childCount() > 0) {
                QTreeWidgetItem* last = letter->child(letter->childCount() - 1);
                const QRect at = tv->visualItemRect(last);
                if (tv->currentItem() != last && (!at.isValid() || at.top() > reach))
                    break;
                if (!connection)
                    connection.emplace(sConnContacts);
                readPage(letter, *connection, gLastFilter);
                read = true;
            }
        }
        if (read && chosenShown && tv->currentItem() == chosen)
            tv->scrollToItem(chosen);
    } catch (const std::exception& e) {
        ReportFailure(e, QStringLiteral("tvLead_Scroll"), Owner::Form, QStringLiteral("frmKestrel"));
    }
}

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
    const bool sameList = listing == std::exchange(gLastFilter, listing); // what the letters read from now on
    const std::vector<int> neighbours = shownOk && sameList ? neighboursOf(tv, shown) : std::vector<int>{};
    // The letters open stay open, each read as far as it was.
    QHash<QString, int> opened;
    for (int i = 0; i < tv->topLevelItemCount(); ++i)
        if (tv->topLevelItem(i)->isExpanded())
            opened.insert(nodeKey(tv->topLevelItem(i)), tv->topLevelItem(i)->childCount());
    {
        ++gFilling;
        tv->clear();
        --gFilling;
    }

    // The letters join the tree once the pages read first are in them: a node added to a letter
    // the view does not show yet costs nothing more, one added to a letter it shows costs about
    // as much again as reading it. Before the window answers events, though, the letters are
    // shown, as a fill that takes long (or fails) has always shown them while it reads on.
    QList<QTreeWidgetItem*> letters;
    bool lettersShown = false;
    const auto showLetters = [&] {
        if (std::exchange(lettersShown, true))
            return;
        ++gFilling; // adding the letters may move the selection: no click in that
        tv->addTopLevelItems(letters);
        --gFilling;
    };
    try {
        const Reading reading;
        Connection connection(sConnContacts);
        // The letters need only say whether they hold a contact: counting them would read every row.
        const std::vector<InitialCount> initials = presentInitials(connection, listing);
        const bool small = !moreContactsThan(connection, listing, gWholeList);
        letters.reserve(27);
        for (char16_t c = u'A'; c <= u'Z'; ++c)
            letters << makeNode(QString(QChar(c)), QString(QChar(c)));
        letters << makeNode(kOtherInitials, kOtherInitials);
        for (const InitialPart& i : initialParts(initials)) {
            QTreeWidgetItem* letter = letters[i.letter == u'#' ? 26 : i.letter.unicode() - u'A'];
            if (i.nullName)
                letter->setData(0, kNullNameRole, true);
            else
                letter->setData(0, kKeysRole, letter->data(0, kKeysRole).toStringList() << i.key);
            letter->setData(0, kHoldsRole, true);
        }
        // "#" is shown only when it holds a contact.
        if (!letters.back()->data(0, kHoldsRole).toBool())
            delete letters.takeLast();
        for (QTreeWidgetItem* letter : std::as_const(letters)) {
            const bool empty = !letter->data(0, kHoldsRole).toBool();
            letter->setData(0, kStateRole, int(empty ? Read::Whole : Read::None));
            letter->setChildIndicatorPolicy(empty ? QTreeWidgetItem::DontShowIndicatorWhenChildless : QTreeWidgetItem::ShowIndicator);
        }
        // A small list is read whole; a large one reads the letters that were open, as far as
        // they were read, and the letter of the contact shown.
        QElapsedTimer slice;
        slice.start();
        for (QTreeWidgetItem* letter : std::as_const(letters)) {
            const bool wasOpen = opened.contains(nodeKey(letter));
            if (!small && !wasOpen)
                continue;
            do
                readPage(letter, connection, listing);
            while (readState(letter) != Read::Whole && (small || letter->childCount() < opened.value(nodeKey(letter))));
            if (slice.elapsed() >= gEventSliceMs) {
                showLetters();
                platform().doEvents();
                if (!tv || generation != gFillGeneration)
                    return; // a newer fill owns the tree now
                slice.restart();
            }
        }
        showLetters();
        if (shownOk)
            readUpTo(tv, connection, shown);
    } catch (const std::exception& e) {
        showLetters();
        ReportFailure(e, QStringLiteral("PopTree"), Owner::Module, QStringLiteral("modTree"));
        return;
    }

    // The user keeps the place: the letters open stay open and the contact shown before the fill
    // is shown again, or its neighbour when it is gone.
    ++gFilling; // opening a letter read already asks for nothing
    for (int i = 0; i < tv->topLevelItemCount(); ++i)
        if (opened.contains(nodeKey(tv->topLevelItem(i))))
            tv->topLevelItem(i)->setExpanded(true);
    --gFilling;
    if (shownOk && !reselect(tv, shown) &&
        std::none_of(neighbours.begin(), neighbours.end(), [&](int id) { return reselect(tv, id); })) {
        ClearLead();
        lLeadID = 0;
    }
    TreeViewMoved();
}

void GoToLead(int id)
{
    LeadPanel* panel = gPanel;
    if (!panel)
        return;
    const auto readTo = [&] {
        try {
            Connection connection(sConnContacts);
            return readUpTo(panel->tvLead, connection, id) != nullptr;
        } catch (const std::exception& e) {
            ReportFailure(e, QStringLiteral("GoToLead"), Owner::Module, QStringLiteral("modTree"));
            return false;
        }
    };
    if (!readTo()) {
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
