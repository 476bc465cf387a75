#pragma once
// The logic of the CSV import that needs no window: mapping lines, the column lists built from
// them, and the statements that move rows from the file into Main and from Main into contacts.
#include "data/ImportLog.h"
#include "formats/CsvText.h"

#include <QHash>
#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

namespace kestrel {

// The contact fields whose values every import loads into the scratch table, in their order.
extern const QStringList kMapTargets;
// What a CSV field can be mapped to, in the order offered: those fields, then the contact type
// (one of the four by name; any other value leaves the type chosen in the window).
extern const QStringList kCsvTargets;

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
// The file's name for the field of a decided entry.
QString entrySource(const QString& entry);
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
// One row's "INSERT INTO contacts(...)values('...')": the values in the order of kMapTargets, then the type.
QString ImportInsertStatement(const QStringList& values, const QString& conType);

// What one load and import did, for the preview and the closing summary.
struct ImportSummary {
    qint64 loaded = 0;         // rows waiting in Main
    qint64 madeToFit = 0;      // values changed so that they fit their field
    qint64 keptOut = 0;        // rows left out because a value could not be made to fit
    qint64 blankRows = 0;
    qint64 mismatched = 0;     // rows with more or fewer fields than the header
    qint64 duplicates = 0;     // rows that match a contact already stored
    qint64 possibleDuplicates = 0; // rows that possibly match one (a shared e-mail or phone)
    qint64 fallbackFields = 0; // fields read as Windows-1252
    qint64 imported = 0;
    qint64 duplicatesSkipped = 0;
    qint64 possiblesImported = 0; // rows possibly matching a stored contact that were imported
    qint64 possiblesUnticked = 0; // and those the user unticked
    qint64 refused = 0;        // rows the contacts file would not take
    QList<qint64> unclosedQuotes; // lines of rows kept out because a quote in them never closes
    QString firstRefusal;
    bool cancelled = false;
    bool scratchLost = false;  // the scratch file's rows were gone (removed or replaced by another program)
    char delimiter = ',';
    CsvEncoding encoding = CsvEncoding::Utf8;
    QByteArray headerLine;     // the file's header, as the kept-out rows are saved with it
    // Filled for records that say who they are (vCards): who stands at each line, what was
    // noticed about a row or why it was kept out, and which rows the import skipped as duplicates.
    struct RowNote {
        qint64 line = 0;
        QString text;
    };
    QHash<qint64, QString> names;
    std::vector<RowNote> rowNotes;
    QList<qint64> skippedLines;
    // The import's key, which every contact it added carries (contacts.import_id), so that it can
    // be taken back as a whole; 0 when it added nothing that stayed.
    qint64 importId = 0;
    QList<qint64> untickedLines; // rows possibly matching a stored contact that the user unticked
};

// One record of a file whose reader names the fields itself (a vCard), ready for Main.
struct ImportRecord {
    qint64 line = 0;
    QString who;         // how the summary names it
    QStringList values;  // in the order of kMapTargets, then the row's own contact type (or empty)
    QStringList notes;   // what the reader noticed, shown first in the row's note
    QByteArray record;   // the record as the file holds it, saved so when it is kept out
    QString uid;         // a card's UID, kept by the contact it becomes (unless another has it)
};

// Called now and then during a long load or import with the work done and the whole; returns
// false to cancel.
using ImportProgress = std::function<bool(qint64 done, qint64 total)>;

// Re-creates the scratch database and copies the mapped columns of every row of the file into
// Main, each value made to fit its field where a rule can; a row that still does not fit goes to
// KeptOut with its line, field and reason. Rows are marked with their line and a note when they
// have a field count other than the header's, when a value was changed, or when they match a
// stored contact. A file the reader cannot take, a scratch file another import holds, or a
// cancel loads nothing (false).
// holder names the import that holds the scratch file (see acquireScratch).
bool LoadCsvToTemp(const QString& csvPath, const QStringList& entries, ImportSummary* summary = nullptr,
                   const ImportProgress& progress = {}, const void* holder = nullptr);

// Loads records already read by the same rules as LoadCsvToTemp; sourceNames name, per target,
// where the file holds its value. False when another import holds the scratch file or the file
// fails (reported).
// source: the file's name, as an import that stopped names it.
bool LoadRecordsToTemp(const std::vector<ImportRecord>& records, const QStringList& sourceNames,
                       ImportSummary* summary = nullptr, const void* holder = nullptr, const QString& source = {});

// Copies the rows left in Main into contacts with the contact type, committing every fraction of
// a second so that another copy of the program never waits long. Rows marked as duplicates are
// left out when skipDuplicates. expectedRows, when not negative, is how many rows the preview
// shows: any other number in Main means the scratch file changed under it, and nothing is
// imported. The import is noted with a key of its own, stored on every contact it adds (see
// data/ImportLog.h): a cancel or a failure takes back exactly those contacts (false). Scratch
// tables that are gone give false with summary->scratchLost, nothing imported.
bool ImportTempRows(const QString& conType, bool skipDuplicates = true, ImportSummary* summary = nullptr,
                    const ImportProgress& progress = {}, qint64 expectedRows = -1, const void* holder = nullptr);
// Whether the scratch file still holds the rows of run, an import that stopped; and imports the
// rest of them, by the same rules (false as ImportTempRows). The caller holds the scratch file.
bool CanFinishImport(const ImportRun& run);
bool FinishImport(const ImportRun& run, ImportSummary* summary = nullptr, const ImportProgress& progress = {});

// Writes the kept-out rows under the file's header, with its delimiter. False with the reason.
bool saveKeptOut(const QString& path, const ImportSummary& summary, QString* error);

// The closing words of an import; records that say who they are are listed by line.
QString summaryText(const ImportSummary& summary);
// At most limit lines, and a last line counting the rest.
QStringList problemLines(const QStringList& lines, int limit = 15);

// The mapping used the last time a file with this header was imported: a target or "DELETE"
// per field, or nothing.
QStringList rememberedMapping(const QStringList& header);
void rememberMapping(const QStringList& header, const QStringList& targets);

inline const QString kPreviewSelect =
    QStringLiteral("select id,firstname,lastname,company,address,city,st,zip,workph,ext,homeph,cellph,email,line,note,"
                   "country,jobtitle,website,birthday,notes from main");
inline const QString kImportSelect =
    QStringLiteral("select lastname,firstname,company,address,city,st,zip,cellph,homeph,workph,ext,email,country,jobtitle,"
                   "website,birthday,notes from main");

} // namespace kestrel
