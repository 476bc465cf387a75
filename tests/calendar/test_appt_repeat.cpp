// Repeating appointments made and changed in the editor by keys: a weekly call of two weekdays,
// one day moved, one left out, the days from one on changed, each undone; Feb 29 yearly; rules
// that give nothing refused keeping what was typed; a day marked held on its own; each past day
// its own meeting. The suite runs these under New York's and Berlin's clock changes too.
#include "tests/calendar/Helpers.h"
#include "calendar/Housekeeping.h"
#include "data/HistoryRecord.h"
#include "data/Housekeeping.h"
#include "ui/Undo.h"

namespace {

void type(const QString& keys)
{
    for (QChar c : keys)
        QTest::keyClick(QApplication::focusWidget(), c.toLatin1());
}

void tab(int times = 1)
{
    for (int i = 0; i < times; ++i)
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
}

QStringList dayLines(const QDate& d)
{
    QListWidget list;
    ListDayAppts(&list, d);
    QStringList out = lines(&list);
    out.removeAll(kSeparator);
    return out.mid(1);
}

class ApptRepeatTest : public CalendarTest {
protected:
    void withEditor(int id, const QDate& day, const std::function<void(frmAppt&)>& script)
    {
        showModal<frmAppt>(desk, [&](frmAppt& d) { d.bEditMode = id > 0; d.lApptID = id; d.dOccurrence = day; },
                           [&](frmAppt& d) {
                               d.activateWindow();
                               ASSERT_TRUE(QTest::qWaitForWindowActive(&d));
                               d.txtBrief->setFocus(Qt::TabFocusReason);
                               script(d);
                           });
    }
    void save() { QTest::keyClick(QApplication::focusWidget(), Qt::Key_S, Qt::ControlModifier); }
    QString rules() { return stored("select apptdate,appttime,rrule,exdates,series_id,recurrence_date from appointments order by autoid"); }
};

} // namespace

TEST_F(ApptRepeatTest, AWeeklyCallIsMadeByKeysAndOneDayMovedOneLeftOutAndTheRestChangedEachUndoneAsked)
{
    // Tuesdays and Thursdays from March 2, 2027, ten calls; New York's clocks change on the
    // 14th and Berlin's on the 28th, and the call stays at 9:00 AM through both.
    withEditor(0, {}, [&](frmAppt& d) {
        type("Call");
        tab(2);
        type("3/2/2027\t9\t");
        tab(3); // Until, At, All day
        ASSERT_EQ(QApplication::focusWidget(), d.cboRepeat);
        QTest::keyClick(d.cboRepeat, Qt::Key_Down);
        QTest::keyClick(d.cboRepeat, Qt::Key_Down); // Weekly on days checked: the start's Tuesday is checked
        tab(2);    // Every, Monday
        tab(3);    // Tuesday, Wednesday, Thursday
        ASSERT_EQ(QApplication::focusWidget(), d.chkDay[3]);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
        tab(4);
        ASSERT_EQ(QApplication::focusWidget(), d.cboEnds);
        QTest::keyClick(d.cboEnds, Qt::Key_Down);
        QTest::keyClick(d.cboEnds, Qt::Key_Down); // After
        tab(); // the day it ends on is out of the way
        ASSERT_EQ(QApplication::focusWidget(), d.txtTimes);
        QTest::keyClick(d.txtTimes, Qt::Key_A, Qt::ControlModifier);
        type("1001");
        d.txtName->setFocus();
        type("Ann Lee");
        save();
        // Refused in plain words, kept as typed, the box to mend taken to.
        ASSERT_TRUE(d.isVisible());
        EXPECT_EQ(desk.messages().value(0), "An appointment may repeat at most 1000 times; this one says 1001.");
        EXPECT_EQ(QApplication::focusWidget(), d.txtTimes);
        type("10");
        save();
        EXPECT_FALSE(d.isVisible());
    });
    EXPECT_EQ(rules(), "3/2/2027|9:00:00 AM|FREQ=WEEKLY;BYDAY=TU,TH;COUNT=10|<null>|<null>|<null>");
    const int call = rows(sConnContacts, "select autoid from appointments")[0][0].toInt();

    // Thursday the 11th moves to Friday at 3:00 PM, that day only; Escape first changes nothing.
    withEditor(call, QDate(2027, 3, 11), [&](frmAppt& d) {
        EXPECT_EQ(d.DTPicker1->text(), "3/11/2027");
        d.DTPicker1->setFocus();
        QTest::keyClick(d.DTPicker1, Qt::Key_A, Qt::ControlModifier);
        type("3/12/2027\t3:00 PM\t");
        desk.answerChoice(QString());
        save();
        ASSERT_TRUE(d.isVisible());
        desk.answerChoice("Only this one");
        save();
        EXPECT_FALSE(d.isVisible());
    });
    EXPECT_EQ(desk.prompts.back().extra, "Only this one|This and the following|All");
    EXPECT_EQ(dayLines(QDate(2027, 3, 11)), QStringList({"There are no appointments", "for this date."}));
    EXPECT_EQ(dayLines(QDate(2027, 3, 12)).value(0), "3:00 PM - Call");
    EXPECT_EQ(dayLines(QDate(2027, 3, 16)).value(0), "9:00 AM - Call");

    // Tuesday the 16th is deleted alone.
    withEditor(call, QDate(2027, 3, 16), [&](frmAppt& d) {
        desk.answerChoice("Only this one");
        d.cmdDelete->setFocus();
        QTest::keyClick(d.cmdDelete, Qt::Key_Return);
        EXPECT_FALSE(d.isVisible());
    });
    EXPECT_EQ(dayLines(QDate(2027, 3, 16)).value(0), "There are no appointments");
    EXPECT_EQ(stored(QStringLiteral("select exdates from appointments where autoid=%1").arg(call)), "2027-03-11,2027-03-16");

    // From Tuesday the 23rd on, at 10:00 AM: the four calls left of the ten (the two left out count).
    withEditor(call, QDate(2027, 3, 23), [&](frmAppt& d) {
        d.cboTime->setFocus();
        type("10\t");
        desk.answerChoice("This and the following");
        save();
        EXPECT_FALSE(d.isVisible());
    });
    EXPECT_EQ(dayLines(QDate(2027, 3, 18)).value(0), "9:00 AM - Call");
    EXPECT_EQ(dayLines(QDate(2027, 3, 23)).value(0), "10:00 AM - Call");
    EXPECT_EQ(dayLines(QDate(2027, 3, 30)).value(0), "10:00 AM - Call");
    EXPECT_EQ(dayLines(QDate(2027, 4, 1)).value(0), "10:00 AM - Call");
    EXPECT_EQ(dayLines(QDate(2027, 4, 6)).value(0), "There are no appointments");
    EXPECT_EQ(stored(QStringLiteral("select rrule from appointments where autoid=%1").arg(call)),
              "FREQ=WEEKLY;BYDAY=TU,TH;UNTIL=20270322");

    // Edit > Undo takes the last change back: one series again, the moved day still its own.
    EXPECT_EQ(undoCaption(), "Undo Edit Appointment 'Call' of 3/23/2027");
    ASSERT_TRUE(undoLastChange());
    EXPECT_EQ(rules(), "3/2/2027|9:00:00 AM|FREQ=WEEKLY;BYDAY=TU,TH;COUNT=10|2027-03-11,2027-03-16|<null>|<null>/"
                       "3/12/2027|3:00:00 PM|<null>|<null>|" + QString::number(call) + "|3/11/2027");
    EXPECT_EQ(dayLines(QDate(2027, 3, 30)).value(0), "9:00 AM - Call");

    // All of its days: the series itself, and deleting all takes the moved day along.
    withEditor(call, QDate(2027, 3, 25), [&](frmAppt& d) {
        d.txtBrief->selectAll();
        type("Weekly call");
        desk.answerChoice("All");
        save();
    });
    EXPECT_EQ(dayLines(QDate(2027, 3, 4)).value(0), "9:00 AM - Weekly call");
    withEditor(call, QDate(2027, 3, 25), [&](frmAppt& d) {
        desk.answerChoice("All");
        QTest::keyClick(d.cmdDelete, Qt::Key_Space);
    });
    EXPECT_EQ(stored("select count(*) from appointments"), "0");
    ASSERT_TRUE(undoLastChange());
    EXPECT_EQ(stored("select count(*) from appointments"), "2");
}

TEST_F(ApptRepeatTest, FebruaryTheTwentyNinthComesInLeapYearsAndRulesGivingNothingAreRefusedKeepingWhatWasTyped)
{
    withEditor(0, {}, [&](frmAppt& d) {
        type("Anniversary");
        tab(2);
        type("2/29/2028\t");
        d.cboRepeat->setFocus();
        QTest::keyClick(d.cboRepeat, Qt::Key_End); // Yearly
        tab(2); // Every, then past the weekdays, which yearly does not use
        ASSERT_EQ(QApplication::focusWidget(), d.cboEnds);
        QTest::keyClick(d.cboEnds, Qt::Key_Down); // On a day
        tab();
        QTest::keyClick(d.DTRepeatUntil, Qt::Key_A, Qt::ControlModifier);
        type("2/28/2028");
        d.txtName->setFocus();
        type("Ann Lee");
        save();
        ASSERT_TRUE(d.isVisible());
        EXPECT_EQ(QApplication::focusWidget(), d.DTRepeatUntil);
        EXPECT_EQ(d.DTRepeatUntil->text(), "2/28/2028");
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, Qt::ShiftModifier);
        ASSERT_EQ(QApplication::focusWidget(), d.cboEnds);
        QTest::keyClick(d.cboEnds, Qt::Key_Down); // After
        tab();
        QTest::keyClick(d.txtTimes, Qt::Key_A, Qt::ControlModifier);
        type("3");
        save();
        EXPECT_FALSE(d.isVisible());
        EXPECT_EQ(d.txtBrief->text(), "Anniversary");
    });
    EXPECT_EQ(desk.messages(), QStringList({"The last day it repeats (2/28/2028) is before the day it begins (2/29/2028)."}));
    EXPECT_EQ(stored("select rrule from appointments"), "FREQ=YEARLY;COUNT=3");
    for (int year : {2029, 2030, 2031})
        EXPECT_EQ(dayLines(QDate(year, 2, 28)).value(0) + dayLines(QDate(year, 3, 1)).value(0),
                  "There are no appointmentsThere are no appointments");
    EXPECT_EQ(dayLines(QDate(2032, 2, 29)).value(0), "12:00 PM - Anniversary");
    EXPECT_EQ(dayLines(QDate(2036, 2, 29)).value(0), "12:00 PM - Anniversary");
    EXPECT_EQ(dayLines(QDate(2040, 2, 29)).value(0), "There are no appointments"); // three times
}

TEST_F(ApptRepeatTest, MarkingOneDayOfAWeeklyCallHeldMarksAndLogsThatDayAloneAndUndoBringsBackWhatWasThere)
{
    const int ann = addContact("Lee", "Ann");
    desk.todayValue = QDate(2027, 3, 9); // a Tuesday
    desk.nowValue = QDateTime(desk.todayValue, QTime(11, 0));
    const int call = addAppt(QDate(2027, 3, 2), QTime(9, 0), "Call");
    exec(sConnContacts, QStringLiteral("update appointments set contact_id=%1,rrule='FREQ=WEEKLY;BYDAY=TU,TH' where autoid=%2")
                            .arg(ann).arg(call));
    remind->PopWeekList();
    ASSERT_EQ(lines(remind->lstWeek).value(1), "9:00 AM - Call");
    remind->lstWeek->setFocus();
    remind->lstWeek->setCurrentRow(1);
    QTimer::singleShot(0, [] {
        if (QWidget* menu = QApplication::activePopupWidget())
            QTest::keyClick(menu, Qt::Key_H); // Mark &Held
    });
    // What the menu key delivers.
    QContextMenuEvent menuKey(QContextMenuEvent::Keyboard, remind->lstWeek->visualItemRect(remind->lstWeek->item(1)).center());
    QApplication::sendEvent(remind->lstWeek->viewport(), &menuKey);
    QCoreApplication::processEvents();
    const QStringList week = lines(remind->lstWeek);
    EXPECT_EQ(week.value(1), "9:00 AM - Call (Held)");
    EXPECT_EQ(week.value(6), "9:00 AM - Call"); // Thursday
    EXPECT_EQ(stored("select kind,histdate,histtime,subject,outcome from history"), "Meeting|3/9/2027|9:00:00 AM|Call|Held");
    EXPECT_EQ(stored(QStringLiteral("select exdates from appointments where autoid=%1").arg(call)), "2027-03-09");
    EXPECT_EQ(undoCaption(), "Undo Mark Held '9:00 AM - Call'");
    ASSERT_TRUE(undoLastChange());
    EXPECT_EQ(stored("select count(*) from history"), "0");
    EXPECT_EQ(rules(), "3/2/2027|9:00:00 AM|FREQ=WEEKLY;BYDAY=TU,TH|<null>|<null>|<null>");
    remind->PopWeekList();
    EXPECT_EQ(lines(remind->lstWeek).value(1), "9:00 AM - Call");
}

TEST_F(ApptRepeatTest, EachPastDayOfASeriesIsAMeetingOfItsOwnForTheHistoryAndThePurge)
{
    const int ann = addContact("Lee", "Ann");
    const int call = addAppt(QDate(2025, 3, 3), QTime(9, 0), "Call");
    exec(sConnContacts, QStringLiteral("update appointments set contact_id=%1,rrule='FREQ=WEEKLY;BYDAY=MO',"
                                       "exdates='2025-03-10' where autoid=%2").arg(ann).arg(call));
    desk.todayValue = QDate(2025, 3, 20);
    desk.nowValue = QDateTime(desk.todayValue, QTime(8, 0));
    {
        DailyHousekeeping today;
        today.start();
    }
    EXPECT_EQ(stored("select histdate,subject,outcome from history order by histdate"),
              "3/3/2025|Call|Held/3/17/2025|Call|Held");
    // The next day adds none, and the calendar still shows each day once.
    {
        DailyHousekeeping again;
        desk.todayValue = QDate(2025, 3, 21);
        again.start();
    }
    EXPECT_EQ(stored("select count(*) from history"), "2");
    EXPECT_EQ(dayLines(QDate(2025, 3, 17)), QStringList({"9:00 AM - Call", "     Ann Lee", "     Main office"}));
    EXPECT_EQ(dayLines(QDate(2025, 3, 24)).value(0), "9:00 AM - Call");
    if (onServer())
        return; // the server purges by its own date, which is not 2027 here
    // Two years on, the old days go and the series, which still repeats, stays.
    desk.todayValue = QDate(2027, 3, 18);
    EXPECT_EQ(purgeOldAppointments(sConnContacts, desk.todayValue).deleted, 2);
    EXPECT_EQ(stored("select apptdate,rrule from appointments"), "3/3/2025|FREQ=WEEKLY;BYDAY=MO");
}

TEST_F(ApptRepeatTest, AColleaguesChangeMeanwhileStopsOneDayOrTheFollowingKeepingWhatWasTyped)
{
    exec(sConnContacts, "INSERT into appointments(name,apptdate,appttime,endtime,apptbrief,rrule) values("
                        "'Ann Lee',#3/2/2027#,#9:00 AM#,#9:30 AM#,'Call','FREQ=WEEKLY;COUNT=10')");
    const int call = stored("select autoid from appointments").toInt();
    int colleague = 0;
    const auto changedMeanwhile = [&](const char* answer, bool remove) {
        withEditor(call, QDate(2027, 3, 9), [&](frmAppt& d) {
            // Ending never, the empty "On:" box is disabled and looks like any disabled date box, not refused.
            EXPECT_FALSE(d.DTRepeatUntil->isEnabled());
            EXPECT_EQ(d.DTRepeatUntil->palette().color(QPalette::Disabled, QPalette::Base),
                      d.DTUntil->palette().color(QPalette::Disabled, QPalette::Base));
            d.txtBrief->selectAll();
            type("Call about the quote");
            exec(sConnContacts, QStringLiteral("update appointments set apptnotes='Bring price list %1' where autoid=%2")
                                    .arg(++colleague)
                                    .arg(call));
            desk.answerChoice(answer);
            if (remove)
                QTest::keyClick(d.cmdDelete, Qt::Key_Space);
            else
                save();
            ASSERT_TRUE(d.isVisible()) << answer;
            EXPECT_EQ(desk.messages().value(desk.messages().size() - 1),
                      QStringLiteral("Someone else changed this repeating appointment after this window opened, so it was not "
                                     "%1.\n\nWhat you typed stays in the window: close it and open the appointment again "
                                     "to see their change.").arg(remove ? "deleted" : "saved"));
            EXPECT_EQ(d.txtBrief->text(), "Call about the quote");
            desk.answerYes(); // discard what was typed
            d.reject();
        });
        EXPECT_EQ(rules(), "3/2/2027|9:00:00 AM|FREQ=WEEKLY;COUNT=10|<null>|<null>|<null>") << answer;
    };
    changedMeanwhile("Only this one", false);
    changedMeanwhile("This and the following", false);
    changedMeanwhile("Only this one", true);
    changedMeanwhile("This and the following", true);
}
