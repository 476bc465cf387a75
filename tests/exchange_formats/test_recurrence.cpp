// The days a repeating appointment falls on, read from its rule, and the rules the editor and the
// import must refuse.
#include "formats/PlainRule.h"
#include "formats/Recurrence.h"
#include "tests/support/PrintQString.h"

#include <gtest/gtest.h>

#include <QStringList>

#include <array>
#include <random>

using namespace kestrel;

namespace {

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
