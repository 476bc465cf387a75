// The contacts' history: the panel's latest entries of one contact among a million entries, and
// the grid's fill with its "Last contact" column, with and without a history behind it.
#include "bench/generate.h"
#include "contacts/LeadPanel.h"
#include "contacts/frmContactGrid.h"
#include "contacts/modTree.h"
#include "data/Database.h"
#include "data/Globals.h"
#include "data/History.h"
#include "data/Statement.h"

#include <QGroupBox>
#include <QLineEdit>
#include <QListWidget>

#include <benchmark/benchmark.h>

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
