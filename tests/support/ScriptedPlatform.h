#pragma once
// A desktop that answers from a script. Each prompt takes the next queued answer, which must be
// of the prompt's kind; a prompt with nothing queued, or an answer never used, fails the test.
#include "platform/Platform.h"
#include "ui/Desktop.h"

#include <QHash>
#include <QObject>
#include <QStringList>

#include <deque>
#include <functional>
#include <vector>

namespace kestrel::test {

struct Prompt {
    QString kind;    // "message", "question", "input", "open", "save", "print", "modal"
    QString text;    // message text, prompt, title of a file dialog, window name
    QString caption; // caption or title
    QString extra;   // default text of an input box, filter of a file dialog
    int maxLength = 0; // of an input box
};

class ScriptedPlatform final : public Platform, public Desktop {
public:
    using ModalScript = std::function<void(QDialog&)>;

    void answerYes() { push("question", QStringLiteral("yes")); }
    void answerNo() { push("question", QStringLiteral("no")); }
    void answerInput(const QString& text) { push("input", text); }
    // As answerInput, with meanwhile run while the box is open (another user changing the data).
    void answerInput(const QString& text, std::function<void()> meanwhile)
    {
        answers_.push_back({QStringLiteral("input"), text, {}, std::move(meanwhile)});
    }
    // The button of a choice, by its text without "&"; the empty text closes the box.
    void answerChoice(const QString& button) { push("choice", button); }
    void answerOpenFile(const QString& path) { push("open", path); }
    void answerSaveFile(const QString& path) { push("save", path); }
    // A name chosen with the file type at position type of the dialog's filter.
    void answerSaveFile(const QString& path, int type)
    {
        push("save", path);
        answers_.back().type = type;
    }
    // A PDF file to print into, or the empty text to cancel the print dialog.
    void answerPrint(const QString& pdfPath) { push("print", pdfPath); }
    // Runs script while the window named `name` is shown modally; it is closed afterwards if the
    // script left it open.
    void onModal(const QString& name, ModalScript script);

    // Everything the user was asked or told, in order.
    std::vector<Prompt> prompts;
    // Texts of the OK-only message boxes, in order.
    QStringList messages() const;
    QStringList opened;  // documents and links handed to the desktop
    QStringList started; // programs started
    QHash<QString, QString> settings; // "app/section/key" → value
    QDate todayValue{2026, 12, 4};
    QDateTime nowValue{QDate(2026, 12, 4), QTime(9, 30)};
    int doEventsCalls = 0;
    int busyCursorShown = 0; // times the busy cursor was put up
    bool busyCursorOn = false;
    bool programsStart = true;
    bool mailProgram = true; // a mail program is set up

    // Fails the test for every queued answer that was never asked for.
    void verifyAllUsed();
    bool pending() const { return !answers_.empty(); }

    void msgBox(const QString& text, const QString& caption) override;
    bool askYesNo(const QString& text, const QString& caption) override;
    // Recorded with extra "Yes" when Enter gives Yes.
    bool askYesNo(const QString& text, const QString& caption, kestrel::Answer enterGives) override;
    // Recorded with kind "choice" and the buttons in extra, joined by "|".
    int askChoice(const QString& text, const QStringList& buttons, int defaultButton, const QString& caption) override;
    // The answer stands for what the user typed: a box with a maximum length keeps no more.
    QString inputBox(const QString& prompt, const QString& title, const QString& defaultText,
                     int maxLength = 0) override;
    QString openFileName(const QString& startDir, const QString& title, const QString& filter) override;
    QString saveFileName(const QString& startDir, const QString& title, const QString& filter) override;
    QString saveFileName(const QString& startDir, const QString& title, const QString& filter, int* type) override;
    bool printDialog(QPrinter& printer, bool hasSelection) override;
    int runModal(QDialog& dialog) override;
    void openDocument(const QString& pathOrUrl) override;
    // Recorded in opened; false while mailProgram is false.
    bool openMailLink(const QString& link) override;
    bool startProgram(const QString& program, const QStringList& args) override;
    QString getSetting(const QString& app, const QString& section, const QString& key) override;
    void saveSetting(const QString& app, const QString& section, const QString& key, const QString& value) override;
    void doEvents() override;
    void setBusyCursor(bool on) override
    {
        busyCursorShown += on ? 1 : 0;
        busyCursorOn = on;
    }
    QDate today() override { return todayValue; }
    QDateTime now() override { return nowValue; }

    // The clock runs to t: each wake-up due on the way fires at its own time, in order.
    void advanceClock(const QDateTime& t);
    // The clock jumps to t, as after a sleep of the computer: what fell due fires once, late.
    void jumpClock(const QDateTime& t);
    // The earliest armed wake-up; invalid when none is armed.
    QDateTime nextWakeUp() const;
    std::unique_ptr<WakeUp> newWakeUp(std::function<void()> fire) override;
    bool notify(const QString& title, const QString& text) override;
    void setTrayStatus(const QString& tip) override { trayTip = tip; }
    // A keyring that runs when keyring is set, holding secrets.
    bool keyring = false;
    QHash<QString, QString> secrets;
    bool hasKeyring() override { return keyring; }
    QString readSecret(const QString& key) override { return keyring ? secrets.value(key) : QString(); }
    bool saveSecret(const QString& key, const QString& secret) override
    {
        if (keyring)
            secrets.insert(key, secret);
        return keyring;
    }
    void forgetSecret(const QString& key) override { secrets.remove(key); }
    // Each saved setting tells every watch, from the event loop, as a settings file would.
    std::unique_ptr<SettingsWatch> watchSettings(const QString& app, std::function<void()> changed) override;
    QStringList notifications; // "clock in ISO form|title|text"
    QString trayTip;

private:
    struct Answer {
        QString kind;
        QString value;
        ModalScript script;
        std::function<void()> meanwhile;
        int type = 0; // of a file dialog
    };
    void push(const char* kind, const QString& value) { answers_.push_back({QString::fromUtf8(kind), value, {}, {}}); }
    // The next answer, which must be of this kind; nullopt (and a test failure) otherwise.
    bool take(const QString& kind, const QString& what, Answer* out);
    std::deque<Answer> answers_;
    struct Alarm {
        QDateTime at;
        std::function<void()> fire;
    };
    friend class ScriptedWakeUp;
    friend class ScriptedSettingsWatch;
    struct Watch {
        quint64 serial;
        std::function<void()> changed;
    };
    std::vector<Watch*> watches_;
    quint64 watchSerial_ = 0;
    QObject life_; // ends the notices still on their way with this desktop
    std::vector<Alarm*> alarms_;
    void setClock(const QDateTime& t);
    // Fires what is due up to t; stepped: the clock stands at each wake-up's time as it fires.
    void runClock(const QDateTime& t, bool stepped);
    Alarm* earliestDue(const QDateTime& t) const;
};

} // namespace kestrel::test
