#include "exchange/frmICalRange.h"

#include "platform/Platform.h"
#include "ui/DatePicker.h"

#include <QPushButton>

namespace kestrel {

frmICalRange::frmICalRange(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("frmICalRange"));
    setupDialog(this, QStringLiteral("Export iCalendar"), 4200, 1800, true);
    setFont(designFont(QStringLiteral("Verdana"), 8.25));
    controls = buildControls(this, {
        {"lblFrom", ControlKind::Label, "From:", 240, 120, kAuto, kAuto},
        {"dtpFrom", ControlKind::DatePicker, "", 240, 360, 1695, kAuto, 1},
        {"lblTo", ControlKind::Label, "To:", 2160, 120, kAuto, kAuto},
        {"dtpTo", ControlKind::DatePicker, "", 2160, 360, 1695, kAuto, 2},
        {"cmdExport", ControlKind::Button, "Export", 240, 1080, 1335, kAuto, 3},
        {"cmdCancel", ControlKind::Button, "Cancel", 2520, 1080, 1335, kAuto, 4},
    });
    dtpFrom = controls.get<DatePicker>(QStringLiteral("dtpFrom"));
    dtpTo = controls.get<DatePicker>(QStringLiteral("dtpTo"));
    cmdExport = controls.get<QPushButton>(QStringLiteral("cmdExport"));
    cmdCancel = controls.get<QPushButton>(QStringLiteral("cmdCancel"));
    // A year ahead from today: what a phone's calendar wants to know about.
    const QDate today = platform().today();
    dtpFrom->setDate(today);
    dtpTo->setDate(today.addYears(1));
    connect(cmdExport, &QPushButton::clicked, this, &frmICalRange::cmdExport_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &frmICalRange::cmdCancel_Click);
}

QDate frmICalRange::fromDate() const { return dtpFrom->date(); }
QDate frmICalRange::toDate() const { return dtpTo->date(); }

void frmICalRange::cmdExport_Click()
{
    for (DatePicker* box : {dtpFrom, dtpTo})
        if (!box->date().isValid()) {
            box->refuse();
            platform().msgBox(QStringLiteral("The date must be a day of the calendar, typed as month/day/year "
                                             "(for example 3/7/2027)."));
            box->setFocus();
            return;
        }
    if (dtpTo->date() < dtpFrom->date()) {
        platform().msgBox(QStringLiteral("The first day must not come after the last day."));
        dtpTo->setFocus();
        return;
    }
    accept();
}

void frmICalRange::cmdCancel_Click() { reject(); }

} // namespace kestrel
