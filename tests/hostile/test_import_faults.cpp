// The CSV import under bad files: missing, empty, binary garbage, a header alone, a file changed
// between Map and Done Mapping, a record without end, a 200 MB file; header names that try to
// reach another column or file.
#include "data/Globals.h"
#include "exchange/modImport.h"
#include "tests/hostile/Hostile.h"
#include "tests/support/Files.h"

#include <QRandomGenerator>

#include <fstream>

using namespace kestrel;
using namespace kestrel::test;

namespace {

#ifndef __has_feature
#define __has_feature(x) 0
#endif
#if defined(__SANITIZE_ADDRESS__) || __has_feature(address_sanitizer)
constexpr bool kSanitized = true; // its shadow memory would be counted as the reader's
#else
constexpr bool kSanitized = false;
#endif

// VmHWM (peak) or VmRSS (now) of this process, in MiB.
long statusMiB(const std::string& key)
{
    std::ifstream status("/proc/self/status");
    std::string k;
    long kb = 0;
    while (status >> k && !(k == key + ':' && status >> kb)) {
    }
    return kb / 1024;
}

class ImportFaults : public KestrelTest {
protected:
    QString write(const char* name, const QByteArray& bytes) { return writeBytes(dir.filePath(QString::fromLatin1(name)), bytes); }
};

TEST_F(ImportFaults, UnreadableOrChangingFilesAreToldAndNothingStoredIsLost)
{
    addContact(QStringLiteral("Kept"), QStringLiteral("Kay"));
    const QStringList entries = {FormatMapLine(QStringLiteral("Last Name"), QStringLiteral("LastName")),
                                 FormatMapLine(QStringLiteral("Email"), QStringLiteral("Email"))};
    for (const QString& bad : {dir.filePath(QStringLiteral("gone.csv")), write("empty.csv", "")})
        EXPECT_FALSE(LoadCsvToTemp(bad, entries)) << bad.toStdString();
    // Mapped from one header, changed by Load: a column gone is named; the same columns in
    // another order load as they are now.
    const QString csv = write("leads.csv", "Surname,Email\r\nBaker,b@x.com\r\n");
    EXPECT_FALSE(LoadCsvToTemp(csv, entries));
    write("leads.csv", "Email,Last Name,Extra\r\nc@x.com,Carter,1\r\n\"d@x.com\",\"Dunn, Jr.\",2\r\n");
    ASSERT_TRUE(LoadCsvToTemp(csv, entries));
    ASSERT_TRUE(ImportTempRows(QStringLiteral("Lead")));

    const QStringList m = desk.messages();
    ASSERT_EQ(m.size(), 3) << m.join(u'|').toStdString();
    EXPECT_TRUE(m[0].contains(QStringLiteral("gone.csv' could not be opened"))) << m[0].toStdString();
    EXPECT_TRUE(m[1].contains(QStringLiteral("is empty"))) << m[1].toStdString();
    EXPECT_EQ(m[2], QStringLiteral("Error -2147217904 (The column 'Last Name' is not in the header line of 'leads.csv') "
                                   "in procedure LoadCsvToTemp of Module modImport"));
    EXPECT_EQ(rows(sConnContacts, QStringLiteral("select lastname,email from contacts order by id")),
              (std::vector<QStringList>{{"Kept", ""}, {"Carter", "c@x.com"}, {"Dunn, Jr.", "d@x.com"}}));
}

TEST_F(ImportFaults, AnEndlessRecordIsRefusedInBoundedMemory)
{
    // A quote opened and never closed makes one record of the rest of a 40 MB file: it is
    // refused once it passes the reader's limit, without holding the rest in memory.
    const QString endless = write("endless.csv", "Name\r\n\"Ann" + QByteArray(40 << 20, 'n'));
    std::ofstream("/proc/self/clear_refs") << "5";
    ASSERT_LE(statusMiB("VmHWM") - statusMiB("VmRSS"), 2) << "the peak could not be reset";
    const long before = statusMiB("VmRSS");
    EXPECT_FALSE(LoadCsvToTemp(endless, {FormatMapLine(QStringLiteral("Name"), QStringLiteral("LastName"))}));
    if (!kSanitized) {
        EXPECT_LT(statusMiB("VmHWM") - before, 64) << "peak " << statusMiB("VmHWM") << " MiB from " << before;
    }
    ASSERT_EQ(desk.messages().size(), 1);
    EXPECT_TRUE(desk.messages()[0].contains(QStringLiteral("has a record longer than 8 MB near line")));
}

TEST_F(ImportFaults, GarbageLoadsNothingAndAHeaderAloneLoadsNoRows)
{
    const QStringList entries = {FormatMapLine(QStringLiteral("Last Name"), QStringLiteral("LastName"))};
    QByteArray garbage = "Last Name\n";
    QRandomGenerator random(7);
    for (int i = 0; i < 1 << 16; ++i)
        garbage += char(random.bounded(256));
    EXPECT_FALSE(LoadCsvToTemp(write("garbage.csv", garbage), entries));
    ASSERT_EQ(desk.messages().size(), 1);
    EXPECT_TRUE(desk.messages()[0].contains(QStringLiteral("garbage.csv' is not valid CSV at line"))) << desk.messages()[0].toStdString();
    EXPECT_TRUE(LoadCsvToTemp(write("header.csv", "Last Name,Email\r\n"), entries));
    EXPECT_EQ(rows(sConnTemp, QStringLiteral("select count(*) from Main")), (std::vector<QStringList>{{"0"}}));
    EXPECT_EQ(desk.messages().size(), 1);
}

TEST_F(ImportFaults, A200MegabyteFileLoadsInBoundedMemory)
{
    // 20,000 rows of a name and 10,000 bytes of notes, the notes marked DELETE.
    constexpr int kRows = 20000;
    {
        QFile f(dir.filePath(QStringLiteral("big.csv")));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("Name,Notes\r\n");
        const QByteArray notes = '"' + QByteArray(9996, 'x').replace(5000, 2, "\"\"") + "\"\r\n";
        for (int i = 0; i < kRows; ++i)
            f.write("Name " + QByteArray::number(i) + ',' + notes);
        ASSERT_GT(f.size(), 200'000'000);
    }
    std::ofstream("/proc/self/clear_refs") << "5";
    const long before = statusMiB("VmRSS");
    ASSERT_TRUE(LoadCsvToTemp(dir.filePath(QStringLiteral("big.csv")),
                              {FormatMapLine(QStringLiteral("Name"), QStringLiteral("LastName")),
                               FormatMapLine(QStringLiteral("Notes"), QStringLiteral("DELETE"))}));
    if (!kSanitized) {
        EXPECT_LT(statusMiB("VmHWM") - before, 64);
    }
    EXPECT_EQ(rows(sConnTemp, QStringLiteral("select count(*), max(lastname) from Main")),
              (std::vector<QStringList>{{"20000", "Name 9999"}}));
    EXPECT_TRUE(desk.messages().isEmpty());
}

TEST_F(ImportFaults, HeaderNamesReachOnlyTheirOwnColumnOfTheChosenFile)
{
    // Names written to look like more of the select statement, and a second file they aim at.
    write("other.csv", "a,b\r\nstolen,stolen\r\n");
    const QStringList names = QStringLiteral("a from other.csv|x] as y from other.csv --|[b]|'; drop table Main; --|"
                                             "a,b from other.csv").split(u'|');
    const QStringList targets = QStringLiteral("LastName,FirstName,Company,City,Email").split(u',');
    QByteArray header;
    QStringList entries;
    for (int i = 0; i < names.size(); ++i) {
        header += (i ? ",\"" : "\"") + names[i].toUtf8() + '"';
        entries << FormatMapLine(names[i], targets[i]);
    }
    ASSERT_TRUE(mappingProblem(entries).isEmpty());
    ASSERT_TRUE(LoadCsvToTemp(write("leads.csv", header + "\r\none,two,three,four,five\r\n"), entries));
    EXPECT_EQ(rows(sConnTemp, QStringLiteral("select lastname,firstname,company,city,email from Main")),
              (std::vector<QStringList>{{"one", "two", "three", "four", "five"}}));
    // Fields of one name are told apart by their order only: a copy kept after a deleted copy
    // would be filled from the deleted one, so that mapping is refused with the reason.
    EXPECT_TRUE(mappingProblem({FormatMapLine(QStringLiteral("Phone"), QStringLiteral("DELETE")),
                                FormatMapLine(QStringLiteral("phone "), QStringLiteral("CellPh"))})
                    .startsWith(QStringLiteral("The CSV field phone appears more than once")));
    EXPECT_TRUE(desk.messages().isEmpty());
}

} // namespace
