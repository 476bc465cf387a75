// A large file from before the grid's type index, its kept counts and Find's word ends' indexes:
// the windows work at once, the file gains them behind the window, and a stop or a kill half-way
// leaves a file that gains them whole next time.
#include "contacts/frmFind.h"
#include "data/GridPages.h"
#include "data/SearchIndex.h"
#include "data/SearchIndexJob.h"
#include "data/SearchIndexStore.h"
#include "data/SpeedUps.h"
#include "tests/contacts/Helpers.h"
#include "ui/Report.h"

#include <QListWidget>
#include <QProcess>
#include <QTableView>

#include <csignal>

#include <algorithm>
#include <map>
#include <thread>

namespace {

class SpeedUpsTest : public KestrelTest {
protected:
    void TearDown() override
    {
        setSpeedUpsAtOnceRows(20000);
        setSpeedUpWatcher({});
        searchindex::setWalkFirstRows(20000);
        setSearchIndexJob(nullptr);
        KestrelTest::TearDown();
    }
    // Made older: as a file written before the speed-ups, which this small file must wait for as
    // a large one does.
    void makeOlder()
    {
        for (const char* sql : {"drop index contacts_by_type_initial", "drop trigger contacts_count_ins",
                                "drop trigger contacts_count_del", "drop trigger contacts_count_upd",
                                "drop table contact_initials", "drop index contact_find4_by_end1",
                                "drop index contact_find4_by_end2"})
            exec(sConnContacts, sql);
        setSpeedUpsAtOnceRows(0);
        releaseAllDatabaseFiles(); // the next start
    }
    std::int64_t speedUpsThere()
    {
        return rows(sConnContacts, "select count(*) from sqlite_master where name in ('contacts_by_type_initial', "
                                   "'contact_initials', 'contacts_count_ins', 'contact_find4_by_end1', 'contact_find4_by_end2')")
            .at(0)
            .at(0)
            .toLongLong();
    }
    // The grid's letters and count for every contact and for the leads agree with counting the rows.
    void countsAgree(const char* when)
    {
        SCOPED_TRACE(when);
        for (const auto& [filter, where] : std::vector<std::pair<GridFilter, QString>>{
                 {GridFilter{}, ""}, {GridFilter{"Lead", "Both", std::nullopt, false}, " where contype='Lead'"}}) {
            Connection c(sConnContacts);
            std::map<QString, std::int64_t> shown, counted;
            for (const InitialCount& i : gridInitials(c, filter))
                shown[i.key] += i.count;
            for (const QStringList& r : rows(sConnContacts, QStringLiteral("select ifnull(upper(substr(lastname,1,1)),''), "
                                                                           "count(*) from contacts%1 group by 1").arg(where)))
                counted[r[0]] = r[1].toLongLong();
            EXPECT_EQ(shown, counted) << where.toStdString();
        }
    }
    void addSome()
    {
        for (const char* sql :
             {"INSERT INTO contacts(lastname,firstname,company,address,contype,notes) VALUES('Müller','Jürgen','','','Lead','paid vq')",
              "INSERT INTO contacts(lastname,firstname,company,address,contype) VALUES('Adams','Al','Acme','','Cust')",
              "INSERT INTO contacts(lastname,firstname,company,address,contype) VALUES('Baker','Bo','','','Lead')",
              "INSERT INTO contacts(lastname,firstname,company,address,contype) VALUES('Bell','Cy','','','Lead')"})
            exec(sConnContacts, sql);
        prepareSearchIndex(sConnContacts);
    }
};

TEST_F(SpeedUpsTest, AnOlderFileShowsItsListsAndFindAtOnceAndGainsItsSpeedUpsBehindThemWithWritesBetween)
{
    if (onServer())
        GTEST_SKIP() << "the office server keeps its own indexes";
    addSome();
    makeOlder();
    searchindex::setWalkFirstRows(0); // one letter is looked up, as in a large file

    // The windows open before the file gains anything: the counts are counted, Find looks up what
    // its index can answer and says it is not ready for one letter.
    frmContactGrid grid;
    grid.show();
    EXPECT_EQ(grid.model->rowCount(), 4);
    EXPECT_EQ(speedUpsThere(), 0);
    countsAgree("before");
    SearchIndexJob job(sConnContacts);
    setSearchIndexJob(&job);
    QStringList status;
    FollowSearchIndex(job, [&](const QString& text) { status << text; });
    // Find sets the work going at the first letter typed; it is held there until Find has been
    // asked for a letter again, which this small file would otherwise be prepared for before the
    // asking. The window's writes meanwhile still go first.
    std::atomic<bool> held{true};
    setSpeedUpWatcher([&](int, int, const std::atomic<bool>& stop) {
        while (held && !stop && !windowWaitedForLock(100))
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    });
    frmFind find;
    find.show();
    QTest::keyClicks(find.txtFind, "mull");
    ASSERT_EQ(find.lstFound->count(), 1);
    EXPECT_TRUE(find.lstFound->item(0)->text().startsWith("Müller"));
    // The user's own writes meanwhile count, whichever way the counts are read.
    ASSERT_TRUE(ActionQuery("INSERT INTO contacts(lastname,firstname,address,contype) VALUES('Quade','Q','','Lead')", sConnContacts));
    ASSERT_TRUE(ActionQuery("UPDATE contacts SET contype='Cust' WHERE lastname='Bell'", sConnContacts));
    ASSERT_TRUE(ActionQuery("DELETE FROM contacts WHERE lastname='Baker'", sConnContacts));
    countsAgree("written before");
    QTest::keySequence(find.txtFind, QKeySequence::SelectAll);
    QTest::keyClicks(find.txtFind, "q");
    ASSERT_GE(find.lstFound->count(), 1);
    EXPECT_EQ(find.lstFound->item(0)->text(), NotReadyText(4));
    EXPECT_TRUE(job.isRunning());
    held = false;

    ASSERT_TRUE(QTest::qWaitFor([&] { return !job.isRunning(); }, 30000));
    EXPECT_EQ(speedUpsThere(), 5);
    countsAgree("gained");
    EXPECT_EQ(status.value(0), "Preparing the contacts file for its size, once: step 1 of 4");
    EXPECT_TRUE(status.contains("The contacts file is prepared")) << status.join(" / ").toStdString();
    // Find's list fills by itself, with the contact written meanwhile.
    QTest::qWaitFor([&] { return find.lstFound->count() == 2; }, 5000);
    ASSERT_EQ(find.lstFound->count(), 2);
    EXPECT_TRUE(find.lstFound->item(0)->text().startsWith("Müller"));
    EXPECT_TRUE(find.lstFound->item(1)->text().startsWith("Quade"));
    ASSERT_TRUE(ActionQuery("INSERT INTO contacts(lastname,firstname,address,contype) VALUES('Abel','A','','Lead')", sConnContacts));
    countsAgree("written after");
}

TEST_F(SpeedUpsTest, TheWindowsWriteGoesFirstAndAStopHalfWayLeavesAFileThatGainsThemWholeNextTime)
{
    if (onServer())
        GTEST_SKIP() << "the office server keeps its own indexes";
    // Enough rows for the counts to take more than a moment.
    exec(sConnContacts, "INSERT INTO contacts(lastname,firstname,address,contype) WITH RECURSIVE n(i) AS (SELECT 0 UNION "
                        "ALL SELECT i+1 FROM n WHERE i<2999) SELECT char(65 + i % 26) || 'son', 'N' || i, '', "
                        "CASE WHEN i % 3 = 0 THEN 'Lead' ELSE 'Cust' END FROM n");
    addSome();
    makeOlder();
    const int counts = 1; // the kept counts, in contactsFileSpeedUps()
    ASSERT_NE(QString::fromLatin1(contactsFileSpeedUps()[counts].make).indexOf("contact_initials"), -1);

    // Halfway through the counts, the window saves a contact: the counts give way (rolled
    // back) rather than keep the window waiting, and are made again, counting it, after.
    std::atomic<bool> halfway{false}, heldOnce{false};
    setSpeedUpWatcher([&](int index, int, const std::atomic<bool>&) {
        if (index != counts || heldOnce.exchange(true))
            return;
        halfway = true;
        for (int i = 0; i < 1000 && !windowWaitedForLock(100); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    });
    {
        SearchIndexJob job(sConnContacts);
        job.start();
        ASSERT_TRUE(QTest::qWaitFor([&] { return halfway.load(); }, 10000));
        ASSERT_TRUE(ActionQuery("INSERT INTO contacts(lastname,firstname,address,contype) VALUES('Ames','A','','Lead')", sConnContacts));
        EXPECT_EQ(rows(sConnContacts, "select count(*) from sqlite_master where name='contact_initials'"),
                  (std::vector<QStringList>{{"0"}}));
        ASSERT_TRUE(QTest::qWaitFor([&] { return !job.isRunning(); }, 30000));
    }
    EXPECT_EQ(speedUpsThere(), 5);
    countsAgree("made after the window's write");

    // The program closed halfway through the counts: nothing of them is left, and the next start
    // makes them whole.
    makeOlder();
    halfway = false;
    setSpeedUpWatcher([&](int index, int, const std::atomic<bool>& stop) {
        if (index != counts)
            return;
        halfway = true;
        while (!stop)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    });
    {
        SearchIndexJob job(sConnContacts);
        job.start();
        ASSERT_TRUE(QTest::qWaitFor([&] { return halfway.load(); }, 10000));
    } // closed
    EXPECT_EQ(rows(sConnContacts, "select count(*) from sqlite_master where name in ('contact_initials', 'contacts_count_ins')"),
              (std::vector<QStringList>{{"0"}}));
    EXPECT_EQ(rows(sConnContacts, "pragma integrity_check"), (std::vector<QStringList>{{"ok"}}));
    ASSERT_TRUE(ActionQuery("DELETE FROM contacts WHERE lastname='Adams'", sConnContacts));
    setSpeedUpWatcher({});
    releaseAllDatabaseFiles();
    const std::atomic<bool> never{false};
    EXPECT_TRUE(makeSpeedUps(sConnContacts, contactsFileSpeedUps(), {}, never));
    EXPECT_EQ(speedUpsThere(), 5);
    countsAgree("made the next time");
}

TEST_F(SpeedUpsTest, AProgramKilledHalfWayThroughASpeedUpLeavesEveryContactAndTheNextOpenMakesThemAll)
{
    if (onServer())
        GTEST_SKIP() << "the office server keeps its own indexes";
    exec(sConnContacts, "INSERT INTO contacts(lastname,firstname,company,city,workph,address,contype) WITH RECURSIVE "
                        "n(i) AS (SELECT 0 UNION ALL SELECT i+1 FROM n WHERE i<1499) SELECT char(65 + i % 26) || 'son', "
                        "'N' || i, CASE WHEN i % 5 = 0 THEN 'Acme' END, 'Town ' || (i % 7), '555-01' || (i % 97), '', "
                        "CASE WHEN i % 3 = 0 THEN 'Lead' ELSE 'Cust' END FROM n");
    addSome();
    const std::vector<QStringList> written = rows(sConnContacts, "select * from contacts order by id");
    // What Find must list for a text: every contact whose fields hold each of its pieces.
    auto readAll = [&](const QString& text) {
        std::vector<int> ids;
        const QStringList needles = searchNeedles(text);
        for (const QStringList& r : rows(sConnContacts, "select id, ifnull(lastname,''), ifnull(firstname,''), ifnull(company,''), "
                                                        "ifnull(city,''), ifnull(email,''), ifnull(homeph,''), ifnull(cellph,''), "
                                                        "ifnull(workph,''), ifnull(notes,'') from contacts")) {
            const QString words = searchWords(r[1], r[2], r[3], r[4], r[5], r[6], r[7], r[8]) + u'\n' + foldedText(r[9]);
            if (std::all_of(needles.begin(), needles.end(), [&](const QString& n) { return words.contains(n); }))
                ids.push_back(r[0].toInt());
        }
        return ids;
    };
    // The worker (tests/crash) opens the file and makes them, telling how far into each it is.
    auto start = [&](QProcess& worker, int holdIndex, int holdAt) {
        worker.start(QStringLiteral(KESTREL_CRASH_WORKER), {QStringLiteral("--speed-ups"), dir.path(),
                                                            QString::number(holdIndex), QString::number(holdAt)});
    };
    // Once to the end: how far each speed-up the older file lacks goes, for half-way.
    makeOlder();
    std::map<int, int> lengths;
    {
        QProcess worker;
        start(worker, -1, 0);
        ASSERT_TRUE(worker.waitForFinished(30000));
        const QByteArray told = worker.readAllStandardOutput();
        ASSERT_TRUE(told.endsWith("done\n")) << told.constData() << worker.readAllStandardError().constData();
        for (const QByteArray& line : told.split('\n'))
            if (const QList<QByteArray> w = line.split(' '); w.value(0) == "making")
                lengths[w.value(1).toInt()] = w.value(2).toInt();
    }
    EXPECT_EQ(speedUpsThere(), 5);
    ASSERT_EQ(lengths.size(), 4u);

    const std::vector<SpeedUp>& ups = contactsFileSpeedUps();
    for (const auto& [killed, length] : lengths) {
        SCOPED_TRACE(killed);
        makeOlder();
        QProcess worker;
        start(worker, killed, (length + 1) / 2);
        const QByteArray halfWay = QStringLiteral("making %1 %2\n").arg(killed).arg((length + 1) / 2).toUtf8();
        QByteArray told;
        while (!told.contains(halfWay) && worker.waitForReadyRead(20000))
            told += worker.readAllStandardOutput();
        ASSERT_EQ(worker.state(), QProcess::Running) << told.constData() << worker.readAllStandardError().constData();
        ::kill(pid_t(worker.processId()), SIGKILL); // its transaction open
        ASSERT_TRUE(worker.waitForFinished(20000));
        releaseAllDatabaseFiles();

        EXPECT_EQ(rows(sConnContacts, "pragma integrity_check"), (std::vector<QStringList>{{"ok"}}));
        EXPECT_EQ(rows(sConnContacts, "select * from contacts order by id"), written);
        // Those made before it whole, the one killed not at all.
        for (const auto& other : lengths)
            EXPECT_EQ(rows(sConnContacts, ups[size_t(other.first)].missing).empty(), other.first < killed) << other.first;
        const std::atomic<bool> never{false};
        EXPECT_TRUE(makeSpeedUps(sConnContacts, ups, {}, never));
        EXPECT_EQ(speedUpsThere(), 5);
        countsAgree("made the next time");
        for (const char* text : {"s", "n1", "acme town 3"}) {
            std::vector<int> found;
            for (const FoundContact& c : findContacts(sConnContacts, text, 100000).rows)
                found.push_back(c.id);
            std::sort(found.begin(), found.end());
            EXPECT_EQ(found, readAll(text)) << text;
        }
    }
}

} // namespace
