#include "ui/QtPlatform.h"

#include "platform/Keyring.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QDir>
#include <QDialog>
#include <QFileDialog>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QPainter>
#include <QPainterPath>
#include <QPrintDialog>
#include <QPrinter>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QUrl>

#include <algorithm>

namespace kestrel {

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

int QtPlatform::askChoice(const QString& text, const QStringList& buttons, int defaultButton, const QString& caption)
{
    QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::NoButton, activeParent());
    box.setTextFormat(Qt::PlainText);
    std::vector<QPushButton*> added;
    for (const QString& b : buttons)
        added.push_back(box.addButton(b, QMessageBox::ActionRole));
    if (defaultButton >= 0 && defaultButton < int(added.size()))
        box.setDefaultButton(added[size_t(defaultButton)]);
    // A box of the caller's own buttons has none for Escape to press; Escape is the way out
    // all the same, through a button nobody sees.
    QPushButton* away = box.addButton(QMessageBox::Cancel);
    away->hide();
    box.setEscapeButton(away);
    box.exec();
    const auto it = std::find(added.begin(), added.end(), box.clickedButton());
    return it == added.end() ? -1 : int(it - added.begin());
}

QString QtPlatform::inputBox(const QString& prompt, const QString& title, const QString& defaultText, int maxLength)
{
    QInputDialog box(activeParent());
    box.setWindowTitle(title);
    box.setLabelText(prompt);
    box.setTextValue(defaultText);
    // The limit bounds what is typed: a longer default is shown whole and can only shrink.
    if (auto* edit = box.findChild<QLineEdit*>(); edit && maxLength > 0) {
        edit->setMaxLength(std::max(maxLength, int(defaultText.size())));
        edit->setText(defaultText);
        QObject::connect(edit, &QLineEdit::textEdited, edit, [edit, maxLength](const QString& text) {
            edit->setMaxLength(std::max(maxLength, int(text.size())));
        });
    }
    if (box.exec() != QDialog::Accepted)
        return QString();
    QString text = box.textValue();
    // The box counts UTF-16 units: a character cut in half at the limit is dropped whole.
    if (!text.isEmpty() && text.back().isHighSurrogate())
        text.chop(1);
    return text;
}

QString QtPlatform::passwordBox(const QString& prompt, const QString& title)
{
    QInputDialog box(activeParent());
    box.setWindowTitle(title);
    box.setLabelText(prompt);
    box.setTextEchoMode(QLineEdit::Password);
    return box.exec() == QDialog::Accepted ? box.textValue() : QString();
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

QString QtPlatform::saveFileName(const QString& startDir, const QString& title, const QString& filter, int* type)
{
    const QStringList types = qtFilter(filter).split(QStringLiteral(";;"));
    QString chosenType = types.value(0);
    const QString path = QFileDialog::getSaveFileName(activeParent(), title, startFolder(startDir), types.join(QStringLiteral(";;")),
                                                      &chosenType, QFileDialog::DontConfirmOverwrite);
    *type = int(std::max<qsizetype>(0, types.indexOf(chosenType)));
    return path;
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

bool QtPlatform::openMailLink(const QString& link)
{
    // xdg-open hands a mail link on without a word when no program takes it: the desktop is asked
    // first which program it would be (nothing printed: none). Where it cannot be asked, Qt's own
    // answer stands (false when it finds no program to hand links to).
    if (const QString mime = QStandardPaths::findExecutable(QStringLiteral("xdg-mime")); !mime.isEmpty()) {
        QProcess query;
        query.start(mime, {QStringLiteral("query"), QStringLiteral("default"), QStringLiteral("x-scheme-handler/mailto")});
        if (query.waitForFinished(5000) && query.exitStatus() == QProcess::NormalExit &&
            query.readAllStandardOutput().trimmed().isEmpty())
            return false;
    }
    return QDesktopServices::openUrl(QUrl(link));
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
    // Made for the user alone before anything is written into it; rewriting keeps the mode.
    const QString file = settings.fileName();
    if (!QFileInfo::exists(file) && QDir().mkpath(QFileInfo(file).absolutePath())) {
        QFile made(file);
        if (made.open(QIODevice::WriteOnly | QIODevice::NewOnly))
            made.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    }
    settings.setValue(section + u'/' + key, value);
    settings.sync();
    QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner);
}

namespace {
// The settings file of another running copy is written anew (a new file put in place of the old),
// so its folder is watched too; a change is told once the file's bytes differ from the last seen,
// not for the lock files that come and go beside it.
class FileSettingsWatch final : public SettingsWatch {
public:
    FileSettingsWatch(const QString& file, std::function<void()> changed) : file_(file), changed_(std::move(changed))
    {
        const QString folder = QFileInfo(file).path();
        QDir().mkpath(folder);
        watcher_.addPath(folder);
        if (QFileInfo::exists(file))
            watcher_.addPath(file);
        seen_ = contents();
        settle_.setSingleShot(true);
        settle_.setInterval(50);
        QObject::connect(&watcher_, &QFileSystemWatcher::directoryChanged, &settle_, [this] { settle_.start(); });
        QObject::connect(&watcher_, &QFileSystemWatcher::fileChanged, &settle_, [this] { settle_.start(); });
        QObject::connect(&settle_, &QTimer::timeout, &settle_, [this] { look(); });
    }

private:
    QByteArray contents() const
    {
        QFile f(file_);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    void look()
    {
        if (!watcher_.files().contains(file_) && QFileInfo::exists(file_))
            watcher_.addPath(file_);
        QByteArray now = contents();
        if (now == seen_)
            return;
        seen_ = std::move(now);
        changed_();
    }
    QString file_;
    std::function<void()> changed_;
    QFileSystemWatcher watcher_;
    QTimer settle_;
    QByteArray seen_;
};
} // namespace

std::unique_ptr<SettingsWatch> QtPlatform::watchSettings(const QString& app, std::function<void()> changed)
{
    return std::make_unique<FileSettingsWatch>(QSettings(app, app).fileName(), std::move(changed));
}

void QtPlatform::doEvents() { QCoreApplication::processEvents(); }

void QtPlatform::setBusyCursor(bool on)
{
    // No event processing here: the wait runs inside a database call, which must not be
    // re-entered by a queued handler.
    if (on)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}

QDate QtPlatform::today() { return QDate::currentDate(); }

QDateTime QtPlatform::now() { return QDateTime::currentDateTime(); }

bool QtPlatform::notify(const QString& title, const QString& text)
{
    static const QString service = QStringLiteral("org.freedesktop.Notifications");
    QDBusConnection bus = QDBusConnection::sessionBus();
    // A notification server may also be one the bus starts on the first call.
    QDBusConnectionInterface* names = bus.isConnected() ? bus.interface() : nullptr;
    if (!names || (!names->isServiceRegistered(service) && !names->activatableServiceNames().value().contains(service)))
        return false;
    QDBusMessage call = QDBusMessage::createMethodCall(service, QStringLiteral("/org/freedesktop/Notifications"),
                                                       service, QStringLiteral("Notify"));
    // app name, id to replace (none), icon, summary, body (plain: names come from the database),
    // actions, hints, expiry (the server's default).
    call << kAppTitle << 0u << QStringLiteral("appointment-soon") << title << text.toHtmlEscaped() << QStringList()
         << QVariantMap{{QStringLiteral("urgency"), QVariant::fromValue(uchar(1))}} << -1;
    // Not waited for: a slow notification server must not hold up the program.
    return bus.send(call);
}

namespace {
QIcon trayIcon()
{
    if (!QApplication::windowIcon().isNull())
        return QApplication::windowIcon();
    // A small bell, for a program without an icon of its own.
    QPixmap pm(32, 32);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(60, 60, 60), 2));
    p.setBrush(QColor(240, 190, 40));
    QPainterPath bell;
    bell.moveTo(6, 24);
    bell.cubicTo(10, 20, 8, 6, 16, 5);
    bell.cubicTo(24, 6, 22, 20, 26, 24);
    bell.closeSubpath();
    p.drawPath(bell);
    p.drawEllipse(QPointF(16, 27), 3, 3);
    return QIcon(pm);
}
} // namespace

void QtPlatform::setTrayStatus(const QString& tip)
{
    if (tip.isEmpty() || !QSystemTrayIcon::isSystemTrayAvailable()) {
        if (tray_)
            tray_->hide();
        return;
    }
    if (!tray_)
        tray_ = new QSystemTrayIcon(trayIcon(), qApp);
    tray_->setToolTip(tip);
    tray_->show();
}

void installQtPlatform()
{
    registerDefaultPlatform([]() -> Platform* {
        static QtPlatform instance;
        return &instance;
    });
}

// The office password goes through the same keyring wrapper as the sync's.
bool QtPlatform::hasKeyring()
{
    // Nothing kept under the name is the answer of a keyring that runs.
    const KeyringStatus s = keyring().read(QStringLiteral("kestrel-keyring-probe")).status;
    return s == KeyringStatus::Done || s == KeyringStatus::NotFound;
}

QString QtPlatform::readSecret(const QString& key)
{
    const KeyringAnswer a = keyring().read(key);
    return a.status == KeyringStatus::Done ? a.secret : QString();
}

bool QtPlatform::saveSecret(const QString& key, const QString& secret)
{
    return keyring().write(key, secret).status == KeyringStatus::Done;
}

void QtPlatform::forgetSecret(const QString& key) { keyring().remove(key); }

} // namespace kestrel
