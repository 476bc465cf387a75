#pragma once
// Find: a search box over every contact's name, company, city, e-mail and phone, with the
// matching contacts listed as the user types. Enter or a double click picks one.
#include "ui/Ui.h"
#include "data/SearchIndex.h"

#include <QDialog>

#include <functional>

class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QTimer;

namespace kestrel {

class frmFind : public QDialog {
    Q_OBJECT
public:
    explicit frmFind(QWidget* parent = nullptr);

    // The id of the contact picked, 0 until one is.
    int lFoundID = 0;

    // Refills the list for what the search box holds.
    void PopFound();
    void txtFind_Change();
    void lstFound_DblClick(QListWidgetItem* item);

    // The most contacts listed at once; more matches are announced by a last line.
    static constexpr int kMaxListed = 200;

    Controls controls;
    QLineEdit* txtFind = nullptr;
    QListWidget* lstFound = nullptr;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Picks the contact of the current line (the first when none is current).
    void pickCurrent();
    void moveCurrent(int step);

    QTimer* countSaid_ = nullptr;
    QTimer* untilReady_ = nullptr; // searches again while the index is being built
};

// One line of the list: last name, first name, company, city and phone in columns.
QString FoundLine(const FoundContact& contact);
// What the list holds, as assistive software says it once typing pauses; empty before a search.
QString FoundCountText(const FoundContacts& found, bool searched);
// What Find lists while its index is being built.
QString NotReadyText(qint64 waiting);

class SearchIndexJob;
// Says in the status bar how far the building of Find's index has come, and when it is done.
void FollowSearchIndex(SearchIndexJob& job, std::function<void(const QString&)> showStatus);

} // namespace kestrel
