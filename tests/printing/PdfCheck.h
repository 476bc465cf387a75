#pragma once
// Reads back printed PDF files with poppler's pdftotext: page size, and every word with its box
// in points, page by page.
#include "tests/contacts/Common.h"

#include <QImage>
#include <QProcess>
#include <QXmlStreamReader>

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
    std::vector<PdfPage> pages;
    for (QXmlStreamReader xml(p.readAllStandardOutput()); !xml.atEnd();) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        const QXmlStreamAttributes a = xml.attributes();
        const auto at = [&](const char* name) { return a.value(QLatin1String(name)).toDouble(); };
        if (xml.name() == u"page")
            pages.push_back({at("width"), at("height"), {}});
        else if (xml.name() == u"word" && !pages.empty())
            pages.back().words.push_back({at("xMin"), at("yMin"), at("xMax"), at("yMax"), xml.readElementText()});
    }
    return pages;
}

// One page of a PDF file as the paper shows it, at dpi dots per inch.
inline QImage renderPdfPage(const QString& path, int page, int dpi = 72)
{
    const QString prefix = path + QStringLiteral(".page");
    QProcess p;
    p.start(QStringLiteral("pdftoppm"), {QStringLiteral("-r"), QString::number(dpi), QStringLiteral("-f"), QString::number(page),
                                         QStringLiteral("-l"), QString::number(page), QStringLiteral("-singlefile"),
                                         QStringLiteral("-png"), path, prefix});
    EXPECT_TRUE(p.waitForFinished(60000) && p.exitCode() == 0) << path.toStdString() << ": " << p.readAllStandardError().toStdString();
    return QImage(prefix + QStringLiteral(".png"));
}

// Pixels of a region (in points at 72 dpi) that are of a clear colour, neither grey nor black.
inline int colouredPixels(const QImage& page, const QRectF& region)
{
    int n = 0;
    const QRect r = region.toAlignedRect().intersected(page.rect());
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x) {
            const QColor c = page.pixelColor(x, y);
            n += std::max({c.red(), c.green(), c.blue()}) - std::min({c.red(), c.green(), c.blue()}) > 90;
        }
    return n;
}

} // namespace kestrel::test
