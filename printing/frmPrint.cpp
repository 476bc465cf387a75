#include "printing/frmPrint.h"

#include "ui/Ui.h"
#include "data/Globals.h"
#include "platform/Platform.h"
#include "printing/LeadFormHistory.h"
#include "printing/PrintPage.h"
#include "printing/RtfReader.h"
#include "ui/Desktop.h"
#include "ui/Report.h"

#include <QAbstractTextDocumentLayout>
#include <QDir>
#include <QHash>
#include <QImage>
#include <QListWidget>
#include <QPainter>
#include <QPointer>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextEdit>
#include <QTextFrame>
#include <QTextLayout>

#include <memory>

namespace kestrel {

namespace {

constexpr int kTwipsPerInch = 1440;
constexpr int kLayoutDotsPerMeter = 3780; // 96 dots per inch

// The lists a window handed over for printing, by the word that names them.
QHash<QString, QPointer<QListWidget>>& printableLists()
{
    static QHash<QString, QPointer<QListWidget>> lists;
    return lists;
}

QString printerName(const QPrinter& printer)
{
    if (printer.outputFormat() == QPrinter::PdfFormat)
        return QDir::toNativeSeparators(printer.outputFileName());
    return printer.printerName();
}

void reportFailure(const QPrinter& printer)
{
    platform().msgBox(QStringLiteral("Kestrel could not print on %1. Nothing more was printed.").arg(printerName(printer)));
}

// The position of the first line at or below y (document coordinates), or -1 when every line
// lies above it: the first character that did not fit on a page ending at y.
int firstPositionBelow(const QTextDocument& doc, qreal y)
{
    QAbstractTextDocumentLayout* layout = doc.documentLayout();
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
        const QRectF box = layout->blockBoundingRect(block);
        if (box.bottom() <= y)
            continue;
        const QTextLayout* lines = block.layout();
        const qreal origin = box.top() - lines->boundingRect().top();
        for (int i = 0; i < lines->lineCount(); ++i) {
            const QTextLine line = lines->lineAt(i);
            if (origin + line.y() >= y - 0.5)
                return block.position() + line.textStart();
        }
    }
    return -1;
}

} // namespace

frmPrint::frmPrint(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("frmPrint"));
    setWindowTitle(QStringLiteral("Form that holds rtfPrintOut"));
    rtfPrintOut = new QTextEdit(this);
    rtfPrintOut->setObjectName(QStringLiteral("rtfPrintOut"));
    rtfPrintOut->setFont(designFont(QStringLiteral("Times New Roman"), 12));
    rtfPrintOut->document()->setDefaultFont(designFont(QStringLiteral("Times New Roman"), 12));
}

void frmPrint::PrintList(const QString& kind)
{
    lastPages = 0;
    QListWidget* list = printableLists().value(kind);
    if (!list)
        return;
    rtfPrintOut->clear();
    pageParts = PageParts{};
    // One paragraph per entry, its lines kept together on a page.
    QTextCursor cursor(rtfPrintOut->document());
    QTextBlockFormat entry;
    entry.setProperty(kKeepTogetherProperty, true);
    bool first = true;
    for (QString text : ListingEntries(*list)) {
        if (first)
            cursor.setBlockFormat(entry);
        else
            cursor.insertBlock(entry);
        first = false;
        cursor.insertText(text.replace(u'\n', QChar::LineSeparator));
    }
    printSurface();
}

void frmPrint::PrintBlankForm(int contactId)
{
    lastPages = 0;
    const QString path = leadFormPath();
    RtfReader reader;
    QTextDocument* form = rtfPrintOut->document();
    if (!reader.readFile(path, form, &pageParts)) {
        platform().msgBox(QStringLiteral("The lead form could not be printed: its template\n%1\ncould not be read (%2).")
                              .arg(QDir::toNativeSeparators(path), reader.errorString()));
        return;
    }
    // The history is read only when the template asks for it: a plain blank form needs no data.
    if (const int asked = HistoryEntriesAsked(*form); asked > 0) {
        QString name;
        std::vector<HistoryEntry> entries;
        try {
            if (contactId > 0) {
                name = contactName(sConnContacts, contactId);
                entries = latestHistory(sConnContacts, contactId, asked);
            }
        } catch (const std::exception& e) {
            ReportFailure(e, QStringLiteral("PrintBlankForm"), Owner::Form, QStringLiteral("frmPrint"));
            return;
        }
        FillLeadHistory(*form, name, entries);
    }
    printSurface();
}

void frmPrint::printSurface()
{
    if (!desktop().printDialog(CommonDialog1, rtfPrintOut->textCursor().hasSelection()))
        return;
    lastPages = PrintRichText(*rtfPrintOut->document(), CommonDialog1, kTwipsPerInch, kTwipsPerInch, kTwipsPerInch,
                              kTwipsPerInch, &pageParts);
}

frmPrint& printForm()
{
    // Stays loaded, hidden, until the program ends.
    static frmPrint* form = new frmPrint;
    return *form;
}

void PrintList(const QString& kind) { printForm().PrintList(kind); }
void SetPrintableList(const QString& kind, QListWidget* list) { printableLists().insert(kind, list); }
void PrintBlankForm(int contactId) { printForm().PrintBlankForm(contactId); }

QString leadFormPath() { return programDir() + QStringLiteral("/Templates/lead.rtf"); }

QString ListingText(const QListWidget& list)
{
    QString text;
    for (int i = 0; i < list.count(); ++i)
        text += list.item(i)->text() + QStringLiteral("\r\n");
    return text;
}

QStringList ListingEntries(const QListWidget& list)
{
    QStringList entries;
    int previous = 0;
    for (int i = 0; i < list.count(); ++i) {
        const QListWidgetItem* item = list.item(i);
        const int value = item->data(Qt::UserRole).toInt();
        if (value != 0 && value == previous)
            entries.last() += u'\n' + item->text();
        else
            entries << item->text();
        previous = value;
    }
    return entries;
}

int PrintRichText(const QTextDocument& surface, QPrinter& printer, int leftMargin, int topMargin, int rightMargin,
                  int bottomMargin, const PageParts* parts)
{
    // Printing to a file needs the file's name; a print dialog without a printer may not ask.
    if (printer.outputFormat() == QPrinter::PdfFormat && printer.outputFileName().isEmpty()) {
        const QString file = platform().saveFileName(QDir::homePath(), QStringLiteral("Print to File"),
                                                     QStringLiteral("PDF files (*.pdf)|*.pdf"));
        if (file.isEmpty())
            return 0;
        printer.setOutputFileName(file);
    }

    // Page geometry in twips. The printer draws from the corner of its printable area, which
    // lies an offset in from the paper's edge; margins are measured from the edge.
    const int res = printer.resolution();
    if (res <= 0) {
        reportFailure(printer);
        return 0;
    }
    const QRect paper = printer.pageLayout().fullRectPixels(res);
    const QRect printable = printer.pageLayout().paintRectPixels(res);
    auto toTwips = [res](qreal device) { return device * kTwipsPerInch / res; };
    auto toDevice = [res](qreal tw) { return tw * res / kTwipsPerInch; };
    const qreal offsetX = toTwips(printable.left());
    const qreal offsetY = toTwips(printable.top());
    const qreal pageWidth = toTwips(paper.width());
    const qreal pageHeight = toTwips(paper.height());
    const qreal left = leftMargin - offsetX;
    const qreal right = (pageWidth - rightMargin) - offsetX;
    qreal top = topMargin - offsetY;
    qreal bottom = (pageHeight - bottomMargin) - offsetY;

    // A copy is laid out at 96 dots per inch, the unit every length in the document is given in,
    // and drawn scaled up to the printer. (Laid out on the printer itself, fonts would scale but
    // paragraph indents and spacing would not.)
    QImage layoutDevice(1, 1, QImage::Format_RGB32);
    layoutDevice.setDotsPerMeterX(kLayoutDotsPerMeter);
    layoutDevice.setDotsPerMeterY(kLayoutDotsPerMeter);
    const qreal scaleX = qreal(printer.logicalDpiX()) / layoutDevice.logicalDpiX();
    const qreal scaleY = qreal(printer.logicalDpiY()) / layoutDevice.logicalDpiY();
    const qreal layoutWidth = toDevice(right - left) / scaleX;
    const qreal pixelTwips = qreal(kTwipsPerInch) / layoutDevice.logicalDpiY();

    // Headers stand from their place down, footers from theirs up, in the margins; the tallest
    // of each moves the text in where it would reach into it.
    const bool decorated = parts && !parts->empty();
    qreal headerHeight = 0, footerHeight = 0;
    if (decorated) {
        const QSizeF wide(layoutWidth, toDevice(pageHeight) / scaleY);
        for (int page = 1; page <= 3; ++page) {
            if (const QTextDocument* h = parts->header(page))
                headerHeight = std::max(headerHeight, pagePart(*h, page, page, &layoutDevice, wide)->size().height());
            if (const QTextDocument* f = parts->footer(page))
                footerHeight = std::max(footerHeight, pagePart(*f, page, page, &layoutDevice, wide)->size().height());
        }
        top = std::max(top, parts->headerY + headerHeight * pixelTwips - offsetY);
        bottom = std::min(bottom, (pageHeight - parts->footerY - footerHeight * pixelTwips) - offsetY);
    }
    const QRectF drawing(toDevice(left), toDevice(top), toDevice(right - left), toDevice(bottom - top));
    if (drawing.width() < 1 || drawing.height() < 2) {
        reportFailure(printer);
        return 0;
    }

    QPainter painter;
    if (!painter.begin(&printer)) {
        reportFailure(printer);
        return 0;
    }

    // One page is the size of the drawing rectangle.
    std::unique_ptr<QTextDocument> doc(surface.clone());
    const QSizeF page(drawing.width() / scaleX, drawing.height() / scaleY);
    fitPicturesToPage(*doc, page);
    emojiAsPictures(*doc);
    doc->documentLayout()->setPaintDevice(&layoutDevice);
    doc->setDocumentMargin(0);
    doc->setPageSize(page);
    keepParagraphsTogether(*doc);
    const qreal pageStep = page.height();
    const int textLength = doc->characterCount() - 1;
    const int maxPages = doc->pageCount() + 1;

    int pages = 0;
    bool failed = false;
    for (;;) {
        painter.save();
        painter.translate(drawing.topLeft());
        painter.scale(scaleX, scaleY);
        painter.translate(0, -pages * pageStep);
        // One device pixel short of the page, or the next page's first line bleeds into this one.
        doc->drawContents(&painter, QRectF(0, pages * pageStep, page.width(), pageStep - 1 / scaleY));
        painter.restore();
        ++pages;
        if (decorated) {
            const QSizeF wide(page.width(), toDevice(pageHeight) / scaleY);
            const int count = std::max(1, doc->pageCount());
            if (const QTextDocument* h = parts->header(pages)) {
                painter.save();
                painter.translate(drawing.left(), toDevice(parts->headerY - offsetY));
                painter.scale(scaleX, scaleY);
                pagePart(*h, pages, count, &layoutDevice, wide)->drawContents(&painter);
                painter.restore();
            }
            if (const QTextDocument* f = parts->footer(pages)) {
                const auto footer = pagePart(*f, pages, count, &layoutDevice, wide);
                painter.save();
                painter.translate(drawing.left(), toDevice(pageHeight - parts->footerY - offsetY) -
                                                      footer->size().height() * scaleY);
                painter.scale(scaleX, scaleY);
                footer->drawContents(&painter);
                painter.restore();
            }
        }
        const int next = firstPositionBelow(*doc, pages * pageStep);
        if (next < 0 || next >= textLength || pages >= maxPages)
            break;
        if (!printer.newPage()) {
            failed = true;
            break;
        }
    }
    if (!painter.end() || failed || printer.printerState() == QPrinter::Error) {
        reportFailure(printer);
        return 0;
    }
    return pages;
}

} // namespace kestrel
