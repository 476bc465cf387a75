#pragma once
// Contacts > Deleted on Phone: the contacts and appointments a sync removed because the phone (or
// another client of the sync server) deleted them, newest first; Restore puts the chosen one back,
// and the next sync sends it to the phone again.
#include <QDialog>

class QListWidget;
class QPushButton;

namespace kestrel {

class frmRemoved : public QDialog {
    Q_OBJECT
public:
    explicit frmRemoved(QWidget* parent = nullptr);

    void PopRemoved();
    void cmdRestore_Click();
    void cmdClose_Click();

    QListWidget* lstRemoved = nullptr;
    QPushButton* cmdRestore = nullptr;
    QPushButton* cmdClose = nullptr;
    int restored = 0; // rows put back while the window was open
};

} // namespace kestrel
