#pragma once
#include "platform/Platform.h"
#include "ui/Desktop.h"

class QSystemTrayIcon;

namespace kestrel {

class QtPlatform final : public Platform, public Desktop {
public:
    void msgBox(const QString& text, const QString& caption) override;
    bool askYesNo(const QString& text, const QString& caption) override;
    bool askYesNo(const QString& text, const QString& caption, Answer enterGives) override;
    int askChoice(const QString& text, const QStringList& buttons, int defaultButton, const QString& caption) override;
    QString inputBox(const QString& prompt, const QString& title, const QString& defaultText,
                     int maxLength = 0) override;
    QString passwordBox(const QString& prompt, const QString& title) override;
    QString openFileName(const QString& startDir, const QString& title, const QString& filter) override;
    QString saveFileName(const QString& startDir, const QString& title, const QString& filter) override;
    QString saveFileName(const QString& startDir, const QString& title, const QString& filter, int* type) override;
    bool printDialog(QPrinter& printer, bool hasSelection) override;
    int runModal(QDialog& dialog) override;
    void openDocument(const QString& pathOrUrl) override;
    bool openMailLink(const QString& link) override;
    bool startProgram(const QString& program, const QStringList& args) override;
    QString getSetting(const QString& app, const QString& section, const QString& key) override;
    // The settings file is the user's alone (mode 0600), whatever the umask.
    void saveSetting(const QString& app, const QString& section, const QString& key, const QString& value) override;
    // Through QtKeychain (QtKeychain.cpp); never its plain-text fallback.
    bool hasKeyring() override;
    QString readSecret(const QString& key) override;
    bool saveSecret(const QString& key, const QString& secret) override;
    void forgetSecret(const QString& key) override;
    std::unique_ptr<SettingsWatch> watchSettings(const QString& app, std::function<void()> changed) override;
    void doEvents() override;
    void setBusyCursor(bool on) override;
    QDate today() override;
    QDateTime now() override;
    bool notify(const QString& title, const QString& text) override;
    void setTrayStatus(const QString& tip) override;

private:
    QSystemTrayIcon* tray_ = nullptr;
};

// Makes QtPlatform the production seam.
void installQtPlatform();

} // namespace kestrel
