// Hostile texts typed into the appointment editor come back unchanged (or cut at the box's
// length) in the database, the calendar's day list, the editor opened from it, the seven-day
// list and the printed listing; to-do items likewise through the input box, the list and print.
#include "printing/frmPrint.h"
#include "tests/calendar/Helpers.h"
#include "tests/hostile/Hostile.h"

namespace {

// txtAppt(0) brief, (1) where, (2) notes, (3) name, and the most each takes (-1: no limit).
constexpr int kMax[4] = {50, 75, -1, 50};

struct Appt {
    int id = 0;
    QStringList text;
    QDate date;
    QTime time;
};

// The print surface shows the listing as plain text, each CR LF or lone CR a line break.
QString printedAs(QString listing) { return listing.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(u'\r', u'\n'); }

class HostileCalendar : public CalendarTest {
protected:
    QStringList stored(int id)
    {
        return rows(sConnContacts, QStringLiteral("SELECT apptbrief,address,apptnotes,name,apptdate,appttime "
                                                  "FROM appointments where autoid=%1").arg(id)).at(0);
    }
    static QStringList expectedRow(const Appt& a)
    {
        return a.text + QStringList{DateText(a.date), a.time.toString(QStringLiteral("h:mm:ss AP"))};
    }
};

TEST_F(HostileCalendar, AppointmentPathsKeepWhatWasTyped)
{
    // Hostile texts in every box (notes hold many, joined by CR LF), then texts at each maximum.
    const QStringList h = hostileTexts();
    std::vector<QStringList> typed;
    for (qsizetype n = 0; n < h.size(); ++n)
        typed.push_back({h[n], h[(n + 1) % h.size()], h.mid(n).join(u"\r\n"), h[(n + 2) % h.size()]});
    typed.push_back({allApostrophes(50), allApostrophes(75), allApostrophes(2000), allApostrophes(50)});
    typed.push_back({emojiAtTheEdge(50), emojiAtTheEdge(75), emojiAtTheEdge(9), emojiAtTheEdge(50)});

    std::vector<Appt> appts;
    for (size_t n = 0; n < typed.size(); ++n) {
        Appt a;
        a.date = desk.todayValue.addDays(int(n % 8));
        a.time = QTime(int(n % 48 / 2), int(n % 2 * 30));
        desk.onModal(QStringLiteral("frmAppt"), [&](QDialog& d) {
            auto& f = static_cast<frmAppt&>(d);
            for (int i = 0; i < 4; ++i) {
                f.txtAppt[i]->setFocus();
                f.setApptText(i, typed[n][i]);
                a.text << f.apptText(i);
                EXPECT_EQ(a.text[i], kept(typed[n][i], kMax[i])) << "box " << i;
            }
            f.DTPicker1->setDate(a.date);
            f.cboTime->setCurrentIndex(int(n % 48));
            QTest::mouseClick(f.cmdSave, Qt::LeftButton);
            EXPECT_FALSE(f.isVisible());
        });
        frmAppt editor;
        platform().runModal(editor);
        a.id = rows(sConnContacts, QStringLiteral("select max(autoid) from appointments"))[0][0].toInt();
        EXPECT_EQ(stored(a.id), expectedRow(a));
        appts.push_back(a);
    }
    EXPECT_EQ(appts.back().text[0], QString(49, u'x')); // no half emoji

    // Each day lists its appointments by time: brief cut to 20, name and place cut to 25.
    std::stable_sort(appts.begin(), appts.end(),
                     [](const Appt& x, const Appt& y) { return std::tie(x.date, x.time) < std::tie(y.date, y.time); });
    for (int day = 0; day < 8; ++day) {
        const QDate d = desk.todayValue.addDays(day);
        cal->LoadCal(QDate(d.year(), d.month(), 1));
        cal->labDay_Click(cal->cellOfDay(d.day()));
        QStringList expected{QStringLiteral(" - - - %1 - - - ").arg(DateText(d))};
        std::vector<Appt> ofDay;
        std::copy_if(appts.begin(), appts.end(), std::back_inserter(ofDay), [&](const Appt& a) { return a.date == d; });
        std::stable_sort(ofDay.begin(), ofDay.end(), [](const Appt& x, const Appt& y) { return x.time < y.time; });
        for (const Appt& a : ofDay)
            expected << TimeText(a.time) + QStringLiteral(" - ") + LeftChars(a.text[0], 20)
                     << QStringLiteral("     ") + LeftChars(a.text[3], 25) << QStringLiteral("     ") + LeftChars(a.text[1], 25)
                     << kSeparator;
        ASSERT_EQ(lines(cal->lstCal), expected) << DateText(d).toStdString();

        // Opened from the list, every field shows as stored; saving it unchanged keeps it so
        // (notes with CR LF included).
        for (size_t k = 0; k < ofDay.size(); ++k) {
            desk.onModal(QStringLiteral("frmAppt"), [&](QDialog& dlg) {
                auto& f = static_cast<frmAppt&>(dlg);
                for (int i = 0; i < 4; ++i)
                    EXPECT_EQ(f.apptText(i), ofDay[k].text[i]) << ofDay[k].id << " box " << i;
                QTest::mouseClick(f.cmdSave, Qt::LeftButton);
            });
            cal->labDay_Click(cal->cellOfDay(d.day()));
            cal->lstCal->setCurrentRow(int(1 + 4 * k));
            QCoreApplication::processEvents();
            QCoreApplication::processEvents(); // what the save queued, as the main loop would run it
            EXPECT_EQ(stored(ofDay[k].id), expectedRow(ofDay[k]));
        }
    }

    // The seven-day list holds every text whole; its printed listing is the same plain text.
    remind->PopWeekList();
    static const char* const kDays[] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};
    QStringList week;
    for (const Appt& a : appts)
        week << QString::fromLatin1(kDays[a.date.dayOfWeek() % 7]) + QStringLiteral(", ") + DateText(a.date)
             << TimeText(a.time) + QStringLiteral(" - ") + a.text[0] << QStringLiteral("     ") + a.text[3]
             << QStringLiteral("     ") + a.text[1] << kSeparator;
    EXPECT_EQ(lines(remind->lstWeek), week);
    desk.answerPrint(QString());
    PrintList(QStringLiteral("remind"));
    EXPECT_EQ(ListingText(*remind->lstWeek), week.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n"));
    EXPECT_EQ(printForm().rtfPrintOut->toPlainText(), printedAs(ListingText(*remind->lstWeek)));
    EXPECT_EQ(rows(sConnContacts, QStringLiteral("select count(*) from appointments"))[0][0].toInt(), int(appts.size()));
    EXPECT_TRUE(desk.messages().isEmpty()) << desk.messages().join(u'|').toStdString();
}

TEST_F(HostileCalendar, ToDoItemsKeepWhatWasTypedCutAt25)
{
    QListWidget* todo = remind->lstToDo;
    remind->PopToDo();
    QStringList typed = hostileTexts();
    typed << allApostrophes(30) << emojiAtTheEdge(25) << QStringLiteral("x'") + allApostrophes(24);
    QStringList expected;
    for (const QString& t : typed) {
        desk.answerInput(t);
        clickLine(todo, 0);
        expected << LeftChars(t, 25);
    }
    EXPECT_EQ(expected.value(expected.size() - 2), QString(24, u'x'));
    const auto items = [&] {
        QStringList out;
        for (const QStringList& r : rows(sConnMain, QStringLiteral("select todo from todo order by id")))
            out << r[0];
        return out;
    };
    EXPECT_EQ(items(), expected);
    QStringList shown;
    for (int i = 2; i < todo->count(); i += 2)
        shown << todo->item(i)->text();
    EXPECT_EQ(shown, expected);

    // Editing an item: the box offers the item as it stands, and the new text replaces it.
    for (int n = 0; n < 3; ++n) {
        const QString next = typed[(n * 7 + 3) % typed.size()];
        const QString before = expected[0];
        desk.answerInput(next);
        todo->scrollToItem(todo->item(2));
        clickLine(todo, 2, true);
        EXPECT_EQ(desk.prompts.back().extra, before);
        expected[0] = LeftChars(next, 25);
        EXPECT_EQ(items(), expected);
    }

    desk.answerPrint(QString());
    PrintList(QStringLiteral("todo"));
    EXPECT_EQ(printForm().rtfPrintOut->toPlainText(), printedAs(ListingText(*todo)));
    EXPECT_TRUE(desk.messages().isEmpty()) << desk.messages().join(u'|').toStdString();
}

} // namespace
