// The rich-text reader on documents as word processors save them, and on damaged input.
// abiword-*.rtf were saved by AbiWord 3.0.5: the call sheet from an HTML page, the lead form
// after AbiWord had opened and saved the program's own template.
#include "printing/RtfReader.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFrame>
#include <QTextTable>

#include <gtest/gtest.h>

// Readable failures: QStrings printed as text.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

using namespace kestrel;

namespace {

QByteArray sourceFile(const QString& relative)
{
    QFile f(QStringLiteral(KESTREL_SOURCE_DIR "/") + relative);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << relative.toStdString();
    return f.readAll();
}

QString plain(const QTextDocument& doc) { return doc.toPlainText(); }

// Character format of the first character of the first occurrence of text.
QTextCharFormat formatAt(const QTextDocument& doc, const QString& text)
{
    QTextCursor c = doc.find(text);
    EXPECT_FALSE(c.isNull()) << "missing: " << text.toStdString();
    if (c.isNull())
        return {};
    c.setPosition(c.selectionStart() + 1);
    return c.charFormat();
}

QTextBlockFormat blockAt(const QTextDocument& doc, const QString& text)
{
    const QTextCursor c = doc.find(text);
    EXPECT_FALSE(c.isNull()) << "missing: " << text.toStdString();
    return c.isNull() ? QTextBlockFormat() : c.blockFormat();
}

std::vector<QTextTable*> tables(const QTextDocument& doc)
{
    std::vector<QTextTable*> out;
    for (QTextFrame* f : doc.rootFrame()->childFrames())
        if (auto* t = qobject_cast<QTextTable*>(f))
            out.push_back(t);
    return out;
}

QString cellText(QTextTable* t, int row, int col)
{
    QTextCursor c = t->cellAt(row, col).firstCursorPosition();
    c.setPosition(t->cellAt(row, col).lastCursorPosition().position(), QTextCursor::KeepAnchor);
    return c.selectedText();
}

struct Read {
    QTextDocument doc;
    bool ok = false;
    explicit Read(const QByteArray& rtf) { ok = RtfReader().read(rtf, &doc); }
};

} // namespace

TEST(RtfReader, WordPadLetterKeepsItsFormattingAndCharacters)
{
    // The shape RichEdit (WordPad) saves: flat font table, colour table, \uN with a fallback.
    Read r(R"({\rtf1\ansi\ansicpg1252\deff0\nouicompat\deflang1033{\fonttbl{\f0\fnil\fcharset0 Calibri;}{\f1\fswiss\fcharset0 Arial;}}
{\colortbl ;\red255\green0\blue0;\red0\green77\blue187;}
{\*\generator Riched20 10.0.19041}\viewkind4\uc1 
\pard\sa200\sl276\slmult1\qc\b\f0\fs32\lang9 Customer Visit\b0\fs22\par
\pard\sa200\sl276\slmult1\li720\cf1 Caf\'e9 \i and\i0  \ul na\'efve\ulnone  text\cf0\par
\cf2\f1 Price: \u8364?5 \'96 net\line second line\cf0\f0\par
}
)");
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(plain(r.doc), QStringLiteral("Customer Visit\nCaf\u00e9 and na\u00efve text\nPrice: \u20ac5 \u2013 net\nsecond line"));
    EXPECT_EQ(r.doc.blockCount(), 3); // \line breaks the line, not the paragraph
    const QTextCharFormat title = formatAt(r.doc, QStringLiteral("Customer"));
    EXPECT_EQ(title.fontWeight(), QFont::Bold);
    EXPECT_DOUBLE_EQ(title.fontPointSize(), 16.0);
    EXPECT_EQ(title.fontFamilies().toStringList(), QStringList{QStringLiteral("Calibri")});
    EXPECT_EQ(blockAt(r.doc, QStringLiteral("Customer")).alignment(), Qt::AlignHCenter);

    const QTextCharFormat cafe = formatAt(r.doc, QStringLiteral("Caf"));
    EXPECT_EQ(cafe.fontWeight(), QFont::Normal);
    EXPECT_DOUBLE_EQ(cafe.fontPointSize(), 11.0);
    EXPECT_EQ(cafe.foreground().color(), QColor(255, 0, 0));
    EXPECT_TRUE(formatAt(r.doc, QStringLiteral("and")).fontItalic());
    EXPECT_FALSE(formatAt(r.doc, QStringLiteral("and")).fontUnderline());
    EXPECT_TRUE(formatAt(r.doc, QStringLiteral("na")).fontUnderline());
    EXPECT_FALSE(formatAt(r.doc, QStringLiteral(" text")).fontUnderline());
    const QTextBlockFormat indented = blockAt(r.doc, QStringLiteral("Caf"));
    EXPECT_DOUBLE_EQ(indented.leftMargin(), 48.0); // 720 twips
    EXPECT_DOUBLE_EQ(indented.bottomMargin(), 200 / 15.0);
    EXPECT_EQ(indented.lineHeightType(), int(QTextBlockFormat::ProportionalHeight));
    EXPECT_EQ(formatAt(r.doc, QStringLiteral("Price")).foreground().color(), QColor(0, 77, 187));
    EXPECT_EQ(formatAt(r.doc, QStringLiteral("Price")).fontFamilies().toStringList(), QStringList{QStringLiteral("Arial")});
}

TEST(RtfReader, AbiWordCallSheetWithTableListAndStylesheet)
{
    Read r(sourceFile(QStringLiteral("tests/printing/data/abiword-callsheet.rtf")));
    ASSERT_TRUE(r.ok);
    const QString text = plain(r.doc);
    EXPECT_TRUE(text.startsWith(QStringLiteral("Quarterly Call Sheet\n"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("Centred line with Caf\u00e9, na\u00efve, \u20ac and \u201cquotes\u201d.")));
    EXPECT_TRUE(text.contains(QStringLiteral("\u2022\tFirst point\n\u2022\tSecond point")));
    // Style names, list templates and AbiWord's own properties are not text.
    for (const char* hidden : {"Normal", "Heading", "Bullet List", "abicellprops", "left-attach", "listtag"})
        EXPECT_FALSE(text.contains(QLatin1String(hidden))) << hidden;
    EXPECT_EQ(formatAt(r.doc, QStringLiteral("Bold words")).fontWeight(), QFont::Bold);
    EXPECT_DOUBLE_EQ(formatAt(r.doc, QStringLiteral("Quarterly")).fontPointSize(), 17.0);
    EXPECT_EQ(blockAt(r.doc, QStringLiteral("Centred")).alignment(), Qt::AlignHCenter);
    EXPECT_EQ(blockAt(r.doc, QStringLiteral("Right-aligned")).alignment(), Qt::AlignRight);

    const auto t = tables(r.doc);
    ASSERT_EQ(t.size(), 1u);
    ASSERT_EQ(t[0]->rows(), 2);
    ASSERT_EQ(t[0]->columns(), 3);
    EXPECT_EQ(cellText(t[0], 0, 0), QStringLiteral("Name"));
    EXPECT_EQ(cellText(t[0], 1, 2), QStringLiteral("Call back Tuesday"));
    const QTextTableCellFormat box = t[0]->cellAt(1, 1).format().toTableCellFormat();
    EXPECT_GT(box.topBorder(), 0);
    EXPECT_GT(box.leftBorder(), 0);
    // Columns take their widths from the cell boundaries (3032, 6029, 9025 twips).
    const auto widths = t[0]->format().columnWidthConstraints();
    ASSERT_EQ(widths.size(), 3);
    EXPECT_NEAR(widths[0].rawValue(), 3032 / 15.0, 0.01);
    EXPECT_NEAR(widths[1].rawValue(), (6029 - 3032) / 15.0, 0.01);
    // AbiWord ends a table with an empty paragraph of its own.
    EXPECT_TRUE(text.contains(QStringLiteral("Call back Tuesday\n\nAfter the table."))) << text.toStdString();
}

TEST(RtfReader, LeadFormAsShippedAndAsAWordProcessorSavedIt)
{
    for (const char* file : {"resources/Templates/lead.rtf", "tests/printing/data/abiword-leadform.rtf"}) {
        SCOPED_TRACE(file);
        Read r(sourceFile(QString::fromLatin1(file)));
        ASSERT_TRUE(r.ok);
        const QString text = plain(r.doc);
        for (const char* label : {"Kestrel Lead Form", "Date:", "First name:", "Last name:", "Company:", "Address:",
                                  "City:", "State:", "ZIP:", "Home phone:", "Cell phone:", "Work phone:", "E-mail:",
                                  "Contact type", "Notes"})
            EXPECT_TRUE(text.contains(QLatin1String(label))) << label;
        EXPECT_FALSE(text.contains(QLatin1String("Kestrel lead form 1.0"))); // the generator's name
        EXPECT_EQ(formatAt(r.doc, QStringLiteral("Kestrel Lead Form")).fontWeight(), QFont::Bold);
        EXPECT_EQ(blockAt(r.doc, QStringLiteral("Kestrel Lead Form")).alignment(), Qt::AlignHCenter);

        // The line to write on after a label is its tab, underlined up to the leader's stop.
        QTextCursor company = r.doc.find(QStringLiteral("Company:\t"));
        ASSERT_FALSE(company.isNull());
        company.setPosition(company.selectionEnd());
        EXPECT_TRUE(company.charFormat().fontUnderline());
        EXPECT_FALSE(formatAt(r.doc, QStringLiteral("Company:")).fontUnderline());
        const auto stops = blockAt(r.doc, QStringLiteral("Company:")).tabPositions();
        ASSERT_EQ(stops.size(), 1);
        EXPECT_EQ(stops[0].type, QTextOption::RightTab);
        EXPECT_DOUBLE_EQ(stops[0].position, 600.0); // 9000 twips

        // Contact types: boxes to tick beside their labels.
        const auto t = tables(r.doc);
        ASSERT_EQ(t.size(), 1u);
        ASSERT_EQ(t[0]->columns(), 8);
        EXPECT_EQ(cellText(t[0], 0, 1), QStringLiteral("Lead"));
        EXPECT_EQ(cellText(t[0], 0, 7), QStringLiteral("Personal"));
        EXPECT_GT(t[0]->cellAt(0, 0).format().toTableCellFormat().leftBorder(), 0);
        EXPECT_GT(t[0]->cellAt(0, 6).format().toTableCellFormat().bottomBorder(), 0);
        EXPECT_EQ(t[0]->cellAt(0, 1).format().toTableCellFormat().leftBorder(), 0);
        EXPECT_EQ(t[0]->cellAt(0, 1).format().toTableCellFormat().topBorder(), 0);
    }
}

TEST(RtfReader, WordTablesFieldsHiddenTextBreaksAndEncodings)
{
    // Word writes each row's definition before its cells and again, in a group, before \row.
    Read r(R"({\rtf1\ansi\ansicpg1252\uc1\deff0{\fonttbl{\f0\froman\fcharset0 Times New Roman{\*\falt Times};}
{\f1\fswiss\fcharset204 Arial Cyr;}{\f2\fnil\fcharset2 Wingdings;}}{\stylesheet{\ql \fs24 \snext0 Normal;}}
{\info{\title Order}{\author Somebody}}{\*\rsidtbl \rsid123}{\header \pard\plain Page header\par}
\pard\plain\f0\fs24 Intro {\*\bkmkstart here}text{\v  hidden words} and {\field{\*\fldinst { HYPERLINK "http://x" }}{\fldrslt {\ul link}}}.\par
\trowd\trgaph108\trleft-108\trrh400\clbrdrt\brdrs\brdrw10\clbrdrb\brdrs\brdrw10\cellx2000\cellx4000
\pard\plain\intbl\f0 A1\cell B1\cell\pard\plain\intbl{\trowd\trgaph108\trleft-108\cellx2000\cellx4000\row}
\pard\plain\intbl A2\par second para\cell\cell\pard\intbl{\trowd\trgaph108\trleft-108\cellx2000\cellx4000\row}
\pard\plain\f1 \'cf\'f0\'e8\'e2\'e5\'f2\par
\pard\plain\f2 \'6f\f0  box\par
\pard\plain\f0 \uc0\u945\u946 \uc2\u947 xy\u948\'3f\'3f end\~nbsp\par
\page\pard\plain After the break\par
{\pict\wmetafile8\picw100 0102030405060708}\bin4 }{}}\par Tail\par
}
)");
    ASSERT_TRUE(r.ok);
    const QString text = plain(r.doc);
    EXPECT_TRUE(text.startsWith(QStringLiteral("Intro text and link.\n"))) << text.toStdString();
    for (const char* absent : {"Page header", "hidden", "HYPERLINK", "Normal", "Order", "Somebody", "rsid", "Times;",
                               "0102"})
        EXPECT_FALSE(text.contains(QLatin1String(absent))) << absent;
    EXPECT_TRUE(formatAt(r.doc, QStringLiteral("link")).fontUnderline());
    EXPECT_TRUE(text.contains(QStringLiteral("\u041f\u0440\u0438\u0432\u0435\u0442\n"))); // Привет from code page 1251
    EXPECT_TRUE(text.contains(QStringLiteral("\u25a1 box\n")));                           // Wingdings box
    EXPECT_TRUE(r.doc.toRawText().contains(QStringLiteral("\u03b1\u03b2\u03b3\u03b4 end\u00a0nbsp"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("After the break\n")));
    // \bin's four raw bytes ("}{}}") are data, not structure: the document goes on after them.
    EXPECT_TRUE(text.endsWith(QStringLiteral("Tail"))) << text.toStdString();

    const auto t = tables(r.doc);
    ASSERT_EQ(t.size(), 1u);
    ASSERT_EQ(t[0]->rows(), 2);
    ASSERT_EQ(t[0]->columns(), 2);
    EXPECT_EQ(cellText(t[0], 0, 0), QStringLiteral("A1"));
    EXPECT_EQ(cellText(t[0], 0, 1), QStringLiteral("B1"));
    EXPECT_EQ(cellText(t[0], 1, 0), QStringLiteral("A2\u2029second para"));
    EXPECT_EQ(cellText(t[0], 1, 1), QString());
    // The repeated definition (without borders) is the one in force at \row.
    EXPECT_EQ(t[0]->cellAt(0, 0).format().toTableCellFormat().topBorder(), 0);

    EXPECT_EQ(blockAt(r.doc, QStringLiteral("After the break")).pageBreakPolicy(), QTextFormat::PageBreak_AlwaysBefore);
    EXPECT_EQ(blockAt(r.doc, QStringLiteral("Intro")).pageBreakPolicy(), QTextFormat::PageBreak_Auto);
}

TEST(RtfReader, RowBordersHeightsAndPageBreakBeforeATable)
{
    Read r(R"({\rtf1\ansi Before\par\page
\trowd\trgaph60\trrh500\clbrdrt\brdrs\brdrw15\clbrdrl\brdrdb\brdrw30\clbrdrb\brdrs\clbrdrr\brdrnone\cellx1000\cellx2000
\intbl x\cell y\cell\row\pard After\par})");
    ASSERT_TRUE(r.ok);
    const auto t = tables(r.doc);
    ASSERT_EQ(t.size(), 1u);
    EXPECT_EQ(t[0]->format().pageBreakPolicy(), QTextFormat::PageBreak_AlwaysBefore);
    const QTextTableCellFormat f = t[0]->cellAt(0, 0).format().toTableCellFormat();
    EXPECT_DOUBLE_EQ(f.topBorder(), 1.0);
    EXPECT_DOUBLE_EQ(f.leftBorder(), 2.0);
    EXPECT_EQ(f.leftBorderStyle(), QTextFrameFormat::BorderStyle_Double);
    EXPECT_GT(f.bottomBorder(), 0);
    EXPECT_EQ(f.rightBorder(), 0);
    EXPECT_DOUBLE_EQ(f.leftPadding(), 4.0);
    const QTextBlockFormat cell = t[0]->cellAt(0, 0).firstCursorPosition().blockFormat();
    EXPECT_EQ(cell.lineHeightType(), int(QTextBlockFormat::MinimumHeight));
    EXPECT_NEAR(cell.lineHeight(), 500 / 15.0 - 2, 0.01);
    EXPECT_TRUE(plain(r.doc).endsWith(QStringLiteral("After")));
}

TEST(RtfReader, RefusesWhatIsNotRichTextAndNamesTheReason)
{
    RtfReader reader;
    QTextDocument doc;
    doc.setPlainText(QStringLiteral("old content"));
    EXPECT_FALSE(reader.read("Dear customer,\nplain text\n", &doc));
    EXPECT_EQ(reader.errorString(), QStringLiteral("it is not a rich-text file"));
    EXPECT_TRUE(doc.isEmpty());
    EXPECT_FALSE(reader.read("", &doc));
    EXPECT_FALSE(reader.read("{\\rt", &doc));
    // A byte-order mark and blank lines in front are forgiven.
    EXPECT_TRUE(reader.read("\xEF\xBB\xBF\r\n{\\rtf1 Hi}", &doc));
    EXPECT_EQ(doc.toPlainText(), QStringLiteral("Hi"));

    EXPECT_FALSE(reader.readFile(QStringLiteral("/nonexistent/Templates/lead.rtf"), &doc));
    EXPECT_EQ(reader.errorString(), QStringLiteral("the file does not exist"));
}

TEST(RtfReader, DamagedInputEndsWithWhatCouldBeRead)
{
    QElapsedTimer clock;
    clock.start();
    {
        // Deep nesting: the reader neither recurses nor grows without bound.
        const QByteArray deep = "{\\rtf1 start " + QByteArray(200000, '{') + "deep\\b bold" + QByteArray(200000, '}') + " tail}";
        Read r(deep);
        EXPECT_EQ(plain(r.doc), QStringLiteral("start deepbold tail"));
    }
    {
        // Cut off anywhere, even inside a skipped group, a table or an escape.
        const QByteArray lead = sourceFile(QStringLiteral("resources/Templates/lead.rtf"));
        const qsizetype notes = lead.indexOf("Notes");
        for (qsizetype n = 0; n <= lead.size(); n += 7) {
            Read r(lead.left(n));
            if (n > notes + 5) {
                ASSERT_TRUE(plain(r.doc).contains(QStringLiteral("Notes"))) << n;
            }
        }
    }
    {
        Read r(R"({\rtf1 a \fs99999999999999999999999 b\li-2147483648\fi-99999999  c\par)"
               R"(\u-99999999 \u99999999 \uc99999 \u65 XYZ d\'zz\'4 \'41\bin-5 e\par\bin99999999)");
        EXPECT_TRUE(r.ok);
        EXPECT_TRUE(plain(r.doc).startsWith(QStringLiteral("a b c\n"))) << plain(r.doc).toStdString();
    }
    {
        // More closing braces than opening ones end the document, they do not underflow it.
        Read r("{\\rtf1 one}} two}}}");
        EXPECT_EQ(plain(r.doc), QStringLiteral("one"));
    }
    {
        // A row of a thousand cells keeps the most a word processor allows, the rest in the last one.
        QByteArray row = "{\\rtf1\\trowd";
        for (int i = 1; i <= 1000; ++i)
            row += "\\cellx" + QByteArray::number(i * 20);
        for (int i = 0; i < 1000; ++i)
            row += "\\intbl c" + QByteArray::number(i) + "\\cell";
        row += "\\row}";
        Read r(row);
        const auto t = tables(r.doc);
        ASSERT_EQ(t.size(), 1u);
        EXPECT_EQ(t[0]->columns(), RtfReader::kMaxColumns);
        EXPECT_TRUE(cellText(t[0], 0, RtfReader::kMaxColumns - 1).contains(QLatin1String("c999")));
    }
    {
        // Structure marks of the document itself never come in from a file.
        Read r("{\\rtf1\\uc0 a\\u64976 b\\u65532 c\\u8233 d\\'00e\\u13 f}");
        EXPECT_EQ(plain(r.doc), QStringLiteral("abcdef"));
    }
    EXPECT_LT(clock.elapsed(), 60000);
}

TEST(RtfReader, RandomDamageToRealDocumentsNeverBreaksTheReader)
{
    // The same mutations a fuzzer starts with: flipped, dropped, doubled and braced bytes.
    const QByteArray seeds[] = {sourceFile(QStringLiteral("resources/Templates/lead.rtf")),
                                sourceFile(QStringLiteral("tests/printing/data/abiword-callsheet.rtf")),
                                sourceFile(QStringLiteral("tests/printing/data/abiword-leadform.rtf"))};
    QRandomGenerator rng(20261204);
    const char specials[] = "{}\\'*0123456789-; \r\n";
    int readAsRtf = 0;
    for (int round = 0; round < 1200; ++round) {
        QByteArray doc = seeds[round % 3];
        const int edits = 1 + int(rng.bounded(12));
        for (int e = 0; e < edits && !doc.isEmpty(); ++e) {
            const qsizetype at = rng.bounded(int(doc.size()));
            switch (rng.bounded(5)) {
            case 0: doc[at] = char(rng.bounded(256)); break;
            case 1: doc[at] = specials[rng.bounded(int(sizeof specials - 1))]; break;
            case 2: doc.remove(at, rng.bounded(40)); break;
            case 3: doc.insert(at, doc.mid(rng.bounded(int(doc.size())), rng.bounded(200))); break;
            case 4: doc.insert(at, QByteArray(int(rng.bounded(64)), rng.bounded(2) ? '{' : '}')); break;
            }
        }
        Read r(doc);
        readAsRtf += r.ok;
        // Whatever was read lays out: the document is usable, not just built.
        r.doc.setPageSize(QSizeF(600, 800));
        ASSERT_GE(r.doc.pageCount(), 1);
    }
    EXPECT_GT(readAsRtf, 1000);
}
