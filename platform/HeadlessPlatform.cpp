#include "platform/HeadlessPlatform.h"

#include <QCoreApplication>

#include <cstdio>

namespace kestrel {

void HeadlessPlatform::msgBox(const QString& text, const QString&)
{
    std::fprintf(stderr, "%s\n", qPrintable(text));
}

bool HeadlessPlatform::askYesNo(const QString& text, const QString&)
{
    std::fprintf(stderr, "%s [No]\n", qPrintable(text));
    return false;
}

void HeadlessPlatform::doEvents() { QCoreApplication::processEvents(); }

} // namespace kestrel
