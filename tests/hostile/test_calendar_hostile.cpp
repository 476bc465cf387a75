// Hostile texts typed into the appointment editor come back unchanged (or cut at the box's
// length) in the database, the calendar's day list, the editor opened from it, the seven-day
// list and the printed listing; to-do items likewise through the input box, the list and print.
#include "calendar/CalPanel.h"
#include "calendar/RemindPanel.h"
#include "calendar/frmAppt.h"
#include "data/Globals.h"
#include "printing/frmPrint.h"
#include "tests/hostile/Hostile.h"
#include "tests/support/Fixture.h"

#include <QComboBox>
#include <QDateEdit>
#include <QGroupBox>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTextEdit>

#include <algorithm>

using namespace kestrel;
using namespace kestrel::test;

namespace {

// txtAppt(0) brief, (1) where, (2) notes, (3) name, and the most each takes (-1: no limit).
constexpr int kMax[4] = {50, 75, -1, 50};

struct Appt {
    int id = 0;
    QString text[4];
    QDate date;
    QTime time;
};

QStringList lines(const QListWidget* list)
{
    QStringList out;
    for (int i = 0; i < list->count(); ++i)
        out << list->item(i)->text();
    return out;
}

class HostileCalendar : public KestrelTest {
protected:
    void SetUp() override
    {
        KestrelTest::SetUp();
        host = std::make_unique<QWidget>();
        host->resize(px(11385), px(7095));
        auto* fraCal = new QGroupBox(host.get());
        fraCal->setGeometry(px(120), px(120), px(11100), px(6420));
        cal = new CalPanel(fraCal, host.get());
        auto* fraRemind = new QGroupBox(host.get());
        fraRemind->setGeometry(px(-12000), 0, px(11175), px(6495));
        remind = new RemindPanel(fraRemind, host.get());
        host->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(host.get()));
    }
    void TearDown() override
    {
        host.reset();
        KestrelTest::TearDown();
    }

    // A new appointment typed into the editor and saved; the day and half hour differ each time.
    Appt save(const QStringList& typed, int n)
    {
        Appt a;
        a.date = desk.todayValue.addDays(n % 8);
        a.time = QTime(n % 48 / 2, n % 2 * 30);
        desk.onModal(QStringLiteral("frmAppt"), [&](QDialog& d) {
            auto& f = static_cast<frmAppt&>(d);
            for (int i = 0; i < 4; ++i) {
                f.txtAppt[i]->setFocus();
                f.setApptText(i, typed[i]);
                a.text[i] = f.apptText(i);
                EXPECT_EQ(a.text[i], kept(typed[i], kMax[i])) << "box " << i;
            }
            f.DTPicker1->setDate(a.date);
            f.cboTime->setCurrentIndex(n % 48);
            QTest::mouseClick(f.cmdSave, Qt::LeftButton);
            EXPECT_FALSE(f.isVisible());
        });
        frmAppt editor;
        platform().runModal(editor);
        a.id = rows(sConnContacts, QStringLiteral("select max(autoid) from appointments"))[0][0].toInt();
        return a;
    }

    std::vector<Appt> saveAll()
    {
        const QStringList h = hostileTexts();
        std::vector<Appt> out;
        for (qsizetype n = 0; n < h.size(); ++n)
            out.push_back(save({h[n], h[(n + 1) % h.size()], h.mid(n).join(u"\r\n"), h[(n + 2) % h.size()]}, int(n)));
        out.push_back(save({allApostrophes(50), allApostrophes(75), allApostrophes(2000), allApostrophes(50)},
                           int(h.size())));
        out.push_back(save({emojiAtTheEdge(50), emojiAtTheEdge(75), emojiAtTheEdge(9), emojiAtTheEdge(50)},
                           int(h.size()) + 1));
        EXPECT_EQ(out.back().text[0], QString(49, u'x'));
        EXPECT_EQ(out.back().text[2], emojiAtTheEdge(9)); // notes have no limit
        return out;
    }

    QStringList stored(int id)
    {
        const auto r = rows(sConnContacts, QStringLiteral("SELECT apptbrief,address,apptnotes,name,apptdate,appttime "
                                                          "FROM appointments where autoid=%1").arg(id));
        return r.empty() ? QStringList() : r[0];
    }
    static QStringList expectedRow(const Appt& a)
    {
        return {a.text[0], a.text[1], a.text[2], a.text[3], DateText(a.date), a.time.toString(QStringLiteral("h:mm:ss AP"))};
    }

    std::unique_ptr<QWidget> host;
    CalPanel* cal = nullptr;
    RemindPanel* remind = nullptr;
};

TEST_F(HostileCalendar, EditorDayListAndEditorAgainKeepWhatWasTyped)
{
    std::vector<Appt> appts = saveAll();
    for (const Appt& a : appts)
        EXPECT_EQ(stored(a.id), expectedRow(a));

    // Each day lists its appointments by time: brief cut to 20, name and place cut to 25.
    std::stable_sort(appts.begin(), appts.end(), [](const Appt& x, const Appt& y) { return x.time < y.time; });
    cal->LoadCal(QDate(desk.todayValue.year(), desk.todayValue.month(), 1));
    for (int day = 0; day < 8; ++day) {
        const QDate d = desk.todayValue.addDays(day);
        if (d.month() != cal->dCalDate.month())
            cal->LoadCal(QDate(d.year(), d.month(), 1));
        cal->labDay_Click(cal->cellOfDay(d.day()));
        QStringList expected{QStringLiteral(" - - - %1 - - - ").arg(DateText(d))};
        std::vector<const Appt*> ofDay;
        for (const Appt& a : appts)
            if (a.date == d)
                ofDay.push_back(&a);
        for (const Appt* a : ofDay)
            expected << TimeText(a->time) + QStringLiteral(" - ") + LeftChars(a->text[0], 20)
                     << QStringLiteral("     ") + LeftChars(a->text[3], 25)
                     << QStringLiteral("     ") + LeftChars(a->text[1], 25) << QStringLiteral(" * * * * * * * * * * * * * * * ");
        ASSERT_EQ(lines(cal->lstCal), expected) << DateText(d).toStdString();

        // Opening each from the list shows every field as stored; saving it unchanged keeps it so.
        for (size_t k = 0; k < ofDay.size(); ++k) {
            const Appt& a = *ofDay[k];
            desk.onModal(QStringLiteral("frmAppt"), [&](QDialog& dlg) {
                auto& f = static_cast<frmAppt&>(dlg);
                for (int i = 0; i < 4; ++i)
                    EXPECT_EQ(f.apptText(i), a.text[i]) << a.id << " box " << i;
                QTest::mouseClick(f.cmdSave, Qt::LeftButton);
            });
            cal->labDay_Click(cal->cellOfDay(d.day()));
            // Choosing the line (the list acts on its selection, from the mouse or the keys).
            cal->lstCal->setCurrentRow(int(1 + 4 * k));
            QCoreApplication::processEvents();
            // What the editor's save queued runs now, as the main loop would run it at once.
            QCoreApplication::processEvents();
            EXPECT_EQ(stored(a.id), expectedRow(a));
        }
    }
    EXPECT_EQ(rows(sConnContacts, QStringLiteral("select count(*) from appointments"))[0][0].toInt(), int(appts.size()));
    EXPECT_TRUE(desk.messages().isEmpty()) << desk.messages().join(u'|').toStdString();
}

TEST_F(HostileCalendar, SevenDayListAndItsPrintedListingKeepWhatWasTyped)
{
    std::vector<Appt> appts = saveAll();
    std::stable_sort(appts.begin(), appts.end(),
                     [](const Appt& x, const Appt& y) { return std::tie(x.date, x.time) < std::tie(y.date, y.time); });
    remind->PopWeekList();
    static const char* const kDays[] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};
    QStringList expected;
    for (const Appt& a : appts)
        expected << QString::fromLatin1(kDays[a.date.dayOfWeek() % 7]) + QStringLiteral(", ") + DateText(a.date)
                 << TimeText(a.time) + QStringLiteral(" - ") + a.text[0] << QStringLiteral("     ") + a.text[3]
                 << QStringLiteral("     ") + a.text[1] << QStringLiteral(" * * * * * * * * * * * * * * * ");
    EXPECT_EQ(lines(remind->lstWeek), expected);

    // The listing goes onto the print surface as plain text: no markup in a value is obeyed.
    // A line break inside a value breaks the printed line too.
    desk.answerPrint(QString());
    PrintList(QStringLiteral("remind"));
    const QString listing = expected.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n");
    EXPECT_EQ(ListingText(*remind->lstWeek), listing);
    EXPECT_EQ(printForm().rtfPrintOut->toPlainText(), QString(listing).replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(u'\r', u'\n'));
    EXPECT_TRUE(desk.messages().isEmpty()) << desk.messages().join(u'|').toStdString();
}

TEST_F(HostileCalendar, ToDoItemsKeepWhatWasTypedCutAt25)
{
    QListWidget* todo = remind->lstToDo;
    remind->PopToDo();
    auto click = [&](int row, bool twice) {
        const QPoint at = todo->visualItemRect(todo->item(row)).center();
        todo->scrollToItem(todo->item(row));
        QTest::mouseClick(todo->viewport(), Qt::LeftButton, {}, at);
        if (twice) {
            QTest::mouseDClick(todo->viewport(), Qt::LeftButton, {}, at);
            QTest::mouseRelease(todo->viewport(), Qt::LeftButton, {}, at);
        }
        QCoreApplication::processEvents();
    };
    QStringList typed = hostileTexts();
    typed << allApostrophes(30) << emojiAtTheEdge(25) << QStringLiteral("x'") + allApostrophes(24);
    QStringList expected;
    for (const QString& t : typed) {
        desk.answerInput(t);
        click(0, false);
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

    // Editing an item with the hostile texts in turn: the box offers the item as it stands.
    for (int n = 0; n < 3; ++n) {
        const QString next = typed[(n * 7 + 3) % typed.size()];
        desk.answerInput(next);
        click(2, true);
        expected[0] = LeftChars(next, 25);
        EXPECT_EQ(items(), expected);
    }
    EXPECT_EQ(desk.prompts[desk.prompts.size() - 1].extra, LeftChars(typed[(1 * 7 + 3) % typed.size()], 25));

    desk.answerPrint(QString());
    PrintList(QStringLiteral("todo"));
    EXPECT_EQ(printForm().rtfPrintOut->toPlainText(),
              ListingText(*todo).replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(u'\r', u'\n'));
    EXPECT_TRUE(desk.messages().isEmpty()) << desk.messages().join(u'|').toStdString();
}

} // namespace
