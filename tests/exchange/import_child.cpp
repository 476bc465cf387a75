// An import in a process of its own, for the tests that kill one half way:
//   import_child <programDir> <csv file> [<office connection string>]
// maps the column Name to LastName, loads the file and imports it slowly (a pause at every
// progress call), so that the test can kill it after some batches are committed.
#include "data/Globals.h"
#include "data/Office.h"
#include "data/modData.h"
#include "exchange/modImport.h"
#include "platform/HeadlessPlatform.h"

#include <QCoreApplication>
#include <QThread>

using namespace kestrel;

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 3)
        return 2;
    HeadlessPlatform desk;
    setPlatform(&desk);
    registerSchemas();
    setProgramDir(QString::fromLocal8Bit(argv[1]));
    buildConnectionTexts();
    if (argc > 3) {
        sConnContacts = serverConnectionText(QString::fromLocal8Bit(argv[3]));
        sConnMain = sConnContacts;
    }
    const QStringList entries{FormatMapLine(QStringLiteral("Name"), QStringLiteral("LastName"))};
    if (!LoadCsvToTemp(QString::fromLocal8Bit(argv[2]), entries))
        return 3;
    return ImportTempRows(QStringLiteral("Lead"), true, nullptr, [](qint64, qint64) {
        QThread::msleep(50);
        return true;
    }) ? 0 : 4;
}
