#include "dialogs/Settings.h"

#include "data/Trash.h"
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

int TrashDays()
{
    bool ok = false;
    const int days = platform().getSetting(QStringLiteral("Kestrel"), QStringLiteral("App"),
                                           QString::fromLatin1(kTrashDaysSetting)).toInt(&ok);
    return ok && days > 0 ? days : kTrashDaysDefault;
}

void SaveTrashDays(int days)
{
    platform().saveSetting(QStringLiteral("Kestrel"), QStringLiteral("App"), QString::fromLatin1(kTrashDaysSetting),
                           QString::number(days));
}

void ShowGreeting()
{
    frmGreet greeting;
    desktop().runModal(greeting);
}

} // namespace kestrel
