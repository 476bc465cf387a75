#pragma once
// The logic of the CSV import that needs no window: mapping lines, the column lists built from
// them, and the statements that move rows from the file into Main and from Main into contacts.
#include <QString>
#include <QStringList>

namespace kestrel {

// The contact fields a CSV field can be mapped to, in the order they are offered.
extern const QStringList kMapTargets;

// Rebuilt by BuildFieldList: the source column expressions of the kept fields, their target
// names in the same order, and the targets joined with ",".
extern QStringList sSourceFields;
extern QStringList sTargetFields;
extern QString sTargetList;

// Source name padded to 25, "***", 10 blanks, target padded to 15. A longer name is kept whole.
QString FormatMapLine(const QString& source, const QString& target);
// An entry is decided once it holds "***"; deleted when, trimmed, it ends in "DELETE".
bool isDecidedEntry(const QString& entry);
bool isDeletedEntry(const QString& entry);
// A name the text reader can take bare stays as it is; any other becomes "[name] as alias".
QString sourceColumn(const QString& name);
// Fills sSourceFields, sTargetFields and sTargetList from the mapping entries; returns the
// source column list.
QString BuildFieldList(const QStringList& entries);
// Why a complete mapping still cannot be loaded (a target chosen twice, or every field deleted);
// empty when it can.
QString mappingProblem(const QStringList& entries);

// Paths use "/": the name after the last "/", and the folder with its trailing "/".
QString GetCsvFileName(const QString& path);
QString GetCsvFolder(const QString& path);

// One row's "insert into Main(<targets>)values('...')", every value written by the quoting rules.
QString MainInsertStatement(const QString& targetList, const QStringList& values);
// One row's "INSERT INTO contacts(...)values('...')": the 12 values of the import select, then the type.
QString ImportInsertStatement(const QStringList& values, const QString& conType);

// Re-creates the scratch database and copies the mapped columns of every row of the file into
// Main. A file the reader cannot take is reported and nothing is loaded (false); a row Main
// rejects is reported (the first) or counted (the rest) and skipped.
bool LoadCsvToTemp(const QString& csvPath, const QStringList& entries);

// Copies every row left in Main into contacts with the contact type. False when nothing could be
// written at all (reported); single rows that fail are reported or counted, and skipped.
bool ImportTempRows(const QString& conType);

inline const QString kPreviewSelect =
    QStringLiteral("select id,firstname,lastname,company,address,city,st,zip,workph,ext,homeph,cellph,email from main");
inline const QString kImportSelect =
    QStringLiteral("select lastname,firstname,company,address,city,st,zip,cellph,homeph,workph,ext,email from main");

} // namespace kestrel
