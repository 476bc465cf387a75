#include "dialogs/frmOptions.h"

#include "ui/Accessible.h"
#include "ui/Ui.h"
#include "calendar/frmReminder.h"
#include "data/Office.h"
#include "dialogs/Settings.h"
#include "dialogs/frmSyncServer.h"
#include "ui/Desktop.h"
#include "platform/Platform.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace kestrel {

frmOptions::frmOptions(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("frmOptions"));
    // The close box rejects the dialog, which is Cancel.
    setupDialog(this, QStringLiteral("Options"), 3825, 3135, true);
    // The small dialogs are designed for a narrow sans-serif face at 8.25 points.
    setFont(designFont(QStringLiteral("Arial"), 8.25));
    const Controls c = buildControls(this, {
        {"chkGreet", ControlKind::CheckBox, "Show greeting when program starts", 240, 240, 2895, 255, 1},
        {"lblAlert", ControlKind::Label, "Remind before appointments:", 240, 630, 2055, 255},
        {"cboAlert", ControlKind::ComboList, "", 2340, 600, 1215, kAuto, 2},
        {"lblOffice", ControlKind::Label, "Office database:", 240, 1020, 3345, 255},
        {"txtOffice", ControlKind::TextBox, "", 240, 1290, 2655, 285, 3},
        {"cmdTest", ControlKind::Button, "Test", 2985, 1290, 600, 300, 4},
        {"lblOfficeNote", ControlKind::Label, "", 240, 1650, 3345, 435},
        {"lblSync", ControlKind::Label, "Sync with phones:", 240, 2160, 1815, 255},
        {"cmdSync", ControlKind::Button, "Sync &server\u2026", 2085, 2100, 1500, 345, 5},
        {"cmdSave", ControlKind::Button, "Save", 360, 2640, 1455, 375, 6},
        {"cmdCancel", ControlKind::Button, "Cancel", 2040, 2640, 1455, 375, 7},
    });
    cboAlert = c.get<QComboBox>(QStringLiteral("cboAlert"));
    for (const int m : kAlertChoices)
        cboAlert->addItem(m == 0 ? QStringLiteral("Off") : QStringLiteral("%1 minutes").arg(m), m);
    chkGreet = c.get<QCheckBox>(QStringLiteral("chkGreet"));
    cmdSave = c.get<QPushButton>(QStringLiteral("cmdSave"));
    cmdCancel = c.get<QPushButton>(QStringLiteral("cmdCancel"));
    txtOffice = c.get<QLineEdit>(QStringLiteral("txtOffice"));
    cmdTest = c.get<QPushButton>(QStringLiteral("cmdTest"));
    lblOfficeNote = c.get<QLabel>(QStringLiteral("lblOfficeNote"));
    lblOfficeNote->setWordWrap(true);
    describeBy(txtOffice, lblOfficeNote);
    cmdSync = c.get<QPushButton>(QStringLiteral("cmdSync"));
    connect(cmdSync, &QPushButton::clicked, this, &frmOptions::cmdSync_Click);
    connect(cmdTest, &QPushButton::clicked, this, &frmOptions::cmdTest_Click);
    connect(cmdSave, &QPushButton::clicked, this, &frmOptions::cmdSave_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &frmOptions::cmdCancel_Click);
    Form_Load();
}

void frmOptions::Form_Load()
{
    chkGreet->setChecked(GreetingEnabled());
    cboAlert->setCurrentIndex(cboAlert->findData(AlertMinutes()));
    const bool fromEnvironment = officeDatabaseFromEnvironment();
    txtOffice->setText(officeDatabase());
    txtOffice->setReadOnly(fromEnvironment);
    lblOfficeNote->setText(fromEnvironment
                               ? QStringLiteral("Set by %1 for this start; without it, what you choose here counts.")
                                     .arg(QString::fromLatin1(kOfficeVariable))
                               : QStringLiteral("Empty: the local files. A change takes effect at the next start."));
}

void frmOptions::cmdTest_Click()
{
    const QString conninfo = txtOffice->text().trimmed();
    if (conninfo.isEmpty()) {
        platform().msgBox(QStringLiteral("The box is empty, so Kestrel keeps its data in the local files."));
        return;
    }
    platform().setBusyCursor(true);
    const ServerProbe probe = probeServer(conninfo);
    platform().setBusyCursor(false);
    platform().msgBox(probeText(probe));
}

void frmOptions::cmdSync_Click()
{
    frmSyncServer window(this);
    desktop().runModal(window);
}

void frmOptions::cmdSave_Click()
{
    // Nothing is written while the box holds a password: the window stays for it to be taken out.
    if (!officeDatabaseFromEnvironment() && conninfoHasPassword(txtOffice->text())) {
        platform().msgBox(QStringLiteral(
            "Kestrel never keeps a password in its settings, so the office database was not saved. Please take the "
            "password out of the box.\n\nPut it in the file .pgpass in your home folder instead, one line "
            "host:port:database:user:password, readable by you alone (chmod 600 ~/.pgpass). Or leave it out: Kestrel "
            "then asks for it at the start and can keep it in the desktop's keyring."));
        txtOffice->setFocus();
        return;
    }
    SetGreetingEnabled(chkGreet->isChecked());
    SaveAlertMinutes(cboAlert->currentData().toInt());
    // The variable's value is this start's, not a choice to keep.
    if (!officeDatabaseFromEnvironment() && txtOffice->text().trimmed() != storedOfficeDatabase()) {
        saveOfficeDatabase(txtOffice->text());
        platform().msgBox(QStringLiteral("Kestrel uses the office database you chose from its next start."));
    }
    // Unlike the greeting, the reminders follow the choice at once.
    RearmAlerts();
    accept();
}

void frmOptions::cmdCancel_Click() { reject(); }

} // namespace kestrel
