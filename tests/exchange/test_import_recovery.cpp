// Imports that stop half way, scratch files other programs touched or a crash left, locks nobody
// can prove stale, and the import of an office user, whose scratch file is their own.
#include "data/Database.h"
#include "data/Globals.h"
#include "data/ImportLog.h"
#include "data/Office.h"
#include "exchange/ImportRecovery.h"
#include "exchange/frmImport.h"
#include "exchange/modImport.h"
#include "exchange/modTempDB.h"
#include "tests/exchange/ExchangeTest.h"
#include "ui/Report.h"

#include <QDir>
#include <QElapsedTimer>
#include <QLockFile>
#include <QProcess>
#include <QStandardPaths>
#include <QListWidget>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QThread>

#include <csignal>

using namespace kestrel;
using namespace kestrel::test;

namespace {

class ImportRecoveryTest : public KestrelTest {
protected:
    QString count(const QString& where = QString())
    {
        const auto r = rows(sConnContacts, QStringLiteral("select count(*) from contacts ") + where);
        return r.empty() ? QString() : r[0][0];
    }
    // Starts an import of file in a process of its own and kills it once some of it is committed.
    void killHalfWay(const QString& file)
    {
        QProcess child;
        QStringList args{dir.path(), file};
        if (onServer())
            args << memberConninfo();
        child.start(QStringLiteral(KESTREL_IMPORT_CHILD), args);
        ASSERT_TRUE(child.waitForStarted());
        QElapsedTimer clock;
        clock.start();
        while (count(QStringLiteral("where import_id is not null")).toInt() == 0 && clock.elapsed() < 30000 &&
               child.state() == QProcess::Running)
            QThread::msleep(20);
        ASSERT_EQ(child.state(), QProcess::Running) << "the import ended before it could be killed";
        ::kill(pid_t(child.processId()), SIGKILL);
        child.waitForFinished();
        releaseAllDatabaseFiles();
    }
    QString leads(int n)
    {
        QByteArray csv = "Name\n";
        for (int i = 0; i < n; ++i)
            csv += "Lead " + QByteArray::number(i) + '\n';
        return writeBytes(dir.filePath(QStringLiteral("leads.csv")), csv);
    }
};

TEST_F(ImportRecoveryTest, AnImportKilledHalfWayIsOfferedAtTheNextStartToFinishTakeBackOrKeep)
{
    const QString file = leads(20000);
    addContact(QStringLiteral("Earlier"), QStringLiteral("Ann"));
    {
        Connection c(sConnContacts); // a local file from before imports were logged gets its column
        prepareImportLog(c);
    }
    for (const char* answer : {"Take Back", "Finish", "Keep"}) {
        SCOPED_TRACE(answer);
        killHalfWay(file);
        const int arrived = count(QStringLiteral("where import_id is not null")).toInt();
        ASSERT_GT(arrived, 0);
        ASSERT_LT(arrived, 20000);
        desk.prompts.clear();
        desk.answerChoice(QString::fromLatin1(answer));
        offerUnfinishedImports();
        ASSERT_FALSE(desk.prompts.empty());
        EXPECT_EQ(desk.prompts[0].kind, QStringLiteral("choice"));
        EXPECT_EQ(desk.prompts[0].text, QStringLiteral("An import of 20,000 contacts from leads.csv stopped after %1. "
                                                       "Finish it, take it back, or keep what came in?")
                                            .arg(QLocale(QLocale::English).toString(arrived)));
        EXPECT_EQ(desk.prompts[0].extra, QStringLiteral("Finish|Take Back|Keep"));
        const QString imported = count(QStringLiteral("where import_id is not null"));
        if (QByteArray(answer) == "Take Back") {
            EXPECT_EQ(imported, QStringLiteral("0"));
            EXPECT_EQ(desk.messages(), QStringList{QStringLiteral("The %1 contacts the import from leads.csv had added "
                                                                  "were taken back.").arg(QLocale(QLocale::English).toString(arrived))});
        } else if (QByteArray(answer) == "Finish") {
            // Every row once: none twice, none left out.
            EXPECT_EQ(imported, QStringLiteral("20000"));
            EXPECT_EQ(count(QStringLiteral("where lastname like 'Lead %'")), QStringLiteral("20000"));
            EXPECT_EQ(rows(sConnContacts, QStringLiteral("select count(distinct lastname) from contacts where import_id is not null")),
                      (std::vector<QStringList>{{QStringLiteral("20000")}}));
            ASSERT_EQ(desk.messages().size(), 1);
            EXPECT_TRUE(desk.messages()[0].startsWith(QStringLiteral("The import from leads.csv is finished.")));
            exec(sConnContacts, QStringLiteral("delete from contacts where lastname like 'Lead %'"));
        } else {
            EXPECT_EQ(imported.toInt(), arrived);
            desk.prompts.clear();
            offerUnfinishedImports(); // kept: nothing asked again
            EXPECT_TRUE(desk.prompts.empty());
        }
        EXPECT_EQ(count(QStringLiteral("where lastname = 'Earlier'")), QStringLiteral("1"));
    }
}

TEST_F(ImportRecoveryTest, MissingTablesOfTheScratchFileAreLoadedAnewInPlainWords)
{
    const QString file = writeBytes(dir.filePath(QStringLiteral("few.csv")), "Name\nAdams\nBaker\n");
    frmImport w;
    w.sCsvPath = file;
    w.sHeaderFields = QStringList{QStringLiteral("Name")};
    w.lstFrom->addItems(w.sHeaderFields);
    w.setEntry(0, QStringLiteral("LastName"));
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    w.cmdDone_Click();
    ASSERT_TRUE(w.bGridLoaded);
    // The README's name opens the file the import uses: a look with the sqlite3 shell changes nothing.
    // Another program empties it instead, before Import is clicked.
    releaseAllDatabaseFiles();
    {
        Connection shell(QStringLiteral("Data Source=") + dataPath(QStringLiteral("tempdb.mdb")));
        shell.execute(QStringLiteral("drop table Main"));
    }
    QTest::mouseClick(w.cmdImport, Qt::LeftButton);
    ASSERT_EQ(desk.messages().size(), 1);
    EXPECT_TRUE(desk.messages()[0].startsWith(QStringLiteral("The rows waiting to be imported are gone: the scratch file")))
        << desk.messages()[0].toStdString();
    EXPECT_FALSE(desk.messages()[0].contains(QStringLiteral("Error")));
    EXPECT_EQ(w.dgTemp->model()->rowCount(), 2); // loaded anew
    QTest::mouseClick(w.cmdImport, Qt::LeftButton);
    EXPECT_EQ(count(), QStringLiteral("2"));
}

TEST_F(ImportRecoveryTest, ALockLeftEmptyOrByAnotherComputerIsTakenOverOnlyAfterAQuestion)
{
    const QString file = writeBytes(dir.filePath(QStringLiteral("few.csv")), "Name\nAdams\n");
    const QStringList entries{FormatMapLine(QStringLiteral("Name"), QStringLiteral("LastName"))};
    QDir().mkpath(dataPath(QString()));
    const QString lock = dataPath(QStringLiteral("tempdb.mdb.lock"));
    // The power went while the lock was written: an empty file.
    writeBytes(lock, QByteArray());
    desk.answerNo();
    EXPECT_FALSE(LoadCsvToTemp(file, entries));
    ASSERT_EQ(desk.prompts.size(), 2u);
    EXPECT_TRUE(desk.prompts[0].text.startsWith(QStringLiteral("An import lock was left on ")));
    EXPECT_TRUE(desk.prompts[0].text.contains(QStringLiteral("its file %1 is empty").arg(lock)));
    EXPECT_TRUE(desk.prompts[1].text.startsWith(QStringLiteral("Another copy of Kestrel is importing")));
    desk.answerYes();
    EXPECT_TRUE(LoadCsvToTemp(file, entries));
    releaseScratch(nullptr);
    // Taken on another computer sharing the folder: named, with the time it was taken.
    writeBytes(lock, "4242\nkestrel\nfar-away-pc\n");
    desk.prompts.clear();
    desk.answerYes();
    EXPECT_TRUE(LoadCsvToTemp(file, entries));
    ASSERT_EQ(desk.prompts.size(), 1u);
    EXPECT_TRUE(desk.prompts[0].text.startsWith(QStringLiteral("The import is locked by Kestrel on the computer far-away-pc since ")));
    releaseScratch(nullptr);
    // A lock held by a running copy on this computer is never taken over, nor asked about.
    QLockFile other(lock);
    ASSERT_TRUE(other.tryLock(0));
    desk.prompts.clear();
    EXPECT_FALSE(LoadCsvToTemp(file, entries));
    ASSERT_EQ(desk.prompts.size(), 1u);
    EXPECT_EQ(desk.prompts[0].kind, QStringLiteral("message"));
}

TEST_F(ImportRecoveryTest, AnOfficeUserImportsThroughAScratchFileAndLockOfTheirOwn)
{
    // A data folder of this run's own: the zone runs of this test go at the same time.
    const QByteArray home = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", dir.filePath(QStringLiteral("share")).toUtf8());
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
    ASSERT_TRUE(folder.startsWith(dir.path()));
    const QString contacts = sConnContacts, main = sConnMain;
    buildConnectionTexts(QStringLiteral("host=db.example dbname=kestrel"));
    sConnContacts = contacts; // the test's own data, wherever it lives
    sConnMain = main;
    const QString file = writeBytes(dir.filePath(QStringLiteral("few.csv")), "Name\nAdams\nBaker\n");
    EXPECT_TRUE(LoadCsvToTemp(file, {FormatMapLine(QStringLiteral("Name"), QStringLiteral("LastName"))}));
    EXPECT_TRUE(QFileInfo::exists(folder + QStringLiteral("/tempdb.mdb.lock")));
    EXPECT_TRUE(ImportTempRows(QStringLiteral("Lead")));
    EXPECT_EQ(count(), QStringLiteral("2"));
    EXPECT_TRUE(desk.messages().isEmpty()) << desk.messages().join(u'\n').toStdString();
    EXPECT_EQ(QDir(folder).entryList({QStringLiteral("*.mdb")}, QDir::Files), QStringList{QStringLiteral("tempdb.mdb")});
    EXPECT_FALSE(QFileInfo::exists(dataPath(QStringLiteral("tempdb.mdb"))));
    releaseAllDatabaseFiles();
    if (home.isNull())
        qunsetenv("XDG_DATA_HOME");
    else
        qputenv("XDG_DATA_HOME", home);
}

TEST_F(ImportRecoveryTest, TheScratchFileIsMadeEmptyWhateverWasThereAndCountsCharacters)
{
    CreateTempDB();
    exec(sConnTemp, QStringLiteral("insert into Main(lastname)values('Old')"));
    // A file under another spelling of the name, with a journal left by a crash beside it.
    releaseAllDatabaseFiles();
    QDir data(dir.filePath(QStringLiteral("data")));
    ASSERT_TRUE(data.rename(QStringLiteral("tempdb.mdb"), QStringLiteral("TEMPDB.MDB")));
    writeBytes(data.filePath(QStringLiteral("TEMPDB.MDB-journal")), "garbage");
    CreateTempDB();
    EXPECT_EQ(data.entryList(QDir::Files), QStringList{QStringLiteral("tempdb.mdb")}); // the one name
    Connection c(sConnTemp);
    Snapshot s(c, QStringLiteral("select * from Main"));
    QStringList names;
    for (int i = 0; i < s.fieldCount(); ++i)
        names << s.fieldName(i);
    EXPECT_EQ(names.join(u','), QStringLiteral("ID,LastName,FirstName,Company,Address,City,ST,Zip,CellPh,HomePh,WorkPh,Ext,Email,Country,"
                                             "JobTitle,WebSite,Birthday,Notes,ConType,Line,Note,Dup,Uid"));
    EXPECT_EQ(s.rowCount(), 0);

    // Fifty accented letters fit LastName (fifty characters, a hundred bytes), fifty-one do not.
    EXPECT_TRUE(ActionQuery(QStringLiteral("insert into Main(lastname)values('%1')").arg(QString(50, QChar(0xe9))), sConnTemp));
    EXPECT_FALSE(ActionQuery(QStringLiteral("insert into Main(lastname)values('%1')").arg(QString(51, u'x')), sConnTemp));
    EXPECT_EQ(desk.messages().size(), 1);
}

} // namespace
