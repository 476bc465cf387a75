#include "calendar/modCal.h"

#include "data/ApptSpan.h"
#include "data/Database.h"
#include "data/Globals.h"
#include "data/TextFold.h"
#include "data/modData.h"
#include "formats/Recurrence.h"
#include "ui/Report.h"
#include "ui/Ui.h"

#include <QListWidget>
#include <QLocale>
#include <QRegularExpression>

#include <algorithm>
#include <vector>

namespace kestrel {

namespace {

const QString kShownColumns = QStringLiteral("SELECT appttime,apptbrief,name,address,autoid,apptdate,enddate,endtime,allday,"
                                             "cancelled,outcome,rrule,exdates FROM appointments where ");

// Lists a under each of the days from … to it reaches when it begins on first.
void place(ShownAppt a, const QDate& first, const QDate& lastOfFirst, const QDate& from, const QDate& to,
           std::vector<ShownAppt>& shown)
{
    const qint64 length = first.daysTo(lastOfFirst);
    a.end.date = first.addDays(a.date.daysTo(a.end.date));
    a.date = first;
    for (QDate d = std::max(first, from); d <= std::min(first.addDays(length), to); d = d.addDays(1)) {
        a.day = d;
        shown.push_back(a);
    }
}

// Lists the appointments of rs under the days from … to they reach, each day of a series its own.
void readShown(Snapshot& rs, const QDate& from, const QDate& to, std::vector<ShownAppt>& shown)
{
    for (; !rs.eof(); rs.moveNext()) {
        const QVariant t = rs.field(0);
        const QVariant day = rs.field(5);
        if (day.typeId() != QMetaType::QDate)
            continue;
        ShownAppt a;
        a.date = day.toDate();
        a.time = t.typeId() == QMetaType::QTime ? t.toTime() : parseTimeText(rs.text(0));
        a.timeText = rs.text(0);
        a.allDay = rs.field(8).toBool();
        a.end = storedEnd(a.date, a.time, rs.field(6), rs.field(7));
        a.cancelled = rs.field(9).toBool();
        a.id = rs.field(4).toInt();
        a.brief = rs.text(1);
        a.name = rs.text(2);
        a.address = rs.text(3);
        a.outcome = rs.text(10);
        // Whole days keep their last day alone; a clock end at midnight does not reach into the day it opens.
        const QDate lastDay = a.allDay ? rs.field(6).toDate() : a.end.date;
        QDate last = lastDay.isValid() ? std::max(lastDay, a.date) : a.date;
        if (!a.allDay && last > a.date && a.end.time == QTime(0, 0))
            last = last.addDays(-1);
        const QString rule = rs.text(11);
        if (rule.isEmpty() || !ruleReadable(rule)) { // one it cannot read stands as a single appointment
            place(a, a.date, last, from, to, shown);
            continue;
        }
        // A series: each of its days that reaches into the days asked for, but those left out.
        const qint64 length = a.date.daysTo(last);
        for (const QDate& o : occurrenceDays(rule, a.date, a.time, from.addDays(-length), to, exceptDays(rs.text(12))))
            place(a, o, o.addDays(length), from, to, shown);
    }
}

// The days of every series that reach into from … to, unordered.
std::vector<ShownAppt> seriesOfDays(Connection& connection, const QDate& from, const QDate& to)
{
    std::vector<ShownAppt> shown;
    Snapshot series(connection, kShownColumns + QStringLiteral("rrule is not null and apptdate<=#") + DateText(to) + u'#');
    readShown(series, from, to, shown);
    return shown;
}

} // namespace

std::array<int, 32> ApptCountsOfMonth(const QDate& calDate)
{
    std::array<int, 32> counts{};
    const QDate first(calDate.year(), calDate.month(), 1);
    const QDate last(calDate.year(), calDate.month(), calDate.daysInMonth());
    try {
        Connection connection(sConnContacts);
        Snapshot rs(connection, QStringLiteral("SELECT apptdate, count(*) FROM appointments where apptdate between #") +
                                    DateText(first) + QStringLiteral("# And #") + DateText(last) +
                                    QStringLiteral("# and rrule is null group by apptdate"));
        for (; !rs.eof(); rs.moveNext()) {
            const QVariant v = rs.field(0);
            // The column's type may not survive the grouping; its ISO text reads the same.
            const QDate d = v.typeId() == QMetaType::QDate ? v.toDate()
                                                            : QDate::fromString(v.toString().left(10), Qt::ISODate);
            if (d.isValid() && d.year() == first.year() && d.month() == first.month())
                counts[size_t(d.day())] += rs.field(1).toInt();
        }
        // The days after the first that appointments of several days reach into.
        Snapshot more(connection, QStringLiteral("SELECT apptdate,enddate,endtime,allday FROM appointments where enddate>=#") +
                                      DateText(first) + QStringLiteral("# and apptdate<#") + DateText(last) +
                                      QStringLiteral("# and rrule is null"));
        for (; !more.eof(); more.moveNext()) {
            const QDate from = more.field(0).toDate(), to = more.field(1).toDate();
            if (!from.isValid() || !to.isValid())
                continue;
            // A whole day's end is its last day; a clock end at midnight does not reach into the day it opens.
            const QDate lastDay = !more.field(3).toBool() && more.field(2).toTime() == QTime(0, 0) ? to.addDays(-1) : to;
            for (QDate d = std::max(from.addDays(1), first); d <= std::min(lastDay, last); d = d.addDays(1))
                ++counts[size_t(d.day())];
        }
        // Each day of the month that a series' days reach.
        for (const ShownAppt& a : seriesOfDays(connection, first, last))
            ++counts[size_t(a.day.day())];
    } catch (const std::exception& e) {
        ReportFailure(e, QStringLiteral("ApptsForDay"), Owner::Form, QStringLiteral("frmKestrel"));
        counts.fill(0);
    }
    return counts;
}

std::bitset<32> ApptDaysOfMonth(const QDate& calDate)
{
    std::bitset<32> days;
    const std::array<int, 32> counts = ApptCountsOfMonth(calDate);
    for (size_t d = 1; d < counts.size(); ++d)
        days.set(d, counts[d] > 0);
    return days;
}

QString DaySpoken(const QDate& d, int appointments)
{
    const QString day = QLocale(QLocale::English).toString(d, QStringLiteral("dddd, MMMM d, yyyy"));
    if (appointments <= 0)
        return day + QStringLiteral(", no appointments");
    return day + (appointments == 1 ? QStringLiteral(", 1 appointment") : QStringLiteral(", %1 appointments").arg(appointments));
}

void strikeThrough(QListWidget* list, int from, int to)
{
    for (int i = from; i < to; ++i) {
        QListWidgetItem* item = list->item(i);
        QFont f = item->font();
        f.setStrikeOut(true);
        item->setFont(f);
    }
}

QString DayLineTime(const QDate& date, const QTime& time, const ApptEnd& end, const QDate& d)
{
    if (d == date)
        return hasOwnLength(date, time, end) ? SpanText(date, time, end) : (time.isValid() ? TimeText(time) : QString());
    return d == end.date ? QStringLiteral("until ") + TimeText(end.time) : QStringLiteral("all day");
}

std::vector<ShownAppt> ApptsOfDays(const QDate& from, const QDate& to)
{
    Connection connection(sConnContacts);
    std::vector<ShownAppt> shown = seriesOfDays(connection, from, to);
    // Those beginning on the days, and those begun before them and not yet ended. Ordered here,
    // not by the engine: asked for that order, SQLite walks every earlier appointment by date
    // instead of the two indexes that find just these.
    Snapshot single(connection, kShownColumns + QStringLiteral("(apptdate between #") + DateText(from) + QStringLiteral("# and #") +
                                    DateText(to) + QStringLiteral("# or (enddate>=#") + DateText(from) +
                                    QStringLiteral("# and apptdate<#") + DateText(from) + QStringLiteral("#)) and rrule is null"));
    readShown(single, from, to, shown);
    std::stable_sort(shown.begin(), shown.end(), [](const ShownAppt& a, const ShownAppt& b) {
        if (a.day != b.day)
            return a.day < b.day;
        if (a.allDay != b.allDay)
            return a.allDay; // whole days first, as calendars list them
        if (a.date != b.date)
            return a.date < b.date;
        if (a.time.isValid() != b.time.isValid())
            return !a.time.isValid(); // no time first, as the engines order an empty time
        return a.time < b.time;
    });
    return shown;
}

void ListDayAppts(QListWidget* lstCal, const QDate& d)
{
    try {
        const std::vector<ShownAppt> shown = ApptsOfDays(d, d);
        lstCal->clear();
        addLine(lstCal, QStringLiteral(" - - - ") + DateText(d) + QStringLiteral(" - - - "), 0);
        if (shown.empty()) {
            addLine(lstCal, QStringLiteral("There are no appointments"), 0);
            addLine(lstCal, QStringLiteral("for this date."), 0);
            return;
        }
        for (const ShownAppt& l : shown) {
            const QString when = l.allDay ? QStringLiteral("All day") : DayLineTime(l.date, l.time, l.end, d);
            addLine(lstCal, BuildListString(QStringLiteral("time"), l.brief, when), l.id);
            addLine(lstCal, BuildListString(QStringLiteral("no"), l.name, QString()), l.id);
            addLine(lstCal, BuildListString(QStringLiteral("no"), l.address, QString()), l.id);
            if (l.cancelled)
                strikeThrough(lstCal, lstCal->count() - 3, lstCal->count());
            addLine(lstCal, kApptSeparator, 0);
        }
    } catch (const std::exception& e) {
        // The list keeps what it showed; the user is told why the day did not open.
        ReportFailure(e, QStringLiteral("ListDayAppts"), Owner::Module, QStringLiteral("modCal"));
    }
}

QTime parseTimeText(const QString& text)
{
    static const QRegularExpression re(QStringLiteral("^\\s*(\\d{1,2}):(\\d{2})(?::(\\d{2}))?\\s*([AaPp][Mm])?\\s*$"));
    const auto m = re.match(text);
    if (!m.hasMatch())
        return {};
    int h = m.captured(1).toInt();
    const QString ampm = m.captured(4).toUpper();
    if (!ampm.isEmpty()) {
        if (h < 1 || h > 12)
            return {};
        h = h % 12 + (ampm == u"PM" ? 12 : 0);
    }
    return QTime(h, m.captured(2).toInt(), m.captured(3).isEmpty() ? 0 : m.captured(3).toInt());
}

QString BuildListString(const QString& kind, const QString& text, const QString& time)
{
    if (kind == u"time") {
        // A missing or unreadable time leaves its place empty rather than inventing midnight; a
        // span or a day's part ("until 5:00 PM", "All day") stands as given.
        const QTime t = parseTimeText(time);
        const QString when = t.isValid() ? TimeText(t) : time.contains(u' ') ? time : QString();
        return when + QStringLiteral(" - ") + isolated(LeftChars(text, 20));
    }
    return QStringLiteral("     ") + isolated(LeftChars(text, 25));
}

QString GetDayName(int n)
{
    static const char* const names[] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};
    return n >= 1 && n <= 7 ? QString::fromLatin1(names[n - 1]) : QString();
}

} // namespace kestrel
