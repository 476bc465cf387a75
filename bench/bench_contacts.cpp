// Contacts: filling the tree, showing one contact, filling the grid.
#include "bench/FindTyping.h"
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
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLineEdit>
#include <QListWidget>
#include <QTreeWidget>

#include <benchmark/benchmark.h>

#include <cstdio>
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
// number, phone digits, a text no contact holds, and one or two letters few hold ("q": the Quinns,
// late in name order; "qz": none).
const char* const kTyped[] = {"s", "kowal", "acme 42", "555 01", "zzq", "q", "qz"};

// One folder per size, made once and searched by every text: a million contacts take a while to
// write and to index.
void contactsWithIndex(int count)
{
    static int made = 0;
    if (made == count)
        return;
    bench::freshProgramDir();
    bench::generateContacts(count);
    QElapsedTimer built;
    built.start();
    prepareSearchIndex(sConnContacts);
    // Once per size, beside the benchmarks' table: what a file without an index costs once.
    std::fprintf(stderr, "Find's index built for %d contacts in %lld ms\n", count, built.elapsed());
    made = count;
}

void BM_FindKeystroke(benchmark::State& state)
{
    contactsWithIndex(int(state.range(0)));
    frmFind find;
    bench::timeFindTyping(state, find, kTyped[state.range(1)]);
    if (find.lstFound->count() == 0)
        state.SkipWithError("Find listed nothing");
}

// The queries a keystroke needs, run raw on the same folder: the first 20,000 folded words in
// name order; where they hold less than a screenful and one more, the contacts holding the
// text's three-letter pieces (every other piece, at most six), sorted by name; for one or two
// letters, those holding a piece that begins with them or whose words end in them.
void BM_FindRawQuery(benchmark::State& state)
{
    contactsWithIndex(int(state.range(0)));
    const QStringList needles = searchNeedles(QString::fromUtf8(kTyped[state.range(1)]));
    state.SetLabel(kTyped[state.range(1)]);
    QString where, pieces;
    for (int i = 0; i < needles.size(); ++i) {
        where += QStringLiteral("%1instr(words, ?%2) > 0").arg(i ? QStringLiteral(" AND ") : QString()).arg(i + 2);
        const QList<uint> chars = needles[i].toUcs4();
        for (qsizetype at = 0; chars.size() >= 3 && at + 3 <= chars.size(); at += 3)
            pieces += (pieces.isEmpty() ? QString() : QStringLiteral(" AND ")) + u'"' +
                      QString::fromUcs4(reinterpret_cast<const char32_t*>(chars.constData() + at), 3) + u'"';
    }
    const QString limit = QString::number(frmFind::kMaxListed + 1);
    const QString first = QStringLiteral("SELECT id FROM (SELECT id, words FROM contact_find4 ORDER BY sortkey LIMIT 20000) "
                                         "WHERE ?1 IS NULL AND %1 LIMIT %2").arg(where, limit);
    const QString looked = QStringLiteral("SELECT id FROM contact_find4 WHERE id IN (SELECT rowid FROM contact_find4_tri "
                                          "WHERE contact_find4_tri MATCH ?1) AND %1 ORDER BY sortkey LIMIT %2").arg(where, limit);
    const QString needle = needles.value(0);
    const QString highest = needle + QString::fromUcs4(U"\U0010FFFF", 1);
    const QString shortLooked =
        QStringLiteral("SELECT id FROM contact_find4 WHERE id IN (SELECT rowid FROM contact_find4_tri WHERE contact_find4_tri "
                       "MATCH ?1 UNION SELECT id FROM contact_find4 WHERE %1) AND %2 ORDER BY sortkey LIMIT %3")
            .arg(needle.size() == 2 ? QStringLiteral("substr(words, -2) = '%1'").arg(needle)
                                    : QStringLiteral("substr(words, -1) = '%1' UNION SELECT id FROM contact_find4 WHERE "
                                                     "substr(words, -2) >= '%1' AND substr(words, -2) <= '%2'")
                                          .arg(needle, highest),
                 where, limit);
    Connection c(sConnContacts);
    if (pieces.isEmpty()) {
        c.execute(QStringLiteral("CREATE VIRTUAL TABLE IF NOT EXISTS temp.contact_find4_pieces USING fts5vocab(main, contact_find4_tri, row)"));
    }
    // The pieces that begin with one or two letters, as the search looks them up.
    const auto shortPieces = [&] {
        Statement st(c, QStringLiteral("SELECT term FROM temp.contact_find4_pieces WHERE term >= ?1 AND term <= ?2"),
                     Statement::Dialect::Native);
        st.bind(1, needle);
        st.bind(2, highest);
        QStringList terms;
        while (st.step())
            terms << u'"' + st.text(0) + u'"';
        return terms.isEmpty() ? QStringLiteral("\"\"") : terms.join(QStringLiteral(" OR "));
    };
    const auto run = [&](const QString& sql, bool withPieces) {
        Statement st(c, sql, Statement::Dialect::Native);
        if (withPieces)
            st.bind(1, pieces);
        else
            st.bindNull(1);
        for (int i = 0; i < needles.size(); ++i)
            st.bind(i + 2, needles[i]);
        int n = 0;
        while (st.step())
            ++n;
        return n;
    };
    for (auto _ : state) {
        int n = run(first, false);
        if (n <= frmFind::kMaxListed && !pieces.isEmpty()) {
            n = run(looked, true);
        } else if (n <= frmFind::kMaxListed) {
            pieces = shortPieces();
            n = run(shortLooked, true);
        }
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
            c.execute(QStringLiteral("DROP TABLE IF EXISTS contact_find4"));
        }
        prepareSearchIndex(sConnContacts);
    }
}
BENCHMARK(BM_BuildSearchIndex)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(2);

} // namespace
