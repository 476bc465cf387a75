// The days a repeating appointment falls on, read from its rule, and the rules the editor and the
// import must refuse; the editor's Repeats controls written to a rule and read back, a series cut in
// two, and single days of a stored series changed or left out on the days the clocks change.
#include "calendar/AlertSchedule.h"
#include "calendar/modCal.h"
#include "data/Globals.h"
#include "data/modData.h"
#include "formats/ApptSeries.h"
#include "formats/PlainRule.h"
#include "formats/Recurrence.h"
#include "formats/RepeatRule.h"
#include "tests/support/Fixture.h"
#include "tests/support/PrintQString.h"

#include <QTimeZone>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <random>

using namespace kestrel;

namespace {

using K = RepeatChoice::Kind;
using E = RepeatChoice::End;

RepeatChoice choice(K kind, int every, E end, std::array<bool, 7> weekdays = {})
{
    return {.kind = kind, .every = every, .weekdays = weekdays, .end = end, .until = {2029, 2, 28}, .count = end == E::Count ? 12 : 0};
}

std::vector<QDate> allDays(const QString& rule, const QDate& start)
{
    return occurrenceDays(rule, start, QTime(9, 0), start, start.addYears(400));
}

QStringList days(const char* rule, QDate start, QDate from, QDate to, std::vector<QDate> except = {})
{
    QStringList out;
    for (const QDate& d : occurrenceDays(QString::fromLatin1(rule), start, QTime(9, 0), from, to, except))
        out << d.toString(Qt::ISODate);
    return out;
}

} // namespace

TEST(Recurrence, RulesGiveTheirDaysWithinTheDaysAskedForLeavingOutTheExceptions)
{
    const QDate tue(2027, 3, 2);
    // Tuesdays and Thursdays, ten times; the clocks changing on Sunday the 14th changes no day.
    EXPECT_EQ(days("FREQ=WEEKLY;BYDAY=TU,TH;COUNT=10", tue, QDate(2027, 3, 10), QDate(2027, 3, 31), {QDate(2027, 3, 16)}),
              QStringList({"2027-03-11", "2027-03-18", "2027-03-23", "2027-03-25", "2027-03-30"}));
    // Every second week until a day; the until day itself is included.
    EXPECT_EQ(days("FREQ=WEEKLY;INTERVAL=2;UNTIL=20270330", tue, tue, QDate(2027, 12, 31)),
              QStringList({"2027-03-02", "2027-03-16", "2027-03-30"}));
    // Monthly on the 31st skips the short months; on the second Tuesday keeps to the weekday.
    EXPECT_EQ(days("FREQ=MONTHLY;BYMONTHDAY=31;COUNT=3", QDate(2027, 1, 31), QDate(2027, 1, 1), QDate(2027, 12, 31)),
              QStringList({"2027-01-31", "2027-03-31", "2027-05-31"}));
    EXPECT_EQ(days("FREQ=MONTHLY;BYDAY=2TU", QDate(2027, 1, 12), QDate(2027, 2, 1), QDate(2027, 4, 30)),
              QStringList({"2027-02-09", "2027-03-09", "2027-04-13"}));
    // Yearly on February 29 comes in leap years only.
    EXPECT_EQ(days("FREQ=YEARLY", QDate(2028, 2, 29), QDate(2028, 1, 1), QDate(2036, 12, 31)),
              QStringList({"2028-02-29", "2032-02-29", "2036-02-29"}));
    // Asked for days years after the first, a daily rule without a count gives just those days,
    // the same as walking from the first; one with a count still stops at its count.
    EXPECT_EQ(days("FREQ=DAILY;INTERVAL=3", tue, QDate(2031, 6, 1), QDate(2031, 6, 7)),
              QStringList({"2031-06-03", "2031-06-06"}));
    EXPECT_EQ(days("FREQ=DAILY;COUNT=5", tue, QDate(2027, 3, 5), QDate(2031, 6, 7)), QStringList({"2027-03-05", "2027-03-06"}));
    // Nothing before the first day, and nothing from a rule that cannot be read.
    EXPECT_EQ(days("FREQ=DAILY", tue, QDate(2027, 2, 25), QDate(2027, 3, 3)), QStringList({"2027-03-02", "2027-03-03"}));
    EXPECT_TRUE(days("FREQ=SOMETIMES", tue, tue, tue.addDays(30)).isEmpty());
    EXPECT_EQ(exceptDays(exceptColumn({QDate(2027, 3, 16), QDate(2027, 3, 18)})),
              (std::vector<QDate>{QDate(2027, 3, 16), QDate(2027, 3, 18)}));
}

TEST(Recurrence, RulesThatCannotBeKeptAreRefusedInPlainWords)
{
    const QDate start(2027, 3, 2);
    const QTime nine(9, 0);
    EXPECT_EQ(RuleRefusal("FREQ=WEEKLY;BYDAY=TU,TH;COUNT=1000", start, nine), QString());
    EXPECT_EQ(RuleRefusal("FREQ=YEARLY", QDate(2028, 2, 29), nine), QString());
    EXPECT_EQ(RuleRefusal("FREQ=DAILY;COUNT=1001", start, nine), "An appointment may repeat at most 1000 times; this one says 1001.");
    EXPECT_EQ(RuleRefusal("FREQ=DAILY;UNTIL=20270301", start, nine),
              "The last day it repeats (3/1/2027) is before the day it begins (3/2/2027).");
    EXPECT_EQ(RuleRefusal("FREQ=YEARLY;BYMONTH=2;BYMONTHDAY=30", start, nine),
              "This way of repeating gives no day at all on or after 3/2/2027.");
    EXPECT_EQ(RuleRefusal("every other week", start, nine), "Kestrel cannot read how this appointment repeats (every other week).");
    EXPECT_FALSE(ruleReadable("every other week"));
}

TEST(Recurrence, ThePlainRulesCountedByKestrelGiveTheDaysLibicalGives)
{
    // Random rules of the shapes the editor writes, begun near month ends, February 29 and the days
    // the clocks change in New York and Berlin, asked for random stretches; libical walks each from
    // its first day as the reference.
    std::mt19937 random(20261208);
    const auto pick = [&random](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(random); };
    const char* const codes[] = {"MO", "TU", "WE", "TH", "FR", "SA", "SU"};
    const QDate near[] = {QDate(2028, 2, 29), QDate(2027, 1, 31), QDate(2026, 3, 8), QDate(2026, 11, 1),
                          QDate(2027, 3, 28), QDate(2026, 10, 25), QDate(2027, 8, 30), QDate(2030, 12, 31)};
    const QTime times[] = {QTime(0, 0), QTime(2, 30), QTime(9, 0), QTime(23, 59, 59), QTime()};
    int compared = 0;
    for (int i = 0; i < 1500; ++i) {
        QStringList parts;
        const int freq = pick(0, 3);
        parts << QStringLiteral("FREQ=") + QString::fromLatin1(std::array{"DAILY", "WEEKLY", "MONTHLY", "YEARLY"}[size_t(freq)]);
        if (pick(0, 2) == 0)
            parts << QStringLiteral("INTERVAL=%1").arg(pick(1, 4));
        if (freq == 1) {
            QStringList on;
            for (const char* c : codes)
                if (pick(0, 2) == 0)
                    on << QString::fromLatin1(c);
            if (!on.isEmpty())
                parts << QStringLiteral("BYDAY=") + on.join(u',');
            if (pick(0, 3) == 0)
                parts << QStringLiteral("WKST=") + QString::fromLatin1(codes[pick(0, 1) ? 0 : 6]);
        } else if (freq == 2 && pick(0, 2) == 0)
            parts << QStringLiteral("BYMONTHDAY=%1").arg(pick(0, 1) ? pick(28, 31) : pick(1, 31));
        else if (freq == 2 && pick(0, 1) == 0)
            parts << QStringLiteral("BYDAY=%1%2").arg(pick(0, 1) ? pick(1, 5) : -pick(1, 5)).arg(QString::fromLatin1(codes[pick(0, 6)]));
        const QDate start = near[pick(0, 7)].addDays(pick(-3, 3));
        const QTime time = times[pick(0, 4)];
        switch (pick(0, 3)) {
        case 1: parts << QStringLiteral("COUNT=%1").arg(pick(1, 60)); break;
        case 2: parts << QStringLiteral("UNTIL=") + start.addDays(pick(-2, 900)).toString(QStringLiteral("yyyyMMdd")); break;
        case 3:
            parts << QStringLiteral("UNTIL=") + start.addDays(pick(0, 400)).toString(QStringLiteral("yyyyMMdd")) +
                         QTime(pick(0, 1) ? 9 : pick(0, 23), 0).toString(QStringLiteral("'T'HHmmss")) + (pick(0, 1) ? "Z" : "");
            break;
        default: break;
        }
        const QString rule = parts.join(u';');
        ASSERT_TRUE(plainRule(rule)) << qPrintable(rule); // else both sides would be libical's
        const QDate from = start.addDays(pick(-40, 1500)), to = from.addDays(pick(0, 62));
        std::vector<QDate> expected;
        for (const QDate& d : libicalOccurrenceDays(rule, start, time, start, to))
            if (d >= from)
                expected.push_back(d);
        ASSERT_EQ(occurrenceDays(rule, start, time, from, to), expected)
            << qPrintable(rule) << " from " << qPrintable(start.toString(Qt::ISODate)) << ' '
            << qPrintable(time.toString()) << " in " << qPrintable(from.toString(Qt::ISODate)) << " … "
            << qPrintable(to.toString(Qt::ISODate));
        compared += !expected.empty();
    }
    EXPECT_GT(compared, 300); // most stretches hold days, so the days themselves were compared
    // Rules outside the plain shapes are left to libical.
    for (const char* other : {"FREQ=MONTHLY;BYDAY=MO,TU", "FREQ=YEARLY;BYMONTH=3", "freq=daily", "FREQ=DAILY;COUNT=3;UNTIL=20270101",
                              "FREQ=WEEKLY;BYDAY=TU,TU", "FREQ=WEEKLY;WKST=SA", "FREQ=MONTHLY;BYMONTHDAY=-1", "FREQ=HOURLY", "FREQ=DAILY;BYDAY=MO"})
        EXPECT_FALSE(plainRule(QString::fromLatin1(other))) << other;
}

TEST(RepeatRule, EveryChoiceOfTheControlsReadsBackAsWrittenAndBeginsOnItsFirstDay)
{
    // Month ends, February 29 and a fifth (last) Friday as first days.
    for (const QDate start : {QDate(2027, 1, 31), QDate(2028, 2, 29), QDate(2027, 1, 29), QDate(2027, 3, 14)})
        for (const K kind : {K::Daily, K::Weekly, K::MonthlyDay, K::MonthlyWeekday, K::Yearly})
            for (const E end : {E::Never, E::Until, E::Count})
                for (const int every : {1, 3}) {
                    std::array<bool, 7> days{};
                    days[size_t(start.dayOfWeek() - 1)] = true;
                    days[3] = kind == K::Weekly; // and Thursdays
                    const RepeatChoice c = choice(kind, every, end, kind == K::Weekly ? days : std::array<bool, 7>{});
                    const QString rule = RuleText(c, start);
                    const RepeatChoice back = ReadRepeat(rule, start);
                    SCOPED_TRACE(rule.toStdString() + " from " + start.toString(Qt::ISODate).toStdString());
                    EXPECT_EQ(back.kind, kind);
                    EXPECT_EQ(back.every, every);
                    EXPECT_EQ(back.weekdays, c.weekdays);
                    EXPECT_EQ(back.end, end);
                    EXPECT_EQ(back.until, end == E::Until ? c.until : QDate());
                    EXPECT_EQ(back.count, c.count);
                    EXPECT_EQ(RepeatRefusal(c, start, QTime(9, 0)), QString());
                    const std::vector<QDate> got = allDays(rule, start);
                    ASSERT_FALSE(got.empty());
                    EXPECT_EQ(got.front(), start);
                    if (end == E::Count)
                        EXPECT_EQ(got.size(), 12u);
                    if (end == E::Until)
                        EXPECT_LE(got.back(), c.until);
                }
    // A rule from another calendar that the controls cannot show is kept word for word.
    for (const char* foreign : {"FREQ=MONTHLY;BYDAY=MO,TU", "FREQ=YEARLY;BYMONTH=3;BYDAY=-1SU", "FREQ=DAILY;BYHOUR=9,15"}) {
        const RepeatChoice c = ReadRepeat(QString::fromLatin1(foreign), QDate(2027, 3, 1));
        EXPECT_EQ(c.kind, K::AsStored) << foreign;
        EXPECT_EQ(RuleText(c, QDate(2027, 3, 1)), QString::fromLatin1(foreign));
    }
}

TEST(RepeatRule, ChoicesGivingNoDayOrTooManyOrEndingBeforeTheyBeginAreRefusedInPlainWords)
{
    const QDate start(2027, 3, 2);
    const QTime nine(9, 0);
    EXPECT_EQ(RepeatRefusal(choice(K::Weekly, 1, E::Never), start, nine), "Choose at least one day of the week it repeats on.");
    RepeatChoice many = choice(K::Daily, 1, E::Count);
    many.count = 1000;
    EXPECT_EQ(RepeatRefusal(many, start, nine), QString());
    EXPECT_EQ(allDays(RuleText(many, start), start).size(), 1000u);
    many.count = 1001;
    EXPECT_EQ(RepeatRefusal(many, start, nine), "An appointment may repeat at most 1000 times; this one says 1001.");
    RepeatChoice early = choice(K::Daily, 1, E::Until);
    early.until = start.addDays(-1);
    EXPECT_EQ(RepeatRefusal(early, start, nine), "The last day it repeats (3/1/2027) is before the day it begins (3/2/2027).");
    RepeatChoice never;
    never.kind = K::AsStored;
    never.stored = QStringLiteral("FREQ=YEARLY;BYMONTH=2;BYMONTHDAY=30");
    EXPECT_EQ(RepeatRefusal(never, start, nine), "This way of repeating gives no day at all on or after 3/2/2027.");
}

TEST(RepeatRule, ASeriesCutAtOneOfItsDaysKeepsEveryDayOnceWithItsCountShared)
{
    const QDate start(2027, 3, 2);
    for (const char* rule : {"FREQ=WEEKLY;BYDAY=TU,TH;COUNT=10", "FREQ=WEEKLY;BYDAY=TU,TH;UNTIL=20270401", "FREQ=MONTHLY;BYDAY=-1FR"}) {
        const QString r = QString::fromLatin1(rule);
        const std::vector<QDate> whole = occurrenceDays(r, start, QTime(9, 0), start, QDate(2027, 12, 31));
        const QDate cut = whole[3];
        std::vector<QDate> parts = occurrenceDays(RuleEndedBefore(r, cut), start, QTime(9, 0), start, QDate(2027, 12, 31));
        EXPECT_EQ(parts.size(), 3u) << rule;
        for (const QDate& d : occurrenceDays(RuleGoingOnFrom(r, start, QTime(9, 0), cut), cut, QTime(9, 0), cut, QDate(2027, 12, 31)))
            parts.push_back(d);
        EXPECT_EQ(parts, whole) << rule;
    }
}

TEST(RepeatRule, ASeriesMovedByDaysRepeatsOnTheDaysMovedWithItAndEndsAsMuchLater)
{
    // The rule of a series, or of its part from `from` on, at `time`, moved by days and seconds on
    // the clock; expected: the rule it becomes and the last day it then reaches (none: no end).
    struct Case {
        const char* rule;
        QDate from;
        QTime time;
        int days;
        qint64 seconds;
        const char* moved;
        QDate last;
    };
    const qint64 day = 86400;
    const Case cases[] = {
        {"FREQ=MONTHLY;BYMONTHDAY=15;UNTIL=20271215", {2027, 3, 15}, {9, 0}, 3, 3 * day,
         "FREQ=MONTHLY;BYMONTHDAY=18;UNTIL=20271218", {2027, 12, 18}},
        // The second Tuesday, a week and a day on, is the third Wednesday.
        {"FREQ=MONTHLY;BYDAY=2TU;COUNT=6", {2027, 3, 9}, {9, 0}, 8, 8 * day, "FREQ=MONTHLY;BYDAY=3WE;COUNT=6", {2027, 8, 18}},
        {"FREQ=MONTHLY;BYDAY=TU;BYSETPOS=2;UNTIL=20270615", {2027, 3, 9}, {9, 0}, -7, -7 * day,
         "FREQ=MONTHLY;BYDAY=TU;BYSETPOS=1;UNTIL=20270608", {2027, 6, 1}},
        {"FREQ=MONTHLY;BYDAY=-1FR", {2027, 3, 26}, {9, 0}, 1, day, "FREQ=MONTHLY;BYDAY=-1SA", {}},
        {"FREQ=MONTHLY;BYMONTHDAY=-1;COUNT=3", {2027, 3, 31}, {9, 0}, -1, -day, "FREQ=MONTHLY;BYMONTHDAY=-2;COUNT=3", {2027, 5, 30}},
        // On the 31st, the months without one were skipped; a day earlier only February is.
        {"FREQ=MONTHLY;BYMONTHDAY=31;UNTIL=20271231T140000Z", {2027, 1, 31}, {9, 0}, -1, -day,
         "FREQ=MONTHLY;BYMONTHDAY=30;UNTIL=20271230T140000Z", {2027, 12, 30}},
        {"FREQ=YEARLY;BYMONTH=2;BYMONTHDAY=28;COUNT=5", {2027, 2, 28}, {9, 0}, 1, day,
         "FREQ=YEARLY;BYMONTH=3;BYMONTHDAY=1;COUNT=5", {2031, 3, 1}},
        {"FREQ=YEARLY;BYMONTH=11;BYDAY=1SU", {2027, 11, 7}, {9, 0}, 1, day, "FREQ=YEARLY;BYMONTH=11;BYDAY=2MO", {}},
        // An until at the very time of the last day, moved a week over the day New York's clocks go back.
        {"FREQ=DAILY;UNTIL=20271105T090000Z", {2027, 10, 29}, {9, 0}, 7, 7 * day, "FREQ=DAILY;UNTIL=20271112T090000Z",
         {2027, 11, 12}},
        {"FREQ=DAILY;UNTIL=20271108T090000Z", {2027, 11, 1}, {9, 0}, 0, 1800, "FREQ=DAILY;UNTIL=20271108T093000Z", {2027, 11, 8}},
        // 11 PM two hours later is the next day at 1 AM.
        {"FREQ=WEEKLY;BYDAY=TU,TH;UNTIL=20270325", {2027, 3, 2}, {23, 0}, 1, 7200, "FREQ=WEEKLY;BYDAY=WE,FR;UNTIL=20270326",
         {2027, 3, 26}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rule);
        const QString moved = RuleMovedBy(QString::fromLatin1(c.rule), c.from, c.time, c.days, c.seconds);
        EXPECT_EQ(moved, QString::fromLatin1(c.moved));
        const QDateTime to = QDateTime(c.from, c.time, Qt::UTC).addSecs(c.seconds);
        const std::vector<QDate> days = occurrenceDays(moved, to.date(), to.time(), to.date(), to.date().addYears(8));
        ASSERT_FALSE(days.empty());
        EXPECT_EQ(days.front(), to.date()); // the moved part repeats on its own first day
        if (c.last.isValid())
            EXPECT_EQ(days.back(), c.last);
        else
            EXPECT_GT(days.back(), to.date().addYears(7));
    }
}

class ApptSeriesTest : public kestrel::test::KestrelTest {};

TEST_F(ApptSeriesTest, ADayLeftOutAndADayOfItsOwnOnTheDaysTheClocksChangeShowAndAlertOnlyAsThemselves)
{
    // A daily call at 2:30 AM, a time the clocks skip on the spring days in New York (3/14) and
    // Berlin (3/28); the first is left out, the second gets a row of its own, and the fall days
    // (doubled 2:30 in Berlin 10/31, New York 11/7) the other way round.
    const int series = addAppt({2027, 3, 10}, {2, 30}, QStringLiteral("Call"));
    exec(sConnContacts, QStringLiteral("update appointments set rrule='FREQ=DAILY;UNTIL=20271231' where autoid=%1").arg(series));
    EXPECT_EQ(leaveOutDay(sConnContacts, series, {2027, 3, 14}), series);
    EXPECT_EQ(leaveOutDay(sConnContacts, series, {2027, 11, 7}), series);
    const int spring = overrideDay(sConnContacts, series, {2027, 3, 28}, {});
    const int fall = overrideDay(sConnContacts, series, {2027, 10, 31}, {});
    ASSERT_GT(spring, series);
    ASSERT_GT(fall, spring);
    EXPECT_EQ(leaveOutDay(sConnContacts, series, {2027, 3, 14}), series); // twice is once
    EXPECT_EQ(readSeries(sConnContacts, series)->exdates, "2027-03-14,2027-03-28,2027-10-31,2027-11-07");
    std::vector<int> rows = seriesRows(sConnContacts, series);
    std::sort(rows.begin(), rows.end());
    EXPECT_EQ(rows, (std::vector<int>{spring, fall}));

    for (const QDate day : {QDate(2027, 3, 14), QDate(2027, 3, 28), QDate(2027, 10, 31), QDate(2027, 11, 7)}) {
        std::vector<int> ids;
        for (const ShownAppt& a : ApptsOfDays(day.addDays(-1), day.addDays(1)))
            if (a.day == day)
                ids.push_back(a.id);
        const std::vector<int> own = day == QDate(2027, 3, 28) ? std::vector<int>{spring}
                                     : day == QDate(2027, 10, 31) ? std::vector<int>{fall}
                                                                 : std::vector<int>{};
        EXPECT_EQ(ids, own) << qPrintable(day.toString(Qt::ISODate));
        EXPECT_EQ(ApptsOfDays(day.addDays(-1), day.addDays(-1)).size(), 1u); // the series' day before
        std::vector<int> alerted;
        for (const ApptAlert& a : ApptsToAlert(day))
            if (a.date == day)
                alerted.push_back(a.id);
        EXPECT_EQ(alerted, own) << qPrintable(day.toString(Qt::ISODate));
    }
    // The alert moments of 2:30 on those days (asked for after the plain day before each): a
    // skipped 2:30 is 3:30, a doubled one its first coming.
    for (const char* name : {"America/New_York", "Europe/Berlin"}) {
        const QTimeZone zone(name);
        const AlertSchedule schedule(zone);
        for (const QDate day : {QDate(2027, 3, 14), QDate(2027, 3, 28), QDate(2027, 10, 31), QDate(2027, 11, 7)}) {
            const bool newYork = zone.id() == "America/New_York";
            const bool skipped = day == QDate(2027, 3, newYork ? 14 : 28);
            const bool doubled = !newYork && day == QDate(2027, 10, 31); // New York doubles 1:00 to 2:00 only
            const QDateTime expected = skipped ? QDateTime(day, {3, 30}, zone)
                                       : doubled ? QDateTime(day, {2, 30}, Qt::OffsetFromUTC, 2 * 3600)
                                                 : QDateTime(day, {2, 30}, zone);
            EXPECT_EQ(schedule.startOf(day.addDays(-1), {2, 30}), QDateTime(day.addDays(-1), {2, 30}, zone)) << name;
            EXPECT_EQ(schedule.startOf(day, {2, 30}), expected) << name << ' ' << qPrintable(day.toString(Qt::ISODate));
        }
    }
    // Undone, the series has all its days again and the rows of its own are gone.
    ASSERT_TRUE(restoreSeries(sConnContacts, {series, {2027, 3, 10}, {2, 30}, "FREQ=DAILY;UNTIL=20271231", {}}, {spring, fall}));
    EXPECT_TRUE(seriesRows(sConnContacts, series).empty());
    EXPECT_EQ(ApptsOfDays({2027, 3, 14}, {2027, 3, 14}).size(), 1u);
    EXPECT_EQ(ApptsOfDays({2027, 10, 31}, {2027, 10, 31}).front().id, series);
}
