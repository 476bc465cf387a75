// The parts of a document besides its running text: headers and footers, each read into a
// document of its own; pictures, set into the paragraph at their size; and the fields whose
// result printing fills in page by page.
#include "printing/RtfParser.h"

#include <QImage>
#include <QTextDocument>
#include <QUrl>

namespace kestrel::rtf {

void Parser::swapSink(Sink& other)
{
    std::swap(doc_, other.doc);
    std::swap(cursor_, other.cursor);
    std::swap(table_, other.table);
    std::swap(tableCells_, other.tableCells);
    std::swap(fresh_, other.fresh);
    std::swap(pageBreakNext_, other.pageBreakNext);
    std::swap(para_, other.para);
    std::swap(runText_, other.runText);
    std::swap(runProps_, other.runProps);
    std::swap(cell_, other.cell);
    std::swap(rowCells_, other.rowCells);
    std::swap(row_, other.row);
    std::swap(pendingTab_, other.pendingTab);
    std::swap(tabsInParagraph_, other.tabsInParagraph);
}

void Parser::beginPart(int slot)
{
    auto doc = std::make_shared<QTextDocument>();
    doc->setUndoRedoEnabled(false);
    doc->setDefaultFont(doc_->defaultFont());
    // The first header of each kind is the one printed; a later section's is read and let go.
    if (!parts_->parts[size_t(slot)])
        parts_->parts[size_t(slot)] = doc;
    partDoc_ = doc;
    Sink part;
    part.doc = doc.get();
    part.cursor = QTextCursor(doc.get());
    body_ = std::move(part);
    swapSink(body_);
    partDepth_ = stack_.size();
}

void Parser::endPart()
{
    if (paragraphHasContent())
        endParagraph();
    if (!rowCells_.empty() || !cell_.paras.empty())
        endRow();
    swapSink(body_);
    body_ = Sink{};
    partDoc_.reset();
    partDepth_ = 0;
}

void Parser::beginPicture()
{
    const bool inShape = state().dest == Dest::ShapeValue;
    picture_ = Picture{};
    if (inShape) {
        picture_.shapeWidth = shapeRight_ - shapeLeft_;
        picture_.shapeHeight = shapeBottom_ - shapeTop_;
    }
    state().dest = Dest::Picture;
    pictureDepth_ = stack_.size();
}

void Parser::pictureByte(uchar b)
{
    int nibble;
    if (b >= '0' && b <= '9')
        nibble = b - '0';
    else if ((b | 0x20) >= 'a' && (b | 0x20) <= 'f')
        nibble = (b | 0x20) - 'a' + 10;
    else
        return; // line breaks and blanks between the digits
    if (picture_.highNibble) {
        if (picture_.data.size() >= RtfReader::kMaxPictureBytes)
            return;
        picture_.data.append(char(nibble << 4));
    } else {
        picture_.data.back() = char(picture_.data.back() | nibble);
    }
    picture_.highNibble = !picture_.highNibble;
}

void Parser::endPicture()
{
    pictureDepth_ = 0;
    const Picture p = std::exchange(picture_, Picture{});
    // Metafiles and device bitmaps are left out: a word processor writes a PNG or JPEG of the
    // same picture beside them.
    if ((p.kind != Picture::Png && p.kind != Picture::Jpeg) || p.data.isEmpty() ||
        picturesBytes_ + p.data.size() > RtfReader::kMaxPicturesBytes)
        return;
    picturesBytes_ += p.data.size();
    QImage image;
    if (!image.loadFromData(p.data, p.kind == Picture::Png ? "PNG" : "JPEG") || image.isNull())
        return;
    // The size the document asks for: the shape's, or the picture's own goal scaled, or else the
    // image at its own resolution.
    qreal width, height;
    if (p.shapeWidth > 0 && p.shapeHeight > 0) {
        width = pixels(p.shapeWidth);
        height = pixels(p.shapeHeight);
    } else {
        if (p.goalWidth > 0 && p.goalHeight > 0) {
            width = pixels(p.goalWidth);
            height = pixels(p.goalHeight);
        } else {
            const qreal dpiX = image.dotsPerMeterX() > 0 ? image.dotsPerMeterX() * 0.0254 : 96.0;
            const qreal dpiY = image.dotsPerMeterY() > 0 ? image.dotsPerMeterY() * 0.0254 : 96.0;
            width = image.width() * 96.0 / dpiX;
            height = image.height() * 96.0 / dpiY;
        }
        width *= p.scaleX / 100.0;
        height *= p.scaleY / 100.0;
    }
    const qreal most = pixels(kMaxTwips);
    width = std::clamp(width, 1.0, most);
    height = std::clamp(height, 1.0, most);
    const QString name = QStringLiteral("kestrel-rtf-picture:%1").arg(++pictures_);
    doc_->addResource(QTextDocument::ImageResource, QUrl(name), image);
    QTextImageFormat f;
    f.setName(name);
    f.setWidth(width);
    f.setHeight(height);
    flushRun();
    para_.runs.push_back({QString(QChar::ObjectReplacementCharacter), f});
}

void Parser::endFieldInstruction()
{
    fieldDepth_ = 0;
    // "PAGE", "PAGE \* MERGEFORMAT", "NUMPAGES": the first word names the field.
    const QString word = fieldInstruction_.simplified().section(u' ', 0, 0).toUpper();
    pendingField_ = word == u"PAGE"                                ? kRtfPageField
                    : word == u"NUMPAGES" || word == u"SECTIONPAGES" ? kRtfPagesField
                                                                     : 0;
}

void Parser::closingGroup()
{
    const size_t depth = stack_.size();
    if (pictureDepth_ == depth)
        endPicture();
    if (fieldDepth_ == depth)
        endFieldInstruction();
    if (partDepth_ == depth)
        endPart();
}

} // namespace kestrel::rtf
