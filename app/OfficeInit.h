#pragma once
// kestrel --init-office: the server's administrator sets up the office database.
#include <QString>

namespace kestrel {

// Sets up the office database conninfo names (File > Options, or KESTREL_DATABASE when empty) and
// says what it did on standard output, or why it could not on standard error. Returns the exit
// status.
int initOfficeCommand(const QString& conninfo = QString());

} // namespace kestrel
