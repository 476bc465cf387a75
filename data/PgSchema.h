#pragma once
// The office database's schema as data/ sees it: the steps that make it version by version, what
// the office's group may do, and the check a connecting copy makes. Used by data/ alone.
#include <QString>

#include <set>
#include <span>

struct pg_conn;

namespace kestrel::pg {

struct SchemaStep {
    int version;
    const char* sql;
};
// Every step, oldest first; a newer version appends its step.
std::span<const SchemaStep> schemaSteps();
// Grants of the office's group, given anew by every set-up.
extern const char* const kOfficeGrants;

// The schema version the server holds: 0 when it holds none, -1 when the connected role may not
// read it (a role outside the office). Throws DbError.
int installedSchemaVersion(pg_conn* conn);
// The highest version up to which every step is among those recorded (0 for none).
int completeVersion(const std::set<int>& recorded);
// Why a schema of that version cannot be used, in words ("it is not set up for Kestrel yet");
// empty when it can.
QString schemaProblem(int installed);
// Throws a DbError of kind NotSetUp, naming server, unless the schema can be used.
void checkSchema(pg_conn* conn, const QString& server);

} // namespace kestrel::pg
