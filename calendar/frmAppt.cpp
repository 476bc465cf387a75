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
#include <QIntValidator>
#include <QLabel>
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
    setupDialog(this, QStringLiteral("Appointment"), 5655, 7440, true);
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
        {"Label9", ControlKind::Label, "&Repeats:", 240, 2520, kAuto, kAuto},
        {"cboRepeat", ControlKind::ComboList, "", 240, 2760, 2880, kAuto, 8},
        {"Label10", ControlKind::Label, "E&very:", 3240, 2520, kAuto, kAuto},
        {"txtEvery", ControlKind::TextBox, "", 3240, 2760, 495, kAuto, 9, 3},
        {"lblEvery", ControlKind::Label, "", 3810, 2790, 1605, kAuto},
        {"chkDay0", ControlKind::CheckBox, "Mon", 240, 3120, 705, 255, 10},
        {"chkDay1", ControlKind::CheckBox, "Tue", 975, 3120, 705, 255, 11},
        {"chkDay2", ControlKind::CheckBox, "Wed", 1710, 3120, 705, 255, 12},
        {"chkDay3", ControlKind::CheckBox, "Thu", 2445, 3120, 705, 255, 13},
        {"chkDay4", ControlKind::CheckBox, "Fri", 3180, 3120, 705, 255, 14},
        {"chkDay5", ControlKind::CheckBox, "Sat", 3915, 3120, 705, 255, 15},
        {"chkDay6", ControlKind::CheckBox, "Sun", 4650, 3120, 705, 255, 16},
        {"Label11", ControlKind::Label, "En&ds:", 240, 3420, kAuto, kAuto},
        {"Label12", ControlKind::Label, "O&n:", 1800, 3420, kAuto, kAuto},
        {"Label13", ControlKind::Label, "&Times:", 3600, 3420, kAuto, kAuto},
        {"cboEnds", ControlKind::ComboList, "", 240, 3660, 1455, kAuto, 17},
        {"DTRepeatUntil", ControlKind::DatePicker, "", 1800, 3660, 1695, kAuto, 18},
        {"txtTimes", ControlKind::TextBox, "", 3600, 3660, 615, kAuto, 19, 4},
        {"Label5", ControlKind::Label, "Notes:", 240, 4080, kAuto, kAuto},
        {"txtAppt2", ControlKind::MultiText, "", 240, 4320, 5175, 885, 20},
        {"cmdSave", ControlKind::Button, "Save", 840, 6480, kAuto, kAuto, 21},
        {"cmdClose", ControlKind::Button, "Close", 3000, 6480, kAuto, kAuto, 22},
        {"Label6", ControlKind::Label, "Contact or name:", 240, 5880, kAuto, kAuto},
        {"txtAppt3", ControlKind::TextBox, "", 240, 6120, 4455, kAuto, 23, 50},
        {"cmdContact", ControlKind::Button, "Select Contact", 240, 5400, kAuto, kAuto, 24},
        {"cmdDelete", ControlKind::Button, "Delete", 1440, 6960, kAuto, kAuto, 25},
        {"chkNotHeld", ControlKind::CheckBox, "Not held", 3960, 5460, 1455, 255, 26},
        {"chkCancelled", ControlKind::CheckBox, "Cancelled", 3960, 5760, 1455, 255, 27},
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
    cboRepeat = controls.get<QComboBox>(QStringLiteral("cboRepeat"));
    txtEvery = controls.get<QLineEdit>(QStringLiteral("txtEvery"));
    lblEvery = controls.get<QLabel>(QStringLiteral("lblEvery"));
    for (int i = 0; i < 7; ++i)
        chkDay[i] = controls.get<QCheckBox>(QStringLiteral("chkDay%1").arg(i));
    cboEnds = controls.get<QComboBox>(QStringLiteral("cboEnds"));
    DTRepeatUntil = controls.get<DatePicker>(QStringLiteral("DTRepeatUntil"));
    txtTimes = controls.get<QLineEdit>(QStringLiteral("txtTimes"));
    cboRepeat->addItems({QStringLiteral("Never"), QStringLiteral("Daily"), QStringLiteral("Weekly on days checked"),
                         QStringLiteral("Monthly: this day"), QStringLiteral("Monthly: this weekday"), QStringLiteral("Yearly")});
    cboEnds->addItems({QStringLiteral("Never"), QStringLiteral("On a day"), QStringLiteral("After")});
    txtEvery->setValidator(new QIntValidator(1, 999, txtEvery));
    txtTimes->setValidator(new QIntValidator(1, 9999, txtTimes));
    for (QLineEdit* box : {txtEvery, txtTimes})
        installFocusColour(box, Qt::white);
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
    connect(cboRepeat, &QComboBox::currentIndexChanged, this, &frmAppt::cboRepeat_Click);
    connect(cboEnds, &QComboBox::currentIndexChanged, this, &frmAppt::cboEnds_Click);
    cboRepeat_Click();
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
            chkCancelled->isChecked() ? QStringLiteral("cancelled") : QString(), ruleShown(DTPicker1->date())};
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
                                               "outcome,enddate,endtime,allday,cancelled,rrule,exdates,series_id,recurrence_date "
                                               "FROM appointments where autoid=") +
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
        series_ = {lApptID, DTPicker1->date(), startTime(), rs.text(12), rs.text(13)};
        loadRepeat(rs.text(12), rs.field(14), rs.field(15).toDate());
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
                         QStringLiteral("endtime=%1, allday=%2, cancelled=%3, rrule=%4, exdates=%5 where autoid=%6")
                             .arg(et.typeId() == QMetaType::QTime ? u'#' + TimeText(et.toTime()) + u'#' : QStringLiteral("NULL"),
                                  flag(10), flag(11), text(12), text(13))
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
    if (refuseRepeat())
        return;
    // A day of a series: that day alone, the days from it on, or all of them.
    QString statement = SaveStatement();
    if (isSeries()) {
        if (!hasChanges()) {
            accept();
            return;
        }
        Scope scope = askScope(QStringLiteral("change"));
        if (scope == Scope::Cancel)
            return;
        if (scope == Scope::ThisAndFollowing && dOccurrence == series_.start)
            scope = Scope::All;
        if (ownDay_ && scope == Scope::OnlyThis) {
            // Its own row, saved as a single appointment is; it does not repeat by itself.
            statement = statementFor(true, DTPicker1->date(), endShown(), QString());
        } else {
            if (!(scope == Scope::OnlyThis ? saveOneDay() : saveFromDay(scope)))
                return;
            RearmAlerts();
            platform().doEvents();
            reloadCalendar();
            accept();
            return;
        }
    }
    // A failed save keeps the editor open with the user's input, so nothing typed is lost.
    SaveOutcome outcome = SaveOutcome::Saved;
    bool overOthers = false;
    if (bEditMode)
        outcome = SaveEditedRow(sConnContacts, row(), seenVersion_, statement, QStringLiteral("appointment"), &overOthers);
    else if (ActionQueryCount(statement, sConnContacts) < 0)
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
        series_ = {};
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
    return statementFor(bEditMode, DTPicker1->date(), endShown(), ruleShown(DTPicker1->date()));
}

QString frmAppt::statementFor(bool update, const QDate& on, const ApptEnd& until, const QString& rrule) const
{
    const QString name = Quoted(apptText(3));
    const QString where = Quoted(apptText(1));
    const QString brief = Quoted(apptText(0));
    const QString notes = Quoted(apptText(2));
    const QString date = DateText(on);
    const int contact = contactForSave();
    const QString contactId = contact > 0 ? QString::number(contact) : QStringLiteral("Null");
    const QString outcome = outcomeForSave().isEmpty() ? QStringLiteral("Null") : u'\'' + outcomeForSave() + u'\'';
    // A whole day keeps its last day and no clock time.
    const bool allDay = chkAllDay->isChecked();
    const QDate endDate = endDateColumn(on, until);
    const QString enddate = endDate.isValid() ? u'#' + DateText(endDate) + u'#' : QStringLiteral("Null");
    const QString endtime = allDay ? QStringLiteral("Null") : u'#' + TimeText(until.time) + u'#';
    const QString time = allDay ? QStringLiteral("12:00 AM") : cboTime->itemText(cboTime->currentIndex());
    const QString yes = QStringLiteral("True"), no = QStringLiteral("False");
    const QString rule = rrule.isEmpty() ? QStringLiteral("Null") : u'\'' + Quoted(rrule) + u'\'';
    const QString flags = QStringLiteral(",allday=") + (allDay ? yes : no) + QStringLiteral(",cancelled=") +
                          (chkCancelled->isChecked() ? yes : no) + QStringLiteral(",rrule=") + rule;
    // A changed appointment is written into the history again (when it is past) before any purge.
    if (update)
        return QStringLiteral("UPDATE appointments") + QStringLiteral(" set name='") + name + QStringLiteral("',") +
               QStringLiteral("address='") + where + QStringLiteral("',") + QStringLiteral("apptdate=#") + date +
               QStringLiteral("#,") + QStringLiteral("appttime=#") + time + QStringLiteral("#,") +
               QStringLiteral("apptbrief='") + brief + QStringLiteral("',") + QStringLiteral("apptnotes='") + notes +
               QStringLiteral("'") + QStringLiteral(",contact_id=") + contactId + QStringLiteral(",outcome=") + outcome +
               QStringLiteral(",recorded=False") + QStringLiteral(",enddate=") + enddate + QStringLiteral(",endtime=") +
               endtime + flags + QStringLiteral(" where autoid=") + QString::number(lApptID);
    return QStringLiteral("INSERT into appointments") +
           QStringLiteral("(name,address,apptdate,appttime,apptbrief,apptnotes,contact_id,outcome,enddate,endtime,allday,") +
           QStringLiteral("cancelled,rrule)") +
           QStringLiteral("values('") + name + QStringLiteral("','") + where + QStringLiteral("',#") + date +
           QStringLiteral("#,#") + time + QStringLiteral("#,'") + brief + QStringLiteral("','") + notes +
           QStringLiteral("',") + contactId + u',' + outcome + u',' + enddate + u',' + endtime + u',' +
           (allDay ? yes : no) + u',' + (chkCancelled->isChecked() ? yes : no) + u',' + rule + QStringLiteral(")");
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
    nameRepeatEntries();
    const QDate d = DTPicker1->date();
    chkNotHeld->setEnabled(chkNotHeld->isChecked() || (d.isValid() && d <= platform().today()));
}

RowKey frmAppt::row() const { return {QStringLiteral("appointments"), QStringLiteral("autoid"), lApptID}; }

void frmAppt::cmdDelete_Click()
{
    bool asked = false;
    if (isSeries()) {
        const Scope scope = askScope(QStringLiteral("delete"));
        if (scope == Scope::Cancel)
            return;
        // A day of its own alone goes as a single appointment does; the series already leaves it out.
        asked = ownDay_ && scope == Scope::OnlyThis;
        if (!asked) {
            if (!deleteSeries(scope))
                return;
            RearmAlerts();
            reloadCalendar();
            accept();
            return;
        }
    }
    if (asked || platform().askYesNo(QStringLiteral("Are you sure you want to delete this appointment?"),
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
