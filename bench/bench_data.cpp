// Data layer: one durable action statement against a synced 4 KiB write, and reading a large snapshot.
#include "bench/generate.h"
#include "data/Database.h"
#include "data/Globals.h"
#include "data/modData.h"
#include "platform/Platform.h"
#include "ui/Report.h"

#include <QCoreApplication>
#include <QFile>

#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

using namespace kestrel;
using bench::SyncedBlock;

static void BM_Synced4KiBWrite(benchmark::State& state)
{
    SyncedBlock block(bench::freshProgramDir());
    for (auto _ : state)
        if (!block.write())
            state.SkipWithError("write failed");
}
BENCHMARK(BM_Synced4KiBWrite)->Unit(benchmark::kMillisecond)->Repetitions(3)->ReportAggregatesOnly(true);

// A durable one-statement change (committed, copied into the .mdb file and synced), each one
// followed by a synced 4 KiB write, so both meet the same disk: ratio_to_synced_write must stay
// below 3. The reported time is the statement's alone.
static void BM_ActionQueryInsert(benchmark::State& state)
{
    const QString folder = bench::freshProgramDir();
    ActionQuery(QStringLiteral("select 1"), sConnMain); // create the file outside the loop
    SyncedBlock block(folder);
    using Clock = std::chrono::steady_clock;
    double queries = 0;
    double writes = 0;
    int i = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        if (!ActionQuery(QStringLiteral("Insert into todo (todo)values('Call the bank %1')").arg(++i), sConnMain))
            state.SkipWithError("insert failed");
        const auto between = Clock::now();
        block.write();
        const auto end = Clock::now();
        const double query = std::chrono::duration<double>(between - start).count();
        queries += query;
        writes += std::chrono::duration<double>(end - between).count();
        state.SetIterationTime(query);
    }
    state.counters["synced_write_ms"] = 1000 * writes / double(state.iterations());
    state.counters["ratio_to_synced_write"] = queries / writes;
}
BENCHMARK(BM_ActionQueryInsert)->UseManualTime()->Unit(benchmark::kMillisecond)->Repetitions(3)->ReportAggregatesOnly(true);

static void BM_Snapshot100k(benchmark::State& state)
{
    bench::freshProgramDir();
    bench::generateContacts(100000);
    for (auto _ : state) {
        Connection c(sConnContacts);
        Snapshot s(c, QStringLiteral("SELECT id,lastname,firstname,address,city,st,zip,homeph,cellph,workph,ext,email,"
                                     "company,contype FROM contacts"));
        benchmark::DoNotOptimize(s.rowCount());
    }
}
BENCHMARK(BM_Snapshot100k)->Unit(benchmark::kMillisecond)->Iterations(10);
