#include "app/modMain.h"

#include "app/Ui.h"
#include "app/frmKestrel.h"
#include "data/Globals.h"
#include "data/SearchIndex.h"
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
    try {
        // A file from before Find gets its index now rather than at the first keystroke.
        prepareSearchIndex(sConnContacts);
    } catch (const std::exception&) {
        // The routines that read the file report what is wrong with it.
    }

    frmKestrel main;
    main.show();
    main.Form_Load();

    if (GreetingEnabled())
        ShowGreeting();

    sHelpPath = programDir() + QStringLiteral("\\kestrel.chm");
    return app.exec();
}

} // namespace kestrel
