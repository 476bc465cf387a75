#include "contacts/frmFind.h"

#include "data/Database.h"
#include "data/Globals.h"
#include "data/SearchIndex.h"
#include "data/SearchIndexJob.h"
#include "data/TextFold.h"
#include "data/modData.h"
#include "ui/Accessible.h"
#include "ui/Report.h"
#include "ui/Ui.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QTimer>

#include <algorithm>
#include <memory>

namespace kestrel {

namespace {
// Column widths in characters of the fixed-pitch list, like the program's other lists.
constexpr int kLastWidth = 14, kFirstWidth = 10, kCompanyWidth = 14, kCityWidth = 10;

// A line break or tab in a stored value would tear the columns apart.
QString oneLine(QString text)
{
    for (QChar& c : text)
        if (c.category() == QChar::Other_Control)
            c = u' ';
    return text;
}

// Appends text cut or padded to width characters, and the blank after it.
void appendColumn(QString& line, const QString& text, int width)
{
    const qsizetype shown = std::min<qsizetype>(text.size(), width);
    // Printable ASCII, as most names are, has no control character to blank, no pair to keep
    // whole and no direction of its own: it goes in as it stands.
    if (std::all_of(text.begin(), text.begin() + shown, [](QChar c) { return c.unicode() >= 0x20 && c.unicode() < 0x7F; })) {
        line.append(text.constData(), shown);
        line.resize(line.size() + width - shown + 1, u' ');
        return;
    }
    const QString cell = oneLine(LeftChars(text, width));
    // A right-to-left name is isolated within its column, so it can neither pull the blanks
    // after it nor the next column into its own direction: the columns keep their order.
    line += isolated(cell);
    line.resize(line.size() + std::max<qsizetype>(0, width - cell.size()) + 1, u' ');
}


const QString kMore = QStringLiteral("More contacts match: type more of what you look for.");
const QString kNone = QStringLiteral("No contact matches.");
} // namespace

QString FoundLine(const FoundContact& c)
{
    QString line;
    line.reserve(kLastWidth + kFirstWidth + kCompanyWidth + kCityWidth + 4 + c.phone.size() + 2);
    appendColumn(line, c.lastName, kLastWidth);
    appendColumn(line, c.firstName, kFirstWidth);
    appendColumn(line, c.company, kCompanyWidth);
    appendColumn(line, c.city, kCityWidth);
    line += isolated(oneLine(c.phone)); // the last column: the whole number, its matched digits too
    return line;
}

QString NotReadyText(qint64 waiting)
{
    return QStringLiteral("Find is not ready yet: Kestrel is indexing %L1 contacts. The list fills in by itself.")
        .arg(waiting);
}

void FollowSearchIndex(SearchIndexJob& job, std::function<void(const QString&)> showStatus)
{
    // What the status bar last told: nothing, the file's speed-ups, or Find's index.
    enum class Shown { Nothing, File, Find };
    auto shown = std::make_shared<Shown>(Shown::Nothing);
    QObject::connect(&job, &SearchIndexJob::preparing, &job, [showStatus, shown](int done, int total) {
        *shown = Shown::File;
        showStatus(done < total ? QStringLiteral("Preparing the contacts file for its size, once: step %1 of %2").arg(done + 1).arg(total)
                                : QStringLiteral("The contacts file is prepared"));
    });
    QObject::connect(&job, &SearchIndexJob::progress, &job, [showStatus, shown](qint64 done, qint64 total) {
        *shown = Shown::Find;
        const qint64 of = std::max(done, total);
        showStatus(QStringLiteral("Preparing Find: %1% (%L2 of %L3 contacts)").arg(of ? done * 100 / of : 100).arg(done).arg(of));
    });
    QObject::connect(&job, &SearchIndexJob::finished, &job, [showStatus, shown](bool ready, const QString& failure) {
        if (!failure.isEmpty() && *shown == Shown::File)
            showStatus(QStringLiteral("The contacts file could not be prepared (%1); Kestrel tries again when Find is "
                                      "opened or at its next start, and works meanwhile, only slower").arg(failure));
        else if (!failure.isEmpty())
            showStatus(QStringLiteral("Find's index could not be built (%1); Find tries again when opened").arg(failure));
        else if (ready && *shown == Shown::Find)
            showStatus(QStringLiteral("Find is ready"));
        *shown = Shown::Nothing;
    });
}

QString FoundCountText(const FoundContacts& found, bool searched)
{
    if (found.notReady)
        return NotReadyText(found.waiting);
    const qsizetype n = found.rows.size();
    if (found.more)
        return QStringLiteral("%1 contacts listed; more match").arg(n);
    if (n == 0)
        return searched ? kNone : QString();
    return n == 1 ? QStringLiteral("1 contact found") : QStringLiteral("%1 contacts found").arg(n);
}

frmFind::frmFind(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("frmFind"));
    setupDialog(this, QStringLiteral("Find"), 8640, 4920, true);
    setFont(designFont(QStringLiteral("Verdana"), 8.25));

    controls = buildControls(this, {
        {"lblFind", ControlKind::Label, "Name, company, city, e-mail or phone:", 120, 120, kAuto, kAuto},
        {"txtFind", ControlKind::TextBox, "", 120, 360, 8400, 285, 1, kMaxSearchChars},
        {"lstFound", ControlKind::ListBox, "", 120, 720, 8400, 4080, 2, 0, "Matching contacts"},
    });
    txtFind = controls.get<QLineEdit>(QStringLiteral("txtFind"));
    lstFound = controls.get<QListWidget>(QStringLiteral("lstFound"));
    lstFound->setFont(designFont(QStringLiteral("Courier New"), 9.75));
    lstFound->setToolTip(QStringLiteral("Double-click a contact to show it in the tree"));
    installFocusColour(txtFind, Qt::white);

    connect(txtFind, &QLineEdit::textChanged, this, [this] { txtFind_Change(); });
    connect(lstFound, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem* item) { lstFound_DblClick(item); });
    txtFind->installEventFilter(this);
    lstFound->installEventFilter(this);
    pickOnAccessibleSelect(lstFound, [this](const QModelIndex& line) {
        lstFound->setCurrentRow(line.row());
        pickCurrent();
    });
    // Said once the typing pauses, not after every key, which would talk over the typing.
    countSaid_ = new QTimer(this);
    countSaid_->setSingleShot(true);
    countSaid_->setInterval(500);
    connect(countSaid_, &QTimer::timeout, this, [this] { announce(lstFound, lstFound->accessibleDescription()); });
    untilReady_ = new QTimer(this);
    untilReady_->setSingleShot(true);
    untilReady_->setInterval(500);
    connect(untilReady_, &QTimer::timeout, this, [this] { PopFound(); });
}

void frmFind::txtFind_Change() { PopFound(); }

void frmFind::PopFound()
{
    lstFound->clear();
    FoundContacts found;
    try {
        found = findContacts(sConnContacts, txtFind->text(), kMaxListed);
    } catch (const std::exception& e) {
        ReportFailure(e, QStringLiteral("PopFound"), Owner::Form, QStringLiteral("frmFind"));
        return;
    }
    for (const FoundContact& c : found.rows)
        addLine(lstFound, FoundLine(c), c.id);
    const bool searched = !searchNeedles(txtFind->text()).isEmpty();
    if (found.notReady) {
        // Set going again where it is not running: a large import since it last ran.
        if (SearchIndexJob* job = searchIndexJob(); job && !job->isRunning())
            job->start();
        addLine(lstFound, NotReadyText(found.waiting), 0);
        untilReady_->start();
    } else if (found.more)
        addLine(lstFound, kMore, 0);
    else if (found.rows.empty() && searched)
        addLine(lstFound, kNone, 0);
    lstFound->setAccessibleDescription(FoundCountText(found, searched));
    if (lstFound->accessibleDescription().isEmpty())
        countSaid_->stop();
    else
        countSaid_->start();
}

void frmFind::lstFound_DblClick(QListWidgetItem* item)
{
    if (!item)
        return;
    lstFound->setCurrentItem(item);
    pickCurrent();
}

void frmFind::pickCurrent()
{
    QListWidgetItem* item = lstFound->currentItem();
    if (!item && lstFound->count() > 0)
        item = lstFound->item(0);
    const int id = item ? item->data(Qt::UserRole).toInt() : 0;
    if (id == 0)
        return;
    lFoundID = id;
    accept();
}

void frmFind::moveCurrent(int step)
{
    if (lstFound->count() == 0)
        return;
    lstFound->setCurrentRow(std::clamp(lstFound->currentRow() + step, 0, lstFound->count() - 1));
}

bool frmFind::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::KeyPress)
        return QDialog::eventFilter(watched, event);
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
        pickCurrent();
        return true;
    }
    // The search box keeps the focus while Up and Down walk the list, so typing can go on.
    if (watched == txtFind && (key == Qt::Key_Down || key == Qt::Key_Up)) {
        moveCurrent(key == Qt::Key_Down ? 1 : -1);
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

} // namespace kestrel
