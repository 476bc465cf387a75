#pragma once
// Reads back printed PDF files with poppler's pdftotext: page size, and every word with its box
// in points, page by page.
#include "tests/contacts/Common.h"

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

} // namespace kestrel::test
