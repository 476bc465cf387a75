// The appointment editor's Repeats controls, and saving or deleting a day of a series.
#include "calendar/frmAppt.h"

#include "calendar/frmReminder.h"
#include "data/Globals.h"
#include "data/Trash.h"
#include "data/modData.h"
#include "formats/Recurrence.h"
#include "platform/Platform.h"
#include "ui/Report.h"
#include "ui/Undo.h"

#include <QCheckBox>
#include <QComboBox>
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

void frmAppt::loadRepeat(const QString& rrule, const QVariant& seriesId)
{
    storedRule_ = rrule.trimmed();
    ownDay_ = !seriesId.isNull() && storedRule_.isEmpty();
    // A rule Kestrel cannot read is a single appointment that keeps its rule.
    if (storedRule_.isEmpty() || !ruleReadable(storedRule_))
        series_ = {};
    nameRepeatEntries();
    showRepeat(ReadRepeat(storedRule_, DTPicker1->date()));
    // A day of its own keeps to its series: it does not repeat by itself.
    cboRepeat->setEnabled(!ownDay_);
    if (!isSeries()) {
        dOccurrence = {};
        return;
    }
    if (!dOccurrence.isValid())
        dOccurrence = series_.start;
    if (dOccurrence != series_.start)
        DTPicker1->setDate(dOccurrence); // the end moves with it
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
    const QString day = QLocale(QLocale::English).toString(dOccurrence, QStringLiteral("dddd, M/d/yyyy"));
    const int answer = platform().askChoice(
        QStringLiteral("\"%1\" repeats. %2 only its day %3, this day and the following ones, or all of its days?")
            .arg(apptText(0), doing == u"delete" ? QStringLiteral("Delete") : QStringLiteral("Change"), day),
        {QStringLiteral("&Only this one"), QStringLiteral("This and the &following"), QStringLiteral("&All")}, 0,
        QStringLiteral("Repeating appointment"));
    return answer < 0 || answer > 2 ? Scope::Cancel : Scope(answer);
}

QString frmAppt::allDaysStatement() const
{
    // The series moves by as much as the day shown moved, its days left out with it.
    const qint64 moved = dOccurrence.daysTo(DTPicker1->date());
    const QDate start = series_.start.addDays(moved);
    const ApptEnd end{endShown().date.addDays(DTPicker1->date().daysTo(start)), endShown().time};
    QString statement = statementFor(true, start, end, ruleShown(start));
    if (moved != 0) {
        std::vector<QDate> left = exceptDays(series_.exdates);
        for (QDate& d : left)
            d = d.addDays(moved);
        const QString column = exceptColumn(left);
        statement.replace(QStringLiteral(" where autoid="), QStringLiteral(",exdates=") +
                                                                (column.isEmpty() ? QStringLiteral("Null") : u'\'' + column + u'\'') +
                                                                QStringLiteral(" where autoid="));
    }
    return statement;
}

bool frmAppt::saveSeries(Scope scope)
{
    const QString name = QStringLiteral("Edit Appointment '%1' of %2").arg(apptText(0), DateText(dOccurrence));
    const QDate day = dOccurrence;
    std::optional<SeriesRow> before;
    int made = 0;
    QString rule;
    if (scope == Scope::ThisAndFollowing) {
        // The same way of repeating goes on with what is left of its count; a new one starts afresh.
        const QString same = RuleText(ReadRepeat(storedRule_, series_.start), series_.start);
        rule = ruleShown(series_.start) == same ? RuleGoingOnFrom(storedRule_, series_.start, series_.time, day)
                                                 : ruleShown(DTPicker1->date());
    }
    const QString insert = statementFor(false, DTPicker1->date(), endShown(), rule);
    if (!RunAction(sConnContacts, [&] {
            before = readSeries(sConnContacts, series_.id);
            if (before)
                made = scope == Scope::OnlyThis ? overrideDay(sConnContacts, series_.id, day, insert, seenVersion_)
                                                : splitSeries(sConnContacts, series_.id, day, insert, seenVersion_);
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
            changed = leaveOutDay(sConnContacts, series_.id, day, seenVersion_) == kSeriesChanged;
        } else if (scope == Scope::ThisAndFollowing) {
            const std::optional<std::vector<int>> later = endSeriesBefore(sConnContacts, series_.id, day, seenVersion_, &changed);
            KeyRanges rows;
            for (int id : later.value_or(std::vector<int>{}))
                rows.emplace_back(id, id);
            if (!rows.empty())
                batch = moveToTrash(sConnContacts, TrashTable::Appointments, rows, label);
        } else {
            // The series with the days of it kept as rows of their own: one batch, one restore.
            KeyRanges rows{{series_.id, series_.id}};
            for (int id : seriesRows(sConnContacts, series_.id))
                rows.emplace_back(id, id);
            batch = moveToTrash(sConnContacts, TrashTable::Appointments, rows, label);
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
