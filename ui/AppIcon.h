#pragma once
// Kestrel's own icon, for the window frames and anything else that shows the program.
// The drawing is the resource ":/icons/kestrel.svg" (shown where Qt's SVG image plugin is
// installed); ":/icons/kestrel-SIZE.png" holds it rendered at 16, 22, 24, 32, 48, 64, 128 and 256.
#include <QIcon>

namespace kestrel {
QIcon kestrelIcon();
} // namespace kestrel
