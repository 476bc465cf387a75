// The greeting, the options dialog and the about box, and the one setting they share.
#include "app/Ui.h"
#include "dialogs/Settings.h"
#include "dialogs/frmAbout.h"
#include "dialogs/frmGreet.h"
#include "dialogs/frmOptions.h"
#include "tests/support/Fixture.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTest>

using namespace kestrel;
using namespace kestrel::test;

namespace {

const QString kGreetKey = QStringLiteral("Kestrel/App/Greet");

// Each control's rectangle in twips, as the window's table gives it.
void expectGeometry(QWidget& window, std::initializer_list<std::pair<const char*, QRect>> controls)
{
    for (const auto& [name, twipRect] : controls) {
        auto* w = window.findChild<QWidget*>(QString::fromLatin1(name));
        ASSERT_TRUE(w) << name;
        EXPECT_EQ(w->geometry(), QRect(px(twipRect.x()), px(twipRect.y()), px(twipRect.width()), px(twipRect.height())))
            << name;
    }
}

class DialogTest : public KestrelTest {};

} // namespace

TEST_F(DialogTest, GreetingWindowLayoutAndText)
{
    frmGreet g;
    EXPECT_EQ(g.objectName(), QStringLiteral("frmGreet"));
    EXPECT_EQ(g.windowTitle(), QStringLiteral("Welcome to Kestrel"));
    EXPECT_EQ(g.size(), QSize(px(6990), px(4050)));
    EXPECT_FALSE(g.windowFlags() & Qt::WindowCloseButtonHint);
    expectGeometry(g, {{"Label1", {120, 0, 6735, 3375}},
                       {"chkShowGreet", {2520, 3600, 1575, 255}},
                       {"cmdOkay", {5400, 3480, 1455, 375}}});
    EXPECT_EQ(g.chkShowGreet->text(), QStringLiteral("Show at startup"));
    EXPECT_EQ(g.cmdOkay->text(), QStringLiteral("Okay"));
    EXPECT_TRUE(g.chkShowGreet->isChecked());
    EXPECT_TRUE(g.Label1->font().bold());
    EXPECT_DOUBLE_EQ(g.Label1->font().pointSizeF(), 8.25);

    const QStringList lines = g.Label1->text().split(u'\n');
    ASSERT_EQ(lines.size(), 14);
    EXPECT_EQ(lines.first(), QStringLiteral("This screen is a reminder of how to get started using Kestrel."));
    EXPECT_EQ(lines[3], QStringLiteral("the Help File. Press F1 or Menu->Help->Contents"));
    EXPECT_EQ(lines[9], QStringLiteral("To enter appointments press F7 or Menu->Appts->Schedule New"));
    EXPECT_EQ(lines.last(), QStringLiteral("Good luck and we hope you enjoy our software."));
    for (int empty : {1, 4, 6, 8, 10, 12})
        EXPECT_TRUE(lines[empty].isEmpty()) << empty;
    EXPECT_FALSE(g.Label1->text().endsWith(u'\n'));
}

TEST_F(DialogTest, GreetingOkayStoresTheBoxAndNothingElseClosesIt)
{
    // Unchecked: "F", so the next start shows no greeting.
    desk.onModal(QStringLiteral("frmGreet"), [](QDialog& d) {
        auto& g = static_cast<frmGreet&>(d);
        QTest::keyClick(&g, Qt::Key_Escape);
        EXPECT_TRUE(g.isVisible()); // Esc is not a way out
        QTest::mouseClick(g.chkShowGreet, Qt::LeftButton);
        QTest::mouseClick(g.cmdOkay, Qt::LeftButton);
        EXPECT_FALSE(g.isVisible());
    });
    ShowGreeting();
    EXPECT_EQ(desk.settings.value(kGreetKey), QStringLiteral("F"));
    EXPECT_FALSE(GreetingEnabled());

    // A new opening starts checked again; Okay as it is stores "T".
    desk.onModal(QStringLiteral("frmGreet"), [](QDialog& d) {
        auto& g = static_cast<frmGreet&>(d);
        EXPECT_TRUE(g.chkShowGreet->isChecked());
        QTest::mouseClick(g.cmdOkay, Qt::LeftButton);
    });
    ShowGreeting();
    EXPECT_EQ(desk.settings.value(kGreetKey), QStringLiteral("T"));
}

TEST_F(DialogTest, OptionsLayoutAndLoadFromTheSetting)
{
    {
        frmOptions o;
        EXPECT_EQ(o.objectName(), QStringLiteral("frmOptions"));
        EXPECT_EQ(o.windowTitle(), QStringLiteral("Options"));
        EXPECT_EQ(o.size(), QSize(px(3825), px(1215)));
        EXPECT_TRUE(o.windowFlags() & Qt::WindowCloseButtonHint);
        expectGeometry(o, {{"chkGreet", {240, 240, 2895, 255}},
                           {"cmdSave", {360, 720, 1455, 375}},
                           {"cmdCancel", {2040, 720, 1455, 375}}});
        EXPECT_EQ(o.chkGreet->text(), QStringLiteral("Show greeting when program starts"));
        EXPECT_FALSE(o.chkGreet->isChecked()); // nothing stored
    }
    desk.settings[kGreetKey] = QStringLiteral("t");
    EXPECT_FALSE(frmOptions().chkGreet->isChecked());
    desk.settings[kGreetKey] = QStringLiteral("T");
    EXPECT_TRUE(frmOptions().chkGreet->isChecked());
}

TEST_F(DialogTest, OptionsSaveWritesTheBoxCancelAndCloseBoxWriteNothing)
{
    {
        frmOptions o;
        o.chkGreet->setChecked(true);
        QTest::mouseClick(o.cmdSave, Qt::LeftButton);
        EXPECT_EQ(o.result(), QDialog::Accepted);
        EXPECT_EQ(desk.settings.value(kGreetKey), QStringLiteral("T"));
    }
    {
        frmOptions o;
        EXPECT_TRUE(o.chkGreet->isChecked());
        o.chkGreet->setChecked(false);
        QTest::mouseClick(o.cmdCancel, Qt::LeftButton);
        EXPECT_EQ(o.result(), QDialog::Rejected);
        EXPECT_EQ(desk.settings.value(kGreetKey), QStringLiteral("T"));
    }
    {
        frmOptions o;
        o.show();
        o.chkGreet->setChecked(false);
        o.close(); // the close box
        EXPECT_EQ(o.result(), QDialog::Rejected);
        EXPECT_EQ(desk.settings.value(kGreetKey), QStringLiteral("T"));
    }
    {
        frmOptions o;
        o.chkGreet->setChecked(false);
        QTest::mouseClick(o.cmdSave, Qt::LeftButton);
        EXPECT_EQ(desk.settings.value(kGreetKey), QStringLiteral("F"));
    }
}

TEST_F(DialogTest, AboutShowsTitleAndVersionNumbersPlainly)
{
    frmAbout about(AppVersion{2, 3, 1});
    EXPECT_EQ(about.objectName(), QStringLiteral("frmAbout"));
    EXPECT_EQ(about.windowTitle(), QStringLiteral("About Kestrel"));
    EXPECT_EQ(about.lblTitle->text(), QStringLiteral("Kestrel"));
    EXPECT_EQ(about.lblVersion->text(), QStringLiteral("Version 2.3.1"));
    EXPECT_EQ(VersionText({10, 0, 12}), QStringLiteral("Version 10.0.12"));
    EXPECT_EQ(frmAbout().lblVersion->text(), QStringLiteral("Version %1.%2.%3")
                                                 .arg(KESTREL_VERSION_MAJOR)
                                                 .arg(KESTREL_VERSION_MINOR)
                                                 .arg(KESTREL_VERSION_PATCH));
    EXPECT_EQ(about.size(), QSize(px(5730), px(3555)));
    expectGeometry(about, {{"picIcon", {240, 240, 540, 540}},
                           {"lblTitle", {1050, 240, 3885, 480}},
                           {"lblVersion", {1050, 780, 3885, 225}},
                           {"lblDescription", {1050, 1125, 3885, 1000}},
                           {"Line1", {84, 2250, 5310, 15}},
                           {"Line2", {84, 2265, 5310, 15}},
                           {"lblDisclaimer", {255, 2625, 3870, 825}},
                           {"cmdOK", {4245, 2625, 1260, 345}},
                           {"cmdSysInfo", {4260, 3075, 1245, 345}}});
    EXPECT_FALSE(about.lblDescription->text().isEmpty());
    EXPECT_FALSE(about.lblDisclaimer->text().isEmpty());
    EXPECT_EQ(about.cmdSysInfo->text(), QStringLiteral("&System Info..."));
    EXPECT_TRUE(about.cmdOK->isDefault());

    about.show();
    QTest::keyClick(&about, Qt::Key_Escape);
    EXPECT_FALSE(about.isVisible());
}

TEST_F(DialogTest, SystemInfoStartsAToolFromThePathOrSaysItIsUnavailable)
{
    const QByteArray savedPath = qgetenv("PATH");
    QDir(dir.path()).mkpath(QStringLiteral("bin"));
    qputenv("PATH", QFile::encodeName(dir.path() + QStringLiteral("/bin")));
    frmAbout about;
    QTest::mouseClick(about.cmdSysInfo, Qt::LeftButton);
    EXPECT_EQ(desk.messages(), QStringList{QStringLiteral("System Information Is Unavailable At This Time")});
    EXPECT_TRUE(desk.started.isEmpty());

    // An installed tool is started; one that will not start gives way to the next.
    for (const char* tool : {"kinfocenter", "cpu-x"}) {
        QFile f(dir.path() + QStringLiteral("/bin/") + QLatin1String(tool));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("#!/bin/sh\n");
        f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    about.StartSysInfo();
    EXPECT_EQ(desk.started, QStringList{dir.path() + QStringLiteral("/bin/kinfocenter")});
    desk.programsStart = false;
    about.StartSysInfo();
    qputenv("PATH", savedPath);
    EXPECT_EQ(desk.started.size(), 3);
    EXPECT_EQ(desk.started.last(), dir.path() + QStringLiteral("/bin/cpu-x"));
    EXPECT_EQ(desk.messages().size(), 2);
}
