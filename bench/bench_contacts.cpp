// Contacts: filling the tree, showing one contact, filling the grid.
#include "bench/generate.h"
#include "contacts/LeadPanel.h"
#include "contacts/frmContactGrid.h"
#include "contacts/frmFind.h"
#include "contacts/modTree.h"
#include "data/Database.h"
#include "data/Globals.h"
#include "data/modData.h"
#include "data/SearchIndex.h"
#include "data/Statement.h"

#include <QApplication>
#include <QGroupBox>
#include <QLineEdit>
#include <QListWidget>
#include <QTreeWidget>

#include <benchmark/benchmark.h>

#include <memory>

using namespace kestrel;

namespace {

struct Panel {
    Panel()
    {
        window = std::make_unique<QWidget>();
        auto* frame = new QGroupBox(window.get());
        frame->setGeometry(0, 0, 729, 441);
        panel = new LeadPanel(frame, window.get());
        panel->PopDisplay();
        window->show();
    }
    std::unique_ptr<QWidget> window;
    LeadPanel* panel = nullptr;
};

void BM_ShowLead(benchmark::State& state)
{
    bench::freshProgramDir();
    bench::generateContacts(10000);
    Panel p;
    int id = 1;
    for (auto _ : state) {
        lLeadID = id;
        ShowLead();
        id = id % 10000 + 1;
    }
}
BENCHMARK(BM_ShowLead)->Unit(benchmark::kMillisecond);

void BM_PopGrid(benchmark::State& state)
{
    bench::freshProgramDir();
    bench::generateContacts(10000);
    frmContactGrid grid;
    for (auto _ : state)
        grid.PopGrid();
    if (grid.model->rowCount() != 10000)
        state.SkipWithError("the grid did not show every contact");
}
BENCHMARK(BM_PopGrid)->Unit(benchmark::kMillisecond)->Iterations(10);

// One keystroke in Find: the search and the refill of its list. The texts are what a person
// types on the way to a contact: one letter (thousands match), a rare name, a company with its
// number, phone digits, and a text no contact holds (every row is looked at).
const char* const kTyped[] = {"s", "kowal", "acme 42", "555 01", "zzq"};

// One folder per size, made once and searched by every text: a million contacts take a while to
// write and to index.
void contactsWithIndex(int count)
{
    static int made = 0;
    if (made == count)
        return;
    bench::freshProgramDir();
    bench::generateContacts(count);
    prepareSearchIndex(sConnContacts);
    made = count;
}

void BM_FindKeystroke(benchmark::State& state)
{
    contactsWithIndex(int(state.range(0)));
    frmFind find;
    const QString typed = QString::fromUtf8(kTyped[state.range(1)]);
    state.SetLabel(kTyped[state.range(1)]);
    for (auto _ : state) {
        find.txtFind->setText(typed);
        state.PauseTiming();
        find.txtFind->clear();
        state.ResumeTiming();
    }
    find.txtFind->setText(typed);
    if (find.lstFound->count() == 0)
        state.SkipWithError("Find listed nothing");
}

// The query a keystroke needs, run raw on the same folder: the folded words walked in name order
// until a screenful and one more are found.
void BM_FindRawQuery(benchmark::State& state)
{
    contactsWithIndex(int(state.range(0)));
    const QStringList needles = searchNeedles(QString::fromUtf8(kTyped[state.range(1)]));
    state.SetLabel(kTyped[state.range(1)]);
    QString sql = QStringLiteral("SELECT id FROM contact_find3 WHERE ");
    for (int i = 0; i < needles.size(); ++i)
        sql += QStringLiteral("%1instr(words, ?%2) > 0").arg(i ? QStringLiteral(" AND ") : QString()).arg(i + 1);
    sql += QStringLiteral(" ORDER BY sortkey LIMIT %1").arg(frmFind::kMaxListed + 1);
    Connection c(sConnContacts);
    for (auto _ : state) {
        Statement st(c, sql, Statement::Dialect::Native);
        for (int i = 0; i < needles.size(); ++i)
            st.bind(i + 1, needles[i]);
        int n = 0;
        while (st.step())
            ++n;
        benchmark::DoNotOptimize(n);
    }
}
// Each size once, the window's keystroke and the raw query side by side.
const bool kFindRegistered = [] {
    for (const int count : {10000, 100000, 1000000})
        for (int text = 0; text < int(std::size(kTyped)); ++text) {
            benchmark::RegisterBenchmark("BM_FindKeystroke", BM_FindKeystroke)->Args({count, text})->Unit(benchmark::kMillisecond);
            benchmark::RegisterBenchmark("BM_FindRawQuery", BM_FindRawQuery)->Args({count, text})->Unit(benchmark::kMillisecond);
        }
    return true;
}();

// Building the index for a file that has none (once, when such a file is first opened).
void BM_BuildSearchIndex(benchmark::State& state)
{
    bench::freshProgramDir();
    bench::generateContacts(int(state.range(0)));
    for (auto _ : state) {
        {
            Connection c(sConnContacts);
            c.execute(QStringLiteral("DROP TABLE IF EXISTS contact_find3"));
        }
        prepareSearchIndex(sConnContacts);
    }
}
BENCHMARK(BM_BuildSearchIndex)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(2);

} // namespace
