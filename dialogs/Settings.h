#pragma once

namespace kestrel {
// True exactly when the stored "Greet" setting is "T".
bool GreetingEnabled();
// Shows the greeting window modally.
void ShowGreeting();
} // namespace kestrel
