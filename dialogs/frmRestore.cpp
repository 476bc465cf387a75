#include "dialogs/frmRestore.h"

#include "dialogs/modBackup.h"
#include "ui/Accessible.h"
#include "ui/Ui.h"

#include <QDir>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QLocale>
#include <QPushButton>

namespace kestrel {

namespace {
QString counted(qint64 n, const char* one, const char* many)
{
    return QStringLiteral("%1 %2").arg(QLocale(QLocale::English).toString(n), QString::fromLatin1(n == 1 ? one : many));
}
} // namespace

QString BackupLine(const BackupCopy& copy, const BackupCounts& counts)
{
    const QString when = copy.day.toString(QStringLiteral("ddd M/d/yyyy")).leftJustified(15, u' ') +
                         (copy.time.isValid() ? copy.time.toString(QStringLiteral("h:mm AP")) : QString()).leftJustified(9, u' ');
    if (!counts.counted)
        return when + QStringLiteral("cannot be read");
    return when + counted(counts.contacts, "contact", "contacts").rightJustified(16, u' ') + QStringLiteral("  ") +
           counted(counts.appointments, "appointment", "appointments");
}

frmRestore::frmRestore(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("frmRestore"));
    // The close box rejects the window, which is Close.
    setupDialog(this, QStringLiteral("Restore Backup"), 8640, 4740, true);
    setFont(designFont(QStringLiteral("Verdana"), 8.25));
    controls = buildControls(this, {
        {"lblWhere", ControlKind::Label, "", 120, 120, 8400, 225},
        {"lblCopies", ControlKind::Label, "Backups, newest first:", 120, 420, kAuto, kAuto},
        {"lstCopies", ControlKind::ListBox, "", 120, 660, 8400, 3000, 1},
        {"lblFolder", ControlKind::Label, "", 120, 3720, 5400, 435},
        {"cmdRestore", ControlKind::Button, "&Restore", 5760, 4200, 1275, 375, 2},
        {"cmdClose", ControlKind::Button, "Close", 7245, 4200, 1275, 375, 3},
    });
    lblWhere = controls.get<QLabel>(QStringLiteral("lblWhere"));
    lstCopies = controls.get<QListWidget>(QStringLiteral("lstCopies"));
    lblFolder = controls.get<QLabel>(QStringLiteral("lblFolder"));
    cmdRestore = controls.get<QPushButton>(QStringLiteral("cmdRestore"));
    cmdClose = controls.get<QPushButton>(QStringLiteral("cmdClose"));
    lstCopies->setFont(designFont(QStringLiteral("Courier New"), 9.75));
    lblFolder->setWordWrap(true);
    lblFolder->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    describeBy(lstCopies, lblFolder);

    connect(lstCopies, &QListWidget::currentRowChanged, this, [this] { lstCopies_Click(); });
    connect(lstCopies, &QListWidget::itemDoubleClicked, this, &frmRestore::lstCopies_DblClick);
    connect(cmdRestore, &QPushButton::clicked, this, &frmRestore::cmdRestore_Click);
    connect(cmdClose, &QPushButton::clicked, this, &frmRestore::cmdClose_Click);
    lstCopies->installEventFilter(this);
    Form_Load();
}

void frmRestore::Form_Load()
{
    const QString root = programBackupRoot();
    lblWhere->setText(QStringLiteral("Backups in %1").arg(QDir::toNativeSeparators(root)));
    lstCopies->clear();
    copies_ = listBackups(root);
    counts_.clear();
    for (size_t i = 0; i < copies_.size(); ++i) {
        counts_.push_back(countBackup(copies_[i]));
        addLine(lstCopies, BackupLine(copies_[i], counts_.back()), int(i) + 1);
    }
    if (copies_.empty())
        addLine(lstCopies, QStringLiteral("No backups yet: File > Backup Now makes one."), 0);
    lstCopies->setCurrentRow(0);
    lstCopies->setFocus();
    lstCopies_Click();
}

int frmRestore::chosen() const
{
    const QListWidgetItem* item = lstCopies->currentItem();
    return item ? item->data(Qt::UserRole).toInt() - 1 : -1;
}

void frmRestore::lstCopies_Click()
{
    const int i = chosen();
    if (i < 0) {
        lblFolder->clear();
        return;
    }
    const BackupCounts& c = counts_[size_t(i)];
    const QString folder = QDir::toNativeSeparators(copies_[size_t(i)].folder);
    lblFolder->setText(c.counted ? QStringLiteral("Folder: %1").arg(folder)
                                 : QStringLiteral("Folder: %1 (%2)").arg(folder, c.why));
}

void frmRestore::lstCopies_DblClick(QListWidgetItem* item)
{
    if (!item)
        return;
    lstCopies->setCurrentItem(item);
    cmdRestore_Click();
}

void frmRestore::lstCopies_KeyDown(int key)
{
    if (key == Qt::Key_Return || key == Qt::Key_Enter)
        cmdRestore_Click();
}

void frmRestore::cmdRestore_Click()
{
    const int i = chosen();
    if (i < 0)
        return;
    if (!RestoreCopy(copies_[size_t(i)], counts_[size_t(i)]))
        return;
    bRestored = true;
    accept();
}

void frmRestore::cmdClose_Click() { reject(); }

bool frmRestore::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == lstCopies && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            lstCopies_KeyDown(key);
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

} // namespace kestrel
