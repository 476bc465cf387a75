// Find with arbitrary search texts, against a contact that holds the same text in its name and
// its phone: the search never fails, finds nothing for a text of blanks, and otherwise finds
// that contact, since whatever part of a stored text a person types must find it.
#include "data/Database.h"
#include "data/SearchIndex.h"
#include "fuzz/FuzzSupport.h"

#include <cstdint>

using namespace kestrel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool ready = [] {
        fuzz::setUpProgramFolder();
        return true;
    }();
    (void)ready;
    QString typed = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    typed.remove(QChar(u'\0')); // refused by the data layer before any statement runs
    const QString stored = LeftChars(typed, 50);
    try {
        {
            Connection c(sConnContacts);
            c.execute(QStringLiteral("delete from contacts"));
            c.execute(QStringLiteral("INSERT into contacts(lastname,workph,contype)values('") + Quoted(stored) +
                      QStringLiteral("','") + Quoted(stored) + QStringLiteral("','Lead')"));
        }
        const FoundContacts found = findContacts(sConnContacts, stored, 10);
        const bool expected = !searchNeedles(stored).isEmpty();
        if (expected != (found.rows.size() == 1)) {
            std::fprintf(stderr, "searching \"%s\" found %d contacts\n", stored.toUtf8().constData(), int(found.rows.size()));
            std::abort();
        }
    } catch (const DbError& e) {
        std::fprintf(stderr, "search failed: %s\n", e.what());
        std::abort();
    }
    return 0;
}
