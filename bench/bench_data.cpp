// Data layer: one durable action statement, and reading a large snapshot.
#include "bench/generate.h"
#include "data/Database.h"
#include "data/Globals.h"
#include "data/modData.h"
#include "platform/Platform.h"

#include <QCoreApplication>

#include <benchmark/benchmark.h>

using namespace kestrel;


static void BM_ActionQueryInsert(benchmark::State& state)
{
    bench::freshProgramDir();
    ActionQuery(QStringLiteral("select 1"), sConnMain); // create the file outside the loop
    int i = 0;
    for (auto _ : state) {
        if (!ActionQuery(QStringLiteral("Insert into todo (todo)values('Call the bank %1')").arg(++i), sConnMain))
            state.SkipWithError("insert failed");
    }
}
BENCHMARK(BM_ActionQueryInsert)->Unit(benchmark::kMillisecond)->Repetitions(3)->ReportAggregatesOnly(true);

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
