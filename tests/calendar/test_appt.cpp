// The appointment editor: both modes, the statements it writes, its refusals and failures.
#include "tests/calendar/Helpers.h"
#include "ui/Report.h"

class ApptTest : public CalendarTest {
protected:
    QString stored() { return CalendarTest::stored("select name,address,apptdate,appttime,apptbrief,apptnotes from appointments"); }
};

TEST_F(ApptTest, NewStartsTodayAtNoonAndInsertsEditShowsTheRowAndUpdates)
{
    withEditor(0, {}, [&](frmAppt& d) {
        EXPECT_EQ(d.DTPicker1->date().toString(Qt::ISODate) + u' ' + d.cboTime->currentText(), "2026-12-04 12:00 PM");
        d.setApptText(3, "Ann Lee");
        d.setApptText(1, "O'Hare, gate 'B'");
        d.DTPicker1->setDate(QDate(2008, 3, 7));
        d.cboTime->setCurrentIndex(19);
        d.setApptText(0, "Pat's review");
        QTest::mouseClick(d.cmdSave, Qt::LeftButton);
    });
    EXPECT_EQ(stored(), "Ann Lee|O'Hare, gate 'B'|3/7/2008|9:30:00 AM|Pat's review|");
    withEditor(1, {}, [&](frmAppt& d) {
        EXPECT_EQ(d.apptText(1) + u'|' + d.cboTime->currentText(), "O'Hare, gate 'B'|9:30 AM");
        d.setApptText(1, "Main office");
        EXPECT_EQ(d.SaveStatement(), "UPDATE appointments set name='Ann Lee',address='Main office',apptdate=#3/7/2008#,"
                                     "appttime=#9:30 AM#,apptbrief='Pat''s review',apptnotes='',contact_id=Null,outcome=Null,"
                                     "recorded=False,enddate=Null,endtime=#10:00 AM#,allday=False,cancelled=False,rrule=Null where autoid=1");
        d.cmdSave_Click();
    });
    EXPECT_EQ(stored(), "Ann Lee|Main office|3/7/2008|9:30:00 AM|Pat's review|");
    exec(sConnContacts, "update appointments set appttime=#9:15 AM#"); // off the half hour: opens and saves as 12:00 AM
    withEditor(1, {}, [&](frmAppt& d) { d.cmdSave_Click(); });
    EXPECT_TRUE(stored().contains("|12:00:00 AM|"));
}

TEST_F(ApptTest, AnEmptyFieldIsRefusedAndAFailedSaveKeepsTheEditorOpenWithTheInput)
{
    withEditor(0, {}, [&](frmAppt& d) {
        d.setApptText(3, "Ann Lee");
        QTest::mouseClick(d.cmdSave, Qt::LeftButton);
        EXPECT_EQ(QApplication::focusWidget(), d.txtBrief);
        d.setApptText(0, "Review");
        d.setApptText(2, "Notes typed with care");
        exec(ownerConnection(), "drop table appointments");
        QTest::mouseClick(d.cmdSave, Qt::LeftButton);
        EXPECT_TRUE(d.isVisible() && d.apptText(2) == "Notes typed with care");
        desk.answerYes(); // closed: the changes go only after a question
    });
    const QStringList m = desk.messages();
    ASSERT_EQ(m.size(), 2);
    EXPECT_EQ(m[0] + u'|' + desk.prompts[1].caption, "Description and name must contain entries.|Kestrel");
    EXPECT_TRUE(m[1].contains(") in procedure ActionQuery of Module modData\r\n"));
}

TEST_F(ApptTest, DeleteAsksAndReloadsTheCalendarWhileItShowsAndSelectContactTakesThePickedName)
{
    const int id = addAppt(QDate(2008, 3, 7), QTime(9, 30), "Review");
    withEditor(id, {}, [&](frmAppt& d) {
        desk.onModal("frmContactGrid", [&](QDialog& g) { static_cast<frmContactGrid&>(g).picker->setPickedName("Pat Doe"); });
        QTest::mouseClick(d.cmdContact, Qt::LeftButton);
        EXPECT_EQ(d.apptText(3), "Pat Doe");
        desk.answerNo();
        d.DTPicker1->setDate(QDate(2009, 1, 10));
        QTest::mouseClick(d.cmdDelete, Qt::LeftButton);
    });
    EXPECT_EQ(desk.prompts[2].text + u'|' + desk.prompts[2].caption,
              "Are you sure you want to delete this appointment?|You are about to delete an appointment");
    EXPECT_EQ(cal->dCalDate, QDate(2009, 1, 1));
    EXPECT_FALSE(stored().isEmpty());
}

TEST(TypedDate, TakesMonthDayYearWithAnySeparatorOrEightDigitsAndNothingThatIsNoDay)
{
    const std::pair<const char*, QDate> cases[] = {
        {"11/20/2026", {2026, 11, 20}}, {"03-07-2027", {2027, 3, 7}}, {"2.29.2028", {2028, 2, 29}},
        {"02292028", {2028, 2, 29}},    {"2/29/2027", {}},            {"2/30/2028", {}},
        {"13/1/2027", {}},              {"0/1/2027", {}},             {"3/7/27", {}},
        {"3/7/0207", {}},               {"3/7", {}},                  {"1282026", {}},
        {"", {}},
    };
    for (const auto& [text, date] : cases)
        EXPECT_EQ(ParseTypedDate(QString::fromLatin1(text)).value_or(QDate()), date) << text;
}

TEST_F(ApptTest, ADateTypedIntoThePickerIsStoredExactlyAndAnImpossibleOneIsRefusedWhereItIsTyped)
{
    // Today is 4 December 2026, so the picker starts on a year without 29 February.
    const std::pair<const char*, const char*> cases[] = {
        {"11/20/2026", "11/20/2026"}, {"12/8/2026", "12/8/2026"}, {"3/17/2027", "3/17/2027"},
        {"12082026", "12/8/2026"},    {"02292028", "2/29/2028"},  {"2-29-2028", "2/29/2028"},
        {">20", "12/20/2026"},        {"<3/9", "3/9/2026"},       {"2/30/2027", ""},
        {"13/1/2027", ""},
    };
    for (const auto& [keys, date] : cases) {
        withEditor(0, {}, [&](frmAppt& d) {
            type("Review\t\t");
            ASSERT_EQ(QApplication::focusWidget(), d.DTPicker1);
            type(keys);
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab); // leaves the picker at once
            EXPECT_EQ(QApplication::focusWidget(), d.cboTime) << keys;
            d.txtName->setFocus();
            type("Ann Lee");
            QTest::mouseClick(d.cmdSave, Qt::LeftButton);
            if (*date)
                return;
            EXPECT_TRUE(d.isVisible());
            EXPECT_EQ(d.DTPicker1->text(), keys);
            EXPECT_EQ(QApplication::focusWidget(), d.DTPicker1);
            EXPECT_NE(d.DTPicker1->palette().color(QPalette::Base), QApplication::palette().color(QPalette::Base));
            desk.answerYes(); // closed: the changes go only after a question
        });
        EXPECT_EQ(stored(), *date ? QStringLiteral("Ann Lee||%1|12:00:00 PM|Review|").arg(date) : QString()) << keys;
        exec(sConnContacts, "delete from appointments");
    }
    EXPECT_EQ(desk.messages(), QStringList(2, "The date must be a day of the calendar, typed as month/day/year (for "
                                              "example 3/7/2027)."));

    // The drop-down calendar starts its weeks on Sunday and takes a day picked with the keys.
    withEditor(0, {}, [&](frmAppt& d) {
        d.DTPicker1->setFocus();
        QTest::keyClick(d.DTPicker1, Qt::Key_F4);
        auto* month = QApplication::activePopupWidget() ? QApplication::activePopupWidget()->findChild<QCalendarWidget*>() : nullptr;
        ASSERT_TRUE(month);
        EXPECT_EQ(month->firstDayOfWeek(), Qt::Sunday);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Right);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        EXPECT_EQ(d.DTPicker1->text(), "12/5/2026");
        desk.answerYes();
    });
}

TEST_F(ApptTest, AnUnchangedSaveKeepsLongStoredTextsWholeAndASaveThatFindsNoRowIsToldAndCanBeKeptAsNew)
{
    // Longer than the boxes let anyone type: put there by another program.
    const QString brief(80, u'b'), where(100, u'w'), name(120, u'n');
    const QString row = QStringLiteral("%1|%2|3/7/2027|9:30:00 AM|%3|").arg(name, where, brief);
    const int id = addAppt(QDate(2027, 3, 7), QTime(9, 30), brief, name, where);
    withEditor(id, {}, [&](frmAppt& d) { QTest::mouseClick(d.cmdSave, Qt::LeftButton); });
    EXPECT_EQ(stored(), row);

    withEditor(id, {}, [&](frmAppt& d) {
        exec(sConnContacts, "update appointments set apptnotes='x'"); // by another copy of the program
        desk.answerNo();
        QTest::mouseClick(d.cmdSave, Qt::LeftButton); // asked first: nothing is overwritten unasked
        exec(sConnContacts, "delete from appointments");
        desk.answerNo();
        QTest::mouseClick(d.cmdSave, Qt::LeftButton);
        EXPECT_TRUE(d.isVisible() && d.apptText(0) == brief);
        desk.answerYes();
        QTest::mouseClick(d.cmdSave, Qt::LeftButton);
    });
    EXPECT_EQ(stored(), row);
    EXPECT_EQ(desk.prompts[2].text, "Someone else changed this appointment after this window opened.\n\nSave your "
                                    "changes over theirs? (No keeps this window open with what you typed.)");
    EXPECT_EQ(desk.prompts[3].text, "This appointment was deleted or changed elsewhere after this window opened, so "
                                    "your changes were not saved.\n\nSave what you typed as a new appointment?");
}

TEST_F(ApptTest, ANulPastedIntoABoxIsLeftOutThereAndTheRestIsSaved)
{
    withEditor(0, {}, [&](frmAppt& d) {
        d.setApptText(3, "Ann Lee");
        QGuiApplication::clipboard()->setText(QStringLiteral("Call") + QChar(0) + QStringLiteral(" back"));
        for (QWidget* box : {d.txtAppt[0], d.txtAppt[2]}) {
            box->setFocus();
            QTest::keyClick(box, Qt::Key_V, Qt::ControlModifier);
        }
        EXPECT_EQ(d.apptText(0) + u'|' + d.apptText(2), "Call back|Call back");
        QTest::mouseClick(d.cmdSave, Qt::LeftButton);
    });
    EXPECT_EQ(stored(), "Ann Lee||12/4/2026|12:00:00 PM|Call back|Call back");
    EXPECT_TRUE(desk.messages().isEmpty()) << desk.messages().join(u'|').toStdString();
}
