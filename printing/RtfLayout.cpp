// Formats, paragraphs and tables as they are set into the document.
#include "printing/RtfParser.h"

#include <QTextBlock>
#include <QTextDocument>
#include <QTextTable>

#include <iterator>

namespace kestrel::rtf {

QTextCharFormat Parser::charFormat(const CharProps& p) const
{
    QTextCharFormat f;
    const auto font = fonts_.find(p.font >= 0 ? p.font : defaultFont_);
    if (font != fonts_.end() && !font->name.isEmpty()) {
        f.setFontFamilies(QStringList{font->name});
        if (font->hint != QFont::AnyStyle)
            f.setFontStyleHint(font->hint);
    }
    f.setFontPointSize(p.halfPoints / 2.0);
    f.setFontWeight(p.bold ? QFont::Bold : QFont::Normal);
    f.setFontItalic(p.italic);
    f.setFontUnderline(p.underline);
    f.setFontStrikeOut(p.strike);
    if (p.caps)
        f.setFontCapitalization(QFont::AllUppercase);
    else if (p.smallCaps)
        f.setFontCapitalization(QFont::SmallCaps);
    if (p.vertical > 0)
        f.setVerticalAlignment(QTextCharFormat::AlignSuperScript);
    else if (p.vertical < 0)
        f.setVerticalAlignment(QTextCharFormat::AlignSubScript);
    if (p.field != 0)
        f.setProperty(kRtfFieldProperty, p.field);
    if (p.fg > 0 && p.fg < int(colours_.size()) && colours_[size_t(p.fg)].isValid())
        f.setForeground(colours_[size_t(p.fg)]);
    if (p.bg > 0 && p.bg < int(colours_.size()) && colours_[size_t(p.bg)].isValid())
        f.setBackground(colours_[size_t(p.bg)]);
    return f;
}

QTextBlockFormat Parser::blockFormat(const ParaProps& p) const
{
    QTextBlockFormat b;
    if (p.rtl) {
        // Right to left, and aligned to the right unless centred or justified: a word processor
        // writes left or right for the paragraph's start, and either way it begins at the right.
        b.setLayoutDirection(Qt::RightToLeft);
        b.setAlignment(p.align == Qt::AlignHCenter || p.align == Qt::AlignJustify ? p.align : Qt::AlignRight | Qt::AlignAbsolute);
    } else {
        b.setAlignment(p.align);
    }
    const int left = std::clamp(p.left, 0, kMaxTwips);
    b.setLeftMargin(pixels(left));
    b.setRightMargin(pixels(std::clamp(p.right, 0, kMaxTwips)));
    b.setTextIndent(pixels(std::clamp(p.first, -left, kMaxTwips)));
    b.setTopMargin(pixels(std::clamp(p.before, 0, kMaxTwips)));
    b.setBottomMargin(pixels(std::clamp(p.after, 0, kMaxTwips)));
    if (p.lineSpacing != 0) {
        if (p.lineMultiple)
            b.setLineHeight(std::clamp(p.lineSpacing * 100.0 / 240.0, 50.0, 500.0),
                            QTextBlockFormat::ProportionalHeight);
        else if (p.lineSpacing > 0)
            b.setLineHeight(pixels(std::min(p.lineSpacing, kMaxTwips)), QTextBlockFormat::MinimumHeight);
        else
            b.setLineHeight(pixels(std::min(-p.lineSpacing, kMaxTwips)), QTextBlockFormat::FixedHeight);
    }
    if (!p.tabs.empty()) {
        QList<QTextOption::Tab> tabs;
        for (const TabStop& t : p.tabs)
            tabs.append(QTextOption::Tab(pixels(t.twips), t.type, t.type == QTextOption::DelimiterTab ? u'.' : QChar()));
        b.setTabPositions(tabs);
    }
    if (p.ruleBelow)
        b.setProperty(QTextFormat::BlockTrailingHorizontalRulerWidth, QTextLength(QTextLength::PercentageLength, 100));
    if (p.pageBreakBefore)
        b.setPageBreakPolicy(QTextFormat::PageBreak_AlwaysBefore);
    return b;
}

Para Parser::takeParagraph()
{
    flushRun();
    Para p = std::move(para_);
    para_ = Para{};
    tabsInParagraph_ = 0;
    p.format = blockFormat(state().para);
    p.markFormat = charFormat(state().chr);
    if (pageBreakNext_ && !state().para.inTable) {
        p.format.setPageBreakPolicy(QTextFormat::PageBreak_AlwaysBefore);
        pageBreakNext_ = false;
    }
    return p;
}

void Parser::endParagraph()
{
    if (state().dest != Dest::Body)
        return;
    Para p = takeParagraph();
    if (state().para.inTable) {
        cell_.paras.push_back(std::move(p));
        return;
    }
    if (!rowCells_.empty() || !cell_.paras.empty())
        endRow();
    if (table_ && fresh_ && p.format.topMargin() > 0) {
        // The layout drops the space before a paragraph that follows a table; the table
        // keeps it below itself instead.
        QTextTableFormat tf = table_->format();
        tf.setBottomMargin(p.format.topMargin());
        table_->setFormat(tf);
    }
    table_ = nullptr;
    emitBody(p);
}

void Parser::pageBreak()
{
    if (state().dest != Dest::Body)
        return;
    if (paragraphHasContent())
        endParagraph();
    pageBreakNext_ = true;
}

void Parser::endCell()
{
    if (state().dest != Dest::Body)
        return;
    if (paragraphHasContent() || cell_.paras.empty())
        cell_.paras.push_back(takeParagraph());
    if (int(rowCells_.size()) < RtfReader::kMaxColumns) {
        rowCells_.push_back(std::move(cell_));
    } else {
        auto& last = rowCells_.back().paras;
        std::move(cell_.paras.begin(), cell_.paras.end(), std::back_inserter(last));
    }
    cell_ = Cell{};
}

void Parser::endRow()
{
    if (paragraphHasContent() || !cell_.paras.empty())
        endCell();
    if (rowCells_.empty())
        return;
    std::vector<Cell> cells = std::move(rowCells_);
    rowCells_.clear();
    emitRow(cells);
}

void Parser::emitBody(const Para& p)
{
    if (fresh_) {
        cursor_.setBlockFormat(p.format);
        cursor_.setBlockCharFormat(p.markFormat);
        fresh_ = false;
    } else {
        cursor_.insertBlock(p.format, p.markFormat);
    }
    for (const Run& r : p.runs)
        cursor_.insertText(r.text, r.format);
}

void Parser::fillCell(QTextCursor c, const std::vector<Para>& paras)
{
    bool first = true;
    for (const Para& p : paras) {
        if (first) {
            c.setBlockFormat(p.format);
            c.setBlockCharFormat(p.markFormat);
            first = false;
        } else {
            c.insertBlock(p.format, p.markFormat);
        }
        for (const Run& r : p.runs)
            c.insertText(r.text, r.format);
    }
}

void Parser::emitRow(std::vector<Cell>& cells)
{
    const int columns = int(std::max(cells.size(), std::min(row_.cells.size(), size_t(RtfReader::kMaxColumns))));
    if (columns <= 0)
        return;
    if (tableCells_ + columns > kMaxTableCells) {
        // Beyond any real form: the rest is set as plain paragraphs, which cost far less.
        table_ = nullptr;
        for (const Cell& c : cells)
            for (const Para& p : c.paras)
                emitBody(p);
        return;
    }
    tableCells_ += columns;
    if (table_ && table_->columns() == columns) {
        table_->appendRows(1);
    } else {
        QTextTableFormat tf;
        tf.setBorder(0);
        tf.setBorderCollapse(true);
        tf.setCellSpacing(0);
        tf.setCellPadding(0);
        tf.setAlignment(row_.align);
        tf.setLeftMargin(pixels(std::clamp(row_.left, 0, kMaxTwips)));
        QList<QTextLength> widths;
        int previous = row_.left;
        for (int c = 0; c < columns; ++c) {
            if (c < int(row_.cells.size())) {
                const int right = row_.cells[size_t(c)].right;
                widths.append(QTextLength(QTextLength::FixedLength, pixels(std::clamp(right - previous, 15, kMaxTwips))));
                previous = right;
            } else {
                widths.append(QTextLength(QTextLength::VariableLength, 0));
            }
        }
        tf.setColumnWidthConstraints(widths);
        if (pageBreakNext_) {
            tf.setPageBreakPolicy(QTextFormat::PageBreak_AlwaysBefore);
            pageBreakNext_ = false;
        }
        if (!fresh_)
            cursor_.movePosition(QTextCursor::End);
        table_ = cursor_.insertTable(1, columns, tf);
        cursor_ = QTextCursor(doc_);
        cursor_.movePosition(QTextCursor::End);
        fresh_ = true;
    }
    const int row = table_->rows() - 1;
    for (int c = 0; c < columns; ++c) {
        QTextTableCell cell = table_->cellAt(row, c);
        QTextTableCellFormat cf;
        const qreal pad = pixels(std::clamp(row_.gap, 0, 1440));
        cf.setLeftPadding(pad);
        cf.setRightPadding(pad);
        cf.setTopPadding(1);
        cf.setBottomPadding(1);
        const CellDef def = c < int(row_.cells.size()) ? row_.cells[size_t(c)] : CellDef{};
        for (int side = Top; side <= Right; ++side) {
            Border b = def.border[size_t(side)];
            if (!b.set)
                b = row_.rowBorder[size_t(side)];
            const qreal width = b.on ? std::max<qreal>(1.0, pixels(std::clamp(b.width, 1, 150))) : 0;
            switch (side) {
            case Top: cf.setTopBorder(width); cf.setTopBorderStyle(b.style); break;
            case Left: cf.setLeftBorder(width); cf.setLeftBorderStyle(b.style); break;
            case Bottom: cf.setBottomBorder(width); cf.setBottomBorderStyle(b.style); break;
            case Right: cf.setRightBorder(width); cf.setRightBorderStyle(b.style); break;
            }
            if (b.on)
                cf.setBorderBrush(Qt::black);
        }
        if (c < int(cells.size())) {
            std::vector<Para>& paras = cells[size_t(c)].paras;
            // A row height gives the box its size even when there is nothing written in it.
            if (row_.height != 0 && paras.size() == 1)
                paras[0].format.setLineHeight(pixels(std::clamp(std::abs(row_.height), 0, kMaxTwips)) - 2,
                                              QTextBlockFormat::MinimumHeight);
            fillCell(cell.firstCursorPosition(), paras);
        }
        // The cell's own format shares its mark with the first paragraph's: set it last.
        QTextCharFormat merged = cell.format();
        merged.merge(cf);
        cell.setFormat(merged);
    }
}

void Parser::finish()
{
    // A file cut off inside a header ends the header first, then the body.
    if (pictureDepth_)
        pictureDepth_ = 0;
    if (partDepth_)
        endPart();
    // A file cut off inside a skipped group still ends in the text it was reading.
    while (stack_.size() > 1 && state().dest != Dest::Body)
        stack_.pop_back();
    if (paragraphHasContent())
        endParagraph();
    if (!rowCells_.empty() || !cell_.paras.empty())
        endRow();
}

} // namespace kestrel::rtf
