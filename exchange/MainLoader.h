#pragma once
// The one set of rules every import loads its rows by, whatever file the rows came from.
#include "data/Statement.h"
#include "formats/ImportRules.h"
#include "exchange/modImport.h"

#include <QSet>
#include <QStringList>

#include <optional>

namespace kestrel {

// What makes two contacts the same one: the same first and last name and company, or the same
// e-mail address, regardless of case and accents.
struct ContactKeys {
    QSet<QString> names;
    QSet<QString> emails;

    static QString nameKey(const QString& first, const QString& last, const QString& company)
    {
        // A firm without a person is known by its company alone.
        if (first.trimmed().isEmpty() && last.trimmed().isEmpty() && company.trimmed().isEmpty())
            return {};
        return foldForMatch(first) + u'\x1f' + foldForMatch(last) + u'\x1f' + foldForMatch(company);
    }
    bool matches(const QString& first, const QString& last, const QString& company, const QString& email) const
    {
        const QString e = foldForMatch(email);
        if (!e.isEmpty() && emails.contains(e))
            return true;
        const QString n = nameKey(first, last, company);
        return !n.isEmpty() && names.contains(n);
    }
};

// The names and e-mail addresses of the stored contacts, folded for matching.
ContactKeys storedContactKeys();
// A column name as the scratch table's statements quote it.
QString quotedName(const QString& name);

// Fills Main and KeptOut row by row by the one set of rules every import follows: each value made
// to fit its field where a rule can, a row that still does not fit kept out whole with its line,
// field and reason, a row that matches a stored contact marked.
class MainLoader {
public:
    // The targets of the values each row brings, and the names the file gives their sources.
    MainLoader(Connection& temp, const QStringList& targets, const QStringList& sourceNames, ImportSummary& sum)
        : temp_(temp), targets_(targets), sourceNames_(sourceNames), sum_(sum), stored_(storedContactKeys()),
          firstAt_(targetAt("FirstName")), lastAt_(targetAt("LastName")), companyAt_(targetAt("Company")),
          emailAt_(targetAt("Email")), countryAt_(targetAt("Country"))
    {
        QStringList columns;
        for (const QString& t : targets)
            columns << quotedName(t);
        const int n = int(targets.size());
        insert_.emplace(temp, QStringLiteral("insert into Main(%1,Line,Note,Dup)values(%2)")
                                  .arg(columns.join(u','), QStringLiteral("?,").repeated(n + 2) + u'?'),
                        Statement::Dialect::Native);
        keep_.emplace(temp, QStringLiteral("insert into KeptOut(Line,Field,Reason,Record)values(?,?,?,?)"),
                      Statement::Dialect::Native);
    }

    struct Outcome {
        bool keptOut = false;
        QString field, reason; // why it was kept out
        QStringList notes;     // what the preview says about a loaded row
        bool duplicate = false;
    };

    // values in the order of the targets; notes already known about the row come first in its note.
    Outcome add(qint64 line, const QStringList& raw, QStringList notes, const QByteArray& record)
    {
        Outcome out;
        values_.clear();
        qint64 changed = 0;
        const int n = int(targets_.size());
        const QString country = countryAt_ < 0 ? QString() : raw.value(countryAt_);
        for (int c = 0; c < n; ++c) {
            const Fitted fit = fitValue(targets_[c], raw.value(c), country);
            if (!fit.fits) {
                out.field = sourceNames_.value(c) + QStringLiteral(" (") + targets_[c] + u')';
                out.reason = fit.change;
                keepOut(line, out, record);
                return out;
            }
            if (!fit.change.isEmpty()) {
                ++changed;
                notes << QStringLiteral("%1 %2").arg(targets_[c], fit.change);
            }
            values_ << fit.value;
        }
        const auto at = [this](int i) { return i < 0 ? QString() : values_[i]; };
        out.duplicate = stored_.matches(at(firstAt_), at(lastAt_), at(companyAt_), at(emailAt_));
        if (out.duplicate)
            notes << QStringLiteral("matches a stored contact");
        for (int c = 0; c < n; ++c)
            insert_->bind(c + 1, values_[c]);
        insert_->bind(n + 1, line);
        if (notes.isEmpty())
            insert_->bindNull(n + 2);
        else
            insert_->bind(n + 2, notes.join(QStringLiteral("; ")));
        insert_->bind(n + 3, qint64(out.duplicate));
        try {
            insert_->run();
        } catch (const DbError& e) {
            if (!inTransaction(temp_))
                throw;
            // A rule the engine keeps that the fitting above does not know: the row stays out.
            out.reason = e.description();
            keepOut(line, out, record);
            return out;
        }
        out.notes = notes;
        ++sum_.loaded;
        sum_.madeToFit += changed;
        sum_.duplicates += out.duplicate;
        return out;
    }

    // A row the file's reader set aside whole, with why.
    void keepOutWhole(qint64 line, const QString& reason, const QByteArray& record)
    {
        Outcome out;
        out.reason = reason;
        keepOut(line, out, record);
    }

private:
    int targetAt(const char* name) const
    {
        for (qsizetype i = 0; i < targets_.size(); ++i)
            if (targets_[i].compare(QLatin1String(name), Qt::CaseInsensitive) == 0)
                return int(i);
        return -1;
    }
    void keepOut(qint64 line, Outcome& out, const QByteArray& record)
    {
        out.keptOut = true;
        keep_->bind(1, line);
        keep_->bind(2, out.field);
        keep_->bind(3, out.reason);
        keep_->bindUtf8(4, record.constData(), int(record.size()));
        keep_->run();
        ++sum_.keptOut;
    }

    Connection& temp_;
    const QStringList targets_, sourceNames_;
    ImportSummary& sum_;
    const ContactKeys stored_;
    const int firstAt_, lastAt_, companyAt_, emailAt_, countryAt_;
    std::optional<Statement> insert_, keep_;
    QStringList values_;
};

} // namespace kestrel
