#pragma once
// When two contacts are one person: the one rule the imports and Find Duplicates share. Each
// contact is reduced once to folded keys, so that comparing two costs a few text compares and
// finding the pairs among many contacts only compares those that share a key.
#include "data/ExchangeStore.h"

#include <QHash>
#include <QString>

#include <array>
#include <functional>
#include <vector>

namespace kestrel {

enum class Likeness { Different, Possibly, Same };

// A contact's values as the rule compares them; an empty key never agrees with anything. Each
// text carries its 64-bit hash (0 when empty), so that most compares are of integers and the
// search blocks on integers; the texts decide where two hashes are equal.
struct MatchKeys {
    QString name;    // the words of the first and last name, folded and sorted
    QString company; // folded, punctuation and blanks dropped
    QString email;   // folded
    QString address; // street address, folded, punctuation and blanks dropped
    QString city;
    quint64 nameHash = 0, companyHash = 0, emailHash = 0, addressHash = 0, cityHash = 0;
    std::array<quint64, 3> phones{}; // cell, home, work as phoneKey gives them
};

MatchKeys matchKeys(const ContactRecord& contact);

// The folded words of a text in sorted order, joined by one blank: "Dupré, René" and "rene
// DUPRE" give "dupre rene".
QString nameKey(const QString& first, const QString& last);
// The digits of a phone number as one number, leading zeros (a trunk or international prefix)
// dropped and at most the last 18 kept; 0 for fewer than five digits (an extension).
quint64 phoneKey(const QString& phone);
// Two numbers are one when their digits are the same, or when the shorter, of at least nine
// digits, ends the longer: "+1 (415) 555-0199" and "415.555.0199", "+33 1 42 00 00 01" and
// "01 42 00 00 01"; but "+1 (315) 555-0199" is another number.
bool samePhone(quint64 a, quint64 b);

// What agreed between two contacts, for the rule and for ordering pairs by strength.
struct Agreement {
    bool name = false, company = false, email = false, phone = false, address = false;
    int count() const { return int(name) + int(company) + int(email) + int(phone) + int(address); }
};
Agreement agreement(const MatchKeys& a, const MatchKeys& b);

// Same: the names agree and so does one of company, e-mail, a phone or the address (a city
// agreeing counts as the address where at most one of them has a street); or one has no name
// and the company and a phone or the e-mail agree. Possibly: only an e-mail or a phone agrees,
// or the names agree and one of the two has nothing else to compare.
Likeness compareContacts(const MatchKeys& a, const MatchKeys& b);

// One pair found among many contacts (positions in the list searched), strongest first.
struct DuplicatePair {
    int first = 0, second = 0;
    Likeness likeness = Likeness::Possibly;
    int strength = 0; // how many values agree
};

// Every pair of the list that is the same or possibly the same, the same ones first, then by
// how much agrees, then in list order. Only contacts sharing a name, an e-mail, a phone or
// (for those without a name) a company are compared; an e-mail or phone shared by more than
// kMaxSharedKey contacts is an office's switchboard or mailbox and pairs no one by itself, and
// a name borne by more than kLargeNameGroup contacts pairs them only with a second value that
// agrees (a card with nothing but that name is not paired with all the others).
// progress(done, total) is called now and then; returning false stops the search (the
// result is then empty and *cancelled set).
constexpr int kMaxSharedKey = 50;
constexpr int kLargeNameGroup = 256;
std::vector<DuplicatePair> findDuplicatePairs(const std::vector<MatchKeys>& keys,
                                              const std::function<bool(qint64, qint64)>& progress = {},
                                              bool* cancelled = nullptr);

// The pairs as the user deals with them: cards the same as one another, directly or through a
// third, form one group (its positions in list order); a pair only possibly the same stays a
// pair, unless both are in one group already. Ordered as the pairs are, each group where its
// strongest pair stands.
struct DuplicateGroup {
    std::vector<int> members;
    Likeness likeness = Likeness::Possibly;
};
std::vector<DuplicateGroup> groupDuplicates(const std::vector<DuplicatePair>& pairs);

} // namespace kestrel

namespace kestrel {

// The stored contacts, ready to tell whether a new one (an imported row) is one of them.
class ContactIndex {
public:
    void add(int id, const QString& shownName, MatchKeys keys);
    struct Found {
        Likeness likeness = Likeness::Different;
        int id = 0;
        QString name; // how the user knows the stored contact
    };
    // The strongest likeness of any stored contact; an e-mail or phone shared by more than
    // kMaxSharedKey contacts is not looked at for a "possibly".
    Found find(const MatchKeys& keys) const;
    // Every stored contact of a contacts database. Throws DbError.
    static ContactIndex ofStored(const QString& connectionText);

private:
    void look(const std::vector<int>* members, const MatchKeys& keys, Found& best, bool shared) const;
    std::vector<MatchKeys> keys_;
    std::vector<int> ids_;
    std::vector<QString> names_;
    QHash<quint64, std::vector<int>> byName_, byEmail_, byPhone_, byCompany_;
};

} // namespace kestrel
