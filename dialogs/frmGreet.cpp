#include "dialogs/frmGreet.h"

#include "dialogs/Settings.h"

#include "ui/Ui.h"
#include "platform/Platform.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

namespace kestrel {

const QString frmGreet::kGreeting = QStringLiteral(
    "This screen is a reminder of how to get started using Kestrel.\n"
    "\n"
    "If you haven't already done so, it is recommended that you read\n"
    "the Help File. Press F1 or Menu->Help->Contents\n"
    "\n"
    "To enter contacts press F2 or Menu->Contacts->New\n"
    "\n"
    "To view contacts press F3 or Menu->Contacts->View\n"
    "\n"
    "To enter appointments press F7 or Menu->Appts->Schedule New\n"
    "\n"
    "To view the calendar press F6 or Menu->Appts->Calendar\n"
    "\n"
    "Good luck and we hope you enjoy our software.");

frmGreet::frmGreet(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("frmGreet"));
    setupDialog(this, QStringLiteral("Welcome to Kestrel"), 6990, 4050, false);
    // The small dialogs are designed for a narrow sans-serif face at 8.25 points.
    setFont(designFont(QStringLiteral("Arial"), 8.25));
    const Controls c = buildControls(this, {
        {"Label1", ControlKind::Label, "", 120, 0, 6735, 3375},
        {"chkShowGreet", ControlKind::CheckBox, "Show at startup", 2520, 3600, 1575, 255, 1},
        {"cmdOkay", ControlKind::Button, "Okay", 5400, 3480, 1455, 375, 2},
    });
    Label1 = c.get<QLabel>(QStringLiteral("Label1"));
    chkShowGreet = c.get<QCheckBox>(QStringLiteral("chkShowGreet"));
    cmdOkay = c.get<QPushButton>(QStringLiteral("cmdOkay"));
    Label1->setFont(designFont(QStringLiteral("Arial"), 8.25, true));
    Label1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    chkShowGreet->setChecked(true);
    cmdOkay->setDefault(true);
    connect(cmdOkay, &QPushButton::clicked, this, &frmGreet::cmdOkay_Click);
    if (QScreen* s = screen())
        move(s->availableGeometry().center() - QPoint(width() / 2, height() / 2));
    Form_Load();
}

void frmGreet::Form_Load() { Label1->setText(kGreeting); }

void frmGreet::cmdOkay_Click()
{
    SetGreetingEnabled(chkShowGreet->isChecked());
    accept();
}

} // namespace kestrel
