#pragma once
// Reads back printed PDF files with poppler's pdftotext: page size, and every word with its box
// in points, page by page.
#include "tests/contacts/Common.h"

#include <QProcess>
#include <QRegularExpression>

#include <vector>

namespace kestrel::test {

struct PdfWord {
    double xMin, yMin, xMax, yMax;
    QString text;
};

struct PdfPage {
    double width = 0, height = 0;
    std::vector<PdfWord> words;
    // Words joined into lines by their baseline, top to bottom.
    QStringList lines() const
    {
        QStringList out;
        for (size_t i = 0; i < words.size(); ++i)
            if (i == 0 || std::abs(words[i].yMax - words[i - 1].yMax) > 2)
                out << words[i].text;
            else
                out.last() += u' ' + words[i].text;
        return out;
    }
};

inline std::vector<PdfPage> readPdf(const QString& path)
{
    QProcess p;
    p.start(QStringLiteral("pdftotext"), {QStringLiteral("-bbox"), path, QStringLiteral("-")});
    EXPECT_TRUE(p.waitForFinished(60000) && p.exitCode() == 0) << path.toStdString() << ": " << p.readAllStandardError().toStdString();
    const QString html = QString::fromUtf8(p.readAllStandardOutput());
    static const QRegularExpression pageRe(QStringLiteral(R"re(<page width="([\d.]+)" height="([\d.]+)">)re"));
    static const QRegularExpression wordRe(
        QStringLiteral(R"re(<word xMin="([\d.]+)" yMin="([\d.]+)" xMax="([\d.]+)" yMax="([\d.]+)">([^<]*)</word>)re"));
    std::vector<PdfPage> pages;
    for (auto page = pageRe.match(html); page.hasMatch(); page = pageRe.match(html, page.capturedEnd())) {
        const qsizetype end = html.indexOf(QStringLiteral("</page>"), page.capturedEnd());
        PdfPage& pg = pages.emplace_back(PdfPage{page.captured(1).toDouble(), page.captured(2).toDouble(), {}});
        for (auto it = wordRe.globalMatch(html.mid(page.capturedEnd(), end - page.capturedEnd())); it.hasNext();) {
            const auto w = it.next();
            const QString text = w.captured(5).replace(QStringLiteral("&lt;"), QStringLiteral("<")).replace(QStringLiteral("&gt;"), QStringLiteral(">"))
                                     .replace(QStringLiteral("&quot;"), QStringLiteral("\"")).replace(QStringLiteral("&amp;"), QStringLiteral("&"));
            pg.words.push_back({w.captured(1).toDouble(), w.captured(2).toDouble(), w.captured(3).toDouble(), w.captured(4).toDouble(), text});
        }
    }
    return pages;
}

} // namespace kestrel::test
