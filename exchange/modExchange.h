#pragma once
// The vCard and iCalendar commands of the main window's menus: each asks for a file through the
// desktop seam, does its work through the plain readers and writers, and ends with a summary.
#include "exchange/modImport.h"

#include <QString>
#include <QStringList>

class QWidget;

namespace kestrel {

void ExportVCard(QWidget* parent);
// The cards of a vCard file as records for the import assistant, in file order, each with its
// card's own text; and where a card holds each of the import's targets.
std::vector<ImportRecord> vCardRecords(const QByteArray& bytes);
extern const QStringList kVCardSources;
// Reads a vCard file into the import assistant's preview; true when contacts were added.
bool ImportVCard(QWidget* parent);
void ExportICalendar(QWidget* parent);
// Returns true when appointments were added or changed.
bool ImportICalendar(QWidget* parent);

} // namespace kestrel
