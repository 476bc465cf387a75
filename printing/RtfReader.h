#pragma once
// Reads rich text (RTF) into a QTextDocument. Qt has no reader of its own, and the lead form is
// a file the user may have edited in any word processor, so this covers what such a program
// saves for a simple form: fonts and colours, character and paragraph formatting, right-to-left
// paragraphs, tabs, line, paragraph and page breaks, encoded characters, simple tables, pictures
// (PNG and JPEG, inline or in a shape) and the page's headers and footers with their page
// numbers. Everything else is skipped. Any input, however damaged, ends in bounded time with
// whatever could be read.
#include <QByteArray>
#include <QString>
#include <QTextFormat>

#include <array>
#include <memory>

class QTextDocument;

namespace kestrel {

// A field of a header or footer that printing fills in on each page: the text of a run whose
// character format holds this property is replaced by the page's number (kRtfPageField) or the
// number of pages (kRtfPagesField).
constexpr int kRtfFieldProperty = QTextFormat::UserProperty + 1;
constexpr int kRtfPageField = 1;
constexpr int kRtfPagesField = 2;

// What a document prints on every page around its body: its headers and footers, each a document
// of its own, as a word processor writes them (one for every page, or one for the first page
// and one for left-hand pages besides), and where they stand on the paper.
struct PageParts {
    enum Slot { Header, HeaderLeft, HeaderRight, HeaderFirst, Footer, FooterLeft, FooterRight, FooterFirst, kSlots };
    std::array<std::shared_ptr<QTextDocument>, kSlots> parts;
    bool titlePage = false;   // the first page has a header and footer of its own
    bool facingPages = false; // left-hand (even) pages have theirs
    int headerY = 720;        // twips from the paper's top edge to the header's top
    int footerY = 720;        // twips from the paper's bottom edge to the footer's bottom

    // Those of page 1, 2, ...; null for none.
    const QTextDocument* header(int page) const { return pick(page, Header); }
    const QTextDocument* footer(int page) const { return pick(page, Footer); }
    bool empty() const
    {
        for (const auto& p : parts)
            if (p)
                return false;
        return true;
    }

private:
    const QTextDocument* pick(int page, int base) const
    {
        const auto at = [&](int offset) { return parts[size_t(base + offset)].get(); };
        if (titlePage && page == 1)
            return at(3);
        if (facingPages && page % 2 == 0)
            return at(1) ? at(1) : at(0);
        return at(2) ? at(2) : at(0) ? at(0) : at(1);
    }
};

class RtfReader {
public:
    // Replaces doc's content by the document in rtf. False (doc left empty) when rtf does not
    // begin as rich text; damage further on is read past, never reported. The headers and
    // footers go to parts when given (they are left out otherwise).
    bool read(const QByteArray& rtf, QTextDocument* doc, PageParts* parts = nullptr);
    // Reads a file; false, with errorString() telling why, when it is missing, unreadable or not
    // rich text.
    bool readFile(const QString& path, QTextDocument* doc, PageParts* parts = nullptr);
    QString errorString() const { return error_; }

    // Groups nested deeper than this are read as part of their parent.
    static constexpr int kMaxDepth = 500;
    // The most columns a table row gets; further cells join the last one.
    static constexpr int kMaxColumns = 63;
    // The most bytes of one picture, and of all pictures of a document, that are read.
    static constexpr qsizetype kMaxPictureBytes = qsizetype(16) << 20;
    static constexpr qsizetype kMaxPicturesBytes = qsizetype(64) << 20;

private:
    QString error_;
};

} // namespace kestrel
