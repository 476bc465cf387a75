#pragma once
// The one seam between Kestrel and the desktop. Windows never talk to message boxes, file
// dialogs, the print dialog, the settings store or the shell directly: they ask platform(), so
// tests can answer every prompt from a script and read back exactly what the user was told.
#include <QDate>
#include <QDateTime>
#include <QString>
#include <QStringList>

class QDialog;
class QPrinter;
class QWidget;

namespace kestrel {

inline const QString kAppTitle = QStringLiteral("Kestrel");

// The answer a question gives when the user presses Enter.
enum class Answer { No, Yes };

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
    // Cancel gives the empty text.
    virtual QString inputBox(const QString& prompt, const QString& title, const QString& defaultText) = 0;
    // Empty text when cancelled. filter uses the "Desc (*.ext)|*.ext" form.
    virtual QString openFileName(const QString& startDir, const QString& title, const QString& filter) = 0;
    virtual QString saveFileName(const QString& startDir, const QString& title, const QString& filter) = 0;
    // Shows the print dialog for printer; false when the user cancelled.
    virtual bool printDialog(QPrinter& printer, bool hasSelection) = 0;
    // Runs a modal window to its end and returns its result code.
    virtual int runModal(QDialog& dialog) = 0;
    // Hands a document path or a link (mailto:, file:) to the desktop's handler.
    virtual void openDocument(const QString& pathOrUrl) = 0;
    // Starts a program with arguments; false when it could not be started.
    virtual bool startProgram(const QString& program, const QStringList& args) = 0;
    // Per-user settings store: application, section, key. Missing values read as the empty text.
    virtual QString getSetting(const QString& app, const QString& section, const QString& key) = 0;
    virtual void saveSetting(const QString& app, const QString& section, const QString& key,
                             const QString& value) = 0;
    // Lets pending window events run.
    virtual void doEvents() = 0;
    virtual QDate today() = 0;
    virtual QDateTime now() = 0;
};

// "mailto:" + the address, then "?" + query when one is given. Every character of the address
// that could end it or start something else ("?", "&", "#", "%", ",", ";", blanks, CR, LF, ...)
// is percent-encoded, so a stored address can never add a recipient, a header or a parameter.
QString mailtoLink(const QString& address, const QString& query = QString());

Platform& platform();
// Installs p (not owned) as the seam; nullptr restores the production implementation.
void setPlatform(Platform* p);

} // namespace kestrel
