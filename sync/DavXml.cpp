#include "sync/DavXml.h"

#include <QSet>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

namespace kestrel::dav {

QString normalHref(const QString& href, const QUrl& base)
{
    const QUrl resolved = base.resolved(QUrl::fromEncoded(href.trimmed().toUtf8(), QUrl::TolerantMode));
    QUrl path;
    path.setPath(resolved.path(QUrl::FullyDecoded), QUrl::DecodedMode);
    return path.path(QUrl::FullyEncoded);
}

QString normalEtag(QString etag)
{
    etag = etag.trimmed();
    if (etag.isEmpty())
        return etag;
    QString weak;
    if (etag.startsWith(QStringLiteral("W/"))) {
        weak = QStringLiteral("W/");
        etag = etag.mid(2);
    }
    if (!(etag.size() >= 2 && etag.startsWith(u'"') && etag.endsWith(u'"')))
        etag = u'"' + etag + u'"';
    return weak + etag;
}

namespace {

// Reads up to the root element. False at a document type declaration: DAV never needs one, and
// entities that expand into one another are a way to make a reader take all the memory there is.
bool toRoot(QXmlStreamReader& x)
{
    while (!x.atEnd()) {
        x.readNext();
        if (x.isDTD())
            return false;
        if (x.isStartElement())
            return true;
    }
    return false;
}

int statusOf(const QString& line)
{
    // "HTTP/1.1 404 Not Found"
    const QStringList parts = line.simplified().split(u' ');
    return parts.size() >= 2 ? parts[1].toInt() : 0;
}

struct Reader {
    QXmlStreamReader& x;
    const QUrl& base;

    bool is(const char* ns, const char* name) const
    {
        return x.namespaceUri() == QLatin1String(ns) && x.name() == QLatin1String(name);
    }

    // The hrefs inside the element being read, to its end.
    QStringList hrefs()
    {
        QStringList out;
        const int depth = 1;
        int level = depth;
        while (level > 0 && !x.atEnd()) {
            x.readNext();
            if (x.isStartElement()) {
                ++level;
                if (is(kDav, "href")) {
                    out << x.readElementText().trimmed();
                    --level;
                }
            } else if (x.isEndElement()) {
                --level;
            }
        }
        return out;
    }

    // Local names of the elements inside, at any depth (resourcetype, report sets).
    QStringList names(QStringList* attributes = nullptr, const char* attribute = nullptr)
    {
        QStringList out;
        int level = 1;
        while (level > 0 && !x.atEnd()) {
            x.readNext();
            if (x.isStartElement()) {
                ++level;
                out << x.name().toString();
                if (attributes && x.attributes().hasAttribute(QLatin1String(attribute)))
                    *attributes << x.attributes().value(QLatin1String(attribute)).toString();
            } else if (x.isEndElement()) {
                --level;
            }
        }
        return out;
    }

    void prop(Resource& r)
    {
        while (x.readNextStartElement()) {
            if (is(kDav, "getetag")) {
                r.etag = normalEtag(x.readElementText());
            } else if (is(kCardDav, "address-data") || is(kCalDav, "calendar-data")) {
                r.data = x.readElementText().toUtf8();
            } else if (is(kDav, "resourcetype")) {
                const QStringList types = names();
                r.collection = types.contains(QStringLiteral("collection"));
                r.addressBook = types.contains(QStringLiteral("addressbook"));
                r.calendar = types.contains(QStringLiteral("calendar"));
            } else if (is(kDav, "displayname")) {
                r.displayName = x.readElementText().trimmed();
            } else if (is(kCalServer, "getctag")) {
                r.ctag = x.readElementText().trimmed();
            } else if (is(kDav, "sync-token")) {
                r.syncToken = x.readElementText().trimmed();
            } else if (is(kDav, "current-user-principal")) {
                r.principal = hrefs().value(0);
            } else if (is(kCardDav, "addressbook-home-set")) {
                r.addressBookHome = hrefs().value(0);
            } else if (is(kCalDav, "calendar-home-set")) {
                r.calendarHome = hrefs().value(0);
            } else if (is(kDav, "supported-report-set")) {
                r.reports = names();
            } else if (is(kCardDav, "supported-address-data")) {
                QStringList versions;
                names(&versions, "version");
                r.vcardVersions = versions;
            } else if (is(kCalDav, "supported-calendar-component-set")) {
                QStringList comps;
                names(&comps, "name");
                r.components = comps;
            } else {
                x.skipCurrentElement();
            }
        }
    }

    void propstat(Resource& r)
    {
        Resource found;
        int status = 200;
        while (x.readNextStartElement()) {
            if (is(kDav, "prop"))
                prop(found);
            else if (is(kDav, "status"))
                status = statusOf(x.readElementText());
            else
                x.skipCurrentElement();
        }
        if (status < 200 || status > 299)
            return; // properties the server does not have
        auto take = [](QString& to, const QString& from) {
            if (!from.isEmpty())
                to = from;
        };
        take(r.etag, found.etag);
        if (!found.data.isEmpty())
            r.data = found.data;
        r.collection = r.collection || found.collection;
        r.addressBook = r.addressBook || found.addressBook;
        r.calendar = r.calendar || found.calendar;
        take(r.displayName, found.displayName);
        take(r.ctag, found.ctag);
        take(r.syncToken, found.syncToken);
        take(r.principal, found.principal);
        take(r.addressBookHome, found.addressBookHome);
        take(r.calendarHome, found.calendarHome);
        r.reports += found.reports;
        r.vcardVersions += found.vcardVersions;
        r.components += found.components;
    }

    Resource response()
    {
        Resource r;
        while (x.readNextStartElement()) {
            if (is(kDav, "href") && r.href.isEmpty())
                r.href = normalHref(x.readElementText(), base);
            else if (is(kDav, "status"))
                r.status = statusOf(x.readElementText());
            else if (is(kDav, "propstat"))
                propstat(r);
            else
                x.skipCurrentElement();
        }
        auto normal = [this](QString& h) {
            if (!h.isEmpty())
                h = normalHref(h, base);
        };
        normal(r.principal);
        normal(r.addressBookHome);
        normal(r.calendarHome);
        return r;
    }
};

} // namespace

MultiStatus parseMultiStatus(const QByteArray& xml, const QUrl& base)
{
    MultiStatus out;
    QXmlStreamReader x(xml);
    Reader reader{x, base};
    if (!toRoot(x)) {
        out.error = x.isDTD() ? QStringLiteral("the answer declares XML entities, which no sync server needs")
                    : x.hasError() ? x.errorString() : QStringLiteral("the answer is empty");
        return out;
    }
    if (!reader.is(kDav, "multistatus")) {
        out.error = QStringLiteral("the answer is not a WebDAV multi-status");
        return out;
    }
    QSet<QString> seen;
    const QString self = normalHref(base.path(QUrl::FullyEncoded), base);
    while (x.readNextStartElement()) {
        if (reader.is(kDav, "response")) {
            Resource r = reader.response();
            // A truncated sync report answers 507 for the collection itself.
            if (r.status == 507 && (r.href == self || r.href + u'/' == self || r.href == self + u'/')) {
                out.truncated = true;
                continue;
            }
            // Some servers list one resource twice: the first answer counts.
            if (r.href.isEmpty() || seen.contains(r.href))
                continue;
            seen.insert(r.href);
            out.resources.push_back(std::move(r));
        } else if (reader.is(kDav, "sync-token")) {
            out.syncToken = x.readElementText().trimmed();
        } else {
            x.skipCurrentElement();
        }
    }
    if (x.hasError()) {
        out.error = x.errorString();
        return out;
    }
    out.ok = true;
    return out;
}

bool refusesSyncToken(const QByteArray& body) { return body.contains("valid-sync-token"); }

QString errorWords(const QByteArray& body)
{
    QXmlStreamReader x(body);
    QStringList words;
    if (!toRoot(x))
        return x.isDTD() ? QString() : QString::fromUtf8(body.left(200)).simplified();
    if (x.name() != QLatin1String("error"))
        words << x.name().toString();
    while (!x.atEnd()) {
        x.readNext();
        if (x.isStartElement() && x.name() != QLatin1String("error"))
            words << x.name().toString();
        else if (x.isCharacters() && !x.isWhitespace())
            words << x.text().toString().simplified();
    }
    QString text = x.hasError() ? QString::fromUtf8(body.left(400)).simplified() : words.join(u' ');
    if (text.size() > 200)
        text = text.left(200) + QStringLiteral("\u2026");
    return text;
}

namespace {

// A body with the DAV namespaces declared on its root.
class Body {
public:
    explicit Body(const char* ns, const char* root) : w(&bytes)
    {
        w.writeStartDocument();
        w.writeNamespace(QLatin1String(kDav), QStringLiteral("d"));
        w.writeNamespace(QLatin1String(kCardDav), QStringLiteral("card"));
        w.writeNamespace(QLatin1String(kCalDav), QStringLiteral("cal"));
        w.writeNamespace(QLatin1String(kCalServer), QStringLiteral("cs"));
        w.writeStartElement(QLatin1String(ns), QLatin1String(root));
    }
    void props(std::initializer_list<std::pair<const char*, const char*>> names)
    {
        w.writeStartElement(QLatin1String(kDav), QStringLiteral("prop"));
        for (const auto& [ns, name] : names)
            w.writeEmptyElement(QLatin1String(ns), QLatin1String(name));
        w.writeEndElement();
    }
    QByteArray done()
    {
        w.writeEndDocument();
        return bytes;
    }
    QByteArray bytes;
    QXmlStreamWriter w;
};

} // namespace

QByteArray principalQuery()
{
    Body b(kDav, "propfind");
    b.props({{kDav, "current-user-principal"}, {kDav, "resourcetype"}});
    return b.done();
}

QByteArray homeSetQuery()
{
    Body b(kDav, "propfind");
    b.props({{kCardDav, "addressbook-home-set"}, {kCalDav, "calendar-home-set"}});
    return b.done();
}

QByteArray collectionsQuery()
{
    Body b(kDav, "propfind");
    b.props({{kDav, "resourcetype"}, {kDav, "displayname"}, {kDav, "supported-report-set"},
             {kCardDav, "supported-address-data"}, {kCalDav, "supported-calendar-component-set"},
             {kCalServer, "getctag"}, {kDav, "sync-token"}});
    return b.done();
}

QByteArray ctagQuery()
{
    Body b(kDav, "propfind");
    b.props({{kCalServer, "getctag"}, {kDav, "sync-token"}});
    return b.done();
}

QByteArray etagQuery()
{
    Body b(kDav, "propfind");
    b.props({{kDav, "getetag"}, {kDav, "resourcetype"}});
    return b.done();
}

QByteArray syncReport(const QString& token)
{
    Body b(kDav, "sync-collection");
    b.w.writeTextElement(QLatin1String(kDav), QStringLiteral("sync-token"), token);
    b.w.writeTextElement(QLatin1String(kDav), QStringLiteral("sync-level"), QStringLiteral("1"));
    b.props({{kDav, "getetag"}});
    return b.done();
}

QByteArray multiget(bool addressBook, const QStringList& hrefs)
{
    Body b(addressBook ? kCardDav : kCalDav, addressBook ? "addressbook-multiget" : "calendar-multiget");
    b.props({{kDav, "getetag"}, {addressBook ? kCardDav : kCalDav, addressBook ? "address-data" : "calendar-data"}});
    for (const QString& h : hrefs)
        b.w.writeTextElement(QLatin1String(kDav), QStringLiteral("href"), h);
    return b.done();
}

QByteArray makeAddressBook(const QString& name)
{
    Body b(kDav, "mkcol");
    b.w.writeStartElement(QLatin1String(kDav), QStringLiteral("set"));
    b.w.writeStartElement(QLatin1String(kDav), QStringLiteral("prop"));
    b.w.writeStartElement(QLatin1String(kDav), QStringLiteral("resourcetype"));
    b.w.writeEmptyElement(QLatin1String(kDav), QStringLiteral("collection"));
    b.w.writeEmptyElement(QLatin1String(kCardDav), QStringLiteral("addressbook"));
    b.w.writeEndElement();
    b.w.writeTextElement(QLatin1String(kDav), QStringLiteral("displayname"), name);
    return b.done();
}

QByteArray makeCalendar(const QString& name)
{
    Body b(kCalDav, "mkcalendar");
    b.w.writeStartElement(QLatin1String(kDav), QStringLiteral("set"));
    b.w.writeStartElement(QLatin1String(kDav), QStringLiteral("prop"));
    b.w.writeTextElement(QLatin1String(kDav), QStringLiteral("displayname"), name);
    b.w.writeStartElement(QLatin1String(kCalDav), QStringLiteral("supported-calendar-component-set"));
    b.w.writeEmptyElement(QLatin1String(kCalDav), QStringLiteral("comp"));
    b.w.writeAttribute(QStringLiteral("name"), QStringLiteral("VEVENT"));
    return b.done();
}

} // namespace kestrel::dav
