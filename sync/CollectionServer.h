#pragma once
// One collection on the server as the sync asks it: what changed since the state kept, the
// items' texts, and writes guarded by their ETags. Every answer that ends the sync is thrown as a
// Stop with the outcome the user is told.
#include "sync/SyncEngine.h"

#include <QByteArray>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <map>
#include <optional>

namespace kestrel::dav {
class Client;
struct Response;
} // namespace kestrel::dav

namespace kestrel::sync {

// Ends the sync of a collection early with what stopped it.
struct Stop {
    Outcome outcome;
    QString detail;
};

struct Fetched {
    QString etag;
    QByteArray data;
};

struct Listing {
    std::map<QString, QString> changed; // href → etag ("" when the server gave none)
    QSet<QString> removed;
    QString token, ctag;
    bool complete = false;              // every item is listed (removed is then exact)
};

struct Written {
    int status = 0; // 412, 404 or 410 for a write refused by the server's copy; else 2xx
    QString etag;
};

class CollectionServer {
public:
    // progress is told of each item fetched or written.
    CollectionServer(dav::Client& client, const Collection& c, int batch, QByteArray contentType,
                     std::function<void(int)> progress)
        : client_(client), coll_(c), batch_(batch), contentType_(std::move(contentType)), progress_(std::move(progress))
    {
    }

    [[noreturn]] void fail(const dav::Response& r, const QString& what) const;
    QUrl urlOf(const QString& href) const;

    // What changed since the token or collection tag kept: one request when nothing did.
    Listing listChanges(const QString& knownToken, const QString& knownCtag);
    // The items' texts and ETags; an href missing from the answer is gone.
    std::map<QString, Fetched> fetch(const QStringList& hrefs);
    std::optional<Fetched> fetchOne(const QString& href);
    // ifMatch empty: a new item, never over one already there.
    Written put(const QString& href, const QByteArray& data, const QString& ifMatch);

private:
    // RFC 6578. False when the server has no such report (or no longer knows the token).
    bool syncReport(QString token, Listing& l);

    dav::Client& client_;
    const Collection& coll_;
    const int batch_;
    const QByteArray contentType_;
    const std::function<void(int)> progress_;
};

} // namespace kestrel::sync
