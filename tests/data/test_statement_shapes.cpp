// The shapes of the contact reads the tree and the grid build (filters, the empty company, accents), against a real file.
#include "data/Globals.h"
#include "data/modData.h"
#include "tests/support/Fixture.h"
#include "ui/Report.h"

using namespace kestrel;
using kestrel::test::KestrelTest;

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
