// The grid's pages: read a few rows at a time by key, forwards and backwards, in every order the
// grid sorts by, they make up exactly what one whole read gives, on both engines.
#include "data/Database.h"
#include "data/GridPages.h"
#include "data/Office.h"
#include "data/PgEngine.h"
#include "tests/contacts/Helpers.h"

namespace {
class GridPagesTest : public KestrelTest {
protected:
    void SetUp() override
    {
        KestrelTest::SetUp();
        // Duplicate keys, missing values and a case apart, so that pages of two end on each.
        for (const char* row : {"'Smith',Null,'1 A St','Co','Lead'", "'Smith','Ann',Null,Null,'Cust'", "'Smith','Ann','2 B St','','Lead'",
                                "'smith','Ann','2 B St','Co','Cust'", "'Smith','Ann','2 B St','co','Lead'", "Null,'Nil',Null,'Zed','Lead'",
                                "'Stone','Cy','','','Lead'", "'Adams','X','','Acme','Lead'", "'3M','X','','Acme','Cust'",
                                "'Zeno',Null,Null,Null,'Lead'", "Null,Null,Null,'','Cust'"})
            exec(sConnContacts, QStringLiteral("INSERT into contacts(lastname,firstname,address,company,contype)values(%1)").arg(row));
        // Last contacts: one date twice, one contact with two entries, the rest never contacted.
        const std::vector<QStringList> ids = rows(sConnContacts, "select id from contacts order by id");
        for (const auto& [row, date] : std::vector<std::pair<int, const char*>>{{0, "3/1/2027"}, {1, "3/1/2027"}, {3, "2/1/2027"},
                                                                                 {3, "5/1/2027"}, {6, "1/15/2027"}})
            exec(sConnContacts, QStringLiteral("INSERT into history(contact_id,kind,histdate,subject)values(%1,'Call',#%2#,'x')")
                                    .arg(ids[size_t(row)][0], date));
    }
    static QStringList orderColumns(GridOrder order)
    {
        switch (order) {
        case GridOrder::Name: return {"lastname", "firstname", "address"};
        case GridOrder::Company: return {"company"};
        case GridOrder::LastContact: return {"lastcontact"};
        case GridOrder::Id: break;
        }
        return {};
    }
    // The rows the filter leaves in the order, as one read of the whole table gives them.
    QStringList wholeRead(GridOrder order, const QString& where)
    {
        QStringList ids;
        for (const QStringList& r : rows(sConnContacts, QStringLiteral("select id from contacts%1 order by %2")
                                                           .arg(where, (orderColumns(order) << "id").join(u','))))
            ids << r[0];
        return ids;
    }
    QStringList walk(const GridFilter& f, GridOrder order, bool backwards, int page, const std::function<void()>& between = {})
    {
        Connection c(sConnContacts);
        QStringList ids;
        std::optional<GridKey> from;
        for (int guard = 0; guard < 100; ++guard) {
            const std::vector<GridRow> rows = gridPage(c, f, order, {"firstname"}, from, backwards, page);
            for (const GridRow& r : rows)
                ids << QString::number(r.key.id);
            if (int(rows.size()) < page)
                break;
            from = rows.back().key;
            if (between && guard == 0)
                between();
        }
        if (backwards)
            std::reverse(ids.begin(), ids.end());
        return ids;
    }
};
} // namespace

TEST_F(GridPagesTest, PagesOfEverySizeForwardsAndBackwardsMakeUpTheWholeReadInEveryOrderAndFilter)
{
    const std::vector<std::pair<GridFilter, QString>> filters = {
        {GridFilter{}, ""},
        {GridFilter{"Lead", "Both", std::nullopt, false}, " where contype='Lead'"},
        {GridFilter{"All", "Companies only", std::nullopt, false}, " where company<>''"},
        {GridFilter{"All", "No Companies", std::nullopt, false}, " where company=''"},
        {GridFilter{"", "Both", QStringList{"S"}, false}, " where lastname like 'S%'"},
        {GridFilter{"", "Both", QStringList{"3"}, true}, " where lastname is null or lastname like '3%'"}};
    for (const GridOrder order : {GridOrder::Name, GridOrder::Company, GridOrder::Id, GridOrder::LastContact})
        for (const auto& [filter, where] : filters) {
            const QStringList whole = wholeRead(order, where);
            SCOPED_TRACE(QStringLiteral("order %1%2").arg(int(order)).arg(where).toStdString());
            ASSERT_FALSE(whole.isEmpty());
            Connection c(sConnContacts);
            EXPECT_EQ(gridRowCount(c, filter), whole.size());
            std::int64_t counted = 0;
            for (const InitialCount& i : gridInitials(c, filter))
                counted += i.count;
            EXPECT_EQ(counted, whole.size());
            for (const int page : {1, 2, 3, 50}) {
                EXPECT_EQ(walk(filter, order, false, page), whole) << "forwards by " << page;
                EXPECT_EQ(walk(filter, order, true, page), whole) << "backwards by " << page;
            }
            // Every row's place is the count of those before its key, as a jump to it needs.
            for (qsizetype i = 0; i < whole.size(); ++i) {
                const std::optional<GridKey> key = gridKeyOfContact(c, filter, order, whole[i].toLongLong());
                ASSERT_TRUE(key.has_value());
                EXPECT_EQ(gridRowsBefore(c, filter, order, *key), i) << "row " << i;
            }
        }
    Connection c(sConnContacts);
    EXPECT_FALSE(gridKeyOfContact(c, GridFilter{"Cust", "Both", std::nullopt, false}, GridOrder::Name,
                                  wholeRead(GridOrder::Name, " where contype='Lead'").front().toLongLong()))
        << "a contact the filter leaves out has no place in it";
}

TEST_F(GridPagesTest, RowsAddedAndDeletedBetweenPagesNeitherRepeatNorGoMissing)
{
    for (const bool backwards : {false, true}) {
        SCOPED_TRACE(backwards ? "backwards" : "forwards");
        int behind = 0, ahead = 0;
        const QStringList walked = walk(GridFilter{}, GridOrder::Name, backwards, 2, [&] {
            // One row where the walk has been, one where it goes, and one it was to read deleted.
            if (backwards) {
                behind = addContact("Zz", "New");
            } else { // before the second row (no names, "Nil") where the first page ended
                exec(sConnContacts, "INSERT into contacts(lastname,firstname,contype)values(Null,Null,'Lead')");
                behind = rows(sConnContacts, "select max(id) from contacts").front().front().toInt();
            }
            ahead = addContact(backwards ? "0" : "Zz", "New");
            const QStringList now = wholeRead(GridOrder::Name, "");
            exec(sConnContacts, QStringLiteral("delete from contacts where id=%1").arg(now[now.size() / 2]));
        });
        QStringList expected = wholeRead(GridOrder::Name, "");
        expected.removeAll(QString::number(behind));
        EXPECT_EQ(walked, expected);
        EXPECT_TRUE(walked.contains(QString::number(ahead)));
        exec(sConnContacts, QStringLiteral("delete from contacts where id in (%1,%2)").arg(behind).arg(ahead));
    }
}

TEST_F(GridPagesTest, TheSortsByCompanyAndLastContactReadAnIndexOnAFileFromBeforeThemAndOnTheServer)
{
    const QString byIndex = onServer() ? "select indexname from pg_indexes where tablename='contacts' and indexname in "
                                         "('contacts_by_company','contacts_by_lastcontact') order by 1"
                                       : "select name from sqlite_master where name in "
                                         "('contacts_by_company','contacts_by_lastcontact') order by 1";
    if (!onServer()) {
        exec(sConnContacts, "drop index contacts_by_company");
        exec(sConnContacts, "drop index contacts_by_lastcontact");
        releaseAllDatabaseFiles(); // the next start upgrades the file
    }
    EXPECT_EQ(rows(sConnContacts, byIndex), (std::vector<QStringList>{{"contacts_by_company"}, {"contacts_by_lastcontact"}}));
}

TEST_F(GridPagesTest, OnTheServerARoleOutsideTheOfficeReadsNeitherTheCountNorAPage)
{
    if (!onServer())
        GTEST_SKIP() << "the office server's roles";
    // Every server run pages as an ordinary member of the office (the tests above); this role may
    // only connect.
    const QString outsider = QStringLiteral("kestrel_gridout_%1").arg(serverDb);
    const QString postgres = testServer() + QStringLiteral(" dbname=postgres");
    pg::runMaintenance(postgres, QStringLiteral("CREATE ROLE %1 LOGIN").arg(outsider));
    const std::shared_ptr<void> dropped(nullptr, [&](void*) {
        releaseAllDatabaseFiles();
        pg::runMaintenance(adminConninfo(), QStringLiteral("DROP OWNED BY %1").arg(outsider));
        pg::runMaintenance(postgres, QStringLiteral("DROP ROLE %1").arg(outsider));
    });
    pg::runMaintenance(adminConninfo(), QStringLiteral("GRANT CONNECT ON DATABASE %1 TO %2").arg(serverDb, outsider));
    const QString asOutsider = serverConnectionText(memberConninfo(outsider));
    const auto page = [&](GridOrder order) {
        Connection c(asOutsider);
        return gridPage(c, GridFilter{}, order, {"firstname"}, std::nullopt, false, 10).size();
    };
    for (const GridOrder order : {GridOrder::Name, GridOrder::Company, GridOrder::Id, GridOrder::LastContact})
        EXPECT_THROW(page(order), DbError) << int(order);
    EXPECT_THROW(
        {
            Connection c(asOutsider);
            gridRowCount(c, GridFilter{});
        },
        DbError);
}
