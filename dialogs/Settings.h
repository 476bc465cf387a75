#pragma once

namespace kestrel {
// True exactly when the stored "Greet" setting is "T".
bool GreetingEnabled();
// Stores the greeting setting as "T" or "F".
void SetGreetingEnabled(bool on);
// Shows the greeting window modally.
void ShowGreeting();
} // namespace kestrel
