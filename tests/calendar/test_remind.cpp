// The reminder panel: the seven-day list with its purge, and the to-do list.
#include "tests/calendar/Helpers.h"

#include "data/Office.h"
#include "calendar/Housekeeping.h"
#include "data/Housekeeping.h"
#include "data/HistoryRecord.h"
#include "data/modData.h"
#include "ui/QtPlatform.h"
#include "ui/Report.h"
#include "ui/Undo.h"

static const QString kToDoPromptText = QStringLiteral("Enter a To Do item 25 characters or less");

class RemindTest : public CalendarTest {
protected:
    QString apptDates() { return stored("select apptdate from appointments order by apptdate"); }
    QString items() { return joined(rows(sConnMain, "select todo from todo order by id")); }
    // The input box of the first prompt: "text|caption|default".
    QString firstBox() const { return desk.prompts[0].text + u'|' + desk.prompts[0].caption + u'|' + desk.prompts[0].extra; }
    // The day and the first line of each of the seven-day list's blocks.
    QStringList weekHeads()
    {
        QStringList heads;
        const QStringList shown = lines(remind->lstWeek);
        for (int i = 0; i + 1 < shown.size(); i += 5)
            heads << shown[i] + u' ' + shown[i + 1];
        return heads;
    }
    QListWidget* todo = remind->lstToDo;
    const QString sep = QStringLiteral("     * * * * * ");
};

TEST_F(RemindTest, WeekListsTodayThroughTheSeventhDayInFiveLineBlocks)
{
    // Today is Friday 4 December 2026.
    addAppt(QDate(2026, 12, 3), QTime(9, 0), "Yesterday");
    addAppt(QDate(2026, 12, 4), QTime(9, 30), "Quarterly review with the bank, all the figures",
            "Alexandra Featherstonehaugh-Smith", "O'Hare Building, 5th floor, room 12");
    addAppt(QDate(2026, 12, 11), QTime(23, 30), "Last day");
    addAppt(QDate(2026, 12, 12), QTime(8, 0), "Too late");
    exec(sConnContacts, "insert into appointments(apptdate) values(#12/5/2026#)");
    remind->PopWeekList();
    remind->PopWeekList(); // a refill replaces, never adds
    EXPECT_EQ(lines(remind->lstWeek),
              QStringList({"Friday, 12/4/2026", "9:30 AM - Quarterly review with the bank, all the figures",
                           "     Alexandra Featherstonehaugh-Smith", "     O'Hare Building, 5th floor, room 12", kSeparator,
                           "Saturday, 12/5/2026", " - ", "     ", "     ", kSeparator,
                           "Friday, 12/11/2026", "11:30 PM - Last day", "     Ann Lee", "     Main office", kSeparator}));
    EXPECT_TRUE(desk.messages().isEmpty());
}

TEST_F(RemindTest, WeekListsAnAppointmentOfSeveralDaysOnEachOfItsDaysAcrossTheClockChange)
{
    // Friday 12 March 2027; clocks go forward in New York on Sunday the 14th.
    desk.todayValue = QDate(2027, 3, 12);
    const auto span = [&](QDate from, QTime at, QDate to, QTime until, const char* brief, bool allDay = false) {
        const int id = addAppt(from, at, QString::fromLatin1(brief));
        exec(sConnContacts, QStringLiteral("update appointments set enddate=#%1#,endtime=%2,allday=%3 where autoid=%4")
                                .arg(DateText(to), until.isValid() ? u'#' + TimeText(until) + u'#' : QStringLiteral("null"),
                                     allDay ? QStringLiteral("True") : QStringLiteral("False"))
                                .arg(id));
    };
    span(QDate(2027, 3, 10), QTime(0, 0), QDate(2027, 3, 13), {}, "Fair", true); // begun before today
    span(QDate(2027, 3, 13), QTime(9, 0), QDate(2027, 3, 15), QTime(17, 0), "Trade show");
    span(QDate(2027, 3, 15), QTime(22, 0), QDate(2027, 3, 16), QTime(0, 0), "Night shift"); // ends at midnight
    span(QDate(2027, 3, 19), QTime(8, 0), QDate(2027, 3, 22), QTime(12, 0), "Tour"); // runs past the seventh day
    addAppt(QDate(2027, 3, 14), QTime(8, 0), "Breakfast");
    remind->PopWeekList();
    EXPECT_EQ(weekHeads(), QStringList({"Friday, 3/12/2027 All day - Fair", "Saturday, 3/13/2027 All day - Fair",
                                  "Saturday, 3/13/2027 9:00 AM - Trade show", "Sunday, 3/14/2027 all day - Trade show",
                                  "Sunday, 3/14/2027 8:00 AM - Breakfast", "Monday, 3/15/2027 until 5:00 PM - Trade show",
                                  "Monday, 3/15/2027 10:00 PM - Night shift", "Friday, 3/19/2027 8:00 AM - Tour"}));
    // Each of its lines opens the one appointment, and marks it under the day it is listed for.
    const int show = stored("select autoid from appointments where apptbrief='Trade show'").toInt();
    EXPECT_EQ(remind->lstWeek->item(15)->data(Qt::UserRole).toInt(), show);
    EXPECT_EQ(remind->lstWeek->item(15)->data(Qt::UserRole + 1).toDate(), QDate(2027, 3, 14));
}

TEST_F(RemindTest, ASeriesStoredOnceShowsOnEachOfItsDaysButThoseLeftOutOrMoved)
{
    // A Tuesday and Thursday call from March 2, 2027, one week left out and one call moved to
    // Friday; the clocks change on Sunday the 14th and the call stays at 9:00 AM.
    desk.todayValue = QDate(2027, 3, 11);
    const int call = addAppt(QDate(2027, 3, 2), QTime(9, 0), "Call");
    exec(sConnContacts, QStringLiteral("update appointments set rrule='FREQ=WEEKLY;BYDAY=TU,TH;COUNT=10',"
                                       "exdates='2027-03-16,2027-03-18' where autoid=%1").arg(call));
    const int moved = addAppt(QDate(2027, 3, 19), QTime(15, 0), "Call, moved");
    exec(sConnContacts, QStringLiteral("update appointments set series_id=%1,recurrence_date=#3/18/2027# where autoid=%2")
                            .arg(call).arg(moved));
    // A rule Kestrel cannot read stands as the single appointment it was stored as.
    exec(sConnContacts, QStringLiteral("update appointments set rrule='FREQ=SOMETIMES' where autoid=%1")
                            .arg(addAppt(QDate(2027, 3, 12), QTime(8, 0), "Odd")));
    remind->PopWeekList();
    EXPECT_EQ(weekHeads(), QStringList({"Thursday, 3/11/2027 9:00 AM - Call", "Friday, 3/12/2027 8:00 AM - Odd"}));
    QListWidget day;
    ListDayAppts(&day, QDate(2027, 3, 19));
    EXPECT_EQ(lines(&day).value(1), "3:00 PM - Call, moved");
    ListDayAppts(&day, QDate(2027, 3, 23));
    EXPECT_EQ(lines(&day).value(1), "9:00 AM - Call");
    EXPECT_EQ(day.item(1)->data(Qt::UserRole).toInt(), call);
    ListDayAppts(&day, QDate(2027, 4, 8)); // after its tenth call
    EXPECT_EQ(lines(&day).value(1), "There are no appointments");
    const auto counts = ApptCountsOfMonth(QDate(2027, 3, 1));
    EXPECT_EQ((std::vector<int>{counts[2], counts[4], counts[12], counts[16], counts[18], counts[19], counts[23], counts[24]}),
              (std::vector<int>{1, 1, 1, 0, 0, 1, 1, 0}));
}

TEST_F(RemindTest, PurgeRemovesWhatIsOlderThanTwoYearsOnceADayAndNeverInARefill)
{
    // The appointments are Ann Lee's: the history holds them before the purge takes them.
    addContact("Lee", "Ann");
    // On the server the server's date decides (here the clocks agree); locally the computer's.
    if (onServer()) {
        desk.nowValue = QDateTime::currentDateTime();
        desk.todayValue = desk.nowValue.date();
    }
    const QDate today = desk.todayValue;
    addAppt(today.addYears(-2).addDays(-1), QTime(9, 0), "old");
    addAppt(today.addYears(-2), QTime(9, 0), "cut-off day");
    // A series begun long ago still repeats and stays; each of its past days is a meeting of its
    // own, purged as any other.
    exec(sConnContacts, QStringLiteral("update appointments set rrule='FREQ=YEARLY',recorded=True where autoid=%1")
                            .arg(addAppt(today.addYears(-3), QTime(9, 0), "yearly")));
    const QString kept = QStringList{DateText(today.addYears(-3)), DateText(today.addYears(-2)), DateText(today.addYears(-2)),
                                     DateText(today.addYears(-1))}.join(u'/');
    remind->PopWeekList(); // a refill deletes nothing
    EXPECT_EQ(stored("select count(*) from appointments"), "3");
    DailyHousekeeping tidy;
    tidy.start();
    EXPECT_EQ(apptDates(), kept);
    EXPECT_TRUE(desk.messages().isEmpty());
    // Midnight: the next day's run, armed for five past.
    EXPECT_EQ(desk.nextWakeUp(), QDateTime(desk.todayValue.addDays(1), QTime(0, 5)));
    if (onServer())
        return; // the server's day stays the same
    desk.todayValue = QDate(2028, 2, 29); // the cut-off falls back to 28 February
    addAppt(QDate(2026, 2, 27), QTime(9, 0), "x");
    addAppt(QDate(2026, 2, 28), QTime(9, 0), "x");
    desk.advanceClock(QDateTime(QDate(2028, 2, 29), QTime(0, 5)));
    EXPECT_EQ(apptDates(), "12/4/2023/2/28/2026/12/4/2026/12/4/2027");
    EXPECT_EQ(stored("select count(*) from history where kind='Meeting'"), "9"); // and five days of the series
}

TEST_F(RemindTest, ACopyWhoseClockIsFiveYearsFastDeletesNothingOnTheServerAndIsTold)
{
    if (!onServer())
        GTEST_SKIP() << "the server's clock: needs the test server (the server.* run)";
    addContact("Lee", "Ann");
    const QDate serverToday = QDate::currentDate();
    addAppt(serverToday.addYears(-1), QTime(9, 0), "last year");
    addAppt(serverToday.addDays(3), QTime(9, 0), "soon");
    desk.todayValue = serverToday.addYears(5);
    desk.nowValue = QDateTime(desk.todayValue, QTime(9, 30));
    DailyHousekeeping fast;
    fast.start();
    EXPECT_EQ(stored("select count(*) from appointments"), "2");
    // Nor does it write the appointment of three days hence into the history as held.
    EXPECT_EQ(stored("select subject from history"), "last year");
    EXPECT_TRUE(desk.messages().isEmpty());
    // Start-up says it.
    const QString notice = officeClockNotice();
    EXPECT_TRUE(notice.startsWith(QStringLiteral("The clock of this computer says %1 9:30 AM, but the office "
                                                 "database's server says %2")
                                      .arg(DateText(desk.todayValue), DateText(serverToday))))
        << notice.toStdString();
    desk.nowValue = QDateTime::currentDateTime().addSecs(50 * 60);
    EXPECT_EQ(officeClockNotice(), QString()); // within the hour
    // The office's purge is done once a day, by whichever copy comes first.
    addAppt(serverToday.addYears(-3), QTime(9, 0), "older");
    recordPastAppointments(sConnContacts, desk.todayValue, QStringLiteral("me"), desk.nowValue);
    EXPECT_FALSE(purgeOldAppointments(sConnContacts, desk.todayValue).ran);
    exec(ownerConnection(), "update kestrel_housekeeping set last_day = Null");
    const PurgeOutcome next = purgeOldAppointments(sConnContacts, desk.todayValue);
    EXPECT_TRUE(next.ran);
    EXPECT_EQ(next.deleted, 1);
    EXPECT_EQ(stored("select apptbrief from appointments order by apptdate"), "last year/soon");
}

TEST_F(RemindTest, ToDoAddsCutTo25BeforeApostrophesAreDoubledEditsOnDoubleClickAndDeletesAfterAsking)
{
    remind->PopToDo();
    for (const char* answer : {"Remember to call O'Brien's bank", "Pat's birthday", ""}) {
        desk.answerInput(answer);
        clickLine(todo, 0);
    }
    EXPECT_EQ(firstBox() + QString::number(desk.prompts[0].maxLength), "Enter a To Do item 25 characters or less|Enter To Do Item|25");
    EXPECT_EQ(lines(todo).mid(0, 5), QStringList({"Add To Do Item", sep, "Remember to call O'Brien'", sep, "Pat's birthday"}));
    clickLine(todo, 3, true); // a separator asks nothing, clicked, double-clicked or deleted
    QTest::mouseClick(remind->cmdDeleteToDo, Qt::LeftButton);
    desk.answerInput("Call the bank's manager today");
    clickLine(todo, 4, true);
    EXPECT_EQ(desk.prompts.back().extra, "Pat's birthday");
    // Undo of the edit gives the text before it back; then the edit again, to go on.
    EXPECT_EQ(undoCaption(), "Undo Edit To Do Item 'Call the bank's manager t'");
    EXPECT_TRUE(undoLastChange());
    EXPECT_EQ(items(), "Remember to call O'Brien'/Pat's birthday");
    remind->PopToDo();
    desk.answerInput("Call the bank's manager today");
    clickLine(todo, 4, true);
    clickLine(todo, 2);
    desk.answerYes();
    QTest::mouseClick(remind->cmdDeleteToDo, Qt::LeftButton);
    EXPECT_EQ(desk.prompts.back().text + u'|' + desk.prompts.back().caption,
              "Are you sure you want to delete this To Do item?|Delete warning");
    EXPECT_EQ(items(), "Call the bank's manager t");

    // Undo puts the deleted item back where it stood; one stored longer by another program, whole.
    EXPECT_EQ(undoCaption(), "Undo Delete To Do Item 'Remember to call O'Brien''");
    EXPECT_TRUE(undoLastChange());
    EXPECT_EQ(items(), "Remember to call O'Brien'/Call the bank's manager t");
    EXPECT_EQ(undoCaption(), "Can't Undo");
    const QString longer = QStringLiteral("Ask O'Hare about the 40% discount, in writing");
    exec(sConnMain, "insert into todo (todo) values('" + Quoted(longer) + "')");
    remind->PopToDo();
    todo->scrollToItem(todo->item(6));
    clickLine(todo, 6);
    desk.answerYes();
    QTest::mouseClick(remind->cmdDeleteToDo, Qt::LeftButton);
    EXPECT_EQ(items(), "Remember to call O'Brien'/Call the bank's manager t");
    EXPECT_TRUE(undoLastChange());
    EXPECT_EQ(items(), "Remember to call O'Brien'/Call the bank's manager t/" + longer);
    EXPECT_TRUE(desk.messages().isEmpty()) << desk.messages().join(u'|').toStdString();
    forgetChanges();
}

TEST_F(RemindTest, TheRealToDoBoxTakes25TypedCharactersLeavesOutANulAndSavesALongerItemWhole)
{
    QtPlatform qt; // the real input box, typed into once it is up: End, the keys, Enter
    QString shown;
    std::function<void(QLineEdit*)> keys;
    QTimer typist;
    QObject::connect(&typist, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QInputDialog*>(QApplication::activeModalWidget());
        if (!box || !keys)
            return;
        auto* edit = box->findChild<QLineEdit*>();
        shown = edit->text();
        QTest::keyClick(edit, Qt::Key_End);
        std::exchange(keys, {})(edit);
        QTest::keyClick(edit, Qt::Key_Return);
    });
    typist.start(20);
    const auto boxGives = [&](const QString& given, std::function<void(QLineEdit*)> typed) {
        keys = std::move(typed);
        return qt.inputBox(kToDoPromptText, "Enter To Do Item", given, 25);
    };
    const auto typing = [](const QString& text) { return [text](QLineEdit* e) { QTest::keyClicks(e, text); }; };
    EXPECT_EQ(boxGives({}, typing(QString(30, u'x'))), QString(25, u'x'));
    EXPECT_EQ(boxGives(QString(30, u'y'), typing("more")) + u'|' + shown, QString(30, u'y') + u'|' + QString(30, u'y'));
    QGuiApplication::clipboard()->setText(QStringLiteral("Ann") + QChar(0));
    EXPECT_EQ(boxGives({}, [](QLineEdit* e) {
                  QTest::keyClicks(e, "Call ");
                  QTest::keyClick(e, Qt::Key_V, Qt::ControlModifier);
                  QTest::keyClicks(e, " today");
              }),
              "Call Ann today");

    // Through the list: a longer stored item left as it was, and then with its last letter chosen
    // and another typed over it, is saved whole.
    const QString longItem = QStringLiteral("Send the quarterly figures to the bank");
    exec(sConnMain, QStringLiteral("insert into todo(todo) values('%1')").arg(longItem));
    remind->PopToDo();
    setPlatform(&qt);
    keys = typing({});
    clickLine(todo, 2, true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !keys; }));
    EXPECT_EQ(items(), longItem);
    keys = [](QLineEdit* e) {
        QTest::keyClick(e, Qt::Key_Left, Qt::ShiftModifier);
        QTest::keyClicks(e, "s");
    };
    clickLine(todo, 2, true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !keys; }));
    setPlatform(&desk);
    EXPECT_EQ(items(), QString(longItem).replace(longItem.size() - 1, 1, u's'));
}

TEST_F(RemindTest, AnOfficeServerThatCannotBeReachedIsNamedInPlainWordsNotAsAnError)
{
    // Nothing listens there: the server went away while Kestrel sat idle.
    sConnContacts = serverConnectionText(QStringLiteral("host=127.0.0.1 port=1 dbname=kestrel connect_timeout=5"));
    remind->PopWeekList();
    ASSERT_EQ(desk.messages().size(), 1);
    const QString told = desk.messages()[0];
    EXPECT_TRUE(told.startsWith("Kestrel could not reach the office database kestrel on 127.0.0.1 (")) << told.toStdString();
    EXPECT_TRUE(told.endsWith("Nothing was lost. Check the network, or ask whoever looks after the server; once it "
                              "answers, try again.")) << told.toStdString();
}

TEST_F(RemindTest, AToDoItemChangedOrDeletedElsewhereIsNotSavedOverWithoutAQuestion)
{
    exec(sConnMain, "insert into todo(todo) values('Call Ann')");
    remind->PopToDo();
    const QString id = joined(rows(sConnMain, "select id from todo"));
    // Changed in another window while the box was open: asked; No gives the box again with what
    // was typed, and Cancel there keeps the other change.
    desk.answerInput("Call Ann at 5", [&] { exec(sConnMain, "update todo set todo='Call Ann today' where id=" + id); });
    desk.answerNo();
    desk.answerInput("");
    clickLine(todo, 2, true);
    EXPECT_EQ(items(), "Call Ann today");
    ASSERT_EQ(desk.prompts.size(), 3u);
    EXPECT_TRUE(desk.prompts[1].text.startsWith("Someone else changed this to-do item after this window opened."));
    EXPECT_EQ(desk.prompts[2].extra, "Call Ann at 5");
    // Yes saves over it.
    desk.answerInput("Call Ann at 5", [&] { exec(sConnMain, "update todo set todo='Call Ann now' where id=" + id); });
    desk.answerYes();
    clickLine(todo, 2, true);
    EXPECT_EQ(items(), "Call Ann at 5");
    // Deleted meanwhile: what was typed may be kept as a new item.
    desk.answerInput("Call Ann at 6", [&] { exec(sConnMain, "delete from todo"); });
    desk.answerYes();
    clickLine(todo, 2, true);
    EXPECT_EQ(items(), "Call Ann at 6");
    EXPECT_TRUE(desk.prompts.back().text.startsWith("This to-do item was deleted elsewhere after you opened it"));
}

