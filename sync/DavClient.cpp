#include "sync/DavClient.h"

#include <QAuthenticator>
#include <QEventLoop>
#include <QHostAddress>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

namespace kestrel::dav {

QByteArray Response::header(const QByteArray& lowerName) const
{
    for (const auto& [name, value] : headers)
        if (name == lowerName)
            return value;
    return {};
}

Client::Client(const QString& user, const QString& password, const QUrl& home)
    : net_(std::make_unique<QNetworkAccessManager>()), user_(user), password_(password), home_(home)
{
    // Redirects are followed here, keeping the method (a PROPFIND stays a PROPFIND).
    net_->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
    QObject::connect(net_.get(), &QNetworkAccessManager::authenticationRequired,
                     [this](QNetworkReply* reply, QAuthenticator* auth) {
                         // Asked twice for one request: the name or the password was refused.
                         if (reply->property("kestrelAuthTried").toBool() || user_.isEmpty() ||
                             !mayHaveCredentials(reply->url())) {
                             authRefused_ = true;
                             return;
                         }
                         reply->setProperty("kestrelAuthTried", true);
                         auth->setUser(user_);
                         auth->setPassword(password_);
                     });
}

Client::~Client() = default;

namespace {
bool isLoopback(const QUrl& url)
{
    const QString host = url.host();
    return host == QLatin1String("localhost") || QHostAddress(host).isLoopback();
}
} // namespace

bool Client::mayHaveCredentials(const QUrl& url) const
{
    return url.scheme() == QLatin1String("https") || url.host().compare(home_.host(), Qt::CaseInsensitive) == 0;
}

Response Client::send(const QByteArray& method, const QUrl& target, const QByteArray& body, int depth,
                      const Headers& headers)
{
    Response out;
    QUrl url = target;
    if (home_.isEmpty())
        home_ = target;
    for (int hop = 0; hop < 6; ++hop) {
        if (cancelled()) {
            out.network = QStringLiteral("the sync was stopped");
            return out;
        }
        QNetworkRequest request(url);
        request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
        request.setHeader(QNetworkRequest::UserAgentHeader, QStringLiteral("Kestrel"));
        if (!body.isEmpty() && !method.startsWith("PUT"))
            request.setRawHeader("Content-Type", "application/xml; charset=utf-8");
        if (depth >= 0)
            request.setRawHeader("Depth", QByteArray::number(depth));
        for (const auto& [name, value] : headers)
            request.setRawHeader(name, value);
        // Over an encrypted connection (or to this computer) the name and password go with the
        // first request, which saves asking each time; elsewhere only when the server asks, so a
        // server that wants a digest never sees the password itself.
        if (!user_.isEmpty() && mayHaveCredentials(url) && (url.scheme() == QLatin1String("https") || isLoopback(url)))
            request.setRawHeader("Authorization", "Basic " + (user_ + u':' + password_).toUtf8().toBase64());
        request.setTransferTimeout(timeoutMs_);

        ++requests_;
        QNetworkReply* reply = body.isEmpty() ? net_->sendCustomRequest(request, method)
                                              : net_->sendCustomRequest(request, method, body);
        QEventLoop wait;
        QObject::connect(reply, &QNetworkReply::finished, &wait, &QEventLoop::quit);
        QTimer poll; // a cancel from another thread is seen within a tenth of a second
        QObject::connect(&poll, &QTimer::timeout, &wait, [&] {
            if (cancelled())
                reply->abort();
        });
        poll.start(100);
        bool tooLarge = false;
        QObject::connect(reply, &QNetworkReply::downloadProgress, &wait, [&](qint64 received, qint64 total) {
            if (received > maxBody_ || total > maxBody_) {
                tooLarge = true;
                reply->abort();
            }
        });
        if (!reply->isFinished())
            wait.exec(QEventLoop::ExcludeUserInputEvents);
        poll.stop();

        out = Response{};
        out.url = url;
        out.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        out.body = reply->readAll();
        for (const auto& [name, value] : reply->rawHeaderPairs())
            out.headers.append({name.toLower(), value});
        if (out.status == 0) {
            out.timedOut = reply->error() == QNetworkReply::OperationCanceledError && !cancelled();
            out.network = cancelled() ? QStringLiteral("the sync was stopped")
                          : out.timedOut ? QStringLiteral("the server did not answer within %1 seconds").arg(timeoutMs_ / 1000)
                                         : reply->errorString();
        }
        const QByteArray location = reply->rawHeader("Location");
        reply->deleteLater();
        if (tooLarge) {
            out = Response{};
            out.url = url;
            out.distrusted = QStringLiteral("answered with more than %1 MB at once").arg(maxBody_ >> 20);
            return out;
        }
        if ((out.status == 301 || out.status == 302 || out.status == 303 || out.status == 307 || out.status == 308) &&
            !location.isEmpty()) {
            const QUrl next = url.resolved(QUrl::fromEncoded(location));
            // Never from an encrypted connection to a plain one, nor unencrypted to another computer:
            // the password or the contacts would travel readable, or to someone else.
            const bool https = next.scheme() == QLatin1String("https");
            QString why;
            if (next.scheme() != QLatin1String("http") && !https)
                why = QStringLiteral("sent Kestrel on to an address that is not a web address (%1)");
            else if (url.scheme() == QLatin1String("https") && !https)
                why = QStringLiteral("sent Kestrel from an encrypted connection on to an unencrypted one (%1)");
            else if (!https && next.host().compare(home_.host(), Qt::CaseInsensitive) != 0)
                why = QStringLiteral("sent Kestrel on to another computer over an unencrypted connection (%1)");
            if (!why.isEmpty()) {
                out.status = 0;
                out.distrusted = why.arg(next.toDisplayString(QUrl::RemoveUserInfo | QUrl::RemoveQuery));
                return out;
            }
            url = next;
            continue;
        }
        if (out.status == 401)
            authRefused_ = true;
        return out;
    }
    return out;
}

} // namespace kestrel::dav
