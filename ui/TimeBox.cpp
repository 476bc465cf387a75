#include "ui/TimeBox.h"

#include "data/modData.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QTimer>

namespace kestrel {

std::optional<QTime> ParseTypedTime(const QString& text)
{
    // hour[:.]minutes or 3-4 digits, then an optional a/p with optional m and dots.
    static const QRegularExpression parted(QStringLiteral(R"(^([0-9]{1,2})(?:[:.]([0-9]{2}))?\s*(?:([ap])\.?(?:m\.?)?)?$)"),
                                           QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression run(QStringLiteral(R"(^([0-9]{1,2})([0-9]{2})\s*(?:([ap])\.?(?:m\.?)?)?$)"),
                                        QRegularExpression::CaseInsensitiveOption);
    const QString t = text.trimmed();
    QRegularExpressionMatch m = parted.match(t);
    if (!m.hasMatch())
        m = run.match(t);
    if (!m.hasMatch())
        return std::nullopt;
    const QString hourText = m.captured(1);
    int hour = hourText.toInt();
    const int minute = m.captured(2).isEmpty() ? 0 : m.captured(2).toInt();
    const QString half = m.captured(3).toLower();
    if (minute > 59)
        return std::nullopt;
    if (!half.isEmpty()) {
        if (hour < 1 || hour > 12)
            return std::nullopt;
        hour = hour % 12 + (half == u"p" ? 12 : 0);
    } else if (hour > 23) {
        return std::nullopt;
    } else if (hour >= 1 && hour <= 6 && !hourText.startsWith(u'0')) {
        hour += 12; // an afternoon appointment, not one before dawn
    }
    return QTime(hour, minute);
}

std::optional<int> HalfHourIndex(const QTime& t)
{
    if (!t.isValid() || t.second() != 0 || t.msec() != 0 || t.minute() % 30 != 0)
        return std::nullopt;
    return t.hour() * 2 + t.minute() / 30;
}

TimeBox::TimeBox(QWidget* parent) : QComboBox(parent)
{
    setEditable(true);
    // The typed text is read by the rules above; the list's own completion would finish "1" as
    // "12:00 AM" under the user's fingers.
    setCompleter(nullptr);
    setInsertPolicy(QComboBox::NoInsert);
    lineEdit()->setMaxLength(12);
    lineEdit()->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("^[0-9:. aApPmM]*$")), this));
    // A typed time is shown as refused only when the user leaves it; typing on clears the refusal.
    connect(lineEdit(), &QLineEdit::textEdited, this, [this] { setRefused(false); });
}

bool TimeBox::commitTyped()
{
    const QString typed = currentText();
    if (currentIndex() >= 0 && typed == itemText(currentIndex())) {
        setRefused(false);
        return true;
    }
    const std::optional<QTime> t = ParseTypedTime(typed);
    const std::optional<int> index = t ? HalfHourIndex(*t) : std::nullopt;
    if (t && anyMinute_ && !index) {
        setCurrentIndex(-1);
        setEditText(TimeText(*t));
        setRefused(false);
        return true;
    }
    if (!index || *index >= count()) {
        setRefused(true);
        return false;
    }
    setCurrentIndex(*index);
    setEditText(itemText(*index));
    setRefused(false);
    return true;
}

QTime TimeBox::time() const { return ParseTypedTime(currentText()).value_or(QTime()); }

QString TimeBox::refusal() const
{
    if (!refused_)
        return {};
    const std::optional<QTime> t = ParseTypedTime(currentText());
    if (!t)
        return QStringLiteral("The time must be a time of day, typed for example as 9:30, 9:30 PM, 930 or 14:00.");
    const QTime before(t->hour(), t->minute() < 30 ? 0 : 30);
    return QStringLiteral("Appointments begin on the hour or the half hour, and %1 is neither: choose %2 or %3.")
        .arg(TimeText(*t), TimeText(before), TimeText(before.addSecs(30 * 60)));
}

void TimeBox::setRefused(bool refused)
{
    if (refused == refused_)
        return;
    refused_ = refused;
    if (!refused) {
        lineEdit()->setPalette(QPalette());
        setToolTip(QString());
        return;
    }
    QPalette p = lineEdit()->palette();
    p.setColor(QPalette::Base, QColor(255, 192, 192));
    p.setColor(QPalette::Text, QColor(160, 0, 0));
    lineEdit()->setPalette(p);
    setToolTip(refusal());
}

void TimeBox::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        commitTyped();
        event->accept();
        return;
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
        // The arrows step from the time typed, not from the entry shown before it.
        if (!(event->modifiers() & (Qt::AltModifier | Qt::ControlModifier)))
            commitTyped();
        break;
    default:
        break;
    }
    QComboBox::keyPressEvent(event);
}

void TimeBox::focusInEvent(QFocusEvent* event)
{
    QComboBox::focusInEvent(event);
    // As in the text boxes, what is typed replaces the whole time shown; a click places its
    // cursor after this, so the selection waits for it. Back from the list, nothing changes.
    if (event->reason() == Qt::PopupFocusReason)
        return;
    if (event->reason() != Qt::MouseFocusReason)
        lineEdit()->selectAll();
    else
        QTimer::singleShot(0, lineEdit(), [edit = lineEdit()] {
            if (edit->hasFocus() && !edit->isModified())
                edit->selectAll();
        });
}

void TimeBox::focusOutEvent(QFocusEvent* event)
{
    QComboBox::focusOutEvent(event);
    // The drop-down list takes the focus for a moment: the typing is not over then.
    if (event->reason() != Qt::PopupFocusReason)
        commitTyped();
}

} // namespace kestrel
