#include "formats/VCardPatch.h"

#include "data/modData.h"

#include <algorithm>
#include <map>

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

// What the card's notes gained from its ORG line: a department the company field had no room for
// ("\nDepartment: Sales"), found as what the notes lose when the ORG line is left out.
QString departmentInNotes(const QByteArray& text, const CardOrigins& from)
{
    const auto org = from.constFind("company");
    if (org == from.constEnd())
        return {};
    const CardLine line = withBreak(text, *org);
    const std::vector<ContactRecord> with = readVCards(text);
    const std::vector<ContactRecord> without = readVCards(QByteArray(text).remove(line.start, line.end - line.start));
    if (with.empty() || without.empty() || !with.front().notes.startsWith(without.front().notes))
        return {};
    return with.front().notes.mid(without.front().notes.size());
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
    // A department kept in the notes stays in the ORG line it came from while that line stays:
    // written into the note as well, it would come back twice.
    if (changed.contains("notes") && !changed.contains("company")) {
        const QString department = departmentInNotes(text, from);
        if (!department.isEmpty() && fresh.notes.endsWith(department))
            fresh.notes.chop(department.size());
    }
    QList<QByteArray> freshTexts;
    std::vector<CardOrigins> freshOrigins;
    readVCards(writeVCards({fresh}, version), &freshTexts, &freshOrigins);

    // Each changed line is written anew where it stood, so that it keeps its place ahead of
    // lines of the same kind (a phone's second mobile number stays second); a field the card
    // did not have goes at its end.
    struct Edit {
        CardLine old;
        QByteArray lines;
    };
    std::map<qsizetype, Edit> edits;
    QByteArray appended;
    QSet<qsizetype> written;
    auto categories = [&](QByteArray line) {
        if (from.contains("contype")) {
            const CardLine c = from["contype"];
            const QList<QByteArray> others = otherCategories(text.mid(c.start, c.end - c.start));
            if (!others.isEmpty())
                line += (line.endsWith(':') ? "" : ",") + others.join(',');
        }
        return line;
    };
    for (const QByteArray& f : changed) {
        QByteArray line;
        if (const auto now = freshOrigins.front().constFind(f); now != freshOrigins.front().constEnd()) {
            if (!written.contains(now->start)) {
                written.insert(now->start);
                line = freshTexts.front().mid(now->start, now->end - now->start);
                if (f == "contype")
                    line = categories(line);
                line += "\r\n";
            }
        } else if (f == "contype") {
            // Categories of the phone's own stay when the contact type is emptied.
            const QByteArray rest = categories("CATEGORIES:");
            if (rest != "CATEGORIES:")
                line = rest + "\r\n";
        }
        if (const auto old = from.constFind(f); old != from.constEnd()) {
            Edit& e = edits[old->start];
            e.old = withBreak(text, *old);
            e.lines += line;
            // The other lines joined into the field are in the one written: they go.
            for (const CardLine& more : old->more)
                edits[more.start].old = withBreak(text, more);
        } else {
            appended += line;
        }
    }
    QByteArray out = text;
    for (auto it = edits.rbegin(); it != edits.rend(); ++it)
        out.replace(it->second.old.start, it->second.old.end - it->second.old.start, it->second.lines);
    qsizetype end = out.toUpper().lastIndexOf("END:VCARD");
    if (end < 0) {
        out += "\r\nEND:VCARD";
        end = out.size() - 9;
    }
    out.insert(end, appended);
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
