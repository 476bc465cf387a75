#include "data/Database.h"
#include "data/Globals.h"
#include "data/Statement.h"
#include "data/modData.h"
#include "tests/support/Files.h"
#include "tests/support/Fixture.h"
#include "ui/Report.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTime>

#include <sqlite3.h>
#include <sys/stat.h>

#include <cerrno>

#include <mutex>
#include <set>
#include <thread>

using namespace kestrel;
using kestrel::test::KestrelTest;
using kestrel::test::readBytes;
using kestrel::test::writeBytes;

class DatabaseTest : public KestrelTest {};

TEST_F(DatabaseTest, MissingFilesAreCreatedForTheUserAlone)
{
    if (onServer())
        GTEST_SKIP() << "about local files only";
    exec(sConnContacts, QStringLiteral("select count(*) from contacts"));
    exec(sConnMain, QStringLiteral("select count(*) from todo"));
    struct stat st{};
    ASSERT_EQ(::stat(QFile::encodeName(dir.path() + QStringLiteral("/data")).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    for (const char* f : {"contacts.mdb", "kestrel.mdb"}) {
        ASSERT_EQ(::stat(QFile::encodeName(dataPath(QString::fromUtf8(f))).constData(), &st), 0) << f;
        EXPECT_EQ(st.st_mode & 0777, 0600u) << f;
    }
    // The scratch file is only ever made by an import, never by opening it.
    try {
        Connection c(sConnTemp);
        FAIL() << "opened a scratch file that does not exist";
    } catch (const DbError& e) {
        EXPECT_TRUE(e.description().contains(QStringLiteral("tempdb.mdb"))) << e.what();
    }
}

// Two threads opening the same files at once (two office copies started together) each get a
// connection of their own: a waiting connection is never handed to both.
TEST_F(DatabaseTest, ConnectionsOpenedFromTwoThreadsAtOnceAreNeverShared)
{
    if (onServer())
        GTEST_SKIP() << "about local files only";
    exec(sConnMain, QStringLiteral("select count(*) from todo"));
    std::mutex lock;
    std::set<sqlite3*> inUse;
    int shared = 0;
    const auto run = [&](int offset) {
        for (int i = 0; i < 3000; ++i) {
            Connection c((i + offset) % 3 ? sConnContacts : sConnMain);
            {
                const std::lock_guard guard(lock);
                shared += inUse.insert(c.handle()).second ? 0 : 1;
            }
            const std::lock_guard guard(lock);
            inUse.erase(c.handle());
        }
    };
    std::thread other(run, 1);
    run(0);
    other.join();
    EXPECT_EQ(shared, 0);
}

TEST_F(DatabaseTest, FileNamesMatchWithoutRegardToCase)
{
    if (onServer())
        GTEST_SKIP() << "about local files only";
    exec(sConnContacts, QStringLiteral("select 1"));
    ASSERT_TRUE(QFile::rename(dataPath(QStringLiteral("contacts.mdb")), dataPath(QStringLiteral("Contacts.MDB"))));
    releaseAllDatabaseFiles();
    addContact(QStringLiteral("Adams"), QStringLiteral("Ann"));
    EXPECT_FALSE(QFileInfo::exists(dataPath(QStringLiteral("contacts.mdb"))));
    EXPECT_EQ(rows(sConnContacts, QStringLiteral("select lastname from contacts")).size(), 1u);
}

TEST_F(DatabaseTest, ValuesComeBackWithTheirTypesAndNullsStayNull)
{
    exec(sConnContacts, QStringLiteral("INSERT into contacts(lastname,firstname,active,contype)values('O''Brien','',False,'Cust')"));
    exec(sConnContacts, QStringLiteral("INSERT into contacts(lastname,firstname)values('Émile','\uFEFFZoë')"));
    Connection c(sConnContacts);
    Snapshot s(c, QStringLiteral("SELECT id,lastname,firstname,company,active,contype FROM contacts order by id"));
    ASSERT_EQ(s.rowCount(), 2);
    EXPECT_EQ(s.field(0).toInt(), 1);
    EXPECT_EQ(s.field(QStringLiteral("LASTNAME")).toString(), QStringLiteral("O'Brien"));
    EXPECT_TRUE(s.field(2).toString().isEmpty());
    EXPECT_FALSE(s.field(2).isNull());
    EXPECT_TRUE(s.field(3).isNull());
    EXPECT_EQ(s.field(4).typeId(), QMetaType::Bool);
    EXPECT_FALSE(s.field(4).toBool());
    s.moveNext();
    EXPECT_EQ(s.text(1), QStringLiteral("Émile"));
    EXPECT_EQ(s.field(2).toString(), QStringLiteral("\uFEFFZoë")) << "a leading U+FEFF is part of the value";
    EXPECT_TRUE(s.field(4).toBool()) << "active defaults to True";
    s.moveNext();
    EXPECT_TRUE(s.eof());
    EXPECT_THROW(s.field(0), DbError);
}

TEST_F(DatabaseTest, DatesAndTimesCompareAsDatesAndTimes)
{
    addAppt(QDate(2006, 3, 7), QTime(14, 30), QStringLiteral("a"));
    addAppt(QDate(2006, 7, 3), QTime(9, 0), QStringLiteral("b"));
    addAppt(QDate(2006, 3, 14), QTime(9, 30), QStringLiteral("c"));
    addAppt(QDate(2006, 3, 7), QTime(9, 30), QStringLiteral("d"));
    auto briefs = [&](const QString& where) {
        QStringList out;
        for (const QStringList& r : rows(sConnContacts, QStringLiteral("select apptbrief from appointments where ") + where +
                                                             QStringLiteral(" order by apptdate,appttime asc")))
            out << r[0];
        return out.join(u',');
    };
    EXPECT_EQ(briefs(QStringLiteral("apptdate=#3/7/2006#")), QStringLiteral("d,a"));
    EXPECT_EQ(briefs(QStringLiteral("apptdate=#7/3/2006#")), QStringLiteral("b"));
    EXPECT_EQ(briefs(QStringLiteral("apptdate between #3/7/2006# And #3/14/2006#")), QStringLiteral("d,a,c"));
    EXPECT_EQ(briefs(QStringLiteral("apptdate < #3/14/2006#")), QStringLiteral("d,a"));
    EXPECT_EQ(briefs(QStringLiteral("appttime=#2:30 PM#")), QStringLiteral("a"));
    Connection c(sConnContacts);
    Snapshot s(c, QStringLiteral("SELECT apptdate,appttime FROM appointments where autoid=1"));
    EXPECT_EQ(s.field(0).toDate(), QDate(2006, 3, 7));
    EXPECT_EQ(s.field(1).toTime(), QTime(14, 30));
}

TEST_F(DatabaseTest, AFileReplacedOnDiskIsWrittenAsItIsNow)
{
    if (onServer())
        GTEST_SKIP() << "about local files only";
    addContact(QStringLiteral("Old"), QStringLiteral("Ann")); // leaves a connection waiting for the file
    // Another copy of the file (a restored backup, say) takes its place.
    const QString restored = dataPath(QStringLiteral("restored.mdb"));
    createDatabaseFile(restored, QString::fromUtf8(kContactsSchema), true);
    ASSERT_TRUE(QFile::remove(dataPath(QStringLiteral("contacts.mdb"))));
    QFile::remove(dataPath(QStringLiteral("contacts.mdb-wal")));
    QFile::remove(dataPath(QStringLiteral("contacts.mdb-shm")));
    ASSERT_TRUE(QFile::rename(restored, dataPath(QStringLiteral("contacts.mdb"))));

    addContact(QStringLiteral("New"), QStringLiteral("Bo"));
    releaseAllDatabaseFiles();
    const auto names = rows(sConnContacts, QStringLiteral("select lastname from contacts"));
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(names[0][0], QStringLiteral("New"));
}

TEST_F(DatabaseTest, ANewFileIsPutInPlaceWithoutLinksAndNeverReplacesOne)
{
    if (onServer())
        GTEST_SKIP() << "about local files only";
    QDir().mkpath(dir.path() + QStringLiteral("/data"));
    const QString target = dataPath(QStringLiteral("placed.mdb"));
    const auto built = [&](const QByteArray& bytes) { return writeBytes(dataPath(QStringLiteral("built")), bytes); };
    for (const bool withoutLinks : {false, true}) {
        QFile::remove(target);
        EXPECT_TRUE(placeNewFile(built("first"), target, withoutLinks)) << withoutLinks;
        EXPECT_EQ(readBytes(target), QByteArray("first")) << withoutLinks;
        EXPECT_FALSE(placeNewFile(built("second"), target, withoutLinks)) << withoutLinks;
        EXPECT_EQ(readBytes(target), QByteArray("first")) << withoutLinks;
    }
}

TEST_F(DatabaseTest, StatementsAreReleasedOnEveryPathAndTransactionsRollBackUnlessCommitted)
{
    addContact(QStringLiteral("Adams"), QStringLiteral("Ann"));
    addContact(QStringLiteral("Baker"), QStringLiteral("Bea"));
    Connection c(sConnContacts);
    for (const auto dialect : {Statement::Dialect::Program, Statement::Dialect::Native})
        EXPECT_THROW(Statement(c, QStringLiteral("delete from contacts where id=1; delete from contacts"), dialect), DbError);
    Statement(c, QStringLiteral("select 1; -- a comment after it is no statement"), Statement::Dialect::Native).run();
    QStringList seen;
    EXPECT_THROW(forEachRow(sConnContacts, QStringLiteral("select lastname from contacts order by lastname"),
                            [&](const Statement& row) {
                                seen << row.text(0);
                                throw std::bad_alloc();
                            }),
                 std::bad_alloc);
    EXPECT_EQ(seen, QStringList{QStringLiteral("Adams")});
    try {
        Statement st(c, QStringLiteral("select lastname from contacts"));
        st.step();
        throw std::bad_alloc();
    } catch (const std::bad_alloc&) {
    }
    if (!onServer()) {
        EXPECT_EQ(sqlite3_next_stmt(c.handle(), nullptr), nullptr) << "a statement was left open";
    }
    {
        Transaction t(c);
        c.execute(QStringLiteral("delete from contacts"));
    }
    {
        Transaction t(c);
        c.execute(QStringLiteral("delete from contacts where lastname='Baker'"));
        t.commit();
    }
    EXPECT_EQ(rows(sConnContacts, QStringLiteral("select lastname from contacts")), std::vector<QStringList>{{QStringLiteral("Adams")}});
}

TEST_F(DatabaseTest, AnInsertTellsTheKeyItGaveAndHasNoRowsToStep)
{
    addContact(QStringLiteral("Adams"), QStringLiteral("Ann"));
    Connection c(sConnContacts);
    Statement ins(c, QStringLiteral("INSERT INTO contacts(lastname) VALUES(?) -- the import's shape"), Statement::Dialect::Native);
    for (const char* name : {"Baker", "Cole"}) {
        ins.bind(1, QString::fromUtf8(name));
        EXPECT_FALSE(ins.step());
        const qint64 key = ins.lastInsertId();
        ins.reset();
        EXPECT_EQ(rows(sConnContacts, QStringLiteral("select lastname from contacts where id=%1").arg(key)),
                  std::vector<QStringList>{{QString::fromUtf8(name)}});
    }
    Connection main(sConnMain);
    Statement todo(main, QStringLiteral("Insert into todo (todo)values('Call')"));
    EXPECT_EQ(todo.run(), 1);
    EXPECT_EQ(todo.lastInsertId(), 1);
}

TEST(ValueRules, TextsDatesTimesAndWords)
{
    EXPECT_EQ(Quoted(QStringLiteral("O'Brien")), QStringLiteral("O''Brien"));
    EXPECT_EQ(Quoted(QStringLiteral("a \"b\", c\r\n")), QStringLiteral("a \"b\", c\r\n"));
    // Cut first, then double: a 25-character text ending in an apostrophe stays a valid literal.
    const QString todo = QStringLiteral("abcdefghijklmnopqrstuvwx'yz");
    EXPECT_EQ(CutQuoted(todo, 25), QStringLiteral("abcdefghijklmnopqrstuvwx''"));
    EXPECT_EQ(LeftChars(QStringLiteral("ab\U0001F600"), 3), QStringLiteral("ab"));
    EXPECT_EQ(DateText(QDate(2006, 3, 7)), QStringLiteral("3/7/2006"));
    EXPECT_EQ(DateText(QDate(2026, 12, 24)), QStringLiteral("12/24/2026"));
    EXPECT_EQ(TimeText(QTime(0, 0)), QStringLiteral("12:00 AM"));
    EXPECT_EQ(TimeText(QTime(9, 30)), QStringLiteral("9:30 AM"));
    EXPECT_EQ(TimeText(QTime(12, 0)), QStringLiteral("12:00 PM"));
    EXPECT_EQ(TimeText(QTime(23, 30)), QStringLiteral("11:30 PM"));
    EXPECT_EQ(BoolWord(true), QStringLiteral("True"));
}

TEST_F(DatabaseTest, AFailureIsReportedOnceWithTheRequestToReportIt)
{
    EXPECT_FALSE(ActionQuery(QStringLiteral("delete from nosuchtable where id=1"), sConnContacts));
    ASSERT_EQ(desk.prompts.size(), 1u);
    EXPECT_EQ(desk.prompts[0].caption, QStringLiteral("Kestrel"));
    // The engine's own number and words, then the program's.
    const QString engine = onServer() ? QStringLiteral("Error 16908420 (relation \"nosuchtable\" does not exist)")
                                      : QStringLiteral("Error 1 (no such table: nosuchtable)");
    EXPECT_EQ(desk.prompts[0].text,
              engine + QStringLiteral(" in procedure ActionQuery of Module modData\r\n"
                                      "Please make note of this and report this bug to help make this software better."));
}

TEST_F(DatabaseTest, AMalformedDateIsAnEngineErrorAndChangesNothing)
{
    addAppt(QDate(2026, 1, 1), QTime(9, 0), QStringLiteral("keep"));
    EXPECT_FALSE(ActionQuery(QStringLiteral("delete from appointments where apptdate < #13/45/2026#"), sConnContacts));
    EXPECT_EQ(rows(sConnContacts, QStringLiteral("select count(*) from appointments"))[0][0], QStringLiteral("1"));
    ASSERT_EQ(desk.messages().size(), 1);
    EXPECT_TRUE(desk.messages()[0].startsWith(QStringLiteral("Error 1 (syntax error in date or time literal #13/45/2026#)")));
}

TEST(EngineErrors, ConditionsOfTheMachineAreToldApartFromFaultsOfTheProgram)
{
    const struct {
        int code;
        int systemErrno;
        Fault fault;
    } cases[] = {
        {SQLITE_BUSY, 0, Fault::Locked},          {SQLITE_FULL, 0, Fault::DiskFull},
        {SQLITE_IOERR_WRITE, ENOSPC, Fault::DiskFull}, {SQLITE_IOERR_WRITE, EFBIG, Fault::DiskFull},
        {SQLITE_IOERR_READ, EIO, Fault::DiskError}, {SQLITE_CORRUPT, 0, Fault::Damaged},
        {SQLITE_NOTADB, 0, Fault::Damaged},       {SQLITE_READONLY, 0, Fault::ReadOnly},
        {SQLITE_CANTOPEN, EACCES, Fault::ReadOnly}, {SQLITE_CANTOPEN, EROFS, Fault::ReadOnly},
        {SQLITE_CANTOPEN, ENOENT, Fault::Missing}, {SQLITE_ERROR, 0, Fault::Program},
        {SQLITE_CONSTRAINT, 0, Fault::Program},
        // The CSV reader's own numbers are negative; their low byte must not pass for "busy".
        {-2147467259, 0, Fault::Program},
    };
    for (const auto& c : cases)
        EXPECT_EQ(classifyEngineError(c.code, c.systemErrno), c.fault) << c.code << " errno " << c.systemErrno;
}

// The shapes of the contact reads the tree and the grid build (filters, the empty company, accents), against a real file.
class StatementShapes : public KestrelTest {
protected:
    void SetUp() override
    {
        KestrelTest::SetUp();
        exec(sConnContacts, QStringLiteral(
            "INSERT into contacts(lastname,firstname,company,address,city,st,zip,homeph,cellph,workph,ext,email,active,contype)"
            "values('O''Brien','Pat','','1 Elm','Troy','NY','12180','1','2','3','4','pat@x.org',True,'Cust')"));
        exec(sConnContacts, QStringLiteral(
            "INSERT into contacts(lastname,firstname,company,address,city,st,zip,homeph,cellph,workph,ext,email,active,contype)"
            "values('adams','Al','Acme','2 Oak','','','','','','','','',False,'Lead')"));
        exec(sConnContacts, QStringLiteral("INSERT INTO contacts(lastname,firstname,company,address,city,st,zip,cellph,"
                                           "homeph,workph,ext,email,contype)values('Baker','Bo','','','','','','','','','','','Lead')"));
        exec(sConnContacts, QStringLiteral("INSERT into contacts(lastname,firstname,contype)values('Nocompany','Ned','Contact')"));
    }
    QString column(const QString& conn, const QString& sql, int c = 0)
    {
        QStringList out;
        for (const QStringList& r : rows(conn, sql))
            out << r[c];
        return out.join(u',');
    }
};

TEST_F(StatementShapes, ContactReads)
{
    EXPECT_EQ(column(sConnContacts, QStringLiteral("SELECT ID, LastName, FirstName, Address FROM contacts ORDER BY LastName, FirstName, address"), 1),
              QStringLiteral("adams,Baker,Nocompany,O'Brien"));
    EXPECT_EQ(column(sConnContacts, QStringLiteral("SELECT ID, LastName, FirstName, Address FROM contacts WHERE contype='Lead'ORDER BY LastName, FirstName, address"), 1),
              QStringLiteral("adams,Baker"));
    EXPECT_EQ(rows(sConnContacts, QStringLiteral("SELECT id,lastname,firstname,address,city,st,zip,homeph,cellph,workph,ext,email,company,active,contype FROM contacts where id=1"))[0].join(u'|'),
              QStringLiteral("1|O'Brien|Pat|1 Elm|Troy|NY|12180|1|2|3|4|pat@x.org||True|Cust"));
    const QString grid = QStringLiteral("select id,firstname + ' ' + lastname, company,  address, workph, ext, homeph,cellph,email from contacts");
    const QString order = QStringLiteral(" order by lastname,firstname asc");
    EXPECT_EQ(column(sConnContacts, grid + order, 1), QStringLiteral("Al adams,Bo Baker,Ned Nocompany,Pat O'Brien"));
    EXPECT_EQ(column(sConnContacts, grid + QStringLiteral(" where lastname like 'A%'") + order, 1), QStringLiteral("Al adams"));
    EXPECT_EQ(column(sConnContacts, grid + QStringLiteral(" where contype='Cust'") + order, 1), QStringLiteral("Pat O'Brien"));
    EXPECT_EQ(column(sConnContacts, grid + QStringLiteral(" where contype='CUST'") + order, 1), QStringLiteral("Pat O'Brien"));
    // A company that holds no value at all is neither "with" nor "without" a company.
    EXPECT_EQ(column(sConnContacts, grid + QStringLiteral(" where company <> \"\"") + order, 1), QStringLiteral("Al adams"));
    EXPECT_EQ(column(sConnContacts, grid + QStringLiteral(" where company = \"\"") + order, 1), QStringLiteral("Bo Baker,Pat O'Brien"));
    EXPECT_EQ(column(sConnContacts, QStringLiteral("SELECT firstname + ' ' + lastname FROM contacts where id=2")), QStringLiteral("Al adams"));
    EXPECT_EQ(column(sConnContacts, QStringLiteral("select lastname,email,company from contacts order by lastname asc"), 1),
              QStringLiteral(",,<null>,pat@x.org"));
    // The letter filter finds names the way they are filed, accents and case aside.
    addContact(QStringLiteral("Émile"), QStringLiteral("Zoë"));
    EXPECT_EQ(column(sConnContacts, grid + QStringLiteral(" where lastname like 'e%'") + order, 1), QStringLiteral("Zoë Émile"));
    // The import leaves active to its default.
    EXPECT_EQ(column(sConnContacts, QStringLiteral("select active from contacts where lastname='Baker'")), QStringLiteral("True"));
}
