// The greeting, the options dialog and the about box, and the one setting they share.
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
using DialogTest = KestrelTest;

TEST_F(DialogTest, GreetingAndOptionsShareTheSettingAndOnlySaveWritesIt)
{
    // Esc is no way out of the greeting; Okay stores the box as "F" or "T".
    desk.onModal(QStringLiteral("frmGreet"), [](QDialog& d) {
        auto& g = static_cast<frmGreet&>(d);
        EXPECT_FALSE(g.windowFlags() & Qt::WindowCloseButtonHint);
        QTest::keyClick(&g, Qt::Key_Escape);
        EXPECT_TRUE(g.isVisible());
        QTest::mouseClick(g.chkShowGreet, Qt::LeftButton);
        QTest::mouseClick(g.cmdOkay, Qt::LeftButton);
    });
    ShowGreeting();
    EXPECT_EQ(desk.settings.value(kGreetKey), QStringLiteral("F"));

    desk.settings[kGreetKey] = QStringLiteral("T");
    for (const auto& [button, stored] : {std::pair{&frmOptions::cmdCancel, "T"}, {&frmOptions::cmdSave, "F"}}) {
        frmOptions o;
        o.chkGreet->setChecked(false);
        QTest::mouseClick(o.*button, Qt::LeftButton);
        EXPECT_EQ(desk.settings.value(kGreetKey), stored);
    }
}

TEST_F(DialogTest, AboutShowsTheVersionAndSystemInfoWithNoToolInstalledSaysItIsUnavailable)
{
    frmAbout about(AppVersion{2, 3, 1});
    EXPECT_EQ(about.lblVersion->text(), "Version 2.3.1");
    const QByteArray savedPath = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(dir.path()));
    QTest::mouseClick(about.cmdSysInfo, Qt::LeftButton);
    qputenv("PATH", savedPath);
    EXPECT_EQ(desk.messages(), QStringList{QStringLiteral("System Information Is Unavailable At This Time")});
    EXPECT_TRUE(desk.started.isEmpty());
}

} // namespace
