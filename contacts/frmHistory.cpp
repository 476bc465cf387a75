#include "contacts/frmHistory.h"

#include "contacts/frmLogEntry.h"
#include "data/Globals.h"
#include "data/History.h"
#include "data/modData.h"
#include "platform/Platform.h"
#include "ui/Accessible.h"
#include "ui/Desktop.h"
#include "ui/Report.h"

#include <QComboBox>
#include <QKeyEvent>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>

namespace kestrel {

frmHistory::frmHistory(int contactId, QWidget* parent) : QDialog(parent), contactId_(contactId)
{
    setObjectName(QStringLiteral("frmHistory"));
    setupDialog(this, QStringLiteral("History"), 8640, 6240, true);
    setFont(designFont(QStringLiteral("Verdana"), 8.25));

    controls = buildControls(this, {
        {"lblWhose", ControlKind::Label, "Contact:", 120, 120, kAuto, kAuto},
        {"lblKind", ControlKind::Label, "Kind:", 4440, 120, kAuto, kAuto},
        {"cboWhose", ControlKind::ComboList, "", 120, 360, 4095, kAuto, 1},
        {"cboKind", ControlKind::ComboList, "", 4440, 360, 1935, kAuto, 2},
        {"lstHistory", ControlKind::ListBox, "", 120, 780, 8400, 3300, 3, 0, "Entries"},
        {"lblNote", ControlKind::Label, "Note:", 120, 4200, kAuto, kAuto},
        {"txtNote", ControlKind::MultiText, "", 120, 4440, 8400, 1095, kNotStop},
        {"cmdOpen", ControlKind::Button, "&Open", 3480, 5700, 1455, 375, 4},
        {"cmdDelete", ControlKind::Button, "&Delete", 5160, 5700, 1455, 375, 5},
        {"cmdClose", ControlKind::Button, "Close", 6840, 5700, 1455, 375, 6},
    });
    cboWhose = controls.get<QComboBox>(QStringLiteral("cboWhose"));
    cboKind = controls.get<QComboBox>(QStringLiteral("cboKind"));
    lstHistory = controls.get<QListWidget>(QStringLiteral("lstHistory"));
    txtNote = controls.get<QPlainTextEdit>(QStringLiteral("txtNote"));
    cmdOpen = controls.get<QPushButton>(QStringLiteral("cmdOpen"));
    cmdDelete = controls.get<QPushButton>(QStringLiteral("cmdDelete"));
    cmdClose = controls.get<QPushButton>(QStringLiteral("cmdClose"));
    txtNote->setReadOnly(true);
    setBackground(txtNote, palette().color(QPalette::Window));
    for (QPushButton* b : {cmdOpen, cmdDelete, cmdClose})
        b->setAutoDefault(false);

    QString name;
    if (contactId_ > 0) {
        try {
            name = contactName(sConnContacts, contactId_);
        } catch (const std::exception& e) {
            ReportFailure(e, QStringLiteral("Form_Load"), Owner::Form, QStringLiteral("frmHistory"));
        }
        cboWhose->addItem(name.isEmpty() ? QStringLiteral("(no name)") : name, contactId_);
    }
    cboWhose->addItem(kDeletedContacts, 0);
    cboKind->addItem(kAllKinds);
    cboKind->addItems(kHistoryKinds);

    connect(cboWhose, &QComboBox::activated, this, &frmHistory::cboWhose_Click);
    connect(cboKind, &QComboBox::activated, this, &frmHistory::cboKind_Click);
    connect(lstHistory, &QListWidget::currentRowChanged, this, &frmHistory::lstHistory_Click);
    connect(lstHistory, &QListWidget::itemActivated, this, &frmHistory::lstHistory_DblClick, Qt::QueuedConnection);
    connect(cmdOpen, &QPushButton::clicked, this, &frmHistory::lstHistory_DblClick);
    connect(cmdDelete, &QPushButton::clicked, this, &frmHistory::cmdDelete_Click);
    connect(cmdClose, &QPushButton::clicked, this, &QDialog::reject);
    lstHistory->installEventFilter(this);
    pickOnAccessibleSelect(lstHistory, [this](const QModelIndex& line) {
        lstHistory->setCurrentRow(line.row());
        lstHistory_DblClick();
    });
    PopHistory();
}

int frmHistory::shownContact() const { return cboWhose->currentData().toInt(); }

void frmHistory::PopHistory()
{
    const int keep = lstHistory->currentItem() ? lstHistory->currentItem()->data(Qt::UserRole).toInt() : 0;
    lstHistory->clear();
    txtNote->clear();
    std::vector<HistoryEntry> found;
    const QString kind = cboKind->currentIndex() > 0 ? cboKind->currentText() : QString();
    try {
        found = contactHistory(sConnContacts, shownContact(), kind);
    } catch (const std::exception& e) {
        ReportFailure(e, QStringLiteral("PopHistory"), Owner::Form, QStringLiteral("frmHistory"));
        return;
    }
    for (const HistoryEntry& e : found) {
        // The deleted contacts' entries say whose they were.
        const QString whose = shownContact() == 0 && !e.contactName.isEmpty() ? e.contactName + QStringLiteral(": ") : QString();
        addLine(lstHistory, whose + HistoryLine(e), int(e.id));
        lstHistory->item(lstHistory->count() - 1)->setData(Qt::UserRole + 1, e.note);
    }
    if (found.empty())
        addLine(lstHistory, QStringLiteral("(no entries)"), 0);
    int row = 0;
    for (int i = 0; i < lstHistory->count(); ++i)
        if (keep && lstHistory->item(i)->data(Qt::UserRole).toInt() == keep)
            row = i;
    lstHistory->setCurrentRow(row);
    const bool any = !found.empty();
    cmdOpen->setEnabled(any);
    cmdDelete->setEnabled(any);
    lstHistory->setAccessibleDescription(found.size() == 1 ? QStringLiteral("1 entry")
                                                           : QStringLiteral("%1 entries").arg(found.size()));
}

void frmHistory::cboWhose_Click() { PopHistory(); }
void frmHistory::cboKind_Click() { PopHistory(); }

void frmHistory::lstHistory_Click()
{
    const QListWidgetItem* item = lstHistory->currentItem();
    txtNote->setPlainText(item ? item->data(Qt::UserRole + 1).toString() : QString());
}

void frmHistory::lstHistory_DblClick()
{
    const QListWidgetItem* item = lstHistory->currentItem();
    const int id = item ? item->data(Qt::UserRole).toInt() : 0;
    if (id == 0)
        return;
    int accepted = QDialog::Rejected;
    {
        frmLogEntry editor(shownContact(), id, this);
        accepted = desktop().runModal(editor);
    }
    if (accepted != QDialog::Accepted)
        return;
    changed_ = true;
    PopHistory();
}

void frmHistory::cmdDelete_Click()
{
    const QListWidgetItem* item = lstHistory->currentItem();
    const int id = item ? item->data(Qt::UserRole).toInt() : 0;
    if (id == 0)
        return;
    if (!platform().askYesNo(QStringLiteral("Delete this entry of the history?\n\n") + item->text(),
                             QStringLiteral("Delete Entry")))
        return;
    const int row = lstHistory->currentRow();
    const int deleted = ActionQueryCount(HistoryDeleteStatement(id), sConnContacts);
    if (deleted < 0)
        return;
    if (deleted == 0)
        platform().msgBox(QStringLiteral("This entry had already been deleted elsewhere; nothing was deleted."));
    changed_ = true;
    PopHistory();
    lstHistory->setCurrentRow(std::min(row, lstHistory->count() - 1));
}

bool frmHistory::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == lstHistory && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Delete) {
        cmdDelete_Click();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

} // namespace kestrel
