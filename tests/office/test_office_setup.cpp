// Choosing the office database: File > Options, the variable that overrides it, and the
// connection texts it gives.
#include "data/Database.h"
#include "data/Globals.h"
#include "data/Office.h"
#include "dialogs/frmOptions.h"
#include "tests/support/Fixture.h"
#include "tests/support/PrintQString.h"

#include <QtWidgets>
#include <QTest>

using namespace kestrel;
using namespace kestrel::test;

namespace {
const QString kOfficeKey = QStringLiteral("Kestrel/Office/Database");

struct OfficeOptionsTest : KestrelTest {
    void TearDown() override
    {
        qunsetenv(kOfficeVariable);
        KestrelTest::TearDown();
    }
};
} // namespace

TEST_F(OfficeOptionsTest, TheTypedServerIsKeptForTheNextStartUnlessTheVariableSetsIt)
{
    {
        frmOptions o;
        o.show();
        o.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&o));
        EXPECT_EQ(o.txtOffice->text(), "");
        QTest::mouseClick(o.txtOffice, Qt::LeftButton);
        QTest::keyClicks(o.txtOffice, " service=kestrel ");
        QTest::mouseClick(o.cmdSave, Qt::LeftButton);
    }
    EXPECT_EQ(desk.settings.value(kOfficeKey), "service=kestrel");
    EXPECT_EQ(desk.messages(), QStringList{"Kestrel uses the office database you chose from its next start."});
    EXPECT_EQ(officeDatabase(), "service=kestrel");

    qputenv(kOfficeVariable, "host=db.example dbname=kestrel");
    frmOptions o;
    o.show();
    o.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&o));
    EXPECT_EQ(o.txtOffice->text(), "host=db.example dbname=kestrel");
    QTest::mouseClick(o.txtOffice, Qt::LeftButton);
    QTest::keyClicks(o.txtOffice, "x");
    EXPECT_EQ(o.txtOffice->text(), "host=db.example dbname=kestrel");
    EXPECT_TRUE(o.lblOfficeNote->text().startsWith("Set by KESTREL_DATABASE"));
    QTest::mouseClick(o.cmdSave, Qt::LeftButton);
    EXPECT_EQ(desk.settings.value(kOfficeKey), "service=kestrel");
    EXPECT_EQ(desk.messages().size(), 1);

    qputenv(kOfficeVariable, ""); // set to nothing: the local files, whatever is stored
    EXPECT_EQ(officeDatabase(), "");
}

TEST_F(OfficeOptionsTest, InOfficeModeContactsAndToDoAreOnTheServerAndTheScratchFileIsTheUsersOwn)
{
    QStandardPaths::setTestModeEnabled(true);
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
    QDir(folder).removeRecursively();
    buildConnectionTexts("host=db.example dbname=kestrel");
    const QString scratch = dataSourcePath(sConnTemp);
    EXPECT_EQ(sConnContacts, "Provider=PostgreSQL;host=db.example dbname=kestrel");
    EXPECT_EQ(sConnMain, sConnContacts);
    EXPECT_EQ(serverConninfo(sConnMain), "host=db.example dbname=kestrel");
    EXPECT_EQ(scratch, folder + "/tempdb.mdb");
    EXPECT_EQ(QFile::permissions(folder) & 0x7077, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner); // nobody else
    buildConnectionTexts();
    EXPECT_FALSE(isServerConnection(sConnContacts));
    EXPECT_EQ(dataSourcePath(sConnTemp), dataPath("tempdb.mdb"));
    QDir(folder).removeRecursively();
    QStandardPaths::setTestModeEnabled(false);
}
