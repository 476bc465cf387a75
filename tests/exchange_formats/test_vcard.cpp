// vCard files as phones and address books write them, and the files this program writes.
#include "formats/VCard.h"
#include "tests/exchange_formats/Samples.h"

#include <QFile>
#include <QLocale>
#include <QTimeZone>
#include <QStringDecoder>

#include <gtest/gtest.h>

using namespace kestrel;

namespace {

// lastname, firstname, company, address, city, st, zip, homeph, cellph, workph, ext, email
QStringList fields(const ContactRecord& r)
{
    return {r.lastname, r.firstname, r.company, r.address, r.city, r.st, r.zip,
            r.homeph,   r.cellph,    r.workph,  r.ext,     r.email};
}

struct Expected {
    QStringList fields;
    QStringList problemsMention; // each must appear in one of the record's problems
};

void check(const char* file, const std::vector<Expected>& expected)
{
    const std::vector<ContactRecord> got = readVCards(sample(file));
    ASSERT_EQ(got.size(), expected.size()) << file;
    for (size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(fields(got[i]), expected[i].fields) << file << " card " << i;
        for (const QString& p : expected[i].problemsMention)
            EXPECT_TRUE(got[i].problems.join(u'|').contains(p)) << file << " card " << i << ": " << p.toStdString()
                                                               << " not in " << got[i].problems.join(u'|').toStdString();
        EXPECT_EQ(got[i].problems.size(), expected[i].problemsMention.size())
            << file << " card " << i << ": " << got[i].problems.join(u'|').toStdString();
    }
}

} // namespace

TEST(VCardRead, CardsOfVersions40And30And21)
{
    check("rfc6350.vcf",
          {{{"Perreault", "Simon", "Viagenie", "2875 Laurier, Suite D2-630", "Quebec", "QC", "G1V 2M2", "",
             "+1-418-262-6501", "+1-418-656-9254", "102", "simon.perreault@viagenie.ca"},
            {"1 Rue Home"}},
           // a card for a firm (KIND:org): no person's name, its untyped number is its work number;
           // the fax and the second address are named, not lost
           {{"", "", "ABC, Inc., North American Division, Marketing", "", "", "", "", "", "", "+1-555-555-0100", "",
             "info@abc.example"},
            {"fax number not kept: +1-555-555-0199", "sales@abc.example"}}});
    check("phone30.vcf",
          {{{"O'Brien", "Siobhán", "Smith, Jones & Co.", "1 Main St\nApt 4", "Springfield", "IL", "62701",
             "555 222 3333", "(555) 123-4567", "555-987-6543", "12", "siobhan@example.com"},
            {"s.obrien@example.org", "(555) 765-4321"}},
           {{"", "", "Acme Supplies", "400 Industrial Way", "Portland", "Oregon", "97201", "", "",
             "+1 (503) 555-0142", "7", ""},
            {}},
           {{"Berg", "Mary Ann van der", "", "", "", "", "", "", "", "", "", "MARY@EXAMPLE.NET"}, {}}});
    check("phone21.vcf",
          {{{"Müller", "Jörg", "", "Hauptstraße 1\r\nHinterhaus", "Berlin", "", "10115", "", "+491701234567",
             "+49 30 1234567", "", "joerg@example.de"},
            {"fax number not kept: +49 30 7654321"}},
           // Latin-1 text; the assistant's card inside AGENT is not this contact
           {{"González", "Ana", "", "", "", "", "", "555-0101", "", "555-0100", "4321", ""}, {}}});
}

TEST(VCardRead, BrokenInputEndsInRecordsNotFailures)
{
    // A truncated file, a line without a colon, an unknown escape, a NUL, a stray END, and an
    // extension that is no number.
    static const char file[] = "END:VCARD\r\nBEGIN:VCARD\r\nN:Doe\\x\0;Jane\r\ngarbage\r\n"
                               "TEL;TYPE=work:tel:555;ext=12a\r\nEMAIL:j@x.org";
    const auto got = readVCards(QByteArray(file, sizeof file - 1));
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].lastname, QString::fromUtf8("Doe\\x\0", 6));
    EXPECT_EQ(got[0].workph + u'|' + got[0].ext, QStringLiteral("555;ext=12a|"));
    EXPECT_EQ(got[0].email, QStringLiteral("j@x.org"));
    EXPECT_EQ(got[0].problems, QStringList{QStringLiteral("the card ends without END:VCARD")});
    // The unfinished card's own text is closed, so a copy saved of it reads as the same card.
    QList<QByteArray> texts;
    readVCards(QByteArray(file, sizeof file - 1), &texts);
    ASSERT_EQ(texts.size(), 1);
    EXPECT_TRUE(texts[0].startsWith("BEGIN:VCARD\r\nN:Doe") && texts[0].endsWith("j@x.org\r\nEND:VCARD")) << texts[0].constData();
    EXPECT_EQ(fields(readVCards(texts[0]).at(0)), fields(got[0]));
    EXPECT_TRUE(readVCards(QByteArray()).empty());
    // A number whose scheme was written twice is one number, and stays so through a copy written out.
    const auto twice = readVCards("BEGIN:VCARD\r\nVERSION:4.0\r\nN:Lee;Ann\r\n"
                                  "TEL;VALUE=uri;TYPE=work:tel:tel:+1-418-656-9254;ext=102\r\nTEL;TYPE=cell:TEL:tel:555\r\nEND:VCARD\r\n");
    ASSERT_EQ(twice.size(), 1u);
    EXPECT_EQ(twice[0].workph + u'|' + twice[0].ext + u'|' + twice[0].cellph, QStringLiteral("+1-418-656-9254|102|555"));
    for (VCardVersion v : {VCardVersion::V4, VCardVersion::V3})
        EXPECT_EQ(fields(readVCards(writeVCards(twice, v)).at(0)), fields(twice[0]));
}

TEST(VCardRead, ASoftBreakAtTheEndOfACardDoesNotSwallowTheNextCards)
{
    // A quoted-printable value ending in "=" just before END:VCARD (a phone cut its note short);
    // the same before the next BEGIN of a card that never ends.
    const QByteArray file = "BEGIN:VCARD\r\nVERSION:2.1\r\nN:One;Ann\r\nNOTE;ENCODING=QUOTED-PRINTABLE:call back=\r\n"
                            "END:VCARD\r\nBEGIN:VCARD\r\nVERSION:2.1\r\nN:Two;Bob\r\nEND:VCARD\r\n"
                            "BEGIN:VCARD\r\nVERSION:2.1\r\nN;ENCODING=QUOTED-PRINTABLE:Thr=C3=A9e;Cy=\r\n"
                            "begin:vcard\r\nVERSION:2.1\r\nN:Four;Di\r\nEND:VCARD\r\n";
    QList<QByteArray> texts;
    const auto got = readVCards(file, &texts);
    QStringList names;
    for (const ContactRecord& r : got)
        names << r.lastname + u',' + r.firstname;
    EXPECT_EQ(names, QStringList({"One,Ann", "Two,Bob", "Thrée,Cy", "Four,Di"}));
    ASSERT_EQ(texts.size(), 4);
    EXPECT_TRUE(texts[0].endsWith("call back=\r\nEND:VCARD")) << texts[0].constData();
    EXPECT_TRUE(texts[1].startsWith("BEGIN:VCARD\r\nVERSION:2.1\r\nN:Two")) << texts[1].constData();
    EXPECT_EQ(got[2].problems, QStringList{QStringLiteral("the card ends without END:VCARD")});
}

namespace {

std::vector<ContactRecord> hostileContacts()
{
    return {{.lastname = "O'Brien; \"the boss\", Jr.", .firstname = "Zoë 😀 \\n not a line break",
             .company = QStringLiteral("Smith, Jones; & Co.\\") + QChar(0), .address = "1 Main St\nApt 4, rear",
             .city = "Saint-Jean-sur-Richelieu, Haut-Saint-Laurent, Montérégie, Québec, 日本語の長い住所", .st = "QC",
             .zip = "J3B 1A1", .homeph = "555 222 3333", .cellph = "+1 (555) 123-4567", .workph = "555-987-6543", .ext = "12",
             .email = "zoe+tag@example.com", .contype = "Cust"},
            {.company = "Acme: Supplies", .contype = "Lead"}, // a company alone
            {.lastname = "Cher", .ext = "7"}};                // one name only, an extension without a number
}

} // namespace

TEST(VCardWrite, BothVersionsAreValidAndReadBackUnchanged)
{
    for (VCardVersion v : {VCardVersion::V4, VCardVersion::V3}) {
        std::vector<ContactRecord> contacts = hostileContacts();
        contacts[0].uid = QStringLiteral("4a1c7f0e-0000-5000-8000-00000000000a");
        const QDateTime revised(QDate(2026, 3, 8), QTime(1, 30), QTimeZone("America/New_York"));
        const QByteArray file = writeVCards(contacts, v, revised);
        // A key on the card that has one, and every card's time of writing, in UTC.
        EXPECT_TRUE(file.startsWith(v == VCardVersion::V4 ? "BEGIN:VCARD\r\nVERSION:4.0\r\nUID:4a1c7f0e-"
                                                          : "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:4a1c7f0e-"));
        EXPECT_EQ(file.count("\r\nUID:"), 1);
        EXPECT_EQ(file.count(v == VCardVersion::V4 ? "\r\nREV:20260308T063000Z\r\nEND:VCARD"
                                                   : "\r\nREV:2026-03-08T06:30:00Z\r\nEND:VCARD"), 3);
        // Every line ends in CRLF, holds at most 75 octets, and is whole UTF-8 on its own.
        ASSERT_TRUE(file.endsWith("\r\n"));
        const QList<QByteArray> lines = file.chopped(2).split('\n');
        for (const QByteArray& raw : lines) {
            ASSERT_TRUE(raw.endsWith('\r') || &raw == &lines.back()) << raw.constData();
            const QByteArray line = raw.endsWith('\r') ? raw.chopped(1) : raw;
            EXPECT_LE(line.size(), 75) << line.constData();
            QStringDecoder utf8(QStringDecoder::Utf8);
            (void)utf8.decode(line);
            EXPECT_FALSE(utf8.hasError()) << "a fold split a character: " << line.constData();
        }
        EXPECT_EQ(file.count("BEGIN:VCARD"), 3);
        EXPECT_TRUE(file.contains("N:O'Brien\\; \"the boss\"\\, Jr.;"));
        const std::vector<ContactRecord> back = readVCards(file);
        ASSERT_EQ(back.size(), contacts.size());
        for (size_t i = 0; i < back.size(); ++i) {
            EXPECT_EQ(fields(back[i]), fields(contacts[i])) << "card " << i;
            EXPECT_EQ(back[i].contype, contacts[i].contype);
            EXPECT_TRUE(back[i].problems.isEmpty()) << back[i].problems.join(u'|').toStdString();
        }
    }
}

TEST(VCardRead, TheLaterFieldsTheirFormsAndWhatHasNoPlace)
{
    const QString company(90, u'c');
    const QByteArray card = "BEGIN:VCARD\r\nVERSION:4.0\r\nN:Lee;Ann;;;\r\nORG:" + company.toUtf8() +
                            ";Research and Development\r\nTITLE:Chemist\r\nTITLE:Second title\r\nURL:https://a.example\r\n"
                            "URL:https://b.example\r\nBDAY;VALUE=text:circa 1980\r\nNOTE:one\r\nNOTE:two\r\n"
                            "ADR:;;1 Main St;Oslo;;0150;Norway\r\nEND:VCARD\r\n";
    const std::vector<ContactRecord> got = readVCards(card);
    ASSERT_EQ(got.size(), 1u);
    const ContactRecord& r = got[0];
    // The department does not fit beside a long company: it goes into the notes, after the card's own.
    EXPECT_EQ(r.company, company);
    EXPECT_EQ(r.notes, "one\n\ntwo\nDepartment: Research and Development");
    EXPECT_EQ(QStringList({r.jobtitle, r.website, r.birthday, r.country, r.city}),
              QStringList({"Chemist", "https://a.example", "", "Norway", "Oslo"}));
    EXPECT_EQ(r.problems, QStringList({"further job title not kept: Second title", "further web site not kept: https://b.example",
                                       "birthday not kept, it is not a day of the calendar: circa 1980"}));
}

TEST(VCardRead, FoldsLabelsLanguagesAndFirmsAsTheirWritersMeantThem)
{
    // 2.1 keeps the blank a line was folded at; 3.0 and 4.0 take it away.
    const QByteArray folded = "BEGIN:VCARD\r\nVERSION:2.1\r\nN:Doe;Jane\r\nNOTE:Folded Across\r\n Two Lines\r\nEND:VCARD\r\n";
    EXPECT_EQ(readVCards(folded).at(0).notes, "Folded Across Two Lines");
    EXPECT_EQ(readVCards(QByteArray(folded).replace("2.1", "3.0")).at(0).notes, "Folded AcrossTwo Lines");

    // Numbers labelled as an iCloud card labels them, the label after its number; an untyped
    // number listed first takes no typed number's place.
    const std::vector<ContactRecord> labelled = readVCards(
        "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Appleseed;Johnny;;;\r\nFN:Johnny Appleseed\r\nTEL;type=pref:555-0100\r\n"
        "item1.TEL;type=pref:555-0111\r\nitem1.X-ABLabel:_$!<Mobile>!$_\r\nitem2.TEL;type=HOME:555-0122 x7\r\n"
        "item2.X-ABLabel:Office\r\nTEL;type=HOME:555-0133\r\nitem3.TEL:555-0144\r\nitem3.X-ABLabel:HomeFAX\r\nEND:VCARD\r\n"
        // a firm's card: empty N, a company, a name shown that is not a person's
        "BEGIN:VCARD\r\nVERSION:3.0\r\nN:;;;;\r\nFN:Acme Front Desk\r\nORG:Acme\r\nTEL:555-0201\r\n"
        "item1.TEL:555-0200\r\nitem1.X-ABLabel:_$!<Main>!$_\r\nEND:VCARD\r\n");
    ASSERT_EQ(labelled.size(), 2u);
    EXPECT_EQ(fields(labelled[0]), QStringList({"Appleseed", "Johnny", "", "", "", "", "", "555-0133", "555-0111",
                                                "555-0122", "7", ""}));
    EXPECT_EQ(labelled[0].problems, QStringList({"fax number not kept: 555-0144", "further phone number not kept: 555-0100"}));
    EXPECT_EQ(fields(labelled[1]), QStringList({"", "", "Acme", "", "", "", "", "555-0201", "", "555-0200", "", ""}));
    EXPECT_EQ(labelled[1].notes, "Name on the card: Acme Front Desk");

    // The same name in two scripts: the one without a language, else the one in the user's
    // language, else the first is the name; the others are kept in the notes.
    const QByteArray twoScripts = QStringLiteral(
        "BEGIN:VCARD\r\nVERSION:4.0\r\nFN;ALTID=1;LANGUAGE=ja:山田太郎\r\nFN;ALTID=1;LANGUAGE=en:Taro Yamada\r\n"
        "N;ALTID=1;LANGUAGE=ja:山田;太郎;;;\r\nN;ALTID=1;LANGUAGE=en:Yamada;Taro;;;\r\nNOTE:Met in Osaka\r\nEND:VCARD\r\n").toUtf8();
    const QLocale before;
    QLocale::setDefault(QLocale(QStringLiteral("de_DE")));
    ContactRecord r = readVCards(twoScripts).at(0);
    EXPECT_EQ(r.lastname + u'|' + r.firstname, QStringLiteral("山田|太郎"));
    EXPECT_EQ(r.notes, "Met in Osaka\nName (en): Taro Yamada");
    QLocale::setDefault(QLocale(QStringLiteral("en_US")));
    r = readVCards(twoScripts).at(0);
    EXPECT_EQ(r.lastname + u'|' + r.firstname, QStringLiteral("Yamada|Taro"));
    EXPECT_EQ(r.notes, QStringLiteral("Met in Osaka\nName (ja): 山田太郎\nName (ja): 太郎 山田"));
    r = readVCards(QByteArray(twoScripts).replace("N;ALTID=1;LANGUAGE=ja:", "N;ALTID=1:")).at(0);
    EXPECT_EQ(r.lastname + u'|' + r.firstname, QStringLiteral("山田|太郎"));
    QLocale::setDefault(before);

    // KIND:org without a company: the card's name is the company.
    r = readVCards("BEGIN:VCARD\r\nVERSION:4.0\r\nKIND:org\r\nFN:Corner Shop\r\nN:Shop;Corner;;;\r\nEND:VCARD\r\n").at(0);
    EXPECT_EQ(fields(r).mid(0, 3), QStringList({"", "", "Corner Shop"}));
}
