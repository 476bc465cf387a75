#include "dialogs/Settings.h"

#include "platform/Platform.h"

namespace kestrel {

bool GreetingEnabled()
{
    return platform().getSetting(QStringLiteral("Kestrel"), QStringLiteral("App"), QStringLiteral("Greet")) ==
           QStringLiteral("T");
}

void ShowGreeting() {}

} // namespace kestrel
