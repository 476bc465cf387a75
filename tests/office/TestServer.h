#pragma once
// A throwaway PostgreSQL server for one test: a cluster in a temporary folder, reached only
// through a Unix socket in that folder, trusting every local user. initdb refuses to run as root,
// so under root the server runs as nobody. skipReason tells why there is none.
#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <map>
#include <string>

#include <pwd.h>
#include <unistd.h>

namespace kestrel::test {

class TestServer {
public:
    TestServer()
    {
        QStringList path = qEnvironmentVariable("PATH").split(u':');
        for (const QString& version : QDir(QStringLiteral("/usr/lib/postgresql")).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
            path << QStringLiteral("/usr/lib/postgresql/%1/bin").arg(version);
        for (const char* tool : {"initdb", "pg_ctl", "psql"})
            if ((bins_[tool] = QStandardPaths::findExecutable(QString::fromLatin1(tool), path)).isEmpty()) {
                skipReason = QStringLiteral("no PostgreSQL server programs (%1) installed").arg(QString::fromLatin1(tool));
                return;
            }
        if (::geteuid() == 0) {
            const passwd* nobody = ::getpwnam("nobody");
            if (!nobody || ::chown(QFile::encodeName(dir_.path()).constData(), nobody->pw_uid, nobody->pw_gid) != 0) {
                skipReason = QStringLiteral("running as root, and the folder cannot be given to nobody");
                return;
            }
            asNobody_ = true;
        }
        if (!tool("initdb", {"-D", data(), "-A", "trust", "-U", "kestrel", "--no-sync", "-E", "UTF8", "--locale=C"}))
            skipReason = QStringLiteral("initdb failed: ") + output_;
        else if (!start())
            skipReason = QStringLiteral("the server did not start: ") + output_;
    }
    ~TestServer()
    {
        if (skipReason.isEmpty())
            stop();
    }
    bool start()
    {
        return tool("pg_ctl", {"-D", data(), "-l", dir_.path() + "/log", "-w", "-o",
                               "-c listen_addresses='' -F -k " + dir_.path(), "start"});
    }
    bool stop() { return tool("pg_ctl", {"-D", data(), "-m", "fast", "-w", "stop"}); }
    QString conninfo() const { return QStringLiteral("host=%1 dbname=postgres user=kestrel").arg(dir_.path()); }
    // Runs each text through psql as a transaction of its own; false (with psql's words in
    // output()) on failure.
    bool sql(const QStringList& transactions)
    {
        QStringList args{"-X", "-q", "-v", "ON_ERROR_STOP=1", "-d", conninfo()};
        for (const QString& t : transactions)
            args << "-c" << t;
        QProcess p;
        p.start(bins_["psql"], args);
        return finished(p);
    }
    const QString& output() const { return output_; }

    QString skipReason;

private:
    QString data() const { return dir_.path() + QStringLiteral("/db"); }
    bool tool(const char* name, QStringList args)
    {
        QProcess p;
        if (asNobody_) {
            args.prepend(bins_[name]);
            args = QStringList{"-u", "nobody", "--"} + args;
            p.start(QStringLiteral("runuser"), args);
        } else {
            p.start(bins_[name], args);
        }
        return finished(p);
    }
    bool finished(QProcess& p)
    {
        const bool done = p.waitForFinished(60000);
        output_ = QString::fromLocal8Bit(p.readAllStandardError() + p.readAllStandardOutput()).trimmed();
        return done && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    }

    QTemporaryDir dir_;
    std::map<std::string, QString> bins_;
    bool asNobody_ = false;
    QString output_;
};

} // namespace kestrel::test
