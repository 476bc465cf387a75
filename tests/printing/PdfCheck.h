#pragma once
// Reads back printed PDF files with poppler's command-line tools: page count and size, and
// every word with its box in points, page by page.
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

#include <vector>

// Readable failures: QStrings printed as text.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

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
        double lastY = -1000;
        for (const PdfWord& w : words) {
            if (std::abs(w.yMax - lastY) > 2 || out.isEmpty())
                out << w.text;
            else
                out.last() += u' ' + w.text;
            lastY = w.yMax;
        }
        return out;
    }
};

inline QString runTool(const QString& program, const QStringList& args)
{
    QProcess p;
    p.start(program, args);
    EXPECT_TRUE(p.waitForFinished(60000)) << program.toStdString();
    EXPECT_EQ(p.exitCode(), 0) << program.toStdString() << ": " << p.readAllStandardError().toStdString();
    return QString::fromUtf8(p.readAllStandardOutput());
}

inline std::vector<PdfPage> readPdf(const QString& path)
{
    std::vector<PdfPage> pages;
    EXPECT_TRUE(QFile::exists(path)) << "no PDF at " << path.toStdString();
    if (!QFile::exists(path))
        return pages;
    const QString html = runTool(QStringLiteral("pdftotext"), {QStringLiteral("-bbox"), path, QStringLiteral("-")});
    static const QRegularExpression pageRe(QStringLiteral(R"re(<page width="([\d.]+)" height="([\d.]+)">)re"));
    static const QRegularExpression wordRe(
        QStringLiteral(R"re(<word xMin="([\d.]+)" yMin="([\d.]+)" xMax="([\d.]+)" yMax="([\d.]+)">([^<]*)</word>)re"));
    qsizetype at = 0;
    while (true) {
        const auto page = pageRe.match(html, at);
        if (!page.hasMatch())
            break;
        const qsizetype end = html.indexOf(QStringLiteral("</page>"), page.capturedEnd());
        PdfPage p;
        p.width = page.captured(1).toDouble();
        p.height = page.captured(2).toDouble();
        auto it = wordRe.globalMatch(html.mid(page.capturedEnd(), end - page.capturedEnd()));
        while (it.hasNext()) {
            const auto w = it.next();
            QString text = w.captured(5);
            text.replace(QStringLiteral("&amp;"), QStringLiteral("&"))
                .replace(QStringLiteral("&lt;"), QStringLiteral("<"))
                .replace(QStringLiteral("&gt;"), QStringLiteral(">"))
                .replace(QStringLiteral("&quot;"), QStringLiteral("\""));
            p.words.push_back({w.captured(1).toDouble(), w.captured(2).toDouble(), w.captured(3).toDouble(),
                               w.captured(4).toDouble(), text});
        }
        pages.push_back(std::move(p));
        at = end;
    }
    return pages;
}

} // namespace kestrel::test
