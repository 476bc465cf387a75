#pragma once
// Checks that make read contacts fit the contacts table before they are stored: values longer
// than the editor accepts are made to fit where nothing is lost, else left out and named; and
// contacts already present are recognised.
#include "data/ExchangeStore.h"

#include <vector>

namespace kestrel {

// Makes r fit the column sizes; each change or value left out is added to r.problems.
void fitContact(ContactRecord& r);

// Same first name, last name and company, or same e-mail address, with case and accents ignored.
QString nameKey(const ContactRecord& r);
QString emailKey(const ContactRecord& r);

// Removes from records those already in existing or earlier in records; returns the removed ones
// (each with the reason among its problems), in file order.
std::vector<ContactRecord> removeDuplicates(std::vector<ContactRecord>& records,
                                            const std::vector<ContactRecord>& existing);

} // namespace kestrel
