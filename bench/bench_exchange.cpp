// CSV import and export: loading a file into Main, importing Main into contacts, exporting contacts,
// and the peak memory of a large load.
#include "bench/generate.h"
#include "data/Database.h"
#include "data/Globals.h"
#include "data/modData.h"
#include "exchange/CsvText.h"
#include "exchange/frmLeadCSV.h"
#include "exchange/modImport.h"
#include "exchange/modTempDB.h"

#include <QApplication>
#include <QFile>

#include <benchmark/benchmark.h>

#include <sys/resource.h>

using namespace kestrel;

namespace {

const QStringList kHeader = {QStringLiteral("Last Name"), QStringLiteral("First Name"), QStringLiteral("Company"),
                             QStringLiteral("Address"),   QStringLiteral("City"),       QStringLiteral("State"),
                             QStringLiteral("Zip"),       QStringLiteral("Mobile"),     QStringLiteral("Home"),
                             QStringLiteral("Business"),  QStringLiteral("Ext"),        QStringLiteral("E-mail Address"),
                             QStringLiteral("Notes")};
const QStringList kTargets = {QStringLiteral("LastName"), QStringLiteral("FirstName"), QStringLiteral("Company"),
                              QStringLiteral("Address"),  QStringLiteral("City"),      QStringLiteral("ST"),
                              QStringLiteral("Zip"),      QStringLiteral("CellPh"),    QStringLiteral("HomePh"),
                              QStringLiteral("WorkPh"),   QStringLiteral("Ext"),       QStringLiteral("Email"),
                              QStringLiteral("DELETE")};

// A spreadsheet-style file: BOM, CRLF, quoted names with commas and apostrophes, accents.
QString writeCsv(const QString& folder, int rows)
{
    const QString path = folder + QStringLiteral("/leads.csv");
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return {};
    QByteArray out = "\xEF\xBB\xBF\"Last Name\",\"First Name\",Company,Address,City,State,Zip,Mobile,Home,Business,Ext,"
                     "E-mail Address,Notes\r\n";
    for (int i = 0; i < rows; ++i) {
        out += QStringLiteral("O'Brien %1,Renée,\"Acme, Inc. %2\",%3 Main St,Springfield,IL,62701,217-555-%4,"
                              "217-555-0100,217-555-0101,%5,ob%1@example.com,\"Met at the \"\"fair\"\"\"\r\n")
                   .arg(i)
                   .arg(i % 97)
                   .arg(i % 9000 + 100)
                   .arg(i % 10000, 4, 10, QLatin1Char('0'))
                   .arg(i % 1000)
                   .toUtf8();
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
    QStringList entries;
    for (int i = 0; i < kHeader.size(); ++i)
        entries << FormatMapLine(kHeader[i], kTargets[i]);
    return entries;
}

long peakRssMB()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss / 1024;
}

void BM_LoadCsvToTemp10k(benchmark::State& state)
{
    const QString dir = bench::freshProgramDir();
    const QString path = writeCsv(dir, 10000);
    const QStringList entries = mappingEntries();
    for (auto _ : state)
        if (!LoadCsvToTemp(path, entries))
            state.SkipWithError("load failed");
}
BENCHMARK(BM_LoadCsvToTemp10k)->Unit(benchmark::kMillisecond)->Iterations(5);

// The same load with a connection of its own per row, as ActionQuery runs statements.
void BM_LoadCsvOneConnectionPerRow10k(benchmark::State& state)
{
    const QString dir = bench::freshProgramDir();
    const QString path = writeCsv(dir, 10000);
    const QString list = BuildFieldList(mappingEntries());
    for (auto _ : state) {
        CreateTempDB();
        TextQuery rs(GetCsvFolder(path), QStringLiteral("select ") + list + QStringLiteral(" from leads.csv"));
        while (rs.next()) {
            QString sql = QStringLiteral("insert into Main(") + sTargetList + QStringLiteral(")values('");
            for (int c = 0; c < rs.fieldCount(); ++c)
                sql += Quoted(rs.text(c)) + QStringLiteral("','");
            sql.chop(2);
            ActionQuery(sql + u')', sConnTemp);
        }
    }
}
BENCHMARK(BM_LoadCsvOneConnectionPerRow10k)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_ImportTempRows10k(benchmark::State& state)
{
    const QString dir = bench::freshProgramDir();
    const QString path = writeCsv(dir, 10000);
    LoadCsvToTemp(path, mappingEntries());
    for (auto _ : state)
        if (!ImportTempRows(QStringLiteral("Lead")))
            state.SkipWithError("import failed");
}
BENCHMARK(BM_ImportTempRows10k)->Unit(benchmark::kMillisecond)->Iterations(3);

// One durable statement per row into contacts, for 1,000 rows.
void BM_ImportOneConnectionPerRow1k(benchmark::State& state)
{
    bench::freshProgramDir();
    ActionQuery(QStringLiteral("select 1"), sConnContacts);
    for (auto _ : state)
        for (int i = 0; i < 1000; ++i)
            ActionQuery(QStringLiteral("INSERT INTO contacts(lastname,firstname,company,address,city,st,zip,cellph,"
                                       "homeph,workph,ext,email,contype)values('O''Brien %1','Renée','Acme','1 Main',"
                                       "'Springfield','IL','62701','1','2','3','4','e@x.com','Lead')")
                            .arg(i),
                        sConnContacts);
}
BENCHMARK(BM_ImportOneConnectionPerRow1k)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_ExportAllColumns100k(benchmark::State& state)
{
    const QString dir = bench::freshProgramDir();
    bench::generateContacts(100000);
    QStringList all;
    for (const char* tag : frmLeadCSV::kTags)
        all << QString::fromLatin1(tag);
    QString error;
    for (auto _ : state)
        if (!WriteLeadCsv(dir + QStringLiteral("/out.csv"), all, &error))
            state.SkipWithError(qPrintable(error));
}
BENCHMARK(BM_ExportAllColumns100k)->Unit(benchmark::kMillisecond)->Iterations(5);

// Run it alone (--benchmark_filter=Peak) for the peak of the load itself.
void BM_LoadCsvToTemp100kPeakMemory(benchmark::State& state)
{
    const QString dir = bench::freshProgramDir();
    const QString path = writeCsv(dir, 100000);
    const long before = peakRssMB();
    for (auto _ : state)
        if (!LoadCsvToTemp(path, mappingEntries()))
            state.SkipWithError("load failed");
    state.counters["peak_rss_MB"] = double(peakRssMB());
    state.counters["rss_before_MB"] = double(before);
}
BENCHMARK(BM_LoadCsvToTemp100kPeakMemory)->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace
