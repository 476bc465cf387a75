#pragma once
// What a number is by the label or type its card gives it, a work number's extension, and the
// texts that stand for values kept in other languages: the labels of the vCard reader.
#include "formats/VCardLine.h"

#include <QString>

#include <optional>

namespace kestrel::vcard {

enum class PhoneKind { Untyped, Main, Cell, Home, Work, Fax, Pager };

// The label an address book shows beside a number (item2.X-ABLabel:Office, or its own
// _$!<Mobile>!$_ form); a label it does not know leaves the number untyped. nullopt for no label.
std::optional<PhoneKind> labelKind(QString label);
// By the line's TYPE parameters (2.1's bare ones too).
PhoneKind typeKind(const Property& p);
// A work number and its extension: "tel:+1-418-656-9254;ext=102" or "555-1234 x12". Only an
// extension of digits is taken apart, so that whatever is written back reads the same.
void splitPhone(const QString& value, QString& number, QString& ext);
// A tel: URI's number; the scheme written twice over ("tel:tel:…") is still one number.
QString withoutTelScheme(QString value);

// A value in other languages or scripts, for the notes: "Taro Yamada" of N:Yamada;Taro;;;.
QString alternativeText(const Property& p);
// What the notes call such a value: "Name", "Company", "Address"...
QString alternativeWhat(const QByteArray& name);

} // namespace kestrel::vcard
