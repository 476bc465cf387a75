// The month calendar: grid geometry, marks, stepping, the month list and the day list.
#include "calendar/CalPanel.h"
#include "calendar/frmAppt.h"
#include "calendar/modCal.h"
#include "tests/calendar/Helpers.h"
#include "tests/support/Fixture.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QTest>

using namespace kestrel;
using namespace kestrel::test;

class CalTest : public KestrelTest {
protected:
    void SetUp() override
    {
        KestrelTest::SetUp();
        host = std::make_unique<QWidget>();
        host->resize(px(11385), px(7095));
        auto* fraCal = new QGroupBox(host.get());
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
    // Day captions by cell, "-" for a hidden cell.
    QStringList cells() const
    {
        QStringList out;
        for (QLabel* c : cal->labDay)
            out << (c->isHidden() ? QStringLiteral("-") : c->text());
        return out;
    }
    QColor ink(int day) const { return cal->labDay[cal->cellOfDay(day)]->palette().color(QPalette::WindowText); }
    QColor paper(int cell) const { return cal->labDay[cell]->palette().color(QPalette::Window); }
    void clickLine(int row)
    {
        QTest::mouseClick(cal->lstCal->viewport(), Qt::LeftButton, {},
                          cal->lstCal->visualItemRect(cal->lstCal->item(row)).center());
        QCoreApplication::processEvents();
    }

    std::unique_ptr<QWidget> host;
    CalPanel* cal = nullptr;
    const QColor blue{0, 0, 255};
    const QStringList hints{QStringLiteral("Select a day to list"), QStringLiteral("appointments here.")};
};

TEST_F(CalTest, ControlsStandWhereTheTableSays)
{
    EXPECT_EQ(cal->labMonthYear->geometry(), twipRect(825, 120, 4575, 375));
    EXPECT_EQ(cal->labArrow[0]->pos(), QPoint(px(120), px(120)));
    EXPECT_EQ(cal->labArrow[1]->pos(), QPoint(px(5425), px(120)));
    EXPECT_EQ(cal->labArrow[0]->toolTip(), QStringLiteral("Clcik to Display Previous Month"));
    const int lefts[7] = {225, 1035, 2025, 2820, 3825, 4755, 5655};
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(cal->labWDay[i]->pos(), QPoint(px(lefts[i]), px(600))) << i;
    EXPECT_EQ(cal->labWDay[6]->text(), QStringLiteral("Sat"));
    EXPECT_EQ(cal->labWDay[0]->palette().color(QPalette::Window), QColor(224, 224, 224));
    for (int i = 0; i < 37; ++i)
        EXPECT_EQ(cal->labDay[i]->geometry(), twipRect(15 + 915 * (i % 7), 930 + 915 * (i / 7), 900, 900)) << i;
    EXPECT_EQ(cal->Label1->pos(), QPoint(px(2040), px(5640)));
    EXPECT_EQ(cal->cboMonthYear->geometry().topLeft(), QPoint(px(4065), px(5640)));
    EXPECT_EQ(cal->cboMonthYear->width(), px(2175));
    EXPECT_EQ(cal->lstCal->geometry(), twipRect(6600, 0, 4695, 6300));
    EXPECT_EQ(cal->lstCal->palette().color(QPalette::Base), QColor(240, 240, 240));
    EXPECT_EQ(cal->lstCal->font().pointSizeF(), 9.75);
}

TEST_F(CalTest, MonthLayoutFollowsTheFirstWeekdayAndTheLength)
{
    cal->LoadCal(QDate(2015, 2, 1)); // 28 days from a Sunday
    EXPECT_EQ(cal->labMonthYear->text(), QStringLiteral("February - 2015"));
    EXPECT_EQ(cells()[0], QStringLiteral("1"));
    EXPECT_EQ(cells()[27], QStringLiteral("28"));
    EXPECT_EQ(cells().mid(28), QStringList(9, QStringLiteral("-")));

    cal->LoadCal(QDate(2008, 3, 1)); // 31 days from a Saturday
    EXPECT_EQ(cells().mid(0, 6), QStringList(6, QStringLiteral("-")));
    EXPECT_EQ(cells()[6], QStringLiteral("1"));
    EXPECT_EQ(cells()[36], QStringLiteral("31"));

    cal->LoadCal(QDate(2008, 11, 1)); // 30 days from a Saturday
    EXPECT_EQ(cells()[35], QStringLiteral("30"));
    EXPECT_EQ(cells()[36], QStringLiteral("-"));

    for (int year : {2016, 2020, 2000, 2100, 2023}) {
        cal->LoadCal(QDate(year, 2, 1));
        const bool leap = year != 2100 && year != 2023;
        EXPECT_EQ(cells().count(QStringLiteral("-")), leap ? 8 : 9) << year;
    }
    EXPECT_EQ(lines(cal->lstCal), hints);
}

TEST_F(CalTest, MarksStepsAndTheMonthList)
{
    for (const QDate& d : {QDate(2008, 3, 7), QDate(2008, 3, 7), QDate(2008, 3, 31), QDate(2008, 4, 1), QDate(2008, 2, 29)})
        addAppt(d, QTime(9, 0), QStringLiteral("x"));
    cal->LoadCal(QDate(2008, 3, 1));
    for (int d = 1; d <= 31; ++d)
        EXPECT_EQ(ink(d), (d == 7 || d == 31) ? blue : QColor(Qt::black)) << d;

    QTest::mouseClick(cal->labArrow[1], Qt::LeftButton); // the blue of March does not stay
    EXPECT_EQ(cal->dCalDate, QDate(2008, 4, 1));
    EXPECT_EQ(ink(1), blue);
    EXPECT_EQ(ink(7), QColor(Qt::black));
    for (int i = 0; i < 4; ++i)
        QTest::mouseClick(cal->labArrow[0], Qt::LeftButton);
    EXPECT_EQ(cal->dCalDate, QDate(2007, 12, 1));
    for (int i = 0; i < 40; ++i)
        cal->PreNext(QStringLiteral("next"));
    EXPECT_EQ(cal->dCalDate, QDate(2011, 4, 1));

    cal->PopMonthYear(); // today is 4 December 2026
    ASSERT_EQ(cal->cboMonthYear->count(), 36);
    EXPECT_EQ(cal->cboMonthYear->itemText(0), QStringLiteral("1/2025"));
    EXPECT_EQ(cal->cboMonthYear->itemText(35), QStringLiteral("12/2027"));
    EXPECT_EQ(cal->cboMonthYear->currentIndex(), -1);
    cal->cboMonthYear->setCurrentIndex(13);
    EXPECT_EQ(cal->dCalDate, QDate(2011, 4, 1)); // only the user's choice loads a month
    QTest::keyClick(cal->cboMonthYear, Qt::Key_Down);
    EXPECT_EQ(cal->dCalDate, QDate(2026, 3, 1));
}

TEST_F(CalTest, ADayListsItsAppointmentsByTimeWithCutLines)
{
    const int late = addAppt(QDate(2008, 3, 7), QTime(14, 0), QStringLiteral("Lunch"), QStringLiteral("Bo"), QString());
    const int early = addAppt(QDate(2008, 3, 7), QTime(9, 30), QStringLiteral("Quarterly review with the bank"),
                              QStringLiteral("Alexandra Featherstonehaugh-Smith"), QStringLiteral("O'Hare Building, 5th floor"));
    cal->LoadCal(QDate(2008, 3, 1));
    const int cell = cal->cellOfDay(7);
    QTest::mouseClick(cal->labDay[cell], Qt::LeftButton);
    EXPECT_EQ(lines(cal->lstCal), (QStringList{" - - - 3/7/2008 - - - ", "9:30 AM - Quarterly review wit",
                                               "     Alexandra Featherstonehau", "     O'Hare Building, 5th floo",
                                               " * * * * * * * * * * * * * * * ", "2:00 PM - Lunch", "     Bo", "     ",
                                               " * * * * * * * * * * * * * * * "}));
    EXPECT_EQ(values(cal->lstCal), (QList<int>{0, early, early, early, 0, late, late, late, 0}));
    EXPECT_EQ(paper(cell), CalPanel::selectedBackground());

    QTest::mouseClick(cal->labDay[cal->cellOfDay(9)], Qt::LeftButton);
    EXPECT_EQ(paper(cell), CalPanel::dayBackground());
    EXPECT_EQ(ink(7), blue);
    EXPECT_EQ(lines(cal->lstCal), (QStringList{" - - - 3/9/2008 - - - ", "There are no appointments", "for this date."}));
}

TEST_F(CalTest, OnlyAppointmentLinesOpenTheEditorAndClosingItReloads)
{
    const int id = addAppt(QDate(2008, 3, 7), QTime(9, 30), QStringLiteral("Review"));
    cal->LoadCal(QDate(2008, 3, 1));
    cal->labDay_Click(cal->cellOfDay(7));
    clickLine(0); // heading and separator: the strict desktop fails if anything opens
    clickLine(4);
    desk.onModal(QStringLiteral("frmAppt"), [&](QDialog& d) {
        auto& editor = static_cast<frmAppt&>(d);
        EXPECT_TRUE(editor.bEditMode);
        EXPECT_EQ(editor.lApptID, id);
        EXPECT_EQ(editor.apptText(0), QStringLiteral("Review"));
    });
    clickLine(2);
    EXPECT_EQ(desk.prompts.size(), 1u);
    EXPECT_EQ(lines(cal->lstCal), hints);
    for (int i = 0; i < 37; ++i)
        EXPECT_EQ(paper(i), CalPanel::dayBackground()) << i;
    EXPECT_EQ(ink(7), blue);
}

TEST_F(CalTest, AnUnreadableDatabaseIsReportedOncePerMonth)
{
    spoilDatabase(dir.path(), QStringLiteral("contacts.mdb"));
    cal->LoadCal(QDate(2008, 3, 1));
    ASSERT_EQ(desk.messages().size(), 1);
    EXPECT_TRUE(desk.messages()[0].startsWith(QStringLiteral("Error ")));
    EXPECT_TRUE(desk.messages()[0].endsWith(QStringLiteral(") in procedure ApptsForDay of Form frmKestrel")));
    EXPECT_EQ(cells()[36], QStringLiteral("31"));
    cal->labDay_Click(cal->cellOfDay(7));
    EXPECT_TRUE(desk.messages().value(1).endsWith(QStringLiteral(") in procedure ListDayAppts of Module modCal")));
}
