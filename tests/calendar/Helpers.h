#pragma once
// Helpers of the calendar tests: the calendar and reminder panels on a window of their own, list
// lines, clicks on list lines, keys typed, the appointment editor, and a spoiled database file.
#include "calendar/CalPanel.h"
#include "calendar/RemindPanel.h"
#include "calendar/frmAppt.h"
#include "calendar/modCal.h"
#include "data/Globals.h"
#include "tests/contacts/Common.h"

#include <QtWidgets>
#include <QTest>

using namespace kestrel;
using namespace kestrel::test;

inline const QString kSeparator = QStringLiteral(" * * * * * * * * * * * * * * * ");
inline const QTimeZone kNewYork("America/New_York");

// Keys as a person types them, each into the control that has the focus then ("\t" is Tab, "<"
// and ">" stand for Left and Right).
inline void type(const QString& keys)
{
    for (QChar c : keys) {
        if (c == u'<' || c == u'>')
            QTest::keyClick(QApplication::focusWidget(), c == u'<' ? Qt::Key_Left : Qt::Key_Right);
        else
            QTest::keyClick(QApplication::focusWidget(), c.toLatin1());
    }
}
inline void ctrlS() { QTest::keyClick(QApplication::focusWidget(), Qt::Key_S, Qt::ControlModifier); }

inline QStringList lines(const QListWidget* list)
{
    QStringList out;
    for (int i = 0; i < list->count(); ++i)
        out << list->item(i)->text();
    return out;
}

// A mouse click, or with `twice` a double click, on a line; queued handlers run before it returns.
inline void clickLine(QListWidget* list, int row, bool twice = false)
{
    const QPoint at = list->visualItemRect(list->item(row)).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
    if (twice) { // the second press of a double click arrives as the double-click event itself
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseRelease(list->viewport(), Qt::LeftButton, {}, at);
    }
    QCoreApplication::processEvents();
}

// The lines the calendar lists for a day.
inline QStringList dayLines(const QDate& d)
{
    QListWidget list;
    ListDayAppts(&list, d);
    return lines(&list);
}

class CalendarTest : public KestrelTest {
protected:
    void SetUp() override
    {
        KestrelTest::SetUp();
        fraCal->setGeometry(px(120), px(120), px(11100), px(6420));
        fraRemind->setGeometry(px(120), 0, px(11175), px(6495));
        host.resize(px(11385), px(7095));
        host.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&host));
    }
    // Replaces a database file with bytes that are no database, so every opening of it fails.
    void spoil(const char* file)
    {
        QDir().mkpath(dataPath(QString()));
        QFile f(dataPath(QString::fromUtf8(file)));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(QByteArray(8192, 'Z')) == 8192);
    }
    QString stored(const QString& sql) { return joined(rows(sConnContacts, sql)); }
    // The appointment editor shown modally and active, the focus in its first box: a new
    // appointment (id 0), or appointment id opened at day of its series.
    void withEditor(int id, const QDate& day, const std::function<void(frmAppt&)>& script)
    {
        showModal<frmAppt>(desk, [&](frmAppt& d) { d.bEditMode = id > 0; d.lApptID = id; d.dOccurrence = day; },
                           [&](frmAppt& d) {
                               ASSERT_TRUE(activated(&d));
                               d.txtBrief->setFocus(Qt::TabFocusReason);
                               script(d);
                           });
    }

    QWidget host;
    QGroupBox* fraCal = new QGroupBox(&host);
    QGroupBox* fraRemind = new QGroupBox(&host);
    CalPanel* cal = new CalPanel(fraCal, &host);
    RemindPanel* remind = new RemindPanel(fraRemind, &host);
};
