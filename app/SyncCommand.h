#pragma once

namespace kestrel {
// kestrel --sync: one sync with the server chosen in File > Options > Sync server (or named by
// KESTREL_SYNC_URL and KESTREL_SYNC_USER), without a window, for scripts and timers. Says what it
// did on standard output, or why not on standard error. Returns the exit status: 0 when both
// sides agree, 1 when the sync could not finish or a change waits for the user's answer, 2 when
// there is nothing to sync with.
int syncCommand(int argc, char* argv[]);
} // namespace kestrel
