// The contact panel: filing under initials, the detail panel, a gone contact, a fill overtaken.
#include "tests/contacts/Helpers.h"

TEST_F(PanelTest, ContactsAreFiledUnderInitialsClickingOneFillsTheBoxesAndAGoneOneIsReported)
{
    exec(sConnContacts, "INSERT into contacts(lastname,firstname,company,address,city,st,zip,homeph,cellph,workph,ext,"
                        "email,active,contype)values('O''Brien','Ann','Acme','1 Pier','Cork','NY','10001','555-1',"
                        "'555-2','555-3','42','ann@x.com',True,'Cust')");
    const int gone = addContact("Gone", "Gil");
    addContact("adams-Jones", "Bo");
    addContact("Adams", "Al", "Cust", "9 Elm");
    // Names that start with no letter A-Z must not hide the contacts that sort after them.
    for (const char* last : {"", "Émile", "3M"})
        addContact(QString::fromUtf8(last), "Odd");
    exec(sConnContacts, "INSERT into contacts(lastname,firstname,contype)values(Null,'Nil','Lead')");
    addContact("Zeno", "Zed");
    PopTree(QString());
    EXPECT_EQ(filed(), "A:Adams, Al - 9 Elm|A:adams-Jones, Bo - |E:Émile, Odd - |G:Gone, Gil - |O:O'Brien, Ann - 1 Pier|"
                       "Z:Zeno, Zed - |#:, Nil - |#:, Odd - |#:3M, Odd - ");
    // The tree's own click signal, as a mouse click sends it; initials are not contacts (no report).
    Q_EMIT panel->tvLead->itemClicked(panel->tvLead->topLevelItem(26), 0);
    Q_EMIT panel->tvLead->itemClicked(nodes("O'Brien*").value(0), 0);
    EXPECT_EQ(panelText(), "1|O'Brien|Ann|1 Pier|Cork|NY|10001|555-1|555-2|555-3|42|ann@x.com|Acme|Cust");
    QTest::mouseClick(panel->cmdEmail, Qt::LeftButton);
    exec(sConnContacts, QStringLiteral("delete from contacts where id=%1").arg(gone));
    Q_EMIT panel->tvLead->itemClicked(nodes("Gone*").value(0), 0); // deleted since the fill: reported, and the panel stays empty
    EXPECT_EQ(panelText(), "|||||||||||||");
    QTest::mouseClick(panel->cmdEmail, Qt::LeftButton);
    EXPECT_EQ(desk.opened, QStringList{"mailto:ann@x.com"});
    const QStringList m = desk.messages();
    ASSERT_EQ(m.size(), 2);
    EXPECT_TRUE(m[0].contains(") in procedure tvLead_NodeClick of Form frmKestrel\r\nPlease make note of this")) << m[0].toStdString();
    EXPECT_EQ(m[1], "There is either no lead selected or there is\r\n no email address entered for the desired lead.");
}

TEST_F(PanelTest, AFillStartedWhileAnotherRunsTakesOver)
{
    if (onServer())
        GTEST_SKIP() << "fills the table with SQLite's own functions";
    exec(sConnContacts, "INSERT INTO contacts(lastname,firstname,address,contype) WITH RECURSIVE n(i) AS (SELECT 0 UNION "
                        "ALL SELECT i+1 FROM n WHERE i<399) SELECT char(65 + i % 26) || 'son', 'N' || i, '', "
                        "case when i % 2 = 1 then 'Cust' else 'Lead' end FROM n");
    setTreeEventInterval(0);
    QTimer::singleShot(0, panel, [&] { choose(panel->cmbDisplay, "Cust"); }); // picked while the full list fills
    PopTree(QString());
    EXPECT_EQ(nodes().size(), 26 + 200);
    setTreeEventInterval(30);
}

TEST_F(PanelTest, NamesAreFiledWithoutAccentsAndFoundByTheGridFilterAndValuesStayIsolatedInTheirLines)
{
    const std::pair<const char*, char16_t> initials[] = {{"Ångström", u'A'}, {"émile", u'E'}, {"Øre", u'O'}, {"ßmith", u'S'},
                                                         {"Łoś", u'L'}, {"3M Rep", u'#'}, {"שלום", u'#'}, {"", u'#'}};
    for (const auto& [name, letter] : initials)
        EXPECT_EQ(fileInitial(QString::fromUtf8(name)), QChar(letter)) << name;
    for (const char* last : {"Ångström", "Evans", "Émile", "3M Rep", "Eco"})
        addContact(QString::fromUtf8(last), "X");
    EXPECT_EQ(joined(rows(sConnContacts, "select lastname from contacts where lastname like 'e%' order by id")),
              QString::fromUtf8("Evans/Émile/Eco"));
    PopTree(QString());
    EXPECT_EQ(filed(), QString::fromUtf8("A:Ångström, X - |E:Eco, X - |E:Evans, X - |E:Émile, X - |#:3M Rep, X - "));

    // A value's direction marks stay inside it: isolated, with a stray closing mark dropped and
    // an opening one left open closed; a plain value is left as it is.
    const QString fsi(QChar(0x2068)), pdi(QChar(0x2069)), rlo(QChar(0x202E)), rli(QChar(0x2067));
    const std::pair<QString, QString> values[] = {{"Smith", "Smith"},
                                                  {rlo + "evil", fsi + rlo + "evil" + pdi},
                                                  {"x" + pdi + rlo, fsi + "x" + rlo + pdi},
                                                  {"a" + rli + "b", fsi + "a" + rli + "b" + pdi + pdi},
                                                  {QString::fromUtf8("שלום"), fsi + QString::fromUtf8("שלום") + pdi}};
    for (const auto& [value, expected] : values)
        EXPECT_EQ(isolated(value), expected);
    EXPECT_EQ(TreeNodeText(rlo + "Lee", "Ann", "1 Elm"), fsi + rlo + "Lee" + pdi + ", Ann - 1 Elm");
}
