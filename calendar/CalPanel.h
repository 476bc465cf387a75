#pragma once
// The month calendar on the main window's panel fraCal: a 37-cell month grid with the days that
// have appointments in blue, month stepping, a month chooser and the clicked day's list.
#include <QColor>
#include <QDate>
#include <QObject>

class QComboBox;
class QGroupBox;
class QLabel;
class QListWidget;

namespace kestrel {

class CalPanel : public QObject {
    Q_OBJECT
public:
    // Creates every control of the panel inside fraCal.
    CalPanel(QGroupBox* fraCal, QObject* parent);
    ~CalPanel() override;

    QGroupBox* fraCal = nullptr;
    QLabel* labMonthYear = nullptr;
    QLabel* labArrow[2] = {};
    QLabel* labWDay[7] = {};
    QLabel* labDay[37] = {};
    QLabel* Label1 = nullptr;
    QComboBox* cboMonthYear = nullptr;
    QListWidget* lstCal = nullptr;
    // Takes the focus for the month grid: the arrow keys move the chosen day, Enter or Space
    // lists it as a click does.
    QWidget* dayKeys = nullptr;

    // The month shown; always the first of a month once the calendar has been loaded.
    QDate dCalDate;

    // Rebuilds the grid for x's month (x is taken as the first of its month) and puts the two
    // hint lines into lstCal.
    void LoadCal(QDate x);
    // Loads the month shown anew (other users changed appointments) and lists the day that was
    // listed again, marked as it was, instead of going back to the hint lines.
    void Refresh();
    // "pre" steps one month back, anything else one month on.
    void PreNext(const QString& direc);
    // The 36 entries "m/yyyy" of last year, this year and next year, none chosen.
    void PopMonthYear();

    static QString GetMonthName(int m);
    static int DaysInMonth(const QDate& d);

    // The calendar is showing when its panel stands at its front position.
    bool isShowing() const;

    // Handlers, public so the window's wiring and tests reach the same code a click does.
    void cboMonthYear_Click();
    void labArrow_Click(int index);
    void labDay_Click(int index);
    void lstCal_Click();

    // Cell colours: a normal day, a day with appointments (text), the day last clicked.
    static QColor dayBackground();
    static QColor selectedBackground();
    static inline const QColor kApptText{0, 0, 255};

    // Index of the cell that shows day d of the month shown, or -1.
    int cellOfDay(int d) const;
    // The day the keys have chosen (framed while the grid has the focus).
    QDate chosenDay() const { return dKeyDate; }
    // Puts the keys into the month grid on day d.
    void focusDay(const QDate& d);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QDate dSelDate;
    QDate dKeyDate;
    void moveChosenDay(int days);
    void markChosenDay();
};

// The calendar panel of the running main window (nullptr while there is none); the appointment
// editor reloads it after a change.
CalPanel* calPanel();

} // namespace kestrel
