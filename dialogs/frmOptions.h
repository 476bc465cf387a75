#pragma once
// File > Options: whether the greeting shows at the next start, and how long before an
// appointment its reminder comes.
#include <QDialog>

class QCheckBox;
class QComboBox;
class QPushButton;

namespace kestrel {

class frmOptions : public QDialog {
    Q_OBJECT
public:
    explicit frmOptions(QWidget* parent = nullptr);

    void Form_Load();
    void cmdSave_Click();
    void cmdCancel_Click();

    QCheckBox* chkGreet = nullptr;
    QComboBox* cboAlert = nullptr;
    QPushButton* cmdSave = nullptr;
    QPushButton* cmdCancel = nullptr;
};

} // namespace kestrel
