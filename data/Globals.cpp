#include "data/Globals.h"

#include "data/Office.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStandardPaths>

namespace kestrel {

QString sConnTemp;
QString sConnContacts;
QString sConnMain;
QString sHelpPath;
int lLeadID = 0;

namespace {
QString gProgramDir;
const QString kPrefix = QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=");
} // namespace

QString programDir()
{
    if (gProgramDir.isEmpty())
        gProgramDir = QCoreApplication::applicationDirPath();
    QString dir = gProgramDir;
    while (dir.size() > 1 && dir.endsWith(u'/'))
        dir.chop(1);
    return dir;
}

void setProgramDir(const QString& dir) { gProgramDir = dir; }

QString userScratchFile()
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
    // Imported rows are the user's own until they are added: nobody else may read the folder.
    if (!QDir(folder).exists() && QDir().mkpath(folder))
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return folder + QStringLiteral("/tempdb.mdb");
}

void buildConnectionTexts(const QString& officeConninfo)
{
    const QString dir = programDir();
    if (!officeConninfo.trimmed().isEmpty()) {
        // Contacts, appointments and to-do lists live on the server; each user imports through
        // a scratch file of their own, so two users' imports never meet.
        sConnTemp = kPrefix + userScratchFile() + QStringLiteral(";Jet OLEDB:Database Password=wo%TZ;Jet OLEDB:Engine Type=4");
        sConnContacts = serverConnectionText(officeConninfo);
        sConnMain = sConnContacts;
        return;
    }
    sConnTemp = kPrefix + dir + QStringLiteral("\\data\\tempdb.mdb;Jet OLEDB:Database Password=wo%TZ;Jet OLEDB:Engine Type=4");
    sConnContacts = kPrefix + dir + QStringLiteral("\\data\\contacts.mdb;Jet OLEDB:Database Password=ub382kQ;Jet OLEDB:Engine Type=4");
    sConnMain = kPrefix + dir + QStringLiteral("\\data\\kestrel.mdb;Jet OLEDB:Database Password=PeWt38;Jet OLEDB:Engine Type=4");
}

} // namespace kestrel
