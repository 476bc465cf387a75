#include "printing/RtfReader.h"

#include <QColor>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QList>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextTable>

#include <iconv.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <map>
#include <vector>

namespace kestrel {

namespace {

// Lengths in a rich-text file are twips; the document's are pixels at 96 dots per inch.
qreal pixels(int twips) { return twips / 15.0; }

int clampInt(long long v, int lo, int hi) { return int(std::clamp<long long>(v, lo, hi)); }

// The longest indent or spacing taken from a file: 22 inches, the widest page a word processor offers.
constexpr int kMaxTwips = 31680;
constexpr int kMaxTabs = 64;
constexpr int kMaxTableCells = 20000;

enum class Dest { Body, Skip, FontTable, ColorTable };

struct CharProps {
    int font = -1;
    int halfPoints = 24;
    bool bold = false, italic = false, underline = false, strike = false, hidden = false;
    bool caps = false, smallCaps = false;
    int vertical = 0; // 1 superscript, -1 subscript
    int fg = 0, bg = 0;
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
    std::vector<TabStop> tabs;
};

struct GroupState {
    Dest dest = Dest::Body;
    CharProps chr;
    ParaProps para;
    int unicodeSkip = 1;
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
};

const QHash<QByteArray, Cw>& controlWords()
{
    static const QHash<QByteArray, Cw> table = [] {
        QHash<QByteArray, Cw> t{
            {"rtf", Cw::Rtf}, {"ansi", Cw::Ansi}, {"mac", Cw::Mac}, {"pc", Cw::Pc}, {"pca", Cw::Pca},
            {"ansicpg", Cw::AnsiCpg}, {"deff", Cw::Deff}, {"uc", Cw::Uc}, {"u", Cw::U},
            {"fonttbl", Cw::FontTable}, {"colortbl", Cw::ColorTable}, {"bin", Cw::Bin},
            {"red", Cw::Red}, {"green", Cw::Green}, {"blue", Cw::Blue}, {"f", Cw::F}, {"fcharset", Cw::FCharset},
            {"fnil", Cw::FNil}, {"froman", Cw::FRoman}, {"fswiss", Cw::FSwiss}, {"fmodern", Cw::FModern},
            {"fscript", Cw::FScript}, {"fdecor", Cw::FDecor}, {"ftech", Cw::FTech}, {"fbidi", Cw::FNil},
            {"par", Cw::Par}, {"line", Cw::Line}, {"tab", Cw::Tab}, {"page", Cw::Page}, {"sect", Cw::Sect},
            {"emdash", Cw::Emdash}, {"endash", Cw::Endash}, {"bullet", Cw::Bullet}, {"lquote", Cw::LQuote},
            {"rquote", Cw::RQuote}, {"ldblquote", Cw::LDblQuote}, {"rdblquote", Cw::RDblQuote},
            {"emspace", Cw::Emspace}, {"enspace", Cw::Enspace}, {"qmspace", Cw::Qmspace}, {"zwj", Cw::Zwj},
            {"zwnj", Cw::Zwnj}, {"ltrmark", Cw::Ltrmark}, {"rtlmark", Cw::Rtlmark},
            {"plain", Cw::Plain}, {"b", Cw::B}, {"i", Cw::I}, {"ul", Cw::Ul}, {"ulnone", Cw::UlNone},
            {"strike", Cw::Strike}, {"striked", Cw::Strike}, {"fs", Cw::Fs}, {"cf", Cw::Cf}, {"cb", Cw::Cb},
            {"highlight", Cw::Cb}, {"chcbpat", Cw::Cb}, {"v", Cw::V}, {"caps", Cw::Caps}, {"scaps", Cw::SCaps},
            {"super", Cw::Super}, {"sub", Cw::Sub}, {"nosupersub", Cw::NoSuperSub},
            {"pard", Cw::Pard}, {"ql", Cw::Ql}, {"qc", Cw::Qc}, {"qr", Cw::Qr}, {"qj", Cw::Qj}, {"qd", Cw::Qj},
            {"li", Cw::Li}, {"lin", Cw::Li}, {"ri", Cw::Ri}, {"rin", Cw::Ri}, {"fi", Cw::Fi}, {"sb", Cw::Sb},
            {"sa", Cw::Sa}, {"sl", Cw::Sl}, {"slmult", Cw::SlMult}, {"intbl", Cw::Intbl}, {"pagebb", Cw::PageBb},
            {"tx", Cw::Tx}, {"tqr", Cw::Tqr}, {"tqc", Cw::Tqc}, {"tqdec", Cw::Tqdec}, {"tb", Cw::Tb},
            {"tldot", Cw::TlLeader}, {"tlhyph", Cw::TlLeader}, {"tlul", Cw::TlLeader}, {"tlth", Cw::TlLeader},
            {"tleq", Cw::TlLeader}, {"tlmdot", Cw::TlLeader},
            {"brdrb", Cw::BrdrB}, {"brdrt", Cw::BrdrOtherPara}, {"brdrl", Cw::BrdrOtherPara},
            {"brdrr", Cw::BrdrOtherPara}, {"box", Cw::BrdrOtherPara}, {"brdrbtw", Cw::BrdrOtherPara},
            {"trowd", Cw::Trowd}, {"trgaph", Cw::Trgaph}, {"trleft", Cw::Trleft}, {"trrh", Cw::Trrh},
            {"trqc", Cw::Trqc}, {"trqr", Cw::Trqr}, {"trql", Cw::Trql}, {"cellx", Cw::Cellx}, {"cell", Cw::Cell},
            {"row", Cw::Row}, {"nestcell", Cw::NestCell}, {"nestrow", Cw::NestRow},
            {"clbrdrt", Cw::ClBrdrT}, {"clbrdrl", Cw::ClBrdrL}, {"clbrdrb", Cw::ClBrdrB}, {"clbrdrr", Cw::ClBrdrR},
            {"trbrdrt", Cw::TrBrdrT}, {"trbrdrl", Cw::TrBrdrL}, {"trbrdrb", Cw::TrBrdrB}, {"trbrdrr", Cw::TrBrdrR},
            {"trbrdrh", Cw::TrBrdrOther}, {"trbrdrv", Cw::TrBrdrOther},
            {"brdrs", Cw::BrdrStyle}, {"brdrth", Cw::BrdrStyle}, {"brdrsh", Cw::BrdrStyle},
            {"brdrhair", Cw::BrdrStyle}, {"brdrsingle", Cw::BrdrStyle}, {"brdrdb", Cw::BrdrDouble},
            {"brdrtriple", Cw::BrdrDouble}, {"brdrdot", Cw::BrdrDot}, {"brdrdash", Cw::BrdrDash},
            {"brdrdashsm", Cw::BrdrDash}, {"brdrdashd", Cw::BrdrDash}, {"brdrnone", Cw::BrdrNone},
            {"brdrnil", Cw::BrdrNone}, {"brdrw", Cw::BrdrW},
        };
        // Underline variants all underline; their look is beyond what the document can draw.
        for (const char* u : {"uld", "uldash", "uldashd", "uldashdd", "uldb", "ulhwave", "ulldash", "ulth",
                              "ulthd", "ulthdash", "ulthdashd", "ulthdashdd", "ulthldash", "ululdbwave", "ulw",
                              "ulwave"})
            t.insert(u, Cw::Ul);
        // Groups whose content is never part of the printed text.
        for (const char* d :
             {"stylesheet", "info", "pict", "object", "objdata", "header", "headerl", "headerr", "headerf",
              "footer", "footerl", "footerr", "footerf", "footnote", "annotation", "atnid", "atnauthor",
              "fldinst", "themedata", "colorschememapping", "latentstyles", "datastore", "listtable",
              "listoverridetable", "rsidtbl", "generator", "xmlnstbl", "filetbl", "revtbl", "pgdsctbl",
              "userprops", "docvar", "bkmkstart", "bkmkend", "pn", "nonshppict", "shp", "shpinst", "xe", "tc",
              "template", "private", "buptim", "creatim", "printim", "revtim", "operator", "author", "title",
              "subject", "keywords", "comment", "doccomm", "company", "fchars", "lchars", "pnseclvl",
              "mmathPr", "wgrffmtfilter", "falt", "panose", "fldtype", "formfield", "datafield"})
            t.insert(d, Cw::SkipDest);
        return t;
    }();
    return table;
}

int codepageOfCharset(int charset)
{
    switch (charset) {
    case 0: return 1252;
    case 77: return 10000;
    case 128: return 932;
    case 129: return 949;
    case 134: return 936;
    case 136: return 950;
    case 161: return 1253;
    case 162: return 1254;
    case 163: return 1258;
    case 177: return 1255;
    case 178: return 1256;
    case 186: return 1257;
    case 204: return 1251;
    case 222: return 874;
    case 238: return 1250;
    case 255: return 437;
    default: return 0;
    }
}

QByteArray iconvName(int codepage)
{
    switch (codepage) {
    case 65001: return "UTF-8";
    case 10000: return "MACINTOSH";
    case 936: return "GBK";
    case 949: return "UHC";
    case 950: return "BIG5";
    case 20127: return "ASCII";
    case 28591: return "ISO-8859-1";
    default: return "CP" + QByteArray::number(codepage);
    }
}

// Decodes the 8-bit text of a file through the C library's converters, one per code page.
class Decoder {
public:
    ~Decoder()
    {
        for (auto& [cp, cd] : open_)
            if (cd != iconv_t(-1))
                iconv_close(cd);
    }

    QString decode(const QByteArray& bytes, int codepage)
    {
        iconv_t cd = converter(codepage);
        if (cd == iconv_t(-1))
            return QString::fromLatin1(bytes);
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        QString out;
        out.reserve(bytes.size());
        std::vector<char16_t> buffer(size_t(bytes.size()) * 2 + 4);
        char* in = const_cast<char*>(bytes.constData());
        size_t inLeft = size_t(bytes.size());
        while (inLeft > 0) {
            char* outPtr = reinterpret_cast<char*>(buffer.data());
            size_t outLeft = buffer.size() * sizeof(char16_t);
            const size_t r = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
            out.append(QStringView(buffer.data(), qsizetype((reinterpret_cast<char16_t*>(outPtr) - buffer.data()))));
            if (r == size_t(-1)) {
                if (errno == E2BIG)
                    continue;
                // A byte the code page has no character for, or half a character at the end.
                out.append(QChar::ReplacementCharacter);
                ++in;
                --inLeft;
                iconv(cd, nullptr, nullptr, nullptr, nullptr);
            }
        }
        return out;
    }

private:
    iconv_t converter(int codepage)
    {
        auto it = open_.find(codepage);
        if (it != open_.end())
            return it->second;
        iconv_t cd = iconv_open("UTF-16LE", iconvName(codepage).constData());
        open_.emplace(codepage, cd);
        return cd;
    }
    std::map<int, iconv_t> open_;
};

// Symbol fonts put pictures where letters would be; a form mostly uses them for bullets and boxes.
QChar symbolCharacter(const QString& font, uchar c)
{
    if (font.contains(QLatin1String("Wingdings"), Qt::CaseInsensitive)) {
        switch (c) {
        case 0x6C: return QChar(0x25CF); // ●
        case 0x6E: return QChar(0x25A0); // ■
        case 0x6F: return QChar(0x25A1); // □
        case 0x71: return QChar(0x2751); // ❑
        case 0x9F: return QChar(0x2022); // •
        case 0xA7: return QChar(0x25AA); // ▪
        case 0xA8: return QChar(0x25FB); // ◻
        case 0xFC: return QChar(0x2713); // ✓
        case 0xFD: return QChar(0x2612); // ☒
        case 0xFE: return QChar(0x2611); // ☑
        default: break;
        }
    }
    if (c == 0xB7)
        return QChar(0x2022);
    return QChar(QLatin1Char(char(c)));
}

class Parser {
public:
    Parser(const QByteArray& data, QTextDocument* doc) : data_(data), doc_(doc), cursor_(doc) {}

    void run()
    {
        stack_.push_back(GroupState{});
        qsizetype i = data_.indexOf('{');
        const qsizetype n = data_.size();
        while (i >= 0 && i < n && !finished_) {
            const char c = data_[i];
            if (c == '{') {
                openGroup();
                ++i;
            } else if (c == '}') {
                closeGroup();
                ++i;
            } else if (c == '\\') {
                i = controlAt(i + 1);
            } else if (c == '\r' || c == '\n' || c == '\0') {
                ++i;
            } else if (c == '\t') {
                flushBytes();
                tab();
                ++i;
            } else {
                byte(uchar(c));
                ++i;
            }
        }
        flushBytes();
        finish();
    }

private:
    GroupState& state() { return stack_.back(); }

    // ---- groups

    void openGroup()
    {
        flushBytes();
        skipLeft_ = 0;
        if (int(stack_.size()) >= RtfReader::kMaxDepth)
            ++overflow_;
        else
            stack_.push_back(stack_.back());
        groupStart_ = true;
    }

    void closeGroup()
    {
        flushBytes();
        skipLeft_ = 0;
        groupStart_ = false;
        if (overflow_ > 0) {
            --overflow_;
            return;
        }
        if (state().dest == Dest::FontTable && !fontName_.isEmpty())
            commitFont();
        if (stack_.size() <= 2) {
            // The outermost group has closed: that is the end of the document, and its last
            // paragraph still has the formatting the group gave it.
            finished_ = true;
            return;
        }
        stack_.pop_back();
    }

    // ---- lexing

    qsizetype controlAt(qsizetype i)
    {
        const qsizetype n = data_.size();
        if (i >= n)
            return n;
        const char c = data_[i];
        const bool atGroupStart = groupStart_;
        groupStart_ = false;
        if (!isLetter(c)) {
            if (c == '\'') {
                if (i + 2 < n && isHex(data_[i + 1]) && isHex(data_[i + 2])) {
                    byte(uchar(hex(data_[i + 1]) * 16 + hex(data_[i + 2])));
                    return i + 3;
                }
                return std::min(n, i + 1);
            }
            flushBytes();
            if (c == '*') {
                if (atGroupStart)
                    state().dest = Dest::Skip;
                groupStart_ = atGroupStart;
                return i + 1;
            }
            if (consumeSkipped())
                return i + 1;
            switch (c) {
            case '\\':
            case '{':
            case '}': text(QString(QLatin1Char(c))); break;
            case '~': text(QString(QChar(0x00A0))); break;
            case '_': text(QString(QChar(0x2011))); break;
            case '\r':
            case '\n': endParagraph(); break;
            default: break; // \- optional hyphen, \| \: index marks
            }
            return i + 1;
        }
        qsizetype j = i;
        while (j < n && isLetter(data_[j]))
            ++j;
        // Control words are at most 32 letters; a longer one is no word this reader knows.
        const QByteArray word = j - i <= 32 ? data_.mid(i, j - i) : QByteArray();
        bool hasParam = false;
        long long param = 0;
        bool negative = false;
        if (j < n && data_[j] == '-' && j + 1 < n && isDigit(data_[j + 1])) {
            negative = true;
            ++j;
        }
        while (j < n && isDigit(data_[j])) {
            hasParam = true;
            if (param < INT_MAX)
                param = param * 10 + (data_[j] - '0');
            ++j;
        }
        if (j < n && data_[j] == ' ')
            ++j;
        const int value = clampInt(negative ? -param : param, INT_MIN + 1, INT_MAX);
        const Cw cw = controlWords().value(word, Cw::Unknown);
        if (cw == Cw::Bin) {
            // Raw binary data follows; it is skipped whole, never read as text.
            flushBytes();
            return hasParam && value > 0 ? std::min<qsizetype>(n, j + value) : j;
        }
        if (cw != Cw::U && cw != Cw::Uc && consumeSkipped())
            return j;
        flushBytes();
        control(cw, hasParam, value);
        return j;
    }

    static bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
    static bool isDigit(char c) { return c >= '0' && c <= '9'; }
    static bool isHex(char c) { return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
    static int hex(char c) { return isDigit(c) ? c - '0' : (c | 0x20) - 'a' + 10; }

    // After \uN the next few characters are the same text for readers without Unicode.
    bool consumeSkipped()
    {
        if (skipLeft_ <= 0)
            return false;
        --skipLeft_;
        return true;
    }

    // ---- text

    void byte(uchar b)
    {
        if (consumeSkipped())
            return;
        if (state().dest == Dest::Skip)
            return;
        bytes_.append(char(b));
    }

    void flushBytes()
    {
        if (bytes_.isEmpty())
            return;
        const QByteArray bytes = bytes_;
        bytes_.clear();
        const FontEntry font = fonts_.value(state().chr.font >= 0 ? state().chr.font : defaultFont_);
        if (state().dest == Dest::Body && font.charset == 2) {
            QString s;
            for (char b : bytes)
                s.append(symbolCharacter(font.name, uchar(b)));
            text(s);
            return;
        }
        int cp = state().dest == Dest::Body ? codepageOfCharset(font.charset) : 0;
        if (cp == 0)
            cp = codepage_;
        bool ascii = true;
        for (char b : bytes)
            ascii = ascii && uchar(b) < 0x80;
        text(ascii ? QString::fromLatin1(bytes) : decoder_.decode(bytes, cp));
    }

    void text(const QString& s)
    {
        switch (state().dest) {
        case Dest::Skip: return;
        case Dest::FontTable:
            for (QChar ch : s) {
                if (ch == u';')
                    commitFont();
                else
                    fontName_.append(ch);
            }
            return;
        case Dest::ColorTable:
            for (QChar ch : s)
                if (ch == u';')
                    commitColour();
            return;
        case Dest::Body: bodyText(s, state().chr); return;
        }
    }

    void bodyText(const QString& s, const CharProps& props)
    {
        if (props.hidden)
            return;
        if (!(props == runProps_))
            flushRun();
        runProps_ = props;
        for (QChar ch : s) {
            const char16_t u = ch.unicode();
            // Control characters and the document's own structure marks never come from a file.
            if ((u < 0x20 && u != '\t') || (u >= 0xFDD0 && u <= 0xFDEF) || u == 0xFFFC || u == 0xFFFE ||
                u == 0xFFFF || u == 0x2029)
                continue;
            runText_.append(ch);
        }
    }

    void tab()
    {
        if (state().dest != Dest::Body)
            return;
        // A tab stop with a leader makes a line to write on; underlining the tab draws it. The
        // n-th tab of a paragraph is taken to reach its n-th stop, as it does on a form.
        CharProps props = state().chr;
        const auto& stops = state().para.tabs;
        if (tabsInParagraph_ < stops.size() && stops[tabsInParagraph_].leader)
            props.underline = true;
        ++tabsInParagraph_;
        bodyText(QStringLiteral("\t"), props);
    }

    void flushRun()
    {
        if (runText_.isEmpty())
            return;
        para_.runs.push_back({runText_, charFormat(runProps_)});
        runText_.clear();
    }

    // ---- tables of fonts and colours

    void commitFont()
    {
        FontEntry& f = fonts_[fontIndex_];
        f.name = fontName_.trimmed();
        f.charset = fontCharset_;
        f.hint = fontHint_;
        fontName_.clear();
        fontCharset_ = -1;
        fontHint_ = QFont::AnyStyle;
    }

    void commitColour()
    {
        colours_.push_back(haveColour_ ? QColor(red_, green_, blue_) : QColor());
        red_ = green_ = blue_ = 0;
        haveColour_ = false;
    }

    // ---- formats

    QTextCharFormat charFormat(const CharProps& p) const
    {
        QTextCharFormat f;
        const auto font = fonts_.find(p.font >= 0 ? p.font : defaultFont_);
        if (font != fonts_.end() && !font->name.isEmpty()) {
            f.setFontFamilies(QStringList{font->name});
            if (font->hint != QFont::AnyStyle)
                f.setFontStyleHint(font->hint);
        }
        f.setFontPointSize(p.halfPoints / 2.0);
        f.setFontWeight(p.bold ? QFont::Bold : QFont::Normal);
        f.setFontItalic(p.italic);
        f.setFontUnderline(p.underline);
        f.setFontStrikeOut(p.strike);
        if (p.caps)
            f.setFontCapitalization(QFont::AllUppercase);
        else if (p.smallCaps)
            f.setFontCapitalization(QFont::SmallCaps);
        if (p.vertical > 0)
            f.setVerticalAlignment(QTextCharFormat::AlignSuperScript);
        else if (p.vertical < 0)
            f.setVerticalAlignment(QTextCharFormat::AlignSubScript);
        if (p.fg > 0 && p.fg < int(colours_.size()) && colours_[size_t(p.fg)].isValid())
            f.setForeground(colours_[size_t(p.fg)]);
        if (p.bg > 0 && p.bg < int(colours_.size()) && colours_[size_t(p.bg)].isValid())
            f.setBackground(colours_[size_t(p.bg)]);
        return f;
    }

    QTextBlockFormat blockFormat(const ParaProps& p) const
    {
        QTextBlockFormat b;
        b.setAlignment(p.align);
        const int left = std::clamp(p.left, 0, kMaxTwips);
        b.setLeftMargin(pixels(left));
        b.setRightMargin(pixels(std::clamp(p.right, 0, kMaxTwips)));
        b.setTextIndent(pixels(std::clamp(p.first, -left, kMaxTwips)));
        b.setTopMargin(pixels(std::clamp(p.before, 0, kMaxTwips)));
        b.setBottomMargin(pixels(std::clamp(p.after, 0, kMaxTwips)));
        if (p.lineSpacing != 0) {
            if (p.lineMultiple)
                b.setLineHeight(std::clamp(p.lineSpacing * 100.0 / 240.0, 50.0, 500.0),
                                QTextBlockFormat::ProportionalHeight);
            else if (p.lineSpacing > 0)
                b.setLineHeight(pixels(std::min(p.lineSpacing, kMaxTwips)), QTextBlockFormat::MinimumHeight);
            else
                b.setLineHeight(pixels(std::min(-p.lineSpacing, kMaxTwips)), QTextBlockFormat::FixedHeight);
        }
        if (!p.tabs.empty()) {
            QList<QTextOption::Tab> tabs;
            for (const TabStop& t : p.tabs)
                tabs.append(QTextOption::Tab(pixels(t.twips), t.type, t.type == QTextOption::DelimiterTab ? u'.' : QChar()));
            b.setTabPositions(tabs);
        }
        if (p.ruleBelow)
            b.setProperty(QTextFormat::BlockTrailingHorizontalRulerWidth, QTextLength(QTextLength::PercentageLength, 100));
        if (p.pageBreakBefore)
            b.setPageBreakPolicy(QTextFormat::PageBreak_AlwaysBefore);
        return b;
    }

    // ---- paragraphs, cells and rows

    bool paragraphHasContent() const { return !para_.runs.empty() || !runText_.isEmpty(); }

    Para takeParagraph()
    {
        flushRun();
        Para p = std::move(para_);
        para_ = Para{};
        tabsInParagraph_ = 0;
        p.format = blockFormat(state().para);
        p.markFormat = charFormat(state().chr);
        if (pageBreakNext_ && !state().para.inTable) {
            p.format.setPageBreakPolicy(QTextFormat::PageBreak_AlwaysBefore);
            pageBreakNext_ = false;
        }
        return p;
    }

    void endParagraph()
    {
        if (state().dest != Dest::Body)
            return;
        Para p = takeParagraph();
        if (state().para.inTable) {
            cell_.paras.push_back(std::move(p));
            return;
        }
        if (!rowCells_.empty() || !cell_.paras.empty())
            endRow();
        if (table_ && fresh_ && p.format.topMargin() > 0) {
            // The layout drops the space before a paragraph that follows a table; the table
            // keeps it below itself instead.
            QTextTableFormat tf = table_->format();
            tf.setBottomMargin(p.format.topMargin());
            table_->setFormat(tf);
        }
        table_ = nullptr;
        emitBody(p);
    }

    void pageBreak()
    {
        if (state().dest != Dest::Body)
            return;
        if (paragraphHasContent())
            endParagraph();
        pageBreakNext_ = true;
    }

    void endCell()
    {
        if (state().dest != Dest::Body)
            return;
        if (paragraphHasContent() || cell_.paras.empty())
            cell_.paras.push_back(takeParagraph());
        if (int(rowCells_.size()) < RtfReader::kMaxColumns) {
            rowCells_.push_back(std::move(cell_));
        } else {
            auto& last = rowCells_.back().paras;
            std::move(cell_.paras.begin(), cell_.paras.end(), std::back_inserter(last));
        }
        cell_ = Cell{};
    }

    void endRow()
    {
        if (paragraphHasContent() || !cell_.paras.empty())
            endCell();
        if (rowCells_.empty())
            return;
        std::vector<Cell> cells = std::move(rowCells_);
        rowCells_.clear();
        emitRow(cells);
    }

    void emitBody(const Para& p)
    {
        if (fresh_) {
            cursor_.setBlockFormat(p.format);
            cursor_.setBlockCharFormat(p.markFormat);
            fresh_ = false;
        } else {
            cursor_.insertBlock(p.format, p.markFormat);
        }
        for (const Run& r : p.runs)
            cursor_.insertText(r.text, r.format);
    }

    static void fillCell(QTextCursor c, const std::vector<Para>& paras)
    {
        bool first = true;
        for (const Para& p : paras) {
            if (first) {
                c.setBlockFormat(p.format);
                c.setBlockCharFormat(p.markFormat);
                first = false;
            } else {
                c.insertBlock(p.format, p.markFormat);
            }
            for (const Run& r : p.runs)
                c.insertText(r.text, r.format);
        }
    }

    void emitRow(std::vector<Cell>& cells)
    {
        const int columns = int(std::max(cells.size(), std::min(row_.cells.size(), size_t(RtfReader::kMaxColumns))));
        if (columns <= 0)
            return;
        if (tableCells_ + columns > kMaxTableCells) {
            // Beyond any real form: the rest is set as plain paragraphs, which cost far less.
            table_ = nullptr;
            for (const Cell& c : cells)
                for (const Para& p : c.paras)
                    emitBody(p);
            return;
        }
        tableCells_ += columns;
        if (table_ && table_->columns() == columns) {
            table_->appendRows(1);
        } else {
            QTextTableFormat tf;
            tf.setBorder(0);
            tf.setBorderCollapse(true);
            tf.setCellSpacing(0);
            tf.setCellPadding(0);
            tf.setAlignment(row_.align);
            tf.setLeftMargin(pixels(std::clamp(row_.left, 0, kMaxTwips)));
            QList<QTextLength> widths;
            int previous = row_.left;
            for (int c = 0; c < columns; ++c) {
                if (c < int(row_.cells.size())) {
                    const int right = row_.cells[size_t(c)].right;
                    widths.append(QTextLength(QTextLength::FixedLength, pixels(std::clamp(right - previous, 15, kMaxTwips))));
                    previous = right;
                } else {
                    widths.append(QTextLength(QTextLength::VariableLength, 0));
                }
            }
            tf.setColumnWidthConstraints(widths);
            if (pageBreakNext_) {
                tf.setPageBreakPolicy(QTextFormat::PageBreak_AlwaysBefore);
                pageBreakNext_ = false;
            }
            if (!fresh_)
                cursor_.movePosition(QTextCursor::End);
            table_ = cursor_.insertTable(1, columns, tf);
            cursor_ = QTextCursor(doc_);
            cursor_.movePosition(QTextCursor::End);
            fresh_ = true;
        }
        const int row = table_->rows() - 1;
        for (int c = 0; c < columns; ++c) {
            QTextTableCell cell = table_->cellAt(row, c);
            QTextTableCellFormat cf;
            const qreal pad = pixels(std::clamp(row_.gap, 0, 1440));
            cf.setLeftPadding(pad);
            cf.setRightPadding(pad);
            cf.setTopPadding(1);
            cf.setBottomPadding(1);
            const CellDef def = c < int(row_.cells.size()) ? row_.cells[size_t(c)] : CellDef{};
            for (int side = Top; side <= Right; ++side) {
                Border b = def.border[size_t(side)];
                if (!b.set)
                    b = row_.rowBorder[size_t(side)];
                const qreal width = b.on ? std::max<qreal>(1.0, pixels(std::clamp(b.width, 1, 150))) : 0;
                switch (side) {
                case Top: cf.setTopBorder(width); cf.setTopBorderStyle(b.style); break;
                case Left: cf.setLeftBorder(width); cf.setLeftBorderStyle(b.style); break;
                case Bottom: cf.setBottomBorder(width); cf.setBottomBorderStyle(b.style); break;
                case Right: cf.setRightBorder(width); cf.setRightBorderStyle(b.style); break;
                }
                if (b.on)
                    cf.setBorderBrush(Qt::black);
            }
            if (c < int(cells.size())) {
                std::vector<Para>& paras = cells[size_t(c)].paras;
                // A row height gives the box its size even when there is nothing written in it.
                if (row_.height != 0 && paras.size() == 1)
                    paras[0].format.setLineHeight(pixels(std::clamp(std::abs(row_.height), 0, kMaxTwips)) - 2,
                                                  QTextBlockFormat::MinimumHeight);
                fillCell(cell.firstCursorPosition(), paras);
            }
            // The cell's own format shares its mark with the first paragraph's: set it last.
            QTextCharFormat merged = cell.format();
            merged.merge(cf);
            cell.setFormat(merged);
        }
    }

    void finish()
    {
        // A file cut off inside a skipped group still ends in the text it was reading.
        while (stack_.size() > 1 && state().dest != Dest::Body)
            stack_.pop_back();
        if (paragraphHasContent())
            endParagraph();
        if (!rowCells_.empty() || !cell_.paras.empty())
            endRow();
    }

    // ---- control words

    Border* borderTarget()
    {
        switch (borderTarget_) {
        case BorderTarget::Cell: return &row_.pending.border[size_t(borderSide_)];
        case BorderTarget::Row: return &row_.rowBorder[size_t(borderSide_)];
        default: return nullptr;
        }
    }

    void control(Cw cw, bool hasParam, int value)
    {
        GroupState& s = state();
        if (s.dest == Dest::Skip)
            return;
        const bool on = !hasParam || value != 0;
        switch (cw) {
        case Cw::Unknown:
        case Cw::Rtf:
        case Cw::Bin: break;
        case Cw::Ansi: codepage_ = 1252; break;
        case Cw::Mac: codepage_ = 10000; break;
        case Cw::Pc: codepage_ = 437; break;
        case Cw::Pca: codepage_ = 850; break;
        case Cw::AnsiCpg:
            if (value > 0)
                codepage_ = value;
            break;
        case Cw::Deff:
            defaultFont_ = value;
            if (s.chr.font < 0)
                s.chr.font = value;
            break;
        case Cw::Uc: s.unicodeSkip = std::clamp(value, 0, 8); break;
        case Cw::U: {
            const int u = value < 0 ? value + 65536 : value;
            if (u > 0 && u <= 0xFFFF)
                text(QString(QChar(char16_t(u))));
            skipLeft_ = s.unicodeSkip;
            break;
        }
        case Cw::FontTable: s.dest = Dest::FontTable; break;
        case Cw::ColorTable:
            s.dest = Dest::ColorTable;
            colours_.clear();
            break;
        case Cw::SkipDest: s.dest = Dest::Skip; break;
        case Cw::Red: red_ = std::clamp(value, 0, 255); haveColour_ = true; break;
        case Cw::Green: green_ = std::clamp(value, 0, 255); haveColour_ = true; break;
        case Cw::Blue: blue_ = std::clamp(value, 0, 255); haveColour_ = true; break;
        case Cw::F:
            if (s.dest == Dest::FontTable) {
                if (!fontName_.isEmpty())
                    commitFont();
                fontIndex_ = value;
            } else {
                s.chr.font = value;
            }
            break;
        case Cw::FCharset: fontCharset_ = value; break;
        case Cw::FNil: break;
        case Cw::FRoman: fontHint_ = QFont::Serif; break;
        case Cw::FSwiss: fontHint_ = QFont::SansSerif; break;
        case Cw::FModern: fontHint_ = QFont::TypeWriter; break;
        case Cw::FScript: fontHint_ = QFont::Cursive; break;
        case Cw::FDecor: fontHint_ = QFont::Decorative; break;
        case Cw::FTech: fontHint_ = QFont::AnyStyle; fontCharset_ = 2; break;

        case Cw::Par: endParagraph(); break;
        case Cw::Sect: endParagraph(); break;
        case Cw::Line: text(QString(QChar::LineSeparator)); break;
        case Cw::Tab: tab(); break;
        case Cw::Page: pageBreak(); break;
        case Cw::Emdash: text(QString(QChar(0x2014))); break;
        case Cw::Endash: text(QString(QChar(0x2013))); break;
        case Cw::Bullet: text(QString(QChar(0x2022))); break;
        case Cw::LQuote: text(QString(QChar(0x2018))); break;
        case Cw::RQuote: text(QString(QChar(0x2019))); break;
        case Cw::LDblQuote: text(QString(QChar(0x201C))); break;
        case Cw::RDblQuote: text(QString(QChar(0x201D))); break;
        case Cw::Emspace: text(QString(QChar(0x2003))); break;
        case Cw::Enspace: text(QString(QChar(0x2002))); break;
        case Cw::Qmspace: text(QString(QChar(0x2005))); break;
        case Cw::Zwj: text(QString(QChar(0x200D))); break;
        case Cw::Zwnj: text(QString(QChar(0x200C))); break;
        case Cw::Ltrmark:
        case Cw::Rtlmark: break;

        case Cw::Plain: {
            CharProps plain;
            plain.font = defaultFont_;
            s.chr = plain;
            break;
        }
        case Cw::B: s.chr.bold = on; break;
        case Cw::I: s.chr.italic = on; break;
        case Cw::Ul: s.chr.underline = on; break;
        case Cw::UlNone: s.chr.underline = false; break;
        case Cw::Strike: s.chr.strike = on; break;
        case Cw::Fs: s.chr.halfPoints = hasParam && value > 0 ? std::min(value, 3276) : 24; break;
        case Cw::Cf: s.chr.fg = std::max(0, value); break;
        case Cw::Cb: s.chr.bg = std::max(0, value); break;
        case Cw::V: s.chr.hidden = on; break;
        case Cw::Caps: s.chr.caps = on; break;
        case Cw::SCaps: s.chr.smallCaps = on; break;
        case Cw::Super: s.chr.vertical = 1; break;
        case Cw::Sub: s.chr.vertical = -1; break;
        case Cw::NoSuperSub: s.chr.vertical = 0; break;

        case Cw::Pard:
            s.para = ParaProps{};
            borderTarget_ = BorderTarget::None;
            break;
        case Cw::Ql: s.para.align = Qt::AlignLeft; break;
        case Cw::Qc: s.para.align = Qt::AlignHCenter; break;
        case Cw::Qr: s.para.align = Qt::AlignRight; break;
        case Cw::Qj: s.para.align = Qt::AlignJustify; break;
        case Cw::Li: s.para.left = value; break;
        case Cw::Ri: s.para.right = value; break;
        case Cw::Fi: s.para.first = value; break;
        case Cw::Sb: s.para.before = value; break;
        case Cw::Sa: s.para.after = value; break;
        case Cw::Sl: s.para.lineSpacing = std::clamp(value, -kMaxTwips, kMaxTwips); break;
        case Cw::SlMult: s.para.lineMultiple = value != 0; break;
        case Cw::Intbl: s.para.inTable = on; break;
        case Cw::PageBb: s.para.pageBreakBefore = on; break;
        case Cw::Tx:
            if (int(s.para.tabs.size()) < kMaxTabs) {
                pendingTab_.twips = std::clamp(value, 0, kMaxTwips);
                s.para.tabs.push_back(pendingTab_);
            }
            pendingTab_ = TabStop{};
            break;
        case Cw::Tqr: pendingTab_.type = QTextOption::RightTab; break;
        case Cw::Tqc: pendingTab_.type = QTextOption::CenterTab; break;
        case Cw::Tqdec: pendingTab_.type = QTextOption::DelimiterTab; break;
        case Cw::Tb: pendingTab_ = TabStop{}; break;
        case Cw::TlLeader: pendingTab_.leader = true; break;
        case Cw::BrdrB:
            s.para.ruleBelow = true;
            borderTarget_ = BorderTarget::ParaBottom;
            break;
        case Cw::BrdrOtherPara: borderTarget_ = BorderTarget::Other; break;

        case Cw::Trowd:
            row_ = RowDef{};
            borderTarget_ = BorderTarget::None;
            break;
        case Cw::Trgaph: row_.gap = std::clamp(value, 0, 1440); break;
        case Cw::Trleft: row_.left = std::clamp(value, -kMaxTwips, kMaxTwips); break;
        case Cw::Trrh: row_.height = std::clamp(value, -kMaxTwips, kMaxTwips); break;
        case Cw::Trqc: row_.align = Qt::AlignHCenter; break;
        case Cw::Trqr: row_.align = Qt::AlignRight; break;
        case Cw::Trql: row_.align = Qt::AlignLeft; break;
        case Cw::Cellx:
            if (int(row_.cells.size()) < RtfReader::kMaxColumns) {
                row_.pending.right = std::clamp(value, -kMaxTwips, kMaxTwips);
                row_.cells.push_back(row_.pending);
            }
            row_.pending = CellDef{};
            borderTarget_ = BorderTarget::None;
            break;
        case Cw::Cell: endCell(); break;
        case Cw::Row:
            if (s.dest == Dest::Body)
                endRow();
            break;
        case Cw::NestCell: text(QStringLiteral(" ")); break;
        case Cw::NestRow: text(QString(QChar::LineSeparator)); break;
        case Cw::ClBrdrT: borderTarget_ = BorderTarget::Cell; borderSide_ = Top; break;
        case Cw::ClBrdrL: borderTarget_ = BorderTarget::Cell; borderSide_ = Left; break;
        case Cw::ClBrdrB: borderTarget_ = BorderTarget::Cell; borderSide_ = Bottom; break;
        case Cw::ClBrdrR: borderTarget_ = BorderTarget::Cell; borderSide_ = Right; break;
        case Cw::TrBrdrT: borderTarget_ = BorderTarget::Row; borderSide_ = Top; break;
        case Cw::TrBrdrL: borderTarget_ = BorderTarget::Row; borderSide_ = Left; break;
        case Cw::TrBrdrB: borderTarget_ = BorderTarget::Row; borderSide_ = Bottom; break;
        case Cw::TrBrdrR: borderTarget_ = BorderTarget::Row; borderSide_ = Right; break;
        case Cw::TrBrdrOther: borderTarget_ = BorderTarget::Other; break;
        case Cw::BrdrStyle:
        case Cw::BrdrDouble:
        case Cw::BrdrDot:
        case Cw::BrdrDash:
            if (Border* b = borderTarget()) {
                b->set = b->on = true;
                b->style = cw == Cw::BrdrDouble ? QTextFrameFormat::BorderStyle_Double
                           : cw == Cw::BrdrDot  ? QTextFrameFormat::BorderStyle_Dotted
                           : cw == Cw::BrdrDash ? QTextFrameFormat::BorderStyle_Dashed
                                                : QTextFrameFormat::BorderStyle_Solid;
            }
            break;
        case Cw::BrdrNone:
            if (Border* b = borderTarget()) {
                b->set = true;
                b->on = false;
            }
            if (borderTarget_ == BorderTarget::ParaBottom)
                s.para.ruleBelow = false;
            break;
        case Cw::BrdrW:
            if (Border* b = borderTarget())
                b->width = std::clamp(value, 1, 150);
            break;
        }
    }

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
};

bool looksLikeRtf(const QByteArray& data)
{
    qsizetype i = 0;
    // A byte-order mark or blank lines before the first brace are forgiven.
    if (data.startsWith("\xEF\xBB\xBF"))
        i = 3;
    while (i < data.size() && (data[i] == ' ' || data[i] == '\r' || data[i] == '\n' || data[i] == '\t'))
        ++i;
    return data.mid(i, 5) == "{\\rtf";
}

} // namespace

bool RtfReader::read(const QByteArray& rtf, QTextDocument* doc)
{
    doc->clear();
    error_.clear();
    if (!looksLikeRtf(rtf)) {
        error_ = QStringLiteral("it is not a rich-text file");
        return false;
    }
    Parser parser(rtf, doc);
    parser.run();
    return true;
}

bool RtfReader::readFile(const QString& path, QTextDocument* doc)
{
    QFile file(path);
    if (!QFileInfo(path).isFile()) {
        doc->clear();
        error_ = QStringLiteral("the file does not exist");
        return false;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        doc->clear();
        error_ = file.errorString();
        return false;
    }
    return read(file.readAll(), doc);
}

} // namespace kestrel
