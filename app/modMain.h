#pragma once

namespace kestrel {
// The program's start-up: connection texts, main window, greeting, help path, event loop.
int Main(int argc, char* argv[]);
} // namespace kestrel
