// Reading a file's bytes: groups, control words, hex escapes and text in its code page.
#include "printing/RtfParser.h"

#include <climits>

namespace kestrel::rtf {

void Parser::run()
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

void Parser::openGroup()
{
    flushBytes();
    skipLeft_ = 0;
    if (int(stack_.size()) >= RtfReader::kMaxDepth)
        ++overflow_;
    else
        stack_.push_back(stack_.back());
    groupStart_ = true;
}

void Parser::closeGroup()
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
    closingGroup();
    if (stack_.size() <= 2) {
        // The outermost group has closed: that is the end of the document, and its last
        // paragraph still has the formatting the group gave it.
        finished_ = true;
        return;
    }
    stack_.pop_back();
}

qsizetype Parser::controlAt(qsizetype i)
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
            if (atGroupStart) {
                state().starred = true;
                state().beforeStar = state().dest;
                state().dest = Dest::Skip;
            }
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
        // Raw binary data follows; it is skipped whole, never read as text, unless it is a picture's.
        flushBytes();
        const qsizetype end = hasParam && value > 0 ? std::min<qsizetype>(n, j + value) : j;
        if (state().dest == Dest::Picture && picture_.data.size() + (end - j) <= RtfReader::kMaxPictureBytes)
            picture_.data.append(data_.constData() + j, end - j);
        return end;
    }
    if (cw != Cw::U && cw != Cw::Uc && consumeSkipped())
        return j;
    flushBytes();
    control(cw, hasParam, value);
    return j;
}

bool Parser::consumeSkipped()
{
    if (skipLeft_ <= 0)
        return false;
    --skipLeft_;
    return true;
}

void Parser::byte(uchar b)
{
    if (consumeSkipped())
        return;
    if (state().dest == Dest::Skip)
        return;
    if (state().dest == Dest::Picture) {
        pictureByte(b);
        return;
    }
    bytes_.append(char(b));
}

void Parser::flushBytes()
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

void Parser::text(const QString& s)
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
    case Dest::FieldInst:
        if (fieldInstruction_.size() < 1024)
            fieldInstruction_ += s;
        return;
    case Dest::ShapeName:
        if (propertyName_.size() < 64)
            propertyName_ += s;
        return;
    case Dest::Picture:
    case Dest::Shape:
    case Dest::ShapeValue: return;
    }
}

void Parser::bodyText(const QString& s, const CharProps& props)
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

void Parser::tab()
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

void Parser::flushRun()
{
    if (runText_.isEmpty())
        return;
    para_.runs.push_back({runText_, charFormat(runProps_)});
    runText_.clear();
}

void Parser::commitFont()
{
    FontEntry& f = fonts_[fontIndex_];
    f.name = fontName_.trimmed();
    f.charset = fontCharset_;
    f.hint = fontHint_;
    fontName_.clear();
    fontCharset_ = -1;
    fontHint_ = QFont::AnyStyle;
}

void Parser::commitColour()
{
    colours_.push_back(haveColour_ ? QColor(red_, green_, blue_) : QColor());
    red_ = green_ = blue_ = 0;
    haveColour_ = false;
}

} // namespace kestrel::rtf
