// Listings and lead forms printed to PDF through the print dialog, read back page by page.
#include "printing/frmPrint.h"
#include "data/Globals.h"
#include "data/History.h"
#include "printing/LeadFormHistory.h"
#include "ui/Report.h"
#include "printing/PrintPage.h"
#include "ui/Ui.h"
#include "tests/printing/PdfCheck.h"
#include "tests/support/Files.h"
#include "tests/support/Fixture.h"

#include <QtWidgets>

using namespace kestrel;
using namespace kestrel::test;

namespace {

constexpr double kInch = 72.0; // points

class PrintTest : public KestrelTest {
protected:
    void SetUp() override
    {
        KestrelTest::SetUp();
        window = std::make_unique<QWidget>();
        todo = new QListWidget(window.get());
        SetPrintableList(QStringLiteral("todo"), todo);
    }
    void TearDown() override
    {
        window.reset();
        KestrelTest::TearDown();
    }
    QString pdf(const QString& name) const { return dir.path() + u'/' + name; }
    // The pages print() gave with the print dialog answered by the PDF file name.
    std::vector<PdfPage> printed(const QString& name, const std::function<void()>& print)
    {
        desk.answerPrint(pdf(name));
        print();
        return readPdf(pdf(name));
    }
    // The lead-form template: the one shipped, or the given text.
    void installTemplate(const QByteArray& rtf = {})
    {
        QDir(dir.path()).mkpath(QStringLiteral("Templates"));
        QFile::remove(leadFormPath());
        ASSERT_TRUE(!rtf.isEmpty() || QFile::copy(QStringLiteral(KESTREL_SOURCE_DIR "/resources/Templates/lead.rtf"), leadFormPath()));
        if (!rtf.isEmpty())
            writeBytes(leadFormPath(), rtf);
    }

    std::unique_ptr<QWidget> window;
    QListWidget* todo = nullptr;
};

// Every word of a page lies within one-inch margins of the paper.
void expectWithinMargins(const PdfPage& page, int pageNo)
{
    ASSERT_FALSE(page.words.empty()) << "page " << pageNo << " is blank";
    for (const PdfWord& w : page.words)
        EXPECT_TRUE(w.xMin >= kInch - 0.5 && w.yMin >= kInch - 0.5 && w.xMax <= page.width - kInch + 0.5 && w.yMax <= page.height - kInch + 0.5)
            << "page " << pageNo << ": " << w.text.toStdString();
}

} // namespace

TEST_F(PrintTest, LongListingContinuesOnFurtherPagesWithTheSameMargins)
{
    QStringList lines;
    for (int i = 1; i <= 150; ++i)
        lines << QStringLiteral("Item %1 of the to-do list").arg(i, 3, 10, QLatin1Char('0'));
    todo->addItems(lines);
    EXPECT_EQ(ListingText(*todo), lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n"));
    const auto pages = printed(QStringLiteral("todo.pdf"), [] { PrintList(QStringLiteral("todo")); });
    ASSERT_GE(pages.size(), 3u);
    EXPECT_EQ(int(pages.size()), printForm().lastPages);
    // Every line exactly once, in order; each page starts at the top margin and a full page is full.
    QStringList printed;
    for (size_t p = 0; p < pages.size(); ++p) {
        expectWithinMargins(pages[p], int(p + 1));
        printed += pages[p].lines();
        EXPECT_NEAR(pages[p].words.front().yMin, pages[0].words.front().yMin, 0.5) << "page " << p + 1;
    }
    EXPECT_EQ(printed, lines);
    EXPECT_EQ(pages[0].lines().size(), pages[1].lines().size());
    EXPECT_NEAR(pages[0].words.front().yMax - pages[0].words.front().yMin, 12.0, 2.5); // Times New Roman 12 point
}

TEST_F(PrintTest, BlankLeadFormPrintsTheTemplateOnOnePage)
{
    installTemplate();
    const auto pages = printed(QStringLiteral("lead.pdf"), [] { PrintBlankForm(); });
    ASSERT_EQ(pages.size(), 1u);
    expectWithinMargins(pages[0], 1);
    const QString text = pages[0].lines().join(u'\n');
    for (const char* label : {"Kestrel Lead Form", "First name:", "E-mail:", "Customer", "Notes", "Job title:", "Country:",
                              "Web site:", "Birthday:"})
        EXPECT_TRUE(text.contains(QLatin1String(label))) << label;
}

TEST_F(PrintTest, AListEntryIsPrintedOnOnePage)
{
    // Reminders as the list shows them: a day, a time, a name and a place per appointment, then
    // a separator. The page ends inside the tenth entry.
    QListWidget week(window.get());
    for (int id = 1; id <= 40; ++id) {
        for (int line = 1; line <= 4; ++line)
            addLine(&week, QStringLiteral("Entry %1 line %2").arg(id).arg(line), id);
        addLine(&week, QStringLiteral("* * *"), 0);
    }
    SetPrintableList(QStringLiteral("remind"), &week);
    EXPECT_EQ(ListingEntries(week).first(), QStringLiteral("Entry 1 line 1\nEntry 1 line 2\nEntry 1 line 3\nEntry 1 line 4"));
    const auto pages = printed(QStringLiteral("week.pdf"), [] { PrintList(QStringLiteral("remind")); });
    ASSERT_GE(pages.size(), 3u);
    QStringList printed;
    QHash<QString, int> pageOf;
    for (size_t p = 0; p < pages.size(); ++p) {
        expectWithinMargins(pages[p], int(p + 1));
        for (const QString& line : pages[p].lines()) {
            printed << line;
            const QString entry = line.section(u' ', 0, 1);
            if (line.startsWith(u"Entry") && pageOf.contains(entry)) {
                EXPECT_EQ(pageOf.value(entry), int(p)) << line.toStdString() << " is a page away from the rest of its entry";
            }
            pageOf.insert(entry, int(p));
        }
    }
    const QStringList listed = ListingText(week).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    EXPECT_EQ(printed.join(u'|').toStdString(), listed.join(u'|').toStdString());
}

TEST_F(PrintTest, WordProcessorsTemplatesPrintWithTheirHeadersFootersLogosAndRightToLeftText)
{
    const struct {
        const char* file;
        QStringList headers, footers; // of page 1 and page 2
        bool rtl;                     // with a right-to-left paragraph, a logo and an emoji
        const char* beforeEmoji;
        const char* afterEmoji;
    } cases[] = {
        {"libreoffice-leadform.rtf", {"Acme Sales Header", "Acme Sales Header"}, {"Footer: page 1 of 2", "Footer: page 2 of 2"},
         true, "back", "soon"},
        {"word-orderform.rtf", {"Acme Sales \u2013 first page", "Acme Sales \u2013 continued"}, {"Sheet 1 of 2", "Sheet 2"},
         true, "Thanks", "for"},
        {"word-order.rtf", {"Page header", "Page header"}, {}, false, nullptr, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        installTemplate(readBytes(QStringLiteral(KESTREL_SOURCE_DIR "/tests/printing/data/") + QLatin1String(c.file)));
        const QString out = pdf(QString::fromLatin1(c.file) + QStringLiteral(".pdf"));
        desk.answerPrint(out);
        PrintBlankForm();
        const auto pages = readPdf(out);
        ASSERT_EQ(pages.size(), 2u);
        for (size_t p = 0; p < pages.size(); ++p) {
            // Ligatures (the "fi" of a font) read as their letters.
            const QStringList lines = pages[p].lines().join(u'\n').normalized(QString::NormalizationForm_KC).split(u'\n');
            // The header in the top margin, from half an inch below the edge (its logo may stand
            // taller than its words); the footer in the bottom one, up to half an inch above it.
            EXPECT_EQ(lines.first(), c.headers[p]);
            EXPECT_TRUE(pages[p].words.front().yMin > 34 && pages[p].words.front().yMax < kInch) << pages[p].words.front().yMin;
            if (!c.footers.isEmpty()) {
                EXPECT_EQ(lines.last(), c.footers[p]);
                EXPECT_NEAR(pages[p].words.back().yMax, pages[p].height - 36.0, 4.0);
            }
            // The text within the page's margins.
            for (const PdfWord& w : pages[p].words)
                if (w.yMin > 72 && w.yMax < pages[p].height - 72) {
                    EXPECT_TRUE(w.xMin >= kInch - 0.5 && w.xMax <= pages[p].width - kInch + 0.5) << w.text.toStdString();
                }
        }
        if (!c.rtl)
            continue;
        // The logo: coloured pixels in the header of the first page.
        const QImage first = renderPdfPage(out, 1);
        EXPECT_GT(colouredPixels(first, QRectF(kInch, 30, pages[0].width - 2 * kInch, 26)), 100);
        // The right-to-left paragraph ends at the right margin (the reader of the PDF gives its
        // letters one by one).
        double rightmost = 0, leftmost = pages[0].width;
        for (const PdfWord& w : pages[0].words)
            if (w.text.front().unicode() >= 0x0590 && w.text.front().unicode() <= 0x05FF) {
                rightmost = std::max(rightmost, w.xMax);
                leftmost = std::min(leftmost, w.xMin);
            }
        EXPECT_NEAR(rightmost, pages[0].width - kInch, 1.0) << pages[0].lines().join(u'|').toStdString();
        EXPECT_GT(leftmost, pages[0].width / 2);
        // The emoji, in colour between the words around it.
        const auto word = [&](const char* text) {
            return *std::find_if(pages[0].words.begin(), pages[0].words.end(), [text](const PdfWord& w) { return w.text == QLatin1String(text); });
        };
        const PdfWord before = word(c.beforeEmoji), after = word(c.afterEmoji);
        const QRectF between(before.xMax, before.yMin - 2, after.xMin - before.xMax, before.yMax - before.yMin + 4);
        if (emojiFontInstalled())
            EXPECT_GT(colouredPixels(first, between), 10) << "no emoji printed";
        else
            std::printf("fonts-noto-color-emoji is not installed: the emoji was not checked\n");
    }
}

TEST_F(PrintTest, NothingPrintsWhenCancelledWithoutAReadableTemplateOrToAnUnwritableFileAndTheReasonIsNamed)
{
    PrintBlankForm();
    installTemplate("This is not a rich-text file.");
    PrintBlankForm();
    todo->addItem(QStringLiteral("Something"));
    installTemplate();
    desk.answerPrint(QString());
    PrintList(QStringLiteral("todo"));
    desk.answerPrint(QString());
    PrintBlankForm();
    EXPECT_EQ(printForm().lastPages, 0);
    const QString nowhere = pdf(QStringLiteral("no/such/folder/out.pdf")); // not pretended to: the user is told where
    desk.answerPrint(nowhere);
    PrintList(QStringLiteral("todo"));
    EXPECT_EQ(printForm().lastPages, 0);
    EXPECT_TRUE(QDir(dir.path()).entryList({QStringLiteral("*.pdf")}).isEmpty());
    const QStringList m = desk.messages();
    ASSERT_EQ(m.size(), 3);
    EXPECT_TRUE(m[0].contains(QDir::toNativeSeparators(leadFormPath())) && m[0].contains(QLatin1String("does not exist"))) << m[0].toStdString();
    EXPECT_TRUE(m[1].contains(QLatin1String("not a rich-text file"))) << m[1].toStdString();
    EXPECT_TRUE(m[2].contains(QDir::toNativeSeparators(nowhere))) << m[2].toStdString();
    EXPECT_EQ(desk.prompts.size(), 6u); // no print dialog for the first two
}

TEST_F(PrintTest, MarginsAreMeasuredFromThePaperEdgeWhateverThePrintableArea)
{
    QTextDocument doc;
    doc.setDefaultFont(QFont(QStringLiteral("Times New Roman"), 12));
    doc.setPlainText(QStringLiteral("First line\nSecond line"));
    // Printable areas from the edge to 3/4 inch in, then two-inch margins on the left and top.
    for (const auto& [offset, margin] : {std::pair(0.0, 1440), {18.0, 1440}, {54.0, 1440}, {0.0, 2880}}) {
        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        const QString file = pdf(QStringLiteral("offset%1-%2.pdf").arg(offset).arg(margin));
        printer.setOutputFileName(file);
        printer.setPageSize(QPageSize(QPageSize::Letter));
        printer.setPageMargins(QMarginsF(offset, offset, offset, offset), QPageLayout::Point);
        EXPECT_EQ(PrintRichText(doc, printer, margin, margin, 1440, 1440), 1);
        const PdfWord first = readPdf(file).at(0).words.at(0);
        EXPECT_NEAR(first.xMin, margin / 20.0, 0.6) << offset;
        EXPECT_NEAR(first.yMin, margin / 20.0, 4.0) << offset;
    }
}

TEST_F(PrintTest, APrinterWithoutAFileNameAsksForOne)
{
    QTextDocument doc;
    doc.setPlainText(QStringLiteral("Saved as PDF"));
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    desk.answerSaveFile(QString());
    EXPECT_EQ(PrintRichText(doc, printer, 1440, 1440, 1440, 1440), 0);
    desk.answerSaveFile(pdf(QStringLiteral("named.pdf")));
    EXPECT_EQ(PrintRichText(doc, printer, 1440, 1440, 1440, 1440), 1);
    EXPECT_EQ(readPdf(pdf(QStringLiteral("named.pdf"))).at(0).lines(), QStringList{QStringLiteral("Saved as PDF")});
}

TEST_F(PrintTest, ALeadFormWhoseTemplateAsksForTheHistoryCarriesTheShownContactsLatestEntries)
{
    installTemplate("{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}\\f0\\fs22 Kestrel Lead Form\\par Recent:\\par <<History 2>>\\par "
                    "Signed:\\par}");
    const int ann = addContact(QStringLiteral("Lee"), QStringLiteral("Ann"));
    const int bo = addContact(QStringLiteral("Baker"), QStringLiteral("Bo"));
    const QDateTime now(QDate(2027, 3, 14), QTime(15, 5));
    auto log = [&](int contact, int day, const char* kind, const char* subject, const char* note, const char* outcome) {
        const HistoryEntry e{.contactId = contact, .kind = kind, .date = QDate(2027, 3, day), .time = QTime(9, 0),
                             .subject = subject, .note = note, .outcome = outcome};
        ASSERT_TRUE(ActionQuery(HistoryInsertStatement(e, QStringLiteral("tester"), now), sConnContacts));
    };
    log(ann, 1, "Call", "Oldest", "", "No answer");
    log(ann, 14, "Call", "Price list", "Wants 20 units\r\nCall back\tMonday", "Left message");
    log(ann, 9, "Visit", "Showroom", "", "Done");
    log(bo, 20, "Note", "Not Ann's", "", "");

    auto pages = printed(QStringLiteral("ann.pdf"), [&] { PrintBlankForm(ann); });
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_EQ(pages[0].lines(),
              QStringList({"Kestrel Lead Form", "Recent:", "Ann Lee - Last contact: 3/14/2027 (Call, Left message)",
                           "3/14/2027 9:00 AM Call, Left message - Price list", "Wants 20 units", "Call back Monday",
                           "3/9/2027 9:00 AM Visit, Done - Showroom", "Signed:"}));

    // Printed with no contact shown, the place is left empty for the pen.
    pages = printed(QStringLiteral("blank.pdf"), [] { PrintBlankForm(); });
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_EQ(pages[0].lines(), QStringList({"Kestrel Lead Form", "Recent:", "Signed:"}));
    EXPECT_TRUE(desk.messages().isEmpty());
}

TEST_F(PrintTest, TheHistoryTokenAsksForFiveEntriesOrTheNumberGivenUpToFifty)
{
    QTextDocument form;
    form.setPlainText(QStringLiteral("No token here\n<<History>> and <<history 7>>\n<<History 900>>"));
    EXPECT_EQ(HistoryEntriesAsked(form), kMostPrintedEntries);
    form.setPlainText(QStringLiteral("<<History>>\n<<History 3>>"));
    EXPECT_EQ(HistoryEntriesAsked(form), 5);
    form.setPlainText(QStringLiteral("<<History>\n<History 3>>\n<<Historyx>>"));
    EXPECT_EQ(HistoryEntriesAsked(form), 0);
    // Each token gets its own number of entries; a contact with none is said to have none.
    form.setPlainText(QStringLiteral("<<History 1>>\n--\n<<History>>"));
    const std::vector<HistoryEntry> entries{{.kind = "Call", .date = {2027, 3, 2}, .subject = "<<History>> typed in a subject"},
                                            {.kind = "Note", .date = {2027, 3, 1}}};
    EXPECT_EQ(FillLeadHistory(form, QStringLiteral("Ann Lee"), entries), 2);
    EXPECT_EQ(form.toPlainText(), QStringLiteral("Ann Lee - Last contact: 3/2/2027 (Call)\n"
                                                 "3/2/2027  Call - <<History>> typed in a subject\n--\n"
                                                 "Ann Lee - Last contact: 3/2/2027 (Call)\n"
                                                 "3/2/2027  Call - <<History>> typed in a subject\n3/1/2027  Note"));
    form.setPlainText(QStringLiteral("<<History>>"));
    EXPECT_EQ(FillLeadHistory(form, QStringLiteral("Bo Baker"), {}), 1);
    EXPECT_EQ(form.toPlainText(), QStringLiteral("Bo Baker - Last contact: none"));
}
