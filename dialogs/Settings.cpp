#include "dialogs/Settings.h"

#include "dialogs/frmGreet.h"
#include "platform/Platform.h"
#include "ui/Desktop.h"

namespace kestrel {

bool GreetingEnabled()
{
    return platform().getSetting(QStringLiteral("Kestrel"), QStringLiteral("App"), QStringLiteral("Greet")) ==
           QStringLiteral("T");
}

void SetGreetingEnabled(bool on)
{
    platform().saveSetting(QStringLiteral("Kestrel"), QStringLiteral("App"), QStringLiteral("Greet"),
                           on ? QStringLiteral("T") : QStringLiteral("F"));
}

void ShowGreeting()
{
    frmGreet greeting;
    desktop().runModal(greeting);
}

} // namespace kestrel
