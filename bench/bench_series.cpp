// Repeating appointments: a month's counts, the seven-day list and the next alert with 500 series
// among 20,000 single appointments, each beside the raw queries it needs.
#include "bench/generate.h"
#include "calendar/AlertSchedule.h"
#include "calendar/modCal.h"
#include "data/Database.h"
#include "data/Globals.h"
#include "data/modData.h"
#include "platform/Platform.h"

#include <benchmark/benchmark.h>

using namespace kestrel;

namespace {

// A year of single appointments around today, and 500 series begun over the two years before it:
// weekly on two days, daily, monthly on a weekday, every other week a hundred times, yearly.
void seriesAmongSingles()
{
    static bool made = false;
    if (made)
        return;
    made = true;
    bench::freshProgramDir();
    const QDate today = platform().today();
    bench::generateAppointments(20000, today.addMonths(-6), 365);
    bench::generateAppointments(500, today.addYears(-2), 730);
    Connection c(sConnContacts);
    c.execute(QStringLiteral("UPDATE appointments SET rrule=CASE autoid % 5 WHEN 0 THEN 'FREQ=WEEKLY;BYDAY=TU,TH' "
                             "WHEN 1 THEN 'FREQ=DAILY' WHEN 2 THEN 'FREQ=MONTHLY;BYDAY=2TU' "
                             "WHEN 3 THEN 'FREQ=WEEKLY;INTERVAL=2;COUNT=100' ELSE 'FREQ=YEARLY' END, "
                             "exdates='%1,%2' WHERE autoid>20000")
                  .arg(today.toString(Qt::ISODate), today.addDays(3).toString(Qt::ISODate)));
}

QString range(const QDate& from, const QDate& to)
{
    return QStringLiteral("#") + DateText(from) + QStringLiteral("# And #") + DateText(to) + u'#';
}

// The rows the lists read: the series begun by the last day, and the single appointments of the days.
int rawRows(const QDate& from, const QDate& to)
{
    Connection c(sConnContacts);
    int n = 0;
    Snapshot series(c, QStringLiteral("SELECT appttime,apptbrief,name,address,autoid,apptdate,enddate,endtime,allday,cancelled,"
                                      "outcome,rrule,exdates FROM appointments where rrule is not null and apptdate<=#") +
                           DateText(to) + u'#');
    for (; !series.eof(); series.moveNext())
        ++n;
    Snapshot single(c, QStringLiteral("SELECT appttime,apptbrief,name,address,autoid,apptdate,enddate,endtime,allday,cancelled,"
                                      "outcome FROM appointments where apptdate between ") +
                           range(from, to) + QStringLiteral(" and rrule is null"));
    for (; !single.eof(); single.moveNext())
        ++n;
    return n;
}

} // namespace

static void BM_SeriesMonthCounts(benchmark::State& state)
{
    seriesAmongSingles();
    const QDate today = platform().today();
    int i = 0, days = 0;
    for (auto _ : state) {
        const auto counts = ApptCountsOfMonth(today.addMonths(i++ % 6 - 3));
        days = 0;
        for (int c : counts)
            days += c;
    }
    state.counters["appointments"] = days;
}
BENCHMARK(BM_SeriesMonthCounts)->Unit(benchmark::kMillisecond)->Iterations(100);

static void BM_SeriesMonthRawQuery(benchmark::State& state)
{
    seriesAmongSingles();
    const QDate today = platform().today();
    int i = 0, rows = 0;
    for (auto _ : state) {
        const QDate m = today.addMonths(i++ % 6 - 3);
        rows = rawRows(QDate(m.year(), m.month(), 1), QDate(m.year(), m.month(), m.daysInMonth()));
    }
    state.counters["rows"] = rows;
}
BENCHMARK(BM_SeriesMonthRawQuery)->Unit(benchmark::kMillisecond)->Iterations(100);

static void BM_SeriesSevenDays(benchmark::State& state)
{
    seriesAmongSingles();
    const QDate today = platform().today();
    size_t lines = 0;
    for (auto _ : state)
        lines = ApptsOfDays(today, today.addDays(6)).size();
    state.counters["appointments"] = double(lines);
}
BENCHMARK(BM_SeriesSevenDays)->Unit(benchmark::kMillisecond)->Iterations(200);

static void BM_SeriesSevenDaysRawQuery(benchmark::State& state)
{
    seriesAmongSingles();
    const QDate today = platform().today();
    int rows = 0;
    for (auto _ : state)
        rows = rawRows(today, today.addDays(6));
    state.counters["rows"] = rows;
}
BENCHMARK(BM_SeriesSevenDaysRawQuery)->Unit(benchmark::kMillisecond)->Iterations(200);

static void BM_SeriesNextAlert(benchmark::State& state)
{
    seriesAmongSingles();
    const QDateTime now = platform().now();
    AlertSchedule schedule;
    for (auto _ : state) {
        schedule.setAppointments(ApptsToAlert(now.date()));
        benchmark::DoNotOptimize(schedule.nextWakeUp(now));
    }
    state.counters["alerts"] = double(ApptsToAlert(now.date()).size());
}
BENCHMARK(BM_SeriesNextAlert)->Unit(benchmark::kMillisecond)->Iterations(200);

// The same with a new schedule each time, as at start, knowing none of the days' offsets from UTC.
static void BM_SeriesNextAlertNewSchedule(benchmark::State& state)
{
    seriesAmongSingles();
    const QDateTime now = platform().now();
    for (auto _ : state) {
        AlertSchedule schedule;
        schedule.setAppointments(ApptsToAlert(now.date()));
        benchmark::DoNotOptimize(schedule.nextWakeUp(now));
    }
}
BENCHMARK(BM_SeriesNextAlertNewSchedule)->Unit(benchmark::kMillisecond)->Iterations(200);

static void BM_SeriesNextAlertRawQuery(benchmark::State& state)
{
    seriesAmongSingles();
    const QDate today = platform().today();
    int rows = 0;
    for (auto _ : state) {
        Connection c(sConnContacts);
        rows = 0;
        Snapshot single(c, QStringLiteral("SELECT autoid,apptdate,appttime,apptbrief,address,name,allday,rrule,exdates "
                                          "FROM appointments where cancelled=False and rrule is null and apptdate between ") +
                               range(today, today.addDays(1)));
        for (; !single.eof(); single.moveNext())
            ++rows;
        Snapshot series(c, QStringLiteral("SELECT autoid,apptdate,appttime,apptbrief,address,name,allday,rrule,exdates "
                                          "FROM appointments where cancelled=False and rrule is not null and apptdate<=#") +
                               DateText(today.addDays(1)) + u'#');
        for (; !series.eof(); series.moveNext())
            ++rows;
    }
    state.counters["rows"] = rows;
}
BENCHMARK(BM_SeriesNextAlertRawQuery)->Unit(benchmark::kMillisecond)->Iterations(200);
