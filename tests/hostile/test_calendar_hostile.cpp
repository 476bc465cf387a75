// Hostile texts typed into the appointment editor come back unchanged (or cut at the box's
// length) in the database, the editor opened again from the day list, the seven-day list and its
// printed listing; to-do items likewise.
#include "tests/calendar/Helpers.h"
#include "printing/frmPrint.h"
#include "data/TextFold.h"
#include "tests/hostile/Hostile.h"
#include "ui/Desktop.h"

namespace {

using HostileCalendar = CalendarTest;

TEST_F(HostileCalendar, AppointmentsKeepWhatWasTypedThroughTheDayListAndAnUnchangedSave)
{
    // Hostile texts in brief, where, notes (many, joined by CR LF) and name, then texts at each
    // maximum, all on one day, each half an hour later than the one before.
    const QStringList h = hostileTexts();
    std::vector<QStringList> typed;
    for (qsizetype n = 0; n < h.size(); ++n)
        typed.push_back({h[n], h[(n + 1) % h.size()], h.mid(n).join(u"\r\n"), h[(n + 2) % h.size()]});
    typed.push_back({allApostrophes(50), allApostrophes(75), allApostrophes(2000), allApostrophes(50)});
    typed.push_back({emojiAtTheEdge(50), emojiAtTheEdge(75), emojiAtTheEdge(9), emojiAtTheEdge(50)});

    const QDate day = desk.todayValue;
    const auto stored = [&](int k) {
        return rows(sConnContacts, QStringLiteral("SELECT apptbrief,address,apptnotes,name FROM appointments "
                                                  "order by appttime")).at(size_t(k));
    };
    std::vector<QStringList> saved;
    for (size_t n = 0; n < typed.size(); ++n) {
        QStringList text;
        desk.onModal(QStringLiteral("frmAppt"), [&](QDialog& d) {
            auto& f = static_cast<frmAppt&>(d);
            for (int i = 0; i < 4; ++i) {
                f.txtAppt[i]->setFocus();
                if (auto* box = qobject_cast<QLineEdit*>(f.txtAppt[i]))
                    box->insert(typed[n][i]); // as typed or pasted: the box keeps what fits
                else
                    f.setApptText(i, typed[n][i]);
                text << f.apptText(i);
            }
            f.DTPicker1->setDate(day);
            f.cboTime->setCurrentIndex(int(n));
            QTest::mouseClick(f.cmdSave, Qt::LeftButton);
        });
        frmAppt editor;
        desktop().runModal(editor);
        EXPECT_EQ(text, (QStringList{kept(typed[n][0], 50), kept(typed[n][1], 75), typed[n][2], kept(typed[n][3], 50)})) << n;
        EXPECT_EQ(stored(int(n)), text);
        saved.push_back(text);
    }
    EXPECT_EQ(saved.back()[0], QString(49, u'x')); // no half emoji

    cal->LoadCal(QDate(day.year(), day.month(), 1));
    cal->labDay_Click(cal->cellOfDay(day.day()));
    // Opened from the list (which stays listed), every field shows as stored; saving it unchanged
    // keeps it so (notes with CR LF included).
    for (size_t k = 0; k < saved.size(); ++k) {
        desk.onModal(QStringLiteral("frmAppt"), [&](QDialog& dlg) {
            auto& f = static_cast<frmAppt&>(dlg);
            for (int i = 0; i < 4; ++i)
                EXPECT_EQ(f.apptText(i), saved[k][i]) << k << " box " << i;
            QTest::mouseClick(f.cmdSave, Qt::LeftButton);
        });
        clickLine(cal->lstCal, int(1 + 4 * k));
        QCoreApplication::processEvents(); // what the save queued, as the main loop would run it
        EXPECT_EQ(stored(int(k)), saved[k]);
    }
    // The seven-day list shows each whole, and its listing prints exactly those lines.
    remind->PopWeekList();
    const QStringList week = lines(remind->lstWeek);
    ASSERT_EQ(week.size(), qsizetype(5 * saved.size()));
    for (size_t k = 0; k < saved.size(); ++k) {
        EXPECT_TRUE(week[qsizetype(5 * k + 1)].endsWith(QStringLiteral(" - ") + isolated(saved[k][0]))) << k;
        EXPECT_EQ(week[qsizetype(5 * k + 2)], QStringLiteral("     ") + isolated(saved[k][3])) << k;
        EXPECT_EQ(week[qsizetype(5 * k + 3)], QStringLiteral("     ") + isolated(saved[k][1])) << k;
    }
    EXPECT_EQ(ListingText(*remind->lstWeek), week.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n"));
    EXPECT_TRUE(desk.messages().isEmpty()) << desk.messages().join(u'|').toStdString();
}

TEST_F(HostileCalendar, ToDoItemsKeepTheirFirst25Characters)
{
    remind->PopToDo();
    QStringList expected;
    const QStringList texts = hostileTexts() << allApostrophes(30) << emojiAtTheEdge(25);
    for (const QString& text : texts) {
        desk.answerInput(text);
        clickLine(remind->lstToDo, 0);
        expected << LeftChars(text, 25);
    }
    EXPECT_EQ(joined(rows(sConnMain, QStringLiteral("select todo from todo order by id"))), expected.join(u'/'));
    const QStringList shown = lines(remind->lstToDo);
    for (qsizetype i = 0; i < expected.size(); ++i)
        EXPECT_EQ(shown[2 + 2 * i], expected[i]) << i;
    EXPECT_TRUE(desk.messages().isEmpty()) << desk.messages().join(u'|').toStdString();
}

} // namespace
