#pragma once
// A throwaway PostgreSQL server for one test program: a cluster in a temporary folder, reached
// through a Unix socket there (and on a free port of 127.0.0.1, for what only a network link
// has), trusting local users but "ann", who logs in with a password.
// initdb refuses root, so under root the server runs as nobody. skipReason tells why there is none.
#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kestrel::test {

class TestServer {
public:
    TestServer()
    {
        QStringList path = qEnvironmentVariable("PATH").split(u':');
        for (const QString& v : QDir(QStringLiteral("/usr/lib/postgresql")).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
            path << QStringLiteral("/usr/lib/postgresql/%1/bin").arg(v);
        bin_ = QFileInfo(QFileInfo(QStandardPaths::findExecutable(QStringLiteral("initdb"), path)).canonicalFilePath()).path();
        port_ = freePort();
        const passwd* nobody = ::geteuid() == 0 ? ::getpwnam("nobody") : nullptr;
        if (bin_ == QStringLiteral("."))
            skipReason = QStringLiteral("no PostgreSQL server programs installed");
        else if (::geteuid() == 0 && (!nobody || ::chown(QFile::encodeName(dir_.path()).constData(), nobody->pw_uid, nobody->pw_gid)))
            skipReason = QStringLiteral("running as root, and the folder cannot be given to nobody");
        else if (QFile hba(dir_.path() + "/db/pg_hba.conf");
                 !tool("initdb", {"-D", dir_.path() + "/db", "-A", "trust", "-U", "kestrel", "--no-sync", "-E", "UTF8"}) ||
                 !hba.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
                 hba.write("local all ann scram-sha-256\nlocal all all trust\nhost all kestrel 127.0.0.1/32 trust\n") < 0 || (hba.close(), !start()))
            skipReason = QStringLiteral("the server did not start: ") + output;
    }
    ~TestServer() { skipReason.isEmpty() && stop(); }
    bool start()
    {
        return tool("pg_ctl", {"-D", dir_.path() + "/db", "-l", dir_.path() + "/log", "-w", "-o",
                               "-c listen_addresses=127.0.0.1 -p " + QString::number(port_) + " -F -k " + dir_.path(), "start"});
    }
    bool stop() { return tool("pg_ctl", {"-D", dir_.path() + "/db", "-m", "fast", "-w", "stop"}); }
    QString conninfo() const { return QStringLiteral("host=%1 port=%2 dbname=postgres user=kestrel").arg(dir_.path()).arg(port_); }
    // The same server over TCP.
    QString tcpConninfo() const { return QStringLiteral("host=127.0.0.1 port=%1 dbname=postgres user=kestrel").arg(port_); }
    quint16 port() const { return port_; }
    // Runs each text as a transaction of its own; false (with psql's words in output) on failure.
    bool sql(const QStringList& transactions)
    {
        QStringList args{"-X", "-q", "-v", "ON_ERROR_STOP=1", "-d", conninfo()};
        for (const QString& t : transactions)
            args << "-c" << t;
        return run(bin_ + "/psql", args);
    }
    QString skipReason;
    QString output;

private:
    // A port of 127.0.0.1 nobody listens on now (the system's choice).
    static quint16 freePort()
    {
        const int s = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof a;
        const bool ok = s >= 0 && ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
                        ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &size) == 0;
        if (s >= 0)
            ::close(s);
        return ok ? ntohs(a.sin_port) : 5432;
    }
    bool tool(const QString& name, const QStringList& args)
    {
        return ::geteuid() == 0 ? run("runuser", QStringList{"-u", "nobody", "--", bin_ + u'/' + name} + args)
                                : run(bin_ + u'/' + name, args);
    }
    bool run(const QString& program, const QStringList& args)
    {
        QProcess p;
        p.start(program, args);
        const bool done = p.waitForFinished(60000);
        output = QString::fromLocal8Bit(p.readAllStandardError() + p.readAllStandardOutput()).trimmed();
        return done && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    }

    QTemporaryDir dir_;
    QString bin_;
    quint16 port_ = 5432;
};

} // namespace kestrel::test
