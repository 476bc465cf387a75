#include "ui/AppIcon.h"

namespace kestrel {

QIcon kestrelIcon()
{
    // Built from the rendered sizes: Debian's Qt reads SVG only with an extra plugin.
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/icons/kestrel-%1.png").arg(size), QSize(size, size));
    return icon;
}

} // namespace kestrel
