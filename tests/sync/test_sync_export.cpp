// Contacts > Export vCard read by a real CardDAV server: the suite's Radicale takes every card the
// export writes, one per resource, as a phone's address book would be given them.
#include "tests/sync/SyncTest.h"

#include "data/modData.h"
#include "exchange/modExchange.h"

#include <QRegularExpression>

namespace kestrel::test {
namespace {

class ExportToServer : public SyncTest {
protected:
    void add(const QString& columns, const QString& values)
    {
        exec(sConnContacts, QStringLiteral("INSERT INTO contacts(%1,active,contype) VALUES(%2,True,'Lead')").arg(columns, values));
    }
    // The cards of Contacts > Export vCard, as 3.0 or as 4.0.
    QList<QByteArray> exported(bool v3)
    {
        const QString path = dir.filePath(QStringLiteral("all.vcf"));
        desk.answerSaveFile(path);
        if (v3)
            desk.answerYes();
        else
            desk.answerNo();
        ExportVCard(nullptr);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::ReadOnly));
        QList<QByteArray> cards;
        for (const QByteArray& piece : f.readAll().split('\n'))
            if (piece.startsWith("BEGIN:VCARD"))
                cards << piece + '\n';
            else if (!cards.isEmpty())
                cards.back() += piece + '\n';
        for (QByteArray& c : cards)
            c.chop(1); // the split's own line end after the last
        return cards;
    }
};

TEST_F(ExportToServer, EveryExportedCardIsAcceptedOnePerResourceWithTheContactsOwnUid)
{
    // Each of the cards a server is known to be strict about: every field; a company alone; no
    // name at all; other scripts, an emoji and long lines folded inside a character; a birthday
    // without its year; text with the characters vCard escapes.
    add(QStringLiteral("lastname,firstname,company,address,city,st,zip,cellph,homeph,workph,ext,email,country,jobtitle,"
                       "website,birthday,notes"),
        QStringLiteral("'Lee','Ann','Acme, Inc.; East','12 Main St\nSuite 4','Portland','OR','97201','+1 503 555 0100',"
                       "'(503) 555-0142','503.555.0143','12','ann@x.com','US','Buyer','www.example.com/a b','1980-03-07',"
                       "'first; second, third\\\\ fourth\nnext line'"));
    add(QStringLiteral("company,workph"), QStringLiteral("'Front Desk Holdings','555-0100'"));
    add(QStringLiteral("cellph"), QStringLiteral("'+44 20 7946 0000'"));
    add(QStringLiteral("lastname,firstname,notes,birthday"),
        QStringLiteral("'山田','太郎','%1 🎉','--03-07'").arg(QString(40, QChar(0x00E9))));
    add(QStringLiteral("lastname,email"), QStringLiteral("'O''Brien','ob@x.com'"));

    const QRegularExpression uidLine(QStringLiteral("\r\nUID:([^\r]*)\r\n"));
    for (const bool v3 : {false, true}) {
        const QList<QByteArray> cards = exported(v3);
        ASSERT_EQ(cards.size(), 5) << (v3 ? "3.0" : "4.0");
        std::vector<QStringList> sent;
        for (qsizetype i = 0; i < cards.size(); ++i) {
            const QString href = book.path() + QStringLiteral("card%1.vcf").arg(i);
            // 4.0 makes each resource, 3.0 writes over it: both must be taken whole.
            phone(v3 ? QStringList{QStringLiteral("put"), href, QStringLiteral("FILE")}
                     : QStringList{QStringLiteral("put"), href, QStringLiteral("FILE"), QStringLiteral("*")},
                  true, cards[i]);
            const QString own = uidLine.match(QString::fromUtf8(cards[i])).captured(1);
            EXPECT_FALSE(own.isEmpty()) << cards[i].toStdString();
            EXPECT_EQ(field(href, "uid"), own);
            sent.push_back({own});
        }
        std::sort(sent.begin(), sent.end());
        // Each card carries the uid its contact keeps for the sync, the same on every export.
        EXPECT_EQ(sent, rows(sConnContacts, QStringLiteral("select uid from contacts order by uid"))) << (v3 ? "3.0" : "4.0");
        EXPECT_EQ(listed(book).size(), 5);
    }
    // The server gives the cards back with their values: the name in another script and the
    // address's two lines among them.
    bool foundScript = false, foundLines = false;
    for (int i = 0; i < 5; ++i) {
        const QString href = book.path() + QStringLiteral("card%1.vcf").arg(i);
        foundScript = foundScript || field(href, "fn").contains(QStringLiteral("山田"));
        foundLines = foundLines || phone({QStringLiteral("get"), href}).contains(QStringLiteral("12 Main St\\nSuite 4"));
    }
    EXPECT_TRUE(foundScript);
    EXPECT_TRUE(foundLines);
}

} // namespace
} // namespace kestrel::test
