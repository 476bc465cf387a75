// Two-way sync against a real CardDAV/CalDAV server (Radicale), with a phone changing the server
// between Kestrel's syncs; the export read by that server; kestrel --sync as a timer runs it.
#include "tests/sync/SyncTest.h"
#include "tests/support/Files.h"

#include "data/SyncStore.h"
#include "data/Trash.h"
#include "data/modData.h"
#include "data/Office.h"
#include "exchange/modExchange.h"
#include "sync/SyncWords.h"

#include <QDir>
#include <QHostAddress>
#include <QRegularExpression>
#include <QTcpServer>

namespace kestrel::test {
namespace {

using sync::Outcome;

QByteArray card(const QString& uid, const QString& last, const QString& first, const QString& extra = {})
{
    return QStringLiteral("BEGIN:VCARD\r\nVERSION:3.0\r\nUID:%1\r\nFN:%3 %2\r\nN:%2;%3;;;\r\n%4END:VCARD\r\n")
        .arg(uid, last, first, extra)
        .toUtf8();
}

class SyncServer : public SyncTest {
protected:
    QString only(const QUrl& collection)
    {
        const auto items = listed(collection);
        EXPECT_EQ(items.size(), 1);
        return items.isEmpty() ? QString() : items.firstKey();
    }
    QString value(const char* column, int id)
    {
        const auto r = rows(sConnContacts, QStringLiteral("select %1 from contacts where id=%2").arg(QLatin1String(column)).arg(id));
        return r.empty() ? QStringLiteral("<gone>") : r[0][0];
    }
};

TEST_F(SyncServer, ChangesOnEachSideReachTheOther)
{
    // Kestrel's new contact reaches the phone with its uid; nothing is doubled by a second sync.
    const int id = addContact(QStringLiteral("Lee"), QStringLiteral("Ann"), QStringLiteral("Cust"));
    const QString uid = rows(sConnContacts, QStringLiteral("select uid from contacts where id=%1").arg(id))[0][0];
    ASSERT_EQ(uid.size(), 36);
    sync::Report r = sync();
    ASSERT_EQ(int(r.outcome), int(Outcome::Synced)) << r.detail.toStdString();
    EXPECT_EQ(r.sentOut, 1);
    const QString href = only(book);
    EXPECT_EQ(field(href, "uid"), uid);
    EXPECT_EQ(field(href, "fn"), QStringLiteral("Ann Lee"));
    EXPECT_EQ(field(href, "categories"), QStringLiteral("Cust"));

    // Nothing changed: one request per collection.
    r = sync();
    EXPECT_EQ(r.requests, 2);
    EXPECT_EQ(r.sentOut + r.broughtIn, 0);

    // The phone's new contact and its edit come in.
    phone({"put", book.path() + "phone-1.vcf", "FILE", "*"}, true, card("phone-1", "Ng", "Bo", "TEL;TYPE=CELL:555-0101\r\n"));
    r = sync();
    EXPECT_EQ(r.broughtIn, 1);
    const auto bo = rows(sConnContacts, "select id,cellph,contype,uid from contacts where lastname='Ng'");
    ASSERT_EQ(bo.size(), 1u);
    EXPECT_EQ(bo[0][1], "555-0101");
    EXPECT_EQ(bo[0][2], "Contact");
    EXPECT_EQ(bo[0][3], "phone-1");
    phone({"setfield", book.path() + "phone-1.vcf", "email", "bo@example.com"});
    r = sync();
    EXPECT_EQ(r.broughtIn, 1);
    EXPECT_EQ(value("email", bo[0][0].toInt()), "bo@example.com");

    // Kestrel's edit reaches the phone, and the phone's own lines stay.
    exec(sConnContacts, QStringLiteral("update contacts set city='Salem' where id=%1").arg(bo[0][0]));
    r = sync();
    EXPECT_EQ(r.sentOut, 1);
    EXPECT_EQ(field(book.path() + "phone-1.vcf", "adr").simplified(), "Salem,");
    EXPECT_EQ(field(book.path() + "phone-1.vcf", "email"), "bo@example.com");

    // The phone deletes Ann: gone here into the trash, named as the phone's delete, her history
    // kept under her name; restored, she goes back to the phone once, under her uid.
    exec(sConnContacts, QStringLiteral("INSERT into history(contact_id,kind,histdate,subject) values(%1,'Call',#3/1/2027#,'Price list')").arg(id));
    phone({"delete", href});
    r = sync();
    EXPECT_EQ(r.removedHere, 1);
    EXPECT_EQ(value("id", id), "<gone>");
    EXPECT_EQ(rows(sConnContacts, QStringLiteral("select contact_name from history where contact_id=%1").arg(id)),
              (std::vector<QStringList>{{"Ann Lee"}}));
    std::vector<TrashBatch> trashed = listTrash(sConnContacts);
    ASSERT_EQ(trashed.size(), 1u);
    EXPECT_EQ(trashed[0].label, QStringLiteral("Lee, Ann (deleted on the phone or the sync server %1)").arg(QUrl(server).host()));
    EXPECT_EQ(restoreFromTrash(sConnContacts, trashed[0].batch), 1);
    EXPECT_EQ(value("uid", id), uid);
    r = sync();
    EXPECT_EQ(r.sentOut, 1);
    EXPECT_EQ(listed(book).size(), 2);
    EXPECT_EQ(field(href, "uid"), uid);

    // Kestrel deletes Bo: gone from the phone; restored from the trash, the next sync sends him
    // again (his item there is gone), and the one after finds nothing to do.
    const QString batch = trashContact(sConnContacts, bo[0][0].toInt(), true, QStringLiteral("Ng, Bo"));
    ASSERT_FALSE(batch.isEmpty());
    r = sync();
    EXPECT_EQ(r.removedThere, 1);
    EXPECT_EQ(listed(book).size(), 1);
    EXPECT_EQ(restoreFromTrash(sConnContacts, batch), 1);
    r = sync();
    EXPECT_EQ(r.sentOut, 1);
    EXPECT_EQ(listed(book).size(), 2);
    r = sync();
    EXPECT_EQ(r.sentOut + r.broughtIn + r.removedHere + r.removedThere, 0);
    EXPECT_EQ(rows(sConnContacts, "select count(*) from contacts")[0][0], "2");
}

TEST_F(SyncServer, AppointmentsTravelAsEventsWithTheirUid)
{
    const int id = addAppt({2026, 12, 10}, {9, 30}, QStringLiteral("Review"));
    sync::Report r = sync();
    ASSERT_EQ(int(r.outcome), int(Outcome::Synced)) << r.detail.toStdString();
    const QString href = only(calendar);
    const QString ics = phone({"get", href});
    EXPECT_TRUE(ics.contains(QStringLiteral("SUMMARY:Review"))) << ics.toStdString();
    EXPECT_TRUE(ics.contains(QStringLiteral("UID:kestrel-appt-%1-").arg(id))) << ics.toStdString();
    // The phone moves it by an hour and adds one of its own.
    QString moved = ics;
    moved.replace(QStringLiteral("T093000"), QStringLiteral("T103000"));
    phone({"put", href, "FILE"}, true, moved.toUtf8());
    phone({"put", calendar.path() + "phone-ev.ics", "FILE", "*"}, true,
          "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Phone//EN\r\nBEGIN:VEVENT\r\nUID:phone-ev\r\nDTSTAMP:20261201T000000Z\r\n"
          "DTSTART:20261211T150000Z\r\nDTEND:20261211T160000Z\r\nSUMMARY:Lunch\r\nLOCATION:Cafe\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n");
    r = sync();
    EXPECT_EQ(r.broughtIn, 2);
    EXPECT_EQ(rows(sConnContacts, QStringLiteral("select appttime from appointments where autoid=%1").arg(id))[0][0], "10:30:00 AM");
    const auto lunch = rows(sConnContacts, "select apptdate,appttime,address from appointments where apptbrief='Lunch'");
    ASSERT_EQ(lunch.size(), 1u);
    EXPECT_EQ(lunch[0][0], "12/11/2026");
    EXPECT_EQ(lunch[0][1], "10:00:00 AM"); // 15:00 UTC in New York
    // Kestrel renames the phone's event: only its summary changes there, its hour-long end stays.
    exec(sConnContacts, "update appointments set apptbrief='Lunch with Bo' where apptbrief='Lunch'");
    r = sync();
    EXPECT_EQ(r.sentOut, 1);
    const QString lunchIcs = phone({"get", calendar.path() + "phone-ev.ics"});
    EXPECT_TRUE(lunchIcs.contains(QStringLiteral("SUMMARY:Lunch with Bo"))) << lunchIcs.toStdString();
    EXPECT_TRUE(lunchIcs.contains(QStringLiteral("DTEND:20261211T160000Z"))) << lunchIcs.toStdString();

    // The phone deletes the review: into the trash by its date and summary; restored, it goes back
    // to the phone once.
    phone({"delete", href});
    r = sync();
    EXPECT_EQ(r.removedHere, 1);
    const std::vector<TrashBatch> trashed = listTrash(sConnContacts);
    ASSERT_EQ(trashed.size(), 1u);
    EXPECT_TRUE(trashed[0].label.startsWith(QStringLiteral("12/10/2026 Review (deleted on the phone"))) << trashed[0].label.toStdString();
    EXPECT_EQ(trashed[0].table, TrashTable::Appointments);
    EXPECT_EQ(restoreFromTrash(sConnContacts, trashed[0].batch), 1);
    r = sync();
    EXPECT_EQ(r.sentOut, 1);
    EXPECT_EQ(listed(calendar).size(), 2);
    EXPECT_EQ(sync().sentOut, 0);
}

TEST_F(SyncServer, BothSidesChangedMergeFieldsAndAskAboutTheSameField)
{
    const int id = addContact(QStringLiteral("Lee"), QStringLiteral("Ann"));
    ASSERT_EQ(int(sync().outcome), int(Outcome::Synced));
    const QString href = only(book);
    // Different fields: both kept.
    phone({"setfield", href, "email", "ann@phone.example"});
    exec(sConnContacts, QStringLiteral("update contacts set city='Boston' where id=%1").arg(id));
    sync::Report r = sync();
    EXPECT_TRUE(r.conflicts.empty());
    EXPECT_EQ(value("email", id), "ann@phone.example");
    EXPECT_EQ(value("city", id), "Boston");
    EXPECT_EQ(field(href, "email"), "ann@phone.example");
    EXPECT_EQ(field(href, "adr").simplified(), "Boston,");

    // The same field: asked about, and neither side changed until answered.
    phone({"setfield", href, "email", "ann@there.example"});
    exec(sConnContacts, QStringLiteral("update contacts set email='ann@here.example', zip='02110' where id=%1").arg(id));
    r = sync();
    ASSERT_EQ(r.conflicts.size(), 1u);
    const sync::Conflict c = r.conflicts.front();
    EXPECT_EQ(sync::conflictQuestion(c),
              "Someone else changed this contact (Ann Lee) on the sync server after the last sync.\n\n"
              "E-mail here: \"ann@here.example\"\nE-mail there: \"ann@there.example\"\n\n"
              "Save your changes over theirs? (No takes theirs.)");
    EXPECT_EQ(value("email", id), "ann@here.example");
    EXPECT_EQ(field(href, "email"), "ann@there.example");
    // Asked again until answered; "take theirs" brings the phone's value, the zip still goes out.
    r = sync();
    ASSERT_EQ(r.conflicts.size(), 1u);
    r = sync({{c.href, c.etag, c.field, false}});
    EXPECT_TRUE(r.conflicts.empty());
    EXPECT_EQ(value("email", id), "ann@there.example");
    EXPECT_EQ(field(href, "email"), "ann@there.example");
    EXPECT_TRUE(field(href, "adr").contains(QStringLiteral("02110")));

    // "Keep mine" sends the value here.
    phone({"setfield", href, "email", "x@there.example"});
    exec(sConnContacts, QStringLiteral("update contacts set email='x@here.example' where id=%1").arg(id));
    r = sync();
    ASSERT_EQ(r.conflicts.size(), 1u);
    r = sync({{r.conflicts[0].href, r.conflicts[0].etag, "email", true}});
    EXPECT_TRUE(r.conflicts.empty());
    EXPECT_EQ(field(href, "email"), "x@here.example");
    EXPECT_EQ(value("email", id), "x@here.example");
}

TEST_F(SyncServer, AnEditSurvivesADeleteOnTheOtherSide)
{
    const int kept = addContact(QStringLiteral("Lee"), QStringLiteral("Ann"));
    ASSERT_EQ(int(sync().outcome), int(Outcome::Synced));
    // Deleted on the phone, edited here: kept, said so, and back on the phone.
    phone({"delete", only(book)});
    exec(sConnContacts, QStringLiteral("update contacts set city='Boston' where id=%1").arg(kept));
    sync::Report r = sync();
    EXPECT_EQ(r.removedHere, 0);
    ASSERT_EQ(r.notes.size(), 1);
    EXPECT_EQ(r.notes[0], "\"Ann Lee\" was deleted on the server but changed here since; it was kept.");
    EXPECT_EQ(value("city", kept), "Boston");
    EXPECT_EQ(field(only(book), "adr").simplified(), "Boston,");

    // Deleted here, edited on the phone: the phone's edit comes back as a contact.
    const QString href = only(book);
    phone({"setfield", href, "email", "ann@example.com"});
    exec(sConnContacts, QStringLiteral("delete from contacts where id=%1").arg(kept));
    r = sync();
    EXPECT_EQ(r.removedThere, 0);
    ASSERT_EQ(r.notes.size(), 1);
    EXPECT_TRUE(r.notes[0].contains(QStringLiteral("was deleted here but changed on the server since")));
    EXPECT_EQ(rows(sConnContacts, "select email,city from contacts"), (std::vector<QStringList>{{"ann@example.com", "Boston"}}));
    EXPECT_EQ(listed(book).size(), 1);
}

TEST_F(SyncServer, AStaleETagFetchesTheServersCopyAndMerges)
{
    const int id = addContact(QStringLiteral("Lee"), QStringLiteral("Ann"));
    ASSERT_EQ(int(sync().outcome), int(Outcome::Synced));
    const QString href = only(book);
    // The phone's change is one the listing does not report (the token taken as current), so
    // Kestrel writes its own change against the ETag it kept: the server answers 412.
    phone({"setfield", href, "email", "ann@phone.example"});
    const QString fresh = [&] {
        dav::Client c(user, QString());
        const dav::Response r = c.send("REPORT", book, QByteArray("<?xml version=\"1.0\"?><d:sync-collection xmlns:d=\"DAV:\">"
                                                                 "<d:sync-token/><d:sync-level>1</d:sync-level><d:prop/>"
                                                                 "</d:sync-collection>"), 0);
        return QString::fromUtf8(r.body).section(QStringLiteral("sync-token>"), 1, 1).section(u'<', 0, 0);
    }();
    ASSERT_FALSE(fresh.isEmpty());
    exec(sConnContacts, QStringLiteral("update sync_collections set sync_token='%1'").arg(fresh));
    exec(sConnContacts, QStringLiteral("update contacts set city='Boston' where id=%1").arg(id));
    const sync::Report r = sync();
    EXPECT_TRUE(r.conflicts.empty());
    EXPECT_EQ(value("email", id), "ann@phone.example");
    EXPECT_EQ(field(href, "email"), "ann@phone.example");
    EXPECT_EQ(field(href, "adr").simplified(), "Boston,");
}

TEST_F(SyncServer, ASyncCutOffMidwayLeavesNothingHalfDoneAndTheNextOneFinishes)
{
    for (int i = 0; i < 60; ++i)
        addContact(QStringLiteral("Last%1").arg(i), QStringLiteral("First"));
    for (int i = 0; i < 30; ++i)
        phone({"put", book.path() + QStringLiteral("p%1.vcf").arg(i), "FILE", "*"}, true,
              card(QStringLiteral("p%1").arg(i), QStringLiteral("Phone%1").arg(i), QStringLiteral("Pat")));
    // The connection drops once a third of the work is done.
    sync::SyncRunner runner;
    sync::Report cut;
    QObject::connect(&runner, &sync::SyncRunner::progress, [&](int done, int total) {
        if (total > 0 && done >= total / 3)
            runner.cancel();
    });
    QObject::connect(&runner, &sync::SyncRunner::finished, [&](const sync::Report& r) { cut = r; });
    runner.start(job());
    runner.waitForEnd();
    EXPECT_EQ(int(cut.outcome), int(Outcome::Stopped));
    // Whatever was taken in is whole: every kept item names a row that exists.
    EXPECT_EQ(rows(sConnContacts, "select count(*) from sync_items i where i.local_id <> 0 and not exists "
                                  "(select 1 from contacts c where c.id = i.local_id)")[0][0], "0");
    const sync::Report r = sync();
    ASSERT_EQ(int(r.outcome), int(Outcome::Synced)) << r.detail.toStdString();
    EXPECT_EQ(listed(book).size(), 90);
    EXPECT_EQ(rows(sConnContacts, "select count(*), count(distinct uid) from contacts"), (std::vector<QStringList>{{"90", "90"}}));
    const sync::Report again = sync();
    EXPECT_EQ(again.sentOut + again.broughtIn, 0);
}

TEST_F(SyncServer, HostileValuesComeBackExactly)
{
    const QString quotes = QStringLiteral("O'Brien \"the \\ one\"; a,b");
    const QString emoji = QStringLiteral("Zoë 🦅 \u00e9\u0301");
    const QString lines = QStringLiteral("line one\nline two\n\n  indented ");
    QString longNotes;
    while (longNotes.size() < 10000)
        longNotes += QStringLiteral("Notes with ümlauts, 🦅, \"quotes\", 'apostrophes', semicolons; and\nbreaks. ");
    longNotes.truncate(10000);
    exec(sConnContacts, QStringLiteral("INSERT INTO contacts(lastname,firstname,company,address,city,email,contype) "
                                       "VALUES('%1','%2','%3','%4','%5','a@b','Lead')")
                            .arg(Quoted(quotes), Quoted(emoji), Quoted(lines), Quoted(longNotes.left(3000)), Quoted(emoji)));
    exec(sConnContacts, QStringLiteral("INSERT INTO appointments(name,address,apptdate,appttime,apptbrief,apptnotes) "
                                       "VALUES('%1','%2',#12/10/2026#,#9:30 AM#,'%3','%4')")
                            .arg(Quoted(quotes), Quoted(emoji), Quoted(lines.simplified()), Quoted(longNotes)));
    ASSERT_EQ(int(sync().outcome), int(Outcome::Synced));
    // A second Kestrel with empty files of its own brings them in.
    QTemporaryDir other;
    const QString otherContacts = QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=%1/contacts.mdb").arg(other.path());
    const sync::Report r = sync({}, otherContacts);
    ASSERT_EQ(int(r.outcome), int(Outcome::Synced)) << r.detail.toStdString();
    EXPECT_EQ(r.broughtIn, 2);
    const char* contact = "select lastname,firstname,company,address,city from contacts";
    const char* appt = "select name,address,apptbrief,apptnotes from appointments";
    EXPECT_EQ(rows(otherContacts, contact), rows(sConnContacts, contact));
    EXPECT_EQ(rows(otherContacts, appt), rows(sConnContacts, appt));
    EXPECT_EQ(rows(otherContacts, appt)[0][3], longNotes);
    // And nothing is sent back and forth afterwards.
    EXPECT_EQ(sync().sentOut, 0);
    EXPECT_EQ(sync({}, otherContacts).sentOut, 0);
}

TEST_F(SyncServer, AWrongPasswordIsRefusedAndSaidSo)
{
    const QString checked = davState("url-password");
    ASSERT_FALSE(checked.isEmpty());
    sync::Job j = job();
    j.server = QUrl(checked);
    j.user = QStringLiteral("ann");
    j.addressBook.clear();
    j.calendar.clear();
    j.chooseFirst = true;
    j.password = QStringLiteral("wrong");
    const sync::Report r = sync::SyncRunner::runToEnd(j);
    EXPECT_EQ(int(r.outcome), int(Outcome::Refused));
    EXPECT_EQ(sync::statusLine(r, QDateTime({2026, 12, 4}, {14, 14})), "Not synced: password refused");
}

// Contacts > Export vCard read by a real CardDAV server: the suite's Radicale takes every card the
// export writes, one per resource, as a phone's address book would be given them.
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
        v3 ? desk.answerYes() : desk.answerNo();
        ExportVCard(nullptr);
        QList<QByteArray> cards;
        for (const QByteArray& piece : readBytes(path).split('\n'))
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

// kestrel --sync as a timer or a script runs it: the real program, without a window, set up by
// the environment alone, against the suite's CardDAV/CalDAV server.
class SyncCommand : public SyncTest {
protected:
    struct Run {
        int code = -1;
        QString out, err;
    };
    // The program copied into the test's program folder, so that its data is the test's own.
    Run kestrelSync(const QString& url)
    {
        const QString exe = dir.filePath(QStringLiteral("kestrel"));
        if (!QFile::exists(exe)) {
            EXPECT_TRUE(QFile::copy(QStringLiteral(KESTREL_EXE), exe));
        }
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), dir.path());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
        // No desktop session: no keyring to ask.
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("unix:path=/nonexistent"));
        env.insert(QStringLiteral("KESTREL_SYNC_URL"), url);
        env.insert(QStringLiteral("KESTREL_SYNC_USER"), user);
        env.insert(QStringLiteral("KESTREL_SYNC_PASSWORD"), QString());
        if (onServer())
            env.insert(QLatin1String(kOfficeVariable), testServer() + QStringLiteral(" dbname=") + serverDb);
        else
            env.remove(QLatin1String(kOfficeVariable));
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(exe, {QStringLiteral("--sync")});
        EXPECT_TRUE(p.waitForFinished(120000));
        return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromUtf8(p.readAllStandardOutput()),
                QString::fromUtf8(p.readAllStandardError())};
    }
};

TEST_F(SyncCommand, OneSyncFromATimerThenAPlainMessageWhenTheServerIsGone)
{
    // The first address book and calendar the server has are taken (the test's own).
    addContact(QStringLiteral("Lee"), QStringLiteral("Ann"));
    phone({"put", book.path() + "phone-1.vcf", "FILE", "*"}, true,
          "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:phone-1\r\nFN:Bo Ng\r\nN:Ng;Bo;;;\r\nEND:VCARD\r\n");
    Run r = kestrelSync(server);
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.startsWith(QStringLiteral("Synced with "))) << r.out.toStdString();
    EXPECT_EQ(rows(sConnContacts, "select lastname,uid from contacts where lastname='Ng'"),
              (std::vector<QStringList>{{"Ng", "phone-1"}}));
    EXPECT_EQ(listed(book).size(), 2);

    // Again from the timer: nothing had changed.
    r = kestrelSync(server);
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("nothing had changed"))) << r.out.toStdString();

    // A server that is not there: a plain message, not 0, nothing lost.
    QTcpServer closed;
    closed.listen(QHostAddress::LocalHost, 0);
    const QString gone = QStringLiteral("http://127.0.0.1:%1/").arg(closed.serverPort());
    closed.close();
    r = kestrelSync(gone);
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.startsWith(QStringLiteral("Not synced: Kestrel could not reach the sync server"))) << r.err.toStdString();
    EXPECT_FALSE(r.err.contains(QStringLiteral("report"), Qt::CaseInsensitive)) << r.err.toStdString();
    EXPECT_EQ(rows(sConnContacts, "select count(*) from contacts")[0][0], "2");
}

} // namespace
} // namespace kestrel::test
