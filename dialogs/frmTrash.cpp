#include "dialogs/frmTrash.h"

#include "data/Globals.h"
#include "dialogs/Settings.h"
#include "platform/Platform.h"
#include "ui/Accessible.h"
#include "ui/Report.h"
#include "ui/Undo.h"

#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QLocale>
#include <QPushButton>

#include <utility>

namespace kestrel {

namespace {
QString what(const TrashBatch& b)
{
    const auto [one, many] = b.table == TrashTable::Contacts       ? std::pair{QStringLiteral("Contact "), QStringLiteral("contacts")}
                             : b.table == TrashTable::Appointments ? std::pair{QStringLiteral("Appointment "), QStringLiteral("appointments")}
                             : b.table == TrashTable::ToDo         ? std::pair{QStringLiteral("To Do item "), QStringLiteral("to-do items")}
                                                                   : std::pair{QStringLiteral("History entry "), QStringLiteral("history entries")};
    if (b.rows == 1)
        return one + b.label;
    // A contact deleted with its history: the contact, then its entries.
    if (b.table == TrashTable::Contacts && b.contacts == 1)
        return QStringLiteral("Contact %1 (with %2 history %3)")
            .arg(b.label, QLocale(QLocale::English).toString(b.rows - 1), b.rows == 2 ? QStringLiteral("entry") : QStringLiteral("entries"));
    return QStringLiteral("%1 (%2 %3)").arg(b.label, QLocale(QLocale::English).toString(b.rows), many);
}
} // namespace

QString TrashLine(const TrashBatch& b)
{
    QString line = QLocale(QLocale::English).toString(b.deletedAt, QStringLiteral("M/d/yyyy h:mm AP")).leftJustified(20, u' ') + what(b);
    if (!b.deletedBy.isEmpty())
        line += QStringLiteral("  (deleted by %1)").arg(b.deletedBy);
    return line;
}

frmTrash::frmTrash(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("frmTrash"));
    // The close box rejects the window, which is Close.
    setupDialog(this, QStringLiteral("Trash"), 8640, 4740, true);
    setFont(designFont(QStringLiteral("Verdana"), 8.25));
    controls = buildControls(this, {
        {"lblTrash", ControlKind::Label, "Deleted, newest first:", 120, 120, kAuto, kAuto},
        {"lstTrash", ControlKind::ListBox, "", 120, 360, 8400, 3300, 1},
        {"lblKept", ControlKind::Label, "", 120, 3720, 4200, 435},
        {"cmdRestore", ControlKind::Button, "&Restore", 4440, 4200, 1275, 375, 2},
        {"cmdDeleteForever", ControlKind::Button, "&Delete Forever", 5805, 4200, 1530, 375, 3},
        {"cmdClose", ControlKind::Button, "Close", 7425, 4200, 1095, 375, 4},
    });
    lblKept = controls.get<QLabel>(QStringLiteral("lblKept"));
    lstTrash = controls.get<QListWidget>(QStringLiteral("lstTrash"));
    cmdRestore = controls.get<QPushButton>(QStringLiteral("cmdRestore"));
    cmdDeleteForever = controls.get<QPushButton>(QStringLiteral("cmdDeleteForever"));
    cmdClose = controls.get<QPushButton>(QStringLiteral("cmdClose"));
    lstTrash->setFont(designFont(QStringLiteral("Courier New"), 9.75));
    lblKept->setWordWrap(true);
    lblKept->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    describeBy(lstTrash, lblKept);

    connect(lstTrash, &QListWidget::currentRowChanged, this, [this] { lstTrash_Click(); });
    connect(lstTrash, &QListWidget::itemDoubleClicked, this, &frmTrash::lstTrash_DblClick);
    connect(cmdRestore, &QPushButton::clicked, this, &frmTrash::cmdRestore_Click);
    connect(cmdDeleteForever, &QPushButton::clicked, this, &frmTrash::cmdDeleteForever_Click);
    connect(cmdClose, &QPushButton::clicked, this, &frmTrash::cmdClose_Click);
    lstTrash->installEventFilter(this);
    Form_Load();
}

void frmTrash::Form_Load()
{
    lblKept->setText(QStringLiteral("Deleted items are kept %1 days, then removed for good.").arg(TrashDays()));
    lstTrash->clear();
    batches_.clear();
    // The to-do file's trash beside the contacts file's (one and the same on the office server).
    RunAction(sConnContacts, [this] { batches_ = listTrash(QStringList{sConnContacts, sConnMain}); }, QStringLiteral("Form_Load"),
              Owner::Form, QStringLiteral("frmTrash"));
    for (size_t i = 0; i < batches_.size(); ++i)
        addLine(lstTrash, TrashLine(batches_[i]), int(i) + 1);
    if (batches_.empty())
        addLine(lstTrash, QStringLiteral("The trash is empty."), 0);
    lstTrash->setCurrentRow(0);
    lstTrash->setFocus();
    lstTrash_Click();
}

int frmTrash::chosen() const
{
    const QListWidgetItem* item = lstTrash->currentItem();
    return item ? item->data(Qt::UserRole).toInt() - 1 : -1;
}

void frmTrash::lstTrash_Click()
{
    const bool any = chosen() >= 0;
    cmdRestore->setEnabled(any);
    cmdDeleteForever->setEnabled(any);
}

void frmTrash::lstTrash_DblClick(QListWidgetItem* item)
{
    if (!item)
        return;
    lstTrash->setCurrentItem(item);
    cmdRestore_Click();
}

void frmTrash::lstTrash_KeyDown(int key)
{
    if (key == Qt::Key_Return || key == Qt::Key_Enter)
        cmdRestore_Click();
    else if (key == Qt::Key_Delete)
        cmdDeleteForever_Click();
}

void frmTrash::cmdRestore_Click()
{
    const int i = chosen();
    if (i < 0)
        return;
    const TrashBatch b = batches_[size_t(i)];
    int restored = 0;
    if (!RunAction(b.origin, [&] { restored = restoreFromTrash(b.origin, b.batch); },
                   QStringLiteral("cmdRestore_Click"), Owner::Form, QStringLiteral("frmTrash")))
        return;
    if (restored == 0)
        platform().msgBox(QStringLiteral("%1 was restored or deleted for good elsewhere meanwhile.").arg(what(b)));
    else
        bRestored = true;
    Form_Load();
}

void frmTrash::cmdDeleteForever_Click()
{
    const int i = chosen();
    if (i < 0)
        return;
    const TrashBatch b = batches_[size_t(i)];
    if (!platform().askYesNo(QStringLiteral("Delete %1 for good? It cannot be restored afterwards.").arg(what(b)),
                             QStringLiteral("Delete Forever")))
        return;
    RunAction(b.origin, [&] { deleteForever(b.origin, b.batch); }, QStringLiteral("cmdDeleteForever_Click"),
              Owner::Form, QStringLiteral("frmTrash"));
    Form_Load();
}

void frmTrash::cmdClose_Click() { reject(); }

bool frmTrash::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == lstTrash && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Delete) {
            lstTrash_KeyDown(key);
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

} // namespace kestrel
