#pragma once
// The greeting shown at start when the user has asked for it: a reminder of the main commands.
#include <QDialog>

class QCheckBox;
class QLabel;
class QPushButton;

namespace kestrel {

class frmGreet : public QDialog {
    Q_OBJECT
public:
    explicit frmGreet(QWidget* parent = nullptr);

    void Form_Load();
    void cmdOkay_Click();

    QLabel* Label1 = nullptr;
    QCheckBox* chkShowGreet = nullptr;
    QPushButton* cmdOkay = nullptr;

    static const QString kGreeting;

public Q_SLOTS:
    // Okay is the only way out: Esc does not close the greeting.
    void reject() override {}
};

} // namespace kestrel
