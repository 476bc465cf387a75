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

using DialogTest = KestrelTest;

TEST_F(DialogTest, WindowsAndTheirControlsStandWhereDesigned)
{
    frmGreet greet;
    frmOptions options;
    frmAbout about(AppVersion{2, 3, 1});
    const struct {
        QDialog* window;
        const char* name;
        const char* caption;
        QSize twips;
        bool closeBox;
        std::vector<std::pair<const char*, QRect>> controls;
    } windows[] = {
        {&greet, "frmGreet", "Welcome to Kestrel", {6990, 4050}, false,
         {{"Label1", {120, 0, 6735, 3375}}, {"chkShowGreet", {2520, 3600, 1575, 255}}, {"cmdOkay", {5400, 3480, 1455, 375}}}},
        {&options, "frmOptions", "Options", {3825, 1215}, true,
         {{"chkGreet", {240, 240, 2895, 255}}, {"cmdSave", {360, 720, 1455, 375}}, {"cmdCancel", {2040, 720, 1455, 375}}}},
        {&about, "frmAbout", "About Kestrel", {5730, 3555}, true,
         {{"picIcon", {240, 240, 540, 540}}, {"lblTitle", {1050, 240, 3885, 480}}, {"lblVersion", {1050, 780, 3885, 225}},
          {"lblDescription", {1050, 1125, 3885, 1000}}, {"Line1", {84, 2250, 5310, 15}}, {"Line2", {84, 2265, 5310, 15}},
          {"lblDisclaimer", {255, 2625, 3870, 825}}, {"cmdOK", {4245, 2625, 1260, 345}},
          {"cmdSysInfo", {4260, 3075, 1245, 345}}}},
    };
    for (const auto& w : windows) {
        SCOPED_TRACE(w.name);
        EXPECT_EQ(w.window->objectName(), QLatin1String(w.name));
        EXPECT_EQ(w.window->windowTitle(), QString::fromUtf8(w.caption));
        EXPECT_EQ(w.window->size(), QSize(px(w.twips.width()), px(w.twips.height())));
        EXPECT_EQ(bool(w.window->windowFlags() & Qt::WindowCloseButtonHint), w.closeBox);
        for (const auto& [name, t] : w.controls) {
            auto* c = w.window->findChild<QWidget*>(QString::fromLatin1(name));
            ASSERT_TRUE(c) << name;
            EXPECT_EQ(c->geometry(), QRect(px(t.x()), px(t.y()), px(t.width()), px(t.height()))) << name;
        }
    }
    EXPECT_EQ(greet.chkShowGreet->text(), QStringLiteral("Show at startup"));
    EXPECT_EQ(greet.cmdOkay->text(), QStringLiteral("Okay"));
    EXPECT_TRUE(greet.Label1->font().bold());
    EXPECT_DOUBLE_EQ(greet.Label1->font().pointSizeF(), 8.25);
    const QStringList lines = greet.Label1->text().split(u'\n');
    ASSERT_EQ(lines.size(), 14);
    EXPECT_EQ(lines.first(), QStringLiteral("This screen is a reminder of how to get started using Kestrel."));
    EXPECT_EQ(lines[3], QStringLiteral("the Help File. Press F1 or Menu->Help->Contents"));
    EXPECT_EQ(lines[9], QStringLiteral("To enter appointments press F7 or Menu->Appts->Schedule New"));
    EXPECT_EQ(lines.last(), QStringLiteral("Good luck and we hope you enjoy our software."));
    for (int empty : {1, 4, 6, 8, 10, 12})
        EXPECT_TRUE(lines[empty].isEmpty()) << empty;
    EXPECT_EQ(options.chkGreet->text(), QStringLiteral("Show greeting when program starts"));
    EXPECT_EQ(about.lblTitle->text(), QStringLiteral("Kestrel"));
    EXPECT_EQ(about.lblVersion->text(), QStringLiteral("Version 2.3.1"));
    EXPECT_EQ(about.cmdSysInfo->text(), QStringLiteral("&System Info..."));
    EXPECT_EQ(frmAbout().lblVersion->text(), QStringLiteral("Version %1.%2.%3")
                                                 .arg(KESTREL_VERSION_MAJOR).arg(KESTREL_VERSION_MINOR).arg(KESTREL_VERSION_PATCH));
}

TEST_F(DialogTest, GreetingAndOptionsShareTheSettingAndOnlySaveWritesIt)
{
    // The greeting: Esc is no way out; Okay stores the box ("F" unchecked, "T" checked), and a
    // new opening starts checked again.
    for (const bool untick : {true, false}) {
        desk.onModal(QStringLiteral("frmGreet"), [untick](QDialog& d) {
            auto& g = static_cast<frmGreet&>(d);
            EXPECT_TRUE(g.chkShowGreet->isChecked());
            QTest::keyClick(&g, Qt::Key_Escape);
            EXPECT_TRUE(g.isVisible());
            if (untick)
                QTest::mouseClick(g.chkShowGreet, Qt::LeftButton);
            QTest::mouseClick(g.cmdOkay, Qt::LeftButton);
            EXPECT_FALSE(g.isVisible());
        });
        ShowGreeting();
        EXPECT_EQ(desk.settings.value(kGreetKey), untick ? QStringLiteral("F") : QStringLiteral("T"));
        EXPECT_EQ(GreetingEnabled(), !untick);
    }

    // Options loads "T" only as checked; Cancel and the close box write nothing; Save writes.
    desk.settings[kGreetKey] = QStringLiteral("t");
    EXPECT_FALSE(frmOptions().chkGreet->isChecked());
    desk.settings[kGreetKey] = QStringLiteral("T");
    {
        frmOptions o;
        EXPECT_TRUE(o.chkGreet->isChecked());
        o.chkGreet->setChecked(false);
        QTest::mouseClick(o.cmdCancel, Qt::LeftButton);
        EXPECT_EQ(o.result(), QDialog::Rejected);
    }
    {
        frmOptions o;
        o.show();
        o.chkGreet->setChecked(false);
        o.close();
        EXPECT_EQ(o.result(), QDialog::Rejected);
    }
    EXPECT_EQ(desk.settings.value(kGreetKey), QStringLiteral("T"));
    frmOptions o;
    o.chkGreet->setChecked(false);
    QTest::mouseClick(o.cmdSave, Qt::LeftButton);
    EXPECT_EQ(o.result(), QDialog::Accepted);
    EXPECT_EQ(desk.settings.value(kGreetKey), QStringLiteral("F"));
}

TEST_F(DialogTest, AboutClosesOnEscAndSystemInfoStartsAToolOrSaysItIsUnavailable)
{
    frmAbout about;
    about.show();
    QTest::keyClick(&about, Qt::Key_Escape);
    EXPECT_FALSE(about.isVisible());

    const QByteArray savedPath = qgetenv("PATH");
    QDir(dir.path()).mkpath(QStringLiteral("bin"));
    qputenv("PATH", QFile::encodeName(dir.path() + QStringLiteral("/bin")));
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

} // namespace
