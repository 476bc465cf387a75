#pragma once
// The Find benchmarks of a file and of the office server time the same keystroke.
#include "contacts/frmFind.h"

#include <QLineEdit>
#include <QString>

#include <benchmark/benchmark.h>

namespace kestrel::bench {

// Each iteration puts the whole text into Find at once, as a paste does, and its list fills;
// clearing it again is not timed. The text is left in, for the caller to check what is listed.
inline void timeFindTyping(benchmark::State& state, frmFind& find, const char* typed)
{
    const QString text = QString::fromUtf8(typed);
    state.SetLabel(typed);
    for (auto _ : state) {
        find.txtFind->setText(text);
        state.PauseTiming();
        find.txtFind->clear();
        state.ResumeTiming();
    }
    find.txtFind->setText(text);
}

} // namespace kestrel::bench
