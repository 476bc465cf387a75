#include "platform/Platform.h"

#include <QUrl>

namespace kestrel {
namespace {
Platform* gInstalled = nullptr;
Platform* (*gFactory)() = nullptr;
} // namespace

// The Qt implementation lives in a widget library; it registers itself through this hook so that
// the core library stays free of widgets.
void registerDefaultPlatform(Platform* (*factory)()) { gFactory = factory; }

Platform& platform()
{
    if (!gInstalled) {
        if (!gFactory)
            qFatal("No desktop platform installed");
        gInstalled = gFactory();
    }
    return *gInstalled;
}

void setPlatform(Platform* p) { gInstalled = p; }

QString mailtoLink(const QString& address, const QString& query)
{
    // Letters, digits, "-", ".", "_", "~" stay; "@" and "+" are kept for the address to read well.
    QString link = QStringLiteral("mailto:") + QString::fromLatin1(QUrl::toPercentEncoding(address, "@+"));
    if (!query.isEmpty())
        link += u'?' + query;
    return link;
}

} // namespace kestrel
