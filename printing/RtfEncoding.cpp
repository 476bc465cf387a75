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
