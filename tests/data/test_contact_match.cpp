// When two contacts are one person: the rule on real cases, and the search over many contacts.
#include "data/ContactMatch.h"
#include "tests/support/PrintQString.h"

#include <gtest/gtest.h>

using namespace kestrel;

namespace {

ContactRecord person(const char* first, const char* last, const char* company = "", const char* email = "",
                     const char* cell = "", const char* work = "", const char* address = "", const char* city = "")
{
    return {.lastname = last, .firstname = first, .company = company, .address = address, .city = city, .cellph = cell,
            .workph = work, .email = email};
}

const char* said(Likeness l)
{
    return l == Likeness::Same ? "same" : l == Likeness::Possibly ? "possibly" : "different";
}

} // namespace

TEST(ContactMatch, TheRuleOnRealCases)
{
    const struct {
        const char* why;
        ContactRecord a, b;
        const char* expected;
    } cases[] = {
        {"a file with fewer fields: accents, and the city where one has no street",
         person("René", "Dupré", "Café Noir", "", "", "", "1 Rue", "Paris"), person("Rene", "DUPRE", "", "", "", "", "", "paris"),
         "same"},
        {"first and last name swapped, one e-mail", person("Dupré", "René", "", "rene@noir.example"),
         person("René", "Dupré", "", "RENE@noir.example "), "same"},
        {"punctuation and case of the name, a phone written two ways",
         person("Siobhán", "O'Brien", "", "", "(415) 555-0199"), person("siobhan", "OBRIEN", "", "", "", "+1 415.555.0199"),
         "same"},
        {"the company written another way", person("Ann", "Lee", "Acme Widgets, Inc."), person("ann", "lee", "ACME widgets inc"),
         "same"},
        {"colleagues sharing a mailbox", person("Ann", "Lee", "Acme", "info@acme.example"),
         person("Bob", "Ray", "Acme", "info@acme.example"), "possibly"},
        {"one switchboard number, two people", person("Ann", "Lee", "", "", "", "217-555-0100"),
         person("Cy", "Moss", "", "", "217 555 0100"), "possibly"},
        {"a company-only card and a person of that company with its phone", person("", "", "Acme Widgets", "", "", "217-555-0100"),
         person("Ann", "Lee", "ACME Widgets", "", "", "2175550100"), "same"},
        {"two company-only cards with one e-mail", person("", "", "Acme", "sales@acme.example"),
         person("", "", "acme", "sales@acme.example"), "same"},
        {"a company-only card whose company alone agrees", person("", "", "Acme", "", "", "217-555-0100"),
         person("Ann", "Lee", "Acme", "", "", "217-555-0199"), "different"},
        {"the same name and nothing else to go by", person("John", "Smith"), person("John", "Smith", "Acme"), "possibly"},
        {"the same name, and different companies", person("John", "Smith", "Bolt"), person("John", "Smith", "Acme"),
         "different"},
        {"blank fields never agree", person("", "", "", "", "", "", "", ""), person("", "", "", "", "", "", "", ""), "different"},
        {"the same name on two streets of one city", person("John", "Smith", "", "", "", "", "1 Oak St", "Springfield"),
         person("John", "Smith", "", "", "", "", "9 Elm Ave", "Springfield"), "different"},
        {"the same name at one address written two ways", person("John", "Smith", "", "", "", "", "1 Oak St.", "Springfield"),
         person("john", "smith", "", "", "", "", "1 oak st", ""), "same"},
        {"an extension is not a phone", person("Ann", "Lee", "", "", "", "12"), person("Bob", "Ray", "", "", "12"), "different"},
        {"one name, numbers that differ only in the area code", person("Ann", "Lee", "", "", "+1 (315) 555-0199"),
         person("Ann", "Lee", "", "", "+1 (415) 555-0199"), "different"},
        {"two people, numbers that differ only in the area code", person("Ann", "Lee", "", "", "+1 (315) 555-0199"),
         person("Bob", "Ray", "", "", "", "415 555 0199"), "different"},
        {"a French number written at home and abroad", person("René", "Dupré", "", "", "01 42 00 00 01"),
         person("Rene", "Dupre", "", "", "", "+33 1 42 00 00 01"), "same"},
        {"names that differ by a word", person("Ann Marie", "Lee", "Acme"), person("Ann", "Lee", "Acme", "", "", "1"), "different"},
    };
    for (const auto& c : cases) {
        const Likeness forward = compareContacts(matchKeys(c.a), matchKeys(c.b));
        const Likeness backward = compareContacts(matchKeys(c.b), matchKeys(c.a));
        EXPECT_STREQ(said(forward), c.expected) << c.why;
        EXPECT_EQ(forward, backward) << c.why;
    }
    EXPECT_EQ(nameKey(QStringLiteral("René"), QStringLiteral("Dupré-Laval")), QStringLiteral("dupre laval rene"));
    EXPECT_TRUE(samePhone(phoneKey(QStringLiteral("+49 30 1234567")), phoneKey(QStringLiteral("030 1234567"))));
    EXPECT_TRUE(samePhone(phoneKey(QStringLiteral("+44 20 7946 0958")), phoneKey(QStringLiteral("020 7946 0958"))));
    EXPECT_FALSE(samePhone(phoneKey(QStringLiteral("555 0199")), phoneKey(QStringLiteral("+1 415 555 0199"))));
    EXPECT_EQ(phoneKey(QStringLiteral("x12")), 0u);
    EXPECT_FALSE(samePhone(0, 0));
}

TEST(ContactMatch, TheSearchComparesOnlyWhatSharesAKeyStrongestFirstAndCanBeCancelled)
{
    std::vector<ContactRecord> people = {
        person("Ann", "Lee", "Acme", "info@acme.example", "", "", "1 Oak St", "Troy"),        // 0
        person("Bob", "Ray", "Acme", "info@acme.example"),                                     // 1: 0 possibly
        person("ann", "LEE", "", "", "", "", "", "troy"),                                     // 2: 0 same (city)
        person("Lee", "Ann", "ACME", "info@acme.example", "", "", "1 Oak St", "Troy"),        // 3: 0 same by 4, 2 same
        person("Cy", "Moss", "", "", "555-0100-22"),                                          // 4
        person("", "", "", "", "", "", "", ""),                                               // 5: blank
        person("", "", "", "", "", "", "", ""),                                               // 6: blank
    };
    std::vector<MatchKeys> keys;
    for (const auto& p : people)
        keys.push_back(matchKeys(p));
    QStringList found;
    for (const DuplicatePair& p : findDuplicatePairs(keys))
        found << QStringLiteral("%1-%2 %3 %4").arg(p.first).arg(p.second).arg(QLatin1String(said(p.likeness))).arg(p.strength);
    EXPECT_EQ(found.join(u'|'), QStringLiteral("0-3 same 4|0-2 same 2|2-3 same 2|0-1 possibly 2|1-3 possibly 2"));

    // A mailbox shared by a whole office pairs no one by itself; the names still do.
    std::vector<MatchKeys> office;
    for (int i = 0; i < kMaxSharedKey + 1; ++i)
        office.push_back(matchKeys(person("Person", qPrintable(QStringLiteral("Number%1").arg(QChar(u'A' + i % 26)) +
                                                                  QString::number(i)),
                                          "", "all@office.example")));
    office.push_back(matchKeys(person("Person", "NumberA0", "", "all@office.example")));
    const auto officePairs = findDuplicatePairs(office);
    ASSERT_EQ(officePairs.size(), 1u);
    EXPECT_EQ(officePairs[0].first, 0);
    EXPECT_EQ(officePairs[0].second, kMaxSharedKey + 1);

    // A name borne by very many contacts still pairs the two of them whose phones agree, and only them.
    std::vector<MatchKeys> smiths;
    for (int i = 0; i < kLargeNameGroup + 10; ++i)
        smiths.push_back(matchKeys(person("John", "Smith", "", "", qPrintable(QStringLiteral("+1 212 555 %1").arg(1000 + i)))));
    smiths.push_back(matchKeys(person("Smith", "JOHN", "", "", "", "212.555.1007")));
    const auto smithPairs = findDuplicatePairs(smiths);
    ASSERT_EQ(smithPairs.size(), 1u);
    EXPECT_EQ(smithPairs[0].first, 7);
    EXPECT_EQ(smithPairs[0].second, kLargeNameGroup + 10);
    EXPECT_EQ(smithPairs[0].likeness, Likeness::Same);

    bool cancelled = false;
    int calls = 0;
    EXPECT_TRUE(findDuplicatePairs(keys, [&](qint64, qint64) { return ++calls < 1; }, &cancelled).empty());
    EXPECT_TRUE(cancelled);
}

TEST(ContactMatch, TheIndexOfStoredContactsFindsTheStrongestLikeness)
{
    ContactIndex index;
    index.add(7, QStringLiteral("Ann Lee"), matchKeys(person("Ann", "Lee", "Acme", "info@acme.example")));
    index.add(9, QStringLiteral("René Dupré"), matchKeys(person("René", "Dupré", "Café Noir", "", "", "", "1 Rue", "Paris")));
    const auto colleague = index.find(matchKeys(person("Bob", "Ray", "Acme", "info@acme.example")));
    EXPECT_EQ(colleague.likeness, Likeness::Possibly);
    EXPECT_EQ(colleague.name, QStringLiteral("Ann Lee"));
    const auto again = index.find(matchKeys(person("Rene", "Dupre", "", "", "", "", "", "Paris")));
    EXPECT_EQ(again.likeness, Likeness::Same);
    EXPECT_EQ(again.id, 9);
    EXPECT_EQ(index.find(matchKeys(person("Cy", "Moss"))).likeness, Likeness::Different);
}

TEST(ContactMatch, CardsTheSameThroughAThirdAreOneGroupAndAMerelyPossiblePairStaysAPair)
{
    using L = Likeness;
    // 0~1 and 1~2 the same (0 and 2 only through 1), 2~0 possibly; 3~4 possibly; 1~3 possibly.
    const std::vector<DuplicatePair> pairs{{1, 2, L::Same, 3}, {0, 1, L::Same, 2}, {3, 4, L::Possibly, 1},
                                           {0, 2, L::Possibly, 1}, {1, 3, L::Possibly, 1}};
    QStringList out;
    for (const DuplicateGroup& g : groupDuplicates(pairs)) {
        QStringList ids;
        for (const int m : g.members)
            ids << QString::number(m);
        out << QString::fromLatin1(g.likeness == L::Same ? "same " : "possibly ") + ids.join(u',');
    }
    EXPECT_EQ(out, (QStringList{"same 0,1,2", "possibly 3,4", "possibly 1,3"}));
}
