#include "sync/SyncItems.h"

#include "data/ApptSpan.h"
#include "data/ContactFields.h"
#include "data/ExchangeStore.h"
#include "data/modData.h"
#include "formats/EventResource.h"
#include "formats/Recurrence.h"
#include "formats/VCardPatch.h"
#include "sync/DavXml.h"
#include "sync/SyncEngine.h"

#include <QCryptographicHash>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>
#include <array>
#include <map>

namespace kestrel::sync {

namespace {

QStringList valuesOf(const ContactRecord& r)
{
    QStringList v;
    for (int f = 0; f < cf::Count; ++f)
        v << r.value(f);
    return v;
}

ContactRecord contactOf(const QStringList& values)
{
    ContactRecord r;
    for (int f = 0; f < cf::Count; ++f)
        r.value(f) = values.value(f);
    return r;
}

// What a row of an appointment holds of its own, as data/SyncStore.h reads it from the database.
QStringList ownValues(const AppointmentRecord& a)
{
    QStringList v{a.name, a.address, a.date.isValid() ? a.date.toString(Qt::ISODate) : QString(),
                  a.time.isValid() ? a.time.toString(QStringLiteral("HH:mm:ss")) : QString(), a.brief, a.notes};
    if (a.allDay) {
        v << (a.endDate.isValid() && a.endDate > a.date ? a.endDate.toString(Qt::ISODate) : QString()) << QString();
    } else {
        const ApptEnd end = a.endTime.isValid() ? ApptEnd{a.endDate.isValid() ? a.endDate : a.date, a.endTime}
                                                : defaultEnd(a.date, a.time);
        const QDate last = a.date.isValid() ? endDateColumn(a.date, end) : QDate();
        v << (last.isValid() ? last.toString(Qt::ISODate) : QString())
          << (a.date.isValid() ? end.time.toString(QStringLiteral("HH:mm:ss")) : QString());
    }
    v << (a.allDay ? QStringLiteral("1") : QString()) << (a.cancelled ? QStringLiteral("1") : QString());
    return v;
}

QStringList valuesOf(const AppointmentRecord& a, const std::vector<AppointmentRecord>& days)
{
    QStringList v = ownValues(a);
    std::vector<QDate> out = a.exdates;
    std::vector<QStringList> own;
    if (!a.rrule.isEmpty())
        for (const AppointmentRecord& d : days) {
            own.push_back(QStringList{d.recurrenceDate.toString(Qt::ISODate)} + ownValues(d));
            out.push_back(d.recurrenceDate);
        }
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    v << a.rrule << (a.rrule.isEmpty() ? QString() : exceptColumn(out)) << encodeOverrides(own);
    return v;
}

AppointmentRecord ownOf(const QStringList& v)
{
    AppointmentRecord a;
    a.name = v.value(0);
    a.address = v.value(1);
    a.date = QDate::fromString(v.value(kSyncDate), Qt::ISODate);
    a.time = QTime::fromString(v.value(kSyncTime), QStringLiteral("HH:mm:ss"));
    a.brief = v.value(4);
    a.notes = v.value(5);
    a.allDay = v.value(kSyncAllDay) == QLatin1String("1");
    a.cancelled = v.value(kSyncCancelled) == QLatin1String("1");
    const QDate last = QDate::fromString(v.value(kSyncEndDate), Qt::ISODate);
    a.endDate = last.isValid() ? last : a.date;
    a.endTime = a.allDay ? QTime() : QTime::fromString(v.value(kSyncEndTime), QStringLiteral("HH:mm:ss"));
    return a;
}

// The appointment and the rows of its changed days.
AppointmentRecord appointmentOf(const QStringList& v, std::vector<AppointmentRecord>* days = nullptr)
{
    AppointmentRecord a = ownOf(v);
    a.rrule = v.value(kSyncRule);
    a.exdates = exceptDays(v.value(kSyncExdates));
    if (days)
        for (const QStringList& d : decodeOverrides(v.value(kSyncOverrides))) {
            AppointmentRecord day = ownOf(d.mid(1));
            day.recurrenceDate = QDate::fromString(d.value(0), Qt::ISODate);
            days->push_back(std::move(day));
        }
    return a;
}

} // namespace

Adapter::Parsed Adapter::parse(const QByteArray& data) const
{
    Parsed p;
    if (kind_ == SyncKind::Contacts) {
        const std::vector<ContactRecord> cards = readVCards(data);
        if (cards.size() != 1) {
            p.why = QStringLiteral("holds %1 cards").arg(cards.size());
            return p;
        }
        p.usable = true;
        p.uid = cards.front().uid;
        p.values = valuesOf(cards.front());
        return p;
    }
    const EventResource e = readEventResource(data, zone_);
    p.usable = e.usable;
    p.why = e.why;
    p.uid = e.appt.uid;
    if (e.usable)
        p.values = valuesOf(e.appt, e.days);
    return p;
}

QByteArray Adapter::create(const QStringList& values, const QString& uid, const QDateTime& now) const
{
    if (kind_ == SyncKind::Contacts) {
        ContactRecord r = contactOf(values);
        r.uid = uid;
        return writeVCards({r}, vcard3_ ? VCardVersion::V3 : VCardVersion::V4);
    }
    std::vector<AppointmentRecord> days;
    AppointmentRecord a = appointmentOf(values, &days);
    a.uid = uid;
    return writeEventResource(a, days, zone_, now);
}

QByteArray Adapter::patch(const QByteArray& data, const QStringList& values, const QList<int>& fields, const QDateTime& now) const
{
    const QStringList columns = syncColumns(kind_);
    QSet<QByteArray> names;
    for (int i : fields)
        names.insert(columns[i].toUtf8());
    if (kind_ == SyncKind::Contacts)
        return patchVCard(data, contactOf(values), names);
    std::vector<AppointmentRecord> days;
    AppointmentRecord a = appointmentOf(values, &days);
    return patchEventResource(data, a, days, names, zone_, now);
}

QStringList Adapter::readsBack(const QStringList& values) const
{
    if (kind_ == SyncKind::Contacts)
        return valuesOf(asCardReadsBack(contactOf(values)));
    std::vector<AppointmentRecord> days;
    AppointmentRecord a = appointmentOf(values, &days);
    a.uid = QStringLiteral("probe");
    const EventResource back = readEventResource(writeEventResource(a, days, zone_, QDateTime::currentDateTimeUtc()), zone_);
    return back.usable ? valuesOf(back.appt, back.days) : values;
}

QStringList Adapter::forInsert(QStringList values) const
{
    if (kind_ == SyncKind::Contacts) {
        const int type = syncColumns(kind_).indexOf(QStringLiteral("contype"));
        if (type >= 0 && values.value(type).isEmpty())
            values[type] = QStringLiteral("Contact");
    }
    return values;
}

QString Adapter::who(const QStringList& values) const
{
    if (kind_ == SyncKind::Contacts) {
        const ContactRecord r = contactOf(values);
        const QString name = (r.firstname + u' ' + r.lastname).trimmed();
        return name.isEmpty() ? r.company : name;
    }
    const AppointmentRecord a = appointmentOf(values);
    return (a.date.isValid() ? DateText(a.date) + u' ' : QString()) + a.brief;
}

QByteArray Adapter::contentType() const
{
    return kind_ == SyncKind::Contacts ? QByteArray("text/vcard; charset=utf-8") : QByteArray("text/calendar; charset=utf-8");
}

Merged mergeFields(const QStringList& base, const QStringList& here, const QStringList& thereBefore,
                   const QStringList& there, const QStringList& hereNormal)
{
    Merged m;
    m.values = here;
    const bool known = !base.isEmpty() && !thereBefore.isEmpty();
    for (int i = 0; i < here.size(); ++i) {
        const QString& h = here[i];
        const QString& t = there.value(i);
        const bool same = hereNormal.value(i) == t;
        if (!known) {
            // Two items met without a common past (the same uid on both sides): what one side
            // lacks it takes from the other; two different values are the user's to choose.
            if (same)
                continue;
            if (h.isEmpty()) {
                m.values[i] = t;
                m.takenThere << i;
            } else if (t.isEmpty()) {
                m.sendHere << i;
            } else {
                m.conflicts << i;
            }
            continue;
        }
        const bool changedHere = h != base.value(i);
        const bool changedThere = t != thereBefore.value(i);
        if (changedHere && changedThere) {
            if (!same)
                m.conflicts << i;
        } else if (changedHere) {
            if (!same)
                m.sendHere << i;
        } else if (changedThere) {
            m.values[i] = t;
            m.takenThere << i;
        }
    }
    return m;
}

MergedDays mergeDays(bool known, const QString& base, const QString& here, const QString& thereBefore,
                     const QString& there, const QString& hereNormal)
{
    enum { Base, Here, Before, There, Normal };
    const QString* sides[] = {&base, &here, &thereBefore, &there, &hereNormal};
    std::map<QString, std::array<QString, 5>> byDay;
    for (int s = 0; s < 5; ++s)
        for (const QStringList& d : decodeOverrides(*sides[s]))
            byDay[d.value(0)][size_t(s)] = encodeOverrides({d});
    MergedDays out;
    QStringList lists[5];
    for (const auto& [day, values] : byDay) {
        out.days << day;
        for (int s = 0; s < 5; ++s)
            lists[s] << values[size_t(s)];
    }
    out.there = lists[There];
    out.merged = mergeFields(known ? lists[Base] : QStringList(), lists[Here], known ? lists[Before] : QStringList(),
                             lists[There], lists[Normal]);
    return out;
}

QString mergeDaySets(bool known, const QString& base, const QString& here, const QString& there)
{
    const std::vector<QDate> was = known ? exceptDays(base) : std::vector<QDate>{};
    const std::vector<QDate> h = exceptDays(here), t = exceptDays(there);
    const auto has = [](const std::vector<QDate>& days, const QDate& d) { return std::find(days.begin(), days.end(), d) != days.end(); };
    std::vector<QDate> out;
    for (const std::vector<QDate>* side : {&h, &t})
        for (const QDate& d : *side)
            // Kept when both still have it, or when it is new on the side that has it.
            if (!has(out, d) && ((has(h, d) && has(t, d)) || !has(was, d)))
                out.push_back(d);
    std::sort(out.begin(), out.end());
    return exceptColumn(out);
}

QString joinDays(const QStringList& days)
{
    std::vector<QStringList> all;
    for (const QString& d : days)
        for (QStringList& one : decodeOverrides(d))
            all.push_back(std::move(one));
    return encodeOverrides(all);
}

QString dayField(const QString& isoDay) { return QStringLiteral("overrides/") + isoDay; }

QString seriesDayWords(const QStringList& series, const QString& isoDay)
{
    const QDate day = QDate::fromString(isoDay, Qt::ISODate);
    const QString shown = DateText(day);
    const std::vector<QDate> out = exceptDays(series.value(kSyncExdates));
    if (std::find(out.begin(), out.end(), day) != out.end())
        return QStringLiteral("%1: deleted").arg(shown);
    const QDate start = QDate::fromString(series.value(kSyncDate), Qt::ISODate);
    const QTime time = QTime::fromString(series.value(kSyncTime), QStringLiteral("HH:mm:ss"));
    if (occurrenceDays(series.value(kSyncRule), start, time, day, day).empty())
        return QStringLiteral("%1: not one of its days").arg(shown);
    return QStringLiteral("%1: %1 %2 (as the series)").arg(shown, series.value(4));
}

QString newItemHref(const QUrl& collection, const QString& uid, SyncKind kind)
{
    static const QRegularExpression safe(QStringLiteral("^[A-Za-z0-9._-]{1,120}$"));
    const QString name = safe.match(uid).hasMatch() && !uid.startsWith(u'.')
                             ? uid
                             : QString::fromLatin1(QCryptographicHash::hash(uid.toUtf8(), QCryptographicHash::Sha1).toHex());
    QString path = collection.path(QUrl::FullyEncoded);
    if (!path.endsWith(u'/'))
        path += u'/';
    return dav::normalHref(path + name + (kind == SyncKind::Contacts ? QStringLiteral(".vcf") : QStringLiteral(".ics")),
                           collection);
}

} // namespace kestrel::sync
