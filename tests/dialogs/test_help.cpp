// The committed help file against its pages, and the help window that shows it.
#include "dialogs/ChmFile.h"
#include "dialogs/frmHelp.h"
#include "tests/support/Fixture.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTest>
#include <QTreeWidget>

using namespace kestrel;
using namespace kestrel::test;

namespace {

const QString kSource = QStringLiteral(KESTREL_SOURCE_DIR);
const QString kCompiled = kSource + QStringLiteral("/resources/kestrel.chm");
const QString kPages = kSource + QStringLiteral("/resources/help");

QByteArray fileBytes(const QString& path)
{
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << path.toStdString();
    return f.readAll();
}

// Name and Local of each entry of a table-of-contents source, in order.
QStringList tocEntries(const QString& hhc)
{
    QStringList out;
    static const QRegularExpression param(QStringLiteral(R"re(<param name="(Name|Local)" value="([^"]*)">)re"),
                                          QRegularExpression::CaseInsensitiveOption);
    for (auto it = param.globalMatch(hhc); it.hasNext();)
        out << it.next().captured(2);
    return out;
}

class HelpTest : public KestrelTest {};

} // namespace

TEST_F(HelpTest, CompiledFileMatchesItsPagesAndEveryLinkLeadsSomewhere)
{
    ChmFile chm;
    ASSERT_TRUE(chm.open(kCompiled)) << "rebuild with scripts/build-help.sh";
    const QStringList pages = QDir(kPages).entryList({QStringLiteral("*.html"), QStringLiteral("*.css")}, QDir::Files);
    ASSERT_GE(pages.size(), 10);
    QStringList compiledPages;
    for (const QString& f : chm.files())
        if (f.endsWith(QLatin1String(".html")) || f.endsWith(QLatin1String(".css")))
            compiledPages << f.mid(1);
    compiledPages.sort();
    EXPECT_EQ(compiledPages, pages) << "rebuild with scripts/build-help.sh";
    for (const QString& page : pages)
        EXPECT_EQ(chm.read(page), fileBytes(kPages + u'/' + page)) << page.toStdString() << " changed since the help was compiled";

    QStringList compiledToc;
    for (const ChmFile::Topic& t : chm.contents())
        compiledToc << t.name << t.local;
    EXPECT_EQ(compiledToc, tocEntries(QString::fromUtf8(fileBytes(kPages + QStringLiteral("/kestrel.hhc")))));
    EXPECT_EQ(chm.title(), QStringLiteral("Kestrel Help"));
    EXPECT_EQ(chm.defaultTopic(), QStringLiteral("index.html"));

    // The pages cover the program, and every link leads somewhere.
    QStringList topics;
    for (const ChmFile::Topic& t : chm.contents())
        topics << t.name;
    EXPECT_EQ(topics.join(u'|'), QStringLiteral("Getting started|Contacts|Calendar and appointments|Reminders and to-do list|"
                                                "Importing contacts|Exporting contacts|Printing|Options and the greeting|Hot keys"));
    static const QRegularExpression href(QStringLiteral(R"re(href="([^"#]+))re"));
    for (const ChmFile::Topic& t : chm.contents()) {
        const QString html = QString::fromUtf8(chm.read(t.local));
        ASSERT_FALSE(html.isEmpty()) << t.local.toStdString();
        for (auto it = href.globalMatch(html); it.hasNext();) {
            const QString target = it.next().captured(1);
            EXPECT_TRUE(chm.contains(target)) << t.local.toStdString() << " links to missing " << target.toStdString();
        }
    }
    // Every hot key of the main window is listed.
    const QString keys = QString::fromUtf8(chm.read(QStringLiteral("hotkeys.html")));
    for (const char* key : {"F1", "F2", "F3", "F4", "F5", "F6", "F7", "Ctrl+P", "Ctrl+T", "Ctrl+F"})
        EXPECT_TRUE(keys.contains(QStringLiteral("<td>%1</td>").arg(QLatin1String(key)))) << key;
}

TEST_F(HelpTest, HelpWindowOpensTheDefaultTopicAndFollowsLinks)
{
    // Help > Contents hands over the path as the program has always written it.
    ASSERT_TRUE(QFile::copy(kCompiled, dir.path() + QStringLiteral("/kestrel.chm")));
    ShowHelp(dir.path() + QStringLiteral("\\kestrel.chm"));
    frmHelp* help = helpWindow();
    ASSERT_TRUE(help);
    EXPECT_TRUE(help->isVisible());
    EXPECT_EQ(help->windowTitle(), QStringLiteral("Kestrel Help"));
    EXPECT_EQ(help->currentTopic(), QStringLiteral("index.html"));
    EXPECT_EQ(help->rtbTopic->documentTitle(), QStringLiteral("Getting started"));
    EXPECT_EQ(help->tvContents->currentItem()->text(0), QStringLiteral("Getting started"));

    // A topic chosen in the contents.
    QTreeWidgetItem* printing = help->tvContents->topLevelItem(6);
    ASSERT_EQ(printing->text(0), QStringLiteral("Printing"));
    const QRect at = help->tvContents->visualItemRect(printing);
    QTest::mouseClick(help->tvContents->viewport(), Qt::LeftButton, {}, at.center());
    EXPECT_EQ(help->currentTopic(), QStringLiteral("printing.html"));
    EXPECT_TRUE(help->rtbTopic->toPlainText().contains(QLatin1String("Print Lead Forms")));

    // A link within a page, and one that belongs to the desktop.
    Q_EMIT help->rtbTopic->anchorClicked(QUrl(QStringLiteral("hotkeys.html")));
    EXPECT_EQ(help->currentTopic(), QStringLiteral("hotkeys.html"));
    EXPECT_EQ(help->tvContents->currentItem()->text(0), QStringLiteral("Hot keys"));
    Q_EMIT help->rtbTopic->anchorClicked(QUrl(QStringLiteral("mailto:someone@example.com")));
    EXPECT_EQ(desk.opened, QStringList{QStringLiteral("mailto:someone@example.com")});
    EXPECT_EQ(help->currentTopic(), QStringLiteral("hotkeys.html"));

    // Opening again returns to the default topic in the same window.
    ShowHelp(dir.path() + QStringLiteral("/kestrel.chm"));
    EXPECT_EQ(helpWindow(), help);
    EXPECT_EQ(help->currentTopic(), QStringLiteral("index.html"));
    help->close();
}

TEST_F(HelpTest, MissingOrDamagedHelpFileIsNamed)
{
    frmHelp help;
    EXPECT_FALSE(help.OpenHelp(dir.path() + QStringLiteral("/kestrel.chm")));
    QFile bad(dir.path() + QStringLiteral("/bad.chm"));
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly) && bad.write(QByteArray(5000, 'x')) == 5000);
    bad.close();
    EXPECT_FALSE(help.OpenHelp(bad.fileName()));
    ASSERT_EQ(desk.messages().size(), 2);
    EXPECT_EQ(desk.messages()[0], QStringLiteral("The help file %1 could not be opened.").arg(dir.path() + QStringLiteral("/kestrel.chm")));
    EXPECT_FALSE(help.isVisible());
}
