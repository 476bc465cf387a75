#pragma once
// A server that answers from a recorded conversation, for the quirks of servers that cannot run
// here. A file holds the exchanges in order:
//
//   >>> METHOD /path/        (a path ending in * matches any rest)
//   <<< STATUS
//   Header: value
//
//   body, to the next >>> line
//
// "{put}" in an answer stands for the path of the last PUT. Every request is kept for the test to
// look at; one the recording does not expect is answered 500 and named in failures.
#include "data/Globals.h"
#include "sync/SyncRunner.h"

#include <QFile>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

#include <memory>
#include <vector>

namespace kestrel::test {

struct HttpRequest {
    QByteArray method, path, body;
    QHash<QByteArray, QByteArray> headers; // names in lower case
};

// Reads one whole request from the front of what a test server has received; false while it has
// not all come.
inline bool takeHttpRequest(const QByteArray& buf, HttpRequest& r)
{
    const qsizetype end = buf.indexOf("\r\n\r\n");
    if (end < 0)
        return false;
    const QList<QByteArray> lines = buf.left(end).split('\n');
    const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
    r.method = first.value(0);
    r.path = first.value(1);
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray l = lines[i].trimmed();
        const qsizetype colon = l.indexOf(':');
        if (colon > 0)
            r.headers.insert(l.left(colon).trimmed().toLower(), l.mid(colon + 1).trimmed());
    }
    const int length = r.headers.value("content-length").toInt();
    if (buf.size() < end + 4 + length)
        return false;
    r.body = buf.mid(end + 4, length);
    return true;
}

// An HTTP server on this computer that keeps every request and answers each with what respond()
// writes; the connection closes after each answer.
class LocalHttpServer : public QObject {
public:
    explicit LocalHttpServer(const QHostAddress& address = QHostAddress::LocalHost)
    {
        server.listen(address, 0);
        QObject::connect(&server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* s = server.nextPendingConnection()) {
                QObject::connect(s, &QTcpSocket::readyRead, this, [this, s] { read(s); });
                QObject::connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
            }
        });
    }
    std::vector<HttpRequest> requests;

protected:
    virtual QByteArray respond(const HttpRequest& r) = 0;
    // An answer after which the connection closes; without withLength the body ends where the
    // connection does.
    static QByteArray answer(int status, const QList<QPair<QByteArray, QByteArray>>& headers, const QByteArray& body,
                             bool withLength = true)
    {
        QByteArray out = "HTTP/1.1 " + QByteArray::number(status) + " Test\r\n";
        for (const auto& [name, value] : headers)
            out += name + ": " + value + "\r\n";
        if (withLength)
            out += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
        return out + "Connection: close\r\n\r\n" + body;
    }
    QTcpServer server;

private:
    void read(QTcpSocket* s)
    {
        QByteArray& buf = pending[s];
        buf += s->readAll();
        HttpRequest r;
        if (!takeHttpRequest(buf, r))
            return;
        pending.remove(s);
        requests.push_back(r);
        s->write(respond(r));
        s->disconnectFromHost();
    }
    QHash<QTcpSocket*, QByteArray> pending;
};

class RecordedServer : public LocalHttpServer {
public:
    struct Exchange {
        QByteArray method, path;
        int status = 200;
        QList<QPair<QByteArray, QByteArray>> headers;
        QByteArray body;
    };
    using Request = HttpRequest;

    explicit RecordedServer(const QString& file)
    {
        QFile f(file);
        if (!f.open(QIODevice::ReadOnly))
            failures << "no recording " + file.toUtf8();
        Exchange* cur = nullptr;
        bool inBody = false;
        for (const QByteArray& raw : f.readAll().split('\n')) {
            const QByteArray line = raw.endsWith('\r') ? raw.chopped(1) : raw;
            if (line.startsWith(">>> ")) {
                script.push_back({});
                cur = &script.back();
                const QList<QByteArray> parts = line.mid(4).split(' ');
                cur->method = parts.value(0);
                cur->path = parts.value(1);
                inBody = false;
            } else if (cur && line.startsWith("<<< ")) {
                cur->status = line.mid(4).toInt();
            } else if (cur && !inBody && line.isEmpty()) {
                inBody = true;
            } else if (cur && !inBody) {
                const qsizetype colon = line.indexOf(':');
                cur->headers.append({line.left(colon).trimmed(), line.mid(colon + 1).trimmed()});
            } else if (cur) {
                cur->body += line + '\n';
            }
        }
    }

    QString url() const { return QStringLiteral("http://127.0.0.1:%1/").arg(server.serverPort()); }
    bool allAnswered() const { return next == script.size(); }

    std::vector<Exchange> script;
    QList<QByteArray> failures;

private:
    QByteArray respond(const Request& r) override
    {
        if (r.method == "PUT")
            lastPut = r.path;
        Exchange given{{}, {}, 500, {}, "not in the recording\n"};
        if (next < script.size()) {
            const Exchange& e = script[next];
            const bool pathMatches = e.path.endsWith('*') ? r.path.startsWith(e.path.chopped(1)) : r.path == e.path;
            if (e.method == r.method && pathMatches) {
                given = e;
                ++next;
            } else {
                failures << "expected " + e.method + ' ' + e.path + ", got " + r.method + ' ' + r.path;
            }
        } else {
            failures << "unexpected " + r.method + ' ' + r.path;
        }
        for (auto& header : given.headers)
            header.second.replace("{put}", lastPut);
        return answer(given.status, given.headers, given.body.replace("{put}", lastPut));
    }

    size_t next = 0;
    QByteArray lastPut;
};

// A sync of the address book url/book/ on the server at url, as user with password.
inline sync::Report syncBook(const QString& url, const QString& user = {}, const QString& password = {})
{
    sync::Job j;
    j.connectionText = sConnContacts;
    j.server = QUrl(url);
    j.user = user;
    j.password = password;
    j.addressBook = QUrl(url + QStringLiteral("book/"));
    return sync::SyncRunner::runToEnd(j);
}

} // namespace kestrel::test
