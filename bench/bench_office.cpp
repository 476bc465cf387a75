// The office database: one action statement against a raw libpq insert in the same run, filling
// the contact tree from the server, a keystroke in Find beside its query run raw, and ten copies
// of the program writing at once.
//
// The server is KESTREL_BENCH_DATABASE (a libpq connection string of a role that may create
// databases) when set; otherwise a throwaway server of scripts/pg-server.sh, started durable
// (fsync and synchronous commit on, as an office server runs) and stopped at exit. Each benchmark
// works in a database of its own, dropped afterwards. With KESTREL_BENCH_KEEP=1 as well, Find's
// database of each size is kept on that server under a fixed name and used again by the next run,
// so that the million contacts are copied once rather than for every run. A kept database is not
// brought up to a newer schema: drop it (DROP DATABASE kestrel_bench_find_N) when the schema gains
// a step.
#include "bench/FindTyping.h"
#include "bench/generate.h"
#include "contacts/LeadPanel.h"
#include "contacts/frmFind.h"
#include "contacts/modTree.h"
#include "data/Database.h"
#include "data/Globals.h"
#include "data/Office.h"
#include "data/PgEngine.h"
#include "data/SearchIndex.h"
#include "data/SearchIndexStore.h"
#include "data/modData.h"
#include "ui/Report.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGroupBox>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <libpq-fe.h>

#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <memory>
#include <vector>

#include <benchmark/benchmark.h>

#include <limits>

using namespace kestrel;

namespace {

using Clock = std::chrono::steady_clock;

class OfficeServer {
public:
    static OfficeServer& instance()
    {
        static OfficeServer server;
        return server;
    }
    ~OfficeServer()
    {
        if (started_)
            QProcess::execute(script(), {QStringLiteral("stop"), state_.path()});
    }
    // The connection string without a database; empty when there is no server (why() says why).
    const QString& conninfo() const { return conninfo_; }
    const QString& why() const { return why_; }

private:
    static QString script() { return QStringLiteral(KESTREL_SOURCE_DIR "/scripts/pg-server.sh"); }

    OfficeServer()
    {
        conninfo_ = qEnvironmentVariable("KESTREL_BENCH_DATABASE");
        if (!conninfo_.isEmpty())
            return;
        if (!state_.isValid()) {
            why_ = QStringLiteral("no temporary folder for the server's state");
            return;
        }
        QProcess start;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("KESTREL_PG_DURABLE"), QStringLiteral("1"));
        start.setProcessEnvironment(env);
        start.setProcessChannelMode(QProcess::MergedChannels);
        start.start(script(), {QStringLiteral("start"), state_.path()});
        const bool ran = start.waitForFinished(180000) && start.exitStatus() == QProcess::NormalExit;
        started_ = true; // whatever it got to, stop cleans it up
        QFile info(state_.filePath(QStringLiteral("conninfo")));
        if (ran && start.exitCode() == 0 && info.open(QIODevice::ReadOnly)) {
            conninfo_ = QString::fromUtf8(info.readAll()).trimmed();
            return;
        }
        QFile unavailable(state_.filePath(QStringLiteral("unavailable")));
        why_ = unavailable.open(QIODevice::ReadOnly) ? QString::fromUtf8(unavailable.readAll()).trimmed()
                                                     : QStringLiteral("pg-server.sh failed: ") +
                                                           QString::fromLocal8Bit(start.readAll()).trimmed();
    }

    QTemporaryDir state_;
    QString conninfo_;
    QString why_;
    bool started_ = false;
};

// A new database on the office server for one benchmark, with the program's connection texts
// pointing at it; dropped when done. Skips the benchmark when there is no server.
class BenchDatabase {
public:
    // kept: the name of a database to keep on the server, used as it stands where it is there.
    explicit BenchDatabase(benchmark::State& state, const QString& kept = QString())
    {
        bench::freshProgramDir();
        const OfficeServer& server = OfficeServer::instance();
        if (server.conninfo().isEmpty()) {
            state.SkipWithError(("no PostgreSQL server: " + server.why()).toStdString().c_str());
            return;
        }
        static int made = 0;
        const QString name = kept.isEmpty() ? QStringLiteral("kestrel_bench_%1_%2").arg(::getpid()).arg(++made) : kept;
        if (!kept.isEmpty()) {
            PGconn* c = PQconnectdb((server.conninfo() + QStringLiteral(" dbname=postgres")).toUtf8().constData());
            PGresult* r = PQexec(c, ("SELECT 1 FROM pg_database WHERE datname = '" + kept.toUtf8() + '\'').constData());
            reused_ = PQresultStatus(r) == PGRES_TUPLES_OK && PQntuples(r) == 1;
            PQclear(r);
            PQfinish(c);
            keep_ = true;
        }
        if (reused_) {
            name_ = name;
            conninfo_ = server.conninfo() + QStringLiteral(" dbname=") + name;
            sConnContacts = serverConnectionText(conninfo_);
            sConnMain = sConnContacts;
            return;
        }
        try {
            pg::runMaintenance(server.conninfo() + QStringLiteral(" dbname=postgres"),
                               QStringLiteral("CREATE DATABASE ") + name);
        } catch (const DbError& e) {
            state.SkipWithError((QStringLiteral("could not make the database: ") + e.what()).toStdString().c_str());
            return;
        }
        name_ = name;
        conninfo_ = server.conninfo() + QStringLiteral(" dbname=") + name;
        sConnContacts = serverConnectionText(conninfo_);
        sConnMain = sConnContacts;
        // Sets up the schema, outside any measurement, as the office's administrator does.
        try {
            if (!setUpOfficeDatabase(conninfo_).refused.isEmpty())
                state.SkipWithError("the schema could not be made");
        } catch (const DbError& e) {
            state.SkipWithError((QStringLiteral("the schema could not be made: ") + e.what()).toStdString().c_str());
        }
    }
    ~BenchDatabase()
    {
        releaseAllDatabaseFiles();
        if (!name_.isEmpty() && !keep_) {
            try {
                pg::runMaintenance(OfficeServer::instance().conninfo() + QStringLiteral(" dbname=postgres"),
                                   QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(name_));
            } catch (const DbError&) {
                // A database left behind on a throwaway server goes with it.
            }
        }
    }
    explicit operator bool() const { return !conninfo_.isEmpty(); }
    const QString& conninfo() const { return conninfo_; }
    // Found on the server as an earlier run left it.
    bool reused() const { return reused_; }
    // An unfinished database is not left for the next run.
    void discard() { keep_ = false; }
    int count(const QString& sql) const
    {
        Connection c(sConnMain);
        Snapshot s(c, sql);
        return s.field(0).toInt();
    }

private:
    QString name_;
    QString conninfo_;
    bool keep_ = false;
    bool reused_ = false;
};

// A libpq connection of the benchmark's own, the yardstick the data layer is measured against.
struct RawConnection {
    explicit RawConnection(const QString& conninfo) : conn(PQconnectdb(conninfo.toUtf8().constData())) {}
    ~RawConnection() { PQfinish(conn); }
    bool ok() const { return PQstatus(conn) == CONNECTION_OK; }
    bool exec(const char* sql, const QByteArray& parameter) const
    {
        const char* values[] = {parameter.constData()};
        PGresult* r = PQexecParams(conn, sql, 1, nullptr, values, nullptr, nullptr, 0);
        const bool done = PQresultStatus(r) == PGRES_COMMAND_OK;
        PQclear(r);
        return done;
    }
    PGconn* conn;
};

// One ActionQuery (its own statement text, committed on the server) against a raw PQexecParams
// insert of the same kind into the same table, alternating, so both meet the same server and
// disk: ratio_to_raw_insert must stay below 3. The reported time is the ActionQuery's alone.
void BM_ServerActionQueryInsert(benchmark::State& state)
{
    BenchDatabase db(state);
    if (!db)
        return;
    RawConnection raw(db.conninfo());
    if (!raw.ok()) {
        state.SkipWithError(PQerrorMessage(raw.conn));
        return;
    }
    double queries = 0;
    double raws = 0;
    int i = 0;
    for (auto _ : state) {
        ++i;
        const auto start = Clock::now();
        if (!ActionQuery(QStringLiteral("Insert into todo (todo)values('Call the bank %1')").arg(i), sConnMain)) {
            state.SkipWithError("insert failed");
            break;
        }
        const auto between = Clock::now();
        if (!raw.exec("INSERT INTO todo (todo) VALUES ($1)", "Call the bank raw " + QByteArray::number(i))) {
            state.SkipWithError(PQerrorMessage(raw.conn));
            break;
        }
        const auto end = Clock::now();
        const double query = std::chrono::duration<double>(between - start).count();
        queries += query;
        raws += std::chrono::duration<double>(end - between).count();
        state.SetIterationTime(query);
    }
    if (!state.error_occurred() && db.count(QStringLiteral("select count(*) from todo")) != 2 * i)
        state.SkipWithError("not every insert was stored");
    state.counters["raw_insert_ms"] = 1000 * raws / double(state.iterations());
    state.counters["ratio_to_raw_insert"] = queries / raws;
}
BENCHMARK(BM_ServerActionQueryInsert)->UseManualTime()->Unit(benchmark::kMillisecond)->Repetitions(3)->ReportAggregatesOnly(true);

// The contacts of bench::contactRows on the server in one COPY: the setup, not the measurement.
bool copyContacts(const QString& conninfo, int count)
{
    RawConnection raw(conninfo);
    if (!raw.ok())
        return false;
    PGresult* r = PQexec(raw.conn, QByteArray("COPY contacts(") + bench::kContactColumns + ") FROM STDIN");
    const bool copying = PQresultStatus(r) == PGRES_COPY_IN;
    PQclear(r);
    if (!copying)
        return false;
    QByteArray data;
    for (const QStringList& row : bench::contactRows(count)) {
        // The generated texts hold no tab, line break or backslash, which COPY's text format escapes.
        data += row.join(u'\t').toUtf8();
        data += '\n';
    }
    if (PQputCopyData(raw.conn, data.constData(), int(data.size())) != 1 || PQputCopyEnd(raw.conn, nullptr) != 1)
        return false;
    r = PQgetResult(raw.conn);
    const bool done = PQresultStatus(r) == PGRES_COMMAND_OK;
    PQclear(r);
    while ((r = PQgetResult(raw.conn)))
        PQclear(r);
    // What autovacuum does on its own a moment after such an import.
    PQclear(PQexec(raw.conn, "VACUUM ANALYZE contacts"));
    return done;
}

// As copyContacts, for a million rows, each with two history entries: the search text's trigram
// index is built once after the rows are in, as an administrator loading a database does, rather
// than row by row.
bool copyContactsIndexedAfter(const BenchDatabase& db, int count)
{
    RawConnection raw(db.conninfo());
    if (!raw.ok())
        return false;
    PGresult* r = PQexec(raw.conn, "SELECT indexdef FROM pg_indexes WHERE indexname = 'contacts_by_findtext'");
    const QByteArray define = PQresultStatus(r) == PGRES_TUPLES_OK && PQntuples(r) == 1 ? QByteArray(PQgetvalue(r, 0, 0)) : QByteArray();
    PQclear(r);
    if (define.isEmpty())
        return false;
    r = PQexec(raw.conn, "DROP INDEX contacts_by_findtext");
    const bool dropped = PQresultStatus(r) == PGRES_COMMAND_OK;
    PQclear(r);
    if (!dropped)
        return false;
    if (!copyContacts(db.conninfo(), count))
        return false;
    // Two history entries a contact, of everyday words, written as one statement with the
    // history's own triggers held back; what they keep on the contacts is set after, in one go.
    r = PQexec(raw.conn,
               "ALTER TABLE history DISABLE TRIGGER USER;"
               "INSERT INTO history(contact_id, kind, histdate, subject, note) SELECT c.id, 'Call', "
               "date '2024-01-01' + (c.id * 7 + g) % 700, "
               "(ARRAY['Call about the order', 'Meeting at the trade fair', 'Price list', 'Follow-up', "
               "'Quarterly review'])[1 + (c.id + g) % 5], "
               "(ARRAY['Asked for a new quote', 'Will call back next week', 'Sent the catalogue by mail', "
               "'Left a message', 'Wants a discount on the next delivery'])[1 + (c.id * 3 + g) % 5] "
               "FROM contacts c, generate_series(1, 2) g;"
               "ALTER TABLE history ENABLE TRIGGER USER;"
               "UPDATE contacts c SET lastcontact = h.last FROM (SELECT contact_id, max(histdate) AS last FROM history "
               "GROUP BY contact_id) h WHERE h.contact_id = c.id");
    const bool historied = PQresultStatus(r) == PGRES_COMMAND_OK;
    PQclear(r);
    if (!historied)
        return false;
    PQclear(PQexec(raw.conn, "VACUUM ANALYZE history"));
    PQclear(PQexec(raw.conn, "VACUUM ANALYZE contacts"));
    PQclear(PQexec(raw.conn, "SET maintenance_work_mem = '256MB'"));
    r = PQexec(raw.conn, define.constData());
    const bool made = PQresultStatus(r) == PGRES_COMMAND_OK;
    PQclear(r);
    PQclear(PQexec(raw.conn, "ANALYZE contacts"));
    return made;
}

// One keystroke in Find against the office server, at each size, beside the query it needs run
// raw: the same texts as the file's Find (one letter, a rare name, a company with its number,
// phone digits, a text no contact holds).
const char* const kServerTyped[] = {"s", "kowal", "acme 42", "555 01", "zzq"};

// The database of one size, filled once and searched by every text.
BenchDatabase* findDatabase(benchmark::State& state, int count)
{
    static std::unique_ptr<BenchDatabase> held;
    static int heldCount = 0;
    // Dropped while the application and the program's connections still stand: among the exit's
    // destructors it would come after those it needs.
    [[maybe_unused]] static const bool dropAtQuit = [] {
        qAddPostRoutine([] { held.reset(); });
        return true;
    }();
    if (held && heldCount == count && *held) {
        // Another benchmark between the texts may have pointed the program elsewhere.
        bench::freshProgramDir();
        sConnContacts = serverConnectionText(held->conninfo());
        sConnMain = sConnContacts;
        return held.get();
    }
    held.reset();
    heldCount = 0;
    const bool keep = !qEnvironmentVariableIsEmpty("KESTREL_BENCH_DATABASE") && qEnvironmentVariable("KESTREL_BENCH_KEEP") == u"1";
    auto made = std::make_unique<BenchDatabase>(state, keep ? QStringLiteral("kestrel_bench_find_%1").arg(count) : QString());
    if (!*made)
        return nullptr;
    if (made->reused()) {
        // A run stopped while copying leaves too few contacts, or no trigram index yet.
        if (made->count(QStringLiteral("SELECT count(*) FROM contacts")) != count ||
            made->count(QStringLiteral("SELECT count(*) FROM pg_indexes WHERE indexname = 'contacts_by_findtext'")) != 1) {
            state.SkipWithError("the kept database is unfinished or of another size: drop it");
            return nullptr;
        }
        held = std::move(made);
        heldCount = count;
        return held.get();
    }
    QElapsedTimer clock;
    clock.start();
    if (!copyContactsIndexedAfter(*made, count)) {
        made->discard();
        state.SkipWithError("the contacts could not be copied to the server");
        return nullptr;
    }
    std::fprintf(stderr, "%d contacts copied to the server and indexed in %lld ms\n", count, clock.elapsed());
    held = std::move(made);
    heldCount = count;
    return held.get();
}

void BM_ServerFindKeystroke(benchmark::State& state)
{
    if (!findDatabase(state, int(state.range(0))))
        return;
    frmFind find;
    // Once untimed first: the server's first reading of a million contacts' pages from the disk
    // would be timed for whichever of this and the raw query runs first.
    find.txtFind->setText(QString::fromUtf8(kServerTyped[state.range(1)]));
    find.txtFind->clear();
    bench::timeFindTyping(state, find, kServerTyped[state.range(1)]);
    // The text no contact holds lists only that nothing was found.
    const bool found = find.lstFound->count() > 0 && find.lstFound->item(0)->data(Qt::UserRole).toInt() > 0;
    if (found != (state.range(1) != 4))
        state.SkipWithError("Find listed other than the contacts holding the text");
}

// The queries a keystroke needs, through libpq with nothing of the program's around it: the
// table's size and a count of the text in a sample of it (where a typed word is long enough for
// the trigram index);
// where it is common, the contacts holding every typed word among the first 20,000 in name order
// (in a table of no more, the first screenful and one more of them all);
// where it is rare or those are no more than a screenful, the first screenful and one more of all
// the contacts holding them (the trigram index's matches), in the order of their folded names.
void BM_ServerFindRawQuery(benchmark::State& state)
{
    BenchDatabase* db = findDatabase(state, int(state.range(0)));
    if (!db)
        return;
    RawConnection raw(db->conninfo());
    if (!raw.ok()) {
        state.SkipWithError(PQerrorMessage(raw.conn));
        return;
    }
    state.SetLabel(kServerTyped[state.range(1)]);
    const QStringList needles = searchNeedles(QString::fromUtf8(kServerTyped[state.range(1)]));
    const QByteArray fields = searchindex::kContactFields;
    QByteArray where;
    QByteArray narrowing;
    std::vector<QByteArray> patterns;
    for (int i = 0; i < needles.size(); ++i) {
        const QByteArray like = "findtext LIKE $" + QByteArray::number(i + 1) + " ESCAPE '\\'";
        where += (i ? " AND " : "") + like;
        if (needles[i].size() >= 3)
            narrowing += (narrowing.isEmpty() ? "" : " AND ") + like;
        // The generated contacts' words hold no % or _ to escape, and fold to themselves.
        patterns.push_back('%' + needles[i].toUtf8() + '%');
    }
    const QByteArray limit = QByteArray::number(frmFind::kMaxListed + 1);
    const QByteArray size = "SELECT CASE WHEN relpages > 0 AND reltuples > 0 THEN reltuples / relpages * "
                            "(pg_relation_size(oid) / current_setting('block_size')::int) ELSE -1 END "
                            "FROM pg_class WHERE oid = 'contacts'::regclass";
    const QByteArray walk = "SELECT id, " + fields + " FROM (SELECT id, " + fields + ", findtext FROM contacts ORDER BY "
                            "lastname NULLS FIRST, firstname NULLS FIRST, address NULLS FIRST LIMIT 20000) first WHERE " +
                            where + " LIMIT " + limit;
    const QByteArray walkWhole = "SELECT id, " + fields + " FROM contacts WHERE " + where +
                                 " ORDER BY lastname NULLS FIRST, firstname NULLS FIRST, address NULLS FIRST LIMIT " + limit;
    const QByteArray looked = "SELECT id, " + fields + " FROM contacts WHERE id IN (SELECT id FROM contacts WHERE " + where +
                              " ORDER BY findtext COLLATE \"C\", id LIMIT " + limit + ")";
    std::vector<const char*> values;
    for (const QByteArray& p : patterns)
        values.push_back(p.constData());
    const auto run = [&](const QByteArray& sql, double* first = nullptr) {
        PGresult* r = PQexecParams(raw.conn, sql.constData(), first ? 0 : int(values.size()), nullptr, values.data(),
                                   nullptr, nullptr, 0);
        const int n = PQresultStatus(r) == PGRES_TUPLES_OK ? PQntuples(r) : -1;
        if (first && n > 0)
            *first = std::atof(PQgetvalue(r, 0, 0));
        PQclear(r);
        return n;
    };
    const auto search = [&] {
        double rows = -1;
        int n = run(size, &rows);
        bool rare = false;
        bool whole = false;
        if (n >= 0 && rows >= 1 && !narrowing.isEmpty()) {
            const double sampled = std::min(rows, 5000.0);
            const QByteArray sample = "SELECT count(*), count(*) FILTER (WHERE " + where + ") FROM (SELECT findtext FROM "
                                      "contacts TABLESAMPLE SYSTEM (" +
                                      QByteArray::number(std::min(100.0, 100 * sampled / rows), 'f', 6) +
                                      ") REPEATABLE (0) LIMIT 5000) sample WHERE " + narrowing;
            PGresult* r = PQexecParams(raw.conn, sample.constData(), int(values.size()), nullptr, values.data(), nullptr, nullptr, 0);
            n = PQresultStatus(r) == PGRES_TUPLES_OK ? PQntuples(r) : -1;
            if (n > 0) {
                const double narrowed = std::atof(PQgetvalue(r, 0, 0)) * rows / sampled;
                const double held = std::atof(PQgetvalue(r, 0, 1)) * rows / sampled;
                const double screenful = frmFind::kMaxListed + 1;
                rare = held < screenful * rows / 20000 || narrowed * held <= 2 * screenful * rows;
                whole = rows <= 20000;
            }
            PQclear(r);
        }
        if (n >= 0 && !rare)
            n = run(whole ? walkWhole : walk);
        if (n >= 0 && (rare || (!whole && n <= frmFind::kMaxListed)))
            n = run(looked);
        return n;
    };
    // As the keystroke's benchmark, once untimed first.
    if (search() < 0) {
        state.SkipWithError(PQerrorMessage(raw.conn));
        return;
    }
    for (auto _ : state) {
        const int n = search();
        if (n < 0) {
            state.SkipWithError(PQerrorMessage(raw.conn));
            break;
        }
        benchmark::DoNotOptimize(n);
    }
}
const bool kServerFindRegistered = [] {
    for (const int count : {10000, 100000, 1000000})
        for (int text = 0; text < int(std::size(kServerTyped)); ++text) {
            benchmark::RegisterBenchmark("BM_ServerFindKeystroke", BM_ServerFindKeystroke)->Args({count, text})->Unit(benchmark::kMillisecond);
            benchmark::RegisterBenchmark("BM_ServerFindRawQuery", BM_ServerFindRawQuery)->Args({count, text})->Unit(benchmark::kMillisecond);
        }
    return true;
}();

int treeContacts(QTreeWidget* tv)
{
    int n = 0;
    for (int i = 0; i < tv->topLevelItemCount(); ++i)
        n += tv->topLevelItem(i)->childCount();
    return n;
}

// As BM_PopTree of bench_contacts, the contacts on the server: under a second at 100,000.
void BM_ServerPopTree(benchmark::State& state)
{
    const int count = int(state.range(0));
    BenchDatabase db(state);
    if (!db)
        return;
    if (!copyContacts(db.conninfo(), count)) {
        state.SkipWithError("the contacts could not be copied to the server");
        return;
    }
    QWidget window;
    auto* frame = new QGroupBox(&window);
    frame->setGeometry(0, 0, 729, 441);
    auto* panel = new LeadPanel(frame, &window);
    panel->PopDisplay();
    window.show();
    // Every letter read whole, so that the count below sees every contact the tree files.
    setTreePaging(2000, std::numeric_limits<int>::max());
    for (auto _ : state)
        PopTree(QString());
    if (treeContacts(panel->tvLead) != count)
        state.SkipWithError("not every contact was filed");
}
BENCHMARK(BM_ServerPopTree)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(5);

// Ten copies of the program, each in its own process, insert 1,000 to-do items each into one
// database at once; afterwards every writer's every row is there exactly once and nothing else.
// The time is the wall time from the start signal to the last writer's end.
void BM_ServerTenWriters(benchmark::State& state)
{
    constexpr int kWriters = 10;
    constexpr int kRows = 1000;
    BenchDatabase db(state);
    if (!db)
        return;
    for (auto _ : state) {
        std::vector<std::unique_ptr<QProcess>> writers;
        bool ready = true;
        for (int w = 0; w < kWriters; ++w) {
            writers.push_back(std::make_unique<QProcess>());
            QProcess& p = *writers.back();
            p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
            p.start(QStringLiteral(KESTREL_OFFICE_WRITER), {db.conninfo(), QString::number(w), QString::number(kRows)});
            ready = ready && p.waitForStarted(10000);
        }
        for (auto& p : writers) {
            while (ready && !p->canReadLine())
                ready = p->waitForReadyRead(30000);
            ready = ready && p->readLine().trimmed() == "ready";
        }
        if (!ready) {
            for (auto& p : writers)
                p->kill();
            state.SkipWithError("a writer did not start");
            return;
        }
        const auto start = Clock::now();
        for (auto& p : writers) {
            p->write("go\n");
            p->waitForBytesWritten();
        }
        double longest = 0;
        bool allDone = true;
        for (auto& p : writers) {
            const bool ended = p->waitForFinished(600000) && p->exitStatus() == QProcess::NormalExit && p->exitCode() == 0;
            const auto m = QRegularExpression(QStringLiteral("longest_ms ([0-9.]+) failed 0"))
                               .match(QString::fromUtf8(p->readAllStandardOutput()));
            allDone = allDone && ended && m.hasMatch();
            if (m.hasMatch())
                longest = std::max(longest, m.captured(1).toDouble());
        }
        const double wall = std::chrono::duration<double>(Clock::now() - start).count();
        state.SetIterationTime(wall);
        if (!allDone) {
            state.SkipWithError("a writer failed");
            return;
        }

        // Every writer's every row, exactly once.
        std::vector<int> seen(size_t(kWriters * kRows), 0);
        int total = 0;
        int foreign = 0;
        {
            Connection c(sConnMain);
            static const QRegularExpression name(QStringLiteral("^writer (\\d+) row (\\d+)$"));
            for (Snapshot s(c, QStringLiteral("select todo from todo")); !s.eof(); s.moveNext()) {
                ++total;
                const auto m = name.match(s.text(0));
                const int w = m.captured(1).toInt();
                const int r = m.captured(2).toInt();
                if (m.hasMatch() && w < kWriters && r < kRows)
                    ++seen[size_t(w * kRows + r)];
                else
                    ++foreign;
            }
        }
        const auto missing = std::count(seen.begin(), seen.end(), 0);
        const auto doubled = std::count_if(seen.begin(), seen.end(), [](int n) { return n > 1; });
        state.counters["rows"] = total;
        state.counters["longest_action_ms"] = longest;
        state.counters["actions_per_s"] = kWriters * kRows / wall;
        if (total != kWriters * kRows || missing || doubled || foreign)
            state.SkipWithError(QStringLiteral("rows %1: %2 missing, %3 twice, %4 not written by a writer")
                                    .arg(total).arg(missing).arg(doubled).arg(foreign).toStdString().c_str());
        // The next iteration starts from an empty list.
        ActionQuery(QStringLiteral("delete from todo"), sConnMain);
    }
}
BENCHMARK(BM_ServerTenWriters)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace
