// International contacts with every field through vCard and CSV: a phone's mixed export comes in
// whole, and what Kestrel exports reads back the same, here and in an independent reader.
#include "data/ContactFields.h"
#include "data/ExchangeStore.h"
#include "exchange/frmImport.h"
#include "exchange/frmLeadCSV.h"
#include "exchange/modImport.h"
#include "formats/ImportRules.h"
#include "formats/VCard.h"
#include "tests/app/Helpers.h"
#include "tests/exchange_formats/Samples.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSet>
#include <QUuid>

namespace {

// Every field of every contact, by id, in the order of contactFields().
const QString kAll = QStringLiteral("select ") + allContactColumns() + QStringLiteral(" from contacts order by id");

// The four cards of samples/mixed.vcf as they must be stored, in the order of contactFields():
// names, company, address, city, region, postal code, cell, home, work, ext, e-mail, country, job
// title, web site, birthday, notes, type.
const std::vector<QStringList> kMixedStored = {
    {"Müller", "Jörg", "Beispiel GmbH, Vertrieb", "Hauptstraße 1", "Berlin", "", "10115", "+49 171 5550101", "",
     "+49 30 1234567", "", "joerg@example.de", "Deutschland", "Vertriebsleiter", "www.beispiel.de", "1975-04-12",
     "Getroffen auf der Messe\nHannover", "Cust"},
    {"山田", "太郎", "株式会社サンプル", "丸の内1-1-1", "千代田区", "Tokyo", "100-0005", "+81 90-1234-5678", "", "", "",
     "taro@example.jp", "Japan", "営業部長", "https://example.jp/taro", "--08-15", "名刺交換済み, 次回は大阪で", "Cust"},
    {"Washington", "George", "Executive Office of the President of the United States", "1600 Pennsylvania Avenue NW",
     "Washington", "DC", "20500", "(503) 555-0142", "", "+1-202-456-1111", "", "george@example.gov", "USA", "President",
     "https://www.whitehouse.gov/", "1732-02-22", "First of many.\nSecond line.", "Cust"},
    {"Nguyen", "Linh", "", "742 Evergreen Terrace", "Portland", "OR", "97201", "", "+44 20 7946 0958", "", "", "",
     "United States", "Buyer", "http://linh.example.com", "--03-07", "Prefers e-mail", "Cust"},
};

// What a Python reader printed as JSON; nothing where Python or its module is missing.
std::optional<QJsonArray> pythonRead(const QString& script, const QString& path, const char* module)
{
    const auto out = kestrel::test::pythonReads(module, script, path);
    if (!out)
        return {};
    return QJsonDocument::fromJson(out->join(u'\n').toUtf8()).array();
}

std::vector<QStringList> jsonRows(const QJsonArray& a)
{
    std::vector<QStringList> out;
    for (const QJsonValue& row : a) {
        QStringList r;
        for (const QJsonValue& v : row.toArray())
            r << v.toString();
        out.push_back(r);
    }
    return out;
}

// Python's vobject on a vCard file: per card the fields in the order of contactFields(), the
// birthday as digits (vCard 4.0 writes 19800307, 3.0 1980-03-07), the phones by type; then the
// card's UID and REV.
const QString kVobjectReader = QStringLiteral(R"py(
import json, sys, vobject
out = []
for card in vobject.readComponents(open(sys.argv[1], encoding='utf-8').read()):
    c = card.contents
    val = lambda k: c[k][0].value if k in c else ''
    n = card.n.value
    adr = card.adr.value if 'adr' in c else vobject.vcard.Address()
    tel = {}
    for t in c.get('tel', []):
        tel[[x.lower() for x in t.params.get('TYPE', [''])][0]] = t.value
    work, ext = tel.get('work', ''), ''
    if ' x' in work: work, ext = work.rsplit(' x', 1)
    org = val('org')
    out.append([n.family, n.given, ';'.join(org) if isinstance(org, list) else org, adr.street, adr.city, adr.region,
                adr.code, tel.get('cell', ''), tel.get('home', ''), work, ext, val('email'), adr.country, val('title'),
                val('url'), val('bday').replace('-', ''), val('note'), val('categories')[0] if 'categories' in c else '',
                val('uid'), val('rev')])
print(json.dumps(out))
)py");

} // namespace

class ContactFieldsExchange : public MainWindowTest {
protected:
    // Imports the cards of path through Contacts > Import vCard, all as customers.
    void importVCards(const QString& path)
    {
        desk.answerOpenFile(path);
        desk.onModal("frmImport", [&](QDialog& d) {
            auto& im = static_cast<frmImport&>(d);
            im.cboType->setFocus();
            QTest::keyClick(im.cboType, Qt::Key_Down); // Lead to Cust
            QTest::mouseClick(im.cmdImport, Qt::LeftButton);
        });
        w->mnuConImportVCard->trigger();
    }
    std::vector<QStringList> stored() { return rows(sConnContacts, kAll); }
    // The contacts now hold the rows of before, in any order.
    void expectStoredAs(std::vector<QStringList> before)
    {
        std::vector<QStringList> now = stored();
        std::sort(before.begin(), before.end());
        std::sort(now.begin(), now.end());
        EXPECT_EQ(now, before);
    }
};

TEST_F(ContactFieldsExchange, APhonesMixedExportComesInWholeWithEveryFieldInPlace)
{
    importVCards(QStringLiteral(SAMPLES_DIR "/mixed.vcf"));
    EXPECT_EQ(stored(), kMixedStored);
    const QString summary = desk.messages().last();
    EXPECT_TRUE(summary.startsWith("4 contacts were imported.\n1 value was made to fit its field.")) << summary.toStdString();
    EXPECT_TRUE(summary.contains("line 42 (Linh Nguyen): ST written as its two-letter code")) << summary.toStdString();
    EXPECT_FALSE(summary.contains("kept out")) << summary.toStdString();
}

TEST_F(ContactFieldsExchange, VCardRoundTripsOfEveryFieldComeBackIdenticalAndReadInVobject)
{
    importVCards(QStringLiteral(SAMPLES_DIR "/mixed.vcf"));
    // An address on two lines, as the editor and the CSV import keep it.
    exec(sConnContacts, QStringLiteral("update contacts set address='Hauptstraße 1\nHinterhaus' where city='Berlin'"));
    const std::vector<QStringList> before = stored();
    ASSERT_EQ(before.size(), 4u);
    ASSERT_EQ(before[0][cf::Address], "Hauptstraße 1\nHinterhaus");
    QStringList uids[2];
    for (const bool v3 : {false, true}) {
        const QString out = dir.filePath(v3 ? "all3.vcf" : "all4.vcf");
        desk.answerSaveFile(out);
        v3 ? desk.answerYes() : desk.answerNo();
        w->mnuConExportVCard->trigger();
        EXPECT_EQ(desk.messages().last(), "4 contacts were written to " + QDir::toNativeSeparators(out) + ".");
        // Read back by Kestrel's own reader: every field as stored, nothing noted as left out.
        const QByteArray file = kestrel::test::readBytes(out);
        EXPECT_TRUE(file.contains(v3 ? "\r\nVERSION:3.0\r\n" : "\r\nVERSION:4.0\r\n"));
        const std::vector<ContactRecord> back = readVCards(file);
        ASSERT_EQ(back.size(), 4u);
        const std::vector<ContactRecord> all = readAllContacts(sConnContacts);
        for (size_t i = 0; i < back.size(); ++i) {
            EXPECT_TRUE(back[i] == all[i]) << (v3 ? "3.0" : "4.0") << " card " << i << ": " << back[i].notes.toStdString();
            EXPECT_TRUE(back[i].problems.isEmpty()) << back[i].problems.join(u'|').toStdString();
        }
        // And by an independent reader, field by field.
        const auto json = pythonRead(kVobjectReader, out, "vobject");
        if (!json)
            continue;
        const std::vector<QStringList> read = jsonRows(*json);
        ASSERT_EQ(read.size(), 4u);
        for (size_t i = 0; i < read.size(); ++i) {
            QStringList expected;
            // The file lists the cards by name.
            for (int f2 = 0; f2 < cf::Count; ++f2)
                expected << (f2 == cf::Birthday ? QString(all[i].value(f2)).remove(u'-') : all[i].value(f2));
            EXPECT_EQ(read[i].mid(0, cf::Count), expected) << (v3 ? "3.0" : "4.0") << " card " << i;
            // Every card has a key and its time of writing, as an address book server demands.
            EXPECT_EQ(read[i].size(), cf::Count + 2);
            EXPECT_FALSE(read[i].value(cf::Count + 1).isEmpty()) << "no REV on card " << i;
            uids[v3] << read[i].value(cf::Count);
        }
    }
    // The keys are the uids the contacts keep for the sync, one per contact, the same on every export.
    if (!uids[0].isEmpty()) {
        EXPECT_EQ(uids[0], uids[1]);
        QStringList kept;
        for (const ContactRecord& c : readAllContacts(sConnContacts))
            kept << c.uid;
        EXPECT_EQ(uids[0], kept);
        EXPECT_EQ(QSet<QString>(uids[0].begin(), uids[0].end()).size(), 4);
        for (const QString& u : uids[0])
            EXPECT_FALSE(QUuid::fromString(u).isNull()) << u.toStdString();
    }
    // Imported again, the cards are the same contacts: each one matches the stored one.
    exec(sConnContacts, QStringLiteral("delete from contacts"));
    importVCards(dir.filePath("all4.vcf"));
    expectStoredAs(before);
}

TEST_F(ContactFieldsExchange, CsvRoundTripsOfEveryFieldComeBackIdenticalAndReadInPythonsCsv)
{
    importVCards(QStringLiteral(SAMPLES_DIR "/mixed.vcf"));
    const std::vector<QStringList> before = stored();
    // Every box of the export, by keyboard-free clicks on each.
    const QString out = dir.filePath("all.csv");
    desk.onModal(QStringLiteral("frmLeadCSV"), [&](QDialog& d) {
        auto& e = static_cast<frmLeadCSV&>(d);
        for (int i = 1; i < frmLeadCSV::kFields; ++i)
            QTest::mouseClick(e.chkField[i], Qt::LeftButton, {}, QPoint(4, e.chkField[i]->height() / 2));
        e.chkSpreadsheet->setChecked(false);
        desk.answerSaveFile(out);
        QTest::mouseClick(e.cmdBrowse, Qt::LeftButton);
        QTest::mouseClick(e.cmdExport, Qt::LeftButton);
    });
    w->mnuConExport->trigger();

    // Python's csv module reads every value back as stored, under the columns' names.
    const auto read = pythonRead(QStringLiteral(R"py(
import csv, json, sys
with open(sys.argv[1], newline='', encoding='utf-8') as f:
    print(json.dumps([r for r in csv.reader(f)]))
)py"), out, "csv");
    QStringList header;
    for (int i = 0; i < frmLeadCSV::kFields; ++i)
        header << QString::fromLatin1(frmLeadCSV::kTags[i]);
    const std::vector<QStringList> exported =
        rows(sConnContacts, QStringLiteral("select %1 from contacts order by lastname asc").arg(header.join(u',')));
    if (read) {
        const std::vector<QStringList> lines = jsonRows(*read);
        ASSERT_EQ(lines.size(), 5u);
        EXPECT_EQ(lines[0], header);
        EXPECT_EQ(std::vector<QStringList>(lines.begin() + 1, lines.end()), exported);
    }

    // Imported again with Map by Name: every field in its place.
    exec(sConnContacts, QStringLiteral("delete from contacts"));
    const QStringList targets = mapByName(header);
    QStringList entries;
    for (int i = 0; i < header.size(); ++i)
        entries << FormatMapLine(header[i], targets[i].isEmpty() ? QStringLiteral("DELETE") : targets[i]);
    ASSERT_TRUE(LoadCsvToTemp(out, entries));
    ASSERT_TRUE(ImportTempRows(QStringLiteral("Cust")));
    expectStoredAs(before);
}
