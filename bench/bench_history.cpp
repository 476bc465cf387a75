// The contacts' history: writing one entry as Log Activity does, against a synced 4 KiB write
// (ratio_to_synced_write, to be read beside BM_ActionQueryInsert's in bench_data); the panel's
// latest entries of one contact among a million entries; and the grid's fill with its "Last
// contact" column, with and without a history behind it.
#include "bench/generate.h"
#include "contacts/LeadPanel.h"
#include "contacts/frmContactGrid.h"
#include "contacts/modTree.h"
#include "data/Database.h"
#include "data/Globals.h"
#include "data/History.h"
#include "data/Statement.h"
#include "ui/Report.h"

#include <QGroupBox>
#include <QLineEdit>
#include <QListWidget>

#include <benchmark/benchmark.h>

#include <QDateTime>

#include <chrono>
#include <memory>

using namespace kestrel;

namespace {

// entries spread over the contacts, over about five years, with a subject and a short note each.
void generateHistory(int contacts, int entries)
{
    Connection c(sConnContacts);
    Transaction tx(c);
    Statement(c,
              QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i + 1 < %1) "
                             "INSERT INTO history(contact_id,kind,direction,histdate,histtime,subject,note,outcome,"
                             "author,created,changed) SELECT i % %2 + 1, 'Call', 'Out', date('2022-01-01', '+' || "
                             "(i * 7919 % 1800) || ' days'), '10:30:00', 'Call number ' || i, 'Asked about the price "
                             "list and a delivery date', 'Done', 'bench', '2022-01-01 10:30:00', '2022-01-01 10:30:00' "
                             "FROM n")
                  .arg(entries)
                  .arg(contacts),
              Statement::Dialect::Native)
        .run();
    tx.commit();
}

// The statement Log Activity saves an entry with, into a history of 100,000 entries over 10,000
// contacts, each followed by a synced 4 KiB write so both meet the same disk. The reported time
// is the statement's alone.
void BM_LogEntryWrite(benchmark::State& state)
{
    const QString folder = bench::freshProgramDir();
    bench::generateContacts(10000);
    generateHistory(10000, 100000);
    bench::SyncedBlock block(folder);
    HistoryEntry entry;
    entry.kind = QStringLiteral("Call");
    entry.direction = QStringLiteral("Out");
    entry.date = QDate(2027, 3, 14);
    entry.time = QTime(14, 30);
    entry.duration = 10;
    entry.outcome = QStringLiteral("Left message");
    entry.note = QStringLiteral("Asked about the price list.\nCall back on Monday.");
    const QDateTime now(QDate(2027, 3, 14), QTime(14, 40));
    using Clock = std::chrono::steady_clock;
    double statements = 0;
    double writes = 0;
    int i = 0;
    for (auto _ : state) {
        entry.contactId = i % 10000 + 1;
        entry.subject = QStringLiteral("Price list %1").arg(++i);
        const auto start = Clock::now();
        if (ActionQueryCount(HistoryInsertStatement(entry, QStringLiteral("bench"), now), sConnContacts) != 1)
            state.SkipWithError("the entry was not written");
        const auto between = Clock::now();
        block.write();
        const auto end = Clock::now();
        const double statement = std::chrono::duration<double>(between - start).count();
        statements += statement;
        writes += std::chrono::duration<double>(end - between).count();
        state.SetIterationTime(statement);
    }
    state.counters["synced_write_ms"] = 1000 * writes / double(state.iterations());
    state.counters["ratio_to_synced_write"] = statements / writes;
}
BENCHMARK(BM_LogEntryWrite)->UseManualTime()->Unit(benchmark::kMillisecond)->Repetitions(3)->ReportAggregatesOnly(true);

void BM_PanelLatestHistory(benchmark::State& state)
{
    bench::freshProgramDir();
    bench::generateContacts(100000);
    generateHistory(100000, int(state.range(0)));
    auto window = std::make_unique<QWidget>();
    auto* frame = new QGroupBox(window.get());
    LeadPanel* panel = new LeadPanel(frame, window.get());
    int id = 1;
    for (auto _ : state) {
        panel->txtLead[0]->setText(QString::number(id));
        PopLeadHistory();
        id = id * 48271 % 100000 + 1;
    }
    if (panel->lstHistory->count() != kPanelEntries)
        state.SkipWithError("the panel did not show five entries");
}
BENCHMARK(BM_PanelLatestHistory)->Arg(1000000)->Unit(benchmark::kMillisecond)->Iterations(200);

void BM_PopGridLastContact(benchmark::State& state)
{
    bench::freshProgramDir();
    bench::generateContacts(10000);
    generateHistory(10000, int(state.range(0)));
    frmContactGrid grid;
    for (auto _ : state)
        grid.PopGrid();
    if (grid.model->rowCount() != 10000)
        state.SkipWithError("the grid did not show every contact");
}
BENCHMARK(BM_PopGridLastContact)->Arg(0)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(10);

} // namespace
