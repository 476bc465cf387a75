// The CSV import under bad files: missing, empty, binary garbage, a file changed
// between Map and Done Mapping, a record without end, a 200 MB file; header names that try to
// reach another column or file. Each ends in a clear message or a sound load; nothing stored is lost.
#include "data/Globals.h"
#include "exchange/CsvText.h"
#include "exchange/frmImport.h"
#include "exchange/frmMapField.h"
#include "exchange/modImport.h"
#include "tests/hostile/Hostile.h"

#include <QRandomGenerator>
#include <QTest>

#include <fstream>

using namespace kestrel;
using namespace kestrel::test;

namespace {

#ifndef __has_feature
#define __has_feature(x) 0
#endif
#if defined(__SANITIZE_ADDRESS__) || __has_feature(address_sanitizer)
constexpr bool kSanitized = true; // the sanitizer's own shadow memory would be counted
#else
constexpr bool kSanitized = false;
#endif

// VmHWM (peak) or VmRSS (now) of this process, in MiB.
long statusMiB(const std::string& key)
{
    std::ifstream status("/proc/self/status");
    std::string k;
    long kb = 0;
    while (status >> k)
        if (k == key + ':' && (status >> kb))
            break;
    return kb / 1024;
}
// Runs `load` and fails the test where it raised the peak by 64 MiB or more.
template <class F> void expectBoundedMemory(F&& load)
{
    std::ofstream("/proc/self/clear_refs") << "5";
    ASSERT_LE(statusMiB("VmHWM") - statusMiB("VmRSS"), 2) << "the peak could not be reset";
    const long before = statusMiB("VmRSS");
    load();
    if (!kSanitized) {
        EXPECT_LT(statusMiB("VmHWM") - before, 64) << "peak " << statusMiB("VmHWM") << " MiB from " << before;
    }
}

void write(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(f.write(bytes), bytes.size());
}

class ImportFaults : public KestrelTest {
protected:
    QString path(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }
    static void click(QWidget* w) { QTest::mouseClick(w, Qt::LeftButton); }
    // Maps the header's entries in turn to the targets ("DELETE" deletes), as the user would.
    void mapAll(frmImport& f, const QStringList& targets)
    {
        for (int i = 0; i < targets.size(); ++i) {
            desk.onModal(QStringLiteral("frmMapField"), [t = targets[i]](QDialog& d) {
                auto& m = static_cast<frmMapField&>(d);
                m.cboMapTo->setCurrentIndex(m.cboMapTo->findText(t));
                click(t == u"DELETE" ? m.cmdDelete : m.cmdMap);
            });
            QTest::mouseClick(f.lstFrom->viewport(), Qt::LeftButton, {}, f.lstFrom->visualItemRect(f.lstFrom->item(i)).center());
        }
    }
    void browseAndMap(frmImport& f, const QString& file)
    {
        desk.answerOpenFile(file);
        click(f.cmdBrowse);
        click(f.cmdMap);
    }
};

TEST_F(ImportFaults, UnreadableOrChangingFilesAreToldAndNothingStoredIsLost)
{
    addContact(QStringLiteral("Kept"), QStringLiteral("Kay"));
    QByteArray garbage = "bin\n";
    QRandomGenerator random(7);
    for (int i = 0; i < 1 << 16; ++i)
        garbage += char(random.bounded(256));
    write(path("garbage.csv"), garbage);
    write(path("empty.csv"), "");
    const QString csv = path("leads.csv");
    write(csv, "Last Name,Email\r\nAdams,a@x.com\r\n");

    desk.onModal(QStringLiteral("frmImport"), [&](QDialog& d) {
        auto& f = static_cast<frmImport&>(d);
        // Each unreadable file is reported when its header is read, and another may be chosen.
        for (const char* bad : {"gone.csv", "empty.csv", "garbage.csv"}) {
            browseAndMap(f, path(bad));
            EXPECT_EQ(f.lstFrom->count(), 0) << bad;
            EXPECT_TRUE(f.cmdBrowse->isEnabled()) << bad;
        }
        browseAndMap(f, csv);
        mapAll(f, {QStringLiteral("LastName"), QStringLiteral("Email")});
        // The mapped column is gone by Done Mapping: reported by name, the mapping stage stays.
        write(csv, "Surname,Email\r\nBaker,b@x.com\r\n");
        click(f.cmdDone);
        EXPECT_EQ(leftTwips(f.fraMap), 120);
        EXPECT_FALSE(f.bGridLoaded);
        // Changed again with the mapped columns in another order: the rows as they are now load.
        write(csv, "Email,Last Name,Extra\r\nc@x.com,Carter,1\r\n\"d@x.com\",\"Dunn, Jr.\",2\r\n");
        click(f.cmdDone);
        ASSERT_TRUE(f.bGridLoaded);
        click(f.cmdImport);
        EXPECT_FALSE(f.isVisible());
    });
    frmImport window;
    platform().runModal(window);

    const QStringList m = desk.messages();
    ASSERT_EQ(m.size(), 4) << m.join(u'|').toStdString();
    EXPECT_TRUE(m[0].startsWith(QStringLiteral("Error -2147467259 (The file '%1' could not be opened").arg(path("gone.csv"))));
    EXPECT_TRUE(m[1].contains(QStringLiteral("is empty")));
    EXPECT_TRUE(m[2].contains(QStringLiteral("is not valid CSV at line"))) << m[2].toStdString();
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(m[i].endsWith(QStringLiteral(" in procedure cmdMap_Click of Form frmImport"))) << i;
    EXPECT_EQ(m[3], QStringLiteral("Error -2147217904 (The column 'Last Name' is not in the header line of 'leads.csv') "
                                   "in procedure LoadCsvToTemp of Module modImport"));
    EXPECT_EQ(rows(sConnContacts, QStringLiteral("select lastname,email from contacts order by id")),
              (std::vector<QStringList>{{QStringLiteral("Kept"), QString()},
                                        {QStringLiteral("Carter"), QStringLiteral("c@x.com")},
                                        {QStringLiteral("Dunn, Jr."), QStringLiteral("d@x.com")}}));
}

TEST_F(ImportFaults, HugeFilesAndEndlessRecordsLoadInBoundedMemory)
{
    const QStringList entries = {FormatMapLine(QStringLiteral("Name"), QStringLiteral("LastName")),
                                 FormatMapLine(QStringLiteral("Notes"), QStringLiteral("DELETE"))};
    // A quote opened and never closed makes one record of the rest of the file: it is refused
    // once it passes the reader's limit, long before the file ends.
    {
        QFile f(path("endless.csv"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("Name,Notes\r\nAnn,\"");
        for (int i = 0; i < 40; ++i)
            f.write(QByteArray(1 << 20, 'n'));
    }
    expectBoundedMemory([&] { EXPECT_FALSE(LoadCsvToTemp(path("endless.csv"), entries)); });
    ASSERT_EQ(desk.messages().size(), 1);
    EXPECT_TRUE(desk.messages()[0].contains(QStringLiteral("has a record longer than 8 MB near line")))
        << desk.messages()[0].toStdString();

    // 20,000 rows of a name and 10,000 bytes of notes (over 200 MB), the notes marked DELETE.
    constexpr int kRows = 20000;
    {
        QFile f(path("big.csv"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("Name,Notes\r\n");
        const QByteArray notes = '"' + QByteArray(9996, 'x').replace(5000, 2, "\"\"") + "\"\r\n";
        for (int i = 0; i < kRows; ++i)
            f.write("Name " + QByteArray::number(i) + ',' + notes);
        ASSERT_GT(f.size(), 200'000'000);
    }
    expectBoundedMemory([&] { ASSERT_TRUE(LoadCsvToTemp(path("big.csv"), entries)); });
    EXPECT_EQ(rows(sConnTemp, QStringLiteral("select count(*) from Main"))[0][0].toInt(), kRows);
    EXPECT_EQ(rows(sConnTemp, QStringLiteral("select lastname from Main where id in (1, %1) order by id").arg(kRows)),
              (std::vector<QStringList>{{QStringLiteral("Name 0")}, {QStringLiteral("Name %1").arg(kRows - 1)}}));
    EXPECT_EQ(desk.messages().size(), 1);
}

TEST_F(ImportFaults, HeaderNamesReachOnlyTheirOwnColumnOfTheChosenFile)
{
    // Names written to look like more of the select statement, and a second file they aim at.
    write(path("other.csv"), "a,b\r\nstolen,stolen\r\n");
    const QStringList names = {QStringLiteral("a from other.csv"), QStringLiteral("x] as y from other.csv --"),
                               QStringLiteral("[b]"), QStringLiteral("'; drop table Main; --"),
                               QStringLiteral("a,b from other.csv")};
    QByteArray file;
    for (const QString& n : names)
        file += (file.isEmpty() ? "\"" : ",\"") + QByteArray(n.toUtf8()).replace("\"", "\"\"") + '"';
    write(path("leads.csv"), file + "\r\none,two,three,four,five\r\n");
    EXPECT_EQ(readCsvHeader(path("leads.csv")), names);
    const QStringList targets = QStringLiteral("LastName,FirstName,Company,City,Email").split(u',');
    QStringList entries;
    for (int i = 0; i < names.size(); ++i)
        entries << FormatMapLine(names[i], targets[i]);
    ASSERT_TRUE(mappingProblem(entries).isEmpty());
    ASSERT_TRUE(LoadCsvToTemp(path("leads.csv"), entries));
    EXPECT_EQ(rows(sConnTemp, QStringLiteral("select lastname,firstname,company,city,email from Main")),
              (std::vector<QStringList>{{"one", "two", "three", "four", "five"}}));

    // Fields of one name are told apart by their order only: a copy kept after a deleted copy
    // would be filled from the deleted one, so that mapping is refused with the reason.
    EXPECT_TRUE(mappingProblem({FormatMapLine(QStringLiteral("Phone"), QStringLiteral("DELETE")),
                                FormatMapLine(QStringLiteral("phone "), QStringLiteral("CellPh"))})
                    .startsWith(QStringLiteral("The CSV field phone appears more than once")));
    EXPECT_TRUE(mappingProblem({FormatMapLine(QStringLiteral("Phone"), QStringLiteral("CellPh")),
                                FormatMapLine(QStringLiteral("Phone"), QStringLiteral("DELETE"))})
                    .isEmpty());
    EXPECT_TRUE(desk.messages().isEmpty());
}

} // namespace
