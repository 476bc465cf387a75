// The query the import reads a file through, in place of a database's text driver: its
// header's names, and "select <columns> from <file>" over the records of a CSV file or a sheet.
#include "formats/CsvText.h"

#include "data/Database.h"

#include <climits>

namespace kestrel {

QStringList readCsvHeader(const QString& path)
{
    const std::unique_ptr<RecordFile> file = openRecordFile(path);
    CsvRecord header;
    if (!file->next(header))
        throw DbError(kTextFileError,
                      QStringLiteral("The file '%1' is empty: it has no header line naming its columns").arg(path));
    QStringList names;
    names.reserve(qsizetype(header.size()));
    for (const CsvField& f : header)
        names << f.value_or(QString());
    return names;
}

namespace {

// Reads "select <columns> from <file>": a column is a bare name or a bracketed one, either with
// an optional "as alias".
class StatementParser {
public:
    explicit StatementParser(const QString& s) : s_(s) {}

    struct Parsed {
        std::vector<std::pair<QString, QString>> columns; // name, alias
        QString file;
    };

    Parsed parse()
    {
        Parsed out;
        skipBlanks();
        if (!keyword(u"select"))
            bad(QStringLiteral("it must begin with select"));
        for (;;) {
            skipBlanks();
            const QString name = identifier();
            QString alias = name;
            skipBlanks();
            if (keyword(u"as")) {
                skipBlanks();
                alias = identifier();
                skipBlanks();
            }
            out.columns.emplace_back(name, alias);
            if (at_ < s_.size() && s_[at_] == u',') {
                ++at_;
                continue;
            }
            if (!keyword(u"from"))
                bad(QStringLiteral("a comma or from is missing at position %1").arg(at_ + 1));
            break;
        }
        out.file = s_.mid(at_).trimmed();
        if (out.file.isEmpty())
            bad(QStringLiteral("the file name is missing after from"));
        return out;
    }

private:
    [[noreturn]] void bad(const QString& why)
    {
        throw DbError(kTextBadStatement, QStringLiteral("Syntax error in the query '%1': %2").arg(s_, why));
    }

    void skipBlanks()
    {
        while (at_ < s_.size() && s_[at_].isSpace())
            ++at_;
    }

    // The word at the current place, followed by a blank; consumed when it matches.
    bool keyword(QStringView word)
    {
        const qsizetype end = at_ + word.size();
        if (end >= s_.size() || !s_[end].isSpace())
            return false;
        if (QStringView(s_).mid(at_, word.size()).compare(word, Qt::CaseInsensitive) != 0)
            return false;
        at_ = end + 1;
        return true;
    }

    QString identifier()
    {
        if (at_ < s_.size() && s_[at_] == u'[') {
            QString name;
            for (qsizetype i = at_ + 1; i < s_.size(); ++i) {
                if (s_[i] == u']') {
                    if (i + 1 < s_.size() && s_[i + 1] == u']') {
                        name += u']';
                        ++i;
                        continue;
                    }
                    at_ = i + 1;
                    return name;
                }
                name += s_[i];
            }
            bad(QStringLiteral("a closing bracket is missing"));
        }
        const qsizetype start = at_;
        while (at_ < s_.size() && s_[at_] != u',' && !s_[at_].isSpace())
            ++at_;
        if (at_ == start)
            bad(QStringLiteral("a column name is missing at position %1").arg(start + 1));
        return s_.mid(start, at_ - start);
    }

    const QString& s_;
    qsizetype at_ = 0;
};

} // namespace

TextQuery::TextQuery(const QString& folder, const QString& statement)
{
    const StatementParser::Parsed parsed = StatementParser(statement).parse();
    QString dir = folder;
    if (!dir.isEmpty() && !dir.endsWith(u'/'))
        dir += u'/';
    const QString path = dir + parsed.file;
    file_ = openRecordFile(path);

    CsvRecord& header = header_;
    if (!file_->next(header))
        throw DbError(kTextFileError,
                      QStringLiteral("The file '%1' is empty: it has no header line naming its columns").arg(path));
    std::vector<QString> names;
    names.reserve(header.size());
    for (const CsvField& f : header)
        names.push_back(f.value_or(QString()).trimmed());
    std::vector<int> taken(header.size(), 0); // how often each header column was asked for

    for (const auto& [name, alias] : parsed.columns) {
        const QString wanted = name.trimmed();
        int found = -1;
        int fewest = INT_MAX;
        // A name the header holds twice goes to its first copy, then to the next one, and so on.
        for (size_t i = 0; i < names.size(); ++i) {
            if (names[i].compare(wanted, Qt::CaseInsensitive) == 0 && taken[i] < fewest) {
                found = int(i);
                fewest = taken[i];
            }
        }
        if (found < 0)
            throw DbError(kTextNoSuchColumn, QStringLiteral("The column '%1' is not in the header line of '%2'")
                                                 .arg(name, parsed.file));
        ++taken[size_t(found)];
        columns_.push_back({name, alias, found});
    }
    values_.resize(columns_.size());
}

TextQuery::~TextQuery() = default;

QString TextQuery::fieldName(int column) const { return columns_[size_t(column)].alias; }

bool TextQuery::next()
{
    if (!file_->next(record_))
        return false;
    for (size_t c = 0; c < columns_.size(); ++c) {
        const size_t from = size_t(columns_[c].source);
        if (from < record_.size())
            values_[c] = record_[from];
        else
            values_[c].reset();
    }
    return true;
}

} // namespace kestrel
