// Printing: reading rich text, and laying listings and the lead form out on PDF pages.
#include "ui/Ui.h"
#include "printing/RtfReader.h"
#include "printing/frmPrint.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QTextDocument>

#include <benchmark/benchmark.h>

using namespace kestrel;

namespace {

// A long letter of formatted paragraphs with a table every twenty of them.
QByteArray generatedRtf(int paragraphs)
{
    QByteArray rtf = "{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl{\\f0\\fswiss Arial;}{\\f1\\froman Times New Roman;}}"
                     "{\\colortbl;\\red200\\green0\\blue0;}\n";
    for (int i = 0; i < paragraphs; ++i) {
        rtf += "\\pard\\sb60\\li" + QByteArray::number(i % 5 * 144) + "\\f" + QByteArray::number(i % 2) +
               "\\fs22 Paragraph " + QByteArray::number(i) +
               " with {\\b bold}, {\\i italic} and \\cf1 coloured\\cf0  words, caf\\'e9 and \\u8364? signs.\\par\n";
        if (i % 20 == 19)
            rtf += "\\trowd\\trgaph60\\clbrdrt\\brdrs\\clbrdrb\\brdrs\\cellx3000\\cellx6000\\pard\\intbl Name\\cell "
                   "Phone\\cell\\row\\pard\n";
    }
    return rtf + "}";
}

QByteArray leadForm()
{
    QFile f(QCoreApplication::applicationDirPath() + QStringLiteral("/../Templates/lead.rtf"));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void BM_ReadRtf(benchmark::State& state)
{
    const QByteArray rtf = generatedRtf(int(state.range(0)));
    for (auto _ : state) {
        QTextDocument doc;
        RtfReader().read(rtf, &doc);
        benchmark::DoNotOptimize(doc.characterCount());
    }
    state.SetBytesProcessed(state.iterations() * rtf.size());
}
BENCHMARK(BM_ReadRtf)->Arg(100)->Arg(5000)->Unit(benchmark::kMillisecond);

void BM_PrintListingToPdf(benchmark::State& state)
{
    QTemporaryDir dir;
    QTextDocument doc;
    doc.setDefaultFont(designFont(QStringLiteral("Times New Roman"), 12));
    QStringList lines;
    for (int i = 0; i < state.range(0); ++i)
        lines << QStringLiteral("  9:30 AM  Call with customer number %1 about the order").arg(i);
    doc.setPlainText(lines.join(u'\n'));
    int pages = 0;
    for (auto _ : state) {
        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(dir.filePath(QStringLiteral("list.pdf")));
        pages = PrintRichText(doc, printer, 1440, 1440, 1440, 1440);
    }
    state.counters["pages"] = pages;
}
BENCHMARK(BM_PrintListingToPdf)->Arg(200)->Arg(2000)->Unit(benchmark::kMillisecond);

void BM_PrintLeadFormToPdf(benchmark::State& state)
{
    QTemporaryDir dir;
    const QByteArray rtf = leadForm();
    if (rtf.isEmpty()) {
        state.SkipWithError("Templates/lead.rtf not found beside the build");
        return;
    }
    for (auto _ : state) {
        QTextDocument doc;
        RtfReader().read(rtf, &doc);
        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(dir.filePath(QStringLiteral("lead.pdf")));
        benchmark::DoNotOptimize(PrintRichText(doc, printer, 1440, 1440, 1440, 1440));
    }
}
BENCHMARK(BM_PrintLeadFormToPdf)->Unit(benchmark::kMillisecond);

} // namespace
