#include "contacts/frmDuplicates.h"

#include "data/ContactFields.h"
#include "data/Database.h"
#include "data/Globals.h"
#include "data/RowGuard.h"
#include "data/TextFold.h"
#include "data/modData.h"
#include "platform/Platform.h"
#include "ui/Accessible.h"
#include "ui/Report.h"
#include "ui/Undo.h"

#include <QElapsedTimer>
#include <QSet>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QScopeGuard>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTableView>

#include <algorithm>

namespace kestrel {

namespace {
constexpr int kKeptColumn = 1;

QString shownName(const ContactRecord& c)
{
    QString name = c.lastname.trimmed();
    if (!c.firstname.trimmed().isEmpty())
        name += (name.isEmpty() ? QString() : QStringLiteral(", ")) + c.firstname.trimmed();
    if (!c.company.trimmed().isEmpty())
        name += (name.isEmpty() ? QString() : QStringLiteral(" - ")) + c.company.trimmed();
    return isolated(name.isEmpty() ? QStringLiteral("(no name)") : name);
}

QString oneLine(QString text)
{
    text.replace(QStringLiteral("\r\n"), QStringLiteral(", ")).replace(u'\n', QStringLiteral(", ")).replace(u'\r', u' ');
    return text;
}

RowKey contactKey(int id) { return {QStringLiteral("contacts"), QStringLiteral("id"), id}; }

// "2 pairs and 1 group found."
QString FoundText(size_t pairs, size_t groups)
{
    QStringList parts;
    if (pairs > 0)
        parts << (pairs == 1 ? QStringLiteral("1 pair") : QStringLiteral("%1 pairs").arg(pairs));
    if (groups > 0)
        parts << (groups == 1 ? QStringLiteral("1 group") : QStringLiteral("%1 groups").arg(groups));
    return parts.join(QStringLiteral(" and ")) + QStringLiteral(" found.");
}
} // namespace

std::vector<std::vector<MergeUndo>>& mergeHistory()
{
    static std::vector<std::vector<MergeUndo>> history;
    return history;
}

QString DuplicateLine(Likeness likeness, const std::vector<ContactRecord>& cards)
{
    QStringList names;
    for (const ContactRecord& c : cards)
        names << shownName(c);
    return (likeness == Likeness::Same ? QStringLiteral("Same:      ") : QStringLiteral("Possibly:  ")) +
           names.join(QStringLiteral("   and   "));
}

frmDuplicates::frmDuplicates(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("frmDuplicates"));
    setupDialog(this, QStringLiteral("Find Duplicates"), 10080, 7200, true);
    setFont(designFont(QStringLiteral("Verdana"), 8.25));
    controls = buildControls(this, {
        {"lblPairs", ControlKind::Label, "&Pairs and groups, the strongest first:", 120, 120, 6000, 255},
        {"lstPairs", ControlKind::ListBox, "", 120, 390, 9840, 1815, 1},
        {"lblFields", ControlKind::Label, "&Values to keep (Space or a click picks one):", 120, 2310, 7000, 255},
        {"grdFields", ControlKind::Grid, "", 120, 2580, 9840, 3420, 2},
        {"lblMessage", ControlKind::Label, "", 120, 6090, 9840, 255},
        {"lblProgress", ControlKind::Label, "Looking for duplicates...", 120, 6090, 2880, 255},
        {"prgFind", ControlKind::ProgressBar, "", 3120, 6090, 4560, 255, kNoTab, 0, "Progress"},
        {"cmdCancel", ControlKind::Button, "Cancel", 7800, 6030, 1455, 375, 3},
        {"cmdMerge", ControlKind::Button, "&Merge", 120, 6600, 1455, 375, 4},
        {"cmdNotSame", ControlKind::Button, "&Not the same", 1695, 6600, 1815, 375, 5},
        {"cmdUndo", ControlKind::Button, "&Undo Last Merge", 3630, 6600, 2175, 375, 6},
        {"cmdClose", ControlKind::Button, "Close", 8505, 6600, 1455, 375, 7},
    });
    lstPairs = controls.get<QListWidget>(QStringLiteral("lstPairs"));
    grdFields = controls.get<QTableView>(QStringLiteral("grdFields"));
    cmdMerge = controls.get<QPushButton>(QStringLiteral("cmdMerge"));
    cmdNotSame = controls.get<QPushButton>(QStringLiteral("cmdNotSame"));
    cmdUndo = controls.get<QPushButton>(QStringLiteral("cmdUndo"));
    cmdCancel = controls.get<QPushButton>(QStringLiteral("cmdCancel"));
    cmdClose = controls.get<QPushButton>(QStringLiteral("cmdClose"));
    lblProgress = controls.get<QLabel>(QStringLiteral("lblProgress"));
    prgFind = controls.get<QProgressBar>(QStringLiteral("prgFind"));
    lblMessage = controls.get<QLabel>(QStringLiteral("lblMessage"));
    controls.get<QLabel>(QStringLiteral("lblPairs"))->setBuddy(lstPairs);
    controls.get<QLabel>(QStringLiteral("lblFields"))->setBuddy(grdFields);
    lstPairs->setFont(designFont(QStringLiteral("Courier New"), 9));

    fields = new QStandardItemModel(0, 3, this);
    fields->setHorizontalHeaderLabels({QStringLiteral("Field"), QStringLiteral("Kept contact"), QStringLiteral("Other contact")});
    grdFields->setModel(fields);
    // A value is picked by its own cell, so the grid walks cells, not rows.
    grdFields->setSelectionBehavior(QAbstractItemView::SelectItems);
    grdFields->setSelectionMode(QAbstractItemView::SingleSelection);
    grdFields->setColumnWidth(0, px(1500));
    grdFields->setColumnWidth(kKeptColumn, px(3960));
    grdFields->horizontalHeader()->setStretchLastSection(true);
    for (QPushButton* b : {cmdMerge, cmdNotSame, cmdUndo, cmdCancel, cmdClose})
        b->setAutoDefault(false);
    lblMessage->hide();

    connect(lstPairs, &QListWidget::currentRowChanged, this, [this] { lstPairs_Click(); });
    connect(grdFields, &QTableView::clicked, this, [this](const QModelIndex& cell) { grdFields_Click(cell); });
    connect(fields, &QStandardItemModel::itemChanged, this, [this](QStandardItem* item) { grdFields_ItemChanged(item); });
    connect(cmdMerge, &QPushButton::clicked, this, &frmDuplicates::cmdMerge_Click);
    connect(cmdNotSame, &QPushButton::clicked, this, &frmDuplicates::cmdNotSame_Click);
    connect(cmdUndo, &QPushButton::clicked, this, &frmDuplicates::cmdUndo_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &frmDuplicates::cmdCancel_Click);
    connect(cmdClose, &QPushButton::clicked, this, &frmDuplicates::cmdClose_Click);
}

void frmDuplicates::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (shown_)
        return;
    shown_ = true;
    Form_Load();
}

void frmDuplicates::Form_Load()
{
    searching_ = true;
    cancel_ = false;
    for (QWidget* w : std::initializer_list<QWidget*>{lstPairs, grdFields, cmdMerge, cmdNotSame, cmdUndo})
        w->setEnabled(false);
    prgFind->setRange(0, 1000);
    prgFind->setValue(0);
    cmdCancel->setFocus();
    announce(lblProgress, lblProgress->text());
    DuplicateSearch found;
    QElapsedTimer paced;
    paced.start();
    const bool read = RunAction(sConnContacts, [&] {
        found = searchDuplicates(sConnContacts, [&](qint64 done, qint64 total) {
            // The screen is brought up to date a few times a second, not at every step.
            if (paced.elapsed() >= 50) {
                paced.restart();
                prgFind->setValue(int(total > 0 ? done * 1000 / total : 0));
                platform().doEvents();
            }
            return !cancel_;
        });
    }, QStringLiteral("Form_Load"), Owner::Form, QStringLiteral("frmDuplicates"));
    searching_ = false;
    for (QWidget* w : std::initializer_list<QWidget*>{lblProgress, prgFind, cmdCancel})
        w->hide();
    lblMessage->show();
    pairs_.clear();
    known_.clear();
    if (read && !found.cancelled) {
        for (const DuplicateGroup& g : groupDuplicates(found.pairs)) {
            Group group{{}, g.likeness};
            for (const int at : g.members) {
                const ContactRecord& c = found.contacts[size_t(at)];
                group.ids.push_back(c.id);
                known_.insert(c.id, c);
            }
            std::sort(group.ids.begin(), group.ids.end());
            pairs_.push_back(std::move(group));
        }
    }
    lstPairs->setEnabled(true);
    grdFields->setEnabled(true);
    if (found.cancelled)
        lblMessage->setText(QStringLiteral("The search was cancelled."));
    fillPairs(0);
    cmdUndo->setEnabled(!mergeHistory().empty());
    if (isVisible())
        lstPairs->setFocus();
}

void frmDuplicates::fillPairs(int select)
{
    const QSignalBlocker quiet(lstPairs);
    lstPairs->clear();
    for (size_t i = 0; i < pairs_.size(); ++i) {
        std::vector<ContactRecord> cards;
        for (const int id : pairs_[i].ids)
            cards.push_back(known_.value(id));
        addLine(lstPairs, DuplicateLine(pairs_[i].likeness, cards), int(i) + 1);
        if (i >= 500) { // the rest are listed as the first ones are dealt with
            addLine(lstPairs, QStringLiteral("... and %1 more").arg(pairs_.size() - i - 1), 0);
            break;
        }
    }
    if (pairs_.empty() && lblMessage->text().isEmpty())
        lblMessage->setText(QStringLiteral("No duplicates were found."));
    else if (!pairs_.empty())
        lblMessage->setText(FoundText(pairs_.size() - size_t(std::count_if(pairs_.begin(), pairs_.end(),
                                                                           [](const Group& g) { return g.ids.size() > 2; })),
                                      size_t(std::count_if(pairs_.begin(), pairs_.end(), [](const Group& g) { return g.ids.size() > 2; }))));
    announce(lblMessage, lblMessage->text());
    if (!pairs_.empty())
        lstPairs->setCurrentRow(std::clamp(select, 0, int(std::min<size_t>(pairs_.size(), 501)) - 1));
    showPair();
}

void frmDuplicates::lstPairs_Click() { showPair(); }

int frmDuplicates::selectedGroup() const
{
    const QListWidgetItem* line = lstPairs->currentItem();
    return line ? line->data(Qt::UserRole).toInt() - 1 : -1;
}

void frmDuplicates::showPair()
{
    // The model's own signals keep the grid in step; only this window's handler is kept out.
    filling_ = true;
    const auto filled = qScopeGuard([this] { filling_ = false; });
    fields->setRowCount(0);
    cards_.clear();
    versions_.clear();
    const int at = selectedGroup();
    bool all = false;
    if (at >= 0) {
        try {
            all = true;
            for (const int id : pairs_[size_t(at)].ids) {
                ContactRecord c;
                if (!readContact(sConnContacts, id, &c)) {
                    all = false;
                    break;
                }
                cards_.push_back(c);
                versions_.push_back(rowVersion(sConnContacts, contactKey(id)));
            }
        } catch (const std::exception& e) {
            ReportFailure(e, QStringLiteral("showPair"), Owner::Form, QStringLiteral("frmDuplicates"));
            all = false;
        }
    }
    if (!all) {
        cards_.clear();
        versions_.clear();
    }
    cmdMerge->setEnabled(all);
    cmdNotSame->setEnabled(all);
    // A column per card: the kept one, then the others side by side.
    const int n = int(cards_.size());
    fields->setColumnCount(1 + std::max(n, 2));
    QStringList heads{QStringLiteral("Field"), QStringLiteral("Kept contact")};
    for (int c = 1; c < std::max(n, 2); ++c)
        heads << (n <= 2 ? QStringLiteral("Other contact") : QStringLiteral("Other contact %1").arg(c));
    fields->setHorizontalHeaderLabels(heads);
    const int width = n <= 2 ? 3960 : (9840 - 1500 - 300) / n;
    for (int c = kKeptColumn; c < std::max(n, 2); ++c)
        grdFields->setColumnWidth(c, px(width));
    if (!all)
        return;
    const MergePicks pre = preselectGroup(cards_);
    const auto& fieldList = contactFields();
    for (int f = 0; f < cf::Count; ++f) {
        auto* caption = new QStandardItem(QString::fromLatin1(fieldList[size_t(f)].caption));
        caption->setFlags(Qt::ItemIsEnabled);
        QList<QStandardItem*> row{caption};
        for (int m = 0; m < n; ++m) {
            const ContactRecord& c = cards_[size_t(m)];
            const QString v = f == cf::Birthday ? birthdayText(c.value(f)) : c.value(f);
            auto* cell = new QStandardItem(isolated(oneLine(v)));
            cell->setToolTip(v);
            cell->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
            cell->setCheckState(pre[size_t(f)] == m ? Qt::Checked : Qt::Unchecked);
            row << cell;
        }
        fields->appendRow(row);
    }
    grdFields->setCurrentIndex(fields->index(0, kKeptColumn));
}

MergePicks frmDuplicates::picks() const
{
    MergePicks p{};
    for (int f = 0; f < cf::Count && f < fields->rowCount(); ++f)
        for (int m = 0; m < int(cards_.size()); ++m)
            if (fields->item(f, kKeptColumn + m)->checkState() == Qt::Checked)
                p[size_t(f)] = m;
    return p;
}

void frmDuplicates::grdFields_Click(const QModelIndex& cell)
{
    if (!cell.isValid() || cell.column() == 0)
        return;
    fields->item(cell.row(), cell.column())->setCheckState(Qt::Checked);
}

void frmDuplicates::grdFields_ItemChanged(QStandardItem* item)
{
    // The values of a field are a choice of one: picking one unpicks the others, and unticking
    // the picked one picks the next card's.
    if (filling_ || item->column() == 0)
        return;
    const int cards = fields->columnCount() - kKeptColumn;
    filling_ = true;
    if (item->checkState() == Qt::Checked) {
        for (int c = kKeptColumn; c < kKeptColumn + cards; ++c)
            if (c != item->column())
                fields->item(item->row(), c)->setCheckState(Qt::Unchecked);
    } else {
        const int next = kKeptColumn + (item->column() - kKeptColumn + 1) % cards;
        fields->item(item->row(), next)->setCheckState(Qt::Checked);
    }
    filling_ = false;
}

void frmDuplicates::cmdMerge_Click()
{
    const int at = selectedGroup();
    if (at < 0 || cards_.size() < 2)
        return;
    const ContactRecord merged = mergedGroup(cards_, picks());
    GroupMerge result;
    if (!RunAction(sConnContacts, [&] { result = mergeGroup(sConnContacts, cards_, versions_, merged); },
                   QStringLiteral("cmdMerge_Click"), Owner::Form, QStringLiteral("frmDuplicates")))
        return;
    const bool pair = cards_.size() == 2;
    if (result.outcome == MergeOutcome::Changed) {
        platform().msgBox(pair ? QStringLiteral("Someone changed one of these two contacts since they were shown here. Nothing "
                                                "was merged; the pair is shown again as it is now.")
                               : QStringLiteral("Someone changed one of these contacts since they were shown here. Nothing "
                                                "was merged; the group is shown again as it is now."));
        showPair();
        return;
    }
    if (result.outcome == MergeOutcome::Gone) {
        platform().msgBox(pair ? QStringLiteral("One of these two contacts was deleted meanwhile. Nothing was merged.")
                               : QStringLiteral("One of these contacts was deleted meanwhile. Nothing was merged."));
        pairs_.erase(pairs_.begin() + at);
        fillPairs(at);
        return;
    }
    bChanged = true;
    mergeHistory().push_back(result.steps);
    rememberLastMerge();
    const int keptId = cards_.front().id;
    known_.insert(keptId, merged);
    QSet<int> gone;
    QStringList goneNames;
    for (size_t i = 1; i < cards_.size(); ++i) {
        gone.insert(cards_[i].id);
        known_.remove(cards_[i].id);
        goneNames << appointmentName(cards_[i]);
    }
    // The others' pairs now stand for the kept contact; the kept one with itself goes, and a pair
    // now listed twice is listed once (the stronger).
    pairs_.erase(pairs_.begin() + at);
    QSet<QString> seen;
    std::erase_if(pairs_, [&](Group& g) {
        for (int& id : g.ids)
            if (gone.contains(id))
                id = keptId;
        std::sort(g.ids.begin(), g.ids.end());
        g.ids.erase(std::unique(g.ids.begin(), g.ids.end()), g.ids.end());
        QString key;
        for (const int id : g.ids)
            key += QString::number(id) + u',';
        if (g.ids.size() < 2 || seen.contains(key))
            return true;
        seen.insert(key);
        return false;
    });
    lblMessage->clear();
    fillPairs(at);
    lblMessage->setText(QStringLiteral("Merged %1 into %2. ").arg(goneNames.join(QStringLiteral(", ")), result.steps.front().keptName) +
                        lblMessage->text());
    announce(lblMessage, lblMessage->text());
    cmdUndo->setEnabled(true);
}

void frmDuplicates::cmdNotSame_Click()
{
    const int at = selectedGroup();
    if (at < 0)
        return;
    // A group set aside is every pair of it: none of its cards is another's.
    const std::vector<int> ids = pairs_[size_t(at)].ids;
    if (!RunAction(sConnContacts, [&] {
            for (size_t i = 0; i < ids.size(); ++i)
                for (size_t j = i + 1; j < ids.size(); ++j)
                    rememberNotSame(sConnContacts, ids[i], ids[j]);
        }, QStringLiteral("cmdNotSame_Click"), Owner::Form, QStringLiteral("frmDuplicates")))
        return;
    pairs_.erase(pairs_.begin() + at);
    lblMessage->clear();
    fillPairs(at);
}

namespace {

// Takes back the last merge of this run and forgets it; false when it could not be (the user is
// told why) or the database could not be reached (told by RunAction; the merge stays remembered).
bool takeBackLastMerge()
{
    const std::vector<MergeUndo> steps = mergeHistory().back();
    const std::span<std::vector<MergeUndo>> earlier(mergeHistory().data(), mergeHistory().size() - 1);
    UndoOutcome outcome = UndoOutcome::Changed;
    if (!RunAction(sConnContacts, [&] { outcome = undoMergeGroup(sConnContacts, steps, earlier); },
                   QStringLiteral("cmdUndo_Click"), Owner::Form, QStringLiteral("frmDuplicates")))
        return false;
    mergeHistory().pop_back();
    rememberLastMerge();
    if (outcome == UndoOutcome::Changed) {
        platform().msgBox(QStringLiteral("%1 was changed or deleted after the merge, so the merge can no longer be "
                                         "taken back. Nothing was changed.").arg(steps.back().mergedName));
        return false;
    }
    return true;
}

} // namespace

// Edit > Undo takes back the run's last merge, as Undo Last Merge does.
void rememberLastMerge()
{
    if (mergeHistory().empty()) {
        forgetChanges();
        return;
    }
    const MergeUndo top = mergeHistory().back().back();
    const QString keptName = mergeHistory().back().front().keptName;
    QStringList others;
    for (const MergeUndo& step : mergeHistory().back())
        others << step.otherName;
    rememberChange({QStringLiteral("Merge Contacts '%1'").arg(keptName), [top, keptName, others] {
        const bool stillLast = !mergeHistory().empty() && mergeHistory().back().back().keptId == top.keptId &&
                               mergeHistory().back().back().otherId == top.otherId &&
                               mergeHistory().back().back().keptVersionAfter == top.keptVersionAfter;
        if (!stillLast) {
            platform().msgBox(QStringLiteral("The merge of %1 and %2 was already taken back.")
                                  .arg(keptName, others.join(QStringLiteral(", "))));
            return false;
        }
        return takeBackLastMerge();
    }});
}

void frmDuplicates::cmdUndo_Click()
{
    if (mergeHistory().empty())
        return;
    const std::vector<MergeUndo> steps = mergeHistory().back();
    const bool undone = takeBackLastMerge();
    cmdUndo->setEnabled(!mergeHistory().empty());
    if (!undone)
        return;
    bChanged = true;
    Group back{{steps.front().keptId}, Likeness::Same};
    QStringList others;
    for (const MergeUndo& step : steps) {
        back.ids.push_back(step.otherId);
        others << step.otherName;
    }
    for (const int id : back.ids) {
        ContactRecord c;
        try {
            if (readContact(sConnContacts, id, &c))
                known_.insert(id, c);
        } catch (const DbError&) {
        }
    }
    std::sort(back.ids.begin(), back.ids.end());
    pairs_.insert(pairs_.begin(), std::move(back));
    lblMessage->clear();
    fillPairs(0);
    lblMessage->setText(QStringLiteral("The merge of %1 and %2 was taken back. ")
                            .arg(steps.front().keptName, others.join(QStringLiteral(", "))) +
                        lblMessage->text());
    announce(lblMessage, lblMessage->text());
}

void frmDuplicates::cmdCancel_Click() { cancel_ = true; }

void frmDuplicates::cmdClose_Click() { close(); }

void frmDuplicates::done(int result)
{
    // Closing while the search runs stops it first; the window closes after.
    if (searching_) {
        cancel_ = true;
        return;
    }
    QDialog::done(bChanged ? QDialog::Accepted : result);
}

} // namespace kestrel
