// The vCard and iCalendar commands of the Contacts and Appts menus.
#include "data/ExchangeStore.h"
#include "formats/VCard.h"
#include "exchange/frmICalRange.h"
#include "exchange/frmImport.h"
#include "exchange/modTempDB.h"
#include "tests/app/Helpers.h"
#include "tests/support/Files.h"

using kestrel::test::readBytes;
using kestrel::test::writeBytes;

TEST_F(MainWindowTest, VCardImportGoesThroughTheAssistantsPreviewAndKeepsOutWhatDoesNotFit)
{
    addContact("Lee", "Ann");
    exec(sConnContacts, "update contacts set email='ann@lee.example'");
    // A phone's 2.1 card, a hostile 3.0 card, a 4.0 card with a last name longer than its field,
    // and a 4.0 card of a contact already stored.
    const QByteArray tooLong = "BEGIN:VCARD\r\nVERSION:4.0\r\nFN:Hubert Wolfe\r\n"
                               "N:Wolfeschlegelsteinhausenbergerdorffwelchevoralternwarengewissenhaft;Hubert;;;\r\n"
                               "EMAIL:hubert@example.com\r\nEND:VCARD";
    const QByteArray file =
        "BEGIN:VCARD\r\nVERSION:2.1\r\nN;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:M=C3=BCller;J=C3=B6rg;;;\r\n"
        "TEL;WORK;VOICE:+49 30 1234567\r\nTEL;HOME;FAX:+49 30 7654321\r\n"
        "ADR;WORK;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:;;Hauptstra=C3=9Fe 1=0D=0A=\r\nHinterhaus;Berlin;;10115;\r\n"
        "END:VCARD\r\nBEGIN:VCARD\r\nVERSION:3.0\r\nN:O'Brien\\; \"the boss\"\\, Jr.;Zoë 😀;;;\r\nORG:Smith\\, Jones & Co.\r\n"
        "TEL;TYPE=WORK:555-987-6543 x12\r\nADR;TYPE=HOME:;;1 Main St;Springfield;IL;62701;\r\n"
        "ADR;TYPE=WORK:;;9 Work Rd;Salem;Oregon;97301;\r\nCATEGORIES:Personal\r\nEND:VCARD\r\n" +
        tooLong + "\r\nBEGIN:VCARD\r\nVERSION:4.0\r\nN:Lee;Ann;;;\r\nEMAIL:ANN@lee.example\r\nEND:VCARD\r\n";
    const QString path = writeBytes(dir.filePath("mixed.vcf"), file), kept = dir.filePath("kept.vcf");

    desk.answerOpenFile(path);
    desk.onModal("frmImport", [&](QDialog& d) {
        auto& im = static_cast<frmImport&>(d);
        EXPECT_EQ(leftTwips(im.fraImport), 120);
        EXPECT_FALSE(im.cmdBrowse->isEnabled() || im.cmdMap->isEnabled());
        const auto column = [&](int c) {
            QStringList out;
            for (int r = 0; r < im.dgTemp->model()->rowCount(); ++r)
                out << im.dgTemp->model()->index(r, c).data().toString();
            return out;
        };
        EXPECT_EQ(column(2), (QStringList{"Müller", "O'Brien; \"the boss\", Jr.", "Lee"}));
        EXPECT_EQ(column(13), (QStringList{"1", "9", "24"}));
        EXPECT_EQ(column(14), (QStringList{"fax number not kept: +49 30 7654321",
                                           "further address not kept: 1 Main St Springfield IL 62701; "
                                           "ST written as its two-letter code",
                                           "matches a stored contact"}));
        ASSERT_EQ(im.lstKept->count(), 1);
        EXPECT_EQ(im.lstKept->item(0)->text(), "Line 18: kept out, N (LastName) does not fit (67 characters, the field holds 50)");
        EXPECT_EQ(im.lblMessage->text(), "3 rows ready. 1 kept out. 1 value made to fit. 1 matches a stored contact.");
        desk.answerSaveFile(kept);
        QTest::mouseClick(im.cmdSaveKept, Qt::LeftButton);
        EXPECT_EQ(desk.prompts.back().extra, "vCard files (*.vcf)|*.vcf");
        // The type is chosen as for a CSV file (Down on the list moves from Lead to Cust), unless
        // a card names its own, as Kestrel's own export does.
        im.cboType->setFocus();
        QTest::keyClick(im.cboType, Qt::Key_Down);
        QTest::mouseClick(im.cmdImport, Qt::LeftButton);
    });
    // Alt+C opens the Contacts menu, D picks Import vCard.
    QTest::keyClick(w.get(), Qt::Key_C, Qt::AltModifier);
    ASSERT_TRUE(QTest::qWaitFor([&] { return w->mnuCon->isVisible(); }));
    QTest::keyClick(w->mnuCon, Qt::Key_D);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !desk.messages().isEmpty(); }));

    EXPECT_EQ(rows(sConnContacts, "select lastname,firstname,company,address,st,workph,ext,contype from contacts order by id"),
              (std::vector<QStringList>{
                  {"Lee", "Ann", "", "", "", "", "", "Lead"},
                  // The phone as the card writes it; the street on its two lines.
                  {"Müller", "Jörg", "", "Hauptstraße 1\nHinterhaus", "", "+49 30 1234567", "", "Cust"},
                  {"O'Brien; \"the boss\", Jr.", "Zoë 😀", "Smith, Jones & Co.", "9 Work Rd", "OR", "555-987-6543", "12", "Personal"}}));
    EXPECT_EQ(desk.messages().last(),
              "2 contacts were imported.\n1 value was made to fit its field.\n"
              "1 row was kept out because a value does not fit.\n1 row matching a stored contact was skipped.\n\n"
              "line 1 (Jörg Müller): fax number not kept: +49 30 7654321\n"
              "line 9 (Zoë 😀 O'Brien; \"the boss\", Jr.): further address not kept: 1 Main St Springfield IL 62701\n"
              "line 9 (Zoë 😀 O'Brien; \"the boss\", Jr.): ST written as its two-letter code\n"
              "line 18 (Hubert Wolfeschlegelsteinhausenbergerdorffwelchevoralternwarengewissenhaft): kept out, N "
              "(LastName) does not fit (67 characters, the field holds 50)\n"
              "line 24 (Ann Lee): skipped, the same person is already there");
    // The card kept out is saved exactly as the file held it, and reads back as that card.
    EXPECT_EQ(readBytes(kept), tooLong + "\r\n");
    const auto back = readVCards(readBytes(kept));
    ASSERT_EQ(back.size(), 1u);
    EXPECT_EQ(back[0].lastname + u'|' + back[0].email, "Wolfeschlegelsteinhausenbergerdorffwelchevoralternwarengewissenhaft|hubert@example.com");

    // While a CSV import holds the scratch file, the cards wait too.
    const int csvImport = 0;
    ASSERT_TRUE(acquireScratch(&csvImport));
    desk.answerOpenFile(path);
    w->mnuConImportVCard->trigger();
    releaseScratch(&csvImport);
    EXPECT_TRUE(desk.messages().last().startsWith("Another copy of Kestrel is importing contacts"));
    desk.verifyAllUsed();
}

TEST_F(MainWindowTest, ICalendarExportAndImportThroughTheApptsMenu)
{
    addAppt(desk.todayValue.addDays(3), {9, 30}, "Review");
    addAppt(desk.todayValue.addYears(2), {9, 30}, "Too far ahead");
    const QString out = dir.filePath("appts.ics");
    desk.onModal("frmICalRange", [&](QDialog& d) {
        auto& f = static_cast<frmICalRange&>(d);
        EXPECT_EQ(f.windowTitle(), "Export iCalendar");
        EXPECT_EQ(f.toDate(), desk.todayValue.addYears(1));
        QTest::mouseClick(f.cmdExport, Qt::LeftButton);
    });
    desk.answerSaveFile(out);
    w->mnuApptsExportICal->trigger();
    EXPECT_EQ(readBytes(out).count("BEGIN:VEVENT"), 1);
    EXPECT_TRUE(desk.messages().last().startsWith("1 appointments from 12/4/2026 to 12/4/2027 were written"));

    desk.answerOpenFile(out);
    w->mnuApptsImportICal->trigger();
    EXPECT_EQ(desk.messages().last(), "0 appointments were added and 1 updated.");
    EXPECT_EQ(rows(sConnContacts, "select count(*) from appointments")[0][0], "2");

    // A range that ends before it starts is refused and the window stays for a correction.
    desk.onModal("frmICalRange", [&](QDialog& d) {
        auto& f = static_cast<frmICalRange&>(d);
        f.activateWindow();
        f.dtpTo->setFocus(Qt::TabFocusReason);
        QTest::keyClicks(f.dtpTo, "12/4/2025");
        EXPECT_EQ(f.toDate(), desk.todayValue.addYears(-1));
        QTest::mouseClick(f.cmdExport, Qt::LeftButton);
        EXPECT_TRUE(f.isVisible());
        EXPECT_EQ(desk.messages().last(), "The first day must not come after the last day.");
        QTest::mouseClick(f.cmdCancel, Qt::LeftButton);
    });
    w->mnuApptsExportICal->trigger();

    // A folder that does not exist: plain words, nothing else.
    desk.onModal("frmICalRange", [&](QDialog& d) { QTest::mouseClick(static_cast<frmICalRange&>(d).cmdExport, Qt::LeftButton); });
    desk.answerSaveFile(dir.filePath("no such folder/appts.ics"));
    w->mnuApptsExportICal->trigger();
    EXPECT_TRUE(desk.messages().last().contains("could not be written")) << desk.messages().last().toStdString();
    desk.verifyAllUsed();
}

TEST_F(MainWindowTest, CancelledEventsTakeTheirAppointmentsAwayAndAreNeverExportedAsActive)
{
    const auto write = [&](const char* name, const QByteArray& body) {
        return writeBytes(dir.filePath(name), "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Test//EN\r\n" + body + "END:VCALENDAR\r\n");
    };
    const auto event = [](const char* uid, const char* start, const char* summary, const QByteArray& more = {}) {
        return "BEGIN:VEVENT\r\nUID:" + QByteArray(uid) + "\r\nDTSTAMP:20261204T080000Z\r\nDTSTART:" + start +
               "\r\nSUMMARY:" + summary + "\r\n" + more + "END:VEVENT\r\n";
    };
    const auto count = [&] { return rows(sConnContacts, "select count(*) from appointments")[0][0]; };
    const int review = addAppt(desk.todayValue.addDays(3), {9, 30}, "Review");

    desk.answerOpenFile(write("invite.ics", event("standup@x", "20261207T150000Z", "Standup") +
                                                event("series@x", "20261208T150000Z", "Weekly", "RRULE:FREQ=WEEKLY;COUNT=3\r\n") +
                                                event("gone@x", "20261209T150000Z", "Called off", "STATUS:CANCELLED\r\n")));
    w->mnuApptsImportICal->trigger();
    EXPECT_TRUE(desk.messages().last().startsWith("2 appointments were added and 0 updated.\r\n1 cancelled events were not "
                                                  "imported; 0 appointments they cancel were marked cancelled.\r\n1 repeating "
                                                  "events came in as series, each kept once with how it repeats.\r\n\r\n"))
        << desk.messages().last().toStdString();
    EXPECT_EQ(count(), "3");

    // One occurrence of the series is cancelled (its day a row of the series, marked cancelled),
    // and the whole of a file sent with METHOD:CANCEL.
    desk.answerOpenFile(write("occurrence.ics", event("series@x", "20261215T150000Z", "Weekly",
                                                      "RECURRENCE-ID:20261215T150000Z\r\nSTATUS:CANCELLED\r\n")));
    w->mnuApptsImportICal->trigger();
    EXPECT_TRUE(desk.messages().last().startsWith("0 appointments were added and 0 updated.\r\n1 cancelled events were not "
                                                  "imported; 1 appointments they cancel were marked cancelled.\r\n\r\n"))
        << desk.messages().last().toStdString();
    EXPECT_EQ(rows(sConnContacts, "select apptbrief,cancelled from appointments where series_id is not null"),
              std::vector<QStringList>({{"Weekly", "True"}}));

    // Kestrel's own export of Review, cancelled by the program it was sent to.
    const QString out = dir.filePath("appts.ics");
    desk.onModal("frmICalRange", [&](QDialog& d) { QTest::mouseClick(static_cast<frmICalRange&>(d).cmdExport, Qt::LeftButton); });
    desk.answerSaveFile(out);
    w->mnuApptsExportICal->trigger();
    const QByteArray exported = readBytes(out);
    const QByteArray reviewUid = appointmentUid(databaseIdentity(sConnContacts), review).toUtf8();
    ASSERT_TRUE(exported.contains("UID:" + reviewUid));
    desk.answerOpenFile(write("cancel.ics", "METHOD:CANCEL\r\n" + event("standup@x", "20261207T150000Z", "Standup") +
                                                event(reviewUid.constData(), "20261207T150000Z", "Review") +
                                                event("never@x", "20261210T150000Z", "Never seen")));
    w->mnuApptsImportICal->trigger();
    EXPECT_EQ(desk.messages().last(), "0 appointments were added and 0 updated.\r\n3 cancelled events were not imported; "
                                      "2 appointments they cancel were marked cancelled.");
    EXPECT_EQ(rows(sConnContacts, "select apptbrief from appointments where cancelled=False order by apptdate"),
              std::vector<QStringList>({{"Weekly"}}));
    EXPECT_EQ(count(), "4");

    // What is exported now is the series still on and the three cancelled, its day among them,
    // as Python's icalendar reads the file.
    desk.onModal("frmICalRange", [&](QDialog& d) { QTest::mouseClick(static_cast<frmICalRange&>(d).cmdExport, Qt::LeftButton); });
    desk.answerSaveFile(out);
    w->mnuApptsExportICal->trigger();
    if (const auto read = kestrel::test::pythonReads("icalendar", QStringLiteral(
            "cal = icalendar.Calendar.from_ical(open(sys.argv[1], 'rb').read())\n"
            "print(cal.get('method', ''), *[str(e.get('summary')) + '/' + str(e.get('status', 'active')) for e in cal.walk('VEVENT')])"),
            out)) {
        QStringList got = read->join(u' ').split(u' ');
        got.sort();
        EXPECT_EQ(got, QStringList({"Review/CANCELLED", "Standup/CANCELLED", "Weekly/CANCELLED", "Weekly/active"}));
    }
    desk.verifyAllUsed();
}

TEST_F(MainWindowTest, ICalendarImportNamesTheEventsItLeftOutAndCountsOnlyWhatItAdded)
{
    const QString path = writeBytes(dir.filePath("far.ics"), "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Test//EN\r\n"
            "BEGIN:VEVENT\r\nUID:a\r\nDTSTART:00010101T100000Z\r\nSUMMARY:Year one\r\nEND:VEVENT\r\n"
            "BEGIN:VEVENT\r\nUID:b\r\nDTSTART:99991231T100000\r\nSUMMARY:Year 9999\r\nEND:VEVENT\r\n"
            "BEGIN:VEVENT\r\nUID:c\r\nDTSTART:20261210T100000\r\nSUMMARY:Review\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n");
    desk.answerOpenFile(path);
    w->mnuApptsImportICal->trigger();
    EXPECT_EQ(desk.messages().last(),
              "1 appointments were added and 0 updated.\r\n\r\n"
              "event 1 (Year one) on 1/1/1 lies outside the years 1900 to 2200 and was left out\r\n"
              "event 2 (Year 9999) on 12/31/9999 lies outside the years 1900 to 2200 and was left out\r\n"
              "12/10/2026 10:00 AM (Review): no organizer or attendee: name left empty");
    EXPECT_EQ(rows(sConnContacts, "select apptbrief from appointments"), std::vector<QStringList>{{"Review"}});
}
