#pragma once
// The rich-text reader's insides, shared by its lexer, its control words and its layout of
// paragraphs and tables into the document. Not for use outside the reader.
#include "printing/RtfEncoding.h"
#include "printing/RtfReader.h"

#include <QColor>
#include <QFont>
#include <QHash>
#include <QTextCursor>
#include <QTextFormat>
#include <QTextOption>

#include <algorithm>
#include <array>
#include <memory>
#include <vector>

class QTextDocument;
class QTextTable;

namespace kestrel::rtf {

// Lengths in a rich-text file are twips; the document's are pixels at 96 dots per inch.
inline qreal pixels(int twips) { return twips / 15.0; }

inline int clampInt(long long v, int lo, int hi) { return int(std::clamp<long long>(v, lo, hi)); }

// The longest indent or spacing taken from a file: 22 inches, the widest page a word processor offers.
constexpr int kMaxTwips = 31680;
constexpr int kMaxTabs = 64;
constexpr int kMaxTableCells = 20000;

// Where the text of a group goes: the document (its body, or a header or footer being read), nowhere,
// the font or colour table, a picture's data, a field's instruction, or the parts of a shape:
// its properties (text ignored), a property's name, and the value of the picture property.
enum class Dest { Body, Skip, FontTable, ColorTable, Picture, FieldInst, Shape, ShapeName, ShapeValue };

struct CharProps {
    int font = -1;
    int halfPoints = 24;
    bool bold = false, italic = false, underline = false, strike = false, hidden = false;
    bool caps = false, smallCaps = false;
    int vertical = 0; // 1 superscript, -1 subscript
    int fg = 0, bg = 0;
    int field = 0; // kRtfPageField, kRtfPagesField: the result of such a field
    bool operator==(const CharProps&) const = default;
};

struct TabStop {
    int twips = 0;
    QTextOption::TabType type = QTextOption::LeftTab;
    bool leader = false;
};

struct ParaProps {
    Qt::Alignment align = Qt::AlignLeft;
    int left = 0, right = 0, first = 0, before = 0, after = 0;
    int lineSpacing = 0;
    bool lineMultiple = false;
    bool inTable = false;
    bool pageBreakBefore = false;
    bool ruleBelow = false;
    bool rtl = false;
    std::vector<TabStop> tabs;
};

struct GroupState {
    Dest dest = Dest::Body;
    CharProps chr;
    ParaProps para;
    int unicodeSkip = 1;
    // After \*: the group is skipped unless its first word names a destination the reader knows.
    bool starred = false;
    Dest beforeStar = Dest::Body;
};

struct Border {
    bool set = false; // given for this cell, even if as none
    bool on = false;
    int width = 15;
    QTextFrameFormat::BorderStyle style = QTextFrameFormat::BorderStyle_Solid;
};

enum Side { Top, Left, Bottom, Right };

struct CellDef {
    int right = 0;
    std::array<Border, 4> border;
};

struct RowDef {
    std::vector<CellDef> cells;
    CellDef pending;
    std::array<Border, 4> rowBorder;
    int gap = 108;
    int left = 0;
    int height = 0;
    Qt::Alignment align = Qt::AlignLeft;
};

struct Run {
    QString text;
    QTextCharFormat format;
};

struct Para {
    QTextBlockFormat format;
    QTextCharFormat markFormat;
    std::vector<Run> runs;
};

struct Cell {
    std::vector<Para> paras;
};

struct FontEntry {
    QString name;
    int charset = -1;
    QFont::StyleHint hint = QFont::AnyStyle;
};

// Which border the next \brdr... words describe.
enum class BorderTarget { None, Cell, Row, ParaBottom, Other };

enum class Cw {
    Unknown,
    // header and destinations
    Rtf, Ansi, Mac, Pc, Pca, AnsiCpg, Deff, Uc, U, FontTable, ColorTable, SkipDest, Bin,
    Red, Green, Blue, F, FCharset, FNil, FRoman, FSwiss, FModern, FScript, FDecor, FTech,
    // characters
    Par, Line, Tab, Page, Sect, Emdash, Endash, Bullet, LQuote, RQuote, LDblQuote, RDblQuote,
    Emspace, Enspace, Qmspace, Zwj, Zwnj, Ltrmark, Rtlmark,
    // character formatting
    Plain, B, I, Ul, UlNone, Strike, Fs, Cf, Cb, V, Caps, SCaps, Super, Sub, NoSuperSub,
    // paragraph formatting
    Pard, Ql, Qc, Qr, Qj, Li, Ri, Fi, Sb, Sa, Sl, SlMult, Intbl, PageBb, Tx, Tqr, Tqc, Tqdec, Tb,
    TlLeader, BrdrB, BrdrOtherPara,
    // tables
    Trowd, Trgaph, Trleft, Trrh, Trqc, Trqr, Trql, Cellx, Cell, Row, NestCell, NestRow,
    ClBrdrT, ClBrdrL, ClBrdrB, ClBrdrR, TrBrdrT, TrBrdrL, TrBrdrB, TrBrdrR, TrBrdrOther,
    BrdrStyle, BrdrDouble, BrdrDot, BrdrDash, BrdrNone, BrdrW,
    // right to left
    RtlPar, LtrPar,
    // headers and footers, in the order of PageParts::Slot
    Header, HeaderL, HeaderR, HeaderF, Footer, FooterL, FooterR, FooterF, TitlePg, FacingP, HeaderY, FooterY,
    // pictures and shapes
    Pict, PngBlip, JpegBlip, OtherBlip, PicW, PicH, PicWGoal, PicHGoal, PicScaleX, PicScaleY,
    ShpPict, Shp, ShpInst, ShpLeft, ShpTop, ShpRight, ShpBottom, Sn, Sv,
    // fields
    FldInst, FldRslt,
};

const QHash<QByteArray, Cw>& controlWords();

// One pass over a file: a lexer feeding groups, control words and text into a document builder.
// What a picture group has said about itself so far.
struct Picture {
    enum Kind { None, Png, Jpeg, Other } kind = None;
    QByteArray data;
    bool highNibble = true;
    int width = 0, height = 0;         // \picw \pich
    int goalWidth = 0, goalHeight = 0; // \picwgoal \pichgoal, twips
    int scaleX = 100, scaleY = 100;    // percent
    int shapeWidth = 0, shapeHeight = 0; // of the shape it fills, twips
};

// Where paragraphs are being set: the body of the document, or a header or footer of its own.
struct Sink {
    QTextDocument* doc = nullptr;
    QTextCursor cursor;
    QTextTable* table = nullptr;
    int tableCells = 0;
    bool fresh = true;
    bool pageBreakNext = false;
    Para para;
    QString runText;
    CharProps runProps;
    Cell cell;
    std::vector<Cell> rowCells;
    RowDef row;
    TabStop pendingTab;
    size_t tabsInParagraph = 0;
};

class Parser {
public:
    Parser(const QByteArray& data, QTextDocument* doc, PageParts* parts = nullptr)
        : data_(data), doc_(doc), cursor_(doc), parts_(parts)
    {
    }

    void run();

private:
    GroupState& state() { return stack_.back(); }

    // ---- groups

    void openGroup();

    void closeGroup();

    // ---- lexing

    qsizetype controlAt(qsizetype i);

    static bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
    static bool isDigit(char c) { return c >= '0' && c <= '9'; }
    static bool isHex(char c) { return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
    static int hex(char c) { return isDigit(c) ? c - '0' : (c | 0x20) - 'a' + 10; }

    // After \uN the next few characters are the same text for readers without Unicode.
    bool consumeSkipped();

    // ---- text

    void byte(uchar b);

    void flushBytes();

    void text(const QString& s);

    void bodyText(const QString& s, const CharProps& props);

    void tab();

    void flushRun();

    // ---- tables of fonts and colours

    void commitFont();

    void commitColour();

    // ---- formats

    QTextCharFormat charFormat(const CharProps& p) const;

    QTextBlockFormat blockFormat(const ParaProps& p) const;

    // ---- paragraphs, cells and rows

    bool paragraphHasContent() const { return !para_.runs.empty() || !runText_.isEmpty(); }

    Para takeParagraph();

    void endParagraph();

    void pageBreak();

    void endCell();

    void endRow();

    void emitBody(const Para& p);

    static void fillCell(QTextCursor c, const std::vector<Para>& paras);

    void emitRow(std::vector<Cell>& cells);

    void finish();

    // ---- headers, footers, pictures and fields (RtfParts.cpp)

    // A header or footer's group has begun: its paragraphs go to a document of their own until
    // the group closes.
    void beginPart(int slot);
    void endPart();
    void swapSink(Sink& other);
    void beginPicture();
    void pictureByte(uchar b);
    // The picture's group has closed: a PNG or JPEG goes into the paragraph at its size.
    void endPicture();
    // The instruction of a field has been read: a page number or the number of pages is marked.
    void endFieldInstruction();
    // Before a group closes: ends what that group was reading.
    void closingGroup();

    // ---- control words

    Border* borderTarget();

    void control(Cw cw, bool hasParam, int value);

    const QByteArray& data_;
    QTextDocument* doc_;
    QTextCursor cursor_;
    QTextTable* table_ = nullptr;
    int tableCells_ = 0;
    bool fresh_ = true;
    bool finished_ = false;
    bool groupStart_ = false;
    bool pageBreakNext_ = false;

    std::vector<GroupState> stack_;
    int overflow_ = 0;
    int skipLeft_ = 0;
    QByteArray bytes_;
    int codepage_ = 1252;
    Decoder decoder_;

    QHash<int, FontEntry> fonts_;
    int defaultFont_ = 0;
    int fontIndex_ = 0;
    int fontCharset_ = -1;
    QFont::StyleHint fontHint_ = QFont::AnyStyle;
    QString fontName_;

    std::vector<QColor> colours_;
    int red_ = 0, green_ = 0, blue_ = 0;
    bool haveColour_ = false;

    Para para_;
    QString runText_;
    CharProps runProps_;
    Cell cell_;
    std::vector<Cell> rowCells_;
    RowDef row_;
    TabStop pendingTab_;
    size_t tabsInParagraph_ = 0;
    BorderTarget borderTarget_ = BorderTarget::None;
    Side borderSide_ = Top;

    PageParts* parts_ = nullptr;
    size_t partDepth_ = 0; // the depth of the header or footer group being read; 0 for none
    Sink body_;            // the body's state while a header or footer is read
    std::shared_ptr<QTextDocument> partDoc_;
    Picture picture_;
    size_t pictureDepth_ = 0;
    qsizetype picturesBytes_ = 0;
    int pictures_ = 0;
    int shapeLeft_ = 0, shapeTop_ = 0, shapeRight_ = 0, shapeBottom_ = 0;
    QString propertyName_;
    QString fieldInstruction_;
    size_t fieldDepth_ = 0;
    int pendingField_ = 0;
};

} // namespace kestrel::rtf
