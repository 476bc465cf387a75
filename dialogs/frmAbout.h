#pragma once
// Help > About: title, version, a word on the product, and the system-information tool.
#include <QDialog>
#include <QStringList>

class QLabel;
class QPushButton;

namespace kestrel {

struct AppVersion {
    int major = 0, minor = 0, revision = 0;
};
// This build's version, as the build system numbers it.
AppVersion programVersion();
// "Version 2.3.1": each part as a plain number.
QString VersionText(const AppVersion& v);

// The address bug reports are mailed to, set when the program is built; empty when none was.
QString supportAddress();
// Where to report a problem, in plain words, for the about box and Help > Report a bug.
QString ReportWhereText(const QString& address);

// Programs that show this computer's hardware and software, looked for on the PATH in this order.
extern const QStringList kSysInfoTools;

class frmAbout : public QDialog {
    Q_OBJECT
public:
    explicit frmAbout(QWidget* parent = nullptr) : frmAbout(programVersion(), parent) {}
    explicit frmAbout(const AppVersion& version, QWidget* parent = nullptr);

    void Form_Load();
    void cmdOK_Click();
    void cmdSysInfo_Click();
    // Starts the first system-information tool found, or says there is none.
    void StartSysInfo();

    QLabel* picIcon = nullptr;
    QLabel* lblTitle = nullptr;
    QLabel* lblVersion = nullptr;
    QLabel* lblDescription = nullptr;
    QLabel* lblDisclaimer = nullptr;
    QPushButton* cmdOK = nullptr;
    QPushButton* cmdSysInfo = nullptr;

private:
    AppVersion version_;
};

} // namespace kestrel
