#include "dialogs/frmOptions.h"

#include "ui/Ui.h"
#include "calendar/frmReminder.h"
#include "dialogs/Settings.h"
#include "platform/Platform.h"

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>

namespace kestrel {

frmOptions::frmOptions(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("frmOptions"));
    // The close box rejects the dialog, which is Cancel.
    setupDialog(this, QStringLiteral("Options"), 3825, 1575, true);
    // The small dialogs are designed for a narrow sans-serif face at 8.25 points.
    setFont(designFont(QStringLiteral("Arial"), 8.25));
    const Controls c = buildControls(this, {
        {"chkGreet", ControlKind::CheckBox, "Show greeting when program starts", 240, 240, 2895, 255, 1},
        {"lblAlert", ControlKind::Label, "Remind before appointments:", 240, 630, 2055, 255},
        {"cboAlert", ControlKind::ComboList, "", 2340, 600, 1215, kAuto, 2},
        {"cmdSave", ControlKind::Button, "Save", 360, 1080, 1455, 375, 3},
        {"cmdCancel", ControlKind::Button, "Cancel", 2040, 1080, 1455, 375, 4},
    });
    cboAlert = c.get<QComboBox>(QStringLiteral("cboAlert"));
    for (const int m : kAlertChoices)
        cboAlert->addItem(m == 0 ? QStringLiteral("Off") : QStringLiteral("%1 minutes").arg(m), m);
    chkGreet = c.get<QCheckBox>(QStringLiteral("chkGreet"));
    cmdSave = c.get<QPushButton>(QStringLiteral("cmdSave"));
    cmdCancel = c.get<QPushButton>(QStringLiteral("cmdCancel"));
    connect(cmdSave, &QPushButton::clicked, this, &frmOptions::cmdSave_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &frmOptions::cmdCancel_Click);
    Form_Load();
}

void frmOptions::Form_Load()
{
    chkGreet->setChecked(GreetingEnabled());
    cboAlert->setCurrentIndex(cboAlert->findData(AlertMinutes()));
}

void frmOptions::cmdSave_Click()
{
    SetGreetingEnabled(chkGreet->isChecked());
    SaveAlertMinutes(cboAlert->currentData().toInt());
    // Unlike the greeting, the reminders follow the choice at once.
    RearmAlerts();
    accept();
}

void frmOptions::cmdCancel_Click() { reject(); }

} // namespace kestrel
