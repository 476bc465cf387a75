// Listings and lead forms printed to PDF through the print dialog, read back page by page.
#include "printing/frmPrint.h"
#include "tests/printing/PdfCheck.h"
#include "tests/support/Fixture.h"

#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QTextDocument>
#include <QTextEdit>

using namespace kestrel;
using namespace kestrel::test;

namespace {

constexpr double kInch = 72.0; // points

// The main window's three lists, as printing finds them: by name in a window.
class PrintTest : public KestrelTest {
protected:
    void SetUp() override
    {
        KestrelTest::SetUp();
        window = std::make_unique<QWidget>();
        for (const char* name : {"lstWeek", "lstCal", "lstToDo"}) {
            auto* list = new QListWidget(window.get());
            list->setObjectName(QString::fromLatin1(name));
        }
    }
    void TearDown() override
    {
        window.reset();
        KestrelTest::TearDown();
    }
    QListWidget* list(const char* name) { return window->findChild<QListWidget*>(QString::fromLatin1(name)); }
    void fill(const char* name, const QStringList& lines)
    {
        list(name)->clear();
        list(name)->addItems(lines);
    }
    QString pdf(const QString& name) const { return dir.path() + u'/' + name; }
    void installTemplate(const QByteArray& rtf)
    {
        QDir(dir.path()).mkpath(QStringLiteral("Templates"));
        QFile f(leadFormPath());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(rtf);
    }
    static QByteArray shippedTemplate()
    {
        QFile f(QStringLiteral(KESTREL_SOURCE_DIR "/resources/Templates/lead.rtf"));
        EXPECT_TRUE(f.open(QIODevice::ReadOnly));
        return f.readAll();
    }

    std::unique_ptr<QWidget> window;
};

// Every word of a page lies within one-inch margins of the paper.
void expectWithinMargins(const PdfPage& page, int pageNo)
{
    ASSERT_FALSE(page.words.empty()) << "page " << pageNo << " is blank";
    double left = 1e9, top = 1e9, right = 0, bottom = 0;
    for (const PdfWord& w : page.words) {
        left = std::min(left, w.xMin);
        top = std::min(top, w.yMin);
        right = std::max(right, w.xMax);
        bottom = std::max(bottom, w.yMax);
    }
    EXPECT_GE(left, kInch - 0.5) << "page " << pageNo;
    EXPECT_GE(top, kInch - 0.5) << "page " << pageNo;
    EXPECT_LE(right, page.width - kInch + 0.5) << "page " << pageNo;
    EXPECT_LE(bottom, page.height - kInch + 0.5) << "page " << pageNo;
}

} // namespace

TEST_F(PrintTest, LongListingContinuesOnFurtherPagesWithTheSameMargins)
{
    QStringList lines;
    for (int i = 1; i <= 150; ++i)
        lines << QStringLiteral("Item %1 of the to-do list").arg(i, 3, 10, QLatin1Char('0'));
    fill("lstToDo", lines);
    EXPECT_EQ(ListingText(*list("lstToDo")), lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n"));
    desk.answerPrint(pdf(QStringLiteral("todo.pdf")));
    PrintList(QStringLiteral("todo"));

    const auto pages = readPdf(pdf(QStringLiteral("todo.pdf")));
    ASSERT_GE(pages.size(), 3u);
    EXPECT_EQ(int(pages.size()), printForm().lastPages);
    // Every line exactly once, in order, no line cut between pages or printed twice.
    QStringList printed;
    for (size_t p = 0; p < pages.size(); ++p) {
        expectWithinMargins(pages[p], int(p + 1));
        printed += pages[p].lines();
        // Each full page starts at the top margin, not where the last one left off.
        EXPECT_NEAR(pages[p].words.front().yMin, pages[0].words.front().yMin, 0.5) << "page " << p + 1;
    }
    EXPECT_EQ(printed, lines);
    // A full page is full: the first page holds as many lines as the second.
    EXPECT_EQ(pages[0].lines().size(), pages[1].lines().size());
    EXPECT_GT(pages[0].lines().size(), 35);
    // Plain text in Times New Roman 12 point: one line is about 12 points high.
    EXPECT_NEAR(pages[0].words.front().yMax - pages[0].words.front().yMin, 12.0, 2.5);
}

TEST_F(PrintTest, CancellingThePrintDialogPrintsNothing)
{
    fill("lstToDo", {QStringLiteral("Something")});
    installTemplate(shippedTemplate());
    desk.answerPrint(QString());
    PrintList(QStringLiteral("todo"));
    desk.answerPrint(QString());
    PrintBlankForm();
    EXPECT_EQ(printForm().lastPages, 0);
    EXPECT_EQ(desk.prompts.size(), 2u);
    EXPECT_TRUE(desk.messages().isEmpty());
    EXPECT_TRUE(QDir(dir.path()).entryList({QStringLiteral("*.pdf")}).isEmpty());
}

TEST_F(PrintTest, BlankLeadFormPrintsTheTemplateOnOnePage)
{
    installTemplate(shippedTemplate());
    desk.answerPrint(pdf(QStringLiteral("lead.pdf")));
    PrintBlankForm();
    const auto pages = readPdf(pdf(QStringLiteral("lead.pdf")));
    ASSERT_EQ(pages.size(), 1u);
    expectWithinMargins(pages[0], 1);
    const QString text = pages[0].lines().join(u'\n');
    for (const char* label : {"Kestrel Lead Form", "First name:", "Company:", "E-mail:", "Lead", "Customer", "Personal", "Notes"})
        EXPECT_TRUE(text.contains(QLatin1String(label))) << label;
    // The title is centred on the page.
    const PdfWord& title = pages[0].words.front();
    EXPECT_EQ(title.text, QStringLiteral("Kestrel"));
    const double centre = (pages[0].width) / 2;
    double titleRight = 0;
    for (const PdfWord& w : pages[0].words)
        if (std::abs(w.yMax - title.yMax) < 1)
            titleRight = std::max(titleRight, w.xMax);
    EXPECT_NEAR((title.xMin + titleRight) / 2, centre, 3.0);
}

TEST_F(PrintTest, TwoPageLeadFormPrintsTwoPages)
{
    installTemplate(R"({\rtf1\ansi\deff0{\fonttbl{\f0\fswiss Arial;}}\f0\fs24 Page one heading\par Name:\par\page Page two notes\par})");
    desk.answerPrint(pdf(QStringLiteral("two.pdf")));
    PrintBlankForm();
    const auto pages = readPdf(pdf(QStringLiteral("two.pdf")));
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_EQ(pages[0].lines(), (QStringList{QStringLiteral("Page one heading"), QStringLiteral("Name:")}));
    EXPECT_EQ(pages[1].lines(), QStringList{QStringLiteral("Page two notes")});
    expectWithinMargins(pages[1], 2);
}

TEST_F(PrintTest, IndentsAndSpacingOfTheTemplateKeepTheirSizeOnPaper)
{
    // One inch of indent and of space before a paragraph are an inch on paper too.
    installTemplate(R"({\rtf1\ansi\f0\fs24 Top\par\pard\li1440 Indented\par\pard\sb1440 Spaced\par})");
    desk.answerPrint(pdf(QStringLiteral("indent.pdf")));
    PrintBlankForm();
    const auto pages = readPdf(pdf(QStringLiteral("indent.pdf")));
    ASSERT_EQ(pages.size(), 1u);
    ASSERT_EQ(pages[0].words.size(), 3u);
    EXPECT_NEAR(pages[0].words[0].xMin, kInch, 0.6);
    EXPECT_NEAR(pages[0].words[1].xMin, 2 * kInch, 0.6);
    EXPECT_NEAR(pages[0].words[2].yMin - pages[0].words[1].yMin, kInch + (pages[0].words[1].yMin - pages[0].words[0].yMin), 1.0);
}

TEST_F(PrintTest, MissingOrUnreadableTemplateIsNamedAndNothingPrinted)
{
    PrintBlankForm();
    ASSERT_EQ(desk.messages().size(), 1);
    EXPECT_TRUE(desk.messages()[0].contains(QDir::toNativeSeparators(leadFormPath()))) << desk.messages()[0].toStdString();
    EXPECT_TRUE(desk.messages()[0].contains(QLatin1String("does not exist")));

    installTemplate("This is not a rich-text file.");
    PrintBlankForm();
    ASSERT_EQ(desk.messages().size(), 2);
    EXPECT_TRUE(desk.messages()[1].contains(QLatin1String("not a rich-text file")));
    EXPECT_EQ(printForm().lastPages, 0);
    // No print dialog was shown for either.
    EXPECT_EQ(desk.prompts.size(), 2u);
}

TEST_F(PrintTest, MarginsAreMeasuredFromThePaperEdgeWhateverThePrintableArea)
{
    QTextDocument doc;
    doc.setDefaultFont(QFont(QStringLiteral("Times New Roman"), 12));
    doc.setPlainText(QStringLiteral("First line\nSecond line"));
    for (double offset : {0.0, 18.0, 54.0}) {
        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        const QString file = pdf(QStringLiteral("offset%1.pdf").arg(offset));
        printer.setOutputFileName(file);
        printer.setPageSize(QPageSize(QPageSize::Letter));
        printer.setPageMargins(QMarginsF(offset, offset, offset, offset), QPageLayout::Point);
        EXPECT_EQ(PrintRichText(doc, printer, 1440, 1440, 1440, 1440), 1);
        const auto pages = readPdf(file);
        ASSERT_EQ(pages.size(), 1u);
        EXPECT_NEAR(pages[0].words.front().xMin, kInch, 0.6) << offset;
        EXPECT_NEAR(pages[0].words.front().yMin, kInch, 4.0) << offset;
    }
    // Two-inch margins: the text moves in with them.
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(pdf(QStringLiteral("wide.pdf")));
    EXPECT_EQ(PrintRichText(doc, printer, 2880, 2880, 1440, 1440), 1);
    const auto pages = readPdf(pdf(QStringLiteral("wide.pdf")));
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_NEAR(pages[0].words.front().xMin, 2 * kInch, 0.6);
}

TEST_F(PrintTest, APrinterWithoutAFileNameAsksAndOneThatCannotStartIsReported)
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
    EXPECT_TRUE(desk.messages().isEmpty());

    // Not pretended to: nothing printed, and the user is told where it failed.
    fill("lstToDo", {QStringLiteral("Lost line")});
    const QString nowhere = pdf(QStringLiteral("no/such/folder/out.pdf"));
    desk.answerPrint(nowhere);
    PrintList(QStringLiteral("todo"));
    EXPECT_EQ(printForm().lastPages, 0);
    ASSERT_EQ(desk.messages().size(), 1);
    EXPECT_TRUE(desk.messages()[0].contains(QDir::toNativeSeparators(nowhere)));
    EXPECT_FALSE(QFile::exists(nowhere));
}
