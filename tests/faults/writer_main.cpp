// A second copy of the program's data layer in its own process, for the fault tests:
//   writer <programDir> insert <count>   inserts contacts one statement at a time
//   writer <programDir> hold <ms>        holds the write lock of contacts.mdb for ms milliseconds
//   writer <programDir> count 0          prints the number of contacts
#include "data/Database.h"
#include "data/Globals.h"
#include "data/modData.h"
#include "platform/Platform.h"

#include <QCoreApplication>
#include <QThread>

#include <cstdio>

using namespace kestrel;

namespace {
class StderrPlatform final : public Platform {
public:
    void msgBox(const QString& text, const QString&) override { std::fprintf(stderr, "%s\n", qPrintable(text)); }
    bool askYesNo(const QString&, const QString&) override { return false; }
    QString inputBox(const QString&, const QString&, const QString&) override { return {}; }
    QString openFileName(const QString&, const QString&, const QString&) override { return {}; }
    QString saveFileName(const QString&, const QString&, const QString&) override { return {}; }
    bool printDialog(QPrinter&, bool) override { return false; }
    int runModal(QDialog&) override { return 0; }
    void openDocument(const QString&) override {}
    bool startProgram(const QString&, const QStringList&) override { return false; }
    QString getSetting(const QString&, const QString&, const QString&) override { return {}; }
    void saveSetting(const QString&, const QString&, const QString&, const QString&) override {}
    void doEvents() override {}
    QDate today() override { return QDate::currentDate(); }
    QDateTime now() override { return QDateTime::currentDateTime(); }
};
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 4)
        return 2;
    StderrPlatform desk;
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
