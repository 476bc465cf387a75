// A second copy of the program's data layer in its own process, for the fault tests:
//   writer <programDir> insert <count>   inserts contacts one statement at a time
//   writer <programDir> hold <ms>        holds the write lock of contacts.mdb for ms milliseconds
//   writer <programDir> count 0          prints the number of contacts
//   writer <programDir> find <text>      prints the number of contacts Find lists for text
//   writer <programDir> startup 0        runs the start-up check (notices on standard error),
//                                        prints "writable 0|1", then tries one insert
#include "data/Database.h"
#include "data/Globals.h"
#include "data/SearchIndex.h"
#include "data/modData.h"
#include "platform/HeadlessPlatform.h"
#include "ui/Report.h"

#include <QCoreApplication>
#include <QThread>

#include <cstdio>

using namespace kestrel;


int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 4)
        return 2;
    HeadlessPlatform desk;
    setPlatform(&desk);
    registerSchemas();
    setProgramDir(QString::fromLocal8Bit(argv[1]));
    buildConnectionTexts();
    const QByteArray mode = argv[2];
    const int n = QByteArray(argv[3]).toInt();
    if (mode == "insert") {
        const QString filler(200, u'x');
        for (int i = 0; i < n; ++i) {
            ActionQuery(QStringLiteral("INSERT into contacts(lastname,firstname,company,address,city,st,zip,homeph,"
                                       "cellph,workph,ext,email,active,contype)values('Row%1','%2','','','','','',"
                                       "'','','','','',True,'Lead')").arg(i).arg(filler),
                        sConnContacts);
            if (i == 0) {
                std::printf("started\n");
                std::fflush(stdout);
            }
        }
        return 0;
    }
    if (mode == "startup") {
        for (const QString& notice : CheckDataFiles())
            desk.msgBox(notice, kAppTitle);
        std::printf("writable %d\n", DataWritable(sConnContacts) ? 1 : 0);
        std::fflush(stdout);
        ActionQuery(QStringLiteral("delete from contacts where id=0"), sConnContacts);
        return 0;
    }
    if (mode == "count") {
        try {
            Connection c(sConnContacts);
            Snapshot s(c, QStringLiteral("select count(*) from contacts"));
            std::printf("%d\n", s.field(0).toInt());
        } catch (const DbError& e) {
            std::fprintf(stderr, "%s\n", e.what());
            return 1;
        }
        return 0;
    }
    if (mode == "find") {
        try {
            std::printf("%d\n", int(findContacts(sConnContacts, QString::fromLocal8Bit(argv[3]), 10).rows.size()));
        } catch (const DbError& e) {
            std::fprintf(stderr, "%s\n", e.what());
            return 1;
        }
        return 0;
    }
    if (mode == "hold") {
        Connection c(sConnContacts);
        c.execute(QStringLiteral("BEGIN IMMEDIATE"));
        c.execute(QStringLiteral("update contacts set firstname=firstname"));
        std::printf("locked\n");
        std::fflush(stdout);
        QThread::msleep(n);
        c.execute(QStringLiteral("COMMIT"));
        return 0;
    }
    return 2;
}
