#pragma once
// No text box of the program takes the NUL character, whichever way it comes (a paste, a drop, an
// input method): no statement may hold one, and a save that failed on it would cost the user the
// text around it. The character is left out where it arrives, with a beep; the rest stays.

namespace kestrel {

// Watches the whole application: every one-line box (without a validator of its own) and every
// editable multi-line box is taken on when it is first shown. Call once, after the application
// object is made.
void installNulGuard();

} // namespace kestrel
