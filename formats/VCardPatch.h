#pragma once
// Changing a card that a sync server (and the phone behind it) holds without losing what Kestrel
// has no place for: only the lines of the fields Kestrel changed are written anew.
#include "formats/VCard.h"

#include <QSet>

namespace kestrel {

// The version a card says it is: V4 for 4.0, V3 for anything older.
VCardVersion vCardVersionOf(const QByteArray& card);

// card (one vCard) with the lines that gave fields (columns of contactFields()) replaced by lines
// written from values in the card's own version; the formatted name follows a changed name. Every
// other line (a photo, a second mobile number, the server's UID, categories of the phone's own)
// stays as it was. A card that cannot be read is written anew from values.
QByteArray patchVCard(const QByteArray& card, const ContactRecord& values, const QSet<QByteArray>& fields);

// The values as a card written for them reads back: what a field holds once it has been through
// a vCard (a carriage return becomes a line break, say).
ContactRecord asCardReadsBack(const ContactRecord& values);

} // namespace kestrel
