#pragma once
// The vCard and iCalendar commands of the main window's menus: each asks for a file through the
// desktop seam, does its work through the plain readers and writers, and ends with a summary.
#include <QString>
#include <QStringList>

class QWidget;

namespace kestrel {

void ExportVCard(QWidget* parent);
// Returns true when contacts were added.
bool ImportVCard(QWidget* parent);
void ExportICalendar(QWidget* parent);
// Returns true when appointments were added or changed.
bool ImportICalendar(QWidget* parent);

// "line N (what): problem" lines, at most `limit` of them and a last line counting the rest.
QStringList problemLines(const QStringList& lines, int limit = 15);

} // namespace kestrel
