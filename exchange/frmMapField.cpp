#include "exchange/frmMapField.h"

#include "exchange/frmImport.h"
#include "exchange/modImport.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>

namespace kestrel {

frmMapField::frmMapField(frmImport* importWindow) : QDialog(importWindow), import_(importWindow)
{
    setObjectName(QStringLiteral("frmMapField"));
    setupDialog(this, QStringLiteral("Map Fields"), 6555, 1425, true);
    setFont(designFont(QStringLiteral("Verdana"), 8.25));
    const QString header = QStringLiteral("From") + QString(54, u' ') + QStringLiteral("Map To");
    controls = buildControls(this, {
        {"Label1", ControlKind::Label, "", 120, 120, 6315, 255},
        {"lblField", ControlKind::Label, "", 120, 480, 3255, 255},
        {"cboMapTo", ControlKind::ComboList, "", 3480, 420, 2955, 315, 1, 0, "Map To"},
        {"cmdMap", ControlKind::Button, "Map", 3480, 900, 1335, 375, 2},
        {"cmdDelete", ControlKind::Button, "Delete From Field", 4920, 900, 1515, 375, 3},
    });
    Label1 = controls.get<QLabel>(QStringLiteral("Label1"));
    Label1->setText(header);
    lblField = controls.get<QLabel>(QStringLiteral("lblField"));
    cboMapTo = controls.get<QComboBox>(QStringLiteral("cboMapTo"));
    cmdMap = controls.get<QPushButton>(QStringLiteral("cmdMap"));
    cmdDelete = controls.get<QPushButton>(QStringLiteral("cmdDelete"));
    // The field being mapped labels the list: "Surname, combo box, Last Name".
    lblField->setBuddy(cboMapTo);
    cboMapTo->addItems(kCsvTargets);
    cboMapTo->setCurrentIndex(-1);
    for (QPushButton* b : {cmdMap, cmdDelete})
        b->setAutoDefault(false);

    connect(cmdMap, &QPushButton::clicked, this, &frmMapField::cmdMap_Click);
    connect(cmdDelete, &QPushButton::clicked, this, &frmMapField::cmdDelete_Click);

    if (import_)
        import_->sMapTo.clear();
}

void frmMapField::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (import_)
        move(import_->pos());
}

void frmMapField::cmdMap_Click()
{
    if (cboMapTo->currentIndex() < 0)
        return;
    if (import_)
        import_->sMapTo = cboMapTo->currentText();
    accept();
}

void frmMapField::cmdDelete_Click() { accept(); }

void frmMapField::reject()
{
    if (import_)
        import_->bCancelMapField = true;
    QDialog::reject();
}

} // namespace kestrel
