// vCard files as phones and address books write them, and the files this program writes.
#include "formats/VCard.h"
#include "tests/exchange_formats/Samples.h"

#include <QFile>
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

TEST(VCardRead, Version40)
{
    check("rfc6350.vcf",
          {{{"Perreault", "Simon", "Viagenie", "2875 Laurier, Suite D2-630", "Quebec", "QC", "G1V 2M2", "",
             "+1-418-262-6501", "+1-418-656-9254", "102", "simon.perreault@viagenie.ca"},
            {"1 Rue Home"}},
           // a card for a firm: no person's name; the fax and the second address are named, not lost
           {{"", "", "ABC, Inc., North American Division, Marketing", "", "", "", "", "+1-555-555-0100", "", "", "",
             "info@abc.example"},
            {"fax number not kept: +1-555-555-0199", "sales@abc.example"}}});
}

TEST(VCardRead, Version30)
{
    check("phone30.vcf",
          {{{"O'Brien", "Siobhán", "Smith, Jones & Co.", "1 Main St\nApt 4", "Springfield", "IL", "62701",
             "555 222 3333", "(555) 123-4567", "555-987-6543", "12", "siobhan@example.com"},
            {"s.obrien@example.org", "(555) 765-4321"}},
           {{"", "", "Acme Supplies", "400 Industrial Way", "Portland", "Oregon", "97201", "", "",
             "+1 (503) 555-0142", "7", ""},
            {}},
           {{"Berg", "Mary Ann van der", "", "", "", "", "", "", "", "", "", "MARY@EXAMPLE.NET"}, {}}});
}

TEST(VCardRead, Version21)
{
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
    ContactRecord a;
    a.lastname = QStringLiteral("O'Brien; \"the boss\", Jr.");
    a.firstname = QStringLiteral("Zoë 😀 \\n not a line break");
    a.company = QStringLiteral("Smith, Jones; & Co.\\") + QChar(0);
    a.address = QStringLiteral("1 Main St\nApt 4, rear");
    a.city = QStringLiteral("Saint-Jean-sur-Richelieu, Haut-Saint-Laurent, Montérégie, Québec, 日本語の長い住所");
    a.st = QStringLiteral("QC");
    a.zip = QStringLiteral("J3B 1A1");
    a.homeph = QStringLiteral("555 222 3333");
    a.cellph = QStringLiteral("+1 (555) 123-4567");
    a.workph = QStringLiteral("555-987-6543");
    a.ext = QStringLiteral("12");
    a.email = QStringLiteral("zoe+tag@example.com");
    a.contype = QStringLiteral("Cust");
    ContactRecord firm; // a company alone
    firm.company = QStringLiteral("Acme: Supplies");
    firm.contype = QStringLiteral("Lead");
    ContactRecord single; // one name only, an extension without a number
    single.lastname = QStringLiteral("Cher");
    single.ext = QStringLiteral("7");
    return {a, firm, single};
}

} // namespace

TEST(VCardWrite, BothVersionsAreValidAndReadBackUnchanged)
{
    for (VCardVersion v : {VCardVersion::V4, VCardVersion::V3}) {
        const std::vector<ContactRecord> contacts = hostileContacts();
        const QByteArray file = writeVCards(contacts, v);
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
        EXPECT_TRUE(file.startsWith(v == VCardVersion::V4 ? "BEGIN:VCARD\r\nVERSION:4.0\r\nFN:"
                                                          : "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:"));
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
