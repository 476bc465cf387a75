// The contact tree at 10,000, 100,000 and 1,000,000 contacts: the letters counted and one letter
// opened, beside the two queries that needs, run raw in the same run.
#include "bench/generate.h"
#include "contacts/LeadPanel.h"
#include "contacts/modTree.h"
#include "data/Database.h"
#include "data/Globals.h"
#include "data/Statement.h"

#include <QGroupBox>
#include <QTreeWidget>

#include <benchmark/benchmark.h>

#include <map>
#include <memory>

using namespace kestrel;

namespace {

// One generated folder per size, shared by the benchmarks of that size (a million rows take a
// while to write).
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

QTreeWidgetItem* letterS(QTreeWidget* tv) { return tv->findItems(QStringLiteral("S"), Qt::MatchExactly).value(0); }

void BM_TreeShown(benchmark::State& state)
{
    useContacts(int(state.range(0)));
    QWidget window;
    auto* frame = new QGroupBox(&window);
    frame->setGeometry(0, 0, 729, 441);
    auto* panel = new LeadPanel(frame, &window);
    panel->PopDisplay();
    window.show();
    for (auto _ : state) {
        PopTree(QString());
        letterS(panel->tvLead)->setExpanded(true);
    }
    if (panel->tvLead->topLevelItemCount() != 26 || letterS(panel->tvLead)->childCount() == 0)
        state.SkipWithError("the letters or the contacts under S are missing");
    state.counters["S shown"] = letterS(panel->tvLead)->childCount();
}

// What the tree needs from the engine: which first characters there are (the index searched
// from each to the next), whether names are missing, whether the list is small, and the first
// page of S in name order.
void BM_TreeShownRawQueries(benchmark::State& state)
{
    useContacts(int(state.range(0)));
    for (auto _ : state) {
        Connection c(sConnContacts);
        Statement initials(c, QStringLiteral("WITH RECURSIVE k(v) AS (SELECT (SELECT min(upper(substr(lastname,1,1))) FROM contacts "
                                             "WHERE upper(substr(lastname,1,1)) IS NOT NULL) UNION ALL SELECT (SELECT "
                                             "min(upper(substr(lastname,1,1))) FROM contacts WHERE upper(substr(lastname,1,1)) > k.v) "
                                             "FROM k WHERE v IS NOT NULL) SELECT v FROM k WHERE v IS NOT NULL"),
                           Statement::Dialect::Native);
        qint64 total = 0;
        while (initials.step())
            total += initials.text(0).size();
        Statement missing(c, QStringLiteral("SELECT 1 FROM contacts WHERE lastname IS NULL LIMIT 1"), Statement::Dialect::Native);
        total += missing.step();
        Statement small(c, QStringLiteral("SELECT count(*) FROM (SELECT 1 FROM contacts LIMIT 2001) AS t"), Statement::Dialect::Native);
        total += small.step() ? small.integer(0) : 0;
        Statement page(c, QStringLiteral("SELECT id, lastname, firstname, address FROM contacts WHERE upper(substr(lastname,1,1)) "
                                         "IN ('S') ORDER BY lastname, firstname, address, id LIMIT 2000"), Statement::Dialect::Native);
        while (page.step())
            for (int i = 0; i < 4; ++i)
                total += page.text(i).size();
        benchmark::DoNotOptimize(total);
    }
}

// The count of every first character, which the tree no longer needs (the grid does).
void BM_InitialCountsRawQuery(benchmark::State& state)
{
    useContacts(int(state.range(0)));
    for (auto _ : state) {
        Connection c(sConnContacts);
        Statement counts(c, QStringLiteral("SELECT upper(substr(lastname,1,1)), count(*) FROM contacts GROUP BY 1"),
                         Statement::Dialect::Native);
        qint64 total = 0;
        while (counts.step())
            total += counts.integer(1);
        benchmark::DoNotOptimize(total);
    }
}

BENCHMARK(BM_TreeShown)->Arg(10000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_TreeShownRawQueries)->Arg(10000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_InitialCountsRawQuery)->Arg(10000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace
