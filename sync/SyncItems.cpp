#include "sync/SyncItems.h"

#include "data/ContactFields.h"
#include "data/ExchangeStore.h"
#include "data/modData.h"
#include "formats/EventResource.h"
#include "formats/VCardPatch.h"
#include "sync/DavXml.h"
#include "sync/SyncEngine.h"

#include <QCryptographicHash>
#include <QRegularExpression>
#include <QSet>

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

QStringList valuesOf(const AppointmentRecord& a)
{
    return {a.name, a.address, a.date.isValid() ? a.date.toString(Qt::ISODate) : QString(),
            a.time.isValid() ? a.time.toString(QStringLiteral("HH:mm:ss")) : QString(), a.brief, a.notes};
}

AppointmentRecord appointmentOf(const QStringList& v)
{
    AppointmentRecord a;
    a.name = v.value(0);
    a.address = v.value(1);
    a.date = QDate::fromString(v.value(2), Qt::ISODate);
    a.time = QTime::fromString(v.value(3), QStringLiteral("HH:mm:ss"));
    a.brief = v.value(4);
    a.notes = v.value(5);
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
        p.values = valuesOf(e.appt);
    return p;
}

QByteArray Adapter::create(const QStringList& values, const QString& uid, const QDateTime& now) const
{
    if (kind_ == SyncKind::Contacts) {
        ContactRecord r = contactOf(values);
        r.uid = uid;
        return writeVCards({r}, vcard3_ ? VCardVersion::V3 : VCardVersion::V4);
    }
    AppointmentRecord a = appointmentOf(values);
    a.uid = uid;
    return writeEventResource(a, zone_, now);
}

QByteArray Adapter::patch(const QByteArray& data, const QStringList& values, const QList<int>& fields, const QDateTime& now) const
{
    const QStringList columns = syncColumns(kind_);
    QSet<QByteArray> names;
    for (int i : fields)
        names.insert(columns[i].toUtf8());
    if (kind_ == SyncKind::Contacts)
        return patchVCard(data, contactOf(values), names);
    return patchEventResource(data, appointmentOf(values), names, zone_, now);
}

QStringList Adapter::readsBack(const QStringList& values) const
{
    if (kind_ == SyncKind::Contacts)
        return valuesOf(asCardReadsBack(contactOf(values)));
    return valuesOf(asEventReadsBack(appointmentOf(values), zone_));
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
