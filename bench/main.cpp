// Shared entry point of the benchmark programs: widgets without a screen, then Google Benchmark.
#include "ui/Ui.h"
#include "data/Database.h"

#include <QApplication>

#include <benchmark/benchmark.h>

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    kestrel::installFontSubstitutes();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    kestrel::releaseAllDatabaseFiles();
    return 0;
}
