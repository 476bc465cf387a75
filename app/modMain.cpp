#include "app/modMain.h"

#include "app/Ui.h"
#include "app/frmKestrel.h"
#include "calendar/frmReminder.h"
#include "data/Globals.h"
#include "data/modData.h"
#include "dialogs/Settings.h"
#include "platform/QtPlatform.h"

#include <QApplication>

namespace kestrel {

int Main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kestrel"));
    QApplication::setOrganizationName(QStringLiteral("Kestrel"));
    installQtPlatform();
    installFontSubstitutes();
    registerSchemas();

    buildConnectionTexts();

    frmKestrel main;
    main.show();
    main.Form_Load();
    ReminderAlerts alerts;
    alerts.Rearm();

    if (GreetingEnabled())
        ShowGreeting();

    sHelpPath = programDir() + QStringLiteral("\\kestrel.chm");
    return app.exec();
}

} // namespace kestrel
