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
constexpr int kKeptColumn = 1, kOtherColumn = 2;

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
} // namespace

std::vector<MergeUndo>& mergeHistory()
{
    static std::vector<MergeUndo> history;
    return history;
}

QString DuplicateLine(Likeness likeness, const ContactRecord& a, const ContactRecord& b)
{
    return (likeness == Likeness::Same ? QStringLiteral("Same:      ") : QStringLiteral("Possibly:  ")) + shownName(a) +
           QStringLiteral("   and   ") + shownName(b);
}

frmDuplicates::frmDuplicates(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("frmDuplicates"));
    setupDialog(this, QStringLiteral("Find Duplicates"), 10080, 7200, true);
    setFont(designFont(QStringLiteral("Verdana"), 8.25));
    controls = buildControls(this, {
        {"lblPairs", ControlKind::Label, "&Pairs, the strongest first:", 120, 120, 6000, 255},
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
        for (const DuplicatePair& p : found.pairs) {
            const ContactRecord& a = found.contacts[size_t(p.first)];
            const ContactRecord& b = found.contacts[size_t(p.second)];
            pairs_.push_back({std::min(a.id, b.id), std::max(a.id, b.id), p.likeness});
            known_.insert(a.id, a);
            known_.insert(b.id, b);
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
        addLine(lstPairs, DuplicateLine(pairs_[i].likeness, known_.value(pairs_[i].a), known_.value(pairs_[i].b)),
                int(i) + 1);
        if (i >= 500) { // the rest are listed as the first ones are dealt with
            addLine(lstPairs, QStringLiteral("... and %1 more pairs").arg(pairs_.size() - i - 1), 0);
            break;
        }
    }
    if (pairs_.empty() && lblMessage->text().isEmpty())
        lblMessage->setText(QStringLiteral("No duplicates were found."));
    else if (!pairs_.empty())
        lblMessage->setText(pairs_.size() == 1 ? QStringLiteral("1 pair found.")
                                               : QStringLiteral("%1 pairs found.").arg(pairs_.size()));
    announce(lblMessage, lblMessage->text());
    if (!pairs_.empty())
        lstPairs->setCurrentRow(std::clamp(select, 0, int(std::min<size_t>(pairs_.size(), 501)) - 1));
    showPair();
}

void frmDuplicates::lstPairs_Click() { showPair(); }

void frmDuplicates::showPair()
{
    // The model's own signals keep the grid in step; only this window's handler is kept out.
    filling_ = true;
    const auto filled = qScopeGuard([this] { filling_ = false; });
    fields->setRowCount(0);
    const QListWidgetItem* line = lstPairs->currentItem();
    const int at = line ? line->data(Qt::UserRole).toInt() - 1 : -1;
    bool both = false;
    if (at >= 0) {
        const Pair& p = pairs_[size_t(at)];
        try {
            kept_ = {};
            other_ = {};
            both = readContact(sConnContacts, p.a, &kept_) && readContact(sConnContacts, p.b, &other_);
            if (both) {
                keptVersion_ = rowVersion(sConnContacts, contactKey(p.a));
                otherVersion_ = rowVersion(sConnContacts, contactKey(p.b));
            }
        } catch (const std::exception& e) {
            ReportFailure(e, QStringLiteral("showPair"), Owner::Form, QStringLiteral("frmDuplicates"));
            both = false;
        }
    }
    cmdMerge->setEnabled(both);
    cmdNotSame->setEnabled(both);
    if (!both)
        return;
    const MergeChoice pre = preselectMerge(kept_, other_);
    const auto& all = contactFields();
    for (int f = 0; f < cf::Count; ++f) {
        auto* caption = new QStandardItem(QString::fromLatin1(all[size_t(f)].caption));
        caption->setFlags(Qt::ItemIsEnabled);
        QList<QStandardItem*> row{caption};
        for (const ContactRecord* c : {&kept_, &other_}) {
            const QString v = f == cf::Birthday ? birthdayText(c->value(f)) : c->value(f);
            auto* cell = new QStandardItem(isolated(oneLine(v)));
            cell->setToolTip(v);
            cell->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
            const bool chosen = pre[size_t(f)] == (c == &other_);
            cell->setCheckState(chosen ? Qt::Checked : Qt::Unchecked);
            row << cell;
        }
        fields->appendRow(row);
    }
    grdFields->setCurrentIndex(fields->index(0, kKeptColumn));
}

MergeChoice frmDuplicates::choice() const
{
    MergeChoice c{};
    for (int f = 0; f < cf::Count && f < fields->rowCount(); ++f)
        c[size_t(f)] = fields->item(f, kOtherColumn)->checkState() == Qt::Checked;
    return c;
}

void frmDuplicates::grdFields_Click(const QModelIndex& cell)
{
    if (!cell.isValid() || cell.column() == 0)
        return;
    fields->item(cell.row(), cell.column())->setCheckState(Qt::Checked);
}

void frmDuplicates::grdFields_ItemChanged(QStandardItem* item)
{
    // The two values of a field are a choice of one: picking one unpicks the other, and
    // unticking the picked one picks the other.
    if (filling_ || item->column() == 0)
        return;
    QStandardItem* twin = fields->item(item->row(), item->column() == kKeptColumn ? kOtherColumn : kKeptColumn);
    filling_ = true;
    twin->setCheckState(item->checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked);
    filling_ = false;
}

void frmDuplicates::cmdMerge_Click()
{
    const QListWidgetItem* line = lstPairs->currentItem();
    const int at = line ? line->data(Qt::UserRole).toInt() - 1 : -1;
    if (at < 0 || kept_.id == 0 || other_.id == 0)
        return;
    const ContactRecord merged = mergedContact(kept_, other_, choice());
    MergeResult result;
    if (!RunAction(sConnContacts, [&] { result = mergeContacts(sConnContacts, kept_, keptVersion_, other_, otherVersion_, merged); },
                   QStringLiteral("cmdMerge_Click"), Owner::Form, QStringLiteral("frmDuplicates")))
        return;
    if (result.outcome == MergeOutcome::Changed) {
        platform().msgBox(QStringLiteral("Someone changed one of these two contacts since they were shown here. Nothing "
                                         "was merged; the pair is shown again as it is now."));
        showPair();
        return;
    }
    if (result.outcome == MergeOutcome::Gone) {
        platform().msgBox(QStringLiteral("One of these two contacts was deleted meanwhile. Nothing was merged."));
        pairs_.erase(pairs_.begin() + at);
        fillPairs(at);
        return;
    }
    bChanged = true;
    mergeHistory().push_back(result.undo);
    rememberLastMerge();
    known_.insert(kept_.id, merged);
    known_.remove(other_.id);
    // The other's pairs now stand for the kept contact; a pair of the kept one with itself goes.
    const int keptId = kept_.id, goneId = other_.id;
    pairs_.erase(pairs_.begin() + at);
    for (Pair& p : pairs_) {
        if (p.a == goneId)
            p.a = keptId;
        if (p.b == goneId)
            p.b = keptId;
        if (p.a > p.b)
            std::swap(p.a, p.b);
    }
    // A group of three became two pairs of the kept one with the third: the strongest stays.
    QSet<quint64> seen;
    seen.reserve(qsizetype(pairs_.size()));
    std::erase_if(pairs_, [&seen](const Pair& p) {
        const quint64 key = quint64(quint32(p.a)) << 32 | quint32(p.b);
        if (p.a == p.b || seen.contains(key))
            return true;
        seen.insert(key);
        return false;
    });
    lblMessage->clear();
    fillPairs(at);
    lblMessage->setText(QStringLiteral("Merged %1 into %2. ").arg(result.undo.otherName, result.undo.keptName) +
                        lblMessage->text());
    announce(lblMessage, lblMessage->text());
    cmdUndo->setEnabled(true);
}

void frmDuplicates::cmdNotSame_Click()
{
    const QListWidgetItem* line = lstPairs->currentItem();
    const int at = line ? line->data(Qt::UserRole).toInt() - 1 : -1;
    if (at < 0)
        return;
    const Pair p = pairs_[size_t(at)];
    if (!RunAction(sConnContacts, [&] { rememberNotSame(sConnContacts, p.a, p.b); }, QStringLiteral("cmdNotSame_Click"),
                   Owner::Form, QStringLiteral("frmDuplicates")))
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
    const MergeUndo undo = mergeHistory().back();
    const std::span<MergeUndo> earlier(mergeHistory().data(), mergeHistory().size() - 1);
    UndoOutcome outcome = UndoOutcome::Changed;
    if (!RunAction(sConnContacts, [&] { outcome = undoMerge(sConnContacts, undo, earlier); }, QStringLiteral("cmdUndo_Click"),
                   Owner::Form, QStringLiteral("frmDuplicates")))
        return false;
    mergeHistory().pop_back();
    rememberLastMerge();
    if (outcome == UndoOutcome::Changed) {
        platform().msgBox(QStringLiteral("%1 was changed or deleted after the merge, so the merge can no longer be "
                                         "taken back. Nothing was changed.").arg(undo.keptName));
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
    const MergeUndo top = mergeHistory().back();
    rememberChange({QStringLiteral("Merge Contacts '%1'").arg(top.keptName), [top] {
        const bool stillLast = !mergeHistory().empty() && mergeHistory().back().keptId == top.keptId &&
                               mergeHistory().back().otherId == top.otherId &&
                               mergeHistory().back().keptVersionAfter == top.keptVersionAfter;
        if (!stillLast) {
            platform().msgBox(QStringLiteral("The merge of %1 and %2 was already taken back.").arg(top.keptName, top.otherName));
            return false;
        }
        return takeBackLastMerge();
    }});
}

void frmDuplicates::cmdUndo_Click()
{
    if (mergeHistory().empty())
        return;
    const MergeUndo undo = mergeHistory().back();
    const bool undone = takeBackLastMerge();
    cmdUndo->setEnabled(!mergeHistory().empty());
    if (!undone)
        return;
    bChanged = true;
    for (const int id : {undo.keptId, undo.otherId}) {
        ContactRecord c;
        try {
            if (readContact(sConnContacts, id, &c))
                known_.insert(id, c);
        } catch (const DbError&) {
        }
    }
    pairs_.insert(pairs_.begin(), Pair{std::min(undo.keptId, undo.otherId), std::max(undo.keptId, undo.otherId), Likeness::Same});
    lblMessage->clear();
    fillPairs(0);
    lblMessage->setText(QStringLiteral("The merge of %1 and %2 was taken back. ").arg(undo.keptName, undo.otherName) +
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
