// A sync server that means harm, or is broken: it sends Kestrel on to another computer, answers
// without end, with the wrong kind of text, or with XML entities that expand into one another.
// The password stays with the computer the user named and nothing stored is changed.
#include "tests/support/Fixture.h"
#include "data/Trash.h"
#include "tests/sync/RecordedServer.h"

#include "data/SyncStore.h"
#include "sync/DavClient.h"
#include "sync/DavXml.h"
#include "sync/Discovery.h"

#include <algorithm>
#include <functional>

namespace kestrel::test {
namespace {

// An HTTP server on this computer whose answers the test writes; it keeps every request.
class HostileServer : public LocalHttpServer {
public:
    using Request = HttpRequest;
    struct Answer {
        int status = 200;
        QList<QPair<QByteArray, QByteArray>> headers;
        QByteArray body;
        bool withLength = true; // false: the body ends where the connection does
    };
    std::function<Answer(const Request&)> reply;

    explicit HostileServer(const char* address = "127.0.0.1") : LocalHttpServer(QHostAddress(QLatin1String(address))) {}
    QString url(const char* path = "/") const
    {
        return QStringLiteral("http://%1:%2%3").arg(server.serverAddress().toString()).arg(server.serverPort()).arg(QLatin1String(path));
    }
    bool sawPassword() const
    {
        return std::any_of(requests.begin(), requests.end(), [](const Request& r) { return r.headers.contains("authorization"); });
    }

private:
    QByteArray respond(const Request& r) override
    {
        const Answer a = reply ? reply(r) : Answer{404, {}, {}};
        return LocalHttpServer::answer(a.status, a.headers, a.body, a.withLength);
    }
};

HostileServer::Answer xml(const QByteArray& body, int status = 207)
{
    return {status, {{"Content-Type", "application/xml; charset=utf-8"}}, body};
}

HostileServer::Answer redirect(const QString& to)
{
    return {301, {{"Location", to.toUtf8()}}, {}};
}

// Ten entities each ten times the one before: a billion "lol"s from a few hundred bytes.
QByteArray billionLaughs(const QByteArray& root)
{
    QByteArray dtd = "<?xml version=\"1.0\"?>\n<!DOCTYPE lolz [\n<!ENTITY lol0 \"lol\">\n";
    for (int i = 1; i < 10; ++i) {
        dtd += "<!ENTITY lol" + QByteArray::number(i) + " \"";
        for (int k = 0; k < 10; ++k)
            dtd += "&lol" + QByteArray::number(i - 1) + ';';
        dtd += "\">\n";
    }
    return dtd + "]>\n" + root;
}

class SyncHostile : public KestrelTest {
protected:
    sync::Report run(const HostileServer& server) { return syncBook(server.url(), QStringLiteral("ann"), QStringLiteral("secret")); }
};

TEST_F(SyncHostile, ThePasswordGoesOnlyToTheComputerNamedAndNeverUnencryptedElsewhere)
{
    HostileServer home, elsewhere("127.0.0.2");
    elsewhere.reply = [](const HostileServer::Request&) {
        return HostileServer::Answer{401, {{"WWW-Authenticate", "Basic realm=\"give it\""}}, {}};
    };
    // Sent on to another computer over plain http: not followed, so it never even asks there.
    home.reply = [&](const HostileServer::Request& r) {
        if (r.path == "/.well-known/carddav")
            return redirect(QStringLiteral("/dav/")); // the same computer: followed
        if (r.path == "/dav/")
            return redirect(elsewhere.url("/dav/"));
        return HostileServer::Answer{404, {}, {}};
    };
    dav::Client client(QStringLiteral("ann"), QStringLiteral("secret"), QUrl(home.url()));
    sync::Discovery d = sync::discover(client, QUrl(home.url()));
    EXPECT_EQ(int(d.outcome), int(sync::Outcome::Distrusted));
    EXPECT_TRUE(d.detail.contains(QStringLiteral("another computer"))) << d.detail.toStdString();
    EXPECT_TRUE(d.detail.contains(QStringLiteral("127.0.0.2"))) << d.detail.toStdString();
    EXPECT_TRUE(elsewhere.requests.empty());
    ASSERT_GE(home.requests.size(), 3u);
    EXPECT_EQ(home.requests[2].path, "/dav/");
    // The computer named gets the password from the first request (it is this computer).
    EXPECT_EQ(home.requests[0].headers.value("authorization"), "Basic " + QByteArray("ann:secret").toBase64());

    // A principal and home set named at another computer are looked for on the one named.
    home.requests.clear();
    home.reply = [&](const HostileServer::Request& r) {
        if (r.path == "/")
            return xml("<d:multistatus xmlns:d=\"DAV:\"><d:response><d:href>/</d:href><d:propstat><d:prop>"
                       "<d:current-user-principal><d:href>" + elsewhere.url("/ann/").toUtf8() +
                       "</d:href></d:current-user-principal></d:prop><d:status>HTTP/1.1 200 OK</d:status></d:propstat>"
                       "</d:response></d:multistatus>");
        return HostileServer::Answer{404, {}, {}};
    };
    d = sync::discover(client, QUrl(home.url()));
    EXPECT_TRUE(elsewhere.requests.empty());
    ASSERT_GE(home.requests.size(), 2u);
    EXPECT_EQ(home.requests[1].path, "/ann/");

    // A client that was given no home takes the first address it asks as the one named: a
    // server elsewhere asking for the password over plain http never gets it.
    dav::Client fresh(QStringLiteral("ann"), QStringLiteral("secret"));
    const dav::Response first = fresh.send("PROPFIND", QUrl(home.url()), dav::principalQuery(), 0);
    EXPECT_EQ(first.status, 207);
    const dav::Response asked = fresh.send("PROPFIND", QUrl(elsewhere.url("/dav/")), dav::principalQuery(), 0);
    EXPECT_EQ(asked.status, 401);
    EXPECT_FALSE(elsewhere.sawPassword());
    EXPECT_EQ(elsewhere.requests.size(), 1u);
}

TEST_F(SyncHostile, AnAnswerWithoutEndIsCutOffAndNothingStoredChanges)
{
    const int id = addContact(QStringLiteral("Lee"), QStringLiteral("Ann"));
    const auto before = rows(sConnContacts, "select * from contacts");
    HostileServer server;
    // Told in advance, and not told: the body just keeps coming until the connection ends.
    for (const bool withLength : {true, false}) {
        server.requests.clear();
        server.reply = [&](const HostileServer::Request&) {
            HostileServer::Answer a = xml("<d:multistatus xmlns:d=\"DAV:\">" + QByteArray(65 << 20, ' ') + "</d:multistatus>");
            a.withLength = withLength;
            return a;
        };
        const sync::Report r = run(server);
        EXPECT_EQ(int(r.outcome), int(sync::Outcome::Distrusted)) << r.detail.toStdString();
        EXPECT_TRUE(r.detail.contains(QStringLiteral("more than 64 MB"))) << r.detail.toStdString();
        EXPECT_EQ(server.requests.size(), 1u);
    }
    EXPECT_EQ(rows(sConnContacts, "select * from contacts"), before);
    EXPECT_TRUE(loadSyncState(sConnContacts, server.url("/book/")).items.empty());
    EXPECT_EQ(rows(sConnContacts, QStringLiteral("select lastname from contacts where id=%1").arg(id))[0][0], "Lee");

    // The limit is the client's: a smaller one cuts a smaller answer.
    server.reply = [](const HostileServer::Request&) { return xml(QByteArray(3 << 20, 'x'), 200); };
    dav::Client client{QString(), QString()};
    client.setMaxBodyBytes(1 << 20);
    const dav::Response cut = client.send("GET", QUrl(server.url("/big")));
    EXPECT_EQ(cut.status, 0);
    EXPECT_TRUE(cut.body.isEmpty());
    EXPECT_FALSE(cut.distrusted.isEmpty());
}

TEST_F(SyncHostile, TextOfTheWrongKindChangesNothingAndIsNamed)
{
    const int id = addContact(QStringLiteral("Lee"), QStringLiteral("Ann"));
    const QString uid = rows(sConnContacts, "select uid from contacts")[0][0];
    const auto before = rows(sConnContacts, "select * from contacts");
    HostileServer server;
    // A login page instead of a multi-status, for every request.
    server.reply = [](const HostileServer::Request&) {
        return HostileServer::Answer{207, {{"Content-Type", "text/html"}}, "<html><body>Please log in<p></body>"};
    };
    sync::Report r = run(server);
    EXPECT_EQ(int(r.outcome), int(sync::Outcome::ServerFault)) << r.detail.toStdString();
    EXPECT_EQ(rows(sConnContacts, "select * from contacts"), before);
    EXPECT_TRUE(loadSyncState(sConnContacts, server.url("/book/")).items.empty());

    // The card itself is a web page (and a second one is empty): neither becomes a contact, the
    // contact here is not taken as deleted there, and the next sync asks for them again.
    const QByteArray listing =
        "<d:multistatus xmlns:d=\"DAV:\"><d:response><d:href>/book/page.vcf</d:href><d:propstat><d:prop>"
        "<d:getetag>\"1\"</d:getetag></d:prop><d:status>HTTP/1.1 200 OK</d:status></d:propstat></d:response>"
        "<d:response><d:href>/book/empty.vcf</d:href><d:propstat><d:prop>"
        "<d:getetag>\"2\"</d:getetag></d:prop><d:status>HTTP/1.1 200 OK</d:status></d:propstat></d:response>"
        "<d:sync-token>t1</d:sync-token></d:multistatus>";
    const QByteArray cards =
        "<d:multistatus xmlns:d=\"DAV:\" xmlns:card=\"urn:ietf:params:xml:ns:carddav\"><d:response><d:href>/book/page.vcf"
        "</d:href><d:propstat><d:prop><d:getetag>\"1\"</d:getetag><card:address-data>&lt;html&gt;Not found&lt;/html&gt;"
        "</card:address-data></d:prop><d:status>HTTP/1.1 200 OK</d:status></d:propstat></d:response>"
        "<d:response><d:href>/book/empty.vcf</d:href><d:propstat><d:prop><d:getetag>\"2\"</d:getetag><card:address-data>"
        "</card:address-data></d:prop><d:status>HTTP/1.1 200 OK</d:status></d:propstat></d:response></d:multistatus>";
    server.requests.clear();
    server.reply = [&](const HostileServer::Request& r) {
        if (r.method == "REPORT" && r.body.contains("sync-collection"))
            return xml(listing);
        if (r.method == "REPORT")
            return xml(cards);
        if (r.method == "GET")
            return HostileServer::Answer{200, {{"Content-Type", "text/html"}}, "<html>Not found</html>"};
        if (r.method == "PUT")
            return HostileServer::Answer{201, {{"ETag", "\"n1\""}}, {}};
        return HostileServer::Answer{404, {}, {}};
    };
    r = run(server);
    EXPECT_EQ(rows(sConnContacts, "select count(*) from contacts")[0][0], "1") << r.detail.toStdString();
    EXPECT_EQ(rows(sConnContacts, QStringLiteral("select lastname,uid from contacts where id=%1").arg(id)),
              (std::vector<QStringList>{{"Lee", uid}}));
    EXPECT_TRUE(listTrash(sConnContacts).empty());
}

TEST_F(SyncHostile, XmlEntitiesAreRefusedBeforeTheyExpand)
{
    const QUrl base(QStringLiteral("http://127.0.0.1/book/"));
    const QByteArray bomb = billionLaughs("<d:multistatus xmlns:d=\"DAV:\"><d:response><d:href>/book/&lol9;.vcf</d:href>"
                                          "</d:response></d:multistatus>");
    const dav::MultiStatus ms = dav::parseMultiStatus(bomb, base);
    EXPECT_FALSE(ms.ok);
    EXPECT_TRUE(ms.resources.empty());
    EXPECT_TRUE(ms.error.contains(QStringLiteral("entities"))) << ms.error.toStdString();
    EXPECT_TRUE(dav::errorWords(billionLaughs("<error>&lol9;</error>")).isEmpty());
    // Even a harmless declaration is refused: DAV never has one.
    EXPECT_FALSE(dav::parseMultiStatus("<!DOCTYPE d:multistatus><d:multistatus xmlns:d=\"DAV:\"/>", base).ok);

    // From a server: the sync stops with the server named, nothing stored changes.
    addContact(QStringLiteral("Lee"), QStringLiteral("Ann"));
    const auto before = rows(sConnContacts, "select * from contacts");
    HostileServer server;
    server.reply = [&](const HostileServer::Request&) { return xml(bomb); };
    const sync::Report r = run(server);
    EXPECT_EQ(int(r.outcome), int(sync::Outcome::ServerFault)) << r.detail.toStdString();
    EXPECT_TRUE(r.detail.contains(QStringLiteral("entities"))) << r.detail.toStdString();
    EXPECT_EQ(rows(sConnContacts, "select * from contacts"), before);
}

} // namespace
} // namespace kestrel::test
