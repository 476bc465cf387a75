#include "data/Globals.h"

#include <QCoreApplication>

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

void buildConnectionTexts()
{
    const QString dir = programDir();
    sConnTemp = kPrefix + dir + QStringLiteral("\\data\\tempdb.mdb;Jet OLEDB:Database Password=wo%TZ;Jet OLEDB:Engine Type=4");
    sConnContacts = kPrefix + dir + QStringLiteral("\\data\\contacts.mdb;Jet OLEDB:Database Password=ub382kQ;Jet OLEDB:Engine Type=4");
    sConnMain = kPrefix + dir + QStringLiteral("\\data\\kestrel.mdb;Jet OLEDB:Database Password=PeWt38;Jet OLEDB:Engine Type=4");
}

} // namespace kestrel
