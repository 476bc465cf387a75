#include "printing/RtfEncoding.h"

#include <QStringView>

#include <cerrno>
#include <vector>

namespace kestrel::rtf {

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

Decoder::~Decoder()
{
    for (auto& [cp, cd] : open_)
        if (cd != iconv_t(-1))
            iconv_close(cd);
}

QString Decoder::decode(const QByteArray& bytes, int codepage)
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

iconv_t Decoder::converter(int codepage)
{
    auto it = open_.find(codepage);
    if (it != open_.end())
        return it->second;
    iconv_t cd = iconv_open("UTF-16LE", iconvName(codepage).constData());
    open_.emplace(codepage, cd);
    return cd;
}

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

} // namespace kestrel::rtf
