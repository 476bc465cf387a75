#include "exchange/MainLoader.h"

#include "data/Database.h"
#include "data/Globals.h"

namespace kestrel {

ContactKeys storedContactKeys()
{
    ContactKeys keys;
    Connection db(sConnContacts);
    forEachRowBytes(db, QStringLiteral("select firstname,lastname,company,email from contacts"),
                    [&keys](int, const char* const* v, const int* n) {
                        const auto text = [&](int i) { return v[i] ? exactUtf8(v[i], n[i]) : QString(); };
                        const QString name = ContactKeys::nameKey(text(0), text(1), text(2));
                        if (!name.isEmpty())
                            keys.names.insert(name);
                        const QString email = foldForMatch(text(3));
                        if (!email.isEmpty())
                            keys.emails.insert(email);
                    });
    return keys;
}

QString quotedName(const QString& name)
{
    QString inner = name;
    inner.replace(u'"', QStringLiteral("\"\""));
    return u'"' + inner + u'"';
}

} // namespace kestrel
