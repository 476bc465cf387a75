#include "data/modData.h"

#include "data/ContactFields.h"
#include "data/ContactPages.h"
#include "data/GridPages.h"
#include "data/SearchIndexStore.h"
#include "data/SpeedUps.h"
#include "data/ContactUid.h"
#include "data/Database.h"
#include "data/FileCheck.h"
#include "data/Globals.h"
#include "data/HistoryStore.h"
#include "data/Office.h"
#include "data/PgEngine.h"
#include "data/SchemaProbe.h"
#include "data/Trash.h"
#include "data/TrashUpgrade.h"
#include "data/Statement.h"
#include "platform/Platform.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QSet>

#include <sqlite3.h>

#include <algorithm>

#include <cerrno>
#include <cstdlib>
#include <optional>
#include <sys/statvfs.h>
#include <unistd.h>
#include <utility>

namespace kestrel {

const char* const kContactsSchema = R"sql(
CREATE TABLE contacts(
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  lastname TEXT COLLATE NOCASE,
  firstname TEXT COLLATE NOCASE,
  company TEXT COLLATE NOCASE,
  address TEXT COLLATE NOCASE,
  city TEXT COLLATE NOCASE,
  st TEXT COLLATE NOCASE,
  zip TEXT COLLATE NOCASE,
  homeph TEXT COLLATE NOCASE,
  cellph TEXT COLLATE NOCASE,
  workph TEXT COLLATE NOCASE,
  ext TEXT COLLATE NOCASE,
  email TEXT COLLATE NOCASE,
  active BOOLEAN DEFAULT 1,
  contype TEXT COLLATE NOCASE,
  country TEXT COLLATE NOCASE DEFAULT '',
  jobtitle TEXT COLLATE NOCASE DEFAULT '',
  website TEXT COLLATE NOCASE DEFAULT '',
  birthday TEXT COLLATE NOCASE DEFAULT '',
  notes TEXT COLLATE NOCASE DEFAULT '',
  uid TEXT);
CREATE INDEX contacts_by_name ON contacts(lastname, firstname, address);
CREATE INDEX contacts_by_type ON contacts(contype, lastname, firstname, address);
CREATE INDEX contacts_by_company ON contacts(company);
CREATE INDEX contacts_by_initial ON contacts(upper(substr(lastname,1,1)), lastname, firstname, address);
CREATE TABLE appointments(
  autoid INTEGER PRIMARY KEY AUTOINCREMENT,
  name TEXT COLLATE NOCASE,
  address TEXT COLLATE NOCASE,
  apptdate DATE,
  appttime TIME,
  apptbrief TEXT COLLATE NOCASE,
  apptnotes TEXT COLLATE NOCASE);
CREATE INDEX appointments_by_date ON appointments(apptdate, appttime);
)sql" KESTREL_LOCAL_UID_SCHEMA;

const char* const kMainSchema = R"sql(
CREATE TABLE todo(
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  todo TEXT COLLATE NOCASE)
)sql";

namespace {
// A contacts file made before the later fields existed gains them when it is first opened; one
// that may not be changed shows them empty, through a view of the same name that only this
// connection sees (its temporary schema is searched before the file's own).
void upgradeContactFields(sqlite3* db, bool readOnly)
{
    const auto missing = [db] {
        QStringList have;
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(db, "PRAGMA main.table_info(contacts)", -1, &st, nullptr) != SQLITE_OK)
            throw DbError(sqlite3_errcode(db), QString::fromUtf8(sqlite3_errmsg(db)));
        while (sqlite3_step(st) == SQLITE_ROW)
            have << QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, 1))).toLower();
        sqlite3_finalize(st);
        QStringList out;
        // A file without the table at all is not one of Kestrel's contacts files: left alone.
        if (have.isEmpty())
            return out;
        for (const QString& c : laterContactColumns())
            if (!have.contains(c))
                out << c;
        return out;
    };
    const auto run = [db](const QString& sql) {
        char* err = nullptr;
        if (sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, &err) != SQLITE_OK) {
            const QString msg = QString::fromUtf8(err ? err : sqlite3_errmsg(db));
            sqlite3_free(err);
            throw DbError(sqlite3_errcode(db), msg,
                          classifyEngineError(sqlite3_extended_errcode(db), sqlite3_system_errno(db)));
        }
    };
    // A file of a version without the trash gains it; one that may not be changed shows it empty.
    // A file without contacts is not Kestrel's, and is left alone.
    if (!hasRow(db, "SELECT 1 FROM main.sqlite_master WHERE type='table' AND name='contacts'"))
        return;
    if (!hasRow(db, "SELECT 1 FROM main.sqlite_master WHERE type='table' AND name='trash'")) {
        if (readOnly)
            run(QString::fromUtf8(kTrashSchema)
                    .section(u';', 0, 0)
                    .replace(QStringLiteral("CREATE TABLE IF NOT EXISTS"), QStringLiteral("CREATE TEMP TABLE IF NOT EXISTS")));
        else
            run(QString::fromUtf8(kTrashSchema));
    } else if (!readOnly && !hasRow(db, "SELECT 1 FROM pragma_table_info('trash') WHERE name='kept_from'")) {
        // A trash from before it kept its own count of days.
        run(QStringLiteral("ALTER TABLE trash ADD COLUMN kept_from INTEGER"));
        run(QString::fromUtf8(kTrashSchema));
    }
    // An older file that may not be changed has no kept date of the last contact: the view works
    // it out from the history (made for this connection before, when the file has none).
    const bool lastMissing = !hasRow(db, "SELECT 1 FROM pragma_table_info('contacts') WHERE name='lastcontact'");
    if (missing().isEmpty() && !(readOnly && lastMissing))
        return;
    if (!readOnly) {
        // Another copy opening the same old file at the same moment waits here, then finds the
        // columns there.
        run(QStringLiteral("BEGIN IMMEDIATE"));
        try {
            for (const QString& c : missing())
                run(QStringLiteral("ALTER TABLE contacts ADD COLUMN %1 TEXT COLLATE NOCASE DEFAULT ''").arg(c));
            run(QStringLiteral("COMMIT"));
        } catch (...) {
            sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
            throw;
        }
        // Into the .mdb file itself at once, as every change is: a copy of that file alone is whole.
        sqlite3_wal_checkpoint_v2(db, nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
        return;
    }
    QString sql = QStringLiteral("CREATE TEMP VIEW IF NOT EXISTS contacts AS SELECT *");
    for (const QString& c : missing())
        sql += QStringLiteral(", '' AS ") + c;
    if (lastMissing)
        sql += QStringLiteral(", (SELECT max(histdate) FROM history WHERE history.contact_id = main.contacts.id) AS lastcontact");
    run(sql + QStringLiteral(" FROM main.contacts"));
}

void upgradeContactsFile(sqlite3* db, bool readOnly)
{
    // The history first: the contacts' view of a file that may not be changed reads it.
    upgradeForHistory(db, readOnly);
    upgradeContactFields(db, readOnly);
    // The tree's letters are counted from this index as the window opens: made now whatever
    // the file's size, where every other index only speeds up what the user asks for later.
    addInitialIndex(db, readOnly);
    moveSyncRemovedToTrash(db, readOnly);
    makeSpeedUpsIfSmall(db, readOnly, contactsFileSpeedUps());
}
} // namespace

const std::vector<SpeedUp>& contactsFileSpeedUps()
{
    static const std::vector<SpeedUp> ups = [] {
        std::vector<SpeedUp> all = gridSpeedUps();
        const std::vector<SpeedUp>& find = searchindex::wordEndSpeedUps();
        all.insert(all.end(), find.begin(), find.end());
        return all;
    }();
    return ups;
}

void registerSchemas()
{
    // The grid's sort by the last contact needs the history's column first.
    registerSchema(QStringLiteral("contacts.mdb"), QString::fromUtf8(kContactsSchema) + u';' + historySchemaOfNewFile() + u';' +
                                                       QStringLiteral("CREATE INDEX contacts_by_lastcontact ON contacts(lastcontact);") +
                                                       QString::fromUtf8(kTrashSchema));
    registerUpgrade(QStringLiteral("contacts.mdb"), upgradeContactsFile);
    registerSchema(QStringLiteral("kestrel.mdb"), QString::fromUtf8(kMainSchema) + u';' + QString::fromUtf8(kTrashSchema));
    registerUpgrade(QStringLiteral("kestrel.mdb"), upgradeToDoFile);
}

namespace {
// An action whose COMMIT went unanswered while the office server could not be asked what became
// of it. The user is asked to try again; the same action then runs only if it was not saved.
struct UnansweredAction {
    pg::UnansweredCommit commit;
    QString statement, connectionText;
    int changed = 0;
};
UnansweredAction gUnansweredAction;
} // namespace

int ExecuteAction(const QString& statement, const QString& connectionText)
{
    Connection connection(connectionText);
    if (connection.onServer()) {
        UnansweredAction earlier = std::exchange(gUnansweredAction, UnansweredAction{});
        if (earlier.commit.xid && earlier.statement == statement && earlier.connectionText == connectionText) {
            const std::optional<bool> saved = pg::commitOutcome(connectionText, earlier.commit);
            if (!saved) {
                gUnansweredAction = earlier;
                throw DbError(0, QStringLiteral("whether the change was saved before the connection was lost is not "
                                                "known yet"), Fault::Unreachable);
            }
            if (*saved)
                return earlier.changed;
        }
        // In a transaction of its own, so that a commit whose answer is lost can be looked up
        // rather than reported failed: trying again would then make the change twice.
        Transaction transaction(connection);
        const int changed = connection.execute(statement);
        try {
            transaction.commit();
        } catch (const DbError&) {
            if (const pg::UnansweredCommit lost = pg::takeUnansweredCommit(); lost.xid)
                gUnansweredAction = {lost, statement, connectionText, changed};
            throw;
        }
        return changed;
    }
    // A pooled connection remembers the count of its previous statement: only when the running
    // total moved did this statement change rows, and then the engine's count of its own rows
    // leaves out what triggers did (the uid a new contact is given).
    const sqlite3_int64 before = sqlite3_total_changes64(connection.handle());
    connection.execute(statement);
    return sqlite3_total_changes64(connection.handle()) == before ? 0 : int(sqlite3_changes64(connection.handle()));
}

namespace {
// Why start-up found the data of a file unchangeable, by the file's path.
QHash<QString, QString>& refusals()
{
    static QHash<QString, QString> map;
    return map;
}

// The files start-up found unusable and said so, with why; their lists then stay empty quietly.
QHash<QString, Fault>& toldAtStart()
{
    static QHash<QString, Fault> map;
    return map;
}

// The folders whose disk start-up found full: the program's own housekeeping waits.
QSet<QString>& fullAtStart()
{
    static QSet<QString> set;
    return set;
}

QString nativePath(const QString& path) { return QDir::toNativeSeparators(path); }

// Why a file cannot be written, in words: the disk, the folder or the file itself.
QString whyReadOnly(const QString& path, const QString& engineText = {})
{
    const QString folder = QFileInfo(path).absolutePath();
    struct statvfs vfs {};
    if (::statvfs(QFile::encodeName(folder).constData(), &vfs) == 0 && (vfs.f_flag & ST_RDONLY))
        return QStringLiteral("the disk that holds the folder %1 can only be read").arg(nativePath(folder));
    if (::access(QFile::encodeName(folder).constData(), W_OK) != 0)
        return QStringLiteral("you may not change the folder %1").arg(nativePath(folder));
    if (QFileInfo::exists(path) && ::access(QFile::encodeName(path).constData(), W_OK) != 0)
        return QStringLiteral("you may not change the file %1").arg(nativePath(path));
    return engineText.isEmpty() ? QStringLiteral("the file %1 can only be read").arg(nativePath(path))
                                : QStringLiteral("the file %1 can only be read (%2)").arg(nativePath(path), engineText);
}

QString diskFullText(const QString& path)
{
    return QStringLiteral("the disk that holds the folder %1 is full").arg(nativePath(QFileInfo(path).absolutePath()));
}

// Writes into the folder the way the engine would, a file as large as the one the engine was
// growing (a limit on a file's size lets a small one through), and tells why it cannot
// (Fault::Program standing for "nothing in the way").
Fault probeFolder(const QString& folder, qint64 engineFile = 0)
{
    QByteArray name = QFile::encodeName(folder + QStringLiteral("/.kestrel-probe-XXXXXX"));
    const int fd = ::mkstemp(name.data());
    if (fd < 0)
        return classifyEngineError(SQLITE_CANTOPEN, errno);
    constexpr qint64 kLeast = 65536, kMost = 16 * 1024 * 1024;
    const QByteArray block(int(std::clamp(engineFile + kLeast, kLeast, kMost)), '\0');
    int err = 0;
    errno = 0;
    if (::write(fd, block.constData(), size_t(block.size())) != block.size())
        err = errno ? errno : ENOSPC; // a short write: the space ran out
    else if (::fsync(fd) != 0)
        err = errno;
    ::close(fd);
    ::unlink(name.constData());
    return err ? classifyEngineError(SQLITE_IOERR, err) : Fault::Program;
}
} // namespace

namespace {
// The office server's conditions: no folder or disk of this computer is involved.
QString serverFaultText(const DbError& e, const QString& server, bool* canRetry)
{
    const Fault fault = e.fault();
    if (canRetry)
        *canRetry = fault == Fault::Unreachable || fault == Fault::Locked || fault == Fault::DiskFull ||
                    fault == Fault::DiskError;
    switch (fault) {
    case Fault::Program:
        return {};
    case Fault::Unreachable:
        return QStringLiteral("Kestrel could not reach the office database %1 (%2).\r\nNothing was lost: what you "
                              "entered is still here.\r\n\r\nTry again?").arg(server, e.description());
    case Fault::Locked:
        return QStringLiteral("The change could not be saved yet: another user is changing the same data in the office "
                              "database %1 (%2).\r\n\r\nTry again?").arg(server, e.description());
    case Fault::ReadOnly:
        return QStringLiteral("Kestrel can show the office database %1 but not change it (%2).\r\nThis change was not "
                              "saved.").arg(server, e.description());
    case Fault::DiskFull:
        return QStringLiteral("The change could not be saved: the disk of the office database %1 is full.\r\n\r\n"
                              "Once space has been freed on the server, try again?").arg(server);
    case Fault::DiskError:
        return QStringLiteral("The change could not be saved: the office database %1 could not write it (%2).\r\n\r\n"
                              "Try again?").arg(server, e.description());
    case Fault::Missing:
        return QStringLiteral("The office database %1 does not exist (%2).\r\nThe change was not saved.")
            .arg(server, e.description());
    case Fault::Damaged:
        return QStringLiteral("The office database %1 reports damaged data (%2).\r\nThe change was not saved.")
            .arg(server, e.description());
    case Fault::Foreign:
        return QStringLiteral("The office database %1 is not one of Kestrel's (%2).\r\nThe change was not saved.")
            .arg(server, e.description());
    case Fault::NotSetUp:
        return e.description() + QStringLiteral(".\r\nThe server's administrator must run kestrel --init-office "
                                                "for it once. The change was not saved.");
    }
    return {};
}
} // namespace

QString MachineFaultText(const DbError& e, const QString& path, bool* canRetry)
{
    // For the office server, path is its connection text.
    if (isServerConnection(path))
        return serverFaultText(e, pg::serverName(path), canRetry);
    Fault fault = e.fault();
    // The engine says "disk I/O error" for every failed write; a little write of our own tells a
    // full disk (or a size limit) apart from a failing one.
    if (fault == Fault::DiskError) {
        const Fault probed = probeFolder(QFileInfo(path).absolutePath(),
                                         std::max(QFileInfo(path).size(), QFileInfo(path + QStringLiteral("-wal")).size()));
        if (probed == Fault::DiskFull || probed == Fault::ReadOnly)
            fault = probed;
    }
    const QString file = nativePath(path);
    if (canRetry)
        *canRetry = fault == Fault::Locked || fault == Fault::DiskFull || fault == Fault::DiskError ||
                    fault == Fault::Unreachable;
    switch (fault) {
    case Fault::Program:
    case Fault::NotSetUp: // the office server's alone
        return {};
    case Fault::Unreachable:
        return QStringLiteral("Kestrel could not reach %1 (%2).\r\n\r\nTry again?").arg(file, e.description());
    case Fault::ReadOnly: {
        const QString why = refusals().value(path, whyReadOnly(path, e.description()));
        if (!QFileInfo::exists(path))
            return QStringLiteral("Could not create the data file %1: %2.").arg(file, why);
        return QStringLiteral("Kestrel can show your data but not change it: %1.\r\nThis change was not saved.").arg(why);
    }
    case Fault::Locked:
        return QStringLiteral("The change could not be saved yet: another running copy of Kestrel, or another program, "
                              "is using the file %1 (%2).\r\n\r\nTry again?").arg(file, e.description());
    case Fault::DiskFull:
        return QStringLiteral("The change could not be saved: %1.\r\n\r\nFree some space on it, then try again?")
            .arg(diskFullText(path));
    case Fault::DiskError:
        return QStringLiteral("The change could not be saved: the file %1 could not be written (%2).\r\n\r\nTry again?")
            .arg(file, e.description());
    case Fault::Missing:
        return QStringLiteral("The change could not be saved: the data file %1 is missing.\r\nPut it back, or start "
                              "Kestrel again to make a new, empty one.").arg(file);
    case Fault::Damaged:
        return QStringLiteral("Kestrel cannot use the file %1: it is damaged (%2).\r\nIt was left as it is; the "
                              "change was not saved.").arg(file, e.description());
    case Fault::Foreign:
        return QStringLiteral("Kestrel cannot use the file %1: it is not one of Kestrel's data files (%2).\r\nIt was "
                              "left exactly as it was; the change was not saved.").arg(file, e.description());
    }
    return {};
}

QString MachineFaultNotice(const DbError& e)
{
    // A lost connection is the office server's whichever statement met it: one whose source went
    // unnamed on the way is still told in plain words, never as the program's fault.
    const QString source = e.source().isEmpty() && e.fault() == Fault::Unreachable && isServerConnection(sConnContacts)
        ? sConnContacts
        : e.source();
    if (e.fault() == Fault::Program || source.isEmpty())
        return {};
    if (isServerConnection(source)) {
        const QString server = pg::serverName(source);
        switch (e.fault()) {
        case Fault::Unreachable:
            return QStringLiteral("Kestrel could not reach the office database %1 (%2).\r\nNothing was lost. Check the "
                                  "network, or ask whoever looks after the server; once it answers, try again.").arg(server, e.description());
        case Fault::Locked:
            return QStringLiteral("Another user is changing the same data in the office database %1 right now (%2)."
                                  "\r\nNothing was lost. Try again in a moment.").arg(server, e.description());
        case Fault::DiskFull:
            return QStringLiteral("The disk of the office database %1 is full.\r\nNothing was lost. Once space has been "
                                  "freed on the server, try again.").arg(server);
        default:
            // Read-only, missing, damaged: the words for a change say it.
            return serverFaultText(e, server, nullptr);
        }
    }
    const QString file = nativePath(source);
    const QString folder = nativePath(QFileInfo(source).absolutePath());
    Fault fault = e.fault();
    if (fault == Fault::DiskError) {
        const Fault probed = probeFolder(QFileInfo(source).absolutePath());
        if (probed == Fault::DiskFull || probed == Fault::ReadOnly)
            fault = probed;
    }
    switch (fault) {
    case Fault::Program:
    case Fault::Unreachable:
    case Fault::NotSetUp: // the office server's alone, answered above
        return {};
    case Fault::Locked:
        return QStringLiteral("Another running copy of Kestrel, or another program, is using the file %1 right now "
                              "(%2).\r\nNothing was lost. Try again in a moment.").arg(file, e.description());
    case Fault::DiskFull:
        return QStringLiteral("Kestrel could not go on: %1.\r\nNothing was lost. Free some space on it, then try "
                              "again.").arg(diskFullText(source));
    case Fault::ReadOnly:
        return QStringLiteral("Kestrel could not go on: %1.").arg(refusals().value(source, whyReadOnly(source)));
    case Fault::DiskError:
        return QStringLiteral("Kestrel could not read or write the file %1 (%2).\r\nThe disk may be failing: copy the "
                              "folder %3 somewhere safe, then try again.").arg(file, e.description(), folder);
    case Fault::Missing:
        return QStringLiteral("The data file %1 is missing.\r\nPut it back, or start Kestrel again to make a new, "
                              "empty one.").arg(file);
    case Fault::Damaged:
        return QStringLiteral("The file %1 is damaged (%2): Kestrel cannot use it.\r\nIt was left as it is. Close "
                              "Kestrel and put back a copy from your backups, or move the file out of the folder %3 "
                              "and start Kestrel again to begin with a new, empty one.").arg(file, e.description(), folder);
    case Fault::Foreign:
        return QStringLiteral("The file %1 is not one of Kestrel's data files (%2): Kestrel does not use it.\r\nIt was "
                              "left exactly as it was. Close Kestrel, move the file out of the folder %3 (or put back "
                              "Kestrel's own file from your backups), then start Kestrel again.")
            .arg(file, e.description(), folder);
    }
    return {};
}

bool FaultToldAtStart(const DbError& e)
{
    const auto it = toldAtStart().constFind(e.source());
    return it != toldAtStart().constEnd() && *it == e.fault();
}

QString FileFoundDamaged(const QString& path, const QStringList& problems)
{
    const QString file = nativePath(path);
    refusals().insert(path, QStringLiteral("the file %1 is damaged; close Kestrel and put back a copy from your "
                                           "backups").arg(file));
    openForReadingOnly(path);
    return QStringLiteral("Kestrel found damage inside the file %1 (%2).\r\nSo that nothing more is lost, Kestrel "
                          "shows what can still be read but saves no changes into it. Close Kestrel and put back the "
                          "file from your backups (a copy of the folder %3). Without a backup, the sqlite3 shell's "
                          ".recover command can rescue what is readable into a new file.")
        .arg(file, problems.mid(0, 3).join(QStringLiteral("; ")), nativePath(QFileInfo(path).absolutePath()));
}

std::unique_ptr<BackgroundQuickCheck> CheckDataIntegrity(const std::function<void(const QString&)>& notice)
{
    QStringList paths;
    for (const QString* conn : {&sConnContacts, &sConnMain}) {
        const QString path = dataSourcePath(*conn);
        // A file start-up already found unusable, or not there, needs no deeper look.
        if (!isServerConnection(*conn) && QFileInfo::exists(path) && !toldAtStart().contains(path))
            paths << path;
    }
    if (paths.isEmpty())
        return nullptr;
    return std::make_unique<BackgroundQuickCheck>(paths, [notice](const QString& path, const QStringList& problems) {
        if (!problems.isEmpty())
            notice(FileFoundDamaged(path, problems));
    });
}

QStringList CheckDataFiles()
{
    QStringList notices;
    refusals().clear();
    toldAtStart().clear();
    fullAtStart().clear();
    const QString contacts = dataSourcePath(sConnContacts);
    const QString main = dataSourcePath(sConnMain);
    const QString folder = QFileInfo(contacts).absolutePath();
    const bool hadContacts = QFileInfo::exists(contacts);
    const bool hadMain = QFileInfo::exists(main);
    setCreatingMissingFiles(true);
    for (const QString* conn : {&sConnContacts, &sConnMain}) {
        const QString path = dataSourcePath(*conn);
        const bool had = QFileInfo::exists(path);
        try {
            Connection c(*conn);
            // Files from before contacts had uids get them now, before anything reads them.
            if (conn == &sConnContacts)
                ensureContactUids(c);
            if (c.readOnly())
                refusals().insert(path, c.readOnlyCause() == Fault::DiskFull ? diskFullText(path) : whyReadOnly(path));
            // Only one file missing beside the other is news; a first run makes both silently.
            if (!had && (hadContacts || hadMain))
                notices << QStringLiteral("The file %1 was missing from the folder %2.\r\nA new, empty %1 was made there.")
                               .arg(QFileInfo(path).fileName(), nativePath(folder));
        } catch (const DbError& e) {
            if (!had) {
                notices << QStringLiteral("Kestrel could not make its data file %1: %2.")
                               .arg(nativePath(path), e.fault() == Fault::ReadOnly ? whyReadOnly(path)
                                                      : e.fault() == Fault::DiskFull ? diskFullText(path)
                                                                                      : e.description());
            } else if (const QString words = MachineFaultNotice(e); !words.isEmpty()) {
                // Said once, here, with what to do; the lists that would read the file stay empty
                // without a word of their own.
                notices << words;
                toldAtStart().insert(e.source(), e.fault());
            }
        }
    }
    setCreatingMissingFiles(false);
    QString why = refusals().value(contacts, refusals().value(main));
    if (why.isEmpty()) {
        const Fault f = probeFolder(folder);
        if (f == Fault::ReadOnly) {
            why = whyReadOnly(contacts);
            refusals().insert(contacts, why);
            refusals().insert(main, why);
        } else if (f == Fault::DiskFull) {
            // The files opened for writing: a change may still fit into the room they have.
            fullAtStart().insert(folder);
            notices << QStringLiteral("The disk that holds the folder %1 is full.\r\nKestrel shows your data and saves "
                                      "your changes while they fit, but a change may fail until you free some space "
                                      "on it.").arg(nativePath(folder));
        }
    }
    if (!why.isEmpty())
        notices << QStringLiteral("Kestrel can show your data but not change it: %1.").arg(why);
    return notices;
}

bool DataWritable(const QString& connectionText)
{
    const QString path = dataSourcePath(connectionText);
    return !refusals().contains(path) && !fullAtStart().contains(QFileInfo(path).absolutePath());
}

QString ErrorReport(long number, const QString& description, const QString& procedure, Owner kind, const QString& owner)
{
    return QStringLiteral("Error %1 (%2) in procedure %3 of %4 %5")
        .arg(QString::number(number), description, procedure,
             kind == Owner::Form ? QStringLiteral("Form") : QStringLiteral("Module"), owner);
}

QString ErrorReport(const DbError& e, const QString& procedure, Owner kind, const QString& owner)
{
    return ErrorReport(e.number(), e.description(), procedure, kind, owner);
}

QString ErrorReport(const std::exception& e, const QString& procedure, Owner kind, const QString& owner)
{
    if (const auto* db = dynamic_cast<const DbError*>(&e))
        return ErrorReport(*db, procedure, kind, owner);
    return ErrorReport(5, QString::fromUtf8(e.what()), procedure, kind, owner);
}

QString LeftChars(const QString& value, int max)
{
    if (max < 0 || value.size() <= max)
        return value;
    qsizetype n = max;
    // Never keep half of a surrogate pair.
    if (n > 0 && value.at(n - 1).isHighSurrogate())
        --n;
    return value.left(n);
}

QString Quoted(const QString& value)
{
    QString out = value;
    out.replace(u'\'', QStringLiteral("''"));
    return out;
}

QString CutQuoted(const QString& value, int max) { return Quoted(LeftChars(value, max)); }

QString DateText(const QDate& d) { return QStringLiteral("%1/%2/%3").arg(d.month()).arg(d.day()).arg(d.year()); }

QString TimeText(const QTime& t)
{
    const int h12 = t.hour() % 12 == 0 ? 12 : t.hour() % 12;
    return QStringLiteral("%1:%2 %3")
        .arg(h12)
        .arg(t.minute(), 2, 10, QLatin1Char('0'))
        .arg(t.hour() < 12 ? QStringLiteral("AM") : QStringLiteral("PM"));
}

QString BoolWord(bool b) { return b ? QStringLiteral("True") : QStringLiteral("False"); }

} // namespace kestrel
