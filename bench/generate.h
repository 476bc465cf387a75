#pragma once
// Fills a fresh program folder's databases with realistic contacts and appointments.
#include <QDate>
#include <QString>
#include <QStringList>

#include <vector>

namespace kestrel::bench {

// Points the program at a new scratch folder (removed when the process ends) and builds the
// connection texts.
QString freshProgramDir();
void generateContacts(int count);
// The columns generateContacts fills, and its rows as plain texts in that order (the same rows
// every time: a local file and the office server hold the same contacts).
inline constexpr char kContactColumns[] =
    "lastname,firstname,company,address,city,st,zip,homeph,cellph,workph,ext,email,active,contype";
std::vector<QStringList> contactRows(int count);
inline constexpr int kActiveColumn = 12; // yes/no, not a text
void generateAppointments(int count, const QDate& first, int days);
void generateTodos(int count);

} // namespace kestrel::bench
