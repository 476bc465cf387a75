// The grid's pages: read a few rows at a time by key, forwards and backwards, in every order the
// grid sorts by, they make up exactly what one whole read gives, on both engines.
#include "data/Database.h"
#include "data/GridPages.h"
#include "data/Office.h"
#include "data/PgEngine.h"
#include "tests/contacts/Helpers.h"

#include <map>

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

TEST_F(GridPagesTest, TheSortsAndTheTypeFilterReadAnIndexOnAFileFromBeforeThemAndOnTheServer)
{
    const QString byIndex = onServer() ? "select indexname from pg_indexes where tablename='contacts' and indexname in "
                                         "('contacts_by_company','contacts_by_lastcontact','contacts_by_type_initial') order by 1"
                                       : "select name from sqlite_master where name in "
                                         "('contacts_by_company','contacts_by_lastcontact','contacts_by_type_initial') order by 1";
    if (!onServer()) {
        for (const char* index : {"contacts_by_company", "contacts_by_lastcontact", "contacts_by_type_initial"})
            exec(sConnContacts, QStringLiteral("drop index %1").arg(index));
        releaseAllDatabaseFiles(); // the next start upgrades the file
    }
    EXPECT_EQ(rows(sConnContacts, byIndex),
              (std::vector<QStringList>{{"contacts_by_company"}, {"contacts_by_lastcontact"}, {"contacts_by_type_initial"}}));
}

// The letters' counts a local file keeps by trigger: after every kind of change, and in a file
// from before them, they are what counting the rows gives, for every filter.
TEST_F(GridPagesTest, TheKeptCountsFollowEveryChangeAndAFileFromBeforeThemGainsThem)
{
    if (onServer())
        GTEST_SKIP() << "the server counts its rows";
    const std::vector<std::pair<GridFilter, QString>> filters = {
        {GridFilter{}, ""},
        {GridFilter{"lead", "Both", std::nullopt, false}, " where contype='Lead'"},
        {GridFilter{"Cust", "Companies only", std::nullopt, false}, " where contype='Cust' and company<>''"},
        {GridFilter{"All", "No Companies", std::nullopt, false}, " where company=''"}};
    const auto agree = [&](const char* after) {
        SCOPED_TRACE(after);
        for (const auto& [filter, where] : filters) {
            Connection c(sConnContacts);
            std::map<std::pair<QString, bool>, std::int64_t> kept, counted;
            for (const InitialCount& i : gridInitials(c, filter))
                kept[{i.key, i.nullName}] += i.count;
            for (const QStringList& r : rows(sConnContacts, QStringLiteral("select upper(substr(lastname,1,1)) is null, "
                                                                           "upper(substr(lastname,1,1)), count(*) from contacts%1 group by 1, 2")
                                                                .arg(where)))
                counted[{r[0] == u"1" ? QString() : r[1], r[0] == u"1"}] = r[2].toLongLong();
            EXPECT_EQ(kept, counted) << where.toStdString();
            EXPECT_EQ(gridRowCount(c, filter), wholeRead(GridOrder::Id, where).size()) << where.toStdString();
        }
    };
    agree("inserted");
    exec(sConnContacts, "update contacts set lastname='Quill', contype='LEAD' where lastname='Zeno'");
    exec(sConnContacts, "update contacts set lastname=Null, company=Null where lastname='Stone'");
    exec(sConnContacts, "update contacts set company='' where company='Zed'");
    exec(sConnContacts, "update contacts set contype=Null where lastname='3M'");
    exec(sConnContacts, "update contacts set firstname='Bo' where lastname='Adams'");
    exec(sConnContacts, "delete from contacts where lastname='Smith' and firstname='Ann'");
    agree("changed and deleted");
    for (const char* gone : {"drop table contact_initials", "drop trigger contacts_count_ins", "drop trigger contacts_count_del",
                             "drop trigger contacts_count_upd"})
        exec(sConnContacts, gone);
    addContact("Ames", "Without", "Lead");
    releaseAllDatabaseFiles(); // the next start upgrades the file
    agree("counted for a file from before them");
    EXPECT_EQ(rows(sConnContacts, "select count(*) from sqlite_master where name='contact_initials'"),
              (std::vector<QStringList>{{"1"}}));
}

TEST_F(GridPagesTest, OnTheServerARoleOutsideTheOfficeReadsNeitherTheCountNorAPageAndNoMemberDropsTheTypeIndex)
{
    if (!onServer())
        GTEST_SKIP() << "the office server's roles";
    // Every server run pages as an ordinary member of the office (the tests above); the outsider
    // may only connect.
    makeOfficeRoles(QStringLiteral("grid"), true);
    const QString asOutsider = serverConnectionText(memberConninfo(outsider));
    const GridFilter lead{"Lead", "Both", std::nullopt, false};
    const auto page = [&](GridOrder order, const GridFilter& f) {
        Connection c(asOutsider);
        return gridPage(c, f, order, {"firstname"}, std::nullopt, false, 10).size();
    };
    for (const GridOrder order : {GridOrder::Name, GridOrder::Company, GridOrder::Id, GridOrder::LastContact})
        for (const GridFilter& f : {GridFilter{}, lead})
            EXPECT_THROW(page(order, f), DbError) << int(order);
    for (const GridFilter& f : {GridFilter{}, lead}) {
        EXPECT_THROW(
            {
                Connection c(asOutsider);
                gridRowCount(c, f);
            },
            DbError);
        EXPECT_THROW(
            {
                Connection c(asOutsider);
                gridInitials(c, f);
            },
            DbError);
    }
    // A colleague reads the type's letters through the index, and may neither drop it nor put
    // one of their own in its place.
    {
        Connection c(serverConnectionText(memberConninfo(colleague)));
        EXPECT_EQ(gridRowCount(c, lead), wholeRead(GridOrder::Id, " where contype='Lead'").size());
    }
    for (const char* sql : {"DROP INDEX contacts_by_type_initial", "CREATE INDEX mine ON contacts(contype)",
                            "ALTER INDEX contacts_by_type_initial RENAME TO gone"})
        for (const QString& role : {colleague, outsider})
            EXPECT_THROW(pg::runMaintenance(memberConninfo(role), QString::fromLatin1(sql)), DbError) << sql;
}
