// Start-up to the main window shown and filled, with 10,000 contacts and their appointments; and
// with a file from before the grid's type index and kept counts at 10,000 to 1,000,000 contacts.
#include "ui/Ui.h"
#include "app/frmKestrel.h"
#include "bench/generate.h"
#include "data/Database.h"
#include "data/Globals.h"
#include "data/Statement.h"
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

// A file written before the grid's type index, its kept counts and Find's word ends' indexes
// (which the file has only once Find's index is there): the window must not wait for them.
static void BM_StartupOlderFile(benchmark::State& state)
{
    bench::freshProgramDir();
    bench::generateContacts(int(state.range(0)));
    bench::generateTodos(50);
    for (auto _ : state) {
        state.PauseTiming();
        {
            Connection c(sConnContacts);
            for (const char* sql : {"DROP INDEX IF EXISTS contacts_by_type_initial", "DROP TRIGGER IF EXISTS contacts_count_ins",
                                    "DROP TRIGGER IF EXISTS contacts_count_del", "DROP TRIGGER IF EXISTS contacts_count_upd",
                                    "DROP TABLE IF EXISTS contact_initials", "DROP INDEX IF EXISTS contact_find4_by_end1",
                                    "DROP INDEX IF EXISTS contact_find4_by_end2"})
                Statement(c, QString::fromLatin1(sql), Statement::Dialect::Native).run();
        }
        releaseAllDatabaseFiles(); // each start is a new process with no connection yet
        state.ResumeTiming();
        frmKestrel w;
        w.show();
        w.Form_Load();
        QCoreApplication::processEvents();
        benchmark::DoNotOptimize(w.isVisible());
    }
}
BENCHMARK(BM_StartupOlderFile)->Arg(10000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond)->Iterations(3);
