#pragma once
// The sample vCard and iCalendar files beside these tests, and the appointments they write out.
#include "formats/ICalendar.h"
#include "tests/support/PrintQString.h"
#include "tests/support/Files.h"

#include <QByteArray>
#include <QFile>
#include <QTimeZone>

#include <gtest/gtest.h>

// The two daylight-saving zones the calendar files are read and written in.
inline const QTimeZone kNewYork(QByteArrayLiteral("America/New_York"));
inline const QTimeZone kBerlin(QByteArrayLiteral("Europe/Berlin"));

inline QByteArray sample(const char* name)
{
    QFile f(QStringLiteral(SAMPLES_DIR "/") + QString::fromUtf8(name));
    EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << name;
    return f.readAll();
}

// An appointment of Ann Lee's as the exports take it.
inline kestrel::AppointmentRecord appt(const char* brief, QDate d, QTime t, QDate endDate = {}, QTime endTime = {}, int id = 0)
{
    kestrel::AppointmentRecord a;
    a.autoid = id;
    a.brief = QString::fromUtf8(brief);
    a.name = QStringLiteral("Ann Lee");
    a.date = d;
    a.time = t;
    a.endDate = endDate;
    a.endTime = endTime;
    return a;
}

// A calendar file of events as other programs write them, and one event of it: its key (also its
// summary), Ann Lee as organizer, and its further lines (DTSTART and the rest).
inline QByteArray calendarFile(const QByteArray& events)
{
    return "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Test//EN\r\n" + events + "END:VCALENDAR\r\n";
}
inline QByteArray vevent(const QByteArray& uid, const QByteArray& lines)
{
    return "BEGIN:VEVENT\r\nUID:" + uid + "\r\nDTSTAMP:20261201T000000Z\r\nSUMMARY:" + uid +
           "\r\nORGANIZER;CN=Ann Lee:mailto:ann@example.com\r\n" + lines + "END:VEVENT\r\n";
}
