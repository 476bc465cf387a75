#pragma once
// A time box: the 48 half hours "12:00 AM" … "11:30 PM" to drop down and step through, and a time
// typed in the forms people type it (9:30, 9:30 am, 930, 14:00), read when the user leaves the
// box and then shown as its entry. What cannot be read stays as typed, shown as refused.
#include <QComboBox>
#include <QTime>

#include <optional>

namespace kestrel {

// A typed time of day: an hour with optional minutes (":" or "." between, or three or four
// digits such as 930 and 1400) and optional am/pm (a, p, am, pm, a.m., p.m., any case, with or
// without a blank). Without am/pm an hour reads as a working day's hour: 7 to 11 in the
// morning, 12 as noon, 1 to 6 in the afternoon; 0 and 13 to 23, and any hour written with a
// leading zero (06:30, 0630), on the 24-hour clock. Nothing for anything else.
std::optional<QTime> ParseTypedTime(const QString& text);

// The index 0 … 47 of the half hour t is, or nothing when t is between half hours.
std::optional<int> HalfHourIndex(const QTime& t);

class TimeBox : public QComboBox {
    Q_OBJECT
public:
    explicit TimeBox(QWidget* parent = nullptr);

    // Reads what is typed and chooses its entry; false (the box shown as refused) when it is no
    // time or no half hour. An entry already shown stands.
    bool commitTyped();
    // Why the typed text was refused, in words for a message; empty when it was not.
    QString refusal() const;
    bool isRefused() const { return refused_; }
    // An end may fall on any minute (10:45 AM): such a time is shown as typed, without an entry.
    void setAnyMinute(bool any) { anyMinute_ = any; }
    // The time the box shows; invalid while its text is no time.
    QTime time() const;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void setRefused(bool refused);
    bool refused_ = false;
    bool anyMinute_ = false;
};

} // namespace kestrel
