#include "dialogs/frmOptions.h"

#include "app/Ui.h"
#include "dialogs/Settings.h"
#include "platform/Platform.h"

#include <QCheckBox>
#include <QPushButton>

namespace kestrel {

frmOptions::frmOptions(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("frmOptions"));
    // The close box rejects the dialog, which is Cancel.
    setupDialog(this, QStringLiteral("Options"), 3825, 1215, true);
    // The small dialogs are designed for a narrow sans-serif face at 8.25 points.
    setFont(designFont(QStringLiteral("Arial"), 8.25));
    const Controls c = buildControls(this, {
        {"chkGreet", Kind::CheckBox, "Show greeting when program starts", 240, 240, 2895, 255, 1},
        {"cmdSave", Kind::Button, "Save", 360, 720, 1455, 375, 2},
        {"cmdCancel", Kind::Button, "Cancel", 2040, 720, 1455, 375, 3},
    });
    chkGreet = c.get<QCheckBox>(QStringLiteral("chkGreet"));
    cmdSave = c.get<QPushButton>(QStringLiteral("cmdSave"));
    cmdCancel = c.get<QPushButton>(QStringLiteral("cmdCancel"));
    connect(cmdSave, &QPushButton::clicked, this, &frmOptions::cmdSave_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &frmOptions::cmdCancel_Click);
    Form_Load();
}

void frmOptions::Form_Load() { chkGreet->setChecked(GreetingEnabled()); }

void frmOptions::cmdSave_Click()
{
    platform().saveSetting(QStringLiteral("Kestrel"), QStringLiteral("App"), QStringLiteral("Greet"),
                           chkGreet->isChecked() ? QStringLiteral("T") : QStringLiteral("F"));
    accept();
}

void frmOptions::cmdCancel_Click() { reject(); }

} // namespace kestrel
