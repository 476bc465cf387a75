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
#include "formats/PairedColumns.h"
#include "exchange/MainLoader.h"
#include "exchange/modTempDB.h"
#include "platform/Platform.h"
#include "ui/Report.h"

#include <QElapsedTimer>
#include <QLocale>
#include <QSaveFile>
#include <QSet>


#include <algorithm>
#include <memory>
#include <optional>
#include <stdexcept>

namespace kestrel {

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

namespace {
// Rows the reader set aside go to the kept-out rows with the name of the field where they went wrong.
void keepOutSetAside(MainLoader& loader, RecordFile& file, const CsvRecord& header, ImportSummary& sum)
{
    for (const RecordFile::SetAside& row : file.takeSetAside()) {
        const QString field = row.field >= 0 && size_t(row.field) < header.size() && header[size_t(row.field)]
                                  ? *header[size_t(row.field)]
                                  : QStringLiteral("number %1").arg(row.field + 1);
        loader.keepOutWhole(row.line,
                            QStringLiteral("the double quote that opens its field %1 never closes, so it would take "
                                           "in lines %2 to %3%4")
                                .arg(field)
                                .arg(row.line)
                                .arg(row.lastLine)
                                .arg(row.toTheEnd ? QStringLiteral(", the rest of the file") : QString()),
                            row.record);
        sum.unclosedQuotes << row.line;
    }
}
} // namespace

namespace {

// How the columns of a file are loaded beyond their mapping: the fields a value may move to
// (a phone filed by the type its row gives it, values after the first of a field in Notes), and
// for each selected column the header position of the column that gives its kind.
struct CsvLoadPlan {
    QStringList targets, sources;
    QList<int> kindAt;
    int conType = -1;
    bool multiValues = false;
};

CsvLoadPlan csvLoadPlan(const TextQuery& rs, const QStringList& targets, const QStringList& sources)
{
    CsvLoadPlan plan{targets, sources, {}, -1, false};
    QStringList header;
    for (const CsvField& h : rs.header())
        header << h.value_or(QString());
    const QList<int> kinds = kindColumns(header);
    plan.multiValues = std::any_of(kinds.cbegin(), kinds.cend(), [](int k) { return k >= 0; });
    bool typedPhones = false;
    for (int c = 0; c < int(targets.size()); ++c) {
        plan.kindAt << kinds.value(rs.sourceIndex(c), -1);
        typedPhones = typedPhones || (plan.kindAt.back() >= 0 && isPhoneTarget(targets[c]));
    }
    const auto need = [&plan](int field) {
        const QString target = QLatin1String(contactFields()[field].target);
        if (!plan.targets.contains(target, Qt::CaseInsensitive)) {
            plan.targets << target;
            plan.sources << target;
        }
    };
    if (typedPhones)
        for (int f : {cf::CellPh, cf::HomePh, cf::WorkPh})
            need(f);
    if (typedPhones || plan.multiValues)
        need(cf::Notes);
    for (qsizetype i = 0; i < plan.targets.size(); ++i)
        if (plan.targets[i].compare(QLatin1String(contactFields()[cf::ConType].target), Qt::CaseInsensitive) == 0)
            plan.conType = int(i);
    return plan;
}

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
            sourceNames << entrySource(entry);
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
    RecordFile& file = rs->file();
    sum.delimiter = file.delimiter();
    sum.headerLine = csvLine(rs->header(), file.delimiter());
    const bool unescape = file.hasUtf8Bom();
    const qsizetype headerFields = qsizetype(rs->header().size());
    try {
        CreateTempDB();
        setScratchSource(GetCsvFileName(csvPath));
        Connection temp(sConnTemp);
        Transaction tx(temp);
        const CsvLoadPlan plan = csvLoadPlan(*rs, targets, sourceNames);
        MainLoader loader(temp, plan.targets, plan.sources, sum);
        const int n = int(targets.size());
        RowValues row{plan.targets, plan.sources, {}, {}, {}, plan.multiValues};
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
            row.paired.clear();
            row.kinds.clear();
            for (int c = 0; c < n; ++c) {
                values << (unescape ? spreadsheetUnescaped(rs->text(c)) : rs->text(c));
                const int k = plan.kindAt[c];
                row.paired << (k >= 0);
                row.kinds << (k >= 0 && size_t(k) < rs->record().size() ? rs->record()[size_t(k)].value_or(QString()) : QString());
            }
            while (values.size() < plan.targets.size())
                values << QString();
            if (plan.conType >= 0) {
                // The four types by name in any case; another value leaves the type chosen in the window.
                QString& type = values[plan.conType];
                const QString named = contactTypeNamed(type);
                if (named.isNull() && !type.trimmed().isEmpty())
                    notes << QStringLiteral("%1 is not a contact type, the type chosen for the import is given").arg(type.trimmed());
                type = named;
            }
            row.values = std::move(values);
            notes += placeRowValues(row);
            values = std::move(row.values);
            loader.add(file.line(), values, notes, csvLine(rs->record(), file.delimiter()));
            keepOutSetAside(loader, file, rs->header(), sum);
        }
        keepOutSetAside(loader, file, rs->header(), sum);
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

// While the import runs, its connection keeps a larger page cache and its statement journals in
// memory: each insert fires triggers, and SQLite otherwise spills the journal of every such
// statement into a new temporary file, which cost more than the insert itself. The pooled
// connection gets its usual settings back after.
class ImportCache {
public:
    ImportCache(Connection& db, bool bulk) : db_(db)
    {
        if (db_.onServer())
            return;
        forEachRowBytes(db_, QStringLiteral("PRAGMA cache_size"),
                        [this](int, const char* const* v, const int*) { before_ = QByteArray(v[0]); });
        forEachRowBytes(db_, QStringLiteral("PRAGMA temp_store"),
                        [this](int, const char* const* v, const int*) { store_ = QByteArray(v[0]); });
        // An import that makes the indexes again at its end writes mostly at the tables' ends,
        // and sorts each index in files of its own: a memory store would sort a million
        // keys in memory, beside the cache.
        forEachRowBytes(db_, bulk ? QStringLiteral("PRAGMA cache_size=-32768") : QStringLiteral("PRAGMA cache_size=-131072"),
                        [](int, const char* const*, const int*) {});
        if (!bulk)
            forEachRowBytes(db_, QStringLiteral("PRAGMA temp_store=MEMORY"), [](int, const char* const*, const int*) {});
    }
    ~ImportCache()
    {
        if (before_.isEmpty())
            return;
        try {
            forEachRowBytes(db_, QStringLiteral("PRAGMA cache_size=") + QString::fromLatin1(before_),
                            [](int, const char* const*, const int*) {});
            forEachRowBytes(db_, QStringLiteral("PRAGMA temp_store=") + QString::fromLatin1(store_),
                            [](int, const char* const*, const int*) {});
        } catch (const DbError&) {
            // A connection lost now is not pooled again.
        }
    }
    ImportCache(const ImportCache&) = delete;
    ImportCache& operator=(const ImportCache&) = delete;

private:
    Connection& db_;
    QByteArray before_, store_;
};

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
    sum.importId = 0;
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
        // The contacts' indexes take a million rows at scattered places: their pages stay in
        // memory across batches instead of being read back for each row.
        // A large import is one transaction and sorts the indexes once at its end: another copy
        // of the program that would write meanwhile waits for the whole import, or is told the
        // file is busy, rather than the import taking three times as long.
        const bool bulkPays = bulkImportPays(*contacts, job.run.total - job.run.arrived);
        const ImportCache cache(*contacts, bulkPays);
        std::optional<BulkIndexes> bulk;
        if (bulkPays) {
            batch = std::make_unique<Transaction>(*contacts);
            QStringList varying = mappedColumns().split(u',');
            varying << QStringLiteral("contype");
            bulk.emplace(*contacts, varying);
        }
        QElapsedTimer settleClock;
        settleClock.start();
        const auto commitBatch = [&](bool last) {
            if (!batch)
                return;
            noteImportProgress(*contacts, job.run.id, lastRow);
            batch->commit();
            batch.reset();
            // Each batch is durable in the log at its commit; copying the log into the file
            // (settle) rewrites every page a batch touched, so it is done every few seconds,
            // and at the end, rather than after every batch.
            if (last || settleClock.elapsed() >= 3000) {
                contacts->settle();
                settleClock.restart();
            }
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
                // The scratch row's bytes stay as they are until the next row is read.
                for (int c = 0; c < n; ++c)
                    insert.bindUtf8Unowned(c + 1, v[c] ? v[c] : "", v[c] ? size[c] : 0);
                if (v[n + 2] && size[n + 2] > 0)
                    insert.bindUtf8Unowned(n + 1, v[n + 2], size[n + 2]);
                else
                    insert.bindUtf8Unowned(n + 1, type.constData(), int(type.size()));
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
                if (!bulk && batchClock.elapsed() >= 200)
                    commitBatch(false);
            });
        // The import's end commits with its last rows: a commit whose answer the network lost is
        // looked up, and the rows are then never told failed while the import stands done.
        if (!batch)
            batch = std::make_unique<Transaction>(*contacts);
        if (bulk) {
            try {
                bulk->rebuild([&] { return pacer.keepGoing(total, total); });
            } catch (const BulkIndexes::ImportStopped&) {
                throw std::runtime_error("cancelled");
            }
        }
        noteImportEnd(*contacts, job.run.id, QStringLiteral("done"));
        commitBatch(true);
        sum.importId = job.run.id;
        try {
            releaseImport(*contacts, job.run.id);
        } catch (const DbError&) {
            // The claim is a session's: a connection lost now has given it up already.
        }
    } catch (const DbError& e) {
        tell(e, "ImportTempRows");
        takeBack();
        sum.imported = 0;
        sum.importId = 0;
        return false;
    } catch (const std::runtime_error&) {
        sum.cancelled = true;
        takeBack();
        sum.imported = 0;
        sum.importId = 0;
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
    if (const qint64 notFitting = s.keptOut - s.unclosedQuotes.size())
        lines << count(notFitting, "row was kept out because a value does not fit.",
                       "rows were kept out because a value does not fit.");
    if (!s.unclosedQuotes.isEmpty()) {
        QStringList at;
        for (const qint64 line : s.unclosedQuotes)
            at << QString::number(line);
        lines << count(s.unclosedQuotes.size(), "row was kept out because a double quote in it never closes",
                       "rows were kept out because a double quote in each never closes") +
                     (at.size() == 1 ? QStringLiteral(" (line %1).") : QStringLiteral(" (lines %1).")).arg(at.join(QStringLiteral(", ")));
    }
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

} // namespace kestrel
