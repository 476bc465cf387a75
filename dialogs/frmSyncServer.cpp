#include "dialogs/frmSyncServer.h"

#include "dialogs/modSync.h"
#include "platform/Platform.h"
#include "sync/DavClient.h"
#include "sync/SyncSettings.h"
#include "sync/SyncWords.h"
#include "ui/Ui.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QThread>

#include <functional>

namespace kestrel {

namespace {

// Runs work in a thread of its own while this window keeps drawing (a server may take seconds).
void awayFromWindow(const std::function<void()>& work)
{
    platform().setBusyCursor(true);
    std::unique_ptr<QThread> t(QThread::create(work));
    t->start();
    while (!t->wait(20))
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    platform().setBusyCursor(false);
}

QString nameOf(const QString& url)
{
    const QStringList parts = QUrl(url).path().split(u'/', Qt::SkipEmptyParts);
    return parts.isEmpty() ? url : parts.back();
}

} // namespace

frmSyncServer::frmSyncServer(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("frmSyncServer"));
    setupDialog(this, QStringLiteral("Sync server"), 5400, 4230, true);
    setFont(designFont(QStringLiteral("Arial"), 8.25));
    const Controls c = buildControls(this, {
        {"lblServer", ControlKind::Label, "&Server address:", 120, 150, 1440, 255},
        {"txtServer", ControlKind::TextBox, "", 1620, 120, 3660, 285, 1},
        {"lblUser", ControlKind::Label, "&User name:", 120, 510, 1440, 255},
        {"txtUser", ControlKind::TextBox, "", 1620, 480, 3660, 285, 2},
        {"lblPassword", ControlKind::Label, "&Password:", 120, 870, 1440, 255},
        {"txtPassword", ControlKind::TextBox, "", 1620, 840, 2520, 285, 3},
        {"cmdTest", ControlKind::Button, "&Test", 4260, 810, 1020, 345, 4},
        {"lblFound", ControlKind::Label, "", 120, 1260, 5160, 615},
        {"lblBook", ControlKind::Label, "&Address book:", 120, 1980, 1440, 255},
        {"cboBook", ControlKind::ComboList, "", 1620, 1950, 2520, 315, 5},
        {"cmdNewBook", ControlKind::Button, "New &book", 4260, 1935, 1020, 345, 6},
        {"lblCal", ControlKind::Label, "&Calendar:", 120, 2400, 1440, 255},
        {"cboCal", ControlKind::ComboList, "", 1620, 2370, 2520, 315, 7},
        {"cmdNewCal", ControlKind::Button, "New ca&lendar", 4260, 2355, 1020, 345, 8},
        {"lblEvery", ControlKind::Label, "Sync &every:", 120, 2820, 1440, 255},
        {"cboEvery", ControlKind::ComboList, "", 1620, 2790, 1500, 315, 9},
        {"lblNote", ControlKind::Label, "", 120, 3210, 5160, 435},
        {"cmdSave", ControlKind::Button, "Save", 1080, 3750, 1455, 375, 10},
        {"cmdCancel", ControlKind::Button, "Cancel", 2865, 3750, 1455, 375, 11},
    });
    txtServer = c.get<QLineEdit>(QStringLiteral("txtServer"));
    txtUser = c.get<QLineEdit>(QStringLiteral("txtUser"));
    txtPassword = c.get<QLineEdit>(QStringLiteral("txtPassword"));
    txtPassword->setEchoMode(QLineEdit::Password);
    cmdTest = c.get<QPushButton>(QStringLiteral("cmdTest"));
    lblFound = c.get<QLabel>(QStringLiteral("lblFound"));
    lblFound->setWordWrap(true);
    cboBook = c.get<QComboBox>(QStringLiteral("cboBook"));
    cmdNewBook = c.get<QPushButton>(QStringLiteral("cmdNewBook"));
    cboCal = c.get<QComboBox>(QStringLiteral("cboCal"));
    cmdNewCal = c.get<QPushButton>(QStringLiteral("cmdNewCal"));
    cboEvery = c.get<QComboBox>(QStringLiteral("cboEvery"));
    lblNote = c.get<QLabel>(QStringLiteral("lblNote"));
    lblNote->setWordWrap(true);
    cmdSave = c.get<QPushButton>(QStringLiteral("cmdSave"));
    cmdCancel = c.get<QPushButton>(QStringLiteral("cmdCancel"));
    // Each label names its box for the keyboard (its access key) and for screen readers.
    const std::pair<const char*, const char*> buddies[] = {{"lblServer", "txtServer"}, {"lblUser", "txtUser"},
                                                            {"lblPassword", "txtPassword"}, {"lblBook", "cboBook"},
                                                            {"lblCal", "cboCal"}, {"lblEvery", "cboEvery"}};
    for (const auto& [label, box] : buddies) {
        QWidget* w = c[QString::fromLatin1(box)];
        c.get<QLabel>(QString::fromLatin1(label))->setBuddy(w);
        w->setAccessibleName(c.get<QLabel>(QString::fromLatin1(label))->text().remove(u'&').chopped(1));
    }
    lblFound->setAccessibleName(QStringLiteral("What the test found"));
    for (const int m : sync::kSyncMinutes)
        cboEvery->addItem(m == 0 ? QStringLiteral("Only at start and F9") : QStringLiteral("%1 minutes").arg(m), m);
    for (QLineEdit* box : {txtServer, txtUser, txtPassword})
        installFocusColour(box, Qt::white);
    connect(cmdTest, &QPushButton::clicked, this, &frmSyncServer::cmdTest_Click);
    connect(cmdNewBook, &QPushButton::clicked, this, &frmSyncServer::cmdNewBook_Click);
    connect(cmdNewCal, &QPushButton::clicked, this, &frmSyncServer::cmdNewCal_Click);
    connect(cmdSave, &QPushButton::clicked, this, &frmSyncServer::cmdSave_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &frmSyncServer::cmdCancel_Click);
    Form_Load();
}

void frmSyncServer::Form_Load()
{
    const sync::Settings s = sync::loadSettings();
    txtServer->setText(s.server);
    txtUser->setText(s.user);
    txtServer->setReadOnly(s.fromEnvironment);
    txtUser->setReadOnly(s.fromEnvironment);
    cboEvery->setCurrentIndex(std::max(0, cboEvery->findData(s.minutes)));
    fill(cboBook, {}, s.addressBook);
    fill(cboCal, {}, s.calendar);
    const sync::Password p = s.server.isEmpty() ? sync::Password{} : sync::findPassword(s.server, s.user);
    if (p.known)
        txtPassword->setPlaceholderText(QStringLiteral("(kept)"));
    if (s.fromEnvironment)
        lblNote->setText(QStringLiteral("Set by %1 for this start: the first address book and calendar found are used.")
                             .arg(QString::fromLatin1(sync::kUrlVariable)));
    else if (!p.keyringRuns)
        lblNote->setText(QStringLiteral("No keyring runs on this desktop: the password is kept until Kestrel ends and "
                                        "asked once each time it starts."));
    else
        lblNote->setText(QStringLiteral("The password is kept in the desktop's keyring, never in the settings."));
    cmdNewBook->setEnabled(false);
    cmdNewCal->setEnabled(false);
}

void frmSyncServer::fill(QComboBox* box, const std::vector<sync::Found>& found, const QString& chosen)
{
    box->clear();
    box->addItem(QStringLiteral("(not synced)"), QString());
    for (const sync::Found& f : found)
        box->addItem(f.name, f.url.toString(QUrl::FullyEncoded));
    int at = chosen.isEmpty() ? -1 : box->findData(chosen);
    if (at < 0 && !chosen.isEmpty()) {
        box->addItem(nameOf(chosen), chosen);
        at = box->count() - 1;
    }
    // Nothing chosen yet: the first one found.
    if (at < 0 && !found.empty() && !tested_)
        at = 1;
    box->setCurrentIndex(std::max(0, at));
}

QString frmSyncServer::password() const
{
    if (!txtPassword->text().isEmpty())
        return txtPassword->text();
    return sync::findPassword(txtServer->text().trimmed(), txtUser->text().trimmed()).value;
}

void frmSyncServer::cmdTest_Click()
{
    const QString server = txtServer->text().trimmed();
    if (server.isEmpty()) {
        platform().msgBox(QStringLiteral("Type the address of the sync server first (such as https://dav.example.com/)."));
        return;
    }
    const QUrl url = QUrl::fromUserInput(server);
    const QString user = txtUser->text().trimmed(), pass = password();
    sync::Discovery d;
    awayFromWindow([&] {
        dav::Client client(user, pass, url);
        d = sync::discover(client, url);
    });
    found_ = d;
    if (d.outcome != sync::Outcome::Synced) {
        sync::Report r;
        r.outcome = d.outcome == sync::Outcome::Missing ? sync::Outcome::ServerFault : d.outcome;
        r.detail = d.outcome == sync::Outcome::Missing ? QStringLiteral("no address books or calendars found there") : d.detail;
        lblFound->setText(sync::whyNot(r, url.host()));
        cmdNewBook->setEnabled(false);
        cmdNewCal->setEnabled(false);
        return;
    }
    const QString chosenBook = cboBook->currentData().toString(), chosenCal = cboCal->currentData().toString();
    fill(cboBook, d.addressBooks, chosenBook);
    fill(cboCal, d.calendars, chosenCal);
    tested_ = true;
    auto names = [](const std::vector<sync::Found>& f) {
        QStringList n;
        for (const sync::Found& x : f)
            n << x.name;
        return n.join(QStringLiteral(", "));
    };
    lblFound->setText(QStringLiteral("Found %1 address book(s)%2 and %3 calendar(s)%4.")
                          .arg(d.addressBooks.size())
                          .arg(d.addressBooks.empty() ? QString() : QStringLiteral(" (") + names(d.addressBooks) + u')')
                          .arg(d.calendars.size())
                          .arg(d.calendars.empty() ? QString() : QStringLiteral(" (") + names(d.calendars) + u')'));
    cmdNewBook->setEnabled(!d.addressBookHome.isEmpty());
    cmdNewCal->setEnabled(!d.calendarHome.isEmpty());
}

void frmSyncServer::make(SyncKind kind)
{
    const QUrl home = kind == SyncKind::Contacts ? found_.addressBookHome : found_.calendarHome;
    const QString user = txtUser->text().trimmed(), pass = password();
    const QUrl server = QUrl::fromUserInput(txtServer->text().trimmed());
    sync::Made m;
    awayFromWindow([&] {
        dav::Client client(user, pass, server);
        m = sync::makeCollection(client, home, kind, QStringLiteral("Kestrel"));
    });
    if (m.outcome != sync::Outcome::Synced) {
        platform().msgBox(QStringLiteral("The server did not make the %1 (%2).")
                              .arg(kind == SyncKind::Contacts ? QStringLiteral("address book") : QStringLiteral("calendar"),
                                   m.detail));
        return;
    }
    auto& list = kind == SyncKind::Contacts ? found_.addressBooks : found_.calendars;
    list.push_back(m.found);
    fill(kind == SyncKind::Contacts ? cboBook : cboCal, list, m.found.url.toString(QUrl::FullyEncoded));
}

void frmSyncServer::cmdNewBook_Click() { make(SyncKind::Contacts); }
void frmSyncServer::cmdNewCal_Click() { make(SyncKind::Appointments); }

void frmSyncServer::cmdSave_Click()
{
    sync::Settings s = sync::loadSettings();
    if (!s.fromEnvironment) {
        s.server = txtServer->text().trimmed();
        s.user = txtUser->text().trimmed();
        s.addressBook = cboBook->currentData().toString();
        s.calendar = cboCal->currentData().toString();
        s.vcard3 = false;
        for (const sync::Found& f : found_.addressBooks)
            if (f.url.toString(QUrl::FullyEncoded) == s.addressBook)
                s.vcard3 = f.vcard3;
    }
    s.minutes = cboEvery->currentData().toInt();
    sync::saveSettings(s);
    if (!txtPassword->text().isEmpty()) {
        QString why;
        if (!sync::keepPassword(s.server, s.user, txtPassword->text(), &why))
            platform().msgBox(why.isEmpty()
                                  ? QStringLiteral("No keyring runs on this desktop, so the password is kept only until "
                                                   "Kestrel ends; Kestrel asks for it once each time it starts.")
                                  : QStringLiteral("The keyring did not keep the password (%1). It is kept until Kestrel "
                                                   "ends.").arg(why));
    }
    if (SyncControl* control = syncControl())
        control->rearm();
    accept();
}

void frmSyncServer::cmdCancel_Click() { reject(); }

} // namespace kestrel
