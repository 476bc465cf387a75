#pragma once
// File > Restore Backup: the copies of the data files, newest first, each with its date and what
// it holds; the chosen one is restored after a question (Enter or a double click on a line, or
// the Restore button), what Kestrel holds now being backed up first.
#include "data/Backup.h"
#include "ui/Ui.h"

#include <QDialog>

#include <vector>

class QLabel;
class QListWidget;
class QListWidgetItem;
class QPushButton;

namespace kestrel {

// One line of the list: weekday and date, the time of a later copy of the day, and the counts.
QString BackupLine(const BackupCopy& copy, const BackupCounts& counts);

class frmRestore : public QDialog {
    Q_OBJECT
public:
    explicit frmRestore(QWidget* parent = nullptr);

    // True once data were restored: the opener refills its lists.
    bool bRestored = false;

    void Form_Load();
    void lstCopies_Click();
    void lstCopies_DblClick(QListWidgetItem* item);
    void lstCopies_KeyDown(int key);
    void cmdRestore_Click();
    void cmdClose_Click();

    Controls controls;
    QLabel* lblWhere = nullptr;
    QListWidget* lstCopies = nullptr;
    QLabel* lblFolder = nullptr;
    QPushButton* cmdRestore = nullptr;
    QPushButton* cmdClose = nullptr;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The copy of the current line; -1 when the line stands for none.
    int chosen() const;
    std::vector<BackupCopy> copies_;
    std::vector<BackupCounts> counts_;
};

} // namespace kestrel
