// What a stored or imported value can never do: add a header, recipient or parameter to a mail
// link, make a message box read a file, or make the lead-form template pull in another file.
#include "data/Globals.h"
#include "platform/Platform.h"
#include "ui/QtPlatform.h"
#include "printing/RtfReader.h"
#include "tests/hostile/Hostile.h"
#include "tests/support/Files.h"
#include "ui/Report.h"

#include <QSettings>
#include <QStandardPaths>
#include <QTest>

#include <sys/stat.h>

using namespace kestrel;
using namespace kestrel::test;

namespace {

using Security = KestrelTest;

TEST_F(Security, MailLinksCarryTheAddressAndOnlyTheParametersTheProgramAdds)
{
    for (const QString& a : QStringLiteral("ann@x.com?cc=eve@y.com|ann@x.com&bcc=eve@y.com|ann@x.com\r\nBcc: eve@y.com|"
                                           "ann%0D%0ABcc:eve@y.com|ann@x.com#frag|ann@x.com,eve@y.com|"
                                           "ann@x.com; eve@y.com|O'Brien+tag@x.com|zoë@exämple.com").split(u'|')) {
        const QString link = mailtoLink(a, QStringLiteral("subject=KT_Bug"));
        const QUrl url(link, QUrl::StrictMode);
        EXPECT_TRUE(url.isValid() && url.scheme() == u"mailto" && !url.hasFragment()) << link.toStdString();
        EXPECT_EQ(url.path(QUrl::FullyDecoded), a) << link.toStdString();
        EXPECT_EQ(url.query(), QStringLiteral("subject=KT_Bug")) << link.toStdString();
        EXPECT_EQ(QUrl(mailtoLink(a)).query(), QString()) << link.toStdString();
    }
}

TEST_F(Security, TextAfterTheEndOfAStatementFailsTheWholeStatement)
{
    const QString insert = QStringLiteral("INSERT into todo (todo)values('first')");
    EXPECT_TRUE(ActionQuery(insert + QStringLiteral(" ;  "), sConnMain));
    // What a value that had broken out of its quotes would leave behind: nothing of it runs.
    EXPECT_FALSE(ActionQuery(insert + QStringLiteral("; delete from todo"), sConnMain));
    EXPECT_FALSE(ActionQuery(insert + QStringLiteral(" -- ') and the rest"), sConnMain));
    EXPECT_EQ(rows(sConnMain, QStringLiteral("select todo from todo")), (std::vector<QStringList>{{"first"}}));
}

TEST_F(Security, MessageBoxesShowReportTextsAsPlainTextAndAQuestionDefaultsToNo)
{
    // A header name or stored value written as markup must reach the user as the text it is.
    const QString text = QStringLiteral("Please map or delete the field: <img src=\"%1\"><b>x</b>").arg(dir.filePath(QStringLiteral("x.png")));
    installQtPlatform();
    setPlatform(nullptr);
    QStringList seen;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        seen << QString::number(int(box->textFormat())) + u'|' + box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"))->text();
        QTest::keyClick(box, Qt::Key_Return); // presses the default: OK, or No of a question
    });
    poll.start(10);
    platform().msgBox(text, kAppTitle);
    EXPECT_FALSE(platform().askYesNo(text, kAppTitle));
    setPlatform(&desk);
    EXPECT_EQ(seen, QStringList(2, QString::number(int(Qt::PlainText)) + u'|' + text));
}

TEST_F(Security, TemplateFieldsNeverPullInAnotherFile)
{
    const QByteArray path = writeBytes(dir.filePath(QStringLiteral("secret.txt")), "SECRET CONTENT").toUtf8();
    const QByteArray rtf = "{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}\\f0 Name: "
                           "{\\field{\\*\\fldinst INCLUDETEXT \"" + path + "\"}{\\fldrslt shown}}\\par "
                           "{\\field{\\*\\fldinst INCLUDEPICTURE \"" + path + "\" \\\\d}{\\fldrslt }}\\par "
                           "{\\field{\\*\\fldinst HYPERLINK \"file://" + path + "\"}{\\fldrslt link}}\\par "
                           "{\\object\\objemb{\\*\\objclass Package}{\\*\\objdata 0105}{\\result x}}\\par "
                           "{\\*\\template " + path + "}{\\pict\\pngblip 89504e47}end}";
    QTextDocument doc;
    RtfReader reader;
    ASSERT_TRUE(reader.read(rtf, &doc));
    EXPECT_FALSE(doc.toPlainText().contains(QStringLiteral("SECRET"))) << doc.toPlainText().toStdString();
    EXPECT_TRUE(doc.toPlainText().contains(QStringLiteral("Name: shown")));
    for (QTextBlock b = doc.begin(); b.isValid(); b = b.next())
        for (auto it = b.begin(); !it.atEnd(); ++it)
            EXPECT_FALSE(it.fragment().charFormat().isImageFormat()) << it.fragment().text().toStdString();
}

TEST_F(Security, TheSettingsFileIsTheUsersAloneWhateverTheUmask)
{
    QStandardPaths::setTestModeEnabled(true); // the settings of a test user, not the real one
    const QString app = QStringLiteral("KestrelModeTest");
    const QString file = QSettings(app, app).fileName();
    QFile::remove(file);
    const mode_t was = ::umask(022);
    QtPlatform desktop;
    desktop.saveSetting(app, QStringLiteral("Office"), QStringLiteral("Database"), QStringLiteral("host=a"));
    const auto ownerOnly = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser;
    EXPECT_EQ(QFile::permissions(file), ownerOnly);
    // A file an earlier version left readable to all is made the user's at the next write.
    QFile::setPermissions(file, ownerOnly | QFile::ReadGroup | QFile::ReadOther);
    desktop.saveSetting(app, QStringLiteral("Office"), QStringLiteral("Database"), QStringLiteral("host=b"));
    EXPECT_EQ(QFile::permissions(file), ownerOnly);
    EXPECT_EQ(desktop.getSetting(app, QStringLiteral("Office"), QStringLiteral("Database")), QStringLiteral("host=b"));
    ::umask(was);
    QFile::remove(file);
    QStandardPaths::setTestModeEnabled(false);
}

} // namespace
