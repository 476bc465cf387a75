#pragma once
// Records that the vCard and iCalendar readers and writers exchange with the contacts database,
// and the few reads and writes they need: whole tables out, many rows in under one transaction,
// and the table that remembers which calendar event became which appointment.
#include <QDate>
#include <QString>
#include <QStringList>
#include <QTime>

#include <vector>

namespace kestrel {

// One row of contacts, as the readers produce it and the writers take it.
struct ContactRecord {
    QString lastname, firstname, company, address, city, st, zip, homeph, cellph, workph, ext, email, contype;
    QString country, jobtitle, website, notes;
    QString birthday;       // as stored: 1980-03-07, or --03-07 without a year
    // The field at a position of contactFields() (data/ContactFields.h).
    QString& value(int field);
    const QString& value(int field) const;
    QString uid;            // the contact's lasting key (vCard UID); empty when not known
    int id = 0;             // key when read from the database
    int line = 0;           // line of the file where the record starts (readers)
    QStringList problems;   // what could not be taken over as it stood, in plain words
    bool operator==(const ContactRecord& o) const;
};

// One row of appointments.
struct AppointmentRecord {
    QString name, address, brief, notes;
    QDate date;
    QTime time;
    // The last day (the first when null) and the clock time it ends; an invalid time means the
    // usual 30 minutes (data/ApptSpan.h).
    QDate endDate;
    QTime endTime;
    bool allDay = false;    // whole days from date to endDate; no clock times
    bool cancelled = false;
    // A series: how it repeats (an RRULE value read in clock time, formats/Recurrence.h) and the
    // days left out of it. Empty for a single appointment.
    QString rrule;
    std::vector<QDate> exdates;
    // A row that stands for one day of a series (moved, changed or cancelled there): the day of the
    // series it replaces, and the series, by its row (seriesId) or by its event's key (seriesUid,
    // as the import gives it).
    QDate recurrenceDate;
    int seriesId = 0;
    QString seriesUid;
    int autoid = 0;
    QString uid;            // the key of the calendar event (import) or empty
    int line = 0;
    QStringList problems;
};

// Every contact, ordered by last and first name. Throws DbError.
std::vector<ContactRecord> readAllContacts(const QString& connectionText);
// Appointments whose date lies in [from, to], ordered by date and time; a series when one of its
// days does, with every row that replaces one of its days. Throws DbError.
std::vector<AppointmentRecord> readAppointments(const QString& connectionText, const QDate& from, const QDate& to);

// Inserts the contacts in one transaction: all of them or none. Throws DbError.
void insertContacts(const QString& connectionText, const std::vector<ContactRecord>& contacts);

// Identity of this contacts database, made once and kept in it; calendar exports derive their
// event keys from it so that two databases never hand out the same key.
QString databaseIdentity(const QString& connectionText);
// The calendar key of appointment autoid of the database with this identity.
QString appointmentUid(const QString& identity, int autoid);
// The card key of contact id of the database with this identity: a name-based UUID of the two,
// the same on every export, and never the same for two contacts or two databases.
QString contactUid(const QString& identity, int id);

struct ApptStoreResult {
    int inserted = 0;
    int updated = 0;
    int removed = 0; // appointments that cancelled events marked cancelled
};
// Stores imported appointments in one transaction. An appointment whose uid was stored before
// (and whose row still exists) is updated in place; the others are inserted and their uid
// remembered. A series keeps its rule and the days left out; a row that replaces one of its days
// (seriesUid and recurrenceDate) becomes that day's row of the series, the day left out of the
// series' own, or a single appointment when no such series is stored. In the same transaction, the appointments stored from the cancelled events (an
// event's uid: the event and every occurrence of it; an occurrence's key: that one), or exported
// from this database under that uid, are marked cancelled: kept in view, never alerted, and
// taken back should the event come again. Throws DbError.
ApptStoreResult storeAppointments(const QString& connectionText, const std::vector<AppointmentRecord>& appts,
                                  const QStringList& cancelled = {});

} // namespace kestrel
