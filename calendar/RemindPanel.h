#pragma once
// The reminder panel fraRemind: the appointments of today and the next seven days beside the
// to-do list.
#include <QObject>
#include <QPoint>

class QGroupBox;
class QLabel;
class QListWidget;
class QPushButton;

namespace kestrel {

class RemindPanel : public QObject {
    Q_OBJECT
public:
    // Creates every control of the panel inside fraRemind.
    RemindPanel(QGroupBox* fraRemind, QObject* parent);
    ~RemindPanel() override;

    QGroupBox* fraRemind = nullptr;
    QListWidget* lstWeek = nullptr;
    QListWidget* lstToDo = nullptr;
    QPushButton* cmdDeleteToDo = nullptr;
    QLabel* Label6 = nullptr;

    // Refills lstWeek with today … today + 7. The lines of an appointment carry its autoid, the
    // others 0. It deletes nothing: old appointments go once a day (DailyHousekeeping).
    void PopWeekList();
    // Rebuilds lstToDo: the command line, a separator, then each item followed by a separator.
    void PopToDo();

    // Handlers, public so tests reach the same code the mouse and keys do.
    // Opens the appointment of the line double-clicked (or chosen with Enter) in the editor.
    void lstWeek_DblClick();
    // Right click or the menu key on a line of today's appointment: "Mark Held" or "Mark Not
    // held", which its history entry takes.
    void lstWeek_ContextMenu(const QPoint& globalPos);
    void lstWeek_Mark(bool held);
    void lstToDo_Click();
    void lstToDo_DblClick();
    void cmdDeleteToDo_Click();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

// The reminder panel of the running main window (nullptr while there is none): every window
// that changes an appointment refreshes its list afterwards.
RemindPanel* remindPanel();

// The statements that add and change a to-do item: the text cut to 25 characters first (an item
// changed keeps up to limit, the length it had: a longer item from elsewhere stays whole), then
// its apostrophes doubled.
QString ToDoInsertStatement(const QString& text);
QString ToDoUpdateStatement(const QString& text, int id, int limit = 25);

inline const QString kAddToDo = QStringLiteral("Add To Do Item");
inline const QString kToDoSeparator = QStringLiteral("     * * * * * ");

} // namespace kestrel
