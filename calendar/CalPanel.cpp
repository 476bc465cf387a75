#include "calendar/CalPanel.h"

#include "ui/Accessible.h"
#include "ui/Ui.h"
#include "calendar/RemindPanel.h"
#include "calendar/frmAppt.h"
#include "calendar/modCal.h"
#include "platform/Platform.h"
#include "ui/Desktop.h"

#include <QComboBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMouseEvent>
#include <QPalette>

namespace kestrel {

namespace {
CalPanel* gCal = nullptr;
constexpr int kFront = 120;

void setTextColour(QLabel* label, const QColor& c)
{
    QPalette p = label->palette();
    p.setColor(QPalette::WindowText, c);
    label->setPalette(p);
}
} // namespace

CalPanel* calPanel() { return gCal; }

QColor CalPanel::dayBackground() { return QGuiApplication::palette().color(QPalette::ToolTipBase); }
// The classic desktop's inactive caption text colour, the clicked day's mark.
QColor CalPanel::selectedBackground() { return QColor(212, 208, 200); }

CalPanel::CalPanel(QGroupBox* fra, QObject* parent) : QObject(parent), fraCal(fra)
{
    const Controls c = buildControls(fraCal, {
        {"labMonthYear", ControlKind::Label, "Month Year", 825, 120, 4575, 375},
        {"labArrow0", ControlKind::Label, "<<<", 120, 120, kAuto, kAuto, kNoTab, 0, "Previous month"},
        {"labArrow1", ControlKind::Label, ">>>", 5425, 120, kAuto, kAuto, kNoTab, 0, "Next month"},
        {"labWDay0", ControlKind::Label, "Sun", 225, 600, kAuto, kAuto},
        {"labWDay1", ControlKind::Label, "Mon", 1035, 600, kAuto, kAuto},
        {"labWDay2", ControlKind::Label, "Tue", 2025, 600, kAuto, kAuto},
        {"labWDay3", ControlKind::Label, "Wed", 2820, 600, kAuto, kAuto},
        {"labWDay4", ControlKind::Label, "Thu", 3825, 600, kAuto, kAuto},
        {"labWDay5", ControlKind::Label, "Fri", 4755, 600, kAuto, kAuto},
        {"labWDay6", ControlKind::Label, "Sat", 5655, 600, kAuto, kAuto},
        {"Label1", ControlKind::Label, "Select a month:", 2040, 5640, kAuto, kAuto},
        {"cboMonthYear", ControlKind::ComboList, "", 4065, 5640, 2175, kAuto, 1},
        {"lstCal", ControlKind::ListBox, "", 6600, 0, 4485, 6300, 2, 0, "Appointments of the chosen day"}, // within the panel's right edge
    });
    labMonthYear = c.get<QLabel>(QStringLiteral("labMonthYear"));
    labMonthYear->setFont(designFont(QStringLiteral("Verdana"), 12, true));

    for (int i = 0; i < 2; ++i) {
        labArrow[i] = c.get<QLabel>(QStringLiteral("labArrow%1").arg(i));
        setBackground(labArrow[i], Qt::white);
        labArrow[i]->setToolTip(i == 0 ? QStringLiteral("Clcik to Display Previous Month")
                                       : QStringLiteral("Clcik to Display Next Month"));
        labArrow[i]->setCursor(Qt::PointingHandCursor);
        labArrow[i]->installEventFilter(this);
        makePressable(labArrow[i], QAccessible::Button, [this, i] { labArrow_Click(i); });
    }
    for (int i = 0; i < 7; ++i) {
        labWDay[i] = c.get<QLabel>(QStringLiteral("labWDay%1").arg(i));
        labWDay[i]->setFont(designFont(QStringLiteral("Verdana"), 12, true));
        labWDay[i]->adjustSize();
        setBackground(labWDay[i], kLightGrey);
    }
    // The cells follow one rule: column i mod 7 (Sunday first), row i div 7, 915 twips apart.
    for (int i = 0; i < 37; ++i) {
        const QByteArray name = "labDay" + QByteArray::number(i);
        const Controls cell = buildControls(
            fraCal, {{name.constData(), ControlKind::Label, "1", 15 + 915 * (i % 7), 930 + 915 * (i / 7), 900, 900}});
        labDay[i] = cell.get<QLabel>(QString::fromLatin1(name));
        labDay[i]->setFont(designFont(QStringLiteral("Verdana"), 14.25));
        setBackground(labDay[i], dayBackground());
        labDay[i]->installEventFilter(this);
        makePressable(labDay[i], QAccessible::Button, [this, i] { labDay_Click(i); });
    }
    dayKeys = new QWidget(fraCal);
    dayKeys->setObjectName(QStringLiteral("dayKeys"));
    dayKeys->setGeometry(px(15), px(930), px(7 * 915), px(6 * 915));
    dayKeys->setFocusPolicy(Qt::StrongFocus);
    dayKeys->lower();
    dayKeys->installEventFilter(this);
    // Read as the day the keys have chosen; a move renames it, which a screen reader speaks.
    setAccessibleRole(dayKeys, QAccessible::Grouping);
    dayKeys->setAccessibleName(QStringLiteral("Days of the month"));
    Label1 = c.get<QLabel>(QStringLiteral("Label1"));
    cboMonthYear = c.get<QComboBox>(QStringLiteral("cboMonthYear"));
    lstCal = c.get<QListWidget>(QStringLiteral("lstCal"));
    lstCal->setFont(designFont(QStringLiteral("Courier New"), 9.75));
    setBackground(lstCal, QColor(240, 240, 240));
    lstCal->setToolTip(QStringLiteral("Click item to edit"));
    QWidget::setTabOrder(dayKeys, cboMonthYear);
    QWidget::setTabOrder(cboMonthYear, lstCal);

    connect(cboMonthYear, &QComboBox::activated, this, [this] { cboMonthYear_Click(); });
    // A click on a line or Enter opens its appointment; the arrow keys only move through the day,
    // so each of its appointments can be reached. Queued: the editor must not open, nor the list
    // be rebuilt, inside the list's own mouse or key handling.
    connect(lstCal, &QListWidget::itemClicked, this, &CalPanel::lstCal_Click, Qt::QueuedConnection);
    lstCal->installEventFilter(this);

    gCal = this;
}

CalPanel::~CalPanel()
{
    if (gCal == this)
        gCal = nullptr;
}

bool CalPanel::isShowing() const { return leftTwips(fraCal) == kFront; }

QString CalPanel::GetMonthName(int m)
{
    static const char* const names[] = {"January", "February", "March",     "April",   "May",      "June",
                                        "July",    "August",   "September", "October", "November", "December"};
    return m >= 1 && m <= 12 ? QString::fromLatin1(names[m - 1]) : QString();
}

int CalPanel::DaysInMonth(const QDate& d)
{
    switch (d.month()) {
    case 4: case 6: case 9: case 11:
        return 30;
    case 2: {
        const int y = d.year();
        return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0 ? 29 : 28;
    }
    default:
        return 31;
    }
}

void CalPanel::LoadCal(QDate x)
{
    if (!x.isValid())
        x = platform().today();
    x = QDate(x.year(), x.month(), 1);
    dCalDate = x;
    labMonthYear->setText(GetMonthName(x.month()) + QStringLiteral(" - ") + QString::number(x.year()));

    const int offset = x.dayOfWeek() % 7; // Sunday 0 … Saturday 6
    const int n = DaysInMonth(x);
    const std::array<int, 32> counts = ApptCountsOfMonth(x);
    const QDate today = platform().today();
    for (int i = 0; i < 37; ++i) {
        QLabel* cell = labDay[i];
        const int d = i - offset + 1;
        const bool inMonth = d >= 1 && d <= n;
        setBackground(cell, dayBackground());
        setTextColour(cell, inMonth && counts[size_t(d)] > 0 ? kApptText : QColor(Qt::black));
        QFont f = cell->font();
        f.setBold(inMonth && QDate(x.year(), x.month(), d) == today); // today stands out
        cell->setFont(f);
        if (inMonth) {
            cell->setText(QString::number(d));
            cell->setAccessibleName(DaySpoken(QDate(x.year(), x.month(), d), counts[size_t(d)]));
        }
        cell->setVisible(inMonth);
    }

    markChosenDay();
    lstCal->clear();
    for (const QString& hint : {QStringLiteral("Select a day to list"), QStringLiteral("appointments here.")}) {
        auto* item = new QListWidgetItem(hint, lstCal);
        item->setData(Qt::UserRole, 0);
    }
}

int CalPanel::cellOfDay(int d) const
{
    if (!dCalDate.isValid() || d < 1 || d > DaysInMonth(dCalDate))
        return -1;
    return dCalDate.dayOfWeek() % 7 + d - 1;
}

void CalPanel::PreNext(const QString& direc)
{
    const QDate from = dCalDate.isValid() ? dCalDate : platform().today();
    LoadCal(QDate(from.year(), from.month(), 1).addMonths(direc == u"pre" ? -1 : 1));
}

void CalPanel::PopMonthYear()
{
    cboMonthYear->clear();
    const int year = platform().today().year();
    for (int y = year - 1; y <= year + 1; ++y)
        for (int m = 1; m <= 12; ++m)
            cboMonthYear->addItem(QStringLiteral("%1/%2").arg(m).arg(y));
    cboMonthYear->setCurrentIndex(-1);
}

void CalPanel::cboMonthYear_Click()
{
    const QStringList parts = cboMonthYear->currentText().split(u'/');
    if (parts.size() != 2)
        return;
    const QDate first(parts[1].toInt(), parts[0].toInt(), 1);
    if (first.isValid())
        LoadCal(first);
}

void CalPanel::labArrow_Click(int index) { PreNext(index == 0 ? QStringLiteral("pre") : QStringLiteral("next")); }

void CalPanel::Refresh()
{
    const QDate listed = dSelDate, chosen = dKeyDate;
    LoadCal(dCalDate);
    if (listed.isValid() && listed.year() == dCalDate.year() && listed.month() == dCalDate.month()) {
        if (const int cell = cellOfDay(listed.day()); cell >= 0)
            labDay_Click(cell);
    }
    dKeyDate = chosen;
    markChosenDay();
}

void CalPanel::labDay_Click(int index)
{
    if (index < 0 || index >= 37 || !dCalDate.isValid())
        return;
    const int day = labDay[index]->text().toInt();
    dSelDate = QDate(dCalDate.year(), dCalDate.month(), day);
    if (!dSelDate.isValid())
        return;
    for (QLabel* cell : labDay)
        setBackground(cell, dayBackground());
    setBackground(labDay[index], selectedBackground());
    dKeyDate = dSelDate;
    markChosenDay();
    ListDayAppts(lstCal, dSelDate);
}

void CalPanel::moveChosenDay(int days)
{
    const QDate to = dKeyDate.addDays(days);
    if (to.year() != dCalDate.year() || to.month() != dCalDate.month()) {
        dKeyDate = to;
        LoadCal(QDate(to.year(), to.month(), 1));
    }
    dKeyDate = to;
    markChosenDay();
}

void CalPanel::markChosenDay()
{
    const bool inMonth = dKeyDate.isValid() && dCalDate.isValid() && dKeyDate.year() == dCalDate.year() &&
                         dKeyDate.month() == dCalDate.month();
    const int chosen = inMonth && dayKeys->hasFocus() ? cellOfDay(dKeyDate.day()) : -1;
    for (int i = 0; i < 37; ++i) {
        labDay[i]->setFrameStyle(i == chosen ? QFrame::Box | QFrame::Plain : QFrame::NoFrame);
        labDay[i]->setLineWidth(2);
    }
    if (chosen >= 0)
        dayKeys->setAccessibleName(labDay[chosen]->accessibleName());
}

void CalPanel::lstCal_Click()
{
    const QList<QListWidgetItem*> selected = lstCal->selectedItems();
    if (selected.isEmpty())
        return;
    const int id = selected.first()->data(Qt::UserRole).toInt();
    if (id == 0)
        return;
    QDate movedTo;
    {
        frmAppt editor(fraCal->window());
        editor.bEditMode = true;
        editor.lApptID = id;
        editor.dOccurrence = selected.first()->data(kOccurrenceRole).toDate();
        if (desktop().runModal(editor) == QDialog::Accepted)
            movedTo = editor.DTPicker1->date();
    }
    // The day stays listed with the line of the appointment chosen, so the user goes on where
    // they were; one moved to another month took the calendar there, and its new day is listed.
    if (movedTo.isValid() && (movedTo.year() != dSelDate.year() || movedTo.month() != dSelDate.month()))
        dSelDate = movedTo;
    Refresh();
    for (int row = 0; row < lstCal->count(); ++row)
        if (lstCal->item(row)->data(Qt::UserRole).toInt() == id) {
            lstCal->setCurrentRow(row);
            break;
        }
    if (RemindPanel* remind = remindPanel())
        remind->PopWeekList();
}

void CalPanel::focusDay(const QDate& d)
{
    dKeyDate = d;
    dayKeys->setFocus(Qt::ShortcutFocusReason);
    markChosenDay();
}

bool CalPanel::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == lstCal) {
        if (event->type() == QEvent::KeyPress) {
            const auto* key = static_cast<QKeyEvent*>(event);
            if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) &&
                !(key->modifiers() & ~Qt::KeypadModifier)) {
                QMetaObject::invokeMethod(this, &CalPanel::lstCal_Click, Qt::QueuedConnection);
                return true;
            }
        }
        return false;
    }
    if (watched == dayKeys) {
        if (event->type() == QEvent::FocusIn) {
            // The keys start from the day last chosen, else today, else the 1st of the month.
            const QDate today = platform().today();
            auto shown = [this](const QDate& d) {
                return d.isValid() && d.year() == dCalDate.year() && d.month() == dCalDate.month();
            };
            if (!shown(dKeyDate))
                dKeyDate = shown(dSelDate) ? dSelDate : shown(today) ? today : dCalDate;
            markChosenDay();
        } else if (event->type() == QEvent::FocusOut) {
            markChosenDay();
        } else if (event->type() == QEvent::KeyPress && dCalDate.isValid()) {
            auto* key = static_cast<QKeyEvent*>(event);
            if (key->modifiers() & ~Qt::KeypadModifier)
                return false;
            switch (key->key()) {
            case Qt::Key_Left: moveChosenDay(-1); return true;
            case Qt::Key_Right: moveChosenDay(1); return true;
            case Qt::Key_Up: moveChosenDay(-7); return true;
            case Qt::Key_Down: moveChosenDay(7); return true;
            case Qt::Key_Return:
            case Qt::Key_Enter:
            case Qt::Key_Space:
                labDay_Click(cellOfDay(dKeyDate.day()));
                return true;
            default: return false;
            }
        }
        return false;
    }
    // Taking the press keeps the release on the label, where the click is decided.
    if (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick)
        return static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton;
    if (event->type() == QEvent::MouseButtonRelease) {
        auto* me = static_cast<QMouseEvent*>(event);
        auto* w = static_cast<QWidget*>(watched);
        if (me->button() != Qt::LeftButton || !w->rect().contains(me->position().toPoint()))
            return false;
        for (int i = 0; i < 2; ++i)
            if (watched == labArrow[i]) {
                labArrow_Click(i);
                return true;
            }
        for (int i = 0; i < 37; ++i)
            if (watched == labDay[i]) {
                labDay_Click(i);
                return true;
            }
    }
    return QObject::eventFilter(watched, event);
}

} // namespace kestrel
