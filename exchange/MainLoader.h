#pragma once
// The one set of rules every import loads its rows by, whatever file the rows came from.
#include "data/ContactFields.h"
#include "data/ContactMatch.h"
#include "data/Globals.h"
#include "data/Statement.h"
#include "formats/ImportRules.h"
#include "exchange/modImport.h"

#include <QStringList>

#include <optional>

namespace kestrel {

// A column name as the scratch table's statements quote it.
QString quotedName(const QString& name);

// Fills Main and KeptOut row by row by the one set of rules every import follows: each value made
// to fit its field where a rule can, a row that still does not fit kept out whole with its line,
// field and reason, a row that is (or possibly is) a stored contact marked (Dup 1, or 2).
class MainLoader {
public:
    // The targets of the values each row brings, and the names the file gives their sources.
    MainLoader(Connection& temp, const QStringList& targets, const QStringList& sourceNames, ImportSummary& sum)
        : temp_(temp), targets_(targets), sourceNames_(sourceNames), sum_(sum), stored_(ContactIndex::ofStored(sConnContacts)),
          countryAt_(targetAt("Country"))
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
        bool duplicate = false; // the same as a stored contact
        bool possibly = false;  // possibly the same: imported unless unticked
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
        ContactRecord row;
        for (int c = 0; c < n; ++c)
            if (const int f = fieldAt_[size_t(c)]; f >= 0)
                row.value(f) = values_[c];
        const ContactIndex::Found found = stored_.find(matchKeys(row));
        out.duplicate = found.likeness == Likeness::Same;
        out.possibly = found.likeness == Likeness::Possibly;
        if (out.duplicate)
            notes << QStringLiteral("matches a stored contact");
        else if (out.possibly)
            notes << QStringLiteral("possibly the same as %1").arg(found.name);
        for (int c = 0; c < n; ++c)
            insert_->bind(c + 1, values_[c]);
        insert_->bind(n + 1, line);
        if (notes.isEmpty())
            insert_->bindNull(n + 2);
        else
            insert_->bind(n + 2, notes.join(QStringLiteral("; ")));
        insert_->bind(n + 3, qint64(out.duplicate ? 1 : out.possibly ? 2 : 0));
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
        sum_.possibleDuplicates += out.possibly;
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
    static std::vector<int> fieldsOf(const QStringList& targets)
    {
        std::vector<int> out;
        for (const QString& t : targets)
            out.push_back(contactFieldIndex(t));
        return out;
    }
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
    const ContactIndex stored_;
    const int countryAt_;
    std::vector<int> fieldAt_ = fieldsOf(targets_); // per value, its place in contactFields()
    std::optional<Statement> insert_, keep_;
    QStringList values_;
};

} // namespace kestrel
