#pragma once
// The small dialog that maps one CSV field to a contact field or marks it for deletion.
#include "ui/Ui.h"

#include <QDialog>

class QComboBox;
class QLabel;
class QPushButton;

namespace kestrel {

class frmImport;

class frmMapField : public QDialog {
    Q_OBJECT
public:
    // Loading the dialog clears the import window's choice, so closing it any other way than
    // through Map leaves "" (delete) or, from the frame, the cancel flag.
    explicit frmMapField(frmImport* importWindow);

    void cmdMap_Click();
    void cmdDelete_Click();

    // Closing from the window frame (or Escape) is a cancel, not a decision.
    void reject() override;

    Controls controls;
    QLabel* Label1 = nullptr;
    QLabel* lblField = nullptr;
    QComboBox* cboMapTo = nullptr;
    QPushButton* cmdMap = nullptr;
    QPushButton* cmdDelete = nullptr;

protected:
    void showEvent(QShowEvent* event) override;

private:
    frmImport* import_;
};

} // namespace kestrel
