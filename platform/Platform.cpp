#include "platform/Platform.h"

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

} // namespace kestrel
