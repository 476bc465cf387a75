#include "sync/Discovery.h"

#include "sync/DavClient.h"
#include "sync/DavXml.h"

#include <QUuid>

namespace kestrel::sync {

namespace {

QUrl withPath(QUrl url, const QString& encodedPath)
{
    url.setPath(QUrl::fromPercentEncoding(encodedPath.toUtf8()), QUrl::DecodedMode);
    url.setQuery(QString());
    url.setFragment(QString());
    return url;
}

QString lastPart(const QUrl& url)
{
    const QStringList parts = url.path().split(u'/', Qt::SkipEmptyParts);
    return parts.isEmpty() ? url.host() : parts.back();
}

// Why a request got no useful answer, as an outcome; Synced when it did.
Outcome outcomeOf(const dav::Response& r)
{
    if (!r.distrusted.isEmpty())
        return Outcome::Distrusted;
    if (r.status == 0)
        return Outcome::Unreachable;
    if (r.status == 401)
        return Outcome::Refused;
    if (r.status == 207)
        return Outcome::Synced;
    if (r.status == 404 || r.status == 410)
        return Outcome::Missing;
    return Outcome::ServerFault;
}

void collect(const dav::MultiStatus& ms, const QUrl& base, Discovery& d)
{
    for (const dav::Resource& r : ms.resources) {
        const QUrl url = withPath(base, r.href);
        const QString name = r.displayName.isEmpty() ? lastPart(url) : r.displayName;
        auto known = [&](const std::vector<Found>& list) {
            return std::any_of(list.begin(), list.end(), [&](const Found& f) { return f.url == url; });
        };
        if (r.addressBook && !known(d.addressBooks))
            d.addressBooks.push_back({url, name, SyncKind::Contacts,
                                      !r.vcardVersions.isEmpty() && !r.vcardVersions.contains(QStringLiteral("4.0"))});
        if (r.calendar && !known(d.calendars) &&
            (r.components.isEmpty() || r.components.contains(QStringLiteral("VEVENT"), Qt::CaseInsensitive)))
            d.calendars.push_back({url, name, SyncKind::Appointments, false});
    }
}

} // namespace

Discovery discover(dav::Client& client, const QUrl& baseIn)
{
    Discovery d;
    QUrl base = baseIn;
    if (base.path().isEmpty())
        base.setPath(QStringLiteral("/"));
    // The address itself first (it may name the principal or a collection), then the well-known ones.
    const QList<QUrl> candidates = {base, base.resolved(QUrl(QStringLiteral("/.well-known/carddav"))),
                                    base.resolved(QUrl(QStringLiteral("/.well-known/caldav")))};
    QUrl principal;
    dav::Response last;
    for (const QUrl& c : candidates) {
        last = client.send("PROPFIND", c, dav::principalQuery(), 0);
        if (last.status == 0 || last.status == 401) {
            d.outcome = outcomeOf(last);
            d.detail = last.why();
            return d;
        }
        if (last.status != 207)
            continue;
        const dav::MultiStatus ms = dav::parseMultiStatus(last.body, last.url);
        collect(ms, last.url, d);
        for (const dav::Resource& r : ms.resources)
            if (!r.principal.isEmpty()) {
                principal = withPath(last.url, r.principal);
                break;
            }
        if (principal.isValid() || !d.addressBooks.empty() || !d.calendars.empty())
            break;
    }
    QList<QUrl> homes;
    if (principal.isValid()) {
        const dav::Response r = client.send("PROPFIND", principal, dav::homeSetQuery(), 0);
        if (r.status == 207) {
            for (const dav::Resource& res : dav::parseMultiStatus(r.body, r.url).resources) {
                if (!res.addressBookHome.isEmpty())
                    d.addressBookHome = withPath(r.url, res.addressBookHome);
                if (!res.calendarHome.isEmpty())
                    d.calendarHome = withPath(r.url, res.calendarHome);
            }
        }
        for (const QUrl& h : {d.addressBookHome, d.calendarHome})
            if (h.isValid() && !h.isEmpty() && !homes.contains(h))
                homes << h;
    }
    if (!principal.isValid() && d.addressBooks.empty() && d.calendars.empty()) {
        d.outcome = last.status == 207 ? Outcome::Missing : outcomeOf(last);
        if (d.outcome == Outcome::Synced)
            d.outcome = Outcome::Missing;
        d.detail = last.status ? QStringLiteral("%1 %2").arg(last.status).arg(dav::errorWords(last.body)).trimmed()
                               : last.why();
        return d;
    }
    for (const QUrl& home : homes) {
        const dav::Response r = client.send("PROPFIND", home, dav::collectionsQuery(), 1);
        if (r.status == 0 || r.status == 401) {
            d.outcome = outcomeOf(r);
            d.detail = r.why();
            return d;
        }
        if (r.status == 207)
            collect(dav::parseMultiStatus(r.body, r.url), r.url, d);
    }
    return d;
}

Made makeCollection(dav::Client& client, const QUrl& home, SyncKind kind, const QString& name)
{
    Made m;
    QString path = home.path(QUrl::FullyEncoded);
    if (!path.endsWith(u'/'))
        path += u'/';
    // A fresh folder name; the name the user sees is the display name.
    path += QStringLiteral("kestrel-%1/").arg(QUuid::createUuid().toString(QUuid::Id128).left(12));
    const QUrl url = withPath(home, path);
    const dav::Response r = kind == SyncKind::Contacts
                                ? client.send("MKCOL", url, dav::makeAddressBook(name))
                                : client.send("MKCALENDAR", url, dav::makeCalendar(name));
    if (r.status != 201) {
        m.outcome = outcomeOf(r) == Outcome::Synced ? Outcome::ServerFault : outcomeOf(r);
        m.detail = r.status ? QStringLiteral("%1 %2").arg(r.status).arg(dav::errorWords(r.body)).trimmed() : r.why();
        return m;
    }
    m.found = {url, name, kind, false};
    return m;
}

} // namespace kestrel::sync
