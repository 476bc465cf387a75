// Backups of the local data files: the day's copy at start-up under a scripted clock (also a wrong
// one), what is kept, a full disk, a folder that may not be written, a stick not plugged in, a
// restore driven by keys on the shown windows, and the office mode's word on backups.
#include "app/frmKestrel.h"
#include "calendar/RemindPanel.h"
#include "contacts/LeadPanel.h"
#include "data/Backup.h"
#include "data/Globals.h"
#include "data/Office.h"
#include "data/SearchIndex.h"
#include "data/Trash.h"
#include "dialogs/frmRestore.h"
#include "dialogs/modBackup.h"
#include "tests/contacts/Common.h"
#include "tests/support/Files.h"
#include "tests/support/PrintQString.h"
#include "ui/Undo.h"

#include <QDirIterator>
#include <QTest>
#include <QtWidgets>

#include <sqlite3.h>

#include <unistd.h>

using namespace kestrel;
using namespace kestrel::test;

namespace {

// Every row of every table of a database file, each value with its type, and the schema itself:
// what "the same data" means.
QStringList dumpFile(const QString& path)
{
    QStringList out;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        ADD_FAILURE() << "cannot open " << path.toStdString();
        sqlite3_close(db);
        return out;
    }
    auto rowsOf = [&](const QString& sql) {
        std::vector<QStringList> rows;
        sqlite3_stmt* st = nullptr;
        EXPECT_EQ(sqlite3_prepare_v2(db, sql.toUtf8().constData(), -1, &st, nullptr), SQLITE_OK) << sql.toStdString();
        while (st && sqlite3_step(st) == SQLITE_ROW) {
            QStringList row;
            for (int i = 0; i < sqlite3_column_count(st); ++i) {
                const int type = sqlite3_column_type(st, i);
                const QByteArray bytes(static_cast<const char*>(sqlite3_column_blob(st, i)), sqlite3_column_bytes(st, i));
                row << QString::number(type) + u':' + QString::fromLatin1(bytes.toHex());
            }
            rows.push_back(row);
        }
        sqlite3_finalize(st);
        return rows;
    };
    for (const QStringList& t : rowsOf(QStringLiteral("SELECT type, name, tbl_name, sql FROM sqlite_master ORDER BY type, name")))
        out << QStringLiteral("schema ") + t.join(u'|');
    for (const QStringList& t : rowsOf(QStringLiteral("SELECT name FROM sqlite_master WHERE type='table' ORDER BY name"))) {
        const QString table = QString::fromLatin1(QByteArray::fromHex(t[0].mid(2).toLatin1()));
        // Row order is the engine's business (a table without rowid has none): the rows are sorted.
        QStringList rows;
        for (const QStringList& row : rowsOf(QStringLiteral("SELECT * FROM \"%1\"").arg(table)))
            rows << table + u' ' + row.join(u'|');
        rows.sort();
        out << rows;
    }
    sqlite3_close(db);
    return out;
}

QString integrity(const QString& path)
{
    sqlite3* db = nullptr;
    QString result = QStringLiteral("cannot open");
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &st, nullptr) == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW)
            result = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
        sqlite3_finalize(st);
    }
    sqlite3_close(db);
    return result;
}

QStringList folderNames(const QString& root)
{
    return QDir(root).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
}

class BackupTest : public KestrelTest {
protected:
    void SetUp() override
    {
        KestrelTest::SetUp();
        qunsetenv(kBackupDirVariable);
        if (onServer())
            GTEST_SKIP() << "backups are of the local files; the office server's are made with pg_dump";
    }
    void TearDown() override
    {
        qunsetenv(kBackupDirVariable);
        KestrelTest::TearDown();
    }
    void setClock(const QDate& day, const QTime& time = QTime(9, 30))
    {
        desk.todayValue = day;
        desk.nowValue = QDateTime(day, time);
    }
    // A start's copy, waited for as the event loop would deliver it; returns what the status bar got.
    QString startOfDay(QObject* owner)
    {
        QString status;
        BackupJob* job = StartDailyBackup(owner, [&status](const QString& text) { status = text; });
        if (!job)
            return QStringLiteral("<no job>");
        job->wait();
        EXPECT_TRUE(QTest::qWaitFor([job] { return job->isDone(); }));
        delete job;
        return status;
    }
    // A copy of the data as they are now; empty when made, else why not.
    QString backUpNow()
    {
        const BackupOutcome made = makeBackup({backedUpFiles(), programBackupRoot(), desk.nowValue, true});
        return made.status == BackupStatus::Made ? QString() : made.detail + u' ';
    }
    QString root() const { return dir.path() + QStringLiteral("/data/backups"); }
    QStringList dumpBoth() const { return dumpFile(dataPath("contacts.mdb")) + dumpFile(dataPath("kestrel.mdb")); }
};

} // namespace

TEST(BackupRules, SevenDaysAndTheNewestCopyOfFourOlderWeeksAreKeptCountedAmongTheCopiesNotBackFromToday)
{
    std::vector<BackupCopy> copies;
    for (QDate d(2027, 1, 1); d <= QDate(2027, 2, 9); d = d.addDays(1))
        copies.push_back({backupFolderName(d), d, {}});
    copies.push_back({QStringLiteral("x"), QDate(2027, 2, 9), QTime(14, 22, 10)}); // a Backup Now of the day
    const auto expired = [](const std::vector<BackupCopy>& all, const QDate& today) {
        QStringList names;
        for (const BackupCopy& c : expiredBackups(all, today))
            names << backupFolderName(c.day, c.time);
        return names;
    };
    const auto kept = [&](const std::vector<BackupCopy>& all, const QDate& today) {
        QStringList gone = expired(all, today), names;
        for (const BackupCopy& c : all)
            if (!gone.contains(backupFolderName(c.day, c.time)))
                names << backupFolderName(c.day, c.time);
        names.sort();
        return names.join(u' ');
    };
    // Tuesday 2/9: every copy of 2/3 to 2/9, and the Sundays of the four weeks before the week of 2/3.
    EXPECT_EQ(kept(copies, QDate(2027, 2, 9)),
              "2027-01-10 2027-01-17 2027-01-24 2027-01-31 2027-02-03 2027-02-04 2027-02-05 2027-02-06 2027-02-07 "
              "2027-02-08 2027-02-09 2027-02-09-142210");
    // Weeks and days are those that have copies: a user away for months loses none of them.
    const std::vector<BackupCopy> sparse = {{{}, QDate(2026, 3, 2), {}}, {{}, QDate(2026, 5, 7), {}}, {{}, QDate(2026, 9, 1), {}}};
    EXPECT_TRUE(expired(sparse, QDate(2027, 2, 9)).isEmpty());
    // A clock set back a year: every copy is "from the future" and none goes.
    EXPECT_TRUE(expired(copies, QDate(2026, 2, 9)).isEmpty());
    // Set back a week: the copies after it are neither let go nor counted; of those up to it, the
    // seven newest days and the older weeks' newest copies stay.
    EXPECT_EQ(expired(copies, QDate(2027, 2, 2)).join(u' '),
              "2027-01-26 2027-01-25 2027-01-23 2027-01-22 2027-01-21 2027-01-20 2027-01-19 2027-01-18 2027-01-16 "
              "2027-01-15 2027-01-14 2027-01-13 2027-01-12 2027-01-11 2027-01-09 2027-01-08 2027-01-07 2027-01-06 "
              "2027-01-05 2027-01-04 2027-01-02 2027-01-01");

    QDate day;
    QTime time;
    EXPECT_TRUE(parseBackupFolderName(QStringLiteral("2027-02-09-142210"), &day, &time));
    EXPECT_EQ(QDateTime(day, time), QDateTime(QDate(2027, 2, 9), QTime(14, 22, 10)));
    for (const char* foreign : {"2027-02-30", "2027-2-09", "photos", "2027-02-09-250000", "2027-02-09 142210", "２０２７-02-09"})
        EXPECT_FALSE(parseBackupFolderName(QString::fromUtf8(foreign), &day, &time)) << foreign;
}

TEST_F(BackupTest, OneCopyADayUnderAScriptedClockKeepsElevenAndAClockSetBackLetsNoNewerCopyGo)
{
    addContact(QStringLiteral("Adams"), QStringLiteral("Ann"));
    exec(sConnMain, QStringLiteral("Insert into todo (todo)values('Call the bank')"));
    QObject owner;
    QDir().mkpath(root());
    QDir(root()).mkdir(QStringLiteral("photos")); // not Kestrel's: never touched
    for (QDate d(2027, 1, 1); d <= QDate(2027, 3, 1); d = d.addDays(1)) {
        setClock(d);
        ASSERT_EQ(startOfDay(&owner), "Today's backup: " + root() + u'/' + backupFolderName(d)) << d.toString(Qt::ISODate).toStdString();
        // A second start the same day makes none.
        setClock(d, QTime(17, 0));
        EXPECT_EQ(startOfDay(&owner), "") << d.toString(Qt::ISODate).toStdString();
        ASSERT_LE(listBackups(root()).size(), size_t(kDailyCopies + kWeeklyCopies)) << d.toString(Qt::ISODate).toStdString();
    }
    EXPECT_EQ(folderNames(root()).join(u' '),
              "2027-01-31 2027-02-07 2027-02-14 2027-02-21 2027-02-23 2027-02-24 2027-02-25 2027-02-26 2027-02-27 "
              "2027-02-28 2027-03-01 photos");
    EXPECT_EQ(dumpFile(root() + "/2027-03-01/contacts.mdb"), dumpFile(dataPath("contacts.mdb")));

    // The clock set back most of a year: a copy is made under that day, and none of the newer
    // ones is let go as "old".
    setClock(QDate(2026, 6, 1));
    EXPECT_EQ(startOfDay(&owner), "Today's backup: " + root() + "/2026-06-01");
    EXPECT_EQ(folderNames(root()).size(), 13);
    // The clock put right: the wrong day's copy is let go only now that newer weeks have copies.
    setClock(QDate(2027, 3, 2));
    startOfDay(&owner);
    EXPECT_EQ(folderNames(root()).join(u' '),
              "2027-01-31 2027-02-07 2027-02-14 2027-02-21 2027-02-24 2027-02-25 2027-02-26 2027-02-27 2027-02-28 "
              "2027-03-01 2027-03-02 photos");
    for (const QString& name : folderNames(root())) {
        const QFileInfo info(root() + u'/' + name);
        if (name != u"photos") {
            EXPECT_EQ(info.permissions() & 0x7777, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                                       QFile::ReadUser | QFile::WriteUser | QFile::ExeUser) << (name).toStdString();
        }
    }
    EXPECT_EQ(QFileInfo(root() + "/2027-03-02/contacts.mdb").permissions() & 0x7777,
              QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
}

TEST_F(BackupTest, AFullDiskAFolderThatMayNotBeWrittenAndAStickNotPluggedInAreSaidAndTheStartGoesOn)
{
    for (int i = 0; i < 300; ++i)
        addContact(QStringLiteral("Row%1").arg(i), QString(200, u'x'));
    frmKestrel main;
    main.Form_Load();
    main.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&main));

    // A full disk: no file of this process may grow past 64 KiB while the copy is made.
    kestrel::test::withDiskFull(64 * 1024, [&] {
        BackupJob* job = StartDailyBackup(&main, [&main](const QString& t) { main.showStatus(t); });
        ASSERT_NE(job, nullptr);
        job->wait();
    });
    // Said once the window is free, in plain words, with what to do; no half copy is left.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !desk.messages().isEmpty(); }));
    const QString full = desk.messages().last();
    EXPECT_TRUE(full.startsWith("Today's backup was not made: the disk that holds the folder " + root() + " is full."))
        << (full).toStdString();
    EXPECT_TRUE(full.contains("KESTREL_BACKUP_DIR") && full.contains("next start") && !full.contains("report")) << (full).toStdString();
    EXPECT_EQ(main.statusPanels[1]->text(), "Today's backup was not made");
    EXPECT_TRUE(listBackups(root()).empty());
    EXPECT_TRUE(QDir(root()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).isEmpty());

    // The start went on: the window takes keys and the data take changes.
    QTest::keyClick(&main, Qt::Key_F3);
    EXPECT_TRUE(main.isLeadInFront());
    addContact(QStringLiteral("After"), QStringLiteral("Full"));

    // A stick that is not plugged in: its folder is not made on this disk.
    const QString stick = dir.path() + "/media/STICK";
    qputenv(kBackupDirVariable, (stick + "/kestrel").toUtf8());
    startOfDay(&main);
    ASSERT_TRUE(QTest::qWaitFor([&] { return desk.messages().size() == 2; }));
    EXPECT_TRUE(desk.messages().last().startsWith("Today's backup was not made: the folder " + stick + " is not there"))
        << (desk.messages().last()).toStdString();
    EXPECT_TRUE(desk.messages().last().contains("plug")) << (desk.messages().last()).toStdString();
    EXPECT_FALSE(QFileInfo::exists(stick));

    // A folder this user may not change (as root, the copy is made as nobody, to whom the data
    // files are given).
    const QString locked = dir.path() + "/locked";
    QDir().mkpath(locked);
    ::chmod(QFile::encodeName(locked).constData(), 0555);
    qputenv(kBackupDirVariable, locked.toUtf8());
    const bool asNobody = ::geteuid() == 0;
    if (asNobody) {
        releaseAllDatabaseFiles();
        QDirIterator it(dir.path() + "/data", QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDirIterator::Subdirectories);
        ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
        ASSERT_EQ(::chown(QFile::encodeName(dir.path() + "/data").constData(), 65534, 65534), 0);
        while (it.hasNext())
            ASSERT_EQ(::chown(QFile::encodeName(it.next()).constData(), 65534, 65534), 0);
        ASSERT_EQ(::setegid(65534), 0);
        ASSERT_EQ(::seteuid(65534), 0);
    }
    BackupJob* job = StartDailyBackup(&main, [](const QString&) {});
    job->wait();
    if (asNobody) {
        ASSERT_EQ(::seteuid(0), 0);
        ASSERT_EQ(::setegid(0), 0);
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return desk.messages().size() == 3; }));
    EXPECT_TRUE(desk.messages().last().startsWith("Today's backup was not made: you may not change the folder " + locked + "."))
        << (desk.messages().last()).toStdString();
    EXPECT_TRUE(desk.messages().last().contains("KESTREL_BACKUP_DIR")) << (desk.messages().last()).toStdString();
    EXPECT_TRUE(QDir(locked).isEmpty());
}

TEST_F(BackupTest, ACopyWhoseCheckFailsIsRemovedAndTheDamageInTheDataFileIsNamed)
{
    for (int i = 0; i < 50; ++i)
        addContact(QStringLiteral("Row%1").arg(i), QStringLiteral("Ann"), i % 2 ? QStringLiteral("Lead") : QStringLiteral("Cust"));
    releaseAllDatabaseFiles();
    // The two contact indexes swapped: every page reads, but no index matches its table.
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(QFile::encodeName(dataPath("contacts.mdb")).constData(), &db), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(db,
                               "PRAGMA writable_schema=ON;"
                               "UPDATE sqlite_master SET rootpage = (SELECT sum(rootpage) FROM sqlite_master WHERE name IN "
                               "('contacts_by_name','contacts_by_type')) - rootpage WHERE name IN "
                               "('contacts_by_name','contacts_by_type');",
                               nullptr, nullptr, nullptr),
                  SQLITE_OK);
        sqlite3_close(db);
    }
    ASSERT_NE(integrity(dataPath("contacts.mdb")), "ok");
    const QByteArray before = readBytes(dataPath("contacts.mdb"));
    const BackupOutcome o = makeBackup({backedUpFiles(), programBackupRoot(), desk.nowValue, true});
    EXPECT_EQ(o.status, BackupStatus::CheckFailed);
    EXPECT_TRUE(o.sourceFault);
    EXPECT_TRUE(listBackups(root()).empty());
    EXPECT_TRUE(QDir(root()).isEmpty());
    const QString text = BackupFailureText(o, QStringLiteral("Today's backup"));
    EXPECT_TRUE(text.startsWith("Today's backup was not made: the engine's check found damage in the data file " +
                                dataPath("contacts.mdb")))
        << (text).toStdString();
    EXPECT_TRUE(text.contains("File > Restore Backup")) << (text).toStdString();
    EXPECT_EQ(readBytes(dataPath("contacts.mdb")), before);
}

TEST_F(BackupTest, ARestoreDrivenByKeysBringsBackTheDataOfItsDayRowForRowAndEveryListShowsIt)
{
    // The data of the first day: names with apostrophes and accents, an empty value, the Find index.
    setClock(QDate(2027, 3, 7));
    const int ann = addContact(QStringLiteral("O'Brien"), QStringLiteral("Ann"));
    addContact(QStringLiteral("Ångström"), QStringLiteral("Émile"), QStringLiteral("Cust"));
    exec(sConnContacts, QStringLiteral("update contacts set email=NULL, zip='02134' where id=%1").arg(ann));
    addAppt(QDate(2027, 3, 8), QTime(10, 0), QStringLiteral("Visit Ann"));
    exec(sConnMain, QStringLiteral("Insert into todo (todo)values('Call the bank')"));
    prepareSearchIndex(sConnContacts);

    frmKestrel main;
    main.Form_Load();
    main.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&main));
    ASSERT_TRUE(activated(&main));
    startOfDay(&main);
    const QStringList firstDay = dumpBoth();
    ASSERT_GT(firstDay.size(), 10);
    EXPECT_EQ(integrity(root() + "/2027-03-07/contacts.mdb"), "ok");
    EXPECT_EQ(integrity(root() + "/2027-03-07/kestrel.mdb"), "ok");
    EXPECT_EQ(dumpFile(root() + "/2027-03-07/contacts.mdb") + dumpFile(root() + "/2027-03-07/kestrel.mdb"), firstDay);

    // The next day the data change, and a line of the tree is read (a waiting connection).
    setClock(QDate(2027, 3, 8), QTime(14, 22, 10));
    exec(sConnContacts, QStringLiteral("delete from contacts where id=%1").arg(ann));
    for (int i = 0; i < 30; ++i)
        addContact(QStringLiteral("New%1").arg(i), QStringLiteral("Bo"));
    // A delete the user could take back with Ctrl+Z, until the restore.
    const int slip = addContact(QStringLiteral("Slip"), QStringLiteral("Sam"));
    rememberTrashed(QStringLiteral("Delete Contact 'Slip, Sam'"), sConnContacts,
                    moveToTrash(sConnContacts, TrashTable::Contacts, {{slip, slip}}, QStringLiteral("Slip, Sam")));
    exec(sConnContacts, QStringLiteral("delete from appointments"));
    exec(sConnMain, QStringLiteral("delete from todo"));
    QTest::keyClick(&main, Qt::Key_F3);
    const QStringList secondDay = dumpBoth();

    // File > Backup Now by its access keys says where the copy went.
    ASSERT_TRUE(activated(&main));
    chooseFromMenu(desk, &main, main.mnuFile, Qt::Key_F, Qt::Key_B);
    ASSERT_TRUE(QTest::qWaitFor([&] { return desk.messages().size() == 1; }));
    const QString laterCopy = root() + "/2027-03-08";
    EXPECT_EQ(desk.messages()[0], "Your contacts, appointments and to-do list were backed up to the folder " + laterCopy + ".");

    // File > Restore Backup by its access keys, inside running on the shown window.
    const auto restoreBackup = [&](const std::function<void(frmRestore&)>& inside) {
        desk.onModal("frmRestore", [&](QDialog& d) { inside(static_cast<frmRestore&>(d)); });
        ASSERT_TRUE(activated(&main));
        chooseFromMenu(desk, &main, main.mnuFile, Qt::Key_F, Qt::Key_R);
    };
    // Escape closes it and nothing changes.
    restoreBackup([&](frmRestore& f) {
        EXPECT_EQ(f.windowTitle(), "Restore Backup");
        QTest::keyClick(f.lstCopies, Qt::Key_Escape);
        EXPECT_FALSE(f.isVisible());
    });
    EXPECT_EQ(dumpBoth(), secondDay);

    // Again: Down to the first day's copy, Enter, Yes.
    restoreBackup([&](frmRestore& f) {
        ASSERT_EQ(f.lstCopies->count(), 2);
        EXPECT_EQ(f.lstCopies->item(0)->text(), "Mon 3/8/2027                 31 contacts  0 appointments");
        EXPECT_EQ(f.lstCopies->item(1)->text(), "Sun 3/7/2027                  2 contacts  1 appointment");
        EXPECT_EQ(QApplication::focusWidget(), f.lstCopies);
        QTest::keyClick(f.lstCopies, Qt::Key_Down);
        EXPECT_EQ(f.lblFolder->text(), "Folder: " + root() + "/2027-03-07");
        desk.answerYes();
        QTest::keyClick(f.lstCopies, Qt::Key_Return);
        EXPECT_FALSE(f.isVisible());
    });

    const Prompt& asked = desk.prompts.at(desk.prompts.size() - 2);
    EXPECT_EQ(asked.kind, "question");
    EXPECT_EQ(asked.text, "Restore the backup of Sunday, March 7, 2027 (2 contacts and 1 appointment)?\r\n\r\n"
                          "What Kestrel holds now (31 contacts and 0 appointments) is backed up first, so you can go "
                          "back to it from this list.");
    const QString beforeCopy = root() + "/2027-03-08-142210";
    EXPECT_EQ(desk.messages().last(), "The backup of Sunday, March 7, 2027 was restored: Kestrel now holds 2 contacts and "
                                      "1 appointment.\r\n\r\nWhat it held before is in the folder " + beforeCopy + ".");
    // Row for row the first day's data; what was there before the restore is in its own copy.
    EXPECT_EQ(dumpBoth(), firstDay);
    EXPECT_EQ(integrity(dataPath("contacts.mdb")), "ok");
    EXPECT_EQ(dumpFile(beforeCopy + "/contacts.mdb") + dumpFile(beforeCopy + "/kestrel.mdb"), secondDay);
    // And it is what the program shows: the tree, the seven-day list, the to-do list.
    QStringList tree;
    for (QTreeWidgetItem* node : main.lead->tvLead->findItems("*", Qt::MatchWildcard | Qt::MatchRecursive))
        if (node->parent())
            tree << node->text(0);
    EXPECT_EQ(tree.join(u'|'), "Ångström, Émile - |O'Brien, Ann - ");
    EXPECT_EQ(main.remind->lstWeek->findItems("Visit Ann", Qt::MatchContains).size(), 1);
    EXPECT_EQ(main.remind->lstToDo->findItems("Call the bank", Qt::MatchContains).size(), 1);
    EXPECT_EQ(rows(sConnContacts, "select count(*) from contacts").at(0).at(0), "2");

    // The delete before the restore is not this data's: Ctrl+Z has nothing to take back.
    EXPECT_EQ(undoCaption(), "Can't Undo");
    const qsizetype told = desk.messages().size();
    QTest::keyClick(&main, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(desk.messages().size(), told) << desk.messages().last().toStdString();
    EXPECT_EQ(dumpBoth(), firstDay);
    forgetChanges();
}

TEST_F(BackupTest, ADamagedDataFileIsKeptAsideAndTheBackupPutInItsPlace)
{
    addContact(QStringLiteral("Adams"), QStringLiteral("Ann"));
    exec(sConnMain, QStringLiteral("Insert into todo (todo)values('Call the bank')"));
    setClock(QDate(2027, 3, 7));
    ASSERT_EQ(backUpNow(), "");
    const QStringList saved = dumpFile(dataPath("contacts.mdb"));
    releaseAllDatabaseFiles();
    for (const char* side : {"-wal", "-shm"})
        QFile::remove(dataPath("contacts.mdb") + side);
    writeBytes(dataPath("contacts.mdb"), QByteArray(8192, 'Z'));

    frmRestore window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    ASSERT_EQ(window.lstCopies->count(), 1);
    desk.answerYes(); // restore?
    desk.answerYes(); // it cannot be backed up first: restore all the same?
    QTest::keyClick(window.lstCopies, Qt::Key_Return);
    EXPECT_TRUE(window.bRestored);
    const QStringList asides = QDir(dir.path() + "/data").entryList({"contacts.mdb.damaged-*"});
    ASSERT_EQ(asides.size(), 1);
    EXPECT_EQ(readBytes(dir.path() + "/data/" + asides[0]), QByteArray(8192, 'Z'));
    EXPECT_EQ(dumpFile(dataPath("contacts.mdb")), saved);
    EXPECT_EQ(rows(sConnContacts, "select lastname from contacts").at(0).at(0), "Adams");
    EXPECT_TRUE(desk.messages().last().contains("was restored")) << (desk.messages().last()).toStdString();
}

TEST_F(BackupTest, ARestoreThatFailsHalfwayLeavesBothDataFilesAsTheyWere)
{
    setClock(QDate(2027, 3, 7));
    addContact(QStringLiteral("Adams"), QStringLiteral("Ann"));
    exec(sConnMain, QStringLiteral("Insert into todo (todo)values('Call the bank')"));
    ASSERT_EQ(backUpNow(), "");
    setClock(QDate(2027, 3, 8));
    addContact(QStringLiteral("Baker"), QStringLiteral("Bo"));
    exec(sConnMain, QStringLiteral("delete from todo"));
    const QStringList now = dumpBoth();

    // contacts.mdb is restored first; kestrel.mdb is then held by another program's write, so
    // its restore fails and contacts.mdb must go back to what it held.
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(QFile::encodeName(dataPath("kestrel.mdb")).constData(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);

    frmRestore window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    ASSERT_EQ(window.lstCopies->count(), 1);
    desk.answerYes();
    QTest::keyClick(window.lstCopies, Qt::Key_Return);
    sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(other);

    EXPECT_EQ(dumpBoth(), now);
    const QString text = desk.messages().last();
    EXPECT_TRUE(text.startsWith("The backup of Sunday, March 7, 2027 could not be restored: ")) << text.toStdString();
    EXPECT_TRUE(text.contains("kestrel.mdb")) << text.toStdString();
    EXPECT_TRUE(text.contains("\r\n\r\nYour data are as they were. What Kestrel held before is in the folder " + root() +
                              "/2027-03-08")) << text.toStdString();
    EXPECT_EQ(rows(sConnContacts, "select count(*) from contacts").at(0).at(0), "2");
}

TEST_F(BackupTest, InOfficeModeBothMenuItemsSayTheServerKeepsTheBackupsAndMakeNone)
{
    frmKestrel main;
    main.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&main));
    // No server is reached: the words need only its name.
    sConnContacts = serverConnectionText(QStringLiteral("host=db.example dbname=kestrel"));
    sConnMain = sConnContacts;
    EXPECT_EQ(StartDailyBackup(&main, {}), nullptr);
    main.mnuFileBackup->trigger();
    main.mnuFileRestore->trigger();
    ASSERT_EQ(desk.messages().size(), 2);
    EXPECT_EQ(desk.messages()[0], desk.messages()[1]);
    EXPECT_EQ(desk.messages()[0],
              "Your contacts, appointments and to-do lists are kept on the office database kestrel on db.example, not "
              "in files on this computer, so Kestrel makes no copies of them here.\r\n\r\nBacking up the office "
              "database is the server's job: whoever looks after the server makes the copies there with pg_dump and "
              "restores one with pg_restore (see \"Backups\" in Kestrel's README).");
    EXPECT_FALSE(QFileInfo::exists(root()));
    buildConnectionTexts();
}
