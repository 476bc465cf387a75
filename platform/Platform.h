#pragma once
// The one seam between Kestrel and the desktop. Windows never talk to message boxes, file
// dialogs, the print dialog, the settings store or the shell directly: they ask platform(), so
// tests can answer every prompt from a script and read back exactly what the user was told.
#include <QDate>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

namespace kestrel {

inline const QString kAppTitle = QStringLiteral("Kestrel");

// The answer a question gives when the user presses Enter.
enum class Answer { No, Yes };
// A wake-up at a time of the wall clock. It fires once the clock reaches that time, also when the
// computer slept through it (then on waking, late) or when the clock is set past it; a waiting
// program costs nothing in between.
class WakeUp {
public:
    virtual ~WakeUp() = default;
    // Replaces any earlier time; a time already past fires at once (from the event loop).
    virtual void arm(const QDateTime& at) = 0;
    virtual void cancel() = 0;
};

// While it exists, a watch on the per-user settings calls back when they may have changed.
class SettingsWatch {
public:
    virtual ~SettingsWatch() = default;
};

class Platform {
public:
    virtual ~Platform() = default;

    // OK-only box, no icon.
    virtual void msgBox(const QString& text, const QString& caption = kAppTitle) = 0;
    // Yes/No with the question icon and No as the default; true for Yes.
    virtual bool askYesNo(const QString& text, const QString& caption = kAppTitle) = 0;
    // The same question where Enter gives the answer named (the usual No, or Yes).
    virtual bool askYesNo(const QString& text, const QString& caption, Answer enterGives)
    {
        (void)enterGives;
        return askYesNo(text, caption);
    }
    // A question with buttons of its own (their texts, "&" before an access key), the question icon,
    // Enter giving defaultButton. Returns the index of the button pressed, -1 when the box was
    // closed without one (Escape). Desktops that cannot ask give -1.
    virtual int askChoice(const QString& text, const QStringList& buttons, int defaultButton = 0,
                          const QString& caption = kAppTitle)
    {
        (void)text, (void)buttons, (void)defaultButton, (void)caption;
        return -1;
    }
    // Cancel gives the empty text. maxLength (0: none) bounds what the user types; a longer
    // default text is shown whole.
    virtual QString inputBox(const QString& prompt, const QString& title, const QString& defaultText,
                             int maxLength = 0) = 0;
    // A password, typed unseen (the desktop's own box shows dots); the empty text when cancelled.
    // Desktops without such a box use the input box.
    virtual QString passwordBox(const QString& prompt, const QString& title = kAppTitle)
    {
        return inputBox(prompt, title, QString());
    }
    // The desktop's keyring (the Secret Service), where one runs: secrets kept there, never in the
    // settings. hasKeyring is false where none runs; readSecret gives the empty text when nothing
    // is kept under key.
    virtual bool hasKeyring() { return false; }
    virtual QString readSecret(const QString& key)
    {
        (void)key;
        return {};
    }
    virtual bool saveSecret(const QString& key, const QString& secret)
    {
        (void)key, (void)secret;
        return false;
    }
    virtual void forgetSecret(const QString& key) { (void)key; }
    // Empty text when cancelled. filter uses the "Desc (*.ext)|*.ext" form.
    virtual QString openFileName(const QString& startDir, const QString& title, const QString& filter) = 0;
    virtual QString saveFileName(const QString& startDir, const QString& title, const QString& filter) = 0;
    // The save dialog for a filter of several file types; *type receives the position of the one
    // chosen (0 for the first).
    virtual QString saveFileName(const QString& startDir, const QString& title, const QString& filter, int* type)
    {
        *type = 0;
        return saveFileName(startDir, title, filter);
    }
    // Hands a document path or a link (mailto:, file:) to the desktop's handler.
    virtual void openDocument(const QString& pathOrUrl) = 0;
    // Starts a new message in the user's mail program; false when no mail program is set up.
    virtual bool openMailLink(const QString& link)
    {
        openDocument(link);
        return true;
    }
    // Starts a program with arguments; false when it could not be started.
    virtual bool startProgram(const QString& program, const QStringList& args) = 0;
    // Per-user settings store: application, section, key. Missing values read as the empty text.
    virtual QString getSetting(const QString& app, const QString& section, const QString& key) = 0;
    virtual void saveSetting(const QString& app, const QString& section, const QString& key,
                             const QString& value) = 0;
    // Calls changed from the event loop after the settings of app may have changed, also by another
    // running copy of the program. Desktops that cannot tell give nullptr.
    virtual std::unique_ptr<SettingsWatch> watchSettings(const QString& app, std::function<void()> changed);
    // Lets pending window events run.
    virtual void doEvents() = 0;
    // Shows the busy cursor while the program waits (on another running copy's lock); false
    // restores the cursor. Desktops without a cursor ignore it.
    virtual void setBusyCursor(bool on) { (void)on; }
    virtual QDate today() = 0;
    virtual QDateTime now() = 0;
    // A wake-up that calls fire from the event loop.
    virtual std::unique_ptr<WakeUp> newWakeUp(std::function<void()> fire);
    // A desktop notification through the desktop's notification service; false where none runs.
    virtual bool notify(const QString& title, const QString& text);
    // A status icon in the system tray with tip as its tool tip; the empty tip removes it.
    virtual void setTrayStatus(const QString& tip);
};

// The wake-up of the running system: the kernel's wall-clock timer where there is one.
std::unique_ptr<WakeUp> systemWakeUp(std::function<void()> fire);

// "mailto:" + the address, then "?" + query when one is given. Every character of the address
// that could end it or start something else ("?", "&", "#", "%", ",", ";", blanks, CR, LF, ...)
// is percent-encoded, so a stored address can never add a recipient, a header or a parameter.
QString mailtoLink(const QString& address, const QString& query = QString());

// Said when a mail link finds no mail program to take it.
QString NoMailProgramText(const QString& address);

Platform& platform();
// Installs p (not owned) as the seam; nullptr restores the production implementation.
void setPlatform(Platform* p);
// The widget library registers the production seam here, so this library stays free of widgets.
void registerDefaultPlatform(Platform* (*factory)());

} // namespace kestrel
