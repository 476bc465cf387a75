#include "data/Office.h"

namespace kestrel {

bool isServerConnection(const QString& connectionText)
{
    return connectionText.startsWith(kServerProvider, Qt::CaseInsensitive);
}

QString serverConnectionText(const QString& conninfo) { return kServerProvider + conninfo.trimmed(); }

QString serverConninfo(const QString& connectionText)
{
    return isServerConnection(connectionText) ? connectionText.mid(kServerProvider.size()).trimmed() : QString();
}

} // namespace kestrel
