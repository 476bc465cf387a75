#include "calendar/modCal.h"

#include "data/Database.h"
#include "data/Globals.h"
#include "data/TextFold.h"
#include "data/modData.h"
#include "ui/Report.h"
#include "ui/Ui.h"

#include <QListWidget>
#include <QLocale>
#include <QRegularExpression>

namespace kestrel {


std::array<int, 32> ApptCountsOfMonth(const QDate& calDate)
{
    std::array<int, 32> counts{};
    const QDate first(calDate.year(), calDate.month(), 1);
    const QDate last(calDate.year(), calDate.month(), calDate.daysInMonth());
    try {
        Connection connection(sConnContacts);
        Snapshot rs(connection, QStringLiteral("SELECT apptdate, count(*) FROM appointments where apptdate between #") +
                                    DateText(first) + QStringLiteral("# And #") + DateText(last) +
                                    QStringLiteral("# group by apptdate"));
        for (; !rs.eof(); rs.moveNext()) {
            const QVariant v = rs.field(0);
            // The column's type may not survive the grouping; its ISO text reads the same.
            const QDate d = v.typeId() == QMetaType::QDate ? v.toDate()
                                                            : QDate::fromString(v.toString().left(10), Qt::ISODate);
            if (d.isValid() && d.year() == first.year() && d.month() == first.month())
                counts[size_t(d.day())] += rs.field(1).toInt();
        }
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

void ListDayAppts(QListWidget* lstCal, const QDate& d)
{
    try {
        Connection connection(sConnContacts);
        Snapshot rs(connection,
                    QStringLiteral("SELECT appttime,apptbrief,name,address,autoid FROM appointments where apptdate=#") +
                        DateText(d) + QStringLiteral("# order by appttime asc"));
        lstCal->clear();
        addLine(lstCal, QStringLiteral(" - - - ") + DateText(d) + QStringLiteral(" - - - "), 0);
        if (rs.eof()) {
            addLine(lstCal, QStringLiteral("There are no appointments"), 0);
            addLine(lstCal, QStringLiteral("for this date."), 0);
            return;
        }
        for (; !rs.eof(); rs.moveNext()) {
            const int id = rs.field(4).toInt();
            const QVariant t = rs.field(0);
            const QString time = t.typeId() == QMetaType::QTime ? TimeText(t.toTime()) : rs.text(0);
            addLine(lstCal, BuildListString(QStringLiteral("time"), rs.text(1), time), id);
            addLine(lstCal, BuildListString(QStringLiteral("no"), rs.text(2), QString()), id);
            addLine(lstCal, BuildListString(QStringLiteral("no"), rs.text(3), QString()), id);
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
        // A missing or unreadable time leaves its place empty rather than inventing midnight.
        const QTime t = parseTimeText(time);
        return (t.isValid() ? TimeText(t) : QString()) + QStringLiteral(" - ") + isolated(LeftChars(text, 20));
    }
    return QStringLiteral("     ") + isolated(LeftChars(text, 25));
}

QString GetDayName(int n)
{
    static const char* const names[] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};
    return n >= 1 && n <= 7 ? QString::fromLatin1(names[n - 1]) : QString();
}

} // namespace kestrel
