#include "ui/NulGuard.h"

#include <QApplication>
#include <QEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>
#include <QValidator>

namespace kestrel {

namespace {

constexpr QChar kNul(u'\0');
constexpr const char* kGuarded = "kestrelNulGuard";

// A one-line box's validator may change what is about to be taken: the NULs go, the cursor
// stays after what was inserted.
class NulFreeValidator : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString& input, int& pos) const override
    {
        if (input.contains(kNul)) {
            pos -= int(QStringView(input).left(pos).count(kNul));
            input.remove(kNul);
            QApplication::beep();
        }
        return Acceptable;
    }
};

// A multi-line box: removed right after the change that brought them, in the same undo step.
template <class Edit>
void guardDocument(Edit* edit)
{
    QObject::connect(edit, &Edit::textChanged, edit, [edit] {
        QTextDocument* doc = edit->document();
        QTextCursor found = doc->find(QString(kNul));
        if (found.isNull())
            return;
        QTextCursor step(doc);
        step.joinPreviousEditBlock();
        for (; !found.isNull(); found = doc->find(QString(kNul), found.selectionStart()))
            found.removeSelectedText();
        step.endEditBlock();
        QApplication::beep();
    });
}

class NulGuard : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::Polish || watched->property(kGuarded).toBool())
            return false;
        if (auto* line = qobject_cast<QLineEdit*>(watched)) {
            // A box with a validator of its own (a number, a date) refuses more than NULs already.
            if (!line->validator())
                line->setValidator(new NulFreeValidator(line));
        } else if (auto* plain = qobject_cast<QPlainTextEdit*>(watched)) {
            guardDocument(plain);
        } else if (auto* rich = qobject_cast<QTextEdit*>(watched)) {
            guardDocument(rich);
        } else {
            return false;
        }
        watched->setProperty(kGuarded, true);
        return false;
    }
};

} // namespace

void installNulGuard()
{
    static NulGuard* guard = nullptr;
    if (guard || !qApp)
        return;
    guard = new NulGuard(qApp);
    qApp->installEventFilter(guard);
}

} // namespace kestrel
