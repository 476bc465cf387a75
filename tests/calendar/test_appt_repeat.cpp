// Repeating appointments made and changed in the editor by keys: a weekly call of two weekdays,
// one day moved, one left out, the days from one on changed, each undone; Feb 29 yearly; rules
// that give nothing refused keeping what was typed; a day marked held on its own; each past day
// its own meeting. The suite runs these under New York's and Berlin's clock changes too.
#include "tests/calendar/Helpers.h"
#include "calendar/Housekeeping.h"
#include "data/HistoryRecord.h"
#include "ui/Undo.h"

namespace {

void tab(int times = 1)
{
    for (int i = 0; i < times; ++i)
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
}

// A day's appointment lines, without the heading and the separators.
QStringList apptLines(const QDate& d)
{
    QStringList out = dayLines(d);
    out.removeAll(kSeparator);
    return out.mid(1);
}

class ApptRepeatTest : public CalendarTest {
protected:
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
        ctrlS();
        // Refused in plain words, kept as typed, the box to mend taken to.
        ASSERT_TRUE(d.isVisible());
        EXPECT_EQ(desk.messages().value(0), "An appointment may repeat at most 1000 times; this one says 1001.");
        EXPECT_EQ(QApplication::focusWidget(), d.txtTimes);
        type("10");
        ctrlS();
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
        ctrlS();
        ASSERT_TRUE(d.isVisible());
        desk.answerChoice("Only this one");
        ctrlS();
        EXPECT_FALSE(d.isVisible());
    });
    EXPECT_EQ(desk.prompts.back().extra, "Only this one|This and the following|All");
    EXPECT_EQ(apptLines(QDate(2027, 3, 11)), QStringList({"There are no appointments", "for this date."}));
    EXPECT_EQ(apptLines(QDate(2027, 3, 12)).value(0), "3:00 PM - Call");
    EXPECT_EQ(apptLines(QDate(2027, 3, 16)).value(0), "9:00 AM - Call");

    // Tuesday the 16th is deleted alone.
    withEditor(call, QDate(2027, 3, 16), [&](frmAppt& d) {
        desk.answerChoice("Only this one");
        d.cmdDelete->setFocus();
        QTest::keyClick(d.cmdDelete, Qt::Key_Return);
        EXPECT_FALSE(d.isVisible());
    });
    EXPECT_EQ(apptLines(QDate(2027, 3, 16)).value(0), "There are no appointments");
    EXPECT_EQ(stored(QStringLiteral("select exdates from appointments where autoid=%1").arg(call)), "2027-03-11,2027-03-16");

    // From Tuesday the 23rd on, at 10:00 AM: the four calls left of the ten (the two left out count).
    withEditor(call, QDate(2027, 3, 23), [&](frmAppt& d) {
        d.cboTime->setFocus();
        type("10\t");
        desk.answerChoice("This and the following");
        ctrlS();
        EXPECT_FALSE(d.isVisible());
    });
    EXPECT_EQ(apptLines(QDate(2027, 3, 18)).value(0), "9:00 AM - Call");
    EXPECT_EQ(apptLines(QDate(2027, 3, 23)).value(0), "10:00 AM - Call");
    EXPECT_EQ(apptLines(QDate(2027, 3, 30)).value(0), "10:00 AM - Call");
    EXPECT_EQ(apptLines(QDate(2027, 4, 1)).value(0), "10:00 AM - Call");
    EXPECT_EQ(apptLines(QDate(2027, 4, 6)).value(0), "There are no appointments");
    EXPECT_EQ(stored(QStringLiteral("select rrule from appointments where autoid=%1").arg(call)),
              "FREQ=WEEKLY;BYDAY=TU,TH;UNTIL=20270322");

    // Edit > Undo takes the last change back: one series again, the moved day still its own.
    EXPECT_EQ(undoCaption(), "Undo Edit Appointment 'Call' of 3/23/2027");
    ASSERT_TRUE(undoLastChange());
    EXPECT_EQ(rules(), "3/2/2027|9:00:00 AM|FREQ=WEEKLY;BYDAY=TU,TH;COUNT=10|2027-03-11,2027-03-16|<null>|<null>/"
                       "3/12/2027|3:00:00 PM|<null>|<null>|" + QString::number(call) + "|3/11/2027");
    EXPECT_EQ(apptLines(QDate(2027, 3, 30)).value(0), "9:00 AM - Call");

    // All of its days: the series itself, and deleting all takes the moved day along.
    withEditor(call, QDate(2027, 3, 25), [&](frmAppt& d) {
        d.txtBrief->selectAll();
        type("Weekly call");
        desk.answerChoice("All");
        ctrlS();
    });
    EXPECT_EQ(apptLines(QDate(2027, 3, 4)).value(0), "9:00 AM - Weekly call");
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
        ctrlS();
        ASSERT_TRUE(d.isVisible());
        EXPECT_EQ(QApplication::focusWidget(), d.DTRepeatUntil);
        EXPECT_EQ(d.DTRepeatUntil->text(), "2/28/2028");
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, Qt::ShiftModifier);
        ASSERT_EQ(QApplication::focusWidget(), d.cboEnds);
        QTest::keyClick(d.cboEnds, Qt::Key_Down); // After
        tab();
        QTest::keyClick(d.txtTimes, Qt::Key_A, Qt::ControlModifier);
        type("3");
        ctrlS();
        EXPECT_FALSE(d.isVisible());
        EXPECT_EQ(d.txtBrief->text(), "Anniversary");
    });
    EXPECT_EQ(desk.messages(), QStringList({"The last day it repeats (2/28/2028) is before the day it begins (2/29/2028)."}));
    EXPECT_EQ(stored("select rrule from appointments"), "FREQ=YEARLY;COUNT=3");
    for (int year : {2029, 2030, 2031})
        EXPECT_EQ(apptLines(QDate(year, 2, 28)).value(0) + apptLines(QDate(year, 3, 1)).value(0),
                  "There are no appointmentsThere are no appointments");
    EXPECT_EQ(apptLines(QDate(2032, 2, 29)).value(0), "12:00 PM - Anniversary");
    EXPECT_EQ(apptLines(QDate(2036, 2, 29)).value(0), "12:00 PM - Anniversary");
    EXPECT_EQ(apptLines(QDate(2040, 2, 29)).value(0), "There are no appointments"); // three times
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

TEST_F(ApptRepeatTest, EachPastDayOfASeriesIsAMeetingOfItsOwnForTheHistoryOnceAndStaysListed)
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
    EXPECT_EQ(apptLines(QDate(2025, 3, 17)), QStringList({"9:00 AM - Call", "     Ann Lee", "     Main office"}));
    EXPECT_EQ(apptLines(QDate(2025, 3, 24)).value(0), "9:00 AM - Call");
}

namespace {

// A weekly call on Tuesdays from March 2, 2027, eight times, with two days of their own: the 9th
// moved to Wednesday the 10th at 3:00 PM, and the 23rd at 11:00 AM with Bob. New York's clocks
// change on the 14th, between them.
struct CallWithOwnDays {
    int call = 0, moved = 0, later = 0;
};

class OwnDayTest : public ApptRepeatTest {
protected:
    CallWithOwnDays make()
    {
        CallWithOwnDays c;
        exec(sConnContacts, "INSERT into appointments(name,apptdate,appttime,endtime,apptbrief,rrule,exdates) values("
                            "'Ann Lee',#3/2/2027#,#9:00 AM#,#9:30 AM#,'Call','FREQ=WEEKLY;COUNT=8','2027-03-09,2027-03-23')");
        c.call = stored("select max(autoid) from appointments").toInt();
        const auto own = [&](const char* day, const char* at, const char* until, const char* brief, const char* key) {
            exec(sConnContacts, QStringLiteral("INSERT into appointments(name,apptdate,appttime,endtime,apptbrief,series_id,"
                                               "recurrence_date) values('Ann Lee',#%1#,#%2#,#%3#,'%4',%5,#%6#)")
                                    .arg(day, at, until, brief).arg(c.call).arg(key));
            return stored("select max(autoid) from appointments").toInt();
        };
        c.moved = own("3/10/2027", "3:00 PM", "3:30 PM", "Call", "3/9/2027");
        c.later = own("3/23/2027", "11:00 AM", "11:30 AM", "Call with Bob", "3/23/2027");
        return c;
    }
    // Each row: its day, times, description, rule, days left out, series and the series' day it is.
    QString all()
    {
        return stored("select autoid,apptdate,appttime,endtime,apptbrief,rrule,exdates,series_id,recurrence_date "
                      "from appointments order by autoid");
    }
    // A colleague changes row changed while appointment open is open at day, the description
    // typed over: answer, saving or deleting, writes nothing, says so and keeps what was typed.
    void refusedMeanwhile(int open, const QDate& day, const QString& answer, int changed, bool deleting)
    {
        SCOPED_TRACE(answer.toStdString() + ' ' + std::to_string(changed) + (deleting ? " deleting" : " saving"));
        const QString before = all();
        withEditor(open, day, [&](frmAppt& d) {
            // Ending after a count, the empty "On:" box is disabled and looks like any disabled date box, not refused.
            EXPECT_FALSE(d.DTRepeatUntil->isEnabled());
            EXPECT_EQ(d.DTRepeatUntil->palette().color(QPalette::Disabled, QPalette::Base),
                      d.DTUntil->palette().color(QPalette::Disabled, QPalette::Base));
            d.txtBrief->selectAll();
            type("Call about the quote");
            exec(sConnContacts, QStringLiteral("update appointments set apptnotes='Price list %1' where autoid=%2")
                                    .arg(++colleague)
                                    .arg(changed));
            desk.answerChoice(answer);
            if (deleting)
                QTest::keyClick(d.cmdDelete, Qt::Key_Space);
            else
                ctrlS();
            ASSERT_TRUE(d.isVisible());
            EXPECT_EQ(desk.messages().value(desk.messages().size() - 1),
                      QStringLiteral("Someone else changed this repeating appointment after this window opened, "
                                     "so it was not %1.\n\nWhat you typed stays in the window: close it and open "
                                     "the appointment again to see their change.")
                          .arg(deleting ? "deleted" : "saved"));
            EXPECT_EQ(d.txtBrief->text(), "Call about the quote");
            desk.answerYes(); // discard what was typed
            d.reject();
        });
        EXPECT_EQ(all(), before);
    }
    int colleague = 0;
    QString weeks()
    {
        QStringList out;
        for (QDate d(2027, 3, 2); d <= QDate(2027, 3, 31); d = d.addDays(1))
            if (const QString line = apptLines(d).value(0); line != "There are no appointments")
                out << d.toString(QStringLiteral("M/d/yyyy")) + u' ' + line;
        return out.join(u'/');
    }
};

} // namespace

TEST_F(OwnDayTest, ADayOfItsOwnAsksOnSavingAndEachAnswerMovesWhatItSaysLaterOwnDaysWithTheSeries)
{
    const CallWithOwnDays c = make();
    // Escape keeps what was typed; Only this one changes that row alone.
    withEditor(c.moved, QDate(2027, 3, 10), [&](frmAppt& d) {
        EXPECT_EQ(d.DTPicker1->text() + u' ' + d.cboTime->currentText(), "3/10/2027 3:00 PM");
        EXPECT_EQ(d.cboRepeat->currentText(), "Weekly on days checked"); // the series' own way
        d.txtBrief->selectAll();
        type("Call about the quote");
        desk.answerChoice(QString());
        ctrlS();
        ASSERT_TRUE(d.isVisible());
        EXPECT_EQ(d.txtBrief->text(), "Call about the quote");
        desk.answerChoice("Only this one");
        ctrlS();
        EXPECT_FALSE(d.isVisible());
    });
    EXPECT_EQ(desk.prompts.back().text, "\"Call about the quote\" repeats. Change only its day Wednesday, 3/10/2027, this "
                                        "day and the following ones, or all of its days?");
    EXPECT_EQ(desk.prompts.back().extra, "Only this one|This and the following|All");
    const QString alone = all();
    EXPECT_EQ(stored(QStringLiteral("select apptbrief,rrule,series_id,recurrence_date from appointments where autoid=%1")
                         .arg(c.moved)),
              QStringLiteral("Call about the quote|<null>|%1|3/9/2027").arg(c.call));
    EXPECT_EQ(weeks(), "3/2/2027 9:00 AM - Call/3/10/2027 3:00 PM - Call about the quote/3/16/2027 9:00 AM - Call/"
                       "3/23/2027 11:00 AM - Call with Bob/3/30/2027 9:00 AM - Call");

    // From it on, a day and an hour later: the rest of the series goes to Wednesdays at 10:00 AM,
    // and the later day of its own moves with it, keyed to the new series' day; what the moved
    // day had of its own (its description) stays its own.
    withEditor(c.moved, QDate(2027, 3, 10), [&](frmAppt& d) {
        d.DTPicker1->setFocus();
        QTest::keyClick(d.DTPicker1, Qt::Key_A, Qt::ControlModifier);
        type("3/11/2027\t4:00 PM\t");
        desk.answerChoice("This and the following");
        ctrlS();
        EXPECT_FALSE(d.isVisible());
    });
    EXPECT_EQ(stored(QStringLiteral("select rrule,exdates from appointments where autoid=%1").arg(c.call)),
              "FREQ=WEEKLY;UNTIL=20270308|<null>");
    const int next = stored("select max(autoid) from appointments").toInt();
    EXPECT_EQ(stored(QStringLiteral("select apptdate,appttime,endtime,apptbrief,rrule,exdates from appointments where autoid=%1")
                         .arg(next)),
              "3/10/2027|10:00:00 AM|10:30:00 AM|Call|FREQ=WEEKLY;COUNT=7|2027-03-10,2027-03-24");
    EXPECT_EQ(stored(QStringLiteral("select apptdate,appttime,endtime,apptbrief,series_id,recurrence_date from appointments "
                                    "where autoid in (%1,%2) order by autoid").arg(c.moved).arg(c.later)),
              QStringLiteral("3/11/2027|4:00:00 PM|4:30:00 PM|Call about the quote|%1|3/10/2027/"
                             "3/24/2027|12:00:00 PM|12:30:00 PM|Call with Bob|%1|3/24/2027").arg(next));
    EXPECT_EQ(weeks(), "3/2/2027 9:00 AM - Call/3/11/2027 4:00 PM - Call about the quote/3/17/2027 10:00 AM - Call/"
                       "3/24/2027 12:00 PM - Call with Bob/3/31/2027 10:00 AM - Call");
    EXPECT_EQ(undoCaption(), "Undo Edit Appointment 'Call about the quote' of 3/10/2027");
    ASSERT_TRUE(undoLastChange());
    EXPECT_EQ(all(), alone);

    // All, from the later day, half an hour later: the series and the other day of its own move
    // by as much; that one keeps its own description.
    withEditor(c.later, QDate(2027, 3, 23), [&](frmAppt& d) {
        d.txtBrief->selectAll();
        type("Weekly call");
        d.cboTime->setFocus();
        type("11:30 AM\t");
        desk.answerChoice("All");
        ctrlS();
        EXPECT_FALSE(d.isVisible());
    });
    EXPECT_EQ(weeks(), "3/2/2027 9:30 AM - Weekly call/3/10/2027 3:30 PM - Call about the quote/"
                       "3/16/2027 9:30 AM - Weekly call/3/23/2027 11:30 AM - Weekly call/3/30/2027 9:30 AM - Weekly call");
    EXPECT_EQ(stored(QStringLiteral("select rrule,exdates from appointments where autoid=%1").arg(c.call)),
              "FREQ=WEEKLY;BYDAY=TU;COUNT=8|2027-03-09,2027-03-23");
    ASSERT_TRUE(undoLastChange());
    EXPECT_EQ(all(), alone);

    // From the first day of the series, the following are all of them.
    exec(sConnContacts, QStringLiteral("update appointments set recurrence_date=#3/2/2027#,apptdate=#3/3/2027# "
                                       "where autoid=%1").arg(c.moved));
    exec(sConnContacts, QStringLiteral("update appointments set exdates='2027-03-02,2027-03-23' where autoid=%1").arg(c.call));
    withEditor(c.moved, QDate(2027, 3, 3), [&](frmAppt& d) {
        d.txtBrief->selectAll();
        type("Weekly call");
        desk.answerChoice("This and the following");
        ctrlS();
    });
    EXPECT_EQ(stored("select count(*) from appointments"), "3");
    EXPECT_EQ(stored(QStringLiteral("select apptbrief,rrule from appointments where autoid=%1").arg(c.call)),
              "Weekly call|FREQ=WEEKLY;BYDAY=TU;COUNT=8");
}

TEST_F(OwnDayTest, ADayOfItsOwnAsksOnDeletingAndAColleaguesChangeMeanwhileStopsTheSeriesAnswersKeepingWhatWasTyped)
{
    const CallWithOwnDays c = make();
    const QString atFirst = all();
    const auto remove = [&](int id, const QDate& day, const QString& answer) {
        withEditor(id, day, [&](frmAppt& d) {
            desk.answerChoice(answer);
            d.cmdDelete->setFocus();
            QTest::keyClick(d.cmdDelete, Qt::Key_Space);
            EXPECT_EQ(d.isVisible(), answer.isEmpty()) << answer.toStdString();
            if (answer.isEmpty())
                d.reject();
        });
    };
    remove(c.moved, QDate(2027, 3, 10), QString());
    EXPECT_EQ(all(), atFirst);
    EXPECT_EQ(desk.prompts.back().text, "\"Call\" repeats. Delete only its day Wednesday, 3/10/2027, this day and the "
                                        "following ones, or all of its days?");

    // Only this one: the row alone, and the series' day stays left out.
    remove(c.moved, QDate(2027, 3, 10), "Only this one");
    EXPECT_EQ(weeks(), "3/2/2027 9:00 AM - Call/3/16/2027 9:00 AM - Call/3/23/2027 11:00 AM - Call with Bob/"
                       "3/30/2027 9:00 AM - Call");
    ASSERT_TRUE(undoLastChange());
    EXPECT_EQ(all(), atFirst);

    // This and the following, from the moved day: the series ends before the 9th, its later days
    // of their own go to the trash, and undo brings them back.
    remove(c.moved, QDate(2027, 3, 10), "This and the following");
    EXPECT_EQ(weeks(), "3/2/2027 9:00 AM - Call");
    EXPECT_EQ(stored("select count(*) from appointments"), "1");
    ASSERT_TRUE(undoLastChange());
    EXPECT_EQ(all(), atFirst);

    remove(c.later, QDate(2027, 3, 23), "All");
    EXPECT_EQ(stored("select count(*) from appointments"), "0");
    ASSERT_TRUE(undoLastChange());
    EXPECT_EQ(all(), atFirst);

    // A colleague changes the series, this very day or another day of its own while the window
    // is open: the answers that reach the series or that day write nothing and say so.
    // Each of these answers, saving or deleting, takes every later day of its own with the series.
    for (const QString answer : {"This and the following", "All"})
        for (const int changed : {c.call, c.moved, c.later})
            for (const bool deleting : {false, true})
                refusedMeanwhile(c.moved, QDate(2027, 3, 10), answer, changed, deleting);
    // From one of its ordinary days too, where Only this one writes the series' days left out.
    for (const QString answer : {"Only this one", "This and the following", "All"})
        for (const bool deleting : {false, true})
            refusedMeanwhile(c.call, QDate(2027, 3, 16), answer, c.call, deleting);
    refusedMeanwhile(c.call, QDate(2027, 3, 16), "All", c.later, true);
    refusedMeanwhile(c.call, QDate(2027, 3, 16), "All", c.moved, false);
    refusedMeanwhile(c.call, QDate(2027, 3, 16), "This and the following", c.later, true);
    refusedMeanwhile(c.call, QDate(2027, 3, 16), "This and the following", c.later, false);
    // A day of its own before the one deleted from stays, so a colleague's change to it stops nothing.
    exec(sConnContacts, QStringLiteral("update appointments set apptnotes='Price list' where autoid=%1").arg(c.moved));
    remove(c.call, QDate(2027, 3, 16), "This and the following");
    EXPECT_EQ(weeks(), "3/2/2027 9:00 AM - Call/3/10/2027 3:00 PM - Call");
    EXPECT_EQ(stored("select count(*) from appointments"), "2");
}

TEST_F(OwnDayTest, ADayOfItsOwnKeptTheOtherWayMovesTheSeriesByWholeDaysAndEachKeepsItsTimeOfDay)
{
    // The 23rd is a whole day of the timed call. Moved a day later for all, the call goes to
    // Wednesdays still at 9:00 AM, the moved day to Thursday at 3:00 PM and the whole day to
    // Wednesday the 24th, New York's clock change on the 14th between them.
    const CallWithOwnDays c = make();
    const QString atFirst = all();
    exec(sConnContacts, QStringLiteral("update appointments set allday=True,appttime=#12:00 AM#,endtime=Null where autoid=%1")
                            .arg(c.later));
    const QString wholeDay = all();
    const auto moveTo = [&](int id, const QDate& day, const char* date, const char* time, const char* answer) {
        withEditor(id, day, [&](frmAppt& d) {
            d.DTPicker1->setFocus();
            QTest::keyClick(d.DTPicker1, Qt::Key_A, Qt::ControlModifier);
            type(QString::fromLatin1(date) + u'\t');
            if (*time) {
                ASSERT_EQ(QApplication::focusWidget(), d.cboTime);
                type(QString::fromLatin1(time) + u'\t');
            }
            desk.answerChoice(answer);
            ctrlS();
            EXPECT_FALSE(d.isVisible());
        });
    };
    moveTo(c.later, QDate(2027, 3, 23), "3/24/2027", "", "All");
    EXPECT_EQ(stored(QStringLiteral("select apptdate,appttime,endtime,rrule,exdates from appointments where autoid=%1")
                         .arg(c.call)),
              "3/3/2027|9:00:00 AM|9:30:00 AM|FREQ=WEEKLY;BYDAY=WE;COUNT=8|2027-03-10,2027-03-24");
    EXPECT_EQ(weeks(), "3/3/2027 9:00 AM - Call/3/11/2027 3:00 PM - Call/3/17/2027 9:00 AM - Call/"
                       "3/24/2027 All day - Call with Bob/3/31/2027 9:00 AM - Call");
    ASSERT_TRUE(undoLastChange());
    EXPECT_EQ(all(), wholeDay);

    // This and the following from an ordinary day moved a day later: the later day of its own
    // goes with the series' day it stands for, not left beside it.
    exec(sConnContacts, QStringLiteral("update appointments set allday=False,appttime=#11:00 AM#,endtime=#11:30 AM# "
                                       "where autoid=%1").arg(c.later));
    ASSERT_EQ(all(), atFirst);
    moveTo(c.call, QDate(2027, 3, 16), "3/17/2027", "", "This and the following");
    EXPECT_EQ(weeks(), "3/2/2027 9:00 AM - Call/3/10/2027 3:00 PM - Call/3/17/2027 9:00 AM - Call/"
                       "3/24/2027 11:00 AM - Call with Bob/3/31/2027 9:00 AM - Call");
    ASSERT_TRUE(undoLastChange());
    EXPECT_EQ(all(), atFirst);

    // A whole-day series with timed days of its own: the moved day goes two days and an hour
    // later for all; the series moves two days and stays whole days, the other timed day two
    // days at its own 11:00 AM.
    exec(sConnContacts, QStringLiteral("update appointments set allday=True,appttime=#12:00 AM#,endtime=Null where autoid=%1")
                            .arg(c.call));
    const QString wholeSeries = all();
    moveTo(c.moved, QDate(2027, 3, 10), "3/12/2027", "4:00 PM", "All");
    EXPECT_EQ(stored(QStringLiteral("select apptdate,appttime,endtime,rrule,exdates from appointments where autoid=%1")
                         .arg(c.call)),
              "3/4/2027|12:00:00 AM|<null>|FREQ=WEEKLY;BYDAY=TH;COUNT=8|2027-03-11,2027-03-25");
    EXPECT_EQ(weeks(), "3/4/2027 All day - Call/3/12/2027 4:00 PM - Call/3/18/2027 All day - Call/"
                       "3/25/2027 11:00 AM - Call with Bob");
    ASSERT_TRUE(undoLastChange());
    EXPECT_EQ(all(), wholeSeries);
}

TEST_F(ApptRepeatTest, AMonthlyCallMovedADayLaterFromOneOfItsDaysGoesOnOnTheSecondWednesdayThroughItsLastDayMoved)
{
    // On the second Tuesday of each month through June 8, the last of them; from April 13 on
    // moved to Wednesday the 14th, it is on the second Wednesdays through June 9.
    exec(sConnContacts, "INSERT into appointments(name,apptdate,appttime,endtime,apptbrief,rrule) values("
                        "'Ann Lee',#3/9/2027#,#9:00 AM#,#9:30 AM#,'Call','FREQ=MONTHLY;BYDAY=2TU;UNTIL=20270608')");
    const int call = stored("select max(autoid) from appointments").toInt();
    withEditor(call, QDate(2027, 4, 13), [&](frmAppt& d) {
        d.DTPicker1->setFocus();
        QTest::keyClick(d.DTPicker1, Qt::Key_A, Qt::ControlModifier);
        type("4/14/2027\t");
        desk.answerChoice("This and the following");
        ctrlS();
        EXPECT_FALSE(d.isVisible());
    });
    EXPECT_EQ(stored("select apptdate,rrule from appointments order by autoid"),
              "3/9/2027|FREQ=MONTHLY;BYDAY=2TU;UNTIL=20270412/4/14/2027|FREQ=MONTHLY;BYDAY=2WE;UNTIL=20270609");
    QStringList days;
    for (QDate d(2027, 3, 1); d <= QDate(2027, 7, 31); d = d.addDays(1))
        if (apptLines(d).value(0).endsWith(" - Call"))
            days << d.toString(QStringLiteral("M/d"));
    EXPECT_EQ(days.join(u' '), "3/9 4/14 5/12 6/9");
}
