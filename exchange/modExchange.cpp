#include "exchange/modExchange.h"

#include "data/ContactFields.h"
#include "data/Database.h"
#include "data/ExchangeStore.h"
#include "data/Globals.h"
#include "data/modData.h"
#include "formats/ICalendar.h"
#include "formats/Recurrence.h"
#include "formats/VCard.h"
#include "exchange/frmICalRange.h"
#include "exchange/frmImport.h"
#include "exchange/modImport.h"
#include "platform/Platform.h"
#include "ui/Desktop.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTimeZone>
#include <QUuid>

#include <set>

namespace kestrel {

namespace {

const QString kVcfFilter = QStringLiteral("vCard files (*.vcf)|*.vcf");
const QString kIcsFilter = QStringLiteral("iCalendar files (*.ics)|*.ics");

bool writeWhole(const QString& path, const QByteArray& bytes, const QString& caption)
{
    QSaveFile f(path);
    if (f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size() && f.commit())
        return true;
    platform().msgBox(QStringLiteral("The file %1 could not be written (%2).\r\nChoose another folder, or make room "
                                     "on the disk, and try again.")
                          .arg(QDir::toNativeSeparators(path), f.errorString()),
                      caption);
    return false;
}

bool readWhole(const QString& path, QByteArray& bytes, const QString& caption)
{
    QFile f(path);
    if (f.open(QIODevice::ReadOnly)) {
        bytes = f.readAll();
        if (f.error() == QFileDevice::NoError)
            return true;
    }
    platform().msgBox(QStringLiteral("The file %1 could not be read (%2).").arg(QDir::toNativeSeparators(path), f.errorString()),
                      caption);
    return false;
}

void databaseTrouble(const DbError& e, const QString& caption)
{
    const QString words = MachineFaultNotice(e);
    platform().msgBox(words.isEmpty() ? QStringLiteral("The contacts database could not be used (%1). Nothing was "
                                                       "changed.\r\nClose other programs that may hold it open and try "
                                                       "again.").arg(e.description())
                                      : words,
                      caption);
}

// A name, a company or a city is one line; a street on two lines reads as one joined by commas
// only where the address is not kept on its own lines.
QString oneLine(QString v)
{
    return v.replace(QStringLiteral("\r\n"), QStringLiteral(", ")).replace(u'\n', QStringLiteral(", ")).replace(u'\r', QStringLiteral(", "));
}

QString who(const ContactRecord& r)
{
    const QString name = (r.firstname + u' ' + r.lastname).trimmed();
    return name.isEmpty() ? r.company : name;
}

} // namespace

void ExportVCard(QWidget*)
{
    const QString caption = QStringLiteral("Export vCard");
    const QString path = platform().saveFileName(QString(), caption, kVcfFilter);
    if (path.isEmpty())
        return;
    const bool v3 = platform().askYesNo(QStringLiteral("Write the cards as vCard 3.0, which older phones and address "
                                                       "books read?\r\nNo writes vCard 4.0."),
                                        caption);
    std::vector<ContactRecord> contacts;
    try {
        contacts = readAllContacts(sConnContacts);
    } catch (const DbError& e) {
        databaseTrouble(e, caption);
        return;
    }
    // Address book servers refuse a card without a UID, and a phone matches a card it has seen
    // by it. A contact of a database that cannot keep uids (one that may only be read) gets a
    // key made from the database's identity and its id: the same on every export.
    QString identity;
    try {
        identity = databaseIdentity(sConnContacts);
    } catch (const DbError&) {
        // A file that may only be read cannot keep an identity: its path names the key space.
        identity = QUuid::createUuidV5(QUuid(), QFileInfo(sConnContacts).absoluteFilePath()).toString(QUuid::WithoutBraces);
    }
    for (ContactRecord& c : contacts)
        if (c.uid.isEmpty())
            c.uid = contactUid(identity, c.id);
    const QByteArray cards = writeVCards(contacts, v3 ? VCardVersion::V3 : VCardVersion::V4, platform().now());
    if (!writeWhole(path, cards, caption))
        return;
    platform().msgBox(QStringLiteral("%1 contacts were written to %2.").arg(contacts.size()).arg(QDir::toNativeSeparators(path)),
                      caption);
}

// Where a card holds each value, in the order of the import's targets (contactFields()).
const QStringList kVCardSources = {QStringLiteral("N"),     QStringLiteral("N"),   QStringLiteral("ORG"),
                                   QStringLiteral("ADR"),   QStringLiteral("ADR"), QStringLiteral("ADR"),
                                   QStringLiteral("ADR"),   QStringLiteral("TEL"), QStringLiteral("TEL"),
                                   QStringLiteral("TEL"),   QStringLiteral("TEL"), QStringLiteral("EMAIL"),
                                   QStringLiteral("ADR"),   QStringLiteral("TITLE"), QStringLiteral("URL"),
                                   QStringLiteral("BDAY"),  QStringLiteral("NOTE"), QStringLiteral("CATEGORIES")};

std::vector<ImportRecord> vCardRecords(const QByteArray& bytes)
{
    QList<QByteArray> texts;
    const std::vector<ContactRecord> cards = readVCards(bytes, &texts);
    std::vector<ImportRecord> records;
    records.reserve(cards.size());
    for (size_t i = 0; i < cards.size(); ++i) {
        const ContactRecord& c = cards[i];
        ImportRecord r;
        r.line = c.line;
        r.who = who(c);
        for (int f = 0; f < cf::Count; ++f) {
            // The address and the notes keep their lines, each ended as the editor ends them (a
            // card has one line break, so what is exported reads back the same); every other
            // field is one line.
            const bool lines = f == cf::Address || f == cf::Notes;
            r.values << (lines ? QString(c.value(f)).replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(u'\r', u'\n')
                               : oneLine(c.value(f)));
        }
        r.notes = c.problems;
        r.record = texts.value(qsizetype(i));
        r.uid = c.uid;
        records.push_back(std::move(r));
    }
    return records;
}

bool ImportVCard(QWidget* parent)
{
    const QString caption = QStringLiteral("Import vCard");
    const QString path = platform().openFileName(QString(), caption, kVcfFilter);
    QByteArray bytes;
    if (path.isEmpty() || !readWhole(path, bytes, caption))
        return false;
    std::vector<ImportRecord> records = vCardRecords(bytes);
    if (records.empty()) {
        platform().msgBox(QStringLiteral("No contacts were found in %1.").arg(QDir::toNativeSeparators(path)), caption);
        return false;
    }
    frmImport window(parent);
    window.setWindowTitle(caption);
    if (!window.loadRecords(path, records, kVCardSources, kVcfFilter))
        return false;
    return desktop().runModal(window) == QDialog::Accepted;
}

namespace {

// The appointments of the days from … to: a series only when one of its days or one of its rows
// falls on them, a row of a series left out with its series.
std::vector<AppointmentRecord> seriesReaching(std::vector<AppointmentRecord> appts, const QDate& from, const QDate& to)
{
    std::set<int> rowsInRange, kept;
    for (const AppointmentRecord& a : appts)
        if (a.seriesId && a.date >= from && a.date <= to)
            rowsInRange.insert(a.seriesId);
    for (const AppointmentRecord& a : appts)
        if (!a.rrule.isEmpty() &&
            (rowsInRange.count(a.autoid) ||
             !occurrenceDays(a.rrule, a.date, a.time, from, to, a.exdates).empty() ||
             (!ruleReadable(a.rrule) && a.date >= from)))
            kept.insert(a.autoid);
    std::erase_if(appts, [&](const AppointmentRecord& a) {
        if (!a.rrule.isEmpty())
            return !kept.count(a.autoid);
        return a.seriesId && (a.date < from || a.date > to) && !kept.count(a.seriesId);
    });
    return appts;
}

} // namespace

void ExportICalendar(QWidget* parent)
{
    const QString caption = QStringLiteral("Export iCalendar");
    QDate from, to;
    {
        frmICalRange range(parent);
        if (desktop().runModal(range) != QDialog::Accepted)
            return;
        from = range.fromDate();
        to = range.toDate();
    }
    const QString path = platform().saveFileName(QString(), caption, kIcsFilter);
    if (path.isEmpty())
        return;
    std::vector<AppointmentRecord> appts;
    QString identity;
    try {
        appts = seriesReaching(readAppointments(sConnContacts, from, to), from, to);
        identity = databaseIdentity(sConnContacts);
    } catch (const DbError& e) {
        databaseTrouble(e, caption);
        return;
    }
    const QByteArray bytes = writeICalendar(appts, identity, QTimeZone::systemTimeZone(), platform().now().toUTC());
    if (!writeWhole(path, bytes, caption))
        return;
    platform().msgBox(QStringLiteral("%1 appointments from %2 to %3 were written to %4.")
                          .arg(appts.size())
                          .arg(DateText(from), DateText(to), QDir::toNativeSeparators(path)),
                      caption);
}

bool ImportICalendar(QWidget*)
{
    const QString caption = QStringLiteral("Import iCalendar");
    const QString path = platform().openFileName(QString(), caption, kIcsFilter);
    QByteArray bytes;
    if (path.isEmpty() || !readWhole(path, bytes, caption))
        return false;
    const ICalendarImport read = readICalendar(bytes, QTimeZone::systemTimeZone(), platform().today());
    if (read.appointments.empty() && read.cancelledEvents == 0) {
        QString text = QStringLiteral("No appointments were found in %1.").arg(QDir::toNativeSeparators(path));
        if (!read.problems.isEmpty())
            text += QStringLiteral("\r\n\r\n") + problemLines(read.problems).join(QStringLiteral("\r\n"));
        platform().msgBox(text, caption);
        return false;
    }
    ApptStoreResult stored;
    try {
        stored = storeAppointments(sConnContacts, read.appointments, read.cancelled);
    } catch (const DbError& e) {
        databaseTrouble(e, caption);
        return false;
    }
    QStringList notes = read.problems;
    for (const AppointmentRecord& a : read.appointments)
        for (const QString& p : a.problems)
            notes += QStringLiteral("%1 %2 (%3): %4").arg(DateText(a.date), TimeText(a.time), a.brief, p);
    QString text = QStringLiteral("%1 appointments were added and %2 updated.").arg(stored.inserted).arg(stored.updated);
    if (read.cancelledEvents)
        text += QStringLiteral("\r\n%1 cancelled events were not imported; %2 appointments they cancel were marked cancelled.")
                    .arg(read.cancelledEvents)
                    .arg(stored.removed);
    if (read.series)
        text += QStringLiteral("\r\n%1 repeating events came in as series, each kept once with how it repeats.")
                    .arg(read.series);
    if (!notes.isEmpty())
        text += QStringLiteral("\r\n\r\n") + problemLines(notes).join(QStringLiteral("\r\n"));
    platform().msgBox(text, caption);
    return stored.inserted + stored.updated + stored.removed > 0;
}

} // namespace kestrel
