#include "sync/SyncEngine.h"

#include "sync/CollectionServer.h"
#include "sync/DavClient.h"
#include "sync/DavXml.h"
#include "sync/SyncItems.h"

#include <QHash>
#include <QSet>


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

class CollectionSync {
public:
    CollectionSync(dav::Client& client, Store& store, const Collection& c, const Options& o)
        : client_(client), store_(store), coll_(c), opt_(o), adapter_(c.kind, c.vcard3, o.zone),
          server_(client, coll_, o.batch, adapter_.contentType(), [this](int n) { progress(n); }),
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
        widenOldBases();
        Listing l = server_.listChanges(state_.token, state_.ctag);

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
        const std::map<QString, Fetched> got = server_.fetch(wanted);
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

    // Items last synced when fewer columns travelled: what they had not carried is taken as agreed
    // for the end and whole days (the server's copy may know them better; neither side overwrites
    // the other), and as never sent for the rest, so that a series goes up whole.
    void widenOldBases()
    {
        const int n = int(columns_.size());
        for (auto it = items_.begin(); it != items_.end(); ++it) {
            QStringList& base = it->base;
            if (base.isEmpty() || base.size() >= n)
                continue;
            const QStringList here = rows_.value(it->localId).values;
            for (int i = int(base.size()); i < n; ++i)
                base << (coll_.kind == SyncKind::Appointments && i < kSyncCancelled ? here.value(i) : QString());
        }
    }

    // The server's item becomes a new row here.
    void bringIn(const QString& href, const Fetched& f, const Adapter::Parsed& now)
    {
        SyncChange ch;
        ch.local = SyncChange::Local::Insert;
        ch.uid = now.uid;
        ch.values = adapter_.forInsert(now.values);
        ch.item = SyncItem{href, now.uid, f.etag, 0, ch.values, f.data};
        queue(std::move(ch));
        ++report_.broughtIn;
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
            bringIn(href, f, now);
            return;
        }
        const SyncItem item = *itemIt;
        handled_.insert(item.localId);
        if (!rows_.contains(item.localId)) {
            // Deleted here, changed there: the change is kept, as a row again.
            bringIn(href, f, now);
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
        const QStringList normal = adapter_.readsBack(row.values);
        Merged m = mergeFields(item.base, row.values, before, now.values, normal);
        // The user's answers to earlier questions about this very version of the server's item.
        QList<int> open;
        std::vector<Conflict> openDays;
        // The days a series leaves out merge without asking; its days changed on their own are
        // asked about and answered day by day.
        if (const int out = int(columns_.indexOf(QStringLiteral("exdates"))); out >= 0 && m.conflicts.contains(out)) {
            m.conflicts.removeAll(out);
            m.values[out] = mergeDaySets(!item.base.isEmpty() && !before.isEmpty(), item.base.value(out),
                                         row.values[out], now.values[out]);
            if (m.values[out] != now.values[out])
                m.sendHere << out;
            if (m.values[out] != row.values[out])
                m.takenThere << out;
        }
        if (const int days = int(columns_.indexOf(QStringLiteral("overrides"))); days >= 0 && m.conflicts.contains(days)) {
            m.conflicts.removeAll(days);
            MergedDays d = mergeDays(!item.base.isEmpty() && !before.isEmpty(), item.base.value(days), row.values[days],
                                     before.value(days), now.values[days], normal.value(days));
            for (int i : d.merged.conflicts) {
                const auto answer = decisions_.constFind(href + u'\n' + f.etag + u'\n' + dayField(d.days[i]));
                if (answer == decisions_.constEnd()) {
                    openDays.push_back({coll_.kind, key_, href, f.etag, adapter_.who(row.values), dayField(d.days[i]),
                                        d.merged.values[i], d.there[i], seriesDayWords(row.values, d.days[i]),
                                        seriesDayWords(now.values, d.days[i])});
                } else if (*answer) {
                    d.merged.sendHere << i;
                } else {
                    d.merged.values[i] = d.there[i];
                    d.merged.takenThere << i;
                }
            }
            m.values[days] = joinDays(d.merged.values);
            if (!d.merged.sendHere.isEmpty())
                m.sendHere << days;
            if (!d.merged.takenThere.isEmpty())
                m.takenThere << days;
        }
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
        if (!open.isEmpty() || !openDays.empty()) {
            // Nothing is written on either side until the user has chosen.
            for (int i : open)
                report_.conflicts.push_back({coll_.kind, key_, href, f.etag, adapter_.who(row.values), columns_[i],
                                             row.values[i], now.values[i]});
            report_.conflicts.insert(report_.conflicts.end(), openDays.begin(), openDays.end());
            return;
        }
        SyncItem next{href, now.uid.isEmpty() ? item.uid : now.uid, f.etag, item.localId, m.values, f.data};
        if (!m.sendHere.isEmpty()) {
            const QByteArray data = adapter_.patch(f.data, m.values, m.sendHere, now_());
            const Written w = server_.put(href, data, f.etag);
            if (w.status == 412 && attempt < 3) {
                // Changed on the server again meanwhile: merged once more with that copy.
                if (const auto again = server_.fetchOne(href))
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
        const auto copy = server_.fetchOne(href);
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
            ch.why = QStringLiteral("deleted on the phone or the sync server %1").arg(coll_.url.host());
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
        const Written w = server_.put(href, data, item.etag);
        if (w.status == 412) {
            // Changed on the server since the last sync: its copy, merged with ours.
            if (const auto copy = server_.fetchOne(href))
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
        sent(id, next, row.values);
    }

    void createThere(std::int64_t id)
    {
        const SyncRow& row = rows_[id];
        const QString href = newItemHref(coll_.url, row.uid, coll_.kind);
        const QByteArray data = adapter_.create(row.values, row.uid, now_());
        const Written w = server_.put(href, data, QString());
        if (w.status == 412) {
            // Already there: written by an earlier sync cut short, or the same uid made elsewhere.
            if (const auto copy = server_.fetchOne(href)) {
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
            server_.fail(gone, QStringLiteral("PUT"));
        }
        ++report_.sentOut;
        SyncItem item{href, row.uid, w.etag, id, row.values, data};
        if (!settle(href, data, w.etag, item))
            return;
        byLocal_.insert(id, href);
        sent(id, item, row.values);
    }

    // A row written to the server: its item kept, and the row itself updated where the server's
    // copy reads back otherwise than what was sent.
    void sent(std::int64_t id, const SyncItem& item, const QStringList& seen)
    {
        SyncChange ch;
        ch.localId = id;
        ch.values = item.base;
        ch.seen = seen;
        ch.local = item.base == seen ? SyncChange::Local::None : SyncChange::Local::Update;
        ch.item = item;
        queue(std::move(ch));
    }

    void deleteThere(std::int64_t id)
    {
        const QString href = byLocal_.value(id);
        const SyncItem item = items_.value(href);
        const dav::Response r = client_.send("DELETE", server_.urlOf(href), {}, -1,
                                             item.etag.isEmpty() ? dav::Headers{} : dav::Headers{{"If-Match", item.etag.toUtf8()}});
        if (r.status == 412) {
            // Changed on the server after it was deleted here: the change is kept.
            if (const auto copy = server_.fetchOne(href))
                return theirs(href, *copy, 1);
        } else if (!r.ok() && r.status != 404 && r.status != 410) {
            server_.fail(r, QStringLiteral("DELETE"));
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
    CollectionServer server_;
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
