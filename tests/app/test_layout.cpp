// Every window, as built from its control table: each caption fits its control at the
// control's font, each control lies inside its window or frame, no two controls overlap
// outside frames, and nothing covers a frame's caption.
#include "dialogs/frmAbout.h"
#include "dialogs/frmGreet.h"
#include "dialogs/frmOptions.h"
#include "exchange/frmImport.h"
#include "exchange/frmLeadCSV.h"
#include "exchange/frmMapField.h"
#include "tests/app/Helpers.h"

namespace {

bool isControl(const QWidget* w)
{
    return !w->objectName().isEmpty() && !w->objectName().startsWith(u"qt_") &&
           (qobject_cast<const QLabel*>(w) || qobject_cast<const QAbstractButton*>(w) || qobject_cast<const QComboBox*>(w) ||
            qobject_cast<const QLineEdit*>(w) || qobject_cast<const QAbstractScrollArea*>(w) ||
            qobject_cast<const QAbstractSpinBox*>(w) || qobject_cast<const QGroupBox*>(w));
}

QStringList captionFaults(const QWidget* c)
{
    QStringList faults;
    const QFontMetrics fm(c->font());
    const QString name = c->objectName();
    auto needs = [&](const QString& what, int need, int have) {
        if (need > have)
            faults << QStringLiteral("%1: %2 needs %3 px, has %4").arg(name, what).arg(need).arg(have);
    };
    const CaptionRoom room = captionRoom(c);
    const QString caption = c->property("text").toString();
    needs('"' + caption + '"', room.needs.width(), room.has.width());
    needs('"' + caption + QStringLiteral("\" (height)"), room.needs.height(), room.has.height());
    if (const auto* g = qobject_cast<const QGroupBox*>(c); g && !g->title().isEmpty()) {
        needs('"' + g->title() + '"', fm.horizontalAdvance(g->title()) + 16, g->width());
        QStyleOptionGroupBox opt;
        opt.initFrom(g);
        opt.text = g->title();
        opt.subControls = QStyle::SC_GroupBoxLabel | QStyle::SC_GroupBoxFrame;
        const QRect title = g->style()->subControlRect(QStyle::CC_GroupBox, &opt, QStyle::SC_GroupBoxLabel, g);
        for (const QWidget* child : g->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
            if (isControl(child) && child->geometry().intersects(title))
                faults << child->objectName() + QStringLiteral(" covers the caption of ") + name;
    } else if (const auto* box = qobject_cast<const QComboBox*>(c)) {
        for (int i = 0; i < box->count(); ++i)
            needs('"' + box->itemText(i) + '"', fm.horizontalAdvance(box->itemText(i)) + 24, box->width());
    } else if (const auto* grid = qobject_cast<const QTableView*>(c); grid && grid->model()) {
        const QFontMetrics header(grid->horizontalHeader()->font());
        for (int i = 0; i < grid->model()->columnCount(); ++i) {
            if (grid->isColumnHidden(i)) // a column the user has not chosen to see
                continue;
            const QString heading = grid->model()->headerData(i, Qt::Horizontal).toString();
            needs('"' + heading + '"', header.horizontalAdvance(heading) + 8, grid->columnWidth(i));
        }
    }
    return faults;
}

QStringList layoutFaults(QWidget* window)
{
    QStringList faults;
    const QList<QWidget*> all = window->findChildren<QWidget*>();
    for (QWidget* c : all) {
        // Controls of a table: on the window (or its client area) or inside a frame.
        const QWidget* owner = c->parentWidget();
        const bool tabled = owner == window || owner == window->property("client").value<QWidget*>() || isControl(owner);
        if (!isControl(c) || !tabled)
            continue;
        faults << captionFaults(c);
        const QWidget* parent = c->parentWidget();
        const bool parked = c->x() == px(kOutOfView);
        if (!parked && !parent->rect().contains(c->geometry()))
            faults << c->objectName() + QStringLiteral(" lies outside ") + parent->objectName();
        if (qobject_cast<QGroupBox*>(c))
            continue;
        for (QWidget* other : parent->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
            if (other != c && isControl(other) && !qobject_cast<QGroupBox*>(other) && other->objectName() > c->objectName() &&
                c->geometry().intersects(other->geometry()))
                faults << c->objectName() + QStringLiteral(" overlaps ") + other->objectName();
    }
    return faults;
}

TEST_F(MainWindowTest, EveryCaptionOfEveryWindowIsWholeAndNoControlCoversAnother)
{
    w->Form_Load();
    w->mnuApptsCal_Click(); // the month grid with its day captions
    w->setProperty("client", QVariant::fromValue(w->centralWidget()));
    frmLead lead;
    frmContactGrid grid;
    frmAppt appt;
    appt.Form_Load();
    frmImport import;
    frmMapField map(&import);
    frmLeadCSV csv;
    frmGreet greet;
    frmOptions options;
    frmAbout about;
    QStringList faults;
    for (QWidget* window : std::initializer_list<QWidget*>{w.get(), &lead, &grid, &appt, &import, &map, &csv, &greet, &options, &about}) {
        window->show(); // captions are fitted to their controls when a window is first shown
        for (const QString& fault : layoutFaults(window))
            faults << window->objectName() + QStringLiteral(": ") + fault;
        window->hide();
    }
    EXPECT_TRUE(faults.isEmpty()) << faults.join(u'\n').toStdString();
}

} // namespace
