#include "data/Database.h"
#include "data/Globals.h"
#include "data/modData.h"
#include "tests/support/Fixture.h"
#include "ui/Report.h"

#include <sqlite3.h>

#include <cerrno>

using namespace kestrel;
using kestrel::test::KestrelTest;

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
    EXPECT_EQ(ErrorReport(-2147217900, QStringLiteral("Syntax error"), QStringLiteral("PopGrid"), Owner::Form,
                          QStringLiteral("frmContactGrid")),
              QStringLiteral("Error -2147217900 (Syntax error) in procedure PopGrid of Form frmContactGrid"));
}

class ActionQueryTest : public KestrelTest {};

TEST_F(ActionQueryTest, AFailureIsReportedOnceWithTheRequestToReportIt)
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

TEST_F(ActionQueryTest, AMalformedDateIsAnEngineErrorAndChangesNothing)
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
