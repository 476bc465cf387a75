// The greeting, the options dialog and the about box, and the one setting they share.
#include "ui/Ui.h"
#include "dialogs/Settings.h"
#include "dialogs/frmAbout.h"
#include "dialogs/frmGreet.h"
#include "dialogs/frmOptions.h"
#include "tests/support/Fixture.h"

#include <QTest>
#include <QtWidgets>

using namespace kestrel;
using namespace kestrel::test;

namespace {

const QString kGreetKey = QStringLiteral("Kestrel/App/Greet");
const QString kAlertKey = QStringLiteral("Kestrel/App/AlertMinutes");
using DialogTest = KestrelTest;

TEST_F(DialogTest, WindowsShowTheirCaptionsAndTexts)
{
    frmGreet greet;
    frmOptions options;
    frmAbout about(AppVersion{2, 3, 1});
    EXPECT_EQ(QStringList({greet.objectName() + u'|' + greet.windowTitle(), options.objectName() + u'|' + options.windowTitle(),
                           about.objectName() + u'|' + about.windowTitle()}),
              QStringList({"frmGreet|Welcome to Kestrel", "frmOptions|Options", "frmAbout|About Kestrel"}));
    EXPECT_FALSE(greet.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_TRUE(greet.Label1->text().startsWith("This screen is a reminder of how to get started using Kestrel.\n"));
    EXPECT_EQ(QStringList({greet.chkShowGreet->text(), greet.cmdOkay->text(), options.chkGreet->text(),
                           about.lblVersion->text(), about.cmdSysInfo->text()}),
              QStringList({"Show at startup", "Okay", "Show greeting when program starts", "Version 2.3.1", "&System Info..."}));
}

TEST_F(DialogTest, GreetingAndOptionsShareTheSettingAndOnlySaveWritesIt)
{
    // Esc is no way out of the greeting; Okay stores the box as "F" or "T".
    desk.onModal(QStringLiteral("frmGreet"), [](QDialog& d) {
        auto& g = static_cast<frmGreet&>(d);
        QTest::keyClick(&g, Qt::Key_Escape);
        EXPECT_TRUE(g.isVisible());
        QTest::mouseClick(g.chkShowGreet, Qt::LeftButton);
        QTest::mouseClick(g.cmdOkay, Qt::LeftButton);
    });
    ShowGreeting();
    EXPECT_EQ(desk.settings.value(kGreetKey), QStringLiteral("F"));

    desk.settings[kGreetKey] = QStringLiteral("T");
    {
        frmOptions o;
        o.chkGreet->setChecked(false);
        QTest::mouseClick(o.cmdCancel, Qt::LeftButton);
    }
    EXPECT_EQ(desk.settings.value(kGreetKey), QStringLiteral("T"));
    // The reminders' minutes: 15 unless another choice is stored; chosen with the keys.
    desk.settings[kAlertKey] = QStringLiteral("7");
    frmOptions o;
    EXPECT_EQ(o.cboAlert->currentText(), "15 minutes");
    EXPECT_EQ(o.cboAlert->count(), 6);
    o.chkGreet->setChecked(false);
    o.show();
    o.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&o));
    o.cboAlert->setFocus();
    QTest::keyClick(o.cboAlert, Qt::Key_Home);
    EXPECT_EQ(o.cboAlert->currentText(), "Off");
    QTest::mouseClick(o.cmdSave, Qt::LeftButton);
    EXPECT_EQ(desk.settings.value(kGreetKey) + desk.settings.value(kAlertKey), QStringLiteral("F0"));
}

TEST_F(DialogTest, SystemInfoWithNoToolInstalledSaysItIsUnavailable)
{
    frmAbout about;
    const QByteArray savedPath = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(dir.path()));
    QTest::mouseClick(about.cmdSysInfo, Qt::LeftButton);
    qputenv("PATH", savedPath);
    EXPECT_EQ(desk.messages(), QStringList{QStringLiteral("System Information Is Unavailable At This Time")});
    EXPECT_TRUE(desk.started.isEmpty());
}

} // namespace
