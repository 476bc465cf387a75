#pragma once
// What every fuzz target shares: a program folder of its own on a memory file system, a desktop
// that treats any message box or question as a finding, and one offscreen application.
#include "data/Globals.h"
#include "data/modData.h"
#include "platform/Platform.h"

#include <QApplication>
#include <QByteArray>
#include <QDir>
#include <QFile>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace kestrel::fuzz {

// Any prompt means a statement failed or the program wanted to tell the user something it should
// never have to for these inputs: stop with the text so the finding explains itself.
class AbortingPlatform final : public Platform {
public:
    [[noreturn]] static void fail(const QString& what)
    {
        std::fprintf(stderr, "unexpected prompt: %s\n", what.toUtf8().constData());
        std::abort();
    }
    void msgBox(const QString& text, const QString&) override { fail(text); }
    bool askYesNo(const QString& text, const QString&) override { fail(text); }
    QString inputBox(const QString& prompt, const QString&, const QString&, int) override { fail(prompt); }
    QString openFileName(const QString&, const QString& title, const QString&) override { fail(title); }
    QString saveFileName(const QString&, const QString& title, const QString&) override { fail(title); }
    void openDocument(const QString& p) override { fail(p); }
    bool startProgram(const QString& p, const QStringList&) override { fail(p); }
    QString getSetting(const QString&, const QString&, const QString&) override { return {}; }
    void saveSetting(const QString&, const QString&, const QString&, const QString&) override {}
    void doEvents() override {}
    QDate today() override { return QDate(2026, 12, 4); }
    QDateTime now() override { return QDateTime(QDate(2026, 12, 4), QTime(9, 30)); }
};

// A fresh program folder (tmpfs when there is one, so durable commits cost nothing), the
// connection texts built, the aborting desktop installed. Returns the folder.
inline QString setUpProgramFolder()
{
    std::string tmpl = (QDir(QStringLiteral("/dev/shm")).exists() ? "/dev/shm" : "/tmp") +
                       std::string("/kestrel-fuzz-XXXXXX");
    if (!::mkdtemp(tmpl.data()))
        std::abort();
    const QString dir = QString::fromStdString(tmpl);
    QDir().mkpath(dir + QStringLiteral("/data"));
    setProgramDir(dir);
    buildConnectionTexts();
    registerSchemas();
    static AbortingPlatform desk;
    setPlatform(&desk);
    static const QString keep = dir;
    std::atexit([] { QDir(keep).removeRecursively(); });
    return dir;
}

inline void makeApplication()
{
    static int argc = 1;
    static char name[] = "kestrel-fuzz";
    static char* argv[] = {name, nullptr};
    if (QCoreApplication::instance())
        return;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    new QApplication(argc, argv);
}

inline void writeBytes(const QString& path, const uint8_t* data, size_t size)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        std::abort();
    f.write(reinterpret_cast<const char*>(data), qint64(size));
}

// Stops with both texts shown when a stored value is not what was given.
inline void expectSame(const QString& what, const QString& stored, const QString& expected)
{
    if (stored == expected)
        return;
    std::fprintf(stderr, "%s: stored \"%s\" (%d units), expected \"%s\" (%d units)\n", what.toUtf8().constData(),
                 stored.toUtf8().constData(), int(stored.size()), expected.toUtf8().constData(), int(expected.size()));
    std::abort();
}

} // namespace kestrel::fuzz
