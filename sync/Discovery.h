#pragma once
// Finding a user's address books and calendars from the server's address alone: the well-known
// addresses (RFC 6764), the current user's principal and its home sets; and making new ones.
#include "sync/SyncEngine.h"

#include <QUrl>

#include <vector>

namespace kestrel::dav {
class Client;
}

namespace kestrel::sync {

struct Found {
    QUrl url;
    QString name;       // the collection's display name, else the last part of its path
    SyncKind kind = SyncKind::Contacts;
    bool vcard3 = false;
};

struct Discovery {
    Outcome outcome = Outcome::Synced; // Synced: the server answered as a CardDAV or CalDAV server
    QString detail;
    QUrl addressBookHome, calendarHome;
    std::vector<Found> addressBooks, calendars;
};

Discovery discover(dav::Client& client, const QUrl& base);

struct Made {
    Outcome outcome = Outcome::Synced;
    QString detail;
    Found found;
};
// Makes an address book (extended MKCOL, RFC 5689) or a calendar (MKCALENDAR) called name in home.
Made makeCollection(dav::Client& client, const QUrl& home, SyncKind kind, const QString& name);

} // namespace kestrel::sync
