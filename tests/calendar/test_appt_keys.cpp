// The appointment editor at the keyboard: times typed as people type them, Escape and the close
// box asking before typed changes go, Ctrl+S saving.
#include "tests/calendar/Helpers.h"
#include "ui/TimeBox.h"

namespace {

class ApptKeysTest : public CalendarTest {
protected:
    QString storedTimes() { return stored("select appttime from appointments order by autoid"); }
};

TEST(TypedTime, ReadsTheFormsPeopleTypeWithAWorkingDaysHoursAndNothingElse)
{
    const std::pair<const char*, QTime> cases[] = {
        {"9:30", {9, 30}},       {"9:30 am", {9, 30}},     {"9:30AM", {9, 30}},     {"930", {9, 30}},
        {"9", {9, 0}},           {"7", {7, 0}},            {"11:30", {11, 30}},     {"12", {12, 0}},
        {"12:30", {12, 30}},     {"1", {13, 0}},           {"6:30", {18, 30}},      {"530", {17, 30}},
        {"14:00", {14, 0}},      {"1400", {14, 0}},        {"23:30", {23, 30}},     {"0", {0, 0}},
        {"00:30", {0, 30}},      {"06:30", {6, 30}},       {"0630", {6, 30}},       {"9.30", {9, 30}},
        {"9:30 pm", {21, 30}},   {"9:30 p.m.", {21, 30}},  {"6 AM", {6, 0}},        {"12 am", {0, 0}},
        {"12:30 a", {0, 30}},    {"12 PM", {12, 0}},       {"  2:15 p ", {14, 15}}, {"11:30 PM", {23, 30}},
        {"24:00", {}},           {"13 pm", {}},            {"0 am", {}},            {"9:60", {}},
        {"9:3", {}},             {"12345", {}},            {"9 30", {}},            {"noon", {}},
        {"", {}},                {":30", {}},              {"9:30 x", {}},          {"9:30:00", {}},
    };
    for (const auto& [text, time] : cases)
        EXPECT_EQ(ParseTypedTime(QString::fromLatin1(text)).value_or(QTime()), time) << text;
    EXPECT_EQ(HalfHourIndex(QTime(9, 30)).value_or(-1), 19);
    EXPECT_EQ(HalfHourIndex(QTime(23, 30)).value_or(-1), 47);
    EXPECT_FALSE(HalfHourIndex(QTime(9, 15)));
}

TEST_F(ApptKeysTest, ATypedTimeIsTheTimeTypedShownAsItsEntryAndAnotherIsRefusedKeepingTheWindow)
{
    // Typed after Tab into the time box; what the box shows once the keys leave it; what is stored.
    const struct {
        const char* keys;
        const char* shown;
        const char* stored;
    } cases[] = {
        {"9:30", "9:30 AM", "9:30:00 AM"},  {"9:30 am", "9:30 AM", "9:30:00 AM"}, {"930", "9:30 AM", "9:30:00 AM"},
        {"14:00", "2:00 PM", "2:00:00 PM"}, {"3", "3:00 PM", "3:00:00 PM"},       {"12", "12:00 PM", "12:00:00 PM"},
        {"0630", "6:30 AM", "6:30:00 AM"},  {"7:30 pm", "7:30 PM", "7:30:00 PM"},
    };
    for (const auto& c : cases) {
        withEditor(0, {}, [&](frmAppt& d) {
            type("Review\t\t\t");
            ASSERT_EQ(QApplication::focusWidget(), d.cboTime);
            type(c.keys);
            EXPECT_FALSE(QApplication::activePopupWidget()) << c.keys; // a blank is typed, it opens no list
            type("\t");
            EXPECT_EQ(d.cboTime->currentText(), c.shown) << c.keys;
            d.txtName->setFocus();
            type("Ann Lee");
            QTest::mouseClick(d.cmdSave, Qt::LeftButton);
        });
        EXPECT_EQ(storedTimes(), c.stored) << c.keys;
        exec(sConnContacts, "delete from appointments");
    }

    // Between half hours, or no time at all: refused where it is typed, and Save keeps the window.
    withEditor(0, {}, [&](frmAppt& d) {
        type("Review\t\t\t9:15\t");
        EXPECT_EQ(d.cboTime->currentText(), "9:15");
        EXPECT_TRUE(d.cboTime->isRefused());
        d.txtName->setFocus();
        type("Ann Lee");
        QTest::mouseClick(d.cmdSave, Qt::LeftButton);
        ASSERT_TRUE(d.isVisible());
        EXPECT_EQ(QApplication::focusWidget(), d.cboTime);
        type("9 am");
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down); // the arrows step on from the time typed
        EXPECT_EQ(d.cboTime->currentText(), "9:30 AM");
        EXPECT_FALSE(d.cboTime->isRefused());
        d.cboTime->lineEdit()->selectAll();
        type("25");
        ctrlS();
        EXPECT_TRUE(d.isVisible());
        type("10:30\t"); // the refused time stands selected
        ctrlS();
        EXPECT_FALSE(d.isVisible());
    });
    EXPECT_EQ(storedTimes(), "10:30:00 AM");
    EXPECT_EQ(desk.messages(), QStringList({"Appointments begin on the hour or the half hour, and 9:15 AM is neither: "
                                            "choose 9:00 AM or 9:30 AM.",
                                            "The time must be a time of day, typed for example as 9:30, 9:30 PM, 930 "
                                            "or 14:00."}));
}

TEST_F(ApptKeysTest, EscapeAndTheCloseBoxAskBeforeTypedChangesGoAndCtrlSSaves)
{
    const int id = addAppt(QDate(2026, 12, 8), QTime(10, 0), "Review");
    // Nothing changed: Escape closes at once.
    withEditor(id, {}, [&](frmAppt& d) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        EXPECT_FALSE(d.isVisible());
    });
    EXPECT_EQ(desk.prompts.size(), 1u);

    // Typed into: No keeps the window and the text; the close box asks too; Yes drops the change.
    withEditor(id, {}, [&](frmAppt& d) {
        d.txtWhere->setFocus(Qt::TabFocusReason);
        type("Cafe");
        desk.answerNo();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        EXPECT_TRUE(d.isVisible());
        EXPECT_EQ(d.apptText(1), "Cafe");
        desk.answerNo();
        d.close();
        EXPECT_TRUE(d.isVisible());
        desk.answerYes();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        EXPECT_FALSE(d.isVisible());
    });
    EXPECT_EQ(stored("select address from appointments"), "Main office");
    ASSERT_EQ(desk.prompts.size(), 5u);
    for (size_t i = 2; i < 5; ++i)
        EXPECT_EQ(desk.prompts[i].text, "Discard the changes to this appointment?");

    // Ctrl+S from the notes box saves as the button does; the captions stay as they are.
    withEditor(id, {}, [&](frmAppt& d) {
        d.txtNotes->setFocus(Qt::TabFocusReason);
        type("Bring the figures");
        ctrlS();
        EXPECT_FALSE(d.isVisible());
        EXPECT_EQ(d.cmdSave->text() + u'|' + d.windowTitle(), "Save|Appointment");
    });
    EXPECT_EQ(stored("select apptnotes from appointments"), "Bring the figures");
}

} // namespace
