// One of the concurrent writers of bench_office, a copy of the data layer in a process of its own:
//   kestrel_office_writer <conninfo> <writer> <count>
// connects, prints "ready", waits for a line on standard input (so that every writer starts at
// once), then inserts the to-do items "writer <writer> row <i>" for i below count, one ActionQuery
// each, and prints "longest_ms <ms> failed <n>". Exits 1 when any insert failed.
#include "data/Office.h"
#include "data/modData.h"
#include "platform/HeadlessPlatform.h"
#include "ui/Report.h"

#include <QCoreApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>

using namespace kestrel;

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 4)
        return 2;
    HeadlessPlatform desk;
    setPlatform(&desk);
    const QString server = serverConnectionText(QString::fromLocal8Bit(argv[1]));
    const int writer = std::atoi(argv[2]);
    const int count = std::atoi(argv[3]);
    // The connection is made (and the schema checked) before the start, as a running program has.
    if (!ActionQuery(QStringLiteral("select 1"), server))
        return 1;
    std::printf("ready\n");
    std::fflush(stdout);
    char line[16];
    if (!std::fgets(line, sizeof line, stdin))
        return 1;

    using Clock = std::chrono::steady_clock;
    double longest = 0;
    int failed = 0;
    for (int i = 0; i < count; ++i) {
        const auto start = Clock::now();
        if (!ActionQuery(QStringLiteral("Insert into todo (todo)values('writer %1 row %2')").arg(writer).arg(i), server))
            ++failed;
        longest = std::max(longest, std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::printf("longest_ms %.3f failed %d\n", longest, failed);
    return failed ? 1 : 0;
}
