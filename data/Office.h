#pragma once
// The office database: the contacts, appointments and to-do lists of a whole office on one shared
// PostgreSQL server instead of the local files. A connection text names the server by starting
// with kServerProvider, followed by a libpq connection string ("host=db.example dbname=kestrel",
// "service=kestrel"); every routine still opens its connections from its connection text, so the
// rest of the program does not care which engine answers.
//
// On the server, contacts and appointments carry a row version (column rowver, raised by the
// server on every update) and every change to contacts, appointments or todo is announced on the
// notification channel kChangeChannel with the table's name as payload.
#include <QString>

namespace kestrel {

inline constexpr char kServerProviderText[] = "Provider=PostgreSQL;";
inline const QString kServerProvider = QString::fromLatin1(kServerProviderText);
inline constexpr char kChangeChannel[] = "kestrel_changes";

// True when connectionText names the office server rather than a local file.
bool isServerConnection(const QString& connectionText);
// The connection text for a libpq connection string, and back.
QString serverConnectionText(const QString& conninfo);
QString serverConninfo(const QString& connectionText);

} // namespace kestrel
