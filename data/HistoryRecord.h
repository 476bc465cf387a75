#pragma once
// Past appointments become history. An appointment of a contact (by its contact id, or for one
// typed as a name, the one contact of that name) that is past becomes a Meeting entry with its
// date, time, brief description, place and notes, its outcome "Held" unless the user marked it
// otherwise; only appointments the history holds may be purged, so nothing written in one is lost
// to the purge. The step is a plain routine so that whoever purges runs it first.
#include <QDate>
#include <QDateTime>
#include <QString>

namespace kestrel {

class Connection;

struct RecordedAppointments {
    int matched = 0; // appointments typed as a name that were given their contact
    int written = 0; // entries written or brought up to date
};

// Every appointment dated before `before` (on the office server: before the server's date) that
// the history does not hold yet (never written, or changed since) is written into it, in one
// transaction; one that belongs to no contact stays as it is. On the office server one copy at a
// time does it. Throws DbError.
RecordedAppointments recordPastAppointments(const QString& connectionText, const QDate& before, const QString& author,
                                            const QDateTime& now);

// Writes the one appointment autoid into the history now, as recordPastAppointments would once it
// is past (a day of a series marked held is that day's meeting at once). Returns the entries
// written (0: it belongs to no contact, or is gone). Throws DbError.
int recordAppointment(const QString& connectionText, qint64 autoid, const QString& author, const QDateTime& now);

// The contact an appointment's name and place stand for: the one contact whose "First Last" is
// the name, or where several are, the one of them at that address; 0 for none or several.
// Throws DbError.
int contactForAppointment(Connection& connection, const QString& name, const QString& address);

// Marks an appointment held or not held, and its history entry where it has one already, in one
// transaction. False when the appointment is no longer stored. Throws DbError.
bool markAppointment(const QString& connectionText, int autoid, bool held, const QDateTime& now);

// The history's note for an appointment: its place, then its notes.
QString AppointmentNote(const QString& where, const QString& notes);

} // namespace kestrel
