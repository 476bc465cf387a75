// The control words the reader knows, and what each does to the state of the reading.
#include "printing/RtfParser.h"

namespace kestrel::rtf {

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
            {"rtlpar", Cw::RtlPar}, {"ltrpar", Cw::LtrPar},
            {"header", Cw::Header}, {"headerl", Cw::HeaderL}, {"headerr", Cw::HeaderR}, {"headerf", Cw::HeaderF},
            {"footer", Cw::Footer}, {"footerl", Cw::FooterL}, {"footerr", Cw::FooterR}, {"footerf", Cw::FooterF},
            {"titlepg", Cw::TitlePg}, {"facingp", Cw::FacingP}, {"headery", Cw::HeaderY}, {"footery", Cw::FooterY},
            {"pict", Cw::Pict}, {"pngblip", Cw::PngBlip}, {"jpegblip", Cw::JpegBlip}, {"emfblip", Cw::OtherBlip},
            {"wmetafile", Cw::OtherBlip}, {"macpict", Cw::OtherBlip}, {"pmmetafile", Cw::OtherBlip},
            {"dibitmap", Cw::OtherBlip}, {"wbitmap", Cw::OtherBlip}, {"picw", Cw::PicW}, {"pich", Cw::PicH},
            {"picwgoal", Cw::PicWGoal}, {"pichgoal", Cw::PicHGoal}, {"picscalex", Cw::PicScaleX},
            {"picscaley", Cw::PicScaleY}, {"shppict", Cw::ShpPict}, {"shp", Cw::Shp}, {"shpinst", Cw::ShpInst},
            {"shpleft", Cw::ShpLeft}, {"shptop", Cw::ShpTop}, {"shpright", Cw::ShpRight},
            {"shpbottom", Cw::ShpBottom}, {"sn", Cw::Sn}, {"sv", Cw::Sv}, {"fldinst", Cw::FldInst},
            {"fldrslt", Cw::FldRslt},
        };
        // Underline variants all underline; their look is beyond what the document can draw.
        for (const char* u : {"uld", "uldash", "uldashd", "uldashdd", "uldb", "ulhwave", "ulldash", "ulth",
                              "ulthd", "ulthdash", "ulthdashd", "ulthdashdd", "ulthldash", "ululdbwave", "ulw",
                              "ulwave"})
            t.insert(u, Cw::Ul);
        // Groups whose content is never part of the printed text.
        for (const char* d :
             {"stylesheet", "info", "object", "objdata", "footnote", "annotation", "atnid", "atnauthor", "themedata", "colorschememapping", "latentstyles", "datastore", "listtable",
              "listoverridetable", "rsidtbl", "generator", "xmlnstbl", "filetbl", "revtbl", "pgdsctbl",
              "userprops", "docvar", "bkmkstart", "bkmkend", "pn", "nonshppict", "shprslt", "shptxt", "picprop",
              "blipuid", "xe", "tc",
              "template", "private", "buptim", "creatim", "printim", "revtim", "operator", "author", "title",
              "subject", "keywords", "comment", "doccomm", "company", "fchars", "lchars", "pnseclvl",
              "mmathPr", "wgrffmtfilter", "falt", "panose", "fldtype", "formfield", "datafield"})
            t.insert(d, Cw::SkipDest);
        return t;
    }();
    return table;
}

Border* Parser::borderTarget()
{
    switch (borderTarget_) {
    case BorderTarget::Cell: return &row_.pending.border[size_t(borderSide_)];
    case BorderTarget::Row: return &row_.rowBorder[size_t(borderSide_)];
    default: return nullptr;
    }
}

void Parser::control(Cw cw, bool hasParam, int value)
{
    GroupState& s = state();
    if (s.starred) {
        // The destinations after \* that this reader knows how to read.
        s.starred = false;
        if (s.beforeStar != Dest::Skip && (cw == Cw::ShpPict || cw == Cw::ShpInst || cw == Cw::FldInst))
            s.dest = s.beforeStar;
    }
    if (s.dest == Dest::Skip)
        return;
    if (s.dest == Dest::Picture) {
        // A picture's own words describe it; nothing else in its group is of the document.
        switch (cw) {
        case Cw::PngBlip: picture_.kind = Picture::Png; break;
        case Cw::JpegBlip: picture_.kind = Picture::Jpeg; break;
        case Cw::OtherBlip: picture_.kind = Picture::Other; break;
        case Cw::PicW: picture_.width = std::clamp(value, 0, kMaxTwips); break;
        case Cw::PicH: picture_.height = std::clamp(value, 0, kMaxTwips); break;
        case Cw::PicWGoal: picture_.goalWidth = std::clamp(value, 0, kMaxTwips); break;
        case Cw::PicHGoal: picture_.goalHeight = std::clamp(value, 0, kMaxTwips); break;
        case Cw::PicScaleX: picture_.scaleX = std::clamp(value, 1, 1000); break;
        case Cw::PicScaleY: picture_.scaleY = std::clamp(value, 1, 1000); break;
        default: break;
        }
        return;
    }
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

    case Cw::RtlPar: s.para.rtl = true; break;
    case Cw::LtrPar: s.para.rtl = false; break;
    case Cw::Header:
    case Cw::HeaderL:
    case Cw::HeaderR:
    case Cw::HeaderF:
    case Cw::Footer:
    case Cw::FooterL:
    case Cw::FooterR:
    case Cw::FooterF:
        if (parts_ && partDepth_ == 0 && overflow_ == 0 && s.dest == Dest::Body)
            beginPart(int(cw) - int(Cw::Header));
        else
            s.dest = Dest::Skip;
        break;
    case Cw::TitlePg:
        if (parts_)
            parts_->titlePage = on;
        break;
    case Cw::FacingP:
        if (parts_)
            parts_->facingPages = on;
        break;
    case Cw::HeaderY:
        if (parts_ && hasParam)
            parts_->headerY = std::clamp(value, 0, kMaxTwips);
        break;
    case Cw::FooterY:
        if (parts_ && hasParam)
            parts_->footerY = std::clamp(value, 0, kMaxTwips);
        break;
    case Cw::Pict:
        if ((s.dest == Dest::Body || s.dest == Dest::ShapeValue) && pictureDepth_ == 0 && overflow_ == 0)
            beginPicture();
        else
            s.dest = Dest::Skip;
        break;
    case Cw::PngBlip:
    case Cw::JpegBlip:
    case Cw::OtherBlip:
    case Cw::PicW:
    case Cw::PicH:
    case Cw::PicWGoal:
    case Cw::PicHGoal:
    case Cw::PicScaleX:
    case Cw::PicScaleY:
    case Cw::ShpPict: break; // its \pict is read; the \nonshppict beside it is the same picture for older readers
    case Cw::Shp:
        // A floating shape: its picture is set where the shape is anchored, at the shape's size.
        if (s.dest == Dest::Body) {
            s.dest = Dest::Shape;
            shapeLeft_ = shapeTop_ = shapeRight_ = shapeBottom_ = 0;
        } else {
            s.dest = Dest::Skip;
        }
        break;
    case Cw::ShpInst:
        if (s.dest != Dest::Shape)
            s.dest = Dest::Skip;
        break;
    case Cw::ShpLeft: shapeLeft_ = std::clamp(value, -kMaxTwips, kMaxTwips); break;
    case Cw::ShpTop: shapeTop_ = std::clamp(value, -kMaxTwips, kMaxTwips); break;
    case Cw::ShpRight: shapeRight_ = std::clamp(value, -kMaxTwips, kMaxTwips); break;
    case Cw::ShpBottom: shapeBottom_ = std::clamp(value, -kMaxTwips, kMaxTwips); break;
    case Cw::Sn:
        if (s.dest == Dest::Shape) {
            s.dest = Dest::ShapeName;
            propertyName_.clear();
        } else {
            s.dest = Dest::Skip;
        }
        break;
    case Cw::Sv:
        // Of a shape's properties only the picture it shows (pib) is read, not its fill or outline.
        s.dest = s.dest == Dest::Shape && propertyName_.trimmed() == u"pib" ? Dest::ShapeValue : Dest::Skip;
        break;
    case Cw::FldInst:
        if (s.dest == Dest::Body && fieldDepth_ == 0 && overflow_ == 0) {
            s.dest = Dest::FieldInst;
            fieldInstruction_.clear();
            fieldDepth_ = stack_.size();
        } else {
            s.dest = Dest::Skip;
        }
        break;
    case Cw::FldRslt:
        s.chr.field = pendingField_;
        pendingField_ = 0;
        break;
    }
}

} // namespace kestrel::rtf
