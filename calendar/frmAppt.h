#pragma once
// The appointment editor: creates, changes and deletes one appointment.
#include "data/ApptSpan.h"
#include "formats/ApptSeries.h"
#include "formats/RepeatRule.h"
#include "ui/DatePicker.h"
#include "ui/TimeBox.h"
#include "contacts/frmContactGrid.h"

#include <QDialog>
#include <QStringList>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace kestrel {

struct RowKey;

class frmAppt : public QDialog, public ContactPicker {
    Q_OBJECT
public:
    explicit frmAppt(QWidget* parent = nullptr);

    // Set by the opener before the editor loads: edit appointment lApptID, or create one.
    bool bEditMode = false;
    int lApptID = 0;
    // For a repeating appointment: the day of it that was chosen (its first day when none was).
    QDate dOccurrence;
    // The contact the appointment is made for (0: a name typed or picked elsewhere); it holds
    // while the name box shows that contact's name.
    void setContact(int id, const QString& name);
    int contactForSave() const;

    // Fills the editor for the mode; runs once, on the first show or when the opener touches a
    // control first.
    void Form_Load();

    // The 48 half hours "12:00 AM" … "11:30 PM".
    void PopTimes();
    // Index of the entry whose text is exactly x, 0 when none is.
    int SelectTime(const QString& x) const;
    static QStringList halfHours();

    // The UPDATE (edit mode) or INSERT statement Save runs for the fields as they stand.
    QString SaveStatement() const;

    void cmdSave_Click();
    void cmdDelete_Click();
    void cmdClose_Click();
    void cmdContact_Click();

    // Escape, Close and the close box: with anything changed since the window opened, asks
    // before the changes are dropped; No keeps the window as it is.
    void reject() override;
    // True when a field differs from what the window showed when it opened.
    bool hasChanges() const;

    // The contact grid hands the picked contact back here.
    void setPickedId(int id) override;
    void setPickedName(const QString& name) override;
    // The date changed: only an appointment of today or before can have been held or not.
    void DTPicker1_Change();
    // The start time chosen: the end moves with it, keeping the length.
    void cboTime_Click();
    // Whole days: the clock times step aside.
    void chkAllDay_Click();
    // How it repeats: the controls that way needs take input, the others step aside.
    void cboRepeat_Click();
    void cboEnds_Click();

    // What the Repeats controls show, and putting a choice into them.
    RepeatChoice repeatShown() const;
    void showRepeat(const RepeatChoice& choice);
    // The rule the controls give for an appointment beginning on start (empty: it does not repeat).
    QString ruleShown(const QDate& start) const;

    // txtAppt(0) brief description, (1) where, (2) notes, (3) contact or name.
    QString apptText(int index) const;
    void setApptText(int index, const QString& text);

    Controls controls;
    QWidget* txtAppt[4] = {};
    QLineEdit* txtBrief = nullptr;  // txtAppt(0)
    QLineEdit* txtWhere = nullptr;  // txtAppt(1)
    QPlainTextEdit* txtNotes = nullptr; // txtAppt(2)
    QLineEdit* txtName = nullptr;   // txtAppt(3)
    DatePicker* DTPicker1 = nullptr;
    TimeBox* cboTime = nullptr;
    // Until: the day and time the appointment ends (any minute).
    DatePicker* DTUntil = nullptr;
    TimeBox* cboUntil = nullptr;
    QPushButton* cmdSave = nullptr;
    QPushButton* cmdClose = nullptr;
    QPushButton* cmdContact = nullptr;
    QPushButton* cmdDelete = nullptr;
    // Marks an appointment of today or before as not held; its history entry says so.
    QCheckBox* chkNotHeld = nullptr;
    // One or more whole days, listed first on each and alerted at 9:00 AM on the first.
    QCheckBox* chkAllDay = nullptr;
    // Kept in view, struck through, and never alerted.
    QCheckBox* chkCancelled = nullptr;
    // Repeats: never, daily, weekly on the days checked, monthly on the day or the weekday of the
    // start, yearly; every N of them; ends never, on a day or after N times.
    QComboBox* cboRepeat = nullptr;
    QLineEdit* txtEvery = nullptr;
    QLabel* lblEvery = nullptr; // "days", "weeks", …
    QCheckBox* chkDay[7] = {};  // Monday … Sunday
    QComboBox* cboEnds = nullptr;
    DatePicker* DTRepeatUntil = nullptr;
    QLineEdit* txtTimes = nullptr;

    // The answers of the question asked when one day of a series is saved or deleted.
    enum class Scope { Cancel = -1, OnlyThis, ThisAndFollowing, All };

protected:
    void showEvent(QShowEvent* event) override;

private:
    QTime startTime() const;
    ApptEnd endShown() const;
    void showEnd(const ApptEnd& end);
    void keepLength();
    ApptEnd shownStart_; // the start the end shown was last placed against
    // Shows the month of the picker's date when the calendar is in view.
    void reloadCalendar();
    // The notes box shows every line break as its own, and gives them back as LF: the text put
    // into it is kept, and given back unchanged while the box still shows it unedited.
    QString notesText() const;
    QString notesGiven_;
    QString notesShown_;
    RowKey row() const;
    // The version of the appointment as the window showed it; a save checks it is still stored.
    QString seenVersion_;
    // Writes back the values the appointment held when the window opened (Edit > Undo of the save).
    QString undoStatement_;
    bool loaded_ = false;
    int contactId_ = 0;
    QString contactName_;
    int pickedId_ = 0;
    QString outcome_; // as stored: empty, "Held" or "Not held"
    QString outcomeForSave() const;
    // Every field as the window first showed it, to tell whether anything was changed since.
    QStringList fieldsShown() const;
    QStringList opened_;

    // The series as stored when the window opened (id 0: not a series), and its first day.
    SeriesRow series_;
    bool isSeries() const { return series_.id != 0; }
    // A day of a series stored as a row of its own (moved or changed alone): it stands for the
    // series' day dOccurrence and is shown where it now is. Only this one changes or deletes that
    // row; the other answers reach the series (series_, with the version it was read at) from it.
    bool ownDay_ = false;
    QString seriesVersion_;
    std::vector<OwnDayEdit> ownDaysSeen_; // its days of their own, with the versions read when the window opened
    ApptEnd seriesEnd_;    // the series' own end, against series_.start and time
    bool seriesAllDay_ = false;
    // Whole days after the save: as the check box says when it was changed here, else as the series was.
    bool seriesAllDayAfter() const;
    ApptPlace dayOpened_;  // where the day shown was when the window opened
    QDate shownDay_;       // the day the question names
    const QString& seriesSeen() const { return ownDay_ ? seriesVersion_ : seenVersion_; }
    void loadRepeat(const QString& rrule, const QVariant& seriesId, const QDate& recurrenceDate);
    void loadOwnDaySeries(int seriesId, const QDate& recurrenceDate);
    // "All" or "This and the following": the series moves by as much as the day shown was moved,
    // its days of their own with it. False keeps the window.
    bool saveFromDay(Scope scope);
    // What the series takes from a change made on a day of its own: the fields changed in the
    // window, its first day and times as given, and rule.
    QString seriesChange(const QDate& on, const QTime& at, const ApptEnd& until, const QString& rule) const;
    // Tells why the Repeats controls cannot be saved and takes the user there; true when refused.
    bool refuseRepeat();
    Scope askScope(const QString& doing) const;
    // Saves a day of the series alone as a row of its own; false keeps the window.
    bool saveOneDay();
    // Deletes a day of the series, or the days from it on, or all; false keeps the window.
    bool deleteSeries(Scope scope);
    // The monthly entries name the start's day ("Monthly on day 9", "Monthly on the 2nd Tuesday").
    void nameRepeatEntries();
    QString storedRule_;
    QString statementFor(bool update, const QDate& on, const ApptEnd& until, const QString& rrule) const;
};

// "Schedule an appointment ": a new appointment for the contact leadID, its first and last name
// filled in (and where given, the date and the brief description); does nothing for 0.
void ScheduleAppointmentFor(int leadID, QWidget* parent, const QDate& date = {}, const QString& brief = {});

} // namespace kestrel
