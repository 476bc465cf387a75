#pragma once
// What a document needs before it goes to the printer, done on the copy that is printed:
// pictures made to fit the page, emoji drawn as pictures by the colour emoji font, and a header
// or footer filled in for one page.
#include <QSizeF>
#include <QString>
#include <QTextFormat>

#include <memory>

class QPaintDevice;
class QTextDocument;

namespace kestrel {

// A block format property: the paragraph is printed on one page, moved whole to the next one
// where it would not fit at the bottom of a page (when it fits on a page at all).
constexpr int kKeepTogetherProperty = QTextFormat::UserProperty + 2;
// Moves each such paragraph of a document laid out in pages that a page break would split.
void keepParagraphsTogether(QTextDocument& doc);

// The colour emoji font (Debian's fonts-noto-color-emoji).
inline const QString kEmojiFamily = QStringLiteral("Noto Color Emoji");
bool emojiFontInstalled();

// Shrinks every picture wider or taller than the page (in the document's units) to fit it,
// keeping its shape.
void fitPicturesToPage(QTextDocument& doc, const QSizeF& page);

// A printer's file carries outlines of glyphs, and a colour emoji font has none: printed as text
// an emoji comes out as nothing. Each emoji becomes a picture of it drawn by the emoji font, the
// size of the text around it. Returns how many were replaced (none without the font).
int emojiAsPictures(QTextDocument& doc);

// A header or footer as page `page` of `pages` prints it: its page fields filled in, laid out on
// device at the given width, its pictures and emoji prepared as above.
std::unique_ptr<QTextDocument> pagePart(const QTextDocument& part, int page, int pages, QPaintDevice* device,
                                        const QSizeF& pageSize);

} // namespace kestrel
