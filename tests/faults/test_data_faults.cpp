// Faults of the machine around the data: permissions, damaged files, a second running copy,
// a full disk, a killed process. Each checks what the user is told and that nothing stored is lost.
#include "data/Database.h"
#include "data/ExchangeStore.h"
#include "data/FileCheck.h"
#include "data/Globals.h"
#include "data/SearchIndex.h"
#include "data/Statement.h"
#include "data/modData.h"
#include "tests/support/Fixture.h"
#include "tests/support/Files.h"
#include "tests/support/PrintQString.h"
#include "ui/Report.h"

#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <sqlite3.h>

#include <csignal>
#include <thread>
#include <sys/stat.h>
#include <unistd.h>

using namespace kestrel;
using kestrel::test::KestrelTest;
using kestrel::test::readBytes;
using kestrel::test::withDiskFull;

namespace {
constexpr uid_t kNobody = 65534;

QString insertStatement(const QString& last)
{
    return QStringLiteral("INSERT into contacts(lastname,firstname,company,address,city,st,zip,homeph,cellph,workph,"
                          "ext,email,active,contype)values('%1','Ann','','','','','','','','','','',True,'Lead')")
        .arg(Quoted(last));
}
} // namespace

// The writer helper, copied where any user may run it: the build tree may lie in a folder that
// nobody cannot enter (a checkout under /root). It needs only system libraries.
QString writerForEveryone()
{
    static QTemporaryDir home(QDir::tempPath() + QStringLiteral("/kestrel-writer-XXXXXX"));
    static const QString copy = [] {
        const QString target = home.path() + QStringLiteral("/kestrel_fault_writer");
        if (!home.isValid() || !QFile::copy(QStringLiteral(KESTREL_FAULT_WRITER), target))
            return QString();
        ::chmod(QFile::encodeName(home.path()).constData(), 0755);
        ::chmod(QFile::encodeName(target).constData(), 0755);
        return target;
    }();
    return copy;
}

bool becomeNobody()
{
    return ::setgid(kNobody) == 0 && ::setuid(kNobody) == 0;
}

class DataFaults : public KestrelTest {
protected:
    void TearDown() override
    {
        setCreatingMissingFiles(true); // the start-up check forbids it for the rest of the run
        KestrelTest::TearDown();
    }
    // Runs the writer helper; as root it runs as nobody so that permissions mean something.
    QProcess* writer(const QStringList& args, bool asNobody = false)
    {
        auto* p = new QProcess;
        processes.emplace_back(p);
        p->setProgram(asNobody ? writerForEveryone() : QStringLiteral(KESTREL_FAULT_WRITER));
        p->setArguments(QStringList{dir.path()} + args);
        if (asNobody && ::geteuid() == 0) {
            p->setChildProcessModifier([] {
                if (!becomeNobody())
                    ::_exit(99);
            });
        }
        p->start();
        EXPECT_TRUE(p->waitForStarted());
        return p;
    }
    // The writer run as nobody to its end.
    QProcess* finishedAsNobody(const QStringList& args)
    {
        QProcess* p = writer(args, true);
        EXPECT_TRUE(p->waitForFinished(20000));
        return p;
    }
    // The writer holding the write lock of contacts.mdb for ms milliseconds.
    QProcess* holdingTheLock(int ms)
    {
        QProcess* p = writer({QStringLiteral("hold"), QString::number(ms)});
        EXPECT_TRUE(p->waitForReadyRead(20000));
        return p;
    }
    // Empty when the helper runs as nobody; otherwise why it cannot.
    QString nobodyCannotRunWriter()
    {
        if (writerForEveryone().isEmpty())
            return QStringLiteral("the writer helper could not be copied to ") + QDir::tempPath();
        QProcess* p = writer({}, true);
        p->waitForFinished(20000);
        if (p->exitStatus() != QProcess::NormalExit || p->exitCode() != 2)
            return QStringLiteral("the writer helper does not start as nobody (exit %1: %2)")
                .arg(p->exitCode())
                .arg(QString::fromLocal8Bit(p->readAllStandardError()));
        return {};
    }
    void giveTreeToNobody()
    {
        if (::geteuid() != 0)
            return;
        auto own = [](const QString& p) { ASSERT_EQ(::chown(QFile::encodeName(p).constData(), kNobody, kNobody), 0); };
        own(dir.path());
        QDirIterator it(dir.path(), QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext())
            own(it.next());
    }
    void setDataFolderMode(mode_t mode)
    {
        ::chmod(QFile::encodeName(dir.path() + QStringLiteral("/data")).constData(), mode);
    }
    // The data folder and db (if named) nobody's, which nobody may only read.
    void readOnlyForNobody(const QString& db = {})
    {
        giveTreeToNobody();
        if (!db.isEmpty())
            ::chmod(QFile::encodeName(db).constData(), 0400);
        setDataFolderMode(0500);
    }
    std::vector<std::unique_ptr<QProcess>> processes;
};

TEST_F(DataFaults, ReadOnlyDataIsShownWithOneNoticeAndEveryChangeIsRefusedInPlainWords)
{
    addContact(QStringLiteral("Adams"), QStringLiteral("Ann"));
    exec(sConnMain, QStringLiteral("select 1"));
    releaseAllDatabaseFiles(); // the program's copy has ended
    if (const QString why = nobodyCannotRunWriter(); !why.isEmpty())
        GTEST_SKIP() << why.toStdString();
    const QString db = dataPath(QStringLiteral("contacts.mdb"));
    readOnlyForNobody(db);
    const QByteArray before = readBytes(db);

    QProcess* count = finishedAsNobody({QStringLiteral("count"), QStringLiteral("0")});
    EXPECT_EQ(count->exitCode(), 0) << count->readAllStandardError().toStdString();
    EXPECT_FALSE(QFileInfo::exists(db + QStringLiteral("-shm"))) << "reading made no file in a read-only folder";
    EXPECT_EQ(count->readAllStandardOutput().trimmed(), QByteArray("1"));
    // Find cannot build its index in a file it may not write: it reads the contacts themselves.
    QProcess* find = finishedAsNobody({QStringLiteral("find"), QStringLiteral("ADA")});
    EXPECT_EQ(find->readAllStandardOutput().trimmed() + find->readAllStandardError(), QByteArray("1"));

    // Start-up: one notice and no purge; then a change is refused with the reason, not a bug report.
    QProcess* start = finishedAsNobody({QStringLiteral("startup"), QStringLiteral("0")});
    EXPECT_EQ(start->readAllStandardOutput().trimmed(), QByteArray("writable 0"));
    const QString told = QString::fromLocal8Bit(start->readAllStandardError());
    const QString why = QStringLiteral("Kestrel can show your data but not change it: you may not change the folder ") +
                        dir.path() + QStringLiteral("/data.");
    EXPECT_EQ(told.count(why), 2) << told.toStdString(); // the notice, then the refused change
    EXPECT_TRUE(told.contains(QStringLiteral("This change was not saved."))) << told.toStdString();
    EXPECT_FALSE(told.contains(QStringLiteral("report this bug"))) << told.toStdString();

    setDataFolderMode(0700);
    EXPECT_EQ(readBytes(db), before);
}

TEST_F(DataFaults, AnOldDataFileThatMayOnlyBeReadIsShownWithItsLaterFieldsEmpty)
{
    if (const QString why = nobodyCannotRunWriter(); !why.isEmpty())
        GTEST_SKIP() << why.toStdString();
    // A contacts file of an earlier Kestrel, on a disk this user may only read: it cannot gain the
    // later fields, yet Find, which reads them, still finds its contacts.
    const QString db = dataPath(QStringLiteral("contacts.mdb"));
    QDir().mkpath(dir.path() + QStringLiteral("/data"));
    createDatabaseFile(db, QStringLiteral(
        "CREATE TABLE contacts(id INTEGER PRIMARY KEY AUTOINCREMENT, lastname TEXT, firstname TEXT, company TEXT, "
        "address TEXT, city TEXT, st TEXT, zip TEXT, homeph TEXT, cellph TEXT, workph TEXT, ext TEXT, email TEXT, "
        "active BOOLEAN DEFAULT 1, contype TEXT);"
        "CREATE TABLE appointments(autoid INTEGER PRIMARY KEY AUTOINCREMENT, name TEXT, address TEXT, apptdate DATE, "
        "appttime TIME, apptbrief TEXT, apptnotes TEXT);"
        "INSERT INTO contacts(lastname,firstname,contype) VALUES('Adams','Ann','Lead')"), true);
    releaseAllDatabaseFiles();
    readOnlyForNobody(db);
    const QByteArray before = readBytes(db);
    QProcess* find = finishedAsNobody({QStringLiteral("find"), QStringLiteral("ADA")});
    EXPECT_EQ(find->readAllStandardOutput().trimmed() + find->readAllStandardError(), QByteArray("1"));
    setDataFolderMode(0700);
    EXPECT_EQ(readBytes(db), before);
}

TEST_F(DataFaults, ADataFolderThatCannotBeWrittenGivesAClearMessage)
{
    if (const QString why = nobodyCannotRunWriter(); !why.isEmpty())
        GTEST_SKIP() << why.toStdString();
    QDir().mkpath(dir.path() + QStringLiteral("/data"));
    readOnlyForNobody();
    QProcess* insert = finishedAsNobody({QStringLiteral("insert"), QStringLiteral("1")});
    const QString told = QString::fromLocal8Bit(insert->readAllStandardError());
    EXPECT_TRUE(told.startsWith(QStringLiteral("Could not create the data file ") + dataPath(QStringLiteral("contacts.mdb")) +
                                QStringLiteral(": you may not change the folder ")))
        << told.toStdString();
    setDataFolderMode(0700);
}

TEST_F(DataFaults, ATruncatedDatabaseIsReportedAndNeverOverwritten)
{
    for (int i = 0; i < 200; ++i)
        addContact(QStringLiteral("Row%1").arg(i), QString(100, u'x'));
    releaseAllDatabaseFiles();
    const QString db = dataPath(QStringLiteral("contacts.mdb"));
    QFile::remove(db + QStringLiteral("-wal"));
    QFile::remove(db + QStringLiteral("-shm"));
    QByteArray bytes = readBytes(db);
    ASSERT_GT(bytes.size(), 8192);
    bytes.truncate(bytes.size() / 3);
    kestrel::test::writeBytes(db, bytes);
    EXPECT_FALSE(ActionQuery(insertStatement(QStringLiteral("New")), sConnContacts));
    ASSERT_EQ(desk.messages().size(), 1);
    EXPECT_TRUE(desk.messages()[0].contains(QStringLiteral("disk image is malformed")) ||
                desk.messages()[0].contains(QStringLiteral("not a database")))
        << desk.messages()[0].toStdString();
    EXPECT_FALSE(desk.messages()[0].contains(QStringLiteral("report this bug")));
    EXPECT_EQ(readBytes(db), bytes);
}

TEST_F(DataFaults, ASecondRunningCopyMakesAnActionWaitWithTheBusyCursorThenGoThrough)
{
    addContact(QStringLiteral("Adams"), QStringLiteral("Ann"));
    QProcess* other = holdingTheLock(800);
    EXPECT_EQ(other->readLine().trimmed(), QByteArray("locked"));
    // Reading is not blocked by the other copy's write.
    EXPECT_EQ(rows(sConnContacts, QStringLiteral("select lastname from contacts")).size(), 1u);
    EXPECT_TRUE(ActionQuery(insertStatement(QStringLiteral("Baker")), sConnContacts));
    EXPECT_TRUE(desk.prompts.empty());
    EXPECT_EQ(desk.busyCursorShown, 1);
    EXPECT_FALSE(desk.busyCursorOn);
    ASSERT_TRUE(other->waitForFinished(20000));
    // A worker's wait (a copy made beside the window) leaves the window's cursor alone.
    other = holdingTheLock(800);
    bool workerWrote = false;
    std::thread worker([&] { workerWrote = ActionQuery(insertStatement(QStringLiteral("Clark")), sConnContacts); });
    worker.join();
    EXPECT_TRUE(workerWrote);
    EXPECT_EQ(desk.busyCursorShown, 1);
    EXPECT_FALSE(desk.busyCursorOn);
    ASSERT_TRUE(other->waitForFinished(20000));
    EXPECT_EQ(rows(sConnContacts, QStringLiteral("select lastname from contacts")).size(), 3u);
}

TEST_F(DataFaults, ALockHeldTooLongAsksToTryAgainAndYesAppliesTheChangeOnce)
{
    addContact(QStringLiteral("Adams"), QStringLiteral("Ann"));
    QProcess* other = holdingTheLock(4000);
    desk.answerYes();
    EXPECT_TRUE(ActionQuery(insertStatement(QStringLiteral("Baker")), sConnContacts));
    ASSERT_EQ(desk.prompts.size(), 1u);
    EXPECT_EQ(desk.prompts[0].kind, QStringLiteral("question"));
    EXPECT_TRUE(desk.prompts[0].text.contains(QStringLiteral("another running copy of Kestrel")) &&
                desk.prompts[0].text.endsWith(QStringLiteral("Try again?")))
        << desk.prompts[0].text.toStdString();
    EXPECT_FALSE(desk.busyCursorOn);
    ASSERT_TRUE(other->waitForFinished(20000));
    EXPECT_EQ(rows(sConnContacts, QStringLiteral("select lastname from contacts order by id")),
              (std::vector<QStringList>{{QStringLiteral("Adams")}, {QStringLiteral("Baker")}}));
}

TEST_F(DataFaults, FindSearchesWithoutItsIndexWhileAnotherCopyHoldsTheLock)
{
    addContact(QStringLiteral("Adams"), QStringLiteral("Ann"));
    QProcess* other = holdingTheLock(4000);
    std::vector<FoundContact> found;
    ASSERT_NO_THROW(found = findContacts(sConnContacts, QStringLiteral("ann ada"), 10).rows);
    EXPECT_TRUE(found.size() == 1 && found[0].lastName == QStringLiteral("Adams"));
    EXPECT_TRUE(desk.messages().isEmpty());
    ASSERT_TRUE(other->waitForFinished(20000));
}

TEST_F(DataFaults, ADiskThatFillsUpAsksToTryAgainAndKeepsTheDatabaseWhole)
{
    for (int i = 0; i < 20; ++i)
        addContact(QStringLiteral("Row%1").arg(i), QStringLiteral("Ann"));
    const QString db = dataPath(QStringLiteral("contacts.mdb"));
    const qint64 largest = std::max(QFileInfo(db).size(), QFileInfo(db + QStringLiteral("-wal")).size());
    desk.answerNo();
    bool applied = true;
    withDiskFull(largest + 4096, [&] { applied = ActionQuery(insertStatement(QString(200000, u'z')), sConnContacts); });

    EXPECT_FALSE(applied);
    ASSERT_EQ(desk.prompts.size(), 1u);
    EXPECT_EQ(desk.prompts[0].text, QStringLiteral("The change could not be saved: the disk that holds the folder ") +
                                        dir.path() + QStringLiteral("/data is full.\r\n\r\nFree some space on it, then try again?"));
    releaseAllDatabaseFiles();
    EXPECT_EQ(rows(sConnContacts, QStringLiteral("PRAGMA integrity_check"))[0][0], QStringLiteral("ok"));
    EXPECT_EQ(rows(sConnContacts, QStringLiteral("select count(*) from contacts"))[0][0], QStringLiteral("20"));
    EXPECT_TRUE(ActionQuery(insertStatement(QStringLiteral("After")), sConnContacts));
}

TEST_F(DataFaults, AFullDiskAtStartUpIsSaidAsSuchAndTheContactsAreStillShown)
{
    addContact(QStringLiteral("Adams"), QStringLiteral("Ann"));
    exec(sConnMain, QStringLiteral("select 1"));
    releaseAllDatabaseFiles(); // the earlier run has ended: no shared-memory file is left
    QStringList notices;
    std::vector<QStringList> shown;
    withDiskFull(4096, [&] {
        notices = CheckDataFiles();
        shown = rows(sConnContacts, QStringLiteral("select lastname from contacts"));
        releaseAllDatabaseFiles();
    });
    EXPECT_EQ(notices, QStringList{QStringLiteral("Kestrel can show your data but not change it: the disk that holds "
                                                  "the folder ") + dir.path() + QStringLiteral("/data is full.")});
    EXPECT_EQ(shown, std::vector<QStringList>{{QStringLiteral("Adams")}});
    EXPECT_FALSE(DataWritable(sConnContacts));
}

TEST_F(DataFaults, TheMdbFileAloneHoldsEveryChangeWhileKestrelRuns)
{
    addContact(QStringLiteral("Adams"), QStringLiteral("Ann"));
    Connection stillOpen(sConnContacts);
    ASSERT_TRUE(ActionQuery(insertStatement(QStringLiteral("Baker")), sConnContacts));
    ASSERT_TRUE(ActionQuery(QStringLiteral("update contacts set firstname='Bea' where lastname='Baker'"), sConnContacts));
    // What a user's copy of contacts.mdb (without its side files) holds, opened on its own.
    QTemporaryDir other;
    const QString copy = other.path() + QStringLiteral("/contacts.mdb");
    ASSERT_TRUE(QFile::copy(dataPath(QStringLiteral("contacts.mdb")), copy));
    EXPECT_EQ(rows(QStringLiteral("Data Source=") + copy, QStringLiteral("select lastname, firstname from contacts order by id")),
              (std::vector<QStringList>{{QStringLiteral("Adams"), QStringLiteral("Ann")},
                                        {QStringLiteral("Baker"), QStringLiteral("Bea")}}));
}

TEST_F(DataFaults, AMissingFileIsNamedAtStartUpAndIsAPlainErrorLater)
{
    EXPECT_EQ(CheckDataFiles(), QStringList()) << "a first run makes both files without a word";
    releaseAllDatabaseFiles();
    ASSERT_TRUE(QFile::remove(dataPath(QStringLiteral("kestrel.mdb"))));
    EXPECT_EQ(CheckDataFiles(), QStringList{QStringLiteral("The file kestrel.mdb was missing from the folder ") + dir.path() +
                                            QStringLiteral("/data.\r\nA new, empty kestrel.mdb was made there.")});
    EXPECT_TRUE(QFileInfo::exists(dataPath(QStringLiteral("kestrel.mdb"))));

    // Moved away while Kestrel runs: nothing is made again from what was left beside it.
    addContact(QStringLiteral("Adams"), QStringLiteral("Ann"));
    const QString db = dataPath(QStringLiteral("contacts.mdb"));
    ASSERT_TRUE(QFile::rename(db, dir.path() + QStringLiteral("/moved.mdb")));
    EXPECT_FALSE(ActionQuery(insertStatement(QStringLiteral("Baker")), sConnContacts));
    EXPECT_EQ(desk.messages(), QStringList{QStringLiteral("The change could not be saved: the data file ") + db +
                                           QStringLiteral(" is missing.\r\nPut it back, or start Kestrel again to make "
                                                          "a new, empty one.")});
    EXPECT_FALSE(QFileInfo::exists(db));
}

TEST_F(DataFaults, DatabasesAreMadeOnAFileSystemWithoutHardLinks)
{
    const QString image = dir.path() + QStringLiteral("/fat.img");
    const QString mount = dir.path() + QStringLiteral("/fat");
    QDir().mkpath(mount);
    auto run = [](const QString& program, const QStringList& args, QString* why) {
        QProcess p;
        p.start(program, args);
        const bool ok = p.waitForFinished(20000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
        if (!ok)
            *why += program + QStringLiteral(": ") +
                    (p.error() == QProcess::FailedToStart ? p.errorString()
                                                          : QString::fromLocal8Bit(p.readAllStandardError()).trimmed()) +
                    QStringLiteral("; ");
        return ok;
    };
    QString why;
    if (!run(QStringLiteral("mkfs.vfat"), {QStringLiteral("-C"), image, QStringLiteral("4096")}, &why))
        GTEST_SKIP() << "no FAT image could be made (dosfstools): " << why.toStdString();
    // The kernel's FAT driver where loop mounts are allowed, else FAT through FUSE.
    const bool fuse = !run(QStringLiteral("mount"), {QStringLiteral("-o"), QStringLiteral("loop"), image, mount}, &why);
    if (fuse && !run(QStringLiteral("fusefat"), {QStringLiteral("-o"), QStringLiteral("rw+"), image, mount}, &why))
        GTEST_SKIP() << "this machine mounts no FAT image: " << why.toStdString();
    const auto unmount = qScopeGuard([&] {
        releaseAllDatabaseFiles();
        QProcess::execute(fuse ? QStringLiteral("fusermount") : QStringLiteral("umount"),
                          fuse ? QStringList{QStringLiteral("-u"), mount} : QStringList{mount});
    });
    setProgramDir(mount);
    buildConnectionTexts();
    EXPECT_EQ(CheckDataFiles().join(u'|').toStdString(), "");
    addContact(QStringLiteral("Adams"), QStringLiteral("Ann"));
    EXPECT_EQ(rows(sConnContacts, QStringLiteral("select lastname from contacts")), std::vector<QStringList>{{QStringLiteral("Adams")}});
}

TEST_F(DataFaults, AProcessKilledWhileWritingLeavesWholeRowsOnly)
{
    exec(sConnContacts, QStringLiteral("select 1"));
    QProcess* other = writer({QStringLiteral("insert"), QStringLiteral("1000000")});
    ASSERT_TRUE(other->waitForReadyRead(20000));
    ::usleep(300 * 1000);
    ::kill(pid_t(other->processId()), SIGKILL);
    ASSERT_TRUE(other->waitForFinished(20000));
    releaseAllDatabaseFiles();
    EXPECT_EQ(rows(sConnContacts, QStringLiteral("PRAGMA integrity_check"))[0][0], QStringLiteral("ok"));
    const auto all = rows(sConnContacts, QStringLiteral("select lastname, firstname, contype from contacts"));
    EXPECT_GT(all.size(), 0u);
    for (const QStringList& r : all) {
        ASSERT_TRUE(r[0].startsWith(QStringLiteral("Row")));
        ASSERT_EQ(r[1].size(), 200);
        ASSERT_EQ(r[2], QStringLiteral("Lead"));
    }
}

// Files in the data folder that are not what they seem: another program's database where
// contacts.mdb belongs, a file damaged inside, a file that is no database at all, a disk full at
// start. Each is told once in plain words, and nothing is written into a file that is not whole
// or not Kestrel's.
namespace {

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
