#include "bench/generate.h"

#include "data/Database.h"
#include "data/Globals.h"
#include "data/Statement.h"
#include "data/modData.h"
#include "platform/HeadlessPlatform.h"

#include <QTemporaryDir>

#include <memory>
#include <random>
#include <vector>

namespace kestrel::bench {

namespace {
const char* const kLast[] = {"Smith", "O'Brien", "Johnson", "Émile", "Williams", "Brown", "Jones", "García",
                             "Miller", "Davis", "Rodríguez", "Martinez", "Hernández", "Lopez", "Gonzalez",
                             "Wilson", "Anderson", "Thomas", "Taylor", "Moore", "Jackson", "Martin", "Lee",
                             "Perez", "Thompson", "White", "Harris", "Sánchez", "Clark", "Ramirez", "Lewis",
                             "Robinson", "Walker", "Young", "Allen", "King", "Wright", "Scott", "Torres",
                             "Nguyen", "Hill", "Flores", "Green", "Adams", "Nelson", "Baker", "Hall", "Rivera",
                             "Campbell", "Mitchell", "Carter", "Roberts", "D'Angelo", "Østergaard", "Quinn",
                             "Underwood", "Vance", "Xu", "Yates", "Zimmerman", "Ibsen", "Kowalski", "Eriksen"};
const char* const kFirst[] = {"James", "Mary", "Zoë", "Robert", "Patricia", "John", "Jennifer", "Michael",
                              "Linda", "David", "Elizabeth", "William", "Barbara", "Renée", "Susan", "José",
                              "Jessica", "Thomas", "Sarah", "Charles", "Karen", "Siobhán", "Nancy", "Daniel"};
const char* const kStreet[] = {"Oak St", "Main St", "Elm Ave", "Maple Dr", "Cedar Ln", "Pine Rd", "Lake View"};
const char* const kTypes[] = {"Lead", "Cust", "Contact", "Personal"};

std::vector<std::unique_ptr<QTemporaryDir>>& dirs()
{
    static std::vector<std::unique_ptr<QTemporaryDir>> d;
    return d;
}

template <class T, size_t N> const char* pick(std::mt19937& rng, T (&arr)[N]) { return arr[rng() % N]; }
} // namespace


QString freshProgramDir()
{
    // Benchmarks run without a screen: whatever the program would tell the user goes to stderr.
    static HeadlessPlatform quiet;
    setPlatform(&quiet);
    releaseAllDatabaseFiles();
    registerSchemas();
    dirs().push_back(std::make_unique<QTemporaryDir>());
    // Kept for a look in a real window at the size measured: KESTREL_BENCH_KEEP=1 names it.
    if (qEnvironmentVariableIsSet("KESTREL_BENCH_KEEP")) {
        dirs().back()->setAutoRemove(false);
        qInfo("program folder kept: %s", qPrintable(dirs().back()->path()));
    }
    setProgramDir(dirs().back()->path());
    buildConnectionTexts();
    return dirs().back()->path();
}

std::vector<QStringList> contactRows(int count)
{
    std::mt19937 rng(42);
    std::vector<QStringList> rows;
    rows.reserve(size_t(count));
    auto phone = [&] { return QStringLiteral("217-555-%1").arg(int(rng() % 10000), 4, 10, QLatin1Char('0')); };
    for (int i = 0; i < count; ++i) {
        const QString last = QString::fromUtf8(pick(rng, kLast));
        const QString first = QString::fromUtf8(pick(rng, kFirst));
        const int house = int(rng() % 9000) + 100;
        const QString street = QString::fromUtf8(pick(rng, kStreet));
        const QString home = phone();
        const QString cell = phone();
        const QString work = phone();
        const QString ext = QString::number(int(rng() % 1000));
        rows.push_back({last, first, i % 3 ? QStringLiteral("Acme %1").arg(i % 97) : QString(),
                        QStringLiteral("%1 %2").arg(house).arg(street), QStringLiteral("Springfield"),
                        QStringLiteral("IL"), QStringLiteral("62701"), home, cell, work, ext,
                        QStringLiteral("%1.%2@example.com").arg(first.toLower(), last.toLower()),
                        QStringLiteral("True"), QString::fromUtf8(kTypes[i % 4])});
    }
    return rows;
}

void generateContacts(int count)
{
    Connection c(sConnContacts);
    c.execute(QStringLiteral("BEGIN"));
    if (!c.onServer()) {
        // One statement prepared once: a million rows in seconds rather than minutes.
        QStringList marks;
        for (int i = 0; i < int(QLatin1String(kContactColumns).count(u',')) + 1; ++i)
            marks << (i == kActiveColumn ? QStringLiteral("1") : QStringLiteral("?"));
        Statement insert(c, QStringLiteral("INSERT INTO contacts(%1) VALUES(%2)").arg(QLatin1String(kContactColumns), marks.join(u',')),
                         Statement::Dialect::Native);
        for (const QStringList& row : contactRows(count)) {
            for (int i = 0, p = 0; i < row.size(); ++i)
                if (i != kActiveColumn)
                    insert.bind(++p, row[i]);
            insert.run();
        }
        c.execute(QStringLiteral("COMMIT"));
        return;
    }
    for (const QStringList& row : contactRows(count)) {
        QStringList values;
        for (int i = 0; i < row.size(); ++i)
            values << (i == kActiveColumn ? row[i] : u'\'' + Quoted(row[i]) + u'\'');
        c.execute(QStringLiteral("INSERT into contacts(%1)values(%2)")
                      .arg(QLatin1String(kContactColumns), values.join(u',')));
    }
    c.execute(QStringLiteral("COMMIT"));
}

void generateAppointments(int count, const QDate& first, int days)
{
    std::mt19937 rng(7);
    Connection c(sConnContacts);
    c.execute(QStringLiteral("BEGIN"));
    for (int i = 0; i < count; ++i) {
        const QDate d = first.addDays(qint64(rng() % unsigned(days)));
        const QTime t = QTime(0, 0).addSecs(int(rng() % 48) * 1800);
        c.execute(QStringLiteral("INSERT into appointments(name,address,apptdate,appttime,apptbrief,apptnotes)"
                                 "values('%1 %2','%3',#%4#,#%5#,'Review of account %6','Bring the contract')")
                      .arg(QString::fromUtf8(pick(rng, kFirst)), Quoted(QString::fromUtf8(pick(rng, kLast))),
                           QString::fromUtf8(pick(rng, kStreet)), DateText(d), TimeText(t))
                      .arg(i));
    }
    c.execute(QStringLiteral("COMMIT"));
}

void generateTodos(int count)
{
    Connection c(sConnMain);
    c.execute(QStringLiteral("BEGIN"));
    for (int i = 0; i < count; ++i)
        c.execute(QStringLiteral("Insert into todo (todo)values('Call back number %1')").arg(i));
    c.execute(QStringLiteral("COMMIT"));
}

QByteArray sampleCsvRow(int i)
{
    return QStringLiteral("O'Brien %1,Renée,\"Acme, Inc. %2\",%3 Main St,Springfield,IL,62701,217-555-%4,"
                          "217-555-0100,217-555-0101,%5,ob%1@example.com,\"Met at the \"\"fair\"\"\"\r\n")
        .arg(i)
        .arg(i % 97)
        .arg(i % 9000 + 100)
        .arg(i % 10000, 4, 10, QLatin1Char('0'))
        .arg(i % 1000)
        .toUtf8();
}

} // namespace kestrel::bench
