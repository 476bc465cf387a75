// The appointment editor's Repeats controls, and saving or deleting a day of a series.
#include "calendar/frmAppt.h"

#include "calendar/frmReminder.h"
#include "data/Database.h"
#include "data/Globals.h"
#include "data/RowGuard.h"
#include "data/Trash.h"
#include "data/modData.h"
#include "formats/Recurrence.h"
#include "platform/Platform.h"
#include "ui/Report.h"
#include "ui/Undo.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>

namespace kestrel {

namespace {

using Kind = RepeatChoice::Kind;
using End = RepeatChoice::End;

constexpr int kAsStoredEntry = 6;

QString unitsOf(Kind kind)
{
    switch (kind) {
    case Kind::Daily: return QStringLiteral("days");
    case Kind::Weekly: return QStringLiteral("weeks");
    case Kind::MonthlyDay:
    case Kind::MonthlyWeekday: return QStringLiteral("months");
    case Kind::Yearly: return QStringLiteral("years");
    default: return {};
    }
}

// Takes a series back to how it was before a change of some of its days; says so when it is gone.
bool undoSeries(const QString& name, const SeriesRow& before, const std::vector<int>& made, const QString& batch = {})
{
    bool there = false;
    if (!RunAction(sConnContacts, [&] {
            there = restoreSeries(sConnContacts, before, made);
            if (there && !batch.isEmpty())
                restoreFromTrash(sConnContacts, batch);
        }, QStringLiteral("undoLastChange")))
        return false;
    if (!there)
        platform().msgBox(QStringLiteral("%1 cannot be undone: the appointment was deleted meanwhile.").arg(name));
    RearmAlerts();
    return there;
}

// Said when someone else changed the series after the window opened: nothing was written, and
// what was typed stays in the window.
void sayChangedMeanwhile(const QString& doing)
{
    platform().msgBox(QStringLiteral("Someone else changed this repeating appointment after this window opened, so it "
                                     "was not %1.\n\nWhat you typed stays in the window: close it and open the "
                                     "appointment again to see their change.")
                          .arg(doing));
}

} // namespace

void frmAppt::nameRepeatEntries()
{
    const QDate d = DTPicker1->date();
    if (!d.isValid())
        return;
    static const char* const nth[] = {"", "1st", "2nd", "3rd", "4th"};
    const int n = WeekdayOrdinal(d);
    cboRepeat->setItemText(3, QStringLiteral("Monthly: day %1").arg(d.day()));
    cboRepeat->setItemText(4, QStringLiteral("Monthly: %1 %2")
                                  .arg(QString::fromLatin1(n < 0 ? "last" : nth[n]),
                                       QLocale(QLocale::English).dayName(d.dayOfWeek())));
}

void frmAppt::cboRepeat_Click()
{
    const Kind kind = Kind(std::max(0, cboRepeat->currentIndex()));
    const bool own = kind != Kind::Never && kind != Kind::AsStored;
    txtEvery->setEnabled(own);
    if (own && txtEvery->text().isEmpty())
        txtEvery->setText(QStringLiteral("1"));
    lblEvery->setText(unitsOf(kind));
    for (QCheckBox* day : chkDay)
        day->setEnabled(kind == Kind::Weekly);
    // Weekly begins on the start's own weekday.
    const QDate d = DTPicker1 ? DTPicker1->date() : QDate();
    if (kind == Kind::Weekly && d.isValid() && std::none_of(std::begin(chkDay), std::end(chkDay), [](QCheckBox* c) { return c->isChecked(); }))
        chkDay[d.dayOfWeek() - 1]->setChecked(true);
    cboEnds->setEnabled(own);
    cboEnds_Click();
}

void frmAppt::cboEnds_Click()
{
    const bool own = cboEnds->isEnabled();
    const End end = End(std::max(0, cboEnds->currentIndex()));
    DTRepeatUntil->setEnabled(own && end == End::Until);
    txtTimes->setEnabled(own && end == End::Count);
    if (DTRepeatUntil->isEnabled() && DTRepeatUntil->text().isEmpty() && DTPicker1->date().isValid())
        DTRepeatUntil->setDate(DTPicker1->date().addMonths(3));
    if (txtTimes->isEnabled() && txtTimes->text().isEmpty())
        txtTimes->setText(QStringLiteral("10"));
}

RepeatChoice frmAppt::repeatShown() const
{
    RepeatChoice c;
    c.kind = Kind(std::max(0, cboRepeat->currentIndex()));
    c.every = txtEvery->text().isEmpty() ? 1 : txtEvery->text().toInt();
    for (int i = 0; i < 7; ++i)
        c.weekdays[size_t(i)] = chkDay[i]->isChecked();
    c.end = End(std::max(0, cboEnds->currentIndex()));
    c.until = DTRepeatUntil->date();
    c.count = txtTimes->text().toInt();
    c.stored = storedRule_;
    return c;
}

void frmAppt::showRepeat(const RepeatChoice& c)
{
    if (c.kind == Kind::AsStored && cboRepeat->count() <= kAsStoredEntry)
        cboRepeat->addItem(QStringLiteral("As another calendar wrote it"));
    cboRepeat->setToolTip(c.kind == Kind::AsStored ? c.stored : QString());
    for (int i = 0; i < 7; ++i)
        chkDay[i]->setChecked(c.weekdays[size_t(i)]);
    txtEvery->setText(c.kind == Kind::Never ? QString() : QString::number(c.every));
    DTRepeatUntil->setDate(c.until);
    txtTimes->setText(c.count > 0 ? QString::number(c.count) : QString());
    cboEnds->setCurrentIndex(int(c.end));
    cboRepeat->setCurrentIndex(int(c.kind));
    cboRepeat_Click();
}

QString frmAppt::ruleShown(const QDate& start) const { return RuleText(repeatShown(), start); }

void frmAppt::loadRepeat(const QString& rrule, const QVariant& seriesId, const QDate& recurrenceDate)
{
    storedRule_ = rrule.trimmed();
    ownDay_ = !seriesId.isNull() && storedRule_.isEmpty();
    if (ownDay_)
        loadOwnDaySeries(seriesId.toInt(), recurrenceDate);
    // A rule Kestrel cannot read is a single appointment that keeps its rule.
    if (storedRule_.isEmpty() || !ruleReadable(storedRule_))
        series_ = {};
    nameRepeatEntries();
    showRepeat(ReadRepeat(storedRule_, isSeries() ? series_.start : DTPicker1->date()));
    // A day of its own does not repeat by itself; the series it belongs to may be changed from it.
    cboRepeat->setEnabled(!ownDay_ || isSeries());
    if (!isSeries()) {
        dOccurrence = {};
        return;
    }
    // Deleting or moving the series takes its days of their own with it, so their versions are kept as well.
    ownDaysSeen_.clear();
    for (int id : seriesRows(sConnContacts, series_.id))
        ownDaysSeen_.push_back({id, id == lApptID ? seenVersion_ : rowVersion(sConnContacts, {QStringLiteral("appointments"),
                                                                                          QStringLiteral("autoid"), id}),
                                {}});
    if (ownDay_) {
        shownDay_ = DTPicker1->date();
        return; // shown where it now is; dOccurrence is the series' day it stands for
    }
    if (!dOccurrence.isValid())
        dOccurrence = series_.start;
    seriesEnd_ = endShown();
    seriesAllDay_ = chkAllDay->isChecked();
    if (dOccurrence != series_.start)
        DTPicker1->setDate(dOccurrence); // the end moves with it
    shownDay_ = dOccurrence;
    dayOpened_ = {DTPicker1->date(), startTime(), endShown(), chkAllDay->isChecked()};
}

void frmAppt::loadOwnDaySeries(int seriesId, const QDate& recurrenceDate)
{
    dayOpened_ = {DTPicker1->date(), startTime(), endShown(), chkAllDay->isChecked()};
    // The version first, as for the row itself.
    seriesVersion_ = rowVersion(sConnContacts, {QStringLiteral("appointments"), QStringLiteral("autoid"), seriesId});
    const std::optional<SeriesRow> s = readSeries(sConnContacts, seriesId);
    // Left alone (its series gone, or one Kestrel cannot read), it is a single appointment.
    if (!s || s->rrule.trimmed().isEmpty() || !ruleReadable(s->rrule) || !recurrenceDate.isValid())
        return;
    Connection connection(sConnContacts);
    Snapshot rs(connection, QStringLiteral("SELECT enddate,endtime,allday FROM appointments where autoid=") +
                                QString::number(seriesId));
    if (rs.eof())
        return;
    seriesAllDay_ = rs.field(2).toBool();
    seriesEnd_ = seriesAllDay_ ? ApptEnd{rs.field(0).toDate().isValid() ? rs.field(0).toDate() : s->start, QTime(0, 0)}
                                       : storedEnd(s->start, s->time, rs.field(0), rs.field(1));
    series_ = *s;
    storedRule_ = s->rrule.trimmed();
    dOccurrence = recurrenceDate;
}

bool frmAppt::refuseRepeat()
{
    const RepeatChoice c = repeatShown();
    if (c.kind == Kind::AsStored && c.stored == storedRule_)
        return false; // kept as it came
    const QDate start = DTPicker1->date();
    const QString refused = RepeatRefusal(c, start, startTime());
    if (refused.isEmpty())
        return false;
    platform().msgBox(refused);
    QWidget* at = cboRepeat;
    if (c.kind == Kind::Weekly && std::none_of(c.weekdays.begin(), c.weekdays.end(), [](bool b) { return b; }))
        at = chkDay[start.dayOfWeek() - 1];
    else if (c.end == End::Until && (!c.until.isValid() || c.until < start))
        at = DTRepeatUntil;
    else if (c.end == End::Count && (c.count < 1 || c.count > kMostOccurrences))
        at = txtTimes;
    at->setFocus();
    if (auto* box = qobject_cast<QLineEdit*>(at))
        box->selectAll();
    return true;
}

frmAppt::Scope frmAppt::askScope(const QString& doing) const
{
    const QString day = QLocale(QLocale::English).toString(shownDay_, QStringLiteral("dddd, M/d/yyyy"));
    const int answer = platform().askChoice(
        QStringLiteral("\"%1\" repeats. %2 only its day %3, this day and the following ones, or all of its days?")
            .arg(apptText(0), doing == u"delete" ? QStringLiteral("Delete") : QStringLiteral("Change"), day),
        {QStringLiteral("&Only this one"), QStringLiteral("This and the &following"), QStringLiteral("&All")}, 0,
        QStringLiteral("Repeating appointment"));
    return answer < 0 || answer > 2 ? Scope::Cancel : Scope(answer);
}

bool frmAppt::saveOneDay()
{
    const QString name = QStringLiteral("Edit Appointment '%1' of %2").arg(apptText(0), DateText(dOccurrence));
    const QDate day = dOccurrence;
    std::optional<SeriesRow> before;
    int made = 0;
    const QString insert = statementFor(false, DTPicker1->date(), endShown(), QString());
    if (!RunAction(sConnContacts, [&] {
            before = readSeries(sConnContacts, series_.id);
            if (before)
                made = overrideDay(sConnContacts, series_.id, day, insert, seenVersion_);
        }, QStringLiteral("cmdSave_Click"), Owner::Form, QStringLiteral("frmAppt")))
        return false;
    if (made == kSeriesChanged) {
        sayChangedMeanwhile(QStringLiteral("saved"));
        return false;
    }
    if (made == 0) {
        if (!platform().askYesNo(QStringLiteral("This appointment was deleted elsewhere after this window opened, so "
                                                 "your changes were not saved.\n\nSave what you typed as a new appointment?")))
            return false;
        series_ = {};
        bEditMode = false;
        lApptID = 0;
        cmdSave_Click();
        return false;
    }
    const SeriesRow was = *before;
    rememberChange({name, [name, was, made] { return undoSeries(name, was, {made}); }});
    return true;
}

bool frmAppt::seriesAllDayAfter() const
{
    const bool checked = chkAllDay->isChecked();
    return checked != dayOpened_.allDay ? checked : seriesAllDay_;
}

QString frmAppt::seriesChange(const QDate& on, const QTime& at, const ApptEnd& until, const QString& rule) const
{
    // What this day had of its own before stays its own: only what was changed here reaches the series.
    const QStringList now = fieldsShown();
    const auto changed = [&](int field) { return now.value(field) != opened_.value(field); };
    const auto text = [](const QString& s) { return u'\'' + Quoted(s) + u'\''; };
    const QString yes = QStringLiteral("True"), no = QStringLiteral("False");
    QStringList set;
    if (changed(0))
        set << QStringLiteral("apptbrief=") + text(apptText(0));
    if (changed(1))
        set << QStringLiteral("address=") + text(apptText(1));
    if (changed(2))
        set << QStringLiteral("apptnotes=") + text(apptText(2));
    if (changed(3))
        set << QStringLiteral("name=") + text(apptText(3)) + QStringLiteral(",contact_id=") +
                   (contactForSave() > 0 ? QString::number(contactForSave()) : QStringLiteral("Null"));
    const bool allDay = seriesAllDayAfter();
    if (changed(9))
        set << QStringLiteral("allday=") + (allDay ? yes : no);
    if (changed(10))
        set << QStringLiteral("cancelled=") + (chkCancelled->isChecked() ? yes : no);
    // Held or not is a day's own; from the series' own day it is the series'.
    if (changed(8) && !ownDay_)
        set << QStringLiteral("outcome=") + (outcomeForSave().isEmpty() ? QStringLiteral("Null") : text(outcomeForSave()));
    const QDate endDate = endDateColumn(on, until);
    set << QStringLiteral("apptdate=#%1#,appttime=#%2#").arg(DateText(on), allDay ? QStringLiteral("12:00 AM") : TimeText(at))
        << QStringLiteral("enddate=") + (endDate.isValid() ? u'#' + DateText(endDate) + u'#' : QStringLiteral("Null"))
        << QStringLiteral("endtime=") + (allDay ? QStringLiteral("Null") : u'#' + TimeText(until.time) + u'#')
        << QStringLiteral("rrule=") + (rule.isEmpty() ? QStringLiteral("Null") : text(rule))
        << QStringLiteral("recorded=False");
    return set.join(u',');
}

bool frmAppt::saveFromDay(Scope scope)
{
    const bool all = scope == Scope::All;
    const QDate from = all ? series_.start : dOccurrence;
    const SeriesShift shift =
        seriesShift({series_.start, series_.time, seriesEnd_, seriesAllDay_}, from, dayOpened_,
                    {DTPicker1->date(), startTime(), endShown(), chkAllDay->isChecked()}, seriesAllDayAfter());
    const QDateTime &start = shift.start, &end = shift.end;
    const DaysMove& move = shift.move;
    QString rule = ruleShown(start.date());
    // Left as it was, the way it repeats moves with its days: a Tuesday call moved to Wednesday is
    // on Wednesdays, one on the second Tuesday of the month moved a week on the third, and it ends
    // as many days later.
    const bool sameWay = ruleShown(series_.start) == RuleText(ReadRepeat(storedRule_, series_.start), series_.start);
    if (sameWay) { // what is left of its count goes on; a new way starts afresh
        const QString going = all ? ruleShown(series_.start) : RuleGoingOnFrom(storedRule_, series_.start, series_.time, dOccurrence);
        rule = RuleMovedBy(going, from, series_.time, move.days, move.seconds);
    }
    const QString change = seriesChange(start.date(), start.time(), {end.date(), end.time()}, rule);
    const OwnDayEdit own = ownDay_ ? OwnDayEdit{lApptID, seenVersion_, statementFor(true, DTPicker1->date(), endShown(), {})}
                                   : OwnDayEdit{};
    const QString name = QStringLiteral("Edit Appointment '%1' of %2").arg(apptText(0), DateText(shownDay_));
    QStringList undo;
    int made = 0;
    if (!RunAction(sConnContacts, [&] {
            undo.clear();
            made = all ? changeSeriesFrom(sConnContacts, series_.id, change, seriesSeen(), move, own, ownDaysSeen_, &undo)
                       : splitSeriesFrom(sConnContacts, series_.id, dOccurrence, change, seriesSeen(), move, own,
                                         ownDaysSeen_, &undo);
        }, QStringLiteral("cmdSave_Click"), Owner::Form, QStringLiteral("frmAppt")))
        return false;
    if (made == kSeriesChanged) {
        sayChangedMeanwhile(QStringLiteral("saved"));
        return false;
    }
    if (made == 0) {
        if (ownDay_) {
            // Its series is gone: what is left is this day, saved as the single appointment it now is.
            ownDay_ = false;
            storedRule_.clear();
            showRepeat({});
        } else if (!platform().askYesNo(QStringLiteral("This appointment was deleted elsewhere after this window opened, "
                                                        "so your changes were not saved.\n\nSave what you typed as a new "
                                                        "appointment?"))) {
            return false;
        } else {
            bEditMode = false;
            lApptID = 0;
        }
        series_ = {};
        cmdSave_Click();
        return false;
    }
    const int seriesId = series_.id;
    const std::vector<int> newRows = all ? std::vector<int>{} : std::vector<int>{made};
    rememberChange({name, [name, seriesId, undo, newRows] {
                        bool there = false;
                        if (!RunAction(sConnContacts, [&] { there = restoreRows(sConnContacts, seriesId, undo, newRows); },
                                       QStringLiteral("undoLastChange")))
                            return false;
                        if (!there)
                            platform().msgBox(
                                QStringLiteral("%1 cannot be undone: the appointment was deleted meanwhile.").arg(name));
                        RearmAlerts();
                        return there;
                    }});
    return true;
}

bool frmAppt::deleteSeries(Scope scope)
{
    const QDate day = dOccurrence;
    if (scope == Scope::ThisAndFollowing && day == series_.start)
        scope = Scope::All;
    const QString label = apptText(0) + QStringLiteral(", ") + DateText(day) + u' ' + cboTime->currentText();
    const QString name = QStringLiteral("Delete Appointment '%1'").arg(label);
    std::optional<SeriesRow> before;
    QString batch;
    bool gone = false, changed = false;
    const bool ran = RunAction(sConnContacts, [&] {
        before = readSeries(sConnContacts, series_.id);
        gone = !before;
        if (gone)
            return;
        if (scope == Scope::OnlyThis) {
            changed = leaveOutDay(sConnContacts, series_.id, day, seriesSeen()) == kSeriesChanged;
        } else if (scope == Scope::ThisAndFollowing) {
            const int done = trashSeriesFrom(sConnContacts, series_.id, day, seriesSeen(), ownDaysSeen_, label, &batch);
            changed = done == kSeriesChanged;
            gone = done == 0;
        } else {
            // The series with the days of it kept as rows of their own: one batch, one restore.
            const int done = trashSeries(sConnContacts, series_.id, seriesSeen(), ownDaysSeen_, label, &batch);
            changed = done == kSeriesChanged;
            gone = done == 0;
        }
    }, QStringLiteral("cmdDelete_Click"), Owner::Form, QStringLiteral("frmAppt"));
    if (!ran)
        return false;
    if (changed) {
        sayChangedMeanwhile(QStringLiteral("deleted"));
        return false;
    }
    if (gone) {
        platform().msgBox(QStringLiteral("This appointment had already been deleted elsewhere; nothing was deleted."));
        return true;
    }
    if (scope == Scope::All) {
        rememberTrashed(name, sConnContacts, batch);
        return true;
    }
    const SeriesRow was = *before;
    rememberChange({name, [name, was, batch] { return undoSeries(name, was, {}, batch); }});
    return true;
}

} // namespace kestrel
