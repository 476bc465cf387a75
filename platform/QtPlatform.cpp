#include "platform/QtPlatform.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QDialog>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>
#include <QProcess>
#include <QSettings>
#include <QUrl>

namespace kestrel {

void registerDefaultPlatform(Platform* (*factory)());

namespace {
QWidget* activeParent() { return QApplication::activeWindow(); }

// "CSV (*.csv)|*.csv" → "CSV (*.csv)": Qt reads the description part, which already names the pattern.
QString qtFilter(const QString& filter)
{
    const QStringList parts = filter.split(u'|');
    QStringList out;
    for (int i = 0; i + 1 < parts.size(); i += 2)
        out << parts[i];
    return out.isEmpty() ? filter : out.join(QStringLiteral(";;"));
}

QString startFolder(const QString& dir)
{
    // Start folders written for another desktop (drive letters) mean nothing here; begin at home.
    if (dir.isEmpty() || dir.contains(u':') || dir.contains(u'\\'))
        return QDir::homePath();
    return dir;
}
} // namespace

void QtPlatform::msgBox(const QString& text, const QString& caption)
{
    QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok, activeParent());
    // Reports quote names from files and the database; as rich text a name such as
    // <img src="/any/file"> would make the box read that file.
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

bool QtPlatform::askYesNo(const QString& text, const QString& caption) { return askYesNo(text, caption, Answer::No); }

bool QtPlatform::askYesNo(const QString& text, const QString& caption, Answer enterGives)
{
    QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::Yes | QMessageBox::No, activeParent());
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(enterGives == Answer::Yes ? QMessageBox::Yes : QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

QString QtPlatform::inputBox(const QString& prompt, const QString& title, const QString& defaultText)
{
    bool ok = false;
    const QString text = QInputDialog::getText(activeParent(), title, prompt, QLineEdit::Normal, defaultText, &ok);
    return ok ? text : QString();
}

QString QtPlatform::openFileName(const QString& startDir, const QString& title, const QString& filter)
{
    return QFileDialog::getOpenFileName(activeParent(), title, startFolder(startDir), qtFilter(filter));
}

QString QtPlatform::saveFileName(const QString& startDir, const QString& title, const QString& filter)
{
    return QFileDialog::getSaveFileName(activeParent(), title, startFolder(startDir), qtFilter(filter), nullptr,
                                        QFileDialog::DontConfirmOverwrite);
}

bool QtPlatform::printDialog(QPrinter& printer, bool hasSelection)
{
    QPrintDialog dialog(&printer, activeParent());
    QAbstractPrintDialog::PrintDialogOptions options = QAbstractPrintDialog::PrintToFile;
    if (hasSelection)
        options |= QAbstractPrintDialog::PrintSelection;
    dialog.setOptions(options);
    return dialog.exec() == QDialog::Accepted;
}

int QtPlatform::runModal(QDialog& dialog) { return dialog.exec(); }

void QtPlatform::openDocument(const QString& pathOrUrl)
{
    const QUrl url = pathOrUrl.contains(QStringLiteral(":")) && !pathOrUrl.startsWith(u'/')
                         ? QUrl(pathOrUrl)
                         : QUrl::fromLocalFile(pathOrUrl);
    QDesktopServices::openUrl(url);
}

bool QtPlatform::startProgram(const QString& program, const QStringList& args)
{
    return QProcess::startDetached(program, args);
}

QString QtPlatform::getSetting(const QString& app, const QString& section, const QString& key)
{
    QSettings settings(app, app);
    return settings.value(section + u'/' + key).toString();
}

void QtPlatform::saveSetting(const QString& app, const QString& section, const QString& key, const QString& value)
{
    QSettings settings(app, app);
    settings.setValue(section + u'/' + key, value);
}

void QtPlatform::doEvents() { QCoreApplication::processEvents(); }

QDate QtPlatform::today() { return QDate::currentDate(); }

QDateTime QtPlatform::now() { return QDateTime::currentDateTime(); }

void installQtPlatform()
{
    registerDefaultPlatform([]() -> Platform* {
        static QtPlatform instance;
        return &instance;
    });
}

} // namespace kestrel
