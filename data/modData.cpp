#include "data/modData.h"

#include "data/Database.h"
#include "platform/Platform.h"

#include <sqlite3.h>

namespace kestrel {

const char* const kContactsSchema = R"sql(
CREATE TABLE contacts(
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  lastname TEXT COLLATE NOCASE,
  firstname TEXT COLLATE NOCASE,
  company TEXT COLLATE NOCASE,
  address TEXT COLLATE NOCASE,
  city TEXT COLLATE NOCASE,
  st TEXT COLLATE NOCASE,
  zip TEXT COLLATE NOCASE,
  homeph TEXT COLLATE NOCASE,
  cellph TEXT COLLATE NOCASE,
  workph TEXT COLLATE NOCASE,
  ext TEXT COLLATE NOCASE,
  email TEXT COLLATE NOCASE,
  active BOOLEAN DEFAULT 1,
  contype TEXT COLLATE NOCASE);
CREATE INDEX contacts_by_name ON contacts(lastname, firstname, address);
CREATE INDEX contacts_by_type ON contacts(contype, lastname, firstname, address);
CREATE TABLE appointments(
  autoid INTEGER PRIMARY KEY AUTOINCREMENT,
  name TEXT COLLATE NOCASE,
  address TEXT COLLATE NOCASE,
  apptdate DATE,
  appttime TIME,
  apptbrief TEXT COLLATE NOCASE,
  apptnotes TEXT COLLATE NOCASE);
CREATE INDEX appointments_by_date ON appointments(apptdate, appttime)
)sql";

const char* const kMainSchema = R"sql(
CREATE TABLE todo(
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  todo TEXT COLLATE NOCASE)
)sql";

void registerSchemas()
{
    registerSchema(QStringLiteral("contacts.mdb"), QString::fromUtf8(kContactsSchema));
    registerSchema(QStringLiteral("kestrel.mdb"), QString::fromUtf8(kMainSchema));
}

bool ActionQuery(const QString& statement, const QString& connectionText)
{
    try {
        Connection connection(connectionText);
        connection.execute(statement);
        return true;
    } catch (const DbError& e) {
        ReportBug(ErrorReport(e, QStringLiteral("ActionQuery"), Owner::Module, QStringLiteral("modData")) +
                  QStringLiteral("\r\n"));
    } catch (const std::exception& e) {
        ReportBug(ErrorReport(e, QStringLiteral("ActionQuery"), Owner::Module, QStringLiteral("modData")) +
                  QStringLiteral("\r\n"));
    }
    return false;
}

int ActionQueryCount(const QString& statement, const QString& connectionText)
{
    try {
        Connection connection(connectionText);
        // A pooled connection remembers the count of its previous statement; the difference of
        // the running totals belongs to this statement alone.
        const sqlite3_int64 before = sqlite3_total_changes64(connection.handle());
        connection.execute(statement);
        return int(sqlite3_total_changes64(connection.handle()) - before);
    } catch (const std::exception& e) {
        ReportBug(ErrorReport(e, QStringLiteral("ActionQuery"), Owner::Module, QStringLiteral("modData")) +
                  QStringLiteral("\r\n"));
    }
    return -1;
}

void ReportBug(const QString& text)
{
    platform().msgBox(text + QStringLiteral("Please make note of this and report this bug to help make this software better."));
}

QString ErrorReport(long number, const QString& description, const QString& procedure, Owner kind, const QString& owner)
{
    return QStringLiteral("Error %1 (%2) in procedure %3 of %4 %5")
        .arg(QString::number(number), description, procedure,
             kind == Owner::Form ? QStringLiteral("Form") : QStringLiteral("Module"), owner);
}

QString ErrorReport(const DbError& e, const QString& procedure, Owner kind, const QString& owner)
{
    return ErrorReport(e.number(), e.description(), procedure, kind, owner);
}

QString ErrorReport(const std::exception& e, const QString& procedure, Owner kind, const QString& owner)
{
    if (const auto* db = dynamic_cast<const DbError*>(&e))
        return ErrorReport(*db, procedure, kind, owner);
    return ErrorReport(5, QString::fromUtf8(e.what()), procedure, kind, owner);
}

void ShowErrorReport(const QString& report) { platform().msgBox(report); }

QString LeftChars(const QString& value, int max)
{
    if (max < 0 || value.size() <= max)
        return value;
    qsizetype n = max;
    // Never keep half of a surrogate pair.
    if (n > 0 && value.at(n - 1).isHighSurrogate())
        --n;
    return value.left(n);
}

QString Quoted(const QString& value)
{
    QString out = value;
    out.replace(u'\'', QStringLiteral("''"));
    return out;
}

QString CutQuoted(const QString& value, int max) { return Quoted(LeftChars(value, max)); }

QString DateText(const QDate& d) { return QStringLiteral("%1/%2/%3").arg(d.month()).arg(d.day()).arg(d.year()); }

QString TimeText(const QTime& t)
{
    const int h12 = t.hour() % 12 == 0 ? 12 : t.hour() % 12;
    return QStringLiteral("%1:%2 %3")
        .arg(h12)
        .arg(t.minute(), 2, 10, QLatin1Char('0'))
        .arg(t.hour() < 12 ? QStringLiteral("AM") : QStringLiteral("PM"));
}

QString BoolWord(bool b) { return b ? QStringLiteral("True") : QStringLiteral("False"); }

} // namespace kestrel
