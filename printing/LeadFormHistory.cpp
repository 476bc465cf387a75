#include "printing/LeadFormHistory.h"

#include <QRegularExpression>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>

namespace kestrel {

namespace {

const QRegularExpression& tokenPattern()
{
    static const QRegularExpression token(QStringLiteral("<<History(?: +(\\d{1,3}))?>>"),
                                          QRegularExpression::CaseInsensitiveOption);
    return token;
}

int asked(const QRegularExpressionMatch& m)
{
    const int n = m.captured(1).isEmpty() ? kPanelEntries : m.captured(1).toInt();
    return std::clamp(n, 0, kMostPrintedEntries);
}

// A note prints as its own lines; other control characters (tabs would jump to the template's
// tab stops) print as blanks.
QString printable(const QString& note)
{
    QString out = note;
    out.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    for (QChar& c : out)
        if (c.category() == QChar::Other_Control && c != u'\n')
            c = u' ';
    return out.trimmed();
}

} // namespace

int HistoryEntriesAsked(const QTextDocument& form)
{
    int most = 0;
    for (QTextBlock b = form.begin(); b.isValid(); b = b.next())
        for (auto it = tokenPattern().globalMatch(b.text()); it.hasNext();)
            most = std::max(most, asked(it.next()));
    return most;
}

int FillLeadHistory(QTextDocument& form, const QString& name, const std::vector<HistoryEntry>& entries)
{
    int replaced = 0;
    // Found anew after each replacement: the text inserted moves what follows.
    for (QTextCursor at = form.find(tokenPattern()); !at.isNull(); at = form.find(tokenPattern(), at)) {
        const int count = asked(tokenPattern().match(at.selectedText()));
        // The format of the token's first character, not of what precedes it.
        QTextCursor first(&form);
        first.setPosition(at.selectionStart() + 1);
        const QTextCharFormat format = first.charFormat();
        at.removeSelectedText();
        ++replaced;
        if (name.isEmpty())
            continue;
        QTextCharFormat bold = format;
        bold.setFontWeight(QFont::Bold);
        at.insertText(name + QStringLiteral(" - ") + LastContactText(entries.empty() ? nullptr : &entries.front()), bold);
        const int shown = std::min<int>(count, int(entries.size()));
        for (int i = 0; i < shown; ++i) {
            at.insertBlock();
            at.insertText(HistoryLine(entries[size_t(i)]), format);
            const QString note = printable(entries[size_t(i)].note);
            if (note.isEmpty())
                continue;
            QTextCharFormat small = format;
            small.setFontItalic(true);
            for (const QString& line : note.split(u'\n')) {
                at.insertBlock();
                at.insertText(QStringLiteral("    ") + line, small);
            }
        }
    }
    return replaced;
}

} // namespace kestrel
