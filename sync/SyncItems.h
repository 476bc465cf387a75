#pragma once
// The items of a collection as the sync sees them: how the values of a contact or an appointment
// become a vCard or an iCalendar event and are read back from one.
#include "data/SyncStore.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTimeZone>

namespace kestrel::sync {

// What a kind's items are on the server, and how values go to and from them.
class Adapter {
public:
    Adapter(SyncKind kind, bool vcard3, const QTimeZone& zone) : kind_(kind), vcard3_(vcard3), zone_(zone) {}

    struct Parsed {
        bool usable = false;
        QString uid, why;
        QStringList values;
    };
    Parsed parse(const QByteArray& data) const;
    QByteArray create(const QStringList& values, const QString& uid, const QDateTime& now) const;
    // The item's text with the fields given written anew and the rest as the server had it.
    QByteArray patch(const QByteArray& data, const QStringList& values, const QList<int>& fields, const QDateTime& now) const;
    // The values as the server's copy of them reads back.
    QStringList readsBack(const QStringList& values) const;
    // A row made from the server's item: a contact without a type is an ordinary contact.
    QStringList forInsert(QStringList values) const;
    // The contact or appointment as the user knows it.
    QString who(const QStringList& values) const;
    QByteArray contentType() const;

private:
    SyncKind kind_;
    bool vcard3_;
    QTimeZone zone_;
};

} // namespace kestrel::sync
