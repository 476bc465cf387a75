#include "ui/DatePicker.h"

#include "data/modData.h"
#include "ui/Accessible.h"

#include <QAction>
#include <QCalendarWidget>
#include <QFrame>
#include <QKeyEvent>
#include <QPainter>
#include <QStyleOption>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QStyle>
#include <QVBoxLayout>

#include <algorithm>

namespace kestrel {

namespace {
bool isSeparator(QChar c) { return c == u'/' || c == u'-' || c == u'.'; }

// The plain arrow of a drop-down list, drawn by the style.
QIcon dropArrow(QStyle* style)
{
    QPixmap arrow(12, 12);
    arrow.fill(Qt::transparent);
    QPainter painter(&arrow);
    QStyleOption option;
    option.rect = arrow.rect();
    option.palette.setColor(QPalette::ButtonText, Qt::black);
    option.state = QStyle::State_Enabled;
    style->drawPrimitive(QStyle::PE_IndicatorArrowDown, &option, &painter);
    return QIcon(arrow);
}

struct Part {
    int start, length;
};

// The digit runs of the text, parted by separators; "11/" has an empty second part.
std::vector<Part> partsOf(const QString& text)
{
    std::vector<Part> parts{{0, 0}};
    for (int i = 0; i < text.size(); ++i) {
        if (isSeparator(text.at(i)))
            parts.push_back({i + 1, 0});
        else
            ++parts.back().length;
    }
    return parts;
}
} // namespace

std::optional<QDate> ParseTypedDate(const QString& text)
{
    static const QRegularExpression parted(QStringLiteral("^([0-9]{1,2})[-/.]([0-9]{1,2})[-/.]([0-9]{4})$"));
    static const QRegularExpression digits(QStringLiteral("^([0-9]{2})([0-9]{2})([0-9]{4})$"));
    QRegularExpressionMatch m = parted.match(text);
    if (!m.hasMatch())
        m = digits.match(text);
    if (!m.hasMatch())
        return std::nullopt;
    const int year = m.captured(3).toInt();
    const QDate d(year, m.captured(1).toInt(), m.captured(2).toInt());
    // A year such as 0207 is a slip of the keys, not a date anyone keeps appointments on.
    if (year < 1000 || !d.isValid())
        return std::nullopt;
    return d;
}

DatePicker::DatePicker(QWidget* parent) : QLineEdit(parent)
{
    setMaxLength(10);
    setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("^[0-9]*([-/.][0-9]*){0,2}$")), this));
    QAction* drop = addAction(dropArrow(style()), QLineEdit::TrailingPosition);
    connect(drop, &QAction::triggered, this, &DatePicker::showCalendar);
    // The arrow has no text; a tooltip would change what the mouse shows, a name does not.
    for (QObject* button : drop->associatedObjects())
        if (button != this && button->isWidgetType())
            static_cast<QWidget*>(button)->setAccessibleName(QStringLiteral("Open the calendar"));

    popup_ = new QFrame(this, Qt::Popup);
    popup_->setFrameShape(QFrame::Box);
    auto* layout = new QVBoxLayout(popup_);
    layout->setContentsMargins(1, 1, 1, 1);
    calendar_ = new QCalendarWidget(popup_);
    calendar_->setFirstDayOfWeek(Qt::Sunday); // as the month grid
    calendar_->setVerticalHeaderFormat(QCalendarWidget::NoVerticalHeader);
    layout->addWidget(calendar_);
    connect(calendar_, &QCalendarWidget::clicked, this, &DatePicker::pick);
    connect(calendar_, &QCalendarWidget::activated, this, &DatePicker::pick);

    // Typing a real date clears the refusal at once; a refusal is shown only when the user leaves.
    connect(this, &QLineEdit::textChanged, this, [this](const QString& text) {
        if (const auto d = ParseTypedDate(text)) {
            lastDate_ = *d;
            setRefused(false);
        }
    });
}

QDate DatePicker::date() const { return ParseTypedDate(text()).value_or(QDate()); }

void DatePicker::setDate(const QDate& d)
{
    setText(d.isValid() ? DateText(d) : QString());
    setRefused(!d.isValid());
}

void DatePicker::setRefused(bool refused)
{
    if (refused == refused_)
        return;
    refused_ = refused;
    showRefused();
    if (refused_ && isEnabled())
        announce(this, accessibleName().isEmpty() ? toolTip() : accessibleName() + QStringLiteral(": ") + toolTip());
}

// The refused colours only while the box takes input: a disabled box that holds no date (Repeats
// ending never) is not waiting for one, and looks like any other disabled control.
void DatePicker::showRefused()
{
    const bool shown = refused_ && isEnabled();
    if (shown == painted_)
        return;
    painted_ = shown;
    if (!shown) {
        setPalette(QPalette()); // back to the window's colours
        setToolTip(QString());
    } else {
        QPalette p;
        p.setColor(QPalette::Base, QColor(255, 192, 192));
        p.setColor(QPalette::Text, QColor(160, 0, 0));
        setPalette(p);
        setToolTip(QStringLiteral("Not a date: type month/day/year, for example 3/7/2027"));
    }
    // The colours say it to the eye; the description says it to the ear.
    QAccessibleEvent described(this, QAccessible::DescriptionChanged);
    QAccessible::updateAccessibility(&described);
}

void DatePicker::changeEvent(QEvent* event)
{
    QLineEdit::changeEvent(event);
    if (event->type() == QEvent::EnabledChange)
        showRefused();
}

void DatePicker::refuse()
{
    if (!date().isValid())
        setRefused(true);
}

void DatePicker::focusOutEvent(QFocusEvent* event)
{
    QLineEdit::focusOutEvent(event);
    if (const auto d = ParseTypedDate(text())) {
        // 03-07-2027 and 03072027 read back in the form the program shows dates in.
        if (text() != DateText(*d))
            setText(DateText(*d));
    } else {
        setRefused(true);
    }
}

int DatePicker::partAt(int position) const
{
    const std::vector<Part> parts = partsOf(text());
    for (size_t i = 0; i < parts.size(); ++i)
        if (position <= parts[i].start + parts[i].length)
            return int(i);
    return int(parts.size()) - 1;
}

void DatePicker::selectPart(int index)
{
    const std::vector<Part> parts = partsOf(text());
    const Part p = parts[std::clamp<size_t>(index < 0 ? 0 : size_t(index), 0, parts.size() - 1)];
    setSelection(p.start, p.length);
    if (p.length == 0)
        setCursorPosition(p.start);
}

void DatePicker::keyPressEvent(QKeyEvent* event)
{
    const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
    if (event->key() == Qt::Key_F4 || (event->key() == Qt::Key_Down && mods == Qt::AltModifier)) {
        showCalendar();
        return;
    }
    const bool parted = std::any_of(text().cbegin(), text().cend(), isSeparator);
    const int from = hasSelectedText() ? selectionStart() : cursorPosition();
    const int to = hasSelectedText() ? selectionEnd() : cursorPosition();
    if ((event->key() == Qt::Key_Left || event->key() == Qt::Key_Right) && mods == Qt::NoModifier && parted) {
        selectPart(partAt(from) + (event->key() == Qt::Key_Right ? 1 : -1));
        return;
    }
    if (event->text().size() == 1 && isSeparator(event->text().at(0))) {
        // Over a separator the key moves on to the next part, as in a parted date field.
        if (to < text().size() && isSeparator(text().at(to))) {
            selectPart(partAt(to + 1));
            return;
        }
        // A separator needs a number before it.
        if (from == 0 || isSeparator(text().at(from - 1)))
            return;
    }
    QLineEdit::keyPressEvent(event);
}

void DatePicker::showCalendar()
{
    const QDate shown = date().isValid() ? date() : lastDate_;
    if (shown.isValid())
        calendar_->setSelectedDate(shown);
    popup_->adjustSize();
    popup_->move(mapToGlobal(QPoint(0, height())));
    popup_->show();
    calendar_->setFocus(Qt::PopupFocusReason);
}

void DatePicker::pick(const QDate& d)
{
    popup_->hide();
    setDate(d);
    setFocus(Qt::PopupFocusReason);
}

} // namespace kestrel
