#include "contacts/frmLogEntry.h"

#include "data/Globals.h"
#include "data/RowGuard.h"
#include "data/modData.h"
#include "platform/Platform.h"
#include "ui/DatePicker.h"
#include "ui/Report.h"
#include "ui/TimeBox.h"

#include <QComboBox>
#include <QLineEdit>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTextCursor>
#include <QTextDocument>

namespace kestrel {

namespace {
const QString kDateRefused = QStringLiteral("The date must be a day of the calendar, typed as month/day/year "
                                            "(for example 3/7/2027).");

// The note as typed, line breaks as \n (the raw text keeps non-breaking spaces).
QString noteText(const QPlainTextEdit* box)
{
    QString text = box->document()->toRawText();
    for (QChar& c : text)
        if (c == QChar::ParagraphSeparator || c == QChar::LineSeparator)
            c = u'\n';
    return text;
}
} // namespace

QString FollowUpToDoText(const QDate& date, const QString& name)
{
    return LeftChars(QStringLiteral("%1/%2 %3").arg(date.month()).arg(date.day()).arg(name), 25);
}

frmLogEntry::frmLogEntry(int contactId, qint64 entryId, QWidget* parent) : QDialog(parent)
{
    entry_.contactId = contactId;
    entry_.id = entryId;
    setObjectName(QStringLiteral("frmLogEntry"));
    setupDialog(this, QStringLiteral("Log Activity"), 5655, 5400, true);
    setFont(designFont(QStringLiteral("Verdana"), 8.25));

    controls = buildControls(this, {
        {"lblKind", ControlKind::Label, "Kind:", 240, 120, kAuto, kAuto},
        {"lblDirection", ControlKind::Label, "Direction:", 1920, 120, kAuto, kAuto},
        {"lblOutcome", ControlKind::Label, "Outcome:", 3600, 120, kAuto, kAuto},
        {"cboKind", ControlKind::ComboList, "", 240, 360, 1455, kAuto, 1},
        {"cboDirection", ControlKind::ComboList, "", 1920, 360, 1455, kAuto, 2},
        {"cboOutcome", ControlKind::ComboList, "", 3600, 360, 1815, kAuto, 3},
        {"lblDate", ControlKind::Label, "Date:", 240, 720, kAuto, kAuto},
        {"lblTime", ControlKind::Label, "Time:", 2160, 720, kAuto, kAuto},
        {"lblDuration", ControlKind::Label, "Minutes:", 3600, 720, kAuto, kAuto},
        {"dtDate", ControlKind::DatePicker, "", 240, 960, 1695, kAuto, 4},
        {"txtTime", ControlKind::TextBox, "", 2160, 960, 1215, kAuto, 5, 8},
        {"txtDuration", ControlKind::TextBox, "", 3600, 960, 855, kAuto, 6, 4},
        {"lblSubject", ControlKind::Label, "Subject:", 240, 1320, kAuto, kAuto},
        {"txtSubject", ControlKind::TextBox, "", 240, 1560, 5175, kAuto, 7, kHistorySubjectLength},
        {"lblNote", ControlKind::Label, "Note:", 240, 1920, kAuto, kAuto},
        {"txtNote", ControlKind::MultiText, "", 240, 2160, 5175, 1815, 8},
        {"lblFollowUp", ControlKind::Label, "Follow up on:", 240, 4080, kAuto, kAuto},
        {"dtFollowUp", ControlKind::DatePicker, "", 240, 4320, 1695, kAuto, 9},
        {"optFollowAppt", ControlKind::Option, "Appointment", 2160, 4350, 1455, 255, 10},
        {"optFollowToDo", ControlKind::Option, "To-do item", 3720, 4350, 1455, 255, 11},
        {"cmdSave", ControlKind::Button, "&Save", 840, 4860, kAuto, kAuto, 12},
        {"cmdCancel", ControlKind::Button, "Cancel", 3000, 4860, kAuto, kAuto, 13},
    });
    cboKind = controls.get<QComboBox>(QStringLiteral("cboKind"));
    cboDirection = controls.get<QComboBox>(QStringLiteral("cboDirection"));
    cboOutcome = controls.get<QComboBox>(QStringLiteral("cboOutcome"));
    dtDate = controls.get<DatePicker>(QStringLiteral("dtDate"));
    txtTime = controls.get<QLineEdit>(QStringLiteral("txtTime"));
    txtDuration = controls.get<QLineEdit>(QStringLiteral("txtDuration"));
    txtSubject = controls.get<QLineEdit>(QStringLiteral("txtSubject"));
    txtNote = controls.get<QPlainTextEdit>(QStringLiteral("txtNote"));
    dtFollowUp = controls.get<DatePicker>(QStringLiteral("dtFollowUp"));
    optFollowAppt = controls.get<QRadioButton>(QStringLiteral("optFollowAppt"));
    optFollowToDo = controls.get<QRadioButton>(QStringLiteral("optFollowToDo"));
    cmdSave = controls.get<QPushButton>(QStringLiteral("cmdSave"));
    cmdCancel = controls.get<QPushButton>(QStringLiteral("cmdCancel"));
    for (QLineEdit* box : {static_cast<QLineEdit*>(dtDate), txtTime, txtDuration, txtSubject,
                           static_cast<QLineEdit*>(dtFollowUp)})
        installFocusColour(box, Qt::white);
    installFocusColour(static_cast<QWidget*>(txtNote), Qt::white);
    txtNote->setTabChangesFocus(true);
    optFollowAppt->setChecked(true);
    for (QPushButton* b : {cmdSave, cmdCancel})
        b->setAutoDefault(false);
    cboKind->addItems(kHistoryKinds);
    cboDirection->addItems(kHistoryDirections);
    cboOutcome->addItems(kHistoryOutcomes);

    connect(cmdSave, &QPushButton::clicked, this, &frmLogEntry::cmdSave_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(cboKind, &QComboBox::currentIndexChanged, this, &frmLogEntry::cboKind_Click);
}

void frmLogEntry::showEvent(QShowEvent* event)
{
    if (!loaded_) {
        loaded_ = true;
        Form_Load();
    }
    QDialog::showEvent(event);
    txtSubject->setFocus(Qt::OtherFocusReason);
}

void frmLogEntry::Form_Load()
{
    if (entry_.id == 0) {
        // A call just made: now, outgoing.
        const QDateTime now = platform().now();
        entry_.kind = QStringLiteral("Call");
        entry_.direction = QStringLiteral("Out");
        entry_.date = now.date();
        entry_.time = QTime(now.time().hour(), now.time().minute());
    } else {
        try {
            seenVersion_ = rowVersion(sConnContacts, historyRow(entry_.id));
            if (const std::optional<HistoryEntry> stored = historyEntry(sConnContacts, entry_.id))
                entry_ = *stored;
        } catch (const std::exception& e) {
            ReportFailure(e, QStringLiteral("Form_Load"), Owner::Form, QStringLiteral("frmLogEntry"));
        }
        // The follow-up belongs to a new entry.
        for (QWidget* w : {static_cast<QWidget*>(dtFollowUp), static_cast<QWidget*>(optFollowAppt),
                           static_cast<QWidget*>(optFollowToDo)})
            w->setEnabled(false);
    }
    cboKind->setCurrentIndex(std::max<int>(0, int(kHistoryKinds.indexOf(entry_.kind))));
    cboDirection->setCurrentIndex(std::max<int>(0, int(kHistoryDirections.indexOf(entry_.direction))));
    cboOutcome->setCurrentIndex(std::max<int>(0, int(kHistoryOutcomes.indexOf(entry_.outcome))));
    dtDate->setDate(entry_.date);
    txtTime->setText(entry_.time.isValid() ? TimeText(entry_.time) : QString());
    txtDuration->setText(entry_.duration >= 0 ? QString::number(entry_.duration) : QString());
    setStoredText(txtSubject, entry_.subject);
    txtNote->setPlainText(entry_.note);
    dtFollowUp->clear();
    cboKind_Click();
}

void frmLogEntry::cboKind_Click()
{
    // Only calls and mail go in or out.
    const bool directed = kindHasDirection(cboKind->currentText());
    cboDirection->setEnabled(directed);
    if (!directed)
        cboDirection->setCurrentIndex(0);
}

bool frmLogEntry::readBoxes()
{
    if (!dtDate->date().isValid()) {
        dtDate->refuse();
        platform().msgBox(kDateRefused);
        dtDate->setFocus();
        dtDate->selectAll();
        return false;
    }
    // Empty: no time of day.
    const std::optional<QTime> time = ParseTypedTime(txtTime->text());
    if (!time && !txtTime->text().trimmed().isEmpty()) {
        platform().msgBox(QStringLiteral("The time must be a time of day, for example 2:30 PM or 14:30."));
        txtTime->setFocus();
        txtTime->selectAll();
        return false;
    }
    const QString minutes = txtDuration->text().trimmed();
    bool number = true;
    const int duration = minutes.isEmpty() ? -1 : minutes.toInt(&number);
    if (!number || duration < -1 || duration > kHistoryMaxDuration) {
        platform().msgBox(QStringLiteral("The minutes must be a whole number from 0 to %1.").arg(kHistoryMaxDuration));
        txtDuration->setFocus();
        txtDuration->selectAll();
        return false;
    }
    const QString note = noteText(txtNote);
    if (note.size() > kHistoryNoteLength) {
        // Nothing is cut: the user chooses what goes.
        platform().msgBox(QStringLiteral("The note holds %1 characters; at most %2 fit. Shorten it, then save again.")
                              .arg(QLocale(QLocale::English).toString(note.size()),
                                   QLocale(QLocale::English).toString(kHistoryNoteLength)));
        txtNote->setFocus();
        // The excess is at the end: the caret waits there, wherever a paste left it.
        txtNote->moveCursor(QTextCursor::End);
        return false;
    }
    if (!dtFollowUp->text().trimmed().isEmpty() && !dtFollowUp->date().isValid()) {
        dtFollowUp->refuse();
        platform().msgBox(kDateRefused);
        dtFollowUp->setFocus();
        dtFollowUp->selectAll();
        return false;
    }
    entry_.kind = cboKind->currentText();
    entry_.direction = kindHasDirection(entry_.kind) ? cboDirection->currentText() : QString();
    entry_.date = dtDate->date();
    entry_.time = time ? *time : QTime();
    entry_.duration = duration;
    entry_.subject = txtSubject->text();
    entry_.note = note;
    entry_.outcome = cboOutcome->currentText();
    return true;
}

void frmLogEntry::cmdSave_Click()
{
    if (!readBoxes())
        return;
    // A failed save keeps the window open with what the user typed.
    if (entry_.id > 0) {
        const SaveOutcome outcome = SaveEditedRow(sConnContacts, historyRow(entry_.id), seenVersion_,
                                                  HistoryUpdateStatement(entry_, platform().now()),
                                                  QStringLiteral("history entry"));
        if (outcome == SaveOutcome::Failed || outcome == SaveOutcome::Changed)
            return;
        if (outcome == SaveOutcome::Deleted) {
            if (!platform().askYesNo(QStringLiteral("This entry was deleted elsewhere after this window opened, so your "
                                                     "changes were not saved.\n\nSave what you typed as a new entry?")))
                return;
            entry_.id = 0;
            cmdSave_Click();
            return;
        }
    } else if (ActionQueryCount(HistoryInsertStatement(entry_, loginName(), platform().now()), sConnContacts) < 0) {
        return;
    }
    if (dtFollowUp->isEnabled() && dtFollowUp->date().isValid()) {
        followUp_ = dtFollowUp->date();
        followUpAppt_ = optFollowAppt->isChecked();
    }
    accept();
}

} // namespace kestrel
