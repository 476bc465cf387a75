#include "data/ContactMatch.h"

#include "data/ContactFields.h"
#include "data/Database.h"
#include "data/Statement.h"
#include "data/TextFold.h"

#include <QHash>
#include <QSet>

#include <algorithm>

namespace kestrel {

namespace {

// Letters and digits only: "Café Noir, Inc." and "cafe noir inc" agree.
QString compact(const QString& text)
{
    const QString folded = foldedText(text);
    QString out;
    out.reserve(folded.size());
    for (QChar c : folded)
        if (c.isLetterOrNumber())
            out += c;
    return out;
}

// 0 stands for an empty text, so a text whose hash is 0 is given another.
quint64 hashOf(const QString& text)
{
    if (text.isEmpty())
        return 0;
    const quint64 h = qHash(QStringView(text), size_t(0x6b657374726c));
    return h ? h : 1;
}

bool agree(quint64 ha, const QString& a, quint64 hb, const QString& b) { return ha != 0 && ha == hb && a == b; }

// Nothing but a name to go by: a card typed in a hurry on a phone.
bool bare(const MatchKeys& k)
{
    return !k.companyHash && !k.emailHash && !k.addressHash && !k.cityHash && !k.phones[0] && !k.phones[1] && !k.phones[2];
}

bool phonesAgree(const MatchKeys& a, const MatchKeys& b)
{
    for (const quint64 p : a.phones)
        if (p)
            for (const quint64 q : b.phones)
                if (samePhone(p, q))
                    return true;
    return false;
}

constexpr quint64 kBillion = 1000000000;

// The digits two agreeing numbers share: the last nine (or all of fewer).
quint64 phoneBlock(quint64 phone) { return phone % kBillion; }

// One number twice on a card (its cell also its work number) is one member of its block.
bool repeatedPhone(const MatchKeys& k, size_t p)
{
    for (size_t q = 0; q < p; ++q)
        if (k.phones[q] && phoneBlock(k.phones[q]) == phoneBlock(k.phones[p]))
            return true;
    return false;
}

int digitsOf(quint64 n)
{
    int d = 0;
    for (; n; n /= 10)
        ++d;
    return d;
}

// Mixes a kind into a key, so that a name and an e-mail with one hash land in different
// blocks; a collision only costs a compare, the rule decides.
quint64 blockKey(quint64 value, quint64 kind)
{
    quint64 z = value + kind * 0x9e3779b97f4a7c15ull;
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    return z ^ (z >> 31);
}

enum BlockKind : quint64 { ByName = 1, ByEmail, ByPhone, ByCompany };

struct Entry {
    quint64 key;
    int index;
    bool operator<(const Entry& o) const { return key < o.key || (key == o.key && index < o.index); }
};

quint64 pairOf(int a, int b) { return quint64(std::min(a, b)) << 32 | quint64(std::max(a, b)); }

// Members of one run of equal keys, every pair of them.
void allPairs(const Entry* first, const Entry* last, std::vector<quint64>& out)
{
    for (const Entry* x = first; x != last; ++x)
        for (const Entry* y = x + 1; y != last; ++y)
            out.push_back(pairOf(x->index, y->index));
}

// A name borne by very many contacts: its bearers are paired only where a second value agrees.
void largeNameGroup(const Entry* first, const Entry* last, const std::vector<MatchKeys>& keys, std::vector<quint64>& out)
{
    std::vector<Entry> sub;
    for (const Entry* e = first; e != last; ++e) {
        const MatchKeys& k = keys[size_t(e->index)];
        const quint64 values[] = {k.companyHash, k.emailHash, k.addressHash, k.cityHash};
        for (quint64 kind = 0; kind < std::size(values); ++kind)
            if (values[kind])
                sub.push_back({blockKey(values[kind], kind + 10), e->index});
        for (const quint64 p : k.phones)
            if (p)
                sub.push_back({blockKey(phoneBlock(p), 20), e->index});
    }
    std::sort(sub.begin(), sub.end());
    for (size_t i = 0; i < sub.size();) {
        size_t j = i + 1;
        while (j < sub.size() && sub[j].key == sub[i].key)
            ++j;
        allPairs(sub.data() + i, sub.data() + j, out);
        i = j;
    }
}

} // namespace

QString nameKey(const QString& first, const QString& last)
{
    const QString folded = foldedText(first + u' ' + last);
    QStringList words;
    QString word;
    for (QChar c : folded) {
        if (c.isLetterOrNumber()) {
            word += c;
        } else if (c == u'\'' || c == u'\u2019' || c == u'.') {
            continue; // O'Brien and OBrien, J. and J
        } else if (!word.isEmpty()) {
            words << word;
            word.clear();
        }
    }
    if (!word.isEmpty())
        words << word;
    words.sort();
    return words.join(u' ');
}

quint64 phoneKey(const QString& phone)
{
    int count = 0;
    quint64 n = 0;
    constexpr quint64 kKept = 1000000000000000000ull; // 18 digits
    for (QChar c : phone) {
        if (!c.isDigit())
            continue;
        ++count;
        n = (n % (kKept / 10)) * 10 + quint64(c.digitValue());
    }
    return count < 5 ? 0 : n;
}

bool samePhone(quint64 a, quint64 b)
{
    if (!a || !b)
        return false;
    if (a == b)
        return true;
    const quint64 shorter = std::min(a, b), longer = std::max(a, b);
    const int digits = digitsOf(shorter);
    if (digits < 9)
        return false;
    quint64 scale = 1;
    for (int i = 0; i < digits; ++i)
        scale *= 10;
    return longer % scale == shorter;
}

MatchKeys matchKeys(const ContactRecord& c)
{
    MatchKeys k;
    k.name = nameKey(c.firstname, c.lastname);
    k.company = compact(c.company);
    k.email = foldedText(c.email.trimmed());
    k.phones = {phoneKey(c.cellph), phoneKey(c.homeph), phoneKey(c.workph)};
    k.address = compact(c.address);
    k.city = compact(c.city);
    k.nameHash = hashOf(k.name);
    k.companyHash = hashOf(k.company);
    k.emailHash = hashOf(k.email);
    k.addressHash = hashOf(k.address);
    k.cityHash = hashOf(k.city);
    return k;
}

Agreement agreement(const MatchKeys& a, const MatchKeys& b)
{
    Agreement g;
    g.name = agree(a.nameHash, a.name, b.nameHash, b.name);
    g.company = agree(a.companyHash, a.company, b.companyHash, b.company);
    g.email = agree(a.emailHash, a.email, b.emailHash, b.email);
    g.phone = phonesAgree(a, b);
    // A file without streets ("René Dupré, Paris") still places the person by the city; two
    // different streets in one city are two addresses.
    const bool bothStreets = a.addressHash && b.addressHash;
    g.address = bothStreets ? agree(a.addressHash, a.address, b.addressHash, b.address)
                            : agree(a.cityHash, a.city, b.cityHash, b.city);
    return g;
}

Likeness compareContacts(const MatchKeys& a, const MatchKeys& b)
{
    const Agreement g = agreement(a, b);
    if (g.name && (g.company || g.email || g.phone || g.address))
        return Likeness::Same;
    if ((!a.nameHash || !b.nameHash) && g.company && (g.phone || g.email))
        return Likeness::Same;
    if (g.email || g.phone)
        return Likeness::Possibly;
    if (g.name && (bare(a) || bare(b)))
        return Likeness::Possibly;
    return Likeness::Different;
}

std::vector<DuplicatePair> findDuplicatePairs(const std::vector<MatchKeys>& keys,
                                              const std::function<bool(qint64, qint64)>& progress, bool* cancelled)
{
    if (cancelled)
        *cancelled = false;
    const int n = int(keys.size());
    const qint64 whole = qint64(n) * 2;
    const auto stop = [&](qint64 done) {
        if (!progress || progress(done, whole))
            return false;
        if (cancelled)
            *cancelled = true;
        return true;
    };
    // Blocks of contacts that share a folded name, an e-mail, the last digits of a phone or a
    // company, as integer keys sorted together: only members of one block are compared.
    std::vector<Entry> entries;
    entries.reserve(size_t(n) * 4);
    for (int i = 0; i < n; ++i) {
        const MatchKeys& k = keys[size_t(i)];
        if (k.nameHash)
            entries.push_back({blockKey(k.nameHash, ByName), i});
        if (k.emailHash)
            entries.push_back({blockKey(k.emailHash, ByEmail), i});
        for (int p = 0; p < 3; ++p)
            if (const quint64 phone = k.phones[size_t(p)]; phone && !repeatedPhone(k, size_t(p)))
                entries.push_back({blockKey(phoneBlock(phone), ByPhone), i});
        if (k.companyHash)
            entries.push_back({blockKey(k.companyHash, ByCompany), i});
        if (i % 16384 == 0 && stop(i / 2))
            return {};
    }
    std::sort(entries.begin(), entries.end());
    if (stop(n))
        return {};

    std::vector<quint64> candidates;
    candidates.reserve(size_t(n));
    for (size_t i = 0; i < entries.size();) {
        size_t j = i + 1;
        while (j < entries.size() && entries[j].key == entries[i].key)
            ++j;
        const Entry *first = entries.data() + i, *last = entries.data() + j;
        i = j;
        const size_t size = size_t(last - first);
        if (size < 2)
            continue;
        const MatchKeys& k = keys[size_t(first->index)];
        if (k.nameHash && first->key == blockKey(k.nameHash, ByName)) {
            if (size > size_t(kLargeNameGroup))
                largeNameGroup(first, last, keys, candidates);
            else
                allPairs(first, last, candidates);
        } else if (k.companyHash && first->key == blockKey(k.companyHash, ByCompany)) {
            // Within a company only a nameless card pairs with the others.
            for (const Entry* x = first; x != last; ++x)
                if (!keys[size_t(x->index)].nameHash)
                    for (const Entry* y = first; y != last; ++y)
                        if (y != x)
                            candidates.push_back(pairOf(x->index, y->index));
        } else if (size <= size_t(kMaxSharedKey)) {
            allPairs(first, last, candidates);
        }
    }
    entries = {};
    std::sort(candidates.begin(), candidates.end());
    candidates.erase(std::unique(candidates.begin(), candidates.end()), candidates.end());

    std::vector<DuplicatePair> pairs;
    const qint64 total = qint64(candidates.size());
    for (qint64 c = 0; c < total; ++c) {
        const int a = int(candidates[size_t(c)] >> 32), b = int(candidates[size_t(c)] & 0xffffffffu);
        const MatchKeys &ka = keys[size_t(a)], &kb = keys[size_t(b)];
        const Likeness l = compareContacts(ka, kb);
        if (l != Likeness::Different)
            pairs.push_back({a, b, l, agreement(ka, kb).count()});
        if (c % 65536 == 0 && stop(n + c * n / std::max<qint64>(1, total)))
            return {};
    }
    std::stable_sort(pairs.begin(), pairs.end(), [](const DuplicatePair& x, const DuplicatePair& y) {
        if (x.likeness != y.likeness)
            return x.likeness > y.likeness;
        return x.strength > y.strength;
    });
    return pairs;
}

} // namespace kestrel

namespace kestrel {

void ContactIndex::add(int id, const QString& shownName, MatchKeys keys)
{
    const int at = int(keys_.size());
    if (keys.nameHash)
        byName_[keys.nameHash].push_back(at);
    if (keys.emailHash)
        byEmail_[keys.emailHash].push_back(at);
    for (size_t p = 0; p < keys.phones.size(); ++p)
        if (const quint64 phone = keys.phones[p]; phone && !repeatedPhone(keys, p))
            byPhone_[phoneBlock(phone)].push_back(at);
    if (keys.companyHash)
        byCompany_[keys.companyHash].push_back(at);
    keys_.push_back(std::move(keys));
    ids_.push_back(id);
    names_.push_back(shownName);
}

void ContactIndex::look(const std::vector<int>* members, const MatchKeys& keys, Found& best, bool shared) const
{
    if (!members || (shared && members->size() > size_t(kMaxSharedKey)))
        return;
    for (const int m : *members) {
        if (best.likeness == Likeness::Same)
            return;
        const Likeness l = compareContacts(keys, keys_[size_t(m)]);
        if (l > best.likeness)
            best = {l, ids_[size_t(m)], names_[size_t(m)]};
    }
}

ContactIndex::Found ContactIndex::find(const MatchKeys& keys) const
{
    Found best;
    const auto at = [](const QHash<quint64, std::vector<int>>& h, quint64 k) {
        if (!k)
            return static_cast<const std::vector<int>*>(nullptr);
        const auto it = h.constFind(k);
        return it == h.cend() ? nullptr : &it.value();
    };
    look(at(byName_, keys.nameHash), keys, best, false);
    look(at(byEmail_, keys.emailHash), keys, best, true);
    for (const quint64 p : keys.phones)
        look(at(byPhone_, p ? phoneBlock(p) : 0), keys, best, true);
    // A nameless card, or a stored nameless one, found by its company.
    if (const auto* members = at(byCompany_, keys.companyHash); members && best.likeness != Likeness::Same) {
        for (const int m : *members)
            if (!keys.nameHash || !keys_[size_t(m)].nameHash)
                if (compareContacts(keys, keys_[size_t(m)]) == Likeness::Same) {
                    best = {Likeness::Same, ids_[size_t(m)], names_[size_t(m)]};
                    break;
                }
    }
    return best;
}

ContactIndex ContactIndex::ofStored(const QString& connectionText)
{
    ContactIndex index;
    Connection db(connectionText);
    forEachRowBytes(db, QStringLiteral("select id,firstname,lastname,company,email,cellph,homeph,workph,address,city from contacts"),
                    [&index](int, const char* const* v, const int* n) {
                        const auto text = [&](int i) { return v[i] ? exactUtf8(v[i], n[i]) : QString(); };
                        ContactRecord c;
                        c.firstname = text(1);
                        c.lastname = text(2);
                        c.company = text(3);
                        c.email = text(4);
                        c.cellph = text(5);
                        c.homeph = text(6);
                        c.workph = text(7);
                        c.address = text(8);
                        c.city = text(9);
                        const QString shown = (c.firstname + u' ' + c.lastname).trimmed();
                        index.add(QByteArray(v[0]).toInt(), shown.isEmpty() ? c.company : shown, matchKeys(c));
                    });
    return index;
}

std::vector<DuplicateGroup> groupDuplicates(const std::vector<DuplicatePair>& pairs)
{
    QHash<int, int> parent;
    const auto root = [&parent](int x) {
        while (parent.value(x, x) != x)
            x = parent[x] = parent.value(parent[x], parent[x]);
        return x;
    };
    for (const DuplicatePair& p : pairs)
        if (p.likeness == Likeness::Same) {
            const int a = root(p.first), b = root(p.second);
            if (a != b)
                parent[std::max(a, b)] = std::min(a, b);
        }
    QHash<int, std::vector<int>> members;
    for (auto it = parent.keyBegin(); it != parent.keyEnd(); ++it)
        members[root(*it)].push_back(*it);
    std::vector<DuplicateGroup> out;
    QSet<int> listed;
    for (const DuplicatePair& p : pairs) {
        const int r = root(p.first);
        if (p.likeness != Likeness::Same) {
            if (r != root(p.second) || !members.contains(r))
                out.push_back({{std::min(p.first, p.second), std::max(p.first, p.second)}, p.likeness});
            continue;
        }
        if (listed.contains(r))
            continue;
        listed.insert(r);
        std::vector<int> group = members.value(r);
        if (std::find(group.begin(), group.end(), r) == group.end())
            group.push_back(r);
        std::sort(group.begin(), group.end());
        out.push_back({std::move(group), Likeness::Same});
    }
    return out;
}

} // namespace kestrel
