#pragma once
// The WebDAV, CardDAV and CalDAV XML a sync server speaks: the bodies Kestrel sends and the
// multi-status answers it reads (RFC 4918, 6352, 4791, 6578), read with QXmlStreamReader.
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <vector>

namespace kestrel::dav {

inline constexpr char kDav[] = "DAV:";
inline constexpr char kCardDav[] = "urn:ietf:params:xml:ns:carddav";
inline constexpr char kCalDav[] = "urn:ietf:params:xml:ns:caldav";
inline constexpr char kCalServer[] = "http://calendarserver.org/ns/";

// One <response> of a multi-status answer.
struct Resource {
    QString href;              // the path, percent-encoded one way whatever way the server wrote it
    int status = 200;          // the response's own status (404: gone, in a sync report)
    QString etag;              // as ETags are compared and sent (see normalEtag)
    QByteArray data;           // address-data or calendar-data
    bool collection = false, addressBook = false, calendar = false;
    QString displayName;
    QString ctag, syncToken;
    QString principal;         // current-user-principal
    QString addressBookHome, calendarHome;
    QStringList reports;       // supported-report-set, local names ("sync-collection")
    QStringList vcardVersions; // supported-address-data
    QStringList components;    // supported-calendar-component-set ("VEVENT")
};

struct MultiStatus {
    bool ok = false;           // the answer was multi-status XML
    std::vector<Resource> resources; // each href once, the first answer for it kept
    QString syncToken;         // a sync report's new token
    bool truncated = false;    // a sync report cut short (507 for the collection): ask again
    QString error;             // why it could not be read
};

// The answer's responses; base resolves relative and absolute hrefs alike.
MultiStatus parseMultiStatus(const QByteArray& xml, const QUrl& base);

// href (absolute path or URL, encoded any way) as one path, so the same resource compares equal.
QString normalHref(const QString& href, const QUrl& base);

// An ETag as sent back in If-Match: quoted (some servers leave the quotes off), a weak prefix kept.
QString normalEtag(QString etag);

// True when a refused sync report says its token is no longer valid (DAV:valid-sync-token).
bool refusesSyncToken(const QByteArray& body);
// The server's own words in an error body (the text of its elements), shortened.
QString errorWords(const QByteArray& body);

// Request bodies.
QByteArray principalQuery();      // PROPFIND: current-user-principal, resourcetype
QByteArray homeSetQuery();        // PROPFIND: addressbook-home-set, calendar-home-set
QByteArray collectionsQuery();    // PROPFIND Depth 1 on a home: what each collection is
QByteArray ctagQuery();           // PROPFIND Depth 0: getctag, sync-token
QByteArray etagQuery();           // PROPFIND Depth 1: getetag, resourcetype
QByteArray syncReport(const QString& token);
QByteArray multiget(bool addressBook, const QStringList& hrefs);
QByteArray makeAddressBook(const QString& name);
QByteArray makeCalendar(const QString& name);

} // namespace kestrel::dav
