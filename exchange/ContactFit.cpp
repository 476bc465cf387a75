#include "exchange/ContactFit.h"

#include "data/modData.h"

#include <QHash>
#include <QSet>

namespace kestrel {

namespace {

QString folded(const QString& s)
{
    const QString d = s.normalized(QString::NormalizationForm_D);
    QString out;
    out.reserve(d.size());
    for (const QChar c : d)
        if (!c.isMark())
            out += c;
    return out.simplified().toCaseFolded();
}

const QHash<QString, QString>& stateCodes()
{
    static const QHash<QString, QString> codes = [] {
        const char* const pairs[][2] = {
            {"Alabama", "AL"}, {"Alaska", "AK"}, {"Arizona", "AZ"}, {"Arkansas", "AR"}, {"California", "CA"},
            {"Colorado", "CO"}, {"Connecticut", "CT"}, {"Delaware", "DE"}, {"District of Columbia", "DC"},
            {"Florida", "FL"}, {"Georgia", "GA"}, {"Hawaii", "HI"}, {"Idaho", "ID"}, {"Illinois", "IL"},
            {"Indiana", "IN"}, {"Iowa", "IA"}, {"Kansas", "KS"}, {"Kentucky", "KY"}, {"Louisiana", "LA"},
            {"Maine", "ME"}, {"Maryland", "MD"}, {"Massachusetts", "MA"}, {"Michigan", "MI"}, {"Minnesota", "MN"},
            {"Mississippi", "MS"}, {"Missouri", "MO"}, {"Montana", "MT"}, {"Nebraska", "NE"}, {"Nevada", "NV"},
            {"New Hampshire", "NH"}, {"New Jersey", "NJ"}, {"New Mexico", "NM"}, {"New York", "NY"},
            {"North Carolina", "NC"}, {"North Dakota", "ND"}, {"Ohio", "OH"}, {"Oklahoma", "OK"}, {"Oregon", "OR"},
            {"Pennsylvania", "PA"}, {"Rhode Island", "RI"}, {"South Carolina", "SC"}, {"South Dakota", "SD"},
            {"Tennessee", "TN"}, {"Texas", "TX"}, {"Utah", "UT"}, {"Vermont", "VT"}, {"Virginia", "VA"},
            {"Washington", "WA"}, {"West Virginia", "WV"}, {"Wisconsin", "WI"}, {"Wyoming", "WY"},
            {"American Samoa", "AS"}, {"Guam", "GU"}, {"Northern Mariana Islands", "MP"}, {"Puerto Rico", "PR"},
            {"U.S. Virgin Islands", "VI"}, {"Virgin Islands", "VI"},
            {"Alberta", "AB"}, {"British Columbia", "BC"}, {"Manitoba", "MB"}, {"New Brunswick", "NB"},
            {"Newfoundland and Labrador", "NL"}, {"Newfoundland", "NL"}, {"Nova Scotia", "NS"},
            {"Northwest Territories", "NT"}, {"Nunavut", "NU"}, {"Ontario", "ON"}, {"Prince Edward Island", "PE"},
            {"Quebec", "QC"}, {"Saskatchewan", "SK"}, {"Yukon", "YT"}};
        QHash<QString, QString> h;
        for (const auto& p : pairs)
            h.insert(folded(QString::fromUtf8(p[0])), QString::fromUtf8(p[1]));
        return h;
    }();
    return codes;
}

struct Column {
    QString ContactRecord::*field;
    const char* label;
    int size;
};

enum class Rule { Cut, Phone, State, Whole };

} // namespace

QString stateCode(const QString& name) { return stateCodes().value(folded(name)); }

QString nameKey(const ContactRecord& r)
{
    return folded(r.firstname) + u'\x1f' + folded(r.lastname) + u'\x1f' + folded(r.company);
}

QString emailKey(const ContactRecord& r) { return folded(r.email); }

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
        {{&ContactRecord::st, "state", 2}, Rule::State},
        {{&ContactRecord::zip, "zip", 10}, Rule::Whole},
        {{&ContactRecord::homeph, "home phone", 12}, Rule::Phone},
        {{&ContactRecord::cellph, "cell phone", 12}, Rule::Phone},
        {{&ContactRecord::workph, "work phone", 12}, Rule::Phone},
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
        case Rule::Phone: {
            QString digits;
            for (const QChar ch : was)
                if (ch.isDigit() || (ch == u'+' && digits.isEmpty()))
                    digits += ch;
            if (digits.size() <= c.column.size) {
                v = digits;
                r.problems += QStringLiteral("%1 %2 written without its formatting: %3").arg(label, was, v);
            } else {
                v.clear();
                r.problems += QStringLiteral("%1 %2 left out: too long").arg(label, was);
            }
            break;
        }
        case Rule::State: {
            const QString code = stateCode(was);
            v = code;
            if (code.isEmpty())
                r.problems += QStringLiteral("state %1 left out: not a US state or Canadian province").arg(was);
            else
                r.problems += QStringLiteral("state %1 written as %2").arg(was, code);
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
