#include "dialogs/frmHelp.h"

#include "ui/Accessible.h"
#include "ui/Ui.h"
#include "platform/Platform.h"

#include <QDir>
#include <QHBoxLayout>
#include <QShortcut>
#include <QSplitter>
#include <QTreeWidget>
#include <QUrl>

namespace kestrel {

namespace {
QUrl topicUrl(const QString& local)
{
    QUrl url;
    url.setScheme(QString::fromLatin1(frmHelp::kScheme));
    url.setPath(local.startsWith(u'/') ? local : u'/' + local);
    return url;
}

frmHelp* gHelp = nullptr;
} // namespace

QVariant HelpBrowser::loadResource(int type, const QUrl& name)
{
    const QUrl url = name.isRelative() ? source().resolved(name) : name;
    if (url.scheme() != QLatin1String(frmHelp::kScheme))
        return {};
    const QByteArray data = chm_.read(url.path());
    if (data.isEmpty() && type == QTextDocument::HtmlResource)
        return QStringLiteral("<p>This page is missing from the help file.</p>");
    return data;
}

frmHelp::frmHelp(QWidget* parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("frmHelp"));
    setWindowTitle(QStringLiteral("Kestrel Help"));
    resize(px(12000), px(8400));
    auto* splitter = new QSplitter(this);
    tvContents = new QTreeWidget(splitter);
    tvContents->setObjectName(QStringLiteral("tvContents"));
    tvContents->setHeaderHidden(true);
    tvContents->setAccessibleName(QStringLiteral("Contents"));
    rtbTopic = new HelpBrowser(chm_, splitter);
    rtbTopic->setObjectName(QStringLiteral("rtbTopic"));
    rtbTopic->setOpenLinks(false);
    rtbTopic->setAccessibleName(QStringLiteral("Help topic"));
    splitter->setStretchFactor(1, 1);
    readInTabOrder(splitter);
    splitter->setSizes({px(3000), px(9000)});
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(splitter);

    // The page of the entry chosen: by a click, by the arrow keys, or by Enter.
    connect(tvContents, &QTreeWidget::itemClicked, this, &frmHelp::tvContents_NodeClick);
    connect(tvContents, &QTreeWidget::itemActivated, this, &frmHelp::tvContents_NodeClick);
    connect(tvContents, &QTreeWidget::currentItemChanged, this, &frmHelp::tvContents_NodeClick);
    connect(rtbTopic, &QTextBrowser::anchorClicked, this, &frmHelp::anchorClicked);
    // Escape closes Help from wherever the keys are in it.
    auto* close = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    close->setContext(Qt::WidgetWithChildrenShortcut);
    connect(close, &QShortcut::activated, this, &QWidget::close);
}

void frmHelp::tvContents_NodeClick(QTreeWidgetItem* item)
{
    if (!item)
        return;
    // A page shown from a link is already on show, perhaps at a place further down: left there.
    if (const QString local = item->data(0, Qt::UserRole).toString(); !local.isEmpty() && local != currentTopic())
        ShowTopic(local);
}

bool frmHelp::OpenHelp(const QString& path)
{
    if (!chm_.open(path)) {
        platform().msgBox(QStringLiteral("The help file %1 could not be opened.").arg(QDir::toNativeSeparators(path)));
        return false;
    }
    if (!chm_.title().isEmpty())
        setWindowTitle(chm_.title());
    tvContents->clear();
    // Each entry goes under the last one of the level above it.
    QList<QTreeWidgetItem*> parents;
    for (const ChmFile::Topic& t : chm_.contents()) {
        const int level = std::clamp(t.depth, 1, int(parents.size()) + 1);
        parents.resize(level - 1);
        auto* item = parents.isEmpty() ? new QTreeWidgetItem(tvContents) : new QTreeWidgetItem(parents.last());
        item->setText(0, t.name);
        item->setData(0, Qt::UserRole, t.local);
        parents.append(item);
    }
    tvContents->expandAll();
    ShowTopic(chm_.defaultTopic());
    return true;
}

void frmHelp::ShowTopic(const QString& local)
{
    rtbTopic->setSource(topicUrl(local), QTextDocument::HtmlResource);
    selectInContents(currentTopic());
}

QString frmHelp::currentTopic() const { return rtbTopic->source().path().mid(1); }

void frmHelp::anchorClicked(const QUrl& url)
{
    const QUrl target = rtbTopic->source().resolved(url);
    if (target.scheme() == QLatin1String(kScheme)) {
        rtbTopic->setSource(target, QTextDocument::HtmlResource);
        selectInContents(currentTopic());
    } else {
        // Mail and web links belong to the desktop's own programs.
        platform().openDocument(url.toString());
    }
}

void frmHelp::selectInContents(const QString& local)
{
    for (QTreeWidgetItemIterator it(tvContents); *it; ++it) {
        if ((*it)->data(0, Qt::UserRole).toString() == local) {
            tvContents->setCurrentItem(*it);
            return;
        }
    }
}

void ShowHelp(const QString& path)
{
    // The help path is kept in the form the program has always written it, with backslashes.
    QString file = path;
    file.replace(u'\\', u'/');
    if (!gHelp)
        gHelp = new frmHelp;
    if (!gHelp->OpenHelp(file))
        return;
    gHelp->show();
    gHelp->raise();
    gHelp->activateWindow();
}

frmHelp* helpWindow() { return gHelp; }

} // namespace kestrel
