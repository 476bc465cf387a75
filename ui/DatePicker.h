#pragma once
// A date box with a drop-down month calendar. The date is typed as month/day/year and kept
// exactly as typed: no part is corrected while the others are still being typed, and a day that
// does not exist is shown as refused, never turned into another day.
#include <QDate>
#include <QLineEdit>

#include <optional>

class QCalendarWidget;
class QFrame;

namespace kestrel {

// A typed date: month and day of one or two digits and a four-digit year, parted by "/", "-" or
// ".", or the eight digits mmddyyyy. Nothing for an incomplete text or a day that does not exist.
std::optional<QDate> ParseTypedDate(const QString& text);

class DatePicker : public QLineEdit {
    Q_OBJECT
public:
    explicit DatePicker(QWidget* parent = nullptr);

    // The date the box holds; invalid while its text is no date.
    QDate date() const;
    void setDate(const QDate& d);

    // Drops the month calendar down below the box (also F4 and Alt+Down).
    void showCalendar();
    QCalendarWidget* calendar() const { return calendar_; }
    // Shown in the refused colours: the text is no date.
    bool isRefused() const { return refused_; }
    // Shows the text as refused, and says so, when it is no date (a Save that needs one).
    void refuse();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void selectPart(int index);
    int partAt(int position) const;
    void setRefused(bool refused);
    void showRefused();
    void pick(const QDate& d);

    QFrame* popup_ = nullptr;
    QCalendarWidget* calendar_ = nullptr;
    QDate lastDate_;
    bool refused_ = false;
    bool painted_ = false; // the refused colours are on
};

} // namespace kestrel
