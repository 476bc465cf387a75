// The sync against a local Radicale started here (scripts/dav-server.sh): a first sync that brings
// 10,000 contacts in, one that sends 1,000 out, a sync with nothing changed, and one of 10 changes.
#include "bench/generate.h"

#include "data/Database.h"
#include "data/Globals.h"
#include "data/ExchangeStore.h"
#include "formats/VCard.h"
#include "sync/DavClient.h"
#include "sync/DavXml.h"
#include "sync/Discovery.h"
#include "sync/SyncRunner.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstdio>

namespace kestrel::bench {
namespace {

struct Radicale {
    QTemporaryDir state;
    QString url, why;
    Radicale()
    {
        QProcess p;
        p.start(QStringLiteral(KESTREL_SOURCE_DIR "/scripts/dav-server.sh"), {QStringLiteral("start"), state.path()});
        p.waitForFinished(120000);
        QFile f(state.path() + QStringLiteral("/url"));
        if (f.open(QIODevice::ReadOnly))
            url = QString::fromUtf8(f.readAll()).trimmed();
        else
            why = QString::fromUtf8(p.readAllStandardOutput());
    }
    ~Radicale() { QProcess::execute(QStringLiteral(KESTREL_SOURCE_DIR "/scripts/dav-server.sh"), {QStringLiteral("stop"), state.path()}); }
};

Radicale& radicale()
{
    static Radicale r;
    return r;
}

int gUser = 0;

// A user of its own with an address book (empty, or filled with cards in one upload).
sync::Job freshJob(const QByteArray& cards = {})
{
    sync::Job j;
    j.server = QUrl(radicale().url);
    j.user = QStringLiteral("bench%1x%2").arg(QCoreApplication::applicationPid()).arg(++gUser);
    dav::Client client(j.user, QString());
    const sync::Discovery d = sync::discover(client, j.server);
    if (cards.isEmpty()) {
        j.addressBook = sync::makeCollection(client, d.addressBookHome, SyncKind::Contacts, QStringLiteral("Kestrel")).found.url;
    } else {
        // Radicale takes a whole address book in one PUT to a new collection (its own way of
        // importing): the quickest way to a server that already holds the phone's contacts.
        j.addressBook = QUrl(d.addressBookHome.toString() + QStringLiteral("phone/"));
        client.send("PUT", j.addressBook, cards, -1, {{"Content-Type", "text/vcard"}});
        // Radicale reads a new collection's items once into its cache: a phone's server has.
        client.send("PROPFIND", j.addressBook, QByteArray(), 1);
    }
    freshProgramDir();
    j.connectionText = sConnContacts;
    return j;
}

QByteArray phoneCards(int n)
{
    std::vector<ContactRecord> cards;
    for (int i = 0; i < n; ++i) {
        ContactRecord r;
        r.lastname = QStringLiteral("Phone%1").arg(i);
        r.firstname = QStringLiteral("Pat");
        r.cellph = QStringLiteral("555-%1").arg(i, 4, 10, QLatin1Char('0'));
        r.email = QStringLiteral("pat%1@example.com").arg(i);
        r.uid = QStringLiteral("phone-%1").arg(i);
        cards.push_back(r);
    }
    return writeVCards(cards, VCardVersion::V3);
}

bool ready(benchmark::State& state)
{
    if (radicale().url.isEmpty()) {
        state.SkipWithError(qPrintable(QStringLiteral("no Radicale: ") + radicale().why));
        return false;
    }
    return true;
}

void report(benchmark::State& state, const sync::Report& r, int progressCalls = 0)
{
    if (r.outcome != sync::Outcome::Synced)
        state.SkipWithError(qPrintable(QStringLiteral("sync failed: ") + r.detail));
    state.counters["requests"] = r.requests;
    state.counters["in"] = r.broughtIn;
    state.counters["out"] = r.sentOut;
    if (progressCalls)
        state.counters["progress_steps"] = progressCalls;
}

void BM_FirstSyncBringsIn10000(benchmark::State& state)
{
    if (!ready(state))
        return;
    for (auto _ : state) {
        state.PauseTiming();
        const sync::Job j = freshJob(phoneCards(10000));
        int steps = 0;
        state.ResumeTiming();
        const sync::Report r = sync::SyncRunner::runToEnd(j, [&](int, int) { ++steps; });
        report(state, r, steps);
        if (r.outcome != sync::Outcome::Synced)
            break;
    }
}
BENCHMARK(BM_FirstSyncBringsIn10000)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

void BM_FirstSyncSends1000(benchmark::State& state)
{
    if (!ready(state))
        return;
    for (auto _ : state) {
        state.PauseTiming();
        const sync::Job j = freshJob();
        generateContacts(1000);
        state.ResumeTiming();
        report(state, sync::SyncRunner::runToEnd(j));
    }
}
BENCHMARK(BM_FirstSyncSends1000)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

sync::Job& synced10000()
{
    static sync::Job j = [] {
        sync::Job made = freshJob(phoneCards(10000));
        sync::SyncRunner::runToEnd(made);
        return made;
    }();
    return j;
}

void BM_NothingChanged(benchmark::State& state)
{
    if (!ready(state))
        return;
    const sync::Job j = synced10000();
    sConnContacts = j.connectionText;
    for (auto _ : state)
        report(state, sync::SyncRunner::runToEnd(j));
}
BENCHMARK(BM_NothingChanged)->Unit(benchmark::kMillisecond)->Iterations(10)->UseRealTime();

// The one request a sync with nothing changed sends, sent bare: the server's own share of that
// sync's time, shown beside it so that the program's share can be read off.
void BM_NothingChangedServerAlone(benchmark::State& state)
{
    if (!ready(state))
        return;
    const sync::Job j = synced10000();
    dav::Client client(j.user, QString());
    const dav::Response now = client.send("PROPFIND", j.addressBook, dav::ctagQuery(), 0);
    const dav::MultiStatus ms = dav::parseMultiStatus(now.body, j.addressBook);
    const QString token = ms.resources.empty() ? QString() : ms.resources.front().syncToken;
    if (token.isEmpty()) {
        state.SkipWithError("the address book has no sync token");
        return;
    }
    for (auto _ : state) {
        const dav::Response r = client.send("REPORT", j.addressBook, dav::syncReport(token), 0);
        if (!r.ok()) {
            state.SkipWithError(qPrintable(QStringLiteral("the report failed: %1").arg(r.status)));
            break;
        }
    }
}
BENCHMARK(BM_NothingChangedServerAlone)->Unit(benchmark::kMillisecond)->Iterations(10)->UseRealTime();

void BM_TenChanges(benchmark::State& state)
{
    if (!ready(state))
        return;
    const sync::Job j = synced10000();
    int round = 0;
    for (auto _ : state) {
        state.PauseTiming();
        // Five edited here, five on the phone.
        {
            Connection c(j.connectionText);
            for (int i = 0; i < 5; ++i)
                c.execute(QStringLiteral("update contacts set city='Here %1' where lastname='Phone%2'").arg(round).arg(round * 10 + i));
        }
        dav::Client phone(j.user, QString());
        for (int i = 5; i < 10; ++i) {
            const int n = round * 10 + i;
            ContactRecord r;
            r.lastname = QStringLiteral("Phone%1").arg(n);
            r.firstname = QStringLiteral("Pat");
            r.city = QStringLiteral("There %1").arg(round);
            r.uid = QStringLiteral("phone-%1").arg(n);
            QUrl item = j.addressBook;
            item.setPath(item.path() + QStringLiteral("phone-%1.vcf").arg(n));
            phone.send("PUT", item, writeVCards({r}, VCardVersion::V3), -1, {{"Content-Type", "text/vcard"}});
        }
        ++round;
        state.ResumeTiming();
        const sync::Report r = sync::SyncRunner::runToEnd(j);
        report(state, r);
        if (r.outcome != sync::Outcome::Synced)
            break;
    }
}
BENCHMARK(BM_TenChanges)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

// Five new cards put bare into the 10,000: the server's share of the ten changes' sync, which
// sends five of them.
void BM_FivePutsServerAlone(benchmark::State& state)
{
    if (!ready(state))
        return;
    const sync::Job j = synced10000();
    dav::Client client(j.user, QString());
    int n = 0;
    for (auto _ : state) {
        for (int i = 0; i < 5; ++i, ++n) {
            ContactRecord r;
            r.lastname = QStringLiteral("Bare%1").arg(n);
            r.uid = QStringLiteral("bare-%1").arg(n);
            QUrl item = j.addressBook;
            item.setPath(item.path() + r.uid + QStringLiteral(".vcf"));
            const dav::Response put = client.send("PUT", item, writeVCards({r}, VCardVersion::V3), -1,
                                                  {{"Content-Type", "text/vcard"}, {"If-None-Match", "*"}});
            if (!put.ok()) {
                state.SkipWithError(qPrintable(QStringLiteral("the put failed: %1").arg(put.status)));
                return;
            }
        }
    }
}
BENCHMARK(BM_FivePutsServerAlone)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

} // namespace
} // namespace kestrel::bench
