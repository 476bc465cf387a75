#include "data/ContactFields.h"

#include <QDate>
#include <QRegularExpression>
#include <QUrl>

namespace kestrel {

namespace {

// Sizes made for international data: a German mobile number with its blanks, a Japanese region,
// a street of a hundred characters, the longest e-mail address the mail standards allow.
constexpr std::array<ContactField, cf::Count> kFields = {{
    {"lastname", "LastName", "Last Name", 50, 0},
    {"firstname", "FirstName", "First Name", 50, 1},
    {"company", "Company", "Company", 100, 10},
    {"address", "Address", "Address", 100, 2},
    {"city", "City", "City", 50, 3},
    {"st", "ST", "State", 50, 4},
    {"zip", "Zip", "Zip", 20, 5},
    {"cellph", "CellPh", "Cell Phone", 30, 11},
    {"homeph", "HomePh", "Home Phone", 30, 6},
    {"workph", "WorkPh", "Work", 30, 7},
    {"ext", "Ext", "Ext", 10, 8},
    {"email", "Email", "Email", 254, 9},
    {"country", "Country", "Country", 50, 13},
    {"jobtitle", "JobTitle", "Job Title", 100, 14},
    {"website", "WebSite", "Web Site", 500, 15},
    {"birthday", "Birthday", "Birthday", 10, 16},
    {"notes", "Notes", "Notes", 10000, 17},
    {"contype", "ConType", "Contact Type", 8, 12},
}};

} // namespace

const std::array<ContactField, cf::Count>& contactFields() { return kFields; }

int contactFieldIndex(const QString& name)
{
    for (int i = 0; i < cf::Count; ++i)
        if (name.compare(QLatin1String(kFields[i].column), Qt::CaseInsensitive) == 0 ||
            name.compare(QLatin1String(kFields[i].target), Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

QString contactColumns(std::initializer_list<int> fields)
{
    QStringList out;
    for (const int f : fields)
        out << QLatin1String(kFields[f].column);
    return out.join(u',');
}

QString allContactColumns()
{
    QStringList out;
    for (const ContactField& f : kFields)
        out << QLatin1String(f.column);
    return out.join(u',');
}

QStringList laterContactColumns()
{
    QStringList out;
    for (int f = 0; f < cf::Count; ++f)
        if (cf::isLater(f))
            out << QLatin1String(kFields[f].column);
    return out;
}

bool birthdayParts(const QString& stored, int* year, int* month, int* day)
{
    static const QRegularExpression re(QStringLiteral("^(?:(\\d{4})-|--)(\\d{2})-(\\d{2})$"));
    const auto m = re.match(stored);
    if (!m.hasMatch())
        return false;
    *year = m.captured(1).isEmpty() ? 0 : m.captured(1).toInt();
    *month = m.captured(2).toInt();
    *day = m.captured(3).toInt();
    return true;
}

std::optional<QString> parseBirthday(const QString& text)
{
    QString t = text.trimmed();
    if (t.isEmpty())
        return QString();
    // A date with a time after it (some phones write midnight UTC): the date alone.
    if (const qsizetype at = t.indexOf(u'T'); at >= 8)
        t.truncate(at);
    int y = 0, m = 0, d = 0;
    QRegularExpressionMatch hit;
    static const QRegularExpression usual(QStringLiteral("^(\\d{1,2})/(\\d{1,2})(?:/(\\d{4}))?$"));
    static const QRegularExpression iso(QStringLiteral("^(\\d{4})-?(\\d{2})-?(\\d{2})$"));
    static const QRegularExpression noYear(QStringLiteral("^--(\\d{2})-?(\\d{2})$"));
    if ((hit = usual.match(t)).hasMatch()) {
        m = hit.captured(1).toInt();
        d = hit.captured(2).toInt();
        y = hit.captured(3).isEmpty() ? 0 : hit.captured(3).toInt();
    } else if ((hit = iso.match(t)).hasMatch()) {
        y = hit.captured(1).toInt();
        m = hit.captured(2).toInt();
        d = hit.captured(3).toInt();
    } else if ((hit = noYear.match(t)).hasMatch()) {
        m = hit.captured(1).toInt();
        d = hit.captured(2).toInt();
    } else {
        return std::nullopt;
    }
    // Without a year, 29 February is a day of the calendar (it comes every fourth year).
    if (y == 0 ? !QDate(2000, m, d).isValid() : (y < 1 || !QDate(y, m, d).isValid()))
        return std::nullopt;
    const QString md = QStringLiteral("%1-%2").arg(m, 2, 10, QLatin1Char('0')).arg(d, 2, 10, QLatin1Char('0'));
    return y == 0 ? QStringLiteral("--") + md : QStringLiteral("%1-").arg(y, 4, 10, QLatin1Char('0')) + md;
}

QString birthdayText(const QString& stored)
{
    int y = 0, m = 0, d = 0;
    if (!birthdayParts(stored, &y, &m, &d))
        return stored;
    return y == 0 ? QStringLiteral("%1/%2").arg(m).arg(d) : QStringLiteral("%1/%2/%3").arg(m).arg(d).arg(y);
}

QString webLink(const QString& stored)
{
    const QString t = stored.trimmed();
    if (t.isEmpty())
        return {};
    static const QRegularExpression scheme(QStringLiteral("^([A-Za-z][A-Za-z0-9+.-]*):"));
    const auto m = scheme.match(t);
    // "example.com:8080/x" names a port, not a scheme: a scheme is followed by "//" or stands alone
    // before something that is not a port number.
    const bool hasScheme = m.hasMatch() && !QRegularExpression(QStringLiteral("^[^:/]+:\\d+(/|$)")).match(t).hasMatch();
    const QString candidate = hasScheme ? t : QStringLiteral("https://") + t;
    const QUrl url(candidate);
    const QString s = url.scheme().toLower();
    if (!url.isValid() || (s != u"http" && s != u"https") || url.host().isEmpty())
        return {};
    return url.toString(QUrl::FullyEncoded);
}

} // namespace kestrel
