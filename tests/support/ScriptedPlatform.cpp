#include "tests/support/ScriptedPlatform.h"

#include "data/modData.h"

#include <QCoreApplication>
#include <QDialog>
#include <QPrinter>
#include <QTimer>

#include <algorithm>

#include <gtest/gtest.h>

namespace kestrel::test {

void ScriptedPlatform::onModal(const QString& name, ModalScript script)
{
    answers_.push_back({QStringLiteral("modal"), name, std::move(script), {}});
}

QStringList ScriptedPlatform::messages() const
{
    QStringList out;
    for (const Prompt& p : prompts)
        if (p.kind == u"message")
            out << p.text;
    return out;
}

void ScriptedPlatform::verifyAllUsed()
{
    for (const Answer& a : answers_)
        ADD_FAILURE() << "A scripted answer was never asked for: " << a.kind.toStdString() << " "
                      << a.value.toStdString();
    answers_.clear();
}

bool ScriptedPlatform::take(const QString& kind, const QString& what, Answer* out)
{
    if (answers_.empty()) {
        ADD_FAILURE() << "Unexpected " << kind.toStdString() << " with nothing scripted: " << what.toStdString();
        return false;
    }
    if (answers_.front().kind != kind) {
        ADD_FAILURE() << "Expected a " << answers_.front().kind.toStdString() << " but the program showed a "
                      << kind.toStdString() << ": " << what.toStdString();
        return false;
    }
    *out = std::move(answers_.front());
    answers_.pop_front();
    return true;
}

void ScriptedPlatform::msgBox(const QString& text, const QString& caption)
{
    prompts.push_back({QStringLiteral("message"), text, caption, {}});
}

bool ScriptedPlatform::askYesNo(const QString& text, const QString& caption)
{
    prompts.push_back({QStringLiteral("question"), text, caption, {}});
    Answer a;
    return take(QStringLiteral("question"), text, &a) && a.value == u"yes";
}

bool ScriptedPlatform::askYesNo(const QString& text, const QString& caption, kestrel::Answer enterGives)
{
    const bool yes = askYesNo(text, caption);
    if (enterGives == kestrel::Answer::Yes)
        prompts.back().extra = QStringLiteral("Yes");
    return yes;
}

int ScriptedPlatform::askChoice(const QString& text, const QStringList& buttons, int, const QString& caption)
{
    QStringList plain = buttons;
    plain.replaceInStrings(QStringLiteral("&"), QString());
    prompts.push_back({QStringLiteral("choice"), text, caption, plain.join(u'|')});
    Answer a;
    if (!take(QStringLiteral("choice"), text, &a))
        return -1;
    const int index = int(plain.indexOf(a.value));
    if (index < 0 && !a.value.isEmpty())
        ADD_FAILURE() << "No button " << a.value.toStdString() << " in: " << plain.join(u'|').toStdString();
    return index;
}

QString ScriptedPlatform::inputBox(const QString& prompt, const QString& title, const QString& defaultText,
                                   int maxLength)
{
    prompts.push_back({QStringLiteral("input"), prompt, title, defaultText, maxLength});
    Answer a;
    if (!take(QStringLiteral("input"), prompt, &a))
        return QString();
    if (a.meanwhile)
        a.meanwhile();
    // As the desktop's box: a longer default is shown whole and can only shrink.
    return maxLength > 0 ? LeftChars(a.value, std::max(maxLength, int(defaultText.size()))) : a.value;
}

QString ScriptedPlatform::openFileName(const QString& startDir, const QString& title, const QString& filter)
{
    prompts.push_back({QStringLiteral("open"), title, startDir, filter});
    Answer a;
    return take(QStringLiteral("open"), title, &a) ? a.value : QString();
}

QString ScriptedPlatform::saveFileName(const QString& startDir, const QString& title, const QString& filter)
{
    prompts.push_back({QStringLiteral("save"), title, startDir, filter});
    Answer a;
    return take(QStringLiteral("save"), title, &a) ? a.value : QString();
}

QString ScriptedPlatform::saveFileName(const QString& startDir, const QString& title, const QString& filter, int* type)
{
    prompts.push_back({QStringLiteral("save"), title, startDir, filter});
    Answer a;
    const bool answered = take(QStringLiteral("save"), title, &a);
    *type = answered ? a.type : 0;
    return answered ? a.value : QString();
}

bool ScriptedPlatform::printDialog(QPrinter& printer, bool hasSelection)
{
    prompts.push_back({QStringLiteral("print"), {}, {}, hasSelection ? QStringLiteral("selection") : QString()});
    Answer a;
    if (!take(QStringLiteral("print"), QStringLiteral("print dialog"), &a) || a.value.isEmpty())
        return false;
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(a.value);
    return true;
}

int ScriptedPlatform::runModal(QDialog& dialog)
{
    prompts.push_back({QStringLiteral("modal"), dialog.objectName(), dialog.windowTitle(), {}});
    Answer a;
    if (!take(QStringLiteral("modal"), dialog.objectName(), &a))
        return QDialog::Rejected;
    if (a.value != dialog.objectName()) {
        ADD_FAILURE() << "Expected window " << a.value.toStdString() << " but " << dialog.objectName().toStdString()
                      << " was shown";
        return QDialog::Rejected;
    }
    dialog.setResult(QDialog::Rejected);
    dialog.show();
    QCoreApplication::processEvents();
    if (a.script)
        a.script(dialog);
    if (dialog.isVisible())
        dialog.reject();
    return dialog.result();
}

void ScriptedPlatform::openDocument(const QString& pathOrUrl) { opened << pathOrUrl; }

bool ScriptedPlatform::openMailLink(const QString& link)
{
    if (!mailProgram)
        return false;
    opened << link;
    return true;
}

bool ScriptedPlatform::startProgram(const QString& program, const QStringList& args)
{
    started << (args.isEmpty() ? program : program + u' ' + args.join(u' '));
    return programsStart;
}

QString ScriptedPlatform::getSetting(const QString& app, const QString& section, const QString& key)
{
    return settings.value(app + u'/' + section + u'/' + key);
}

void ScriptedPlatform::saveSetting(const QString& app, const QString& section, const QString& key, const QString& value)
{
    settings.insert(app + u'/' + section + u'/' + key, value);
    for (const Watch* w : watches_)
        QTimer::singleShot(0, &life_, [this, serial = w->serial] {
            for (const Watch* live : watches_)
                if (live->serial == serial)
                    return live->changed();
        });
}

class ScriptedSettingsWatch final : public SettingsWatch {
public:
    ScriptedSettingsWatch(ScriptedPlatform* owner, std::function<void()> changed) : owner_(owner)
    {
        watch_.serial = ++owner_->watchSerial_;
        watch_.changed = std::move(changed);
        owner_->watches_.push_back(&watch_);
    }
    ~ScriptedSettingsWatch() override { std::erase(owner_->watches_, &watch_); }

private:
    ScriptedPlatform* owner_;
    ScriptedPlatform::Watch watch_;
};

std::unique_ptr<SettingsWatch> ScriptedPlatform::watchSettings(const QString&, std::function<void()> changed)
{
    return std::make_unique<ScriptedSettingsWatch>(this, std::move(changed));
}

class ScriptedWakeUp final : public WakeUp {
public:
    ScriptedWakeUp(ScriptedPlatform* owner, std::function<void()> fire) : owner_(owner)
    {
        alarm_.fire = std::move(fire);
        owner_->alarms_.push_back(&alarm_);
    }
    ~ScriptedWakeUp() override { std::erase(owner_->alarms_, &alarm_); }
    void arm(const QDateTime& at) override { alarm_.at = at; }
    void cancel() override { alarm_.at = QDateTime(); }

private:
    ScriptedPlatform* owner_;
    ScriptedPlatform::Alarm alarm_;
};

std::unique_ptr<WakeUp> ScriptedPlatform::newWakeUp(std::function<void()> fire)
{
    return std::make_unique<ScriptedWakeUp>(this, std::move(fire));
}

void ScriptedPlatform::setClock(const QDateTime& t)
{
    nowValue = t;
    todayValue = t.date();
}

ScriptedPlatform::Alarm* ScriptedPlatform::earliestDue(const QDateTime& t) const
{
    Alarm* first = nullptr;
    for (Alarm* a : alarms_)
        if (a->at.isValid() && a->at <= t && (!first || a->at < first->at))
            first = a;
    return first;
}

QDateTime ScriptedPlatform::nextWakeUp() const
{
    QDateTime first;
    for (const Alarm* a : alarms_)
        if (a->at.isValid() && (!first.isValid() || a->at < first))
            first = a->at;
    return first;
}

void ScriptedPlatform::advanceClock(const QDateTime& t) { runClock(t, true); }

void ScriptedPlatform::jumpClock(const QDateTime& t)
{
    setClock(t);
    runClock(t, false);
}

void ScriptedPlatform::runClock(const QDateTime& t, bool stepped)
{
    // A wake-up that keeps re-arming for a time already past would fire for ever: a fault.
    for (int fired = 0; Alarm* a = earliestDue(t); ++fired) {
        ASSERT_LT(fired, 1000) << "wake-ups keep firing at " << a->at.toString(Qt::ISODate).toStdString();
        if (stepped)
            setClock(std::max(nowValue, a->at));
        a->at = QDateTime();
        a->fire();
    }
    setClock(t);
}

bool ScriptedPlatform::notify(const QString& title, const QString& text)
{
    notifications << nowValue.toString(Qt::ISODate) + u'|' + title + u'|' + text;
    return true;
}

void ScriptedPlatform::doEvents()
{
    ++doEventsCalls;
    QCoreApplication::processEvents();
}

} // namespace kestrel::test
