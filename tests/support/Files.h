#pragma once
// Files the tests write and read; independent readers of them in Debian's own Python (where its
// python3-* modules are, ahead of any other python3 on the path): a reader whose module is not
// installed leaves its check out and says so, one that fails fails the test; and a full disk.
#include <QFile>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <optional>

#include <sys/resource.h>

namespace kestrel::test {

inline QString writeBytes(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size()) << path.toStdString();
    return path;
}

inline QByteArray readBytes(const QString& path)
{
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << path.toStdString();
    return f.readAll();
}

// The lines program printed, run with module imported and the file at path as sys.argv[1];
// nothing (the reason printed) where Python or the module is missing.
inline std::optional<QStringList> pythonReads(const char* module, const QString& program, const QString& path)
{
    const QString exe = QFile::exists(QStringLiteral("/usr/bin/python3")) ? QStringLiteral("/usr/bin/python3")
                                                                          : QStringLiteral("python3");
    QProcess p;
    p.start(exe, {QStringLiteral("-c"),
                  QStringLiteral("import sys\ntry:\n    import %1\nexcept ImportError as e:\n    print('SKIP', e); sys.exit(0)\n")
                          .arg(QLatin1String(module)) + program,
                  path});
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit) {
        std::printf("  %s not checked: python3 could not be run (%s)\n", module, qPrintable(p.errorString()));
        return {};
    }
    const QString out = QString::fromUtf8(p.readAllStandardOutput()).trimmed();
    EXPECT_EQ(p.exitCode(), 0) << module << ": " << p.readAllStandardError().constData();
    if (out.startsWith(QStringLiteral("SKIP"))) {
        std::printf("  %s not checked: %s (scripts/install-deps.sh --test installs it)\n", module, qPrintable(out));
        return {};
    }
    return out.split(u'\n', Qt::SkipEmptyParts);
}

// The same on bytes not yet in a file.
inline std::optional<QStringList> pythonReads(const char* module, const QString& program, const QByteArray& file)
{
    QTemporaryDir tmp;
    return pythonReads(module, program, writeBytes(tmp.filePath(QStringLiteral("file")), file));
}

// Runs fn while no file this process writes may grow beyond bytes, as on a disk that is full.
template <class F>
void withDiskFull(qint64 bytes, F fn)
{
    struct rlimit old {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = rlim_t(bytes);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    fn();
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previous);
}

} // namespace kestrel::test
