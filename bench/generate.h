#pragma once
// Fills a fresh program folder's databases with realistic contacts and appointments.
#include <QDate>
#include <QString>

namespace kestrel::bench {

// Points the program at a new scratch folder (removed when the process ends) and builds the
// connection texts.
QString freshProgramDir();
void generateContacts(int count);
void generateAppointments(int count, const QDate& first, int days);
void generateTodos(int count);

} // namespace kestrel::bench
