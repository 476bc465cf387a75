// The program the crash harness (crash.py) kills: Kestrel's own windows and routines saving,
// changing and deleting contacts, appointments and to-do items and importing CSV files, one
// operation after another from a script, on the local files or on the office server.
//
//   kestrel_crash_worker <programDir> <operations.jsonl> [<libpq connection string>]
//   kestrel_crash_worker --set-up <libpq connection string>   (as kestrel --init-office does)
//   kestrel_crash_worker --speed-ups <programDir> <index> <n>
//
// With --speed-ups the worker opens the local files as a large older file is opened and makes the
// speed-ups behind where the window would be (SpeedUps.h), printing "making <i> <n>" each time the
// engine has taken another hundred steps in the statements of speed-up i; it holds at the n-th of
// the index given, its transaction open, for the test to kill it there (an index of -1 holds
// nowhere). "done" when it got to the end.
//
// Each line of the script is one operation (JSON). Before it runs the worker prints "try <i>";
// "ack <i>" once Kestrel said it was saved (the editor closed with Save, no failure was told,
// the import reported done); "fail <i>" when Kestrel told the user it was not; "skip <i>" when
// its row was not there to change. What the user was told or asked is printed as "say" and "ask"
// lines. A retry question ("Try again?") is answered Yes, as a user who waits for the disk or the
// network would; every other question No, but for the confirmations of a delete and the take-over
// of an import lock left empty by a kill (the harness runs one worker at a time).
#include "calendar/RemindPanel.h"
#include "calendar/frmAppt.h"
#include "contacts/frmLead.h"
#include "data/Database.h"
#include "data/Globals.h"
#include "data/ImportLog.h"
#include "data/Office.h"
#include "data/SearchIndex.h"
#include "data/SearchIndexJob.h"
#include "data/SpeedUps.h"
#include "data/modData.h"
#include "exchange/modImport.h"
#include "platform/Platform.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QThread>

#include <algorithm>
#include <functional>
#include <cstdio>
#include <unistd.h>

using namespace kestrel;

namespace {

// One line straight to the harness: a write(2) per line, so a kill never leaves a line half told
// that the harness would take for whole.
void tell(const QString& line)
{
    QByteArray bytes = line.toUtf8();
    bytes.replace("\r\n", " / ").replace('\n', " / ").replace('\r', " / ");
    bytes += '\n';
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t n = ::write(STDOUT_FILENO, bytes.constData() + done, size_t(bytes.size() - done));
        if (n <= 0)
            return;
        done += n;
    }
}

class CrashPlatform final : public Platform {
public:
    // Every message box and every question answered No: the user was told the change did not happen.
    int complaints = 0;
    QStringList complaintTexts;
    QString nextInput;

    void msgBox(const QString& text, const QString&) override
    {
        ++complaints;
        complaintTexts << text;
        tell(QStringLiteral("say ") + text);
    }
    bool askYesNo(const QString& text, const QString&) override
    {
        tell(QStringLiteral("ask ") + text);
        if (text.contains(QStringLiteral("ry again?"))) {
            // A user reads the question before answering: the server or the disk gets a moment.
            if (++retries_ <= 100) {
                QThread::msleep(20);
                return true;
            }
            retries_ = 0;
            ++complaints;
            complaintTexts << text;
            return false;
        }
        retries_ = 0;
        // Our own change whose answer the network lost comes back as someone else's. An import
        // lock a killed copy left empty is taken over, as its user would: no other copy runs.
        if (text.startsWith(QStringLiteral("Delete this contact?")) ||
            text.endsWith(QStringLiteral("Take it over and import?")) ||
            text.startsWith(QStringLiteral("Are you sure you want to delete this")) ||
            text.startsWith(QStringLiteral("Someone else changed this")))
            return true;
        ++complaints;
        complaintTexts << text;
        return false;
    }
    QString inputBox(const QString&, const QString&, const QString&, int) override { return nextInput; }
    QString openFileName(const QString&, const QString&, const QString&) override { return {}; }
    QString saveFileName(const QString&, const QString&, const QString&) override { return {}; }
    void openDocument(const QString&) override {}
    bool startProgram(const QString&, const QStringList&) override { return false; }
    QString getSetting(const QString& app, const QString& section, const QString& key) override
    {
        return settings_.value(app + u'/' + section + u'/' + key);
    }
    void saveSetting(const QString& app, const QString& section, const QString& key, const QString& value) override
    {
        settings_.insert(app + u'/' + section + u'/' + key, value);
    }
    void doEvents() override { QCoreApplication::processEvents(); }
    QDate today() override { return QDate::currentDate(); }
    QDateTime now() override { return QDateTime::currentDateTime(); }

private:
    int retries_ = 0;
    QHash<QString, QString> settings_;
};

CrashPlatform* desk = nullptr;

// The key of the row a tag names (contacts by last name, appointments by name); 0 when none.
int keyOf(const QString& table, const QString& key, const QString& column, const QString& tag)
{
    try {
        Connection c(sConnContacts);
        Snapshot s(c, QStringLiteral("select %1 from %2 where %3='%4'").arg(key, table, column, Quoted(tag)));
        return s.eof() ? 0 : s.field(0).toInt();
    } catch (const DbError& e) {
        tell(QStringLiteral("say lookup failed: ") + e.description());
        return -1;
    }
}

// Acknowledged, told as failed, its row not there to change, or not told either way (the list
// could not be refilled after the write: the user cannot tell whether it was saved).
enum class Outcome { Ack, Fail, Skip, Unsure };

// An add, edit or delete ("add-contact", "del-appt"...) through the editor's own handlers. An
// edit or delete finds its row by the tag: when the lookup fails it fails, when no row has the
// tag it is skipped.
template <class Editor>
Outcome throughEditor(const QJsonObject& op, const QString& kind, const QString& table, const QString& key,
                      const QString& column, const std::function<void(Editor&, int)>& open,
                      const std::function<void(Editor&)>& fill)
{
    const bool add = kind.startsWith(u"add-");
    const int id = add ? 0 : keyOf(table, key, column, op[u"tag"].toString());
    if (id < 0)
        return Outcome::Fail;
    if (!add && id == 0)
        return Outcome::Skip;
    Editor e;
    e.bEditMode = !add;
    open(e, id);
    const int before = desk->complaints;
    e.Form_Load();
    if (desk->complaints != before)
        return Outcome::Fail;
    if (kind.startsWith(u"del-")) {
        e.cmdDelete_Click();
        return desk->complaints == before ? Outcome::Ack : Outcome::Fail;
    }
    fill(e);
    e.cmdSave_Click();
    return e.result() == QDialog::Accepted && desk->complaints == before ? Outcome::Ack : Outcome::Fail;
}

Outcome contact(const QJsonObject& op, const QString& kind)
{
    return throughEditor<frmLead>(
        op, kind, QStringLiteral("contacts"), QStringLiteral("id"), QStringLiteral("lastname"),
        [](frmLead&, int id) { lLeadID = id; },
        [&op](frmLead& f) {
            // The boxes in the order the contacts table has its columns after the key.
            static const int box[] = {1, 2, 12, 3, 4, 5, 6, 7, 8, 9, 10, 11};
            const QJsonArray fields = op[u"f"].toArray();
            for (int i = 0; i < 12; ++i) {
                if (box[i] == 3)
                    f.txtAddress->setPlainText(fields[i].toString()); // the address box of several lines
                else
                    f.txtLead[box[i]]->setText(fields[i].toString());
            }
            (op[u"active"].toBool() ? f.optActive : f.optInActive)->setChecked(true);
            f.cmbType->setCurrentIndex(op[u"type"].toInt());
        });
}

Outcome appointment(const QJsonObject& op, const QString& kind)
{
    return throughEditor<frmAppt>(
        op, kind, QStringLiteral("appointments"), QStringLiteral("autoid"), QStringLiteral("name"),
        [](frmAppt& a, int id) { a.lApptID = id; },
        [&op](frmAppt& a) {
            a.setApptText(0, op[u"brief"].toString());
            a.setApptText(1, op[u"where"].toString());
            a.setApptText(2, op[u"notes"].toString());
            a.setApptText(3, op[u"tag"].toString());
            a.DTPicker1->setDate(QDate::fromString(op[u"date"].toString(), Qt::ISODate));
            a.cboTime->setCurrentIndex(a.SelectTime(op[u"time"].toString()));
        });
}

// The to-do list's line that starts with tag; -1 when none does.
int toDoRow(QListWidget* list, const QString& tag)
{
    for (int i = 0; i < list->count(); ++i)
        if (list->item(i)->data(Qt::UserRole).toInt() != 0 && list->item(i)->text().startsWith(tag + u' '))
            return i;
    return -1;
}

// Through the panel's own handlers: choosing the first line adds, a double click changes, the
// button deletes; each refills the list from the database afterwards.
Outcome toDo(const QJsonObject& op, RemindPanel& panel)
{
    const QString kind = op[u"op"].toString();
    const QString tag = op[u"tag"].toString();
    const int before = desk->complaints;
    panel.PopToDo();
    if (desk->complaints != before)
        return Outcome::Fail;
    desk->nextInput = op[u"text"].toString();
    QListWidget* list = panel.lstToDo;
    const qsizetype toldBefore = desk->complaintTexts.size();
    if (kind == u"add-todo") {
        list->setCurrentRow(0);
        QCoreApplication::processEvents(); // the click handler is queued behind the selection
    } else {
        const int row = toDoRow(list, tag);
        if (row < 0)
            return Outcome::Skip;
        {
            const QSignalBlocker quiet(list);
            list->setCurrentRow(row);
        }
        if (kind == u"edit-todo")
            panel.lstToDo_DblClick();
        else
            panel.cmdDeleteToDo_Click();
    }
    if (desk->complaints != before) {
        const QStringList told = desk->complaintTexts.mid(toldBefore);
        // A lost connection in the change itself is asked about with Try again (and looked up);
        // one told without that question came from the list's refill after the change.
        const bool onlyRefill = std::all_of(told.begin(), told.end(), [](const QString& t) {
            return t.contains(QStringLiteral("in procedure PopToDo")) ||
                   (t.startsWith(QStringLiteral("Kestrel could not reach the office database")) &&
                    !t.contains(QStringLiteral("ry again?")));
        });
        return onlyRefill && !told.isEmpty() ? Outcome::Unsure : Outcome::Fail;
    }
    // The list the handler refilled must show what was said to be saved.
    const int row = toDoRow(list, tag);
    const bool shown = row >= 0 && list->item(row)->text() == op[u"text"].toString();
    if (kind == u"del-todo" ? row >= 0 : !shown)
        tell(QStringLiteral("bad %1 the to-do list does not show the change").arg(op[u"i"].toInt()));
    return Outcome::Ack;
}

Outcome import(const QJsonObject& op)
{
    // Each field of the file's header to the contact field of its name (the file holds fewer
    // fields than a contact can).
    QFile file(op[u"file"].toString());
    if (!file.open(QIODevice::ReadOnly))
        return Outcome::Fail;
    const QStringList header = QString::fromUtf8(file.readLine()).trimmed().split(u',');
    QStringList entries;
    for (const QString& target : kMapTargets)
        if (header.contains(target, Qt::CaseInsensitive))
            entries << FormatMapLine(target, target);
    // Every other import goes the way of a large one (one transaction, the indexes made again at
    // its end), so that kills land in that too.
    static const std::int64_t usual = bulkImportRows();
    setBulkImportRows(op[u"i"].toInt() % 2 ? 0 : usual);
    ImportSummary summary;
    const int before = desk->complaints;
    if (!LoadCsvToTemp(op[u"file"].toString(), entries, &summary) || desk->complaints != before)
        return Outcome::Fail;
    if (summary.loaded != op[u"rows"].toInt())
        tell(QStringLiteral("bad %1 loaded %2 of %3 rows").arg(op[u"i"].toInt()).arg(summary.loaded).arg(op[u"rows"].toInt()));
    const bool done = ImportTempRows(QStringLiteral("Lead"), true, &summary, {}, summary.loaded);
    return done && desk->complaints == before ? Outcome::Ack : Outcome::Fail;
}

Outcome find(const QJsonObject& op)
{
    try {
        FoundContacts found = findContacts(sConnContacts, op[u"tag"].toString(), 10);
        // After a large import the window builds the index behind it and Find waits for that;
        // the worker builds it here, so a kill may also land in the middle of that build.
        if (found.notReady) {
            prepareSearchIndex(sConnContacts);
            found = findContacts(sConnContacts, op[u"tag"].toString(), 10);
            if (found.notReady) {
                tell(QStringLiteral("say Find is still not ready after its index was built"));
                return Outcome::Fail;
            }
        }
        tell(QStringLiteral("found %1 %2").arg(op[u"i"].toInt()).arg(found.rows.size()));
        return Outcome::Ack;
    } catch (const DbError& e) {
        tell(QStringLiteral("say Find failed: ") + e.description());
        return Outcome::Fail;
    }
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc < 3)
        return 2;
    if (qstrcmp(argv[1], "--set-up") == 0) {
        try {
            const OfficeSetUp done = setUpOfficeDatabase(QString::fromLocal8Bit(argv[2]));
            if (!done.refused.isEmpty()) {
                std::fprintf(stderr, "%s\n", qPrintable(done.refused));
                return 1;
            }
            return 0;
        } catch (const DbError& e) {
            std::fprintf(stderr, "%s\n", e.what());
            return 1;
        }
    }
    CrashPlatform platformDouble;
    desk = &platformDouble;
    setPlatform(desk);
    registerSchemas();
    if (qstrcmp(argv[1], "--speed-ups") == 0 && argc > 4) {
        const int holdIndex = QByteArray(argv[3]).toInt(), holdAt = QByteArray(argv[4]).toInt();
        // Whatever its size: the file waits for them as one of a million contacts does.
        setSpeedUpsAtOnceRows(0);
        setSpeedUpWatcher([=](int index, int told, const std::atomic<bool>&) {
            tell(QStringLiteral("making %1 %2").arg(index).arg(told));
            while (index == holdIndex && told == holdAt)
                ::pause();
        });
        setProgramDir(QString::fromLocal8Bit(argv[2]));
        buildConnectionTexts();
        for (const QString& notice : CheckDataFiles())
            desk->msgBox(notice, kAppTitle);
        SearchIndexJob job(sConnContacts);
        QObject::connect(&job, &SearchIndexJob::finished, &app, [](bool, const QString& failure) {
            if (!failure.isEmpty())
                tell(QStringLiteral("say ") + failure);
            tell(QStringLiteral("done"));
            QCoreApplication::quit();
        });
        job.start();
        return app.exec();
    }
    setProgramDir(QString::fromLocal8Bit(argv[1]));
    const QString office = argc > 3 ? QString::fromLocal8Bit(argv[3]) : QString();
    buildConnectionTexts(office);
    if (office.isEmpty()) {
        for (const QString& notice : CheckDataFiles())
            desk->msgBox(notice, kAppTitle);
    }
    QFile script(QString::fromLocal8Bit(argv[2]));
    if (!script.open(QIODevice::ReadOnly))
        return 2;
    QGroupBox box;
    RemindPanel panel(&box, nullptr);
    tell(QStringLiteral("ready"));
    while (!script.atEnd()) {
        const QJsonObject op = QJsonDocument::fromJson(script.readLine()).object();
        const QString kind = op[u"op"].toString();
        const int i = op[u"i"].toInt();
        tell(QStringLiteral("try %1").arg(i));
        Outcome outcome = Outcome::Fail;
        if (kind.endsWith(u"-contact"))
            outcome = contact(op, kind);
        else if (kind.endsWith(u"-appt"))
            outcome = appointment(op, kind);
        else if (kind.endsWith(u"-todo"))
            outcome = toDo(op, panel);
        else if (kind == u"import")
            outcome = import(op);
        else if (kind == u"find")
            outcome = find(op);
        else
            return 2;
        static const char* const words[] = {"ack", "fail", "skip", "unsure"};
        tell(QStringLiteral("%1 %2").arg(QLatin1String(words[int(outcome)])).arg(i));
    }
    tell(QStringLiteral("done"));
    return 0;
}
