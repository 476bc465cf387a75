// The trash: the tree's fill beside many deleted contacts (the lists must not slow down), one
// contact deleted and taken back, and a whole import of 3,000 contacts moved to the trash and back.
#include "bench/generate.h"
#include "contacts/LeadPanel.h"
#include "contacts/modTree.h"
#include "data/Database.h"
#include "data/Globals.h"
#include "data/ImportLog.h"
#include "data/Trash.h"

#include <QGroupBox>
#include <QTreeWidget>

#include <benchmark/benchmark.h>

#include <limits>

#include <memory>

using namespace kestrel;

namespace {

int treeContacts(QTreeWidget* tv)
{
    int n = 0;
    for (int i = 0; i < tv->topLevelItemCount(); ++i)
        n += tv->topLevelItem(i)->childCount();
    return n;
}

// 100,000 contacts in the tree; range(0) more were deleted into the trash beforehand.
void BM_PopTreeBesideTrash(benchmark::State& state)
{
    const int shown = 100000, trashed = int(state.range(0));
    bench::freshProgramDir();
    bench::generateContacts(shown + trashed);
    if (trashed > 0) {
        // Every tenth contact and the rest from the top, as deletes over weeks would leave them.
        KeyRanges ranges;
        for (int id = 10; id <= shown + trashed && int(ranges.size()) < trashed; id += 10)
            ranges.emplace_back(id, id);
        moveToTrash(sConnContacts, TrashTable::Contacts, ranges, QStringLiteral("bench"));
    }
    auto window = std::make_unique<QWidget>();
    auto* frame = new QGroupBox(window.get());
    frame->setGeometry(0, 0, 729, 441);
    auto* panel = new LeadPanel(frame, window.get());
    panel->PopDisplay();
    window->show();
    // Every letter read whole, so that the count below sees every contact the tree files.
    setTreePaging(2000, std::numeric_limits<int>::max());
    for (auto _ : state)
        PopTree(QString());
    if (treeContacts(panel->tvLead) != shown)
        state.SkipWithError("the tree does not show exactly the contacts not deleted");
}
BENCHMARK(BM_PopTreeBesideTrash)->Arg(0)->Arg(10000)->Unit(benchmark::kMillisecond)->Iterations(5);

// One delete and its undo, each one durable transaction, in a file of 100,000 contacts.
void BM_DeleteAndRestoreOne(benchmark::State& state)
{
    bench::freshProgramDir();
    bench::generateContacts(100000);
    qint64 id = 1;
    for (auto _ : state) {
        const QString batch = moveToTrash(sConnContacts, TrashTable::Contacts, {{id, id}}, QStringLiteral("bench"));
        if (batch.isEmpty() || restoreFromTrash(sConnContacts, batch) != 1) {
            state.SkipWithError("the contact did not come back");
            break;
        }
        id += 997;
    }
}
BENCHMARK(BM_DeleteAndRestoreOne)->Unit(benchmark::kMillisecond)->Iterations(50);

// Ctrl+Z after an import of 3,000 contacts (into a file of 100,000), and Restore of the batch.
void BM_UndoImportAndRestore(benchmark::State& state)
{
    bench::freshProgramDir();
    bench::generateContacts(100000);
    {
        Connection c(sConnContacts);
        prepareImportLog(c);
        c.execute(QStringLiteral("update contacts set import_id=7 where id > 97000"));
    }
    for (auto _ : state) {
        int moved = 0;
        const QString batch = moveImportToTrash(sConnContacts, 7, QStringLiteral("bench"), &moved);
        if (moved != 3000 || restoreFromTrash(sConnContacts, batch) != 3000) {
            state.SkipWithError("the import did not go and come back whole");
            break;
        }
    }
}
BENCHMARK(BM_UndoImportAndRestore)->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace
