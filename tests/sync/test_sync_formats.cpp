// What the sync writes to a server and reads from it: contacts' uids, kept from imported cards and
// given to older files; a card or an event changed in the fields Kestrel changed only; the merge.
#include "tests/support/Fixture.h"
#include "tests/support/PrintQString.h"

#include "data/ContactUid.h"
#include "data/Database.h"
#include "data/Globals.h"
#include "data/modData.h"
#include "exchange/modExchange.h"
#include "exchange/modImport.h"
#include "formats/EventResource.h"
#include "formats/VCardPatch.h"
#include "sync/SyncEngine.h"

#include <QDir>

namespace kestrel::test {
namespace {

class ContactUids : public KestrelTest {};

TEST_F(ContactUids, ImportedCardsKeepTheirUidUnlessItIsTaken)
{
    const QByteArray file = "BEGIN:VCARD\r\nVERSION:4.0\r\nUID:urn:uuid:card-1\r\nN:Lee;Ann;;;\r\nEND:VCARD\r\n"
                            "BEGIN:VCARD\r\nVERSION:4.0\r\nUID:urn:uuid:card-1\r\nN:Ng;Bo;;;\r\nEND:VCARD\r\n"
                            "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Cole;Cy;;;\r\nEND:VCARD\r\n";
    ASSERT_TRUE(LoadRecordsToTemp(vCardRecords(file), kVCardSources));
    ASSERT_TRUE(ImportTempRows(QStringLiteral("Lead"), false));
    const auto got = rows(sConnContacts, "select lastname,uid from contacts order by id");
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0][1], "urn:uuid:card-1");
    EXPECT_NE(got[1][1], "urn:uuid:card-1"); // a second card with the same UID is another contact
    EXPECT_EQ(got[2][1].size(), 36);
    EXPECT_EQ(rows(sConnContacts, "select count(distinct uid) from contacts")[0][0], "3");
}

TEST_F(ContactUids, AFileFromBeforeUidsGetsThemAtStart)
{
    if (onServer())
        GTEST_SKIP() << "the office server's schema step gives them (checked by every server run)";
    // contacts.mdb as an earlier Kestrel made it: no uid column.
    releaseAllDatabaseFiles();
    QDir(dir.path()).mkpath(QStringLiteral("data"));
    QString old = QString::fromUtf8(kContactsSchema);
    old = old.left(old.indexOf(QStringLiteral("CREATE UNIQUE INDEX")));
    old.replace(QStringLiteral(",\n  uid TEXT"), QString());
    createDatabaseFile(dataPath(QStringLiteral("contacts.mdb")), old, true);
    exec(sConnContacts, "INSERT into contacts(lastname,firstname)values('Old','One')");
    exec(sConnContacts, "INSERT into contacts(lastname,firstname)values('Old','Two')");
    CheckDataFiles(); // (kestrel.mdb is made beside it, and named)
    const auto uids = rows(sConnContacts, "select uid from contacts where uid is not null");
    ASSERT_EQ(uids.size(), 2u);
    EXPECT_NE(uids[0][0], uids[1][0]);
    // And new rows get theirs too.
    addContact(QStringLiteral("New"), QStringLiteral("Three"));
    EXPECT_EQ(rows(sConnContacts, "select count(*) from contacts where uid is null")[0][0], "0");
}

TEST(CardPatch, OnlyTheFieldsChangedHereAreWrittenAnew)
{
    const QByteArray phone =
        "BEGIN:VCARD\r\nVERSION:3.0\r\nPRODID:-//Phone//EN\r\nUID:phone-uid\r\nFN:Dr. Ann Lee\r\nN:Lee;Ann;;;\r\n"
        "TEL;TYPE=CELL:555-0001\r\nTEL;TYPE=CELL:555-0002\r\nPHOTO;ENCODING=b;TYPE=JPEG:AAAA\r\n"
        "CATEGORIES:Friends,Cust\r\nX-PHONE-ONLY:keep me\r\nEMAIL:ann@example.com\r\nEND:VCARD\r\n";
    ContactRecord r = readVCards(phone).front();
    EXPECT_EQ(r.contype, "Cust");
    r.cellph = QStringLiteral("555-9999");
    r.contype = QStringLiteral("Lead");
    const QByteArray patched = patchVCard(phone, r, {"cellph", "contype"});
    for (const char* kept : {"PRODID:-//Phone//EN\r\n", "UID:phone-uid\r\n", "FN:Dr. Ann Lee\r\n", "TEL;TYPE=CELL:555-0002\r\n",
                             "PHOTO;ENCODING=b;TYPE=JPEG:AAAA\r\n", "X-PHONE-ONLY:keep me\r\n", "EMAIL:ann@example.com\r\n"})
        EXPECT_TRUE(patched.contains(kept)) << kept << "\n" << patched.constData();
    EXPECT_FALSE(patched.contains("555-0001"));
    EXPECT_TRUE(patched.contains("TEL;TYPE=CELL:555-9999\r\n")) << patched.constData();
    EXPECT_TRUE(patched.contains("CATEGORIES:Lead,Friends\r\n")) << patched.constData();
    // The new number stands where the old one stood, ahead of the second.
    EXPECT_LT(patched.indexOf("555-9999"), patched.indexOf("555-0002"));
    EXPECT_TRUE(patched.startsWith("BEGIN:VCARD\r\nVERSION:3.0\r\n"));
    EXPECT_TRUE(patched.endsWith("END:VCARD\r\n"));
    const ContactRecord back = readVCards(patched).front();
    EXPECT_EQ(back.cellph, "555-9999");
    EXPECT_EQ(back.contype, "Lead");
    EXPECT_EQ(back.uid, "phone-uid");
    // A new name: the formatted name follows it.
    r.lastname = QStringLiteral("Ng");
    EXPECT_TRUE(patchVCard(phone, r, {"lastname"}).contains("FN:Ann Ng\r\n"));
}

TEST(CardPatch, NotesJoinedFromSeveralLinesComeBackOnceWhenEditedHere)
{
    // Two NOTE lines are shown as one text; edited here, that text replaces both, and a department
    // kept in the notes stays in the ORG line it came from.
    const QByteArray phone =
        "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:n2\r\nFN:Bo Ng\r\nN:Ng;Bo;;;\r\nNOTE:Met at the fair\r\n"
        "ORG:Consolidated Amalgamated Holdings of the Northern Territories Incorporated;Regional Procurement Office\r\n"
        "TEL;TYPE=CELL:555-0001\r\nNOTE:Allergic to cats\r\nEND:VCARD\r\n";
    ContactRecord r = readVCards(phone).front();
    ASSERT_EQ(r.notes, "Met at the fair\n\nAllergic to cats\nDepartment: Regional Procurement Office");
    r.notes.replace(QStringLiteral("cats"), QStringLiteral("cats and dogs"));
    const QByteArray patched = patchVCard(phone, r, {"notes"});
    EXPECT_EQ(readVCards(patched).front().notes, r.notes) << patched.constData();
    EXPECT_EQ(patched.count("NOTE:"), 1) << patched.constData();
    EXPECT_TRUE(patched.contains("Regional Procurement Office\r\nTEL;TYPE=CELL:555-0001\r\nEND:VCARD")) << patched.constData();
    // Emptied here, the notes are gone from the card, every line of them.
    r.notes.clear();
    const QByteArray emptied = patchVCard(phone, r, {"notes"});
    EXPECT_EQ(emptied.count("NOTE"), 0) << emptied.constData();
}

TEST(EventPatch, ARenameKeepsTheEventsTimesAndRules)
{
    const QTimeZone ny("America/New_York");
    const QByteArray phone =
        "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Phone//EN\r\nBEGIN:VEVENT\r\nUID:ev-1\r\nDTSTAMP:20261201T000000Z\r\n"
        "DTSTART:20261211T151500Z\r\nDTEND:20261211T163000Z\r\nSUMMARY:Lunch\r\nX-PHONE:keep\r\nSEQUENCE:2\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n";
    EventResource e = readEventResource(phone, ny);
    ASSERT_TRUE(e.usable);
    EXPECT_EQ(e.appt.time, QTime(10, 30)); // 10:15 in New York, on the half hour
    e.appt.brief = QStringLiteral("Lunch with Bo");
    const QDateTime stamp({2026, 12, 4}, {9, 0}, Qt::UTC);
    const QByteArray renamed = patchEventResource(phone, e.appt, {}, {"apptbrief"}, ny, stamp);
    EXPECT_TRUE(renamed.contains("DTSTART:20261211T151500Z")) << renamed.constData();
    EXPECT_TRUE(renamed.contains("DTEND:20261211T163000Z"));
    EXPECT_TRUE(renamed.contains("SUMMARY:Lunch with Bo"));
    EXPECT_TRUE(renamed.contains("X-PHONE:keep"));
    EXPECT_TRUE(renamed.contains("SEQUENCE:3"));
    // Made weekly here, a day left out and one moved: the rule, the day and the moved day's own
    // event go into the same resource, in New York's clock, and the phone's own lines stay.
    e.appt.rrule = QStringLiteral("FREQ=WEEKLY;COUNT=4");
    e.appt.exdates = {QDate(2026, 12, 18), QDate(2026, 12, 25)};
    AppointmentRecord moved = e.appt;
    moved.recurrenceDate = QDate(2026, 12, 18);
    moved.date = QDate(2026, 12, 19);
    moved.endDate = moved.date;
    moved.brief = QStringLiteral("Lunch, Saturday");
    const QByteArray weekly = patchEventResource(phone, e.appt, {moved}, {"rrule", "exdates", "overrides"}, ny, stamp);
    EXPECT_TRUE(weekly.contains("X-PHONE:keep")) << weekly.constData();
    EXPECT_TRUE(weekly.contains("DTSTART;TZID=America/New_York:20261211T103000")) << weekly.constData();
    EXPECT_TRUE(weekly.contains("EXDATE;TZID=America/New_York:20261225T103000")) << weekly.constData();
    EXPECT_FALSE(weekly.contains("EXDATE;TZID=America/New_York:20261218T103000")) << weekly.constData();
    EXPECT_TRUE(weekly.contains("RECURRENCE-ID;TZID=America/New_York:20261218T103000")) << weekly.constData();
    const EventResource back = readEventResource(weekly, ny);
    ASSERT_TRUE(back.usable) << back.why.toStdString();
    EXPECT_EQ(back.appt.rrule, e.appt.rrule);
    EXPECT_EQ(back.appt.exdates, std::vector<QDate>{QDate(2026, 12, 25)});
    ASSERT_EQ(back.days.size(), 1u);
    EXPECT_EQ(back.days[0].recurrenceDate, QDate(2026, 12, 18));
    EXPECT_EQ(back.days[0].date, QDate(2026, 12, 19));
    EXPECT_EQ(back.days[0].brief, "Lunch, Saturday");
    // Cancelled on the phone, it is still the appointment, marked so; a rule Kestrel cannot
    // follow keeps it out.
    QByteArray cancelled = phone;
    cancelled.replace("SUMMARY:Lunch", "SUMMARY:Lunch\r\nSTATUS:CANCELLED");
    EXPECT_TRUE(readEventResource(cancelled, ny).appt.cancelled);
    QByteArray hourly = phone;
    hourly.replace("SUMMARY:Lunch", "SUMMARY:Lunch\r\nRRULE:FREQ=HOURLY");
    EXPECT_FALSE(readEventResource(hourly, ny).usable);
}

TEST(Merge, EachFieldFromTheSideThatChangedIt)
{
    const QStringList base{"Lee", "Ann", "Boston", "a@x"};
    // Here changed the city, there the e-mail address; both changed the first name alike.
    const sync::Merged m = sync::mergeFields(base, {"Lee", "Anne", "Salem", "a@x"}, base, {"Lee", "Anne", "Boston", "b@x"},
                                             {"Lee", "Anne", "Salem", "a@x"});
    EXPECT_EQ(m.values, (QStringList{"Lee", "Anne", "Salem", "b@x"}));
    EXPECT_EQ(m.takenThere, (QList<int>{3}));
    EXPECT_EQ(m.sendHere, (QList<int>{2}));
    EXPECT_TRUE(m.conflicts.isEmpty());
    // The same field to different values: asked, and here kept meanwhile.
    const sync::Merged c = sync::mergeFields(base, {"Lee", "Ann", "Salem", "a@x"}, base, {"Lee", "Ann", "Cambridge", "a@x"},
                                             {"Lee", "Ann", "Salem", "a@x"});
    EXPECT_EQ(c.conflicts, (QList<int>{2}));
    EXPECT_EQ(c.values[2], "Salem");
    // Two items met without a past: what one lacks it takes, a difference is asked.
    const sync::Merged met = sync::mergeFields({}, {"Lee", "", "Salem", "a@x"}, {}, {"Lee", "Ann", "", "b@x"},
                                               {"Lee", "", "Salem", "a@x"});
    EXPECT_EQ(met.takenThere, (QList<int>{1}));
    EXPECT_EQ(met.sendHere, (QList<int>{2}));
    EXPECT_EQ(met.conflicts, (QList<int>{3}));
}

} // namespace
} // namespace kestrel::test
