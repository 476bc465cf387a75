#pragma once
// Asks for the first and last day whose appointments go into a calendar file.
#include "ui/Ui.h"

#include <QDate>
#include <QDialog>

class QPushButton;

namespace kestrel {

class DatePicker;

class frmICalRange : public QDialog {
    Q_OBJECT
public:
    explicit frmICalRange(QWidget* parent = nullptr);

    // Valid after the window was accepted.
    QDate fromDate() const;
    QDate toDate() const;

    void cmdExport_Click();
    void cmdCancel_Click();

    Controls controls;
    DatePicker* dtpFrom = nullptr;
    DatePicker* dtpTo = nullptr;
    QPushButton* cmdExport = nullptr;
    QPushButton* cmdCancel = nullptr;
};

} // namespace kestrel
