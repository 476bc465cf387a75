// vCard and iCalendar: 10,000 cards imported (read, fitted and checked in the scratch table, stored) and
// exported, 10,000 appointments exported and imported.
#include "bench/generate.h"
#include "data/Database.h"
#include "data/ExchangeStore.h"
#include "data/Globals.h"
#include "exchange/modExchange.h"
#include "exchange/modImport.h"
#include "formats/ICalendar.h"
#include "formats/VCard.h"

#include <QTimeZone>

#include <benchmark/benchmark.h>

using namespace kestrel;

namespace {

// What a phone writes: 3.0, grouped properties, folded lines, a photo, accents and escapes.
QByteArray phoneExport(int cards)
{
    QByteArray out;
    for (int i = 0; i < cards; ++i) {
        out += QStringLiteral("BEGIN:VCARD\r\nVERSION:3.0\r\nN:O'Brien %1;Renée;;;\r\nFN:Renée O'Brien %1\r\n"
                              "ORG:Acme\\, Inc. %2;\r\nitem1.EMAIL;type=INTERNET;type=pref:ob%1@example.com\r\n"
                              "TEL;type=CELL;type=VOICE;type=pref:(217) 555-%3\r\nTEL;type=WORK;type=VOICE:217-555-0101 x%4\r\n"
                              "item2.ADR;type=WORK;type=pref:;;%5 Main St;Springfield;Illinois;62701;USA\r\n"
                              "NOTE:Met at the fair\\nCall back\r\nPHOTO;ENCODING=b;TYPE=JPEG:/9j/4AAQSkZJRgABAQAAAQABAAD/2wBD\r\n"
                              " AAMCAgICAgMCAgIDAwMDBAYEBAQEBAgGBgUGCQgKCgkICQkKDA8MCgsOCwkJDRENDg8QEBEQCgwS\r\nEND:VCARD\r\n")
                   .arg(i)
                   .arg(i % 97)
                   .arg(i % 10000, 4, 10, QLatin1Char('0'))
                   .arg(i % 1000)
                   .arg(i % 9000 + 100)
                   .toUtf8();
    }
    return out;
}

void BM_VCardImport10k(benchmark::State& state)
{
    bench::freshProgramDir();
    const QByteArray file = phoneExport(10000);
    for (auto _ : state) {
        // The way the menu takes: into Main with the import's rules, then into contacts.
        ImportSummary sum;
        const bool done = LoadRecordsToTemp(vCardRecords(file), kVCardSources, &sum) &&
                          ImportTempRows(QStringLiteral("Contact"), true, &sum);
        state.PauseTiming();
        if (!done || sum.imported != 10000)
            state.SkipWithError("cards lost");
        Connection(sConnContacts).execute(QStringLiteral("delete from contacts"));
        state.ResumeTiming();
    }
}
BENCHMARK(BM_VCardImport10k)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_VCardExport10k(benchmark::State& state)
{
    bench::freshProgramDir();
    bench::generateContacts(10000);
    for (auto _ : state)
        benchmark::DoNotOptimize(writeVCards(readAllContacts(sConnContacts)));
}
BENCHMARK(BM_VCardExport10k)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_ICalendarExport10k(benchmark::State& state)
{
    bench::freshProgramDir();
    bench::generateAppointments(10000, QDate(2026, 1, 1), 365);
    const QTimeZone zone(QByteArrayLiteral("Europe/Berlin"));
    for (auto _ : state) {
        const auto appts = readAppointments(sConnContacts, QDate(2026, 1, 1), QDate(2026, 12, 31));
        const QByteArray file =
            writeICalendar(appts, databaseIdentity(sConnContacts), zone, QDateTime::currentDateTimeUtc());
        if (appts.size() != 10000)
            state.SkipWithError("appointments lost");
        benchmark::DoNotOptimize(file);
    }
}
BENCHMARK(BM_ICalendarExport10k)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_ICalendarImport10k(benchmark::State& state)
{
    bench::freshProgramDir();
    bench::generateAppointments(10000, QDate(2026, 1, 1), 365);
    const QTimeZone zone(QByteArrayLiteral("Europe/Berlin"));
    const QByteArray file = writeICalendar(readAppointments(sConnContacts, QDate(2026, 1, 1), QDate(2026, 12, 31)),
                                           QStringLiteral("other"), zone, QDateTime::currentDateTimeUtc());
    for (auto _ : state)
        storeAppointments(sConnContacts, readICalendar(file, zone, QDate(2026, 1, 1)).appointments);
}
BENCHMARK(BM_ICalendarImport10k)->Unit(benchmark::kMillisecond)->Iterations(3);

// A hostile calendar: twenty events repeating every second, every minute since 1990 (a count of a
// billion) or every day in three hours; read within the bounds on repetitions.
void BM_ICalendarReadHostileRepetitions(benchmark::State& state)
{
    QByteArray file = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Bench//EN\r\n";
    const char* rules[] = {"DTSTART:20260101T090000Z\r\nRRULE:FREQ=SECONDLY",
                           "DTSTART:19900101T090000Z\r\nRRULE:FREQ=MINUTELY;COUNT=1000000000",
                           "DTSTART:19000101T090000Z\r\nRRULE:FREQ=DAILY;BYHOUR=9,12,15"};
    for (int i = 0; i < 20; ++i)
        file += "BEGIN:VEVENT\r\nUID:" + QByteArray::number(i) + "\r\n" + rules[i % 3] + "\r\nSUMMARY:x\r\nEND:VEVENT\r\n";
    file += "END:VCALENDAR\r\n";
    for (auto _ : state)
        benchmark::DoNotOptimize(readICalendar(file, QTimeZone::utc(), QDate(2026, 1, 1)));
}
BENCHMARK(BM_ICalendarReadHostileRepetitions)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace
