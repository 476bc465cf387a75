#pragma once
// Edit > Trash: what was deleted, newest first, each line a contact, an appointment, a history
// entry, a to-do item (from the to-do file's own trash) or a whole import taken back; Restore puts the chosen one back under its own key (Enter or a double click
// too), Delete Forever removes it for good after a question.
#include "data/Trash.h"
#include "ui/Ui.h"

#include <QDialog>

#include <vector>

class QLabel;
class QListWidget;
class QListWidgetItem;
class QPushButton;

namespace kestrel {

// One line of the list: when, what, and who deleted it in an office.
QString TrashLine(const TrashBatch& batch);

class frmTrash : public QDialog {
    Q_OBJECT
public:
    explicit frmTrash(QWidget* parent = nullptr);

    // True once something was restored: the opener refills its lists.
    bool bRestored = false;

    void Form_Load();
    void lstTrash_Click();
    void lstTrash_DblClick(QListWidgetItem* item);
    void lstTrash_KeyDown(int key);
    void cmdRestore_Click();
    void cmdDeleteForever_Click();
    void cmdClose_Click();

    Controls controls;
    QLabel* lblKept = nullptr;
    QListWidget* lstTrash = nullptr;
    QPushButton* cmdRestore = nullptr;
    QPushButton* cmdDeleteForever = nullptr;
    QPushButton* cmdClose = nullptr;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The batch of the current line; -1 when the line stands for none.
    int chosen() const;
    std::vector<TrashBatch> batches_;
};

} // namespace kestrel
