#include "app/modMain.h"

#include "data/Trash.h"

#include "ui/AppIcon.h"
#include "app/OfficeInit.h"
#include "app/SingleInstance.h"
#include "ui/Report.h"
#include "ui/Ui.h"
#include "app/SyncCommand.h"
#include "app/frmKestrel.h"
#include "calendar/Housekeeping.h"
#include "calendar/frmReminder.h"
#include "data/FileCheck.h"
#include "data/Globals.h"
#include "data/Office.h"
#include "data/SearchIndex.h"
#include "data/modData.h"
#include "formats/OfficeCopy.h"
#include "dialogs/Settings.h"
#include "dialogs/modBackup.h"
#include "dialogs/modSync.h"
#include "platform/Platform.h"
#include "ui/NulGuard.h"
#include "ui/QtPlatform.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QTimer>

namespace kestrel {

namespace {

void nameApplication()
{
    QCoreApplication::setApplicationName(QStringLiteral("Kestrel"));
    QCoreApplication::setOrganizationName(QStringLiteral("Kestrel"));
    QCoreApplication::setApplicationVersion(QStringLiteral("%1.%2.%3")
                                                .arg(KESTREL_VERSION_MAJOR)
                                                .arg(KESTREL_VERSION_MINOR)
                                                .arg(KESTREL_VERSION_PATCH));
}

} // namespace

int Main(int argc, char* argv[])
{
    // One sync without a window, from a timer or a script: no display needed.
    for (int i = 1; i < argc; ++i)
        if (qstrcmp(argv[i], "--sync") == 0)
            return syncCommand(argc, argv);
    QCommandLineParser options;
    options.setApplicationDescription(QStringLiteral("Kestrel, a contact manager. Its data live in the folder data/ "
                                                     "beside the program."));
    const QCommandLineOption help = options.addHelpOption();
    const QCommandLineOption version = options.addVersionOption();
    const QCommandLineOption newWindow(QStringLiteral("new-window"),
                                       QStringLiteral("Open a window of its own even when Kestrel already runs "
                                                      "on the same data folder."));
    options.addOption(newWindow);
    const QCommandLineOption copyToOffice(
        QStringLiteral("copy-to-office"),
        QStringLiteral("Copy the contacts, appointments and to-do items of the data folder beside the program to the "
                       "office database (File > Options, or KESTREL_DATABASE), then end. Safe to repeat: what an "
                       "earlier run copied is not copied again."));
    options.addOption(copyToOffice);
    options.addOption(QCommandLineOption(
        QStringLiteral("sync"),
        QStringLiteral("Sync once with the server of File > Options > Sync server (or KESTREL_SYNC_URL, "
                       "KESTREL_SYNC_USER, KESTREL_SYNC_PASSWORD) without a window, then end.")));
    const QCommandLineOption initOffice(
        QStringLiteral("init-office"),
        QStringLiteral("For the server's administrator: set up the office database (File > Options, or "
                       "KESTREL_DATABASE, connecting as a superuser such as postgres), or bring one made by an "
                       "earlier version up to date, then end. Says what it did."));
    options.addOption(initOffice);
    // --help and --version are answered before the window system is reached: a terminal without
    // a display (ssh, a script) gets the text and a clean end, not an abort.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    (void)options.parse(arguments); // what is wrong is told below, once the display is there
    if (options.isSet(help) || options.isSet(version)) {
        QCoreApplication text(argc, argv);
        nameApplication();
        if (options.isSet(version))
            options.showVersion(); // both end the program
        options.showHelp(0);
    }

    // The administrator's and the copying commands open no window: on a server reached by ssh
    // they run without a display.
    if ((options.isSet(initOffice) || options.isSet(copyToOffice)) && qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") && !qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    nameApplication();
    QApplication::setWindowIcon(kestrelIcon());
    // Ties the windows to the installed menu entry (kestrel.desktop), for docks and task bars.
    QGuiApplication::setDesktopFileName(QStringLiteral("kestrel"));
    options.process(app);
    installQtPlatform();
    if (options.isSet(initOffice))
        return initOfficeCommand();
    if (options.isSet(copyToOffice))
        return copyToOfficeCommand();

    const QString dataDir = programDir() + QStringLiteral("/data");
    SingleInstance instance(dataDir);
    if (!options.isSet(newWindow)) {
        switch (instance.claim()) {
        case SingleInstance::Outcome::First:
            break;
        case SingleInstance::Outcome::HandedOver:
            return 0;
        case SingleInstance::Outcome::NoAnswer:
            platform().msgBox(QStringLiteral("Kestrel is already running on the data in %1 but does not answer.\n\n"
                                             "Close that window (or end the program) and start Kestrel again, "
                                             "or start a window of its own with: kestrel --new-window")
                                  .arg(QDir::toNativeSeparators(dataDir)));
            return 1;
        }
    }

    installFontSubstitutes();
    installNulGuard();
    registerSchemas();

    forgetStoredPassword();
    QString office = officeDatabase();
    if (!office.isEmpty()) {
        const std::optional<QString> reached = reachOfficeDatabase(office);
        if (!reached)
            return 0;
        office = *reached;
    }
    buildConnectionTexts(office);
    // Said before the window fills its lists from these files; the server keeps its own.
    if (office.isEmpty()) {
        for (const QString& notice : CheckDataFiles())
            platform().msgBox(notice);
    } else if (const QString clock = officeClockNotice(); !clock.isEmpty()) {
        platform().msgBox(clock);
    }
    try {
        // A file from before Find gets its index now rather than at the first keystroke.
        prepareSearchIndex(sConnContacts);
    } catch (const std::exception&) {
        // The routines that read the file report what is wrong with it.
    }

    // What has been in the trash longer than Options says goes for good; housekeeping that cannot
    // be done now (a file that may only be read, a lock) is done at a later start.
    // The to-do file keeps its own trash locally; on the office server both are one.
    for (const QString& text : {sConnContacts, sConnMain}) {
        if ((text == sConnMain && sConnMain == sConnContacts) || !DataWritable(text))
            continue;
        try {
            purgeTrash(text, TrashDays());
        } catch (const std::exception&) {
        }
    }

    // Damage deep inside a file is looked for while the window is already in use.
    const std::unique_ptr<BackgroundQuickCheck> integrity =
        office.isEmpty() ? CheckDataIntegrity([](const QString& notice) { platform().msgBox(notice); }) : nullptr;

    frmKestrel main;
    QObject::connect(&instance, &SingleInstance::raiseRequested, &main, [&main] { bringToFront(main); });
    main.show();
    main.Form_Load();
    ReminderAlerts alerts;
    alerts.Rearm();
    // The day's copy of the data files, beside the window that is already shown.
    StartDailyBackup(&main, [&main](const QString& text) { main.showStatus(text); });

    if (GreetingEnabled())
        ShowGreeting();

    // The phone's changes since Kestrel last ran come in at once, and then every few minutes.
    SyncControl sync;
    setSyncControl(&sync);
    main.followSync(&sync);
    QTimer::singleShot(0, &sync, [&sync] { sync.syncNow(false); });

    sHelpPath = programDir() + QStringLiteral("\\kestrel.chm");
    return app.exec();
}

} // namespace kestrel
