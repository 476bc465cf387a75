#include "exchange/ContactFit.h"

#include "data/modData.h"
#include "exchange/ImportRules.h"

#include <QSet>

namespace kestrel {

namespace {

struct Column {
    QString ContactRecord::*field;
    const char* label;
    int size;
    const char* target = nullptr; // the field's name in the CSV import, whose fitting rules apply
};

enum class Rule { Cut, Phone, State, Whole };

} // namespace

QString nameKey(const ContactRecord& r)
{
    return foldForMatch(r.firstname) + u'\x1f' + foldForMatch(r.lastname) + u'\x1f' + foldForMatch(r.company);
}

QString emailKey(const ContactRecord& r) { return foldForMatch(r.email); }

void fitContact(ContactRecord& r)
{
    // The sizes the contact editor accepts.
    static const struct {
        Column column;
        Rule rule;
    } columns[] = {
        {{&ContactRecord::lastname, "last name", 50}, Rule::Cut},
        {{&ContactRecord::firstname, "first name", 50}, Rule::Cut},
        {{&ContactRecord::company, "company", 25}, Rule::Cut},
        {{&ContactRecord::address, "address", 25}, Rule::Cut},
        {{&ContactRecord::city, "city", 25}, Rule::Cut},
        {{&ContactRecord::st, "state", 2, "ST"}, Rule::State},
        {{&ContactRecord::zip, "zip", 10}, Rule::Whole},
        {{&ContactRecord::homeph, "home phone", 12, "HomePh"}, Rule::Phone},
        {{&ContactRecord::cellph, "cell phone", 12, "CellPh"}, Rule::Phone},
        {{&ContactRecord::workph, "work phone", 12, "WorkPh"}, Rule::Phone},
        {{&ContactRecord::ext, "extension", 10}, Rule::Whole},
        {{&ContactRecord::email, "e-mail address", 50}, Rule::Whole},
    };
    for (const auto& c : columns) {
        QString& v = r.*(c.column.field);
        const QString label = QString::fromUtf8(c.column.label);
        if (c.rule == Rule::Cut && v.contains(u'\n')) { // the editor's boxes hold one line
            v.replace(QStringLiteral("\r\n"), QStringLiteral(", ")).replace(u'\n', QStringLiteral(", "));
        }
        if (v.size() <= c.column.size)
            continue;
        const QString was = v;
        switch (c.rule) {
        case Rule::Cut:
            v = LeftChars(was, c.column.size);
            r.problems += QStringLiteral("%1 cut to %2 characters, left out: %3").arg(label).arg(c.column.size).arg(was.mid(v.size()));
            break;
        case Rule::Phone:
        case Rule::State: {
            // The same rules as a CSV import: every digit kept, a state written out as its code.
            const Fitted fitted = fitValue(QString::fromLatin1(c.column.target), was);
            v = fitted.fits ? fitted.value : QString();
            if (fitted.fits && c.rule == Rule::State)
                r.problems += QStringLiteral("%1 %2 written as %3").arg(label, was, v);
            else if (fitted.fits)
                r.problems += QStringLiteral("%1 %2 %3: %4").arg(label, was, fitted.change, v);
            else
                r.problems += QStringLiteral("%1 %2 left out: %3").arg(label, was, fitted.change);
            break;
        }
        case Rule::Whole:
            v.clear();
            r.problems += QStringLiteral("%1 %2 left out: too long").arg(label, was);
            break;
        }
    }
}

std::vector<ContactRecord> removeDuplicates(std::vector<ContactRecord>& records, const std::vector<ContactRecord>& existing)
{
    QSet<QString> names, emails;
    const QString noName = nameKey(ContactRecord{});
    auto remember = [&](const ContactRecord& r) {
        if (const QString k = nameKey(r); k != noName)
            names.insert(k);
        if (const QString e = emailKey(r); !e.isEmpty())
            emails.insert(e);
    };
    for (const ContactRecord& r : existing)
        remember(r);
    std::vector<ContactRecord> kept, removed;
    for (ContactRecord& r : records) {
        const QString k = nameKey(r), e = emailKey(r);
        if (k != noName && names.contains(k)) {
            r.problems += QStringLiteral("skipped: a contact with this name and company is already there");
            removed.push_back(std::move(r));
        } else if (!e.isEmpty() && emails.contains(e)) {
            r.problems += QStringLiteral("skipped: a contact with this e-mail address is already there");
            removed.push_back(std::move(r));
        } else {
            remember(r);
            kept.push_back(std::move(r));
        }
    }
    records = std::move(kept);
    return removed;
}

} // namespace kestrel
