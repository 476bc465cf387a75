// The month calendar: grid geometry, marks, stepping, the month list and the day list.
#include "app/Ui.h"
#include "calendar/CalPanel.h"
#include "calendar/frmAppt.h"
#include "calendar/modCal.h"
#include "data/Globals.h"
#include "tests/calendar/Helpers.h"
#include "tests/support/Fixture.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QTest>

using namespace kestrel;
using kestrel::test::KestrelTest;

namespace {
QStringList lines(const QListWidget* list)
{
    QStringList out;
    for (int i = 0; i < list->count(); ++i)
        out << list->item(i)->text();
    return out;
}
QList<int> values(const QListWidget* list)
{
    QList<int> out;
    for (int i = 0; i < list->count(); ++i)
        out << list->item(i)->data(Qt::UserRole).toInt();
    return out;
}
QRect twipRect(int l, int t, int w, int h) { return QRect(px(l), px(t), px(w), px(h)); }
} // namespace

class CalTest : public KestrelTest {
protected:
    void SetUp() override
    {
        KestrelTest::SetUp();
        host = std::make_unique<QWidget>();
        host->resize(px(11385), px(7095));
        fraCal = new QGroupBox(QStringLiteral("Frame1"), host.get());
        fraCal->setGeometry(px(120), px(120), px(11100), px(6420));
        cal = new CalPanel(fraCal, host.get());
        host->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(host.get()));
    }
    void TearDown() override
    {
        host.reset();
        KestrelTest::TearDown();
    }
    // Visible day captions by cell, "-" for hidden cells.
    QStringList cells() const
    {
        QStringList out;
        for (QLabel* c : cal->labDay)
            out << (c->isHidden() ? QStringLiteral("-") : c->text());
        return out;
    }
    QColor textColour(int cell) const { return cal->labDay[cell]->palette().color(QPalette::WindowText); }
    QColor background(int cell) const { return cal->labDay[cell]->palette().color(QPalette::Window); }
    void clickLine(int row)
    {
        QListWidget* l = cal->lstCal;
        QTest::mouseClick(l->viewport(), Qt::LeftButton, {}, l->visualItemRect(l->item(row)).center());
        QCoreApplication::processEvents();
    }

    std::unique_ptr<QWidget> host;
    QGroupBox* fraCal = nullptr;
    CalPanel* cal = nullptr;
};

TEST_F(CalTest, ControlsStandWhereTheTableSays)
{
    EXPECT_EQ(cal->labMonthYear->geometry(), twipRect(825, 120, 4575, 375));
    EXPECT_EQ(cal->labArrow[0]->pos(), QPoint(px(120), px(120)));
    EXPECT_EQ(cal->labArrow[1]->pos(), QPoint(px(5425), px(120)));
    EXPECT_EQ(cal->labArrow[0]->text(), QStringLiteral("<<<"));
    EXPECT_EQ(cal->labArrow[1]->text(), QStringLiteral(">>>"));
    EXPECT_EQ(cal->labArrow[0]->toolTip(), QStringLiteral("Clcik to Display Previous Month"));
    EXPECT_EQ(cal->labArrow[1]->toolTip(), QStringLiteral("Clcik to Display Next Month"));
    const int lefts[7] = {225, 1035, 2025, 2820, 3825, 4755, 5655};
    const char* names[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(cal->labWDay[i]->pos(), QPoint(px(lefts[i]), px(600))) << i;
        EXPECT_EQ(cal->labWDay[i]->text(), QString::fromLatin1(names[i]));
        EXPECT_EQ(cal->labWDay[i]->palette().color(QPalette::Window), QColor(224, 224, 224));
        EXPECT_TRUE(cal->labWDay[i]->font().bold());
    }
    for (int i = 0; i < 37; ++i)
        EXPECT_EQ(cal->labDay[i]->geometry(), twipRect(15 + 915 * (i % 7), 930 + 915 * (i / 7), 900, 900)) << i;
    EXPECT_EQ(cal->labDay[36]->geometry(), twipRect(930, 5505, 900, 900));
    EXPECT_EQ(cal->labDay[0]->font().pointSizeF(), 14.25);
    EXPECT_EQ(cal->Label1->text(), QStringLiteral("Select a month:"));
    EXPECT_EQ(cal->Label1->pos(), QPoint(px(2040), px(5640)));
    EXPECT_EQ(cal->cboMonthYear->geometry().topLeft(), QPoint(px(4065), px(5640)));
    EXPECT_EQ(cal->cboMonthYear->width(), px(2175));
    EXPECT_FALSE(cal->cboMonthYear->isEditable());
    EXPECT_EQ(cal->lstCal->geometry(), twipRect(6600, 0, 4695, 6300));
    EXPECT_EQ(cal->lstCal->objectName(), QStringLiteral("lstCal"));
    EXPECT_EQ(cal->lstCal->toolTip(), QStringLiteral("Click item to edit"));
    EXPECT_EQ(cal->lstCal->font().pointSizeF(), 9.75);
    EXPECT_EQ(cal->lstCal->palette().color(QPalette::Base), QColor(240, 240, 240));
    EXPECT_EQ(calPanel(), cal);
}

TEST_F(CalTest, MonthLayoutFollowsTheFirstWeekdayAndLength)
{
    // February 2015: 28 days from a Sunday fill cells 0 to 27.
    cal->LoadCal(QDate(2015, 2, 1));
    EXPECT_EQ(cal->labMonthYear->text(), QStringLiteral("February - 2015"));
    QStringList want;
    for (int d = 1; d <= 28; ++d)
        want << QString::number(d);
    for (int i = 28; i < 37; ++i)
        want << QStringLiteral("-");
    EXPECT_EQ(cells(), want);

    // March 2008: 31 days from a Saturday use every cell after six blanks.
    cal->LoadCal(QDate(2008, 3, 1));
    EXPECT_EQ(cal->labMonthYear->text(), QStringLiteral("March - 2008"));
    EXPECT_EQ(cells().mid(0, 6), QStringList(6, QStringLiteral("-")));
    EXPECT_EQ(cells()[6], QStringLiteral("1"));
    EXPECT_EQ(cells()[36], QStringLiteral("31"));

    // November 2008: 30 days from a Saturday leave cell 36 hidden.
    cal->LoadCal(QDate(2008, 11, 1));
    EXPECT_EQ(cells()[35], QStringLiteral("30"));
    EXPECT_EQ(cells()[36], QStringLiteral("-"));

    for (int year : {2016, 2020, 2000, 2100, 2023}) {
        cal->LoadCal(QDate(year, 2, 1));
        const QStringList c = cells();
        const QString last = *std::find_if(c.rbegin(), c.rend(), [](const QString& s) { return s != u"-"; });
        const bool leap = year != 2100 && year != 2023;
        EXPECT_EQ(last, leap ? QStringLiteral("29") : QStringLiteral("28")) << year;
        EXPECT_EQ(CalPanel::DaysInMonth(QDate(year, 2, 10)), leap ? 29 : 28) << year;
    }
    EXPECT_EQ(lines(cal->lstCal), (QStringList{QStringLiteral("Select a day to list"), QStringLiteral("appointments here.")}));
    EXPECT_EQ(values(cal->lstCal), (QList<int>{0, 0}));
}

TEST_F(CalTest, DaysWithAppointmentsAreBlueAndMarksDoNotLeakIntoOtherMonths)
{
    addAppt(QDate(2008, 3, 7), QTime(9, 30), QStringLiteral("Review"));
    addAppt(QDate(2008, 3, 7), QTime(14, 0), QStringLiteral("Second"));
    addAppt(QDate(2008, 3, 31), QTime(8, 0), QStringLiteral("Month end"));
    addAppt(QDate(2008, 4, 1), QTime(8, 0), QStringLiteral("Next month"));
    addAppt(QDate(2008, 2, 29), QTime(8, 0), QStringLiteral("Month before"));

    cal->LoadCal(QDate(2008, 3, 1));
    const QColor blue(0, 0, 255);
    for (int d = 1; d <= 31; ++d) {
        const int cell = cal->cellOfDay(d);
        EXPECT_EQ(textColour(cell), (d == 7 || d == 31) ? blue : QColor(Qt::black)) << d;
        EXPECT_EQ(background(cell), CalPanel::dayBackground()) << d;
    }

    cal->LoadCal(QDate(2008, 4, 1));
    EXPECT_EQ(textColour(cal->cellOfDay(1)), blue);
    for (int d = 2; d <= 30; ++d)
        EXPECT_EQ(textColour(cal->cellOfDay(d)), QColor(Qt::black)) << d;
}

TEST_F(CalTest, ArrowsStepMonthsWithoutLimitAndTheMonthListJumps)
{
    cal->PopMonthYear();
    ASSERT_EQ(cal->cboMonthYear->count(), 36);
    EXPECT_EQ(cal->cboMonthYear->itemText(0), QStringLiteral("1/2025"));
    EXPECT_EQ(cal->cboMonthYear->itemText(12), QStringLiteral("1/2026"));
    EXPECT_EQ(cal->cboMonthYear->itemText(35), QStringLiteral("12/2027"));
    EXPECT_EQ(cal->cboMonthYear->currentIndex(), -1);

    cal->LoadCal(QDate(2026, 12, 1));
    QTest::mouseClick(cal->labArrow[1], Qt::LeftButton);
    EXPECT_EQ(cal->dCalDate, QDate(2027, 1, 1));
    EXPECT_EQ(cal->labMonthYear->text(), QStringLiteral("January - 2027"));
    QTest::mouseClick(cal->labArrow[0], Qt::LeftButton);
    QTest::mouseClick(cal->labArrow[0], Qt::LeftButton);
    EXPECT_EQ(cal->dCalDate, QDate(2026, 11, 1));
    for (int i = 0; i < 40; ++i)
        cal->PreNext(QStringLiteral("next"));
    EXPECT_EQ(cal->dCalDate, QDate(2030, 3, 1));
    EXPECT_EQ(cal->cboMonthYear->currentIndex(), -1); // stepping leaves the month list alone

    // Choosing an entry as the user does (keys on the closed list) loads that month.
    cal->cboMonthYear->setCurrentIndex(13);
    EXPECT_EQ(cal->dCalDate, QDate(2030, 3, 1));
    QTest::keyClick(cal->cboMonthYear, Qt::Key_Down);
    EXPECT_EQ(cal->cboMonthYear->currentText(), QStringLiteral("3/2026"));
    EXPECT_EQ(cal->dCalDate, QDate(2026, 3, 1));
}

TEST_F(CalTest, ClickingADayListsItsAppointmentsByTime)
{
    const int late = addAppt(QDate(2008, 3, 7), QTime(14, 0), QStringLiteral("Lunch"), QStringLiteral("Bo"),
                             QStringLiteral(""));
    const int early = addAppt(QDate(2008, 3, 7), QTime(9, 30), QStringLiteral("Quarterly review with the bank"),
                              QStringLiteral("Alexandra Featherstonehaugh-Smith"), QStringLiteral("O'Hare Building, 5th floor"));
    addAppt(QDate(2008, 3, 8), QTime(12, 0), QStringLiteral("Other day"));
    cal->LoadCal(QDate(2008, 3, 1));

    const int cell = cal->cellOfDay(7);
    QTest::mouseClick(cal->labDay[cell], Qt::LeftButton);
    EXPECT_EQ(lines(cal->lstCal), (QStringList{
                                      QStringLiteral(" - - - 3/7/2008 - - - "),
                                      QStringLiteral("9:30 AM - Quarterly review wit"),
                                      QStringLiteral("     Alexandra Featherstonehau"),
                                      QStringLiteral("     O'Hare Building, 5th floo"),
                                      kApptSeparator,
                                      QStringLiteral("2:00 PM - Lunch"),
                                      QStringLiteral("     Bo"),
                                      QStringLiteral("     "),
                                      kApptSeparator,
                                  }));
    EXPECT_EQ(values(cal->lstCal), (QList<int>{0, early, early, early, 0, late, late, late, 0}));
    EXPECT_EQ(kApptSeparator.size(), 31);
    EXPECT_EQ(background(cell), CalPanel::selectedBackground());
    EXPECT_EQ(background(cal->cellOfDay(8)), CalPanel::dayBackground());

    // Another day moves the highlight and keeps the marks.
    QTest::mouseClick(cal->labDay[cal->cellOfDay(9)], Qt::LeftButton);
    EXPECT_EQ(background(cell), CalPanel::dayBackground());
    EXPECT_EQ(textColour(cell), QColor(0, 0, 255));
    EXPECT_EQ(lines(cal->lstCal), (QStringList{QStringLiteral(" - - - 3/9/2008 - - - "),
                                               QStringLiteral("There are no appointments"),
                                               QStringLiteral("for this date.")}));
}

TEST_F(CalTest, LinesWithoutAnAppointmentDoNothingAndAnAppointmentOpensTheEditor)
{
    const int id = addAppt(QDate(2008, 3, 7), QTime(9, 30), QStringLiteral("Review"));
    cal->LoadCal(QDate(2008, 3, 1));
    cal->labDay_Click(cal->cellOfDay(7));
    ASSERT_EQ(cal->lstCal->count(), 5);

    // Heading and separator: the strict desktop fails the test if anything opens.
    clickLine(0);
    clickLine(4);
    EXPECT_TRUE(desk.prompts.empty());

    bool sawEditor = false;
    desk.onModal(QStringLiteral("frmAppt"), [&](QDialog& d) {
        auto& editor = static_cast<frmAppt&>(d);
        sawEditor = true;
        EXPECT_TRUE(editor.bEditMode);
        EXPECT_EQ(editor.lApptID, id);
        EXPECT_EQ(editor.apptText(0), QStringLiteral("Review"));
    });
    clickLine(2);
    EXPECT_TRUE(sawEditor);
    // Closed: the grid is marked afresh, the hints are back, no day is highlighted.
    EXPECT_EQ(lines(cal->lstCal), (QStringList{QStringLiteral("Select a day to list"), QStringLiteral("appointments here.")}));
    for (int i = 0; i < 37; ++i)
        EXPECT_EQ(background(i), CalPanel::dayBackground()) << i;
    EXPECT_EQ(textColour(cal->cellOfDay(7)), QColor(0, 0, 255));
}

TEST_F(CalTest, AnUnreadableDatabaseIsReportedOnceAndLeavesTheGridUnmarked)
{
    test::spoilDatabase(dir.path(), QStringLiteral("contacts.mdb"));
    cal->LoadCal(QDate(2008, 3, 1));
    ASSERT_EQ(desk.messages().size(), 1);
    EXPECT_TRUE(desk.messages()[0].startsWith(QStringLiteral("Error ")));
    EXPECT_TRUE(desk.messages()[0].endsWith(QStringLiteral(") in procedure ApptsForDay of Form frmKestrel")));
    EXPECT_EQ(textColour(cal->cellOfDay(7)), QColor(Qt::black));
    EXPECT_EQ(cells()[36], QStringLiteral("31"));

    cal->labDay_Click(cal->cellOfDay(7));
    ASSERT_EQ(desk.messages().size(), 2);
    EXPECT_TRUE(desk.messages()[1].endsWith(QStringLiteral(") in procedure ListDayAppts of Module modCal")));
}

TEST(ListString, TimeLinesAndNameLinesAreCutNotPadded)
{
    EXPECT_EQ(BuildListString(QStringLiteral("time"), QStringLiteral("Quarterly review with the bank"),
                              QStringLiteral("9:30:00 AM")),
              QStringLiteral("9:30 AM - Quarterly review wit"));
    EXPECT_EQ(BuildListString(QStringLiteral("time"), QStringLiteral("Noon"), QStringLiteral("12:00 PM")),
              QStringLiteral("12:00 PM - Noon"));
    EXPECT_EQ(BuildListString(QStringLiteral("time"), QStringLiteral("Late"), QStringLiteral("23:30:00")),
              QStringLiteral("11:30 PM - Late"));
    EXPECT_EQ(BuildListString(QStringLiteral("time"), QStringLiteral("Midnight"), QStringLiteral("00:00")),
              QStringLiteral("12:00 AM - Midnight"));
    EXPECT_EQ(BuildListString(QStringLiteral("time"), QStringLiteral("No time"), QString()),
              QStringLiteral(" - No time"));
    EXPECT_EQ(BuildListString(QStringLiteral("no"), QStringLiteral("12345678901234567890123456789"), QString()),
              QStringLiteral("     1234567890123456789012345"));
    EXPECT_EQ(BuildListString(QStringLiteral("no"), QStringLiteral("Ann"), QString()), QStringLiteral("     Ann"));
    EXPECT_EQ(GetDayName(1), QStringLiteral("Sunday"));
    EXPECT_EQ(GetDayName(7), QStringLiteral("Saturday"));
    EXPECT_TRUE(GetDayName(0).isEmpty());
    EXPECT_TRUE(GetDayName(8).isEmpty());
    EXPECT_EQ(CalPanel::GetMonthName(12), QStringLiteral("December"));
    EXPECT_TRUE(CalPanel::GetMonthName(13).isEmpty());
}
