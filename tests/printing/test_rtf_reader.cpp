// The rich-text reader on documents as word processors save them, and on damaged input.
// abiword-*.rtf were saved by AbiWord 3.0.5: the call sheet from an HTML page, the lead form
// after AbiWord had opened and saved the program's own template; libreoffice-leadform.rtf was
// saved by LibreOffice Writer 7.4 (soffice --headless --convert-to rtf) from the .odt of
// libreoffice-leadform.fodt; wordpad-visit.rtf, word-order.rtf and word-orderform.rtf are
// written as WordPad and Word write theirs.
#include "printing/RtfReader.h"

#include <QtGui>

#include "tests/printing/PdfCheck.h" // for its readable QString failures
#include "tests/support/Files.h"

using namespace kestrel;

namespace {

QByteArray sourceFile(const QString& relative) { return kestrel::test::readBytes(QStringLiteral(KESTREL_SOURCE_DIR "/") + relative); }

// Character format of the first character of the first occurrence of text.
QTextCharFormat formatAt(const QTextDocument& doc, const QString& text)
{
    QTextCursor c = doc.find(text);
    EXPECT_FALSE(c.isNull()) << "missing: " << text.toStdString();
    c.setPosition(c.selectionStart() + 1);
    return c.charFormat();
}

QTextBlockFormat blockAt(const QTextDocument& doc, const QString& text) { return doc.find(text).blockFormat(); }

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
    PageParts parts;
    bool ok = false;
    explicit Read(const QByteArray& rtf, bool withParts = false) { ok = RtfReader().read(rtf, &doc, withParts ? &parts : nullptr); }
    QString text() const { return doc.toPlainText(); }
};

// The pictures of a document, in order: their size in the document's pixels and the size of the
// image each shows.
std::vector<std::pair<QSizeF, QSize>> pictures(const QTextDocument& doc)
{
    std::vector<std::pair<QSizeF, QSize>> out;
    for (QTextBlock b = doc.begin(); b.isValid(); b = b.next())
        for (auto it = b.begin(); !it.atEnd(); ++it)
            if (const QTextImageFormat f = it.fragment().charFormat().toImageFormat(); it.fragment().charFormat().isImageFormat())
                out.push_back({QSizeF(f.width(), f.height()),
                               doc.resource(QTextDocument::ImageResource, QUrl(f.name())).value<QImage>().size()});
    return out;
}

// The text of a header or footer, each page field shown as [page] or [pages].
QString partText(const QTextDocument* part)
{
    if (!part)
        return QStringLiteral("<none>");
    QString out;
    for (QTextBlock b = part->begin(); b.isValid(); b = b.next())
        for (auto it = b.begin(); !it.atEnd(); ++it) {
            const int field = it.fragment().charFormat().intProperty(kRtfFieldProperty);
            out += field == kRtfPageField ? QStringLiteral("[page]") : field == kRtfPagesField ? QStringLiteral("[pages]") : it.fragment().text();
        }
    return out;
}

} // namespace

TEST(RtfReader, WordPadAndWordDocumentsKeepTheirTextFormattingAndTables)
{
    // RichEdit (WordPad): flat font table, colour table, \uN with a fallback.
    Read pad(sourceFile(QStringLiteral("tests/printing/data/wordpad-visit.rtf")));
    ASSERT_TRUE(pad.ok);
    EXPECT_EQ(pad.text(), QStringLiteral("Customer Visit\nCaf\u00e9 and na\u00efve text\nPrice: \u20ac5 \u2013 net\nsecond line"));
    EXPECT_EQ(pad.doc.blockCount(), 3); // \line breaks the line, not the paragraph
    const QTextCharFormat title = formatAt(pad.doc, QStringLiteral("Customer"));
    EXPECT_TRUE(title.fontWeight() == QFont::Bold && title.fontPointSize() == 16.0);
    EXPECT_EQ(blockAt(pad.doc, QStringLiteral("Customer")).alignment(), Qt::AlignHCenter);
    EXPECT_EQ(formatAt(pad.doc, QStringLiteral("Caf")).foreground().color(), QColor(255, 0, 0));
    EXPECT_TRUE(formatAt(pad.doc, QStringLiteral("and")).fontItalic() && formatAt(pad.doc, QStringLiteral("na")).fontUnderline());
    EXPECT_DOUBLE_EQ(blockAt(pad.doc, QStringLiteral("Caf")).leftMargin(), 48.0); // 720 twips

    // Word: each row's definition before its cells and again, in a group, before \row; hidden
    // and destination groups, fields, code pages, symbol fonts, \uc skips, \bin data.
    Read word(sourceFile(QStringLiteral("tests/printing/data/word-order.rtf")));
    ASSERT_TRUE(word.ok);
    const QString text = word.text();
    EXPECT_TRUE(text.startsWith(QStringLiteral("Intro text and link.\n"))) << text.toStdString();
    for (const char* absent : {"Page header", "hidden", "HYPERLINK", "Normal", "Order", "Somebody", "rsid", "Times;", "0102"})
        EXPECT_FALSE(text.contains(QLatin1String(absent))) << absent;
    // The header is no part of the text: it stands on every page, as printing shows.
    EXPECT_EQ(partText(Read(sourceFile(QStringLiteral("tests/printing/data/word-order.rtf")), true).parts.header(2)),
              QStringLiteral("Page header"));
    // Code page 1251, and a Wingdings box.
    EXPECT_TRUE(text.contains(QStringLiteral("\u041f\u0440\u0438\u0432\u0435\u0442\n\u25a1 box\n"))) << text.toStdString();
    EXPECT_TRUE(word.doc.toRawText().contains(QStringLiteral("\u03b1\u03b2\u03b3\u03b4 end\u00a0nbsp"))) << text.toStdString();
    EXPECT_TRUE(text.endsWith(QStringLiteral("Tail"))) << text.toStdString(); // \bin's "}{}}" is data
    EXPECT_EQ(blockAt(word.doc, QStringLiteral("After the break")).pageBreakPolicy(), QTextFormat::PageBreak_AlwaysBefore);
    const auto t = tables(word.doc);
    ASSERT_EQ(t.size(), 1u);
    ASSERT_EQ(t[0]->rows() * 10 + t[0]->columns(), 22);
    EXPECT_EQ(cellText(t[0], 1, 0), QStringLiteral("A2\u2029second para"));
    // The repeated definition (without borders) is the one in force at \row.
    EXPECT_EQ(t[0]->cellAt(0, 0).format().toTableCellFormat().topBorder(), 0);
}

TEST(RtfReader, AbiWordCallSheetAndTheLeadFormAsShippedAndAsSavedAgain)
{
    Read r(sourceFile(QStringLiteral("tests/printing/data/abiword-callsheet.rtf")));
    ASSERT_TRUE(r.ok);
    const QString text = r.text();
    EXPECT_TRUE(text.contains(QStringLiteral("Centred line with Caf\u00e9, na\u00efve, \u20ac and \u201cquotes\u201d.")));
    EXPECT_TRUE(text.contains(QStringLiteral("\u2022\tFirst point\n\u2022\tSecond point")));
    for (const char* hidden : {"Normal", "Heading", "Bullet List", "abicellprops", "left-attach", "listtag"})
        EXPECT_FALSE(text.contains(QLatin1String(hidden))) << hidden;
    EXPECT_EQ(blockAt(r.doc, QStringLiteral("Right-aligned")).alignment(), Qt::AlignRight);
    const auto t = tables(r.doc);
    ASSERT_EQ(t.size(), 1u);
    EXPECT_EQ(cellText(t[0], 1, 2), QStringLiteral("Call back Tuesday"));
    EXPECT_GT(t[0]->cellAt(1, 1).format().toTableCellFormat().topBorder(), 0);
    // Columns take their widths from the cell boundaries (3032, 6029, 9025 twips).
    EXPECT_NEAR(t[0]->format().columnWidthConstraints().value(1).rawValue(), (6029 - 3032) / 15.0, 0.01);
    EXPECT_TRUE(text.contains(QStringLiteral("Call back Tuesday\n\nAfter the table."))) << text.toStdString();

    for (const char* file : {"resources/Templates/lead.rtf", "tests/printing/data/abiword-leadform.rtf"}) {
        SCOPED_TRACE(file);
        Read lead(sourceFile(QString::fromLatin1(file)));
        ASSERT_TRUE(lead.ok);
        const QString form = lead.text();
        for (const char* label : {"Kestrel Lead Form", "Date:", "First name:", "Company:", "ZIP:", "E-mail:", "Contact type", "Notes"})
            EXPECT_TRUE(form.contains(QLatin1String(label))) << label;
        EXPECT_FALSE(form.contains(QLatin1String("Kestrel lead form 1.0"))); // the generator's name
        EXPECT_EQ(formatAt(lead.doc, QStringLiteral("Kestrel Lead Form")).fontWeight(), QFont::Bold);
        // The line to write on after a label is its tab, underlined up to the leader's stop.
        QTextCursor company = lead.doc.find(QStringLiteral("Company:\t"));
        ASSERT_FALSE(company.isNull());
        company.setPosition(company.selectionEnd());
        EXPECT_TRUE(company.charFormat().fontUnderline());
        const auto stops = blockAt(lead.doc, QStringLiteral("Company:")).tabPositions();
        ASSERT_EQ(stops.size(), 1);
        EXPECT_DOUBLE_EQ(stops[0].position, 600.0); // 9000 twips
        // Contact types: boxes to tick beside their labels.
        const auto boxes = tables(lead.doc);
        ASSERT_TRUE(boxes.size() == 1 && boxes[0]->columns() == 8);
        EXPECT_EQ(cellText(boxes[0], 0, 7), QStringLiteral("Personal"));
        EXPECT_GT(boxes[0]->cellAt(0, 6).format().toTableCellFormat().bottomBorder(), 0);
        EXPECT_EQ(boxes[0]->cellAt(0, 1).format().toTableCellFormat().leftBorder(), 0);
    }
}

TEST(RtfReader, HeadersFootersPicturesAndRightToLeftParagraphsAsWordProcessorsWriteThem)
{
    // LibreOffice: the header's logo in a floating shape (the shape's size, its fill not drawn
    // again), the footer's page fields, the body's logo at twice its goal size, a metafile copy of
    // each left out, a right-to-left paragraph, an emoji as two \u words.
    Read lo(sourceFile(QStringLiteral("tests/printing/data/libreoffice-leadform.rtf")), true);
    ASSERT_TRUE(lo.ok);
    EXPECT_EQ(lo.text(), QStringLiteral("Kestrel Lead Form\nFirst name: ____________\n\u05e9\u05dc\u05d5\u05dd \u05dc\u05e7\u05d5\u05d7 "
                                        "\u05d9\u05e7\u05e8\nCall back \U0001F600 soon\n\uFFFC\nSecond page notes"));
    EXPECT_EQ(pictures(lo.doc), (std::vector<std::pair<QSizeF, QSize>>{{QSizeF(96, 32), QSize(48, 16)}}));
    EXPECT_EQ(partText(lo.parts.header(1)), QStringLiteral("Acme Sales Header \uFFFC"));
    EXPECT_EQ(partText(lo.parts.header(2)), partText(lo.parts.header(1)));
    ASSERT_NE(lo.parts.header(1), nullptr);
    EXPECT_EQ(pictures(*lo.parts.header(1)), (std::vector<std::pair<QSizeF, QSize>>{{QSizeF(719 / 15.0, 238 / 15.0), QSize(48, 16)}}));
    EXPECT_EQ(partText(lo.parts.footer(2)), QStringLiteral("Footer: page [page] of [pages]"));
    EXPECT_EQ(std::pair(lo.parts.headerY, lo.parts.footerY), std::pair(720, 720));
    const QTextBlockFormat rtl = blockAt(lo.doc, QStringLiteral("\u05e9\u05dc\u05d5\u05dd"));
    EXPECT_EQ(rtl.layoutDirection(), Qt::RightToLeft);
    EXPECT_EQ(rtl.alignment(), Qt::AlignRight | Qt::AlignAbsolute);

    // Word: a first page of its own (\titlepg) with a JPEG logo in its header, other pages with
    // theirs, page fields with switches, an emoji as two negative \u words.
    Read word(sourceFile(QStringLiteral("tests/printing/data/word-orderform.rtf")), true);
    ASSERT_TRUE(word.ok);
    EXPECT_TRUE(word.parts.titlePage);
    EXPECT_EQ(partText(word.parts.header(1)), QStringLiteral("\uFFFC\tAcme Sales \u2013 first page"));
    EXPECT_EQ(partText(word.parts.header(2)), QStringLiteral("Acme Sales \u2013 continued"));
    EXPECT_EQ(partText(word.parts.header(3)), partText(word.parts.header(2)));
    EXPECT_EQ(partText(word.parts.footer(1)), QStringLiteral("Sheet [page] of [pages]"));
    EXPECT_EQ(partText(word.parts.footer(2)), QStringLiteral("Sheet [page]"));
    EXPECT_EQ(pictures(*word.parts.header(1)), (std::vector<std::pair<QSizeF, QSize>>{{QSizeF(96, 32), QSize(96, 32)}}));
    EXPECT_TRUE(word.text().contains(QStringLiteral("Thanks \U0001F34E for your order"))) << word.text().toStdString();
    EXPECT_FALSE(word.text().contains(QLatin1String("Acme")));
    EXPECT_EQ(blockAt(word.doc, QStringLiteral("\u05ea\u05d5\u05d3\u05d4")).alignment(), Qt::AlignRight | Qt::AlignAbsolute);
    // Without a place for them, headers and footers are left out as before.
    Read plain(sourceFile(QStringLiteral("tests/printing/data/word-orderform.rtf")));
    EXPECT_EQ(plain.text(), word.text());

    // A right-to-left paragraph begins at the right whether left or right is written for its start;
    // centred stays centred.
    Read dir("{\\rtf1\\pard\\rtlpar\\ql A\\par\\pard\\rtlpar\\qc B\\par\\pard\\rtlpar C\\par\\pard\\rtlpar\\ltrpar D\\par}");
    EXPECT_EQ((QList<Qt::Alignment>{blockAt(dir.doc, "A").alignment(), blockAt(dir.doc, "B").alignment(), blockAt(dir.doc, "C").alignment(),
                                    blockAt(dir.doc, "D").alignment()}),
              (QList<Qt::Alignment>{Qt::AlignRight | Qt::AlignAbsolute, Qt::AlignHCenter, Qt::AlignRight | Qt::AlignAbsolute, Qt::AlignLeft}));

    // Cut off anywhere, in a header, a shape or a picture's data: what was read is kept.
    const QByteArray whole = sourceFile(QStringLiteral("tests/printing/data/libreoffice-leadform.rtf"));
    for (qsizetype n = 200; n < whole.size(); n += 97) {
        Read cut(whole.left(n), true);
        ASSERT_TRUE(cut.ok) << n;
        if (n > whole.indexOf("Kestrel Lead Form}")) {
            ASSERT_TRUE(cut.text().startsWith(QStringLiteral("Kestrel Lead Form"))) << n;
        }
    }
    // A picture that is no picture, and one larger than the reader takes, are left out.
    EXPECT_TRUE(pictures(Read("{\\rtf1 a{\\pict\\pngblip 89504e470d0a1a0a00ff}b}").doc).empty());
    EXPECT_TRUE(pictures(Read("{\\rtf1 a{\\pict\\pngblip " + QByteArray(RtfReader::kMaxPictureBytes * 2 + 2, '0') + "}b}").doc).empty());
}

TEST(RtfReader, DamagedOrForeignInputEndsWithWhatCouldBeReadOrTheReason)
{
    RtfReader reader;
    QTextDocument doc;
    doc.setPlainText(QStringLiteral("old content"));
    EXPECT_FALSE(reader.read("Dear customer,\nplain text\n", &doc));
    EXPECT_EQ(reader.errorString(), QStringLiteral("it is not a rich-text file"));
    EXPECT_TRUE(doc.isEmpty());
    EXPECT_FALSE(reader.read("", &doc) || reader.read("{\\rt", &doc));
    EXPECT_TRUE(reader.read("\xEF\xBB\xBF\r\n{\\rtf1 Hi}", &doc)); // a byte-order mark and blank lines are forgiven
    EXPECT_EQ(doc.toPlainText(), QStringLiteral("Hi"));

    QElapsedTimer clock;
    clock.start();
    // Deep nesting: the reader neither recurses nor grows without bound.
    EXPECT_EQ(Read("{\\rtf1 start " + QByteArray(200000, '{') + "deep\\b bold" + QByteArray(200000, '}') + " tail}").text(),
              QStringLiteral("start deepbold tail"));
    // Numbers out of range, bad escapes, negative and huge \bin.
    Read wild(R"({\rtf1 a \fs99999999999999999999999 b\li-2147483648\fi-99999999  c\par)"
              R"(\u-99999999 \u99999999 \uc99999 \u65 XYZ d\'zz\'4 \'41\bin-5 e\par\bin99999999)");
    EXPECT_TRUE(wild.ok);
    EXPECT_TRUE(wild.text().startsWith(QStringLiteral("a b c\n"))) << wild.text().toStdString();
    // More closing braces than opening ones end the document, they do not underflow it.
    EXPECT_EQ(Read("{\\rtf1 one}} two}}}").text(), QStringLiteral("one"));
    // Structure marks of the document itself never come in from a file.
    EXPECT_EQ(Read("{\\rtf1\\uc0 a\\u64976 b\\u65532 c\\u8233 d\\'00e\\u13 f}").text(), QStringLiteral("abcdef"));
    // A row of a thousand cells keeps the most a word processor allows, the rest in the last one.
    QByteArray row = "{\\rtf1\\trowd", cells;
    for (int i = 0; i < 1000; ++i) {
        row += "\\cellx" + QByteArray::number(i * 20 + 20);
        cells += "\\intbl c" + QByteArray::number(i) + "\\cell";
    }
    Read wide(row + cells + "\\row}");
    const auto t = tables(wide.doc);
    ASSERT_EQ(t.size(), 1u);
    EXPECT_EQ(t[0]->columns(), RtfReader::kMaxColumns);
    EXPECT_TRUE(cellText(t[0], 0, RtfReader::kMaxColumns - 1).contains(QLatin1String("c999")));

    // Cut off anywhere (inside a skipped group, a table or an escape): what was read is kept.
    const QByteArray lead = sourceFile(QStringLiteral("resources/Templates/lead.rtf"));
    for (qsizetype n = lead.indexOf("Notes") + 6; n <= lead.size(); n += 7)
        ASSERT_TRUE(Read(lead.left(n)).text().contains(QStringLiteral("Notes"))) << n;
    EXPECT_LT(clock.elapsed(), 60000);
}
