// Start-up to the main window shown and filled, with 10,000 contacts and their appointments.
#include "ui/Ui.h"
#include "app/frmKestrel.h"
#include "bench/generate.h"
#include "data/Database.h"
#include "data/Globals.h"
#include "data/modData.h"

#include <QApplication>

#include <benchmark/benchmark.h>

using namespace kestrel;

static void BM_StartupToMainWindow(benchmark::State& state)
{
    bench::freshProgramDir();
    bench::generateContacts(10000);
    bench::generateAppointments(20000, QDate::currentDate().addYears(-1), 730);
    bench::generateTodos(50);
    for (auto _ : state) {
        releaseAllDatabaseFiles(); // each start is a new process with no connection yet
        frmKestrel w;
        w.show();
        w.Form_Load();
        QCoreApplication::processEvents();
        benchmark::DoNotOptimize(w.isVisible());
    }
}
BENCHMARK(BM_StartupToMainWindow)->Unit(benchmark::kMillisecond)->Iterations(10);
