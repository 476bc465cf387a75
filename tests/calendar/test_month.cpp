// The month calendar: the grid of a month, marks,
// stepping, the month list, the day list.
#include "tests/calendar/Helpers.h"

class MonthTest : public CalendarTest {
protected:
    // Day captions by cell, "-" for a hidden cell, "*" after a day marked blue.
    QStringList cells() const
    {
        QStringList out;
        for (QLabel* c : cal->labDay)
            out << (c->isHidden() ? QStringLiteral("-")
                                  : c->text() + (c->palette().color(QPalette::WindowText) == Qt::blue ? "*" : ""));
        return out;
    }
    QString blueDays() const { return cells().filter(QStringLiteral("*")).join(u','); }
    QColor paper(int cell) const { return cal->labDay[cell]->palette().color(QPalette::Window); }
};

TEST_F(MonthTest, TheGridFollowsTheFirstWeekdayAndTheLengthOfTheMonth)
{
    const struct { QDate first; const char* title; int firstCell, days; } months[] = {
        {QDate(2015, 2, 1), "February - 2015", 0, 28}, {QDate(2008, 3, 1), "March - 2008", 6, 31},
        {QDate(2000, 2, 1), "February - 2000", 2, 29}, {QDate(2100, 2, 1), "February - 2100", 1, 28},
    };
    for (const auto& m : months) {
        cal->LoadCal(m.first);
        QStringList expected;
        for (int i = 0; i < 37; ++i)
            expected << (i < m.firstCell || i >= m.firstCell + m.days ? QStringLiteral("-") : QString::number(i - m.firstCell + 1));
        EXPECT_EQ(cells(), expected) << m.title;
        EXPECT_EQ(cal->labMonthYear->text(), m.title);
    }
}

TEST_F(MonthTest, MarksStepsAndTheMonthList)
{
    for (const QDate& d : {QDate(2008, 3, 7), QDate(2008, 3, 7), QDate(2008, 3, 31), QDate(2008, 4, 1), QDate(2008, 2, 29)})
        addAppt(d, QTime(9, 0), "x");
    cal->LoadCal(QDate(2008, 3, 1));
    EXPECT_EQ(blueDays(), "7*,31*");
    QTest::mouseClick(cal->labArrow[1], Qt::LeftButton);
    EXPECT_EQ(cal->labMonthYear->text() + u' ' + blueDays(), "April - 2008 1*"); // the blue of March does not stay
    QTest::mouseClick(cal->labArrow[0], Qt::LeftButton);
    cal->PopMonthYear(); // today is 4 December 2026; only the user's choice loads a month
    EXPECT_EQ(cal->dCalDate, QDate(2008, 3, 1));
    EXPECT_EQ(cal->cboMonthYear->itemText(0) + u' ' + cal->cboMonthYear->itemText(35), "1/2025 12/2027");
    QTest::keyClick(cal->cboMonthYear, Qt::Key_Down);
    EXPECT_EQ(cal->dCalDate, QDate(2025, 1, 1));
}

TEST_F(MonthTest, ADayListsItsAppointmentsByTimeWithCutLinesAndOnlyThoseLinesOpenTheEditorAndStaysListed)
{
    const int late = addAppt(QDate(2008, 3, 7), QTime(14, 0), "Lunch", "Bo", "");
    addAppt(QDate(2008, 3, 7), QTime(9, 30), "Quarterly review with the bank",
                              "Alexandra Featherstonehaugh-Smith", "O'Hare Building, 5th floor");
    cal->LoadCal(QDate(2008, 3, 1));
    QTest::mouseClick(cal->labDay[cal->cellOfDay(9)], Qt::LeftButton);
    EXPECT_EQ(lines(cal->lstCal), QStringList({" - - - 3/9/2008 - - - ", "There are no appointments", "for this date."}));
    const int cell = cal->cellOfDay(7);
    QTest::mouseClick(cal->labDay[cell], Qt::LeftButton);
    EXPECT_EQ(lines(cal->lstCal), QStringList({" - - - 3/7/2008 - - - ", "9:30 AM - Quarterly review wit",
                                               "     Alexandra Featherstonehau", "     O'Hare Building, 5th floo", kSeparator,
                                               "2:00 PM - Lunch", "     Bo", "     ", kSeparator}));

    clickLine(cal->lstCal, 0); // heading and separator: the strict desktop fails if anything opens
    clickLine(cal->lstCal, 4);
    desk.onModal("frmAppt", [&](QDialog& d) {
        auto& editor = static_cast<frmAppt&>(d);
        EXPECT_TRUE(editor.bEditMode && editor.lApptID == late && editor.apptText(0) == "Lunch");
    });
    clickLine(cal->lstCal, 6);
    // Closed again, the day stays listed and marked, with the line of the appointment chosen.
    EXPECT_EQ(lines(cal->lstCal).size(), 9);
    EXPECT_EQ(cal->lstCal->currentRow(), 5);
    EXPECT_EQ(paper(cell), CalPanel::selectedBackground());
    EXPECT_EQ(blueDays(), "7*");
}

TEST_F(MonthTest, UnreadableDatabasesAreToldInPlainWordsOncePerMonthAndOncePerList)
{
    if (onServer())
        GTEST_SKIP() << "about damaged local files";
    spoil("contacts.mdb");
    spoil("kestrel.mdb");
    cal->LoadCal(QDate(2008, 3, 1));
    EXPECT_EQ(cells()[36], "31");
    cal->labDay_Click(cal->cellOfDay(7));
    remind->PopWeekList(); // and no purge is tried
    remind->PopToDo();
    EXPECT_EQ(lines(remind->lstToDo), QStringList({"Add To Do Item", "     * * * * * "}));
    // What the user can do about it, never an engine's error number and a procedure's name.
    const auto damaged = [&](const char* file) {
        return "The file " + dataPath(QString::fromLatin1(file)) + " is damaged (file is not a database): Kestrel cannot use it.\r\nIt was "
               "left as it is. Close Kestrel and put back a copy from your backups, or move the file out of the folder " +
               dir.path() + "/data and start Kestrel again to begin with a new, empty one.";
    };
    EXPECT_EQ(desk.messages(), QStringList({damaged("contacts.mdb"), damaged("contacts.mdb"), damaged("contacts.mdb"),
                                            damaged("kestrel.mdb")}));
}
