#pragma once

namespace kestrel {
// True exactly when the stored "Greet" setting is "T".
bool GreetingEnabled();
// Stores the greeting setting as "T" or "F".
void SetGreetingEnabled(bool on);
// How many days deleted items stay in the trash (the "TrashDays" setting; 30 unless set).
int TrashDays();
void SaveTrashDays(int days);
// Shows the greeting window modally.
void ShowGreeting();
} // namespace kestrel
