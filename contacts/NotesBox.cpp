#include "contacts/NotesBox.h"

#include "formats/ImportRules.h"
#include "platform/Platform.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTextCursor>

namespace kestrel {

namespace {

const char* const kGuardProperty = "kestrelNotesGuard";

class NotesGuard : public QObject {
public:
    NotesGuard(QPlainTextEdit* box, int limit, LimitWords words) : QObject(box), box_(box), limit_(limit), words_(words)
    {
        box->setProperty(kGuardProperty, QVariant::fromValue<QObject*>(this));
        box->installEventFilter(this);
        connect(box, &QPlainTextEdit::textChanged, this, [this] { changed(); });
    }

    void take(const QString& text)
    {
        restoring_ = true;
        box_->setPlainText(text);
        restoring_ = false;
        good_ = text;
        goodCursor_ = 0;
    }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        // Typing at the limit does nothing, as in a one-line box; pastes are told about below.
        if (watched == box_ && event->type() == QEvent::KeyPress) {
            const auto* key = static_cast<QKeyEvent*>(event);
            const QString typed = key->text();
            const bool typing = !typed.isEmpty() && (typed.at(0).isPrint() || typed == u"\r") &&
                                !(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
            if (typing) {
                const qsizetype after = charCount(box_->toPlainText()) - charCount(box_->textCursor().selectedText()) +
                                        charCount(typed);
                if (after > room()) {
                    QApplication::beep();
                    return true;
                }
            }
        }
        return QObject::eventFilter(watched, event);
    }

private:
    // A stored text longer than the limit may be shortened, never lengthened.
    qsizetype room() const { return std::max<qsizetype>(limit_, charCount(good_)); }

    void changed()
    {
        if (restoring_)
            return;
        const QString now = box_->toPlainText();
        const qsizetype n = charCount(now);
        if (n <= room()) {
            good_ = now;
            goodCursor_ = box_->textCursor().position();
            return;
        }
        // Whatever went past the limit came in one piece (a paste, a drop): it is taken back
        // whole, and the box holds again exactly what it held before.
        restoring_ = true;
        box_->setPlainText(good_);
        QTextCursor c = box_->textCursor();
        c.setPosition(std::min<int>(goodCursor_, int(good_.size())));
        box_->setTextCursor(c);
        restoring_ = false;
        platform().msgBox(words_(limit_, n));
    }

    QPlainTextEdit* box_;
    const int limit_;
    const LimitWords words_;
    QString good_;
    int goodCursor_ = 0;
    bool restoring_ = false;
};

} // namespace

void limitNotes(QPlainTextEdit* box, int limit, LimitWords words) { new NotesGuard(box, limit, words); }

void setNotesText(QPlainTextEdit* box, const QString& text)
{
    if (auto* guard = dynamic_cast<NotesGuard*>(box->property(kGuardProperty).value<QObject*>()))
        guard->take(text);
    else
        box->setPlainText(text);
}

QString notesLimitText(int limit, qsizetype wouldHold)
{
    const QLocale english(QLocale::English);
    return QStringLiteral("Notes hold at most %1 characters, and with this text they would hold %2.\r\n"
                          "It was not added; the notes are as they were.")
        .arg(english.toString(limit), english.toString(qint64(wouldHold)));
}

QString addressLimitText(int limit, qsizetype wouldHold)
{
    const QLocale english(QLocale::English);
    return QStringLiteral("The address holds at most %1 characters, and with this text it would hold %2.\r\n"
                          "It was not added; the address is as it was.")
        .arg(english.toString(limit), english.toString(qint64(wouldHold)));
}

} // namespace kestrel
