// What assistive software reads in every window, checked through Qt's accessibility interfaces
// in this process (no bus): a name for every control that takes the focus, a box named by its
// label, no two controls alike, the reading order of the tab order; the announcements.
#include "app/frmKestrel.h"
#include "calendar/CalPanel.h"
#include "calendar/RemindPanel.h"
#include "calendar/frmAppt.h"
#include "calendar/frmReminder.h"
#include "calendar/modCal.h"
#include "contacts/LeadPanel.h"
#include "contacts/frmContactGrid.h"
#include "contacts/frmFind.h"
#include "contacts/frmHistory.h"
#include "contacts/frmLogEntry.h"
#include "contacts/frmLead.h"
#include "data/Globals.h"
#include "dialogs/frmAbout.h"
#include "dialogs/frmGreet.h"
#include "dialogs/frmHelp.h"
#include "dialogs/frmOptions.h"
#include "dialogs/frmTrash.h"
#include "dialogs/frmRestore.h"
#include "exchange/frmICalRange.h"
#include "exchange/frmImport.h"
#include "exchange/frmLeadCSV.h"
#include "exchange/frmMapField.h"
#include "tests/contacts/Common.h"
#include "tests/support/Files.h"
#include "tests/support/PrintQString.h"
#include "ui/Accessible.h"
#include "ui/DatePicker.h"

#include <QAccessible>
#include <QTest>
#include <QtWidgets>

#include <algorithm>
#include <map>

using namespace kestrel;
using namespace kestrel::test;

namespace {

// The name a screen reader gives a control: a list box's own label where it has one (Qt names it
// by the choice it shows on this desktop), else its name.
QString spokenName(QAccessibleInterface* a)
{
    if (a->role() == QAccessible::ComboBox)
        for (const auto& [label, relation] : a->relations(QAccessible::Label))
            if (label->role() == QAccessible::StaticText && !label->text(QAccessible::Name).isEmpty())
                return label->text(QAccessible::Name);
    return a->text(QAccessible::Name);
}

bool readable(const QWidget* w, const QWidget* window)
{
    return w->window() == window && w->focusPolicy() != Qt::NoFocus && w->isVisibleTo(window);
}

// The controls that take the focus, in the order the accessibility tree lists them.
void collect(QAccessibleInterface* a, const QWidget* window, QList<QWidget*>& out, int depth = 0)
{
    if (!a || depth > 30)
        return;
    for (int i = 0; i < a->childCount(); ++i) {
        QAccessibleInterface* c = a->child(i);
        if (!c || !c->object() || !c->object()->isWidgetType())
            continue;
        auto* w = static_cast<QWidget*>(c->object());
        if (w->window() != window)
            continue;
        if (readable(w, window) && (w->focusPolicy() & Qt::TabFocus))
            out << w;
        collect(c, window, out, depth + 1);
    }
}

// Every fault a screen-reader user would meet in window as it stands.
QStringList faultsOf(QWidget* window)
{
    QStringList faults;
    std::map<std::pair<int, QString>, QStringList> alike;
    for (QWidget* w : window->findChildren<QWidget*>()) {
        if (!readable(w, window) || qobject_cast<QScrollBar*>(w) || w->objectName() == u"qt_scrollarea_viewport")
            continue;
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
        const QString name = spokenName(a);
        if (name.trimmed().isEmpty())
            faults << QStringLiteral("%1 (%2) has no name").arg(w->objectName(), w->metaObject()->className());
        for (QLabel* label : window->findChildren<QLabel*>())
            if (label->buddy() == w && qobject_cast<QLineEdit*>(w) && name != spokenCaption(label->text()))
                faults << QStringLiteral("%1 is named \"%2\", its label says \"%3\"").arg(w->objectName(), name, label->text());
        alike[{int(a->role()), name}] << w->objectName();
    }
    for (const auto& [key, names] : alike)
        if (names.size() > 1 && !key.second.isEmpty())
            faults << QStringLiteral("\"%1\" names %2").arg(key.second, names.join(u','));
    // Read in the order Tab goes.
    QList<QWidget*> read, tabbed;
    collect(QAccessible::queryAccessibleInterface(window), window, read);
    for (QWidget* w = window->nextInFocusChain(); w && w != window; w = w->nextInFocusChain())
        if (readable(w, window) && (w->focusPolicy() & Qt::TabFocus) && !tabbed.contains(w))
            tabbed << w;
    const auto names = [](const QList<QWidget*>& ws) {
        QStringList out;
        for (QWidget* w : ws)
            out << w->objectName();
        return out.join(u',');
    };
    if (names(read) != names(tabbed))
        faults << QStringLiteral("read %1, tabbed %2").arg(names(read), names(tabbed));
    return faults;
}

QString nameOf(QObject* o) { return QAccessible::queryAccessibleInterface(o)->text(QAccessible::Name); }

// Announcements as they are made: each shows the window's notification object, named with what is
// said. (The events a screen reader hears are checked on the bus: Qt raises them only while
// one listens.)
class Listener : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Show && watched->objectName() == u"kestrelAnnouncer")
            said << static_cast<QWidget*>(watched)->accessibleName();
        return false;
    }
    QStringList said;
};

class AccessibleTest : public KestrelTest {
protected:
    void SetUp() override
    {
        KestrelTest::SetUp();
        qApp->installEventFilter(&listener);
    }
    void TearDown() override
    {
        qApp->removeEventFilter(&listener);
        KestrelTest::TearDown();
    }
    QStringList announced() const { return listener.said; }
    static void showAndCheck(QWidget& w, const char* what)
    {
        w.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
        EXPECT_EQ(faultsOf(&w), QStringList()) << what;
    }
    // A window shown on its own and checked, when nothing else of it is asked.
    template <class W>
    static void checkWindow(const char* what)
    {
        W w;
        showAndCheck(w, what);
    }
    Listener listener;
};

TEST(AccessibleRules, CaptionsBecomeNamesAndLabelsNameTheBoxesTheyStandOver)
{
    EXPECT_EQ(spokenCaption(QStringLiteral("Last Name:")), "Last Name");
    EXPECT_EQ(spokenCaption(QStringLiteral("Map by &Name")), "Map by Name");
    EXPECT_EQ(spokenCaption(QStringLiteral("R&&D  dept :")), "R&D dept");
    EXPECT_EQ(spokenCaption(QStringLiteral("Filter the contacts you wish displayed.")), "Filter the contacts you wish displayed");

    using R = NamingRow;
    // label box | label label box box | label box box (a list after its box has no label) |
    // an empty label names nothing | another parent's rows keep their own labels.
    const std::vector<NamingRow> rows = {
        {R::Label, true, 0},      {R::NeedsLabel, false, 0}, {R::Label, true, 0},       {R::Label, true, 0},
        {R::NeedsLabel, false, 0}, {R::Other, false, 0},     {R::NeedsLabel, false, 0}, {R::Label, true, 0},
        {R::NeedsLabel, false, 0}, {R::NeedsLabel, false, 0}, {R::Label, false, 0},     {R::NeedsLabel, false, 0},
        {R::Label, true, 1},      {R::Label, true, 0},       {R::NeedsLabel, false, 1}, {R::NeedsLabel, false, 0}};
    EXPECT_EQ(labelRows(rows), (std::vector<int>{-1, 0, -1, -1, 2, -1, 3, -1, 7, -1, -1, -1, -1, -1, 12, 13}));
    // Labels over a row of fewer boxes, as the calendar's weekdays stand over its month chooser:
    // the last label names the first box.
    EXPECT_EQ(labelRows({{R::Label, true, 0}, {R::Label, true, 0}, {R::Label, true, 0}, {R::NeedsLabel, false, 0},
                         {R::NeedsLabel, false, 0}}),
              (std::vector<int>{-1, -1, -1, 2, -1}));
    EXPECT_EQ(DaySpoken(QDate(2027, 3, 7), 3), "Sunday, March 7, 2027, 3 appointments");
    EXPECT_EQ(DaySpoken(QDate(2027, 3, 8), 1), "Monday, March 8, 2027, 1 appointment");
    EXPECT_EQ(DaySpoken(QDate(2027, 3, 9), 0), "Tuesday, March 9, 2027, no appointments");
}

TEST_F(AccessibleTest, EveryWindowNamesEachControlByItsLabelAndIsReadInTabOrder)
{
    frmKestrel main;
    main.Form_Load();
    showAndCheck(main, "main window, reminders");
    EXPECT_EQ(nameOf(main.remind->lstWeek), "Appointments for the next 7 days");
    EXPECT_EQ(nameOf(main.remind->lstToDo), "To Do");
    EXPECT_EQ(main.remind->lstToDo->accessibleDescription(), "Double click item to edit Click 'Add ToDo Item' to add");
    main.mnuApptsCal->trigger();
    EXPECT_EQ(faultsOf(&main), QStringList()) << "main window, calendar";
    main.mnuConView->trigger();
    EXPECT_EQ(faultsOf(&main), QStringList()) << "main window, contacts";
    EXPECT_EQ(nameOf(main.lead->tvLead), "Contacts");
    QStringList panelNames;
    for (int i : {1, 2, 6, 8, 13})
        panelNames << nameOf(main.lead->txtLead[i]);
    EXPECT_EQ(panelNames.join(u','), "Last Name,First Name,Zip,Cell Phone,Type");
    // Each label is read just before its box, though the labels of a row come first in the table.
    const std::vector<QWidget*> order = readingOrder(main.fraLead);
    const auto at = [&](QWidget* w) { return std::find(order.begin(), order.end(), w) - order.begin(); };
    EXPECT_EQ(at(main.lead->txtLead[1]) + 1, at(main.lead->controls[QStringLiteral("lblFName")]));

    frmLead lead;
    showAndCheck(lead, "contact editor");
    QStringList editorNames;
    for (int i = 1; i < 13; ++i)
        editorNames << nameOf(i == 3 ? static_cast<QWidget*>(lead.txtAddress) : lead.txtLead[i]);
    EXPECT_EQ(editorNames.join(u',').toStdString(),
              "Last Name,First Name,Address,City,State,Zip,Home Phone,Cell Phone,Work Phone,Ext,Email,Company");
    checkWindow<frmContactGrid>("grid");
    checkWindow<frmFind>("find");
    frmAppt appt;
    showAndCheck(appt, "appointment editor");
    EXPECT_EQ(nameOf(appt.DTPicker1), "Date");
    // The date box's arrow has no text, and a name all the same.
    const QList<QToolButton*> arrows = appt.DTPicker1->findChildren<QToolButton*>(Qt::FindDirectChildrenOnly);
    ASSERT_EQ(arrows.size(), 1);
    EXPECT_EQ(nameOf(arrows[0]), "Open the calendar");
    frmLogEntry logEntry(1, 0);
    showAndCheck(logEntry, "log activity");
    EXPECT_EQ(nameOf(logEntry.txtNote), "Note");
    frmHistory history(0);
    showAndCheck(history, "history");
    checkWindow<frmLeadCSV>("export");
    checkWindow<frmICalRange>("calendar export");
    frmOptions options;
    showAndCheck(options, "options");
    EXPECT_FALSE(options.txtOffice->accessibleDescription().isEmpty());
    checkWindow<frmGreet>("greeting");
    checkWindow<frmAbout>("about");
    frmTrash trash;
    showAndCheck(trash, "trash");
    EXPECT_EQ(nameOf(trash.lstTrash), "Deleted, newest first");
    frmRestore restore;
    showAndCheck(restore, "restore backup");
    EXPECT_EQ(nameOf(restore.lstCopies), "Backups, newest first");
    frmHelp help;
    ASSERT_TRUE(help.OpenHelp(QStringLiteral(KESTREL_SOURCE_DIR "/resources/kestrel.chm")));
    showAndCheck(help, "help");
}

TEST_F(AccessibleTest, TheImportIsNamedAtEveryStageAndSaysItsProgressAndSummary)
{
    const QString path = writeBytes(dir.filePath(QStringLiteral("leads.csv")), "Last Name,First Name,City\r\nLee,Ann,Boston\r\nKay,Kim,Austin\r\n");
    desk.onModal(QStringLiteral("frmImport"), [&](QDialog& d) {
        auto& f = static_cast<frmImport&>(d);
        EXPECT_EQ(faultsOf(&f), QStringList()) << "choosing the file";
        desk.answerOpenFile(path);
        QTest::mouseClick(f.cmdBrowse, Qt::LeftButton);
        EXPECT_EQ(f.cmdMap->accessibleDescription().isEmpty(), false);
        QTest::mouseClick(f.cmdMap, Qt::LeftButton);
        EXPECT_EQ(faultsOf(&f), QStringList()) << "mapping";
        EXPECT_EQ(nameOf(f.lstFrom), "Map Field Names");
        // The mapping dialog: its list is labelled by the field it maps.
        desk.onModal(QStringLiteral("frmMapField"), [&](QDialog& m) {
            EXPECT_EQ(faultsOf(&m), QStringList()) << "map a field";
            QTest::mouseClick(static_cast<frmMapField&>(m).cmdDelete, Qt::LeftButton);
        });
        // Chosen through the bus: selected, the cursor left where it was.
        f.lstFrom->selectionModel()->select(f.lstFrom->model()->index(2, 0), QItemSelectionModel::ClearAndSelect);
        EXPECT_TRUE(QTest::qWaitFor([&] { return f.lstFrom->item(2)->text().contains(u"DELETE"); }));
        QTest::mouseClick(f.cmdMapByName, Qt::LeftButton);
        listener.said.clear();
        QWidget* focused = QApplication::focusWidget();
        QTest::mouseClick(f.cmdDone, Qt::LeftButton);
        EXPECT_EQ(faultsOf(&f), QStringList()) << "preview";
        EXPECT_EQ(nameOf(f.dgTemp), "Rows and fields to import");
        EXPECT_EQ(nameOf(f.lstKept), "Rows kept out");
        const QStringList said = announced();
        ASSERT_GE(said.size(), 3) << said.join(u'|').toStdString();
        EXPECT_EQ(said.first(), "Reading the file...");
        EXPECT_EQ(said.last(), "2 rows ready.");
        // Announced without the focus moving.
        EXPECT_EQ(QApplication::focusWidget(), focused);
        QTest::mouseClick(f.cmdImport, Qt::LeftButton);
    });
    frmImport f;
    desktop().runModal(f);
    EXPECT_EQ(rows(sConnContacts, QStringLiteral("select count(*) from contacts")).at(0).at(0), "2");
}

TEST_F(AccessibleTest, FindStatusReminderAndARefusedDateAreSpokenWithoutTakingTheFocus)
{
    addContact(QStringLiteral("Lee"), QStringLiteral("Ann"));
    addContact(QStringLiteral("Leeds"), QStringLiteral("Bo"));
    frmKestrel main;
    main.Form_Load();
    main.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&main));
    ASSERT_TRUE(activated(&main));

    main.showStatus(QStringLiteral("3 contacts imported"));
    EXPECT_EQ(announced(), QStringList{"3 contacts imported"});
    EXPECT_EQ(main.statusPanels[1]->text(), "3 contacts imported");
    EXPECT_EQ(QAccessible::queryAccessibleInterface(main.StatusBar1)->role(), QAccessible::StatusBar);

    {
        frmFind find(&main);
        find.show();
        ASSERT_TRUE(activated(&find));
        find.txtFind->setFocus();
        listener.said.clear();
        QTest::keyClicks(find.txtFind, QStringLiteral("lee"));
        // Said once, when the typing pauses, on the list, while the search box keeps the keys.
        EXPECT_TRUE(QTest::qWaitFor([&] { return !announced().isEmpty(); }));
        EXPECT_EQ(announced(), QStringList{"2 contacts found"});
        EXPECT_EQ(find.lstFound->accessibleDescription(), "2 contacts found");
        EXPECT_EQ(QApplication::focusWidget(), find.txtFind);
        QTest::keyClicks(find.txtFind, QStringLiteral("ds"));
        EXPECT_TRUE(QTest::qWaitFor([&] { return announced().size() == 2; }));
        EXPECT_EQ(announced().value(1), "1 contact found");
        // A line chosen through the bus picks it, as Enter would.
        find.lstFound->selectionModel()->select(find.lstFound->model()->index(0, 0), QItemSelectionModel::ClearAndSelect);
        EXPECT_TRUE(QTest::qWaitFor([&] { return find.lFoundID != 0; }));
        EXPECT_EQ(find.result(), QDialog::Accepted);
    }

    // The reminder is an alert, read out as it appears, while the main window keeps the keys.
    listener.said.clear();
    frmReminder reminder;
    reminder.addDue({ApptAlert{7, QDate(2026, 12, 4), QTime(10, 0), QStringLiteral("Call Ann"), {}, QStringLiteral("Ann Lee")}},
                    QDate(2026, 12, 4));
    EXPECT_TRUE(reminder.isVisible());
    EXPECT_EQ(faultsOf(&reminder), QStringList()) << "reminder";
    EXPECT_EQ(QAccessible::queryAccessibleInterface(&reminder)->role(), QAccessible::AlertMessage);
    ASSERT_EQ(announced().size(), 1);
    EXPECT_TRUE(announced()[0].startsWith("Reminder: ")) << announced()[0].toStdString();
    EXPECT_TRUE(announced()[0].contains("Call Ann")) << announced()[0].toStdString();
    // (That it leaves the keys where they were is seen on the bus: this test's screen gives every
    // window it shows the keys.)

    // A Save refused for a date that does not exist: the box says why, and so does the reader.
    desk.onModal(QStringLiteral("frmAppt"), [&](QDialog& d) {
        auto& a = static_cast<frmAppt&>(d);
        a.txtBrief->setText(QStringLiteral("Call"));
        a.txtName->setText(QStringLiteral("Ann Lee"));
        a.DTPicker1->setFocus();
        a.DTPicker1->selectAll();
        QTest::keyClicks(a.DTPicker1, QStringLiteral("2/30/2027"));
        listener.said.clear();
        QTest::mouseClick(a.cmdSave, Qt::LeftButton);
        EXPECT_TRUE(a.isVisible());
        EXPECT_TRUE(a.DTPicker1->isRefused());
        ASSERT_FALSE(announced().isEmpty());
        EXPECT_EQ(announced().last(), "Date: Not a date: type month/day/year, for example 3/7/2027");
        EXPECT_EQ(QAccessible::queryAccessibleInterface(a.DTPicker1)->text(QAccessible::Description),
                  "Not a date: type month/day/year, for example 3/7/2027");
        desk.answerYes(); // what was typed is thrown away on purpose
        a.reject();
    });
    main.mnuApptsSched->trigger();
    EXPECT_TRUE(desk.messages().last().startsWith("The date must be a day of the calendar"));
}

TEST_F(AccessibleTest, CalendarDaysSayTheirDateAndAppointmentsAndArePressedThroughTheBus)
{
    desk.todayValue = QDate(2027, 3, 7);
    for (int i = 0; i < 3; ++i)
        addAppt(QDate(2027, 3, 9), QTime(9 + i, 0), QStringLiteral("Visit %1").arg(i));
    frmKestrel main;
    main.Form_Load();
    main.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&main));
    main.mnuApptsCal->trigger();
    CalPanel* cal = main.cal;
    QAccessibleInterface* ninth = QAccessible::queryAccessibleInterface(cal->labDay[cal->cellOfDay(9)]);
    EXPECT_EQ(ninth->text(QAccessible::Name), "Tuesday, March 9, 2027, 3 appointments");
    EXPECT_EQ(nameOf(cal->labDay[cal->cellOfDay(10)]), "Wednesday, March 10, 2027, no appointments");
    EXPECT_EQ(nameOf(cal->labArrow[1]), "Next month");
    // Pressed through its action, the day lists its appointments as a click would.
    ASSERT_TRUE(ninth->actionInterface());
    ninth->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_TRUE(QTest::qWaitFor([&] { return cal->lstCal->count() > 4; }));
    EXPECT_TRUE(cal->lstCal->item(0)->text().contains("3/9/2027")) << cal->lstCal->item(0)->text().toStdString();
    // The keys' day is the grid's name, renamed (and so spoken) as the arrows move it.
    ASSERT_TRUE(activated(&main));
    cal->dayKeys->setFocus();
    QTest::keyClick(cal->dayKeys, Qt::Key_Right);
    EXPECT_EQ(nameOf(cal->dayKeys), "Wednesday, March 10, 2027, no appointments");
    QAccessible::queryAccessibleInterface(cal->labArrow[1])->actionInterface()->doAction(
        QAccessibleActionInterface::pressAction());
    EXPECT_TRUE(QTest::qWaitFor([&] { return cal->dCalDate == QDate(2027, 4, 1); }));
}

} // namespace
