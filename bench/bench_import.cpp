// The whole CSV import as the assistant runs it, at 10,000, 100,000 and 1,000,000 rows against
// 1,000 stored contacts: the load (read, fit, mark duplicates, into the scratch file), the
// preview's first screen, and the import into contacts. The target: a million rows through all
// three in under a minute. Each phase is a counter in seconds; the time is the three together.
#include "bench/generate.h"
#include "data/Database.h"
#include "data/Globals.h"
#include "exchange/modImport.h"
#include "exchange/modTempDB.h"
#include "exchange/PreviewModel.h"

#include <QElapsedTimer>
#include <QFile>

#include <benchmark/benchmark.h>

#include <sys/resource.h>

using namespace kestrel;

namespace {

// A spreadsheet-style file: BOM, CRLF, quoted names with commas and apostrophes, accents; every
// hundredth row is one of the stored contacts again, so the duplicate marks have work to do.
QString writeCsv(const QString& folder, int rows, const std::vector<QStringList>& stored)
{
    const QString path = folder + QStringLiteral("/leads.csv");
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return {};
    QByteArray out = "\xEF\xBB\xBF\"Last Name\",\"First Name\",Company,Address,City,State,Zip,Mobile,Home,Business,Ext,"
                     "E-mail Address,Notes\r\n";
    for (int i = 0; i < rows; ++i) {
        if (i % 100 == 7 && !stored.empty()) {
            const QStringList& s = stored[size_t(i / 100) % stored.size()];
            out += QStringLiteral("\"%1\",\"%2\",\"%3\",,,,,,,,,%4,\r\n").arg(s[0], s[1], s[2], s[11]).toUtf8();
            continue;
        }
        out += bench::sampleCsvRow(i);
        if (out.size() > (1 << 20)) {
            f.write(out);
            out.clear();
        }
    }
    f.write(out);
    return path;
}

QStringList mappingEntries()
{
    const char* const pairs[][2] = {{"Last Name", "LastName"}, {"First Name", "FirstName"}, {"Company", "Company"},
                                    {"Address", "Address"},     {"City", "City"},           {"State", "ST"},
                                    {"Zip", "Zip"},             {"Mobile", "CellPh"},       {"Home", "HomePh"},
                                    {"Business", "WorkPh"},     {"Ext", "Ext"},             {"E-mail Address", "Email"},
                                    {"Notes", "DELETE"}};
    QStringList entries;
    for (const auto& p : pairs)
        entries << FormatMapLine(QString::fromLatin1(p[0]), QString::fromLatin1(p[1]));
    return entries;
}

long peakRssMB()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss / 1024;
}

void BM_CsvImportWhole(benchmark::State& state)
{
    const int rows = int(state.range(0));
    const QString dir = bench::freshProgramDir();
    bench::generateContacts(1000);
    const QString path = writeCsv(dir, rows, bench::contactRows(1000));
    const QStringList entries = mappingEntries();
    double load = 0, preview = 0, import = 0;
    qint64 imported = 0, skipped = 0;
    for (auto _ : state) {
        QElapsedTimer clock;
        clock.start();
        ImportSummary sum;
        if (!LoadCsvToTemp(path, entries, &sum, [](qint64, qint64) { return true; })) {
            state.SkipWithError("load failed");
            break;
        }
        load += clock.nsecsElapsed() / 1e9;
        clock.restart();
        PreviewModel model;
        model.open();
        for (int r = 0; r < 40; ++r)
            for (int c = 0; c < model.columnCount(); ++c)
                benchmark::DoNotOptimize(model.data(model.index(r, c), Qt::DisplayRole));
        const int shown = model.rowCount();
        preview += clock.nsecsElapsed() / 1e9;
        clock.restart();
        if (!ImportTempRows(QStringLiteral("Lead"), true, &sum, [](qint64, qint64) { return true; }, shown)) {
            state.SkipWithError("import failed");
            break;
        }
        import += clock.nsecsElapsed() / 1e9;
        imported = sum.imported;
        skipped = sum.duplicatesSkipped;
        state.PauseTiming();
        model.close();
        Connection(sConnContacts).execute(QStringLiteral("delete from contacts where id > 1000"));
        state.ResumeTiming();
    }
    releaseScratch(nullptr);
    const double n = double(state.iterations());
    state.counters["load_s"] = load / n;
    state.counters["preview_s"] = preview / n;
    state.counters["import_s"] = import / n;
    state.counters["imported"] = double(imported);
    state.counters["skipped"] = double(skipped);
    state.counters["peak_rss_MB"] = double(peakRssMB());
}
BENCHMARK(BM_CsvImportWhole)->Arg(10000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kSecond)->Iterations(1);

} // namespace
