#pragma once
// Code pages of rich text: which one a font's character set means, and decoding 8-bit text
// through the C library's converters.
#include <QByteArray>
#include <QString>

#include <iconv.h>

#include <map>

namespace kestrel::rtf {

int codepageOfCharset(int charset);
QByteArray iconvName(int codepage);

// Decodes the 8-bit text of a file through the C library's converters, one per code page.
class Decoder {
public:
    Decoder() = default;
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;
    ~Decoder();
    QString decode(const QByteArray& bytes, int codepage);

private:
    iconv_t converter(int codepage);
    std::map<int, iconv_t> open_;
};

// Symbol fonts put pictures where letters would be; a form mostly uses them for bullets and boxes.
QChar symbolCharacter(const QString& font, uchar c);

} // namespace kestrel::rtf
