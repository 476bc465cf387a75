#include "data/Database.h"
#include "data/Globals.h"
#include "data/modData.h"
#include "exchange/OfficeCopy.h"
#include "tests/exchange/ExchangeTest.h"

#include <QTemporaryDir>

using namespace kestrel;
using namespace kestrel::test;

namespace {

class OfficeCopyTest : public KestrelTest {
protected:
    void SetUp() override
    {
        KestrelTest::SetUp();
        ASSERT_TRUE(target.isValid());
        toContacts = QString(sConnContacts).replace(dir.path(), target.path());
        toMain = QString(sConnMain).replace(dir.path(), target.path());
        QDir().mkpath(target.path() + QStringLiteral("/data"));
        setCreatingMissingFiles(true);
        ASSERT_TRUE(ActionQuery(QStringLiteral("select 1"), toContacts));
        ASSERT_TRUE(ActionQuery(QStringLiteral("select 1"), toMain));
        // A colleague's contact already on the target keeps its place and is not touched.
        exec(toContacts, QStringLiteral("INSERT INTO contacts(lastname,firstname,contype) VALUES('Zorn','Zed','Cust')"));
    }

    OfficeCopyCounts copy() { return copyLocalData(sConnContacts, sConnMain, toContacts, toMain); }

    static const QString contactsQuery() { return QStringLiteral("SELECT lastname,firstname,company,city,active,contype FROM contacts ORDER BY lastname"); }
    static const QString apptQuery() { return QStringLiteral("SELECT name,apptdate,appttime,apptbrief,apptnotes FROM appointments ORDER BY apptdate"); }

    QTemporaryDir target;
    QString toContacts, toMain;
};

TEST_F(OfficeCopyTest, CopiesEveryRowExactlyOnceHoweverOftenItRuns)
{
    const QString hostile = QStringLiteral("O'Brien, \"Bud\"; 😀");
    exec(sConnContacts, QStringLiteral("INSERT INTO contacts(lastname,firstname,company,city,active,contype) "
                                       "VALUES('%1','Ann','Acme;Co','Salem',False,'Lead')").arg(Quoted(hostile)));
    addContact(QStringLiteral("Baker"), QStringLiteral("Bo"), QStringLiteral("Cust"));
    addAppt(QDate(2027, 2, 28), QTime(14, 30), QStringLiteral("Demo"), hostile);
    exec(sConnMain, QStringLiteral("Insert into todo (todo)values('Call the bank')"));

    const OfficeCopyCounts first = copy();
    EXPECT_EQ(first.contacts, 2);
    EXPECT_EQ(first.appointments, 1);
    EXPECT_EQ(first.todo, 1);
    EXPECT_EQ(first.alreadyCopied, 0);

    auto localContacts = rows(sConnContacts, contactsQuery());
    auto copied = rows(toContacts, contactsQuery());
    ASSERT_EQ(copied.size(), 3u);
    copied.erase(copied.begin() + 2); // Zorn, who was there before
    EXPECT_EQ(copied, localContacts);
    EXPECT_EQ(rows(toContacts, apptQuery()), rows(sConnContacts, apptQuery()));
    EXPECT_EQ(rows(toMain, QStringLiteral("select todo from todo")), rows(sConnMain, QStringLiteral("select todo from todo")));

    // A second run after a new local contact copies that one alone.
    addContact(QStringLiteral("Cole"), QStringLiteral("Cy"));
    const OfficeCopyCounts second = copy();
    EXPECT_EQ(second.contacts, 1);
    EXPECT_EQ(second.appointments + second.todo, 0);
    EXPECT_EQ(second.alreadyCopied, 4);
    EXPECT_EQ(rows(toContacts, contactsQuery()).size(), 4u);
    EXPECT_EQ(rows(toContacts, apptQuery()).size(), 1u);
    EXPECT_EQ(officeCopySummary(second),
              QStringLiteral("Copied 1 contacts, 0 appointments and 0 to-do items to the office database. "
                             "4 already copied by an earlier run were left as they were."));
}

TEST_F(OfficeCopyTest, AFailedRunLeavesTheTargetAsItWas)
{
    addContact(QStringLiteral("Baker"), QStringLiteral("Bo"));
    // A target without the appointments table fails halfway through the first transaction.
    exec(toContacts, QStringLiteral("DROP TABLE appointments"));
    EXPECT_THROW(copy(), DbError);
    EXPECT_EQ(rows(toContacts, QStringLiteral("SELECT lastname FROM contacts")).size(), 1u);
    EXPECT_TRUE(rows(toContacts, QStringLiteral("SELECT count(*) FROM sqlite_master WHERE name='kestrel_copied'"))
                    .at(0).at(0) == QStringLiteral("0"));
}

} // namespace
