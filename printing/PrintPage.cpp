#include "printing/PrintPage.h"

#include "printing/RtfReader.h"

#include <QAbstractTextDocumentLayout>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QHash>
#include <QImage>
#include <QPainter>
#include <QTextBlock>
#include <QTextBoundaryFinder>
#include <QTextCursor>
#include <QTextDocument>
#include <QUrl>

#include <cmath>
#include <functional>
#include <vector>

namespace kestrel {

namespace {

// The size the emoji font's pictures are drawn at: its own bitmaps' size, so nothing is scaled twice.
constexpr int kEmojiPixels = 109;

bool isEmoji(QStringView cluster)
{
    for (const char32_t c : cluster.toUcs4()) {
        // Pictographs, emoticons, transport and map symbols, flags; the emoji variation selector
        // and the keycap mark make an emoji of what stands before them.
        if ((c >= 0x1F000 && c <= 0x1FAFF) || c == 0xFE0F || c == 0x20E3)
            return true;
    }
    return false;
}

struct Found {
    int position = 0;
    int length = 0;
    QString text;
    QTextCharFormat format;
};

// Every fragment of the document, table cells too, that satisfies pick; in document order.
template <typename Pick>
std::vector<Found> findInFragments(QTextDocument& doc, Pick pick)
{
    std::vector<Found> out;
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next())
        for (auto it = block.begin(); !it.atEnd(); ++it)
            pick(it.fragment(), out);
    return out;
}

// The fragments replaced by others, last first so that the earlier positions stay true.
void replace(QTextDocument& doc, const std::vector<Found>& found, const std::function<void(QTextCursor&, const Found&)>& put)
{
    for (auto it = found.rbegin(); it != found.rend(); ++it) {
        QTextCursor c(&doc);
        c.setPosition(it->position);
        c.setPosition(it->position + it->length, QTextCursor::KeepAnchor);
        put(c, *it);
    }
}

} // namespace

bool emojiFontInstalled()
{
    static const bool installed = QFontDatabase::families().contains(kEmojiFamily);
    return installed;
}

void keepParagraphsTogether(QTextDocument& doc)
{
    const qreal pageHeight = doc.pageSize().height();
    if (pageHeight <= 0)
        return;
    QAbstractTextDocumentLayout* layout = doc.documentLayout();
    // In order: a paragraph moved to the next page moves all those after it.
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
        if (!block.blockFormat().boolProperty(kKeepTogetherProperty))
            continue;
        const QRectF box = layout->blockBoundingRect(block);
        if (box.height() > pageHeight || std::floor(box.top() / pageHeight) == std::floor((box.bottom() - 0.5) / pageHeight))
            continue;
        QTextBlockFormat moved = block.blockFormat();
        moved.setPageBreakPolicy(QTextFormat::PageBreak_AlwaysBefore);
        QTextCursor(block).setBlockFormat(moved);
        // The layout of a long document goes on later, bit by bit; what follows is needed now.
        doc.markContentsDirty(block.position(), doc.characterCount() - block.position());
    }
}

void fitPicturesToPage(QTextDocument& doc, const QSizeF& page)
{
    const auto found = findInFragments(doc, [&page](const QTextFragment& f, std::vector<Found>& out) {
        const QTextImageFormat image = f.charFormat().toImageFormat();
        if (f.charFormat().isImageFormat() && (image.width() > page.width() || image.height() > page.height()))
            out.push_back({f.position(), f.length(), f.text(), f.charFormat()});
    });
    replace(doc, found, [&page](QTextCursor& c, const Found& f) {
        QTextImageFormat image = f.format.toImageFormat();
        const qreal scale = std::min(page.width() / image.width(), page.height() / image.height());
        image.setWidth(image.width() * scale);
        image.setHeight(image.height() * scale);
        c.setCharFormat(image);
    });
}

int emojiAsPictures(QTextDocument& doc)
{
    if (!emojiFontInstalled())
        return 0;
    const auto found = findInFragments(doc, [](const QTextFragment& f, std::vector<Found>& out) {
        if (f.charFormat().isImageFormat())
            return;
        const QString text = f.text();
        QTextBoundaryFinder clusters(QTextBoundaryFinder::Grapheme, text);
        for (qsizetype at = 0; at < text.size();) {
            qsizetype next = clusters.toNextBoundary();
            if (next < 0)
                next = text.size();
            if (isEmoji(QStringView(text).mid(at, next - at)))
                out.push_back({f.position() + int(at), int(next - at), text.mid(at, next - at), f.charFormat()});
            at = next;
        }
    });
    QHash<QString, QString> drawn; // emoji → the picture's name in this document
    QFont emojiFont(kEmojiFamily);
    emojiFont.setPixelSize(kEmojiPixels);
    const QFontMetricsF metrics(emojiFont);
    const qreal height = metrics.height();
    replace(doc, found, [&](QTextCursor& c, const Found& f) {
        const qreal width = std::max<qreal>(1, metrics.horizontalAdvance(f.text));
        QString& name = drawn[f.text];
        if (name.isEmpty()) {
            QImage image(QSize(int(std::ceil(width)), int(std::ceil(height))), QImage::Format_ARGB32_Premultiplied);
            image.fill(Qt::transparent);
            QPainter painter(&image);
            painter.setFont(emojiFont);
            painter.drawText(QRectF(0, 0, width, height), Qt::AlignCenter, f.text);
            painter.end();
            name = QStringLiteral("kestrel-emoji:%1").arg(drawn.size());
            doc.addResource(QTextDocument::ImageResource, QUrl(name), image);
        }
        // As tall as the line of text it stands in: the font's size in the document's pixels.
        QFont textFont = f.format.font();
        const qreal points = textFont.pointSizeF() > 0 ? textFont.pointSizeF() : doc.defaultFont().pointSizeF();
        const qreal pixels = (points > 0 ? points : 12) * 96.0 / 72.0;
        QTextImageFormat picture;
        picture.merge(f.format);
        picture.setObjectType(QTextFormat::ImageObject);
        picture.setName(name);
        picture.setHeight(pixels * height / kEmojiPixels);
        picture.setWidth(pixels * width / kEmojiPixels);
        picture.setVerticalAlignment(QTextCharFormat::AlignBottom);
        c.insertText(QString(QChar::ObjectReplacementCharacter), picture);
    });
    return int(found.size());
}

std::unique_ptr<QTextDocument> pagePart(const QTextDocument& part, int page, int pages, QPaintDevice* device,
                                        const QSizeF& pageSize)
{
    std::unique_ptr<QTextDocument> doc(part.clone());
    const auto fields = findInFragments(*doc, [](const QTextFragment& f, std::vector<Found>& out) {
        if (f.charFormat().hasProperty(kRtfFieldProperty))
            out.push_back({f.position(), f.length(), f.text(), f.charFormat()});
    });
    replace(*doc, fields, [page, pages](QTextCursor& c, const Found& f) {
        c.insertText(QString::number(f.format.intProperty(kRtfFieldProperty) == kRtfPageField ? page : pages), f.format);
    });
    fitPicturesToPage(*doc, pageSize);
    emojiAsPictures(*doc);
    doc->documentLayout()->setPaintDevice(device);
    doc->setDocumentMargin(0);
    doc->setTextWidth(pageSize.width());
    return doc;
}

} // namespace kestrel
