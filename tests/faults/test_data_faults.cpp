// Faults of the machine around the data: permissions, damaged files, a second running copy,
// a full disk, a killed process. Each checks what the user is told and that nothing stored is lost.
#include "data/Database.h"
#include "data/Globals.h"
#include "data/SearchIndex.h"
#include "data/modData.h"
#include "tests/support/Fixture.h"

#include <QDirIterator>
#include <QFile>
#include <QProcess>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace kestrel;
using kestrel::test::KestrelTest;

namespace {
constexpr uid_t kNobody = 65534;

QByteArray fileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QString insertStatement(const QString& last)
{
    return QStringLiteral("INSERT into contacts(lastname,firstname,company,address,city,st,zip,homeph,cellph,workph,"
                          "ext,email,active,contype)values('%1','Ann','','','','','','','','','','',True,'Lead')")
        .arg(Quoted(last));
}
} // namespace

class DataFaults : public KestrelTest {
protected:
    // Runs the writer helper; as root it runs as nobody so that permissions mean something.
    QProcess* writer(const QStringList& args, bool asNobody = false)
    {
        auto* p = new QProcess;
        processes.emplace_back(p);
        p->setProgram(QStringLiteral(KESTREL_FAULT_WRITER));
        p->setArguments(QStringList{dir.path()} + args);
        if (asNobody && ::geteuid() == 0) {
            p->setChildProcessModifier([] {
                if (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)
                    ::_exit(99);
            });
        }
        p->start();
        EXPECT_TRUE(p->waitForStarted());
        return p;
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
    std::vector<std::unique_ptr<QProcess>> processes;
};

TEST_F(DataFaults, ReadOnlyFilesAreStillShownAndAFailedWriteIsReported)
{
    addContact(QStringLiteral("Adams"), QStringLiteral("Ann"));
    releaseAllDatabaseFiles(); // the program's copy has ended
    const QString db = dataPath(QStringLiteral("contacts.mdb"));
    giveTreeToNobody();
    ::chmod(QFile::encodeName(db).constData(), 0400);
    ::chmod(QFile::encodeName(dir.path() + QStringLiteral("/data")).constData(), 0500);
    const QByteArray before = fileBytes(db);

    QProcess* count = writer({QStringLiteral("count"), QStringLiteral("0")}, true);
    ASSERT_TRUE(count->waitForFinished(20000));
    EXPECT_EQ(count->exitCode(), 0) << count->readAllStandardError().toStdString();
    EXPECT_FALSE(QFileInfo::exists(db + QStringLiteral("-shm"))) << "reading made no file in a read-only folder";
    EXPECT_EQ(count->readAllStandardOutput().trimmed(), QByteArray("1"));
    // Find cannot build its index in a file it may not write: it reads the contacts themselves.
    QProcess* find = writer({QStringLiteral("find"), QStringLiteral("ADA")}, true);
    ASSERT_TRUE(find->waitForFinished(20000));
    EXPECT_EQ(find->readAllStandardOutput().trimmed() + find->readAllStandardError(), QByteArray("1"));

    QProcess* insert = writer({QStringLiteral("insert"), QStringLiteral("1")}, true);
    ASSERT_TRUE(insert->waitForFinished(20000));
    const QString told = QString::fromLocal8Bit(insert->readAllStandardError());
    EXPECT_TRUE(told.contains(QStringLiteral("in procedure ActionQuery of Module modData"))) << told.toStdString();
    EXPECT_TRUE(told.contains(QStringLiteral("readonly"), Qt::CaseInsensitive) ||
                told.contains(QStringLiteral("read-only"), Qt::CaseInsensitive))
        << told.toStdString();

    ::chmod(QFile::encodeName(dir.path() + QStringLiteral("/data")).constData(), 0700);
    EXPECT_EQ(fileBytes(db), before);
}

TEST_F(DataFaults, ADataFolderThatCannotBeWrittenGivesAClearMessage)
{
    QDir().mkpath(dir.path() + QStringLiteral("/data"));
    giveTreeToNobody();
    ::chmod(QFile::encodeName(dir.path() + QStringLiteral("/data")).constData(), 0500);
    QProcess* insert = writer({QStringLiteral("insert"), QStringLiteral("1")}, true);
    ASSERT_TRUE(insert->waitForFinished(20000));
    const QString told = QString::fromLocal8Bit(insert->readAllStandardError());
    EXPECT_TRUE(told.contains(QStringLiteral("Could not create the database file '") + dataPath(QStringLiteral("contacts.mdb"))))
        << told.toStdString();
    ::chmod(QFile::encodeName(dir.path() + QStringLiteral("/data")).constData(), 0700);
}

TEST_F(DataFaults, ATruncatedDatabaseIsReportedAndNeverOverwritten)
{
    for (int i = 0; i < 200; ++i)
        addContact(QStringLiteral("Row%1").arg(i), QString(100, u'x'));
    releaseAllDatabaseFiles();
    const QString db = dataPath(QStringLiteral("contacts.mdb"));
    QFile::remove(db + QStringLiteral("-wal"));
    QFile::remove(db + QStringLiteral("-shm"));
    QByteArray bytes = fileBytes(db);
    ASSERT_GT(bytes.size(), 8192);
    bytes.truncate(bytes.size() / 3);
    {
        QFile f(db);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    }
    EXPECT_FALSE(ActionQuery(insertStatement(QStringLiteral("New")), sConnContacts));
    ASSERT_EQ(desk.messages().size(), 1);
    EXPECT_TRUE(desk.messages()[0].contains(QStringLiteral("disk image is malformed")) ||
                desk.messages()[0].contains(QStringLiteral("not a database")))
        << desk.messages()[0].toStdString();
    EXPECT_EQ(fileBytes(db), bytes);
}

TEST_F(DataFaults, ASecondRunningCopyMakesAnActionWaitThenGoThrough)
{
    addContact(QStringLiteral("Adams"), QStringLiteral("Ann"));
    QProcess* other = writer({QStringLiteral("hold"), QStringLiteral("800")});
    ASSERT_TRUE(other->waitForReadyRead(20000));
    EXPECT_EQ(other->readLine().trimmed(), QByteArray("locked"));
    // Reading is not blocked by the other copy's write.
    EXPECT_EQ(rows(sConnContacts, QStringLiteral("select lastname from contacts")).size(), 1u);
    EXPECT_TRUE(ActionQuery(insertStatement(QStringLiteral("Baker")), sConnContacts));
    EXPECT_TRUE(desk.messages().isEmpty());
    ASSERT_TRUE(other->waitForFinished(20000));
    EXPECT_EQ(rows(sConnContacts, QStringLiteral("select lastname from contacts")).size(), 2u);
}

TEST_F(DataFaults, ALockHeldTooLongIsReportedAndNothingIsLost)
{
    addContact(QStringLiteral("Adams"), QStringLiteral("Ann"));
    QProcess* other = writer({QStringLiteral("hold"), QStringLiteral("4000")});
    ASSERT_TRUE(other->waitForReadyRead(20000));
    EXPECT_FALSE(ActionQuery(insertStatement(QStringLiteral("Baker")), sConnContacts));
    ASSERT_EQ(desk.messages().size(), 1);
    EXPECT_TRUE(desk.messages()[0].startsWith(QStringLiteral("Error 5 (database is locked) in procedure ActionQuery")))
        << desk.messages()[0].toStdString();
    ASSERT_TRUE(other->waitForFinished(20000));
    EXPECT_EQ(rows(sConnContacts, QStringLiteral("select lastname from contacts")).size(), 1u);
    EXPECT_TRUE(ActionQuery(insertStatement(QStringLiteral("Baker")), sConnContacts)) << "works again afterwards";
}

TEST_F(DataFaults, FindSearchesWithoutItsIndexWhileAnotherCopyHoldsTheLock)
{
    addContact(QStringLiteral("Adams"), QStringLiteral("Ann"));
    QProcess* other = writer({QStringLiteral("hold"), QStringLiteral("4000")});
    ASSERT_TRUE(other->waitForReadyRead(20000));
    std::vector<FoundContact> found;
    ASSERT_NO_THROW(found = findContacts(sConnContacts, QStringLiteral("ann ada"), 10).rows);
    EXPECT_TRUE(found.size() == 1 && found[0].lastName == QStringLiteral("Adams"));
    EXPECT_TRUE(desk.messages().isEmpty());
    ASSERT_TRUE(other->waitForFinished(20000));
}

TEST_F(DataFaults, ADiskThatFillsUpFailsTheStatementAndKeepsTheDatabaseWhole)
{
    for (int i = 0; i < 20; ++i)
        addContact(QStringLiteral("Row%1").arg(i), QStringLiteral("Ann"));
    const QString db = dataPath(QStringLiteral("contacts.mdb"));
    // A size limit on files this process writes stands in for a full disk.
    const qint64 largest = std::max(QFileInfo(db).size(), QFileInfo(db + QStringLiteral("-wal")).size());
    struct rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    auto previous = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = rlim_t(largest + 4096);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool applied = ActionQuery(insertStatement(QString(200000, u'z')), sConnContacts);
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previous);

    EXPECT_FALSE(applied);
    ASSERT_EQ(desk.messages().size(), 1);
    EXPECT_TRUE(desk.messages()[0].contains(QStringLiteral("disk is full")) ||
                desk.messages()[0].contains(QStringLiteral("disk I/O error")))
        << desk.messages()[0].toStdString();
    releaseAllDatabaseFiles();
    EXPECT_EQ(rows(sConnContacts, QStringLiteral("PRAGMA integrity_check"))[0][0], QStringLiteral("ok"));
    EXPECT_EQ(rows(sConnContacts, QStringLiteral("select count(*) from contacts"))[0][0], QStringLiteral("20"));
    EXPECT_TRUE(ActionQuery(insertStatement(QStringLiteral("After")), sConnContacts));
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
