#pragma once
// vCard files (versions 2.1, 3.0 and 4.0) read into contact records and written from them.
#include "data/ExchangeStore.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>

#include <vector>

namespace kestrel {

// Every card of the file, in file order. Whatever a card holds that has no place in a contact
// (a second mobile number, a fax, further e-mail addresses) is named in its problems.
// cardTexts, when given, receives each card's own lines from BEGIN to END as the file holds them
// (in UTF-8 when the file was UTF-16), so that a card can be written out again unchanged.
// origins, when given, receives for each card which of its lines gave each value (see CardOrigins).
struct CardLine {
    qsizetype start = 0, end = 0; // bytes of the card's text, from its BEGIN; the line break not included
    // Further lines whose values were joined into the same field (a card's second NOTE).
    QList<CardLine> more;
};
// By field: a column of contactFields(), or "fn" (the formatted name) and "uid".
using CardOrigins = QHash<QByteArray, CardLine>;
std::vector<ContactRecord> readVCards(const QByteArray& bytes, QList<QByteArray>* cardTexts = nullptr,
                                      std::vector<CardOrigins>* origins = nullptr);

enum class VCardVersion { V3, V4 };
// The contacts as one UTF-8 file: CRLF line ends, lines folded at 75 octets; a contact's uid,
// when it has one, as the card's UID, and revised, when given, as every card's REV.
QByteArray writeVCards(const std::vector<ContactRecord>& contacts, VCardVersion version = VCardVersion::V4,
                       const QDateTime& revised = QDateTime());

} // namespace kestrel
