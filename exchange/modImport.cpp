#include "exchange/modImport.h"

#include "data/Database.h"
#include "data/Globals.h"
#include "data/modData.h"
#include "exchange/CsvText.h"
#include "exchange/modTempDB.h"
#include "platform/Platform.h"

#include <QSet>

#include <sqlite3.h>

#include <algorithm>
#include <memory>
#include <optional>

namespace kestrel {

const QStringList kMapTargets = {
    QStringLiteral("LastName"), QStringLiteral("FirstName"), QStringLiteral("Company"), QStringLiteral("Address"),
    QStringLiteral("City"),     QStringLiteral("ST"),        QStringLiteral("Zip"),     QStringLiteral("CellPh"),
    QStringLiteral("HomePh"),   QStringLiteral("WorkPh"),    QStringLiteral("Ext"),     QStringLiteral("Email")};

QStringList sSourceFields;
QStringList sTargetFields;
QString sTargetList;

namespace {

const QString kMark = QStringLiteral("***");
const QString kDelete = QStringLiteral("DELETE");

// Runs the statements of one load or import on a single connection inside one transaction: a
// statement per row through a connection of its own is far too slow for the durable contacts
// file. Each failing row is skipped; the first is reported exactly as ActionQuery reports, the
// others only counted, so a bad file does not bury the user in message boxes.
class StatementBatch {
public:
    explicit StatementBatch(const QString& connectionText)
    {
        try {
            db_.emplace(connectionText);
            db_->execute(QStringLiteral("BEGIN"));
            open_ = true;
        } catch (const DbError& e) {
            report(e);
            db_.reset();
        }
    }
    ~StatementBatch()
    {
        if (db_ && open_ && !sqlite3_get_autocommit(db_->handle())) {
            try {
                db_->execute(QStringLiteral("ROLLBACK"));
            } catch (const DbError&) {
                // Closing the connection rolls back all the same.
            }
        }
    }

    bool ok() const { return db_.has_value() && !broken_; }
    int skipped() const { return skipped_; }

    void run(const QString& statement)
    {
        try {
            db_->execute(statement);
        } catch (const DbError& e) {
            if (skipped_++ == 0)
                report(e);
            // An I/O failure makes the engine drop the whole transaction; nothing after it counts.
            if (sqlite3_get_autocommit(db_->handle())) {
                broken_ = true;
                if (skipped_ > 1)
                    report(e);
            }
        }
    }

    bool commit()
    {
        if (!ok())
            return false;
        try {
            db_->execute(QStringLiteral("COMMIT"));
            open_ = false;
            return true;
        } catch (const DbError& e) {
            report(e);
            return false;
        }
    }

private:
    static void report(const DbError& e)
    {
        ReportBug(ErrorReport(e, QStringLiteral("ActionQuery"), Owner::Module, QStringLiteral("modData")) +
                  QStringLiteral("\r\n"));
    }

    std::optional<Connection> db_;
    bool open_ = false;
    bool broken_ = false;
    int skipped_ = 0;
};

QString skippedMessage(int count, const char* what)
{
    if (count == 1)
        return QStringLiteral("1 row could not be %1 and was skipped.").arg(QLatin1String(what));
    return QStringLiteral("%1 rows could not be %2 and were skipped.").arg(count).arg(QLatin1String(what));
}

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
    QString sql = QStringLiteral("INSERT INTO contacts") +
                  QStringLiteral("(lastname,firstname,company,address,city,st,zip,cellph,homeph,workph,ext,"
                                 "email,contype)values('");
    for (const QString& v : values) {
        sql += Quoted(v);
        sql += QStringLiteral("','");
    }
    return sql + Quoted(conType) + QStringLiteral("')");
}

bool LoadCsvToTemp(const QString& csvPath, const QStringList& entries)
{
    const QString list = BuildFieldList(entries);
    std::unique_ptr<TextQuery> rs;
    try {
        // The file is checked before the scratch database is touched, so a file the reader
        // refuses leaves the last import's rows where they were.
        rs = std::make_unique<TextQuery>(GetCsvFolder(csvPath),
                                         QStringLiteral("select ") + list + QStringLiteral(" from ") +
                                             GetCsvFileName(csvPath));
        CreateTempDB();
    } catch (const DbError& e) {
        ShowErrorReport(ErrorReport(e, QStringLiteral("LoadCsvToTemp"), Owner::Module, QStringLiteral("modImport")));
        return false;
    }

    StatementBatch batch(sConnTemp);
    if (!batch.ok())
        return false;
    QStringList values;
    try {
        while (batch.ok() && rs->next()) {
            values.clear();
            for (int c = 0; c < rs->fieldCount(); ++c)
                values << rs->text(c);
            batch.run(MainInsertStatement(sTargetList, values));
        }
    } catch (const DbError& e) {
        // A file that turns out to be malformed part way is not loaded in part.
        ShowErrorReport(ErrorReport(e, QStringLiteral("LoadCsvToTemp"), Owner::Module, QStringLiteral("modImport")));
        return false;
    }
    if (!batch.commit())
        return false;
    if (batch.skipped() > 0)
        platform().msgBox(skippedMessage(batch.skipped(), "loaded from the file"));
    return true;
}

bool ImportTempRows(const QString& conType)
{
    std::optional<Snapshot> rs;
    try {
        Connection temp(sConnTemp);
        rs.emplace(temp, kImportSelect);
    } catch (const DbError& e) {
        ShowErrorReport(ErrorReport(e, QStringLiteral("cmdImport_Click"), Owner::Form, QStringLiteral("frmImport")));
        return false;
    }

    StatementBatch batch(sConnContacts);
    if (!batch.ok())
        return false;
    QStringList values;
    for (; batch.ok() && !rs->eof(); rs->moveNext()) {
        values.clear();
        for (int c = 0; c < 12; ++c)
            values << rs->text(c);
        batch.run(ImportInsertStatement(values, conType));
    }
    if (!batch.commit())
        return false;
    if (batch.skipped() > 0)
        platform().msgBox(skippedMessage(batch.skipped(), "imported"));
    return true;
}

} // namespace kestrel
