#include "formats/VCardPatch.h"

#include "data/modData.h"

#include <algorithm>

namespace kestrel {

VCardVersion vCardVersionOf(const QByteArray& card)
{
    const qsizetype at = card.toUpper().indexOf("\nVERSION:");
    return at >= 0 && card.mid(at + 9, 3) == "4.0" ? VCardVersion::V4 : VCardVersion::V3;
}

namespace {

// The line at [start, end) with the line break after it.
CardLine withBreak(const QByteArray& text, CardLine line)
{
    if (line.end < text.size() && text[line.end] == '\r')
        ++line.end;
    if (line.end < text.size() && text[line.end] == '\n')
        ++line.end;
    return line;
}

// The categories of a CATEGORIES line other than the contact types.
QList<QByteArray> otherCategories(const QByteArray& line)
{
    QList<QByteArray> out;
    const qsizetype colon = line.indexOf(':');
    if (colon < 0)
        return out;
    QByteArray cur;
    const QByteArray value = line.mid(colon + 1);
    auto keep = [&] {
        QByteArray c = cur.trimmed();
        QByteArray plain = c;
        plain.replace("\\,", ",").replace("\\\\", "\\");
        if (!c.isEmpty() && !kContactTypes.contains(QString::fromUtf8(plain)))
            out << c;
        cur.clear();
    };
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value[i] == '\\' && i + 1 < value.size()) {
            cur += value[i];
            cur += value[++i];
        } else if (value[i] == ',') {
            keep();
        } else if (value[i] != '\r' && value[i] != '\n') {
            cur += value[i];
        }
    }
    keep();
    return out;
}

} // namespace

QByteArray patchVCard(const QByteArray& card, const ContactRecord& values, const QSet<QByteArray>& fields)
{
    QList<QByteArray> texts;
    std::vector<CardOrigins> origins;
    readVCards(card, &texts, &origins);
    const VCardVersion version = vCardVersionOf(card);
    if (texts.isEmpty())
        return writeVCards({values}, version);
    const QByteArray& text = texts.front();
    const CardOrigins& from = origins.front();

    QSet<QByteArray> changed = fields;
    // The formatted name is what a phone shows: it follows the name it was made from.
    if (fields.contains("lastname") || fields.contains("firstname") ||
        (fields.contains("company") && values.lastname.isEmpty() && values.firstname.isEmpty()))
        changed.insert("fn");

    ContactRecord fresh = values;
    fresh.uid.clear();
    QList<QByteArray> freshTexts;
    std::vector<CardOrigins> freshOrigins;
    readVCards(writeVCards({fresh}, version), &freshTexts, &freshOrigins);

    std::vector<CardLine> removed;
    QList<QByteArray> added;
    QSet<qsizetype> addedAt;
    for (const QByteArray& f : changed) {
        if (const auto old = from.constFind(f); old != from.constEnd()) {
            const CardLine line = withBreak(text, *old);
            if (std::none_of(removed.begin(), removed.end(), [&](const CardLine& l) { return l.start == line.start; }))
                removed.push_back(line);
        }
        if (const auto now = freshOrigins.front().constFind(f); now != freshOrigins.front().constEnd()) {
            if (addedAt.contains(now->start))
                continue;
            addedAt.insert(now->start);
            QByteArray line = freshTexts.front().mid(now->start, now->end - now->start);
            if (f == "contype" && from.contains("contype")) {
                const QList<QByteArray> others =
                    otherCategories(text.mid(from["contype"].start, from["contype"].end - from["contype"].start));
                if (!others.isEmpty())
                    line += ',' + others.join(',');
            }
            added << line;
        }
    }
    // Categories of the phone's own stay when the contact type is emptied.
    if (changed.contains("contype") && values.contype.isEmpty() && from.contains("contype")) {
        const QList<QByteArray> others =
            otherCategories(text.mid(from["contype"].start, from["contype"].end - from["contype"].start));
        if (!others.isEmpty())
            added << "CATEGORIES:" + others.join(',');
    }

    QByteArray out = text;
    std::sort(removed.begin(), removed.end(), [](const CardLine& a, const CardLine& b) { return a.start > b.start; });
    for (const CardLine& l : removed)
        out.remove(l.start, l.end - l.start);
    qsizetype end = out.toUpper().lastIndexOf("END:VCARD");
    if (end < 0) {
        out += "\r\nEND:VCARD";
        end = out.size() - 9;
    }
    QByteArray insert;
    for (const QByteArray& line : added)
        insert += line + "\r\n";
    out.insert(end, insert);
    return out + "\r\n";
}

ContactRecord asCardReadsBack(const ContactRecord& values)
{
    std::vector<ContactRecord> back = readVCards(writeVCards({values}, VCardVersion::V4));
    if (back.empty())
        return values;
    ContactRecord r = std::move(back.front());
    r.id = values.id;
    r.line = values.line;
    r.problems.clear();
    return r;
}

} // namespace kestrel
