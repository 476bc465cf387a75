#include "calendar/frmAppt.h"

#include "ui/Report.h"
#include "ui/Undo.h"
#include "ui/Ui.h"
#include "calendar/CalPanel.h"
#include "calendar/frmReminder.h"
#include "data/Database.h"
#include "data/Globals.h"
#include "data/History.h"
#include "data/RowGuard.h"
#include "data/Trash.h"
#include "data/modData.h"
#include "calendar/modCal.h"
#include "data/ApptSpan.h"
#include "platform/Platform.h"
#include "ui/Desktop.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShortcut>
#include <QTextDocument>
#include <QTimeZone>

namespace kestrel {

frmAppt::frmAppt(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("frmAppt"));
    setupDialog(this, QStringLiteral("Appointment"), 5655, 5880, true);
    setFont(designFont(QStringLiteral("Verdana"), 8.25));

    controls = buildControls(this, {
        {"Label1", ControlKind::Label, "Brief description:", 240, 120, kAuto, kAuto},
        {"txtAppt0", ControlKind::TextBox, "", 240, 360, 5175, kAuto, 1, 50},
        {"Label2", ControlKind::Label, "Where:", 240, 720, kAuto, kAuto},
        {"txtAppt1", ControlKind::TextBox, "", 240, 960, 5175, kAuto, 2, 75},
        {"Label3", ControlKind::Label, "Date:", 240, 1320, kAuto, kAuto},
        {"DTPicker1", ControlKind::DatePicker, "", 240, 1560, 1695, kAuto, 3},
        {"Label4", ControlKind::Label, "Time:", 2280, 1320, kAuto, kAuto},
        {"cboTime", ControlKind::TimeBox, "", 2520, 1560, 1455, kAuto, 4},
        {"Label7", ControlKind::Label, "Until:", 240, 1920, kAuto, kAuto},
        {"DTUntil", ControlKind::DatePicker, "", 240, 2160, 1695, kAuto, 5},
        {"Label8", ControlKind::Label, "At:", 2280, 1920, kAuto, kAuto},
        {"cboUntil", ControlKind::TimeBox, "", 2520, 2160, 1455, kAuto, 6},
        {"chkAllDay", ControlKind::CheckBox, "All day", 4080, 2190, 1335, 255, 7},
        {"Label5", ControlKind::Label, "Notes:", 240, 2520, kAuto, kAuto},
        {"txtAppt2", ControlKind::MultiText, "", 240, 2760, 5175, 885, 8},
        {"cmdSave", ControlKind::Button, "Save", 840, 4920, kAuto, kAuto, 9},
        {"cmdClose", ControlKind::Button, "Close", 3000, 4920, kAuto, kAuto, 10},
        {"Label6", ControlKind::Label, "Contact or name:", 240, 4320, kAuto, kAuto},
        {"txtAppt3", ControlKind::TextBox, "", 240, 4560, 4455, kAuto, 11, 50},
        {"cmdContact", ControlKind::Button, "Select Contact", 240, 3840, kAuto, kAuto, 12},
        {"cmdDelete", ControlKind::Button, "Delete", 1440, 5400, kAuto, kAuto, 13},
        {"chkNotHeld", ControlKind::CheckBox, "Not held", 3960, 3900, 1455, 255, 14},
        {"chkCancelled", ControlKind::CheckBox, "Cancelled", 3960, 4200, 1455, 255, 15},
    });
    txtBrief = controls.get<QLineEdit>(QStringLiteral("txtAppt0"));
    txtWhere = controls.get<QLineEdit>(QStringLiteral("txtAppt1"));
    txtNotes = controls.get<QPlainTextEdit>(QStringLiteral("txtAppt2"));
    txtName = controls.get<QLineEdit>(QStringLiteral("txtAppt3"));
    txtAppt[0] = txtBrief;
    txtAppt[1] = txtWhere;
    txtAppt[2] = txtNotes;
    txtAppt[3] = txtName;
    for (QLineEdit* box : {txtBrief, txtWhere, txtName})
        installFocusColour(box, Qt::white);
    installFocusColour(static_cast<QWidget*>(txtNotes), Qt::white);

    DTPicker1 = controls.get<DatePicker>(QStringLiteral("DTPicker1"));
    cboTime = controls.get<TimeBox>(QStringLiteral("cboTime"));
    DTUntil = controls.get<DatePicker>(QStringLiteral("DTUntil"));
    cboUntil = controls.get<TimeBox>(QStringLiteral("cboUntil"));
    cboUntil->setAnyMinute(true);
    cmdSave = controls.get<QPushButton>(QStringLiteral("cmdSave"));
    cmdClose = controls.get<QPushButton>(QStringLiteral("cmdClose"));
    cmdContact = controls.get<QPushButton>(QStringLiteral("cmdContact"));
    cmdDelete = controls.get<QPushButton>(QStringLiteral("cmdDelete"));
    chkNotHeld = controls.get<QCheckBox>(QStringLiteral("chkNotHeld"));
    chkAllDay = controls.get<QCheckBox>(QStringLiteral("chkAllDay"));
    chkCancelled = controls.get<QCheckBox>(QStringLiteral("chkCancelled"));
    chkCancelled->setToolTip(QStringLiteral("The appointment stays in the calendar, struck through, and raises no alert"));
    chkNotHeld->setToolTip(QStringLiteral("The appointment did not take place: its history entry says \"Not held\""));
    for (QPushButton* b : {cmdSave, cmdClose, cmdContact, cmdDelete})
        b->setAutoDefault(false);

    connect(cmdSave, &QPushButton::clicked, this, &frmAppt::cmdSave_Click);
    connect(cmdClose, &QPushButton::clicked, this, &frmAppt::cmdClose_Click);
    connect(cmdContact, &QPushButton::clicked, this, &frmAppt::cmdContact_Click);
    connect(cmdDelete, &QPushButton::clicked, this, &frmAppt::cmdDelete_Click);
    connect(DTPicker1, &QLineEdit::textChanged, this, &frmAppt::DTPicker1_Change);
    connect(cboTime, &QComboBox::currentIndexChanged, this, &frmAppt::cboTime_Click);
    connect(chkAllDay, &QCheckBox::toggled, this, &frmAppt::chkAllDay_Click);
    // Ctrl+S saves from any field, as in the contact editor.
    connect(new QShortcut(QKeySequence::Save, this), &QShortcut::activated, this, &frmAppt::cmdSave_Click);
}

QStringList frmAppt::halfHours()
{
    QStringList out;
    for (int i = 0; i < 48; ++i)
        out << TimeText(QTime(i / 2, (i % 2) * 30));
    return out;
}

void frmAppt::PopTimes()
{
    cboTime->clear();
    cboTime->addItems(halfHours());
    cboUntil->clear();
    cboUntil->addItems(halfHours());
}

int frmAppt::SelectTime(const QString& x) const
{
    const int i = cboTime->findText(x, Qt::MatchExactly | Qt::MatchCaseSensitive);
    return i < 0 ? 0 : i;
}

QString frmAppt::notesText() const
{
    // The raw text keeps non-breaking spaces, which the plain-text form turns into blanks.
    QString text = txtNotes->document()->toRawText();
    for (QChar& c : text)
        if (c == QChar::ParagraphSeparator || c == QChar::LineSeparator)
            c = u'\n';
    return text;
}

QString frmAppt::apptText(int index) const
{
    if (index != 2)
        return static_cast<QLineEdit*>(txtAppt[index])->text();
    // Notes stored with CR LF line breaks would otherwise be rewritten by every save.
    const QString shown = notesText();
    return shown == notesShown_ ? notesGiven_ : shown;
}

void frmAppt::setApptText(int index, const QString& text)
{
    if (index == 2) {
        txtNotes->setPlainText(text);
        notesGiven_ = text;
        notesShown_ = notesText();
    } else {
        setStoredText(static_cast<QLineEdit*>(txtAppt[index]), text);
    }
}

void frmAppt::showEvent(QShowEvent* event)
{
    Form_Load();
    // What the opener filled in (a contact's name) counts as shown, not as a change.
    if (opened_.isEmpty())
        opened_ = fieldsShown();
    QDialog::showEvent(event);
}

QStringList frmAppt::fieldsShown() const
{
    return {apptText(0), apptText(1), apptText(2), apptText(3), DTPicker1->text(), cboTime->currentText(),
            DTUntil->text(), cboUntil->currentText(), chkNotHeld->isChecked() ? QStringLiteral("not held") : QString(),
            chkAllDay->isChecked() ? QStringLiteral("all day") : QString(),
            chkCancelled->isChecked() ? QStringLiteral("cancelled") : QString()};
}

bool frmAppt::hasChanges() const { return !opened_.isEmpty() && fieldsShown() != opened_; }

void frmAppt::reject()
{
    if (hasChanges() && !platform().askYesNo(QStringLiteral("Discard the changes to this appointment?")))
        return;
    QDialog::reject();
}

void frmAppt::Form_Load()
{
    if (loaded_)
        return;
    loaded_ = true;
    PopTimes();
    if (!bEditMode) {
        cmdDelete->setEnabled(false);
        DTPicker1->setDate(platform().today());
        cboTime->setCurrentIndex(24);
        showEnd(defaultEnd(DTPicker1->date(), QTime(12, 0)));
        DTPicker1_Change();
        return;
    }
    // A row that is gone, or columns left empty by another program, open as empty fields.
    DTPicker1->setDate(platform().today());
    cboTime->setCurrentIndex(0);
    try {
        // The version first: a change landing between the two reads then makes the save ask,
        // where the other order would let it overwrite that change unseen.
        seenVersion_ = rowVersion(sConnContacts, row());
        Connection connection(sConnContacts);
        Snapshot rs(connection, QStringLiteral("SELECT name,address,apptdate,appttime,apptbrief,apptnotes,contact_id,"
                                               "outcome,enddate,endtime,allday,cancelled FROM appointments where autoid=") +
                                    QString::number(lApptID));
        if (rs.eof()) {
            showEnd(defaultEnd(DTPicker1->date(), QTime(0, 0)));
            DTPicker1_Change();
            return;
        }
        setApptText(3, rs.text(0));
        setApptText(1, rs.text(1));
        if (const QVariant d = rs.field(2); d.typeId() == QMetaType::QDate)
            DTPicker1->setDate(d.toDate());
        const QVariant t = rs.field(3);
        cboTime->setCurrentIndex(SelectTime(t.typeId() == QMetaType::QTime ? TimeText(t.toTime()) : QString()));
        setApptText(0, rs.text(4));
        setApptText(2, rs.text(5));
        setContact(rs.field(6).toInt(), rs.text(0));
        outcome_ = rs.text(7);
        const bool allDay = rs.field(10).toBool();
        chkAllDay->setChecked(allDay);
        chkCancelled->setChecked(rs.field(11).toBool());
        if (allDay) {
            const QDate last = rs.field(8).toDate();
            showEnd({last.isValid() ? last : DTPicker1->date(), QTime(0, 0)});
        } else {
            showEnd(storedEnd(DTPicker1->date(), t.typeId() == QMetaType::QTime ? t.toTime() : QTime(0, 0), rs.field(8),
                              rs.field(9)));
        }
        chkNotHeld->setChecked(outcome_ == kNotHeld);
        DTPicker1_Change();
        // The stored values as they are, for an undo of the save.
        const auto text = [&rs](int i) { return rs.field(i).isNull() ? QStringLiteral("NULL") : u'\'' + Quoted(rs.text(i)) + u'\''; };
        const QVariant d = rs.field(2);
        const QVariant ed = rs.field(8), et = rs.field(9);
        const auto flag = [&rs](int i) { return rs.field(i).toBool() ? QStringLiteral("True") : QStringLiteral("False"); };
        undoStatement_ = QStringLiteral("UPDATE appointments set name=%1, address=%2, apptdate=%3, appttime=%4, apptbrief=%5, "
                                        "apptnotes=%6, contact_id=%7, outcome=%8, enddate=%9, ")
                             .arg(text(0), text(1),
                                  d.typeId() == QMetaType::QDate ? u'#' + DateText(d.toDate()) + u'#' : QStringLiteral("NULL"),
                                  t.typeId() == QMetaType::QTime ? u'#' + TimeText(t.toTime()) + u'#' : QStringLiteral("NULL"),
                                  text(4), text(5),
                                  rs.field(6).isNull() ? QStringLiteral("NULL") : QString::number(rs.field(6).toLongLong()),
                                  text(7),
                                  ed.typeId() == QMetaType::QDate ? u'#' + DateText(ed.toDate()) + u'#' : QStringLiteral("NULL")) +
                         QStringLiteral("endtime=%1, allday=%2, cancelled=%3 where autoid=%4")
                             .arg(et.typeId() == QMetaType::QTime ? u'#' + TimeText(et.toTime()) + u'#' : QStringLiteral("NULL"),
                                  flag(10), flag(11))
                             .arg(lApptID);
    } catch (const std::exception& e) {
        ReportFailure(e, QStringLiteral("Form_Load"), Owner::Form, QStringLiteral("frmAppt"));
    }
}

void frmAppt::cmdSave_Click()
{
    const QString brief = apptText(0);
    const QString name = apptText(3);
    if (brief.isEmpty() || name.isEmpty()) {
        platform().msgBox(QStringLiteral("Description and name must contain entries."));
        (brief.isEmpty() ? txtBrief : txtName)->setFocus();
        return;
    }
    if (!DTPicker1->date().isValid()) {
        DTPicker1->refuse();
        platform().msgBox(QStringLiteral("The date must be a day of the calendar, typed as month/day/year "
                                         "(for example 3/7/2027)."));
        DTPicker1->setFocus();
        DTPicker1->selectAll();
        return;
    }
    if (!chkAllDay->isChecked() && !cboTime->commitTyped()) {
        platform().msgBox(cboTime->refusal());
        cboTime->setFocus();
        cboTime->lineEdit()->selectAll();
        return;
    }
    if (!DTUntil->date().isValid() || (!chkAllDay->isChecked() && !cboUntil->commitTyped())) {
        const bool date = !DTUntil->date().isValid();
        if (date)
            DTUntil->refuse();
        platform().msgBox(date ? QStringLiteral("The Until date must be a day of the calendar, typed as month/day/year "
                                                "(for example 3/7/2027).")
                               : cboUntil->refusal());
        (date ? static_cast<QWidget*>(DTUntil) : cboUntil)->setFocus();
        return;
    }
    if (chkAllDay->isChecked() && DTUntil->date() < DTPicker1->date()) {
        platform().msgBox(QStringLiteral("An all-day appointment cannot end before the day it begins: it begins on %1, "
                                         "and Until says %2.")
                              .arg(DateText(DTPicker1->date()), DateText(DTUntil->date())));
        DTUntil->setFocus();
        DTUntil->selectAll();
        return;
    }
    if (const QString refused = chkAllDay->isChecked() ? QString() : EndRefusal(DTPicker1->date(), startTime(), endShown());
        !refused.isEmpty()) {
        platform().msgBox(refused);
        cboUntil->setFocus();
        cboUntil->lineEdit()->selectAll();
        return;
    }
    // A failed save keeps the editor open with the user's input, so nothing typed is lost.
    SaveOutcome outcome = SaveOutcome::Saved;
    bool overOthers = false;
    if (bEditMode)
        outcome = SaveEditedRow(sConnContacts, row(), seenVersion_, SaveStatement(), QStringLiteral("appointment"), &overOthers);
    else if (ActionQueryCount(SaveStatement(), sConnContacts) < 0)
        outcome = SaveOutcome::Failed;
    if (outcome == SaveOutcome::Failed || outcome == SaveOutcome::Changed)
        return;
    if (outcome == SaveOutcome::Deleted) {
        if (!platform().askYesNo(QStringLiteral("This appointment was deleted or changed elsewhere after this window "
                                                 "opened, so your changes were not saved.\n\n"
                                                 "Save what you typed as a new appointment?")))
            return;
        bEditMode = false;
        lApptID = 0;
        cmdDelete->setEnabled(false);
        cmdSave_Click();
        return;
    }
    // Not over someone else's change: this window never read the values that undo would give back.
    if (bEditMode && !undoStatement_.isEmpty() && !overOthers)
        rememberSave(QStringLiteral("Edit Appointment '%1'").arg(brief), sConnContacts, row(), seenVersion_, undoStatement_);
    else if (bEditMode)
        forgetChanges();
    RearmAlerts();
    platform().doEvents();
    reloadCalendar();
    accept();
}

QString frmAppt::SaveStatement() const
{
    const QString name = Quoted(apptText(3));
    const QString where = Quoted(apptText(1));
    const QString brief = Quoted(apptText(0));
    const QString notes = Quoted(apptText(2));
    const QString date = DateText(DTPicker1->date());
    const int contact = contactForSave();
    const QString contactId = contact > 0 ? QString::number(contact) : QStringLiteral("Null");
    const QString outcome = outcomeForSave().isEmpty() ? QStringLiteral("Null") : u'\'' + outcomeForSave() + u'\'';
    // A whole day keeps its last day and no clock time.
    const bool allDay = chkAllDay->isChecked();
    const QDate endDate = endDateColumn(DTPicker1->date(), endShown());
    const QString enddate = endDate.isValid() ? u'#' + DateText(endDate) + u'#' : QStringLiteral("Null");
    const QString endtime = allDay ? QStringLiteral("Null") : u'#' + TimeText(endShown().time) + u'#';
    const QString time = allDay ? QStringLiteral("12:00 AM") : cboTime->itemText(cboTime->currentIndex());
    const QString yes = QStringLiteral("True"), no = QStringLiteral("False");
    const QString flags = QStringLiteral(",allday=") + (allDay ? yes : no) + QStringLiteral(",cancelled=") +
                          (chkCancelled->isChecked() ? yes : no);
    // A changed appointment is written into the history again (when it is past) before any purge.
    if (bEditMode)
        return QStringLiteral("UPDATE appointments") + QStringLiteral(" set name='") + name + QStringLiteral("',") +
               QStringLiteral("address='") + where + QStringLiteral("',") + QStringLiteral("apptdate=#") + date +
               QStringLiteral("#,") + QStringLiteral("appttime=#") + time + QStringLiteral("#,") +
               QStringLiteral("apptbrief='") + brief + QStringLiteral("',") + QStringLiteral("apptnotes='") + notes +
               QStringLiteral("'") + QStringLiteral(",contact_id=") + contactId + QStringLiteral(",outcome=") + outcome +
               QStringLiteral(",recorded=False") + QStringLiteral(",enddate=") + enddate + QStringLiteral(",endtime=") +
               endtime + flags + QStringLiteral(" where autoid=") + QString::number(lApptID);
    return QStringLiteral("INSERT into appointments") +
           QStringLiteral("(name,address,apptdate,appttime,apptbrief,apptnotes,contact_id,outcome,enddate,endtime,allday,") +
           QStringLiteral("cancelled)") +
           QStringLiteral("values('") + name + QStringLiteral("','") + where + QStringLiteral("',#") + date +
           QStringLiteral("#,#") + time + QStringLiteral("#,'") + brief + QStringLiteral("','") + notes +
           QStringLiteral("',") + contactId + u',' + outcome + u',' + enddate + u',' + endtime + u',' +
           (allDay ? yes : no) + u',' + (chkCancelled->isChecked() ? yes : no) + QStringLiteral(")");
}

void frmAppt::setContact(int id, const QString& name)
{
    contactId_ = id;
    contactName_ = name;
}

int frmAppt::contactForSave() const { return contactId_ > 0 && apptText(3) == contactName_ ? contactId_ : 0; }

QString frmAppt::outcomeForSave() const
{
    if (chkNotHeld->isChecked())
        return kNotHeld;
    return outcome_ == kNotHeld ? kHeld : outcome_;
}

QTime frmAppt::startTime() const { return parseTimeText(cboTime->itemText(cboTime->currentIndex())); }

ApptEnd frmAppt::endShown() const { return {DTUntil->date(), cboUntil->time()}; }

void frmAppt::showEnd(const ApptEnd& end)
{
    DTUntil->setDate(end.date);
    if (const std::optional<int> i = HalfHourIndex(end.time)) {
        cboUntil->setCurrentIndex(*i);
    } else {
        cboUntil->setCurrentIndex(-1);
        cboUntil->setEditText(TimeText(end.time));
    }
    shownStart_ = {DTPicker1->date(), startTime()};
}

void frmAppt::keepLength()
{
    // A moved start takes the end with it, as the length was; a start or end that is no date or
    // time yet leaves the end as typed.
    const QDate from = shownStart_.date;
    const QTime at = shownStart_.time;
    const ApptEnd end = endShown();
    const QDate d = DTPicker1->date();
    const QTime t = startTime();
    if (!loaded_ || !from.isValid() || !at.isValid() || !end.date.isValid() || !end.time.isValid() || !d.isValid() ||
        !t.isValid())
        return;
    const qint64 length = QDateTime(from, at, Qt::UTC).secsTo(QDateTime(end.date, end.time, Qt::UTC));
    const QDateTime moved = QDateTime(d, t, Qt::UTC).addSecs(length);
    showEnd({moved.date(), moved.time()});
}

void frmAppt::cboTime_Click() { keepLength(); }

void frmAppt::chkAllDay_Click()
{
    // Whole days have no clock times to choose.
    const bool timed = !chkAllDay->isChecked();
    cboTime->setEnabled(timed);
    cboUntil->setEnabled(timed);
}

void frmAppt::DTPicker1_Change()
{
    keepLength();
    const QDate d = DTPicker1->date();
    chkNotHeld->setEnabled(chkNotHeld->isChecked() || (d.isValid() && d <= platform().today()));
}

RowKey frmAppt::row() const { return {QStringLiteral("appointments"), QStringLiteral("autoid"), lApptID}; }

void frmAppt::cmdDelete_Click()
{
    if (platform().askYesNo(QStringLiteral("Are you sure you want to delete this appointment?"),
                            QStringLiteral("You are about to delete an appointment"))) {
        // To the trash, under its own key: Edit > Undo or Edit > Trash puts it back.
        const QString label = apptText(0) + QStringLiteral(", ") + DTPicker1->text() + u' ' + cboTime->currentText();
        QString batch;
        const bool ran = RunAction(
            sConnContacts,
            [&] { batch = moveToTrash(sConnContacts, TrashTable::Appointments, {{lApptID, lApptID}}, label); },
            QStringLiteral("cmdDelete_Click"), Owner::Form, QStringLiteral("frmAppt"));
        if (ran && batch.isEmpty()) {
            platform().msgBox(QStringLiteral("This appointment had already been deleted elsewhere; nothing was deleted."));
        } else if (ran) {
            rememberTrashed(QStringLiteral("Delete Appointment '%1'").arg(label), sConnContacts, batch);
            RearmAlerts();
        }
    }
    reloadCalendar();
    accept();
}

void frmAppt::cmdClose_Click() { reject(); }

void frmAppt::cmdContact_Click()
{
    frmContactGrid grid(this);
    grid.bViewMode = true;
    grid.picker = this;
    desktop().runModal(grid);
    grid.bViewMode = false;
}

void frmAppt::setPickedId(int id) { pickedId_ = id; }

void frmAppt::setPickedName(const QString& name)
{
    setStoredText(txtName, name);
    setContact(std::exchange(pickedId_, 0), name);
}

void frmAppt::reloadCalendar()
{
    CalPanel* cal = calPanel();
    if (!cal || !cal->isShowing())
        return;
    const QDate d = DTPicker1->date();
    if (!d.isValid())
        return;
    cal->LoadCal(QDate(d.year(), d.month(), 1));
}

void ScheduleAppointmentFor(int leadID, QWidget* parent, const QDate& date, const QString& brief)
{
    if (leadID == 0)
        return;
    QString name;
    try {
        Connection connection(sConnContacts);
        Snapshot rs(connection,
                    QStringLiteral("SELECT firstname + ' ' + lastname FROM contacts where id=") + QString::number(leadID));
        // A missing first or last name makes the whole value missing: the name box stays empty.
        if (!rs.eof())
            name = rs.text(0);
    } catch (const std::exception& e) {
        ReportFailure(e, QStringLiteral("cmdScheduleAppointment_Click"), Owner::Form, QStringLiteral("frmKestrel"));
        return;
    }
    frmAppt editor(parent);
    editor.Form_Load();
    editor.setApptText(3, name);
    editor.setContact(leadID, name);
    if (date.isValid())
        editor.DTPicker1->setDate(date);
    if (!brief.isEmpty())
        editor.setApptText(0, LeftChars(brief, 50));
    desktop().runModal(editor);
}

} // namespace kestrel
