// Files in the data folder that are not what they seem: another program's database where
// contacts.mdb belongs, a file damaged inside, a file that is no database at all, a disk full at
// start. Each is told once in plain words, and nothing is written into a file that is not whole
// or not Kestrel's.
#include "data/Database.h"
#include "data/ExchangeStore.h"
#include "data/FileCheck.h"
#include "data/Globals.h"
#include "data/SearchIndex.h"
#include "data/Statement.h"
#include "data/modData.h"
#include "tests/support/Fixture.h"
#include "tests/support/PrintQString.h"
#include "tests/support/Files.h"
#include "ui/Report.h"

#include <QFile>
#include <QTest>

#include <sqlite3.h>


using namespace kestrel;
using kestrel::test::KestrelTest;
using kestrel::test::readBytes;

namespace {

QString insertStatement(const QString& last)
{
    return QStringLiteral("INSERT into contacts(lastname,firstname,company,address,city,st,zip,homeph,cellph,workph,"
                          "ext,email,active,contype)values('%1','Ann','','','','','','','','','','',True,'Lead')")
        .arg(last);
}

// A database made by another program, in its own way (a rollback journal, its own tables).
void makeDatabase(const QString& path, const char* sql)
{
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(QFile::encodeName(path).constData(), &db), SQLITE_OK);
    char* err = nullptr;
    EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, &err), SQLITE_OK) << (err ? err : "");
    sqlite3_free(err);
    sqlite3_close(db);
}

class FileChecks : public KestrelTest {
protected:
    void SetUp() override
    {
        KestrelTest::SetUp();
        if (onServer())
            GTEST_SKIP() << "about the local files";
        exec(sConnMain, QStringLiteral("select 1")); // kestrel.mdb as it is beside the file under test
    }
    void TearDown() override
    {
        setCreatingMissingFiles(true);
        KestrelTest::TearDown();
    }
    // The start of the program: the start-up check, its notices shown as Kestrel shows them, then
    // the reading routines of the main window, each reporting what stops it.
    void startUp()
    {
        for (const QString& notice : CheckDataFiles())
            desk.msgBox(notice, QStringLiteral("Kestrel"));
        try {
            prepareSearchIndex(sConnContacts);
        } catch (const std::exception&) {
        }
        for (const QString* conn : {&sConnMain, &sConnContacts}) {
            try {
                Connection c(*conn);
                Snapshot s(c, conn == &sConnMain ? QStringLiteral("select id,todo from todo")
                                                 : QStringLiteral("SELECT apptdate FROM appointments"));
            } catch (const std::exception& e) {
                ReportFailure(e, conn == &sConnMain ? QStringLiteral("PopToDo") : QStringLiteral("PopWeekList"),
                              Owner::Form, QStringLiteral("frmKestrel"));
            }
        }
    }
};

TEST_F(FileChecks, AnotherProgramsDatabaseIsLeftByteForByteAndToldOnceInPlainWords)
{
    const QString db = dataPath(QStringLiteral("contacts.mdb"));
    makeDatabase(db, "PRAGMA journal_mode=DELETE; CREATE TABLE contacts(id INTEGER PRIMARY KEY, name TEXT, phone TEXT);"
                     "INSERT INTO contacts(name, phone) VALUES('Ann Lee', '555-0100');");
    const QByteArray before = readBytes(db);

    startUp();
    const QString foreign = QStringLiteral("The file ") + db +
                            QStringLiteral(" is not one of Kestrel's data files (its table contacts has no columns "
                                           "lastname, firstname, company, address, city, st, zip, homeph, cellph, "
                                           "workph, ext, email, active, contype): Kestrel does not use it.\r\nIt was left "
                                           "exactly as it was. Close Kestrel, move the file out of the folder ") +
                            dataPath(QString()).chopped(1) +
                            QStringLiteral(" (or put back Kestrel's own file from your backups), then start Kestrel again.");
    EXPECT_EQ(desk.messages(), QStringList{foreign});

    // Saves, Find, the calendar's store and the export's identity all leave it alone.
    EXPECT_FALSE(ActionQuery(insertStatement(QStringLiteral("Baker")), sConnContacts));
    EXPECT_TRUE(desk.messages().last().startsWith(QStringLiteral("Kestrel cannot use the file ") + db +
                                                  QStringLiteral(": it is not one of Kestrel's data files")))
        << desk.messages().last().toStdString();
    EXPECT_THROW(findContacts(sConnContacts, QStringLiteral("ann"), 10), DbError);
    EXPECT_THROW(databaseIdentity(sConnContacts), DbError);
    releaseAllDatabaseFiles();
    EXPECT_EQ(readBytes(db), before);
    EXPECT_FALSE(desk.messages().join(u'|').contains(QStringLiteral("report this bug")));
}

TEST_F(FileChecks, AFileOfANewerKestrelWithMoreColumnsAndTablesIsStillKestrels)
{
    const QString db = dataPath(QStringLiteral("contacts.mdb"));
    makeDatabase(db, (QString::fromUtf8(kContactsSchema) +
                      QStringLiteral(";ALTER TABLE contacts ADD COLUMN nickname TEXT; CREATE TABLE tags(id INTEGER);"))
                         .toUtf8()
                         .constData());
    startUp();
    EXPECT_TRUE(desk.messages().isEmpty()) << desk.messages().join(u'|').toStdString();
    EXPECT_TRUE(ActionQuery(insertStatement(QStringLiteral("Baker")), sConnContacts));
    EXPECT_EQ(rows(sConnContacts, QStringLiteral("select lastname, nickname from contacts")),
              (std::vector<QStringList>{{QStringLiteral("Baker"), QStringLiteral("<null>")}}));
}

TEST_F(FileChecks, AFileThatIsNoDatabaseAtStartIsToldOnceWithWhatToDo)
{
    kestrel::test::writeBytes(dataPath(QStringLiteral("contacts.mdb")), QByteArray(8192, 'Z'));
    startUp();
    ASSERT_EQ(desk.messages().size(), 1) << desk.messages().join(u'|').toStdString();
    EXPECT_EQ(desk.messages()[0], QStringLiteral("The file ") + dataPath(QStringLiteral("contacts.mdb")) +
                                      QStringLiteral(" is damaged (file is not a database): Kestrel cannot use it.\r\nIt "
                                                     "was left as it is. Close Kestrel and put back a copy from your "
                                                     "backups, or move the file out of the folder ") +
                                      dataPath(QString()).chopped(1) +
                                      QStringLiteral(" and start Kestrel again to begin with a new, empty one."));
    // A change asked for later is told, naming the file, as every change that cannot be saved is.
    EXPECT_FALSE(ActionQuery(insertStatement(QStringLiteral("Baker")), sConnContacts));
    ASSERT_EQ(desk.messages().size(), 2);
    EXPECT_TRUE(desk.messages()[1].contains(dataPath(QStringLiteral("contacts.mdb")))) << desk.messages()[1].toStdString();
    EXPECT_EQ(readBytes(dataPath(QStringLiteral("contacts.mdb"))), QByteArray(8192, 'Z'));
}

TEST_F(FileChecks, DamageInsideAFileIsFoundInTheBackgroundAndTheFileTakesNoMoreSaves)
{
    addAppt(QDate(2026, 12, 10), QTime(9, 0), QStringLiteral("Review"));
    {
        Connection c(sConnContacts);
        Transaction tx(c);
        for (int i = 0; i < 400; ++i)
            c.execute(insertStatement(QStringLiteral("Row%1 %2").arg(i).arg(QString(200, u'x'))));
        tx.commit();
    }
    releaseAllDatabaseFiles();
    // A page in the middle of the contacts, overwritten as a failing disk would.
    const QString db = dataPath(QStringLiteral("contacts.mdb"));
    {
        QFile f(db);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        const qint64 pages = f.size() / 4096;
        ASSERT_GT(pages, 20);
        f.seek(pages / 2 * 4096);
        f.write(QByteArray(4096, char(0xA5)));
    }
    EXPECT_TRUE(CheckDataFiles().isEmpty()) << "the first page is whole: nothing to see at once";
    QStringList told;
    const auto check = CheckDataIntegrity([&](const QString& notice) { told << notice; });
    ASSERT_TRUE(check);
    EXPECT_TRUE(told.isEmpty()) << "the check runs beside the window, not before it";
    ASSERT_TRUE(QTest::qWaitFor([&] { return check->finished(); }, 20000));
    ASSERT_EQ(told.size(), 1) << "kestrel.mdb, whole, gives no word";
    EXPECT_TRUE(told[0].startsWith(QStringLiteral("Kestrel found damage inside the file ") + db + QStringLiteral(" ("))) << told[0].toStdString();
    EXPECT_TRUE(told[0].contains(QStringLiteral("Close Kestrel and put back the file from your backups"))) << told[0].toStdString();

    // What can be read is still shown; a save is refused in plain words and the file stays as it is.
    const QByteArray before = readBytes(db);
    EXPECT_EQ(rows(sConnContacts, QStringLiteral("select apptbrief from appointments")),
              std::vector<QStringList>{{QStringLiteral("Review")}});
    EXPECT_FALSE(ActionQuery(insertStatement(QStringLiteral("After")), sConnContacts));
    EXPECT_EQ(desk.messages(), QStringList{QStringLiteral("Kestrel can show your data but not change it: the file ") + db +
                                           QStringLiteral(" is damaged; close Kestrel and put back a copy from your "
                                                          "backups.\r\nThis change was not saved.")});
    EXPECT_FALSE(DataWritable(sConnContacts));
    releaseAllDatabaseFiles();
    EXPECT_EQ(readBytes(db), before);
}

TEST_F(FileChecks, ADiskFullAtStartIsSaidWithoutClaimingThatNothingCanBeSaved)
{
    addContact(QStringLiteral("Adams"), QStringLiteral("Ann"));
    exec(sConnMain, QStringLiteral("select 1"));
    releaseAllDatabaseFiles();
    // Room for the files to grow a little, not for the 64 KiB the start-up check writes to try.
    const qint64 largest = std::max(QFileInfo(dataPath(QStringLiteral("contacts.mdb"))).size(),
                                    QFileInfo(dataPath(QStringLiteral("kestrel.mdb"))).size());
    if (largest + 16384 >= 65536)
        GTEST_SKIP() << "contacts.mdb has " << largest << " bytes: no room to tell a full disk from a full file";
    QStringList notices;
    bool saved = false;
    kestrel::test::withDiskFull(std::max<qint64>(largest + 16384, 40000), [&] {
        notices = CheckDataFiles();
        saved = ActionQuery(insertStatement(QStringLiteral("Baker")), sConnContacts);
        releaseAllDatabaseFiles();
    });

    EXPECT_EQ(notices, QStringList{QStringLiteral("The disk that holds the folder ") + dataPath(QString()).chopped(1) +
                                   QStringLiteral(" is full.\r\nKestrel shows your data and saves your changes while "
                                                  "they fit, but a change may fail until you free some space on it.")});
    EXPECT_TRUE(saved) << desk.messages().join(u'|').toStdString();
    EXPECT_EQ(rows(sConnContacts, QStringLiteral("select count(*) from contacts"))[0][0], QStringLiteral("2"));
    EXPECT_FALSE(DataWritable(sConnContacts)) << "the purge of old appointments waits";
}

} // namespace
