#include "sync/SyncEngine.h"

#include "sync/DavClient.h"
#include "sync/DavXml.h"
#include "sync/SyncItems.h"

#include <QHash>
#include <QSet>

#include <map>
#include <optional>

namespace kestrel::sync {

void Report::add(const Report& o)
{
    if (outcome == Outcome::Synced)
        outcome = o.outcome;
    if (detail.isEmpty())
        detail = o.detail;
    broughtIn += o.broughtIn;
    removedHere += o.removedHere;
    sentOut += o.sentOut;
    removedThere += o.removedThere;
    notes += o.notes;
    conflicts.insert(conflicts.end(), o.conflicts.begin(), o.conflicts.end());
    requests += o.requests;
}

namespace {

// Ends the sync of a collection early with what stopped it.
struct Stop {
    Outcome outcome;
    QString detail;
};

struct Fetched {
    QString etag;
    QByteArray data;
};

class CollectionSync {
public:
    CollectionSync(dav::Client& client, Store& store, const Collection& c, const Options& o)
        : client_(client), store_(store), coll_(c), opt_(o), adapter_(c.kind, c.vcard3, o.zone),
          key_(c.url.toString(QUrl::FullyEncoded)), columns_(syncColumns(c.kind))
    {
        for (const Decision& d : o.decisions)
            decisions_.insert(d.href + u'\n' + d.etag + u'\n' + d.field, d.keepHere);
    }

    Report run()
    {
        const int before = client_.requests();
        try {
            if (!store_.lease(key_, coll_.kind, true))
                throw Stop{Outcome::Busy, {}};
            try {
                work();
            } catch (...) {
                flush();
                store_.lease(key_, coll_.kind, false);
                throw;
            }
            flush();
            store_.lease(key_, coll_.kind, false);
        } catch (const Stop& s) {
            report_.outcome = s.outcome;
            report_.detail = s.detail;
        } catch (const std::exception& e) {
            report_.outcome = Outcome::DataFault;
            report_.detail = QString::fromUtf8(e.what());
        }
        report_.requests = client_.requests() - before;
        return report_;
    }

private:
    // --- the server ---------------------------------------------------------------------------

    [[noreturn]] void fail(const dav::Response& r, const QString& what)
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

    QUrl urlOf(const QString& href) const
    {
        QUrl u = coll_.url;
        u.setPath(QUrl::fromPercentEncoding(href.toUtf8()), QUrl::DecodedMode);
        u.setQuery(QString());
        return u;
    }

    struct Listing {
        std::map<QString, QString> changed; // href → etag ("" when the server gave none)
        QSet<QString> removed;
        QString token, ctag;
        bool complete = false;              // every item is listed (removed is then exact)
    };

    // What changed on the server since the state kept: one request when nothing did.
    Listing listChanges()
    {
        Listing l;
        if (!state_.token.isEmpty()) {
            if (syncReport(state_.token, l))
                return l;
            // A token the server no longer knows: everything from the start.
            l = Listing{};
            if (syncReport(QString(), l)) {
                l.complete = true;
                return l;
            }
        } else if (!state_.ctag.isEmpty()) {
            // A server without sync reports: its collection tag says whether anything changed.
            const dav::Response r = client_.send("PROPFIND", coll_.url, dav::ctagQuery(), 0);
            if (r.status != 207)
                fail(r, QStringLiteral("PROPFIND"));
            const dav::MultiStatus ms = dav::parseMultiStatus(r.body, r.url);
            const QString ctag = ms.resources.empty() ? QString() : ms.resources.front().ctag;
            if (!ctag.isEmpty() && ctag == state_.ctag) {
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

    // RFC 6578. False when the server has no such report (or no longer knows the token).
    bool syncReport(QString token, Listing& l)
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

    // The items' texts and ETags; an href missing from the answer is gone.
    std::map<QString, Fetched> fetch(const QStringList& hrefs)
    {
        std::map<QString, Fetched> out;
        for (qsizetype at = 0; at < hrefs.size(); at += opt_.batch) {
            const QStringList part = hrefs.mid(at, opt_.batch);
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
            progress(int(part.size()));
        }
        return out;
    }

    std::optional<Fetched> fetchOne(const QString& href)
    {
        const auto got = fetch({href});
        if (got.empty())
            return std::nullopt;
        return got.begin()->second;
    }

    struct Written {
        int status = 0;
        QString etag;
    };

    Written put(const QString& href, const QByteArray& data, const QString& ifMatch)
    {
        dav::Headers h{{"Content-Type", adapter_.contentType()}};
        if (ifMatch.isEmpty())
            h.append(qMakePair(QByteArray("If-None-Match"), QByteArray("*")));
        else
            h.append(qMakePair(QByteArray("If-Match"), ifMatch.toUtf8()));
        const dav::Response r = client_.send("PUT", urlOf(href), data, -1, h);
        if (r.status == 412 || r.status == 404 || r.status == 410)
            return {r.status, {}};
        if (!r.ok())
            fail(r, QStringLiteral("PUT"));
        progress(1);
        return {r.status, dav::normalEtag(QString::fromLatin1(r.header("etag")))};
    }

    // --- the sync -----------------------------------------------------------------------------

    void progress(int n)
    {
        done_ += n;
        if (opt_.progress)
            opt_.progress(std::min(done_, total_), total_);
    }

    void work()
    {
        state_ = store_.state(key_);
        for (SyncItem& i : state_.items) {
            items_.insert(i.href, i);
            if (i.localId)
                byLocal_.insert(i.localId, i.href);
        }
        for (SyncRow& r : store_.rows(coll_.kind)) {
            byUid_.insert(r.uid, r.id);
            rows_.insert(r.id, std::move(r));
        }
        Listing l = listChanges();

        // Items whose ETag is the one kept (our own writes, or an earlier sync cut short) are done.
        QStringList wanted;
        for (const auto& [href, etag] : l.changed) {
            const auto it = items_.constFind(href);
            if (it != items_.constEnd() && !etag.isEmpty() && it->etag == etag)
                continue;
            wanted << href;
        }
        if (l.complete)
            for (const SyncItem& i : state_.items)
                if (!l.changed.count(i.href))
                    l.removed.insert(i.href);
        QList<std::int64_t> deletedHere, changedHere, newHere;
        for (auto it = rows_.constBegin(); it != rows_.constEnd(); ++it) {
            const QString href = byLocal_.value(it.key());
            if (href.isEmpty())
                newHere << it.key();
            else if (items_[href].base != it->values)
                changedHere << it.key();
        }
        for (const SyncItem& i : state_.items)
            if (i.localId && !rows_.contains(i.localId))
                deletedHere << i.localId;
        total_ = int(wanted.size() + newHere.size() + changedHere.size() + deletedHere.size());
        progress(0);

        // What the server changed, merged with what changed here.
        const std::map<QString, Fetched> got = fetch(wanted);
        for (const QString& href : wanted) {
            const auto f = got.find(href);
            if (f == got.end())
                l.removed.insert(href);
            else
                theirs(href, f->second);
        }
        for (const QString& href : l.removed)
            gone(href);
        flush();

        // What changed here alone.
        for (std::int64_t id : changedHere)
            if (!handled_.contains(id) && rows_.contains(id))
                editedHere(id);
        for (std::int64_t id : newHere)
            if (!handled_.contains(id) && rows_.contains(id) && byLocal_.value(id).isEmpty())
                createThere(id);
        for (std::int64_t id : deletedHere)
            if (!handled_.contains(id))
                deleteThere(id);
        flush();
        // The server's state is ours only once every change it listed has been taken in.
        if (report_.conflicts.empty() && !held_)
            store_.saveToken(key_, l.token, l.ctag);
    }

    // The server's item is new or changed.
    void theirs(const QString& href, const Fetched& f, int attempt = 0)
    {
        const Adapter::Parsed now = adapter_.parse(f.data);
        const auto itemIt = items_.constFind(href);
        if (!now.usable) {
            // Kept in mind, so it is not fetched again until it changes; a row it stood for stays.
            SyncItem item{href, now.uid, f.etag, 0, {}, f.data};
            if (itemIt != items_.constEnd() && itemIt->localId) {
                // Still the same item: a change here is written into it, but nothing is taken from it.
                handled_.insert(itemIt->localId);
                item.localId = itemIt->localId;
                item.base = itemIt->base;
                item.uid = itemIt->uid;
                report_.notes << QStringLiteral("\"%1\" on the server %2 now; it was kept here as it was.")
                                     .arg(adapter_.who(rows_.value(itemIt->localId).values), now.why);
            } else {
                report_.notes << QStringLiteral("An item on the server %1 and was left there.").arg(now.why);
            }
            keepItem(item);
            return;
        }
        if (itemIt == items_.constEnd() || itemIt->localId == 0) {
            // New there: the same uid here (written by an earlier sync cut short, or brought in
            // from a file) is the same item; anything else is a new row.
            const std::int64_t same = byUid_.value(now.uid);
            if (same && rows_.contains(same) && byLocal_.value(same).isEmpty()) {
                byLocal_.insert(same, href);
                merge(href, f, now, SyncItem{href, now.uid, f.etag, same, {}, {}}, attempt);
                return;
            }
            SyncChange ch;
            ch.local = SyncChange::Local::Insert;
            ch.uid = now.uid;
            ch.values = adapter_.forInsert(now.values);
            ch.item = SyncItem{href, now.uid, f.etag, 0, ch.values, f.data};
            queue(std::move(ch));
            ++report_.broughtIn;
            return;
        }
        const SyncItem item = *itemIt;
        handled_.insert(item.localId);
        if (!rows_.contains(item.localId)) {
            // Deleted here, changed there: the change is kept, as a row again.
            SyncChange ch;
            ch.local = SyncChange::Local::Insert;
            ch.uid = now.uid;
            ch.values = adapter_.forInsert(now.values);
            ch.item = SyncItem{href, now.uid, f.etag, 0, ch.values, f.data};
            queue(std::move(ch));
            ++report_.broughtIn;
            report_.notes << QStringLiteral("\"%1\" was deleted here but changed on the server since; it was kept.")
                                 .arg(adapter_.who(now.values));
            return;
        }
        merge(href, f, now, item, attempt);
    }

    void merge(const QString& href, const Fetched& f, const Adapter::Parsed& now, const SyncItem& item, int attempt)
    {
        const SyncRow& row = rows_[item.localId];
        handled_.insert(item.localId);
        const QStringList before = item.card.isEmpty() ? QStringList() : adapter_.parse(item.card).values;
        Merged m = mergeFields(item.base, row.values, before, now.values, adapter_.readsBack(row.values));
        // The user's answers to earlier questions about this very version of the server's item.
        QList<int> open;
        for (int i : m.conflicts) {
            const auto d = decisions_.constFind(href + u'\n' + f.etag + u'\n' + columns_[i]);
            if (d == decisions_.constEnd()) {
                open << i;
            } else if (*d) {
                m.sendHere << i;
            } else {
                m.values[i] = now.values[i];
                m.takenThere << i;
            }
        }
        if (!open.isEmpty()) {
            // Nothing is written on either side until the user has chosen.
            for (int i : open)
                report_.conflicts.push_back({coll_.kind, key_, href, f.etag, adapter_.who(row.values), columns_[i],
                                             row.values[i], now.values[i]});
            return;
        }
        SyncItem next{href, now.uid.isEmpty() ? item.uid : now.uid, f.etag, item.localId, m.values, f.data};
        if (!m.sendHere.isEmpty()) {
            const QByteArray data = adapter_.patch(f.data, m.values, m.sendHere, now_());
            const Written w = put(href, data, f.etag);
            if (w.status == 412 && attempt < 3) {
                // Changed on the server again meanwhile: merged once more with that copy.
                if (const auto again = fetchOne(href))
                    return theirs(href, *again, attempt + 1);
            }
            if (w.status == 412 || w.status == 404 || w.status == 410) {
                held_ = true; // the next sync finds it as it is by then
                return;
            }
            ++report_.sentOut;
            if (!settle(href, data, w.etag, next))
                return;
        }
        if (!m.takenThere.isEmpty())
            ++report_.broughtIn;
        SyncChange ch;
        ch.local = m.values == row.values ? SyncChange::Local::None : SyncChange::Local::Update;
        ch.localId = item.localId;
        ch.values = next.base;
        ch.seen = row.values;
        ch.item = next;
        queue(std::move(ch));
    }

    // After a PUT: the server's ETag, or its copy fetched when it gave none (it may have changed
    // the text on saving). A copy that reads differently changes the values here too.
    bool settle(const QString& href, const QByteArray& sent, const QString& etag, SyncItem& item)
    {
        item.card = sent;
        item.etag = etag;
        if (!etag.isEmpty())
            return true;
        const auto copy = fetchOne(href);
        if (!copy) {
            held_ = true;
            return false;
        }
        item.etag = copy->etag;
        item.card = copy->data;
        const Adapter::Parsed stored = adapter_.parse(copy->data);
        if (!stored.usable)
            return true;
        const QStringList asSent = adapter_.parse(sent).values;
        for (int i = 0; i < asSent.size(); ++i)
            if (stored.values.value(i) != asSent[i])
                item.base[i] = stored.values.value(i);
        if (!stored.uid.isEmpty())
            item.uid = stored.uid;
        return true;
    }

    // The server no longer has the item.
    void gone(const QString& href)
    {
        const auto it = items_.constFind(href);
        if (it == items_.constEnd())
            return;
        const SyncItem item = *it;
        SyncChange ch;
        ch.dropItem = true;
        ch.item = item;
        if (!item.localId || !rows_.contains(item.localId)) {
            queue(std::move(ch));
            if (item.localId)
                handled_.insert(item.localId);
            return;
        }
        handled_.insert(item.localId);
        const SyncRow& row = rows_[item.localId];
        if (row.values == item.base) {
            ch.local = SyncChange::Local::Remove;
            ch.localId = item.localId;
            ch.seen = row.values;
            ch.why = QStringLiteral("deleted on the sync server %1").arg(coll_.url.host());
            ++report_.removedHere;
            queue(std::move(ch));
            return;
        }
        // Changed here after it was deleted there: kept, and written to the server anew.
        queue(std::move(ch));
        byLocal_.remove(item.localId);
        report_.notes << QStringLiteral("\"%1\" was deleted on the server but changed here since; it was kept.")
                             .arg(adapter_.who(row.values));
        flush();
        createThere(item.localId);
    }

    void editedHere(std::int64_t id)
    {
        const QString href = byLocal_.value(id);
        const SyncItem item = items_.value(href);
        const SyncRow& row = rows_[id];
        QList<int> fields;
        for (int i = 0; i < row.values.size(); ++i)
            if (row.values[i] != item.base.value(i))
                fields << i;
        const QByteArray data = item.card.isEmpty() ? adapter_.create(row.values, item.uid, now_())
                                                    : adapter_.patch(item.card, row.values, fields, now_());
        const Written w = put(href, data, item.etag);
        if (w.status == 412) {
            // Changed on the server since the last sync: its copy, merged with ours.
            if (const auto copy = fetchOne(href))
                return theirs(href, *copy, 1);
            return gone(href);
        }
        if (w.status == 404 || w.status == 410)
            return gone(href);
        ++report_.sentOut;
        SyncItem next = item;
        next.base = row.values;
        if (!settle(href, data, w.etag, next))
            return;
        SyncChange ch;
        ch.localId = id;
        ch.values = next.base;
        ch.seen = row.values;
        ch.local = next.base == row.values ? SyncChange::Local::None : SyncChange::Local::Update;
        ch.item = next;
        queue(std::move(ch));
    }

    void createThere(std::int64_t id)
    {
        const SyncRow& row = rows_[id];
        const QString href = newItemHref(coll_.url, row.uid, coll_.kind);
        const QByteArray data = adapter_.create(row.values, row.uid, now_());
        const Written w = put(href, data, QString());
        if (w.status == 412) {
            // Already there: written by an earlier sync cut short, or the same uid made elsewhere.
            if (const auto copy = fetchOne(href)) {
                const Adapter::Parsed p = adapter_.parse(copy->data);
                if (p.usable) {
                    byLocal_.insert(id, href);
                    merge(href, *copy, p, SyncItem{href, p.uid, copy->etag, id, {}, {}}, 1);
                    return;
                }
            }
            held_ = true;
            return;
        }
        if (w.status == 404 || w.status == 410) {
            dav::Response gone;
            gone.status = w.status;
            gone.url = coll_.url;
            fail(gone, QStringLiteral("PUT"));
        }
        ++report_.sentOut;
        SyncItem item{href, row.uid, w.etag, id, row.values, data};
        if (!settle(href, data, w.etag, item))
            return;
        byLocal_.insert(id, href);
        SyncChange ch;
        ch.localId = id;
        ch.values = item.base;
        ch.seen = row.values;
        ch.local = item.base == row.values ? SyncChange::Local::None : SyncChange::Local::Update;
        ch.item = item;
        queue(std::move(ch));
    }

    void deleteThere(std::int64_t id)
    {
        const QString href = byLocal_.value(id);
        const SyncItem item = items_.value(href);
        const dav::Response r = client_.send("DELETE", urlOf(href), {}, -1,
                                             item.etag.isEmpty() ? dav::Headers{} : dav::Headers{{"If-Match", item.etag.toUtf8()}});
        if (r.status == 412) {
            // Changed on the server after it was deleted here: the change is kept.
            if (const auto copy = fetchOne(href))
                return theirs(href, *copy, 1);
        } else if (!r.ok() && r.status != 404 && r.status != 410) {
            fail(r, QStringLiteral("DELETE"));
        }
        if (r.ok())
            ++report_.removedThere;
        progress(1);
        SyncChange ch;
        ch.dropItem = true;
        ch.item = item;
        queue(std::move(ch));
    }

    void keepItem(const SyncItem& item)
    {
        SyncChange ch;
        ch.item = item;
        queue(std::move(ch));
    }

    void queue(SyncChange ch)
    {
        pending_.push_back(std::move(ch));
        if (pending_.size() >= 500)
            flush();
    }

    void flush()
    {
        if (pending_.empty())
            return;
        std::vector<SyncChange> batch;
        batch.swap(pending_);
        store_.apply(key_, coll_.kind, batch);
        for (const SyncChange& ch : batch) {
            if (ch.skipped) {
                held_ = true; // edited here while the sync ran: the next sync takes it
                continue;
            }
            if (ch.dropItem)
                items_.remove(ch.item.href);
            else if (!ch.keepItem)
                items_.insert(ch.item.href, ch.item);
            if (ch.local == SyncChange::Local::Insert) {
                byLocal_.insert(ch.localId, ch.item.href);
                handled_.insert(ch.localId);
            }
        }
    }

    QDateTime now_() const { return QDateTime::currentDateTimeUtc(); }

    dav::Client& client_;
    Store& store_;
    const Collection coll_;
    const Options& opt_;
    Adapter adapter_;
    const QString key_;
    const QStringList columns_;
    QHash<QString, bool> decisions_;
    SyncState state_;
    QHash<QString, SyncItem> items_;
    QHash<std::int64_t, QString> byLocal_;
    QHash<QString, std::int64_t> byUid_;
    QHash<std::int64_t, SyncRow> rows_;
    QSet<std::int64_t> handled_;
    std::vector<SyncChange> pending_;
    Report report_;
    bool held_ = false; // something is left for the next sync: the server's state is not taken as ours
    int done_ = 0, total_ = 0;
};

} // namespace

Report syncCollection(dav::Client& client, Store& store, const Collection& collection, const Options& options)
{
    return CollectionSync(client, store, collection, options).run();
}

} // namespace kestrel::sync
