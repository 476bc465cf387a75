#include "contacts/frmRemoved.h"

#include "data/Globals.h"
#include "data/SyncStore.h"
#include "ui/Report.h"
#include "ui/Ui.h"

#include <QLabel>
#include <QListWidget>
#include <QPushButton>

namespace kestrel {

frmRemoved::frmRemoved(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("frmRemoved"));
    setupDialog(this, QStringLiteral("Deleted on Phone"), 7200, 4560, true);
    setFont(designFont(QStringLiteral("Verdana"), 8.25));
    const Controls c = buildControls(this, {
        {"lblRemoved", ControlKind::Label, "&Deleted on the phone or the sync server:", 120, 120, 6960, 255},
        {"lstRemoved", ControlKind::ListBox, "", 120, 420, 6960, 3480, 1},
        {"cmdRestore", ControlKind::Button, "&Restore", 3960, 4050, 1455, 375, 2},
        {"cmdClose", ControlKind::Button, "Close", 5625, 4050, 1455, 375, 3},
    });
    lstRemoved = c.get<QListWidget>(QStringLiteral("lstRemoved"));
    cmdRestore = c.get<QPushButton>(QStringLiteral("cmdRestore"));
    cmdClose = c.get<QPushButton>(QStringLiteral("cmdClose"));
    c.get<QLabel>(QStringLiteral("lblRemoved"))->setBuddy(lstRemoved);
    lstRemoved->setAccessibleName(QStringLiteral("Deleted on the phone"));
    connect(cmdRestore, &QPushButton::clicked, this, &frmRemoved::cmdRestore_Click);
    connect(cmdClose, &QPushButton::clicked, this, &frmRemoved::cmdClose_Click);
    connect(lstRemoved, &QListWidget::itemDoubleClicked, this, &frmRemoved::cmdRestore_Click);
    PopRemoved();
}

void frmRemoved::PopRemoved()
{
    lstRemoved->clear();
    std::vector<RemovedRow> rows;
    if (!RunAction(sConnContacts, [&] { rows = loadRemovedRows(sConnContacts); }, QStringLiteral("PopRemoved"),
                   Owner::Form, QStringLiteral("frmRemoved")))
        return;
    for (const RemovedRow& r : rows) {
        const QDateTime when = QDateTime::fromString(r.removedAt, Qt::ISODate);
        addLine(lstRemoved,
                QStringLiteral("%1  %2  (%3)")
                    .arg(r.kind == SyncKind::Contacts ? QStringLiteral("Contact    ") : QStringLiteral("Appointment"),
                         r.summary, when.isValid() ? when.toString(QStringLiteral("M/d/yyyy h:mm AP")) : r.removedAt),
                int(r.id));
    }
    if (rows.empty())
        addLine(lstRemoved, QStringLiteral("Nothing was deleted on the phone."), 0);
    lstRemoved->setCurrentRow(0);
    cmdRestore->setEnabled(!rows.empty());
}

void frmRemoved::cmdRestore_Click()
{
    const QListWidgetItem* line = lstRemoved->currentItem();
    const int id = line ? line->data(Qt::UserRole).toInt() : 0;
    if (id == 0)
        return;
    if (!RunAction(sConnContacts, [&] { restoreRemovedRow(sConnContacts, id); }, QStringLiteral("cmdRestore_Click"),
                   Owner::Form, QStringLiteral("frmRemoved")))
        return;
    ++restored;
    const int row = lstRemoved->currentRow();
    PopRemoved();
    lstRemoved->setCurrentRow(std::min(row, lstRemoved->count() - 1));
}

void frmRemoved::cmdClose_Click() { accept(); }

} // namespace kestrel
