#pragma once
// The help window: the compiled help file's table of contents beside the chosen topic. Not
// modal, so the user can read while working in the main window.
#include "dialogs/ChmFile.h"

#include <QTextBrowser>
#include <QWidget>

class QTreeWidget;
class QTreeWidgetItem;

namespace kestrel {

// Shows the help file's pages, fetching each page, picture and style sheet from the file.
class HelpBrowser : public QTextBrowser {
    Q_OBJECT
public:
    HelpBrowser(const ChmFile& chm, QWidget* parent) : QTextBrowser(parent), chm_(chm) {}
    QVariant loadResource(int type, const QUrl& name) override;

private:
    const ChmFile& chm_;
};

class frmHelp : public QWidget {
    Q_OBJECT
public:
    explicit frmHelp(QWidget* parent = nullptr);

    // Opens a help file at its default topic; false (the user told) when it cannot be read.
    bool OpenHelp(const QString& path);
    // Shows a topic by its path inside the file.
    void ShowTopic(const QString& local);
    // The path inside the file of the topic on show.
    QString currentTopic() const;

    // Shows the page of a contents entry (entries that are only headings have none).
    void tvContents_NodeClick(QTreeWidgetItem* item);

    QTreeWidget* tvContents = nullptr;
    HelpBrowser* rtbTopic = nullptr;

    static constexpr const char* kScheme = "chm";

private:
    void anchorClicked(const QUrl& url);
    void selectInContents(const QString& local);

    ChmFile chm_;
};

// Help > Contents: opens the help file beside the program in the one help window.
void ShowHelp(const QString& path);
// The help window, once it has been opened (nullptr before).
frmHelp* helpWindow();

} // namespace kestrel
