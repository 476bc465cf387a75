#pragma once
// "Log Activity": one entry of a contact's history (a call, meeting, mail, letter, visit or note)
// typed in a few keystrokes, or an entry opened again to be changed. The focus starts in Subject;
// Alt+S saves and Escape cancels. A "Follow up on" date is handed back to the opener, which
// schedules the appointment or adds the to-do item (the calendar is built on this window).
#include "data/History.h"
#include "ui/Ui.h"

#include <QDate>
#include <QDialog>

class QComboBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;

namespace kestrel {

class DatePicker;

class frmLogEntry : public QDialog {
    Q_OBJECT
public:
    // A new entry for contactId, or (entryId > 0) the stored entry to change.
    frmLogEntry(int contactId, qint64 entryId, QWidget* parent = nullptr);

    // Handlers, public so tests reach the same code the keys and the mouse do.
    void cmdSave_Click();
    void cboKind_Click();

    // What the user asked to follow up with, once the entry is saved (an invalid date: nothing).
    QDate followUpDate() const { return followUp_; }
    bool followUpAsAppointment() const { return followUpAppt_; }
    const HistoryEntry& entry() const { return entry_; }

    Controls controls;
    QComboBox* cboKind = nullptr;
    QComboBox* cboDirection = nullptr;
    QComboBox* cboOutcome = nullptr;
    DatePicker* dtDate = nullptr;
    QLineEdit* txtTime = nullptr;
    QLineEdit* txtDuration = nullptr;
    QLineEdit* txtSubject = nullptr;
    QPlainTextEdit* txtNote = nullptr;
    DatePicker* dtFollowUp = nullptr;
    QRadioButton* optFollowAppt = nullptr;
    QRadioButton* optFollowToDo = nullptr;
    QPushButton* cmdSave = nullptr;
    QPushButton* cmdCancel = nullptr;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void Form_Load();
    // The entry as the boxes hold it; false (the user told, the focus on the box) when a box
    // holds what cannot be stored.
    bool readBoxes();

    HistoryEntry entry_;
    QString seenVersion_;
    QDate followUp_;
    bool followUpAppt_ = true;
    bool loaded_ = false;
};

// "Follow up: Ann Lee" as a to-do item holds it (its 25 characters), the day in front: "3/21 Ann Lee".
QString FollowUpToDoText(const QDate& date, const QString& name);

} // namespace kestrel
