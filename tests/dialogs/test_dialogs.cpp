// The greeting, the options dialog and the about box, and the one setting they share; the
// committed help file against its pages, and the help window that shows it.
#include "dialogs/ChmFile.h"
#include "ui/Ui.h"
#include "dialogs/Settings.h"
#include "dialogs/frmAbout.h"
#include "dialogs/frmGreet.h"
#include "dialogs/frmHelp.h"
#include "dialogs/frmOptions.h"
#include "tests/contacts/Common.h"
#include "ui/QtPlatform.h"

#include <QTest>
#include <QtWidgets>

using namespace kestrel;
using namespace kestrel::test;

namespace {

const QString kGreetKey = QStringLiteral("Kestrel/App/Greet");
const QString kAlertKey = QStringLiteral("Kestrel/App/AlertMinutes");
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
    // The reminders' minutes: 15 unless another choice is stored; chosen with the keys.
    desk.settings[kAlertKey] = QStringLiteral("7");
    frmOptions o;
    EXPECT_EQ(o.cboAlert->currentText(), "15 minutes");
    EXPECT_EQ(o.cboAlert->count(), 6);
    o.chkGreet->setChecked(false);
    o.show();
    ASSERT_TRUE(activated(&o));
    o.cboAlert->setFocus();
    QTest::keyClick(o.cboAlert, Qt::Key_Home);
    EXPECT_EQ(o.cboAlert->currentText(), "Off");
    // How long deleted items are kept: 30 days unless another choice is stored.
    EXPECT_EQ(o.cboTrash->currentText(), "30 days");
    o.cboTrash->setFocus();
    QTest::keyClick(o.cboTrash, Qt::Key_End);
    QTest::mouseClick(o.cmdSave, Qt::LeftButton);
    EXPECT_EQ(desk.settings.value(kGreetKey) + desk.settings.value(kAlertKey), QStringLiteral("F0"));
    EXPECT_EQ(TrashDays(), 365);
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

TEST_F(DialogTest, TheDesktopsSettingsWatchTellsOfAnotherCopysWritesOnlyWhenTheyChangeSomething)
{
    // The settings file of this test's own, written as another running copy writes it.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
    QtPlatform qt;
    int told = 0;
    const auto watch = qt.watchSettings("KestrelWatchTest", [&] { ++told; });
    ASSERT_TRUE(watch);
    const auto write = [](const QString& value) {
        QSettings other("KestrelWatchTest", "KestrelWatchTest");
        other.setValue("App/DismissedAlerts", value);
    };
    write("12@2026-12-04T09:30");
    EXPECT_TRUE(QTest::qWaitFor([&] { return told == 1; }, 3000));
    write("12@2026-12-04T09:30 13@2026-12-04T10:00"); // the file was put in place anew: still watched
    EXPECT_TRUE(QTest::qWaitFor([&] { return told == 2; }, 3000));
    EXPECT_EQ(qt.getSetting("KestrelWatchTest", "App", "DismissedAlerts"), "12@2026-12-04T09:30 13@2026-12-04T10:00");
    write("12@2026-12-04T09:30 13@2026-12-04T10:00"); // the same again, and a read: nothing to tell
    QTest::qWait(300);
    EXPECT_EQ(told, 2);
}

TEST_F(DialogTest, AQuestionOfItsOwnButtonsTakesEnterAsItsDefaultAndEscapeAsNoneOfThem)
{
    QtPlatform qt;
    const QStringList buttons{QStringLiteral("&Only this one"), QStringLiteral("This and the &following"), QStringLiteral("&All")};
    const auto ask = [&](const std::function<void(QMessageBox&)>& press) {
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_TRUE(box);
            press(*box);
            if (box->isVisible()) {
                ADD_FAILURE() << "the key left the question open";
                box->reject();
            }
        });
        return static_cast<Platform&>(qt).askChoice(QStringLiteral("Which days?"), buttons, 1);
    };
    EXPECT_EQ(ask([](QMessageBox& b) { QTest::keyClick(&b, Qt::Key_Escape); }), -1);
    EXPECT_EQ(ask([](QMessageBox& b) { QTest::keyClick(&b, Qt::Key_Return); }), 1);
}

const QString kCompiled = QStringLiteral(KESTREL_SOURCE_DIR "/resources/kestrel.chm");
const QString kPages = QStringLiteral(KESTREL_SOURCE_DIR "/resources/help");
using HelpTest = KestrelTest;

TEST_F(HelpTest, CompiledFileMatchesItsPagesAndEveryLinkLeadsSomewhere)
{
    ChmFile chm;
    ASSERT_TRUE(chm.open(kCompiled)) << "rebuild with scripts/build-help.sh";
    const QStringList pages = QDir(kPages).entryList({QStringLiteral("*.html"), QStringLiteral("*.css")}, QDir::Files);
    ASSERT_GE(pages.size(), 10);
    for (const QString& page : pages) {
        QFile f(kPages + u'/' + page);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_EQ(chm.read(page), f.readAll()) << page.toStdString() << " changed since the help was compiled";
    }
    static const QRegularExpression href(QStringLiteral(R"re(href="([^"#]+))re"));
    for (const ChmFile::Topic& t : chm.contents())
        for (auto it = href.globalMatch(QString::fromUtf8(chm.read(t.local))); it.hasNext();) {
            const QString target = it.next().captured(1);
            EXPECT_TRUE(chm.contains(target)) << t.local.toStdString() << " links to missing " << target.toStdString();
        }
}

TEST_F(HelpTest, HelpWindowFollowsLinksAndNamesAMissingFile)
{
    // Opening the default topic from Help > Contents: test_app.
    frmHelp help;
    ASSERT_TRUE(help.OpenHelp(kCompiled));
    EXPECT_EQ(help.windowTitle(), QStringLiteral("Kestrel Help"));
    Q_EMIT help.rtbTopic->anchorClicked(QUrl(QStringLiteral("hotkeys.html")));
    EXPECT_EQ(help.tvContents->currentItem()->text(0), QStringLiteral("Hot keys"));
    EXPECT_FALSE(help.OpenHelp(dir.path() + QStringLiteral("/missing.chm")));
    EXPECT_EQ(desk.messages(), QStringList{QStringLiteral("The help file %1 could not be opened.").arg(dir.path() + "/missing.chm")});
}

TEST_F(HelpTest, TheContentsOpenAPageWithTheArrowsOrEnterAndEscapeClosesHelp)
{
    frmHelp help;
    ASSERT_TRUE(help.OpenHelp(kCompiled));
    help.show();
    ASSERT_TRUE(activated(&help));
    help.tvContents->setFocus(Qt::TabFocusReason);
    QTest::keyClick(help.tvContents, Qt::Key_Down);
    EXPECT_EQ(help.currentTopic(), "contacts.html");
    QTest::keyClick(help.tvContents, Qt::Key_End);
    EXPECT_EQ(help.currentTopic(), help.tvContents->currentItem()->data(0, Qt::UserRole).toString());
    EXPECT_NE(help.currentTopic(), "contacts.html");
    // A page opened from a link leaves the contents on its entry; Enter there opens that entry's page.
    help.ShowTopic("index.html");
    {
        const QSignalBlocker quiet(help.tvContents); // the keys stand on an entry whose page is not shown
        help.tvContents->setCurrentItem(help.tvContents->findItems("Calendar and appointments", Qt::MatchExactly).value(0));
    }
    QTest::keyClick(help.tvContents, Qt::Key_Return);
    EXPECT_EQ(help.currentTopic(), "calendar.html");
    QTest::keyClick(help.rtbTopic, Qt::Key_Escape);
    EXPECT_FALSE(help.isVisible());
}

TEST_F(HelpTest, ThePagesCoverTheReminderWindowOptionsExchangeFindAndTheDateBox)
{
    ChmFile chm;
    ASSERT_TRUE(chm.open(kCompiled));
    QString all;
    QStringList titles;
    for (const ChmFile::Topic& t : chm.contents()) {
        all += QString::fromUtf8(chm.read(t.local));
        titles << t.name;
    }
    for (const char* title : {"Reminders before appointments", "vCard and iCalendar", "Finding a contact", "History of a contact"})
        EXPECT_TRUE(titles.contains(title)) << title;
    for (const char* words : {"Snooze 5 minutes", "Dismiss", "Office database", "KESTREL_DATABASE", "minutes before",
                              "Import vCard", "Export iCalendar", "F8", "F4", "Discard the changes to this appointment?",
                              "Ctrl+S", "9:30 PM", "Log Activity", "Ctrl+H", "Mark Not held", "Deleted contacts",
                              "&lt;&lt;History 10&gt;&gt;"})
        EXPECT_TRUE(all.contains(words)) << words;
}

} // namespace
