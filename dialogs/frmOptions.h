#pragma once
// File > Options: whether the greeting shows at the next start, how long before an appointment
// its reminder comes, and the office database (a libpq connection string; empty: the local files).
#include <QDialog>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace kestrel {

class frmOptions : public QDialog {
    Q_OBJECT
public:
    explicit frmOptions(QWidget* parent = nullptr);

    void Form_Load();
    void cmdSave_Click();
    void cmdCancel_Click();
    // Tries to reach the server the box names and says whether it answered, and as which user.
    void cmdTest_Click();
    // The sync server: File > Options > Sync server.
    void cmdSync_Click();

    QCheckBox* chkGreet = nullptr;
    QComboBox* cboAlert = nullptr;
    QPushButton* cmdSave = nullptr;
    QPushButton* cmdCancel = nullptr;
    QLineEdit* txtOffice = nullptr;
    QPushButton* cmdTest = nullptr;
    QLabel* lblOfficeNote = nullptr;
    QPushButton* cmdSync = nullptr;
};

} // namespace kestrel
