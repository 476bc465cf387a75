#include "sync/CollectionServer.h"

#include "sync/DavClient.h"
#include "sync/DavXml.h"

namespace kestrel::sync {

void CollectionServer::fail(const dav::Response& r, const QString& what) const
{
    if (client_.cancelled())
        throw Stop{Outcome::Stopped, {}};
    if (!r.distrusted.isEmpty())
        throw Stop{Outcome::Distrusted, r.distrusted};
    if (r.status == 0)
        throw Stop{Outcome::Unreachable, r.network};
    if (r.status == 401 || (r.status == 403 && client_.authRefused()))
        throw Stop{Outcome::Refused, {}};
    if (r.status == 404 || r.status == 410)
        throw Stop{Outcome::Missing, coll_.url.toString()};
    const QString words = dav::errorWords(r.body);
    throw Stop{Outcome::ServerFault, QStringLiteral("%1: %2 %3").arg(what).arg(r.status).arg(words).trimmed()};
}

QUrl CollectionServer::urlOf(const QString& href) const
{
    QUrl u = coll_.url;
    u.setPath(QUrl::fromPercentEncoding(href.toUtf8()), QUrl::DecodedMode);
    u.setQuery(QString());
    return u;
}

Listing CollectionServer::listChanges(const QString& knownToken, const QString& knownCtag)
{
    Listing l;
    if (!knownToken.isEmpty()) {
        if (syncReport(knownToken, l))
            return l;
        // A token the server no longer knows: everything from the start.
        l = Listing{};
        if (syncReport(QString(), l)) {
            l.complete = true;
            return l;
        }
    } else if (!knownCtag.isEmpty()) {
        // A server without sync reports: its collection tag says whether anything changed.
        const dav::Response r = client_.send("PROPFIND", coll_.url, dav::ctagQuery(), 0);
        if (r.status != 207)
            fail(r, QStringLiteral("PROPFIND"));
        const dav::MultiStatus ms = dav::parseMultiStatus(r.body, r.url);
        const QString ctag = ms.resources.empty() ? QString() : ms.resources.front().ctag;
        if (!ctag.isEmpty() && ctag == knownCtag) {
            l.ctag = ctag;
            return l;
        }
    } else if (syncReport(QString(), l)) {
        l.complete = true;
        return l;
    }
    // The items' ETags, all of them.
    l = Listing{};
    const dav::Response r = client_.send("PROPFIND", coll_.url, dav::etagQuery(), 1);
    if (r.status != 207)
        fail(r, QStringLiteral("PROPFIND"));
    const dav::MultiStatus ms = dav::parseMultiStatus(r.body, r.url);
    if (!ms.ok)
        throw Stop{Outcome::ServerFault, ms.error};
    const QString self = dav::normalHref(coll_.url.path(QUrl::FullyEncoded), coll_.url);
    for (const dav::Resource& res : ms.resources) {
        if (res.collection || res.href == self || res.href + u'/' == self)
            continue;
        l.changed[res.href] = res.etag;
    }
    // The tag is asked for after the listing: a change in between is found next time.
    const dav::Response t = client_.send("PROPFIND", coll_.url, dav::ctagQuery(), 0);
    if (t.status == 207) {
        const dav::MultiStatus tm = dav::parseMultiStatus(t.body, t.url);
        if (!tm.resources.empty())
            l.ctag = tm.resources.front().ctag;
    }
    l.complete = true;
    return l;
}

bool CollectionServer::syncReport(QString token, Listing& l)
{
    for (int round = 0; round < 1000; ++round) {
        const dav::Response r = client_.send("REPORT", coll_.url, dav::syncReport(token), 0);
        if (r.status != 207) {
            if (r.status == 0 || r.status == 401 || r.status == 404 || r.status == 410)
                fail(r, QStringLiteral("REPORT"));
            // A token the server no longer knows (403 or 409 with valid-sync-token), or no
            // sync report at all: start from the whole listing.
            if (!token.isEmpty() && !dav::refusesSyncToken(r.body) && r.status >= 500)
                fail(r, QStringLiteral("REPORT"));
            return false;
        }
        const dav::MultiStatus ms = dav::parseMultiStatus(r.body, r.url);
        if (!ms.ok)
            return false;
        for (const dav::Resource& res : ms.resources) {
            if (res.status == 404 || res.status == 410) {
                l.changed.erase(res.href);
                l.removed.insert(res.href);
            } else if (!res.collection) {
                l.removed.remove(res.href);
                l.changed[res.href] = res.etag;
            }
        }
        l.token = ms.syncToken;
        if (!ms.truncated || ms.syncToken.isEmpty() || ms.syncToken == token)
            return true;
        token = ms.syncToken; // cut short: the rest from where it stopped
    }
    return true;
}

std::map<QString, Fetched> CollectionServer::fetch(const QStringList& hrefs)
{
    std::map<QString, Fetched> out;
    for (qsizetype at = 0; at < hrefs.size(); at += batch_) {
        const QStringList part = hrefs.mid(at, batch_);
        const dav::Response r = client_.send("REPORT", coll_.url, dav::multiget(coll_.kind == SyncKind::Contacts, part), 1);
        if (r.status != 207)
            fail(r, QStringLiteral("REPORT"));
        const dav::MultiStatus ms = dav::parseMultiStatus(r.body, r.url);
        if (!ms.ok)
            throw Stop{Outcome::ServerFault, ms.error};
        for (const dav::Resource& res : ms.resources)
            if (res.status >= 200 && res.status < 300 && !res.data.isEmpty())
                out[res.href] = {res.etag, res.data};
        // A server that answers a multiget without the text of some item: fetched alone.
        for (const QString& h : part) {
            if (out.count(h))
                continue;
            const dav::Response g = client_.send("GET", urlOf(h));
            if (g.status == 404 || g.status == 410)
                continue;
            if (!g.ok())
                fail(g, QStringLiteral("GET"));
            out[h] = {dav::normalEtag(QString::fromLatin1(g.header("etag"))), g.body};
        }
        progress_(int(part.size()));
    }
    return out;
}

std::optional<Fetched> CollectionServer::fetchOne(const QString& href)
{
    const auto got = fetch({href});
    if (got.empty())
        return std::nullopt;
    return got.begin()->second;
}

Written CollectionServer::put(const QString& href, const QByteArray& data, const QString& ifMatch)
{
    dav::Headers h{{"Content-Type", contentType_}};
    if (ifMatch.isEmpty())
        h.append(qMakePair(QByteArray("If-None-Match"), QByteArray("*")));
    else
        h.append(qMakePair(QByteArray("If-Match"), ifMatch.toUtf8()));
    const dav::Response r = client_.send("PUT", urlOf(href), data, -1, h);
    if (r.status == 412 || r.status == 404 || r.status == 410)
        return {r.status, {}};
    if (!r.ok())
        fail(r, QStringLiteral("PUT"));
    progress_(1);
    return {r.status, dav::normalEtag(QString::fromLatin1(r.header("etag")))};
}

} // namespace kestrel::sync
