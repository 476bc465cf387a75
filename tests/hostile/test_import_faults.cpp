// The CSV import under bad files: a file changed between Map and Done Mapping, binary garbage, a
// header alone, a 200 MB file, a record without end; header names that try to reach another
// column or file. Each ends in a clear message or a sound load, and nothing stored is lost.
#include "data/Globals.h"
#include "exchange/CsvText.h"
#include "exchange/frmImport.h"
#include "exchange/frmMapField.h"
#include "exchange/modImport.h"
#include "tests/hostile/Hostile.h"
#include "tests/support/Fixture.h"

#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QListWidget>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTableView>
#include <QTest>

#include <chrono>
#include <fstream>

using namespace kestrel;
using namespace kestrel::test;

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

// Peak resident memory since the last reset, in MiB (Linux keeps it per process).
long peakMiB()
{
    std::ifstream status("/proc/self/status");
    std::string key;
    long kb = 0;
    while (status >> key) {
        if (key == "VmHWM:") {
            status >> kb;
            break;
        }
    }
    return kb / 1024;
}
long residentMiB()
{
    std::ifstream status("/proc/self/status");
    std::string key;
    long kb = 0;
    while (status >> key)
        if (key == "VmRSS:" && (status >> kb))
            break;
    return kb / 1024;
}
// Resets the peak to what is resident now; fails the test where the system cannot.
void resetPeak()
{
    std::ofstream("/proc/self/clear_refs") << "5";
    ASSERT_LE(peakMiB() - residentMiB(), 2) << "the peak could not be reset";
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
    // Queues the mapping dialog's choice for the next entry clicked: a target or "DELETE".
    void answerMap(const QString& target)
    {
        desk.onModal(QStringLiteral("frmMapField"), [target](QDialog& d) {
            auto& m = static_cast<frmMapField&>(d);
            if (target == u"DELETE") {
                click(m.cmdDelete);
            } else {
                m.cboMapTo->setCurrentIndex(m.cboMapTo->findText(target));
                click(m.cmdMap);
            }
        });
    }
    void mapAll(frmImport& f, const QStringList& targets)
    {
        for (int i = 0; i < targets.size(); ++i) {
            answerMap(targets[i]);
            QTest::mouseClick(f.lstFrom->viewport(), Qt::LeftButton, {},
                              f.lstFrom->visualItemRect(f.lstFrom->item(i)).center());
        }
    }
    void runImport(const QString& file, const std::function<void(frmImport&)>& script)
    {
        desk.onModal(QStringLiteral("frmImport"), [&](QDialog& d) {
            auto& f = static_cast<frmImport&>(d);
            desk.answerOpenFile(file);
            click(f.cmdBrowse);
            click(f.cmdMap);
            script(f);
        });
        frmImport f;
        platform().runModal(f);
    }
    int count(const QString& connection, const char* table)
    {
        return rows(connection, QStringLiteral("select count(*) from %1").arg(QLatin1String(table)))[0][0].toInt();
    }
};

TEST_F(ImportFaults, AFileChangedBetweenMapAndDoneMappingIsReadAsItIsAtDone)
{
    const QString csv = path("leads.csv");
    write(csv, "Last Name,Email\r\nAdams,a@x.com\r\n");
    addContact(QStringLiteral("Kept"), QStringLiteral("Kay"));
    runImport(csv, [&](frmImport& f) {
        mapAll(f, {QStringLiteral("LastName"), QStringLiteral("Email")});
        // The mapped column is gone: reported by name, the mapping stage stays, nothing loads.
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
    const QStringList m = desk.messages();
    ASSERT_EQ(m.size(), 1) << m.join(u'|').toStdString();
    EXPECT_EQ(m[0], QStringLiteral("Error -2147217904 (The column 'Last Name' is not in the header line of 'leads.csv') "
                                   "in procedure LoadCsvToTemp of Module modImport"));
    EXPECT_EQ(rows(sConnContacts, QStringLiteral("select lastname,email from contacts order by id")),
              (std::vector<QStringList>{{QStringLiteral("Kept"), QString()},
                                        {QStringLiteral("Carter"), QStringLiteral("c@x.com")},
                                        {QStringLiteral("Dunn, Jr."), QStringLiteral("d@x.com")}}));
}

TEST_F(ImportFaults, GarbageHeaderOnlyAndEndlessRecordsAreToldOrLoadNothing)
{
    addContact(QStringLiteral("Kept"), QStringLiteral("Kay"));
    // Binary garbage behind a plausible first line: reported when the header is read, and
    // another file may be chosen.
    QByteArray garbage;
    QRandomGenerator random(7);
    for (int i = 0; i < 1 << 16; ++i)
        garbage += char(random.bounded(256));
    garbage.prepend("bin\n");
    write(path("garbage.csv"), garbage);
    runImport(path("garbage.csv"), [&](frmImport& f) {
        EXPECT_EQ(f.lstFrom->count(), 0);
        EXPECT_TRUE(f.cmdBrowse->isEnabled());
    });
    ASSERT_EQ(desk.messages().size(), 1);
    EXPECT_TRUE(desk.messages()[0].contains(QStringLiteral("is not valid CSV at line"))) << desk.messages()[0].toStdString();
    EXPECT_TRUE(desk.messages()[0].endsWith(QStringLiteral("in procedure cmdMap_Click of Form frmImport")));

    // A header alone: an empty preview, and Import adds nothing and says nothing.
    write(path("header.csv"), "Last Name,First Name\r\n");
    runImport(path("header.csv"), [&](frmImport& f) {
        mapAll(f, {QStringLiteral("LastName"), QStringLiteral("FirstName")});
        click(f.cmdDone);
        ASSERT_TRUE(f.bGridLoaded);
        EXPECT_EQ(f.dgTemp->model()->rowCount(), 0);
        click(f.cmdImport);
        EXPECT_FALSE(f.isVisible());
    });
    EXPECT_EQ(desk.messages().size(), 1);

    // A quote opened and never closed makes one record of the rest of the file: it is refused
    // once it passes the reader's limit, long before the file ends.
    {
        QFile f(path("endless.csv"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("Name,Notes\r\nAnn,\"");
        const QByteArray block(1 << 20, 'n');
        for (int i = 0; i < 40; ++i)
            f.write(block);
    }
    resetPeak();
    const long before = residentMiB();
    runImport(path("endless.csv"), [&](frmImport& f) {
        mapAll(f, {QStringLiteral("LastName"), QStringLiteral("DELETE")});
        click(f.cmdDone);
        EXPECT_FALSE(f.bGridLoaded);
    });
    if (!kSanitized) {
        EXPECT_LT(peakMiB() - before, 64) << "peak " << peakMiB() << " MiB from " << before;
    }
    ASSERT_EQ(desk.messages().size(), 2);
    EXPECT_TRUE(desk.messages()[1].contains(QStringLiteral("has a record longer than 8 MB near line")))
        << desk.messages()[1].toStdString();
    EXPECT_EQ(rows(sConnContacts, QStringLiteral("select lastname from contacts")),
              (std::vector<QStringList>{{QStringLiteral("Kept")}}));
}

TEST_F(ImportFaults, A200MegabyteFileLoadsItsRowsInBoundedMemory)
{
    // 20,000 rows of a name and 10,000 bytes of notes; the notes are marked DELETE.
    const QString csv = path("big.csv");
    constexpr int kRows = 20000;
    {
        QFile f(csv);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("Name,Notes\r\n");
        const QByteArray notes = '"' + QByteArray(9996, 'x').replace(5000, 2, "\"\"") + "\"\r\n";
        for (int i = 0; i < kRows; ++i)
            f.write("Name " + QByteArray::number(i) + ',' + notes);
        ASSERT_GT(f.size(), 200'000'000);
    }
    resetPeak();
    const long before = residentMiB();
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(LoadCsvToTemp(csv, {FormatMapLine(QStringLiteral("Name"), QStringLiteral("LastName")),
                                    FormatMapLine(QStringLiteral("Notes"), QStringLiteral("DELETE"))}));
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("200 MB file: %.1f s, peak %ld MiB over %ld MiB\n", seconds, peakMiB() - before, before);
    if (!kSanitized) {
        EXPECT_LT(peakMiB() - before, 64);
    }
    EXPECT_EQ(count(sConnTemp, "Main"), kRows);
    EXPECT_EQ(rows(sConnTemp, QStringLiteral("select lastname from Main where id in (1, %1) order by id").arg(kRows)),
              (std::vector<QStringList>{{QStringLiteral("Name 0")}, {QStringLiteral("Name %1").arg(kRows - 1)}}));
    EXPECT_TRUE(desk.messages().isEmpty());
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
    file += "\r\none,two,three,four,five\r\n";
    write(path("leads.csv"), file);
    EXPECT_EQ(readCsvHeader(path("leads.csv")), names);
    const QStringList targets = {QStringLiteral("LastName"), QStringLiteral("FirstName"), QStringLiteral("Company"),
                                 QStringLiteral("City"), QStringLiteral("Email")};
    QStringList entries;
    for (int i = 0; i < names.size(); ++i)
        entries << FormatMapLine(names[i], targets[i]);
    ASSERT_TRUE(mappingProblem(entries).isEmpty());
    ASSERT_TRUE(LoadCsvToTemp(path("leads.csv"), entries));
    EXPECT_EQ(rows(sConnTemp, QStringLiteral("select lastname,firstname,company,city,email from Main")),
              (std::vector<QStringList>{{"one", "two", "three", "four", "five"}}));

    // Fields of one name are told apart by their order only: a copy kept after a deleted copy
    // would be filled from the deleted one, so that mapping is refused with the reason.
    const QStringList twice = {FormatMapLine(QStringLiteral("Phone"), QStringLiteral("DELETE")),
                               FormatMapLine(QStringLiteral("phone "), QStringLiteral("CellPh"))};
    EXPECT_TRUE(mappingProblem(twice).startsWith(QStringLiteral("The CSV field phone appears more than once")));
    EXPECT_TRUE(mappingProblem({FormatMapLine(QStringLiteral("Phone"), QStringLiteral("CellPh")),
                                FormatMapLine(QStringLiteral("Phone"), QStringLiteral("DELETE"))})
                    .isEmpty());
    EXPECT_TRUE(desk.messages().isEmpty());
}

} // namespace
