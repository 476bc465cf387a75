#pragma once
// The appointment editor: creates, changes and deletes one appointment.
#include "ui/DatePicker.h"
#include "ui/TimeBox.h"
#include "contacts/frmContactGrid.h"

#include <QDialog>
#include <QStringList>

class QComboBox;
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

    // The contact grid hands the picked name back here.
    void setPickedName(const QString& name) override;

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
    QPushButton* cmdSave = nullptr;
    QPushButton* cmdClose = nullptr;
    QPushButton* cmdContact = nullptr;
    QPushButton* cmdDelete = nullptr;

protected:
    void showEvent(QShowEvent* event) override;

private:
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
    // Every field as the window first showed it, to tell whether anything was changed since.
    QStringList fieldsShown() const;
    QStringList opened_;
};

// "Schedule an appointment ": a new appointment with the contact leadID's first and last name
// filled in; does nothing for 0.
void ScheduleAppointmentFor(int leadID, QWidget* parent);

} // namespace kestrel
