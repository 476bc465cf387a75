// Backups of a 100,000-contact file: one copy with its integrity check (must stay under 1 s), a
// restore, and the start's copy beside the shown main window, whose event loop must keep turning.
#include "app/frmKestrel.h"
#include "bench/generate.h"
#include "data/Backup.h"
#include "data/Database.h"
#include "data/Globals.h"
#include "dialogs/modBackup.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTimer>

#include <benchmark/benchmark.h>

using namespace kestrel;

namespace {
constexpr int kContacts = 100000;

void fill()
{
    bench::freshProgramDir();
    bench::generateContacts(kContacts);
    bench::generateAppointments(20000, QDate::currentDate().addYears(-1), 730);
    bench::generateTodos(50);
}

double megabytes(const QString& path) { return double(QFileInfo(path).size()) / (1024.0 * 1024.0); }
} // namespace

static void BM_Backup100kContacts(benchmark::State& state)
{
    fill();
    const QString root = programBackupRoot();
    QDateTime now(QDate(2027, 3, 7), QTime(9, 0));
    for (auto _ : state) {
        const BackupOutcome o = makeBackup({backedUpFiles(), root, now, false});
        if (o.status != BackupStatus::Made)
            state.SkipWithError(o.detail.toUtf8().constData());
        state.PauseTiming();
        QDir(o.copy.folder).removeRecursively();
        now = now.addSecs(1);
        state.ResumeTiming();
    }
    state.counters["contacts_mb"] = megabytes(dataSourcePath(sConnContacts));
}
BENCHMARK(BM_Backup100kContacts)->Unit(benchmark::kMillisecond)->Iterations(10);

static void BM_Restore100kContacts(benchmark::State& state)
{
    fill();
    const BackupOutcome o = makeBackup({backedUpFiles(), programBackupRoot(), QDateTime(QDate(2027, 3, 7), QTime(9, 0)), false});
    if (o.status != BackupStatus::Made) {
        state.SkipWithError(o.detail.toUtf8().constData());
        return;
    }
    for (auto _ : state)
        restoreBackup(o.copy, backedUpFiles());
}
BENCHMARK(BM_Restore100kContacts)->Unit(benchmark::kMillisecond)->Iterations(10);

// The start's copy made while the main window is shown: the time reported is the copy's; what
// the window waits is the call that starts it and the longest pause of its event loop meanwhile
// (a timer asks for a turn every millisecond).
static void BM_StartupBackupBesideTheWindow(benchmark::State& state)
{
    fill();
    frmKestrel w;
    w.show();
    w.Form_Load();
    QCoreApplication::processEvents();
    const QString root = programBackupRoot();
    double startCall = 0, longestPause = 0;
    for (auto _ : state) {
        QDir(root).removeRecursively();
        QElapsedTimer total, sinceTurn;
        double pause = 0;
        QTimer tick;
        tick.setInterval(1);
        QObject::connect(&tick, &QTimer::timeout, [&] {
            pause = std::max(pause, double(sinceTurn.nsecsElapsed()) / 1e6);
            sinceTurn.restart();
        });
        tick.start();
        total.start();
        sinceTurn.start();
        BackupJob* job = StartDailyBackup(&w, {});
        startCall = std::max(startCall, double(total.nsecsElapsed()) / 1e6);
        while (!job->isDone())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        state.SetIterationTime(double(total.nsecsElapsed()) / 1e9);
        if (job->outcome().status != BackupStatus::Made)
            state.SkipWithError("no copy was made");
        longestPause = std::max(longestPause, pause);
        delete job;
    }
    state.counters["start_call_ms"] = startCall;
    state.counters["window_longest_pause_ms"] = longestPause;
}
BENCHMARK(BM_StartupBackupBesideTheWindow)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
