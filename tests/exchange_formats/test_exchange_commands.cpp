// The vCard and iCalendar commands of the Contacts and Appts menus.
#include "exchange/ContactFit.h"
#include "exchange/ImportRules.h"
#include "exchange/VCard.h"
#include "exchange/frmICalRange.h"
#include "tests/app/Helpers.h"

namespace {

QByteArray fileBytes(const QString& path)
{
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << path.toStdString();
    return f.readAll();
}

} // namespace

TEST(ContactFit, ValuesAreMadeToFitOrLeftOutAndNamed)
{
    ContactRecord r;
    r.company = "Example Industries International";
    r.address = "1 Main St\nApt 4";
    r.st = "Nouveau-Brunswick";
    r.homeph = "+1 (555) 123-4567";
    r.cellph = "+44 20 7946 0958 1234";
    r.zip = "12345-67890";
    fitContact(r);
    EXPECT_EQ(QStringList({r.company, r.address, r.st, r.homeph, r.cellph, r.zip}),
              QStringList({"Example Industries Intern", "1 Main St, Apt 4", "NB", "+15551234567", "", ""}));
    EXPECT_EQ(r.problems.size(), 5) << r.problems.join('|').toStdString();
    for (const auto& [name, code] : std::vector<std::pair<QString, QString>>{
             {"new mexico", "NM"}, {"Québec", "QC"}, {"  Prince  Edward Island", "PE"}, {"Texas?", "TX"}, {"Atlantis", ""}})
        EXPECT_EQ(regionCode(name), code) << name.toStdString();

    std::vector<ContactRecord> incoming(4);
    incoming[0].firstname = "José", incoming[0].lastname = "Núñez", incoming[0].company = "ACME";
    incoming[1].firstname = "jose", incoming[1].lastname = "NUNEZ", incoming[1].company = "acme"; // same person
    incoming[2].lastname = "Other", incoming[2].email = "Ann@Example.com"; // same e-mail as a stored contact
    incoming[3].lastname = "Fresh";
    std::vector<ContactRecord> stored(1);
    stored[0].lastname = "Lee", stored[0].email = "ann@example.com";
    const auto skipped = removeDuplicates(incoming, stored);
    ASSERT_EQ(incoming.size(), 2u);
    EXPECT_EQ(incoming[0].lastname + incoming[1].lastname, "NúñezFresh");
    ASSERT_EQ(skipped.size(), 2u);
    EXPECT_TRUE(skipped[1].problems.join("").contains("e-mail"));
}

TEST_F(MainWindowTest, VCardExportAndImportThroughTheContactsMenu)
{
    addContact("O'Brien", "Siobhán", "Cust", "1 Main St");
    addContact("Lee", "Ann");
    const QString out = dir.filePath("contacts.vcf");
    desk.answerSaveFile(out);
    desk.answerYes(); // vCard 3.0
    w->mnuConExportVCard->trigger();
    const auto written = readVCards(fileBytes(out));
    ASSERT_EQ(written.size(), 2u);
    EXPECT_EQ(written[1].lastname + written[1].firstname + written[1].address, "O'BrienSiobhán1 Main St");
    EXPECT_TRUE(fileBytes(out).contains("VERSION:3.0\r\n"));
    EXPECT_EQ(desk.messages().last(), "2 contacts were written to " + QDir::toNativeSeparators(out) + ".");

    // The same people come back as duplicates; the phone's cards are added once.
    desk.answerOpenFile(out);
    w->mnuConImportVCard->trigger();
    EXPECT_TRUE(desk.messages().last().startsWith("0 contacts were imported, 2 skipped as already present."));
    desk.answerOpenFile(SAMPLES_DIR "/phone30.vcf");
    w->mnuConImportVCard->trigger();
    const QString summary = desk.messages().last();
    EXPECT_TRUE(summary.startsWith("3 contacts were imported, 0 skipped")) << summary.toStdString();
    EXPECT_TRUE(summary.contains("line 19 (Acme Supplies): state Oregon written as OR")) << summary.toStdString();
    EXPECT_EQ(rows(sConnContacts, "select company,st,workph,ext,contype from contacts where company='Acme Supplies'"),
              std::vector<QStringList>{QStringList({"Acme Supplies", "OR", "+15035550142", "7", "Contact"})});
    desk.answerOpenFile(SAMPLES_DIR "/phone30.vcf");
    w->mnuConImportVCard->trigger();
    EXPECT_TRUE(desk.messages().last().startsWith("0 contacts were imported, 3 skipped"));
    EXPECT_EQ(rows(sConnContacts, "select count(*) from contacts")[0][0], "5");
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
    EXPECT_EQ(fileBytes(out).count("BEGIN:VEVENT"), 1);
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
