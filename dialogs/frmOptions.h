#pragma once
// File > Options: whether the greeting shows at the next start.
#include <QDialog>

class QCheckBox;
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
    QPushButton* cmdSave = nullptr;
    QPushButton* cmdCancel = nullptr;
};

} // namespace kestrel
