// The iCalendar reader: any bytes end in appointments the editor can show (a day of the calendar,
// a half hour, texts that fit their boxes and hold whole characters), never a crash or a hang.
// The first byte chooses the user's zone, so daylight-saving days are met too. What it read,
// written out by Kestrel's own export in UTC and read again, is the same appointments.
#include "formats/ICalendar.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

using namespace kestrel;

namespace {

// Printable ASCII as it is, everything else as \u{code}: two texts that differ show where.
QByteArray shown(const QString& s)
{
    QByteArray out;
    for (const QChar c : s)
        out += c.unicode() >= 0x20 && c.unicode() < 0x7f ? QByteArray(1, char(c.unicode()))
                                                         : "\\u{" + QByteArray::number(c.unicode(), 16) + '}';
    return out;
}

void report(const char* what, const AppointmentRecord& a)
{
    std::fprintf(stderr, "%s: %s %s \"%s\" at \"%s\" with \"%s\"\n", what, a.date.toString(Qt::ISODate).toUtf8().constData(),
                 a.time.toString(QStringLiteral("HH:mm:ss.zzz")).toUtf8().constData(), shown(a.brief).constData(),
                 shown(a.address).constData(), shown(a.name).constData());
}

[[noreturn]] void fail(const char* what, const AppointmentRecord& a)
{
    report(what, a);
    std::abort();
}

bool wholeCharacters(const QString& s)
{
    for (qsizetype i = 0; i < s.size(); ++i) {
        if (s[i].isHighSurrogate() && (i + 1 == s.size() || !s[i + 1].isLowSurrogate()))
            return false;
        if (s[i].isLowSurrogate() && (i == 0 || !s[i - 1].isHighSurrogate()))
            return false;
    }
    return true;
}

void check(const AppointmentRecord& a)
{
    if (!a.date.isValid() || !a.time.isValid())
        fail("no day or time", a);
    if (a.time.second() != 0 || a.time.msec() != 0 || a.time.minute() % 30 != 0)
        fail("not on the half hour", a);
    if (a.brief.size() > kBriefSize || a.address.size() > kWhereSize || a.name.size() > kNameSize)
        fail("a text longer than its box", a);
    for (const QString* s : {&a.brief, &a.address, &a.name, &a.notes})
        if (!wholeCharacters(*s))
            fail("half a character", a);
}

// What an iCalendar text can carry: no control characters but the tab and the line break (the
// reader keeps some of the others and drops some), and no blanks around it that a reader keeps.
QString carried(QString s)
{
    s.removeIf([](QChar c) { return (c.unicode() < 0x20 && c != u'\t' && c != u'\n') || c.unicode() == 0x7f; });
    return s.trimmed();
}

const QTimeZone& zoneFor(uint8_t choice)
{
    static const QTimeZone zones[] = {QTimeZone::utc(), QTimeZone(QByteArrayLiteral("America/New_York")),
                                      QTimeZone(QByteArrayLiteral("Europe/Berlin")),
                                      QTimeZone(QByteArrayLiteral("Australia/Lord_Howe"))};
    return zones[choice % 4];
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const QTimeZone& zone = zoneFor(data[0]);
    const QByteArray bytes(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));
    const QDate today(2026, 12, 4);
    const ICalendarImport read = readICalendar(bytes, zone, today);
    // A repeating event is kept as one series, never spread into its days.
    if (int(read.appointments.size()) > read.events || read.series > read.recurring) {
        std::fprintf(stderr, "%zu appointments of %d events, %d series of %d repeating\n", read.appointments.size(),
                     read.events, read.series, read.recurring);
        std::abort();
    }
    std::vector<AppointmentRecord> appts;
    for (const AppointmentRecord& a : read.appointments) {
        check(a);
        // Days outside the years Kestrel keeps are a question for the import's summary, not the export.
        if (a.date.year() < 1900 || a.date.year() > 2200)
            continue;
        appts.push_back(a);
        // One event each in the export, known by its own key rather than the uid it came with.
        appts.back().autoid = int(appts.size());
        appts.back().uid.clear();
    }
    // In a zone without daylight saving no wall-clock time is missing or doubled: every appointment
    // comes back as it went out. (The zone database's UTC: Qt's built-in one has no offsets to give.)
    const QTimeZone utc(QByteArrayLiteral("Etc/UTC"));
    const QByteArray out = writeICalendar(appts, QStringLiteral("fuzz"), utc, QDateTime(today, QTime(9, 0), Qt::UTC));
    const ICalendarImport again = readICalendar(out, utc, today);
    if (again.appointments.size() != appts.size()) {
        std::fprintf(stderr, "%zu appointments exported, %zu read back\n", appts.size(), again.appointments.size());
        std::abort();
    }
    for (const AppointmentRecord& b : again.appointments) {
        const int i = b.uid.section(u'-', 2, 2).toInt() - 1;
        if (i < 0 || size_t(i) >= appts.size())
            fail("an event Kestrel did not write", b);
        const AppointmentRecord& a = appts[size_t(i)];
        if (a.date != b.date || a.time != b.time || carried(a.brief) != carried(b.brief) ||
            carried(a.address) != carried(b.address) || carried(a.name) != carried(b.name)) {
            std::fprintf(stderr, "exported appointment %d changed on the way back:\n", i + 1);
            report("  out", a);
            fail("  back", b);
        }
    }
    return 0;
}
