// Servers that cannot run here, played from recorded conversations (tests/sync/recorded): each
// quirk a real server has, and what Kestrel does about it.
#include "tests/support/Fixture.h"
#include "tests/sync/RecordedServer.h"

#include "data/SyncStore.h"
#include "sync/DavXml.h"

namespace kestrel::test {
namespace {

class SyncQuirks : public KestrelTest {
protected:
    sync::Report run(RecordedServer& server) { return syncBook(server.url()); }
    static QString recording(const char* name) { return QStringLiteral(RECORDED_DIR "/%1.http").arg(QLatin1String(name)); }
    QString book(const RecordedServer& s) const { return s.url() + QStringLiteral("book/"); }
};

TEST_F(SyncQuirks, ARefusedSyncTokenStartsAgainFromTheWholeListing)
{
    RecordedServer server(recording("token-refused"));
    loadSyncState(sConnContacts, book(server));
    exec(sConnContacts, QStringLiteral("INSERT INTO sync_collections(collection,kind,sync_token) VALUES('%1','contacts','old')")
                            .arg(book(server)));
    const sync::Report r = run(server);
    EXPECT_TRUE(server.failures.isEmpty()) << server.failures.join('\n').toStdString();
    ASSERT_EQ(int(r.outcome), int(sync::Outcome::Synced)) << r.detail.toStdString();
    EXPECT_TRUE(server.requests[0].body.contains(">old<"));
    EXPECT_TRUE(server.requests[1].body.contains("<d:sync-token></d:sync-token>") ||
                server.requests[1].body.contains("<d:sync-token/>"));
    EXPECT_EQ(rows(sConnContacts, "select lastname,uid from contacts"), (std::vector<QStringList>{{"Lee", "ann-1"}}));
    EXPECT_EQ(loadSyncState(sConnContacts, book(server)).token, "http://server/sync/2");
}

TEST_F(SyncQuirks, UnquotedETagsAreSentBackQuoted)
{
    RecordedServer server(recording("unquoted-etags"));
    ASSERT_EQ(int(run(server).outcome), int(sync::Outcome::Synced));
    exec(sConnContacts, "update contacts set city='Boston'");
    const sync::Report r = run(server);
    EXPECT_TRUE(server.failures.isEmpty()) << server.failures.join('\n').toStdString();
    EXPECT_TRUE(server.allAnswered());
    ASSERT_EQ(server.requests.size(), 4u);
    EXPECT_EQ(server.requests[3].headers.value("if-match"), "\"abc\"");
    EXPECT_TRUE(server.requests[3].body.contains("ADR;TYPE=work:;;;Boston;;;"));
    EXPECT_EQ(r.sentOut, 1);
    const SyncState state = loadSyncState(sConnContacts, book(server));
    ASSERT_EQ(state.items.size(), 1u);
    EXPECT_EQ(state.items[0].href, "/book/ann.vcf");
    EXPECT_EQ(state.items[0].etag, "\"def\"");
}

TEST_F(SyncQuirks, ACardTheServerRewroteOnSavingIsFetchedAndKeyedByItsHref)
{
    // The server gives no ETag for a card it changed on saving: its copy is fetched. It put a
    // UID of its own in, and wrote the number its own way; the number comes here, the uid stays.
    RecordedServer server(recording("rewrites-card"));
    const int id = addContact(QStringLiteral("Lee"), QStringLiteral("Ann"));
    exec(sConnContacts, QStringLiteral("update contacts set cellph='555-0100' where id=%1").arg(id));
    const QString uid = rows(sConnContacts, "select uid from contacts")[0][0];
    sync::Report r = run(server);
    ASSERT_EQ(int(r.outcome), int(sync::Outcome::Synced)) << r.detail.toStdString();
    EXPECT_TRUE(server.requests[1].body.contains(("UID:" + uid).toUtf8()));
    EXPECT_EQ(rows(sConnContacts, "select cellph,uid from contacts"), (std::vector<QStringList>{{"+1 555 0100", uid}}));
    // The next sync finds its own card listed under the ETag it fetched: nothing is doubled.
    r = run(server);
    EXPECT_TRUE(server.failures.isEmpty()) << server.failures.join('\n').toStdString();
    EXPECT_TRUE(server.allAnswered());
    EXPECT_EQ(r.sentOut + r.broughtIn, 0);
    EXPECT_EQ(rows(sConnContacts, "select count(*) from contacts")[0][0], "1");
    const SyncState state = loadSyncState(sConnContacts, book(server));
    ASSERT_EQ(state.items.size(), 1u);
    EXPECT_EQ(state.items[0].uid, "server-made-uid");
    EXPECT_EQ(state.items[0].etag, "\"rewritten\"");
}

TEST_F(SyncQuirks, AnItemListedTwiceIsFetchedAndTakenOnce)
{
    // Without sync reports: the items' ETags, the collection tag, then nothing but the tag.
    RecordedServer server(recording("hrefs-twice"));
    sync::Report r = run(server);
    ASSERT_EQ(int(r.outcome), int(sync::Outcome::Synced)) << r.detail.toStdString();
    ASSERT_GE(server.requests.size(), 4u);
    EXPECT_EQ(server.requests[3].body.count("<d:href>"), 1);
    EXPECT_EQ(rows(sConnContacts, "select lastname from contacts"), (std::vector<QStringList>{{"Bee"}}));
    r = run(server);
    EXPECT_TRUE(server.failures.isEmpty()) << server.failures.join('\n').toStdString();
    EXPECT_TRUE(server.allAnswered());
    EXPECT_EQ(r.requests, 1);
}

TEST(DavXml, HrefsAndETagsAreReadOneWayWhateverWayTheServerWritesThem)
{
    const QUrl base(QStringLiteral("https://dav.example/u/book/"));
    EXPECT_EQ(dav::normalHref(QStringLiteral("/u/book/a%40b.vcf"), base), dav::normalHref(QStringLiteral("a@b.vcf"), base));
    EXPECT_EQ(dav::normalHref(QStringLiteral("https://dav.example/u/book/%7Ex.vcf"), base), "/u/book/~x.vcf");
    EXPECT_EQ(dav::normalHref(QStringLiteral("/u/book/a b.vcf"), base), "/u/book/a%20b.vcf");
    EXPECT_EQ(dav::normalEtag(QStringLiteral("abc")), "\"abc\"");
    EXPECT_EQ(dav::normalEtag(QStringLiteral("\"abc\"")), "\"abc\"");
    EXPECT_EQ(dav::normalEtag(QStringLiteral("W/\"abc\"")), "W/\"abc\"");
    // A sync report cut short (507 for the collection) and an item gone (404).
    const dav::MultiStatus ms = dav::parseMultiStatus(
        "<d:multistatus xmlns:d=\"DAV:\"><d:response><d:href>/u/book/</d:href><d:status>HTTP/1.1 507 Insufficient "
        "Storage</d:status></d:response><d:response><d:href>/u/book/x.vcf</d:href><d:status>HTTP/1.1 404 Not "
        "Found</d:status></d:response><d:sync-token>t9</d:sync-token></d:multistatus>",
        base);
    ASSERT_TRUE(ms.ok);
    EXPECT_TRUE(ms.truncated);
    ASSERT_EQ(ms.resources.size(), 1u);
    EXPECT_EQ(ms.resources[0].status, 404);
    EXPECT_EQ(ms.syncToken, "t9");
}

} // namespace
} // namespace kestrel::test
