#include "dialogs/frmAbout.h"

#include "ui/Ui.h"
#include "platform/Platform.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QStandardPaths>
#include <QStyle>

namespace kestrel {

const QStringList kSysInfoTools = {QStringLiteral("hardinfo2"), QStringLiteral("hardinfo"),
                                   QStringLiteral("kinfocenter"), QStringLiteral("cpu-x"),
                                   QStringLiteral("lshw-gtk"),  QStringLiteral("i-nex")};

AppVersion programVersion() { return {KESTREL_VERSION_MAJOR, KESTREL_VERSION_MINOR, KESTREL_VERSION_PATCH}; }

QString VersionText(const AppVersion& v)
{
    return QStringLiteral("Version %1.%2.%3").arg(v.major).arg(v.minor).arg(v.revision);
}

QString supportAddress() { return QStringLiteral(KESTREL_SUPPORT_ADDRESS).trimmed(); }

QString ReportWhereText(const QString& address)
{
    return address.isEmpty()
               ? QStringLiteral("This copy was built without a support address: please report problems to "
                                "whoever gave it to you.")
               : QStringLiteral("Please report problems to %1 (Help > Report a bug).").arg(address);
}

frmAbout::frmAbout(const AppVersion& version, QWidget* parent) : QDialog(parent), version_(version)
{
    setObjectName(QStringLiteral("frmAbout"));
    setupDialog(this, QStringLiteral("About"), 5730, 3555, true);
    // The small dialogs are designed for a narrow sans-serif face at 8.25 points.
    setFont(designFont(QStringLiteral("Arial"), 8.25));
    const Controls c = buildControls(this, {
        {"picIcon", ControlKind::Label, "", 240, 240, 540, 540},
        {"lblTitle", ControlKind::Label, "", 1050, 240, 3885, 480},
        {"lblVersion", ControlKind::Label, "", 1050, 780, 3885, 225},
        {"lblDescription", ControlKind::Label,
         "Keeps your leads and customers, your appointments and a short to-do list in one place, "
         "and prints blank lead forms and your lists.",
         1050, 1125, 3885, 1000},
        {"Line1", ControlKind::Label, "", 84, 2250, 5310, 15},
        {"Line2", ControlKind::Label, "", 84, 2265, 5310, 15},
        {"lblDisclaimer", ControlKind::Label, "", 255, 2625, 3870, 825},
        {"cmdOK", ControlKind::Button, "OK", 4245, 2625, 1260, 345, 1},
        {"cmdSysInfo", ControlKind::Button, "&System Info...", 4260, 3075, 1245, 345, 2},
    });
    picIcon = c.get<QLabel>(QStringLiteral("picIcon"));
    lblTitle = c.get<QLabel>(QStringLiteral("lblTitle"));
    lblVersion = c.get<QLabel>(QStringLiteral("lblVersion"));
    lblDescription = c.get<QLabel>(QStringLiteral("lblDescription"));
    lblDisclaimer = c.get<QLabel>(QStringLiteral("lblDisclaimer"));
    cmdOK = c.get<QPushButton>(QStringLiteral("cmdOK"));
    cmdSysInfo = c.get<QPushButton>(QStringLiteral("cmdSysInfo"));

    QIcon icon = QApplication::windowIcon();
    if (icon.isNull())
        icon = style()->standardIcon(QStyle::SP_ComputerIcon);
    picIcon->setPixmap(icon.pixmap(px(540), px(540)));
    lblTitle->setFont(designFont(QStringLiteral("Verdana"), 14, true));
    for (QLabel* l : {lblDescription, lblDisclaimer})
        l->setWordWrap(true);
    lblDisclaimer->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    lblDescription->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // An etched line: grey, with white one pixel below it.
    setBackground(c[QStringLiteral("Line1")], QColor(128, 128, 128));
    setBackground(c[QStringLiteral("Line2")], Qt::white);

    cmdOK->setDefault(true);
    connect(cmdOK, &QPushButton::clicked, this, &frmAbout::cmdOK_Click);
    connect(cmdSysInfo, &QPushButton::clicked, this, &frmAbout::cmdSysInfo_Click);
    Form_Load();
}

void frmAbout::Form_Load()
{
    setWindowTitle(QStringLiteral("About ") + kAppTitle);
    lblVersion->setText(VersionText(version_));
    lblTitle->setText(kAppTitle);
    lblDisclaimer->setText(QStringLiteral("Provided as is, without warranty. Your data stays in the data folder "
                                          "beside the program. ") +
                           ReportWhereText(supportAddress()));
}

void frmAbout::cmdOK_Click() { accept(); }

void frmAbout::cmdSysInfo_Click() { StartSysInfo(); }

void frmAbout::StartSysInfo()
{
    // There is no system-wide registry of such a tool here: the first one installed will do.
    for (const QString& tool : kSysInfoTools) {
        const QString path = QStandardPaths::findExecutable(tool);
        if (!path.isEmpty() && platform().startProgram(path, {}))
            return;
    }
    platform().msgBox(QStringLiteral("System Information Is Unavailable At This Time"));
}

} // namespace kestrel
