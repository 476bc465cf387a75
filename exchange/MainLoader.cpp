#include "exchange/MainLoader.h"

#include "data/Database.h"
#include "data/Globals.h"

namespace kestrel {

QString quotedName(const QString& name)
{
    QString inner = name;
    inner.replace(u'"', QStringLiteral("\"\""));
    return u'"' + inner + u'"';
}

} // namespace kestrel
