// Find Duplicates: the pairs among 100,000 stored contacts (read from the file, as the window
// does) and among 1,000,000 in memory, with about 2% of the people entered twice in another
// shape and some offices sharing one mailbox.
#include "bench/generate.h"
#include "data/ContactMatch.h"
#include "data/ContactMerge.h"
#include "data/Globals.h"

#include <benchmark/benchmark.h>

#include <random>

using namespace kestrel;

namespace {

const char* const kSyllables[] = {"ka", "lo", "mi", "ren", "du", "pré", "san", "tor", "vel", "bri", "ash", "mon",
                                   "zé", "qui", "nor", "el", "fa", "gun", "hol", "jas", "ri", "sø", "tam", "wey"};

QString word(std::mt19937& rng, int syllables)
{
    QString w;
    for (int i = 0; i < syllables; ++i)
        w += QString::fromUtf8(kSyllables[rng() % std::size(kSyllables)]);
    w[0] = w[0].toUpper();
    return w;
}

QString phone(std::mt19937& rng) { return QStringLiteral("+1 (%1) 555-%2").arg(200 + rng() % 700).arg(rng() % 10000, 4, 10, QLatin1Char('0')); }

// count people; every fiftieth entered a second time from a phone (swapped name, no accents,
// only the cell number), every hundredth working where the whole office shares one mailbox.
std::vector<ContactRecord> people(int count)
{
    std::mt19937 rng(29);
    std::vector<ContactRecord> out;
    out.reserve(size_t(count));
    while (int(out.size()) < count) {
        ContactRecord c;
        c.firstname = word(rng, 2);
        c.lastname = word(rng, 3);
        c.company = word(rng, 2) + QStringLiteral(" Ltd");
        c.address = QStringLiteral("%1 %2 Street").arg(rng() % 900 + 1).arg(word(rng, 2));
        c.city = word(rng, 2);
        c.cellph = phone(rng);
        c.workph = phone(rng);
        c.email = (c.firstname + u'.' + c.lastname).toLower() + QStringLiteral("@example.com");
        if (out.size() % 100 == 7)
            c.email = QStringLiteral("info@office%1.example").arg(out.size() % 40);
        out.push_back(c);
        if (out.size() % 50 == 0 && int(out.size()) < count) {
            ContactRecord again;
            again.firstname = c.lastname.toUpper();
            again.lastname = c.firstname;
            again.cellph = c.cellph.mid(3);
            out.push_back(again);
        }
    }
    return out;
}

void BM_FindDuplicatesInMemory(benchmark::State& state)
{
    const auto contacts = people(int(state.range(0)));
    size_t found = 0;
    for (auto _ : state) {
        std::vector<MatchKeys> keys;
        keys.reserve(contacts.size());
        for (const ContactRecord& c : contacts)
            keys.push_back(matchKeys(c));
        found = findDuplicatePairs(keys, [](qint64, qint64) { return true; }).size();
        benchmark::DoNotOptimize(found);
    }
    state.counters["pairs"] = double(found);
    if (found < contacts.size() / 60)
        state.SkipWithError("the planted duplicates were not found");
}
BENCHMARK(BM_FindDuplicatesInMemory)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond)->Iterations(2);

void BM_SearchDuplicatesStored(benchmark::State& state)
{
    bench::freshProgramDir();
    insertContacts(sConnContacts, people(int(state.range(0))));
    size_t found = 0;
    for (auto _ : state)
        found = searchDuplicates(sConnContacts, [](qint64, qint64) { return true; }).pairs.size();
    state.counters["pairs"] = double(found);
}
BENCHMARK(BM_SearchDuplicatesStored)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(3);

// The import's side: telling for each of 10,000 new rows whether 100,000 stored contacts hold it.
void BM_ImportLookup(benchmark::State& state)
{
    bench::freshProgramDir();
    const auto stored = people(100000);
    insertContacts(sConnContacts, stored);
    std::vector<MatchKeys> incoming;
    for (int i = 0; i < 10000; ++i)
        incoming.push_back(matchKeys(stored[size_t(i * 10)]));
    int same = 0;
    for (auto _ : state) {
        const ContactIndex index = ContactIndex::ofStored(sConnContacts);
        same = 0;
        for (const MatchKeys& k : incoming)
            same += index.find(k).likeness == Likeness::Same;
    }
    if (same != int(incoming.size()))
        state.SkipWithError("a stored contact was not found again");
}
BENCHMARK(BM_ImportLookup)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace
