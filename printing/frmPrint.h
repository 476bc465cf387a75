#pragma once
// Printing: the hidden window that holds the print surface, the listings of the main window's
// lists, the blank lead form, and the page layout every print goes through.
#include "printing/RtfReader.h"

#include <QPrinter>
#include <QString>
#include <QStringList>
#include <QWidget>

class QListWidget;
class QTextDocument;
class QTextEdit;

namespace kestrel {

// Never shown. Created on first use, it stays loaded so the print dialog's choices (printer,
// copies, file) carry over from one print to the next.
class frmPrint : public QWidget {
    Q_OBJECT
public:
    explicit frmPrint(QWidget* parent = nullptr);

    // Prints the listing of lstWeek ("remind"), lstCal ("cal") or lstToDo ("todo").
    void PrintList(const QString& kind);
    // Prints the lead-form template, blank, for filling in by hand; where the template asks for a
    // contact's history (printing/LeadFormHistory.h), that of the contact contactId (0: none).
    void PrintBlankForm(int contactId = 0);

    QTextEdit* rtfPrintOut = nullptr;
    // The print dialog's settings; the job goes to the printer chosen there.
    QPrinter CommonDialog1{QPrinter::HighResolution};
    // Pages of the last print; 0 when it printed nothing.
    int lastPages = 0;
    // The headers and footers of the template on the surface; none for a listing.
    PageParts pageParts;

private:
    void printSurface();
};

// The print surface, loaded on first use.
frmPrint& printForm();
void PrintList(const QString& kind);
void PrintBlankForm(int contactId = 0);
// The list that PrintList prints for kind ("remind", "cal", "todo"), handed over by the window
// that shows it; a list that is gone prints nothing.
void SetPrintableList(const QString& kind, QListWidget* list);

// The template's place: the program directory's Templates folder.
QString leadFormPath();

// Every line of the list in order, each followed by CR LF.
QString ListingText(const QListWidget& list);
// The entries of the list: the lines that belong to one item (one appointment: its day, time,
// name and place) joined by line feeds, every other line an entry of its own. An entry is
// printed on one page.
QStringList ListingEntries(const QListWidget& list);

// Lays the surface out on the printer's pages within margins measured in twips from the paper's
// edges, continuing on as many pages as it needs, with the headers and footers of parts on every
// page (a header or footer taller than its margin moves the text in). Returns the pages printed:
// 0 when the job could not start or failed (the user has been told).
int PrintRichText(const QTextDocument& surface, QPrinter& printer, int leftMargin, int topMargin, int rightMargin,
                  int bottomMargin, const PageParts* parts = nullptr);

} // namespace kestrel
