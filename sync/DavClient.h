#pragma once
// HTTP for the sync: one request at a time, waited for in the calling thread (the sync's own),
// with the user's name and password, redirects followed with the method kept, and a time limit.
// The name and password go only to the computer the user named, or over an encrypted connection;
// a server that sends Kestrel elsewhere unencrypted, or answers without end, is not followed.
#include <QAtomicInteger>
#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QUrl>

#include <memory>

class QNetworkAccessManager;

namespace kestrel::dav {

struct Response {
    int status = 0;           // 0: no answer at all (see network)
    QByteArray body;
    QList<QPair<QByteArray, QByteArray>> headers; // names in lower case
    QString network;          // why there was no answer: the connection's own words
    QString distrusted;       // why Kestrel would not take the answer or follow it (then status is 0)
    bool timedOut = false;
    QUrl url;                 // where the answer came from, after redirects
    QByteArray header(const QByteArray& lowerName) const;
    // The connection's or Kestrel's own words for an answer that is not there.
    QString why() const { return distrusted.isEmpty() ? network : distrusted; }
    bool ok() const { return status >= 200 && status < 300; }
};

using Headers = QList<QPair<QByteArray, QByteArray>>;

class Client {
public:
    // home: the server the user named; empty: the first address asked.
    Client(const QString& user, const QString& password, const QUrl& home = {});
    ~Client();
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    // Sends one request and waits for its answer. depth < 0 sends no Depth header.
    Response send(const QByteArray& method, const QUrl& url, const QByteArray& body = {}, int depth = -1,
                  const Headers& headers = {});

    // Requests sent so far.
    int requests() const { return requests_; }
    // How long one request may go without any progress before it is given up.
    void setTimeoutMs(int ms) { timeoutMs_ = ms; }
    // Ends the request under way and every later one at once (from any thread).
    void cancel() { cancelled_.storeRelaxed(1); }
    bool cancelled() const { return cancelled_.loadRelaxed() != 0; }
    // The most one answer may hold.
    void setMaxBodyBytes(qint64 bytes) { maxBody_ = bytes; }
    // The password is wanted and none was given, or it was refused.
    bool authRefused() const { return authRefused_; }

private:
    bool mayHaveCredentials(const QUrl& url) const;

    std::unique_ptr<QNetworkAccessManager> net_;
    QString user_, password_;
    QUrl home_;
    // Far beyond the largest answer a sync asks for (a multiget of 200 cards, the ETags of
    // 100,000 items), small enough that a server answering without end cannot take the memory.
    qint64 maxBody_ = 64 << 20;
    int requests_ = 0;
    // A server reading a large collection for the first time may think for a minute.
    int timeoutMs_ = 120000;
    QAtomicInteger<int> cancelled_{0};
    bool authRefused_ = false;
};

} // namespace kestrel::dav
