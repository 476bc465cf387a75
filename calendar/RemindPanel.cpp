#include "calendar/RemindPanel.h"

#include "ui/Accessible.h"
#include "ui/Report.h"
#include "ui/Undo.h"
#include "ui/Ui.h"
#include "calendar/CalPanel.h"
#include "calendar/frmAppt.h"
#include "calendar/frmReminder.h"
#include "calendar/modCal.h"
#include "data/Database.h"
#include "data/Globals.h"
#include "data/HistoryRecord.h"
#include "data/RowGuard.h"
#include "data/TextFold.h"
#include "data/Trash.h"
#include "data/modData.h"
#include "platform/Platform.h"
#include "ui/Desktop.h"

#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QSignalBlocker>

#include <algorithm>

namespace kestrel {

namespace {
const QString kToDoPrompt = QStringLiteral("Enter a To Do item 25 characters or less");
const QString kToDoTitle = QStringLiteral("Enter To Do Item");
constexpr int kToDoLength = 25;


RemindPanel* gRemind = nullptr;

int selectedValue(const QListWidget* list)
{
    const QList<QListWidgetItem*> selected = list->selectedItems();
    return selected.isEmpty() ? 0 : selected.first()->data(Qt::UserRole).toInt();
}

// The date of an appointment's lines (the other lines have none).
constexpr int kDateRole = Qt::UserRole + 1;

} // namespace

RemindPanel::RemindPanel(QGroupBox* fra, QObject* parent) : QObject(parent), fraRemind(fra)
{
    const Controls c = buildControls(fraRemind, {
        {"lstWeek", ControlKind::ListBox, "", 120, 360, 7455, 5820, 1},
        {"Label6", ControlKind::Label, "Double click item to edit            Click 'Add ToDo Item' to add", 8040, 240, 2730, 375},
        {"lstToDo", ControlKind::ListBox, "", 7920, 720, 3015, 5010, 2, 0, "To Do"},
        {"cmdDeleteToDo", ControlKind::Button, "Delete Selected ToDo Item", 7920, 6000, 3015, 375, 3},
    });
    lstWeek = c.get<QListWidget>(QStringLiteral("lstWeek"));
    lstWeek->setFont(designFont(QStringLiteral("Courier New"), 9.75, true));
    setBackground(lstWeek, CalPanel::dayBackground());
    Label6 = c.get<QLabel>(QStringLiteral("Label6"));
    Label6->setWordWrap(true);
    lstToDo = c.get<QListWidget>(QStringLiteral("lstToDo"));
    lstToDo->setFont(designFont(QStringLiteral("Courier New"), 9));
    setBackground(lstToDo, CalPanel::dayBackground());
    cmdDeleteToDo = c.get<QPushButton>(QStringLiteral("cmdDeleteToDo"));

    // Choosing a line with the keys acts like clicking it. Queued, so the input box never opens
    // and the list is never rebuilt inside the list's own mouse or key handling.
    connect(lstToDo, &QListWidget::itemSelectionChanged, this, &RemindPanel::lstToDo_Click, Qt::QueuedConnection);
    connect(lstToDo, &QListWidget::itemDoubleClicked, this, &RemindPanel::lstToDo_DblClick, Qt::QueuedConnection);
    connect(cmdDeleteToDo, &QPushButton::clicked, this, &RemindPanel::cmdDeleteToDo_Click);
    lstToDo->installEventFilter(this);
    // A double click or Enter; queued, so the list is not rebuilt inside its own handling.
    connect(lstWeek, &QListWidget::itemActivated, this, &RemindPanel::lstWeek_DblClick, Qt::QueuedConnection);
    // Right click or the menu key: mark today's appointment held or not held.
    lstWeek->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(lstWeek, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { lstWeek_ContextMenu(lstWeek->viewport()->mapToGlobal(at)); });
    pickOnAccessibleSelect(lstWeek, [this](const QModelIndex&) { lstWeek_DblClick(); });
    gRemind = this;
}

RemindPanel::~RemindPanel()
{
    if (gRemind == this)
        gRemind = nullptr;
}

RemindPanel* remindPanel() { return gRemind; }

bool RemindPanel::eventFilter(QObject* watched, QEvent* event)
{
    // Enter on an item edits it as a double click does (F2 stays the main window's New contact).
    if (watched == lstToDo && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && !(key->modifiers() & ~Qt::KeypadModifier)) {
            const bool command = !lstToDo->selectedItems().isEmpty() && lstToDo->selectedItems().first()->text() == kAddToDo;
            QMetaObject::invokeMethod(this, command ? &RemindPanel::lstToDo_Click : &RemindPanel::lstToDo_DblClick,
                                      Qt::QueuedConnection);
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

void RemindPanel::lstWeek_DblClick()
{
    const int id = selectedValue(lstWeek);
    if (id == 0)
        return;
    {
        frmAppt editor(fraRemind->window());
        editor.bEditMode = true;
        editor.lApptID = id;
        desktop().runModal(editor);
    }
    PopWeekList();
}

void RemindPanel::PopWeekList()
{
    const QDate today = platform().today();
    lstWeek->clear();
    try {
        const std::vector<ShownAppt> shown = ApptsOfDays(today, today.addDays(7));
        if (shown.empty())
            lstWeek->addItem(QStringLiteral("There are no appointments for the next 7 days."));
        for (const ShownAppt& a : shown) {
            const int first = lstWeek->count();
            const QString marked = a.outcome.isEmpty() ? QString() : QStringLiteral(" (") + a.outcome + u')';
            addLine(lstWeek, GetDayName(a.day.dayOfWeek() % 7 + 1) + QStringLiteral(", ") + DateText(a.day), a.id);
            // Its first day gives the time it begins; the days after, "all day" or "until 5:00 PM".
            const QString when = a.allDay          ? QStringLiteral("All day")
                                 : a.day != a.date ? DayLineTime(a.date, a.time, a.end, a.day)
                                 : a.time.isValid() ? TimeText(a.time)
                                                    : a.timeText;
            addLine(lstWeek, when + QStringLiteral(" - ") + isolated(a.brief) + marked, a.id);
            addLine(lstWeek, QStringLiteral("     ") + isolated(a.name), a.id);
            addLine(lstWeek, QStringLiteral("     ") + isolated(a.address), a.id);
            if (a.cancelled)
                strikeThrough(lstWeek, first + 1, lstWeek->count());
            for (int line = first; line < lstWeek->count(); ++line)
                lstWeek->item(line)->setData(kDateRole, a.day);
            addLine(lstWeek, kApptSeparator, 0);
        }
    } catch (const std::exception& e) {
        ReportFailure(e, QStringLiteral("PopWeekList"), Owner::Form, QStringLiteral("frmKestrel"));
        return;
    }
}

void RemindPanel::lstWeek_ContextMenu(const QPoint& at)
{
    const QList<QListWidgetItem*> selected = lstWeek->selectedItems();
    const int id = selectedValue(lstWeek);
    if (id == 0)
        return;
    // Only what has begun can have been held: today's appointments (later ones are not listed).
    const QDate date = selected.first()->data(kDateRole).toDate();
    const bool begun = date.isValid() && date <= platform().today();
    QMenu menu(lstWeek);
    QAction* held = menu.addAction(QStringLiteral("Mark &Held"));
    QAction* notHeld = menu.addAction(QStringLiteral("Mark &Not held"));
    held->setEnabled(begun);
    notHeld->setEnabled(begun);
    const QAction* picked = menu.exec(at);
    if (!picked)
        return;
    lstWeek_Mark(picked == held);
}

void RemindPanel::lstWeek_Mark(bool held)
{
    const int id = selectedValue(lstWeek);
    if (id == 0)
        return;
    bool stored = true;
    if (!RunAction(sConnContacts, [&] { stored = markAppointment(sConnContacts, id, held, platform().now()); },
                   QStringLiteral("lstWeek_Mark"), Owner::Form, QStringLiteral("frmKestrel")))
        return;
    if (!stored)
        platform().msgBox(QStringLiteral("This appointment had already been deleted elsewhere; nothing was marked."));
    const int row = lstWeek->currentRow();
    PopWeekList();
    if (row >= 0 && row < lstWeek->count())
        lstWeek->setCurrentRow(row);
}

void RemindPanel::PopToDo()
{
    const QSignalBlocker quiet(lstToDo);
    lstToDo->clear();
    addLine(lstToDo, kAddToDo, 0);
    addLine(lstToDo, kToDoSeparator, 0);
    try {
        Connection connection(sConnMain);
        Snapshot rs(connection, QStringLiteral("select id,todo from todo"));
        for (; !rs.eof(); rs.moveNext()) {
            addLine(lstToDo, rs.text(1), rs.field(0).toInt());
            addLine(lstToDo, kToDoSeparator, 0);
        }
    } catch (const std::exception& e) {
        ReportFailure(e, QStringLiteral("PopToDo"), Owner::Form, QStringLiteral("frmReminder"));
    }
}

QString ToDoInsertStatement(const QString& text)
{
    return QStringLiteral("Insert into todo (todo)values('") + CutQuoted(text, 25) + QStringLiteral("')");
}

QString ToDoUpdateStatement(const QString& text, int id, int limit)
{
    return QStringLiteral("update todo set todo='") + CutQuoted(text, limit) + QStringLiteral("' where id=") +
           QString::number(id);
}

void RemindPanel::lstToDo_Click()
{
    const QList<QListWidgetItem*> selected = lstToDo->selectedItems();
    if (selected.isEmpty() || selected.first()->text() != kAddToDo)
        return;
    const QString answer = platform().inputBox(kToDoPrompt, kToDoTitle, QString(), kToDoLength);
    if (!answer.isEmpty())
        ActionQuery(ToDoInsertStatement(answer), sConnMain);
    PopToDo();
}

void RemindPanel::lstToDo_DblClick()
{
    const QList<QListWidgetItem*> selected = lstToDo->selectedItems();
    if (selected.isEmpty())
        return;
    const int id = selected.first()->data(Qt::UserRole).toInt();
    if (id == 0)
        return;
    const QString current = selected.first()->text();
    // The version of the item as shown: a save over another user's or window's change asks first.
    const RowKey row{QStringLiteral("todo"), QStringLiteral("id"), id};
    QString seen;
    if (!RunAction(sConnMain, [&] { seen = rowVersion(sConnMain, row); })) {
        PopToDo();
        return;
    }
    QString typed = current;
    for (;;) {
        typed = platform().inputBox(kToDoPrompt, kToDoTitle, typed, kToDoLength);
        // An item left as it was is not written back: a longer one stored by another program stays whole.
        if (typed.isEmpty() || typed == current)
            break;
        // The box bounds what is typed; a longer item shortened by hand or changed in one letter
        // is stored as the box shows it.
        bool overOthers = false;
        const SaveOutcome outcome = seen.isEmpty()
            ? SaveOutcome::Deleted
            : SaveEditedRow(sConnMain, row, seen, ToDoUpdateStatement(typed, id, std::max<int>(kToDoLength, int(current.size()))),
                            QStringLiteral("to-do item"), &overOthers);
        if (outcome == SaveOutcome::Changed)
            continue; // No: the box again, with what was typed
        if (outcome == SaveOutcome::Saved && overOthers)
            forgetChanges(); // the text before it was someone else's, which this window never showed
        else if (outcome == SaveOutcome::Saved)
            rememberSave(QStringLiteral("Edit To Do Item '%1'").arg(typed), sConnMain, row, seen,
                         QStringLiteral("update todo set todo='%1' where id=%2").arg(Quoted(current)).arg(id));
        if (outcome == SaveOutcome::Deleted &&
            platform().askYesNo(QStringLiteral("This to-do item was deleted elsewhere after you opened it, so your "
                                               "change was not saved.\n\nSave what you typed as a new item?")))
            ActionQuery(QStringLiteral("Insert into todo (todo)values('") + CutQuoted(typed, std::max<int>(kToDoLength, int(current.size()))) +
                            QStringLiteral("')"),
                        sConnMain);
        break;
    }
    PopToDo();
}

void RemindPanel::cmdDeleteToDo_Click()
{
    const int id = selectedValue(lstToDo);
    if (id == 0)
        return;
    if (platform().askYesNo(QStringLiteral("Are you sure you want to delete this To Do item?"),
                            QStringLiteral("Delete warning"))) {
        // Into the trash, whole (a longer item written by another program comes back as it was),
        // named by its stored text.
        QString text, batch;
        RunAction(sConnMain, [&] {
            {
                Connection connection(sConnMain);
                Snapshot item(connection, QStringLiteral("select todo from todo where id=") + QString::number(id));
                if (item.eof())
                    return;
                text = item.field(0).toString();
            }
            batch = moveToTrash(sConnMain, TrashTable::ToDo, {{id, id}}, text);
        });
        if (!batch.isEmpty())
            rememberTrashed(QStringLiteral("Delete To Do Item '%1'").arg(text), sConnMain, batch);
    }
    PopToDo();
}

} // namespace kestrel
