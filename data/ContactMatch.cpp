#include "data/ContactMatch.h"

#include "data/ContactFields.h"
#include "data/Database.h"
#include "data/Statement.h"
#include "data/TextFold.h"

#include <QHash>

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

bool agree(const QString& a, const QString& b) { return !a.isEmpty() && a == b; }

// Nothing but a name to go by: a card typed in a hurry on a phone.
bool bare(const MatchKeys& k)
{
    return k.company.isEmpty() && k.email.isEmpty() && k.address.isEmpty() && k.city.isEmpty() &&
           std::all_of(k.phones.begin(), k.phones.end(), [](const QString& p) { return p.isEmpty(); });
}

bool phonesAgree(const MatchKeys& a, const MatchKeys& b)
{
    for (const QString& p : a.phones)
        if (!p.isEmpty() && std::find(b.phones.begin(), b.phones.end(), p) != b.phones.end())
            return true;
    return false;
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

QString phoneKey(const QString& phone)
{
    QString digits;
    for (QChar c : phone)
        if (c.isDigit())
            digits += QChar(u'0' + c.digitValue());
    if (digits.size() < 5)
        return {};
    return digits.right(9);
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
    return k;
}

Agreement agreement(const MatchKeys& a, const MatchKeys& b)
{
    Agreement g;
    g.name = agree(a.name, b.name);
    g.company = agree(a.company, b.company);
    g.email = agree(a.email, b.email);
    g.phone = phonesAgree(a, b);
    // A file without streets ("René Dupré, Paris") still places the person by the city; two
    // different streets in one city are two addresses.
    const bool bothStreets = !a.address.isEmpty() && !b.address.isEmpty();
    g.address = bothStreets ? a.address == b.address : agree(a.city, b.city);
    return g;
}

Likeness compareContacts(const MatchKeys& a, const MatchKeys& b)
{
    const Agreement g = agreement(a, b);
    if (g.name && (g.company || g.email || g.phone || g.address))
        return Likeness::Same;
    if ((a.name.isEmpty() || b.name.isEmpty()) && g.company && (g.phone || g.email))
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
    // Blocks of contacts that share a key; only members of one block are compared. A name
    // alone pairs no one, so names block together with each value that could confirm them.
    QHash<QString, std::vector<int>> blocks;
    blocks.reserve(n * 4);
    const auto put = [&blocks](QChar kind, const QString& name, const QString& value, int i) {
        if (!value.isEmpty())
            blocks[kind + name + u'\x1f' + value].push_back(i);
    };
    for (int i = 0; i < n; ++i) {
        const MatchKeys& k = keys[size_t(i)];
        if (!k.name.isEmpty()) {
            put(u'c', k.name, k.company, i);
            put(u'a', k.name, k.address, i);
            put(u't', k.name, k.city, i);
            // A mailbox or switchboard too shared to pair anyone still confirms a name.
            put(u'm', k.name, k.email, i);
            for (const QString& p : k.phones)
                put(u'f', k.name, p, i);
        }
        put(u'e', {}, k.email, i);
        for (const QString& p : k.phones)
            put(u'p', {}, p, i);
        // A card without a name is known by its company (and a phone or the e-mail).
        put(u'o', {}, k.company, i);
        put(u'n', {}, k.name, i);
        if (progress && i % 8192 == 0 && !progress(i, qint64(n) * 2)) {
            if (cancelled)
                *cancelled = true;
            return {};
        }
    }
    std::vector<quint64> candidates;
    for (auto it = blocks.cbegin(); it != blocks.cend(); ++it) {
        const std::vector<int>& members = it.value();
        if (members.size() < 2)
            continue;
        const QChar kind = it.key().at(0);
        if ((kind == u'e' || kind == u'p') && members.size() > size_t(kMaxSharedKey))
            continue;
        const bool byCompany = kind == u'o', byName = kind == u'n';
        for (size_t x = 0; x < members.size(); ++x) {
            // Within a company only a nameless card pairs with the others; within a name, only a
            // card with nothing but the name.
            const MatchKeys& k = keys[size_t(members[x])];
            if ((byCompany && !k.name.isEmpty()) || (byName && !bare(k)))
                continue;
            for (size_t y = byCompany || byName ? 0 : x + 1; y < members.size(); ++y) {
                const int a = members[x], b = members[y];
                if (a == b)
                    continue;
                candidates.push_back(quint64(std::min(a, b)) << 32 | quint64(std::max(a, b)));
            }
        }
    }
    std::sort(candidates.begin(), candidates.end());
    candidates.erase(std::unique(candidates.begin(), candidates.end()), candidates.end());

    std::vector<DuplicatePair> pairs;
    const qint64 total = qint64(candidates.size());
    for (qint64 c = 0; c < total; ++c) {
        const int a = int(candidates[size_t(c)] >> 32), b = int(candidates[size_t(c)] & 0xffffffffu);
        const Likeness l = compareContacts(keys[size_t(a)], keys[size_t(b)]);
        if (l != Likeness::Different)
            pairs.push_back({a, b, l, agreement(keys[size_t(a)], keys[size_t(b)]).count()});
        if (progress && c % 8192 == 0 && !progress(n + c * n / std::max<qint64>(1, total), qint64(n) * 2)) {
            if (cancelled)
                *cancelled = true;
            return {};
        }
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
    if (!keys.name.isEmpty())
        byName_[keys.name].push_back(at);
    if (!keys.email.isEmpty())
        byEmail_[keys.email].push_back(at);
    for (const QString& p : keys.phones)
        if (!p.isEmpty())
            byPhone_[p].push_back(at);
    if (!keys.company.isEmpty())
        byCompany_[keys.company].push_back(at);
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
    const auto at = [](const QHash<QString, std::vector<int>>& h, const QString& k) {
        if (k.isEmpty())
            return static_cast<const std::vector<int>*>(nullptr);
        const auto it = h.constFind(k);
        return it == h.cend() ? nullptr : &it.value();
    };
    look(at(byName_, keys.name), keys, best, false);
    look(at(byEmail_, keys.email), keys, best, true);
    for (const QString& p : keys.phones)
        look(at(byPhone_, p), keys, best, true);
    // A nameless card, or a stored nameless one, found by its company.
    if (const auto* members = at(byCompany_, keys.company); members && best.likeness != Likeness::Same) {
        for (const int m : *members)
            if (keys.name.isEmpty() || keys_[size_t(m)].name.isEmpty())
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

} // namespace kestrel
