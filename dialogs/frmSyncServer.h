#pragma once
// File > Options > Sync server: the server's address, the user name and password, a Test that
// says which address books and calendars the server has (or why it could not tell), the address
// book and calendar to sync with (or new "Kestrel" ones), and how often to sync.
#include "sync/Discovery.h"

#include <QDialog>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace kestrel {

class frmSyncServer : public QDialog {
    Q_OBJECT
public:
    explicit frmSyncServer(QWidget* parent = nullptr);

    void Form_Load();
    void cmdTest_Click();
    void cmdNewBook_Click();
    void cmdNewCal_Click();
    void cmdSave_Click();
    void cmdCancel_Click();

    QLineEdit* txtServer = nullptr;
    QLineEdit* txtUser = nullptr;
    QLineEdit* txtPassword = nullptr;
    QPushButton* cmdTest = nullptr;
    QLabel* lblFound = nullptr;
    QComboBox* cboBook = nullptr;
    QPushButton* cmdNewBook = nullptr;
    QComboBox* cboCal = nullptr;
    QPushButton* cmdNewCal = nullptr;
    QComboBox* cboEvery = nullptr;
    QLabel* lblNote = nullptr;
    QPushButton* cmdSave = nullptr;
    QPushButton* cmdCancel = nullptr;

private:
    QString password() const;
    void fill(QComboBox* box, const std::vector<sync::Found>& found, const QString& chosen);
    void make(SyncKind kind);
    sync::Discovery found_;
    bool tested_ = false;
};

} // namespace kestrel
