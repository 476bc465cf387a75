#pragma once
// The contact editor: creates, changes or deletes one contact.
#include "ui/Ui.h"

#include <QDialog>

class QComboBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;

namespace kestrel {

struct RowKey;

class frmLead : public QDialog {
    Q_OBJECT
public:
    explicit frmLead(QWidget* parent = nullptr);

    // True: shows and saves the stored contact lLeadID; false: creates a new contact.
    // Read when the window is first shown.
    bool bEditMode = false;

    void Form_Load();
    void PopContactTypes();
    void cmdSave_Click();
    void cmdDelete_Click();
    void cmdCloseLead_Click();

    // The UPDATE (edit mode) or INSERT statement that Save runs for what the boxes hold now.
    QString SaveStatement() const;

    Controls controls;
    // The one-line boxes by their index; the address (3) is txtAddress, of several lines.
    QLineEdit* txtLead[13] = {};
    QPlainTextEdit* txtAddress = nullptr;
    QComboBox* cmbType = nullptr;
    QRadioButton* optActive = nullptr;
    QRadioButton* optInActive = nullptr;
    QPushButton* cmdSave = nullptr;
    QPushButton* cmdDelete = nullptr;
    QPushButton* cmdCloseLead = nullptr;
    // The fields added later, below the first ones.
    QLineEdit* txtCountry = nullptr;
    QLineEdit* txtJobTitle = nullptr;
    QLineEdit* txtBirthday = nullptr;
    QLineEdit* txtWebSite = nullptr;
    QPlainTextEdit* txtNotes = nullptr;

    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    RowKey row() const;
    // ", country='...', ..." for the UPDATE: the fields added later.
    QString laterAssignments() const;
    // The birthday box as stored (1980-03-07, --03-07), or as typed when it is not a day.
    QString storedBirthday() const;
    // The address box as stored: the stored value itself while the box shows it unchanged (its
    // line breaks may be CR LF, which the box shows as one break).
    QString storedAddress() const;
    QString loadedAddress_;
    // The version of the contact as the window showed it; a save checks it is still stored.
    QString seenVersion_;
    bool loaded_ = false;
    bool unloaded_ = false;
};

} // namespace kestrel
