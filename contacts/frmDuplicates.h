#pragma once
// Find Duplicates: the stored contacts that are (or may be) one person, in pairs and groups,
// strongest first, with their values side by side; the user picks per field the value to keep
// and merges the pair or the whole group at once (Alt+M, no question: Undo Last Merge takes it
// back), or sets it aside as not the same.
#include "ui/Ui.h"
#include "data/ContactMerge.h"

#include <QDialog>
#include <QHash>

class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;
class QStandardItem;
class QStandardItemModel;
class QTableView;

namespace kestrel {

class frmDuplicates : public QDialog {
    Q_OBJECT
public:
    explicit frmDuplicates(QWidget* parent = nullptr);

    // Searches the stored contacts, with the progress shown and Cancel, and selects the
    // strongest pair. Runs once the window is shown.
    void Form_Load();
    void lstPairs_Click();
    void grdFields_Click(const QModelIndex& cell);
    void grdFields_ItemChanged(QStandardItem* item);
    void cmdMerge_Click();
    void cmdNotSame_Click();
    void cmdUndo_Click();
    void cmdCancel_Click();
    void cmdClose_Click();

    // True once a merge or an undo changed the stored contacts (the tree is then refilled).
    bool bChanged = false;

    Controls controls;
    QListWidget* lstPairs = nullptr;
    QTableView* grdFields = nullptr;
    QPushButton* cmdMerge = nullptr;
    QPushButton* cmdNotSame = nullptr;
    QPushButton* cmdUndo = nullptr;
    QPushButton* cmdCancel = nullptr;
    QPushButton* cmdClose = nullptr;
    QLabel* lblProgress = nullptr;
    QProgressBar* prgFind = nullptr;
    QLabel* lblMessage = nullptr;
    QStandardItemModel* fields = nullptr;

    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    struct Group {
        std::vector<int> ids; // contact keys, the oldest first (the one kept)
        Likeness likeness = Likeness::Possibly;
    };
    void fillPairs(int select);
    // Reads the contacts of the selected pair or group anew and shows them side by side.
    void showPair();
    MergePicks picks() const;
    int selectedGroup() const;

    std::vector<Group> pairs_;
    QHash<int, ContactRecord> known_; // the contacts of the pairs, as the list names them
    std::vector<ContactRecord> cards_;
    std::vector<QString> versions_;
    bool shown_ = false, searching_ = false, cancel_ = false;
    bool filling_ = false; // the grid is being filled or a value's twin set: no handler runs
};

// One line of the pair list: "Same", or "Possibly", and the cards as the tree names them.
QString DuplicateLine(Likeness likeness, const std::vector<ContactRecord>& cards);

// The merges of this run (each a pair's or a whole group's steps), the last on top, so Undo Last
// Merge works after the window is opened again.
std::vector<std::vector<MergeUndo>>& mergeHistory();
// Hands the run's last merge (when there is one) to Edit > Undo.
void rememberLastMerge();

} // namespace kestrel
