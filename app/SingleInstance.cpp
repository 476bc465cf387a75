#include "app/SingleInstance.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QWidget>

#include <unistd.h>

namespace kestrel {

namespace {
constexpr char kRaise[] = "raise\n";
constexpr char kDone[] = "ok\n";
constexpr qint64 kMaxRequest = 64; // anything longer is not one of ours
} // namespace

SingleInstance::SingleInstance(const QString& dataDir, QObject* parent)
    : QObject(parent), name_(serverName(dataDir))
{
}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::serverName(const QString& dataDir)
{
    // The folder may not exist yet on a first start; its cleaned absolute path names it then.
    const QFileInfo info(dataDir);
    QString path = info.canonicalFilePath();
    if (path.isEmpty())
        path = QDir::cleanPath(info.absoluteFilePath());
    const QByteArray key = QByteArray::number(static_cast<qulonglong>(::getuid())) + '\0' + path.toUtf8();
    // The session's own runtime folder where there is one: private to the user and emptied at
    // log-out, so a socket left by a killed run does not linger in /tmp.
    QString dir = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (dir.isEmpty() || !QFileInfo(dir).isDir())
        dir = QDir::tempPath();
    return dir + QStringLiteral("/kestrel-")
        + QString::fromLatin1(QCryptographicHash::hash(key, QCryptographicHash::Sha256).toHex().left(24));
}

SingleInstance::Outcome SingleInstance::claim(int timeoutMs)
{
    // Two starts at the same moment must not both decide they are first: the look and the
    // listen happen under one lock. QLockFile takes over a lock left by a crashed start.
    QLockFile lock(name_ + QStringLiteral(".lock"));
    lock.tryLock(timeoutMs);

    QLocalSocket socket;
    socket.connectToServer(name_);
    if (socket.waitForConnected(timeoutMs)) {
        socket.write(kRaise);
        QByteArray answer;
        while (!answer.contains('\n') && socket.waitForReadyRead(timeoutMs))
            answer += socket.readAll();
        return answer == kDone ? Outcome::HandedOver : Outcome::NoAnswer;
    }

    // Nobody listens on the name: a socket file left by a crashed run would make listen fail.
    QLocalServer::removeServer(name_);
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    connect(server_, &QLocalServer::newConnection, this, &SingleInstance::onNewConnection);
    if (!server_->listen(name_)) {
        // The program still runs; only later starts will open windows of their own.
        qWarning("Kestrel cannot listen for later starts (%s)", qPrintable(server_->errorString()));
        delete server_;
        server_ = nullptr;
    }
    return Outcome::First;
}

void SingleInstance::onNewConnection()
{
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { onRequest(socket); });
        if (socket->bytesAvailable() > 0)
            onRequest(socket);
    }
}

void SingleInstance::onRequest(QLocalSocket* socket)
{
    if (!socket->canReadLine()) {
        if (socket->bytesAvailable() > kMaxRequest)
            socket->disconnectFromServer();
        return;
    }
    if (socket->readLine(kMaxRequest) == kRaise) {
        // Answer first: the later start is waiting and can leave while the window comes forward.
        socket->write(kDone);
        socket->flush();
        Q_EMIT raiseRequested();
    }
    socket->disconnectFromServer();
}

void bringToFront(QWidget& window)
{
    window.setWindowState(window.windowState() & ~Qt::WindowMinimized);
    window.show();
    window.raise();
    window.activateWindow();
    if (QWidget* modal = QApplication::activeModalWidget(); modal && modal != &window) {
        modal->raise();
        modal->activateWindow();
    }
}

} // namespace kestrel
