#include "exchange/modImport.h"

#include "data/ContactFields.h"
#include "data/ContactUid.h"
#include "data/Statement.h"
#include "data/Database.h"
#include "data/Globals.h"
#include "data/ImportLog.h"
#include "data/modData.h"
#include "formats/CsvText.h"
#include "formats/ImportRules.h"
#include "exchange/MainLoader.h"
#include "exchange/modTempDB.h"
#include "platform/Platform.h"
#include "ui/Report.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QLocale>
#include <QSaveFile>
#include <QSet>


#include <algorithm>
#include <memory>
#include <optional>
#include <stdexcept>

namespace kestrel {

const QStringList kMapTargets = [] {
    QStringList targets;
    for (int f = 0; f < cf::kMapped; ++f)
        targets << QLatin1String(contactFields()[f].target);
    return targets;
}();

namespace {
// The columns of contacts the mapped targets fill, in their order.
QString mappedColumns()
{
    QStringList columns;
    for (int f = 0; f < cf::kMapped; ++f)
        columns << QLatin1String(contactFields()[f].column);
    return columns.join(u',');
}
} // namespace

QStringList sSourceFields;
QStringList sTargetFields;
QString sTargetList;

namespace {

const QString kMark = QStringLiteral("***");
const QString kDelete = QStringLiteral("DELETE");

bool isBareChar(QChar c) { return c.isLetterOrNumber() || c == u'_'; }

} // namespace

QString FormatMapLine(const QString& source, const QString& target)
{
    return source.leftJustified(25, u' ') + kMark + QString(10, u' ') + target.leftJustified(15, u' ');
}

bool isDecidedEntry(const QString& entry) { return entry.contains(kMark); }

bool isDeletedEntry(const QString& entry) { return entry.trimmed().endsWith(kDelete); }

QString sourceColumn(const QString& name)
{
    bool bare = !name.isEmpty() && !name.at(0).isDigit();
    for (const QChar c : name)
        bare = bare && isBareChar(c);
    if (bare)
        return name;
    QString alias = name;
    alias.replace(u' ', u'_');
    alias.remove(u'-');
    QString clean;
    for (const QChar c : std::as_const(alias))
        if (isBareChar(c))
            clean += c;
    if (clean.isEmpty() || clean.at(0).isDigit())
        clean.prepend(u'F');
    QString inside = name;
    inside.replace(u']', QStringLiteral("]]"));
    return u'[' + inside + QStringLiteral("] as ") + clean;
}

QString BuildFieldList(const QStringList& entries)
{
    sSourceFields.clear();
    sTargetFields.clear();
    for (const QString& entry : entries) {
        if (!isDecidedEntry(entry) || isDeletedEntry(entry))
            continue;
        // The target never holds the mark, so the last one is the line's own even when the
        // source name happens to contain it.
        const qsizetype at = entry.lastIndexOf(kMark);
        sSourceFields << sourceColumn(entry.left(at).trimmed());
        sTargetFields << entry.mid(at + kMark.size()).trimmed();
    }
    sTargetList = sTargetFields.join(u',');
    return sSourceFields.join(u',');
}

QString mappingProblem(const QStringList& entries)
{
    BuildFieldList(entries);
    if (sTargetFields.isEmpty())
        return QStringLiteral("Every field is marked 'DELETE', so there is nothing to import. Please map at least "
                              "one field to a contact field.");
    // The reader tells fields of one name apart only by their order: the first request for the
    // name gets the first copy. A copy kept after a deleted one would be filled from the deleted one.
    QStringList deleted;
    for (const QString& entry : entries) {
        const QString name = entry.left(entry.lastIndexOf(kMark)).trimmed();
        const auto sameName = [&name](const QString& other) { return other.compare(name, Qt::CaseInsensitive) == 0; };
        if (isDeletedEntry(entry))
            deleted << name;
        else if (std::any_of(deleted.cbegin(), deleted.cend(), sameName))
            return QStringLiteral("The CSV field %1 appears more than once, and an earlier copy of it is marked "
                                  "'DELETE'. Fields of the same name are read in the order they stand, so please "
                                  "map the first copy and delete a later one instead.")
                .arg(name);
    }
    QSet<QString> seen;
    for (const QString& target : std::as_const(sTargetFields)) {
        if (seen.contains(target.toLower()))
            return QStringLiteral("The contact field %1 is mapped from more than one CSV field. Please map each "
                                  "contact field from one CSV field only.")
                .arg(target);
        seen.insert(target.toLower());
    }
    return {};
}

QString GetCsvFileName(const QString& path) { return path.mid(path.lastIndexOf(u'/') + 1); }

QString GetCsvFolder(const QString& path) { return path.left(path.lastIndexOf(u'/') + 1); }

QString MainInsertStatement(const QString& targetList, const QStringList& values)
{
    QString sql = QStringLiteral("insert into Main(") + targetList + QStringLiteral(")values('");
    for (const QString& v : values) {
        sql += Quoted(v);
        sql += QStringLiteral("','");
    }
    // The last "','" would open one more value.
    sql.chop(2);
    sql += u')';
    return sql;
}

QString ImportInsertStatement(const QStringList& values, const QString& conType)
{
    QString sql = QStringLiteral("INSERT INTO contacts(") + mappedColumns() + QStringLiteral(",contype)values('");
    for (const QString& v : values) {
        sql += Quoted(v);
        sql += QStringLiteral("','");
    }
    return sql + Quoted(conType) + QStringLiteral("')");
}

namespace {

const QString kScratchBusy = QStringLiteral(
    "Another copy of Kestrel is importing contacts into this data folder right now. Please finish or close the "
    "import there first, then try again.");

void tell(const std::exception& e, const char* procedure)
{
    ReportFailure(e, QString::fromLatin1(procedure), Owner::Module, QStringLiteral("modImport"));
}

// Calls progress at most every few milliseconds: the window repaints and reads its Cancel
// button then, and a tight loop does not pay for it on every row.
class ProgressPacer {
public:
    explicit ProgressPacer(const ImportProgress& progress) : progress_(progress) { clock_.start(); }
    bool keepGoing(qint64 done, qint64 total)
    {
        if (!progress_ || (++calls_ & 255) != 1 || clock_.elapsed() < next_)
            return true;
        next_ = clock_.elapsed() + 40;
        return progress_(done, total);
    }

private:
    const ImportProgress& progress_;
    QElapsedTimer clock_;
    qint64 next_ = 0;
    qint64 calls_ = 0;
};

} // namespace

bool LoadCsvToTemp(const QString& csvPath, const QStringList& entries, ImportSummary* summary,
                   const ImportProgress& progress, const void* holder)
{
    ImportSummary local;
    ImportSummary& sum = summary ? *summary : local;
    sum = ImportSummary{};
    const QString list = BuildFieldList(entries);
    const QStringList targets = sTargetFields;
    QStringList sourceNames;
    for (const QString& entry : entries)
        if (isDecidedEntry(entry) && !isDeletedEntry(entry))
            sourceNames << entry.left(entry.lastIndexOf(kMark)).trimmed();
    std::unique_ptr<TextQuery> rs;
    try {
        // The file is checked before the scratch database is touched, so a file the reader
        // refuses leaves the last import's rows where they were.
        rs = std::make_unique<TextQuery>(GetCsvFolder(csvPath),
                                         QStringLiteral("select ") + list + QStringLiteral(" from ") +
                                             GetCsvFileName(csvPath));
    } catch (const std::exception& e) {
        tell(e, "LoadCsvToTemp");
        return false;
    }
    if (!acquireScratch(holder)) {
        platform().msgBox(kScratchBusy);
        return false;
    }
    const CsvFile& file = rs->file();
    sum.delimiter = file.delimiter();
    sum.headerLine = csvLine(rs->header(), file.delimiter());
    const bool unescape = file.hasUtf8Bom();
    const qsizetype headerFields = qsizetype(rs->header().size());
    try {
        CreateTempDB();
        setScratchSource(GetCsvFileName(csvPath));
        Connection temp(sConnTemp);
        Transaction tx(temp);
        MainLoader loader(temp, targets, sourceNames, sum);
        const int n = int(targets.size());
        ProgressPacer pacer(progress);
        QStringList values;
        QStringList notes;
        while (rs->next()) {
            if (!pacer.keepGoing(file.bytesRead(), file.size())) {
                sum.cancelled = true;
                return false;
            }
            values.clear();
            notes.clear();
            if (const qsizetype got = qsizetype(rs->record().size()); got != headerFields) {
                ++sum.mismatched;
                notes << QStringLiteral("%1 field%2, the header has %3").arg(got).arg(got == 1 ? "" : "s").arg(headerFields);
            }
            for (int c = 0; c < n; ++c)
                values << (unescape ? spreadsheetUnescaped(rs->text(c)) : rs->text(c));
            loader.add(file.line(), values, notes, csvLine(rs->record(), file.delimiter()));
        }
        tx.commit();
    } catch (const std::exception& e) {
        // A file that turns out to be malformed part way is not loaded in part.
        tell(e, "LoadCsvToTemp");
        return false;
    }
    sum.blankRows = file.blankRows();
    sum.fallbackFields = file.fallbackFields();
    sum.encoding = file.encoding();
    return true;
}

bool LoadRecordsToTemp(const std::vector<ImportRecord>& records, const QStringList& sourceNames,
                       ImportSummary* summary, const void* holder, const QString& source)
{
    ImportSummary local;
    ImportSummary& sum = summary ? *summary : local;
    sum = ImportSummary{};
    if (!acquireScratch(holder)) {
        platform().msgBox(kScratchBusy);
        return false;
    }
    try {
        CreateTempDB();
        setScratchSource(source);
        Connection temp(sConnTemp);
        Transaction tx(temp);
        // A card may name its own contact type (Kestrel's own export does); the others take the
        // one chosen in the window.
        static const QStringList targets = kMapTargets + QStringList{QStringLiteral("ConType")};
        MainLoader loader(temp, targets, sourceNames, sum);
        Statement keepUid(temp, QStringLiteral("update Main set Uid=? where ID=?"), Statement::Dialect::Native);
        for (const ImportRecord& r : records) {
            sum.names.insert(r.line, r.who);
            const MainLoader::Outcome out = loader.add(r.line, r.values, r.notes, r.record);
            if (!out.keptOut && !r.uid.isEmpty()) {
                keepUid.bind(1, r.uid);
                keepUid.bind(2, keepUid.lastInsertId());
                keepUid.run();
            }
            if (out.keptOut)
                sum.rowNotes.push_back({r.line, QStringLiteral("kept out, %1 does not fit (%2)").arg(out.field, out.reason)});
            for (const QString& note : out.notes)
                if (note != u"matches a stored contact") // named only if the import skips it
                    sum.rowNotes.push_back({r.line, note});
        }
        tx.commit();
    } catch (const std::exception& e) {
        tell(e, "LoadRecordsToTemp");
        return false;
    }
    return true;
}

namespace {

// One run of an import from the scratch file into contacts: a new one, or the rest of one that
// stopped. Every contact it inserts carries the import's key, and every batch notes the last
// scratch row it holds, in the transaction that commits it; a cancel or a failure takes back
// exactly the import's contacts.
struct ImportJob {
    QString conType;
    bool skipDuplicates = true;
    ImportRun run;        // run.id 0: a new import, begun here
    qint64 expectedRows = -1;
};

bool runImport(ImportJob& job, ImportSummary& sum, const ImportProgress& progress)
{
    sum.imported = sum.duplicatesSkipped = sum.refused = sum.possiblesImported = sum.possiblesUnticked = 0;
    sum.skippedLines.clear();
    sum.untickedLines.clear();
    sum.cancelled = sum.scratchLost = false;
    std::optional<Connection> contacts;
    const auto takeBack = [&]() {
        if (!contacts || job.run.id == 0)
            return;
        // On a connection of its own: the import's may be the one the office server lost. A
        // machine condition is told with Try again; given up, the import stays noted as running
        // and the next start offers to take it back.
        RunAction(
            sConnContacts,
            [&] {
                Connection undo(sConnContacts);
                takeBackImport(undo, job.run.id);
            },
            QStringLiteral("ImportTempRows"), Owner::Module, QStringLiteral("modImport"));
    };
    try {
        const ScratchState scratch = scratchState();
        if (!scratch.ready || (job.run.id != 0 && scratch.token != job.run.scratch)) {
            sum.scratchLost = true;
            return false;
        }
        Connection temp(sConnTemp);
        qint64 total = 0;
        forEachRowBytes(temp, QStringLiteral("select count(*) from Main"),
                        [&total](int, const char* const* v, const int*) { total = QByteArray(v[0]).toLongLong(); });
        if (job.expectedRows >= 0 && total != job.expectedRows) {
            platform().msgBox(QStringLiteral(
                "The rows waiting to be imported are no longer the ones shown here: another import has changed them. "
                "Nothing was imported. Please close this window and import the file again."));
            return false;
        }
        contacts.emplace(sConnContacts);
        prepareImportLog(*contacts);
        if (job.run.id == 0) {
            qint64 toAdd = total;
            if (job.skipDuplicates)
                forEachRowBytes(temp, QStringLiteral("select count(*) from Main where dup=1"),
                                [&toAdd](int, const char* const* v, const int*) { toAdd -= QByteArray(v[0]).toLongLong(); });
            job.run.source = scratch.source;
            job.run.total = toAdd;
            job.run.scratch = scratch.token;
            job.run.contype = job.conType;
            job.run.skipDuplicates = job.skipDuplicates;
            job.run.id = beginImport(*contacts, job.run);
        }
        const bool uids = ensureContactUids(*contacts);
        constexpr int n = cf::kMapped;
        Statement insert(*contacts, QStringLiteral("INSERT INTO contacts(") + mappedColumns() +
                                        QStringLiteral(",contype,import_id%1)values(").arg(uids ? QStringLiteral(",uid") : QString()) +
                                        QStringLiteral("?,").repeated(n + 1) + QStringLiteral("?%1)").arg(uids ? QStringLiteral(",?") : QString()),
                         Statement::Dialect::Native);
        // A card's uid is kept unless a stored contact (or an earlier card of the file) has it.
        Statement uidTaken(*contacts, QStringLiteral("SELECT 1 FROM contacts WHERE uid=?"), Statement::Dialect::Native);
        const QByteArray type = job.conType.toUtf8();
        std::unique_ptr<Transaction> batch;
        QElapsedTimer batchClock;
        qint64 done = 0, lastRow = job.run.lastRow;
        const auto commitBatch = [&]() {
            if (!batch)
                return;
            noteImportProgress(*contacts, job.run.id, lastRow);
            batch->commit();
            batch.reset();
            contacts->settle();
        };
        ProgressPacer pacer(progress);
        forEachRowBytes(
            temp,
            QStringLiteral("select ") + kMapTargets.join(u',') +
                QStringLiteral(",dup,line,contype,id,uid from main where id > %1 order by id").arg(job.run.lastRow),
            [&](int, const char* const* v, const int* size) {
                if (!pacer.keepGoing(done, total))
                    throw std::runtime_error("cancelled");
                ++done;
                if (!batch) {
                    batch = std::make_unique<Transaction>(*contacts);
                    batchClock.start();
                }
                const char* dup = v[n];
                const char* line = v[n + 1];
                lastRow = QByteArray(v[n + 3]).toLongLong();
                const char mark = dup ? dup[0] : '0';
                if (job.skipDuplicates && mark == '1') {
                    ++sum.duplicatesSkipped;
                    if (!sum.names.isEmpty())
                        sum.skippedLines << QByteArray(line).toLongLong();
                    return;
                }
                if (mark == '3') { // possibly a stored contact, and unticked in the preview
                    ++sum.possiblesUnticked;
                    if (!sum.names.isEmpty())
                        sum.untickedLines << QByteArray(line).toLongLong();
                    return;
                }
                // An empty field arrives as the empty text, never as null.
                for (int c = 0; c < n; ++c)
                    insert.bindUtf8(c + 1, v[c] ? v[c] : "", v[c] ? size[c] : 0);
                if (v[n + 2] && size[n + 2] > 0)
                    insert.bindUtf8(n + 1, v[n + 2], size[n + 2]);
                else
                    insert.bindUtf8(n + 1, type.constData(), int(type.size()));
                insert.bind(n + 2, std::int64_t(job.run.id));
                if (uids) {
                    const int u = n + 4;
                    bool free = v[u] && size[u] > 0;
                    if (free) {
                        uidTaken.reset();
                        uidTaken.bindUtf8(1, v[u], size[u]);
                        free = !uidTaken.step();
                        uidTaken.reset();
                    }
                    if (free)
                        insert.bindUtf8(n + 3, v[u], size[u]);
                    else
                        insert.bind(n + 3, newContactUid());
                }
                try {
                    insert.run();
                } catch (const DbError& e) {
                    // A full disk or a lock stops the import (taken back below); only a row the
                    // database itself refuses is counted and passed over.
                    if (!batch->active() || e.fault() != Fault::Program)
                        throw;
                    if (sum.refused++ == 0)
                        sum.firstRefusal = QStringLiteral("line %1: %2").arg(QByteArray(line).toLongLong()).arg(e.description());
                    return;
                }
                ++sum.imported;
                sum.possiblesImported += mark == '2';
                // Another copy of the program waits for the file while a batch is open.
                if (batchClock.elapsed() >= 200)
                    commitBatch();
            });
        // The import's end commits with its last rows: a commit whose answer the network lost is
        // looked up, and the rows are then never told failed while the import stands done.
        if (!batch)
            batch = std::make_unique<Transaction>(*contacts);
        noteImportEnd(*contacts, job.run.id, QStringLiteral("done"));
        commitBatch();
        try {
            releaseImport(*contacts, job.run.id);
        } catch (const DbError&) {
            // The claim is a session's: a connection lost now has given it up already.
        }
    } catch (const DbError& e) {
        tell(e, "ImportTempRows");
        takeBack();
        sum.imported = 0;
        return false;
    } catch (const std::runtime_error&) {
        sum.cancelled = true;
        takeBack();
        sum.imported = 0;
        return false;
    }
    return true;
}

} // namespace

bool ImportTempRows(const QString& conType, bool skipDuplicates, ImportSummary* summary,
                    const ImportProgress& progress, qint64 expectedRows, const void* holder)
{
    ImportSummary local;
    ImportJob job;
    job.conType = conType;
    job.skipDuplicates = skipDuplicates;
    job.expectedRows = expectedRows;
    if (!runImport(job, summary ? *summary : local, progress))
        return false;
    releaseScratch(holder);
    return true;
}

bool FinishImport(const ImportRun& run, ImportSummary* summary, const ImportProgress& progress)
{
    ImportSummary local;
    ImportJob job;
    job.conType = run.contype;
    job.skipDuplicates = run.skipDuplicates;
    job.run = run;
    return runImport(job, summary ? *summary : local, progress);
}

bool CanFinishImport(const ImportRun& run)
{
    try {
        const ScratchState scratch = scratchState();
        return scratch.ready && !run.scratch.isEmpty() && scratch.token == run.scratch;
    } catch (const std::exception&) {
        return false;
    }
}

bool saveKeptOut(const QString& path, const ImportSummary& summary, QString* error)
{
    QByteArray out = summary.encoding == CsvEncoding::Utf8Bom ? QByteArray("\xEF\xBB\xBF") : QByteArray();
    // Records that name their own fields (vCards) stand without a header.
    if (summary.names.isEmpty())
        out += summary.headerLine + "\r\n";
    try {
        Connection temp(sConnTemp);
        forEachRowBytes(temp, QStringLiteral("select Record from KeptOut order by rowid"),
                        [&out](int, const char* const* v, const int* n) {
                            out.append(v[0] ? v[0] : "", n[0]);
                            out += "\r\n";
                        });
    } catch (const std::exception& e) {
        *error = MachineFaultWords(e);
        if (error->isEmpty())
            *error = ErrorReport(e, QStringLiteral("saveKeptOut"), Owner::Module, QStringLiteral("modImport"));
        return false;
    }
    QSaveFile file(path);
    file.setDirectWriteFallback(true);
    if (!file.open(QIODevice::WriteOnly) || file.write(out) != out.size() || !file.commit()) {
        *error = QStringLiteral("The file %1 could not be written (%2). Please choose another file.")
                     .arg(path, file.errorString());
        file.cancelWriting();
        return false;
    }
    return true;
}

namespace {
QString count(qint64 n, const char* one, const char* many)
{
    return QStringLiteral("%1 %2").arg(QLocale(QLocale::English).toString(n), QLatin1String(n == 1 ? one : many));
}
} // namespace

QString summaryText(const ImportSummary& s)
{
    QStringList lines;
    lines << count(s.imported, "contact was imported.", "contacts were imported.");
    if (s.madeToFit)
        lines << count(s.madeToFit, "value was made to fit its field.", "values were made to fit their fields.");
    if (s.keptOut)
        lines << count(s.keptOut, "row was kept out because a value does not fit.",
                       "rows were kept out because a value does not fit.");
    if (s.duplicatesSkipped)
        lines << count(s.duplicatesSkipped, "row matching a stored contact was skipped.",
                       "rows matching stored contacts were skipped.");
    if (s.possiblesImported)
        lines << count(s.possiblesImported, "row possibly matching a stored contact was imported.",
                       "rows possibly matching stored contacts were imported.");
    if (s.possiblesUnticked)
        lines << count(s.possiblesUnticked, "row possibly matching a stored contact was unticked and skipped.",
                       "rows possibly matching stored contacts were unticked and skipped.");
    if (s.blankRows)
        lines << count(s.blankRows, "blank row was skipped.", "blank rows were skipped.");
    if (s.mismatched)
        lines << count(s.mismatched, "row had another number of fields than the header.",
                       "rows had another number of fields than the header.");
    if (s.fallbackFields)
        lines << count(s.fallbackFields, "field was not UTF-8 and was read as Windows-1252.",
                       "fields were not UTF-8 and were read as Windows-1252.");
    if (s.refused)
        lines << count(s.refused, "row was refused by the contacts file", "rows were refused by the contacts file") +
                     QStringLiteral(" (first at ") + s.firstRefusal + QStringLiteral(").");
    if (s.names.isEmpty())
        return lines.join(u'\n');
    // Records that name who they are are listed one by one, in file order.
    std::vector<ImportSummary::RowNote> notes = s.rowNotes;
    for (const qint64 line : s.skippedLines)
        notes.push_back({line, QStringLiteral("skipped, the same person is already there")});
    for (const qint64 line : s.untickedLines)
        notes.push_back({line, QStringLiteral("unticked, possibly a stored contact")});
    std::stable_sort(notes.begin(), notes.end(), [](const auto& a, const auto& b) { return a.line < b.line; });
    QStringList named;
    for (const auto& n : notes)
        named << QStringLiteral("line %1 (%2): %3").arg(n.line).arg(s.names.value(n.line), n.text);
    if (!named.isEmpty())
        lines << QString() << problemLines(named);
    return lines.join(u'\n');
}

QStringList problemLines(const QStringList& lines, int limit)
{
    if (lines.size() <= limit)
        return lines;
    QStringList out = lines.mid(0, limit);
    out += QStringLiteral("... and %1 more").arg(lines.size() - limit);
    return out;
}

namespace {
QString mappingKey(const QStringList& header)
{
    QStringList folded;
    for (const QString& name : header)
        folded << foldForMatch(name);
    return QString::fromLatin1(
        QCryptographicHash::hash(folded.join(u'\x1f').toUtf8(), QCryptographicHash::Sha1).toHex());
}
const QString kMappingSection = QStringLiteral("ImportMappings");
} // namespace

QStringList rememberedMapping(const QStringList& header)
{
    const QString stored = platform().getSetting(kAppTitle, kMappingSection, mappingKey(header));
    if (stored.isEmpty())
        return {};
    const QStringList targets = stored.split(u'|');
    if (targets.size() != header.size())
        return {};
    for (const QString& t : targets)
        if (t != u"DELETE" && !kMapTargets.contains(t))
            return {};
    return targets;
}

void rememberMapping(const QStringList& header, const QStringList& targets)
{
    platform().saveSetting(kAppTitle, kMappingSection, mappingKey(header), targets.join(u'|'));
}

} // namespace kestrel
