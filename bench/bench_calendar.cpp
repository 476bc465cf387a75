// Calendar, reminders and to-do list over 50,000 appointments spread across five years.
#include "ui/Ui.h"
#include "bench/generate.h"
#include "calendar/CalPanel.h"
#include "calendar/RemindPanel.h"
#include "calendar/modCal.h"
#include "data/Database.h"
#include "data/Globals.h"
#include "data/modData.h"
#include "platform/Platform.h"

#include <QApplication>
#include <QGroupBox>
#include <QListWidget>

#include <benchmark/benchmark.h>

using namespace kestrel;

namespace {
// A panel in a frame on a window of its own, as the main window holds it.
template <class Panel> struct Hosted {
    QWidget host;
    Panel panel{new QGroupBox(&host), &host};
};
// Two and a half years back to two and a half years ahead, so the first purge has work to do.
void fiveYearsOfAppointments()
{
    bench::freshProgramDir();
    const QDate today = platform().today();
    const QDate first = today.addMonths(-30);
    bench::generateAppointments(50000, first, int(first.daysTo(today.addMonths(30))));
}
} // namespace

static void BM_LoadCal(benchmark::State& state)
{
    fiveYearsOfAppointments();
    Hosted<CalPanel> hosted;
    CalPanel& cal = hosted.panel;
    const QDate month = platform().today();
    int i = 0;
    for (auto _ : state)
        cal.LoadCal(QDate(month.year(), month.month(), 1).addMonths(i++ % 24 - 12));
}
BENCHMARK(BM_LoadCal)->Unit(benchmark::kMillisecond)->Iterations(200);

static void BM_ListDayAppts(benchmark::State& state)
{
    fiveYearsOfAppointments();
    QListWidget list;
    const QDate today = platform().today();
    int i = 0;
    for (auto _ : state)
        ListDayAppts(&list, today.addDays(i++ % 300 - 150));
    state.counters["lines"] = list.count();
}
BENCHMARK(BM_ListDayAppts)->Unit(benchmark::kMillisecond)->Iterations(500);

static void BM_PopWeekListWithPurge(benchmark::State& state)
{
    fiveYearsOfAppointments();
    Hosted<RemindPanel> hosted;
    RemindPanel& remind = hosted.panel;
    for (auto _ : state)
        remind.PopWeekList();
    state.counters["lines"] = remind.lstWeek->count();
}
BENCHMARK(BM_PopWeekListWithPurge)->Unit(benchmark::kMillisecond)->Iterations(100);

// The first refill of a run, when the purge deletes half a year of appointments.
static void BM_PopWeekListFirstPurge(benchmark::State& state)
{
    for (auto _ : state) {
        state.PauseTiming();
        fiveYearsOfAppointments();
        Hosted<RemindPanel> hosted;
        RemindPanel& remind = hosted.panel;
        state.ResumeTiming();
        remind.PopWeekList();
    }
}
BENCHMARK(BM_PopWeekListFirstPurge)->Unit(benchmark::kMillisecond)->Iterations(3);

static void BM_PopToDo1000(benchmark::State& state)
{
    bench::freshProgramDir();
    bench::generateTodos(1000);
    Hosted<RemindPanel> hosted;
    RemindPanel& remind = hosted.panel;
    for (auto _ : state)
        remind.PopToDo();
    state.counters["lines"] = remind.lstToDo->count();
}
BENCHMARK(BM_PopToDo1000)->Unit(benchmark::kMillisecond)->Iterations(100);
