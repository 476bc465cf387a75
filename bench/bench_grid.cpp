// The contact grid at 10,000, 100,000 and 1,000,000 contacts: its first screen shown and a jump
// to its last row, beside the queries each needs, run raw in the same run.
#include "bench/generate.h"
#include "contacts/frmContactGrid.h"
#include "data/Database.h"
#include "data/Globals.h"
#include "data/Statement.h"

#include <QComboBox>
#include <QTableView>

#include <benchmark/benchmark.h>

#include <map>

using namespace kestrel;

namespace {

void useContacts(int count)
{
    static std::map<int, QString> folders;
    if (const auto it = folders.find(count); it != folders.end()) {
        releaseAllDatabaseFiles();
        setProgramDir(it->second);
        buildConnectionTexts();
        return;
    }
    folders[count] = bench::freshProgramDir();
    bench::generateContacts(count);
}

// The rows the view shows, as it reads them to paint.
int readShown(frmContactGrid& grid)
{
    QTableView* view = grid.grdDataGrid;
    const int top = std::max(0, view->rowAt(0));
    int bottom = view->rowAt(view->viewport()->height() - 1);
    if (bottom < 0)
        bottom = grid.model->rowCount() - 1;
    int read = 0;
    for (int r = top; r <= bottom; ++r)
        for (int c = 0; c < 10; ++c)
            read += grid.model->data(grid.model->index(r, c), Qt::DisplayRole).toString().size() > 0;
    return read;
}

// The first screen, of every contact or (with 1) of one type.
void BM_GridShown(benchmark::State& state)
{
    useContacts(int(state.range(0)));
    frmContactGrid grid;
    const bool leads = state.range(1) == 1;
    grid.show(); // fills the lists
    if (leads)
        grid.cboType->setCurrentText(QStringLiteral("Lead"));
    for (auto _ : state) {
        grid.PopGrid();
        benchmark::DoNotOptimize(readShown(grid));
    }
    if (grid.model->rowCount() != state.range(0) / (leads ? 4 : 1))
        state.SkipWithError("the grid does not count every contact");
    state.counters["held"] = grid.model->rowsHeld();
}

void BM_GridJumpToLast(benchmark::State& state)
{
    useContacts(int(state.range(0)));
    frmContactGrid grid;
    grid.show();
    for (auto _ : state) {
        state.PauseTiming();
        grid.PopGrid();
        readShown(grid);
        state.ResumeTiming();
        grid.grdDataGrid->setCurrentIndex(grid.model->index(grid.model->rowCount() - 1, 1));
        grid.grdDataGrid->scrollTo(grid.grdDataGrid->currentIndex());
        benchmark::DoNotOptimize(readShown(grid));
    }
    state.counters["held"] = grid.model->rowsHeld();
}

// The columns the grid reads for a row: its key (name and id) and every column it shows.
QString rawSelect()
{
    return QStringLiteral("SELECT id, lastname, firstname, address, %1 FROM contacts ").arg(GridColumns().join(u','));
}

// What the first screen needs: the letters' kept counts summed, and a page of A by name; with a
// type (1), of that type alone.
void BM_GridShownRawQueries(benchmark::State& state)
{
    useContacts(int(state.range(0)));
    const bool leads = state.range(1) == 1;
    for (auto _ : state) {
        Connection c(sConnContacts);
        Statement counts(c, QStringLiteral("SELECT initial, nullname, sum(n) FROM contact_initials WHERE n <> 0%1 "
                                           "GROUP BY 1, 2 HAVING sum(n) <> 0")
                                .arg(leads ? QStringLiteral(" AND typenull = 0 AND contype = 'Lead'") : QString()),
                         Statement::Dialect::Native);
        qint64 total = 0;
        while (counts.step())
            total += counts.integer(2);
        Statement page(c, rawSelect() + QStringLiteral("WHERE upper(substr(lastname,1,1)) IN ('A')%1 "
                                                       "ORDER BY lastname, firstname, address, id LIMIT 200")
                              .arg(leads ? QStringLiteral(" AND contype = 'Lead'") : QString()),
                       Statement::Dialect::Native);
        while (page.step())
            for (int i = 0; i < page.columnCount(); ++i)
                total += page.text(i).size();
        benchmark::DoNotOptimize(total);
    }
}

// What the first screen cost before the file kept its counts: every row counted by initial.
void BM_GridCountedRawQuery(benchmark::State& state)
{
    useContacts(int(state.range(0)));
    const bool leads = state.range(1) == 1;
    for (auto _ : state) {
        Connection c(sConnContacts);
        Statement counts(c, QStringLiteral("SELECT upper(substr(lastname,1,1)), count(*) FROM contacts%1 GROUP BY 1")
                                .arg(leads ? QStringLiteral(" WHERE contype = 'Lead'") : QString()),
                         Statement::Dialect::Native);
        qint64 total = 0;
        while (counts.step())
            total += counts.integer(1);
        benchmark::DoNotOptimize(total);
    }
}

// What the jump needs: the last letter's last page, read backwards.
void BM_GridJumpToLastRawQuery(benchmark::State& state)
{
    useContacts(int(state.range(0)));
    for (auto _ : state) {
        Connection c(sConnContacts);
        Statement page(c, rawSelect() + QStringLiteral("WHERE upper(substr(lastname,1,1)) IN ('Z') ORDER BY "
                                                                          "lastname DESC, firstname DESC, address DESC, id DESC LIMIT 200"),
                       Statement::Dialect::Native);
        qint64 total = 0;
        while (page.step())
            for (int i = 0; i < page.columnCount(); ++i)
                total += page.text(i).size();
        benchmark::DoNotOptimize(total);
    }
}

// Every contact, then the leads alone, at each size.
void sizesAndTypes(benchmark::internal::Benchmark* b)
{
    for (const int leads : {0, 1})
        for (const int count : {10000, 100000, 1000000})
            b->Args({count, leads});
}
BENCHMARK(BM_GridShown)->Apply(sizesAndTypes)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_GridShownRawQueries)->Apply(sizesAndTypes)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_GridCountedRawQuery)->Apply(sizesAndTypes)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_GridJumpToLast)->Arg(10000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_GridJumpToLastRawQuery)->Arg(10000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace
